#include "ProtocolLogic.h"
#include "RaceJournal.h"
#include "RaceSession.h"
#include "SessionJournal.h"

#include <QFile>
#include <QLocale>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

// Race-day scripts: the commands an operator (or a light barrier) gives in one
// race, each script checked as the protocol and the session's state after its
// last step, and after every step against a fresh session that was given the
// same commands again (the program killed and the race restored).
//
// A script is one command a line (";" separated):
//   load A B B:31,25 …   starters Nr 1, 2, … of these classes; ":" gives Lauf 1 onwards
//   keep <k>/<class> …   a protocol opened again: load-order numbers as given
//   rules <lanes> <test runs> <last counted run> <minimum in hundredths>
//   start <ms> | stop <lane> <ms> | el <lane> <ms> | elim <lane> | reset
//   sel <lane> <position> | swap | edit <key> <col> <text> | confirm | repeat
//   del <key> | clear | undo | rank | late <nr> <class> (a late entry) | unlock (the lock time is over) |
//   sedge <ms> <armed> | fedge <lane> <ms> <start armed> <finish armed>
//   pair <0|1> (the start station) | arm <barrier> <0|1> | hand <ms> (F5 while paired) |
//   sstart <ms> <session:sequence> <clock good 0|1> [<finish tick as it arrived>] (the station's start)
// The protocol is written as "key:runs=total#place" per starter in start order.
class TestRaceSession : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany)); }
    void raceDayScript_data();
    void raceDayScript();
    void placesAreCountedPerClassHoweverItIsWritten();
    void rankingOrderFollowsTheClassColumnsKind_data();
    void rankingOrderFollowsTheClassColumnsKind();
    void aStarterWrittenTwiceIsMendedAtTheDoor();
    void signalsCarryWhatChanged();
};

