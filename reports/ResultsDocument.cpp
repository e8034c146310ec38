#include "ResultsDocument.h"

#include "FileReplace.h"
#include "ProtocolDocument.h"
#include "ReadCancel.h"
#include "ZipPack.h"

#include <QDir>
#include <algorithm>
#include <cmath>

namespace {

constexpr int kMarginTwips = 1134; // 2 cm
constexpr int kA4ShortTwips = 11906;
constexpr int kA4LongTwips = 16838;
constexpr int kFontHalfPoints = 22; // 11 pt
constexpr int kCellPaddingTwips = 220;
// A character counted as wide as an Arial "m" falls short of.
constexpr double kTwipsPerChar = kFontHalfPoints * 10 * 0.62;

const char kXmlDeclaration[] = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n";
const char kWordNamespaces[] =
    "xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\" "
    "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\"";

// A run of text with optional bold, italics and size (half points; 0: the default).
QString Run(const QString& text, bool bold = false, bool italic = false, int halfPoints = 0)
{
    QString properties;
    if (bold)
        properties += QLatin1String("<w:b/>");
    if (italic)
        properties += QLatin1String("<w:i/>");
    if (halfPoints > 0)
        properties += QStringLiteral("<w:sz w:val=\"%1\"/>").arg(halfPoints);
    return QStringLiteral("<w:r>%1<w:t xml:space=\"preserve\">%2</w:t></w:r>")
        .arg(properties.isEmpty() ? QString()
                                  : QStringLiteral("<w:rPr>") + properties + QStringLiteral("</w:rPr>"),
             WordXmlText(text));
}

bool IsTestRun(const ResultsList& list, qsizetype col)
{
    const qsizetype run = col - kResultsFixedLeading;
    return run >= 0 && run < list.RunHeaders.size() && list.RunHeaders.at(run).startsWith(u"Probe");
}

// Column widths in twips: figures as wide as their longest text (a run's
// title may wrap at its blank), name and club share the rest.
QList<int> ColumnWidths(const ResultsList& list, const QStringList& headers, int tableWidth)
{
    const qsizetype columns = headers.size();
    QList<qsizetype> longest(columns, 1);
    for (const ResultsClass& block : list.Classes) {
        for (const ResultsEntry& entry : block.Entries) {
            const QStringList cells = ResultsCells(entry);
            for (qsizetype c = 0; c < columns; ++c)
                longest[c] = std::max(longest[c], cells[c].size());
        }
    }
    QList<int> widths(columns, 0);
    int fixed = 0;
    for (qsizetype c = 0; c < columns; ++c) {
        if (c == 1 || c == 2)
            continue;
        qsizetype title = headers[c].size();
        if (IsTestRun(list, c) || headers[c].startsWith(u"Lauf"))
            title = headers[c].section(u' ', 0, 0).size();
        widths[c] = int(std::ceil(std::max(longest[c], title) * kTwipsPerChar * 1.05)) + kCellPaddingTwips;
        fixed += widths[c];
    }
    const int rest = std::max(tableWidth - fixed, int(8 * kTwipsPerChar) + 2 * kCellPaddingTwips);
    const qsizetype name = std::min<qsizetype>(longest[1], 40);
    const qsizetype club = std::min<qsizetype>(longest[2], 40);
    widths[1] = int(qint64(rest) * name / std::max<qsizetype>(name + club, 1));
    widths[2] = rest - widths[1];
    return widths;
}

QString Cell(const QString& text, int width, bool figure, bool bold, bool italic, bool keepNext, bool header)
{
    QString xml = QStringLiteral("<w:tc><w:tcPr><w:tcW w:w=\"%1\" w:type=\"dxa\"/>").arg(width);
    if (header)
        xml += QLatin1String("<w:shd w:val=\"clear\" w:color=\"auto\" w:fill=\"D8D8D8\"/>");
    xml += QLatin1String("</w:tcPr><w:p><w:pPr>");
    if (keepNext)
        xml += QLatin1String("<w:keepNext/>");
    xml += QLatin1String("<w:spacing w:before=\"20\" w:after=\"20\"/>");
    if (figure)
        xml += QLatin1String("<w:jc w:val=\"right\"/>");
    xml += QLatin1String("</w:pPr>");
    if (!text.isEmpty())
        xml += Run(text, bold, italic);
    return xml + QLatin1String("</w:p></w:tc>");
}

QString TableXml(const ResultsList& list, const ResultsClass& block, const QStringList& headers,
                 const QList<int>& widths)
{
    int total = 0;
    for (int w : widths)
        total += w;
    QString xml =
        QStringLiteral("<w:tbl><w:tblPr><w:tblW w:w=\"%1\" w:type=\"dxa\"/><w:tblLayout w:type=\"fixed\"/>"
                       "<w:tblBorders>"
                       "<w:top w:val=\"single\" w:sz=\"4\" w:space=\"0\" w:color=\"A0A0A0\"/>"
                       "<w:bottom w:val=\"single\" w:sz=\"4\" w:space=\"0\" w:color=\"A0A0A0\"/>"
                       "<w:insideH w:val=\"single\" w:sz=\"4\" w:space=\"0\" w:color=\"A0A0A0\"/>"
                       "</w:tblBorders><w:tblLook w:val=\"0000\"/></w:tblPr><w:tblGrid>")
            .arg(total);
    for (int w : widths)
        xml += QStringLiteral("<w:gridCol w:w=\"%1\"/>").arg(w);
    xml += QLatin1String("</w:tblGrid>");
    const qsizetype columns = headers.size();
    const auto figure = [](qsizetype c) { return c == 0 || c >= kResultsFixedLeading; };
    xml += QLatin1String("<w:tr><w:trPr><w:cantSplit/><w:tblHeader/></w:trPr>");
    for (qsizetype c = 0; c < columns; ++c)
        xml += Cell(headers[c], widths[c], figure(c), true, false, true, true);
    xml += QLatin1String("</w:tr>");
    for (qsizetype r = 0; r < block.Entries.size(); ++r) {
        if ((r & 0x3FF) == 0x3FF && ReadCancelled())
            return {};
        const ResultsEntry& entry = block.Entries[r];
        const bool podium = entry.Place >= 1 && entry.Place <= 3;
        // Every row but the last keeps with the next: Word then moves a class
        // that fits on a page to the next page as a whole.
        const bool keepNext = r + 1 < block.Entries.size();
        const QStringList cells = ResultsCells(entry);
        xml += QLatin1String("<w:tr><w:trPr><w:cantSplit/></w:trPr>");
        for (qsizetype c = 0; c < columns; ++c) {
            const bool italic = IsTestRun(list, c) || (c == columns - 1 && entry.Place == 0);
            xml += Cell(cells[c], widths[c], figure(c), podium, italic, keepNext, false);
        }
        xml += QLatin1String("</w:tr>");
    }
    return xml + QLatin1String("</w:tbl>");
}

QByteArray DocumentXml(const ResultsList& list, bool landscape, bool& cancelled)
{
    const int pageWidth = landscape ? kA4LongTwips : kA4ShortTwips;
    const int pageHeight = landscape ? kA4ShortTwips : kA4LongTwips;
    const QStringList headers = ResultsHeaders(list);
    const QList<int> widths = ColumnWidths(list, headers, pageWidth - 2 * kMarginTwips);
    // Gathered as UTF-8 class by class: a long list's text is never held twice.
    QByteArray xml =
        (QLatin1String(kXmlDeclaration) + QStringLiteral("<w:document %1><w:body>").arg(kWordNamespaces))
            .toUtf8();
    for (const ResultsClass& block : list.Classes) {
        xml +=
            (QLatin1String("<w:p><w:pPr><w:keepNext/><w:spacing w:before=\"360\" w:after=\"120\"/></w:pPr>") +
             Run(ResultsClassHeading(block.Name, false), true, false, 28) + QLatin1String("</w:p>"))
                .toUtf8();
        xml += TableXml(list, block, headers, widths).toUtf8();
        // Looked at after every class and now and then within one (TableXml).
        if (ReadCancelled()) {
            cancelled = true;
            return {};
        }
    }
    xml +=
        QStringLiteral("<w:p/><w:sectPr><w:headerReference w:type=\"default\" r:id=\"rId2\"/>"
                       "<w:footerReference w:type=\"default\" r:id=\"rId3\"/>"
                       "<w:pgSz w:w=\"%1\" w:h=\"%2\"%3/>"
                       "<w:pgMar w:top=\"%4\" w:right=\"%4\" w:bottom=\"%4\" w:left=\"%4\" w:header=\"567\" "
                       "w:footer=\"567\" w:gutter=\"0\"/></w:sectPr></w:body></w:document>")
            .arg(pageWidth)
            .arg(pageHeight)
            .arg(landscape ? QStringLiteral(" w:orient=\"landscape\"") : QString())
            .arg(kMarginTwips)
            .toUtf8();
    return xml;
}

QByteArray HeaderXml(const ResultsList& list)
{
    const QString subtitle = ResultsSubtitle(list);
    QString xml = QLatin1String(kXmlDeclaration) + QStringLiteral("<w:hdr %1>").arg(kWordNamespaces) +
                  QLatin1String("<w:p>") + Run(ResultsHeadline(list), true, false, 36) +
                  QLatin1String("</w:p>");
    xml += QLatin1String("<w:p><w:pPr><w:pBdr><w:bottom w:val=\"single\" w:sz=\"8\" w:space=\"4\" "
                         "w:color=\"auto\"/></w:pBdr></w:pPr>");
    if (!subtitle.isEmpty())
        xml += Run(subtitle);
    return (xml + QLatin1String("</w:p></w:hdr>")).toUtf8();
}

QByteArray FooterXml()
{
    return QByteArray(kXmlDeclaration) + "<w:ftr " + kWordNamespaces +
           "><w:p><w:pPr><w:jc w:val=\"right\"/></w:pPr>"
           "<w:r><w:t xml:space=\"preserve\">Seite </w:t></w:r>"
           "<w:fldSimple w:instr=\" PAGE \"><w:r><w:t>1</w:t></w:r></w:fldSimple>"
           "<w:r><w:t xml:space=\"preserve\"> von </w:t></w:r>"
           "<w:fldSimple w:instr=\" NUMPAGES \"><w:r><w:t>1</w:t></w:r></w:fldSimple>"
           "</w:p></w:ftr>";
}

QByteArray StylesXml()
{
    return QByteArray(kXmlDeclaration) +
           "<w:styles xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\">"
           "<w:docDefaults><w:rPrDefault><w:rPr><w:rFonts w:ascii=\"Arial\" w:hAnsi=\"Arial\" "
           "w:cs=\"Arial\"/>"
           "<w:sz w:val=\"" +
           QByteArray::number(kFontHalfPoints) +
           "\"/><w:lang w:val=\"de-DE\"/></w:rPr></w:rPrDefault>"
           "<w:pPrDefault><w:pPr><w:spacing w:after=\"0\"/></w:pPr></w:pPrDefault></w:docDefaults>"
           "<w:style w:type=\"paragraph\" w:default=\"1\" w:styleId=\"Standard\"><w:name "
           "w:val=\"Normal\"/></w:style>"
           "</w:styles>";
}

} // namespace

