#pragma once

#include "BarrierLine.h"
#include "ResultsModel.h"
#include "RunCycle.h"
#include "SerialDevice.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

// One command given to a race session, as it can be given again: a restore
// replays them on a fresh session and reaches the same race.
struct SessionCommand
{
    enum Kind : std::uint8_t {
        Load,       // rows, keys: header, flag: keepLoadOrder
        SetRules,   // numbers: laneCount, probeLaufe, allLaufe, minimum (hundredths)
        SelectLane, // lane, number: position
        Swap,
        // tick, flag: by hand (F5) while the start station is paired; numbers: 1 when
        // a state's run came from a station start with a poor clock agreement
        Start,
        Stop,             // lane, tick, flag: eliminated ("EL" instead of the time)
        EliminateStopped, // lane
        Reset,
        Edit,    // key, number: column, text
        Confirm, // key, number: column
        RepeatRun,
        DeleteRow, // key
        Clear,
        Undo,
        Rank,         // keys: the ranking order
        StopRestored, // lane, tick, number: the column of its result
        Mark,         // key, number: column
        AddStarter,   // rows: the starter's row
        // A light barrier's line as it changed (lane: 1 start line, 2 and 3
        // the finish lines; tick; number: the modem status). What it started
        // or stopped follows as a command of its own; given again, it changes nothing.
        Edge,
        TimedAcrossRestart, // lane: its time will span the program's downtime
        AbandonRun,         // a run that can't go on (the machine restarted): times kept, lanes stay
        ShowByPlace,        // flag: the protocol is shown in the order of the places
        Saved,              // the protocol is in its file: nothing unsaved
        Unplaced,           // lane, key, text: a time kept apart, as a journal's state holds it
        Arm,                // lane: the barrier (1 start, 2 and 3 the finishes), flag: armed
        EndLock,            // the lock ran out: finish barriers waiting for it are armed
        // The start station is paired (flag) or not; keys: the starts it has
        // delivered so far ("session:sequence"), each taken once.
        StationPaired,
        // A start from the station: tick its stamp on the finish's tick, key
        // "session:sequence", flag: the clock agreement was good.
        StationStart, // numbers: the finish's tick as it arrived
        // A finish edge before the station's start came (lane, tick): applied
        // when the start arrives with an earlier stamp.
        PendingStop,
    };
    Kind kind = Load;
    int lane = 0;
    std::uint32_t tick = 0;
    bool flag = false;
    QString key = {};
    QString text = {};
    QList<int> numbers = {};
    QList<QStringList> rows = {};
    QStringList keys = {};
};

// A lane's time that found no starter (none chosen, his row deleted, or all
// six runs full): kept apart, never lost, for the operator to enter by hand.
struct UnplacedTime
{
    int lane = 0;
    QString key; // the lane's starter, if any
    QString text;
    bool operator==(const UnplacedTime&) const = default;
};

// A doubtful run time waiting for the operator: the starter (load-order number)
// and the protocol column of the run.
using TimeMark = std::pair<QString, int>;

// The race as it is: the protocol (the results model), the run (the run cycle),
// which starter each lane shows, the doubtful times, the last run and the undo
// steps. Every change comes in as a command and goes out as a signal; windows,
// scoreboards, the live page and the journal only listen. The tick of a start
// or stop is a parameter of its command, so a session given the same commands
// again (a restore) reaches the same race to the hundredth.
class TRaceSession : public QObject
{
    Q_OBJECT

public:
    explicit TRaceSession(QObject* parent = nullptr);

    struct Rules
    {
        int laneCount = 2;
        int probeLaufe = 0; // test runs before the counted ones
        int allLaufe = 6;   // the last counted run
        int minimumHundredths = 0;
        int lockMs = 10000; // the light barriers' lock after a start
    };

    const TResultsModel& Results() const { return m_results; }
    const TRunCycle& Run() const { return m_run; }
    const Rules& CurrentRules() const { return m_rules; }
    // Every command taken so far (while they are kept).
    const std::vector<SessionCommand>& Commands() const { return m_commands; }
    // A window that journals the race itself keeps no commands: a rank of a
    // long list would keep its whole order each time.
    void KeepCommands(bool keep);
    // Gives each command again, as at the time: a restored race. Nothing given
    // again is reported as taken (CommandTaken).
    void Replay(const std::vector<SessionCommand>& commands, const std::function<void()>& afterEach = {});
    // The commands that make a fresh session this one, as it stands (its
    // protocol, rules, lanes, marks, view, and a run that is going): what a new
    // journal file starts with. Undo steps and the last run are not kept.
    std::vector<SessionCommand> StateCommands() const;

