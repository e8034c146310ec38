#pragma once

#include "RaceSession.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

// The race journal: every change of the protocol is appended to a file as a
// self-checking record, so that a session that ended without saving (crash,
// power cut, closed lid) can be rebuilt at the next start.
//
// File layout: the 8 bytes "QXJRNL\r\n", the format version (u32), then the
// records. A record is its payload length (u32), a CRC-32 over the length and
// the payload (u32), and the payload, whose first byte is the record type.
// Integers are little-endian, texts UTF-8 behind their byte length (u32).
// A record that is incomplete or fails its check is never misread: at the end
// of the file it is a torn tail and dropped; in the middle the reader looks
// for the next sound record and goes on from there.

inline constexpr std::uint32_t JournalFormatVersion = 1;
inline constexpr int JournalKeepDays = 30;
// The newest journals (and set-aside files) survive the clean-up whatever their
// date says, so a clock set years ahead can't remove every one of them.
inline constexpr int JournalKeepNewest = 5;
// The protocol file's limits hold for journals too.
inline constexpr int JournalMaxRows = 100000;
inline constexpr int JournalMaxCellLength = 1000;
inline constexpr qint64 JournalMaxBytes = 64 * 1024 * 1024;

enum class JournalRecordType : std::uint8_t {
    Header = 1,    // bootId, createdMs
    Load = 2,      // fileName, modified, rows (header first), entries, positions: a whole protocol
    Cell = 3,      // change, lane, loadOrder, column, text
    DeleteRow = 4, // loadOrder
    Clear = 5,
    Rank = 6,     // probeLaufe, allLaufe, countBahn, sortByPlace
    Lanes = 7,    // positions
    RunStart = 8, // tick, positions
    LaneStop = 9, // lane, tick
    Reset = 10,
    Edge = 11,  // line (1 start/CTS, 2 lane 1/DSR, 3 lane 2/RLSD), modemStatus, tick
    Clean = 12, // saved, or ended with nothing unsaved
    // fileName (the journal restored from, without its folder), restoreDone.
    // Written first when a restore begins and again once the restored state is
    // complete in this journal: from then on the old journal is superseded.
    Restored = 13,
    Quit = 14, // the program was ended with unsaved changes: they were left on purpose
    // loadOrder, column, doubtful: a run time marked for the operator's
    // confirmation, or its mark gone (confirmed, edited, run again).
    Doubt = 15,
    // A command the race session took (SessionCommand): from this version on
    // the journal holds the session's commands, and a restore gives them again.
    Command = 16,
};

// Unplaced: a lane's time whose starter was gone (row deleted); loadOrder
// names that starter, column is -1. Kept so the operator can enter it by hand.
enum class JournalCellChange : std::uint8_t { Time = 1, Elimination = 2, Edit = 3, Unplaced = 4 };

struct JournalLaneEntry
{
    QString text;
    QString identity; // the load-order number of the entry's row
    bool operator==(const JournalLaneEntry&) const = default;
};

// One decoded record; only the fields of its type are meaningful.
struct JournalRecord
{
    JournalRecordType type = JournalRecordType::Clean;
    QString bootId;
    qint64 createdMs = 0;
    QString fileName;
    bool modified = false;
    QList<QStringList> rows;
    QList<JournalLaneEntry> entries;
    std::array<int, 2> positions{-1, -1};
    JournalCellChange change = JournalCellChange::Edit;
    int lane = 0;
    QString loadOrder;
    int column = -1;
    QString text;
    int probeLaufe = 0;
    int allLaufe = 0;
    int countBahn = 0;
    bool sortByPlace = false;
    std::uint32_t tick = 0;
    int line = 0;
    std::uint32_t modemStatus = 0;
    bool restoreDone = false;
    bool doubtful = false;
    SessionCommand command;
};

QByteArray JournalFileStart();
// The payload of a record, and the record framed with length and checksum.
QByteArray EncodeJournalPayload(const JournalRecord& record);
QByteArray FrameJournalRecord(const QByteArray& payload);
inline QByteArray EncodeJournalRecord(const JournalRecord& record)
{
    return FrameJournalRecord(EncodeJournalPayload(record));
}

