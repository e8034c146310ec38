#include "AudienceView.h"
#include "ProtocolLogic.h"
#include "RaceSession.h"

#include <QLocale>
#include <QTest>

// What the live page, the uploads and the scoreboard show, built from a race
// session without a window.
class TestAudienceView : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany)); }
    void lanesFromTheStartToTheRanking();
    void aDoubtfulTimeTakesNoPlace();
    void placesWhileARoundIsUnderWay_data();
    void placesWhileARoundIsUnderWay();
    void aLaneInTheMiddleOfARound();
    void scoreboardLanesAndStandings();
};

namespace {

ProtocolTable Starters(const QStringList& classes)
{
    ProtocolTable rows;
    for (int i = 0; i < classes.size(); ++i) {
        QStringList row(ProtocolColumnCount);
        row[ColNr] = QString::number(i + 1);
        row[ColName] = QStringLiteral("Name%1").arg(i + 1);
        row[ColKlasse] = classes.at(i);
        rows.append(row);
    }
    return rows;
}

QString LaneText(const LiveLane& lane)
{
    static const char* const states[] = {"idle", "running", "stopped"};
    return QStringLiteral("%1 %2 [%3] %4 %5%6%7")
        .arg(QLatin1String(states[int(lane.state)]), lane.time, lane.starter, lane.place, lane.gap,
             lane.unconfirmed ? QStringLiteral(" ?") : QString(),
             lane.afterRuns > 0 ? QStringLiteral(" nach %1").arg(lane.afterRuns) : QString());
}

// Starters of one class or more with the run times they have ("30,00 33,00").
ProtocolTable StartersWithRuns(const QStringList& classes, const QStringList& runs)
{
    ProtocolTable rows = Starters(classes);
    for (int i = 0; i < rows.size(); ++i) {
        const QStringList times = runs.value(i).split(u' ', Qt::SkipEmptyParts);
        for (int run = 0; run < times.size(); ++run)
            rows[i][ColLauf1 + run] = times.at(run);
    }
    return rows;
}

} // namespace

void TestAudienceView::lanesFromTheStartToTheRanking()
{
    TRaceSession session;
    session.SetRules({2, 0, 6, 0});
    session.Load(Starters({"A", "A", "B"}));
    LiveSnapshot view =
        AudienceView(session, QStringLiteral("Sommerrennen"), QStringLiteral("10.12.2026"), 0);
    QCOMPARE(view.rows.size(), 3);
    QCOMPARE(view.columns.size(), ColPlatz + 1);
    QCOMPARE(view.rows.at(0).size(), ColPlatz + 1); // the load order stays the program's
    QCOMPARE(LaneText(view.lanes[0]), QStringLiteral("idle  [1 Name1  ]  "));

    session.Start(1000);
    view = AudienceView(session, {}, {}, 2250);
    QCOMPARE(LaneText(view.lanes[0]), QStringLiteral("running 1,25 [1 Name1  ]  "));

    session.Stop(2, 4500);
    view = AudienceView(session, {}, {}, 5000);
    QCOMPARE(LaneText(view.lanes[0]), QStringLiteral("running 4,00 [1 Name1  ]  "));
    QCOMPARE(LaneText(view.lanes[1]), QStringLiteral("stopped 3,50 [2 Name2  ]  "));

    session.Stop(1, 4000);
    session.Rank();
    view = AudienceView(session, {}, {}, 9000);
    QCOMPARE(LaneText(view.lanes[0]), QStringLiteral("stopped 3,00 [1 Name1  ] 1 "));
    QCOMPARE(LaneText(view.lanes[1]), QStringLiteral("stopped 3,50 [2 Name2  ] 2 +0,50"));

    // After "0,00" the next pair waits: the third starter alone, lane 2 empty.
    session.Reset();
    view = AudienceView(session, {}, {}, 9000);
    QCOMPARE(LaneText(view.lanes[0]), QStringLiteral("idle  [3 Name3  ]  "));
}

