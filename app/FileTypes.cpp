#include "FileTypes.h"

#include <QDir>
#include <QFileInfo>
#include <algorithm>

#ifdef Q_OS_WIN
#include <QSettings>
#endif

QStringList FileTypeKeys()
{
    return {QStringLiteral("htmlfile"), QStringLiteral("txtfile"), QStringLiteral("Word.Document"),
            QStringLiteral("Excel.Application"), QStringLiteral("Excel.CSV")};
}

TFileTypeDescriptions ReadFileTypeDescriptions(const FileTypeKeyReader& readKey)
{
    TFileTypeDescriptions descriptions;
    QString* const targets[] = {&descriptions.WebPage, &descriptions.Text, &descriptions.Word,
                                &descriptions.Excel, &descriptions.Csv};
    const QStringList keys = FileTypeKeys();
    for (int i = 0; i < keys.size() && readKey; ++i) {
        const std::optional<QString> value = readKey(keys.at(i));
        if (!value)
            break;
        *targets[i] = *value;
    }
    return descriptions;
}

FileTypeKeyReader SystemFileTypeReader()
{
#ifdef Q_OS_WIN
    return [](const QString& key) -> std::optional<QString> {
        const QSettings root(QStringLiteral("HKEY_CLASSES_ROOT"), QSettings::NativeFormat);
        if (!root.childGroups().contains(key, Qt::CaseInsensitive))
            return std::nullopt;
        const QSettings entry(QStringLiteral("HKEY_CLASSES_ROOT\\") + key, QSettings::NativeFormat);
        return entry.value(QStringLiteral("Default")).toString();
    };
#else
    return [](const QString&) -> std::optional<QString> { return std::nullopt; };
#endif
}

namespace {

QString Filter(const QString& description, const QString& fallback, const QString& pattern)
{
    return (description.isEmpty() ? fallback : description) + QStringLiteral(" (") + pattern +
           QLatin1Char(')');
}

} // namespace

TFileFilters BuildFileFilters(const TFileTypeDescriptions& d, bool excelAvailable)
{
    const QString text = Filter(d.Text, QStringLiteral("Textdatei"), QStringLiteral("*.txt"));
    const QString csv = Filter(d.Csv, QStringLiteral("CSV-Datei"), QStringLiteral("*.csv"));
    const QString excelOpen =
        Filter(d.Excel, QStringLiteral("Excel-Arbeitsmappe"), QStringLiteral("*.xlsx *.xls *.ods"));
    const QString excelSave = Filter(d.Excel, QStringLiteral("Excel-Arbeitsmappe"), QStringLiteral("*.xlsx"));
    TFileFilters filters;
    // A list is found whatever its type: the first entry shows every type the
    // reader takes, so an operator need not guess the entry before the file.
    filters.Open = {
        QStringLiteral("Starterlisten (") +
        (excelAvailable ? QStringLiteral("*.txt *.csv *.xlsx *.xls *.ods") : QStringLiteral("*.txt *.csv")) +
        QLatin1Char(')')};
    filters.Open.append(text);
    filters.Save = {text};
    if (excelAvailable) {
        filters.Open.append(excelOpen);
        filters.Save.append(excelSave);
    }
    filters.Open.append(csv);
    filters.Save.append(csv);
    filters.Save.append(Filter(d.Word, QStringLiteral("MS Word"), QStringLiteral("*.docx")));
    filters.Save.append(Filter(d.WebPage, QStringLiteral("Webseite"), QStringLiteral("*.html")));
    return filters;
}

int SaveFilterIndex(int stored, const QStringList& saveFilters)
{
    // Older versions listed the workbook a second time, last (entry 6); such a
    // stored choice still means the workbook.
    if (stored == kOldSecondWorkbookEntry && saveFilters.size() < kOldSecondWorkbookEntry)
        return std::max(1, FilterIndexOfEnding(saveFilters, QStringLiteral("x.xlsx")));
    return std::clamp(stored, 1, std::max(1, int(saveFilters.size())));
}

QString FilterPattern(const QString& filter)
{
    const qsizetype open = filter.lastIndexOf(u'(');
    const qsizetype close = filter.lastIndexOf(u')');
    return open >= 0 && close > open ? filter.mid(open + 1, close - open - 1) : QString();
}

int FilterIndexOfEnding(const QStringList& filters, const QString& fileName)
{
    QString suffix = QFileInfo(fileName).suffix().toLower();
    if (suffix.isEmpty())
        return 0;
    if (suffix == u"htm")
        suffix = QStringLiteral("html");
    const QString pattern = QStringLiteral("*.") + suffix;
    for (qsizetype i = 0; i < filters.size(); ++i) {
        if (FilterPattern(filters.at(i)).split(u' ', Qt::SkipEmptyParts).contains(pattern))
            return int(i + 1);
    }
    return 0;
}

QString UnusedFileName(const QString& folder, const QString& baseName, const QString& suffix)
{
    const QDir dir(folder);
    QString name = dir.absoluteFilePath(baseName + suffix);
    for (int n = 2; QFileInfo::exists(name); ++n)
        name = dir.absoluteFilePath(QStringLiteral("%1-%2%3").arg(baseName).arg(n).arg(suffix));
    return name;
}
