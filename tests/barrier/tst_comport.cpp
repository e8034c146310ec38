#include "FakeSerialDevice.h"
#include "FakeTickSource.h"
#include "LineSampler.h"
#include "RealTimeRights.h"
#include "SerialAdapters.h"
#include "SerialPorts.h"
#include "TComPort.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QStringList>
#include <QThread>
#include <QtTest>

#include <atomic>
#include <memory>

class TestComPort : public QObject
{
    Q_OBJECT

private slots:
    void dispatchOrder_data();
    void dispatchOrder();
    void eventsOutsideTheMaskDoNotFire();
    void handlersRunOnTheGuiThread();
    void modemStatusInsideDispatchIsTheBatchState_data();
    void modemStatusInsideDispatchIsTheBatchState();
    void modemStatusOutsideDispatchReadsTheDevice();
    void pulseArrivesAsTwoBatches();
    void changesAreSampledWhileAHandlerRuns();
    void dataBitsAreClamped_data();
    void dataBitsAreClamped();
    void openPassesLineSettingsAndPortDevice();
    void openFailureRaisesEComHandle_data();
    void openFailureRaisesEComHandle();
    void configureFailureRaisesEComState();
    void openOnOpenPortClosesFirst();
    void closeOnClosedPortDoesNothing();
    void closeWhileMonitorWaitsReturns();
    void closeWhileBatchWaitsForGuiReturnsAndDropsIt();
    void closeFromInsideAHandlerEndsTheBatch();
    void reopenAfterCloseDeliversAgain();
    void deviceLossClosesThePort();
    void eventTickIsTheMonitorsTick_data();
    void eventTickIsTheMonitorsTick();
    void destroyingAnOpenPortClosesIt();
    void missingRealTimePriorityIsToldToTheOperator_data();
    void missingRealTimePriorityIsToldToTheOperator();

private:
    std::unique_ptr<TComPort> OpenPort(FakeSerialLine& line, TEvents events = AllComEvents);
};

std::unique_ptr<TComPort> TestComPort::OpenPort(FakeSerialLine& line, TEvents events)
{
    auto port = std::make_unique<TComPort>();
    port->SetDeviceFactory(line.Factory());
    port->SetEvents(events);
    port->Open();
    return port;
}

void TestComPort::dispatchOrder_data()
{
    QTest::addColumn<quint32>("events");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("CTS, DSR and RLSD together")
        << quint32(EV_RLSD | EV_DSR | EV_CTS) << QStringList{"CTS", "DSR", "RLSD"};
    QTest::newRow("CTS and DSR") << quint32(EV_DSR | EV_CTS) << QStringList{"CTS", "DSR"};
    QTest::newRow("RLSD alone") << quint32(EV_RLSD) << QStringList{"RLSD"};
    QTest::newRow("every event") << quint32(0x01FF)
                                 << QStringList{"RxChar", "TxEmpty", "Break", "Ring", "CTS",
                                                "DSR",    "RxFlag",  "RLSD",  "Error"};
    QTest::newRow("ring, flag and error")
        << quint32(EV_ERR | EV_RXFLAG | EV_RING) << QStringList{"Ring", "RxFlag", "Error"};
}

void TestComPort::dispatchOrder()
{
    QFETCH(quint32, events);
    QFETCH(QStringList, expected);

    FakeSerialLine line;
    auto port = OpenPort(line);
    QStringList fired;
    connect(port.get(), &TComPort::OnRxChar, this, [&] { fired << "RxChar"; });
    connect(port.get(), &TComPort::OnTxEmpty, this, [&] { fired << "TxEmpty"; });
    connect(port.get(), &TComPort::OnBreak, this, [&] { fired << "Break"; });
    connect(port.get(), &TComPort::OnRing, this, [&] { fired << "Ring"; });
    connect(port.get(), &TComPort::OnCTS, this, [&] { fired << "CTS"; });
    connect(port.get(), &TComPort::OnDSR, this, [&] { fired << "DSR"; });
    connect(port.get(), &TComPort::OnRxFlag, this, [&] { fired << "RxFlag"; });
    connect(port.get(), &TComPort::OnRLSD, this, [&] { fired << "RLSD"; });
    connect(port.get(), &TComPort::OnError, this, [&] { fired << "Error"; });

    line.Raise(events, 0);
    QTRY_COMPARE(fired, expected);
}

