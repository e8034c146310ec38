#include "SerialPorts.h"

#include <QtTest>

#include <set>

namespace {

class ListedPorts : public IPortProbe
{
public:
    explicit ListedPorts(std::set<int> present) : present(std::move(present)) {}
    bool IsPresent(int comNumber) const override
    {
        asked.insert(comNumber);
        return present.count(comNumber) > 0;
    }

    std::set<int> present;
    mutable std::set<int> asked;
};

} // namespace

class TestSerialPorts : public QObject
{
    Q_OBJECT

private slots:
    void portsFound_data();
    void portsFound();
    void scanAsksEveryPortOnce();
    void portDeviceName_data();
    void portDeviceName();
};

void TestSerialPorts::portsFound_data()
{
    QTest::addColumn<QList<int>>("present");
    QTest::addColumn<quint32>("expected");
    QTest::newRow("none") << QList<int>{} << quint32(0);
    QTest::newRow("COM1 and COM3") << QList<int>{1, 3} << quint32(0x00030005);
    QTest::newRow("COM3 and COM1, unordered") << QList<int>{3, 1} << quint32(0x00030005);
    QTest::newRow("COM1 alone") << QList<int>{1} << quint32(0x00010001);
    QTest::newRow("COM16 alone") << QList<int>{16} << quint32(0x00108000);
    QTest::newRow("COM5 and COM13") << QList<int>{5, 13} << quint32(0x000D1010);
    QTest::newRow("all sixteen") << QList<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}
                                 << quint32(0x0010FFFF);
    QTest::newRow("outside 1..16 ignored") << QList<int>{0, 17, -1, 2} << quint32(0x00020002);
}

void TestSerialPorts::portsFound()
{
    QFETCH(QList<int>, present);
    QFETCH(quint32, expected);
    QCOMPARE(ComputePortsFound(present), expected);

    ListedPorts probe({present.begin(), present.end()});
    QCOMPARE(ScanPorts(probe), expected);
}

void TestSerialPorts::scanAsksEveryPortOnce()
{
    ListedPorts probe({2, 9});
    QCOMPARE(ScanPorts(probe), quint32(0x00090102));
    QCOMPARE(probe.asked, (std::set<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}));
}

void TestSerialPorts::portDeviceName_data()
{
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("device");
    QTest::newRow("COM1") << 1 << "/dev/ttyS0";
    QTest::newRow("COM4") << 4 << "/dev/ttyS3";
    QTest::newRow("COM5") << 5 << "/dev/ttyUSB0";
    QTest::newRow("COM12") << 12 << "/dev/ttyUSB7";
    QTest::newRow("COM13") << 13 << "/dev/ttyACM0";
    QTest::newRow("COM16") << 16 << "/dev/ttyACM3";
    QTest::newRow("none") << 0 << "";
    QTest::newRow("COM17") << 17 << "";
}

void TestSerialPorts::portDeviceName()
{
    QFETCH(int, port);
    QFETCH(QString, device);
    QCOMPARE(PortDeviceName(port), device);
}

QTEST_MAIN(TestSerialPorts)
#include "tst_serialports.moc"
