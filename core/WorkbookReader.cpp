#include "WorkbookReader.h"

#include "ZipArchive.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QLocale>
#include <QTemporaryFile>
#include <QTime>
#include <QXmlStreamReader>
#include <cmath>
#include <freexl.h>
#include <optional>

namespace {

// The locale without group separators: a start number 1234 stays "1234".
QLocale PlainLocale(QLocale locale)
{
    locale.setNumberOptions(locale.numberOptions() | QLocale::OmitGroupSeparator);
    return locale;
}

// Why a workbook is refused; the text completes "… kann nicht geladen werden: ".
struct Refusal
{
    QString reason;
};

Refusal Broken(const QString& part)
{
    return {QStringLiteral("sie ist beschädigt (%1)").arg(part)};
}

Refusal TooManyStarters()
{
    return {QStringLiteral("sie enthält mehr als %1 Starter").arg(kMaxWorkbookStarters)};
}

Refusal CellTooLong()
{
    return {QStringLiteral("eine Zelle enthält mehr als %1 Zeichen").arg(kMaxWorkbookCellLength)};
}

Refusal Encrypted()
{
    return {QStringLiteral("sie ist verschlüsselt oder mit einem Kennwort geschützt")};
}

// Unpacks a part of a workbook's archive; a missing optional part leaves bytes empty.
std::optional<Refusal> ReadPart(const ZipReader& zip, const QString& name, QByteArray& bytes, bool optional)
{
    switch (zip.Read(name, kMaxWorkbookPartSize, bytes)) {
    case ZipReader::Result::Ok:
        return std::nullopt;
    case ZipReader::Result::Missing:
        if (optional)
            return std::nullopt;
        return Refusal{QStringLiteral("%1 fehlt").arg(name)};
    case ZipReader::Result::TooLarge:
        return Refusal{QStringLiteral("%1 wäre entpackt größer als %2 MB")
                           .arg(name)
                           .arg(kMaxWorkbookPartSize / (1024 * 1024))};
    case ZipReader::Result::Encrypted:
        return Encrypted();
    case ZipReader::Result::Broken:
        break;
    }
    return Broken(name);
}

// Collects the sheet's rows until the first row whose column A is empty.
class RowCollector
{
public:
    // A cell of the current row; columns beyond the protocol's are not kept.
    void Set(int col, QString text)
    {
        if (col >= 0 && col < kProtocolColumnCount)
            m_row[col] = std::move(text);
    }
    // Ends the row, taken `repeat` times. False when the data has ended (column
    // A empty) or a limit is broken (then refusal is set).
    bool EndRow(qint64 repeat = 1)
    {
        QStringList row = std::exchange(m_row, QStringList(kProtocolColumnCount));
        if (row.constFirst().isEmpty()) {
            m_done = true;
            return false;
        }
        for (const QString& cell : std::as_const(row)) {
            if (cell.size() > kMaxWorkbookCellLength) {
                refusal = CellTooLong();
                return false;
            }
        }
        if (repeat > kMaxWorkbookStarters + 1 - rows.size()) {
            refusal = TooManyStarters();
            return false;
        }
        for (qint64 i = 0; i < repeat; ++i)
            rows.append(row);
        return true;
    }
    // A row missing from the sheet: its column A is empty, so the data ends.
    void EndData() { m_done = true; }
    bool Done() const { return m_done || refusal.has_value(); }

