#include "ProtocolLogic.h"
#include "RunTime.h"

#include <QLocale>
#include <QTest>

using ClassAndTotal = QList<std::pair<QString, QString>>;
using LanePositions = QList<std::pair<int, int>>;
Q_DECLARE_METATYPE(ClassAndTotal)
Q_DECLARE_METATYPE(LanePositions)
Q_DECLARE_METATYPE(std::optional<int>)

namespace {

// A protocol row with the given run texts in Lauf1.. and everything else empty.
QStringList RowWithRuns(const QStringList& runs)
{
    QStringList row(ProtocolColumnCount);
    row[ColNr] = QStringLiteral("7");
    row[ColKlasse] = QStringLiteral("A");
    for (int i = 0; i < runs.size(); ++i)
        row[ColLauf1 + i] = runs.at(i);
    return row;
}

} // namespace

class TestProtocolLogic : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany)); }

    void headers();
    void computeTotal_data();
    void computeTotal();
    void computePlaces_data();
    void computePlaces();
    void classSpellingVariants();
    void sameClassDecidesAsTheKeys_data();
    void sameClassDecidesAsTheKeys();
    void gapToClassLeader_data();
    void gapToClassLeader();
    void lanePositionsForNextRun_data();
    void lanePositionsForNextRun();
    void startNumberOfEntry_data();
    void startNumberOfEntry();
    void firstEmptyRunColumn_data();
    void firstEmptyRunColumn();
    void laneDisplay_data();
    void laneDisplay();
    void nextLanePosition_data();
    void nextLanePosition();
    void advanceWalksThroughPairs();
    void cellBackground_data();
    void cellBackground();
    void cellAlignment_data();
    void cellAlignment();
};

void TestProtocolLogic::headers()
{
    const QStringList headers = ProtocolHeaders();
    QCOMPARE(headers.size(), ProtocolColumnCount);
    QCOMPARE(headers.at(ColNr), QStringLiteral("Nr."));
    QCOMPARE(headers.at(ColKlasse), QStringLiteral("Klasse"));
    QCOMPARE(headers.at(ColLauf1), QStringLiteral("Lauf1"));
    QCOMPARE(headers.at(ColLauf6), QStringLiteral("Lauf6"));
    QCOMPARE(headers.at(ColGesamt), QStringLiteral("Gesamt"));
    QCOMPARE(headers.at(ColPlatz), QStringLiteral("Platz"));
    QCOMPARE(headers.at(ColLoadOrder), QString(QChar(0x00B9)));
}

void TestProtocolLogic::computeTotal_data()
{
    QTest::addColumn<QStringList>("runs");
    QTest::addColumn<int>("probeLaufe");
    QTest::addColumn<int>("allLaufe");
    QTest::addColumn<QString>("total");

    QTest::newRow("test runs only") << QStringList{"9,00", "8,00"} << 2 << 6 << "";
    QTest::newRow("two counted times") << QStringList{"9,00", "8,00", "10,00", "11,50"} << 2 << 6 << "21,50";
    QTest::newRow("no test runs") << QStringList{"9,00", "8,00"} << 0 << 6 << "17,00";
    QTest::newRow("run beyond AllLaufe ignored")
        << QStringList{"", "", "10,00", "11,50", "30,00"} << 2 << 4 << "21,50";
    QTest::newRow("EL in counted column") << QStringList{"", "", "10,00", "EL", "11,50"} << 2 << 6 << "EL";
    QTest::newRow("EL in test column ignored")
        << QStringList{"EL", "", "10,00", "11,50"} << 2 << 6 << "21,50";
    QTest::newRow("other text in counted column") << QStringList{"", "", "abc"} << 2 << 6 << "EL";
    QTest::newRow("dot text on comma system") << QStringList{"", "", "10.00", "11.50"} << 2 << 6 << "EL";
    QTest::newRow("blank cell skipped") << QStringList{"", "", " ", "11,50"} << 2 << 6 << "11,50";
    QTest::newRow("ProbeLaufe equals AllLaufe") << QStringList{"1,00", "2,00", "3,00"} << 3 << 3 << "";
    QTest::newRow("ProbeLaufe above AllLaufe") << QStringList{"1,00", "2,00", "3,00"} << 5 << 2 << "";
    QTest::newRow("no times") << QStringList{} << 2 << 6 << "";
    QTest::newRow("zero times") << QStringList{"", "", "0,00", "0,00"} << 2 << 6 << "";
    // In 32 bits these four would wrap to -8 and read as "no time".
    QTest::newRow("near-limit times do not wrap")
        << QStringList{"1073741,822", "1073741,822", "1073741,822", "1073741,822"} << 0 << 6 << "EL";
    QTest::newRow("sum reaching the mark") << QStringList{"600000,00", "600000,00"} << 0 << 6 << "EL";
    QTest::newRow("AllLaufe too large stays in run columns")
        << QStringList{"1,00", "2,00", "3,00", "4,00", "5,00", "6,00"} << 0 << 9 << "21,00";
    QTest::newRow("negative ProbeLaufe counts from Lauf1")
        << QStringList{"1,00", "2,00"} << -1 << 6 << "3,00";
}

