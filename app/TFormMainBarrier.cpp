#include "TFormMain.h"

#include "BarrierPictures.h"
#include "Dialogs.h"
#include "SerialAdapters.h"
#include "SerialPorts.h"
#include "TBitBtnWithColor.h"
#include "TCfgDialog.h"
#include "TComPort.h"
#include "TSortGrid.h"
#include "TStatusBar.h"

#include <QAction>
#include <QFileInfo>
#include <QLabel>
#include <QSettings>
#include <QStatusBar>
#include <QTimer>
#include <QToolButton>

// Light barriers on the serial port's modem lines, and the settings dialog.
//
// A barrier's time is the tick the serial monitor read when the device
// reported the edge (ComPort->EventTick()), not the moment the GUI thread got
// round to the handler.

void TFormMain::CreateComPort(const SerialDeviceFactory& deviceFactory)
{
    ComPort = new TComPort(this);
    ComPort->SetBaudRate(TBaudRate::br9600);
    ComPort->SetBaudRateUser(28800);
    ComPort->SetPort(0);
    ComPort->SetParity(TParity::prNone);
    ComPort->SetStopBits(TStopBits::sbOneStopBit);
    ComPort->SetFlowControl(TFlowControl::fcRtsCts);
    ComPort->SetDataBits(5);
    ComPort->SetEvents(TEvents(TEvent::evCTS) | TEvent::evDSR | TEvent::evRLSD);
    ComPort->SetEnableDTR(true);
    ComPort->SetWriteBufSize(64);
    ComPort->SetReadBufSize(64);
    if (deviceFactory)
        ComPort->SetDeviceFactory(deviceFactory);
    connect(ComPort, &TComPort::OnCTS, this, &TFormMain::ComPortCTS);
    connect(ComPort, &TComPort::OnDSR, this, &TFormMain::ComPortDSR);
    connect(ComPort, &TComPort::OnRLSD, this, &TFormMain::ComPortRLSD);
    connect(ComPort, &TComPort::OnOpen, this, &TFormMain::ComPortOpen);
    connect(ComPort, &TComPort::OnClose, this, &TFormMain::ComPortClose);
    connect(ComPort, &TComPort::OnDeviceLost, this,
            [this](TComPort*, const QString& reason) { ComPortDeviceLost(reason); });
    connect(&m_session, &TRaceSession::LockExpired, this, &TFormMain::TimerGesperrtTimer);
    connect(&m_session, &TRaceSession::BarriersChanged, this, &TFormMain::ShowBarriers);
    StartBarrierHint = new QLabel(QStringLiteral("Start-Lichtschranke aus – [F4] scharf schalten"), this);
    StartBarrierHint->setStyleSheet(QStringLiteral("color: #b00000; font-weight: bold"));
    StartBarrierHint->setToolTip(QStringLiteral(
        "Die Start-Lichtschranke schaltet sich bei jedem Start aus, damit niemand, der "
        "danach durch den Strahl geht, einen Lauf startet. Steht das nächste Paar bereit, "
        "schaltet die Startmannschaft sie mit [F4] oder einem Klick auf ihr Bild wieder ein."));
    StartBarrierHint->hide();
    StatusBar1->addPermanentWidget(StartBarrierHint);
    TimerReconnect = new QTimer(this);
    TimerReconnect->setInterval(1000);
    connect(TimerReconnect, &QTimer::timeout, this, &TFormMain::TimerReconnectTimer);
}

QString TFormMain::ByIdFolder() const
{
    return m_access.SerialByIdFolder.isEmpty() ? SerialByIdFolder() : m_access.SerialByIdFolder;
}

// Opens the stored port. The USB adapter remembered with it is opened where
// it is plugged in now, even under another ttyUSB number (the COM number then
// follows it); without one, the COM number's device. The adapter found there
// is remembered for the next time.
void TFormMain::OpenConfiguredPort()
{
    if (ComPort->Port() == 0)
        return;
    const QString adapterDevice = DeviceOfAdapter(Settings.PortAdapter, ByIdFolder());
    if (const int moved = ComNumberOfDevice(adapterDevice))
        ComPort->SetPort(std::uint8_t(moved));
    ComPort->SetDevicePath(adapterDevice);
    try {
        ComPort->Open();
    } catch (const std::exception&) {
        // Timing by keys and buttons goes on; the operator sees why the barriers
        // don't, and the port is tried again until it opens.
        ShowPortFault(PortOpenFaultText(ComPort->OpenError()));
        TimerReconnect->start();
        return;
    }
    const QString adapter = AdapterOfDevice(
        adapterDevice.isEmpty() ? PortDeviceName(ComPort->Port()) : adapterDevice, ByIdFolder());
    if (!adapter.isEmpty())
        Settings.PortAdapter = adapter;
}