    ProtocolTable rows;
    std::optional<Refusal> refusal;

private:
    QStringList m_row = QStringList(kProtocolColumnCount);
    bool m_done = false;
};

// ---------------------------------------------------------------------------
// .xlsx

// How a number format shows a number: with that many decimals (0.00 → 2,
// 0 → 0), as it needs (the general format, percentages and anything else),
// or as a date, a time of day or both.
constexpr int kAsNeeded = -1;
constexpr int kAsDate = -2;
constexpr int kAsTime = -3;
constexpr int kAsDateTime = -4;

int FormatShape(const QString& code)
{
    QString section = code.section(u';', 0, 0);
    QString plain;
    bool quoted = false;
    bool bracket = false;
    for (qsizetype i = 0; i < section.size(); ++i) {
        const QChar c = section[i];
        if (c == u'"')
            quoted = !quoted;
        else if (quoted)
            continue;
        else if (c == u'[')
            bracket = true;
        else if (c == u']')
            bracket = false;
        else if (c == u'\\' || c == u'_' || c == u'*')
            ++i; // the next character is shown or padded as it is
        else if (!bracket)
            plain.append(c.toLower());
    }
    const bool date = plain.contains(u'd') || plain.contains(u'y');
    const bool time = plain.contains(u'h') || plain.contains(u's');
    if (date || time)
        return date && time ? kAsDateTime : date ? kAsDate : kAsTime;
    if (plain.contains(u'e') || plain.contains(u'%') || plain.contains(u'@') || plain.contains(u'm'))
        return kAsNeeded;
    const qsizetype point = plain.indexOf(u'.');
    if (point < 0)
        return plain.contains(u'0') || plain.contains(u'#') ? 0 : kAsNeeded;
    int decimals = 0;
    for (qsizetype i = point + 1; i < plain.size() && (plain[i] == u'0' || plain[i] == u'#'); ++i)
        ++decimals;
    return decimals;
}

int BuiltinFormatShape(int id)
{
    if (id == 1 || id == 3)
        return 0;
    if (id == 2 || id == 4)
        return 2;
    if (id >= 14 && id <= 17)
        return kAsDate;
    if ((id >= 18 && id <= 21) || (id >= 45 && id <= 47))
        return kAsTime;
    return id == 22 ? kAsDateTime : kAsNeeded;
}

// A serial date of the sheet (days since 30 Dec 1899, or since 1 Jan 1904 in
// workbooks of that date system) as the locale writes it, the year in full.
QString SerialDateText(double serial, int shape, bool from1904, const QLocale& locale)
{
    const QDate epoch = from1904 ? QDate(1904, 1, 1) : QDate(1899, 12, 30);
    const double days = std::floor(serial);
    qint64 ms = std::llround((serial - days) * 86400000.0);
    const QDate date = epoch.addDays(qint64(days) + ms / 86400000);
    ms %= 86400000;
    QString dateFormat = locale.dateFormat(QLocale::ShortFormat);
    if (!dateFormat.contains(QStringLiteral("yyyy")))
        dateFormat.replace(QStringLiteral("yy"), QStringLiteral("yyyy"));
    const QString dateText = locale.toString(date, dateFormat);
    const QString timeText =
        locale.toString(QTime::fromMSecsSinceStartOfDay(int(ms)), QStringLiteral("hh:mm:ss"));
    if (shape == kAsDate)
        return dateText;
    return shape == kAsTime ? timeText : dateText + u' ' + timeText;
}

// Attribute value by local name, whatever its prefix.
QString Attribute(const QXmlStreamReader& xml, QStringView name)
{
    for (const QXmlStreamAttribute& a : xml.attributes()) {
        if (a.name() == name)
            return a.value().toString();
    }
    return {};
}

// The text of the current element's <t> children, phonetic runs left out;
// the reader ends on the element's end tag.
QString RichText(QXmlStreamReader& xml)
{
    QString text;
    int depth = 1;
    int phonetic = 0;
    while (depth > 0 && !xml.atEnd()) {
        switch (xml.readNext()) {
        case QXmlStreamReader::StartElement:
            ++depth;
            if (xml.name() == u"rPh")
                ++phonetic;
            else if (xml.name() == u"t" && phonetic == 0) {
                text += xml.readElementText(QXmlStreamReader::IncludeChildElements);
                --depth;
            }
            break;
        case QXmlStreamReader::EndElement:
            --depth;
            if (xml.name() == u"rPh")
                --phonetic;
            break;
        default:
            break;
        }
    }
    return text;
}

// Zero-based column of a cell reference such as "AB12"; -1 if it has none.
int ReferenceColumn(QStringView reference)
{
    int col = 0;
    int letters = 0;
    for (QChar c : reference) {
        const char16_t u = c.toUpper().unicode();
        if (u < u'A' || u > u'Z')
            break;
        if (++letters > 3)
            return -1;
        col = col * 26 + (u - u'A' + 1);
    }
    return letters == 0 ? -1 : col - 1;
}

class XlsxReader
{
public:
    explicit XlsxReader(const QByteArray& bytes) : m_zip(bytes) {}