    // ---- What the protocol's file knows.
    // The list's file name, given with its load.
    const QString& FileName() const { return m_fileName; }
    // Changes not yet saved: set by every command that changes the protocol.
    bool Modified() const { return m_modified; }
    // The protocol was saved (or needs no saving).
    void MarkSaved();
    // The protocol is shown in the order of the places ("Sort"); a view
    // choice, kept with the race so a restore shows it the same way.
    bool ShownByPlace() const { return m_shownByPlace; }
    void ShowByPlace(bool byPlace);

    // ---- Rules. The lane count takes effect when no run is going.
    void SetRules(const Rules& rules);

    // ---- The protocol.
    // Makes rows (protocol columns) the protocol and puts the lanes on the first
    // starters without a time in the current run. Rows are kept in the order
    // given, which is the start order. New rows are numbered in that order;
    // with keepLoadOrder the numbers in the rows stay, and a number given twice
    // (a starter written twice) is mended: the later row gets a new number, so
    // that an edit never goes to the wrong copy. Returns how many were mended.
    // Refused (-1) while a run is going.
    // fileName names the list; modified: a restored protocol with unsaved changes.
    int Load(const ProtocolTable& rows, const QStringList& header = {}, bool keepLoadOrder = false,
             const QString& fileName = {}, bool modified = false);
    // The starters in start order, by load-order number.
    const QStringList& StartOrder() const { return m_startOrder; }
    // The protocol rows in start order (what a saved file keeps).
    ProtocolTable RowsInStartOrder() const;
    // An edit of one cell: a run time is checked and written as the program
    // writes times (a doubtful mark goes), the total and place follow at the
    // next ranking. False for an unknown starter or column, a load-order
    // number, or a run column given something that is no time, "EL" or empty.
    bool Edit(const QString& key, int col, const QString& typed);
    // Takes one starter out (rows and lanes); refused while a run is going.
    bool DeleteRow(const QString& key);
    // A late entry: a starter who registered on race day joins the end of the
    // start order with a load-order number of his own, and Ctrl+Z takes him
    // back. Refused while a run is going, without a name, and for a start
    // number another starter has. Returns his load-order number, or empty.
    QString AddStarter(const QStringList& cells);
    // A starter with this start number (blanks aside), if any.
    bool StartNumberTaken(const QString& number) const;
    // The number a late entry is offered: one above the highest number given.
    QString NextStartNumber() const;
    // Empties the protocol; refused while a run is going.
    bool Clear();
    // The totals from the counted runs.
    void ComputeTotals();
    // Totals from the counted runs, then places in the ranking order: by class
    // as the places count it (ordered as the class column's kind: numbers,
    // times, dates or text), then total, then start order. A given order (a
    // restored journal's) is taken instead; rows not named keep their place at
    // the end.
    void Rank(const QStringList& rankingOrder = {});
    // The order places are counted in (RankingOrder's rule), on the totals as they stand.
    QStringList RankingOrder() const;
    // The order the protocol is shown and saved in (start order, or ranked);
    // places stay as ranked. Starters not named keep their place at the end.
    void ShowInOrder(const QStringList& keys);

    // ---- The lanes: a position in the start order, or -1 for none.
    int LanePosition(int lane) const;
    // The load-order number of the lane's starter, or empty.
    QString LaneKey(int lane) const;
    // "Nr Name Vorname Verein" of a starter, as the lane lists show it.
    QString EntryText(const QString& key) const;
    // Refused while a run is going, and for a position outside the list.
    bool SelectLane(int lane, int position);
    // Lane 1 takes lane 2's starter and the other way round.
    bool Swap();
    // Lane 1 runs behind lane 2 in the list: every later pair comes reversed.
    bool LanesSwapped() const;

    // ---- The run.
    // The start is available (START is green, a start barrier starts): no run
    // going, a list, and with two lanes not one starter on both.
    bool StartAvailable() const;
    // Idle: no run from START until "0,00" (loads, deletions, settings wait).
    bool Idle() const { return m_run.State() == RunState::Ready; }
    // The start command (F5) is taken whenever no run is going, also without
    // starters: such a lane's time is kept apart. Only two lanes on one starter
    // are refused, whose two times would both go to him.
    // byHand: F5 as the fallback while the start station is paired (journalled as such).
    bool Start(std::uint32_t tick, bool byHand = false);

