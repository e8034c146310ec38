#include "EventTickMap.h"
#include "RunCycle.h"

#include <QSignalSpy>
#include <QtTest>

Q_DECLARE_METATYPE(BarrierCommand)

namespace {

QChar StateLetter(RunState state)
{
    switch (state) {
    case RunState::Ready:
        return QLatin1Char('R');
    case RunState::Running:
        return QLatin1Char('U');
    case RunState::LaneStopped:
        return QLatin1Char('S');
    case RunState::ResetDue:
        return QLatin1Char('D');
    }
    return QLatin1Char('?');
}

std::uint32_t TickOf(const QString& event)
{
    return event.section(QLatin1Char('@'), 1).toUInt();
}

// Plays events such as "start@1000", "stop1@8250", "stop2@9000", "reset" and
// returns the state letter after each, and the times the stops returned.
QString Play(TRunCycle& cycle, const QString& events, QStringList* times = nullptr)
{
    QStringList states;
    for (const QString& event : events.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        if (event.startsWith(QLatin1String("start"))) {
            cycle.Start(TickOf(event));
        } else if (event.startsWith(QLatin1String("stop"))) {
            const int lane = event.mid(4, 1).toInt();
            if (const std::optional<int> ms = cycle.Stop(lane, TickOf(event)); ms && times)
                times->append(QStringLiteral("%1:%2").arg(lane).arg(*ms));
        } else if (event == QLatin1String("reset")) {
            cycle.Reset();
        } else {
            qFatal("unknown event %s", qPrintable(event));
        }
        states.append(StateLetter(cycle.State()));
    }
    return states.join(QLatin1Char(' '));
}

} // namespace

class TestRunCycle : public QObject
{
    Q_OBJECT

private slots:
    void commandSequences_data();
    void commandSequences();
    void barrierEdges_data();
    void barrierEdges();
    void lockRunsOutOnceAndResetEndsItSilently();
    void lanesAdvanceInPairs_data();
    void lanesAdvanceInPairs();
    void keyPressTicks_data();
    void keyPressTicks();
};

void TestRunCycle::commandSequences_data()
{
    QTest::addColumn<int>("lanes");
    QTest::addColumn<QString>("events");
    QTest::addColumn<QString>("states");
    QTest::addColumn<QString>("times");
    QTest::addColumn<QString>("eliminable");

    // States: R ready, U running, S one lane stopped, D reset due.
    QTest::newRow("two lanes, lane 1 first") << 2 << "start@1000 stop1@8250 stop2@9500"
                                             << "U S D"
                                             << "1:7250 2:8500"
                                             << "12";
    QTest::newRow("two lanes, lane 2 first") << 2 << "start@0 stop2@5000 stop1@6000"
                                             << "U S D"
                                             << "2:5000 1:6000"
                                             << "12";
    QTest::newRow("between the stops only the stopped lane is eliminable") << 2 << "start@0 stop2@5000"
                                                                           << "U S"
                                                                           << "2:5000"
                                                                           << "2";
    QTest::newRow("second start ignored, the first tick counts")
        << 2 << "start@100 start@200 stop1@1100 stop2@1200"
        << "U U S D"
        << "1:1000 2:1100"
        << "12";
    QTest::newRow("second stop of a lane ignored, the first time stays")
        << 2 << "start@0 stop1@7250 stop1@7260 stop2@8000"
        << "U S S D"
        << "1:7250 2:8000"
        << "12";
    QTest::newRow("reset only once the run is finished")
        << 2 << "reset start@0 reset stop1@10 reset stop2@20 reset"
        << "R U U S S D R"
        << "1:10 2:20"
        << "";
    QTest::newRow("stops before the start ignored") << 2 << "stop1@100 stop2@100 start@200"
                                                    << "R R U"
                                                    << ""
                                                    << "";
    QTest::newRow("one lane: lane 2 never runs, lane 1 finishes") << 1 << "start@0 stop2@500 stop1@12349"
                                                                  << "U U D"
                                                                  << "1:12349"
                                                                  << "1";
    QTest::newRow("tick wrap between start and stop") << 2 << "start@4294967000 stop1@704 stop2@1000"
                                                      << "U S D"
                                                      << "1:1000 2:1296"
                                                      << "12";
    QTest::newRow("next run after the reset") << 2 << "start@0 stop1@1 stop2@2 reset start@10 stop2@30"
                                              << "U S D R U S"
                                              << "1:1 2:2 2:20"
                                              << "2";
    QTest::newRow("no elimination after the reset") << 2 << "start@0 stop1@1 stop2@2 reset"
                                                    << "U S D R"
                                                    << "1:1 2:2"
                                                    << "";
}