    std::optional<Refusal> Read(RowCollector& out)
    {
        QByteArray rels;
        QString workbookPath = QStringLiteral("xl/workbook.xml");
        if (auto r = Part(QStringLiteral("_rels/.rels"), rels, true))
            return r;
        const QString target = RelationshipTarget(rels, QString(), u"/officeDocument", QString());
        if (!target.isEmpty())
            workbookPath = target;
        const QString folder = QFileInfo(workbookPath).path();
        QByteArray workbook;
        if (auto r = Part(workbookPath, workbook, false))
            return r;
        const QString sheetId = FirstSheetId(workbook);
        if (sheetId.isEmpty())
            return Broken(workbookPath);
        const QString relsPath = QDir::cleanPath(folder + QStringLiteral("/_rels/") +
                                                 QFileInfo(workbookPath).fileName() + ".rels");
        if (auto r = Part(relsPath, rels, false))
            return r;
        const QString sheetPath = RelationshipTarget(rels, folder, {}, sheetId);
        if (sheetPath.isEmpty())
            return Broken(relsPath);

        // The shared strings and the number formats, where the workbook has them.
        const std::pair<QStringView, bool (XlsxReader::*)(const QByteArray&)> optionalParts[] = {
            {u"/sharedStrings", &XlsxReader::ReadSharedStrings}, {u"/styles", &XlsxReader::ReadStyles}};
        QByteArray part;
        for (const auto& [type, read] : optionalParts) {
            const QString path = RelationshipTarget(rels, folder, type, {});
            if (path.isEmpty())
                continue;
            if (auto r = Part(path, part, true))
                return r;
            if (!(this->*read)(part))
                return Broken(path);
        }
        if (auto r = Part(sheetPath, part, false))
            return r;
        if (!ReadSheet(part, out) && !out.refusal)
            return Broken(sheetPath);
        return out.refusal;
    }

private:
    // Unpacks a part; a missing optional part leaves bytes empty.
    std::optional<Refusal> Part(const QString& name, QByteArray& bytes, bool optional) const
    {
        return ReadPart(m_zip, name, bytes, optional);
    }

    // The target of the relationship with the given id, or else of the first
    // one whose type ends with typeSuffix, as a path inside the archive.
    static QString RelationshipTarget(const QByteArray& rels, const QString& folder, QStringView typeSuffix,
                                      const QString& id)
    {
        QXmlStreamReader xml(rels);
        while (!xml.atEnd()) {
            if (xml.readNext() != QXmlStreamReader::StartElement || xml.name() != u"Relationship")
                continue;
            const bool match =
                id.isEmpty() ? Attribute(xml, u"Type").endsWith(typeSuffix) : Attribute(xml, u"Id") == id;
            if (!match)
                continue;
            const QString target = Attribute(xml, u"Target");
            if (target.isEmpty() || Attribute(xml, u"TargetMode") == u"External")
                return {};
            if (target.startsWith(u'/'))
                return QDir::cleanPath(target.mid(1));
            return QDir::cleanPath(folder.isEmpty() || folder == u"." ? target : folder + u'/' + target);
        }
        return {};
    }

    // The first sheet's relationship id; notes the workbook's date system on the way.
    QString FirstSheetId(const QByteArray& workbook)
    {
        QXmlStreamReader xml(workbook);
        while (!xml.atEnd() && !xml.hasError()) {
            if (xml.readNext() != QXmlStreamReader::StartElement)
                continue;
            if (xml.name() == u"workbookPr") {
                const QString from1904 = Attribute(xml, u"date1904");
                m_from1904 = from1904 == u"1" || from1904 == u"true";
            }
            if (xml.name() != u"sheet")
                continue;
            for (const QXmlStreamAttribute& a : xml.attributes()) {
                if (a.name() == u"id" && !a.namespaceUri().isEmpty())
                    return a.value().toString();
            }
            return {};
        }
        return {};
    }

    bool ReadSharedStrings(const QByteArray& part)
    {
        QXmlStreamReader xml(part);
        while (!xml.atEnd()) {
            if (xml.readNext() == QXmlStreamReader::StartElement && xml.name() == u"si")
                m_strings.append(RichText(xml));
        }
        return !xml.hasError();
    }