void TestProtocolLogic::computeTotal()
{
    QFETCH(QStringList, runs);
    QFETCH(int, probeLaufe);
    QFETCH(int, allLaufe);
    QFETCH(QString, total);
    QStringList row = RowWithRuns(runs);
    row[ColGesamt] = QStringLiteral("99,00"); // an old total must not be read back
    row[ColPlatz] = QStringLiteral("1");
    QCOMPARE(ComputeTotal(row, probeLaufe, allLaufe), total);
}

void TestProtocolLogic::computePlaces_data()
{
    QTest::addColumn<ClassAndTotal>("rows");
    QTest::addColumn<QStringList>("places");

    QTest::newRow("ties in two classes")
        << ClassAndTotal{{"A", "10,00"}, {"A", "11,50"}, {"A", "11,50"}, {"A", "12,00"},
                         {"B", "20,00"}, {"B", "21,00"}, {"B", "21,00"}, {"B", "22,00"}}
        << QStringList{"1", "2", "2", "4", "1", "2", "2", "4"};
    QTest::newRow("EL and empty get no place and do not count")
        << ClassAndTotal{{"A", "10,00"}, {"A", "11,00"}, {"A", "EL"}, {"A", ""},
                         {"A", " "},     {"B", "9,00"},  {"B", ""},   {"B", "EL"}}
        << QStringList{"1", "2", "", "", "", "1", "", ""};
    QTest::newRow("unplaced row between classes")
        << ClassAndTotal{{"A", "10,00"}, {"A", "EL"}, {"B", "10,00"}} << QStringList{"1", "", "1"};
    QTest::newRow("case differs: one class")
        << ClassAndTotal{{"a", "10,00"}, {"A", "11,00"}, {"a", "12,00"}} << QStringList{"1", "2", "3"};
    QTest::newRow("case and blanks differ: one class")
        << ClassAndTotal{{" Jugend", "0,42"}, {"jugend", "1,54"}, {"Jugend ", "2,00"}, {"Jüngste", "1,00"}}
        << QStringList{"1", "2", "3", "1"};
    QTest::newRow("class compared trimmed")
        << ClassAndTotal{{" A", "10,00"}, {"A ", "11,00"}} << QStringList{"1", "2"};
    QTest::newRow("tie on text, not value")
        << ClassAndTotal{{"A", "10,00"}, {"A", "10,0"}} << QStringList{"1", "2"};
    QTest::newRow("three way tie") << ClassAndTotal{{"A", "5,00"},
                                                    {"A", "5,00"},
                                                    {"A", "5,00"},
                                                    {"A", "6,00"}}
                                   << QStringList{"1", "1", "1", "4"};
    QTest::newRow("empty class") << ClassAndTotal{{"", "5,00"}, {"", "6,00"}} << QStringList{"1", "2"};
    QTest::newRow("no rows") << ClassAndTotal{} << QStringList{};
}