namespace {

// "Klasse:times", e.g. "Jugend_A:31,25/30,80".
QStringList StarterRow(int number, const QString& classAndTimes)
{
    QStringList row(ProtocolColumnCount);
    const QStringList fields = classAndTimes.split(u':');
    row[ColNr] = QString::number(number);
    row[ColName] = QStringLiteral("Name%1").arg(number);
    row[ColVorname] = QStringLiteral("V%1").arg(number);
    row[ColKlasse] = QString(fields.value(0)).replace(u'_', u' ');
    // "31,25" is one time: the runs are separated by "/".
    const QStringList times = fields.value(1).split(u'/', Qt::SkipEmptyParts);
    for (int i = 0; i < times.size() && i < RunColumnCount; ++i)
        row[ColLauf1 + i] = times.at(i);
    return row;
}

// Gives one script line to the session; false for a line the script language
// doesn't know (a typo in a table row must fail, not pass quietly).
bool Give(TRaceSession& session, const QString& line)
{
    const QStringList w = line.split(u' ', Qt::SkipEmptyParts);
    const QString& c = w.value(0);
    const auto n = [&w](int i) { return w.value(i).toInt(); };
    const auto u = [&w](int i) { return std::uint32_t(w.value(i).toLongLong()); };
    if (c == u"load" || c == u"keep") {
        ProtocolTable rows;
        for (int i = 1; i < w.size(); ++i) {
            if (c == u"keep") {
                const qsizetype slash = w.at(i).indexOf(u'/');
                QStringList row = StarterRow(i, w.at(i).mid(slash + 1));
                row[ColLoadOrder] = w.at(i).left(slash);
                rows.append(row);
            } else {
                rows.append(StarterRow(i, w.at(i)));
            }
        }
        session.Load(rows, {}, c == u"keep");
    } else if (c == u"rules") {
        session.SetRules({n(1), n(2), n(3), n(4)});
    } else if (c == u"start") {
        session.Start(u(1));
    } else if (c == u"stop" || c == u"el") {
        session.Stop(n(1), u(2), c == u"el");
    } else if (c == u"elim") {
        session.EliminateStopped(n(1));
    } else if (c == u"reset") {
        session.Reset();
    } else if (c == u"sel") {
        session.SelectLane(n(1), n(2));
    } else if (c == u"swap") {
        session.Swap();
    } else if (c == u"edit") {
        session.Edit(w.value(1), n(2), w.value(3));
    } else if (c == u"confirm") {
        if (const auto mark = session.MarkToConfirm(w.value(1)))
            session.Confirm(mark->first, mark->second);
    } else if (c == u"repeat") {
        session.RepeatRun();
    } else if (c == u"del") {
        session.DeleteRow(w.value(1));
    } else if (c == u"clear") {
        session.Clear();
    } else if (c == u"late") {
        QStringList row = StarterRow(n(1), w.value(2));
        row[ColName] = QStringLiteral("Spät%1").arg(n(1));
        session.AddStarter(row);
    } else if (c == u"undo") {
        session.Undo();
    } else if (c == u"rank") {
        session.Rank();
    } else if (c == u"pair") {
        session.SetStationPaired(n(1) != 0);
    } else if (c == u"arm") {
        session.ArmBarrier(n(1), n(2) != 0);
    } else if (c == u"hand") {
        session.Start(u(1), true);
    } else if (c == u"sstart") {
        session.StationStart(u(1), w.value(2), n(3) != 0, w.size() > 4 ? u(4) : u(1));
    } else if (c == u"unlock") {
        session.EndLock();
    } else if (c == u"sedge" || c == u"fedge") {
        // Through the entry the window uses, with the barriers armed as given:
        // the line drops, then rises (the edge "ON").
        const int line = c == u"sedge" ? 1 : n(1) + 1;
        const int at = c == u"sedge" ? 1 : 2;
        const std::uint32_t bit = line == 1 ? MS_CTS_ON : line == 2 ? MS_DSR_ON : MS_RLSD_ON;
        session.ArmBarrier(1, n(at + 1) != 0);
        if (line > 1)
            session.ArmBarrier(line, n(at + 2) != 0);
        session.LineChanged(line, 0, u(at), TBarrierLine::EdgeOn);
        session.LineChanged(line, bit, u(at), TBarrierLine::EdgeOn);
    } else {
        return false;
    }
    return true;
}

QString ProtocolText(const TRaceSession& session)
{
    QStringList starters;
    for (const QStringList& row : session.RowsInStartOrder()) {
        QStringList runs = row.mid(ColLauf1, RunColumnCount);
        while (!runs.isEmpty() && runs.last().isEmpty())
            runs.removeLast();
        QString text = row.at(ColLoadOrder) + u':' + runs.join(u'/');
        if (!row.at(ColGesamt).isEmpty())
            text += u'=' + row.at(ColGesamt);
        if (!row.at(ColPlatz).isEmpty())
            text += u'#' + row.at(ColPlatz);
        starters.append(text);
    }
    return starters.join(u' ');
}

QString StateText(const TRaceSession& session)
{
    static const char* const states[] = {"Ready", "Running", "LaneStopped", "ResetDue"};
    QString marks;
    for (const auto& [key, col] : session.Unconfirmed())
        marks += QStringLiteral(" ?%1/%2").arg(key).arg(col - ColLauf1 + 1);
    if (session.StationPaired())
        marks += QStringLiteral(" paired");
    for (int lane = 1; lane <= 2; ++lane) {
        if (const auto tick = session.PendingStop(lane))
            marks += QStringLiteral(" pending %1@%2").arg(lane).arg(*tick);
    }
    return QStringLiteral("%1 lanes %2,%3%4%5")
        .arg(QLatin1String(states[int(session.Run().State())]))
        .arg(session.LaneKey(1).isEmpty() ? QStringLiteral("-") : session.LaneKey(1))
        .arg(session.LaneKey(2).isEmpty() ? QStringLiteral("-") : session.LaneKey(2))
        .arg(session.LanesSwapped() ? QStringLiteral(" swapped") : QString())
        .arg(marks);
}

} // namespace

void TestRaceSession::rankingOrderFollowsTheClassColumnsKind_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<QString>("order");
    QTest::newRow("classes that are numbers: 2 before 10") << "load 10:31,00 2:30,00 10:29,00 2:33,00; rank"
                                                           << "2 4 3 1";
    QTest::newRow("one class however written, by total; EL and no time last, in start order")
        << "load b:30,00 A:EL a:31,00 B:29,00 a A:30,50; rank"
        << "6 3 2 5 4 1";
    QTest::newRow("equal totals keep the start order") << "load A:30,00 A:29,00 A:30,00; rank"
                                                       << "2 1 3";
}

