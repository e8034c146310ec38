#include "ProtocolDocument.h"

#include "FileReplace.h"
#include "ZipArchive.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QXmlStreamReader>
#include <algorithm>

namespace {

const QString kDocumentPart = QStringLiteral("word/document.xml");
constexpr qint64 kMaxTemplateSize = 64 * 1024 * 1024;
// The text width of an A4 landscape page with 2 cm margins, in twentieths of a point.
constexpr int kTableWidthTwips = 14570;

// Cell text as XML character data: markup escaped, characters XML can't hold
// dropped, TABs and line breaks as blanks.
QString XmlText(const QString& text)
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

QString TableXml(const ProtocolTable& block)
{
    qsizetype columns = 0;
    for (const QStringList& row : block)
        columns = std::max(columns, row.size());
    // Column widths follow the longest text of each column, at least three characters.
    QList<qsizetype> longest(columns, 3);
    qsizetype total = 0;
    for (qsizetype col = 0; col < columns; ++col) {
        for (const QStringList& row : block)
            longest[col] = std::max(longest[col], col < row.size() ? row[col].size() : 0);
        longest[col] = std::min<qsizetype>(longest[col], 40);
        total += longest[col];
    }
    QString xml = QStringLiteral("<w:tbl><w:tblPr><w:tblW w:w=\"5000\" w:type=\"pct\"/><w:tblBorders>"
                                 "<w:top w:val=\"single\" w:sz=\"4\" w:space=\"0\" w:color=\"auto\"/>"
                                 "<w:left w:val=\"single\" w:sz=\"4\" w:space=\"0\" w:color=\"auto\"/>"
                                 "<w:bottom w:val=\"single\" w:sz=\"4\" w:space=\"0\" w:color=\"auto\"/>"
                                 "<w:right w:val=\"single\" w:sz=\"4\" w:space=\"0\" w:color=\"auto\"/>"
                                 "<w:insideH w:val=\"single\" w:sz=\"4\" w:space=\"0\" w:color=\"auto\"/>"
                                 "<w:insideV w:val=\"single\" w:sz=\"4\" w:space=\"0\" w:color=\"auto\"/>"
                                 "</w:tblBorders><w:tblLook w:val=\"0000\"/></w:tblPr><w:tblGrid>");
    QList<int> widths;
    for (qsizetype col = 0; col < columns; ++col) {
        widths.append(int(kTableWidthTwips * longest[col] / std::max<qsizetype>(total, 1)));
        xml += QStringLiteral("<w:gridCol w:w=\"%1\"/>").arg(widths.last());
    }
    xml += QStringLiteral("</w:tblGrid>");
    for (qsizetype r = 0; r < block.size(); ++r) {
        xml += r == 0 ? QStringLiteral("<w:tr><w:trPr><w:tblHeader/></w:trPr>") : QStringLiteral("<w:tr>");
        const QStringList& row = block[r];
        for (qsizetype col = 0; col < columns; ++col) {
            xml += QStringLiteral("<w:tc><w:tcPr><w:tcW w:w=\"%1\" w:type=\"dxa\"/></w:tcPr><w:p>")
                       .arg(widths[col]);
            const QString text = col < row.size() ? XmlText(row[col]) : QString();
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
                         QString& reason)
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
    const QString table = TableXml(block);
    QString document;
    if (placeholderEnd >= 0)
        document = text.left(placeholderStart) + table + text.mid(placeholderEnd);
    else
        document = text.left(bodyStart) + table + text.mid(bodyStart);
    result = document.toUtf8();
    return true;
}

bool ProtocolDocumentBytes(const QByteArray& templateBytes, const ProtocolTable& block, QByteArray& bytes,
                           QString& reason)
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
    QByteArray changed;
    return InsertProtocolTable(documentXml, block, changed, reason) &&
           ReplaceZipPart(templateBytes, kDocumentPart, changed, bytes, reason);
}

bool SaveProtocolDocument(const QString& templatePath, const QString& fileName, const ProtocolTable& block,
                          QString& error)
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
        if (ProtocolDocumentBytes(templateBytes, block, bytes, reason) &&
            ReplaceFileContents(fileName, bytes, reason))
            return true;
    }
    error = QStringLiteral("Das Dokument %1 konnte nicht erstellt werden: %2")
                .arg(QDir::toNativeSeparators(fileName), reason);
    return false;
}
