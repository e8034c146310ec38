#include "RaceJournal.h"

#include <QFile>
#include <QLocale>
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
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany)); }

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
        JournalRecord doubt = Make(JournalRecordType::Doubt);
        doubt.loadOrder = QStringLiteral("12");
        doubt.column = 6;
        doubt.doubtful = true;
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
        QTest::newRow("doubtful time") << doubt;
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

    void damageInTheMiddleIsSkipped_data()
    {
        QTest::addColumn<int>("damaged"); // index of the record whose byte flips, -1: none
        QTest::addColumn<bool>("tornTail");
        QTest::addColumn<JournalReadStatus>("status");
        QTest::addColumn<int>("records");
        QTest::newRow("record 7 of 12") << 6 << false << JournalReadStatus::Damaged << 11;
        QTest::newRow("record 7 of 12 and a torn tail") << 6 << true << JournalReadStatus::Damaged << 10;
        QTest::newRow("the header") << 0 << false << JournalReadStatus::Damaged << 11;
        QTest::newRow("only a torn tail") << -1 << true << JournalReadStatus::TornTail << 11;
    }
    void damageInTheMiddleIsSkipped()
    {
        QFETCH(int, damaged);
        QFETCH(bool, tornTail);
        QFETCH(JournalReadStatus, status);
        QFETCH(int, records);
        std::vector<JournalRecord> twelve = kSession;
        JournalRecord deletion = Make(JournalRecordType::DeleteRow);
        deletion.loadOrder = QStringLiteral("3");
        JournalRecord lanes = Make(JournalRecordType::Lanes);
        lanes.positions = {1, 0};
        for (const JournalRecord& r :
             {Tick(JournalRecordType::LaneStop, 12000, 2),
              Cell(QStringLiteral("2"), 5, QStringLiteral("8,00"), JournalCellChange::Time, 2),
              Cell(QStringLiteral("1"), 5, QStringLiteral("EL"), JournalCellChange::Elimination, 1),
              Cell(QStringLiteral("2"), 1, QStringLiteral("Neu"), JournalCellChange::Edit, 0), lanes,
              deletion})
            twelve.push_back(r);
        QCOMPARE(twelve.size(), std::size_t(12));
        QByteArray bytes = JournalFileStart();
        qint64 damagedAt = -1;
        qint64 damagedLength = 0;
        for (std::size_t i = 0; i < twelve.size(); ++i) {
            const QByteArray record = EncodeJournalRecord(twelve[i]);
            if (int(i) == damaged) {
                damagedAt = bytes.size() + record.size() - 2;
                damagedLength = record.size();
            }
            bytes += record;
        }
        if (damagedAt >= 0)
            bytes[damagedAt] = char(bytes.at(damagedAt) ^ 0x04);
        if (tornTail)
            bytes.chop(3);
        const JournalReadResult read = ReadJournal(bytes);
        QCOMPARE(read.status, status);
        QCOMPARE(int(read.records.size()), records);
        QCOMPARE(read.skippedBytes, damagedLength);
        // What follows the damage is all there: the deletion is the last record.
        if (!tornTail) {
            QCOMPARE(read.records.back().type, JournalRecordType::DeleteRow);
            const JournalReplay replay = ReplayJournal(read.records);
            QCOMPARE(replay.rows.size(), 2);
            QCOMPARE(replay.rows.at(1).at(1), QStringLiteral("Neu"));
            QCOMPARE(replay.rows.at(0).at(5), QStringLiteral("EL"));
        }
    }

    void limitsOfTheProtocolFileHold_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<JournalReadStatus>("status");
        QTest::addColumn<int>("records");
        JournalRecord tooMany = Load(0);
        tooMany.rows.fill(QStringList(), 100002);
        JournalRecord longText =
            Cell(QStringLiteral("1"), 1, QString(17000, u'x'), JournalCellChange::Edit, 0);
        QByteArray hugeLength = Journal({Header(QStringLiteral("boot-A"))});
        hugeLength += QByteArray("\x00\x00\x00\x40\x00\x00\x00\x00\x02", 9); // 1 GiB claimed
        QTest::newRow("100,001 starters")
            << Journal({Header(QStringLiteral("boot-A")), tooMany}) << JournalReadStatus::TornTail << 1;
        QTest::newRow("a cell of 17,000 characters")
            << Journal({Header(QStringLiteral("boot-A")), longText}) << JournalReadStatus::TornTail << 1;
        QTest::newRow("a record claiming 1 GiB") << hugeLength << JournalReadStatus::TornTail << 1;
        QTest::newRow("100,000 starters")
            << Journal({Header(QStringLiteral("boot-A")), Load(100000)}) << JournalReadStatus::Sound << 2;
    }
    void limitsOfTheProtocolFileHold()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(JournalReadStatus, status);
        QFETCH(int, records);
        const JournalReadResult read = ReadJournal(bytes);
        QCOMPARE(read.status, status);
        QCOMPARE(int(read.records.size()), records);
    }

    void replayRefusesWhatNoEntryPathWrites_data()
    {
        QTest::addColumn<JournalRecord>("record");
        QTest::addColumn<bool>("taken");
        JournalRecord negativeProbe = Rank();
        negativeProbe.probeLaufe = -7;
        JournalRecord millionRuns = Rank();
        millionRuns.allLaufe = 1000000;
        JournalRecord threeLanes = Rank();
        threeLanes.countBahn = 3;
        JournalRecord duplicates = Load(3);
        duplicates.rows[2][13] = QStringLiteral("1");
        QTest::newRow("a time") << Cell(QStringLiteral("2"), 6, QStringLiteral("7,25")) << true;
        QTest::newRow("a name edit") << Cell(QStringLiteral("2"), 1, QStringLiteral("Otto"),
                                             JournalCellChange::Edit, 0)
                                     << true;
        QTest::newRow("a run cell emptied")
            << Cell(QStringLiteral("1"), 5, QString(), JournalCellChange::Edit, 0) << true;
        QTest::newRow("a time in the name column")
            << Cell(QStringLiteral("2"), 1, QStringLiteral("7,25")) << false;
        QTest::newRow("EL in the name column")
            << Cell(QStringLiteral("2"), 1, QStringLiteral("EL"), JournalCellChange::Elimination) << false;
        QTest::newRow("elimination that is no EL")
            << Cell(QStringLiteral("2"), 6, QStringLiteral("7,25"), JournalCellChange::Elimination) << false;
        QTest::newRow("a negative time") << Cell(QStringLiteral("2"), 6, QStringLiteral("-5,00")) << false;
        QTest::newRow("a time beyond every limit")
            << Cell(QStringLiteral("2"), 6, QStringLiteral("99999999,99")) << false;
        QTest::newRow("a word typed into a run cell")
            << Cell(QStringLiteral("2"), 6, QStringLiteral("schnell"), JournalCellChange::Edit, 0) << false;
        QTest::newRow("the hidden load order edited")
            << Cell(QStringLiteral("2"), 13, QStringLiteral("9"), JournalCellChange::Edit, 0) << false;
        QTest::newRow("lane 3") << Cell(QStringLiteral("2"), 6, QStringLiteral("7,25"),
                                        JournalCellChange::Time, 3)
                                << false;
        QTest::newRow("-7 test runs") << negativeProbe << false;
        QTest::newRow("1,000,000 runs") << millionRuns << false;
        QTest::newRow("three lanes") << threeLanes << false;
        QTest::newRow("load order twice") << duplicates << false;
    }
    void replayRefusesWhatNoEntryPathWrites()
    {
        QFETCH(JournalRecord, record);
        QFETCH(bool, taken);
        std::vector<JournalRecord> records = kSession;
        const JournalReplay before = ReplayJournal(records);
        records.push_back(record);
        const JournalReplay after = ReplayJournal(records);
        QCOMPARE(after.skipped, taken ? 0 : 1);
        if (!taken) {
            QCOMPARE(after.rows, before.rows);
            QCOMPARE(after.allLaufe, before.allLaufe);
            QCOMPARE(after.probeLaufe, before.probeLaufe);
        } else {
            QVERIFY(after.rows != before.rows);
        }
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
        const auto doubt = [](const char* loadOrder, bool doubtful) {
            JournalRecord r = Make(JournalRecordType::Doubt);
            r.loadOrder = QString::fromLatin1(loadOrder);
            r.column = 5;
            r.doubtful = doubtful;
            return r;
        };
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
            doubt("3", true),
            doubt("2", true),
            doubt("1", true),
            doubt("1", false), // confirmed
            deletion,          // takes its starter's mark along
            Cell(QStringLiteral("3"), 5, QStringLiteral("EL"), JournalCellChange::Elimination, 1),
        };
        JournalReplay replay = ReplayJournal(records);
        QCOMPARE(replay.rows.size(), 2);
        QCOMPARE(replay.rows.at(1).at(5), QStringLiteral("EL"));
        QCOMPARE(replay.baseRows.size(), 3);
        QCOMPARE(replay.baseRows.at(2).at(5), QStringLiteral("0,80"));
        QCOMPARE(replay.tail.size(), 2);
        QCOMPARE(replay.skipped, 1);
        QCOMPARE(replay.unconfirmed, (QList<std::pair<QString, int>>{{QStringLiteral("3"), 5}}));
        QVERIFY(!replay.runOpen);
        QVERIFY(replay.HoldsChanges());

        std::vector<JournalRecord> saved = records;
        saved.push_back(Make(JournalRecordType::Clean));
        QVERIFY(!ReplayJournal(saved).HoldsChanges());
    }

    void startUpRemovesOnlyOldCleanJournals_data()
    {
        QTest::addColumn<int>("clockAhead"); // days the clock is wrong by
        QTest::newRow("right clock") << 0;
        QTest::newRow("clock ten years ahead") << 3650;
    }
    void startUpRemovesOnlyOldCleanJournals()
    {
        QFETCH(int, clockAhead);
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
        write(QStringLiteral("Journal_unsaved_2.qxj"), kSession, 2);
        for (int day = 3; day <= 5; ++day)
            write(QStringLiteral("Journal_clean_%1.qxj").arg(day), clean, day);
        for (int day : {20, 21, 22, 23, 24, 35}) {
            QFile file(dir.filePath(QStringLiteral("Beiseite_%1.qxj.alt").arg(day)));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(Journal(kSession));
            file.flush();
            file.setFileTime(now.addDays(-day), QFileDevice::FileModificationTime);
        }

        const std::vector<JournalFinding> findings = FindJournals(dir.path(), now.addDays(clockAhead));
        QStringList offered;
        for (const JournalFinding& finding : findings) {
            if (finding.replay.HoldsChanges())
                offered.append(QFileInfo(finding.fileName).fileName());
        }
        // Every unsaved session, newest first.
        QCOMPARE(offered,
                 QStringList({"Journal_newest.qxj", "Journal_unsaved_2.qxj", "Journal_old_unsaved.qxj"}));
        const QStringList left = QDir(dir.path()).entryList(QDir::Files, QDir::Name);
        if (clockAhead == 0) {
            // Set-aside files go after 30 days like saved journals (the newest five of each kind stay).
            QCOMPARE(left, QStringList({"Beiseite_20.qxj.alt", "Beiseite_21.qxj.alt", "Beiseite_22.qxj.alt",
                                        "Beiseite_23.qxj.alt", "Beiseite_24.qxj.alt", "Journal_clean_3.qxj",
                                        "Journal_clean_4.qxj", "Journal_clean_5.qxj", "Journal_newest.qxj",
                                        "Journal_old_unsaved.qxj", "Journal_recent_clean.qxj",
                                        "Journal_unsaved_2.qxj"}));
        } else {
            // A clock years ahead removes only what is beyond the five newest.
            QCOMPARE(left, QStringList({"Beiseite_20.qxj.alt", "Beiseite_21.qxj.alt", "Beiseite_22.qxj.alt",
                                        "Beiseite_23.qxj.alt", "Beiseite_24.qxj.alt", "Journal_clean_3.qxj",
                                        "Journal_clean_4.qxj", "Journal_clean_5.qxj", "Journal_newest.qxj",
                                        "Journal_old_unsaved.qxj", "Journal_unsaved_2.qxj"}));
        }
    }

    void grownJournalStartsAfreshWithTheWholeState()
    {
        QTemporaryDir dir;
        TRaceJournal journal(dir.path(), QStringLiteral("boot-A"));
        int times = 0;
        journal.CurrentState = [&times] {
            JournalRecord load = Load(3);
            load.modified = true;
            for (int i = 0; i < times; ++i)
                load.rows[1 + i % 3][5 + i % 6] = QStringLiteral("1,00");
            return std::vector<JournalRecord>{load};
        };
        journal.RenewAtBytes = 4096;
        QVERIFY(journal.Begin(journal.CurrentState(), false));
        const QString first = journal.FileName();
        for (times = 1; times <= 1000; ++times) {
            JournalRecord edge = Make(JournalRecordType::Edge);
            edge.line = 1;
            journal.Append(edge);
        }
        QVERIFY(journal.FileName() != first);
        QVERIFY(!QFile::exists(first));
        QVERIFY(QFileInfo(journal.FileName()).size() < 2 * 4096 + 1024);
        journal.Close(false);
        const std::vector<JournalFinding> findings = FindJournals(dir.path(), QDateTime::currentDateTime());
        QCOMPARE(findings.size(), std::size_t(1));
        QCOMPARE(findings.front().read.status, JournalReadStatus::Sound);
        QVERIFY(findings.front().replay.HoldsChanges());
        QVERIFY(findings.front().replay.TimesInRows() > 0);
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