    // ---- The start station at the top of the track.
    // Paired, its starts start the runs and the finish's own start line is
    // ignored (F5 stays as the fallback). Unpairing drops pending stops.
    bool StationPaired() const { return m_stationPaired; }
    // The station's starts taken ("session:sequence"), newest last.
    const QStringList& StationStarts() const { return m_stationStarts; }
    void SetStationPaired(bool paired);
    // A start stamped at the station, its stamp converted to the finish's tick.
    // Taken once per identity ("session:sequence"), only with no run going,
    // the start barrier armed and a stamp after the last run; lanes whose
    // finish edge came first stop at their kept tick. A start whose clock
    // agreement was not good makes the run's times doubtful.
    // now: the finish's tick as it arrived (a start from the outbox of hours ago
    // is refused).
    bool StationStart(std::uint32_t tick, const QString& identity, bool clockGood, std::uint32_t now);
    // A finish edge came while the station's start was still on its way: the first
    // one kept. A lane keeps up to kPendingStopsKept: one within the lock (someone
    // crossing the beam) must not push out the car's own edge that follows.
    std::optional<std::uint32_t> PendingStop(int lane) const;
    bool KeepPendingStop(int lane, std::uint32_t tick);
    static constexpr int kPendingStopsKept = 16;
    // Stops a running lane: the time (or "EL") goes to its starter's next run
    // column. Returns the lane's time in ms; none when the lane does not run.
    std::optional<int> Stop(int lane, std::uint32_t tick, bool eliminated = false);
    // "EL" instead of the time a stopped lane just recorded, until "0,00".
    bool EliminateStopped(int lane);
    bool Reset();
    // The protocol column this run wrote for the lane, or -1.
    int LaneRunColumn(int lane) const { return lane == 1 || lane == 2 ? m_laneRunColumn.at(lane - 1) : -1; }
    // A modem line of the light barriers changed, as the port reported it
    // (line 1: the start barrier on CTS, 2 and 3: the finish barriers of lanes
    // 1 and 2 on DSR and RLSD), with its status word and tick, the edge the
    // settings choose for it (0 "ON", 1 "OFF") and the barriers' armed states.
    // Every change goes to the record; a change that is the chosen edge is
    // weighed (StartEdge, FinishEdge) and a resulting start or stop carried out.
    BarrierCommand LineChanged(int line, std::uint32_t modemStatus, std::uint32_t tick, int edgeChoice);
    // The barriers (1 start, 2 and 3 the finishes of lanes 1 and 2) are
    // armed by the operator; a start disarms the start barrier (the start crew
    // arms it when the next pair stands ready), a lane's stop its finish
    // barrier, and the lock's end arms both finish barriers.
    bool BarrierArmed(int barrier) const;
    // As an edge at tick finds it: a finish barrier waiting for the lock's end
    // is armed from that tick on, however late the window hears of it.
    bool BarrierArmedAt(int barrier, std::uint32_t tick) const;
    void ArmBarrier(int barrier, bool armed);
    // The lock ran out (the window's timer) or ends early.
    void EndLock();
    // The lock's timer, for a window that shows it.
    const QTimer& LockTimer() const { return m_run.LockTimer(); }
    // A lane that runs on through a restore: its time will span the downtime.
    void MarkTimedAcrossRestart(int lane);
    // A run that can't go on after a restore (the machine restarted): the
    // times already recorded stay, the lanes stay where they were, and the run
    // is to be repeated.
    bool AbandonRun();

    // A restored run's lane that had stopped: it stops again at its tick, and
    // its result is the protocol's already (column col, or -1).
    bool StopRestored(int lane, std::uint32_t tick, int col);

    // ---- Doubtful times.
    const QList<TimeMark>& Unconfirmed() const { return m_unconfirmed; }
    bool TimeUnconfirmed(const QString& key, int col) const { return m_unconfirmed.contains({key, col}); }
    // The mark Ctrl+B confirms: the given starter's, else the one waiting longest.
    std::optional<TimeMark> MarkToConfirm(const QString& preferredKey) const;
    bool Confirm(const QString& key, int col);
    // Marks a time doubtful again, as a restored journal found it.
    void RestoreMark(const QString& key, int col);

    // Times kept apart since the list was loaded, in order.
    const QList<UnplacedTime>& UnplacedTimes() const { return m_unplaced; }

    // ---- "Lauf wiederholen": the last run's cells, taken back with its pair.
    const QList<TimeMark>& LastRunCells() const { return m_lastRunCells; }
    bool CanRepeatRun() const { return !m_lastRunCells.isEmpty() && !m_run.Timing(); }
    bool RepeatRun();

