// libFuzzer harness for the race journal's reader and replay. The input is cut
// into payloads that are framed with the writer's own length and checksum, so
// the fuzzer reaches the decoder and the replay instead of failing checksums;
// a first byte with its low bit set appends the rest unframed, which tries the
// reader's search for the next sound record after damage.
#include "ProtocolLogic.h"
#include "RaceJournal.h"

#include <QByteArray>
#include <QLocale>
#include <cstddef>
#include <cstdint>

namespace {

void Check(bool condition)
{
    if (!condition)
        __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    const bool rawTail = data[0] & 1;
    QByteArray bytes = JournalFileStart();
    std::size_t pos = 1;
    // Payloads behind a 16-bit length; the rest (or what the length overruns) at the end.
    while (pos + 2 <= size) {
        const std::size_t length = std::size_t(data[pos]) | std::size_t(data[pos + 1]) << 8;
        if (length == 0 || pos + 2 + length > size)
            break;
        bytes +=
            FrameJournalRecord(QByteArray(reinterpret_cast<const char*>(data + pos + 2), qsizetype(length)));
        pos += 2 + length;
    }
    if (rawTail && pos < size)
        bytes.append(reinterpret_cast<const char*>(data + pos), qsizetype(size - pos));

    const JournalReadResult read = ReadJournal(bytes);
    Check(read.soundBytes <= bytes.size());
    Check(read.skippedBytes <= bytes.size());
    Check((read.damagedStretches > 0) == (read.status == JournalReadStatus::Damaged));
    // Every record read writes back to a payload that reads back the same.
    for (const JournalRecord& record : read.records) {
        const QByteArray payload = EncodeJournalPayload(record);
        const JournalReadResult again = ReadJournal(JournalFileStart() + FrameJournalRecord(payload));
        Check(again.status == JournalReadStatus::Sound && again.records.size() == 1);
        Check(EncodeJournalPayload(again.records.front()) == payload);
    }

    const JournalReplay replay = ReplayJournal(read.records);
    Check(replay.rows.size() <= JournalMaxRows);
    Check(replay.entries.size() <= JournalMaxRows);
    for (int lane = 0; lane < 2; ++lane) {
        Check(replay.positions[lane] >= -1 && replay.positions[lane] < replay.entries.size());
        Check(replay.laneRunColumn[lane] == -1 ||
              (replay.laneRunColumn[lane] >= ColLauf1 && replay.laneRunColumn[lane] <= ColLauf6));
    }
    for (const QStringList& cells : replay.rows) {
        Check(cells.size() <= ProtocolColumnCount);
        for (const QString& cell : cells)
            Check(cell.size() <= JournalMaxCellLength);
    }
    if (replay.hasRank) {
        Check(replay.probeLaufe >= 0 && replay.probeLaufe <= 5);
        Check(replay.allLaufe >= 1 && replay.allLaufe <= 6);
        Check(replay.countBahn == 1 || replay.countBahn == 2);
    }
    return 0;
}
