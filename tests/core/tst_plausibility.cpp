#include "Plausibility.h"

#include <QTest>

Q_DECLARE_METATYPE(TimeDoubt)

class TestPlausibility : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void checkRunTime_data()
    {
        QTest::addColumn<int>("time");
        QTest::addColumn<int>("minimum");
        QTest::addColumn<QList<int>>("others");
        QTest::addColumn<TimeDoubt>("doubt");

        const QList<int> five = {3000, 3100, 3200, 3300, 3400}; // median 32,00
        QTest::newRow("minimum off, bounce alone") << 12 << 0 << QList<int>{} << TimeDoubt::None;
        QTest::newRow("below the minimum") << 12 << 500 << QList<int>{} << TimeDoubt::BelowMinimum;
        QTest::newRow("exactly the minimum") << 500 << 500 << QList<int>{} << TimeDoubt::None;
        QTest::newRow("minimum wins over the field") << 400 << 500 << five << TimeDoubt::BelowMinimum;
        QTest::newRow("four others are no field yet")
            << 12 << 0 << QList<int>{3000, 3100, 3200, 3300} << TimeDoubt::None;
        QTest::newRow("bounce against five") << 12 << 0 << five << TimeDoubt::OutOfLine;
        QTest::newRow("half the median is still in line") << 1600 << 0 << five << TimeDoubt::None;
        QTest::newRow("just below half") << 1599 << 0 << five << TimeDoubt::OutOfLine;
        QTest::newRow("twice the median is still in line") << 6400 << 0 << five << TimeDoubt::None;
        QTest::newRow("just above twice") << 6401 << 0 << five << TimeDoubt::OutOfLine;
        QTest::newRow("all lanes at 9,999")
            << 999 << 0 << QList<int>{2500, 2600, 2700, 2800, 2900, 3000} << TimeDoubt::OutOfLine;
        // Even count: the median lies between the middle two (30,00 and 40,00 give 35,00).
        QTest::newRow("even count, in line")
            << 1750 << 0 << QList<int>{1000, 2000, 3000, 4000, 5000, 6000} << TimeDoubt::None;
        QTest::newRow("even count, out of line")
            << 1749 << 0 << QList<int>{1000, 2000, 3000, 4000, 5000, 6000} << TimeDoubt::OutOfLine;
        QTest::newRow("order of the others does not matter")
            << 12 << 0 << QList<int>{3400, 3000, 3300, 3100, 3200} << TimeDoubt::OutOfLine;
        QTest::newRow("an outlier among the others does not move the median")
            << 3000 << 0 << QList<int>{12, 3000, 3100, 3200, 99999} << TimeDoubt::None;
    }

    void checkRunTime()
    {
        QFETCH(int, time);
        QFETCH(int, minimum);
        QFETCH(QList<int>, others);
        QFETCH(TimeDoubt, doubt);
        QCOMPARE(CheckRunTime(time, minimum, others), doubt);
    }
};

QTEST_GUILESS_MAIN(TestPlausibility)
#include "tst_plausibility.moc"