void TestProtocolLogic::computePlaces()
{
    QFETCH(ClassAndTotal, rows);
    QFETCH(QStringList, places);
    QCOMPARE(ComputePlaces(rows), places);
}

void TestProtocolLogic::classSpellingVariants()
{
    const QStringList classes{"Jugend", "Kinder", "jugend", " Jugend",
                              "Jugend", "Kinder", "Ältere", "ältere"};
    // Only A-Z are folded: the sort's own rule, so "Ältere" and "ältere" stay apart there too.
    QCOMPARE(ClassSpellingVariants(classes), (QList<QStringList>{{"Jugend", "jugend", " Jugend"}}));
    QCOMPARE(ClassSpellingVariants({"A", "B"}), QList<QStringList>{});
}

void TestProtocolLogic::sameClassDecidesAsTheKeys_data()
{
    QTest::addColumn<QString>("a");
    QTest::addColumn<QString>("b");
    QTest::addColumn<bool>("same");
    QTest::newRow("case and blanks") << " Jugend"
                                     << "jugend  " << true;
    QTest::newRow("umlaut keeps its case") << "Ältere"
                                           << "ältere" << false;
    QTest::newRow("different classes") << "Jugend"
                                       << "Jugend A" << false;
    QTest::newRow("both without a class") << ""
                                          << "  " << true;
    QTest::newRow("a letter past Z") << "["
                                     << "{" << false;
}

void TestProtocolLogic::sameClassDecidesAsTheKeys()
{
    QFETCH(QString, a);
    QFETCH(QString, b);
    QFETCH(bool, same);
    QCOMPARE(ClassKey(a) == ClassKey(b), same);
    QCOMPARE(SameClass(a, b), same);
    QCOMPARE(SameClass(b, a), same);
}

void TestProtocolLogic::gapToClassLeader_data()
{
    QTest::addColumn<QString>("className");
    QTest::addColumn<QString>("total");
    QTest::addColumn<QString>("gap");
    QTest::newRow("behind the winner") << "Jugend"
                                       << "62,50"
                                       << "+1,25";
    QTest::newRow("class written otherwise") << " jugend"
                                             << "62,50"
                                             << "+1,25";
    QTest::newRow("the winner") << "Jugend"
                                << "61,25"
                                << "";
    QTest::newRow("other class, its own winner") << "Senioren"
                                                 << "70,00"
                                                 << "+10,00";
    QTest::newRow("eliminated") << "Jugend"
                                << "EL"
                                << "";
    QTest::newRow("class without a winner yet") << "Bambini"
                                                << "50,00"
                                                << "";
}

// Rows as the protocol has them after a ranking: place 1 of each class is the winner.
void TestProtocolLogic::gapToClassLeader()
{
    QFETCH(QString, className);
    QFETCH(QString, total);
    QFETCH(QString, gap);
    const auto row = [](const QString& klasse, const QString& gesamt, const QString& platz) {
        QStringList cells(ProtocolColumnCount);
        cells[ColKlasse] = klasse;
        cells[ColGesamt] = gesamt;
        cells[ColPlatz] = platz;
        return cells;
    };
    const QList<QStringList> rows{row("Senioren", "60,00", "1"), row("Jugend", "62,50", "2"),
                                  row("JUGEND", "61,25", " 1"), row("Bambini", "", "")};
    QCOMPARE(GapToClassLeader(rows, className, total), gap);
}

