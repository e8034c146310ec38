#include "BarrierLine.h"
#include "SerialDevice.h"

#include <QtTest>

// The edge rule of one barrier line, with the repeat filter that drops an
// event whose whole status word equals the recorded one.
class TestBarrierLine : public QObject
{
    Q_OBJECT

private slots:
    void firesOnTheChosenEdgeOnly_data();
    void firesOnTheChosenEdgeOnly();
};

void TestBarrierLine::firesOnTheChosenEdgeOnly_data()
{
    QTest::addColumn<int>("edge");
    QTest::addColumn<QList<quint32>>("statuses"); // DSR line: bit 0x20
    QTest::addColumn<QString>("fired");           // one digit per status

    QTest::newRow("ON: the contact closes") << 0 << QList<quint32>{0x20, 0, 0x20} << "101";
    QTest::newRow("OFF: the contact opens") << 1 << QList<quint32>{0x20, 0, 0x20} << "010";
    QTest::newRow("ON: a repeated word is dropped") << 0 << QList<quint32>{0x20, 0x20} << "10";
    QTest::newRow("OFF: a repeated word is dropped") << 1 << QList<quint32>{0, 0} << "10";
    QTest::newRow("another line on: the word differs and is evaluated again")
        << 0 << QList<quint32>{0x20, 0x30} << "11";
    QTest::newRow("first event of a line low is evaluated") << 1 << QList<quint32>{0} << "1";
    QTest::newRow("a setting other than ON and OFF is inert") << 2 << QList<quint32>{0x20, 0, 0x20} << "000";
}

void TestBarrierLine::firesOnTheChosenEdgeOnly()
{
    QFETCH(int, edge);
    QFETCH(QList<quint32>, statuses);
    QFETCH(QString, fired);

    TBarrierLine line(MS_DSR_ON, kLastDsrStart);
    QString seen;
    for (const quint32 status : statuses)
        seen += line.Evaluate(status, edge) ? '1' : '0';
    QCOMPARE(seen, fired);
    QCOMPARE(line.Recorded(), statuses.last() & MS_DSR_ON);
}

QTEST_MAIN(TestBarrierLine)
#include "tst_barrierline.moc"