    bool ReadStyles(const QByteArray& part)
    {
        QHash<int, int> customShapes;
        QXmlStreamReader xml(part);
        bool inCellFormats = false;
        while (!xml.atEnd()) {
            const auto token = xml.readNext();
            if (token == QXmlStreamReader::EndElement && xml.name() == u"cellXfs")
                inCellFormats = false;
            if (token != QXmlStreamReader::StartElement)
                continue;
            if (xml.name() == u"numFmt") {
                customShapes.insert(Attribute(xml, u"numFmtId").toInt(),
                                    FormatShape(Attribute(xml, u"formatCode")));
            } else if (xml.name() == u"cellXfs") {
                inCellFormats = true;
            } else if (inCellFormats && xml.name() == u"xf") {
                const int id = Attribute(xml, u"numFmtId").toInt();
                m_styleShapes.append(customShapes.value(id, BuiltinFormatShape(id)));
            }
        }
        return !xml.hasError();
    }

    QString CellText(QXmlStreamReader& xml, QStringView type, int style) const
    {
        QString value;
        bool hasValue = false;
        while (!xml.atEnd()) {
            const auto token = xml.readNext();
            if (token == QXmlStreamReader::EndElement && xml.name() == u"c")
                break;
            if (token != QXmlStreamReader::StartElement)
                continue;
            if (xml.name() == u"v") {
                value = xml.readElementText(QXmlStreamReader::IncludeChildElements);
                hasValue = true;
            } else if (xml.name() == u"is") {
                value = RichText(xml);
            } else {
                xml.skipCurrentElement();
            }
        }
        if (type == u"inlineStr" || type == u"str" || type == u"e" || type == u"d")
            return value;
        if (type == u"s") {
            bool ok = false;
            const int index = value.toInt(&ok);
            if (!ok || index < 0 || index >= m_strings.size()) {
                xml.raiseError(QStringLiteral("shared string"));
                return {};
            }
            return m_strings.at(index);
        }
        if (type == u"b")
            return !hasValue                 ? QString()
                   : value.trimmed() == u"1" ? QStringLiteral("WAHR")
                                             : QStringLiteral("FALSCH");
        if (!hasValue || value.isEmpty())
            return {};
        bool ok = false;
        const double number = value.toDouble(&ok);
        if (!ok || !std::isfinite(number)) {
            xml.raiseError(QStringLiteral("number"));
            return {};
        }
        const int shape = m_styleShapes.value(style, kAsNeeded);
        // Days beyond the year 9999 are no date of a spreadsheet.
        if (shape < kAsNeeded && number >= 0 && number < 2958466)
            return SerialDateText(number, shape, m_from1904, m_locale);
        return WorkbookNumberText(number, std::max(shape, kAsNeeded), m_locale);
    }

    // False on broken XML (and when out refused the data).
    bool ReadSheet(const QByteArray& part, RowCollector& out)
    {
        QXmlStreamReader xml(part);
        qint64 expectedRow = 1;
        bool inData = false;
        while (!xml.atEnd() && !out.Done()) {
            const auto token = xml.readNext();
            if (token == QXmlStreamReader::EndElement && xml.name() == u"sheetData")
                break;
            if (token != QXmlStreamReader::StartElement)
                continue;
            if (xml.name() == u"sheetData") {
                inData = true;
            } else if (inData && xml.name() == u"row") {
                const QString r = Attribute(xml, u"r");
                const qint64 rowNumber = r.isEmpty() ? expectedRow : r.toLongLong();
                if (rowNumber != expectedRow) {
                    // A row left out of the file is empty; an earlier number is broken.
                    if (rowNumber < expectedRow)
                        xml.raiseError(QStringLiteral("row order"));
                    out.EndData();
                    break;
                }
                if (!ReadRow(xml, out))
                    break;
                out.EndRow();
                ++expectedRow;
            }
        }
        return !xml.hasError() && !out.refusal;
    }

    bool ReadRow(QXmlStreamReader& xml, RowCollector& out) const
    {
        int col = -1;
        while (!xml.atEnd()) {
            const auto token = xml.readNext();
            if (token == QXmlStreamReader::EndElement && xml.name() == u"row")
                return true;
            if (token != QXmlStreamReader::StartElement)
                continue;
            if (xml.name() != u"c") {
                xml.skipCurrentElement();
                continue;
            }
            const QXmlStreamAttributes attributes = xml.attributes();
            const QStringView reference = attributes.value(QLatin1StringView("r"));
            col = reference.isEmpty() ? col + 1 : ReferenceColumn(reference);
            if (col < 0) {
                xml.raiseError(QStringLiteral("cell reference"));
                return false;
            }
            const QString text = CellText(xml, attributes.value(QLatin1StringView("t")),
                                          attributes.value(QLatin1StringView("s")).toInt());
            if (xml.hasError())
                return false;
            out.Set(col, text);
        }
        return false;
    }

