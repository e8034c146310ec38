#include "ProtocolLogic.h"
#include "ResultsList.h"

#include <QtTest>

namespace {

// Rows as "Nr;Name;Vorname;Verein;Klasse;Lauf1;...;Lauf6;Gesamt;Platz;load order",
// separated by "|", under the protocol's header row.
ProtocolTable Table(const QString& text)
{
    ProtocolTable rows{ProtocolHeaders()};
    for (const QString& row : text.split(u'|', Qt::SkipEmptyParts))
        rows.append(row.trimmed().split(u';'));
    return rows;
}

// One test run (Lauf1), two counted runs. Junior: a tie on place 2, a 4th
// listed before the winner, an EL and one without any time; Bambini: starters
// but no times yet; a leftover place beside an EL total is no place.
const QString kRace = "4;Dach;Dora;TV;Junior;32,00;26,00;26,10;;;;52,10;4;1|"
                      "9;Chur;Carl;SV;Junior;29,00;25,30;25,20;;;;50,50;2;2|"
                      "7;Adler;Anna;SC;Junior;30,00;25,10;25,20;;;;50,30;1;3|"
                      "3;Berg;Bert;SV;Junior;31,00;25,50;25,00;;;;50,50;2;4|"
                      "5;Eck;Emil;TV;Junior;30,50;26,00;EL;;;;EL;5;5|"
                      "6;Frosch;Fritz;TV;Junior;;;;;;;;;6|"
                      "11;Gold;Gabi;SC; Senior ;;24,00;24,00;;;;48,00;1;7|"
                      "21;Igel;Ida;SV;Bambini;;;;;;;;;8|"
                      "12;Hut;Hans;SC;senior;;24,50;24,50;;;;49,00;2;9|"
                      "22;Jung;Jan;SV;Bambini;;;;;;;;;10|"
                      ";;;;;;;;;;;;;";

// A class block as "Nr:place" in the list's order, 0 for no ranking.
QString Block(const ResultsClass& block)
{
    QStringList out;
    for (const ResultsEntry& entry : block.Entries)
        out.append(QStringLiteral("%1:%2").arg(entry.Nr).arg(entry.Place));
    return out.join(u' ');
}

} // namespace

class TestResultsList : public QObject
{
    Q_OBJECT

private slots:
    void classesByPlace_data();
    void classesByPlace();
    void onlyRunsWithEntriesAreShown_data();
    void onlyRunsWithEntriesAreShown();
    void pagination_data();
    void pagination();
    void certificates_data();
    void certificates();
    void headlines_data();
    void headlines();
};

void TestResultsList::classesByPlace_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("order");
    QTest::newRow("ties share a place, EL and no time come last") << 0 << "Junior"
                                                                  << "7:1 9:2 3:2 4:4 5:0 6:0";
    QTest::newRow("a class first met later comes later, trimmed, however written") << 1 << "Senior"
                                                                        << "11:1 12:2";
    QTest::newRow("a class without times has nobody ranked") << 2 << "Bambini"
                                                             << "21:0 22:0";
}

void TestResultsList::classesByPlace()
{
    QFETCH(int, index);
    QFETCH(QString, name);
    QFETCH(QString, order);
    const ResultsList list = BuildResultsList(Table(kRace), 1, QStringLiteral(" Seifenkistenrennen "), {});
    QCOMPARE(list.Classes.size(), 3);
    QCOMPARE(list.StarterCount(), 10); // the empty row is no starter
    QCOMPARE(list.Title, QStringLiteral("Seifenkistenrennen"));
    QCOMPARE(list.Classes[index].Name, name);
    QCOMPARE(Block(list.Classes[index]), order);
}

void TestResultsList::onlyRunsWithEntriesAreShown_data()
{
    QTest::addColumn<int>("probeLaufe");
    QTest::addColumn<QStringList>("headers");
    QTest::newRow("one test run") << 1 << QStringList{"Nr.",    "Name",   "Verein", "Probelauf 1",
                                                      "Lauf 1", "Lauf 2", "Gesamt", "Platz"};
    QTest::newRow("no test run") << 0 << QStringList{"Nr.",    "Name",   "Verein", "Lauf 1",
                                                     "Lauf 2", "Lauf 3", "Gesamt", "Platz"};
    QTest::newRow("two test runs") << 2 << QStringList{"Nr.",         "Name",   "Verein", "Probelauf 1",
                                                       "Probelauf 2", "Lauf 1", "Gesamt", "Platz"};
}

