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
    return QStringLiteral("%1 %2 [%3] %4 %5%6")
        .arg(QLatin1String(states[int(lane.state)]), lane.time, lane.starter, lane.place, lane.gap,
             lane.unconfirmed ? QStringLiteral(" ?") : QString());
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
    session.Stop(2, 3000);
    session.Rank();
    const LiveSnapshot view = AudienceView(session, {}, {}, 9000);
    QCOMPARE(LaneText(view.lanes[0]), QStringLiteral("stopped 0,07 [1 Name1  ]   ?"));
    QCOMPARE(LaneText(view.lanes[1]), QStringLiteral("stopped 3,00 [2 Name2  ] 1 "));
    QCOMPARE(view.unconfirmedRows, (QList<bool>{true, false}));
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
    const QList<ScoreboardClass> standings = ScoreboardStandingsOf(session.Results());
    QCOMPARE(standings.size(), 1);
    QCOMPARE(standings.at(0).className, QStringLiteral("jugend")); // as the leader's row writes it
    QCOMPARE(standings.at(0).rows.size(), 2);
    QCOMPARE(standings.at(0).rows.at(0), (std::array<QString, 3>{"1", "2 Name2", "29,00"}));
    QCOMPARE(standings.at(0).rows.at(1), (std::array<QString, 3>{"2", "1 Name1", "30,00"}));
}

QTEST_GUILESS_MAIN(TestAudienceView)
#include "tst_audienceview.moc"