void TFormMain::ComPortDeviceLost(const QString& reason)
{
    statusBar()->showMessage(QStringLiteral("Verbindung zu den Lichtschranken (COM%1) unterbrochen: %2. "
                                            "Zeitnahme über Tasten läuft weiter.")
                                 .arg(ComPort->Port())
                                 .arg(reason));
    TimerReconnect->start();
}

void TFormMain::TimerReconnectTimer()
{
    if (ComPort->Connected() || ComPort->Port() == 0) {
        TimerReconnect->stop();
        return;
    }
    OpenConfiguredPort();
    if (!ComPort->Connected())
        return;
    TimerReconnect->stop();
    QStringList message{QStringLiteral("Lichtschranken wieder verbunden (COM%1).").arg(ComPort->Port())};
    message << ComPort->DeviceNotes();
    statusBar()->showMessage(message.join(QLatin1Char(' ')));
}

// Notes about the adapter of a port: the open one's from its device, any
// other one's from what the system tells about it.
void TFormMain::ShowPortFault(const QString& reason)
{
    if (!PortFault) {
        PortFault = new QLabel(this);
        PortFault->setStyleSheet(QStringLiteral("color: #b00000; font-weight: bold"));
        statusBar()->addPermanentWidget(PortFault);
    }
    const QString device =
        ComPort->DevicePath().isEmpty() ? PortDeviceName(ComPort->Port()) : ComPort->DevicePath();
    m_portFault = reason.isEmpty() ? QString()
                                   : QStringLiteral("Lichtschranken an COM%1 (%2) nicht geöffnet: %3")
                                         .arg(ComPort->Port())
                                         .arg(device, reason);
    // The status bar is narrow: the reason and what to do go first, the
    // program's name makes room while the fault lasts.
    PortFault->setText(reason.isEmpty()
                           ? QString()
                           : QStringLiteral("COM%1 nicht geöffnet: %2").arg(ComPort->Port()).arg(reason));
    PortFault->setToolTip(m_portFault.isEmpty()
                              ? QString()
                              : m_portFault + QStringLiteral(". Zeitnahme über Tasten läuft weiter."));
    PortFault->setVisible(!m_portFault.isEmpty());
    StatusBar1->SetPanelWanted(StatusPanel1, m_portFault.isEmpty());
    StatusBar1->SetPanelWanted(StatusPanel2, m_portFault.isEmpty());
    for (QLabel* image : {ImageLSstart, ImageLS1, ImageLS2}) {
        image->setToolTip(m_portFault.isEmpty() ? image->property("hint").toString() : m_portFault);
        image->setVisible(ComPort->Connected() || !m_portFault.isEmpty());
        ShowBarrierPicture(image);
    }
    UpdateStartBarrierHint();
}

// Only where barriers are in use: timing by keys needs no start barrier.
void TFormMain::UpdateStartBarrierHint()
{
    if (!StartBarrierHint)
        return;
    const bool waiting =
        ComPort->Connected() && m_portFault.isEmpty() && StartAvailable() && !BarrierOn(ImageLSstart);
    StartBarrierHint->setVisible(waiting);
    // The program's name makes room while the hint shows.
    StatusBar1->SetPanelWanted(StatusPanel1, m_portFault.isEmpty() && !waiting);
    StatusBar1->SetPanelWanted(StatusPanel2, m_portFault.isEmpty() && !waiting);
}

void TFormMain::ShowBarrierPicture(QLabel* image)
{
    image->setPixmap(
        BarrierPicture(m_portFault.isEmpty() ? image->property("tag").toInt() : BarrierFaultPicture));
    image->update();
}

QStringList TFormMain::PortNotes(int port) const
{
    if (ComPort->Connected() && port == ComPort->Port())
        return ComPort->DeviceNotes();
    return AdapterNotes(
        ReadAdapterFacts(QFileInfo(QFileInfo(PortDeviceName(port)).canonicalFilePath()).fileName()));
}

// ---------------------------------------------------------------------------
// Line handlers

void TFormMain::ComPortCTS()
{
    BarrierLineChanged(1);
}

void TFormMain::ComPortDSR()
{
    BarrierLineChanged(2);
}

void TFormMain::ComPortRLSD()
{
    BarrierLineChanged(3);
}

void TFormMain::BarrierLineChanged(int line)
{
    // The session records the change, weighs the edge and starts or stops:
    // SessionRunStarted, SessionLaneStopped. A barrier the operator switched
    // off neither starts nor stops.
    const int choice = line == 1 ? Settings.Alg1 : line == 2 ? Settings.Alg2 : Settings.Alg3;
    const bool wasTiming = m_run.Timing();
    const BarrierCommand command =
        m_session.LineChanged(line, ComPort->ModemStatus(), ComPort->EventTick(), choice);
    // The operator should know that no start beam started this run.
    if (line > 1 && command == BarrierCommand::Start && !wasTiming && m_run.Timing())
        statusBar()->showMessage(FinishStartNote(line - 1));
}

