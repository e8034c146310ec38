#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

// The descriptions of the file types the file dialogs offer. The defaults are
// those of a system without a file-type registry.
struct TFileTypeDescriptions
{
    QString Text = QStringLiteral("Textdatei");
    QString WebPage = QStringLiteral("Webseite");
    QString Word = QStringLiteral("MS Word");
    QString Excel;
    QString Csv;

    friend bool operator==(const TFileTypeDescriptions&, const TFileTypeDescriptions&) = default;
};

// Reads one key of the system's file-type registry: nothing when the key can't be
// opened, else its default value (empty when it has none).
using FileTypeKeyReader = std::function<std::optional<QString>(const QString& key)>;

// The keys in the order they are read: "htmlfile", "txtfile", "Word.Document",
// "Excel.Application", "Excel.CSV".
QStringList FileTypeKeys();

// Starts from the defaults; each key that can be opened replaces its description
// (web page, text, Word, Excel, CSV). The first key that can't be opened ends
// the reading and keeps the remaining descriptions.
TFileTypeDescriptions ReadFileTypeDescriptions(const FileTypeKeyReader& readKey);

// The reader of this system: the Windows registry under HKEY_CLASSES_ROOT; on
// other systems every key is missing, so the defaults stay.
FileTypeKeyReader SystemFileTypeReader();

struct TFileFilters
{
    QStringList Open; // every list type, text, [Excel], CSV
    QStringList Save; // text, [Excel], CSV, Word, web page: each type once
};

// The save dialog's entry for a stored "FilterInd": within the list, and the
// workbook for the 6 that older versions stored for their second workbook entry.
inline constexpr int kOldSecondWorkbookEntry = 6;
int SaveFilterIndex(int stored, const QStringList& saveFilters);

// The filters of both file dialogs. A description left empty shows a German
// name instead of a bare pattern ("CSV-Datei", "Excel-Arbeitsmappe"). The
// workbook entries are .xlsx for saving and .xlsx, .xls and .ods for opening;
// the Word entry is .docx. The open dialog's first entry takes every list type.
TFileFilters BuildFileFilters(const TFileTypeDescriptions& descriptions, bool excelAvailable);

// The pattern of a filter entry, the text in its last parentheses:
// "Webseite (*.html)" gives "*.html". The entries are told apart by it, since
// the descriptions may come from the system.
QString FilterPattern(const QString& filter);

// The 1-based entry of filters whose pattern names the file's ending ("a.HTML"
// and "a.htm" name "*.html"); 0 when the name has no ending or none matches.
// A typed ending decides the file type over the entry chosen in the dialog.
int FilterIndexOfEnding(const QStringList& filters, const QString& fileName);

// folder/baseName + suffix, or baseName-2, -3 … + suffix when that file exists.
QString UnusedFileName(const QString& folder, const QString& baseName, const QString& suffix);