void TestComPort::eventsOutsideTheMaskDoNotFire()
{
    FakeSerialLine line;
    auto port = OpenPort(line, {TEvent::evCTS, TEvent::evDSR, TEvent::evRLSD});
    QCOMPARE(line.Settings().eventMask, 0x0038u);

    QStringList fired;
    connect(port.get(), &TComPort::OnRing, this, [&] { fired << "Ring"; });
    connect(port.get(), &TComPort::OnError, this, [&] { fired << "Error"; });
    connect(port.get(), &TComPort::OnCTS, this, [&] { fired << "CTS"; });
    connect(port.get(), &TComPort::OnRLSD, this, [&] { fired << "RLSD"; });

    line.Raise(EV_RING | EV_ERR, 0);
    line.Raise(EV_RING | EV_CTS, MS_CTS_ON);
    line.Raise(EV_RLSD, MS_CTS_ON | MS_RLSD_ON);
    QTRY_COMPARE(fired, (QStringList{"CTS", "RLSD"}));
}

void TestComPort::handlersRunOnTheGuiThread()
{
    FakeSerialLine line;
    auto port = OpenPort(line);
    QList<QThread*> threads;
    TComPort* senderSeen = nullptr;
    connect(port.get(), &TComPort::OnCTS, this, [&](TComPort* sender) {
        threads << QThread::currentThread();
        senderSeen = sender;
    });
    connect(port.get(), &TComPort::OnDSR, this, [&] { threads << QThread::currentThread(); });

    line.Raise(EV_CTS | EV_DSR, MS_CTS_ON | MS_DSR_ON);
    QTRY_COMPARE(threads.size(), 2);
    QCOMPARE(threads.at(0), QThread::currentThread());
    QCOMPARE(threads.at(1), QThread::currentThread());
    QCOMPARE(senderSeen, port.get());
}

void TestComPort::modemStatusInsideDispatchIsTheBatchState_data()
{
    QTest::addColumn<quint32>("status");
    QTest::newRow("CTS on") << quint32(0x10);
    QTest::newRow("DSR on") << quint32(0x20);
    QTest::newRow("ring on") << quint32(0x40);
    QTest::newRow("RLSD on") << quint32(0x80);
    QTest::newRow("all on") << quint32(0xF0);
    QTest::newRow("all off") << quint32(0x00);
}

void TestComPort::modemStatusInsideDispatchIsTheBatchState()
{
    QFETCH(quint32, status);

    FakeSerialLine line;
    auto port = OpenPort(line);
    QList<quint32> seen;
    connect(port.get(), &TComPort::OnCTS, this, [&](TComPort* sender) {
        // The lines have moved on since; the handler still sees the change.
        line.SetLines(~status & 0xF0);
        seen << sender->ModemStatus();
    });

    line.Raise(EV_CTS, status);
    QTRY_COMPARE(seen.size(), 1);
    QCOMPARE(seen.at(0), status);
}

void TestComPort::modemStatusOutsideDispatchReadsTheDevice()
{
    FakeSerialLine line;
    TComPort closedPort;
    QCOMPARE(closedPort.ModemStatus(), 0u);

    auto port = OpenPort(line);
    line.SetLines(MS_DSR_ON | MS_RLSD_ON);
    QCOMPARE(port->ModemStatus(), quint32(0xA0));
}

void TestComPort::pulseArrivesAsTwoBatches()
{
    FakeSerialLine line;
    auto port = OpenPort(line);
    QList<quint32> seen;
    connect(port.get(), &TComPort::OnDSR, this, [&](TComPort* sender) { seen << sender->ModemStatus(); });

    line.RaiseEdges({SerialEventBatch{EV_DSR, MS_DSR_ON, 100}, SerialEventBatch{EV_DSR, 0, 100}});
    QTRY_COMPARE(seen, (QList<quint32>{MS_DSR_ON, 0}));
}

