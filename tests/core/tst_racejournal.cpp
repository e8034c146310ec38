#include "RaceJournal.h"

#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

namespace {

JournalRecord Make(JournalRecordType type)
{
    JournalRecord r;
    r.type = type;
    return r;
}

JournalRecord Header(const QString& bootId)
{
    JournalRecord r = Make(JournalRecordType::Header);
    r.bootId = bootId;
    r.createdMs = 1765000000123;
    return r;
}

JournalRecord Load(int starters)
{
    JournalRecord r = Make(JournalRecordType::Load);
    r.fileName = QStringLiteral("/rennen/Starter Ü.csv");
    r.rows.append({QStringLiteral("Nr."), QStringLiteral("Name")});
    for (int i = 1; i <= starters; ++i) {
        QStringList cells(14);
        cells[0] = QString::number(10 + i);
        cells[1] = QStringLiteral("Name%1").arg(i);
        cells[4] = i % 2 ? QStringLiteral("A") : QStringLiteral("B");
        cells[13] = QString::number(i);
        r.rows.append(cells);
        r.entries.append({cells[0] + QStringLiteral(" ") + cells[1], cells[13]});
    }
    r.positions = {0, 1};
    return r;
}

JournalRecord Cell(const QString& loadOrder, int column, const QString& text,
                   JournalCellChange change = JournalCellChange::Time, int lane = 1)
{
    JournalRecord r = Make(JournalRecordType::Cell);
    r.change = change;
    r.lane = lane;
    r.loadOrder = loadOrder;
    r.column = column;
    r.text = text;
    return r;
}

JournalRecord Rank()
{
    JournalRecord r = Make(JournalRecordType::Rank);
    r.probeLaufe = 1;
    r.allLaufe = 5;
    r.countBahn = 2;
    r.sortByPlace = true;
    return r;
}

JournalRecord Tick(JournalRecordType type, std::uint32_t tick, int lane = 0)
{
    JournalRecord r = Make(type);
    r.tick = tick;
    r.lane = lane;
    r.countBahn = 2;
    r.positions = {2, 3};
    return r;
}

QByteArray Journal(const std::vector<JournalRecord>& records)
{
    QByteArray bytes = JournalFileStart();
    for (const JournalRecord& r : records)
        bytes += EncodeJournalRecord(r);
    return bytes;
}

const std::vector<JournalRecord> kSession = {
    Header(QStringLiteral("boot-A")),
    Load(3),
    Rank(),
    Tick(JournalRecordType::RunStart, 4000),
    Tick(JournalRecordType::LaneStop, 11250, 1),
    Cell(QStringLiteral("1"), 5, QStringLiteral("7,25")),
};

} // namespace