void TestProtocolLogic::lanePositionsForNextRun_data()
{
    QTest::addColumn<QStringList>("runs"); // each starter's run columns, "|"-separated
    QTest::addColumn<int>("lanes");
    QTest::addColumn<int>("lane1");
    QTest::addColumn<int>("lane2");
    QTest::newRow("a new list starts at the top") << QStringList{"", "", "", ""} << 2 << 0 << 1;
    QTest::newRow("four of six timed in run 2")
        << QStringList{"9,00|9,10", "9,00|9,20", "9,00|9,30", "9,00|9,40", "9,00|", "9,00|"} << 2 << 4 << 5;
    QTest::newRow("a gap earlier in the list comes first")
        << QStringList{"9,00|9,10", "9,00|", "9,00|9,30", "9,00|"} << 2 << 1 << 3;
    QTest::newRow("an EL counts as a run") << QStringList{"EL|", "|", "9,00|", "|"} << 2 << 1 << 3;
    QTest::newRow("one lane") << QStringList{"9,00", "9,00", ""} << 1 << 2 << -1;
    QTest::newRow("the last starter alone: lane 2 has none")
        << QStringList{"9,00", "9,00", ""} << 2 << 2 << -1;
    QTest::newRow("every run full: from the top") << QStringList{"1|1|1|1|1|1", "1|1|1|1|1|1"} << 2 << 0 << 1;
    QTest::newRow("no starters") << QStringList{} << 2 << -1 << -1;
}

void TestProtocolLogic::lanePositionsForNextRun()
{
    QFETCH(QStringList, runs);
    QFETCH(int, lanes);
    QFETCH(int, lane1);
    QFETCH(int, lane2);
    QList<QStringList> rows;
    for (const QString& starter : runs) {
        QStringList cells(ProtocolColumnCount);
        const QStringList times = starter.split(u'|');
        for (int i = 0; i < times.size(); ++i)
            cells[ColLauf1 + i] = times.at(i);
        rows.append(cells);
    }
    QCOMPARE(LanePositionsForNextRun(rows, lanes), (std::array<int, 2>{lane1, lane2}));
}

void TestProtocolLogic::startNumberOfEntry_data()
{
    QTest::addColumn<QString>("entry");
    QTest::addColumn<std::optional<int>>("number");

    QTest::newRow("number and name") << "12 Muster Max Verein" << std::optional<int>(12);
    QTest::newRow("leading zero reads as the int") << "012 x" << std::optional<int>(12);
    QTest::newRow("only a name") << "Muster" << std::optional<int>();
    QTest::newRow("name first") << "Muster 12" << std::optional<int>();
    QTest::newRow("number without blank") << "12" << std::optional<int>();
    QTest::newRow("empty") << "" << std::optional<int>();
    QTest::newRow("leading blank") << " 12 Muster" << std::optional<int>();
    QTest::newRow("number too large") << "99999999999 Muster" << std::optional<int>();
    QTest::newRow("empty fields after number") << "5   " << std::optional<int>(5);
}

void TestProtocolLogic::startNumberOfEntry()
{
    QFETCH(QString, entry);
    QFETCH(std::optional<int>, number);
    QCOMPARE(StartNumberOfEntry(entry), number);
}

void TestProtocolLogic::firstEmptyRunColumn_data()
{
    QTest::addColumn<QStringList>("runs");
    QTest::addColumn<int>("column");

    QTest::newRow("all empty") << QStringList{} << ColLauf1;
    QTest::newRow("two filled") << QStringList{"1,00", "2,00"} << ColLauf3;
    QTest::newRow("gap is used") << QStringList{"1,00", "", "3,00"} << ColLauf2;
    QTest::newRow("EL counts as filled") << QStringList{"EL", "EL"} << ColLauf3;
    QTest::newRow("blank counts as filled") << QStringList{" ", "1,00"} << ColLauf3;
    QTest::newRow("five filled") << QStringList{"1", "2", "3", "4", "5"} << ColLauf6;
    QTest::newRow("six filled") << QStringList{"1", "2", "3", "4", "5", "6"} << -1;
}

void TestProtocolLogic::firstEmptyRunColumn()
{
    QFETCH(QStringList, runs);
    QFETCH(int, column);
    QStringList row = RowWithRuns(runs);
    row[ColGesamt].clear();
    QCOMPARE(FirstEmptyRunColumn(row), column);
}