bool ResultsDocumentBytes(const ResultsList& list, QByteArray& bytes, QString& reason)
{
    const bool landscape = list.RunColumns.size() > 3;
    bool cancelled = false;
    const QByteArray document = DocumentXml(list, landscape, cancelled);
    if (cancelled) {
        reason = QString::fromUtf16(kReadCancelledReason);
        return false;
    }
    const QList<std::pair<QString, QByteArray>> parts{
        {QStringLiteral("[Content_Types].xml"),
         QByteArray(kXmlDeclaration) +
             "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
             "<Default Extension=\"rels\" "
             "ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
             "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
             "<Override PartName=\"/word/document.xml\" ContentType=\"application/"
             "vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml\"/>"
             "<Override PartName=\"/word/styles.xml\" ContentType=\"application/"
             "vnd.openxmlformats-officedocument.wordprocessingml.styles+xml\"/>"
             "<Override PartName=\"/word/header1.xml\" ContentType=\"application/"
             "vnd.openxmlformats-officedocument.wordprocessingml.header+xml\"/>"
             "<Override PartName=\"/word/footer1.xml\" ContentType=\"application/"
             "vnd.openxmlformats-officedocument.wordprocessingml.footer+xml\"/>"
             "</Types>"},
        {QStringLiteral("_rels/.rels"),
         QByteArray(kXmlDeclaration) +
             "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
             "<Relationship Id=\"rId1\" "
             "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/"
             "officeDocument\" Target=\"word/document.xml\"/></Relationships>"},
        {QStringLiteral("word/_rels/document.xml.rels"),
         QByteArray(kXmlDeclaration) +
             "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
             "<Relationship Id=\"rId1\" "
             "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/"
             "styles\" Target=\"styles.xml\"/>"
             "<Relationship Id=\"rId2\" "
             "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/"
             "header\" Target=\"header1.xml\"/>"
             "<Relationship Id=\"rId3\" "
             "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/"
             "footer\" Target=\"footer1.xml\"/></Relationships>"},
        {QStringLiteral("word/document.xml"), document},
        {QStringLiteral("word/styles.xml"), StylesXml()},
        {QStringLiteral("word/header1.xml"), HeaderXml(list)},
        {QStringLiteral("word/footer1.xml"), FooterXml()},
    };
    return PackZip(parts, bytes, reason);
}

bool SaveResultsDocument(const QString& fileName, const ResultsList& list, QString& error)
{
    QByteArray bytes;
    QString reason;
    if (ResultsDocumentBytes(list, bytes, reason) && !ReadCancelled() &&
        ReplaceFileContents(fileName, bytes, reason))
        return true;
    // Called off while it was built: the file stays as it was.
    if (ReadCancelled())
        return false;
    error = QStringLiteral("Das Dokument %1 konnte nicht erstellt werden: %2")
                .arg(QDir::toNativeSeparators(fileName), reason);
    return false;
}