void TestAudienceView::aDoubtfulTimeTakesNoPlace()
{
    TRaceSession session;
    session.SetRules({2, 0, 6, 150});
    session.Load(Starters({"A", "A"}));
    session.Start(0);
    session.Stop(1, 70);
    // Between the two lanes' stops, before any ranking: waiting, without a place.
    const LiveSnapshot between = AudienceView(session, {}, {}, 1000);
    QCOMPARE(LaneText(between.lanes[0]), QStringLiteral("stopped 0,07 [1 Name1  ]   ?"));
    QCOMPARE(LaneText(between.lanes[1]), QStringLiteral("running 1,00 [2 Name2  ]  "));
    session.Stop(2, 3000);
    session.Rank();
    const LiveSnapshot view = AudienceView(session, {}, {}, 9000);
    QCOMPARE(LaneText(view.lanes[0]), QStringLiteral("stopped 0,07 [1 Name1  ]   ?"));
    QCOMPARE(LaneText(view.lanes[1]), QStringLiteral("stopped 3,00 [2 Name2  ] 1 "));
    QCOMPARE(view.unconfirmedRows, (QList<bool>{true, false}));
}

void TestAudienceView::placesWhileARoundIsUnderWay_data()
{
    QTest::addColumn<QStringList>("classes");
    QTest::addColumn<QStringList>("runs");
    QTest::addColumn<QStringList>("places"); // by start number: place, gap, runs it is after

    QTest::newRow("run 3 begun: like with like")
        << QStringList{"K", "K", "K", "K"} << QStringList{"30,00 33,00", "32,00 34,11", "28,00", "27,50"}
        << QStringList{"1:1  nach 2", "2:2 +3,11 nach 2", "3:2 +0,50 nach 1", "4:1  nach 1"};
    QTest::newRow("everybody as often: the protocol's places")
        << QStringList{"K", "K", "K"} << QStringList{"30,00 33,00", "32,00 34,11", "31,00 31,00"}
        << QStringList{"1:2 +1,00", "2:3 +4,11", "3:1 "};
    QTest::newRow("a tie among those with as many runs")
        << QStringList{"K", "K", "K"} << QStringList{"30,00 30,00", "31,00 29,00", "28,00"}
        << QStringList{"1:1  nach 2", "2:1  nach 2", "3:1  nach 1"};
    QTest::newRow("each class by itself, no time and EL without a place")
        << QStringList{"K", "k ", "B", "B", "K", "K"}
        << QStringList{"30,00 33,00", "29,00", "40,00", "41,00", "", "EL"}
        << QStringList{"1:1  nach 2", "2:1  nach 1", "3:1 ", "4:2 +1,00", "5: ", "6: "};
    QTest::newRow("test run and a run beyond the counted ones don't count")
        << QStringList{"K", "K"} << QStringList{"50,00 30,00 20,00 99,00", "10,00 31,00 20,00"}
        << QStringList{"1:1 ", "2:2 +1,00"};
}

void TestAudienceView::placesWhileARoundIsUnderWay()
{
    QFETCH(QStringList, classes);
    QFETCH(QStringList, runs);
    QFETCH(QStringList, places);

    TRaceSession session;
    const bool withTestRun = QByteArray(QTest::currentDataTag()).startsWith("test run");
    session.SetRules({2, withTestRun ? 1 : 0, withTestRun ? 3 : 6, 0});
    session.Load(StartersWithRuns(classes, runs));
    session.Rank();
    const LiveSnapshot view = AudienceView(session, {}, {}, 0);
    QCOMPARE(view.places.size(), view.rows.size());
    QStringList shown;
    for (int i = 0; i < view.rows.size(); ++i) {
        const AudiencePlace& place = view.places.at(i);
        shown << QStringLiteral("%1:%2 %3%4")
                     .arg(view.rows.at(i).at(ColNr), place.place, place.gap,
                          place.afterRuns > 0 ? QStringLiteral(" nach %1").arg(place.afterRuns) : QString());
    }
    shown.sort();
    QCOMPARE(shown, places);
}

