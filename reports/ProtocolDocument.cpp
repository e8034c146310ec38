#include "ProtocolDocument.h"

#include "FileReplace.h"
#include "ReadCancel.h"
#include "ZipArchive.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QXmlStreamReader>
#include <algorithm>
#include <cmath>

namespace {

const QString kDocumentPart = QStringLiteral("word/document.xml");
constexpr qint64 kMaxTemplateSize = 64 * 1024 * 1024;
// The text width of an A4 landscape page with 2 cm margins, in twentieths of a point.
constexpr int kTableWidthTwips = 14570;
// A column whose longest text, header included, is no longer than this is not wrapped.
constexpr qsizetype kShortColumn = 10;
// The template's text size when its styles don't say (in half points, as Word counts).
constexpr int kDefaultFontHalfPoints = 22;

// The default text size of the template's styles.xml, in half points.
int TemplateFontHalfPoints(const QByteArray& styles)
{
    const qsizetype defaults = styles.indexOf("rPrDefault");
    const qsizetype size = defaults < 0 ? -1 : styles.indexOf("<w:sz ", defaults);
    const qsizetype value = size < 0 ? -1 : styles.indexOf("w:val=\"", size);
    if (value < 0 || value - size > 40)
        return kDefaultFontHalfPoints;
    bool ok = false;
    const int halfPoints = styles.mid(value + 7, 4).split('"').value(0).toInt(&ok);
    return ok && halfPoints >= 8 && halfPoints <= 96 ? halfPoints : kDefaultFontHalfPoints;
}

// Whether a column's texts are numbers, times or places ("12", "31,25",
// "1.234", "EL"): such a column must never wrap.
bool IsFigureColumn(const ProtocolTable& block, qsizetype col)
{
    for (qsizetype r = 1; r < block.size(); ++r) {
        const QString text = col < block[r].size() ? block[r][col] : QString();
        if (text.isEmpty() || text == u"EL")
            continue;
        for (QChar c : text) {
            if (!c.isDigit() && c != u',' && c != u'.' && c != u':')
                return false;
        }
    }
    return true;
}

QString TableXml(const ProtocolTable& block, int fontHalfPoints)
{
    qsizetype columns = 0;
    for (const QStringList& row : block)
        columns = std::max(columns, row.size());
    QList<qsizetype> longest(columns, 1);
    for (qsizetype col = 0; col < columns; ++col) {
        for (const QStringList& row : block)
            longest[col] = std::max(longest[col], col < row.size() ? row[col].size() : 0);
    }
    // Columns of figures and short columns (the header counted: "Gesamt",
    // "Platz") get the width their longest text needs, so they never wrap;
    // the text columns share the rest by their longest text. A character is
    // counted as wide as an Arial "m" falls short of, plus the cell margins.
    const double twipsPerChar = fontHalfPoints * 10 * 0.62;
    constexpr int kCellPadding = 220;
    QList<int> widths(columns, 0);
    QList<bool> fixed(columns, false);
    qint64 fixedTotal = 0;
    qint64 textWeight = 0;
    for (qsizetype col = 0; col < columns; ++col) {
        fixed[col] = longest[col] <= kShortColumn || IsFigureColumn(block, col);
        if (fixed[col]) {
            widths[col] = int(std::ceil(longest[col] * twipsPerChar)) + kCellPadding;
            fixedTotal += widths[col];
        } else {
            textWeight += std::min<qsizetype>(longest[col], 40);
        }
    }
    const qint64 rest = kTableWidthTwips - fixedTotal;
    const int minimumText = int(4 * twipsPerChar) + kCellPadding;
    for (qsizetype col = 0; col < columns; ++col) {
        if (!fixed[col])
            widths[col] = std::max<int>(minimumText, int(rest * std::min<qsizetype>(longest[col], 40) /
                                                         std::max<qint64>(textWeight, 1)));
    }
    // Too wide for the page even so: everything shrinks alike, so the table still fits.
    qint64 total = 0;
    for (int w : std::as_const(widths))
        total += w;
    if (total > kTableWidthTwips) {
        for (int& w : widths)
            w = int(qint64(w) * kTableWidthTwips / total);
    }
    total = 0;
    for (int w : std::as_const(widths))
        total += w;
    QString xml =
        QStringLiteral("<w:tbl><w:tblPr><w:tblW w:w=\"%1\" w:type=\"dxa\"/><w:tblLayout w:type=\"fixed\"/>"
                       "<w:tblBorders>"
                       "<w:top w:val=\"single\" w:sz=\"4\" w:space=\"0\" w:color=\"auto\"/>"
                       "<w:left w:val=\"single\" w:sz=\"4\" w:space=\"0\" w:color=\"auto\"/>"
                       "<w:bottom w:val=\"single\" w:sz=\"4\" w:space=\"0\" w:color=\"auto\"/>"
                       "<w:right w:val=\"single\" w:sz=\"4\" w:space=\"0\" w:color=\"auto\"/>"
                       "<w:insideH w:val=\"single\" w:sz=\"4\" w:space=\"0\" w:color=\"auto\"/>"
                       "<w:insideV w:val=\"single\" w:sz=\"4\" w:space=\"0\" w:color=\"auto\"/>"
                       "</w:tblBorders><w:tblLook w:val=\"0000\"/></w:tblPr><w:tblGrid>")
            .arg(total);
    for (qsizetype col = 0; col < columns; ++col)
        xml += QStringLiteral("<w:gridCol w:w=\"%1\"/>").arg(widths[col]);
    xml += QStringLiteral("</w:tblGrid>");
    for (qsizetype r = 0; r < block.size(); ++r) {
        xml += r == 0 ? QStringLiteral("<w:tr><w:trPr><w:tblHeader/></w:trPr>") : QStringLiteral("<w:tr>");
        const QStringList& row = block[r];
        for (qsizetype col = 0; col < columns; ++col) {
            xml += QStringLiteral("<w:tc><w:tcPr><w:tcW w:w=\"%1\" w:type=\"dxa\"/>%2</w:tcPr><w:p>")
                       .arg(widths[col])
                       .arg(fixed[col] ? QStringLiteral("<w:noWrap/>") : QString());
            const QString text = col < row.size() ? WordXmlText(row[col]) : QString();
            if (!text.isEmpty())
                xml += QStringLiteral("<w:r><w:t xml:space=\"preserve\">") + text +
                       QStringLiteral("</w:t></w:r>");
            xml += QStringLiteral("</w:p></w:tc>");
        }
        xml += QStringLiteral("</w:tr>");
    }
    xml += QStringLiteral("</w:tbl>");
    return xml;
}

} // namespace

