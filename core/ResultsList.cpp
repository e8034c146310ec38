#include "ResultsList.h"

#include "ProtocolLogic.h"

#include <QHash>
#include <algorithm>
#include <cmath>

namespace {

// The protocol's place text as a number; 0 when it is none.
int PlaceNumber(const QString& text)
{
    bool ok = false;
    const int place = text.trimmed().toInt(&ok);
    return ok && place > 0 ? place : 0;
}

} // namespace

QString ResultsEntry::FullName() const
{
    const QString first = Vorname.trimmed();
    const QString last = Name.trimmed();
    return first.isEmpty() || last.isEmpty() ? first + last : first + u' ' + last;
}

int ResultsList::StarterCount() const
{
    int count = 0;
    for (const ResultsClass& block : Classes)
        count += int(block.Entries.size());
    return count;
}

QStringList ResultsHeaders(const ResultsList& list)
{
    return QStringList{QStringLiteral("Nr."), QStringLiteral("Name"), QStringLiteral("Verein")} +
           list.RunHeaders + QStringList{QStringLiteral("Gesamt"), QStringLiteral("Platz")};
}

QStringList ResultsCells(const ResultsEntry& entry)
{
    return QStringList{entry.Nr, entry.FullName(), entry.Verein} + entry.Runs +
           QStringList{entry.Gesamt,
                       entry.Place > 0 ? QStringLiteral("%1.").arg(entry.Place) : kWithoutRanking};
}

QString ResultsDateText(const QDate& date)
{
    return date.isValid() ? date.toString(QStringLiteral("dd.MM.yyyy")) : QString();
}

QString ResultsHeadline(const ResultsList& list)
{
    return list.Title.isEmpty() ? QStringLiteral("Ergebnisliste") : list.Title;
}

QString ResultsSubtitle(const ResultsList& list)
{
    const QString date = ResultsDateText(list.Date);
    if (list.Title.isEmpty())
        return date;
    return date.isEmpty() ? QStringLiteral("Ergebnisliste") : QStringLiteral("Ergebnisliste – ") + date;
}

QString ResultsClassHeading(const QString& className, bool continued)
{
    const QString name = className.isEmpty() ? QStringLiteral("ohne Klasse") : className;
    return continued ? name + QStringLiteral(" (Fortsetzung)") : name;
}

ResultsList BuildResultsList(const ProtocolTable& table, int probeLaufe, const QString& title,
                             const QDate& date)
{
    ResultsList list;
    list.Title = title.trimmed();
    list.Date = date;
    probeLaufe = std::clamp(probeLaufe, 0, RunColumnCount);

    QList<const QStringList*> rows;
    for (qsizetype r = 1; r < table.size(); ++r) {
        const QStringList& row = table[r];
        if (row.value(ColNr).trimmed().isEmpty() && row.value(ColName).trimmed().isEmpty() &&
            row.value(ColVorname).trimmed().isEmpty())
            continue;
        rows.append(&row);
    }
    // A run nobody has an entry in yet is left out, so an unfinished race
    // doesn't show empty columns.
    for (int run = 0; run < RunColumnCount; ++run) {
        const bool used = std::any_of(rows.begin(), rows.end(), [run](const QStringList* row) {
            return !row->value(ColLauf1 + run).trimmed().isEmpty();
        });
        if (!used)
            continue;
        list.RunColumns.append(run);
        list.RunHeaders.append(RunName(run, probeLaufe));
    }

    QHash<QString, int> classIndex;
    for (const QStringList* row : std::as_const(rows)) {
        // One block for a class however it is written, as the places count it.
        const QString className = row->value(ColKlasse).trimmed();
        auto found = classIndex.constFind(ClassKey(className));
        if (found == classIndex.cend()) {
            found = classIndex.insert(ClassKey(className), int(list.Classes.size()));
            list.Classes.append(ResultsClass{className, {}});
        }
        ResultsEntry entry;
        entry.Nr = row->value(ColNr).trimmed();
        entry.Name = row->value(ColName).trimmed();
        entry.Vorname = row->value(ColVorname).trimmed();
        entry.Verein = row->value(ColVerein).trimmed();
        for (int run : std::as_const(list.RunColumns))
            entry.Runs.append(row->value(ColLauf1 + run).trimmed());
        entry.Gesamt = row->value(ColGesamt).trimmed();
        // A place beside an empty or "EL" total is a leftover of an earlier ranking, no place.
        if (!entry.Gesamt.isEmpty() && entry.Gesamt != u"EL")
            entry.Place = PlaceNumber(row->value(ColPlatz));
        list.Classes[*found].Entries.append(entry);
    }
    for (ResultsClass& block : list.Classes) {
        std::stable_sort(block.Entries.begin(), block.Entries.end(),
                         [](const ResultsEntry& a, const ResultsEntry& b) {
                             if ((a.Place > 0) != (b.Place > 0))
                                 return a.Place > 0;
                             return a.Place < b.Place;
                         });
    }
    return list;
}

ResultsPages PaginateResults(const QList<int>& rowsPerBlock, double headingHeight, double rowHeight,
                             double gapHeight, double pageSpace)
{
    ResultsPages pages(1);
    double used = 0;
    const auto newPage = [&] {
        if (!pages.last().isEmpty()) {
            pages.emplaceBack();
            used = 0;
        }
    };
    for (int block = 0; block < rowsPerBlock.size(); ++block) {
        const int rows = std::max(0, rowsPerBlock[block]);
        const double height = headingHeight + rows * rowHeight;
        if (used > 0 && used + gapHeight + height <= pageSpace) {
            pages.last().append({block, 0, rows, false});
            used += gapHeight + height;
            continue;
        }
        newPage();
        if (height <= pageSpace) {
            pages.last().append({block, 0, rows, false});
            used = height;
            continue;
        }
        // Longer than a page: as many rows on each page as fit under the heading.
        const double fit = rowHeight > 0 ? std::floor((pageSpace - headingHeight) / rowHeight) : rows;
        const int perPage = int(std::clamp<double>(fit, 1, std::max(rows, 1)));
        for (int first = 0; first < rows; first += perPage) {
            if (first > 0)
                newPage();
            const int end = std::min(rows, first + perPage);
            pages.last().append({block, first, end, first > 0});
            used = headingHeight + (end - first) * rowHeight;
        }
    }
    return pages;
}

QList<Certificate> BuildCertificates(const ResultsList& list, bool allPlaced)
{
    QList<Certificate> certificates;
    for (const ResultsClass& block : list.Classes) {
        for (const ResultsEntry& entry : block.Entries) {
            if (entry.Place <= 0 || (!allPlaced && entry.Place > 3))
                continue;
            certificates.append({entry.FullName(), entry.Verein, block.Name,
                                 QStringLiteral("%1. Platz").arg(entry.Place), entry.Gesamt});
        }
    }
    return certificates;
}
