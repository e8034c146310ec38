#include "RaceJournal.h"

#include "ProtocolLogic.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QStandardPaths>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/file.h>
#include <thread>
#include <unistd.h>

namespace {

const QByteArray kMagic("QXJRNL\r\n", 8);
constexpr qint64 kFrameSize = 8; // length and checksum
constexpr std::uint32_t kMaxPayload = 1u << 30;
constexpr std::chrono::milliseconds kSyncDelay{100};

constexpr std::array<std::uint32_t, 256> MakeCrcTable()
{
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t c = i;
        for (int k = 0; k < 8; ++k)
            c = (c & 1u) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table.at(i) = c;
    }
    return table;
}
constexpr std::array<std::uint32_t, 256> kCrcTable = MakeCrcTable();

std::uint32_t Crc32(std::uint32_t crc, const char* data, qint64 size)
{
    crc = ~crc;
    for (qint64 i = 0; i < size; ++i)
        crc = kCrcTable.at((crc ^ std::uint8_t(data[i])) & 0xFFu) ^ (crc >> 8);
    return ~crc;
}

void PutU32(QByteArray& out, std::uint32_t v)
{
    const char bytes[4] = {char(v & 0xFF), char((v >> 8) & 0xFF), char((v >> 16) & 0xFF), char(v >> 24)};
    out.append(bytes, 4);
}

std::uint32_t GetU32(const char* p)
{
    return std::uint32_t(std::uint8_t(p[0])) | std::uint32_t(std::uint8_t(p[1])) << 8 |
           std::uint32_t(std::uint8_t(p[2])) << 16 | std::uint32_t(std::uint8_t(p[3])) << 24;
}

// Writes the fields of a record; Reader reads them back through the same Fields().
class Writer
{
public:
    QByteArray out;
    template <class T> void Byte(const T& v) { out.append(char(std::uint8_t(int(v)))); }
    void Int(int v) { PutU32(out, std::uint32_t(v)); }
    void Word(std::uint32_t v) { PutU32(out, v); }
    void Long(qint64 v)
    {
        PutU32(out, std::uint32_t(std::uint64_t(v) & 0xFFFFFFFFu));
        PutU32(out, std::uint32_t(std::uint64_t(v) >> 32));
    }
    void Text(const QString& s)
    {
        const QByteArray utf8 = s.toUtf8();
        Word(std::uint32_t(utf8.size()));
        out.append(utf8);
    }
    void Rows(const QList<QStringList>& rows)
    {
        Word(std::uint32_t(rows.size()));
        for (const QStringList& cells : rows) {
            Word(std::uint32_t(cells.size()));
            for (const QString& cell : cells)
                Text(cell);
        }
    }
    void Entries(const QList<JournalLaneEntry>& entries)
    {
        Word(std::uint32_t(entries.size()));
        for (const JournalLaneEntry& entry : entries) {
            Text(entry.text);
            Text(entry.identity);
        }
    }
};

