#include "PosixSerialDevice.h"
#include "TComPort.h"

#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <cstring>

Q_DECLARE_METATYPE(ModemLineSnapshot)

namespace {

// The system's device with the path swapped for one in a temporary folder,
// so that no real device is ever opened.
class RedirectedDevice : public ISerialDevice
{
public:
    explicit RedirectedDevice(std::string path) : path(std::move(path)) {}

    SerialError Open(const std::string&, const SerialLineSettings& settings) override
    {
        return device.Open(path, settings);
    }
    void Close() override { device.Close(); }
    void SetDtr(bool on) override { device.SetDtr(on); }
    SerialWaitResult Wait(std::vector<SerialEventBatch>& batches, SerialError& lost) override
    {
        return device.Wait(batches, lost);
    }
    void RequestStop() override { device.RequestStop(); }
    std::uint32_t ModemStatus() override { return device.ModemStatus(); }
    int InputCount() override { return device.InputCount(); }

private:
    PosixSerialDevice device;
    std::string path;
};

ModemLineSnapshot Lines(std::uint32_t status)
{
    return {status, std::nullopt};
}

ModemLineSnapshot Counted(std::uint32_t status, std::uint32_t cts, std::uint32_t dsr, std::uint32_t dcd)
{
    return {status, ModemLineSnapshot::Counters{cts, dsr, dcd}};
}

QString Describe(const std::vector<SerialEventBatch>& batches)
{
    QStringList parts;
    for (const SerialEventBatch& batch : batches)
        parts << QString("%1/%2").arg(batch.events, 0, 16).arg(batch.modemStatus, 0, 16);
    return parts.join(' ');
}

} // namespace

class TestPosixSerialDevice : public QObject
{
    Q_OBJECT

private slots:
    void openMissingDeviceRaisesEComHandle_data();
    void openMissingDeviceRaisesEComHandle();
    void lineChangesBecomeBatches_data();
    void lineChangesBecomeBatches();
};

void TestPosixSerialDevice::openMissingDeviceRaisesEComHandle_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("error");
    QTest::newRow("path that doesn't exist") << "no-such-tty" << ENOENT;
    QTest::newRow("a folder") << "" << EISDIR;
}

void TestPosixSerialDevice::openMissingDeviceRaisesEComHandle()
{
    QFETCH(QString, name);
    QFETCH(int, error);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const std::string path = (name.isEmpty() ? dir.path() : dir.filePath(name)).toStdString();

    TComPort port;
    port.SetDeviceFactory([path] { return std::make_unique<RedirectedDevice>(path); });
    QString caught;
    try {
        port.Open();
    } catch (const EComHandle& failure) {
        caught = QString::fromStdString(failure.what());
    }
    QCOMPARE(caught, QString("Unable to open com port: ") + QString::fromLocal8Bit(std::strerror(error)));
    QCOMPARE(port.Connected(), false);
}

void TestPosixSerialDevice::lineChangesBecomeBatches_data()
{
    QTest::addColumn<ModemLineSnapshot>("before");
    QTest::addColumn<ModemLineSnapshot>("after");
    QTest::addColumn<quint32>("mask");
    QTest::addColumn<QString>("expected"); // events/status per batch, hex

    const quint32 lines = EV_CTS | EV_DSR | EV_RLSD;
    QTest::newRow("nothing changed") << Lines(0x10) << Lines(0x10) << lines << "";
    QTest::newRow("CTS on") << Lines(0) << Lines(0x10) << lines << "8/10";
    QTest::newRow("DSR off") << Lines(0x30) << Lines(0x10) << lines << "10/10";
    QTest::newRow("three lines at once") << Lines(0) << Lines(0xB0) << lines << "38/b0";
    QTest::newRow("line outside the mask") << Lines(0) << Lines(0x30) << quint32(EV_DSR) << "10/30";
    QTest::newRow("ring") << Lines(0) << Lines(0x40) << quint32(EV_RING | lines) << "100/40";
    QTest::newRow("ring not asked for") << Lines(0) << Lines(0x40) << lines << "";
    QTest::newRow("counted change") << Counted(0, 4, 0, 0) << Counted(0x10, 5, 0, 0) << lines << "8/10";
    QTest::newRow("pulse over before the reading")
        << Counted(0, 4, 7, 0) << Counted(0, 4, 9, 0) << lines << "10/20 10/0";
    QTest::newRow("pulse counted once")
        << Counted(0x20, 0, 1, 0) << Counted(0x20, 0, 2, 0) << lines << "10/0 10/20";
    QTest::newRow("bounce before the change")
        << Counted(0, 0, 0, 0) << Counted(0x80, 0, 0, 3) << lines << "20/80 20/0 20/80";
    QTest::newRow("many pulses give one")
        << Counted(0, 0, 0, 0) << Counted(0, 40, 0, 0) << lines << "8/10 8/0";
    QTest::newRow("pulse beside a change, aligned at the end")
        << Counted(0, 0, 0, 0) << Counted(0x10, 1, 2, 0) << lines << "10/20 18/10";
    QTest::newRow("counter wraps") << Counted(0, 0xFFFFFFFF, 0, 0) << Counted(0x10, 0, 0, 0) << lines
                                   << "8/10";
    QTest::newRow("counters only on one side") << Lines(0) << Counted(0, 5, 5, 5) << lines << "";
}

void TestPosixSerialDevice::lineChangesBecomeBatches()
{
    QFETCH(ModemLineSnapshot, before);
    QFETCH(ModemLineSnapshot, after);
    QFETCH(quint32, mask);
    QFETCH(QString, expected);
    QCOMPARE(Describe(ExpandLineChanges(before, after, mask)), expected);
}

QTEST_MAIN(TestPosixSerialDevice)
#include "tst_posixserialdevice.moc"
