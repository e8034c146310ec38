#include "RaceJournal.h"

#include "ProtocolLogic.h"
#include "RunTimeEntry.h"
#include "SettingsLimits.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QSet>
#include <QStandardPaths>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <optional>
#include <sys/file.h>
#include <thread>
#include <unistd.h>
#include <utility>

namespace {

const QByteArray kMagic("QXJRNL\r\n", 8);
constexpr qint64 kFrameSize = 8; // length and checksum
constexpr std::uint32_t kMaxPayload = std::uint32_t(JournalMaxBytes);
// Records other than a Load are small: a bad stretch can't hide a long one.
constexpr std::uint32_t kMaxSmallPayload = 64 * 1024;
constexpr std::uint32_t kMaxTextBytes = 16 * 1024;
constexpr qsizetype kMaxCellsPerRow = 64;
constexpr qsizetype kMaxCommandNumbers = 16;
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
    void Strings(const QStringList& texts)
    {
        Word(std::uint32_t(texts.size()));
        for (const QString& text : texts)
            Text(text);
    }
    void Ints(const QList<int>& values)
    {
        Word(std::uint32_t(values.size()));
        for (int v : values)
            Int(v);
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
        if (size > kMaxTextBytes) {
            ok = false;
            return;
        }
        if (!Have(size))
            return;
        s = QString::fromUtf8(m_data.constData() + m_pos, qsizetype(size));
        m_pos += size;
    }
    void Rows(QList<QStringList>& rows)
    {
        // The header row and at most JournalMaxRows starters.
        const qsizetype rowCount = Count(4, JournalMaxRows + 1);
        rows.reserve(rowCount);
        for (qsizetype i = 0; i < rowCount && ok; ++i) {
            const qsizetype cellCount = Count(4, kMaxCellsPerRow);
            QStringList cells(cellCount);
            for (QString& cell : cells)
                Text(cell);
            rows.append(cells);
        }
    }
    void Strings(QStringList& texts)
    {
        texts.resize(Count(4, JournalMaxRows + 1));
        for (QString& text : texts)
            Text(text);
    }
    void Ints(QList<int>& values)
    {
        values.resize(Count(4, kMaxCommandNumbers));
        for (int& v : values)
            Int(v);
    }
    void Entries(QList<JournalLaneEntry>& entries)
    {
        entries.resize(Count(8, JournalMaxRows));
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
    qsizetype Count(qsizetype minItemSize, qsizetype limit)
    {
        const std::uint32_t n = NextWord();
        if (qint64(n) > limit || qint64(n) * minItemSize > m_data.size() - m_pos) {
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
    case JournalRecordType::Restored:
        io.Text(r.fileName);
        io.Byte(r.restoreDone);
        break;
    case JournalRecordType::Doubt:
        io.Text(r.loadOrder);
        io.Int(r.column);
        io.Byte(r.doubtful);
        break;
    case JournalRecordType::Command:
        io.Byte(r.command.kind);
        io.Byte(r.command.lane);
        io.Word(r.command.tick);
        io.Byte(r.command.flag);
        io.Text(r.command.key);
        io.Text(r.command.text);
        io.Ints(r.command.numbers);
        io.Rows(r.command.rows);
        io.Strings(r.command.keys);
        break;
    case JournalRecordType::Clear:
    case JournalRecordType::Reset:
    case JournalRecordType::Clean:
    case JournalRecordType::Quit:
        break;
    }
}

bool DecodePayload(const QByteArray& payload, JournalRecord& r)
{
    Reader in(payload);
    int type = 0;
    in.Byte(type);
    if (type < int(JournalRecordType::Header) || type > int(JournalRecordType::Command))
        return false;
    r.type = JournalRecordType(type);
    Fields(in, r);
    if (r.type == JournalRecordType::Command && int(r.command.kind) > int(SessionCommand::PendingStop))
        return false;
    return in.ok && in.AtEnd();
}

bool KnownType(std::uint8_t type)
{
    return type >= std::uint8_t(JournalRecordType::Header) &&
           type <= std::uint8_t(JournalRecordType::Command);
}

std::uint32_t MaxPayloadOf(std::uint8_t type)
{
    // A command may carry a whole protocol (a load) or a ranking's order.
    return type == std::uint8_t(JournalRecordType::Load) || type == std::uint8_t(JournalRecordType::Command)
               ? kMaxPayload
               : kMaxSmallPayload;
}

// The record framed at pos, when it is a sound one: its payload length.
std::optional<std::uint32_t> SoundRecordAt(const QByteArray& bytes, qint64 pos, JournalRecord* record,
                                           qint64* crcBudget = nullptr)
{
    if (bytes.size() - pos <= kFrameSize)
        return std::nullopt;
    const char* frame = bytes.constData() + pos;
    const std::uint32_t length = GetU32(frame);
    if (length == 0 || qint64(length) > bytes.size() - pos - kFrameSize)
        return std::nullopt;
    const std::uint8_t type = std::uint8_t(frame[kFrameSize]);
    if (!KnownType(type) || length > MaxPayloadOf(type))
        return std::nullopt;
    if (crcBudget) {
        *crcBudget -= length;
        if (*crcBudget < 0)
            return std::nullopt;
    }
    if (Crc32(Crc32(0, frame, 4), frame + kFrameSize, length) != GetU32(frame + 4))
        return std::nullopt;
    JournalRecord decoded;
    if (!DecodePayload(QByteArray::fromRawData(frame + kFrameSize, qsizetype(length)), decoded))
        return std::nullopt;
    if (record)
        *record = std::move(decoded);
    return length;
}

} // namespace

QString JournalErrorText(int error)
{
    switch (error) {
    case ENOSPC:
        return QStringLiteral("kein Platz mehr auf dem Datenträger");
    case EDQUOT:
        return QStringLiteral("Speicherkontingent erschöpft");
    case EACCES:
    case EPERM:
        return QStringLiteral("keine Berechtigung");
    case EROFS:
        return QStringLiteral("Datenträger ist schreibgeschützt");
    case EIO:
        return QStringLiteral("Ein-/Ausgabefehler des Datenträgers");
    case EFBIG:
        return QStringLiteral("Datei zu groß");
    case ENOENT:
    case ENOTDIR:
        return QStringLiteral("Ordner nicht gefunden");
    case EMFILE:
    case ENFILE:
        return QStringLiteral("zu viele offene Dateien");
    case ENOLCK:
    case EWOULDBLOCK:
        return QStringLiteral("Datei lässt sich nicht sperren");
    default:
        return QStringLiteral("Systemfehler %1").arg(error);
    }
}

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
    if (bytes.size() > JournalMaxBytes) {
        result.status = JournalReadStatus::TooLarge;
        return result;
    }
    qint64 pos = start;
    result.soundBytes = pos;
    // Looking for the next sound record checks a checksum wherever a frame
    // could start; all that work together stays within a few passes of the file.
    qint64 crcBudget = 4 * bytes.size() + (1 << 20);
    while (pos < bytes.size()) {
        JournalRecord record;
        if (const auto length = SoundRecordAt(bytes, pos, &record)) {
            result.records.push_back(std::move(record));
            pos += kFrameSize + *length;
            result.soundBytes = pos;
            continue;
        }
        qint64 next = pos + 1;
        while (next < bytes.size() && crcBudget >= 0 && !SoundRecordAt(bytes, next, nullptr, &crcBudget))
            ++next;
        if (next >= bytes.size() || crcBudget < 0)
            break; // nothing sound follows: a torn tail
        result.skippedBytes += next - pos;
        ++result.damagedStretches;
        pos = next;
    }
    if (result.damagedStretches > 0)
        result.status = JournalReadStatus::Damaged;
    else if (result.soundBytes < bytes.size())
        result.status = JournalReadStatus::TornTail;
    return result;
}