// Reads a payload; any read beyond its end makes it unsound.
class Reader
{
public:
    explicit Reader(const QByteArray& payload) : m_data(payload) {}
    bool ok = true;
    bool AtEnd() const { return m_pos == m_data.size(); }
    template <class T> void Byte(T& v) { v = T(Have(1) ? std::uint8_t(m_data.at(m_pos++)) : 0); }
    void Int(int& v) { v = int(NextWord()); }
    void Word(std::uint32_t& v) { v = NextWord(); }
    void Long(qint64& v)
    {
        const std::uint64_t low = NextWord();
        const std::uint64_t high = NextWord();
        v = qint64(low | high << 32);
    }
    void Text(QString& s)
    {
        const std::uint32_t size = NextWord();
        if (!Have(size))
            return;
        s = QString::fromUtf8(m_data.constData() + m_pos, qsizetype(size));
        m_pos += size;
    }
    void Rows(QList<QStringList>& rows)
    {
        const qsizetype rowCount = Count(4);
        rows.reserve(rowCount);
        for (qsizetype i = 0; i < rowCount && ok; ++i) {
            const qsizetype cellCount = Count(4);
            QStringList cells(cellCount);
            for (QString& cell : cells)
                Text(cell);
            rows.append(cells);
        }
    }
    void Entries(QList<JournalLaneEntry>& entries)
    {
        entries.resize(Count(8));
        for (JournalLaneEntry& entry : entries) {
            Text(entry.text);
            Text(entry.identity);
        }
    }

private:
    std::uint32_t NextWord()
    {
        if (!Have(4))
            return 0;
        const std::uint32_t v = GetU32(m_data.constData() + m_pos);
        m_pos += 4;
        return v;
    }
    // A count of items of at least minItemSize bytes each that can still follow.
    qsizetype Count(qsizetype minItemSize)
    {
        const std::uint32_t n = NextWord();
        if (qint64(n) * minItemSize > m_data.size() - m_pos) {
            ok = false;
            return 0;
        }
        return qsizetype(n);
    }
    bool Have(qint64 n)
    {
        if (ok && n <= m_data.size() - m_pos)
            return true;
        ok = false;
        return false;
    }
    const QByteArray& m_data;
    qsizetype m_pos = 0;
};

// The fields of each record type, in file order, for writing and reading alike.
template <class Io, class Record> void Fields(Io& io, Record& r)
{
    switch (r.type) {
    case JournalRecordType::Header:
        io.Text(r.bootId);
        io.Long(r.createdMs);
        break;
    case JournalRecordType::Load:
        io.Text(r.fileName);
        io.Byte(r.modified);
        io.Rows(r.rows);
        io.Entries(r.entries);
        io.Int(r.positions[0]);
        io.Int(r.positions[1]);
        break;
    case JournalRecordType::Cell:
        io.Byte(r.change);
        io.Byte(r.lane);
        io.Text(r.loadOrder);
        io.Int(r.column);
        io.Text(r.text);
        break;
    case JournalRecordType::DeleteRow:
        io.Text(r.loadOrder);
        break;
    case JournalRecordType::Rank:
        io.Int(r.probeLaufe);
        io.Int(r.allLaufe);
        io.Int(r.countBahn);
        io.Byte(r.sortByPlace);
        break;
    case JournalRecordType::Lanes:
        io.Int(r.positions[0]);
        io.Int(r.positions[1]);
        break;
    case JournalRecordType::RunStart:
        io.Word(r.tick);
        io.Int(r.countBahn);
        io.Int(r.positions[0]);
        io.Int(r.positions[1]);
        break;
    case JournalRecordType::LaneStop:
        io.Byte(r.lane);
        io.Word(r.tick);
        break;
    case JournalRecordType::Edge:
        io.Byte(r.line);
        io.Word(r.modemStatus);
        io.Word(r.tick);
        break;
    case JournalRecordType::Clear:
    case JournalRecordType::Reset:
    case JournalRecordType::Clean:
        break;
    }
}

bool DecodePayload(const QByteArray& payload, JournalRecord& r)
{
    Reader in(payload);
    int type = 0;
    in.Byte(type);
    if (type < int(JournalRecordType::Header) || type > int(JournalRecordType::Clean))
        return false;
    r.type = JournalRecordType(type);
    Fields(in, r);
    return in.ok && in.AtEnd();
}

QString SystemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

} // namespace

QByteArray JournalFileStart()
{
    QByteArray start = kMagic;
    PutU32(start, JournalFormatVersion);
    return start;
}

QByteArray EncodeJournalPayload(const JournalRecord& r)
{
    Writer w;
    w.Byte(r.type);
    Fields(w, r);
    return w.out;
}