void TestRaceSession::rankingOrderFollowsTheClassColumnsKind()
{
    QFETCH(QString, script);
    QFETCH(QString, order);
    TRaceSession session;
    for (const QString& line : script.split(u';'))
        QVERIFY2(Give(session, line.trimmed()), qPrintable(line));
    QCOMPARE(session.RankingOrder().join(u' '), order);
    // The protocol's rows stand in that order after the ranking.
    QStringList rows;
    for (int i = 0; i < session.Results().RowCount(); ++i)
        rows.append(session.Results().Row(i).value(ColLoadOrder));
    QCOMPARE(rows.join(u' '), order);
}

void TestRaceSession::raceDayScript_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<QString>("protocol");
    QTest::addColumn<QString>("state");

    QTest::newRow("a pair timed on two lanes lands in Lauf 1, the next pair is up")
        << "load A A A A; start 1000; stop 2 4150; stop 1 4000; rank; reset"
        << "1:3,00=3,00#1 2:3,15=3,15#2 3: 4:"
        << "Ready lanes 3,4";
    QTest::newRow("one lane goes through the list one by one")
        << "rules 1 0 6 0; load A A A; start 0; stop 1 2500; stop 2 2600; reset; start 0; stop 1 2400; reset"
        << "1:2,50 2:2,40 3:"
        << "Ready lanes 3,-";
    QTest::newRow("a repeated stop and a second start change nothing")
        << "load A A; start 0; start 500; stop 1 3000; stop 1 3500; stop 2 3100; start 9000"
        << "1:3,00 2:3,10"
        << "ResetDue lanes 1,2";
    QTest::newRow("the start waits for two different starters") << "load A A; sel 2 0; start 0"
                                                                << "1: 2:"
                                                                << "Ready lanes 1,1";
    QTest::newRow("lanes are fixed while the run is going")
        << "load A A A A; start 0; sel 1 3; swap; stop 1 2000; stop 2 2100"
        << "1:2,00 2:2,10 3: 4:"
        << "ResetDue lanes 1,2";
    QTest::newRow("EL by Shift+F8: no time is made up") << "load A A; start 0; el 1 5000; stop 2 3000; rank"
                                                        << "1:EL=EL 2:3,00=3,00#1"
                                                        << "ResetDue lanes 1,2";
    QTest::newRow("EL after the stop replaces the lane's time until 0,00")
        << "load A A; start 0; stop 1 3000; stop 2 3100; elim 1; reset; elim 2"
        << "1:EL 2:3,10"
        << "Ready lanes 1,2";
    QTest::newRow("a time below the minimum waits, marked, and takes no place")
        << "rules 2 0 6 150; load A A; start 0; stop 1 70; stop 2 3000; rank"
        << "1:0,07=0,07 2:3,00=3,00#1"
        << "ResetDue lanes 1,2 ?1/1";
    QTest::newRow("confirmed, the doubtful time takes its place")
        << "rules 2 0 6 150; load A A; start 0; stop 1 70; stop 2 3000; confirm; rank"
        << "1:0,07=0,07#1 2:3,00=3,00#2"
        << "ResetDue lanes 1,2";
    QTest::newRow("confirm takes the named starter's mark, not the oldest")
        << "rules 2 0 6 150; load A A; start 0; stop 1 70; stop 2 80; confirm 2; rank"
        << "1:0,07=0,07 2:0,08=0,08#1"
        << "ResetDue lanes 1,2 ?1/1";
    QTest::newRow("Lauf wiederholen takes the pair's times and marks back and selects the pair")
        << "rules 2 0 6 150; load A A A A; start 0; stop 1 70; stop 2 3000; reset; repeat"
        << "1: 2: 3: 4:"
        << "Ready lanes 1,2";
    QTest::newRow("undo after Lauf wiederholen brings the times and the mark back")
        << "rules 2 0 6 150; load A A A A; start 0; stop 1 70; stop 2 3000; reset; repeat; undo"
        << "1:0,07 2:3,00 3: 4:"
        << "Ready lanes 3,4 ?1/1";
    QTest::newRow("an edited time is the operator's: the mark goes")
        << "rules 2 0 6 150; load A A; start 0; stop 1 70; stop 2 3000; edit 1 5 17,00; rank"
        << "1:17,00=17,00#2 2:3,00=3,00#1"
        << "ResetDue lanes 1,2";
    QTest::newRow("deleting the starter on lane 1 leaves the lane empty: its time is kept apart")
        << "load A A A; del 1; start 0; stop 1 2000; stop 2 2100"
        << "2:2,10 3:"
        << "ResetDue lanes -,2";
    QTest::newRow("F5 times without a list, the times kept apart") << "start 0; stop 1 2000; stop 2 2100"
                                                                   << ""
                                                                   << "ResetDue lanes -,-";
    QTest::newRow("deleted and undone, the starter is back on his lane") << "load A A A; del 1; undo"
                                                                         << "1: 2: 3:"
                                                                         << "Ready lanes 1,2";
    QTest::newRow("a late entry joins the end of the start order and is timed like any starter")
        << "load A A; start 0; stop 1 1000; stop 2 1100; reset; late 9 A; sel 1 0; sel 2 2; start 0; "
           "stop 1 1200; stop 2 1300; rank"
        << "1:1,00/1,20=2,20#3 2:1,10=1,10#1 3:1,30=1,30#2"
        << "ResetDue lanes 1,3";
    QTest::newRow("a late entry never takes a deleted starter's number; undo takes him back")
        << "load A A A; del 3; late 7 B; late 8 B; undo"
        << "1: 2: 4:"
        << "Ready lanes 1,2";
    QTest::newRow("a late entry is refused during a run and for a start number already given")
        << "load A A; start 0; late 9 A; stop 1 1000; stop 2 1100; reset; late 2 A"
        << "1:1,00 2:1,10"
        << "Ready lanes 1,2";
    QTest::newRow("a late entry to an emptied protocol is put on lane 1") << "load A A; clear; late 5 A"
                                                                          << "3:"
                                                                          << "Ready lanes 3,-";
    QTest::newRow("Lauf wiederholen after the second pair takes only that pair's times back")
        << "load A A A A; start 0; stop 1 1000; stop 2 1100; reset; start 0; stop 1 1200; stop 2 1300; "
           "reset; "
           "repeat"
        << "1:1,00 2:1,10 3: 4:"
        << "Ready lanes 3,4";
    QTest::newRow("a doubtful time in the sixth run column waits, restored or not")
        << "rules 2 0 6 150; load A:1,00/2,00/3,00/4,00/5,00 A:1,00/2,00/3,00/4,00/5,00; start 0; stop 1 70; "
           "stop 2 3000"
        << "1:1,00/2,00/3,00/4,00/5,00/0,07 2:1,00/2,00/3,00/4,00/5,00/3,00"
        << "ResetDue lanes 1,2 ?1/6";
    QTest::newRow("an EL that replaces a doubtful time leaves no mark")
        << "rules 2 0 6 150; load A A; start 0; stop 1 70; stop 2 3000; elim 1; rank"
        << "1:EL=EL 2:3,00=3,00#1"
        << "ResetDue lanes 1,2";
    QTest::newRow("no deletion, clearing or undo while cars run")
        << "load A A; start 0; del 1; clear; undo; stop 1 1000; stop 2 1200"
        << "1:1,00 2:1,20"
        << "ResetDue lanes 1,2";
    QTest::newRow("clear and undo") << "load A A; start 0; stop 1 1000; stop 2 1100; reset; clear; undo"
                                    << "1:1,00 2:1,10"
                                    << "Ready lanes 1,2";
    QTest::newRow("a swap holds for every later pair and shows")
        << "load A A A A; swap; start 0; stop 1 1000; stop 2 1100; reset"
        << "1:1,10 2:1,00 3: 4:"
        << "Ready lanes 4,3 swapped";
    QTest::newRow("load over a timed list starts afresh")
        << "load A A; start 0; stop 1 1000; stop 2 1100; reset; load B B B"
        << "1: 2: 3:"
        << "Ready lanes 1,2";
    QTest::newRow("a list opened again goes on at the first starters without this run's time")
        << "keep 1/A:3,00 2/A:3,10 3/A 4/A"
        << "1:3,00 2:3,10 3: 4:"
        << "Ready lanes 3,4";
    QTest::newRow("a list saved sorted keeps its start order") << "keep 3/A 1/A:3,00 4/A 2/A:3,10"
                                                               << "1:3,00 2:3,10 3: 4:"
                                                               << "Ready lanes 3,4";
    QTest::newRow("test runs don't count")
        << "rules 2 1 6 0; load A A; start 0; stop 1 1000; stop 2 900; reset; start 0; stop 1 2000; stop 2 "
           "2200; rank"
        << "1:1,00/2,00=2,00#1 2:0,90/2,20=2,20#2"
        << "ResetDue lanes 1,2";
    QTest::newRow("a start edge starts when armed and the finish stops its lane")
        << "load A A; sedge 0 1; unlock; fedge 1 2500 1 1; fedge 2 2600 1 1"
        << "1:2,50 2:2,60"
        << "ResetDue lanes 1,2";
    QTest::newRow("a finish edge inside the lock stops nothing")
        << "load A A; sedge 0 1; fedge 1 100 1 1; stop 2 3000"
        << "1: 2:3,00"
        << "LaneStopped lanes 1,2";
    QTest::newRow("a switched-off finish barrier leaves the start to the start barrier")
        << "load A A; fedge 1 100 1 0; sedge 500 1; unlock; fedge 1 2500 1 1; fedge 2 2600 1 1"
        << "1:2,00 2:2,10"
        << "ResetDue lanes 1,2";
    QTest::newRow("an unarmed start barrier starts nothing") << "load A A; sedge 0 0"
                                                             << "1: 2:"
                                                             << "Ready lanes 1,2";
    QTest::newRow("a start edge while cars run changes nothing")
        << "load A A; start 0; sedge 1500 1; stop 1 2000; stop 2 2100"
        << "1:2,00 2:2,10"
        << "ResetDue lanes 1,2";
    QTest::newRow("the seventh run finds no column: the time is kept apart, the protocol unchanged")
        << "load A A; edit 1 5 1; edit 1 6 2; edit 1 7 3; edit 1 8 4; edit 1 9 5; edit 1 10 6; start 0; "
           "stop 1 1000; stop 2 1100"
        << "1:1,00/2,00/3,00/4,00/5,00/6,00 2:1,10"
        << "ResetDue lanes 1,2";
    QTest::newRow("an edited run column takes a time as the program writes it, EL or nothing else")
        << "load A A; edit 1 5 31.5; edit 2 5 abc; edit 2 5 el; edit 2 6 -3"
        << "1:31,50 2:EL"
        << "Ready lanes 1,2";
    QTest::newRow("the station's start starts the run at its stamp, the finish edges stop the lanes")
        << "load A A; pair 1; arm 1 1; sstart 1000 s:1 1 1040; unlock; fedge 1 31000 0 1; fedge 2 32000 0 1"
        << "1:30,00 2:31,00"
        << "ResetDue lanes 1,2 paired";
    QTest::newRow("with the station paired the finish's own start line starts nothing")
        << "load A A; pair 1; sedge 0 1"
        << "1: 2:"
        << "Ready lanes 1,2 paired";
    QTest::newRow("finish edges before the start waits for it; the late start gives the exact times")
        << "load A A; pair 1; fedge 2 32000 1 1; fedge 1 31000 1 1; sstart 1000 s:1 1 33500; unlock; "
           "fedge 1 34000 0 1"
        << "1:30,00 2:31,00"
        << "ResetDue lanes 1,2 paired";
    QTest::newRow("a finish edge waiting for the start is shown until it comes")
        << "load A A; pair 1; fedge 1 31000 1 1; fedge 1 31500 1 1"
        << "1: 2:"
        << "Ready lanes 1,2 paired pending 1@31000";
    QTest::newRow("a finish edge before the start's stamp was no car of this run")
        << "load A A; pair 1; fedge 1 500 1 1; sstart 1000 s:1 1 1100; unlock; fedge 1 31000 0 1; "
           "fedge 2 32000 0 1"
        << "1:30,00 2:31,00"
        << "ResetDue lanes 1,2 paired";
    QTest::newRow("a station start sent again or during a run changes nothing")
        << "load A A A A; pair 1; arm 1 1; sstart 1000 s:1 1; sstart 1000 s:1 1; sstart 1500 s:2 1; unlock; "
           "fedge 1 31000 0 1; fedge 2 32000 0 1; reset; arm 1 1; sstart 1000 s:1 1 40000"
        << "1:30,00 2:31,00 3: 4:"
        << "Ready lanes 3,4 paired";
    QTest::newRow("a start with a poor clock agreement makes the run's times doubtful")
        << "load A A; pair 1; arm 1 1; sstart 1000 s:1 0; unlock; fedge 1 31000 0 1; fedge 2 32000 0 1"
        << "1:30,00 2:31,00"
        << "ResetDue lanes 1,2 ?1/1 ?2/1 paired";
    QTest::newRow("F5 stays the fallback while paired; the station's late start changes nothing")
        << "load A A; pair 1; arm 1 1; hand 1000; sstart 900 s:1 1 1100; stop 1 31000; stop 2 32000"
        << "1:30,00 2:31,00"
        << "ResetDue lanes 1,2 paired";
    QTest::newRow("a station start is refused unarmed, unpaired, or hours old")
        << "load A A; pair 1; sstart 1000 s:1 1; arm 1 1; sstart 1000 s:2 1 900000; pair 0; "
           "sstart 1000 s:3 1"
        << "1: 2:"
        << "Ready lanes 1,2";
    QTest::newRow("paired before the list is loaded, the station stays paired in the new journal")
        << "pair 1; load A A; fedge 1 31000 1 1"
        << "1: 2:"
        << "Ready lanes 1,2 paired pending 1@31000";
}

