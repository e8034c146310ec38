#include "WorkbookReader.h"

#include "ReadCancel.h"
#include "XlsProcess.h"
#include "XlsSheet.h"
#include "ZipArchive.h"

#include <QBuffer>
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

// What reading the XML parts of one workbook may cost. The parts are read
// without recursion, element by element; the depth, the number of elements
// and the unpacked bytes are limited, the last two by the archive's size too,
// so a small file that unpacks to much costs little before it is refused.
struct XmlBudget
{
    explicit XmlBudget(qint64 archiveSize)
        : maxElements(std::min(kMaxWorkbookElements, kWorkbookElementsBase + kWorkbookElementsPerByte * archiveSize)),
          bytesLeft(std::min(kMaxWorkbookUnpacked, kWorkbookUnpackedBase + kWorkbookUnpackedPerByte * archiveSize))
    {
    }
    qint64 elements = 0;
    qint64 maxElements;
    qint64 bytesLeft;
    std::optional<Refusal> refusal;
};

// A stream reader that keeps to the budget: past a limit it stops with an
// error, and the budget holds the refusal.
class GuardedXml : public QXmlStreamReader
{
public:
    // Read through a buffer device: the reader then decodes the bytes a block
    // at a time instead of holding all of them decoded at once.
    // A part that unpacks while it is read.
    GuardedXml(QIODevice* device, XmlBudget& budget) : QXmlStreamReader(device), m_budget(budget) {}

    GuardedXml(const QByteArray& data, XmlBudget& budget) : m_budget(budget)
    {
        m_buffer.setData(data); // shared, not copied
        m_buffer.open(QIODevice::ReadOnly);
        setDevice(&m_buffer);
    }

    TokenType readNext()
    {
        const TokenType token = QXmlStreamReader::readNext();
        if (token == StartElement) {
            if ((m_budget.elements & 0xFFF) == 0 && ReadCancelled())
                Fail(QString::fromUtf16(kReadCancelledReason));
            else if (++m_depth > kMaxXmlDepth)
                Fail(QStringLiteral("sie ist zu tief verschachtelt (mehr als %1 Ebenen)").arg(kMaxXmlDepth));
            else if (++m_budget.elements > m_budget.maxElements)
                Fail(QStringLiteral("sie enthält für ihre Größe zu viele Elemente"));
        } else if (token == EndElement) {
            --m_depth;
        }
        return hasError() ? Invalid : token;
    }

    // Skips to the end tag of the current element.
    void skipCurrentElement()
    {
        for (int depth = 1; depth > 0 && !atEnd();) {
            const TokenType token = readNext();
            if (token == StartElement)
                ++depth;
            else if (token == EndElement)
                --depth;
        }
    }

    // The text of the current element and of all elements inside it; the
    // reader ends on its end tag. Longer text than a cell may hold is cut
    // just past that length, so it is still known to be too long.
    QString elementText()
    {
        QString text;
        for (int depth = 1; depth > 0 && !atEnd();) {
            const TokenType token = readNext();
            if (token == StartElement)
                ++depth;
            else if (token == EndElement)
                --depth;
            else if ((token == Characters || token == EntityReference) && text.size() <= kMaxWorkbookCellLength)
                text += QStringView(this->text()).first(
                    std::min<qsizetype>(this->text().size(), kMaxWorkbookCellLength + 1 - text.size()));
        }
        return text;
    }

private:
    void Fail(const QString& reason)
    {
        if (!m_budget.refusal)
            m_budget.refusal = Refusal{reason};
        raiseError(reason);
    }

    QBuffer m_buffer;
    XmlBudget& m_budget;
    int m_depth = 0;
};

// Why a part can't be read; nothing for Ok and for a missing optional part.
std::optional<Refusal> PartRefusal(ZipReader::Result result, const QString& name, bool optional, qint64 limit)
{
    switch (result) {
    case ZipReader::Result::Ok:
        return std::nullopt;
    case ZipReader::Result::Missing:
        if (optional)
            return std::nullopt;
        return Refusal{QStringLiteral("%1 fehlt").arg(name)};
    case ZipReader::Result::TooLarge:
        return Refusal{QStringLiteral("%1 wäre entpackt größer als %2 MB")
                           .arg(name)
                           .arg(std::max<qint64>(limit / (1024 * 1024), 1))};
    case ZipReader::Result::Encrypted:
        return Encrypted();
    case ZipReader::Result::Broken:
        break;
    }
    return Broken(name);
}

// Unpacks a small part of a workbook's archive; a missing optional part leaves bytes empty.
std::optional<Refusal> ReadPart(const ZipReader& zip, const QString& name, QByteArray& bytes, bool optional,
                                XmlBudget& budget)
{
    const qint64 limit = std::min(kMaxWorkbookPartSize, budget.bytesLeft);
    const ZipReader::Result result = zip.Read(name, limit, bytes);
    budget.bytesLeft -= bytes.size();
    return PartRefusal(result, name, optional, limit);
}

