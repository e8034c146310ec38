#include "RaceSession.h"

#include "Plausibility.h"
#include "ProtocolLogic.h"
#include "RunTime.h"
#include "RunTimeEntry.h"
#include "SortCompare.h"
#include "TickSource.h"

#include <QHash>
#include <QSet>
#include <algorithm>
#include <climits>
#include <tuple>

namespace {

constexpr std::size_t kUndoLevels = 10;
// The station's starts remembered for refusing one sent again (a restarted
// finish no longer knows what it acknowledged).
constexpr qsizetype kStationStartsKept = 256;
// A station start older than this when it reaches the finish is an old one
// from the station's outbox (the finish was off): no car is still on its way.
constexpr std::uint32_t kStationStartMaxAgeMs = 5 * 60 * 1000;
// A converted stamp may lie a little ahead of the finish's tick.
constexpr std::uint32_t kStationStartAheadMs = 2000;

bool TickNotBefore(std::uint32_t tick, std::uint32_t reference)
{
    return ElapsedTicks(reference, tick) < 0x80000000u;
}

} // namespace

TRaceSession::TRaceSession(QObject* parent) : QObject(parent)
{
    connect(&m_run, &TRunCycle::StateChanged, this, &TRaceSession::RunStateChanged);
    connect(&m_run, &TRunCycle::LockExpired, this, &TRaceSession::LockExpired);
}

bool TRaceSession::BarrierArmed(int barrier) const
{
    return barrier >= 1 && barrier <= 3 && m_armed.at(std::size_t(barrier - 1));
}

bool TRaceSession::BarrierArmedAt(int barrier, std::uint32_t tick) const
{
    if (BarrierArmed(barrier))
        return true;
    return barrier >= 2 && barrier <= 3 && m_finishArmPending && !m_run.LockedAt(tick);
}

void TRaceSession::SetArmed(int barrier, bool armed)
{
    bool& state = m_armed.at(std::size_t(barrier - 1));
    if (state == armed)
        return;
    state = armed;
    emit BarriersChanged();
}

void TRaceSession::ArmBarrier(int barrier, bool armed)
{
    if (barrier < 1 || barrier > 3)
        return;
    Record({.kind = SessionCommand::Arm, .lane = barrier, .flag = armed});
    SetArmed(barrier, armed);
}

void TRaceSession::EndLock()
{
    if (!m_run.Locked() && !m_finishArmPending)
        return;
    Record({.kind = SessionCommand::EndLock});
    m_run.EndLock();
    if (std::exchange(m_finishArmPending, false)) {
        SetArmed(2, true);
        SetArmed(3, true);
    }
}

void TRaceSession::Record(SessionCommand command)
{
    if (m_replaying)
        return;
    emit CommandTaken(command);
    if (m_keepCommands)
        m_commands.push_back(std::move(command));
}

void TRaceSession::SetModified(bool modified)
{
    if (modified == m_modified)
        return;
    m_modified = modified;
    emit ModifiedChanged(modified);
}

void TRaceSession::MarkSaved()
{
    Record({.kind = SessionCommand::Saved});
    SetModified(false);
}

void TRaceSession::ShowByPlace(bool byPlace)
{
    if (byPlace == m_shownByPlace)
        return;
    Record({.kind = SessionCommand::ShowByPlace, .flag = byPlace});
    m_shownByPlace = byPlace;
}

std::vector<SessionCommand> TRaceSession::StateCommands() const
{
    std::vector<SessionCommand> commands;
    commands.push_back({.kind = SessionCommand::SetRules,
                        .numbers = {m_rules.laneCount, m_rules.probeLaufe, m_rules.allLaufe,
                                    m_rules.minimumHundredths, m_rules.lockMs}});
    commands.push_back({.kind = SessionCommand::Load,
                        .flag = true,
                        .text = m_fileName,
                        .numbers = {m_modified ? 1 : 0},
                        .rows = RowsInStartOrder(),
                        .keys = m_results.Header()});
    if (m_shownByPlace)
        commands.push_back({.kind = SessionCommand::ShowByPlace, .flag = true});
    for (const UnplacedTime& time : m_unplaced)
        commands.push_back(
            {.kind = SessionCommand::Unplaced, .lane = time.lane, .key = time.key, .text = time.text});
    if (!m_results.Header().isEmpty() || !m_startOrder.isEmpty())
        commands.push_back({.kind = SessionCommand::Rank});
    for (const auto& [key, col] : m_unconfirmed)
        commands.push_back({.kind = SessionCommand::Mark, .key = key, .numbers = {col}});
    for (int lane = 1; lane <= 2; ++lane)
        commands.push_back(
            {.kind = SessionCommand::SelectLane, .lane = lane, .numbers = {m_lanePositions.at(lane - 1)}});
    if (m_stationPaired || !m_stationStarts.isEmpty())
        commands.push_back(
            {.kind = SessionCommand::StationPaired, .flag = m_stationPaired, .keys = m_stationStarts});
    if (!Idle()) {
        const RunTicks& ticks = m_run.Ticks();
        commands.push_back(
            {.kind = SessionCommand::Start, .tick = ticks.start, .numbers = {m_runClockDoubtful ? 1 : 0}});
        for (int lane = 1; lane <= m_run.LaneCount(); ++lane) {
            if (m_run.LaneRunning(lane)) {
                if (m_timedAcrossRestart.at(lane - 1))
                    commands.push_back({.kind = SessionCommand::TimedAcrossRestart, .lane = lane});
                continue;
            }
            commands.push_back({.kind = SessionCommand::StopRestored,
                                .lane = lane,
                                .tick = ticks.stop.at(lane - 1),
                                .numbers = {m_laneRunColumn.at(lane - 1)}});
        }
    }
    if (!Idle() && !m_run.Locked())
        commands.push_back({.kind = SessionCommand::EndLock});
    // The barriers as they are, after whatever the run did to them.
    for (int barrier = 1; barrier <= 3; ++barrier)
        commands.push_back(
            {.kind = SessionCommand::Arm, .lane = barrier, .flag = m_armed.at(std::size_t(barrier - 1))});
    for (int lane = 1; lane <= 2; ++lane) {
        for (std::uint32_t tick : m_pendingStops.at(lane - 1))
            commands.push_back({.kind = SessionCommand::PendingStop, .lane = lane, .tick = tick});
    }
    return commands;
}

