#include "TFormStation.h"

#include "Dialogs.h"
#include "FileReplace.h"
#include "SerialPorts.h"
#include "StartLinkPort.h"
#include "TCfgDialog.h"
#include "TComPort.h"
#include "TickSource.h"

#include <QAction>
#include <QDateTime>
#include <QFile>
#include <QGridLayout>
#include <QListWidget>
#include <QRandomGenerator>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

namespace {

std::uint64_t StationSessionId()
{
    std::uint64_t session = 0;
    while (session == 0)
        session = QRandomGenerator::system()->generate64();
    return session;
}

QLabel* StationLabel(QWidget* parent, int pointSize, bool bold = false)
{
    auto* label = new QLabel(parent);
    QFont font = label->font();
    font.setPointSize(pointSize);
    font.setBold(bold);
    label->setFont(font);
    label->setTextInteractionFlags(Qt::NoTextInteraction);
    return label;
}

} // namespace

TFormStation::TFormStation(TStationAccess access, QWidget* parent)
    : QWidget(parent), m_access(std::move(access))
{
    setWindowTitle(QStringLiteral("Quellorix Startplatz"));
    LinkState = StationLabel(this, 11);
    LinkState->setObjectName(QStringLiteral("LinkState"));
    RunState = StationLabel(this, 28, true);
    RunState->setAlignment(Qt::AlignCenter);
    Lane1 = StationLabel(this, 16);
    Lane2 = StationLabel(this, 16);
    BarrierState = StationLabel(this, 14, true);
    BarrierState->setAlignment(Qt::AlignCenter);
    ArmButton = new QPushButton(this);
    QFont big = ArmButton->font();
    big.setPointSize(18);
    big.setBold(true);
    ArmButton->setFont(big);
    ArmButton->setMinimumHeight(80);
    ArmButton->setFocusPolicy(Qt::NoFocus);
    connect(ArmButton, &QPushButton::clicked, this, &TFormStation::ToggleArm);
    ArmAction = new QAction(QStringLiteral("Start-Lichtschranke scharf / aus"), this);
    ArmAction->setShortcut(Qt::Key_F4);
    ArmAction->setAutoRepeat(false);
    addAction(ArmAction);
    connect(ArmAction, &QAction::triggered, this, &TFormStation::ToggleArm);
    LastStarts = new QListWidget(this);
    LastStarts->setFocusPolicy(Qt::NoFocus);
    LastStarts->setMaximumHeight(130);
    SettingsButton = new QPushButton(QStringLiteral("Einstellungen …"), this);
    SettingsButton->setFocusPolicy(Qt::NoFocus);
    connect(SettingsButton, &QPushButton::clicked, this, &TFormStation::OpenSettings);

    auto* lanes = new QGridLayout;
    lanes->addWidget(new QLabel(QStringLiteral("Bahn 1:"), this), 0, 0);
    lanes->addWidget(Lane1, 0, 1);
    lanes->addWidget(new QLabel(QStringLiteral("Bahn 2:"), this), 1, 0);
    lanes->addWidget(Lane2, 1, 1);
    lanes->setColumnStretch(1, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(LinkState);
    layout->addWidget(RunState);
    layout->addLayout(lanes);
    layout->addWidget(BarrierState);
    layout->addWidget(ArmButton);
    layout->addWidget(new QLabel(QStringLiteral("Letzte Starts:"), this));
    layout->addWidget(LastStarts);
    layout->addWidget(SettingsButton, 0, Qt::AlignRight);
    resize(520, 560);

    m_port = new TComPort(this);
    m_port->SetBaudRate(TBaudRate::br9600);
    m_port->SetParity(TParity::prNone);
    m_port->SetStopBits(TStopBits::sbOneStopBit);
    m_port->SetFlowControl(TFlowControl::fcRtsCts);
    m_port->SetDataBits(5);
    m_port->SetEvents(TEvents(TEvent::evCTS));
    m_port->SetEnableDTR(true);
    if (m_access.DeviceFactory)
        m_port->SetDeviceFactory(m_access.DeviceFactory);
    connect(m_port, &TComPort::OnCTS, this, &TFormStation::LineChanged);

    if (const std::unique_ptr<QSettings> store = m_access.OpenSettings ? m_access.OpenSettings() : nullptr)
        m_settings = ReadSettings(*store);
    ApplySettings();

    // Nothing arrives while the link is down: the window tells it by the clock.
    auto* refresh = new QTimer(this);
    refresh->setInterval(500);
    connect(refresh, &QTimer::timeout, this, &TFormStation::ShowLink);
    refresh->start();
}

TFormStation::~TFormStation()
{
    m_port->Close();
}

void TFormStation::ApplySettings()
{
    m_link.reset();
    const FinishAddress finish = ParseFinishAddress(m_settings.ZielAdresse);
    QString problem;
    if (m_settings.ZielAdresse.isEmpty())
        problem = QStringLiteral("Keine Zieladresse eingestellt – bitte unter „Einstellungen“ eintragen.");
    else if (!finish.error.isEmpty())
        problem = finish.error;
    else if (m_settings.StartplatzSchluessel.isEmpty())
        problem =
            QStringLiteral("Kein Schlüssel eingestellt – bitte den Schlüssel vom Ziel-Laptop eintragen.");
    if (problem.isEmpty()) {
        auto link = std::make_unique<TStationStartLinkPort>(
            StartLinkKey(m_settings.StartplatzSchluessel), StationSessionId(),
            m_access.Clock ? m_access.Clock : TStartLinkPort::Clock(MonotonicMicroseconds));
        // Starts not yet acknowledged before a restart go again.
        QFile kept(m_access.OutboxFile);
        if (!m_access.OutboxFile.isEmpty() && kept.open(QIODevice::ReadOnly)) {
            const QByteArray bytes = kept.read(1 << 20);
            link->Link().Outbox().Load(bytes, link->Now());
        }
        if (link->Open(finish.host, finish.port, &problem)) {
            m_link = std::move(link);
            connect(m_link.get(), &TStationStartLinkPort::LinkChanged, this, &TFormStation::ShowLink);
        }
    }
    LinkState->setProperty("problem", problem);
    OpenPort();
    ShowLink();
}

void TFormStation::OpenPort()
{
    m_port->Close();
    m_port->SetPort(std::uint8_t(std::clamp(m_settings.Port, 0, MaxComPort)));
    if (m_port->Port() == 0)
        return;
    try {
        m_port->Open();
    } catch (const std::exception&) {
        LinkState->setProperty("portProblem", QStringLiteral("Lichtschranke an COM%1 nicht geöffnet: %2")
                                                  .arg(m_port->Port())
                                                  .arg(PortOpenFaultText(m_port->OpenError())));
        return;
    }
    LinkState->setProperty("portProblem", QString());
}

void TFormStation::OpenSettings()
{
    TCfgDialog dialog(ScanPorts(), this);
    dialog.Fill(m_settings);
    if (Dialogs().Exec(dialog) != QDialog::Accepted)
        return;
    dialog.ApplyTo(m_settings);
    if (const std::unique_ptr<QSettings> store = m_access.OpenSettings ? m_access.OpenSettings() : nullptr)
        WriteSettings(*store, m_settings);
    ApplySettings();
}

void TFormStation::LineChanged()
{
    if (m_startLine.Evaluate(m_port->ModemStatus(), m_settings.Alg1))
        StartEdge(m_port->EventTick());
}

void TFormStation::StartEdge(std::uint32_t tick)
{
    if (!m_link)
        return;
    // Only a barrier the finish has armed starts; before the first status the finish decides.
    const auto& status = m_link->Link().FinishStatus();
    if (status && !status->startArmed)
        return;
    // The tick's middle: the edge came within that millisecond.
    const qint64 now = m_link->Now();
    const qint64 stamp =
        now - qint64(std::uint32_t(TickOfMicroseconds(now) - tick)) * 1000 - now % 1000 + 500;
    m_link->Edge(stamp);
    LastStarts->insertItem(0,
                           QStringLiteral("%1  Start gesendet")
                               .arg(QDateTime::currentDateTime().toString(QStringLiteral("HH:mm:ss,zzz"))));
    if (!m_link->Link().Outbox().Pending().empty())
        LastStarts->item(0)->setData(Qt::UserRole, m_link->Link().Outbox().Pending().back().originSequence);
    while (LastStarts->count() > 8)
        delete LastStarts->takeItem(LastStarts->count() - 1);
    SaveOutbox();
    ShowLink();
}

void TFormStation::ToggleArm()
{
    if (!m_link)
        return;
    const auto& status = m_link->Link().FinishStatus();
    m_link->RequestArm(!(status && status->startArmed));
    ShowLink();
}

void TFormStation::SaveOutbox()
{
    if (m_access.OutboxFile.isEmpty() || !m_link)
        return;
    const QByteArray bytes = m_link->Link().Outbox().Save();
    const QString digest = QString::number(qHash(bytes)) + QString::number(bytes.size());
    if (digest == m_outboxSaved)
        return;
    QString error;
    if (ReplaceFileContents(m_access.OutboxFile, bytes, error))
        m_outboxSaved = digest;
    else
        LinkState->setProperty("portProblem", QStringLiteral("Starts nicht gesichert: %1").arg(error));
}

void TFormStation::ShowLink()
{
    const QString problem = LinkState->property("problem").toString();
    const QString portProblem = LinkState->property("portProblem").toString();
    if (!m_link) {
        LinkState->setText(problem.isEmpty() ? QStringLiteral("Keine Verbindung zum Ziel") : problem);
        RunState->setText(QStringLiteral("–"));
        ArmButton->setEnabled(false);
        ArmButton->setText(QStringLiteral("[F4] Start-Lichtschranke scharf schalten"));
        BarrierState->clear();
        return;
    }
    TStationLink& link = m_link->Link();
    const qint64 now = m_link->Now();
    const auto& status = link.FinishStatus();
    const bool stale = link.FinishStatusStale(now);
    QStringList parts{
        !status ? QStringLiteral("Warte auf das Ziel …")
        : stale ? QStringLiteral("Ziel seit %1 s nicht erreichbar").arg(link.FinishSilentUs(now) / 1'000'000)
                : QStringLiteral("Ziel verbunden"),
        link.Agreement().Text(now)};
    if (!link.Outbox().Pending().empty())
        parts << QStringLiteral("%1 Start(s) unterwegs").arg(link.Outbox().Pending().size());
    if (m_link->ForeignCount() > 0)
        parts << m_link->ForeignText();
    if (!portProblem.isEmpty())
        parts << portProblem;
    LinkState->setText(parts.join(QStringLiteral(" · ")));
    // A stale status must not tell the crew the track is clear: they ask the finish by radio.
    RunState->setText(!status ? QStringLiteral("–")
                      : stale ? QStringLiteral("Kein Kontakt zum Ziel")
                              : FinishRunStateText(status->runState));
    Lane1->setText(status ? status->lane1 : QString());
    Lane2->setText(status ? status->lane2 : QString());
    const bool armed = status && status->startArmed;
    BarrierState->setText(armed ? QStringLiteral("Start-Lichtschranke scharf")
                                : QStringLiteral("Start-Lichtschranke aus"));
    BarrierState->setStyleSheet(armed ? QStringLiteral("color: #007000") : QStringLiteral("color: #b00000"));
    ArmButton->setEnabled(status.has_value());
    ArmButton->setText(link.ArmRequestPending() ? QStringLiteral("… wird ans Ziel gemeldet")
                       : armed                  ? QStringLiteral("[F4] Start-Lichtschranke aus")
                                                : QStringLiteral("[F4] Start-Lichtschranke scharf schalten"));
    // Acknowledged starts leave the outbox: the list says so, and the file follows.
    for (int row = 0; row < LastStarts->count(); ++row) {
        QListWidgetItem* item = LastStarts->item(row);
        const QVariant sequence = item->data(Qt::UserRole);
        if (!sequence.isValid())
            continue;
        const auto& pending = link.Outbox().Pending();
        const bool waiting = std::any_of(pending.begin(), pending.end(), [&](const PendingStart& start) {
            return start.originSession == link.Outbox().Session() &&
                   start.originSequence == sequence.toUInt();
        });
        if (!waiting) {
            item->setText(
                item->text().replace(QStringLiteral("Start gesendet"), QStringLiteral("Start im Ziel")));
            item->setData(Qt::UserRole, QVariant());
        }
    }
    SaveOutbox();
}