void TestRaceSession::raceDayScript()
{
    QFETCH(QString, script);
    QFETCH(QString, protocol);
    QFETCH(QString, state);

    // The lock is the run cycle's timer: a script's finish edges within it come
    // well inside its ten seconds.
    TRaceSession session;
    // The race's record as the program keeps it: from the first load on, every
    // command goes to a journal file.
    const QTemporaryDir folder;
    TRaceJournal file(folder.path(), QStringLiteral("boot"));
    const TSessionJournal journal(session, &file);
    const QStringList lines = script.split(u';', Qt::SkipEmptyParts);
    for (const QString& line : lines) {
        QVERIFY2(Give(session, line.trimmed()), qPrintable(line));
        if (!file.IsOpen())
            continue; // nothing to restore before a list is loaded
        // Killed here and restored: the journal's bytes, read as the next
        // start reads them, give the same race.
        QFile written(file.FileName());
        QVERIFY(written.open(QIODevice::ReadOnly));
        const JournalReadResult read = ReadJournal(written.readAll());
        QCOMPARE(int(read.status), int(JournalReadStatus::Sound));
        const JournalReplay replay = ReplayJournal(read.records);
        QVERIFY(replay.HoldsChanges() || !session.Modified());
        TRaceSession restored;
        restored.Replay(RestoreCommands(replay, {}, true));
        QCOMPARE(ProtocolText(restored), ProtocolText(session));
        QCOMPARE(StateText(restored), StateText(session));
        QCOMPARE(restored.Modified(), session.Modified());
    }
    QCOMPARE(ProtocolText(session), protocol);
    QCOMPARE(StateText(session), state);
}