enum class JournalReadStatus {
    Sound,        // every byte belongs to a sound record
    TornTail,     // the sound records are followed by bytes that are not one
    Damaged,      // bad bytes in the middle, sound records after them (and maybe a torn tail)
    NotAJournal,  // does not start like a journal
    OtherVersion, // a journal of another format version
    TooLarge,     // larger than JournalMaxBytes: not read
};

struct JournalReadResult
{
    JournalReadStatus status = JournalReadStatus::Sound;
    std::uint32_t version = 0;
    std::vector<JournalRecord> records;
    qint64 soundBytes = 0;    // end of the last sound record
    qint64 skippedBytes = 0;  // bytes between sound records that belong to none (not the tail)
    int damagedStretches = 0; // how many such stretches
};

JournalReadResult ReadJournal(const QByteArray& bytes);

// A cell change or row deletion (column -1) after the last ranking.
struct JournalTailChange
{
    QString loadOrder;
    int column = -1;
    QString text;
};

// The state a journal's records lead to.
struct JournalReplay
{
    bool hasHeader = false;
    QString bootId;
    qint64 createdMs = 0;
    bool hasProtocol = false; // a Load record was read
    QString fileName;
    QStringList header; // row 0 of the protocol
    // The rows as they were at the last load, clearing or ranking ...
    QList<QStringList> baseRows;
    bool baseRanked = false; // ... the base is a ranking: rank again after restoring it
    // ... and what changed after it, in order.
    QList<JournalTailChange> tail;
    QList<QStringList> rows; // the rows after the last record
    QList<JournalLaneEntry> entries;
    std::array<int, 2> positions{-1, -1};
    bool hasRank = false;
    int probeLaufe = 0;
    int allLaufe = 0;
    int countBahn = 0;
    bool sortByPlace = false;
    // The run after the last record.
    bool runOpen = false; // started and not reset
    std::uint32_t startTick = 0;
    std::array<bool, 2> laneStopped{false, false};
    std::array<std::uint32_t, 2> stopTick{0, 0};
    std::array<int, 2> laneRunColumn{-1, -1};
    bool modified = false;    // unsaved changes after the last record
    bool quitUnsaved = false; // the program was ended with them, not cut off
    int cellChanges = 0;      // times, eliminations and edits read
    int skipped = 0;          // records that fit no row or fail a check (kept out of the protocol)
    // Doubtful times still waiting for confirmation, in the order they were
    // marked: load-order number and run column.
    QList<std::pair<QString, int>> unconfirmed;
    // Lane times that found no starter, in order: lane and time text.
    QList<std::pair<int, QString>> unplacedTimes;
    // The journal this one was restored from (its file name), and whether the
    // restored state was complete in this one.
    QString restoredFrom;
    bool restoreDone = false;
    // A journal of session commands (this version's): the commands in order,
    // which a restore gives to a fresh session. Empty for an older journal,
    // whose state the fields above describe.
    std::vector<SessionCommand> commands;

    // Worth offering at the next start: unsaved changes or a run still timing.
    // A run whose lanes have all stopped holds nothing more once it was saved.
    bool HoldsChanges() const { return hasProtocol && (modified || RunStillTiming()); }
    bool RunStillTiming() const;
    // Times and eliminations in the rows.
    int TimesInRows() const;
};

// Rebuilds the state, checking each record as the entry paths check typed
// input: a record that fails is skipped and counted.
JournalReplay ReplayJournal(const std::vector<JournalRecord>& records);

// /proc/sys/kernel/random/boot_id: a new text after every restart of the machine.
QString SystemBootId();
// The journal folder in the user's data folder (QStandardPaths::AppDataLocation).
QString DefaultJournalFolder();

