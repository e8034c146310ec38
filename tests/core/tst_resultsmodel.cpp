#include "ProtocolLogic.h"
#include "ResultsModel.h"

#include <QSignalSpy>
#include <QtTest>

namespace {

// Rows as "Nr;Name;Vorname;Verein;Klasse;Lauf1;...;Lauf6;Gesamt;Platz;load order",
// separated by "|".
ProtocolTable Rows(const QString& text)
{
    ProtocolTable rows;
    for (const QString& row : text.split(QLatin1Char('|'), Qt::SkipEmptyParts))
        rows.append(row.split(QLatin1Char(';')));
    return rows;
}

// Everything the model reported, in order: "+key", "-key", "run key:n", "row key".
class Events
{
public:
    explicit Events(TResultsModel& model)
    {
        QObject::connect(&model, &TResultsModel::RowAdded, [this](const QString& k) { m_seen << "+" + k; });
        QObject::connect(&model, &TResultsModel::RowRemoved, [this](const QString& k) { m_seen << "-" + k; });
        QObject::connect(&model, &TResultsModel::RowChanged,
                         [this](const QString& k) { m_seen << "row " + k; });
        QObject::connect(&model, &TResultsModel::RunChanged, [this](const QString& k, int run) {
            m_seen << QStringLiteral("run %1:%2").arg(k).arg(run);
        });
    }
    QString Take() { return std::exchange(m_seen, {}).join(QLatin1String(", ")); }

private:
    QStringList m_seen;
};

const QString A1 = "1;Muster;Max;SV;A;;;;;;;;;1";
const QString B2 = "2;Beispiel;Eva;TV;A;;;;;;;;;2";

} // namespace

class TestResultsModel : public QObject
{
    Q_OBJECT

private slots:
    // Times are written as a German operator types them.
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany)); }
    void updatesReportWhatChanged_data();
    void updatesReportWhatChanged();
    void anEditInPlaceReportsItsRow();
    void writesAndRankingGoThroughTheModel_data();
    void writesAndRankingGoThroughTheModel();
    void unconfirmedRunsAreReportedWhenTheyChange();
};

void TestResultsModel::updatesReportWhatChanged_data()
{
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("after");
    QTest::addColumn<QString>("events");

    QTest::newRow("a list is loaded") << "" << A1 + "|" + B2 << "+1, +2";
    QTest::newRow("the same rows again: nothing") << A1 + "|" + B2 << A1 + "|" + B2 << "";
    QTest::newRow("sorted the other way round: nothing") << A1 + "|" + B2 << B2 + "|" + A1 << "";
    QTest::newRow("a time lands in run 3")
        << A1 + "|" + B2 << A1 + "|2;Beispiel;Eva;TV;A;1,00;2,00;7,25;;;;;;2"
        << "run 2:1, run 2:2, run 2:3, row 2";
    QTest::newRow("a time is eliminated") << "1;Muster;Max;SV;A;;;7,25;;;;7,25;1;1"
                                          << "1;Muster;Max;SV;A;;;EL;;;;EL;;1"
                                          << "run 1:3, row 1";
    QTest::newRow("only total and place: the row, no run") << A1 << "1;Muster;Max;SV;A;;;;;;;21,50;1;1"
                                                           << "row 1";
    QTest::newRow("a name is edited") << A1 << "1;Mustermann;Max;SV;A;;;;;;;;;1"
                                      << "row 1";
    QTest::newRow("a row is deleted") << A1 + "|" + B2 << B2 << "-1";
    QTest::newRow("the protocol is cleared: the empty row is no starter") << A1 + "|" + B2 << ";;;;;;;;;;;;;"
                                                                          << "-1, -2";
    QTest::newRow("short rows count as empty cells") << "1;Muster|2"
                                                     << "1;Muster;;;;;;;;;;;;1"
                                                     << "+1";
}