void TestComPort::changesAreSampledWhileAHandlerRuns()
{
    FakeSerialLine line;
    auto port = OpenPort(line);
    QVERIFY(line.WaitForIdleMonitor());
    QList<quint32> ticks;
    bool sampledMeanwhile = false;
    connect(port.get(), &TComPort::OnCTS, this, [&](TComPort* sender) {
        if (ticks.isEmpty()) {
            // The window is still busy with the first edge when two more come.
            line.Raise(EV_CTS, 0);
            line.Raise(EV_CTS, MS_CTS_ON, 3000);
            sampledMeanwhile = line.WaitForIdleMonitor(2000);
        }
        ticks << sender->EventTick();
    });

    FakeTickSource clock(2000);

    const TickSourceScope useClock(clock);
    line.Raise(EV_CTS, MS_CTS_ON, 1000);
    QTRY_COMPARE(ticks.size(), 3);
    QVERIFY2(sampledMeanwhile, "the edges waited for the handler before they were stamped");
    // Handed over one after the other, in order, each with its own tick.
    QCOMPARE(ticks, (QList<quint32>{1000, 2000, 3000}));
}

void TestComPort::dataBitsAreClamped_data()
{
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("stored");
    QTest::newRow("4 becomes 5") << 4 << 5;
    QTest::newRow("0 becomes 5") << 0 << 5;
    QTest::newRow("-1 becomes 5") << -1 << 5;
    QTest::newRow("5 stays") << 5 << 5;
    QTest::newRow("6 stays") << 6 << 6;
    QTest::newRow("7 stays") << 7 << 7;
    QTest::newRow("8 stays") << 8 << 8;
    QTest::newRow("9 becomes 8") << 9 << 8;
    QTest::newRow("300 becomes 8") << 300 << 8;
}

void TestComPort::dataBitsAreClamped()
{
    QFETCH(int, value);
    QFETCH(int, stored);

    TComPort port;
    port.SetDataBits(6);
    port.SetDataBits(value);
    QCOMPARE(int(port.DataBits()), stored);
    QCOMPARE(port.LineSettings().dataBits, stored);
}

void TestComPort::openPassesLineSettingsAndPortDevice()
{
    FakeSerialLine line;
    TComPort port;
    QCOMPARE(port.BaudRate(), TBaudRate::br9600);
    QCOMPARE(port.Port(), std::uint8_t(1));
    QCOMPARE(int(port.DataBits()), 8);
    QCOMPARE(port.Events(), AllComEvents);

    // The main window's port.
    port.SetDeviceFactory(line.Factory());
    port.SetPort(3);
    port.SetBaudRateUser(28800);
    port.SetFlowControl(TFlowControl::fcRtsCts);
    port.SetDataBits(5);
    port.SetEvents({TEvent::evCTS, TEvent::evDSR, TEvent::evRLSD});
    port.SetWriteBufSize(64);
    port.SetReadBufSize(64);
    port.Open();

    QCOMPARE(QString::fromStdString(line.Path()), PortDeviceName(3));
    const SerialLineSettings settings = line.Settings();
    QCOMPARE(settings.baudRate, 9600u);
    QCOMPARE(settings.dataBits, 5);
    QCOMPARE(settings.parity, TParity::prNone);
    QCOMPARE(settings.stopBits, TStopBits::sbOneStopBit);
    QCOMPARE(settings.flowControl, TFlowControl::fcRtsCts);
    QCOMPARE(settings.enableDtr, true);
    QCOMPARE(settings.readBufSize, 64);
    QCOMPARE(settings.writeBufSize, 64);
    QCOMPARE(settings.eventMask, 0x0038u);
    QVERIFY(line.Dtr());

    port.SetBaudRate(TBaudRate::brUser);
    QCOMPARE(port.LineSettings().baudRate, 28800u);
    port.SetBaudRate(TBaudRate::br115200);
    QCOMPARE(port.LineSettings().baudRate, 115200u);
}

void TestComPort::openFailureRaisesEComHandle_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("message");
    QTest::newRow("system text")
        << 2 << "Das System kann die angegebene Datei nicht finden."
        << "Unable to open com port: Das System kann die angegebene Datei nicht finden.";
    QTest::newRow("no text: the code") << 5 << ""
                                       << "Unable to open com port: 5";
}

void TestComPort::openFailureRaisesEComHandle()
{
    QFETCH(int, code);
    QFETCH(QString, text);
    QFETCH(QString, message);

    FakeSerialLine line;
    line.FailOpenWith(SerialError::Kind::Open, code, text.toStdString());
    TComPort port;
    port.SetDeviceFactory(line.Factory());
    QSignalSpy opened(&port, &TComPort::OnOpen);

    QString caught;
    try {
        port.Open();
    } catch (const EComHandle& error) {
        caught = QString::fromStdString(error.what());
    }
    QCOMPARE(caught, message);
    QCOMPARE(port.Connected(), false);
    QCOMPARE(port.MonitorRunning(), false);
    QCOMPARE(opened.count(), 0);
}