bool JournalReplay::RunStillTiming() const
{
    if (!runOpen)
        return false;
    return !laneStopped[0] || (countBahn > 1 && !laneStopped[1]);
}

int JournalReplay::TimesInRows() const
{
    int times = 0;
    for (const QStringList& cells : rows) {
        for (int col = ColLauf1; col <= ColLauf6 && col < cells.size(); ++col)
            times += cells.at(col).isEmpty() ? 0 : 1;
    }
    return times;
}

namespace {

bool IsRunColumn(int column)
{
    return column >= ColLauf1 && column <= ColLauf6;
}

// A time as the program writes it: what a typed entry would keep unchanged.
// A journal written under another locale's decimal sign still counts.
bool IsRunTime(const QString& text)
{
    if (const std::optional<QString> entry = RunTimeEntry(text))
        return *entry == text && !entry->isEmpty() && *entry != QLatin1String("EL");
    static const QRegularExpression plain(QStringLiteral("^[0-9]{1,7}[.,][0-9]{2}$"));
    if (!plain.match(text).hasMatch())
        return false;
    return RunTimeEntry(QString(text).replace(u',', u'.')).has_value();
}

// What a run cell may hold, as the grid's check allows it for a typed entry.
bool IsRunCell(const QString& text)
{
    return text.isEmpty() || text == QLatin1String("EL") || IsRunTime(text);
}

int Position(int position, qsizetype entries)
{
    return position >= 0 && position < entries ? position : -1;
}

bool ValidLoad(const JournalRecord& r)
{
    if (r.rows.size() > JournalMaxRows + 1 || r.entries.size() > JournalMaxRows)
        return false;
    QSet<QString> seen;
    seen.reserve(r.rows.size());
    for (qsizetype i = 1; i < r.rows.size(); ++i) {
        const QString loadOrder = r.rows.at(i).value(ColLoadOrder);
        if (loadOrder.isEmpty())
            continue;
        if (seen.contains(loadOrder))
            return false;
        seen.insert(loadOrder);
    }
    return true;
}

bool ValidCell(const JournalRecord& r)
{
    switch (r.change) {
    case JournalCellChange::Time:
        // A lane's result of its run: a time, or "EL" for a lane stopped by Shift+F8/F9.
        return IsLane(r.lane) && IsRunColumn(r.column) &&
               (IsRunTime(r.text) || r.text == QLatin1String("EL"));
    case JournalCellChange::Elimination:
        return IsLane(r.lane) && IsRunColumn(r.column) && r.text == QLatin1String("EL");
    case JournalCellChange::Edit:
        return r.column >= 0 && r.column < ColLoadOrder && (!IsRunColumn(r.column) || IsRunCell(r.text));
    case JournalCellChange::Unplaced:
        return false; // handled apart: it names no cell
    }
    return false;
}

QString Cut(const QString& text)
{
    return text.size() > JournalMaxCellLength ? text.left(JournalMaxCellLength) : text;
}

// A journal of session commands: what they lead to, given to a session of its own.
void SummariseCommands(JournalReplay& state, bool cleanAfterCommands)
{
    TRaceSession session;
    session.KeepCommands(false);
    session.Replay(state.commands);
    for (const UnplacedTime& time : session.UnplacedTimes())
        state.unplacedTimes.append({time.lane, time.text});
    state.fileName = session.FileName();
    state.header = session.Results().Header();
    state.rows = session.RowsInStartOrder();
    state.modified = session.Modified() && !cleanAfterCommands;
    state.unconfirmed = session.Unconfirmed();
    state.runOpen = !session.Idle();
    state.countBahn = session.CurrentRules().laneCount;
    state.hasRank = true;
    state.probeLaufe = session.CurrentRules().probeLaufe;
    state.allLaufe = session.CurrentRules().allLaufe;
    state.sortByPlace = session.ShownByPlace();
    if (state.runOpen) {
        const RunTicks& ticks = session.Run().Ticks();
        state.startTick = ticks.start;
        for (int lane = 1; lane <= 2; ++lane) {
            const bool stopped = lane <= session.Run().LaneCount() && !session.Run().LaneRunning(lane);
            state.laneStopped[lane - 1] = stopped;
            state.stopTick[lane - 1] = stopped ? ticks.stop.at(lane - 1) : 0;
            state.laneRunColumn[lane - 1] = session.LaneRunColumn(lane);
        }
    }
}

} // namespace

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
    bool cleanAfterCommands = false;
    for (std::size_t i = 0; i < records.size(); ++i) {
        const JournalRecord& r = records[i];
        switch (r.type) {
        case JournalRecordType::Header:
            state.hasHeader = true;
            state.bootId = r.bootId;
            state.createdMs = r.createdMs;
            break;
        case JournalRecordType::Load:
            if (!ValidLoad(r)) {
                ++state.skipped;
                break;
            }
            state.hasProtocol = true;
            state.fileName = r.fileName;
            state.rows = r.rows;
            for (QStringList& cells : state.rows) {
                if (cells.size() > ProtocolColumnCount)
                    cells.resize(ProtocolColumnCount);
                for (QString& cell : cells)
                    cell = Cut(cell);
            }
            state.header = state.rows.isEmpty() ? QStringList() : state.rows.takeFirst();
            for (QStringList& cells : state.rows) {
                for (int col = ColLauf1; col <= ColLauf6 && col < cells.size(); ++col) {
                    if (!IsRunCell(cells.at(col))) {
                        cells[col].clear();
                        ++state.skipped;
                    }
                }
            }
            state.entries = r.entries;
            for (JournalLaneEntry& entry : state.entries)
                entry.text = Cut(entry.text);
            state.positions = {Position(r.positions[0], state.entries.size()),
                               Position(r.positions[1], state.entries.size())};
            state.modified = r.modified;
            state.runOpen = false;
            state.laneRunColumn = {-1, -1};
            state.unconfirmed.clear();
            reindex();
            break;
        case JournalRecordType::Cell: {
            if (r.change == JournalCellChange::Unplaced) {
                if (!IsLane(r.lane) || !IsRunTime(r.text)) {
                    ++state.skipped;
                    break;
                }
                state.unplacedTimes.append({r.lane, r.text});
                state.modified = true;
                break;
            }
            const int row = rowOf.value(r.loadOrder, -1);
            if (!state.hasProtocol || row < 0 || !ValidCell(r)) {
                ++state.skipped;
                break;
            }
            QStringList& cells = state.rows[row];
            while (cells.size() <= r.column)
                cells.append(QString());
            cells[r.column] = Cut(r.text);
            state.modified = true;
            ++state.cellChanges;
            if (r.change == JournalCellChange::Time)
                state.laneRunColumn[r.lane - 1] = r.column;
            if (afterBase)
                state.tail.append({r.loadOrder, r.column, cells[r.column]});
            break;
        }
        case JournalRecordType::DeleteRow: {
            const int row = rowOf.value(r.loadOrder, -1);
            if (row < 0) {
                ++state.skipped;
                break;
            }
            state.rows.removeAt(row);
            state.unconfirmed.removeIf(
                [&r](const std::pair<QString, int>& m) { return m.first == r.loadOrder; });
            reindex();
            // The starter leaves the lane lists; a lane that showed him shows none.
            for (qsizetype e = state.entries.size(); e-- > 0;) {
                if (state.entries.at(e).identity != r.loadOrder)
                    continue;
                state.entries.removeAt(e);
                for (int& position : state.positions)
                    position = position == e ? -1 : position > e ? position - 1 : position;
            }
            state.modified = true;
            if (afterBase)
                state.tail.append({r.loadOrder, -1, QString()});
            break;
        }
        case JournalRecordType::Clear:
            state.rows.clear();
            state.unconfirmed.clear();
            state.entries.clear();
            state.positions = {-1, -1};
            state.modified = false;
            reindex();
            break;
        case JournalRecordType::Rank:
            if (r.probeLaufe < MinProbeLaufe || r.probeLaufe > MaxProbeLaufe || r.allLaufe < MinAllLaufe ||
                r.allLaufe > MaxAllLaufe || (r.countBahn != 1 && r.countBahn != 2)) {
                ++state.skipped;
                break;
            }
            state.hasRank = true;
            state.probeLaufe = r.probeLaufe;
            state.allLaufe = r.allLaufe;
            state.countBahn = r.countBahn;
            state.sortByPlace = r.sortByPlace;
            break;
        case JournalRecordType::Lanes:
            state.positions = {Position(r.positions[0], state.entries.size()),
                               Position(r.positions[1], state.entries.size())};
            break;
        case JournalRecordType::RunStart:
            if (r.countBahn != 1 && r.countBahn != 2) {
                ++state.skipped;
                break;
            }
            state.runOpen = true;
            state.startTick = r.tick;
            state.countBahn = r.countBahn;
            state.positions = {Position(r.positions[0], state.entries.size()),
                               Position(r.positions[1], state.entries.size())};
            state.laneStopped = {false, false};
            state.stopTick = {0, 0};
            state.laneRunColumn = {-1, -1};
            break;
        case JournalRecordType::LaneStop:
            if (state.runOpen && IsLane(r.lane)) {
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
        case JournalRecordType::Quit:
            state.quitUnsaved = true;
            break;
        case JournalRecordType::Doubt:
            if (!rowOf.contains(r.loadOrder) || r.column < ColLauf1 || r.column > ColLauf6) {
                ++state.skipped;
                break;
            }
            if (!r.doubtful)
                state.unconfirmed.removeAll({r.loadOrder, r.column});
            else if (!state.unconfirmed.contains({r.loadOrder, r.column}))
                state.unconfirmed.append({r.loadOrder, r.column});
            break;
        case JournalRecordType::Restored:
            if (state.restoredFrom.isEmpty())
                state.restoredFrom = r.fileName;
            if (r.fileName == state.restoredFrom && r.restoreDone)
                state.restoreDone = true;
            break;
        case JournalRecordType::Command: {
            SessionCommand command = r.command;
            if (command.kind == SessionCommand::Load) {
                // A file can be damaged or made by hand: cells as a protocol file's.
                for (QStringList& cells : command.rows) {
                    if (cells.size() > ProtocolColumnCount)
                        cells.resize(ProtocolColumnCount);
                    for (QString& cell : cells)
                        cell = Cut(cell);
                    for (int col = ColLauf1; col <= ColLauf6 && col < cells.size(); ++col) {
                        if (!IsRunCell(cells.at(col))) {
                            cells[col].clear();
                            ++state.skipped;
                        }
                    }
                }
                state.hasProtocol = true;
            }
            state.commands.push_back(std::move(command));
            cleanAfterCommands = false;
            break;
        }
        }
        if (r.type == JournalRecordType::Clean)
            cleanAfterCommands = true;
        if (i == lastBase) {
            state.baseRows = state.rows;
            state.baseRanked = r.type == JournalRecordType::Rank;
            afterBase = true;
        }
    }
    if (!state.commands.empty())
        SummariseCommands(state, cleanAfterCommands);
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
    m_begun = true;
    m_failed = false;
    return Start(first);
}