void TestRunCycle::commandSequences()
{
    QFETCH(int, lanes);
    QFETCH(QString, events);
    QFETCH(QString, states);
    QFETCH(QString, times);
    QFETCH(QString, eliminable);

    TRunCycle cycle;
    cycle.SetLaneCount(lanes);
    QSignalSpy stopped(&cycle, &TRunCycle::LaneStopped);
    QStringList returned;
    QCOMPARE(Play(cycle, events, &returned), states);
    QCOMPARE(returned.join(QLatin1Char(' ')), times);

    QStringList signalled;
    for (const QList<QVariant>& args : stopped)
        signalled.append(QStringLiteral("%1:%2").arg(args.at(0).toInt()).arg(args.at(1).toInt()));
    QCOMPARE(signalled.join(QLatin1Char(' ')), times);

    QString canEliminate;
    for (int lane : {1, 2})
        if (cycle.CanEliminate(lane))
            canEliminate += QString::number(lane);
    QCOMPARE(canEliminate, eliminable);
}

void TestRunCycle::barrierEdges_data()
{
    QTest::addColumn<int>("lanes");
    QTest::addColumn<QString>("events");
    QTest::addColumn<bool>("locked");
    QTest::addColumn<int>("line"); // 0 start, 1 and 2 the lanes' finish
    QTest::addColumn<bool>("startAvailable");
    QTest::addColumn<bool>("startArmed");
    QTest::addColumn<bool>("finishArmed");
    QTest::addColumn<BarrierCommand>("command");
    QTest::addColumn<bool>("lockedAfter");

    using enum BarrierCommand;
    QTest::newRow("start edge, armed and available")
        << 2 << "" << false << 0 << true << true << false << Start << true;
    QTest::newRow("start edge, disarmed: no start, but the lock begins")
        << 2 << "" << false << 0 << true << false << false << None << true;
    QTest::newRow("start edge, no starters: no start, lock")
        << 2 << "" << false << 0 << false << true << false << None << true;
    QTest::newRow("start edge during the lock")
        << 2 << "" << true << 0 << true << true << false << None << true;
    QTest::newRow("start edge while both lanes run: nothing, no lock")
        << 2 << "start@0" << false << 0 << false << true << false << None << false;
    QTest::newRow("start edge while one lane still runs: nothing, no lock")
        << 2 << "start@0 stop1@5" << false << 0 << false << true << false << None << false;
    QTest::newRow("start edge after the run, before the reset: locks")
        << 2 << "start@0 stop1@5 stop2@6" << false << 0 << false << true << false << None << true;
    QTest::newRow("finish edge while the start is available starts")
        << 2 << "" << false << 1 << true << true << true << Start << false;
    QTest::newRow("finish edge starts even during the lock")
        << 2 << "" << true << 2 << true << true << true << Start << true;
    QTest::newRow("switched-off finish barrier starts nothing")
        << 2 << "" << false << 1 << true << true << false << None << false;
    QTest::newRow("finish edge during the lock stops nothing")
        << 2 << "start@0" << true << 1 << false << true << true << None << true;
    QTest::newRow("finish edge after the lock stops lane 1")
        << 2 << "start@0" << false << 1 << false << true << true << Stop << false;
    QTest::newRow("finish edge after the lock stops lane 2")
        << 2 << "start@0" << false << 2 << false << true << true << Stop << false;
    QTest::newRow("disarmed finish barrier")
        << 2 << "start@0" << false << 1 << false << true << false << None << false;
    QTest::newRow("finish edge of a stopped lane")
        << 2 << "start@0 stop1@5" << false << 1 << false << true << true << None << false;
    QTest::newRow("lane 2 edge in a one-lane run")
        << 1 << "start@0" << false << 2 << false << true << true << None << false;
    QTest::newRow("finish edge when idle and the start barrier is off")
        << 2 << "" << false << 1 << true << false << true << None << false;
}

void TestRunCycle::barrierEdges()
{
    QFETCH(int, lanes);
    QFETCH(QString, events);
    QFETCH(bool, locked);
    QFETCH(int, line);
    QFETCH(bool, startAvailable);
    QFETCH(bool, startArmed);
    QFETCH(bool, finishArmed);
    QFETCH(BarrierCommand, command);
    QFETCH(bool, lockedAfter);

    TRunCycle cycle;
    cycle.SetLaneCount(lanes);
    Play(cycle, events);
    // The edge comes 100 ms after the last lock began (or none is left).
    if (locked)
        cycle.LockFrom(0);
    else
        cycle.EndLock();
    const BarrierCommand got = line == 0
                                   ? cycle.StartEdge(startAvailable, startArmed, 100)
                                   : cycle.FinishEdge(line, startAvailable, startArmed, finishArmed, 100);
    QCOMPARE(got, command);
    QCOMPARE(cycle.Locked(), lockedAfter);
}

