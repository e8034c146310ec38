#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <array>
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
// Reading stops at the first record that is incomplete or fails its check: a
// torn tail is dropped, never misread.

inline constexpr std::uint32_t JournalFormatVersion = 1;
inline constexpr int JournalKeepDays = 30;

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
};

enum class JournalCellChange : std::uint8_t { Time = 1, Elimination = 2, Edit = 3 };

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
    NotAJournal,  // does not start like a journal
    OtherVersion, // a journal of another format version
};

struct JournalReadResult
{
    JournalReadStatus status = JournalReadStatus::Sound;
    std::uint32_t version = 0;
    std::vector<JournalRecord> records;
    qint64 soundBytes = 0; // length of the file start and the sound records
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
    bool modified = false; // unsaved changes after the last record
    int cellChanges = 0;   // times, eliminations and edits read
    int skipped = 0;       // records that fit no row (kept out of the protocol)

    // Worth offering at the next start: unsaved changes or a run not yet reset.
    bool HoldsChanges() const { return hasProtocol && (modified || runOpen); }
    bool RunStillTiming() const;
};

JournalReplay ReplayJournal(const std::vector<JournalRecord>& records);

// /proc/sys/kernel/random/boot_id: a new text after every restart of the machine.
QString SystemBootId();
// The journal folder in the user's data folder (QStandardPaths::AppDataLocation).
QString DefaultJournalFolder();

// Appends records to one journal file at a time. Each record reaches the file
// (write) before Append returns; a background thread syncs it to the disk
// (fdatasync) right after, so a power cut loses at most the last moment. The
// file is locked while it is written, so a second running program never offers
// it for restoring.
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
    // Appends to the current file; nothing without one or after a failed write.
    void Append(const JournalRecord& record);
    // Marks the current file clean (nothing unsaved) and keeps it open.
    void MarkClean();
    // Ends the current file; clean marks it as holding nothing unsaved.
    void Close(bool clean);

    bool IsOpen() const { return m_fd >= 0; }
    QString FileName() const { return m_fileName; }
    QString BootId() const { return m_bootId; }
    // Disk syncs done for the current file (for tests).
    int SyncCount() const;
    // Blocks until everything written has reached the disk (for tests).
    bool WaitUntilSynced(int milliseconds);
    // Called once per file with a German text when the journal can't be written.
    std::function<void(const QString&)> OnWriteFailed;

private:
    bool Write(const QByteArray& bytes);
    void Fail(const QString& reason);

    QString m_folder;
    QString m_bootId;
    QString m_fileName;
    int m_fd = -1;
    bool m_failed = false;
    qint64 m_size = 0;
    std::unique_ptr<JournalSyncer> m_syncer;
};

// What the start-up finds in the journal folder.
struct JournalFinding
{
    QString fileName; // empty: nothing to offer or report
    QByteArray bytes; // the file's contents
    JournalReadResult read;
    JournalReplay replay;
};

// Removes clean journals older than JournalKeepDays and returns the newest
// journal not held by a running program.
JournalFinding FindLastJournal(const QString& folder, const QDateTime& now);
// Renames a journal aside (with its date) so it is kept but never offered
// again; returns the new name (or the old one if the rename failed).
QString SetJournalAside(const QString& fileName);
// Cuts a torn tail and marks the journal clean.
bool CloseJournalFile(const QString& fileName, qint64 soundBytes);
