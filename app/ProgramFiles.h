#pragma once

#include <QString>

// The files whose names follow the program file, so that a copy of the program
// under another name keeps its own settings, help and output names.
struct TProgramFiles
{
    QString SettingsName; // application part of the settings key: the program file's base name
    QString HelpFile;     // program path with ".chm"
    QString
        WordTemplate; // program folder + "Protokollvorlage.docx", else ../share/quellorix/ where it is there
    QString SaveFileName; // name the save dialog proposes: program path with ".txt"
    QString WebPage;      // the web page "Als Webseite" writes into the current folder: base name + ".html"
    QString Folder;       // program folder, where both file dialogs start
};

TProgramFiles ProgramFilesOf(const QString& programFilePath);