bool InsertProtocolTable(const QByteArray& documentXml, const ProtocolTable& block, QByteArray& result,
                         QString& reason, int fontHalfPoints, const QString& title)
{
    // Offsets are taken from the reader over the decoded text, so the table is
    // spliced into that text and everything around it stays as it was.
    const QString text = QString::fromUtf8(documentXml);
    QXmlStreamReader xml(text);
    qint64 bodyStart = -1;
    qint64 placeholderStart = -1;
    qint64 placeholderEnd = -1;
    int depth = 0;
    int bodyDepth = -1;
    // The paragraph being read directly in the body: its start and its text.
    qint64 paragraphStart = -1;
    QString paragraphText;
    int textDepth = 0;
    while (!xml.atEnd() && placeholderEnd < 0) {
        const auto token = xml.readNext();
        if (token == QXmlStreamReader::StartElement) {
            ++depth;
            if (bodyStart < 0 && xml.name() == u"body") {
                bodyStart = xml.characterOffset();
                bodyDepth = depth;
            } else if (bodyDepth > 0 && depth == bodyDepth + 1 && xml.name() == u"p") {
                // The tag's '<': no '<' can stand inside a tag.
                paragraphStart = text.lastIndexOf(u'<', xml.characterOffset() - 1);
                paragraphText.clear();
            } else if (paragraphStart >= 0 && xml.name() == u"t") {
                ++textDepth;
            }
        } else if (token == QXmlStreamReader::EndElement) {
            if (paragraphStart >= 0 && xml.name() == u"t")
                --textDepth;
            if (paragraphStart >= 0 && depth == bodyDepth + 1) {
                if (paragraphText.trimmed() == kProtocolPlaceholder) {
                    placeholderStart = paragraphStart;
                    placeholderEnd = xml.characterOffset();
                }
                paragraphStart = -1;
            }
            if (depth == bodyDepth)
                bodyDepth = -2; // only the first body counts
            --depth;
        } else if (token == QXmlStreamReader::Characters && textDepth > 0) {
            paragraphText += xml.text();
        }
    }
    if (xml.hasError()) {
        reason = QStringLiteral("%1 ist fehlerhaft (%2)").arg(kDocumentPart, xml.errorString());
        return false;
    }
    if (bodyStart < 0) {
        reason = QStringLiteral("%1 hat keinen Textkörper").arg(kDocumentPart);
        return false;
    }
    const int halfPoints = fontHalfPoints > 0 ? fontHalfPoints : kDefaultFontHalfPoints;
    QString table = TableXml(block, halfPoints);
    if (!title.trimmed().isEmpty())
        table =
            QStringLiteral("<w:p><w:r><w:rPr><w:b/><w:sz w:val=\"%1\"/></w:rPr><w:t xml:space=\"preserve\">%2"
                           "</w:t></w:r></w:p>")
                .arg(halfPoints * 3 / 2)
                .arg(WordXmlText(title.trimmed())) +
            table;
    QString document;
    if (placeholderEnd >= 0)
        document = text.left(placeholderStart) + table + text.mid(placeholderEnd);
    else
        document = text.left(bodyStart) + table + text.mid(bodyStart);
    result = document.toUtf8();
    return true;
}