    // ---- "Rückgängig": deletions, clearings and repeated runs.
    bool CanUndo() const { return !m_undo.empty(); }
    // What the next undo takes back ("Zeile entfernen", ...), or empty.
    QString UndoName() const { return m_undo.empty() ? QString() : m_undo.back().name; }
    bool Undo();
    // A restored race starts without undo steps.
    void ForgetUndo() { m_undo.clear(); }

signals:
    // A command was taken (never one refused, nor one given again by Replay):
    // what a journal writes.
    void CommandTaken(const SessionCommand& command);
    void ModifiedChanged(bool modified);
    // A run started (a command, a light barrier, a restore).
    void RunStarted(std::uint32_t tick);
    // A barrier was armed or disarmed.
    void BarriersChanged();
    // The lock ran out by itself: the window ends it (EndLock).
    void LockExpired();
    // Rows came or went as a whole (load, clear, deletion, undo).
    void ProtocolReplaced();
    void LanesChanged();
    void RunStateChanged(RunState state);
    // A lane stopped: its time in ms (or -1 for "EL"), where it went (an empty
    // key: no starter, the time is kept apart) and whether it is doubtful.
    void LaneStopped(int lane, int ms, const QString& key, int col, const QString& text);
    // A time found no starter: the lane's key (maybe empty) and the text.
    void TimeUnplaced(int lane, const QString& key, const QString& text);
    // A recorded time is doubtful; why: "unter der Mindestzeit", ...
    void TimeDoubtful(const QString& key, int col, const QString& why);
    void MarksChanged();
    // A lane's finish edge waits for the station's start ("Start unterwegs"), or no longer.
    void PendingStopsChanged();

private:
    struct UndoStep
    {
        QString name;
        ProtocolTable rows; // in start order
        QList<TimeMark> unconfirmed;
        QList<TimeMark> lastRun;
        std::array<int, 2> lastRunPositions{-1, -1};
        std::array<QString, 2> laneKeys;
    };

    void Record(SessionCommand command);
    void SetModified(bool modified);
    void KeepForUndo(const QString& name);
    void SetLanePositions(std::array<int, 2> positions);
    // A chosen edge on the start line or a lane's finish line, with the
    // barriers' armed states; a resulting start or stop is carried out here.
    BarrierCommand StartEdge(std::uint32_t tick);
    BarrierCommand FinishEdge(int lane, std::uint32_t tick);
    void SetArmed(int barrier, bool armed);
    // No run going, and not two lanes on one starter.
    bool StartRefused() const;
    // Start and Stop without their record: a station start carries them out.
    bool StartRun(std::uint32_t tick);
    std::optional<int> StopLane(int lane, std::uint32_t tick, bool eliminated);
    void DropPendingStops();
    // The lanes to the next pair, as "0,00" moves them.
    void AdvanceLanes();
    // Writes a lane's time (or "EL") into its starter's next run column.
    void RecordLaneResult(int lane, int ms, bool eliminated);
    void CheckRecordedTime(const QString& key, int col, bool acrossRestart, bool clockDoubtful);
    void RebuildStartOrder(const ProtocolTable& rows);
    void SetMarks(QList<TimeMark> marks);

    Rules m_rules;
    TResultsModel m_results;
    TRunCycle m_run;
    QStringList m_startOrder;
    std::array<int, 2> m_lanePositions{-1, -1};
    std::array<int, 2> m_laneRunColumn{-1, -1};
    std::array<bool, 2> m_timedAcrossRestart{};
    QList<TimeMark> m_unconfirmed;
    QList<UnplacedTime> m_unplaced;
    std::array<bool, 3> m_armed{false, false, false};
    bool m_finishArmPending = false; // armed when the lock ends
    bool m_stationPaired = false;
    // Per lane, the finish edges while the station's start is on its way, oldest first.
    std::array<std::vector<std::uint32_t>, 2> m_pendingStops;
    QStringList m_stationStarts; // identities taken, newest last, a bounded number
    // The tick the last run ended (its last stop) or started: a station start
    // stamped before it is an old one sent again.
    std::optional<std::uint32_t> m_lastRunTick;
    bool m_runClockDoubtful = false; // this run's start came with a poor clock agreement
    std::array<TBarrierLine, 3> m_lines{
        {{MS_CTS_ON, kLastCtsStart}, {MS_DSR_ON, kLastDsrStart}, {MS_RLSD_ON, kLastRlsdStart}}};
    QList<TimeMark> m_lastRunCells;
    std::array<int, 2> m_lastRunPositions{-1, -1};
    std::vector<UndoStep> m_undo; // newest last
    std::vector<SessionCommand> m_commands;
    // The highest load-order number this session has seen: a late entry never
    // takes a deleted starter's number, which an undo could bring back.
    qint64 m_highestKey = 0;
    QString m_fileName;
    bool m_modified = false;
    bool m_shownByPlace = false;
    bool m_rulesGiven = false;
    bool m_replaying = false;
    bool m_keepCommands = true;
};
