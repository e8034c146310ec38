#include "SpectatorView.h"

#include "ProtocolLogic.h"
#include "RaceSession.h"
#include "RunTime.h"

namespace {

// The protocol's columns up to the place; the load order stays the program's.
constexpr int kShownColumns = ColPlatz + 1;

} // namespace

LiveSnapshot SpectatorView(const TRaceSession& session, const QString& title, const QString& date,
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