void TestResultsModel::updatesReportWhatChanged()
{
    QFETCH(QString, before);
    QFETCH(QString, after);
    QFETCH(QString, events);

    TResultsModel model;
    model.Update(Rows(before));
    Events seen(model);
    model.Update(Rows(after));
    QCOMPARE(seen.Take(), events);
    const ProtocolTable expected = Rows(after);
    int starters = 0;
    for (const QStringList& row : expected) {
        const QString key = row.value(ColLoadOrder);
        if (key.isEmpty())
            continue;
        ++starters;
        QCOMPARE(model.Cell(key, ColName), row.value(ColName));
        QCOMPARE(model.Row(model.IndexOf(key)).size(), ProtocolColumnCount);
    }
    QCOMPARE(model.RowCount(), starters);
}

void TestResultsModel::anEditInPlaceReportsItsRow()
{
    TResultsModel model;
    model.Update(Rows(A1 + "|" + B2));
    Events seen(model);
    QVERIFY(model.SetCell("2", ColLauf6, "9,99"));
    QCOMPARE(seen.Take(), QString("run 2:6, row 2"));
    QCOMPARE(model.Cell("2", ColLauf6), QString("9,99"));
    QCOMPARE(model.IndexOf("2"), 1);
    QVERIFY(model.SetCell("2", ColLauf6, "9,99")); // the same value: nothing to report
    QVERIFY(!model.SetCell("3", ColName, "Neu"));
    QVERIFY(!model.SetCell("2", ColLoadOrder, "7")); // a starter's identity is not edited
    QVERIFY(!model.SetCell("2", ProtocolColumnCount, "x"));
    QCOMPARE(seen.Take(), QString());
    QCOMPARE(model.RowCount(), 2);
}

// Steps separated by " / ": "set key col text", "remove key", "order k1,k2,...",
// "totals probe all", "places", "doubt key run" (the one unconfirmed run). The result: every row as
// "key:Gesamt:Platz" in the model's order.
void TestResultsModel::writesAndRankingGoThroughTheModel_data()
{
    QTest::addColumn<QString>("rows");
    QTest::addColumn<QString>("steps");
    QTest::addColumn<QString>("result");
    QTest::addColumn<QString>("events");

    const QString three = "1;Muster;Max;SV;A;30,00;31,00;;;;;;;1|2;Beispiel;Eva;TV;B;29,00;29,50;;;;;;;2|"
                          "3;Probe;Paul;SV;A;30,50;30,50;;;;;;;3";
    QTest::newRow("totals without test run, places in class order")
        << three << "totals 0 6 / order 1,3,2 / places"
        << "1:61,00:1 3:61,00:1 2:58,50:1"
        << "row 1, row 2, row 3, row 1, row 3, row 2";
    QTest::newRow("a test run doesn't count") << three << "totals 1 6 / order 3,1,2 / places"
                                              << "3:30,50:1 1:31,00:2 2:29,50:1"
                                              << "row 1, row 2, row 3, row 3, row 1, row 2";
    QTest::newRow("an elimination: no place") << three << "set 3 3 EL / totals 0 6 / order 1,3,2 / places"
                                              << "1:61,00:1 3:EL: 2:58,50:1"
                                              << "run 3:3, row 3, row 1, row 2, row 3, row 1, row 2";
    QTest::newRow("an unconfirmed counted time shows but takes no place")
        << three << "doubt 3 2 / totals 1 6 / order 3,1,2 / places"
        << "3:30,50: 1:31,00:1 2:29,50:1"
        << "run 3:2, row 1, row 2, row 3, row 1, row 2";
    QTest::newRow("an unconfirmed test run still ranks")
        << three << "doubt 3 1 / totals 1 6 / order 3,1,2 / places"
        << "3:30,50:1 1:31,00:2 2:29,50:1"
        << "run 3:1, row 1, row 2, row 3, row 3, row 1, row 2";
    QTest::newRow("a deleted starter leaves the ranking")
        << three << "remove 1 / totals 0 6 / order 3,2 / places"
        << "3:61,00:1 2:58,50:1"
        << "-1, row 2, row 3, row 3, row 2";
    QTest::newRow("the order alone reports nothing") << three << "order 3,2,1"
                                                     << "3:: 2:: 1::"
                                                     << "";
    QTest::newRow("unknown keys in an order are skipped, unnamed rows stay behind") << three << "order 9,2"
                                                                                    << "2:: 1:: 3::"
                                                                                    << "";
}