bool TRaceJournal::Start(const std::vector<JournalRecord>& first)
{
    m_size = 0;
    m_fileName.clear();
    m_lastTry = std::chrono::steady_clock::now();
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
        Fail(JournalErrorText(errno));
        return false;
    }
    // Unlocked, the file would be offered to a second running program as a
    // session that ended: such a journal is not written at all.
    if (::flock(m_fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(m_fd);
        m_fd = -1;
        QFile::remove(m_fileName);
        Fail(JournalErrorText(error == EWOULDBLOCK ? EWOULDBLOCK : ENOLCK));
        return false;
    }
    m_syncer = std::make_unique<JournalSyncer>(m_fd, m_folder);

    JournalRecord header;
    header.type = JournalRecordType::Header;
    header.bootId = m_bootId;
    header.createdMs = now.toMSecsSinceEpoch();
    QByteArray bytes = JournalFileStart() + EncodeJournalRecord(header);
    for (const JournalRecord& record : first)
        bytes += EncodeJournalRecord(record);
    const bool written = Write(bytes);
    m_startSize = m_size;
    return written;
}

void TRaceJournal::Append(const JournalRecord& record)
{
    if (!m_begun)
        return;
    if (m_failed) {
        // The state written afresh includes this record's change already.
        Retry();
        return;
    }
    if (m_fd >= 0 && Write(EncodeJournalRecord(record)) && CurrentState && m_size > RenewAtBytes &&
        m_size > 2 * m_startSize) {
        // Long before the reader's limit, the state goes to a new file in full.
        Renew();
    }
}