void TRaceSession::KeepCommands(bool keep)
{
    m_keepCommands = keep;
    if (!keep)
        m_commands.clear();
}

void TRaceSession::Replay(const std::vector<SessionCommand>& commands, const std::function<void()>& afterEach)
{
    const bool wasReplaying = std::exchange(m_replaying, true);
    for (const SessionCommand& c : commands) {
        switch (c.kind) {
        case SessionCommand::Load:
            Load(c.rows, c.keys, c.flag, c.text, c.numbers.value(0) != 0);
            break;
        case SessionCommand::SetRules:
            SetRules({c.numbers.value(0, 2), c.numbers.value(1), c.numbers.value(2, 6), c.numbers.value(3),
                      c.numbers.value(4, 10000)});
            break;
        case SessionCommand::SelectLane:
            SelectLane(c.lane, c.numbers.value(0, -1));
            break;
        case SessionCommand::Swap:
            Swap();
            break;
        case SessionCommand::Start:
            // A journal damaged in the middle may have lost the reset before:
            // it was given, or this start would not have been taken.
            if (m_run.CanReset())
                Reset();
            // A state's run keeps whether its station start came with a poor clock agreement.
            if (Start(c.tick, c.flag) && c.numbers.value(0) == 1)
                m_runClockDoubtful = true;
            break;
        case SessionCommand::StationStart:
            if (m_run.CanReset())
                Reset();
            StationStart(c.tick, c.key, c.flag, std::uint32_t(c.numbers.value(0)));
            break;
        case SessionCommand::StationPaired:
            SetStationPaired(c.flag);
            if (!c.keys.isEmpty())
                m_stationStarts = c.keys.mid(std::max<qsizetype>(0, c.keys.size() - kStationStartsKept));
            break;
        case SessionCommand::PendingStop:
            KeepPendingStop(c.lane, c.tick);
            break;
        case SessionCommand::Stop:
            Stop(c.lane, c.tick, c.flag);
            break;
        case SessionCommand::EliminateStopped:
            EliminateStopped(c.lane);
            break;
        case SessionCommand::Reset:
            // ... or a lane's stop: that time is lost, the pairs go on as they did.
            if (m_run.Timing()) {
                AbandonRun();
                AdvanceLanes();
            } else {
                Reset();
            }
            break;
        case SessionCommand::Edit:
            Edit(c.key, c.numbers.value(0, -1), c.text);
            break;
        case SessionCommand::Confirm:
            Confirm(c.key, c.numbers.value(0, -1));
            break;
        case SessionCommand::RepeatRun:
            RepeatRun();
            break;
        case SessionCommand::DeleteRow:
            DeleteRow(c.key);
            break;
        case SessionCommand::Clear:
            Clear();
            break;
        case SessionCommand::Undo:
            Undo();
            break;
        case SessionCommand::Rank:
            Rank(c.keys);
            break;
        case SessionCommand::StopRestored:
            StopRestored(c.lane, c.tick, c.numbers.value(0, -1));
            break;
        case SessionCommand::Mark:
            RestoreMark(c.key, c.numbers.value(0, -1));
            break;
        case SessionCommand::AddStarter:
            AddStarter(c.rows.value(0));
            break;
        case SessionCommand::Edge:
            break; // what it started or stopped follows as its own command
        case SessionCommand::TimedAcrossRestart:
            MarkTimedAcrossRestart(c.lane);
            break;
        case SessionCommand::AbandonRun:
            AbandonRun();
            break;
        case SessionCommand::ShowByPlace:
            ShowByPlace(c.flag);
            break;
        case SessionCommand::Saved:
            MarkSaved();
            break;
        case SessionCommand::Unplaced:
            m_unplaced.append({c.lane, c.key, c.text});
            break;
        case SessionCommand::Arm:
            ArmBarrier(c.lane, c.flag);
            break;
        case SessionCommand::EndLock:
            EndLock();
            break;
        }
        if (afterEach)
            afterEach();
    }
    m_replaying = wasReplaying;
}