// Appends records to one journal file at a time. Each record reaches the file
// (write) before Append returns; a background thread syncs it to the disk
// (fdatasync) right after, so a power cut loses at most the last moment. The
// file is locked while it is written, so a second running program never offers
// it for restoring; a file that can't be locked is not written.
//
// After a failed write, each later Append tries again (at most once per
// RetryInterval) with a new file that holds the whole state afresh
// (CurrentState); the failed file is removed once the new one is on the disk.
// A file grown large is replaced the same way.
class JournalSyncer;
class TRaceJournal
{
public:
    TRaceJournal(QString folder, QString bootId);
    ~TRaceJournal();
    TRaceJournal(const TRaceJournal&) = delete;
    TRaceJournal& operator=(const TRaceJournal&) = delete;

    // Ends the current file (marked clean when asked) and starts a new one that
    // holds the header and the given records. False when it can't be written.
    bool Begin(const std::vector<JournalRecord>& first, bool closePreviousClean);
    // Appends to the current file; nothing before the first Begin. After a
    // failed write it starts afresh from CurrentState when that works again.
    void Append(const JournalRecord& record);
    // Waits until everything written so far is on the disk, the folder entry
    // included. False when the sync fails or nothing is open.
    bool SyncNow();
    // Marks the current file clean (nothing unsaved) and keeps it open.
    void MarkClean();
    // Ends the current file; clean marks it as holding nothing unsaved.
    void Close(bool clean);
    // Ends the current file as the program ends with unsaved changes, so the
    // next start can tell this from a session that was cut off.
    void CloseUnsaved();

    bool IsOpen() const { return m_fd >= 0; }
    QString FileName() const { return m_fileName; }
    QString BootId() const { return m_bootId; }
    // Disk syncs done for the current file (for tests).
    int SyncCount() const;
    bool Failed() const { return m_failed; }
    // After a failure: tries to start afresh now (within RetryInterval of the last try: not yet).
    void RetryIfFailed();
    // Blocks until everything written has reached the disk (for tests).
    bool WaitUntilSynced(int milliseconds);
    // Called once per failure with a German text when the journal can't be written.
    std::function<void(const QString&)> OnWriteFailed;
    // Called with a German text when writing works again after a failure.
    std::function<void(const QString&)> OnWriteResumed;
    // The whole state as records (a Load first), for a fresh start after a failure.
    std::function<std::vector<JournalRecord>()> CurrentState;
    std::chrono::milliseconds RetryInterval{5000};
    // A file that grows beyond this (and beyond twice its start) is replaced
    // by one that holds the state afresh, so no journal nears JournalMaxBytes.
    qint64 RenewAtBytes = JournalMaxBytes / 4;

private:
    bool Start(const std::vector<JournalRecord>& first);
    bool Write(const QByteArray& bytes);
    void Fail(const QString& reason);
    void Retry();
    bool Renew();

    QString m_folder;
    QString m_bootId;
    QString m_fileName;
    int m_fd = -1;
    bool m_begun = false;
    bool m_failed = false;
    qint64 m_size = 0;
    qint64 m_startSize = 0; // size after the records the file began with
    bool m_quiet = false;   // a retry's failure is not reported again
    std::chrono::steady_clock::time_point m_lastTry;
    std::unique_ptr<JournalSyncer> m_syncer;
};

// What the start-up finds in the journal folder.
struct JournalFinding
{
    QString fileName; // empty: nothing to offer or report
    qint64 size = 0;  // the file's size
    QDateTime lastModified;
    JournalReadResult read;
    JournalReplay replay;
};

// Cleans the folder up and returns every journal not held by a running
// program, newest first. The clean-up removes sound journals with nothing
// unsaved and set-aside files, both older than JournalKeepDays and not among
// the JournalKeepNewest newest of their kind; a journal superseded by a
// completed restore is set aside, a restore that never completed is removed
// while the journal it came from is still there.
std::vector<JournalFinding> FindJournals(const QString& folder, const QDateTime& now);
// The newest of FindJournals (an empty finding when there is none).
JournalFinding FindLastJournal(const QString& folder, const QDateTime& now);
// Renames a journal aside (with its date) so it is kept but never offered
// again, and syncs the folder; returns the new name (or the old one if the
// rename failed).
QString SetJournalAside(const QString& fileName);
// A German text for a system error number.
QString JournalErrorText(int error);