void TRaceJournal::RetryIfFailed()
{
    if (m_begun && m_failed)
        Retry();
}

void TRaceJournal::Retry()
{
    const auto now = std::chrono::steady_clock::now();
    if (!CurrentState || now - m_lastTry < RetryInterval)
        return;
    // Still failing: no second note.
    m_quiet = true;
    const bool renewed = Renew();
    m_quiet = false;
    if (renewed && OnWriteResumed)
        OnWriteResumed(QStringLiteral("Das Zeitenprotokoll wird wieder geschrieben."));
}

bool TRaceJournal::Renew()
{
    // The current file stays open (and locked) until its successor is on the disk.
    const QString oldFile = m_fileName;
    const int oldFd = std::exchange(m_fd, -1);
    std::unique_ptr<JournalSyncer> oldSyncer = std::move(m_syncer);
    const qint64 oldSize = m_size;
    m_failed = false;
    const bool ok = Start(CurrentState()) && SyncNow();
    if (!ok) {
        if (!m_failed)
            Fail(JournalErrorText(EIO)); // written, but not to the disk
        // This attempt's file goes; the earlier one stays as it is.
        m_syncer.reset();
        if (m_fd >= 0)
            ::close(m_fd);
        if (!m_fileName.isEmpty() && m_fileName != oldFile)
            QFile::remove(m_fileName);
        m_fd = oldFd;
        m_syncer = std::move(oldSyncer);
        m_fileName = oldFile;
        m_size = oldSize;
        m_failed = true;
        return false;
    }
    m_startSize = m_size;
    oldSyncer.reset();
    // The earlier file holds an earlier state of the same session.
    if (!oldFile.isEmpty() && oldFile != m_fileName)
        QFile::remove(oldFile);
    if (oldFd >= 0)
        ::close(oldFd);
    SyncNow();
    return true;
}

