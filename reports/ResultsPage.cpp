#include "ResultsPage.h"

#include "FileReplace.h"
#include "ReadCancel.h"

#include <QDir>

namespace {

void AppendText(QString& out, QStringView text)
{
    for (QChar c : text) {
        switch (c.unicode()) {
        case u'&':
            out += QLatin1String("&amp;");
            break;
        case u'<':
            out += QLatin1String("&lt;");
            break;
        case u'>':
            out += QLatin1String("&gt;");
            break;
        case u'"':
            out += QLatin1String("&quot;");
            break;
        default:
            out += c.unicode() < 0x20 || c.unicode() == 0x7F ? QChar(u' ') : c;
        }
    }
}

QString Escaped(QStringView text)
{
    QString out;
    AppendText(out, text);
    return out;
}

const char kStyle[] = "body{font-family:Verdana,Arial,sans-serif;font-size:11pt;margin:1.5em}\n"
                      "h1{font-size:18pt;margin-bottom:0}\n"
                      "p.datum{margin-top:.3em}\n"
                      "h2{font-size:14pt;margin:1.2em 0 .3em}\n"
                      "section{break-inside:avoid;page-break-inside:avoid}\n"
                      "table{border-collapse:collapse;width:100%}\n"
                      "th{background:#d8d8d8;text-align:left;padding:3px 6px}\n"
                      "td{padding:3px 6px;border-bottom:1px solid #a0a0a0}\n"
                      "th.z,td.z{text-align:right;white-space:nowrap}\n"
                      "tr.podium td{font-weight:bold}\n"
                      "td.ow{font-style:italic}\n"
                      "td.probe{font-style:italic}\n"
                      "thead{display:table-header-group}\n";

} // namespace

QByteArray ResultsPageBytes(const ResultsList& list)
{
    QString out;
    out.reserve(4096 + list.StarterCount() * 300);
    out += QStringLiteral("<!DOCTYPE html>\n<html lang=\"de\">\n<head>\n<meta charset=\"utf-8\">\n<title>");
    AppendText(out, list.Title.isEmpty() ? ResultsHeadline(list)
                                         : list.Title + QStringLiteral(" – Ergebnisliste"));
    out += QStringLiteral("</title>\n<style>\n") + QLatin1String(kStyle) +
           QStringLiteral("</style>\n</head>\n<body>\n");
    out += QStringLiteral("<h1>") + Escaped(ResultsHeadline(list)) + QStringLiteral("</h1>\n");
    const QString subtitle = ResultsSubtitle(list);
    if (!subtitle.isEmpty())
        out += QStringLiteral("<p class=\"datum\">") + Escaped(subtitle) + QStringLiteral("</p>\n");

    const QStringList headers = ResultsHeaders(list);
    const qsizetype columns = headers.size();
    const auto isFigure = [](qsizetype c) { return c == 0 || c >= kResultsFixedLeading; };
    const auto isTestRun = [&list](qsizetype c) {
        const qsizetype run = c - kResultsFixedLeading;
        return run >= 0 && run < list.RunHeaders.size() && list.RunHeaders.at(run).startsWith(u"Probe");
    };
    QString head = QStringLiteral("<thead><tr>");
    for (qsizetype c = 0; c < columns; ++c)
        head += (isFigure(c) ? QStringLiteral("<th class=\"z\">") : QStringLiteral("<th>")) +
                Escaped(headers[c]) + QStringLiteral("</th>");
    head += QStringLiteral("</tr></thead>\n");

    int written = 0;
    for (const ResultsClass& block : list.Classes) {
        out += QStringLiteral("<section>\n<h2>") + Escaped(ResultsClassHeading(block.Name, false)) +
               QStringLiteral("</h2>\n<table>\n") + head + QStringLiteral("<tbody>\n");
        for (const ResultsEntry& entry : block.Entries) {
            // A call-off stops early; the page is then not written.
            if ((++written & 0x3FF) == 0 && ReadCancelled())
                return {};
            const bool podium = entry.Place >= 1 && entry.Place <= 3;
            out += podium ? QStringLiteral("<tr class=\"podium\">") : QStringLiteral("<tr>");
            const QStringList cells = ResultsCells(entry);
            for (qsizetype c = 0; c < columns; ++c) {
                QString classes = isFigure(c) ? QStringLiteral("z") : QString();
                if (isTestRun(c))
                    classes += QStringLiteral(" probe");
                if (c == columns - 1 && entry.Place == 0)
                    classes += QStringLiteral(" ow");
                out += classes.isEmpty() ? QStringLiteral("<td>")
                                         : QStringLiteral("<td class=\"%1\">").arg(classes.trimmed());
                AppendText(out, cells[c]);
                out += QStringLiteral("</td>");
            }
            out += QStringLiteral("</tr>\n");
        }
        out += QStringLiteral("</tbody>\n</table>\n</section>\n");
    }
    out += QStringLiteral("</body>\n</html>\n");
    return out.toUtf8();
}

bool SaveResultsPage(const QString& fileName, const ResultsList& list, QString& error)
{
    const QByteArray bytes = ResultsPageBytes(list);
    // Called off while it was built: an older page stays as it was.
    if (ReadCancelled())
        return false;
    QString reason;
    if (ReplaceFileContents(fileName, bytes, reason))
        return true;
    error = QStringLiteral("Die Ergebnisliste %1 konnte nicht geschrieben werden: %2")
                .arg(QDir::toNativeSeparators(fileName), reason);
    return false;
}
