#include "SessionJournal.h"

#include "ProtocolLogic.h"

#include <QSet>
#include <algorithm>

TSessionJournal::TSessionJournal(TRaceSession& session, TRaceJournal* file, QObject* parent)
    : QObject(parent), m_session(session), m_file(file)
{
    connect(&m_session, &TRaceSession::CommandTaken, this, &TSessionJournal::Write);
}

JournalRecord CommandRecord(const SessionCommand& command)
{
    JournalRecord record;
    record.type = JournalRecordType::Command;
    record.command = command;
    return record;
}

void TSessionJournal::Write(const SessionCommand& command)
{
    if (!m_file)
        return;
    // Each list loaded has a file of its own, beginning with the rules and
    // the load; the previous one is left as its records describe it.
    if (command.kind == SessionCommand::Load) {
        const TRaceSession::Rules& rules = m_session.CurrentRules();
        const SessionCommand ruling{
            .kind = SessionCommand::SetRules,
            .numbers = {rules.laneCount, rules.probeLaufe, rules.allLaufe, rules.minimumHundredths}};
        std::vector<JournalRecord> records{CommandRecord(ruling), CommandRecord(command)};
        // The start station stays paired over a new list, and its starts stay taken.
        if (m_session.StationPaired() || !m_session.StationStarts().isEmpty())
            records.push_back(CommandRecord({.kind = SessionCommand::StationPaired,
                                             .flag = m_session.StationPaired(),
                                             .keys = m_session.StationStarts()}));
        m_file->Begin(records, false);
        return;
    }
    // Nothing before the first load.
    if (!m_file->IsOpen())
        return;
    m_file->Append(CommandRecord(command));
    if (command.kind == SessionCommand::Saved)
        m_file->MarkClean();
}

std::vector<JournalRecord> TSessionJournal::StateRecords() const
{
    std::vector<JournalRecord> records;
    for (const SessionCommand& command : m_session.StateCommands())
        records.push_back(CommandRecord(command));
    return records;
}

bool TSessionJournal::Begin(const QString& restoredFrom)
{
    if (!m_file)
        return false;
    std::vector<JournalRecord> records;
    if (!restoredFrom.isEmpty()) {
        JournalRecord restored;
        restored.type = JournalRecordType::Restored;
        restored.fileName = restoredFrom;
        records.push_back(restored);
    }
    for (JournalRecord& record : StateRecords())
        records.push_back(std::move(record));
    // The previous protocol's journal is left as its records describe it: a
    // saved one holds nothing to offer, an unsaved one stays restorable.
    return m_file->Begin(records, false);
}

void TSessionJournal::RestoreDone(const QString& restoredFrom)
{
    if (!m_file || !m_file->IsOpen())
        return;
    JournalRecord done;
    done.type = JournalRecordType::Restored;
    done.fileName = restoredFrom;
    done.restoreDone = true;
    m_file->Append(done);
}

void TSessionJournal::Saved()
{
    if (m_file)
        m_file->MarkClean();
}

void TSessionJournal::Closing()
{
    if (!m_file)
        return;
    if (!m_session.Run().Timing() && !m_session.Modified())
        m_file->Close(true);
    else
        m_file->CloseUnsaved();
}

