#include "AudienceView.h"

#include "ProtocolLogic.h"
#include "RaceSession.h"
#include "RunTime.h"

#include <QHash>
#include <QMap>
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

} // namespace

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
    view.laneCount = run.LaneCount();
    for (int lane : {1, 2}) {
        LiveLane& shown = view.lanes[lane - 1];
        const QString key = session.LaneKey(lane);
        shown.starter = session.EntryText(key);
        shown.className = results.Cell(key, ColKlasse);
        if (run.LaneRunning(lane)) {
            shown.state = LiveLane::State::Running;
            shown.time = FormatRunTime(run.Elapsed(lane, now));
        } else if (run.State() != RunState::Ready && run.Ticks().stop.at(lane - 1) != 0) {
            shown.state = LiveLane::State::Stopped;
            const int col = session.LaneRunColumn(lane);
            const QString cell = col >= 0 ? results.Cell(key, col) : QString();
            shown.time = cell.isEmpty() ? FormatRunTime(run.Elapsed(lane, now)) : cell;
            const bool known = results.IndexOf(key) >= 0;
            shown.unconfirmed = known && session.TimeUnconfirmed(key, col);
            if (known && !shown.unconfirmed) {
                shown.place = results.Cell(key, ColPlatz).trimmed();
                if (!shown.place.isEmpty())
                    shown.gap = GapToClassLeader(view.rows, shown.className, results.Cell(key, ColGesamt));
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
        for (int col = ColLauf1 + view.testRuns; col <= ColLauf6; ++col) {
            if (ParseRunTime(cells.value(col)) != InvalidTime)
                ++shown.countedRuns;
        }
    }
    return lanes;
}

QList<ScoreboardClass> ScoreboardStandingsOf(const TResultsModel& results)
{
    // One class however it is written; its heading is the first spelling met.
    QMap<QString, QList<QStringList>> byClass;
    QHash<QString, QString> headingOfClass;
    for (int i = 0; i < results.RowCount(); ++i) {
        const QStringList& row = results.Row(i);
        if (!row.value(ColPlatz).trimmed().isEmpty()) {
            const QString key = ClassKey(row.value(ColKlasse));
            byClass[key].append(row);
            if (!headingOfClass.contains(key))
                headingOfClass.insert(key, row.value(ColKlasse).trimmed());
        }
    }
    QList<ScoreboardClass> classes;
    for (auto it = byClass.begin(); it != byClass.end(); ++it) {
        QList<QStringList>& rows = it.value();
        std::stable_sort(rows.begin(), rows.end(), [](const QStringList& a, const QStringList& b) {
            return PlaceOrder(a.value(ColPlatz)) < PlaceOrder(b.value(ColPlatz));
        });
        ScoreboardClass standing{headingOfClass.value(it.key()), {}};
        for (const QStringList& row : rows)
            standing.rows.append({row.value(ColPlatz).trimmed(), StandingsName(row), row.value(ColGesamt)});
        classes.append(standing);
    }
    return classes;
}
