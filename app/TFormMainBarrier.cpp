#include "TFormMain.h"

#include "BarrierPictures.h"
#include "SerialPorts.h"
#include "TBitBtnWithColor.h"
#include "TCfgDialog.h"
#include "TComPort.h"
#include "TSortGrid.h"

#include <QAction>
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
    connect(TimerGesperrtStart, &QTimer::timeout, this, &TFormMain::TimerGesperrtTimer);
}

void TFormMain::OpenConfiguredPort()
{
    if (ComPort->Port() == 0)
        return;
    try {
        ComPort->Open();
    } catch (const std::exception&) {
        // The barriers stay hidden; timing by keys and buttons goes on.
    }
}

void TFormMain::ComPortDeviceLost(const QString& reason)
{
    statusBar()->showMessage(QStringLiteral("Verbindung zu den Lichtschranken (COM%1) unterbrochen: %2. "
                                            "Zeitnahme über Tasten läuft weiter.")
                                 .arg(ComPort->Port())
                                 .arg(reason));
}

// ---------------------------------------------------------------------------
// Line handlers

void TFormMain::ComPortCTS()
{
    if (m_lineCTS.Evaluate(ComPort->ModemStatus(), Settings.Alg1))
        StartBarrierHit(ComPort->EventTick());
}

void TFormMain::ComPortDSR()
{
    if (m_lineDSR.Evaluate(ComPort->ModemStatus(), Settings.Alg2))
        Lane1BarrierHit(ComPort->EventTick());
}

void TFormMain::ComPortRLSD()
{
    if (m_lineRLSD.Evaluate(ComPort->ModemStatus(), Settings.Alg3))
        Lane2BarrierHit(ComPort->EventTick());
}

void TFormMain::StartBarrierHit(std::uint32_t tick)
{
    if (TimerGesperrtStart->isActive())
        return;
    if (bSTART->isEnabled() && BarrierOn(ImageLSstart))
        TriggerCommand(mStart, tick);
    TimerGesperrtStart->start();
}

void TFormMain::Lane1BarrierHit(std::uint32_t tick)
{
    if (bSTART->isEnabled() && BarrierOn(ImageLSstart)) {
        TriggerCommand(mStart, tick);
        return;
    }
    if (TimerGesperrtStart->isActive())
        return;
    // A finish barrier the operator switched off does not stop its lane.
    if (bSTOP1->isEnabled() && BarrierOn(ImageLS1))
        TriggerCommand(mSTOP1, tick);
}

void TFormMain::Lane2BarrierHit(std::uint32_t tick)
{
    if (bSTART->isEnabled() && BarrierOn(ImageLSstart)) {
        TriggerCommand(mStart, tick);
        return;
    }
    if (TimerGesperrtStart->isActive())
        return;
    if (bSTOP2->isEnabled() && BarrierOn(ImageLS2))
        TriggerCommand(mStop2, tick);
}

void TFormMain::TimerGesperrtTimer()
{
    TimerGesperrtStart->stop();
    if (!BarrierOn(ImageLS1))
        ImageLSClick(ImageLS1);
    if (!BarrierOn(ImageLS2))
        ImageLSClick(ImageLS2);
}

void TFormMain::ComPortOpen()
{
    ImageLSstart->show();
    ImageLS1->show();
    ImageLS2->show();
}

void TFormMain::ComPortClose()
{
    ImageLSstart->hide();
    ImageLS1->hide();
    ImageLS2->hide();
}

// ---------------------------------------------------------------------------
// Barrier images: tag 1 = on, 0 = off

bool TFormMain::BarrierOn(const QLabel* image)
{
    return image->property("tag").toInt() == 1;
}

void TFormMain::ImageLSClick(QLabel* image)
{
    const int tag = image->property("tag").toInt() ^ 1;
    image->setProperty("tag", tag);
    image->setPixmap(BarrierPicture(tag));
    image->update();
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
    TimerGesperrtStart->setInterval(Settings.TimerGesperrt);
}

void TFormMain::WriteStoredSettings()
{
    Settings.Left = x();
    Settings.Top = y();
    Settings.Width = width();
    Settings.Height = height();
    Settings.Port = ComPort->Port();
    Settings.TimerGesperrt = TimerGesperrtStart->interval();
    const std::unique_ptr<QSettings> store = m_access.OpenSettings();
    if (store)
        WriteSettings(*store, Settings);
}

void TFormMain::bCFGClick()
{
    if (!bCFG->isEnabled())
        return;
    CreateCfgDialog();
    Settings.Port = ComPort->Port();
    Settings.TimerGesperrt = TimerGesperrtStart->interval();
    CfgDialog->Fill(Settings);
    if (CfgDialog->exec() == QDialog::Accepted) {
        const bool portChanged = CfgDialog->PortEntryChanged();
        CfgDialog->ApplyTo(Settings);
        TimerGesperrtStart->setInterval(Settings.TimerGesperrt);
        ApplyLaneLayout();
        if (portChanged)
            ComPort->Close();
        ComPort->SetPort(std::uint8_t(std::clamp(Settings.Port, 0, MaxComPort)));
        if (ComPort->Port() != 0 && portChanged)
            OpenConfiguredPort();
        RankProtocol();
        FormResize();
        UpdateCommandStates();
    }
    PanelTimer->setFocus();
}
