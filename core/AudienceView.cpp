#include "AudienceView.h"

#include "ProtocolLogic.h"
#include "RaceSession.h"
#include "RunTime.h"

#include <QHash>
#include <QMap>
#include <QPair>
#include <QSet>
#include <algorithm>
#include <limits>

namespace {

// The protocol's columns up to the place; the load order stays the program's.
constexpr int kShownColumns = ColPlatz + 1;

// A place as the standings sort it: a row without one last.
int PlaceOrder(const QString& place)
{
    bool ok = false;
    const int number = place.trimmed().toInt(&ok);
    return ok ? number : std::numeric_limits<int>::max();
}

QString StandingsName(const QStringList& row)
{
    QStringList parts;
    for (const int col : {ColNr, ColVorname, ColName}) {
        if (!row.value(col).trimmed().isEmpty())
            parts << row.value(col).trimmed();
    }
    return parts.join(QLatin1Char(' '));
}

int CountedRunsOf(const QStringList& row, int testRuns, int allRuns)
{
    int runs = 0;
    const int last = ColLauf1 - 1 + std::clamp(allRuns, 0, RunColumnCount);
    for (int col = ColLauf1 + std::clamp(testRuns, 0, RunColumnCount); col <= last; ++col) {
        if (ParseRunTime(row.value(col)) != InvalidTime)
            ++runs;
    }
    return runs;
}

} // namespace

QList<AudiencePlace> AudiencePlaces(const QList<QStringList>& rows, int testRuns, int allRuns)
{
    QList<AudiencePlace> places(rows.size());
    // Per class: the counted runs of its placed rows, and each row's total as
    // its cells give it (the total column may still wait for the next ranking).
    QHash<QString, QSet<int>> runCountsOfClass;
    QList<int> totals(rows.size(), InvalidTime);
    QStringList classes;
    classes.reserve(rows.size());
    for (int i = 0; i < rows.size(); ++i) {
        const QStringList& row = rows.at(i);
        classes << ClassKey(row.value(ColKlasse));
        AudiencePlace& shown = places[i];
        shown.runs = CountedRunsOf(row, testRuns, allRuns);
        shown.place = row.value(ColPlatz).trimmed();
        shown.total = row.value(ColGesamt);
        if (shown.place.isEmpty())
            continue;
        totals[i] = ParseRunTime(ComputeTotal(row, testRuns, allRuns));
        runCountsOfClass[classes.at(i)].insert(shown.runs);
    }
    // Grouped by class and runs: the best total of each group.
    QHash<QPair<QString, int>, int> best;
    for (int i = 0; i < rows.size(); ++i) {
        if (places.at(i).place.isEmpty())
            continue;
        const auto group = qMakePair(classes.at(i), places.at(i).runs);
        const auto it = best.constFind(group);
        if (it == best.cend() || totals.at(i) < *it)
            best.insert(group, totals.at(i));
    }
    for (int i = 0; i < rows.size(); ++i) {
        AudiencePlace& shown = places[i];
        if (shown.place.isEmpty())
            continue;
        if (runCountsOfClass.value(classes.at(i)).size() < 2) {
            shown.gap = GapToClassLeader(rows, rows.at(i).value(ColKlasse), rows.at(i).value(ColGesamt));
            continue;
        }
        if (totals.at(i) == InvalidTime) {
            shown.place.clear(); // an "EL" just taken, before the ranking
            continue;
        }
        shown.total = FormatRunTime(totals.at(i));
        // Competition places among those with as many runs: ties share one.
        int ahead = 0;
        for (int j = 0; j < rows.size(); ++j) {
            ahead += !places.at(j).place.isEmpty() && places.at(j).runs == shown.runs &&
                     classes.at(j) == classes.at(i) && totals.at(j) < totals.at(i);
        }
        shown.place = QString::number(ahead + 1);
        shown.afterRuns = shown.runs;
        const int first = best.value(qMakePair(classes.at(i), shown.runs));
        if (totals.at(i) != InvalidTime && first != InvalidTime && totals.at(i) > first)
            shown.gap = u'+' + FormatRunTime(totals.at(i) - first);
    }
    return places;
}

QString AudiencePlaceText(const QString& place, int afterRuns)
{
    if (afterRuns <= 0)
        return QStringLiteral("Platz %1").arg(place);
    return afterRuns == 1 ? QStringLiteral("Platz %1 nach 1 Lauf").arg(place)
                          : QStringLiteral("Platz %1 nach %2 Läufen").arg(place).arg(afterRuns);
}

