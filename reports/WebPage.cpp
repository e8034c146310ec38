#include "WebPage.h"

#include "FileReplace.h"
#include "Maker.h"
#include "ReadCancel.h"
#include "TextCodec.h"

#include <QIODevice>

namespace {

constexpr char kLineEnd[] = "\r\n";

void AppendCodePoint(QByteArray& out, char32_t code)
{
    out.append("&#").append(QByteArray::number(uint(code))).append(';');
}

// Appends text escaped for the page in Windows-1252 bytes.
void AppendText(QByteArray& out, QStringView text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        switch (c) {
        case u'&':
            out.append("&amp;");
            continue;
        case u'<':
            out.append("&lt;");
            continue;
        case u'>':
            out.append("&gt;");
            continue;
        case u'"':
            out.append("&quot;");
            continue;
        default:
            break;
        }
        if (c < 0x20 || (c >= 0x7F && c < 0xA0)) {
            out.append(' ');
            continue;
        }
        if (QChar::isHighSurrogate(c) && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            AppendCodePoint(out, QChar::surrogateToUcs4(c, text[i + 1].unicode()));
            ++i;
            continue;
        }
        if (QChar::isSurrogate(c)) {
            AppendCodePoint(out, QChar::ReplacementCharacter);
            continue;
        }
        const int b = Windows1252Byte(c);
        if (b >= 0)
            out.append(char(b));
        else
            AppendCodePoint(out, c);
    }
}

void AppendHead(QByteArray& out, const ProtocolReport& report)
{
    const QByteArray address(Maker::WebAddress);
    out.append("<HTML>\r\n<HEAD>\r\n");
    out.append("<!--Tarnvik software -->\r\n");
    out.append("<TITLE>");
    AppendText(out, report.Title);
    out.append("</TITLE>\r\n");
    out.append("<meta http-equiv=\"Content-Type\" content=\"text/html; charset=iso-8859-1\">\r\n");
    out.append("<META content=").append(address).append(" name=Webdesign>\r\n");
    out.append("<meta name=\"Webdesign\" content=\"").append(address).append("\">\r\n");
    out.append("<style type=\"text/css\">\r\n"
               "<!--\r\n"
               "body {font-family:Verdana;\r\n"
               "scrollbar-track-color:#F9F9E6;\r\n"
               "scrollbar-face-color:#B0A786}\r\n"
               "table {font-size:10pt}\r\n"
               "a:hover{text-decoration:none; background-color:#E2E6CB}\r\n"
               "-->\r\n");
    out.append("</style></head>\r\n"
               "<body bgcolor=#F9F9E6>\r\n"
               "<div style=\"width:100%; color:#A37E4E\">\r\n");
    out.append("<h1>");
    AppendText(out, report.Title);
    out.append(" Zeitenprotokoll</h1></div>\r\n<br>\r\n");
    out.append("</b><table style=\"BORDER-COLLAPSE: collapse\" bgcolor=#FFFFFF borderColor=#E0E0E0 border=1 "
               "cellpadding=4 width=100%>\r\n");
    out.append(
        "<colgroup valign=top> <col align=right> <col align=centr> <col> <col> <col> <col align=right> "
        "<col align=right> <col align=right> <col align=right> <col align=right> <col align=right> "
        "<col align=right> <col align=right></colgroup>\r\n");
    out.append("<thead bgcolor=#B0A786><tr>\r\n");
    const QStringList& headers = ReportHeaders();
    for (int c = 0; c < kReportColumnCount; ++c) {
        out.append(c == 1 ? "<th nowrap>" : "<th>");
        AppendText(out, headers.at(c));
        out.append("</th>").append(kLineEnd);
    }
    out.append("</tr></thead>\r\n");
}

void AppendRow(QByteArray& out, const QStringList& cells, int probeLaufe)
{
    out.append("<tr>");
    for (int c = 0; c < kReportColumnCount; ++c) {
        out.append("<td>");
        if (IsTestRunColumn(c, probeLaufe))
            out.append("<I>");
        const QString text = cells.value(c);
        if (text.isEmpty())
            out.append("&nbsp;");
        else
            AppendText(out, text);
    }
    out.append("</tr>").append(kLineEnd);
}

void AppendFoot(QByteArray& out, const ProtocolReport& report)
{
    out.append("</table>\r\n");
    out.append("<FONT face=Arial size=4><B>");
    out.append("<P align=right><a style=\"cursor:help\" href=");
    out.append('"').append(Maker::WebAddress).append('"');
    out.append(" title=\"");
    AppendText(out, report.Title);
    out.append("\">");
    constexpr const char* kLogoColours[3] = {"#FF0000", "#009900", "#999999"};
    for (int i = 0; i < 3; ++i) {
        out.append("<FONT color=").append(kLogoColours[i]).append('>');
        AppendText(out, QString::fromUtf8(Maker::LogoPieces[i]));
    }
    out.append("</a>");
    out.append("<FONT color=#666600 size=3>");
    AppendText(out, QString::fromUtf8(Maker::TagLine));
    out.append("</P>\r\n");
    out.append("</body></html>\r\n");
}

} // namespace

QByteArray WebPageBytes(const ProtocolReport& report)
{
    QByteArray out;
    out.reserve(2048 + report.Rows.size() * 200);
    AppendHead(out, report);
    for (qsizetype r = 0; r < report.Rows.size(); ++r) {
        // A call-off stops early; the page is then not written.
        if ((r & 0x3FF) == 0 && ReadCancelled())
            return QByteArray();
        AppendRow(out, report.Rows[r], report.ProbeLaufe);
    }
    AppendFoot(out, report);
    return out;
}

bool WriteWebPage(QIODevice& device, const ProtocolReport& report)
{
    const QByteArray bytes = WebPageBytes(report);
    return device.write(bytes) == bytes.size();
}

bool SaveWebPage(const QString& fileName, const ProtocolReport& report, QString& error)
{
    QString reason;
    const QByteArray bytes = WebPageBytes(report);
    // Called off while it was built: the older page stays as it was.
    if (ReadCancelled())
        return false;
    if (ReplaceFileContents(fileName, bytes, reason))
        return true;
    error = QStringLiteral("Error write file: ") + fileName;
    return false;
}
