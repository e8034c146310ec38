// Live results on the club's network and the audience's scoreboard.
#include "TFormMain.h"

#include "Dialogs.h"
#include "LiveServer.h"
#include "OnlinePasswords.h"
#include "OnlinePublisher.h"
#include "ProtocolLogic.h"
#include "QrCode.h"
#include "RunTime.h"
#include "TCfgDialog.h"
#include "TSortGrid.h"
#include "TickSource.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDate>
#include <QDateTime>
#include <QEventLoop>
#include <QLabel>
#include <QStatusBar>
#include <QTimer>
#include <QToolButton>

#include <algorithm>
#include <thread>

void TFormMain::CreateLive()
{
    Scoreboard = new TFormScoreboard(this);
    LiveAddress = new QLabel(this);
    LiveAddress->setTextInteractionFlags(Qt::TextSelectableByMouse);
    LiveAddress->hide();
    statusBar()->addPermanentWidget(LiveAddress);
    OnlineState = new QLabel(this);
    OnlineState->hide();
    statusBar()->addPermanentWidget(OnlineState);

    // Changes come in bursts (a stop records, ranks and advances): one update for all.
    m_liveUpdate = new QTimer(this);
    m_liveUpdate->setSingleShot(true);
    m_liveUpdate->setInterval(0);
    connect(m_liveUpdate, &QTimer::timeout, this, &TFormMain::UpdateLive);

    connect(mTafel, &QAction::triggered, this, &TFormMain::mTafelClick);
    connect(bTafel, &QToolButton::clicked, this, &TFormMain::mTafelClick);
    connect(&m_session, &TRaceSession::RunStateChanged, this, &TFormMain::ScheduleLiveUpdate);
    connect(&m_results, &TResultsModel::RowAdded, this, &TFormMain::ScheduleLiveUpdate);
    connect(&m_results, &TResultsModel::RowRemoved, this, &TFormMain::ScheduleLiveUpdate);
    connect(&m_results, &TResultsModel::RowChanged, this, &TFormMain::ScheduleLiveUpdate);
    connect(&m_session, &TRaceSession::LanesChanged, this, &TFormMain::ScheduleLiveUpdate);
    // The running times, as often as the operator's display shows them.
    connect(Clock, &QTimer::timeout, this, [this] {
        if (!Scoreboard->isVisible() || Scoreboard->ShowingStandings())
            return;
        const std::uint32_t now = TickSource().GetTickCount();
        for (int lane : {1, 2}) {
            if (m_run.LaneRunning(lane))
                Scoreboard->SetLaneTime(lane, FormatRunTime(m_run.Elapsed(lane, now)));
        }
    });
    ApplyLiveSettings();
}

void TFormMain::ApplyLiveSettings()
{
    const quint16 port = quint16(std::clamp(Settings.LivePort, 0, MaxLivePort));
    if (port == 0) {
        m_live.reset();
    } else if (!m_live || m_live->Port() != port) {
        m_live.reset();
        auto server = std::make_unique<TLiveServer>();
        QString error;
        if (server->Start(port, &error))
            m_live = std::move(server);
        else
            statusBar()->showMessage(error);
    }
    const QStringList urls = m_live ? TLiveServer::LocalUrls(m_live->Port()) : QStringList();
    const QString url =
        urls.isEmpty() ? (m_live ? QStringLiteral("http://localhost:%1/").arg(m_live->Port()) : QString())
                       : urls.constFirst();
    LiveAddress->setText(url.isEmpty() ? QString() : QStringLiteral("Live: %1").arg(url));
    LiveAddress->setToolTip(urls.join(QLatin1Char('\n')));
    LiveAddress->setVisible(!url.isEmpty());
    ApplyOnlineSettings();
    Scoreboard->SetTitle(Settings.Veranstaltung);
    Scoreboard->SetAddress(url, url.isEmpty() ? QImage() : QrCodeImage(url));
    UpdateLive();
}