LiveSnapshot AudienceView(const TRaceSession& session, const QString& title, const QString& date,
                          std::uint32_t now)
{
    const TResultsModel& results = session.Results();
    const TRunCycle& run = session.Run();
    LiveSnapshot view;
    view.title = title;
    view.date = date;
    view.columns = ProtocolHeaders().mid(0, kShownColumns);
    view.rows.reserve(results.RowCount());
    view.unconfirmedRows.reserve(results.RowCount());
    const bool anyDoubt = !session.Unconfirmed().isEmpty();
    for (int i = 0; i < results.RowCount(); ++i) {
        const QStringList& row = results.Row(i);
        view.rows << row.mid(0, kShownColumns);
        bool doubtful = false;
        for (int col = ColLauf1; anyDoubt && !doubtful && col <= ColLauf6; ++col)
            doubtful = session.TimeUnconfirmed(row.value(ColLoadOrder), col);
        view.unconfirmedRows << doubtful;
    }
    view.testRuns = session.CurrentRules().probeLaufe;
    view.places = AudiencePlaces(view.rows, view.testRuns, session.CurrentRules().allLaufe);
    view.laneCount = run.LaneCount();
    for (int lane : {1, 2}) {
        LiveLane& shown = view.lanes[lane - 1];
        const QString key = session.LaneKey(lane);
        shown.starter = session.EntryText(key);
        shown.className = results.Cell(key, ColKlasse);
        if (run.LaneRunning(lane)) {
            shown.state = LiveLane::State::Running;
            shown.elapsedMs = run.Elapsed(lane, now);
            shown.time = FormatRunTime(int(shown.elapsedMs));
        } else if (run.State() != RunState::Ready && run.Ticks().stop.at(lane - 1) != 0) {
            shown.state = LiveLane::State::Stopped;
            const int col = session.LaneRunColumn(lane);
            const QString cell = col >= 0 ? results.Cell(key, col) : QString();
            shown.time = cell.isEmpty() ? FormatRunTime(run.Elapsed(lane, now)) : cell;
            const int index = results.IndexOf(key);
            shown.unconfirmed = index >= 0 && session.TimeUnconfirmed(key, col);
            if (index >= 0 && !shown.unconfirmed) {
                const AudiencePlace& place = view.places.at(index);
                shown.place = place.place;
                shown.gap = place.gap;
                shown.afterRuns = place.afterRuns;
            }
        }
    }
    return view;
}

std::array<ScoreboardLane, 2> ScoreboardLanesOf(const TRaceSession& session, const LiveSnapshot& view)
{
    const TResultsModel& results = session.Results();
    std::array<ScoreboardLane, 2> lanes;
    for (int lane : {1, 2}) {
        const LiveLane& live = view.lanes[lane - 1];
        ScoreboardLane& shown = lanes.at(lane - 1);
        shown.starter = live.starter;
        shown.className = live.className;
        shown.time = live.time;
        shown.unconfirmed = live.unconfirmed;
        shown.phase = live.starter.isEmpty()                   ? ScoreboardLane::Phase::Empty
                      : live.state == LiveLane::State::Running ? ScoreboardLane::Phase::Running
                      : live.state == LiveLane::State::Stopped ? ScoreboardLane::Phase::Stopped
                                                               : ScoreboardLane::Phase::Ready;
        if (shown.phase == ScoreboardLane::Phase::Ready)
            shown.time = FormatRunTime(0);
        const int index = results.IndexOf(session.LaneKey(lane));
        if (index < 0)
            continue;
        const QStringList& cells = results.Row(index);
        // Name and club on lines of their own, so that neither is cut short.
        QStringList name;
        for (int col : {ColNr, ColName, ColVorname}) {
            if (!cells.value(col).trimmed().isEmpty())
                name << cells.value(col).trimmed();
        }
        if (!name.isEmpty())
            shown.starter = name.join(u' ');
        shown.club = cells.value(ColVerein).trimmed();
        if (shown.phase != ScoreboardLane::Phase::Stopped)
            continue;
        shown.place = live.place;
        shown.gap = live.gap;
        shown.afterRuns = live.afterRuns;
        shown.countedRuns = view.places.value(index).runs;
    }
    return lanes;
}

QList<ScoreboardClass> ScoreboardStandingsOf(const LiveSnapshot& view)
{
    // One class however it is written; its heading is the first spelling met.
    // While its round is under way, one part per number of runs, the most first.
    QMap<std::pair<QString, int>, QList<int>> byGroup;
    QHash<QString, QString> headingOfClass;
    for (int i = 0; i < view.rows.size(); ++i) {
        const QStringList& row = view.rows.at(i);
        const AudiencePlace place = view.places.value(i);
        if (place.place.isEmpty())
            continue;
        const QString key = ClassKey(row.value(ColKlasse));
        byGroup[{key, -place.afterRuns}].append(i);
        if (!headingOfClass.contains(key))
            headingOfClass.insert(key, row.value(ColKlasse).trimmed());
    }
    QList<ScoreboardClass> classes;
    for (auto it = byGroup.begin(); it != byGroup.end(); ++it) {
        QList<int>& rows = it.value();
        std::stable_sort(rows.begin(), rows.end(), [&view](int a, int b) {
            return PlaceOrder(view.places.value(a).place) < PlaceOrder(view.places.value(b).place);
        });
        const int afterRuns = -it.key().second;
        QString heading = headingOfClass.value(it.key().first);
        if (afterRuns > 0)
            heading += afterRuns == 1 ? QStringLiteral(" – nach 1 Lauf")
                                      : QStringLiteral(" – nach %1 Läufen").arg(afterRuns);
        ScoreboardClass standing{heading, {}};
        for (const int i : rows) {
            const QStringList& row = view.rows.at(i);
            standing.rows.append(
                {view.places.value(i).place, StandingsName(row), view.places.value(i).total});
        }
        classes.append(standing);
    }
    return classes;
}