QByteArray FrameJournalRecord(const QByteArray& payload)
{
    QByteArray frame;
    frame.reserve(payload.size() + kFrameSize);
    PutU32(frame, std::uint32_t(payload.size()));
    const std::uint32_t crc = Crc32(Crc32(0, frame.constData(), 4), payload.constData(), payload.size());
    PutU32(frame, crc);
    frame.append(payload);
    return frame;
}

JournalReadResult ReadJournal(const QByteArray& bytes)
{
    JournalReadResult result;
    const qint64 start = kMagic.size() + 4;
    if (bytes.size() < start) {
        // A file cut before its first record is a journal only if what is there fits.
        const bool prefix = kMagic.startsWith(bytes.left(kMagic.size()));
        result.status = prefix ? JournalReadStatus::TornTail : JournalReadStatus::NotAJournal;
        return result;
    }
    if (!bytes.startsWith(kMagic)) {
        result.status = JournalReadStatus::NotAJournal;
        return result;
    }
    result.version = GetU32(bytes.constData() + kMagic.size());
    if (result.version != JournalFormatVersion) {
        result.status = JournalReadStatus::OtherVersion;
        return result;
    }
    qint64 pos = start;
    result.soundBytes = pos;
    while (pos < bytes.size()) {
        if (bytes.size() - pos < kFrameSize)
            break;
        const std::uint32_t length = GetU32(bytes.constData() + pos);
        const std::uint32_t crc = GetU32(bytes.constData() + pos + 4);
        if (length == 0 || length > kMaxPayload || qint64(length) > bytes.size() - pos - kFrameSize)
            break;
        const char* payload = bytes.constData() + pos + kFrameSize;
        if (Crc32(Crc32(0, bytes.constData() + pos, 4), payload, length) != crc)
            break;
        JournalRecord record;
        if (!DecodePayload(QByteArray::fromRawData(payload, qsizetype(length)), record))
            break;
        result.records.push_back(std::move(record));
        pos += kFrameSize + length;
        result.soundBytes = pos;
    }
    if (result.soundBytes < bytes.size())
        result.status = JournalReadStatus::TornTail;
    return result;
}

bool JournalReplay::RunStillTiming() const
{
    if (!runOpen)
        return false;
    return !laneStopped[0] || (countBahn > 1 && !laneStopped[1]);
}