void TestResultsModel::writesAndRankingGoThroughTheModel()
{
    QFETCH(QString, rows);
    QFETCH(QString, steps);
    QFETCH(QString, result);
    QFETCH(QString, events);

    TResultsModel model;
    model.Update(Rows(rows));
    Events seen(model);
    for (const QString& step : steps.split(" / ")) {
        const QStringList word = step.split(' ');
        if (word.at(0) == "set")
            QVERIFY(model.SetCell(word.at(1), ColLauf1 + word.at(2).toInt() - 1, word.at(3)));
        else if (word.at(0) == "remove")
            QVERIFY(model.RemoveRow(word.at(1)));
        else if (word.at(0) == "order")
            model.Reorder(word.at(1).split(','));
        else if (word.at(0) == "totals")
            model.ComputeTotals(word.at(1).toInt(), word.at(2).toInt());
        else if (word.at(0) == "places")
            model.ComputePlacesInOrder();
        else if (word.at(0) == "doubt")
            model.SetUnconfirmed({{word.at(1), word.at(2).toInt()}});
        else
            QFAIL(qPrintable("unknown step " + step));
    }
    QStringList shown;
    for (int index = 0; index < model.RowCount(); ++index) {
        const QStringList& row = model.Row(index);
        shown << row.at(ColLoadOrder) + ":" + row.at(ColGesamt) + ":" + row.at(ColPlatz);
        QCOMPARE(model.IndexOf(row.at(ColLoadOrder)), index);
    }
    QCOMPARE(shown.join(' '), result);
    QCOMPARE(seen.Take(), events);
    // What the files write: the header, then the rows in the same order.
    const ProtocolTable table = model.Table();
    QCOMPARE(table.size(), model.RowCount() + 1);
    QCOMPARE(table.first(), ProtocolHeaders());
}

void TestResultsModel::unconfirmedRunsAreReportedWhenTheyChange()
{
    TResultsModel model;
    model.Update(Rows(A1 + "|" + B2));
    Events seen(model);
    model.SetUnconfirmed({{"1", 3}});
    QCOMPARE(seen.Take(), QString("run 1:3"));
    QVERIFY(model.Unconfirmed("1", 3));
    QVERIFY(!model.Unconfirmed("1", 2));
    QVERIFY(!model.Unconfirmed("2", 3));
    model.SetUnconfirmed({{"1", 3}}); // nothing new
    QCOMPARE(seen.Take(), QString());
    model.SetUnconfirmed({{"2", 3}}); // confirmed, another doubtful
    QCOMPARE(seen.Take(), QString("run 1:3, run 2:3"));
    model.SetUnconfirmed({});
    QCOMPARE(seen.Take(), QString("run 2:3"));
    QVERIFY(!model.Unconfirmed("2", 3));

    // One mark at a time, in the order they came; only for a starter in the protocol.
    QVERIFY(model.MarkUnconfirmed("2", 4));
    QVERIFY(model.MarkUnconfirmed("1", 3));
    QVERIFY(!model.MarkUnconfirmed("1", 3));
    QVERIFY(!model.MarkUnconfirmed("9", 3));
    QCOMPARE(seen.Take(), QString("run 2:4, run 1:3"));
    QCOMPARE(model.UnconfirmedRuns(), (QList<std::pair<QString, int>>{{"2", 4}, {"1", 3}}));
    // A mark goes with its starter's row, whether taken out or left out of a new protocol.
    QVERIFY(model.RemoveRow("2"));
    QCOMPARE(model.UnconfirmedRuns(), (QList<std::pair<QString, int>>{{"1", 3}}));
    model.Update(Rows(B2));
    QVERIFY(model.UnconfirmedRuns().isEmpty());
    seen.Take();
    QVERIFY(!model.ClearUnconfirmed("1", 3));
    QCOMPARE(seen.Take(), QString());
}

QTEST_GUILESS_MAIN(TestResultsModel)
#include "tst_resultsmodel.moc"