bool TRaceJournal::SyncNow()
{
    if (m_fd < 0 || m_failed)
        return false;
    bool ok = ::fdatasync(m_fd) == 0;
    const int dir = ::open(QFile::encodeName(m_folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ok = ::fsync(dir) == 0 && ok;
        ::close(dir);
    }
    return ok;
}

void TRaceJournal::MarkClean()
{
    JournalRecord clean;
    clean.type = JournalRecordType::Clean;
    Append(clean);
}

void TRaceJournal::Close(bool clean)
{
    m_begun = false;
    if (m_fd < 0)
        return;
    if (clean && !m_failed) {
        JournalRecord record;
        record.type = JournalRecordType::Clean;
        Write(EncodeJournalRecord(record));
    }
    m_syncer.reset();
    ::close(m_fd);
    m_fd = -1;
}

void TRaceJournal::CloseUnsaved()
{
    if (m_fd >= 0 && !m_failed) {
        JournalRecord record;
        record.type = JournalRecordType::Quit;
        Write(EncodeJournalRecord(record));
    }
    Close(false);
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
            Fail(JournalErrorText(n < 0 ? errno : ENOSPC));
            return false;
        }
        done += n;
    }
    m_size += done;
    if (m_syncer)
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
    if (OnWriteFailed && !m_quiet)
        OnWriteFailed(
            QStringLiteral("Zeitenprotokoll kann nicht geschrieben werden (%1). Die Zeitnahme läuft "
                           "weiter, ohne Sicherung für einen Absturz; sobald es wieder geht, wird das "
                           "Zeitenprotokoll neu geschrieben.")
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

void SyncFolder(const QString& folder)
{
    const int dir = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
}

// Newest first; the file system's clock is coarse, so equal times go by the
// name, which begins with the journal's creation time.
void SortNewestFirst(QFileInfoList& files)
{
    std::sort(files.begin(), files.end(), [](const QFileInfo& a, const QFileInfo& b) {
        const QDateTime ta = a.lastModified();
        const QDateTime tb = b.lastModified();
        return ta != tb ? ta > tb : a.fileName() > b.fileName();
    });
}

} // namespace