void TestProtocolLogic::laneDisplay_data()
{
    QTest::addColumn<int>("ms");
    QTest::addColumn<QList<int>>("values");
    QTest::addColumn<int>("dimDigits");

    QTest::newRow("7,25") << 7250 << QList<int>{0, 0, 7, 2, 5} << 2;
    QTest::newRow("zero") << 0 << QList<int>{0, 0, 0, 0, 0} << 2;
    QTest::newRow("truncated hundredths") << 12349 << QList<int>{0, 1, 2, 3, 4} << 1;
    QTest::newRow("9,99 still dim") << 9999 << QList<int>{0, 0, 9, 9, 9} << 2;
    QTest::newRow("10 s lights second digit") << 10000 << QList<int>{0, 1, 0, 0, 0} << 1;
    QTest::newRow("100 s lights all") << 100000 << QList<int>{1, 0, 0, 0, 0} << 0;
    QTest::newRow("999,99") << 999999 << QList<int>{9, 9, 9, 9, 9} << 0;
    QTest::newRow("1234,56 in whole seconds") << 1234560 << QList<int>{0, 1, 2, 3, 4} << 1;
    QTest::newRow("beyond 99999 s stays there") << 200000000 << QList<int>{9, 9, 9, 9, 9} << 0;
    QTest::newRow("negative shows zero") << -5000 << QList<int>{0, 0, 0, 0, 0} << 2;
}

void TestProtocolLogic::laneDisplay()
{
    QFETCH(int, ms);
    QFETCH(QList<int>, values);
    QFETCH(int, dimDigits);
    const LaneDigits digits = LaneDisplay(ms);
    QCOMPARE(digits.wholeSeconds, ms >= 1000000);
    for (int i = 0; i < 5; ++i) {
        QCOMPARE(digits.values[i], values.at(i));
        QCOMPARE(digits.onColors[i], i < dimDigits ? RGBColor(64, 64, 64) : RGBColor(255, 255, 0));
    }
}

void TestProtocolLogic::nextLanePosition_data()
{
    QTest::addColumn<int>("lane");
    QTest::addColumn<int>("position");
    QTest::addColumn<int>("laneCount");
    QTest::addColumn<int>("entryCount");
    QTest::addColumn<int>("next");

    QTest::newRow("lane 1 two lanes") << 1 << 0 << 2 << 5 << 2;
    QTest::newRow("lane 1 two lanes wraps") << 1 << 4 << 2 << 5 << 0;
    QTest::newRow("lane 1 wraps at the last pair") << 1 << 3 << 2 << 5 << 0;
    QTest::newRow("lane 2 steps two") << 2 << 1 << 2 << 5 << 3;
    QTest::newRow("lane 2 wraps to 1") << 2 << 3 << 2 << 5 << 1;
    QTest::newRow("lane 2 wraps to 1 from the end") << 2 << 4 << 2 << 5 << 1;
    QTest::newRow("one lane steps one") << 1 << 3 << 1 << 5 << 4;
    QTest::newRow("one lane wraps") << 1 << 4 << 1 << 5 << 0;
    QTest::newRow("one lane single entry") << 1 << 0 << 1 << 1 << 0;
    QTest::newRow("no selection lane 1") << 1 << -1 << 2 << 5 << 1;
    QTest::newRow("no selection one lane") << 1 << -1 << 1 << 5 << 0;
    QTest::newRow("no selection lane 2") << 2 << -1 << 2 << 5 << 1;
    QTest::newRow("empty list lane 1") << 1 << -1 << 2 << 0 << -1;
    QTest::newRow("empty list lane 2") << 2 << 0 << 2 << 0 << -1;
    QTest::newRow("lane 2 single entry") << 2 << 0 << 2 << 1 << -1;
    QTest::newRow("lane 2 single entry, no selection") << 2 << -1 << 2 << 1 << -1;
    QTest::newRow("lane 1 two lanes single entry") << 1 << 0 << 2 << 1 << 0;
    QTest::newRow("stale position past the end") << 1 << 9 << 1 << 5 << 0;
    QTest::newRow("unknown lane unchanged") << 3 << 2 << 2 << 5 << 2;
}

