#include "FakeTickSource.h"
#include "LineSampler.h"
#include "PosixSerialDevice.h"
#include "RealTimeRights.h"
#include "ScriptedSerialLine.h"
#include "SerialAdapters.h"
#include "TComPort.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/ioctl.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <thread>

// One step of a line's life: at a moment (ms after the start) the clock shows
// the true time of what happens then, and the lines change. A step "at wait
// entry" happens when the monitor next begins its wait, after its last
// reading (it is woken for that, and the step's time only orders it); one
// "while reading" between the monitor's reading of the lines and of the
// counters; one "while stamping" right after the monitor read the clock for
// a reading (the clock moves on before the lines are read).
struct LineStep
{
    enum Change { ClockOnly, On, Off, Pulse, AtWaitEntryOn, WhileReadingOn, WhileStampingOn };
    int atMs = 0;
    quint32 clock = 0;
    Change change = ClockOnly;
    int lines = 0; // TIOCM_* bits
};
using LineTimeline = QList<LineStep>;

Q_DECLARE_METATYPE(ModemLineSnapshot)
Q_DECLARE_METATYPE(LineTimeline)
Q_DECLARE_METATYPE(ScriptedSerialLine::Unplug)

namespace {

ModemLineSnapshot Lines(std::uint32_t status)
{
    return {status, std::nullopt};
}

ModemLineSnapshot Counted(std::uint32_t status, std::uint32_t cts, std::uint32_t dsr, std::uint32_t dcd)
{
    return {status, ModemLineSnapshot::Counters{cts, dsr, dcd}};
}

// Plays a timeline on a thread of its own, as the real world would, while
// the test's thread stands for the GUI thread.
class TimelinePlayer
{
public:
    TimelinePlayer(ScriptedSerialLine& line, FakeTickSource& clock, LineTimeline steps)
    {
        thread = std::thread([&line, &clock, steps] {
            const auto start = std::chrono::steady_clock::now();
            for (const LineStep& step : steps) {
                std::this_thread::sleep_until(start + std::chrono::milliseconds(step.atMs));
                const auto apply = [&line, &clock, step] {
                    clock.Set(step.clock);
                    if (step.change != LineStep::Off && step.change != LineStep::Pulse)
                        line.Set(step.lines, true);
                    else if (step.change == LineStep::Off)
                        line.Set(step.lines, false);
                    else if (step.change == LineStep::Pulse)
                        line.Pulse(step.lines);
                };
                if (step.change == LineStep::AtWaitEntryOn) {
                    line.AtNextWaitEntry(apply);
                } else if (step.change == LineStep::WhileReadingOn) {
                    clock.Set(step.clock); // the monitor reads the clock first
                    line.AfterNextLineRead(apply);
                } else if (step.change == LineStep::WhileStampingOn) {
                    clock.AfterNextRead(apply);
                } else {
                    apply();
                    continue;
                }
                // Wake the monitor once, so that it reads and waits again.
                ::pthread_kill(line.WaiterThread(), SerialWakeSignal());
            }
        });
    }
    ~TimelinePlayer() { thread.join(); }

private:
    std::thread thread;
};

void ConnectLineRecorder(TComPort& port, QStringList& seen)
{
    const auto record = [&seen](const char* name, std::uint32_t bit) {
        return [&seen, name, bit](TComPort* sender) {
            seen << QString("%1 %2 @%3")
                        .arg(name, sender->ModemStatus() & bit ? "on" : "off")
                        .arg(sender->EventTick());
        };
    };
    QObject::connect(&port, &TComPort::OnCTS, &port, record("CTS", MS_CTS_ON));
    QObject::connect(&port, &TComPort::OnDSR, &port, record("DSR", MS_DSR_ON));
    QObject::connect(&port, &TComPort::OnRLSD, &port, record("RLSD", MS_RLSD_ON));
}

// A clock that never stands still: every reading is a tick later.
class RunningTickSource : public ITickSource
{
public:
    std::uint32_t GetTickCount() const override { return ++now; }

private:
    mutable std::atomic<std::uint32_t> now{1000};
};

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
    void openSetsUpTheLineWithoutHandshake();
    void everyEdgeKeepsItsTrueTime_data();
    void everyEdgeKeepsItsTrueTime();
    void unpluggingWhileWaitingClosesThePort_data();
    void unpluggingWhileWaitingClosesThePort();
    void shortBreakOnAnFtdiAdapterIsOneOnAndOneOff();
    void closeEndsTheMonitorWhateverItsWait_data();
    void closeEndsTheMonitorWhateverItsWait();
    void closeAtAnyMomentReturns();
    void edgeDuringAReadingIsOneEdge_data();
    void edgeDuringAReadingIsOneEdge();
    void watchWithoutRealTimePriorityIsToldOnce_data();
    void watchWithoutRealTimePriorityIsToldOnce();
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
    port.SetDevicePath(QString::fromStdString(path)); // never a real device
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

void TestPosixSerialDevice::openSetsUpTheLineWithoutHandshake()
{
    ScriptedSerialLine line;
    TComPort port;
    OpenBarrierPort(port, line);

    const termios tio = line.Termios();
    QCOMPARE(int(tio.c_cflag & CSIZE), int(CS5));
    QCOMPARE(int(cfgetospeed(&tio)), int(B9600));
    QCOMPARE(int(tio.c_cflag & (PARENB | CSTOPB)), 0);
    QVERIFY2(tio.c_cflag & CLOCAL, "a carrier drop would hang up the line");
    QVERIFY2(!(tio.c_cflag & CRTSCTS), "the kernel would drop RTS, which feeds the start contact");
    QVERIFY2(!(tio.c_cflag & CREAD), "input would be received and could fill the buffer");
    QCOMPARE(line.OutputLines(), TIOCM_DTR | TIOCM_RTS);
    QVERIFY(line.Exclusive());
    port.Close();
}

void TestPosixSerialDevice::everyEdgeKeepsItsTrueTime_data()
{
    QTest::addColumn<bool>("counters");
    QTest::addColumn<bool>("waitSupported");
    QTest::addColumn<bool>("storm");
    QTest::addColumn<int>("busyMs"); // the GUI thread handles nothing meanwhile
    QTest::addColumn<LineTimeline>("timeline");
    QTest::addColumn<QStringList>("expected");

    using S = LineStep;
    const LineTimeline closeFinish{{0, 9900, S::On, TIOCM_DSR},
                                   {30, 9930, S::On, TIOCM_CD},
                                   {60, 9960, S::ClockOnly, 0},
                                   {200, 10100, S::ClockOnly, 0}};
    const QStringList closeFinishTimes{"DSR on @9900", "RLSD on @9930"};
    const LineTimeline atWaitEntry{{0, 5000, S::AtWaitEntryOn, TIOCM_DSR},
                                   {50, 5050, S::ClockOnly, 0},
                                   {300, 5300, S::Off, TIOCM_DSR},
                                   {350, 5350, S::ClockOnly, 0}};
    const QStringList atWaitEntryTimes{"DSR on @5000", "DSR off @5300"};

    QTest::newRow("single edge") << true << true << false << 0
                                 << LineTimeline{{0, 2000, S::On, TIOCM_CTS}, {50, 2050, S::ClockOnly, 0}}
                                 << QStringList{"CTS on @2000"};
    QTest::newRow("close finish, 30 ms apart, window busy 200 ms")
        << true << true << false << 200 << closeFinish << closeFinishTimes;
    QTest::newRow("close finish without counters")
        << false << true << false << 200 << closeFinish << closeFinishTimes;
    QTest::newRow("close finish in a storm of interruptions")
        << true << true << true << 200 << closeFinish << closeFinishTimes;
    QTest::newRow("edge as the wait begins") << true << true << false << 0 << atWaitEntry << atWaitEntryTimes;
    QTest::newRow("edge as the wait begins, no counters")
        << false << true << false << 0 << atWaitEntry << atWaitEntryTimes;
    QTest::newRow("short break inside one wake-up")
        << true << true << false << 0
        << LineTimeline{{0, 3000, S::Pulse, TIOCM_DSR}, {50, 3050, S::ClockOnly, 0}}
        << QStringList{"DSR on @3000", "DSR off @3000"};
    QTest::newRow("edge between reading the lines and the counters")
        << true << true << false << 0
        << LineTimeline{{0, 6000, S::WhileReadingOn, TIOCM_DSR}, {50, 6050, S::ClockOnly, 0}}
        << QStringList{"DSR on @6000"};
    QTest::newRow("edge while the clock moves before the line read")
        << true << true << false << 0
        << LineTimeline{{0, 6999, S::WhileStampingOn, TIOCM_CD}, {50, 7050, S::ClockOnly, 0}}
        << QStringList{"RLSD on @6999"};
    QTest::newRow("edge while the clock moves before the line read, no counters")
        << false << true << false << 0
        << LineTimeline{{0, 6999, S::WhileStampingOn, TIOCM_CD}, {50, 7050, S::ClockOnly, 0}}
        << QStringList{"RLSD on @6999"};
    QTest::newRow("start and finish together")
        << true << true << false << 0
        << LineTimeline{{0, 4000, S::On, TIOCM_CTS | TIOCM_CD}, {50, 4050, S::ClockOnly, 0}}
        << QStringList{"CTS on @4000", "RLSD on @4000"};
    QTest::newRow("wait refused: lines polled")
        << true << false << false << 100 << closeFinish << closeFinishTimes;
}

void TestPosixSerialDevice::everyEdgeKeepsItsTrueTime()
{
    QFETCH(bool, counters);
    QFETCH(bool, waitSupported);
    QFETCH(bool, storm);
    QFETCH(int, busyMs);
    QFETCH(LineTimeline, timeline);
    QFETCH(QStringList, expected);

    FakeTickSource clock(1000);

    const TickSourceScope useClock(clock);
    ScriptedSerialLine line;
    line.SetCounters(counters);
    line.SetWaitSupported(waitSupported);
    TComPort port;
    QStringList seen;
    ConnectLineRecorder(port, seen);
    OpenBarrierPort(port, line);
    if (waitSupported)
        QVERIFY(line.WaitForWaiter());
    else
        QVERIFY(line.WaitForLineReads(line.LineReads() + 2)); // the refused wait gave way to polling
    {
        std::optional<SignalStorm> interruptions;
        if (storm)
            interruptions.emplace([&line] { return line.WaiterThread(); }, std::chrono::microseconds(300));
        {
            TimelinePlayer player(line, clock, timeline);
            QThread::msleep(busyMs);
        }
        QTRY_COMPARE(seen, expected);
    }
    port.Close();
    QCOMPARE(seen, expected);
}

void TestPosixSerialDevice::unpluggingWhileWaitingClosesThePort_data()
{
    using Unplug = ScriptedSerialLine::Unplug;
    QTest::addColumn<bool>("waitSupported");
    QTest::addColumn<Unplug>("how");
    QTest::addColumn<int>("staleReads");
    QTest::addColumn<int>("reported"); // errno the operator is told of

    QTest::newRow("serial8250, usb-serial (ftdi_sio, pl2303): the wait fails")
        << true << Unplug::WaitFails << 0 << EIO;
    QTest::newRow("cdc_acm: the wait returns 0, the next reads fail")
        << true << Unplug::WaitReturnsZero << 0 << EIO;
    QTest::newRow("cdc_acm: the wait returns 0 again and again, the reads still answer")
        << true << Unplug::WaitReturnsZero << 1000000 << ENODEV;
    QTest::newRow("a wait that sleeps on: the watch finds the device gone")
        << true << Unplug::WaitSleeps << 0 << EIO;
    QTest::newRow("cp210x: the polled reads fail") << false << Unplug::WaitFails << 0 << EIO;
}

void TestPosixSerialDevice::unpluggingWhileWaitingClosesThePort()
{
    QFETCH(bool, waitSupported);
    QFETCH(ScriptedSerialLine::Unplug, how);
    QFETCH(int, staleReads);
    QFETCH(int, reported);

    ScriptedSerialLine line;
    line.SetWaitSupported(waitSupported);
    TComPort port;
    QStringList reasons;
    connect(&port, &TComPort::OnDeviceLost, this,
            [&](TComPort*, const QString& reason) { reasons << reason; });
    OpenBarrierPort(port, line);
    if (waitSupported)
        QVERIFY(line.WaitForWaiter());
    else
        QVERIFY(line.WaitForLineReads(line.LineReads() + 2));

    line.Fail(EIO, how, staleReads);
    QTRY_COMPARE(reasons, QStringList{QString::fromLocal8Bit(std::strerror(reported))});
    QCOMPARE(port.Connected(), false);
    QCOMPARE(port.MonitorRunning(), false);
}

// ftdi_sio reads the lines with a control transfer but counts from the
// status packets: a short break is over in the line reading before its
// packets have come.
void TestPosixSerialDevice::shortBreakOnAnFtdiAdapterIsOneOnAndOneOff()
{
    QTemporaryDir sys;
    QVERIFY(sys.isValid());
    QVERIFY(QDir(sys.path()).mkpath("bus/usb-serial/drivers/ftdi_sio"));
    QVERIFY(QDir(sys.path()).mkpath("class/tty/ttyScripted/device"));
    QVERIFY(QFile::link(sys.filePath("bus/usb-serial/drivers/ftdi_sio"),
                        sys.filePath("class/tty/ttyScripted/device/driver")));

    FakeTickSource clock(5000);

    const TickSourceScope useClock(clock);
    ScriptedSerialLine line;
    line.SetCountersFollowLines(false);
    TComPort port;
    port.SetDeviceFactory(
        [folder = sys.path().toStdString()] { return std::make_unique<PosixSerialDevice>(folder); });
    QStringList seen;
    ConnectLineRecorder(port, seen);
    OpenBarrierPort(port, line);
    QVERIFY(line.WaitForWaiter());

    line.Set(TIOCM_DSR, true);
    line.Set(TIOCM_DSR, false);
    clock.Set(5002);
    line.Count(TIOCM_DSR); // the packet that saw the beam broken
    QTRY_COMPARE(seen, QStringList{"DSR on @5002"});
    QVERIFY(line.WaitForWaiter());
    clock.Set(5003);
    line.Count(TIOCM_DSR); // the packet that saw it whole again
    QTRY_COMPARE(seen, (QStringList{"DSR on @5002", "DSR off @5003"}));
    port.Close();
    QCOMPARE(seen, (QStringList{"DSR on @5002", "DSR off @5003"}));
}

void TestPosixSerialDevice::closeEndsTheMonitorWhateverItsWait_data()
{
    QTest::addColumn<bool>("signalBlocked");
    QTest::addColumn<bool>("deafWait");
    QTest::newRow("wake signal blocked where the port was opened") << true << false;
    QTest::newRow("a wait no signal reaches") << false << true;
}

void TestPosixSerialDevice::closeEndsTheMonitorWhateverItsWait()
{
    QFETCH(bool, signalBlocked);
    QFETCH(bool, deafWait);

    FakeTickSource clock(1000);

    const TickSourceScope useClock(clock);
    {
        ScriptedSerialLine line;
        line.SetWaitDeaf(deafWait);
        // Other handlers of the process keep theirs: the wake signal is one of its own.
        QVERIFY(SerialWakeSignal() != SIGUSR1 && SerialWakeSignal() != SIGUSR2);
        sigset_t wake;
        sigemptyset(&wake);
        sigaddset(&wake, SerialWakeSignal());
        sigset_t before;
        if (signalBlocked)
            QCOMPARE(::pthread_sigmask(SIG_BLOCK, &wake, &before), 0);
        TComPort port;
        OpenBarrierPort(port, line);
        if (signalBlocked)
            QCOMPARE(::pthread_sigmask(SIG_SETMASK, &before, nullptr), 0);
        QVERIFY(line.WaitForWaiter());

        QElapsedTimer elapsed;
        elapsed.start();
        port.Close();
        QVERIFY2(elapsed.elapsed() < 5000, "Close hung");
        QCOMPARE(port.MonitorRunning(), false);
        // A thread that no signal reaches is left in its wait; it must end
        // by itself once the device answers, touching nothing that is gone.
        QCOMPARE(TLineSampler::ThreadsRunning(), deafWait ? 1 : 0);
    }
    QTRY_COMPARE(TLineSampler::ThreadsRunning(), 0);
}

void TestPosixSerialDevice::closeAtAnyMomentReturns()
{
    FakeTickSource clock(1000);
    const TickSourceScope useClock(clock);
    ScriptedSerialLine line;
    QRandomGenerator random(8);
    for (int round = 0; round < 60; ++round) {
        line.SetWaitSupported(round % 4 != 3);
        TComPort port;
        OpenBarrierPort(port, line);
        QElapsedTimer elapsed;
        {
            const int first = random.bounded(3);
            TimelinePlayer player(line, clock,
                                  {{first, 1, LineStep::Pulse, TIOCM_DSR},
                                   {first + random.bounded(2), 2, LineStep::Pulse, TIOCM_CD | TIOCM_CTS}});
            QThread::usleep(random.bounded(3000));
            QCoreApplication::processEvents();
            elapsed.start();
            port.Close();
        }
        QVERIFY2(elapsed.elapsed() < 2000, qPrintable(QString("round %1 hung").arg(round)));
        QCOMPARE(port.MonitorRunning(), false);
        QCOMPARE(port.Connected(), false);
    }
}

void TestPosixSerialDevice::edgeDuringAReadingIsOneEdge_data()
{
    // The reading (since the monitor was woken) in which the edge comes,
    // between its line read and its second counter read.
    QTest::addColumn<int>("reading");
    QTest::newRow("in the first reading") << 1;
    QTest::newRow("in the last reading the moving clock allows") << 8;
}

void TestPosixSerialDevice::edgeDuringAReadingIsOneEdge()
{
    QFETCH(int, reading);

    RunningTickSource clock;
    const TickSourceScope useClock(clock);
    ScriptedSerialLine line;
    PosixSerialDevice device;
    QVERIFY(!device.Open(line.Path(), SerialLineSettings{}));

    std::vector<SerialEventBatch> batches;
    std::atomic<bool> returned{false};
    SerialWaitResult result = SerialWaitResult::Stopped;
    std::thread monitor([&] {
        SerialError lost;
        result = device.Wait(batches, lost);
        returned = true;
    });
    QVERIFY(line.WaitForWaiter());
    // Each line read hands on to the next until the one the edge comes after.
    std::function<void(int)> arm = [&line, &arm](int left) {
        line.AfterNextLineRead([&line, &arm, left] {
            if (left > 1)
                arm(left - 1);
            else
                line.Set(TIOCM_DSR, true);
        });
    };
    arm(reading);
    ::pthread_kill(line.WaiterThread(), SerialWakeSignal());
    const bool done = QTest::qWaitFor([&returned] { return returned.load(); }, 5000);
    if (!done)
        device.RequestStop();
    monitor.join();
    QVERIFY(done);

    QCOMPARE(int(result), int(SerialWaitResult::Changed));
    QCOMPARE(Describe(batches), QString("10/20")); // DSR on, not a pulse
    device.Close();
}

void TestPosixSerialDevice::watchWithoutRealTimePriorityIsToldOnce_data()
{
    QTest::addColumn<bool>("granted"); // by the desktop's RealtimeKit
    QTest::newRow("granted by RealtimeKit") << true;
    QTest::newRow("no way to real-time priority") << false;
}

void TestPosixSerialDevice::watchWithoutRealTimePriorityIsToldOnce()
{
    QFETCH(bool, granted);

    ScriptedSerialLine line;
    TComPort port;
    PosixSerialDevice* device = nullptr;
    port.SetDeviceFactory([&device] {
        auto made = std::make_unique<PosixSerialDevice>();
        device = made.get();
        return made;
    });
    std::atomic<int> asked{0};
    SetRealTimeGrant([&asked, granted] {
        ++asked;
        return granted;
    });
    {
        WithoutRealTimeRights ordinaryUser;
        OpenBarrierPort(port, line);
    }
    SetRealTimeGrant(nullptr);
    QVERIFY(device);
    QVERIFY(asked >= 2); // the sampler and the watch
    QCOMPARE(device->WatchPriority() == StampingPriority::RealTime, granted);
    QCOMPARE(port.DeviceNotes().count(StampingPriorityNote()), granted ? 0 : 1);
    port.Close();
}

QTEST_MAIN(TestPosixSerialDevice)
#include "tst_posixserialdevice.moc"
