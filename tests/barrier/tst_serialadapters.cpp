#include "SerialAdapters.h"
#include "SerialPorts.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

// USB adapter rules over a /dev and /sys tree in a temporary folder.
class TestSerialAdapters : public QObject
{
    Q_OBJECT

private slots:
    void adapterIsFoundByItsName_data();
    void adapterIsFoundByItsName();
    void comNumberOfDevice_data();
    void comNumberOfDevice();
    void driverDecidesTheNotes_data();
    void driverDecidesTheNotes();

private:
    static bool Write(const QString& path, const QByteArray& text)
    {
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        return file.open(QIODevice::WriteOnly) && file.write(text) == text.size();
    }
    static bool Link(const QString& target, const QString& link)
    {
        QDir().mkpath(QFileInfo(link).path());
        return QFile::link(target, link);
    }
};

void TestSerialAdapters::adapterIsFoundByItsName_data()
{
    QTest::addColumn<QString>("adapter");
    QTest::addColumn<QString>("device"); // under dev/, empty: not plugged in
    QTest::newRow("plugged in as ttyUSB1") << "usb-FTDI_FT232R_USB_UART_A10K3XYZ-if00-port0"
                                           << "ttyUSB1";
    QTest::newRow("the other adapter") << "usb-Prolific_Technology_Inc._USB-Serial_Controller-if00-port0"
                                       << "ttyUSB0";
    QTest::newRow("not plugged in") << "usb-FTDI_FT232R_USB_UART_B20XXXXX-if00-port0"
                                    << "";
    QTest::newRow("a path is no adapter name") << "../ttyUSB0"
                                               << "";
    QTest::newRow("no adapter remembered") << ""
                                           << "";
}

void TestSerialAdapters::adapterIsFoundByItsName()
{
    QFETCH(QString, adapter);
    QFETCH(QString, device);

    QTemporaryDir root;
    QVERIFY(root.isValid());
    const QString dev = root.filePath("dev");
    const QString byId = dev + "/serial/by-id";
    for (const char* node : {"ttyUSB0", "ttyUSB1", "ttyS0"})
        QVERIFY(Write(dev + '/' + node, {}));
    // As udev makes them: relative links to the node.
    QVERIFY(Link("../../ttyUSB1", byId + "/usb-FTDI_FT232R_USB_UART_A10K3XYZ-if00-port0"));
    QVERIFY(Link("../../ttyUSB0", byId + "/usb-Prolific_Technology_Inc._USB-Serial_Controller-if00-port0"));
    QVERIFY(Link("../../ttyUSB7", byId + "/usb-FTDI_FT232R_USB_UART_B20XXXXX-if00-port0")); // dangling

    const QString expected = device.isEmpty() ? QString() : QDir(dev).canonicalPath() + '/' + device;
    QCOMPARE(DeviceOfAdapter(adapter, byId), expected);
    if (!device.isEmpty())
        QCOMPARE(AdapterOfDevice(dev + '/' + device, byId), adapter);
    QCOMPARE(AdapterOfDevice(dev + "/ttyS0", byId), QString());
}

void TestSerialAdapters::comNumberOfDevice_data()
{
    QTest::addColumn<QString>("device");
    QTest::addColumn<int>("com");
    QTest::newRow("first USB adapter") << "/dev/ttyUSB0" << 5;
    QTest::newRow("second one, wherever its node is") << "/tmp/x/dev/ttyUSB1" << 6;
    QTest::newRow("last USB number") << "/dev/ttyUSB7" << 12;
    QTest::newRow("beyond the numbers") << "/dev/ttyUSB8" << 0;
    QTest::newRow("modem adapter") << "/dev/ttyACM0" << 13;
    QTest::newRow("built-in port") << "/dev/ttyS1" << 2;
    QTest::newRow("nothing") << "" << 0;
}

void TestSerialAdapters::comNumberOfDevice()
{
    QFETCH(QString, device);
    QFETCH(int, com);
#ifdef Q_OS_WIN
    QSKIP("COM numbers are the names themselves on Windows");
#endif
    QCOMPARE(ComNumberOfDevice(device), com);
}