JournalReplay ReplayJournal(const std::vector<JournalRecord>& records)
{
    JournalReplay state;
    // The base is taken at the last load, clearing or ranking only, so that
    // earlier rankings cost nothing.
    std::size_t lastBase = records.size();
    for (std::size_t i = records.size(); i-- > 0;) {
        const JournalRecordType type = records[i].type;
        if (type == JournalRecordType::Load || type == JournalRecordType::Clear ||
            type == JournalRecordType::Rank) {
            lastBase = i;
            break;
        }
    }
    QHash<QString, int> rowOf;
    auto reindex = [&] {
        rowOf.clear();
        rowOf.reserve(state.rows.size());
        for (int i = 0; i < state.rows.size(); ++i)
            rowOf.insert(state.rows[i].value(ColLoadOrder), i);
    };
    bool afterBase = false;
    for (std::size_t i = 0; i < records.size(); ++i) {
        const JournalRecord& r = records[i];
        switch (r.type) {
        case JournalRecordType::Header:
            state.hasHeader = true;
            state.bootId = r.bootId;
            state.createdMs = r.createdMs;
            break;
        case JournalRecordType::Load:
            state.hasProtocol = true;
            state.fileName = r.fileName;
            state.rows = r.rows;
            state.header = state.rows.isEmpty() ? QStringList() : state.rows.takeFirst();
            state.entries = r.entries;
            state.positions = r.positions;
            state.modified = r.modified;
            state.runOpen = false;
            state.laneRunColumn = {-1, -1};
            reindex();
            break;
        case JournalRecordType::Cell: {
            const int row = rowOf.value(r.loadOrder, -1);
            if (!state.hasProtocol || row < 0 || r.column < 0 || r.column >= ColLoadOrder) {
                ++state.skipped;
                break;
            }
            QStringList& cells = state.rows[row];
            while (cells.size() <= r.column)
                cells.append(QString());
            cells[r.column] = r.text;
            state.modified = true;
            ++state.cellChanges;
            if (r.change == JournalCellChange::Time && (r.lane == 1 || r.lane == 2))
                state.laneRunColumn[r.lane - 1] = r.column;
            if (afterBase)
                state.tail.append({r.loadOrder, r.column, r.text});
            break;
        }
        case JournalRecordType::DeleteRow: {
            const int row = rowOf.value(r.loadOrder, -1);
            if (row < 0) {
                ++state.skipped;
                break;
            }
            state.rows.removeAt(row);
            reindex();
            state.modified = true;
            if (afterBase)
                state.tail.append({r.loadOrder, -1, QString()});
            break;
        }
        case JournalRecordType::Clear:
            state.rows.clear();
            state.entries.clear();
            state.positions = {-1, -1};
            state.modified = false;
            reindex();
            break;
        case JournalRecordType::Rank:
            state.hasRank = true;
            state.probeLaufe = r.probeLaufe;
            state.allLaufe = r.allLaufe;
            state.countBahn = r.countBahn;
            state.sortByPlace = r.sortByPlace;
            break;
        case JournalRecordType::Lanes:
            state.positions = r.positions;
            break;
        case JournalRecordType::RunStart:
            state.runOpen = true;
            state.startTick = r.tick;
            state.countBahn = r.countBahn;
            state.positions = r.positions;
            state.laneStopped = {false, false};
            state.stopTick = {0, 0};
            state.laneRunColumn = {-1, -1};
            break;
        case JournalRecordType::LaneStop:
            if (state.runOpen && (r.lane == 1 || r.lane == 2)) {
                state.laneStopped[r.lane - 1] = true;
                state.stopTick[r.lane - 1] = r.tick;
                state.modified = true;
            }
            break;
        case JournalRecordType::Reset:
            state.runOpen = false;
            state.laneRunColumn = {-1, -1};
            break;
        case JournalRecordType::Edge:
            break;
        case JournalRecordType::Clean:
            state.modified = false;
            break;
        }
        if (i == lastBase) {
            state.baseRows = state.rows;
            state.baseRanked = r.type == JournalRecordType::Rank;
            afterBase = true;
        }
    }
    return state;
}