void TRaceSession::SetRules(const Rules& rules)
{
    Rules given = rules;
    given.laneCount = std::clamp(rules.laneCount, 1, 2);
    given.lockMs = std::clamp(rules.lockMs, 0, 999000);
    const bool same = given.laneCount == m_rules.laneCount && given.probeLaufe == m_rules.probeLaufe &&
                      given.allLaufe == m_rules.allLaufe &&
                      given.minimumHundredths == m_rules.minimumHundredths && given.lockMs == m_rules.lockMs;
    m_rules = given;
    m_run.SetLockInterval(m_rules.lockMs);
    if (Idle())
        m_run.SetLaneCount(m_rules.laneCount);
    // The window gives its rules before every command: only a change is one.
    if (same && m_rulesGiven)
        return;
    m_rulesGiven = true;
    Record({.kind = SessionCommand::SetRules,
            .numbers = {m_rules.laneCount, m_rules.probeLaufe, m_rules.allLaufe, m_rules.minimumHundredths,
                        m_rules.lockMs}});
}

// ---------------------------------------------------------------- protocol

int TRaceSession::Load(const ProtocolTable& rows, const QStringList& header, bool keepLoadOrder,
                       const QString& fileName, bool modified)
{
    if (!Idle())
        return -1;
    Record({.kind = SessionCommand::Load,
            .flag = keepLoadOrder,
            .text = fileName,
            .numbers = {modified ? 1 : 0},
            .rows = rows,
            .keys = header});
    m_fileName = fileName;
    m_unplaced.clear();
    ProtocolTable table;
    table.reserve(rows.size());
    QSet<QString> seen;
    qint64 highest = 0;
    if (keepLoadOrder) {
        seen.reserve(rows.size());
        for (const QStringList& cells : rows)
            highest = std::max(highest, cells.value(ColLoadOrder).toLongLong());
    }
    int mended = 0;
    for (qsizetype i = 0; i < rows.size(); ++i) {
        QStringList cells = ProtocolRowCells(rows.at(i));
        // The empty row an empty protocol shows is no starter.
        if (std::all_of(cells.cbegin(), cells.cend(),
                        [&cells](const QString& c) { return c.isEmpty() || &c == &cells.at(ColLoadOrder); }))
            continue;
        QString& key = cells[ColLoadOrder];
        if (!keepLoadOrder || key.isEmpty()) {
            key = QString::number(i + 1);
        } else if (seen.contains(key)) {
            // One starter written twice: both rows stay, each with a number of its own.
            key = QString::number(++highest);
            ++mended;
        }
        if (keepLoadOrder)
            seen.insert(key);
        table.append(std::move(cells));
    }
    if (!header.isEmpty())
        m_results.SetHeader(header);
    m_highestKey = 0;
    for (const QStringList& cells : std::as_const(table))
        m_highestKey = std::max(m_highestKey, cells.at(ColLoadOrder).toLongLong());
    RebuildStartOrder(table);
    m_results.Update(table);
    m_unconfirmed.clear();
    m_lastRunCells.clear();
    m_results.SetUnconfirmed({});
    const ProtocolTable inOrder = RowsInStartOrder();
    m_lanePositions = LanePositionsForNextRun(inOrder, m_rules.laneCount);
    SetModified(modified);
    emit ProtocolReplaced();
    emit LanesChanged();
    emit MarksChanged();
    return mended;
}

