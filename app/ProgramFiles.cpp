#include "ProgramFiles.h"

#include <QDir>
#include <QFileInfo>

#include "TSettings.h"

TProgramFiles ProgramFilesOf(const QString& programFilePath)
{
    const QFileInfo program(programFilePath);
    const QDir folder = program.absoluteDir();
    const QString base = program.completeBaseName();
    TProgramFiles files;
    files.SettingsName = SettingsApplicationName(programFilePath);
    files.HelpFile = folder.absoluteFilePath(base + QStringLiteral(".chm"));
    files.WordTemplate = folder.absoluteFilePath(QStringLiteral("Protokollvorlage.docx"));
    files.SaveFileName = folder.absoluteFilePath(base + QStringLiteral(".txt"));
    files.WebPage = base + QStringLiteral(".html");
    files.Folder = folder.absolutePath();
    return files;
}