// Reads a large part with read(xml) while it unpacks, so it is never held
// whole. read returns false on broken XML; a missing optional part is not read.
template <typename Read>
std::optional<Refusal> StreamPart(const ZipReader& zip, const QString& name, bool optional, XmlBudget& budget,
                                  Read read)
{
    const qint64 limit = std::min(kMaxWorkbookPartSize, budget.bytesLeft);
    ZipReader::Result result = ZipReader::Result::Ok;
    const std::unique_ptr<ZipPartDevice> device = zip.Open(name, limit, result);
    if (!device)
        return PartRefusal(result, name, optional, limit);
    GuardedXml xml(device.get(), budget);
    const bool ok = read(xml);
    budget.bytesLeft -= device->Unpacked();
    if (device->Status() != ZipReader::Result::Ok)
        return PartRefusal(device->Status(), name, optional, limit);
    if (!ok)
        return Broken(name);
    return std::nullopt;
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
        if ((rows.size() & 0x3FF) == 0 && ReadCancelled()) {
            refusal = Refusal{QString::fromUtf16(kReadCancelledReason)};
            return false;
        }
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

// A number cell's text as its format shows it.
QString NumberCellText(double number, int shape, bool from1904, const QLocale& locale)
{
    // Days beyond the year 9999 are no date of a spreadsheet.
    if (shape < kAsNeeded && number >= 0 && number < 2958466)
        return SerialDateText(number, shape, from1904, locale);
    return WorkbookNumberText(number, std::max(shape, kAsNeeded), locale);
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
QString RichText(GuardedXml& xml)
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
                text += xml.elementText();
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
    explicit XlsxReader(const QByteArray& bytes) : m_zip(bytes), m_budget(bytes.size()) {}

    std::optional<Refusal> Read(RowCollector& out)
    {
        const std::optional<Refusal> refusal = ReadParts(out);
        return m_budget.refusal ? m_budget.refusal : refusal;
    }

private:
    std::optional<Refusal> ReadParts(RowCollector& out)
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
        const std::pair<QStringView, bool (XlsxReader::*)(GuardedXml&)> optionalParts[] = {
            {u"/sharedStrings", &XlsxReader::ReadSharedStrings}, {u"/styles", &XlsxReader::ReadStyles}};
        for (const auto& optionalPart : optionalParts) {
            const auto read = optionalPart.second; // clang 14 captures no structured binding
            const QString path = RelationshipTarget(rels, folder, optionalPart.first, {});
            if (path.isEmpty())
                continue;
            if (auto r = StreamPart(m_zip, path, true, m_budget, [&](GuardedXml& xml) { return (this->*read)(xml); }))
                return r;
        }
        auto r = StreamPart(m_zip, sheetPath, false, m_budget,
                            [&](GuardedXml& xml) { return ReadSheet(xml, out) || out.refusal; });
        return out.refusal ? out.refusal : r;
    }

    // Unpacks a part; a missing optional part leaves bytes empty.
    std::optional<Refusal> Part(const QString& name, QByteArray& bytes, bool optional)
    {
        return ReadPart(m_zip, name, bytes, optional, m_budget);
    }

    // The target of the relationship with the given id, or else of the first
    // one whose type ends with typeSuffix, as a path inside the archive.
    QString RelationshipTarget(const QByteArray& rels, const QString& folder, QStringView typeSuffix,
                                      const QString& id)
    {
        GuardedXml xml(rels, m_budget);
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
        GuardedXml xml(workbook, m_budget);
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

    bool ReadSharedStrings(GuardedXml& xml)
    {
        while (!xml.atEnd()) {
            if (xml.readNext() == QXmlStreamReader::StartElement && xml.name() == u"si")
                m_strings.append(RichText(xml));
        }
        return !xml.hasError();
    }

    bool ReadStyles(GuardedXml& xml)
    {
        QHash<int, int> customShapes;
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

    QString CellText(GuardedXml& xml, QStringView type, int style) const
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
                value = xml.elementText();
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
        return NumberCellText(number, m_styleShapes.value(style, kAsNeeded), m_from1904, m_locale);
    }

    // False on broken XML (and when out refused the data).
    bool ReadSheet(GuardedXml& xml, RowCollector& out)
    {
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

    bool ReadRow(GuardedXml& xml, RowCollector& out) const
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
    XmlBudget m_budget;
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
    explicit OdsReader(const QByteArray& bytes) : m_zip(bytes), m_budget(bytes.size()) {}

    std::optional<Refusal> Read(RowCollector& out)
    {
        const std::optional<Refusal> refusal = ReadContent(out);
        return m_budget.refusal ? m_budget.refusal : refusal;
    }

private:
    std::optional<Refusal> ReadContent(RowCollector& out)
    {
        const QString name = QStringLiteral("content.xml");
        const auto refusal = StreamPart(m_zip, name, false, m_budget, [&](GuardedXml& xml) {
            while (!xml.atEnd() && !out.Done()) {
                if (xml.readNext() == QXmlStreamReader::StartElement && xml.name() == u"table" &&
                    xml.namespaceUri().endsWith(u":table:1.0")) {
                    ReadTable(xml, out);
                    break;
                }
            }
            return !xml.hasError();
        });
        if (out.refusal)
            return out.refusal;
        // LibreOffice encrypts the parts of a password-protected file: content.xml is then no XML.
        if (refusal && refusal->reason == Broken(name).reason) {
            QByteArray content;
            const bool encrypted = m_zip.Read(QStringLiteral("META-INF/manifest.xml"), 1024 * 1024,
                                              content) == ZipReader::Result::Ok &&
                                   content.contains("encryption-data");
            return encrypted ? Encrypted() : refusal;
        }
        return refusal;
    }

    static qint64 Repeat(const QXmlStreamReader& xml, QStringView attribute)
    {
        const QString text = Attribute(xml, attribute);
        return text.isEmpty() ? 1 : std::max<qint64>(1, text.toLongLong());
    }

    void ReadTable(GuardedXml& xml, RowCollector& out) const
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

    bool ReadRow(GuardedXml& xml, RowCollector& out) const
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

    QString CellText(GuardedXml& xml) const
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
            } else if (token == QXmlStreamReader::Characters && depth >= 2 &&
                       shown.size() <= kMaxWorkbookCellLength) {
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
                        shown += QString(std::clamp<qint64>(Repeat(xml, u"c"), 0,
                                                            kMaxWorkbookCellLength + 1 - shown.size()),
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
    XmlBudget m_budget;
    QLocale m_locale = PlainLocale(QLocale());
};

// ---------------------------------------------------------------------------
// .xls

QString Unescaped(QStringView text)
{
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        QChar c = text[i];
        if (c == u'\\' && i + 1 < text.size()) {
            const QChar next = text[++i];
            c = next == u't' ? QChar(u'\t') : next == u'n' ? QChar(u'\n') : next == u'r' ? QChar(u'\r') : next;
        }
        out += c;
    }
    return out;
}

// A field of the reader's output (xlsreader/XlsSheet.h) as the cell's text;
// false when it is no such field.
bool XlsFieldText(QStringView field, bool from1904, const QLocale& locale, QString& text)
{
    text.clear();
    if (field.isEmpty())
        return true;
    const QChar type = field.front();
    const QStringView value = field.sliced(1);
    if (type == u's' || type == u'e') {
        text = Unescaped(value);
        return true;
    }
    if (type == u'b') {
        text = value == u"1" ? QStringLiteral("WAHR") : QStringLiteral("FALSCH");
        return true;
    }
    if (type != u'n')
        return false;
    const qsizetype bar = value.indexOf(u'|');
    bool ok = false;
    const double number = value.first(std::max<qsizetype>(bar, 0)).toDouble(&ok);
    if (bar < 1 || !ok || !std::isfinite(number))
        return false;
    const QString format = Unescaped(value.sliced(bar + 1));
    const int shape = format.startsWith(u'#') ? BuiltinFormatShape(QStringView(format).sliced(1).toInt())
                                              : FormatShape(format.mid(1));
    text = NumberCellText(number, shape, from1904, locale);
    return true;
}

// The .xls goes to the reader process; its output comes back as rows.
std::optional<Refusal> ReadXls(const QByteArray& bytes, RowCollector& out)
{
    if (bytes.size() > kXlsMaxFileSize)
        return Refusal{QStringLiteral("sie ist als .xls-Datei größer als %1 MB").arg(kXlsMaxFileSize / (1024 * 1024))};
    QByteArray output;
    QString failure;
    if (!RunXlsReader(bytes, output, failure))
        return Refusal{failure};
    const QString text = QString::fromUtf8(output);
    output.clear();
    const QLocale locale = PlainLocale(QLocale());
    bool from1904 = false;
    bool ended = false;
    qsizetype pos = 0;
    while (pos < text.size() && !ended && !out.Done()) {
        const qsizetype end = text.indexOf(u'\n', pos);
        if (end < 0)
            break;
        const QStringView line = QStringView(text).sliced(pos, end - pos);
        pos = end + 1;
        if (line == u"D1904") {
            from1904 = true;
        } else if (line == u".") {
            ended = true;
        } else if (line.startsWith(u'F')) {
            return Refusal{line.sliced(1).toString()};
        } else if (line.startsWith(u'R')) {
            int col = 0;
            for (QStringView field : line.sliced(1).split(u'\t')) {
                QString cell;
                if (!XlsFieldText(field, from1904, locale, cell))
                    return Broken(QStringLiteral("xls"));
                out.Set(col++, std::move(cell));
            }
            if (!out.EndRow())
                break;
        } else {
            return Broken(QStringLiteral("xls"));
        }
    }
    if (out.refusal)
        return out.refusal;
    if (!ended && !out.Done())
        return Broken(QStringLiteral("xls"));
    out.EndData();
    return std::nullopt;
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

bool IsWorkbookFile(const QString& fileName)
{
    QFile file(fileName);
    if (!QFileInfo(fileName).isFile() || !file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray head = file.read(8);
    return head.startsWith("PK\x03\x04") || head.startsWith("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1");
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