// The child of the first pair of round 2 that has now run twice is compared with
// those who ran twice, not put behind everybody who ran once; the scoreboard says so.
void TestAudienceView::aLaneInTheMiddleOfARound()
{
    TRaceSession session;
    session.SetRules({2, 0, 6, 0});
    session.Load(StartersWithRuns({"K", "K", "K", "K", "K"},
                                  {"30,00 33,00", "32,00", "28,00", "27,50", "29,00 31,00"}));
    session.Rank();
    session.SelectLane(1, 1);
    session.SelectLane(2, 2);
    session.Start(0);
    // Lane 2 still runs, so the pair isn't ranked yet: the time just taken counts already.
    session.Stop(1, 34110);
    const LiveSnapshot view = AudienceView(session, {}, {}, 40000);
    QCOMPARE(LaneText(view.lanes[0]), QStringLiteral("stopped 34,11 [2 Name2  ] 3 +6,11 nach 2"));
    QCOMPARE(view.lanes[1].state, LiveLane::State::Running);

    const std::array<ScoreboardLane, 2> lanes = ScoreboardLanesOf(session, view);
    QCOMPARE(lanes[0].place, QStringLiteral("3"));
    QCOMPARE(lanes[0].afterRuns, 2);
    QCOMPARE(lanes[0].countedRuns, 2);
    QCOMPARE(AudiencePlaceText(lanes[0].place, lanes[0].afterRuns), QStringLiteral("Platz 3 nach 2 Läufen"));
    QCOMPARE(AudiencePlaceText(QStringLiteral("2"), 1), QStringLiteral("Platz 2 nach 1 Lauf"));
    QCOMPARE(AudiencePlaceText(QStringLiteral("2"), 0), QStringLiteral("Platz 2"));

    // The standings in parts: who ran twice first, each part by its own places.
    const QList<ScoreboardClass> standings = ScoreboardStandingsOf(view);
    QCOMPARE(standings.size(), 2);
    QCOMPARE(standings.at(0).className, QStringLiteral("K – nach 2 Läufen"));
    QCOMPARE(standings.at(0).rows.size(), 3);
    QCOMPARE(standings.at(0).rows.at(0), (std::array<QString, 3>{"1", "5 Name5", "60,00"}));
    QCOMPARE(standings.at(0).rows.at(2), (std::array<QString, 3>{"3", "2 Name2", "66,11"}));
    QCOMPARE(standings.at(1).className, QStringLiteral("K – nach 1 Lauf"));
    QCOMPARE(standings.at(1).rows.at(0), (std::array<QString, 3>{"1", "4 Name4", "27,50"}));
}

void TestAudienceView::scoreboardLanesAndStandings()
{
    TRaceSession session;
    session.SetRules({2, 1, 6, 0}); // Lauf 1 is a test run
    ProtocolTable rows = Starters({"Jugend", "jugend ", "Kinder"});
    rows[0][ColVerein] = QStringLiteral("SC Nord");
    rows[0][ColLauf1] = QStringLiteral("40,00");
    rows[1][ColLauf1] = QStringLiteral("41,00");
    session.Load(rows);
    session.SelectLane(1, 0);
    session.SelectLane(2, 1);
    session.Start(0);
    session.Stop(1, 30000);
    LiveSnapshot view = AudienceView(session, {}, {}, 31000);
    std::array<ScoreboardLane, 2> lanes = ScoreboardLanesOf(session, view);
    QCOMPARE(lanes[0].phase, ScoreboardLane::Phase::Stopped);
    QCOMPARE(lanes[0].starter, QStringLiteral("1 Name1"));
    QCOMPARE(lanes[0].club, QStringLiteral("SC Nord"));
    QCOMPARE(lanes[0].countedRuns, 1); // the test run doesn't count
    QCOMPARE(lanes[1].phase, ScoreboardLane::Phase::Running);
    QCOMPARE(lanes[1].time, QStringLiteral("31,00"));

    session.Stop(2, 29000);
    session.Rank();
    session.Reset();
    view = AudienceView(session, {}, {}, 40000);
    lanes = ScoreboardLanesOf(session, view);
    QCOMPARE(lanes[0].phase, ScoreboardLane::Phase::Ready);
    QCOMPARE(lanes[0].time, QStringLiteral("0,00"));
    QCOMPARE(lanes[0].starter, QStringLiteral("3 Name3"));
    QCOMPARE(lanes[0].countedRuns, 0); // counted runs only once stopped

    // "Jugend" and "jugend " are one class; the starter without a time has no place.
    const QList<ScoreboardClass> standings = ScoreboardStandingsOf(AudienceView(session, {}, {}, 40000));
    QCOMPARE(standings.size(), 1);
    QCOMPARE(standings.at(0).className, QStringLiteral("jugend")); // as the leader's row writes it
    QCOMPARE(standings.at(0).rows.size(), 2);
    QCOMPARE(standings.at(0).rows.at(0), (std::array<QString, 3>{"1", "2 Name2", "29,00"}));
    QCOMPARE(standings.at(0).rows.at(1), (std::array<QString, 3>{"2", "1 Name1", "30,00"}));
}

QTEST_GUILESS_MAIN(TestAudienceView)
#include "tst_audienceview.moc"