    ZipReader m_zip;
    QStringList m_strings;
    QList<int> m_styleShapes;
    bool m_from1904 = false;
    QLocale m_locale = PlainLocale(QLocale());
};

// ---------------------------------------------------------------------------
// .ods

// Decimals of a number as the sheet shows it: the digits after the shown
// text's last separator, if the shown digits are the value's with that many
// decimals (so "1.234" for 1234 is a group separator, not three decimals).
int ShownDecimals(double value, const QString& shown)
{
    const qsizetype last = [&] {
        qsizetype i = shown.size() - 1;
        while (i >= 0 && !shown[i].isDigit())
            --i;
        return i;
    }();
    qsizetype first = last;
    while (first > 0 && shown[first - 1].isDigit())
        --first;
    if (last < 0 || first < 2 || (shown[first - 1] != u',' && shown[first - 1] != u'.') ||
        !shown[first - 2].isDigit())
        return -1;
    const int decimals = int(last - first + 1);
    if (decimals > 15)
        return -1;
    auto digits = [](const QString& text) {
        QString d;
        for (QChar c : text) {
            if (c.isDigit())
                d.append(c);
        }
        return d;
    };
    return digits(QString::number(std::fabs(value), 'f', decimals)) == digits(shown) ? decimals : -1;
}

class OdsReader
{
public:
    explicit OdsReader(const QByteArray& bytes) : m_zip(bytes) {}

    std::optional<Refusal> Read(RowCollector& out)
    {
        QByteArray content;
        if (auto refusal = ReadPart(m_zip, QStringLiteral("content.xml"), content, false))
            return refusal;
        QXmlStreamReader xml(content);
        // LibreOffice encrypts the parts of a password-protected file: content.xml is then no XML.
        while (!xml.atEnd() && !out.Done()) {
            if (xml.readNext() == QXmlStreamReader::StartElement && xml.name() == u"table" &&
                xml.namespaceUri().endsWith(u":table:1.0")) {
                ReadTable(xml, out);
                break;
            }
        }
        if (out.refusal)
            return out.refusal;
        if (xml.hasError()) {
            const bool encrypted = m_zip.Read(QStringLiteral("META-INF/manifest.xml"), kMaxWorkbookPartSize,
                                              content) == ZipReader::Result::Ok &&
                                   content.contains("encryption-data");
            return encrypted ? Encrypted() : Broken(QStringLiteral("content.xml"));
        }
        return std::nullopt;
    }

private:
    static qint64 Repeat(const QXmlStreamReader& xml, QStringView attribute)
    {
        const QString text = Attribute(xml, attribute);
        return text.isEmpty() ? 1 : std::max<qint64>(1, text.toLongLong());
    }

    void ReadTable(QXmlStreamReader& xml, RowCollector& out) const
    {
        int depth = 1;
        while (depth > 0 && !xml.atEnd() && !out.Done()) {
            const auto token = xml.readNext();
            if (token == QXmlStreamReader::EndElement) {
                --depth;
                continue;
            }
            if (token != QXmlStreamReader::StartElement)
                continue;
            if (xml.name() == u"table-row") {
                const qint64 repeat = Repeat(xml, u"number-rows-repeated");
                if (!ReadRow(xml, out))
                    return;
                out.EndRow(repeat);
            } else if (xml.name() == u"table-header-rows" || xml.name() == u"table-rows" ||
                       xml.name() == u"table-row-group") {
                ++depth;
            } else {
                xml.skipCurrentElement();
            }
        }
        // The table ended: the rows below it are empty.
        out.EndData();
    }

