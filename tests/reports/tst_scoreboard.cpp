#include "TDigit.h"
#include "TFormScoreboard.h"

#include <QLabel>
#include <QtTest>
#include <algorithm>

class TestScoreboard : public QObject
{
    Q_OBJECT

private slots:
    void lanesShowTimeStarterAndResult_data();
    void lanesShowTimeStarterAndResult();
    void readableFromAfarOnAProjector();
    void standingsGoPageByPageWithEveryRowOnce();
    void doubleClickSwitchesFullScreenAndTheFocusStaysAway();
};

void TestScoreboard::lanesShowTimeStarterAndResult_data()
{
    QTest::addColumn<QString>("time");
    QTest::addColumn<QList<int>>("patterns"); // the five digits, -1 dark
    QTest::addColumn<bool>("unconfirmed");
    QTest::addColumn<int>("afterRuns");
    QTest::addColumn<QString>("result");

    const auto digit = [](int value) { return int(TDigit::DigitPattern(value)); };
    QTest::newRow("a time") << "12,34" << QList<int>{-1, digit(1), digit(2), digit(3), digit(4)} << false << 0
                            << "Platz 2  ·  +0,35  ·  3 Läufe";
    QTest::newRow("a time of over 100 s")
        << "123,45" << QList<int>{digit(1), digit(2), digit(3), digit(4), digit(5)} << false << 0
        << "Platz 2  ·  +0,35  ·  3 Läufe";
    QTest::newRow("a time with a decimal point")
        << "12.34" << QList<int>{-1, digit(1), digit(2), digit(3), digit(4)} << false << 0
        << "Platz 2  ·  +0,35  ·  3 Läufe";
    QTest::newRow("an implausible time") << "0,12" << QList<int>{-1, -1, digit(0), digit(1), digit(2)} << true
                                         << 0 << "unbestätigt  ·  Platz 2  ·  +0,35  ·  3 Läufe";
    QTest::newRow("a place while the round is under way")
        << "12,34" << QList<int>{-1, digit(1), digit(2), digit(3), digit(4)} << false << 3
        << "Platz 2 nach 3 Läufen  ·  +0,35";
}

void TestScoreboard::lanesShowTimeStarterAndResult()
{
    QFETCH(QString, time);
    QFETCH(QList<int>, patterns);
    QFETCH(bool, unconfirmed);
    QFETCH(int, afterRuns);
    QFETCH(QString, result);

    TFormScoreboard board;
    std::array<ScoreboardLane, 2> lanes;
    lanes[0] = {
        ScoreboardLane::Phase::Stopped,   time,     "7 Müller Anna", "A", "2", "+0,35", 3, unconfirmed,
        "Freiwillige Feuerwehr Oberdorf", afterRuns};
    lanes[1] = {ScoreboardLane::Phase::Stopped, "EL", "9 Weber Carla", "B", "", "", 0, false, "", 0};
    board.ShowLanes(lanes, 2);

    const QList<TDigit*> digits = board.findChildren<TDigit*>();
    QCOMPARE(digits.size(), 10);
    QList<int> shown;
    for (int i = 0; i < 5; ++i)
        shown << (digits.at(i)->ValueBinary() == 0 ? -1 : int(digits.at(i)->ValueBinary()));
    QCOMPARE(shown, patterns);
    QCOMPARE(digits.at(5)->ValueBinary(), std::uint8_t(0));
    QVERIFY(digits.at(8)->ValueBinary() != 0 && digits.at(9)->ValueBinary() != 0); // E L

    QStringList texts; // as shown, and in full where the label had to shorten it
    for (const QLabel* label : board.findChildren<QLabel*>())
        texts << label->text() << label->toolTip();
    QVERIFY(texts.contains("7 Müller Anna"));
    QVERIFY(texts.contains("Freiwillige Feuerwehr Oberdorf"));
    QVERIFY(texts.contains("Bahn 1  ·  Klasse A"));
    QVERIFY(texts.contains("Bahn 2  ·  Klasse B"));
    QVERIFY2(texts.contains(result), qPrintable(texts.join(" | ")));
    QVERIFY(texts.contains("0 Läufe"));
    QVERIFY(!board.ShowingStandings());
}