void TestSerialAdapters::driverDecidesTheNotes_data()
{
    QTest::addColumn<QString>("driver");
    QTest::addColumn<QString>("latency");  // the latency_timer file, empty: none
    QTest::addColumn<bool>("sysfsWrites"); // the system lets this program write it
    QTest::addColumn<bool>("flagWorks");   // the driver's low-latency flag lowers it
    QTest::addColumn<QString>("lowered");  // latency_timer afterwards
    QTest::addColumn<QString>("notes");    // key words of each note, '|' between notes

    QTest::newRow("FTDI, lowered through sysfs") << "ftdi_sio"
                                                 << "16" << true << false << "1"
                                                 << "";
    QTest::newRow("FTDI, lowered by the low-latency flag") << "ftdi_sio"
                                                           << "16" << false << true << "1"
                                                           << "";
    QTest::newRow("FTDI, may not be lowered") << "ftdi_sio"
                                              << "16" << false << false << "16"
                                              << "16 ms";
    QTest::newRow("FTDI, already 1 ms") << "ftdi_sio"
                                        << "1" << false << false << "1"
                                        << "";
    QTest::newRow("FTDI, no latency file") << "ftdi_sio"
                                           << "" << false << false << ""
                                           << "";
    QTest::newRow("cdc_acm: CTS can't carry the start") << "cdc_acm"
                                                        << "" << false << false << ""
                                                        << "7+8";
    QTest::newRow("cp210x: polled") << "cp210x"
                                    << "" << false << false << ""
                                    << "etwa 2 ms genau";
    QTest::newRow("pl2303: nothing to say") << "pl2303"
                                            << "" << false << false << ""
                                            << "";
    QTest::newRow("built-in UART") << "serial8250"
                                   << "" << false << false << ""
                                   << "";
    QTest::newRow("no driver link") << ""
                                    << "" << false << false << ""
                                    << "";
}

void TestSerialAdapters::driverDecidesTheNotes()
{
    QFETCH(QString, driver);
    QFETCH(QString, latency);
    QFETCH(bool, sysfsWrites);
    QFETCH(bool, flagWorks);
    QFETCH(QString, lowered);
    QFETCH(QString, notes);

    QTemporaryDir root;
    QVERIFY(root.isValid());
    const QString sys = root.path();
    const QString port = sys + "/devices/pci0000:00/usb1/1-1/1-1:1.0/ttyUSB0";
    QVERIFY(QDir().mkpath(port));
    QVERIFY(Link(port, sys + "/class/tty/ttyUSB0/device"));
    if (!driver.isEmpty()) {
        QVERIFY(QDir().mkpath(sys + "/bus/usb-serial/drivers/" + driver));
        QVERIFY(Link(sys + "/bus/usb-serial/drivers/" + driver, port + "/driver"));
    }
    const QString latencyFile = port + "/latency_timer";
    if (!latency.isEmpty())
        QVERIFY(Write(latencyFile, latency.toLatin1() + '\n'));

    SerialAdapterFacts facts = ReadAdapterFacts("ttyUSB0", sys);
    QCOMPARE(facts.driver, driver);
    QCOMPARE(facts.latencyMs.has_value(), !latency.isEmpty());
    int writes = 0;
    const SysfsWriter writer = [&](const QString& path, const QByteArray& text) {
        ++writes;
        return sysfsWrites && WriteSysfsFile(path, text);
    };
    const auto lowLatencyFlag = [&] { return flagWorks && Write(latencyFile, "1\n"); };
    if (facts.latencyMs)
        facts.latencyMs = LowerLatencyTimer("ttyUSB0", writer, lowLatencyFlag, sys);
    QCOMPARE(facts.latencyMs ? QString::number(*facts.latencyMs) : QString(), lowered);
    if (latency == "1")
        QCOMPARE(writes, 0);

    QStringList keys;
    for (const QString& note : AdapterNotes(facts))
        keys << note;
    const QStringList expected = notes.isEmpty() ? QStringList() : notes.split('|');
    QCOMPARE(keys.size(), expected.size());
    for (int i = 0; i < keys.size(); ++i)
        QVERIFY2(keys.at(i).contains(expected.at(i)), qPrintable(keys.at(i)));
}

QTEST_MAIN(TestSerialAdapters)
#include "tst_serialadapters.moc"