    bool ReadRow(QXmlStreamReader& xml, RowCollector& out) const
    {
        qint64 col = 0;
        while (!xml.atEnd()) {
            const auto token = xml.readNext();
            if (token == QXmlStreamReader::EndElement && xml.name() == u"table-row")
                return true;
            if (token != QXmlStreamReader::StartElement)
                continue;
            if (xml.name() != u"table-cell" && xml.name() != u"covered-table-cell") {
                xml.skipCurrentElement();
                continue;
            }
            const qint64 repeat = Repeat(xml, u"number-columns-repeated");
            const QString text = CellText(xml);
            for (qint64 i = 0; i < repeat && col < kProtocolColumnCount; ++i)
                out.Set(int(col++), text);
        }
        return false;
    }

    QString CellText(QXmlStreamReader& xml) const
    {
        const QString type = Attribute(xml, u"value-type");
        const QString value = Attribute(xml, u"value");
        const QString boolean = Attribute(xml, u"boolean-value");
        const QString stringValue = Attribute(xml, u"string-value");
        QString shown;
        int paragraphs = 0;
        int depth = 1;
        while (depth > 0 && !xml.atEnd()) {
            const auto token = xml.readNext();
            if (token == QXmlStreamReader::EndElement) {
                --depth;
            } else if (token == QXmlStreamReader::Characters && depth >= 2) {
                shown += xml.text();
            } else if (token == QXmlStreamReader::StartElement) {
                const QStringView name = xml.name();
                if (name == u"annotation") {
                    xml.skipCurrentElement();
                } else if (depth == 1 && name != u"p") {
                    xml.skipCurrentElement();
                } else {
                    ++depth;
                    if (name == u"p" && depth == 2 && paragraphs++ > 0)
                        shown += u'\n';
                    else if (name == u"s")
                        shown += QString(std::clamp<qint64>(Repeat(xml, u"c"), 1, kMaxWorkbookCellLength + 1),
                                         u' ');
                    else if (name == u"tab")
                        shown += u'\t';
                    else if (name == u"line-break")
                        shown += u'\n';
                }
            }
            if (shown.size() > kMaxWorkbookCellLength + 1)
                shown.truncate(kMaxWorkbookCellLength + 1); // too long in any case
        }
        if (type == u"float" || type == u"percentage" || type == u"currency") {
            bool ok = false;
            const double number = value.toDouble(&ok);
            if (ok && std::isfinite(number) && type == u"float")
                return WorkbookNumberText(number, ShownDecimals(number, shown), m_locale);
            return shown;
        }
        if (type == u"boolean")
            return boolean == u"true" ? QStringLiteral("WAHR") : QStringLiteral("FALSCH");
        return stringValue.isEmpty() ? shown : stringValue;
    }

    ZipReader m_zip;
    QLocale m_locale = PlainLocale(QLocale());
};

// ---------------------------------------------------------------------------
// .xls

std::optional<Refusal> ReadXls(const QByteArray& bytes, RowCollector& out)
{
    // The library reads only from a file.
    QTemporaryFile file;
    if (!file.open() || file.write(bytes) != bytes.size() || !file.flush())
        return Refusal{QStringLiteral("keine Zwischendatei (%1)").arg(file.errorString())};
    const void* handle = nullptr;
    const int opened = freexl_open(QFile::encodeName(file.fileName()).constData(), &handle);
    if (opened != FREEXL_OK) {
        if (handle)
            freexl_close(handle);
        return opened == FREEXL_BIFF_WORKBOOK_NOT_FOUND ? Encrypted() : Broken(QStringLiteral("xls"));
    }
    // The library answers some files it can't read (an empty text cell is
    // enough) with success but no handle.
    if (!handle)
        return Refusal{QStringLiteral("diese .xls-Datei kann nicht gelesen werden; bitte im Tabellenprogramm "
                                      "als .xlsx oder .ods speichern und diese Datei laden")};
    std::optional<Refusal> refusal;
    unsigned int password = FREEXL_BIFF_PLAIN;
    unsigned int rows = 0;
    unsigned short cols = 0;
    freexl_get_info(handle, FREEXL_BIFF_PASSWORD, &password);
    if (password == FREEXL_BIFF_OBFUSCATED) {
        refusal = Encrypted();
    } else if (freexl_select_active_worksheet(handle, 0) != FREEXL_OK ||
               freexl_worksheet_dimensions(handle, &rows, &cols) != FREEXL_OK) {
        refusal = Broken(QStringLiteral("xls"));
    } else {
        const QLocale locale = PlainLocale(QLocale());
        unsigned int row = 0;
        for (; row < rows && !out.Done(); ++row) {
            for (unsigned short col = 0; col < cols && col < kProtocolColumnCount; ++col) {
                FreeXL_CellValue cell;
                if (freexl_get_cell_value(handle, row, col, &cell) != FREEXL_OK) {
                    refusal = Broken(QStringLiteral("xls"));
                    break;
                }
                switch (cell.type) {
                case FREEXL_CELL_INT:
                    out.Set(col, WorkbookNumberText(cell.value.int_value, 0, locale));
                    break;
                case FREEXL_CELL_DOUBLE:
                    out.Set(col, WorkbookNumberText(cell.value.double_value, -1, locale));
                    break;
                case FREEXL_CELL_TEXT:
                case FREEXL_CELL_SST_TEXT:
                case FREEXL_CELL_DATE:
                case FREEXL_CELL_DATETIME:
                case FREEXL_CELL_TIME:
                    out.Set(col, QString::fromUtf8(cell.value.text_value));
                    break;
                default:
                    break;
                }
            }
            if (refusal)
                break;
            out.EndRow();
        }
        if (!refusal && row == rows)
            out.EndData();
    }
    freexl_close(handle);
    return refusal ? refusal : out.refusal;
}

QString ShownName(const QString& fileName)
{
    return QDir::toNativeSeparators(fileName);
}

} // namespace