QString SystemBootId()
{
    QFile file(QStringLiteral("/proc/sys/kernel/random/boot_id"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromLatin1(file.readAll()).trimmed();
}

QString DefaultJournalFolder()
{
    return QDir(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation))
        .absoluteFilePath(QStringLiteral("Zeitenprotokolle"));
}

// ---------------------------------------------------------------------------
// Writing

// Syncs its own copy of the journal's descriptor to the disk whenever the
// writer reports new bytes; a sync still pending is done before it ends.
class JournalSyncer
{
public:
    JournalSyncer(int fd, QString folder) : m_fd(::dup(fd)), m_folder(std::move(folder))
    {
        m_thread = std::thread([this] { Run(); });
    }
    ~JournalSyncer()
    {
        {
            const std::lock_guard lock(m_mutex);
            m_stop = true;
        }
        m_wake.notify_one();
        m_thread.join();
        if (m_fd >= 0)
            ::close(m_fd);
    }
    void Dirty()
    {
        {
            const std::lock_guard lock(m_mutex);
            m_dirty = true;
        }
        m_wake.notify_one();
    }
    int Count() const { return m_count.load(); }
    bool WaitUntilSynced(std::chrono::milliseconds timeout)
    {
        std::unique_lock lock(m_mutex);
        return m_idle.wait_for(lock, timeout, [this] { return !m_dirty && !m_syncing; });
    }

private:
    void Run()
    {
        // The new file's name must survive a power cut as well.
        const int dir = ::open(QFile::encodeName(m_folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dir >= 0) {
            ::fsync(dir);
            ::close(dir);
        }
        std::unique_lock lock(m_mutex);
        for (;;) {
            m_wake.wait(lock, [this] { return m_dirty || m_stop; });
            if (!m_dirty)
                return;
            // The records of one command (a stop writes several) go to the disk together.
            m_wake.wait_for(lock, kSyncDelay, [this] { return m_stop; });
            m_dirty = false;
            m_syncing = true;
            lock.unlock();
            if (m_fd >= 0)
                ::fdatasync(m_fd);
            ++m_count;
            lock.lock();
            m_syncing = false;
            m_idle.notify_all();
        }
    }

    int m_fd = -1;
    QString m_folder;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    bool m_dirty = false;
    bool m_syncing = false;
    bool m_stop = false;
    std::atomic<int> m_count{0};
    std::thread m_thread;
};

TRaceJournal::TRaceJournal(QString folder, QString bootId)
    : m_folder(std::move(folder)), m_bootId(std::move(bootId))
{
}

TRaceJournal::~TRaceJournal()
{
    Close(false);
}

bool TRaceJournal::Begin(const std::vector<JournalRecord>& first, bool closePreviousClean)
{
    Close(closePreviousClean);
    m_failed = false;
    m_size = 0;
    if (!QDir().mkpath(m_folder)) {
        Fail(QStringLiteral("Ordner %1 kann nicht angelegt werden").arg(QDir::toNativeSeparators(m_folder)));
        return false;
    }
    const QDateTime now = QDateTime::currentDateTime();
    const QString stem = QStringLiteral("Journal_%1_%2")
                             .arg(now.toString(QStringLiteral("yyyyMMdd-HHmmss-zzz")))
                             .arg(QCoreApplication::applicationPid());
    for (int n = 0; m_fd < 0 && n < 100; ++n) {
        m_fileName = QDir(m_folder).absoluteFilePath(n == 0 ? stem + QStringLiteral(".qxj")
                                                            : stem + QStringLiteral("_%1.qxj").arg(n));
        m_fd = ::open(QFile::encodeName(m_fileName).constData(),
                      O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC, 0644);
        if (m_fd < 0 && errno != EEXIST)
            break;
    }
    if (m_fd < 0) {
        Fail(SystemError(errno));
        return false;
    }
    ::flock(m_fd, LOCK_EX | LOCK_NB);
    m_syncer = std::make_unique<JournalSyncer>(m_fd, m_folder);

    JournalRecord header;
    header.type = JournalRecordType::Header;
    header.bootId = m_bootId;
    header.createdMs = now.toMSecsSinceEpoch();
    QByteArray bytes = JournalFileStart() + EncodeJournalRecord(header);
    for (const JournalRecord& record : first)
        bytes += EncodeJournalRecord(record);
    return Write(bytes);
}

void TRaceJournal::Append(const JournalRecord& record)
{
    if (m_fd >= 0 && !m_failed)
        Write(EncodeJournalRecord(record));
}

void TRaceJournal::MarkClean()
{
    JournalRecord clean;
    clean.type = JournalRecordType::Clean;
    Append(clean);
}

void TRaceJournal::Close(bool clean)
{
    if (m_fd < 0)
        return;
    if (clean)
        MarkClean();
    m_syncer.reset();
    ::close(m_fd);
    m_fd = -1;
}

int TRaceJournal::SyncCount() const
{
    return m_syncer ? m_syncer->Count() : 0;
}

bool TRaceJournal::WaitUntilSynced(int milliseconds)
{
    return !m_syncer || m_syncer->WaitUntilSynced(std::chrono::milliseconds(milliseconds));
}

bool TRaceJournal::Write(const QByteArray& bytes)
{
    qint64 done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(m_fd, bytes.constData() + done, std::size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            Fail(SystemError(n < 0 ? errno : ENOSPC));
            return false;
        }
        done += n;
    }
    m_size += done;
    m_syncer->Dirty();
    return true;
}

void TRaceJournal::Fail(const QString& reason)
{
    // A record written in part is cut off again, so that nothing follows a torn one.
    if (m_fd >= 0 && ::ftruncate(m_fd, m_size) != 0) {
        // The reader drops the torn tail.
    }
    if (m_failed)
        return;
    m_failed = true;
    if (OnWriteFailed)
        OnWriteFailed(
            QStringLiteral("Zeitenprotokoll kann nicht geschrieben werden (%1). Die Zeitnahme läuft "
                           "weiter, ohne Sicherung für einen Absturz.")
                .arg(reason));
}

// ---------------------------------------------------------------------------
// Start-up

namespace {

bool HeldByRunningProgram(const QString& fileName)
{
    const int fd = ::open(QFile::encodeName(fileName).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool held = ::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    ::close(fd);
    return held;
}

QByteArray ReadAll(const QString& fileName)
{
    QFile file(fileName);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

JournalFinding FindLastJournal(const QString& folder, const QDateTime& now)
{
    JournalFinding finding;
    QFileInfoList files = QDir(folder).entryInfoList({QStringLiteral("*.qxj")}, QDir::Files);
    // Newest first; the file system's clock is coarse, so equal times go by the
    // name, which begins with the journal's creation time.
    std::sort(files.begin(), files.end(), [](const QFileInfo& a, const QFileInfo& b) {
        const QDateTime ta = a.lastModified();
        const QDateTime tb = b.lastModified();
        return ta != tb ? ta > tb : a.fileName() > b.fileName();
    });
    bool newest = true;
    for (const QFileInfo& file : files) {
        if (HeldByRunningProgram(file.absoluteFilePath()))
            continue;
        const bool old = file.lastModified().daysTo(now) > JournalKeepDays;
        if (!newest && !old)
            continue;
        const QByteArray bytes = ReadAll(file.absoluteFilePath());
        const JournalReadResult read = ReadJournal(bytes);
        const bool readable =
            read.status == JournalReadStatus::Sound || read.status == JournalReadStatus::TornTail;
        const JournalReplay replay = readable ? ReplayJournal(read.records) : JournalReplay();
        if (old && readable && !replay.HoldsChanges() && read.status == JournalReadStatus::Sound) {
            QFile::remove(file.absoluteFilePath());
        } else if (newest) {
            finding.fileName = file.absoluteFilePath();
            finding.bytes = bytes;
            finding.read = read;
            finding.replay = replay;
        }
        newest = false;
    }
    return finding;
}

QString SetJournalAside(const QString& fileName)
{
    const QFileInfo info(fileName);
    const QString stamp = info.lastModified().toString(QStringLiteral("yyyy-MM-dd_HH-mm-ss"));
    QString target = info.dir().absoluteFilePath(QStringLiteral("Beiseite_%1.qxj.alt").arg(stamp));
    for (int n = 2; QFileInfo::exists(target); ++n)
        target = info.dir().absoluteFilePath(QStringLiteral("Beiseite_%1_%2.qxj.alt").arg(stamp).arg(n));
    return QFile::rename(fileName, target) ? target : fileName;
}

bool CloseJournalFile(const QString& fileName, qint64 soundBytes)
{
    const int fd = ::open(QFile::encodeName(fileName).constData(), O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    JournalRecord clean;
    clean.type = JournalRecordType::Clean;
    const QByteArray bytes = EncodeJournalRecord(clean);
    bool ok = ::ftruncate(fd, soundBytes) == 0 && ::lseek(fd, soundBytes, SEEK_SET) == soundBytes &&
              ::write(fd, bytes.constData(), std::size_t(bytes.size())) == ssize_t(bytes.size());
    ok = ::fdatasync(fd) == 0 && ok;
    ::close(fd);
    return ok;
}
