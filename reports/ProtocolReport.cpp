#include "ProtocolReport.h"

#include <algorithm>

const QStringList& ReportHeaders()
{
    static const QStringList headers = {"Nr.",   "Name",  "Vorname", "Verein", "Klasse", "Lauf1", "Lauf2",
                                        "Lauf3", "Lauf4", "Lauf5",   "Lauf6",  "Gesamt", "Platz"};
    return headers;
}

ProtocolReport ReadProtocolReport(const ProtocolTable& table, const QString& title, int probeLaufe)
{
    ProtocolReport report;
    report.Title = title;
    report.ProbeLaufe = std::clamp(probeLaufe, 0, 5);
    report.Rows.reserve(std::max<qsizetype>(table.size() - 1, 0));
    for (qsizetype r = 1; r < table.size(); ++r) {
        QStringList cells = table.at(r).mid(0, kReportColumnCount);
        while (cells.size() < kReportColumnCount)
            cells.append(QString());
        report.Rows.append(std::move(cells));
    }
    return report;
}

bool IsTestRunColumn(int col, int probeLaufe)
{
    return probeLaufe > 0 && col >= kReportFirstRunColumn && col <= kReportFirstRunColumn - 1 + probeLaufe;
}