void TestRaceSession::placesAreCountedPerClassHoweverItIsWritten()
{
    TRaceSession session;
    Give(session, QStringLiteral("keep 1/Jugend:0,42 2/Kinder:0,50 3/jugend_:1,54 4/Kinder:0,40 5/Jugend"));
    session.Rank();
    QCOMPARE(ProtocolText(session),
             QStringLiteral("1:0,42=0,42#1 2:0,50=0,50#2 3:1,54=1,54#2 4:0,40=0,40#1 5:"));
}

void TestRaceSession::aStarterWrittenTwiceIsMendedAtTheDoor()
{
    TRaceSession session;
    ProtocolTable rows{StarterRow(1, QStringLiteral("A")), StarterRow(2, QStringLiteral("A")),
                       StarterRow(3, QStringLiteral("A"))};
    rows[0][ColLoadOrder] = QStringLiteral("1");
    rows[1][ColLoadOrder] = QStringLiteral("1");
    rows[2][ColLoadOrder] = QStringLiteral("2");
    QCOMPARE(session.Load(rows, {}, true), 1);
    QCOMPARE(session.StartOrder(), (QStringList{"1", "2", "3"}));
    // Each row takes its own edit.
    QVERIFY(session.Edit(QStringLiteral("3"), ColName, QStringLiteral("Zweitschrift")));
    QCOMPARE(session.Results().Cell(QStringLiteral("1"), ColName), QStringLiteral("Name1"));
    QCOMPARE(session.Results().Cell(QStringLiteral("3"), ColName), QStringLiteral("Zweitschrift"));
}