bool ProtocolDocumentBytes(const QByteArray& templateBytes, const ProtocolTable& block, QByteArray& bytes,
                           QString& reason, const QString& title)
{
    QByteArray documentXml;
    const ZipReader zip(templateBytes);
    switch (zip.Read(kDocumentPart, kMaxTemplateSize, documentXml)) {
    case ZipReader::Result::Ok:
        break;
    case ZipReader::Result::Missing:
        reason = zip.IsOpen() ? QStringLiteral("%1 fehlt").arg(kDocumentPart)
                              : QStringLiteral("die Vorlage ist keine .docx-Datei");
        return false;
    case ZipReader::Result::TooLarge:
        reason = QStringLiteral("%1 ist zu groß").arg(kDocumentPart);
        return false;
    case ZipReader::Result::Encrypted:
        reason = QStringLiteral("die Vorlage ist verschlüsselt");
        return false;
    case ZipReader::Result::Broken:
        reason = zip.IsOpen() ? QStringLiteral("%1 ist beschädigt").arg(kDocumentPart)
                              : QStringLiteral("die Vorlage ist keine .docx-Datei");
        return false;
    }
    QByteArray styles;
    zip.Read(QStringLiteral("word/styles.xml"), kMaxTemplateSize, styles);
    QByteArray changed;
    return InsertProtocolTable(documentXml, block, changed, reason, TemplateFontHalfPoints(styles), title) &&
           ReplaceZipPart(templateBytes, kDocumentPart, changed, bytes, reason);
}

bool SaveProtocolDocument(const QString& templatePath, const QString& fileName, const ProtocolTable& block,
                          QString& error, const QString& title)
{
    QString reason;
    QByteArray templateBytes;
    QFile templateFile(templatePath);
    if (!QFileInfo(templatePath).isFile() || !templateFile.open(QIODevice::ReadOnly)) {
        reason = QStringLiteral("die Vorlage %1 kann nicht gelesen werden")
                     .arg(QDir::toNativeSeparators(templatePath));
    } else if (templateFile.size() > kMaxTemplateSize) {
        reason = QStringLiteral("die Vorlage %1 ist zu groß").arg(QDir::toNativeSeparators(templatePath));
    } else {
        templateBytes = templateFile.readAll();
        QByteArray bytes;
        // Called off while it was built: the file stays as it was.
        if (ProtocolDocumentBytes(templateBytes, block, bytes, reason, title) && !ReadCancelled() &&
            ReplaceFileContents(fileName, bytes, reason))
            return true;
    }
    error = QStringLiteral("Das Dokument %1 konnte nicht erstellt werden: %2")
                .arg(QDir::toNativeSeparators(fileName), reason);
    return false;
}

QString WordXmlText(const QString& text)
{
    QString out;
    out.reserve(text.size());
    for (QChar c : text) {
        const char16_t u = c.unicode();
        if (u == u'&')
            out += QStringLiteral("&amp;");
        else if (u == u'<')
            out += QStringLiteral("&lt;");
        else if (u == u'>')
            out += QStringLiteral("&gt;");
        else if (u == u'\t' || u == u'\n' || u == u'\r')
            out += u' ';
        else if (u >= 0x20 && u != 0xFFFE && u != 0xFFFF)
            out += c;
    }
    return out;
}