void TestResultsList::onlyRunsWithEntriesAreShown()
{
    QFETCH(int, probeLaufe);
    QFETCH(QStringList, headers);
    const ResultsList list = BuildResultsList(Table(kRace), probeLaufe, {}, {});
    QCOMPARE(list.RunColumns, (QList<int>{0, 1, 2}));
    QCOMPARE(ResultsHeaders(list), headers);
    // The starter with an EL and the one without times.
    QCOMPARE(ResultsCells(list.Classes[0].Entries[4]),
             (QStringList{"5", "Emil Eck", "TV", "30,50", "26,00", "EL", "EL", "ohne Wertung"}));
    QCOMPARE(ResultsCells(list.Classes[0].Entries[0]).last(), QStringLiteral("1."));
}

void TestResultsList::pagination_data()
{
    // Heading 3 units, rows 1 unit, gap 1 unit, 20 units a page.
    QTest::addColumn<QList<int>>("rows");
    QTest::addColumn<QString>("pages");
    QTest::newRow("nothing: one empty page") << QList<int>{} << "";
    QTest::newRow("two classes on one page") << QList<int>{5, 8} << "0[0,5) 1[0,8)";
    QTest::newRow("a class that doesn't fit the rest moves on whole")
        << QList<int>{10, 10, 3} << "0[0,10) | 1[0,10) 2[0,3)";
    QTest::newRow("a class filling a page exactly stays whole") << QList<int>{17} << "0[0,17)";
    QTest::newRow("a long class starts a fresh page and repeats its heading")
        << QList<int>{4, 40, 2} << "0[0,4) | 1[0,17) | 1+[17,34) | 1+[34,40) 2[0,2)";
    QTest::newRow("a class without rows takes its heading") << QList<int>{0, 15} << "0[0,0) | 1[0,15)";
}

void TestResultsList::pagination()
{
    QFETCH(QList<int>, rows);
    QFETCH(QString, pages);
    QStringList out;
    for (const QList<ResultsSlice>& page : PaginateResults(rows, 3, 1, 1, 20)) {
        QStringList slices;
        for (const ResultsSlice& s : page)
            slices.append(QStringLiteral("%1%2[%3,%4)")
                              .arg(s.Block)
                              .arg(s.Continued ? "+" : "")
                              .arg(s.FirstRow)
                              .arg(s.EndRow));
        out.append(slices.join(u' '));
    }
    QCOMPARE(out.join(QStringLiteral(" | ")), pages);
}

void TestResultsList::certificates_data()
{
    QTest::addColumn<bool>("allPlaced");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("places 1 to 3, ties included")
        << false
        << QStringList{"Anna Adler|SC|Junior|1. Platz|50,30", "Carl Chur|SV|Junior|2. Platz|50,50",
                       "Bert Berg|SV|Junior|2. Platz|50,50", "Gabi Gold|SC|Senior|1. Platz|48,00",
                       "Hans Hut|SC|Senior|2. Platz|49,00"};
    QTest::newRow("all placed") << true << QStringList{"Anna Adler|SC|Junior|1. Platz|50,30",
                                                       "Carl Chur|SV|Junior|2. Platz|50,50",
                                                       "Bert Berg|SV|Junior|2. Platz|50,50",
                                                       "Dora Dach|TV|Junior|4. Platz|52,10",
                                                       "Gabi Gold|SC|Senior|1. Platz|48,00",
                                                       "Hans Hut|SC|Senior|2. Platz|49,00"};
}

void TestResultsList::certificates()
{
    QFETCH(bool, allPlaced);
    QFETCH(QStringList, expected);
    const ResultsList list = BuildResultsList(Table(kRace), 1, {}, {});
    QStringList out;
    for (const Certificate& c : BuildCertificates(list, allPlaced))
        out.append(QStringList{c.Name, c.Verein, c.Klasse, c.Place, c.Gesamt}.join(u'|'));
    QCOMPARE(out, expected);
}

void TestResultsList::headlines_data()
{
    QTest::addColumn<QString>("title");
    QTest::addColumn<QDate>("date");
    QTest::addColumn<QString>("headline");
    QTest::addColumn<QString>("subtitle");
    QTest::newRow("event and date") << "Bergrennen" << QDate(2024, 7, 6) << "Bergrennen"
                                    << "Ergebnisliste – 06.07.2024";
    QTest::newRow("no event: said once") << " " << QDate(2024, 7, 6) << "Ergebnisliste"
                                         << "06.07.2024";
    QTest::newRow("no date") << "Bergrennen" << QDate() << "Bergrennen"
                             << "Ergebnisliste";
}

void TestResultsList::headlines()
{
    QFETCH(QString, title);
    QFETCH(QDate, date);
    QFETCH(QString, headline);
    QFETCH(QString, subtitle);
    const ResultsList list = BuildResultsList(Table(kRace), 1, title, date);
    QCOMPARE(ResultsHeadline(list), headline);
    QCOMPARE(ResultsSubtitle(list), subtitle);
}

QTEST_APPLESS_MAIN(TestResultsList)
#include "tst_resultslist.moc"