void TestComPort::configureFailureRaisesEComState()
{
    FakeSerialLine line;
    line.FailOpenWith(SerialError::Kind::Configure, 87, "Falscher Parameter.");
    TComPort port;
    port.SetDeviceFactory(line.Factory());

    QString caught;
    try {
        port.Open();
    } catch (const EComState& error) {
        caught = QString::fromStdString(error.what());
    }
    QCOMPARE(caught, QString("Unable to set com state: Falscher Parameter."));
    QCOMPARE(port.Connected(), false);
}

void TestComPort::openOnOpenPortClosesFirst()
{
    FakeSerialLine line;
    QStringList sequence;
    TComPort port;
    port.SetDeviceFactory(line.Factory());
    connect(&port, &TComPort::OnOpen, this,
            [&](TComPort* sender) { sequence << QString("open %1").arg(sender->Connected()); });
    connect(&port, &TComPort::OnClose, this,
            [&](TComPort* sender) { sequence << QString("close %1").arg(sender->Connected()); });

    port.Open();
    port.Open();
    QCOMPARE(sequence, (QStringList{"open 1", "close 0", "open 1"}));
    QCOMPARE(line.Opens(), 2);
    QCOMPARE(line.Closes(), 1);
    QVERIFY(line.IsOpen());
}

void TestComPort::closeOnClosedPortDoesNothing()
{
    FakeSerialLine line;
    TComPort port;
    port.SetDeviceFactory(line.Factory());
    QSignalSpy closed(&port, &TComPort::OnClose);

    port.Close();
    QCOMPARE(closed.count(), 0);
    port.Open();
    port.Close();
    port.Close();
    QCOMPARE(closed.count(), 1);
    QCOMPARE(line.Closes(), 1);
    QCOMPARE(port.Connected(), false);
}

void TestComPort::closeWhileMonitorWaitsReturns()
{
    FakeSerialLine line;
    auto port = OpenPort(line);
    QVERIFY(line.WaitForIdleMonitor());
    QVERIFY(port->MonitorRunning());

    QElapsedTimer timer;
    timer.start();
    port->Close();
    QVERIFY2(timer.elapsed() < 2000, "Close hung on a waiting monitor");
    QCOMPARE(port->MonitorRunning(), false);
    QCOMPARE(line.Waiting(), 0);
    QCOMPARE(line.IsOpen(), false);
}

void TestComPort::closeWhileBatchWaitsForGuiReturnsAndDropsIt()
{
    FakeSerialLine line;
    auto port = OpenPort(line);
    QSignalSpy cts(port.get(), &TComPort::OnCTS);
    QSignalSpy closed(port.get(), &TComPort::OnClose);

    line.Raise(EV_CTS, MS_CTS_ON);
    QVERIFY(port->WaitForBatchOnOffer());

    QElapsedTimer timer;
    timer.start();
    port->Close();
    QVERIFY2(timer.elapsed() < 2000, "Close deadlocked with the pending hand-over");
    QCOMPARE(closed.count(), 1);

    // The hand-over already queued for the GUI thread finds nothing to do.
    QCoreApplication::processEvents();
    QCOMPARE(cts.count(), 0);
}

void TestComPort::closeFromInsideAHandlerEndsTheBatch()
{
    FakeSerialLine line;
    auto port = OpenPort(line);
    QStringList fired;
    connect(port.get(), &TComPort::OnCTS, this, [&](TComPort* sender) {
        fired << "CTS";
        sender->Close();
    });
    connect(port.get(), &TComPort::OnDSR, this, [&] { fired << "DSR"; });
    connect(port.get(), &TComPort::OnClose, this, [&] { fired << "close"; });

    line.Raise(EV_CTS | EV_DSR, MS_CTS_ON | MS_DSR_ON);
    QTRY_COMPARE(fired, (QStringList{"CTS", "close"}));
    QCoreApplication::processEvents();
    QCOMPARE(fired, (QStringList{"CTS", "close"}));
    QCOMPARE(port->MonitorRunning(), false);
}