void TestScoreboard::readableFromAfarOnAProjector()
{
    TFormScoreboard board;
    board.resize(1920, 1080);
    board.ShowLanes({}, 2);
    QVERIFY2(board.DigitHeight() >= 1080 / 4, qPrintable(QString::number(board.DigitHeight())));
    QVERIFY2(board.NameFontPixels() >= 1080 / 12, qPrintable(QString::number(board.NameFontPixels())));
    for (const TDigit* digit : board.findChildren<TDigit*>())
        QVERIFY(board.rect().contains(digit->mapTo(&board, digit->rect().bottomRight())));
}

void TestScoreboard::standingsGoPageByPageWithEveryRowOnce()
{
    TFormScoreboard board;
    board.resize(1280, 720);
    QList<ScoreboardClass> classes;
    QStringList expected;
    for (const QString cls : {"A", "B", "C"}) {
        ScoreboardClass standing{cls, {}};
        for (int place = 1; place <= 14; ++place) {
            const QString name = QStringLiteral("%1%2 Fahrer").arg(cls).arg(place);
            standing.rows.append({QString::number(place), name, QStringLiteral("%1,00").arg(60 + place)});
            expected << name;
        }
        classes << standing;
    }
    board.ShowStandings(classes);
    QVERIFY(board.ShowingStandings());
    QVERIFY(board.StandingsPages() > 1);

    QStringList seen;
    for (int page = 0; page < board.StandingsPages(); ++page) {
        QCOMPARE(board.StandingsPage(), page);
        const QStringList lines = board.StandingsLines();
        QVERIFY(!lines.last().startsWith("Klasse")); // no heading alone at the foot
        for (const QString& line : lines) {
            if (!line.startsWith("Klasse"))
                seen << line.section("  ", 1, 1);
        }
        board.NextPage();
    }
    QCOMPARE(board.StandingsPage(), 0); // round again
    QCOMPARE(seen, expected);

    // Filled evenly, and each page fits: no page of a line or two and a blank.
    qsizetype fewest = 1000, most = 0;
    for (int page = 0; page < board.StandingsPages(); ++page) {
        const qsizetype lines = board.StandingsLines().size();
        fewest = std::min(fewest, lines);
        most = std::max(most, lines);
        QVERIFY(lines <= board.LinesPerPage());
        const QLabel* text = nullptr;
        for (const QLabel* label : board.findChildren<QLabel*>()) {
            if (label->text().startsWith(QStringLiteral("<table")))
                text = label;
        }
        QVERIFY(text);
        QVERIFY2(text->sizeHint().height() <= text->height(), qPrintable(QStringLiteral("page %1: %2 > %3")
                                                                             .arg(page)
                                                                             .arg(text->sizeHint().height())
                                                                             .arg(text->height())));
        board.NextPage();
    }
    QVERIFY2(most - fewest <= 2, qPrintable(QStringLiteral("%1 to %2 lines").arg(fewest).arg(most)));
}

void TestScoreboard::doubleClickSwitchesFullScreenAndTheFocusStaysAway()
{
    TFormScoreboard board;
    QVERIFY(board.windowFlags().testFlag(Qt::WindowDoesNotAcceptFocus));
    QVERIFY(board.testAttribute(Qt::WA_ShowWithoutActivating));
    QCOMPARE(board.windowTitle(), QStringLiteral("Quellorix – Anzeigetafel"));
    board.show();
    QTest::mouseDClick(&board, Qt::LeftButton);
    QVERIFY(board.windowState().testFlag(Qt::WindowFullScreen));
    QTest::keyClick(&board, Qt::Key_Escape);
    QVERIFY(!board.windowState().testFlag(Qt::WindowFullScreen));
}

QTEST_MAIN(TestScoreboard)
#include "tst_scoreboard.moc"