std::vector<JournalFinding> FindJournals(const QString& folder, const QDateTime& now)
{
    const QDir dir(folder);
    QFileInfoList aside = dir.entryInfoList({QStringLiteral("*.qxj.alt")}, QDir::Files);
    SortNewestFirst(aside);
    for (qsizetype i = JournalKeepNewest; i < aside.size(); ++i) {
        if (aside.at(i).lastModified().daysTo(now) > JournalKeepDays)
            QFile::remove(aside.at(i).absoluteFilePath());
    }

    QFileInfoList files = dir.entryInfoList({QStringLiteral("*.qxj")}, QDir::Files);
    SortNewestFirst(files);
    std::vector<JournalFinding> findings;
    bool removed = false;
    for (qsizetype i = 0; i < files.size(); ++i) {
        const QFileInfo& file = files.at(i);
        if (HeldByRunningProgram(file.absoluteFilePath()))
            continue;
        JournalFinding finding;
        finding.fileName = file.absoluteFilePath();
        finding.size = file.size();
        finding.lastModified = file.lastModified();
        if (finding.size > JournalMaxBytes) {
            finding.read.status = JournalReadStatus::TooLarge;
        } else {
            finding.read = ReadJournal(ReadAll(finding.fileName));
            const JournalReadStatus status = finding.read.status;
            if (status != JournalReadStatus::NotAJournal && status != JournalReadStatus::OtherVersion)
                finding.replay = ReplayJournal(finding.read.records);
        }
        const bool old = i >= JournalKeepNewest && file.lastModified().daysTo(now) > JournalKeepDays;
        if (old && finding.read.status == JournalReadStatus::Sound && !finding.replay.HoldsChanges()) {
            removed = QFile::remove(finding.fileName) || removed;
            continue;
        }
        findings.push_back(std::move(finding));
    }

    // A restore that completed supersedes the journal it came from; one that
    // did not complete is a part of that journal, which is offered instead.
    QSet<QString> present;
    for (const JournalFinding& finding : findings)
        present.insert(QFileInfo(finding.fileName).fileName());
    QSet<QString> superseded;
    for (const JournalFinding& finding : findings) {
        const QString& source = finding.replay.restoredFrom;
        if (!source.isEmpty() && finding.replay.restoreDone && present.contains(source))
            superseded.insert(source);
    }
    std::vector<JournalFinding> offered;
    for (JournalFinding& finding : findings) {
        const QString name = QFileInfo(finding.fileName).fileName();
        const QString& source = finding.replay.restoredFrom;
        if (superseded.contains(name)) {
            SetJournalAside(finding.fileName);
        } else if (!source.isEmpty() && !finding.replay.restoreDone && present.contains(source) &&
                   !superseded.contains(source)) {
            removed = QFile::remove(finding.fileName) || removed;
        } else {
            offered.push_back(std::move(finding));
        }
    }
    if (removed)
        SyncFolder(folder);
    return offered;
}

JournalFinding FindLastJournal(const QString& folder, const QDateTime& now)
{
    std::vector<JournalFinding> findings = FindJournals(folder, now);
    return findings.empty() ? JournalFinding() : std::move(findings.front());
}

QString SetJournalAside(const QString& fileName)
{
    const QFileInfo info(fileName);
    const QString stamp = info.lastModified().toString(QStringLiteral("yyyy-MM-dd_HH-mm-ss"));
    QString target = info.dir().absoluteFilePath(QStringLiteral("Beiseite_%1.qxj.alt").arg(stamp));
    for (int n = 2; QFileInfo::exists(target); ++n)
        target = info.dir().absoluteFilePath(QStringLiteral("Beiseite_%1_%2.qxj.alt").arg(stamp).arg(n));
    if (!QFile::rename(fileName, target))
        return fileName;
    // The new name must survive a power cut, or the journal comes back as unsaved.
    SyncFolder(info.absolutePath());
    return target;
}