void TestComPort::reopenAfterCloseDeliversAgain()
{
    FakeSerialLine line;
    auto port = OpenPort(line);
    QSignalSpy rlsd(port.get(), &TComPort::OnRLSD);
    port->Close();
    port->Open();

    line.Raise(EV_RLSD, MS_RLSD_ON);
    QTRY_COMPARE(rlsd.count(), 1);
}

void TestComPort::deviceLossClosesThePort()
{
    FakeSerialLine line;
    auto port = OpenPort(line);
    QVERIFY(line.WaitForIdleMonitor());
    QStringList sequence;
    connect(port.get(), &TComPort::OnClose, this, [&] { sequence << "close"; });
    connect(port.get(), &TComPort::OnDeviceLost, this, [&](TComPort* sender, const QString& reason) {
        sequence << "lost: " + reason;
        QCOMPARE(sender->Connected(), false);
    });

    line.Vanish(5, "Input/output error");
    QTRY_COMPARE(sequence, (QStringList{"close", "lost: Input/output error"}));
    QCOMPARE(port->Connected(), false);
    QCOMPARE(port->MonitorRunning(), false);
    QCOMPARE(line.IsOpen(), false);

    // The monitor left at the loss instead of waiting again and again (its
    // threads have ended, so the count is final).
    QCOMPARE(line.WaitCalls(), 1);
    QCOMPARE(sequence.size(), 2);
}

void TestComPort::eventTickIsTheMonitorsTick_data()
{
    QTest::addColumn<bool>("deviceTick");
    QTest::newRow("tick measured by the device") << true;
    QTest::newRow("tick read by the monitor") << false;
}

void TestComPort::eventTickIsTheMonitorsTick()
{
    QFETCH(bool, deviceTick);

    FakeTickSource ticks(50000);

    const TickSourceScope useTicks(ticks);
    FakeSerialLine line;
    auto port = OpenPort(line);
    QList<quint32> seen;
    connect(port.get(), &TComPort::OnDSR, this, [&](TComPort* sender) { seen << sender->EventTick(); });

    const quint32 expected = deviceTick ? 49990u : 50000u;
    line.Raise(EV_DSR, MS_DSR_ON, deviceTick ? std::optional<std::uint32_t>(49990) : std::nullopt);
    QVERIFY(line.WaitForIdleMonitor());
    // Time passes before the GUI thread gets to the batch.
    ticks.Advance(200);

    QTRY_COMPARE(seen.size(), 1);
    QCOMPARE(seen.at(0), expected);
    QCOMPARE(port->EventTick(), expected);
}

void TestComPort::destroyingAnOpenPortClosesIt()
{
    FakeSerialLine line;
    auto port = OpenPort(line);
    int closes = 0;
    connect(port.get(), &TComPort::OnClose, this, [&] { ++closes; });
    QVERIFY(line.WaitForIdleMonitor());

    port.reset();
    QCOMPARE(closes, 1);
    QCOMPARE(line.IsOpen(), false);
    QCOMPARE(line.Waiting(), 0);
}

void TestComPort::missingRealTimePriorityIsToldToTheOperator_data()
{
    QTest::addColumn<bool>("granted"); // by the desktop's RealtimeKit
    QTest::newRow("granted by RealtimeKit") << true;
    QTest::newRow("no way to real-time priority") << false;
}

void TestComPort::missingRealTimePriorityIsToldToTheOperator()
{
    QFETCH(bool, granted);

    FakeSerialLine line;
    line.SetNotes({"Adapter-Hinweis."});
    TComPort port;
    port.SetDeviceFactory(line.Factory());
    port.SetPort(1);
    std::atomic<int> asked{0};
    SetRealTimeGrant([&asked, granted] {
        ++asked;
        return granted;
    });
    {
        WithoutRealTimeRights ordinaryUser;
        port.Open();
    }
    SetRealTimeGrant(nullptr);
    QVERIFY(asked > 0);
    QCOMPARE(port.MonitorPriority() == StampingPriority::RealTime, granted);
    const QStringList expected =
        granted ? QStringList{"Adapter-Hinweis."} : QStringList{"Adapter-Hinweis.", StampingPriorityNote()};
    QCOMPARE(port.DeviceNotes(), expected);
    QVERIFY(StampingPriorityNote().contains(QStringLiteral("rtkit")));
    port.Close();
}

QTEST_MAIN(TestComPort)
#include "tst_comport.moc"