void TFormMain::TimerGesperrtTimer()
{
    // The session arms the finish barriers that waited for the lock's end.
    m_session.EndLock();
}

void TFormMain::ComPortOpen()
{
    ShowPortFault({});
    ImageLSstart->show();
    ImageLS1->show();
    ImageLS2->show();
    UpdateStartBarrierHint();
    const QStringList notes = ComPort->DeviceNotes();
    if (!notes.isEmpty())
        statusBar()->showMessage(notes.join(QLatin1Char(' ')));
}

void TFormMain::ComPortClose()
{
    ImageLSstart->hide();
    ImageLS1->hide();
    ImageLS2->hide();
    UpdateStartBarrierHint();
}

// ---------------------------------------------------------------------------
// Barrier images show the session's barriers: tag 1 = armed, 0 = not

int TFormMain::BarrierOf(const QLabel* image) const
{
    return image == ImageLSstart ? 1 : image == ImageLS1 ? 2 : 3;
}

bool TFormMain::BarrierOn(const QLabel* image) const
{
    return m_session.BarrierArmed(BarrierOf(image));
}

void TFormMain::ImageLSClick(QLabel* image)
{
    // The operator's (or the start crew's) choice goes to the session: ShowBarriers.
    m_session.ArmBarrier(BarrierOf(image), !BarrierOn(image));
}

void TFormMain::ShowBarriers()
{
    for (QLabel* image : {ImageLSstart, ImageLS1, ImageLS2}) {
        image->setProperty("tag", BarrierOn(image) ? 1 : 0);
        ShowBarrierPicture(image);
    }
    UpdateStartBarrierHint();
}

QString TFormMain::FinishStartNote(int lane)
{
    return QStringLiteral("Start durch Ziel-Lichtschranke Bahn %1").arg(lane);
}

// ---------------------------------------------------------------------------
// Settings

void TFormMain::ReadStoredSettings()
{
    const std::unique_ptr<QSettings> store = m_access.OpenSettings();
    if (store)
        Settings = ReadSettings(*store);
    if (Settings.Left && Settings.Top)
        move(*Settings.Left, *Settings.Top);
    resize(Settings.Width, Settings.Height);
    ComPort->SetPort(std::uint8_t(std::clamp(Settings.Port, 0, MaxComPort)));
    ApplySettings();
}

void TFormMain::WriteStoredSettings()
{
    Settings.Left = x();
    Settings.Top = y();
    Settings.Width = width();
    Settings.Height = height();
    Settings.Port = ComPort->Port();
    const std::unique_ptr<QSettings> store = m_access.OpenSettings();
    if (store)
        WriteSettings(*store, Settings);
}

void TFormMain::bCFGClick()
{
    if (!RunIdle())
        return;
    CreateCfgDialog();
    Settings.Port = ComPort->Port();
    // The ports as they are now; the one this program holds counts as there.
    m_portsFound = m_access.ScanPorts ? m_access.ScanPorts() : ScanPorts();
    if (ComPort->Connected() && ComPort->Port() >= 1 && ComPort->Port() <= MaxComPort) {
        m_portsFound |= 1u << (ComPort->Port() - 1);
        m_portsFound =
            (m_portsFound & 0xFFFFu) | (std::max(m_portsFound >> 16, std::uint32_t(ComPort->Port())) << 16);
    }
    CfgDialog->SetPortsFound(m_portsFound);
    CfgDialog->Fill(Settings);
    if (Dialogs().Exec(*CfgDialog) == QDialog::Accepted) {
        const bool portChanged = CfgDialog->PortEntryChanged();
        CfgDialog->ApplyTo(Settings);
        ApplySettings();
        ApplyLaneLayout();
        if (portChanged) {
            ComPort->Close();
            TimerReconnect->stop();
            Settings.PortAdapter.clear(); // a port chosen anew: its adapter is found when it opens
        }
        ComPort->SetPort(std::uint8_t(std::clamp(Settings.Port, 0, MaxComPort)));
        if (ComPort->Port() == 0) {
            TimerReconnect->stop();
            ShowPortFault({});
        }
        // The same entry chosen again reopens a port that was lost.
        if (ComPort->Port() != 0 && (portChanged || !ComPort->Connected()))
            OpenConfiguredPort();
        RankProtocol();
        FormResize();
        UpdateCommandStates();
        // Kept at once: a crash later in the day must not lose the new settings.
        WriteStoredSettings();
        StoreOnlinePassword(CfgDialog->OnlinePasswordEntered());
        ApplyLiveSettings();
        ApplyStartLinkSettings();
    }
    PanelTimer->setFocus();
}
