#include "TFormMain.h"

#include "ProtocolLogic.h"
#include "StartLinkPort.h"
#include "TickSource.h"

#include <QLabel>
#include <QSettings>
#include <QStatusBar>

// The start station at the finish: the link's port, the starts it delivers to
// the session, the arm requests of the start crew and the status sent back.

void TFormMain::CreateStartLink()
{
    StartLinkState = new QLabel(this);
    StartLinkState->setObjectName(QStringLiteral("StartLinkState"));
    StartLinkState->hide();
    statusBar()->addPermanentWidget(StartLinkState);
    for (int lane : {1, 2}) {
        auto* label = new QLabel(QStringLiteral("Start unterwegs"), lane == 1 ? PanelT1 : PanelT2);
        label->setObjectName(QStringLiteral("StartPending%1").arg(lane));
        label->setStyleSheet(
            QStringLiteral("background: #ffd700; color: black; font-weight: bold; padding: 2px"));
        label->setToolTip(QStringLiteral(
            "Die Ziel-Lichtschranke hat ausgelöst, bevor der Start vom Startplatz ankam. Kommt der "
            "Start, wird die Zeit genau daraus berechnet."));
        label->adjustSize();
        label->move(4, 4);
        label->hide();
        StartPending.at(std::size_t(lane - 1)) = label;
    }
    connect(&m_session, &TRaceSession::PendingStopsChanged, this, &TFormMain::ShowPendingStops);
    for (auto signal : {&TRaceSession::LanesChanged, &TRaceSession::BarriersChanged,
                        &TRaceSession::PendingStopsChanged, &TRaceSession::ProtocolReplaced})
        connect(&m_session, signal, this, &TFormMain::SendFinishStatus);
    connect(&m_session, &TRaceSession::RunStateChanged, this, &TFormMain::SendFinishStatus);
    ApplyStartLinkSettings();
}

void TFormMain::ApplyStartLinkSettings()
{
    const quint16 port = quint16(std::clamp(Settings.StartplatzPort, 0, MaxStartplatzPort));
    if (port != 0 && Settings.StartplatzSchluessel.isEmpty()) {
        // A finish that listens shows a code for the station to take.
        Settings.StartplatzSchluessel = GeneratePairingCode();
        if (const std::unique_ptr<QSettings> store = m_access.OpenSettings())
            WriteSettings(*store, Settings);
    }
    const QByteArray key = port == 0 ? QByteArray() : StartLinkKey(Settings.StartplatzSchluessel);
    if (port == 0) {
        m_startLink.reset();
    } else if (!m_startLink || m_startLink->Port() != port || m_startLink->Key() != key) {
        m_startLink.reset();
        auto link = std::make_unique<TFinishStartLinkPort>(
            key,
            m_access.StartLinkClock ? m_access.StartLinkClock : TStartLinkPort::Clock(MonotonicMicroseconds));
        QString error;
        if (link->Listen(port, &error)) {
            m_startLink = std::move(link);
            connect(m_startLink.get(), &TFinishStartLinkPort::StartArrived, this,
                    &TFormMain::StationStartArrived);
            connect(m_startLink.get(), &TFinishStartLinkPort::ArmRequested, this,
                    [this](bool armed) { m_session.ArmBarrier(1, armed); });
            connect(m_startLink.get(), &TFinishStartLinkPort::LinkChanged, this,
                    &TFormMain::ShowStartLinkState);
        } else {
            statusBar()->showMessage(QStringLiteral("Startplatz: %1").arg(error));
        }
    }
    m_session.SetStationPaired(m_startLink != nullptr);
    ShowStartLinkState();
    SendFinishStatus();
}

void TFormMain::StationStartArrived(const StartLinkDatagram& start)
{
    m_session.SetStationPaired(true);
    const QString identity =
        QStringLiteral("%1:%2").arg(start.originSession, 16, 16, QLatin1Char('0')).arg(start.originSequence);
    const std::uint32_t now = TickSource().GetTickCount();
    if (!m_session.StationStart(TickOfMicroseconds(start.finishStampUs), identity, start.clockGood, now)) {
        // Taken once by the link, refused here: say why, the operator may start by hand.
        const QString why = !m_session.Idle() ? QStringLiteral("ein Lauf ist noch nicht beendet")
                            : !m_session.BarrierArmed(1)
                                ? QStringLiteral("die Start-Lichtschranke war nicht scharf")
                                : QStringLiteral("der Start ist zu alt");
        statusBar()->showMessage(QStringLiteral("Start vom Startplatz nicht übernommen: %1.").arg(why),
                                 15000);
    }
    ShowStartLinkState();
}

void TFormMain::SendFinishStatus()
{
    if (!m_startLink)
        return;
    FinishRunState state = FinishRunState::TrackClear;
    if (m_run.Timing())
        state = FinishRunState::Running;
    else if (m_run.CanReset() || m_session.PendingStop(1) || m_session.PendingStop(2))
        state = FinishRunState::FinishWaiting;
    const auto laneText = [this](int lane) {
        const QString key = m_session.LaneKey(lane);
        if (key.isEmpty() || lane > m_session.CurrentRules().laneCount)
            return QString();
        const QString klasse = m_results.Cell(key, ColKlasse);
        return QStringLiteral("%1 %2 %3%4")
            .arg(m_results.Cell(key, ColNr), m_results.Cell(key, ColVorname), m_results.Cell(key, ColName),
                 klasse.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(klasse))
            .simplified();
    };
    m_startLink->SetStatus(state, laneText(1), laneText(2), m_session.BarrierArmed(1));
}

void TFormMain::ShowStartLinkState()
{
    if (!StartLinkState)
        return;
    StartLinkState->setVisible(m_startLink != nullptr);
    if (!m_startLink)
        return;
    const int foreign = m_startLink->ForeignCount();
    StartLinkState->setText(m_startLink->LinkText() +
                            (foreign > 0 ? QStringLiteral(" · ") + m_startLink->ForeignText() : QString()));
    StartLinkState->setToolTip(
        QStringLiteral("Startplatz: UDP-Port %1, Schlüssel %2\n%3")
            .arg(m_startLink->Port())
            .arg(FormatPairingCode(Settings.StartplatzSchluessel), m_startLink->ForeignText()));
}

void TFormMain::ShowPendingStops()
{
    for (int lane : {1, 2})
        StartPending.at(std::size_t(lane - 1))->setVisible(m_session.PendingStop(lane).has_value());
}