void TestRaceSession::signalsCarryWhatChanged()
{
    TRaceSession session;
    session.SetRules({2, 0, 6, 150});
    Give(session, QStringLiteral("load A A"));
    QSignalSpy stopped(&session, &TRaceSession::LaneStopped);
    QSignalSpy doubtful(&session, &TRaceSession::TimeDoubtful);
    QSignalSpy unplaced(&session, &TRaceSession::TimeUnplaced);
    session.Start(1000);
    session.Stop(2, 1070);
    session.Stop(1, 4000);
    QCOMPARE(stopped.count(), 2);
    QCOMPARE(stopped.at(0), (QVariantList{2, 70, QStringLiteral("2"), ColLauf1, QStringLiteral("0,07")}));
    QCOMPARE(stopped.at(1), (QVariantList{1, 3000, QStringLiteral("1"), ColLauf1, QStringLiteral("3,00")}));
    QCOMPARE(doubtful.count(), 1);
    QCOMPARE(doubtful.at(0).at(2).toString(), QStringLiteral("unter der Mindestzeit 1,50"));
    QCOMPARE(unplaced.count(), 0);

    // A lane whose starter was deleted keeps its time apart and says so.
    session.Reset();
    session.DeleteRow(QStringLiteral("1"));
    session.SelectLane(1, 0);
    session.SetRules({1, 0, 6, 0});
    session.Start(0);
    for (int col = ColLauf2; col <= ColLauf6; ++col)
        session.Edit(QStringLiteral("2"), col, QStringLiteral("9,99"));
    session.Stop(1, 2000);
    QCOMPARE(unplaced.count(), 1);
    QCOMPARE(unplaced.at(0), (QVariantList{1, QStringLiteral("2"), QStringLiteral("2,00")}));

    // The station's start with a poor clock agreement says why its times are doubtful;
    // F5 while paired is journalled as a start by hand.
    TRaceSession station;
    for (const char* line : {"load A A", "pair 1", "arm 1 1"})
        QVERIFY(Give(station, QString::fromLatin1(line)));
    QSignalSpy stationDoubtful(&station, &TRaceSession::TimeDoubtful);
    QSignalSpy pending(&station, &TRaceSession::PendingStopsChanged);
    QVERIFY(station.KeepPendingStop(1, 31000));
    QCOMPARE(pending.count(), 1);
    QVERIFY(station.StationStart(1000, QStringLiteral("7:1"), false, 31500));
    QCOMPARE(pending.count(), 2);
    QCOMPARE(stationDoubtful.count(), 1);
    QCOMPARE(stationDoubtful.at(0).at(2).toString(), QStringLiteral("Uhrabgleich ungenau"));
    for (const char* line : {"unlock", "fedge 2 32000 0 1", "reset", "arm 1 1", "hand 40000"})
        QVERIFY(Give(station, QString::fromLatin1(line)));
    QCOMPARE(station.Commands().back().kind, SessionCommand::Start);
    QVERIFY(station.Commands().back().flag);
    // The link down at the start: both cars cross the finish, whose barriers the last
    // stop switched off, before the start arrives; each lane stops at its own edge, not
    // at someone crossing lane 1's beam within the lock before the car.
    TRaceSession late;
    late.SetRules({2, 0, 6, 0, 3000});
    for (const char* line :
         {"load A A", "pair 1", "arm 1 1", "fedge 1 26000 1 0", "fedge 1 31000 1 0", "fedge 2 31800 1 0"})
        QVERIFY(Give(late, QString::fromLatin1(line)));
    QCOMPARE(late.PendingStop(1), std::optional<std::uint32_t>(26000));
    QCOMPARE(late.PendingStop(2), std::optional<std::uint32_t>(31800));
    QSignalSpy lateStops(&late, &TRaceSession::LaneStopped);
    QVERIFY(late.StationStart(25000, QStringLiteral("7:2"), true, 33000));
    QCOMPARE(lateStops.count(), 2);
    QCOMPARE(lateStops.at(0).at(4).toString(), QStringLiteral("6,00"));
    QCOMPARE(lateStops.at(1).at(4).toString(), QStringLiteral("6,80"));
}

QTEST_GUILESS_MAIN(TestRaceSession)
#include "tst_racesession.moc"
