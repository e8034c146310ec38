#include "ActiveWindow.h"
#include "BarrierPictures.h"
#include "FakeSerialDevice.h"
#include "FakeTickSource.h"
#include "FormMainAccess.h"
#include "FreePort.h"
#include "LineSampler.h"
#include "ProtocolLogic.h"
#include "SerialAdapters.h"
#include "SerialPorts.h"
#include "StartLinkPort.h"
#include "TBitBtnWithColor.h"
#include "TCfgDialog.h"
#include "TComPort.h"
#include "TFormMain.h"
#include "TFormStation.h"
#include "TSortGrid.h"
#include "TStatusBar.h"
#include "TestDialogs.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QHash>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QSignalSpy>
#include <QSpinBox>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <bit>
#include <cerrno>
#include <memory>

// The light barriers on a real main window, through the fake serial device.
class TestFormMainBarrier : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<FakeTickSource> clock;
    std::unique_ptr<TestDialogs> dialogs;
    std::unique_ptr<FakeSerialLine> line;
    std::unique_ptr<TTestFormMain> window;
    QTemporaryDir settingsDir;
    int dispatched = 0; // line events the port has handed to the window
    QList<int> presentPorts{1, 3};
    QHash<int, QString> portProblems; // what keeps this user from a port
    QTemporaryDir devFolder;          // device nodes and their by-id links
    bool linkOnFakeTicks = false;     // the start station's link runs on the fake ticks

    QString SettingsFile() const { return settingsDir.filePath(QStringLiteral("settings.ini")); }

    // A window whose stored settings name COM1 with these edges and lanes (or
    // what adjust makes of them); the scan finds presentPorts.
    void CreateWindow(int alg1 = 0, int alg2 = 0, int alg3 = 0, int countBahn = 2,
                      const std::function<void(TStoredSettings&)>& adjust = {})
    {
        QFile::remove(SettingsFile());
        {
            TStoredSettings stored;
            stored.Left = 10;
            stored.Top = 10;
            stored.Port = 1;
            stored.Alg1 = alg1;
            stored.Alg2 = alg2;
            stored.Alg3 = alg3;
            stored.CountBahn = countBahn;
            if (adjust)
                adjust(stored);
            QSettings file(SettingsFile(), QSettings::IniFormat);
            QVERIFY(WriteSettings(file, stored));
        }
        TSystemAccess access;
        access.Ticks = clock.get();
        if (linkOnFakeTicks)
            access.StartLinkClock = [this] { return LinkNow(); };
        access.Dialogs = dialogs.get();
        const QString file = SettingsFile();
        access.OpenSettings = [file] { return std::make_unique<QSettings>(file, QSettings::IniFormat); };
        access.ScanPorts = [this] { return ComputePortsFound(presentPorts); };
        access.PortAccessProblem = [this](int port) { return portProblems.value(port); };
        access.DeviceFactory = line->Factory();
        access.SerialByIdFolder = devFolder.filePath(QStringLiteral("serial/by-id"));
        window = std::make_unique<TTestFormMain>(std::move(access));
        QVERIFY(ShowActive(*window));

        ProtocolTable rows;
        for (int row = 1; row < 5; ++row) {
            QStringList cells(ProtocolColumnCount);
            cells[ColNr] = QString::number(row);
            cells[ColName] = QStringLiteral("Fahrer%1").arg(row);
            cells[ColKlasse] = QStringLiteral("A");
            rows.append(cells);
        }
        window->FillProtocolRows(rows);
        window->FillLaneLists();
        window->UpdateCommandStates();
        window->SetUnsaved(false);
        dispatched = 0;
        for (auto signal : {&TComPort::OnCTS, &TComPort::OnDSR, &TComPort::OnRLSD})
            connect(window->ComPort, signal, this, [this] { ++dispatched; });
        if (window->ComPort->Connected())
            QVERIFY(line->WaitForIdleMonitor());
    }

    // Lets the GUI thread run the handlers until this many line events more
    // than before have been dispatched.
    void Deliver(int events)
    {
        const int target = dispatched + events;
        QElapsedTimer waited;
        waited.start();
        while (dispatched < target && waited.elapsed() < 5000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QVERIFY2(dispatched >= target, "the line events were not handed to the window");
    }

    void Edge(std::uint32_t events, std::uint32_t status, std::optional<std::uint32_t> tick = std::nullopt)
    {
        line->Raise(events, status, tick);
        Deliver(std::popcount(events & (EV_CTS | EV_DSR | EV_RLSD)));
    }

    void EndLock() { window->TimerGesperrtTimer(); }

    // The fake ticks in microseconds, for both ends of the start station's link.
    qint64 LinkNow() const { return qint64(clock->GetTickCount()) * 1000; }

    // Where the lane-dependent parts of the window lie, at a fixed window size.
    QList<QRect> LaneLayout()
    {
        window->resize(900, 500);
        QApplication::processEvents();
        QList<QRect> layout;
        for (QWidget* part : std::initializer_list<QWidget*>{
                 window->PanelLL, window->PanelRR, window->PanelT1, window->Panel7, window->PanelLE,
                 window->PanelRI, window->bSTOP1, window->bSTOP2, window->PanelTTT2})
            layout.append(part->isVisible() ? QRect(part->mapTo(window.get(), QPoint()), part->size())
                                            : QRect());
        return layout;
    }

    bool On(QLabel* image) const { return window->BarrierOn(image); }
    QString Cell(int col, int row) const { return window->SortGrid1->Cells(col, row); }

private Q_SLOTS:
    void initTestCase()
    {
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        // The stamping threads' priority and its note are tst_comport's
        // subject: here they get it whoever runs the test.
        SetRealTimeGrant([] { return true; });
    }

    void init()
    {
        clock = std::make_unique<FakeTickSource>(50000);
        dialogs = std::make_unique<TestDialogs>();
        line = std::make_unique<FakeSerialLine>();
        presentPorts = {1, 3};
        linkOnFakeTicks = false;
    }

    void cleanup()
    {
        if (window)
            window->SetUnsaved(false);
        window.reset();
        line.reset();
        dialogs.reset();
        clock.reset();
    }

    void storedPortOpensWithTheBarrierLineSettings()
    {
        CreateWindow();
        QVERIFY(window->ComPort->Connected());
        QCOMPARE(line->Path(), PortDeviceName(1).toStdString());
        QCOMPARE(line->Settings().dataBits, 5);
        QCOMPARE(line->Settings().flowControl, TFlowControl::fcRtsCts);
        QVERIFY(line->Dtr());
        QVERIFY(window->ImageLSstart->isVisible());
        QVERIFY(window->ImageLS1->isVisible());
        QVERIFY(!On(window->ImageLSstart));
    }

    void startContactStartsOnlyWhenArmedAndAvailable()
    {
        CreateWindow();
        Edge(EV_CTS, MS_CTS_ON, 50100);
        QVERIFY(!window->Clock->isActive());
        QVERIFY2(window->TimerGesperrtStart->isActive(), "an accepted start edge locks even when disarmed");
        EndLock();

        window->LockLSstart->trigger(); // F4: start barrier on
        QVERIFY(On(window->ImageLSstart));
        window->cbBuhn2->setCurrentIndex(0); // both lanes on one starter: START unavailable
        Edge(EV_CTS, 0);
        Edge(EV_CTS, MS_CTS_ON, 50200);
        QVERIFY(!window->Clock->isActive());
        EndLock();

        window->cbBuhn2->setCurrentIndex(1);
        Edge(EV_CTS, 0);
        Edge(EV_CTS, MS_CTS_ON, 50300);
        QVERIFY(window->Clock->isActive());
        QVERIFY(!On(window->ImageLSstart));
        QVERIFY(window->TimerGesperrtStart->isActive());

        // The run was started at the edge's tick.
        EndLock();
        QVERIFY(On(window->ImageLS1));
        QVERIFY(On(window->ImageLS2));
        Edge(EV_DSR, MS_DSR_ON, 50300 + 7250);
        QCOMPARE(Cell(ColLauf1, 1), QStringLiteral("7,25"));
        QVERIFY(!On(window->ImageLS1));
    }

    void startBeamCrossedDuringARunLeavesTheFinishLinesListening()
    {
        CreateWindow();
        window->LockLSstart->trigger();
        Edge(EV_CTS, MS_CTS_ON, 50000); // the car leaves
        QVERIFY(window->Clock->isActive());
        EndLock();
        Edge(EV_CTS, 0, 50400);
        // A helper walks through the start beam 1.5 s into the run.
        Edge(EV_CTS, MS_CTS_ON, 51500);
        Edge(EV_CTS, 0, 51700);
        QVERIFY(!window->TimerGesperrtStart->isActive());
        Edge(EV_DSR, MS_DSR_ON, 51700); // the car arrives 0.2 s later
        QCOMPARE(Cell(ColLauf1, 1), QStringLiteral("1,70"));
    }

    // The start station at the top of the track, over loopback: its crew arms
    // the start barrier, its start starts the run at the station's stamp, the
    // finish's own start line starts nothing, and a finish edge that comes
    // before the start (the link down) waits, shown, for the exact time.
    void startStationStartsTheRunsAtTheFinish()
    {
        const quint16 port = FreeUdpPort();
        QVERIFY(port != 0);
        const QString code = QStringLiteral("ABCDEFGHJKLMNPQR");
        linkOnFakeTicks = true;
        CreateWindow(0, 0, 0, 2, [&](TStoredSettings& s) {
            s.StartplatzPort = port;
            s.StartplatzSchluessel = code;
        });
        QVERIFY(window->StartLink());
        QVERIFY(window->Session().StationPaired());
        auto* state = window->findChild<QLabel*>(QStringLiteral("StartLinkState"));
        QVERIFY(state && state->isVisible());
        QCOMPARE(state->text(), QStringLiteral("Startplatz nicht verbunden"));
        TStationStartLinkPort station(StartLinkKey(code), 4711, [this] { return LinkNow(); });
        QString error;
        QVERIFY2(station.Open(QHostAddress::LocalHost, port, &error), qPrintable(error));
        // The probes go while the (fake) clock moves on.
        QTRY_VERIFY_WITH_TIMEOUT((clock->Advance(200), station.Link().Agreement().IsGood(station.Now())),
                                 20000);
        QTRY_VERIFY_WITH_TIMEOUT(state->text().startsWith(QStringLiteral("Startplatz verbunden")), 10000);

        station.RequestArm(true);
        QTRY_VERIFY_WITH_TIMEOUT(On(window->ImageLSstart), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(station.Link().FinishStatus() && station.Link().FinishStatus()->startArmed,
                                 10000);
        QCOMPARE(station.Link().FinishStatus()->lane1, QStringLiteral("1 Fahrer1 (A)"));
        QCOMPARE(station.Link().FinishStatus()->lane2, QStringLiteral("2 Fahrer2 (A)"));
        QCOMPARE(FinishRunStateText(station.Link().FinishStatus()->runState), QStringLiteral("Strecke frei"));
        // The finish barriers are off until a start arms them: no start has come.
        QVERIFY(!On(window->ImageLS1) && !On(window->ImageLS2));

        // A wire left on the finish's start line starts nothing.
        Edge(EV_CTS, MS_CTS_ON, clock->GetTickCount());
        QVERIFY(!window->Clock->isActive());

        // The station's edge stamped now; lane 1 finishes 30 s later, before the start has arrived.
        const std::uint32_t startTick = clock->GetTickCount();
        clock->Advance(31000);
        Edge(EV_DSR, MS_DSR_ON, startTick + 30000);
        auto* pending = window->findChild<QLabel*>(QStringLiteral("StartPending1"));
        QVERIFY(pending && pending->isVisible());
        QVERIFY(!window->Clock->isActive());
        QTRY_COMPARE_WITH_TIMEOUT(FinishRunStateText(station.Link().FinishStatus()->runState),
                                  QStringLiteral("Ziel wartet"), 10000);
        station.Edge(qint64(startTick) * 1000);
        QTRY_COMPARE_WITH_TIMEOUT(Cell(ColLauf1, 1), QStringLiteral("30,00"), 10000);
        QVERIFY(!pending->isVisible());
        QVERIFY(window->Clock->isActive());
        QVERIFY(!On(window->ImageLSstart));
        EndLock();
        Edge(EV_RLSD, MS_RLSD_ON, startTick + 31250);
        QCOMPARE(Cell(ColLauf2, 1).isEmpty(), true);
        QCOMPARE(Cell(ColLauf1, 2), QStringLiteral("31,25"));
        QTRY_VERIFY_WITH_TIMEOUT(station.Link().Outbox().Pending().empty(), 10000);

        // F5 stays the fallback, journalled as a start by hand.
        window->bRESET->click();
        QVERIFY(window->Session().Idle());
        QVERIFY(window->mStart->isEnabled());
        window->mStart->trigger();
        QVERIFY(window->Clock->isActive());
    }

    // The station's own window on its own (fake) serial line, beside the finish's:
    // [F4] at the station arms the finish's start barrier, the station's start
    // edge starts the run at its tick, the finish's edge stops it; the start
    // not yet acknowledged is kept in the station's file.
    void startStationWindowStartsTheFinishsRun()
    {
        const quint16 port = FreeUdpPort();
        QVERIFY(port != 0);
        const QString code = QStringLiteral("23456789ABCDEFGH");
        linkOnFakeTicks = true;
        CreateWindow(0, 0, 0, 2, [&](TStoredSettings& s) {
            s.StartplatzPort = port;
            s.StartplatzSchluessel = code;
        });
        window->LockLS1->trigger();
        window->LockLS21->trigger();
        const QString stationSettings = settingsDir.filePath(QStringLiteral("station.ini"));
        {
            TStoredSettings stored;
            stored.Port = 1;
            stored.ZielAdresse = QStringLiteral("127.0.0.1:%1").arg(port);
            stored.StartplatzSchluessel = code;
            QSettings file(stationSettings, QSettings::IniFormat);
            QVERIFY(WriteSettings(file, stored));
        }
        FakeSerialLine stationLine;
        TStationAccess access;
        access.OpenSettings = [stationSettings] {
            return std::make_unique<QSettings>(stationSettings, QSettings::IniFormat);
        };
        access.DeviceFactory = stationLine.Factory();
        access.Clock = [this] { return LinkNow(); };
        access.OutboxFile = settingsDir.filePath(QStringLiteral("startplatz-starts.bin"));
        TFormStation station(access);
        QVERIFY(ShowActive(station));
        QVERIFY(stationLine.WaitForIdleMonitor());
        QTRY_VERIFY_WITH_TIMEOUT(
            (clock->Advance(200), station.RunState->text() == QStringLiteral("Strecke frei")), 20000);
        QTRY_VERIFY_WITH_TIMEOUT((clock->Advance(200), station.Link()->Link().Agreement().IsGood(LinkNow())),
                                 20000);
        QCOMPARE(station.Lane1->text(), QStringLiteral("1 Fahrer1 (A)"));
        QCOMPARE(station.BarrierState->text(), QStringLiteral("Start-Lichtschranke aus"));

        QTest::keyClick(&station, Qt::Key_F4);
        QTRY_VERIFY_WITH_TIMEOUT(On(window->ImageLSstart), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(station.BarrierState->text(), QStringLiteral("Start-Lichtschranke scharf"),
                                  10000);

        const std::uint32_t startTick = clock->GetTickCount();
        stationLine.Raise(EV_CTS, MS_CTS_ON, startTick);
        QTRY_VERIFY_WITH_TIMEOUT(window->Clock->isActive(), 10000);
        QCOMPARE(station.LastStarts->count(), 1);
        // Acknowledged, the start leaves the station's file.
        QTRY_VERIFY_WITH_TIMEOUT(station.Link()->Link().Outbox().Pending().empty(), 10000);
        QFile kept(access.OutboxFile);
        QVERIFY(kept.open(QIODevice::ReadOnly));
        TStartOutbox empty(1);
        QVERIFY(empty.Load(kept.readAll(), 0));
        QVERIFY(empty.Pending().empty());
        QTRY_COMPARE_WITH_TIMEOUT(station.RunState->text(), QStringLiteral("Läuft"), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(station.LastStarts->item(0)->text().endsWith(QStringLiteral("Start im Ziel")),
                                 10000);
        EndLock();
        Edge(EV_DSR, MS_DSR_ON, startTick + 25430);
        QCOMPARE(Cell(ColLauf1, 1), QStringLiteral("25,43"));

        // The finish falls silent: the crew is not told the track is still as it was.
        window->SetUnsaved(false);
        window.reset();
        QTRY_VERIFY_WITH_TIMEOUT(
            (clock->Advance(200), station.RunState->text() == QStringLiteral("Kein Kontakt zum Ziel")), 20000);
        QVERIFY(station.LinkState->text().startsWith(QStringLiteral("Ziel seit ")));
    }

    // The repeat filter compares the whole status word: the same line state
    // with another line asserted counts as a new edge of this line.
    void repeatFilterComparesTheWholeWord_data()
    {
        QTest::addColumn<quint32>("status");
        QTest::addColumn<QString>("time");
        QTest::newRow("the same word again is dropped") << quint32(MS_DSR_ON) << QString();
        QTest::newRow("the same line state with CTS on stops the lane")
            << quint32(MS_DSR_ON | MS_CTS_ON) << QStringLiteral("7,25");
    }

    void repeatFilterComparesTheWholeWord()
    {
        QFETCH(quint32, status);
        QFETCH(QString, time);
        CreateWindow();
        window->mStart->trigger();      // at tick 50000
        Edge(EV_DSR, MS_DSR_ON, 50100); // the beam broken during the lock: recorded, no stop
        EndLock();
        Edge(EV_DSR, status, 50000 + 7250);
        QCOMPARE(Cell(ColLauf1, 1), time);
        QCOMPARE(window->bSTOP1->isEnabled(), time.isEmpty());
    }

    void offEdgeFiresWhenTheContactOpens()
    {
        CreateWindow(1, 1, 1);
        window->LockLSstart->trigger();
        Edge(EV_CTS, MS_CTS_ON);
        QVERIFY(!window->Clock->isActive());
        Edge(EV_CTS, 0, 60000);
        QVERIFY(window->Clock->isActive());
    }

    void startEdgeDuringTheLockIsDroppedAndDoesNotProlongIt()
    {
        CreateWindow();
        window->LockLSstart->trigger();
        Edge(EV_CTS, MS_CTS_ON, 50000);
        QVERIFY(window->Clock->isActive());
        window->LockLSstart->trigger(); // armed again, still locked
        Edge(EV_CTS, 0, 50300);
        Edge(EV_CTS, MS_CTS_ON, 50300);
        QVERIFY(On(window->ImageLSstart));
        // The lock is judged on the edges' ticks: the first one ends at 60 000,
        // and the finish barriers waiting for it count from then, before any
        // timer says so. A lock started again at 50 300 would drop this stop.
        Edge(EV_DSR, MS_DSR_ON, 60100);
        QCOMPARE(Cell(ColLauf1, 1), QStringLiteral("10,10"));
    }

    // A finish barrier wired to the start line still starts, where it is on;
    // a switched-off one (both are, until the first lock ends) leaves the start
    // to the start barrier: a helper walking through it takes nothing away.
    void finishEdgeWhileIdleStartsTheRunOnlyWhenItsBarrierIsOn_data()
    {
        QTest::addColumn<std::uint32_t>("event");
        QTest::addColumn<std::uint32_t>("status");
        QTest::addColumn<bool>("finishOn");
        QTest::addColumn<QString>("note");
        QTest::newRow("lane 2 on") << EV_RLSD << MS_RLSD_ON << true
                                   << QStringLiteral("Start durch Ziel-Lichtschranke Bahn 2");
        QTest::newRow("lane 1 on") << EV_DSR << MS_DSR_ON << true
                                   << QStringLiteral("Start durch Ziel-Lichtschranke Bahn 1");
        QTest::newRow("lane 1 off") << EV_DSR << MS_DSR_ON << false << QString();
        QTest::newRow("lane 2 off") << EV_RLSD << MS_RLSD_ON << false << QString();
    }

    void finishEdgeWhileIdleStartsTheRunOnlyWhenItsBarrierIsOn()
    {
        QFETCH(std::uint32_t, event);
        QFETCH(std::uint32_t, status);
        QFETCH(bool, finishOn);
        QFETCH(QString, note);
        CreateWindow();
        window->LockLSstart->trigger();
        if (finishOn) {
            QTest::keyClick(window.get(), event == EV_DSR ? Qt::Key_F11 : Qt::Key_F12);
            QVERIFY(On(event == EV_DSR ? window->ImageLS1 : window->ImageLS2));
        }
        Edge(event, status, 51000);
        QCOMPARE(window->Clock->isActive(), finishOn);
        QCOMPARE(window->statusBar()->currentMessage(), note);
        if (!finishOn) {
            QVERIFY(On(window->ImageLSstart));
            Edge(EV_CTS, MS_CTS_ON, 52000); // the real start
            QVERIFY(window->Clock->isActive());
        }
        QVERIFY(window->bSTOP2->isEnabled());
        clock->Set(55000);
        QTest::keyClick(window.get(), Qt::Key_F8);
        QCOMPARE(Cell(ColLauf1, 1), finishOn ? QStringLiteral("4,00") : QStringLiteral("3,00"));
    }

    void secondFinishEdgeOnAStoppedLaneDoesNothing()
    {
        CreateWindow();
        window->mStart->trigger();
        EndLock();
        clock->Advance(5000);
        Edge(EV_DSR, MS_DSR_ON, 55000);
        QCOMPARE(Cell(ColLauf1, 1), QStringLiteral("5,00"));
        window->LockLS1->trigger(); // the operator arms lane 1 again by mistake
        Edge(EV_DSR, 0);
        Edge(EV_DSR, MS_DSR_ON, 56000);
        QCOMPARE(Cell(ColLauf1, 1), QStringLiteral("5,00"));
        QCOMPARE(Cell(ColLauf2, 1), QString());
    }

    void switchedOffFinishBarrierDoesNotStopItsLane()
    {
        CreateWindow();
        window->mStart->trigger();
        EndLock();
        window->LockLS21->trigger(); // F12: lane 2 barrier off
        QVERIFY(!On(window->ImageLS2));
        Edge(EV_RLSD, MS_RLSD_ON, 53000);
        QVERIFY(window->bSTOP2->isEnabled());
        clock->Advance(4000);
        QTest::keyClick(window.get(), Qt::Key_F9);
        QCOMPARE(Cell(ColLauf1, 2), QStringLiteral("4,00"));
    }

    void startEdgeInTheFinishsBatchDropsNothing()
    {
        CreateWindow();
        window->mStart->trigger();
        EndLock();
        // The start contact closing again while cars run neither locks the
        // lines nor costs the lane 1 edge of the same batch its stop.
        Edge(EV_CTS | EV_DSR, MS_CTS_ON | MS_DSR_ON, 52000);
        QVERIFY(!window->TimerGesperrtStart->isActive());
        QVERIFY(!window->bSTOP1->isEnabled());
        QCOMPARE(Cell(ColLauf1, 1), QStringLiteral("2,00"));
    }

    void firstEventOfEachLineIsEvaluated_data()
    {
        QTest::addColumn<std::uint32_t>("event");
        QTest::addColumn<int>("alg1");
        QTest::addColumn<int>("alg2");
        QTest::addColumn<int>("alg3");
        QTest::newRow("start OFF, line low") << EV_CTS << 1 << 0 << 0;
        QTest::newRow("lane 1 OFF, line low") << EV_DSR << 0 << 1 << 0;
        QTest::newRow("lane 2 OFF, line low") << EV_RLSD << 0 << 0 << 1;
    }

    void firstEventOfEachLineIsEvaluated()
    {
        QFETCH(std::uint32_t, event);
        QFETCH(int, alg1);
        QFETCH(int, alg2);
        QFETCH(int, alg3);
        CreateWindow(alg1, alg2, alg3);
        window->LockLSstart->trigger();
        window->LockLS1->trigger();
        window->LockLS21->trigger();
        Edge(event, 0, 52000);
        QVERIFY(window->Clock->isActive());
    }

    void closeFinishWhileTheWindowIsBusyKeepsBothTimes()
    {
        CreateWindow();
        window->mStart->trigger(); // at tick 50000
        EndLock();
        // The window is busy (this thread handles no events) while both cars
        // finish, 30 ms apart, and for 100 ms after.
        clock->Set(50000 + 9900);
        line->Raise(EV_DSR, MS_DSR_ON);
        QVERIFY(line->WaitForIdleMonitor());
        clock->Set(50000 + 9930);
        line->Raise(EV_RLSD, MS_DSR_ON | MS_RLSD_ON);
        QVERIFY2(line->WaitForIdleMonitor(), "the second edge waited for the busy window");
        clock->Advance(100);
        QThread::msleep(100);
        Deliver(2);
        QCOMPARE(Cell(ColLauf1, 1), QStringLiteral("9,90"));
        QCOMPARE(Cell(ColLauf1, 2), QStringLiteral("9,93"));
    }

    void deviceLossKeepsKeysTiming()
    {
        CreateWindow();
        window->mStart->trigger();
        line->Vanish(5, "Input/output error");
        QTRY_VERIFY(!window->ComPort->Connected());
        QVERIFY(!window->ImageLS1->isVisible());
        QVERIFY(window->statusBar()->currentMessage().contains(QStringLiteral("unterbrochen")));
        QVERIFY(!window->ComPort->MonitorRunning());
        clock->Advance(3330);
        QTest::keyClick(window.get(), Qt::Key_F8);
        QCOMPARE(Cell(ColLauf1, 1), QStringLiteral("3,33"));
    }

    void closingWithABatchWaitingDoesNotHang()
    {
        CreateWindow();
        line->Raise(EV_CTS, MS_CTS_ON);
        QVERIFY(window->ComPort->WaitForBatchOnOffer());
        QElapsedTimer elapsed;
        elapsed.start();
        window.reset();
        QVERIFY2(elapsed.elapsed() < 2000, "closing the port hung");
        QVERIFY(!line->IsOpen());
    }

    void settingsDialogAppliesLockTimeAndLanes()
    {
        CreateWindow();
        dialogs->modalAnswers.enqueue([this](QDialog&) {
            TCfgDialog* dialog = window->CfgDialog;
            QVERIFY(dialog->isVisible());
            QCOMPARE(dialog->cbPort->currentIndex(), 1); // COM1
            dialog->seTimeout->setValue(1);
            dialog->seProbe->setValue(1);
            QCOMPARE(dialog->rgBahn->ItemIndex(), 1); // two lanes
            dialog->rgBahn->Button(0)->click();
            dialog->OKBtn->click();
        });
        const int opensBefore = line->Opens();
        QVERIFY(window->PanelRI->isVisibleTo(window.get()));
        window->bCFGClick();
        QCOMPARE(window->TimerGesperrtStart->interval(), 1000);
        QCOMPARE(window->Settings.ProbeLaufe, 1);
        QCOMPARE(window->Settings.CountBahn, 1);
        QVERIFY(!window->PanelRI->isVisibleTo(window.get())); // lane 2's stop button went away
        QCOMPARE(line->Opens(), opensBefore);                 // same port entry: not reopened
        QVERIFY(window->ComPort->Connected());

        window.reset();
        QSettings stored(SettingsFile(), QSettings::IniFormat);
        QCOMPARE(stored.value(QStringLiteral("TimerGesperrt")).toInt(), 1000);
        QCOMPARE(stored.value(QStringLiteral("ProbeLaufe")).toInt(), 1);
        QCOMPARE(stored.value(QStringLiteral("CountBahn")).toInt(), 1);
        QCOMPARE(stored.value(QStringLiteral("Port")).toInt(), 1);
    }

    void laneCountFromTheSettingsLaysOutAsAtStartUp_data()
    {
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("to");
        QTest::newRow("two lanes to one") << 2 << 1;
        QTest::newRow("one lane to two") << 1 << 2;
    }

    void laneCountFromTheSettingsLaysOutAsAtStartUp()
    {
        QFETCH(int, from);
        QFETCH(int, to);
        CreateWindow(0, 0, 0, to);
        const QList<QRect> atStartUp = LaneLayout();

        CreateWindow(0, 0, 0, from);
        LaneLayout();
        dialogs->modalAnswers.enqueue([this, to](QDialog&) {
            window->CfgDialog->rgBahn->Button(to - 1)->click();
            window->CfgDialog->OKBtn->click();
        });
        window->bCFGClick();
        QCOMPARE(window->Settings.CountBahn, to);
        QCOMPARE(LaneLayout(), atStartUp);
    }

    void choosingNoPortClosesIt()
    {
        CreateWindow(1, 1, 1);
        dialogs->modalAnswers.enqueue([this](QDialog&) {
            window->CfgDialog->cbPort->setCurrentIndex(0); // "Kein"
            window->CfgDialog->OKBtn->click();
        });
        window->bCFGClick();
        QVERIFY(!window->ComPort->Connected());
        QCOMPARE(window->ComPort->Port(), std::uint8_t(0));
        QCOMPARE(window->Settings.Alg1, 1);
        QVERIFY(!window->ImageLSstart->isVisible());
    }

    void settingsAreWrittenWhenTheDialogClosesWithOk()
    {
        CreateWindow(0, 0, 0, 2);
        dialogs->modalAnswers.enqueue([this](QDialog&) {
            window->CfgDialog->rgBahn->Button(0)->click();
            window->CfgDialog->seProbe->setValue(3);
            window->CfgDialog->seMindestzeit->setValue(4.5);
            window->CfgDialog->OKBtn->click();
        });
        window->bCFGClick();
        // Read by a new store, as after a crash: nothing waits for the window's end.
        QSettings stored(SettingsFile(), QSettings::IniFormat);
        const TStoredSettings read = ReadSettings(stored);
        QCOMPARE(read.CountBahn, 1);
        QCOMPARE(read.ProbeLaufe, 3);
        QCOMPARE(read.Mindestzeit, 450);
        QCOMPARE(window->Settings.Mindestzeit, 450);

        dialogs->modalAnswers.enqueue([this](QDialog&) {
            window->CfgDialog->seProbe->setValue(4);
            window->CfgDialog->CancelBtn->click();
        });
        window->bCFGClick();
        QSettings again(SettingsFile(), QSettings::IniFormat);
        QCOMPARE(ReadSettings(again).ProbeLaufe, 3);
    }

    void windowBoundsAreWrittenOnceTheyRest()
    {
        CreateWindow();
        QSignalSpy written(window->TimerSaveBounds, &QTimer::timeout);
        window->resize(900, 600);
        window->resize(910, 610); // a drag: one write at its end
        QVERIFY(written.wait(10000));
        QSettings stored(SettingsFile(), QSettings::IniFormat);
        const TStoredSettings read = ReadSettings(stored);
        QCOMPARE(read.Width, 910);
        QCOMPARE(read.Height, 610);
        QCOMPARE(written.count(), 1);
    }

    void storedPortOutsideTheNumbersMeansNone()
    {
        CreateWindow(0, 0, 0, 2, [](TStoredSettings& stored) { stored.Port = 17; });
        QVERIFY(!window->ComPort->Connected());
        QCOMPARE(window->ComPort->Port(), std::uint8_t(0));
        QCOMPARE(line->Opens(), 0);
        dialogs->modalAnswers.enqueue([this](QDialog&) {
            QCOMPARE(window->CfgDialog->cbPort->currentText(), QStringLiteral("Kein"));
            window->CfgDialog->CancelBtn->click();
        });
        window->bCFGClick();
    }

    void adapterIsOpenedWhereverItIsPluggedIn()
    {
        // The club's adapter was COM5 (ttyUSB0) and came back as ttyUSB1.
        QDir dev(devFolder.path());
        QVERIFY(dev.mkpath(QStringLiteral("serial/by-id")));
        QFile node(dev.filePath(QStringLiteral("ttyUSB1")));
        QVERIFY(node.open(QIODevice::WriteOnly));
        const QString adapter = QStringLiteral("usb-FTDI_FT232R_USB_UART_A10K3XYZ-if00-port0");
        QVERIFY(QFile::link(QStringLiteral("../../ttyUSB1"), dev.filePath("serial/by-id/" + adapter)));
        presentPorts = {5, 6};

        CreateWindow(0, 0, 0, 2, [&](TStoredSettings& stored) {
            stored.Port = 5;
            stored.PortAdapter = adapter;
        });
        QVERIFY(window->ComPort->Connected());
        QCOMPARE(QString::fromStdString(line->Path()), QFileInfo(node).canonicalFilePath());
        QCOMPARE(window->ComPort->Port(), std::uint8_t(6));

        window.reset();
        QSettings stored(SettingsFile(), QSettings::IniFormat);
        QCOMPARE(stored.value(QStringLiteral("Port")).toInt(), 6);
        QCOMPARE(stored.value(QStringLiteral("PortAdapter")).toString(), adapter);
    }

    void lostPortIsReopenedWhenItComesBack()
    {
        CreateWindow();
        line->SetNotes({"Adapter meldet nur alle 16 ms."});
        line->Vanish(5, "Input/output error");
        line->FailOpenWith(SerialError::Kind::Open, 2, "No such file or directory"); // unplugged
        QTRY_VERIFY(!window->ComPort->Connected());
        QVERIFY(window->TimerReconnect->isActive());
        QSignalSpy looked(window->TimerReconnect, &QTimer::timeout);
        QVERIFY(looked.wait(5000)); // looked once, in vain
        QVERIFY(!window->ComPort->Connected());
        QCOMPARE(line->Opens(), 1);

        line->FailOpenWith(SerialError::Kind::None, 0, {}); // plugged in again
        QTRY_VERIFY_WITH_TIMEOUT(window->ComPort->Connected(), 3000);
        QVERIFY(!window->TimerReconnect->isActive());
        QVERIFY(window->ImageLS1->isVisible());
        QCOMPARE(window->statusBar()->currentMessage(),
                 QStringLiteral("Lichtschranken wieder verbunden (COM1). Adapter meldet nur alle 16 ms."));
    }

    void choosingTheSameEntryReopensALostPort()
    {
        CreateWindow();
        line->Vanish(5, "Input/output error");
        QTRY_VERIFY(!window->ComPort->Connected());
        window->TimerReconnect->stop();
        dialogs->modalAnswers.enqueue([this](QDialog&) {
            QCOMPARE(window->CfgDialog->cbPort->currentText().section(' ', 0, 0), QStringLiteral("COM1"));
            window->CfgDialog->OKBtn->click();
        });
        window->bCFGClick();
        QVERIFY(window->ComPort->Connected());
        QCOMPARE(line->Opens(), 2);
    }

    void portListIsScannedAgainWhenTheDialogOpens()
    {
        CreateWindow();
        line->SetNotes({"Adapter ohne Meldung von Leitungswechseln."});
        // COM1 is this program's own (held exclusively, so the scan can't see
        // it); an adapter was plugged in as COM6 meanwhile.
        presentPorts = {3, 6};
        QStringList entries;
        QString note;
        dialogs->modalAnswers.enqueue([&](QDialog&) {
            QComboBox* ports = window->CfgDialog->cbPort;
            for (int i = 0; i < ports->count(); ++i)
                entries << ports->itemText(i).section(' ', 0, 0);
            note = window->CfgDialog->LabelPortNote->isVisible() ? window->CfgDialog->LabelPortNote->text()
                                                                 : QString();
            window->CfgDialog->CancelBtn->click();
        });
        window->bCFGClick();
        QCOMPARE(entries, (QStringList{"Kein", "COM1", "COM3", "COM6"}));
        QCOMPARE(note, QStringLiteral("Adapter ohne Meldung von Leitungswechseln."));
    }

    // An ordinary user outside the group dialout: the settings mark the port,
    // the failed open stays in the status bar and on the barrier pictures, and
    // the port opens by itself once the user may open it.
    void portThisUserMayNotOpenIsMarkedUntilItOpens()
    {
        portProblems.insert(1, NoPortPermissionText);
        line->FailOpenWith(SerialError::Kind::Open, EACCES, "Permission denied");
        CreateWindow();
        const QString fault = QStringLiteral("Lichtschranken an COM1 (/dev/ttyS0) nicht geöffnet: keine "
                                             "Berechtigung – Benutzer zur Gruppe dialout hinzufügen");
        QVERIFY(!window->ComPort->Connected());
        QVERIFY(window->PortFault && window->PortFault->isVisible());
        QCOMPARE(window->PortFault->text(),
                 QStringLiteral(
                     "COM1 nicht geöffnet: keine Berechtigung – Benutzer zur Gruppe dialout hinzufügen"));
        QVERIFY(window->PortFault->toolTip().startsWith(fault));
        const QImage faultPicture = BarrierPicture(BarrierFaultPicture).toImage();
        for (QLabel* image : {window->ImageLSstart, window->ImageLS1, window->ImageLS2}) {
            QVERIFY(image->isVisible());
            QCOMPARE(image->toolTip(), fault);
            QCOMPARE(image->pixmap().toImage(), faultPicture);
        }
        // Arming a barrier meanwhile keeps the fault in view.
        QTest::keyClick(window.get(), Qt::Key_F4);
        QCOMPARE(window->ImageLSstart->pixmap().toImage(), faultPicture);

        QStringList entries;
        QString note;
        dialogs->modalAnswers.enqueue([&](QDialog&) {
            QComboBox* ports = window->CfgDialog->cbPort;
            for (int i = 0; i < ports->count(); ++i)
                entries << ports->itemText(i);
            note = window->CfgDialog->LabelPortNote->isVisible() ? window->CfgDialog->LabelPortNote->text()
                                                                 : QString();
            window->CfgDialog->CancelBtn->click();
        });
        window->bCFGClick();
        QCOMPARE(entries,
                 (QStringList{"Kein", "COM1  (/dev/ttyS0) – keine Berechtigung", "COM3  (/dev/ttyS2)"}));
        QVERIFY2(note.startsWith(NoPortPermissionHint), qPrintable(note));
        QVERIFY(window->PortFault->isVisible()); // cancelled: nothing mended

        line->FailOpenWith(SerialError::Kind::None, 0, {}); // added to the group, logged in again
        QTRY_VERIFY_WITH_TIMEOUT(window->ComPort->Connected(), 5000);
        QVERIFY(!window->PortFault->isVisible());
        for (QLabel* image : {window->ImageLSstart, window->ImageLS1, window->ImageLS2}) {
            QVERIFY(image->isVisible());
            QCOMPARE(image->toolTip(), image->property("hint").toString());
            QCOMPARE(image->pixmap().toImage(), BarrierPicture(image->property("tag").toInt()).toImage());
        }
    }

    // After each start the start barrier is off until the start crew arms it
    // again: while the next pair waits, the status bar says so.
    void startBarrierHintShowsWhileTheNextPairWaits()
    {
        CreateWindow();
        const QString hint = QStringLiteral("Start-Lichtschranke aus – [F4] scharf schalten");
        QVERIFY(window->StartBarrierHint->isVisible());
        QCOMPARE(window->StartBarrierHint->text(), hint);
        QTest::keyClick(window.get(), Qt::Key_F4);
        QVERIFY(!window->StartBarrierHint->isVisible());
        Edge(EV_CTS, MS_CTS_ON, 50000);
        QVERIFY(window->Clock->isActive());
        QVERIFY(!On(window->ImageLSstart));
        QVERIFY2(!window->StartBarrierHint->isVisible(), "cars on the track: no pair waits");
        QTest::keyClick(window.get(), Qt::Key_F8);
        QTest::keyClick(window.get(), Qt::Key_F9);
        QVERIFY(!window->StartBarrierHint->isVisible());
        QTest::keyClick(window.get(), Qt::Key_F7); // "0,00": the next pair
        QVERIFY(window->StartBarrierHint->isVisible());
        QTest::keyClick(window.get(), Qt::Key_F4);
        QVERIFY(!window->StartBarrierHint->isVisible());
        QTest::keyClick(window.get(), Qt::Key_F4);
        QVERIFY(window->StartBarrierHint->isVisible());

        // Timing by keys alone needs no start barrier.
        CreateWindow(0, 0, 0, 2, [](TStoredSettings& stored) { stored.Port = 0; });
        QVERIFY(!window->ComPort->Connected());
        QVERIFY(!window->StartBarrierHint->isVisible());
    }

    // A long message (here the one about the missing real-time priority, given
    // before the window first shows) takes the panels' place rather than being
    // drawn over them, and is cut with its whole text in the tooltip.
    void longMessageTakesThePanelsPlaceWithItsTextInTheTooltip()
    {
        const QString note = StampingPriorityNote();
        line->SetNotes({note.toStdString()});
        CreateWindow();
        window->resize(802, 445);
        QCOMPARE(window->statusBar()->currentMessage(), note);
        QVERIFY2(!window->StatusPanel0->isVisible(), "the row counter under the message");
        QVERIFY(!window->StatusPanel1->isVisible());
        QTRY_COMPARE(window->StatusBar1->toolTip(), note);
        QVERIFY(window->StatusBar1->ShownMessage().endsWith(QStringLiteral("…")));
        window->statusBar()->clearMessage();
        QVERIFY(window->StatusPanel0->isVisible());
        QVERIFY(window->StatusBar1->toolTip().isEmpty());
    }

    void adapterNotesAreShownWhenThePortOpens()
    {
        line->SetNotes({"Erster Hinweis.", "Zweiter Hinweis."});
        CreateWindow();
        QCOMPARE(window->statusBar()->currentMessage(), QStringLiteral("Erster Hinweis. Zweiter Hinweis."));
    }
};

QTEST_MAIN(TestFormMainBarrier)
#include "tst_formmain_barrier.moc"