void TestRunCycle::lockRunsOutOnceAndResetEndsItSilently()
{
    TRunCycle cycle;
    QSignalSpy expired(&cycle, &TRunCycle::LockExpired);
    cycle.SetLockInterval(1);
    cycle.Start(0);
    QVERIFY(cycle.Locked());
    QTRY_COMPARE_WITH_TIMEOUT(expired.count(), 1, 5000);
    QVERIFY(!cycle.Locked());

    cycle.SetLockInterval(60000);
    cycle.Stop(1, 1);
    cycle.Stop(2, 2);
    QVERIFY(cycle.StartEdge(false, false, 3) == BarrierCommand::None);
    QVERIFY(cycle.Locked());
    QVERIFY(cycle.Reset());
    QVERIFY(!cycle.Locked());
    QCOMPARE(expired.count(), 1);

    // Edges are judged on their own ticks, whenever the timer runs out.
    cycle.SetLockInterval(10000);
    cycle.LockFrom(1000);
    QVERIFY(cycle.LockedAt(10999));
    QVERIFY(!cycle.LockedAt(11000));
    QVERIFY(cycle.Locked());
}

void TestRunCycle::lanesAdvanceInPairs_data()
{
    QTest::addColumn<int>("lanes");
    QTest::addColumn<int>("entries");
    QTest::addColumn<int>("lane1");
    QTest::addColumn<int>("lane2");
    QTest::addColumn<int>("next1");
    QTest::addColumn<int>("next2");

    QTest::newRow("two lanes step by two") << 2 << 5 << 0 << 1 << 2 << 3;
    QTest::newRow("two lanes wrap to 0 and 1") << 2 << 5 << 4 << 3 << 0 << 1;
    QTest::newRow("one lane steps by one, lane 2 stays") << 1 << 5 << 3 << 1 << 4 << 1;
    QTest::newRow("one lane wraps") << 1 << 5 << 4 << 2 << 0 << 2;
    QTest::newRow("lane 2 of a one-entry list has no starter") << 2 << 1 << 0 << -1 << 0 << -1;
    // Before, lane 1 stepped from nothing to 1 and lane 2 wrapped to 1: one starter on both lanes.
    QTest::newRow("a lane whose starter was deleted goes on from its partner") << 2 << 6 << -1 << 4 << 5 << 1;
    QTest::newRow("lane 2 emptied goes on from lane 1") << 2 << 6 << 2 << -1 << 4 << 5;
}

void TestRunCycle::lanesAdvanceInPairs()
{
    QFETCH(int, lanes);
    QFETCH(int, entries);
    QFETCH(int, lane1);
    QFETCH(int, lane2);
    QFETCH(int, next1);
    QFETCH(int, next2);

    TRunCycle cycle;
    cycle.SetLaneCount(lanes);
    const std::array<int, 2> next = cycle.NextLanePositions({lane1, lane2}, {entries, entries});
    QCOMPARE(next[0], next1);
    QCOMPARE(next[1], next2);
}

void TestRunCycle::keyPressTicks_data()
{
    // Key events as "stamp@tick on arrival"; the tick the last one is taken at.
    QTest::addColumn<QString>("events");
    QTest::addColumn<qint64>("tick");
    QTest::newRow("handled at once") << "5000@1000 7250@3250" << qint64(3250);
    QTest::newRow("handled after a busy window") << "5000@1000 8010@7500" << qint64(4010);
    QTest::newRow("three keys handled together") << "5000@1000 8010@9000 9030@9000" << qint64(5030);
    QTest::newRow("no stamp from the platform") << "5000@1000 0@7500" << qint64(7500);
    QTest::newRow("nothing to compare with yet") << "8010@7500" << qint64(7500);
    QTest::newRow("stamp of another clock") << "5000@1000 900000@7500" << qint64(7500);
    QTest::newRow("stalled for longer than a minute") << "5000@1000 5010@71010" << qint64(71010);
    QTest::newRow("tick counter wraps") << "100@4294967000 3100@4294972000" << qint64(2704);
    QTest::newRow("stamp wider than 32 bits") << "4294968296@1000 4294970296@3500" << qint64(3000);
}

void TestRunCycle::keyPressTicks()
{
    QFETCH(QString, events);
    QFETCH(qint64, tick);
    EventTickMap map;
    std::uint32_t taken = 0;
    for (const QString& event : events.split(QLatin1Char(' '))) {
        const std::uint64_t stamp = event.section(QLatin1Char('@'), 0, 0).toULongLong();
        const auto now = std::uint32_t(event.section(QLatin1Char('@'), 1).toLongLong());
        map.Observe(stamp, now);
        taken = map.TickAt(stamp, now);
    }
    QCOMPARE(qint64(taken), tick);
}

QTEST_GUILESS_MAIN(TestRunCycle)
#include "tst_runcycle.moc"
