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
    void updatesReportWhatChanged_data();
    void updatesReportWhatChanged();
    void anEditInPlaceReportsItsRow();
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
    QVERIFY(model.UpdateRow(Rows("2;Beispiel;Eva;TV;A;;;;;;9,99;;;2").first()));
    QCOMPARE(seen.Take(), QString("run 2:6, row 2"));
    QCOMPARE(model.Cell("2", ColLauf6), QString("9,99"));
    QCOMPARE(model.IndexOf("2"), 1);
    QVERIFY(!model.UpdateRow(Rows("3;Neu;;;;;;;;;;;;3").first()));
    QCOMPARE(seen.Take(), QString());
    QCOMPARE(model.RowCount(), 2);
}

QTEST_GUILESS_MAIN(TestResultsModel)
#include "tst_resultsmodel.moc"