void TFormMain::ApplyOnlineSettings()
{
    OnlineTarget target;
    target.folder = QUrl(Settings.OnlineZiel);
    target.user = Settings.OnlineBenutzer;
    target.password = m_onlinePassword;
    const bool on = !Settings.OnlineZiel.isEmpty() && target.folder.isValid();
    // A password typed again (the old one was refused) takes effect at once.
    if (m_online && on && m_online->Target().folder == target.folder &&
        m_online->Target().user == target.user && m_online->Target().password == target.password)
        return;
    m_online.reset();
    OnlineState->setVisible(on);
    if (!on)
        return;
    OnlineState->setText(QStringLiteral("Online: wird übertragen …"));
    OnlineState->setToolTip(Settings.OnlineZiel);
    m_online = std::make_unique<OnlinePublisher>(target, Passwords());
    connect(m_online.get(), &OnlinePublisher::StatusChanged, OnlineState, [this](const OnlineStatus& status) {
        OnlineState->setText(status.Text());
        OnlineState->setToolTip(status.error.isEmpty() ? Settings.OnlineZiel : status.error);
    });
}

void TFormMain::StoreOnlinePassword(const QString& password)
{
    if (password.isEmpty() || Settings.OnlineZiel.isEmpty())
        return;
    // Kept in memory for this session too, so the next upload needn't wait for the keyring.
    m_onlinePassword = password;
    const QString key = OnlinePasswordKey(QUrl(Settings.OnlineZiel), Settings.OnlineBenutzer);
    Passwords()->WriteLater(key, password, [this, key](const QString& reason) {
        Dialogs().ShowMessage(this,
                              QStringLiteral("Das Passwort für %1 konnte nicht im Schlüsselbund des Desktops "
                                             "gespeichert werden (%2). Es gilt, bis das Programm beendet "
                                             "wird; danach in den Einstellungen neu eingeben.")
                                  .arg(key, reason));
    });
}

std::shared_ptr<IPasswordStore> TFormMain::Passwords() const
{
    return m_access.Passwords ? m_access.Passwords : OnlinePasswords();
}

bool TFormMain::LoginInClearAccepted(QWidget* parent, const QUrl& folder, const QString& user,
                                     const QString& password, const QString& action)
{
    // A user without a password typed logs in with the keyring's, over the same wire.
    const bool login = !password.isEmpty() || !folder.password().isEmpty() || !user.isEmpty() ||
                       !folder.userName().isEmpty();
    if (!login || !OnlineLoginInClear(folder))
        return true;
    return Dialogs().AskYesNo(
        parent, QStringLiteral("Über %1:// geht das Passwort unverschlüsselt durchs Netz: jeder im WLAN oder "
                               "unterwegs kann es mitlesen. Sicherer sind https://, sftp:// oder ftps://, "
                               "falls der Anbieter sie kennt. %2")
                    .arg(folder.scheme(), action));
}

bool TFormMain::AcceptOnlineSettings(QString& folder, const QString& user, QString& password)
{
    if (folder.isEmpty())
        return true; // uploads off
    QWidget* parent = CfgDialog ? static_cast<QWidget*>(CfgDialog) : this;
    if (const QString problem = OnlineFolderProblem(folder); !problem.isEmpty()) {
        Dialogs().ShowMessage(parent, problem);
        return false;
    }
    QUrl url(folder);
    // Asked when the login changes, not at every OK of the settings.
    const bool changed = folder != Settings.OnlineZiel || user != Settings.OnlineBenutzer ||
                         !password.isEmpty() || !url.password().isEmpty();
    if (changed &&
        !LoginInClearAccepted(parent, url, user, password, QStringLiteral("Trotzdem so speichern?")))
        return false;
    if (!url.password().isEmpty()) {
        // A password in the address would sit in the settings file, readable by anyone.
        if (password.isEmpty())
            password = url.password();
        url.setPassword({});
        folder = url.toString();
    }
    return true;
}