void TRaceSession::RebuildStartOrder(const ProtocolTable& rows)
{
    // By load-order number; each number is read once, not at every comparison.
    std::vector<std::pair<qint64, qsizetype>> numbers;
    numbers.reserve(rows.size());
    for (qsizetype i = 0; i < rows.size(); ++i) {
        if (!rows.at(i).value(ColLoadOrder).isEmpty())
            numbers.emplace_back(rows.at(i).value(ColLoadOrder).toLongLong(), i);
    }
    std::stable_sort(numbers.begin(), numbers.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    m_startOrder.clear();
    m_startOrder.reserve(qsizetype(numbers.size()));
    for (const auto& [number, i] : numbers)
        m_startOrder.append(rows.at(i).value(ColLoadOrder));
}

ProtocolTable TRaceSession::RowsInStartOrder() const
{
    ProtocolTable rows;
    rows.reserve(m_startOrder.size());
    for (const QString& key : m_startOrder)
        rows.append(m_results.Row(m_results.IndexOf(key)));
    return rows;
}

bool TRaceSession::Edit(const QString& key, int col, const QString& typed)
{
    if (m_results.IndexOf(key) < 0 || col < 0 || col >= ProtocolColumnCount || col == ColLoadOrder)
        return false;
    // A run column takes a time, "EL" or nothing, written as the program writes times.
    QString text = typed;
    if (col >= ColLauf1 && col <= ColLauf6) {
        const std::optional<QString> entry = RunTimeEntry(typed);
        if (!entry)
            return false;
        text = *entry;
    }
    Record({.kind = SessionCommand::Edit, .key = key, .text = text, .numbers = {col}});
    if (m_results.Cell(key, col) != text) {
        m_results.SetCell(key, col, text);
        SetModified(true);
    }
    // An edited time is the operator's own: no longer doubtful.
    if (m_unconfirmed.contains({key, col})) {
        QList<TimeMark> marks = m_unconfirmed;
        marks.removeAll({key, col});
        SetMarks(std::move(marks));
    }
    if (col == ColNr || col == ColName || col == ColVorname || col == ColVerein)
        emit LanesChanged();
    return true;
}

bool TRaceSession::DeleteRow(const QString& key)
{
    if (!Idle() || m_results.IndexOf(key) < 0)
        return false;
    Record({.kind = SessionCommand::DeleteRow, .key = key});
    KeepForUndo(QStringLiteral("Zeile entfernen"));
    m_highestKey = std::max(m_highestKey, key.toLongLong());
    SetModified(true);
    const int position = int(m_startOrder.indexOf(key));
    std::array<QString, 2> laneKeys{LaneKey(1), LaneKey(2)};
    m_results.RemoveRow(key);
    m_startOrder.removeAt(position);
    // A lane that showed this starter shows none, never the next one by chance.
    for (int lane = 1; lane <= 2; ++lane) {
        int& p = m_lanePositions.at(lane - 1);
        if (laneKeys.at(lane - 1) == key)
            p = -1;
        else if (p > position)
            --p;
    }
    QList<TimeMark> marks = m_unconfirmed;
    marks.removeIf([&key](const TimeMark& m) { return m.first == key; });
    m_lastRunCells.removeIf([&key](const TimeMark& m) { return m.first == key; });
    SetMarks(std::move(marks));
    emit ProtocolReplaced();
    emit LanesChanged();
    return true;
}

QString TRaceSession::AddStarter(const QStringList& given)
{
    QStringList cells = ProtocolRowCells(given);
    for (QString& cell : cells)
        cell = cell.trimmed();
    if (!Idle() || cells.value(ColName).isEmpty() || StartNumberTaken(cells.value(ColNr)))
        return {};
    // Only the starter's own data: runs, total and place come from the race.
    for (int col = ColLauf1; col < ProtocolColumnCount; ++col)
        cells[col].clear();
    for (const QString& key : std::as_const(m_startOrder))
        m_highestKey = std::max(m_highestKey, key.toLongLong());
    const QString key = QString::number(++m_highestKey);
    cells[ColLoadOrder] = key;
    Record({.kind = SessionCommand::AddStarter, .rows = {cells}});
    KeepForUndo(QStringLiteral("Starter nachmelden"));
    m_results.AppendRow(cells);
    SetModified(true);
    m_startOrder.append(key);
    // A list that had run out goes on with him.
    if (m_lanePositions.at(0) < 0 && m_lanePositions.at(1) < 0)
        m_lanePositions = LanePositionsForNextRun(RowsInStartOrder(), m_rules.laneCount);
    emit ProtocolReplaced();
    emit LanesChanged();
    return key;
}

bool TRaceSession::StartNumberTaken(const QString& number) const
{
    const QString wanted = number.trimmed();
    if (wanted.isEmpty())
        return false;
    for (int i = 0; i < m_results.RowCount(); ++i) {
        if (m_results.Row(i).value(ColNr).trimmed() == wanted)
            return true;
    }
    return false;
}

QString TRaceSession::NextStartNumber() const
{
    qint64 highest = 0;
    for (int i = 0; i < m_results.RowCount(); ++i)
        highest = std::max(highest, m_results.Row(i).value(ColNr).trimmed().toLongLong());
    return QString::number(highest + 1);
}

bool TRaceSession::Clear()
{
    if (!Idle())
        return false;
    Record({.kind = SessionCommand::Clear});
    KeepForUndo(QStringLiteral("Protokoll löschen"));
    for (const QString& key : std::as_const(m_startOrder))
        m_highestKey = std::max(m_highestKey, key.toLongLong());
    m_results.Update({});
    m_startOrder.clear();
    m_lanePositions = {-1, -1};
    // An empty protocol has nothing to save.
    SetModified(false);
    m_lastRunCells.clear();
    SetMarks({});
    emit ProtocolReplaced();
    emit LanesChanged();
    return true;
}

void TRaceSession::ComputeTotals()
{
    m_results.ComputeTotals(m_rules.probeLaufe, m_rules.allLaufe);
}

void TRaceSession::ShowInOrder(const QStringList& keys)
{
    m_results.Reorder(keys);
}

void TRaceSession::Rank(const QStringList& rankingOrder)
{
    Record({.kind = SessionCommand::Rank, .keys = rankingOrder});
    m_results.ComputeTotals(m_rules.probeLaufe, m_rules.allLaufe);
    m_results.Reorder(rankingOrder.isEmpty() ? RankingOrder() : rankingOrder);
    m_results.ComputePlacesInOrder();
}

QStringList TRaceSession::RankingOrder() const
{
    // By class as the places count them (in the order the class column's kind
    // gives: numbers, times, dates or text), then by total (times before "EL"
    // and empty ones), then in start order. Keys and totals are read once per
    // starter, not at every comparison.
    struct Entry
    {
        QString classKey;
        double total;
        QString key;
    };
    std::vector<Entry> entries;
    entries.reserve(m_startOrder.size());
    QStringList classKeys;
    classKeys.reserve(m_startOrder.size());
    for (const QString& key : m_startOrder) {
        const QStringList& row = m_results.Row(m_results.IndexOf(key));
        entries.push_back({ClassKey(row.value(ColKlasse)), RunTimeSortValue(row.value(ColGesamt)), key});
        classKeys.append(entries.back().classKey);
    }
    const TCustomCompare byClass = KeyCompareFor(classKeys);
    std::stable_sort(entries.begin(), entries.end(), [&byClass](const Entry& a, const Entry& b) {
        if (a.classKey != b.classKey) {
            const int classOrder = byClass(a.classKey, b.classKey);
            if (classOrder != 0)
                return classOrder < 0;
        }
        return a.total < b.total;
    });
    QStringList keys;
    keys.reserve(int(entries.size()));
    for (const Entry& e : entries)
        keys.append(e.key);
    return keys;
}

// ---------------------------------------------------------------- lanes

int TRaceSession::LanePosition(int lane) const
{
    return IsLane(lane) ? m_lanePositions.at(lane - 1) : -1;
}

QString TRaceSession::LaneKey(int lane) const
{
    const int position = LanePosition(lane);
    return position >= 0 && position < m_startOrder.size() ? m_startOrder.at(position) : QString();
}

QString TRaceSession::EntryText(const QString& key) const
{
    const int index = m_results.IndexOf(key);
    if (index < 0)
        return {};
    const QStringList& cells = m_results.Row(index);
    return QStringLiteral("%1 %2 %3 %4")
        .arg(cells.value(ColNr), cells.value(ColName), cells.value(ColVorname), cells.value(ColVerein));
}

bool TRaceSession::SelectLane(int lane, int position)
{
    if (!IsLane(lane) || !Idle() || position < -1 || position >= m_startOrder.size())
        return false;
    if (m_lanePositions.at(lane - 1) == position)
        return true;
    Record({.kind = SessionCommand::SelectLane, .lane = lane, .numbers = {position}});
    m_lanePositions.at(lane - 1) = position;
    emit LanesChanged();
    return true;
}

bool TRaceSession::Swap()
{
    if (!Idle() || m_rules.laneCount < 2)
        return false;
    Record({.kind = SessionCommand::Swap});
    std::swap(m_lanePositions[0], m_lanePositions[1]);
    emit LanesChanged();
    return true;
}

bool TRaceSession::LanesSwapped() const
{
    return m_rules.laneCount == 2 && m_lanePositions[1] >= 0 && m_lanePositions[0] > m_lanePositions[1];
}

void TRaceSession::SetLanePositions(std::array<int, 2> positions)
{
    if (positions == m_lanePositions)
        return;
    m_lanePositions = positions;
    emit LanesChanged();
}

// ---------------------------------------------------------------- run

bool TRaceSession::StartAvailable() const
{
    if (!m_run.CanStart() || m_startOrder.isEmpty())
        return false;
    // The last starter of an odd list runs alone; a lane whose starter was
    // deleted keeps its time apart.
    return m_rules.laneCount < 2 || m_lanePositions[0] != m_lanePositions[1];
}

bool TRaceSession::StartRefused() const
{
    return !Idle() ||
           (m_rules.laneCount == 2 && m_lanePositions[0] >= 0 && m_lanePositions[0] == m_lanePositions[1]);
}

bool TRaceSession::Start(std::uint32_t tick, bool byHand)
{
    if (StartRefused())
        return false;
    Record({.kind = SessionCommand::Start, .tick = tick, .flag = byHand});
    // A start by hand comes after any finish edge kept for the station's start.
    DropPendingStops();
    return StartRun(tick);
}

bool TRaceSession::StartRun(std::uint32_t tick)
{
    m_run.SetLaneCount(m_rules.laneCount);
    m_lastRunPositions = m_lanePositions;
    m_lastRunCells.clear();
    if (!m_run.Start(tick))
        return false;
    m_runClockDoubtful = false;
    // The start crew arms the start barrier again when the next pair stands
    // ready; the finish barriers are armed once the lock is over.
    SetArmed(1, false);
    m_finishArmPending = true;
    emit RunStarted(tick);
    return true;
}

void TRaceSession::SetStationPaired(bool paired)
{
    if (paired == m_stationPaired)
        return;
    Record({.kind = SessionCommand::StationPaired, .flag = paired});
    m_stationPaired = paired;
    if (!paired)
        DropPendingStops();
}

bool TRaceSession::StationStart(std::uint32_t tick, const QString& identity, bool clockGood,
                                std::uint32_t now)
{
    const bool fresh =
        ElapsedTicks(tick, now) <= kStationStartMaxAgeMs || ElapsedTicks(now, tick) <= kStationStartAheadMs;
    if (!m_stationPaired || identity.isEmpty() || m_stationStarts.contains(identity) || !BarrierArmed(1) ||
        !fresh || StartRefused())
        return false;
    Record({.kind = SessionCommand::StationStart,
            .tick = tick,
            .flag = clockGood,
            .key = identity,
            .numbers = {int(now)}});
    m_stationStarts.append(identity);
    if (m_stationStarts.size() > kStationStartsKept)
        m_stationStarts.removeFirst();
    const std::array<std::vector<std::uint32_t>, 2> pending = std::exchange(m_pendingStops, {});
    if (!pending[0].empty() || !pending[1].empty())
        emit PendingStopsChanged();
    if (!StartRun(tick))
        return false;
    m_runClockDoubtful = !clockGood;
    // The lanes that crossed the finish before the start came stop at the first
    // edge of theirs that was a car of this run: not before the stamp, not within
    // the lock. The earlier lane stops first.
    std::array<std::optional<std::uint32_t>, 2> stops;
    for (int lane = 1; lane <= 2; ++lane) {
        for (std::uint32_t stop : pending.at(lane - 1)) {
            if (TickNotBefore(stop, tick) && !m_run.LockedAt(stop)) {
                stops.at(lane - 1) = stop;
                break;
            }
        }
    }
    std::array<int, 2> order{1, 2};
    if (stops[0] && stops[1] && ElapsedTicks(tick, *stops[1]) < ElapsedTicks(tick, *stops[0]))
        order = {2, 1};
    for (int lane : order) {
        if (const std::optional<std::uint32_t>& stop = stops.at(lane - 1); stop && m_run.LaneRunning(lane))
            StopLane(lane, *stop, false);
    }
    return true;
}

std::optional<std::uint32_t> TRaceSession::PendingStop(int lane) const
{
    if (!IsLane(lane) || m_pendingStops.at(lane - 1).empty())
        return std::nullopt;
    return m_pendingStops.at(lane - 1).front();
}

bool TRaceSession::KeepPendingStop(int lane, std::uint32_t tick)
{
    if (!m_stationPaired || !Idle() || !IsLane(lane) || lane > m_rules.laneCount ||
        int(m_pendingStops.at(lane - 1).size()) >= kPendingStopsKept)
        return false;
    Record({.kind = SessionCommand::PendingStop, .lane = lane, .tick = tick});
    m_pendingStops.at(lane - 1).push_back(tick);
    SetArmed(lane + 1, false);
    emit PendingStopsChanged();
    return true;
}

void TRaceSession::DropPendingStops()
{
    if (m_pendingStops[0].empty() && m_pendingStops[1].empty())
        return;
    m_pendingStops = {};
    emit PendingStopsChanged();
}

std::optional<int> TRaceSession::Stop(int lane, std::uint32_t tick, bool eliminated)
{
    if (!m_run.LaneRunning(lane))
        return std::nullopt;
    Record({.kind = SessionCommand::Stop, .lane = lane, .tick = tick, .flag = eliminated});
    return StopLane(lane, tick, eliminated);
}

std::optional<int> TRaceSession::StopLane(int lane, std::uint32_t tick, bool eliminated)
{
    const std::optional<int> ms = m_run.Stop(lane, tick);
    if (!ms)
        return ms;
    SetArmed(lane + 1, false);
    RecordLaneResult(lane, *ms, eliminated);
    return ms;
}

void TRaceSession::RecordLaneResult(int lane, int ms, bool eliminated)
{
    const bool acrossRestart = std::exchange(m_timedAcrossRestart.at(lane - 1), false);
    const QString text = eliminated ? QStringLiteral("EL") : FormatRunTime(ms);
    const QString key = LaneKey(lane);
    const int index = m_results.IndexOf(key);
    const int col = index < 0 ? -1 : FirstEmptyRunColumn(m_results.Row(index));
    if (col < 0) {
        // No starter, or all six runs full: the time is kept apart, never lost.
        emit LaneStopped(lane, eliminated ? -1 : ms, QString(), -1, text);
        if (!eliminated) {
            m_unplaced.append({lane, key, text});
            SetModified(true);
            emit TimeUnplaced(lane, key, text);
        }
        return;
    }
    m_results.SetCell(key, col, text);
    SetModified(true);
    m_laneRunColumn.at(lane - 1) = col;
    m_lastRunCells.append({key, col});
    emit LaneStopped(lane, eliminated ? -1 : ms, key, col, text);
    if (!eliminated)
        CheckRecordedTime(key, col, acrossRestart, m_runClockDoubtful);
}

void TRaceSession::CheckRecordedTime(const QString& key, int col, bool acrossRestart, bool clockDoubtful)
{
    // A restore finds the mark the check gave as a command of its own: the
    // check (over the whole class) is not made again for every time.
    if (m_replaying)
        return;
    const int ms = ParseRunTime(m_results.Cell(key, col));
    if (ms == InvalidTime)
        return;
    const QString runClass = m_results.Cell(key, ColKlasse);
    QList<int> others;
    for (int i = 0; i < m_results.RowCount(); ++i) {
        const QStringList& row = m_results.Row(i);
        if (row.at(ColLoadOrder) == key || !SameClass(row.at(ColKlasse), runClass))
            continue;
        const int time = ParseRunTime(row.at(col));
        if (time != InvalidTime)
            others.append(time / 10);
    }
    const TimeDoubt doubt = CheckRunTime(ms / 10, m_rules.minimumHundredths, others);
    if (doubt == TimeDoubt::None && !acrossRestart && !clockDoubtful)
        return;
    Record({.kind = SessionCommand::Mark, .key = key, .numbers = {col}});
    QList<TimeMark> marks = m_unconfirmed;
    marks.append({key, col});
    SetMarks(std::move(marks));
    const QString why =
        acrossRestart   ? QStringLiteral("über den Neustart gemessen")
        : clockDoubtful ? QStringLiteral("Uhrabgleich ungenau")
        : doubt == TimeDoubt::BelowMinimum
            ? QStringLiteral("unter der Mindestzeit %1").arg(FormatRunTime(m_rules.minimumHundredths * 10))
            : QStringLiteral("weit weg von Klasse %1 in diesem Lauf").arg(runClass);
    emit TimeDoubtful(key, col, why);
}

bool TRaceSession::EliminateStopped(int lane)
{
    const int col = LaneRunColumn(lane);
    const QString key = LaneKey(lane);
    if (!m_run.CanEliminate(lane) || col < 0 || m_results.IndexOf(key) < 0)
        return false;
    Record({.kind = SessionCommand::EliminateStopped, .lane = lane});
    m_results.SetCell(key, col, QStringLiteral("EL"));
    SetModified(true);
    if (m_unconfirmed.contains({key, col})) {
        QList<TimeMark> marks = m_unconfirmed;
        marks.removeAll({key, col}); // a doubtful time replaced by "EL" is settled
        SetMarks(std::move(marks));
    }
    return true;
}

bool TRaceSession::Reset()
{
    if (!m_run.CanReset())
        return false;
    Record({.kind = SessionCommand::Reset});
    m_run.Reset();
    // "0,00" ends the lock early: the finish barriers stay as they are.
    m_finishArmPending = false;
    m_laneRunColumn = {-1, -1};
    m_timedAcrossRestart = {false, false};
    m_run.SetLaneCount(m_rules.laneCount);
    AdvanceLanes();
    return true;
}

void TRaceSession::AdvanceLanes()
{
    const int count = int(m_startOrder.size());
    SetLanePositions(m_run.NextLanePositions(m_lanePositions, {count, count}));
}

BarrierCommand TRaceSession::LineChanged(int line, std::uint32_t modemStatus, std::uint32_t tick,
                                         int edgeChoice)
{
    if (line < 1 || line > 3)
        return BarrierCommand::None;
    Record({.kind = SessionCommand::Edge, .lane = line, .tick = tick, .numbers = {int(modemStatus)}});
    if (!m_lines.at(std::size_t(line - 1)).Evaluate(modemStatus, edgeChoice))
        return BarrierCommand::None;
    return line == 1 ? StartEdge(tick) : FinishEdge(line - 1, tick);
}

BarrierCommand TRaceSession::StartEdge(std::uint32_t tick)
{
    // The station's start barrier starts the runs; a line here is a leftover wire.
    if (m_stationPaired)
        return BarrierCommand::None;
    const BarrierCommand command = m_run.StartEdge(StartAvailable(), BarrierArmedAt(1, tick), tick);
    if (command == BarrierCommand::Start)
        Start(tick);
    return command;
}

BarrierCommand TRaceSession::FinishEdge(int lane, std::uint32_t tick)
{
    // With the station paired a finish edge never starts: before the run, with
    // the start barrier armed, a car may have crossed while its start is still
    // on the way (the link down): its tick is kept for when the start comes. The
    // lane's own barrier is not asked: the last stop switched it off, and only the
    // start that has not come yet would have armed it again (the lock is checked
    // when it comes).
    if (m_stationPaired && m_run.CanStart()) {
        if (BarrierArmedAt(1, tick) && KeepPendingStop(lane, tick))
            return BarrierCommand::Stop;
        return BarrierCommand::None;
    }
    const BarrierCommand command = m_run.FinishEdge(lane, StartAvailable(), BarrierArmedAt(1, tick),
                                                    BarrierArmedAt(lane + 1, tick), tick);
    if (command == BarrierCommand::None)
        return command;
    if (command == BarrierCommand::Start)
        Start(tick);
    else
        Stop(lane, tick);
    return command;
}

bool TRaceSession::StopRestored(int lane, std::uint32_t tick, int col)
{
    if (!m_run.LaneRunning(lane))
        return false;
    Record({.kind = SessionCommand::StopRestored, .lane = lane, .tick = tick, .numbers = {col}});
    m_run.Stop(lane, tick);
    m_timedAcrossRestart.at(lane - 1) = false;
    m_laneRunColumn.at(lane - 1) = col;
    return true;
}

void TRaceSession::MarkTimedAcrossRestart(int lane)
{
    if (!m_run.LaneRunning(lane) || m_timedAcrossRestart.at(lane - 1))
        return;
    Record({.kind = SessionCommand::TimedAcrossRestart, .lane = lane});
    m_timedAcrossRestart.at(lane - 1) = true;
}

bool TRaceSession::AbandonRun()
{
    if (Idle())
        return false;
    Record({.kind = SessionCommand::AbandonRun});
    m_run.Abandon();
    m_finishArmPending = false;
    m_laneRunColumn = {-1, -1};
    m_timedAcrossRestart = {false, false};
    m_run.SetLaneCount(m_rules.laneCount);
    return true;
}

// ---------------------------------------------------------------- marks, repeat, undo

void TRaceSession::SetMarks(QList<TimeMark> marks)
{
    if (marks == m_unconfirmed)
        return;
    m_unconfirmed = std::move(marks);
    QList<std::pair<QString, int>> runs;
    for (const auto& [key, col] : std::as_const(m_unconfirmed))
        runs.append({key, col - ColLauf1 + 1});
    m_results.SetUnconfirmed(runs);
    emit MarksChanged();
}

std::optional<TimeMark> TRaceSession::MarkToConfirm(const QString& preferredKey) const
{
    if (m_unconfirmed.isEmpty())
        return std::nullopt;
    for (const TimeMark& mark : m_unconfirmed) {
        if (mark.first == preferredKey)
            return mark;
    }
    return m_unconfirmed.first();
}

bool TRaceSession::Confirm(const QString& key, int col)
{
    if (!m_unconfirmed.contains({key, col}))
        return false;
    Record({.kind = SessionCommand::Confirm, .key = key, .numbers = {col}});
    QList<TimeMark> marks = m_unconfirmed;
    marks.removeAll({key, col});
    SetMarks(std::move(marks));
    return true;
}

void TRaceSession::RestoreMark(const QString& key, int col)
{
    if (m_results.IndexOf(key) < 0 || m_unconfirmed.contains({key, col}))
        return;
    Record({.kind = SessionCommand::Mark, .key = key, .numbers = {col}});
    QList<TimeMark> marks = m_unconfirmed;
    marks.append({key, col});
    SetMarks(std::move(marks));
}

bool TRaceSession::RepeatRun()
{
    if (m_run.Timing() || m_lastRunCells.isEmpty())
        return false;
    Record({.kind = SessionCommand::RepeatRun});
    if (m_run.CanReset()) {
        m_run.Reset();
        m_laneRunColumn = {-1, -1};
        m_timedAcrossRestart = {false, false};
        m_run.SetLaneCount(m_rules.laneCount);
    }
    KeepForUndo(QStringLiteral("Lauf wiederholen"));
    SetModified(true);
    QList<TimeMark> marks = m_unconfirmed;
    for (const auto& [key, col] : std::as_const(m_lastRunCells)) {
        m_results.SetCell(key, col, QString());
        marks.removeAll({key, col});
    }
    m_lastRunCells.clear();
    SetMarks(std::move(marks));
    std::array<int, 2> positions = m_lastRunPositions;
    if (m_rules.laneCount < 2)
        positions[1] = m_lanePositions[1];
    SetLanePositions(positions);
    return true;
}

void TRaceSession::KeepForUndo(const QString& name)
{
    UndoStep step;
    step.name = name;
    step.rows = RowsInStartOrder();
    step.unconfirmed = m_unconfirmed;
    step.lastRun = m_lastRunCells;
    step.lastRunPositions = m_lastRunPositions;
    step.laneKeys = {LaneKey(1), LaneKey(2)};
    m_undo.push_back(std::move(step));
    if (m_undo.size() > kUndoLevels)
        m_undo.erase(m_undo.begin());
}

bool TRaceSession::Undo()
{
    // As a load: not from START until "0,00".
    if (m_undo.empty() || !Idle())
        return false;
    Record({.kind = SessionCommand::Undo});
    UndoStep step = std::move(m_undo.back());
    m_undo.pop_back();
    SetModified(true);
    m_results.Update(step.rows);
    RebuildStartOrder(step.rows);
    m_lastRunCells = step.lastRun;
    m_lastRunPositions = step.lastRunPositions;
    SetMarks(step.unconfirmed);
    for (int lane = 1; lane <= 2; ++lane)
        m_lanePositions.at(lane - 1) = int(m_startOrder.indexOf(step.laneKeys.at(lane - 1)));
    emit ProtocolReplaced();
    emit LanesChanged();
    return true;
}
