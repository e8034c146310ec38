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
    // Beside the program (a build, Windows), else where the package puts it: <prefix>/share/quellorix.
    const QString templateName = QStringLiteral("Protokollvorlage.docx");
    files.WordTemplate = folder.absoluteFilePath(templateName);
    const QString shared =
        QDir::cleanPath(folder.absoluteFilePath(QStringLiteral("../share/quellorix/") + templateName));
    if (!QFileInfo::exists(files.WordTemplate) && QFileInfo::exists(shared))
        files.WordTemplate = shared;
    files.SaveFileName = folder.absoluteFilePath(base + QStringLiteral(".txt"));
    files.WebPage = base + QStringLiteral(".html");
    files.Folder = folder.absolutePath();
    return files;
}