void TFormMain::CheckOnlineConnection(const QString& folder, const QString& user, const QString& password)
{
    QWidget* parent = CfgDialog ? static_cast<QWidget*>(CfgDialog) : this;
    const QUrl url(folder);
    if (const QString problem = OnlineFolderProblem(folder); !problem.isEmpty()) {
        Dialogs().ShowMessage(parent, problem);
        return;
    }
    if (!LoginInClearAccepted(parent, url, user, password, QStringLiteral("Trotzdem prüfen?")))
        return;
    OnlineTarget target;
    target.folder = url;
    target.user = user;
    target.password = !password.isEmpty()             ? password
                      : !url.password().isEmpty()     ? url.password()
                      : folder == Settings.OnlineZiel ? m_onlinePassword
                                                      : QString();
    // Asked on this thread while the transfer waits for the answer.
    target.acceptNewHostKey = [this, parent](const QString& host, const QString& fingerprint) {
        bool accepted = false;
        QMetaObject::invokeMethod(
            this,
            [&] {
                accepted = Dialogs().AskYesNo(
                    parent, QStringLiteral("Der Server %1 ist diesem Rechner noch unbekannt. Sein Schlüssel "
                                           "hat den Fingerabdruck %2. Stimmt er mit dem überein, den der "
                                           "Anbieter nennt? Dann dem Server vertrauen und ihn merken?")
                                .arg(host, fingerprint));
            },
            Qt::BlockingQueuedConnection);
        return accepted;
    };
    const QString key = OnlinePasswordKey(url, user);
    const bool readKeyring = target.password.isEmpty();
    const QList<OnlineFile> files{
        {QStringLiteral("verbindungstest.txt"),
         QStringLiteral("Quellorix: Verbindung geprüft am %1\n")
             .arg(QDateTime::currentDateTime().toString(QStringLiteral("dd.MM.yyyy HH:mm:ss")))
             .toUtf8()}};

    // The window stays responsive (the clock, the barriers) while the host answers.
    OnlineResult result;
    QEventLoop waiting;
    parent->setEnabled(false);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const std::shared_ptr<IPasswordStore> passwords = Passwords();
    std::thread transfer([&] {
        if (readKeyring)
            target.password = passwords->Read(key, nullptr).value_or(QString());
        result = UploadFiles(target, files);
        QMetaObject::invokeMethod(&waiting, &QEventLoop::quit, Qt::QueuedConnection);
    });
    waiting.exec();
    transfer.join();
    QApplication::restoreOverrideCursor();
    parent->setEnabled(true);
    Dialogs().ShowMessage(parent, result.ok() ? QStringLiteral("Verbindung in Ordnung: „verbindungstest.txt“ "
                                                               "wurde nach %1 geschrieben.")
                                                    .arg(url.toDisplayString(QUrl::RemoveUserInfo))
                                              : result.message);
}

void TFormMain::mTafelClick()
{
    if (Scoreboard->isVisible()) {
        Scoreboard->hide();
        return;
    }
    Scoreboard->show();
    UpdateLive();
}

void TFormMain::RaceToPublish()
{
    m_raceToPublish = true;
    ScheduleLiveUpdate();
}

void TFormMain::ScheduleLiveUpdate()
{
    if (!Scoreboard)
        return; // still being built
    if (m_liveUpdate && !m_liveUpdate->isActive() && (m_live || m_online || Scoreboard->isVisible()))
        m_liveUpdate->start();
}

void TFormMain::UpdateLive()
{
    if (m_live || m_online) {
        // Only the snapshot is taken here; the live server makes its text on a thread of its own.
        const LiveSnapshot view = LiveView();
        if (m_live)
            m_live->Publish(view);
        if (m_online && m_raceToPublish)
            m_online->Publish(ResultsJson(view));
    }
    if (!Scoreboard->isVisible())
        return;
    // Between runs the standings; from the start until the reset the lanes.
    // Before anybody has a place (the test runs) there are no standings: the
    // board shows who starts next rather than an empty screen.
    const QList<ScoreboardClass> standings =
        m_run.State() == RunState::Ready ? ScoreboardStandings() : QList<ScoreboardClass>();
    if (!standings.isEmpty())
        Scoreboard->ShowStandings(standings);
    else
        Scoreboard->ShowLanes(ScoreboardLanes(), m_run.LaneCount());
}

LiveSnapshot TFormMain::LiveView() const
{
    return AudienceView(m_session, Settings.Veranstaltung,
                        QLocale(QLocale::German).toString(QDate::currentDate(), QStringLiteral("dd.MM.yyyy")),
                        TickSource().GetTickCount());
}

std::array<ScoreboardLane, 2> TFormMain::ScoreboardLanes() const
{
    return ScoreboardLanesOf(m_session, LiveView());
}

QList<ScoreboardClass> TFormMain::ScoreboardStandings() const
{
    return ScoreboardStandingsOf(LiveView());
}