// The journal's record format, its reading after damage, and the replay of records.
class TestRaceJournal : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void recordsReadBackAsWritten_data()
    {
        QTest::addColumn<JournalRecord>("record");
        JournalRecord edge = Make(JournalRecordType::Edge);
        edge.line = 3;
        edge.modemStatus = 0x80;
        edge.tick = 0xFFFFFFF0u;
        JournalRecord deletion = Make(JournalRecordType::DeleteRow);
        deletion.loadOrder = QStringLiteral("17");
        JournalRecord lanes = Make(JournalRecordType::Lanes);
        lanes.positions = {-1, 4};
        QTest::newRow("header") << Header(QStringLiteral("3f1c-äß"));
        QTest::newRow("load with umlauts") << Load(4);
        QTest::newRow("empty load") << Load(0);
        QTest::newRow("time") << Cell(QStringLiteral("2"), 7, QStringLiteral("12,34"));
        QTest::newRow("edit to empty") << Cell(QStringLiteral("2"), 1, QString(), JournalCellChange::Edit, 0);
        QTest::newRow("delete row") << deletion;
        QTest::newRow("rank") << Rank();
        QTest::newRow("lanes") << lanes;
        QTest::newRow("run start near wrap") << Tick(JournalRecordType::RunStart, 0xFFFFFF00u);
        QTest::newRow("lane stop") << Tick(JournalRecordType::LaneStop, 77, 2);
        QTest::newRow("edge") << edge;
        QTest::newRow("clean") << Make(JournalRecordType::Clean);
    }
    void recordsReadBackAsWritten()
    {
        QFETCH(JournalRecord, record);
        const JournalReadResult read = ReadJournal(Journal({record}));
        QCOMPARE(read.status, JournalReadStatus::Sound);
        QCOMPARE(read.records.size(), std::size_t(1));
        QCOMPARE(EncodeJournalPayload(read.records.front()), EncodeJournalPayload(record));
    }

    void damagedJournalKeepsItsSoundRecords_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<JournalReadStatus>("status");
        QTest::addColumn<int>("records");
        const QByteArray sound = Journal(kSession);
        const int last = int(EncodeJournalRecord(kSession.back()).size());
        QByteArray flipped = sound;
        flipped[flipped.size() - 2] = char(flipped.at(flipped.size() - 2) ^ 0x01);
        QByteArray longLength = sound;
        longLength[sound.size() - last + 2] = char(0x7F); // the last record claims far more bytes
        QByteArray otherVersion = sound;
        otherVersion[8] = char(2);
        QByteArray random(4096, Qt::Uninitialized);
        QRandomGenerator generator(42);
        for (char& c : random)
            c = char(generator.bounded(256));
        QByteArray randomAfterStart = JournalFileStart() + random;

        QTest::newRow("sound") << sound << JournalReadStatus::Sound << 6;
        QTest::newRow("torn last record") << sound.left(sound.size() - 3) << JournalReadStatus::TornTail << 5;
        QTest::newRow("only the length of the last record")
            << sound.left(sound.size() - last + 4) << JournalReadStatus::TornTail << 5;
        QTest::newRow("checksum of the last record fails") << flipped << JournalReadStatus::TornTail << 5;
        QTest::newRow("length beyond the end") << longLength << JournalReadStatus::TornTail << 5;
        QTest::newRow("cut inside the list") << sound.left(60) << JournalReadStatus::TornTail << 1;
        QTest::newRow("cut inside the file start") << sound.left(5) << JournalReadStatus::TornTail << 0;
        QTest::newRow("empty") << QByteArray() << JournalReadStatus::TornTail << 0;
        QTest::newRow("other version") << otherVersion << JournalReadStatus::OtherVersion << 0;
        QTest::newRow("random bytes") << random << JournalReadStatus::NotAJournal << 0;
        QTest::newRow("random bytes after a good start")
            << randomAfterStart << JournalReadStatus::TornTail << 0;
        QTest::newRow("text file") << QByteArray("Nr.\tName\r\n1\tAdler\r\n")
                                   << JournalReadStatus::NotAJournal << 0;
    }
    void damagedJournalKeepsItsSoundRecords()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(JournalReadStatus, status);
        QFETCH(int, records);
        const JournalReadResult read = ReadJournal(bytes);
        QCOMPARE(read.status, status);
        QCOMPARE(int(read.records.size()), records);
        QVERIFY(read.soundBytes <= bytes.size());
    }

    void replayRebuildsProtocolAndRun_data()
    {
        QTest::addColumn<int>("cut"); // records of kSession plus extra taken
        QTest::addColumn<QString>("lauf1Of1");
        QTest::addColumn<bool>("runStillTiming");
        QTest::addColumn<bool>("holdsChanges");
        QTest::addColumn<int>("tailSize");
        QTest::newRow("loaded only") << 3 << QString() << false << false << 0;
        QTest::newRow("run started") << 4 << QString() << true << true << 0;
        QTest::newRow("lane 1 stopped, time written") << 6 << QStringLiteral("7,25") << true << true << 1;
    }
    void replayRebuildsProtocolAndRun()
    {
        QFETCH(int, cut);
        QFETCH(QString, lauf1Of1);
        QFETCH(bool, runStillTiming);
        QFETCH(bool, holdsChanges);
        QFETCH(int, tailSize);
        const std::vector<JournalRecord> records(kSession.begin(), kSession.begin() + cut);
        const JournalReplay replay = ReplayJournal(records);
        QCOMPARE(replay.bootId, QStringLiteral("boot-A"));
        QCOMPARE(replay.header, QStringList({"Nr.", "Name"}));
        QCOMPARE(replay.rows.size(), 3);
        QCOMPARE(replay.rows.at(0).at(5), lauf1Of1);
        QCOMPARE(replay.baseRows.at(0).at(5), QString());
        QVERIFY(replay.baseRanked);
        QCOMPARE(replay.tail.size(), tailSize);
        QCOMPARE(replay.RunStillTiming(), runStillTiming);
        QCOMPARE(replay.HoldsChanges(), holdsChanges);
        QCOMPARE(replay.sortByPlace, true);
        QCOMPARE(replay.probeLaufe, 1);
    }

    void replayFollowsDeletionsResetsAndSaves()
    {
        JournalRecord deletion = Make(JournalRecordType::DeleteRow);
        deletion.loadOrder = QStringLiteral("2");
        const std::vector<JournalRecord> records = {
            Header(QStringLiteral("boot-A")),
            Load(3),
            Tick(JournalRecordType::RunStart, 100),
            Tick(JournalRecordType::LaneStop, 900, 1),
            Cell(QStringLiteral("3"), 5, QStringLiteral("0,80"), JournalCellChange::Time, 1),
            Tick(JournalRecordType::LaneStop, 950, 2),
            Cell(QStringLiteral("9"), 5, QStringLiteral("0,85"), JournalCellChange::Time, 2), // no such row
            Rank(),
            Make(JournalRecordType::Reset),
            deletion,
            Cell(QStringLiteral("3"), 5, QStringLiteral("EL"), JournalCellChange::Elimination, 1),
        };
        JournalReplay replay = ReplayJournal(records);
        QCOMPARE(replay.rows.size(), 2);
        QCOMPARE(replay.rows.at(1).at(5), QStringLiteral("EL"));
        QCOMPARE(replay.baseRows.size(), 3);
        QCOMPARE(replay.baseRows.at(2).at(5), QStringLiteral("0,80"));
        QCOMPARE(replay.tail.size(), 2);
        QCOMPARE(replay.skipped, 1);
        QVERIFY(!replay.runOpen);
        QVERIFY(replay.HoldsChanges());

        std::vector<JournalRecord> saved = records;
        saved.push_back(Make(JournalRecordType::Clean));
        QVERIFY(!ReplayJournal(saved).HoldsChanges());
    }

    void startUpRemovesOnlyOldCleanJournals()
    {
        QTemporaryDir dir;
        const QDateTime now = QDateTime::currentDateTime();
        auto write = [&](const QString& name, const std::vector<JournalRecord>& records, int daysOld) {
            QFile file(dir.filePath(name));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(Journal(records));
            file.flush();
            file.setFileTime(now.addDays(-daysOld), QFileDevice::FileModificationTime);
        };
        const std::vector<JournalRecord> clean = {Header(QStringLiteral("boot-A")), Load(3), Rank(),
                                                  Cell(QStringLiteral("1"), 5, QStringLiteral("7,25")),
                                                  Make(JournalRecordType::Clean)};
        write(QStringLiteral("Journal_old_clean.qxj"), clean, 31);
        write(QStringLiteral("Journal_old_unsaved.qxj"), kSession, 40);
        write(QStringLiteral("Journal_recent_clean.qxj"), clean, 29);
        write(QStringLiteral("Journal_newest.qxj"), kSession, 1);

        const JournalFinding finding = FindLastJournal(dir.path(), now);
        QCOMPARE(QFileInfo(finding.fileName).fileName(), QStringLiteral("Journal_newest.qxj"));
        QVERIFY(finding.replay.HoldsChanges());
        QStringList left = QDir(dir.path()).entryList(QDir::Files, QDir::Name);
        QCOMPARE(left,
                 QStringList({"Journal_newest.qxj", "Journal_old_unsaved.qxj", "Journal_recent_clean.qxj"}));
    }

    void journalBeingWrittenIsNeverOffered()
    {
        QTemporaryDir dir;
        TRaceJournal journal(dir.path(), QStringLiteral("boot-A"));
        QVERIFY(journal.Begin({Load(2)}, false));
        journal.Append(Cell(QStringLiteral("1"), 5, QStringLiteral("1,00")));
        QVERIFY(FindLastJournal(dir.path(), QDateTime::currentDateTime()).fileName.isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(journal.SyncCount() >= 1, 5000);
        journal.Close(false);
        const JournalFinding finding = FindLastJournal(dir.path(), QDateTime::currentDateTime());
        QCOMPARE(finding.fileName, journal.FileName());
        QCOMPARE(finding.read.status, JournalReadStatus::Sound);
        QCOMPARE(finding.replay.rows.at(0).at(5), QStringLiteral("1,00"));
    }
};

QTEST_GUILESS_MAIN(TestRaceJournal)
#include "tst_racejournal.moc"