void TestProtocolLogic::nextLanePosition()
{
    QFETCH(int, lane);
    QFETCH(int, position);
    QFETCH(int, laneCount);
    QFETCH(int, entryCount);
    QFETCH(int, next);
    QCOMPARE(NextLanePosition(lane, position, laneCount, entryCount), next);
}

void TestProtocolLogic::advanceWalksThroughPairs()
{
    // Entries A..E, lanes on A and B: C/D, E/B, A/D, C/B, E/D.
    const LanePositions expected{{2, 3}, {4, 1}, {0, 3}, {2, 1}, {4, 3}};
    std::pair<int, int> lanes{0, 1};
    for (const auto& pair : expected) {
        lanes = {NextLanePosition(1, lanes.first, 2, 5), NextLanePosition(2, lanes.second, 2, 5)};
        QCOMPARE(lanes, pair);
    }

    int single = 0;
    QList<int> walk;
    for (int i = 0; i < 6; ++i) {
        single = NextLanePosition(1, single, 1, 5);
        walk.append(single);
    }
    QCOMPARE(walk, (QList<int>{1, 2, 3, 4, 0, 1}));
}

void TestProtocolLogic::cellBackground_data()
{
    QTest::addColumn<int>("col");
    QTest::addColumn<int>("probeLaufe");
    QTest::addColumn<TColor>("color");

    const TColor white = RGBColor(255, 255, 255);
    const TColor yellow = RGBColor(255, 255, 224);
    const TColor green = RGBColor(224, 255, 224);
    const TColor red = RGBColor(255, 224, 224);
    QTest::newRow("Nr.") << ColNr << 2 << white;
    QTest::newRow("Klasse") << ColKlasse << 2 << white;
    QTest::newRow("Lauf1 test run") << ColLauf1 << 2 << yellow;
    QTest::newRow("Lauf2 test run") << ColLauf2 << 2 << yellow;
    QTest::newRow("Lauf3 counted") << ColLauf3 << 2 << green;
    QTest::newRow("Lauf6 counted") << ColLauf6 << 2 << green;
    QTest::newRow("Lauf1 without test runs") << ColLauf1 << 0 << green;
    QTest::newRow("Lauf5 with five test runs") << ColLauf5 << 5 << yellow;
    QTest::newRow("Lauf6 with five test runs") << ColLauf6 << 5 << green;
    QTest::newRow("Gesamt") << ColGesamt << 2 << red;
    QTest::newRow("Platz") << ColPlatz << 2 << red;
    QTest::newRow("load order") << ColLoadOrder << 2 << red;
    QTest::newRow("outside") << ProtocolColumnCount << 2 << clWindow;
}

void TestProtocolLogic::cellBackground()
{
    QFETCH(int, col);
    QFETCH(int, probeLaufe);
    QFETCH(TColor, color);
    QCOMPARE(ProtocolCellBackground(col, probeLaufe), color);
}

void TestProtocolLogic::cellAlignment_data()
{
    QTest::addColumn<int>("col");
    QTest::addColumn<int>("alignment");

    QTest::newRow("Nr.") << ColNr << int(taRightJustify);
    QTest::newRow("Name") << ColName << int(taLeftJustify);
    QTest::newRow("Verein") << ColVerein << int(taLeftJustify);
    QTest::newRow("Klasse") << ColKlasse << int(taCenter);
    QTest::newRow("Lauf1") << ColLauf1 << int(taRightJustify);
    QTest::newRow("Gesamt") << ColGesamt << int(taRightJustify);
    QTest::newRow("Platz") << ColPlatz << int(taRightJustify);
    QTest::newRow("load order") << ColLoadOrder << int(taLeftJustify);
}

void TestProtocolLogic::cellAlignment()
{
    QFETCH(int, col);
    QFETCH(int, alignment);
    QCOMPARE(int(ProtocolCellAlignment(col)), alignment);
}

QTEST_GUILESS_MAIN(TestProtocolLogic)
#include "tst_protocollogic.moc"