std::vector<SessionCommand> RestoreCommands(const JournalReplay& replay, const TRaceSession::Rules& rules,
                                            bool resumeRun)
{
    std::vector<SessionCommand> commands;
    if (!replay.commands.empty()) {
        commands = replay.commands;
    } else {
        // An older journal: its rows at the last load, clearing or ranking,
        // ranked again, then what came after; the lanes; the run.
        TRaceSession::Rules given = rules;
        if (replay.hasRank) {
            given.probeLaufe = replay.probeLaufe;
            given.allLaufe = replay.allLaufe;
            if (replay.countBahn == 1 || replay.countBahn == 2)
                given.laneCount = replay.countBahn;
        }
        commands.push_back(
            {.kind = SessionCommand::SetRules,
             .numbers = {given.laneCount, given.probeLaufe, given.allLaufe, given.minimumHundredths}});
        commands.push_back({.kind = SessionCommand::Load,
                            .flag = true,
                            .text = replay.fileName,
                            .numbers = {replay.modified ? 1 : 0},
                            .rows = replay.baseRows,
                            .keys = replay.header});
        if (replay.sortByPlace)
            commands.push_back({.kind = SessionCommand::ShowByPlace, .flag = true});
        for (const auto& [lane, text] : replay.unplacedTimes)
            commands.push_back({.kind = SessionCommand::Unplaced, .lane = lane, .text = text});
        for (const auto& [key, column] : replay.unconfirmed)
            commands.push_back({.kind = SessionCommand::Mark, .key = key, .numbers = {column}});
        if (replay.baseRanked)
            commands.push_back({.kind = SessionCommand::Rank});
        QSet<QString> deleted;
        for (const JournalTailChange& change : replay.tail) {
            if (change.column < 0) {
                deleted.insert(change.loadOrder);
                commands.push_back({.kind = SessionCommand::DeleteRow, .key = change.loadOrder});
            } else {
                commands.push_back({.kind = SessionCommand::Edit,
                                    .key = change.loadOrder,
                                    .text = change.text,
                                    .numbers = {change.column}});
            }
        }
        // A time recorded after the ranking came back through an edit, which settles a mark.
        for (const auto& [key, column] : replay.unconfirmed)
            commands.push_back({.kind = SessionCommand::Mark, .key = key, .numbers = {column}});
        // The lanes as they were: the entries of deleted starters are left out, as the deletion did.
        QStringList startOrder;
        for (const QStringList& row : replay.baseRows) {
            const QString key = row.value(ColLoadOrder);
            if (!key.isEmpty() && !deleted.contains(key))
                startOrder.append(key);
        }
        std::sort(startOrder.begin(), startOrder.end(),
                  [](const QString& a, const QString& b) { return a.toLongLong() < b.toLongLong(); });
        std::array<int, 2> positions{-1, -1};
        int kept = 0;
        for (int i = 0; i < replay.entries.size(); ++i) {
            const JournalLaneEntry& entry = replay.entries.at(i);
            if (!entry.identity.isEmpty() && deleted.contains(entry.identity))
                continue;
            for (int lane = 0; lane < 2; ++lane) {
                if (replay.positions.at(lane) == i)
                    positions.at(lane) =
                        entry.identity.isEmpty() ? kept : int(startOrder.indexOf(entry.identity));
            }
            ++kept;
        }
        commands.push_back({.kind = SessionCommand::SelectLane, .lane = 1, .numbers = {positions[0]}});
        commands.push_back({.kind = SessionCommand::SelectLane, .lane = 2, .numbers = {positions[1]}});
        if (replay.runOpen) {
            commands.push_back({.kind = SessionCommand::Start, .tick = replay.startTick});
            // Lanes that had stopped stop again at their ticks, their results
            // already in the rows; the earlier stop first.
            std::array<int, 2> order{1, 2};
            if (replay.laneStopped[0] && replay.laneStopped[1] &&
                replay.stopTick[1] - replay.startTick < replay.stopTick[0] - replay.startTick)
                order = {2, 1};
            for (int lane : order) {
                if (replay.laneStopped.at(lane - 1))
                    commands.push_back({.kind = SessionCommand::StopRestored,
                                        .lane = lane,
                                        .tick = replay.stopTick.at(lane - 1),
                                        .numbers = {replay.laneRunColumn.at(lane - 1)}});
            }
        }
    }
    if (replay.RunStillTiming()) {
        if (resumeRun) {
            for (int lane = 1; lane <= 2; ++lane) {
                if (!replay.laneStopped.at(lane - 1))
                    commands.push_back({.kind = SessionCommand::TimedAcrossRestart, .lane = lane});
            }
        } else {
            commands.push_back({.kind = SessionCommand::AbandonRun});
        }
    }
    return commands;
}