QString WorkbookNumberText(double value, int decimals, const QLocale& locale)
{
    if (!(locale.numberOptions() & QLocale::OmitGroupSeparator))
        return WorkbookNumberText(value, decimals, PlainLocale(locale));
    if (decimals < 0)
        return locale.toString(value, 'f', QLocale::FloatingPointShortest);
    return locale.toString(value, 'f', decimals);
}

bool ParseWorkbook(const QByteArray& bytes, ProtocolTable& rows, QString& reason)
{
    RowCollector out;
    std::optional<Refusal> refusal;
    if (bytes.startsWith("PK\x03\x04")) {
        ZipReader probe(bytes);
        QByteArray mimeType;
        if (!probe.IsOpen())
            refusal = Broken(QStringLiteral("zip"));
        else if (probe.Read(QStringLiteral("mimetype"), 256, mimeType) == ZipReader::Result::Ok &&
                 mimeType.startsWith("application/vnd.oasis.opendocument.spreadsheet"))
            refusal = OdsReader(bytes).Read(out);
        else
            refusal = XlsxReader(bytes).Read(out);
    } else if (bytes.startsWith("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1")) {
        refusal = ReadXls(bytes, out);
    } else {
        refusal = Refusal{QStringLiteral("sie ist keine Arbeitsmappe (.xlsx, .ods oder .xls)")};
    }
    if (refusal) {
        reason = refusal->reason;
        return false;
    }
    rows = std::move(out.rows);
    return true;
}

bool LoadWorkbook(const QString& fileName, ProtocolTable& rows, QString& error)
{
    const QString prefix =
        QStringLiteral("Die Arbeitsmappe %1 kann nicht geladen werden: ").arg(ShownName(fileName));
    QFile file(fileName);
    if (!QFileInfo(fileName).isFile() || !file.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("Die Datei %1 kann nicht gelesen werden.").arg(ShownName(fileName));
        return false;
    }
    if (file.size() > kMaxWorkbookPartSize) {
        error =
            prefix + QStringLiteral("sie ist größer als %1 MB.").arg(kMaxWorkbookPartSize / (1024 * 1024));
        return false;
    }
    const QByteArray bytes = file.read(kMaxWorkbookPartSize + 1);
    if (file.error() != QFileDevice::NoError || bytes.size() > kMaxWorkbookPartSize) {
        error = QStringLiteral("Die Datei %1 kann nicht gelesen werden.").arg(ShownName(fileName));
        return false;
    }
    ProtocolTable sheet;
    QString reason;
    if (!ParseWorkbook(bytes, sheet, reason)) {
        error = prefix + reason + u'.';
        return false;
    }
    if (sheet.size() < 2) {
        error = prefix +
                QStringLiteral("die erste Tabelle enthält keine Starter (Spalte A ist ab Zeile %1 leer).")
                    .arg(sheet.size() + 1);
        return false;
    }
    rows = std::move(sheet);
    return true;
}
