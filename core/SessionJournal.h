#pragma once

#include "RaceJournal.h"
#include "RaceSession.h"

#include <QObject>
#include <QString>
#include <vector>

// The race's record: every command the session takes goes to the journal file
// as it is taken (a refused one never does), so that a restore is a fresh
// session given the journal's commands again. A new file starts with the
// session's state as commands (StateCommands).
class TSessionJournal : public QObject
{
    Q_OBJECT

public:
    // The journal file may be null: then nothing is written.
    TSessionJournal(TRaceSession& session, TRaceJournal* file, QObject* parent = nullptr);

    // Starts a new file with the session as it stands (after a load, or once a
    // restore is complete: restoredFrom names the journal it came from).
    bool Begin(const QString& restoredFrom = {});
    // A restore's state is complete in the new file.
    void RestoreDone(const QString& restoredFrom);
    // The protocol is saved: the file holds nothing unsaved.
    void Saved();
    // The program ends: with nothing unsaved the file is closed clean, else it
    // stays to be offered at the next start.
    void Closing();
    // The whole state as records, for a fresh file after a failed write.
    std::vector<JournalRecord> StateRecords() const;

private:
    void Write(const SessionCommand& command);

    TRaceSession& m_session;
    TRaceJournal* m_file = nullptr;
};

JournalRecord CommandRecord(const SessionCommand& command);

// The commands that bring a fresh session to where a journal leaves the race:
// a journal of commands gives them as they are; an older journal (its state
// read by ReplayJournal) is read into the same commands. rules are the
// window's (an older journal knows no minimum time). A run still going is
// resumed when resumeRun (the same boot: its ticks go on), else abandoned with
// the times recorded so far kept. Lanes still running count across the restart.
std::vector<SessionCommand> RestoreCommands(const JournalReplay& replay, const TRaceSession::Rules& rules,
                                            bool resumeRun);
