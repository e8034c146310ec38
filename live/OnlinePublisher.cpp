#include "OnlinePublisher.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>

#include <curl/curl.h>

#include <QDeadlineTimer>
#include <QMutex>
#include <QWaitCondition>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

namespace {

std::once_flag curlInit;

struct ReadBuffer
{
    const QByteArray* data = nullptr;
    qsizetype offset = 0;
};

size_t ReadChunk(char* out, size_t size, size_t count, void* user)
{
    auto* buffer = static_cast<ReadBuffer*>(user);
    const size_t left = size_t(buffer->data->size() - buffer->offset);
    const size_t n = std::min(left, size * count);
    std::memcpy(out, buffer->data->constData() + buffer->offset, n);
    buffer->offset += qsizetype(n);
    return n;
}

// One for the whole upload, shared by its requests: the wait is the operator's, not a request's.
struct UploadClock
{
    const OnlineProgress* progress = nullptr;
    std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now();
    int reportedSeconds = -1;
};

// libcurl calls it about once a second even while the host says nothing, so a hanging
// host shows up as one that keeps the upload waiting instead of the last good state.
int Progress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    auto* clock = static_cast<UploadClock*>(user);
    const OnlineProgress& progress = *clock->progress;
    if (progress.cancel && progress.cancel->load())
        return 1;
    if (progress.waiting) {
        const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(
                                std::chrono::steady_clock::now() - clock->started)
                                .count();
        const int seconds = int(waited / 1000);
        if (waited >= progress.waitingAfterMs && seconds != clock->reportedSeconds) {
            clock->reportedSeconds = seconds;
            progress.waiting(seconds);
        }
    }
    return 0;
}

size_t Discard(char*, size_t size, size_t count, void*)
{
    return size * count;
}

OnlineResult FromCurl(CURLcode code, long httpStatus, const QString& host, const QString& detail = {})
{
    using E = OnlineResult::Error;
    // A host that answers with an error may have cut the request short doing so.
    if (httpStatus == 507)
        return {E::StorageFull, QStringLiteral("Der Speicher auf %1 ist voll (507).").arg(host), 507};
    if (httpStatus >= 500 && httpStatus < 600)
        return {E::ServerError, QStringLiteral("%1 meldet Fehler %2.").arg(host).arg(httpStatus),
                int(httpStatus)};
    switch (code) {
    case CURLE_OK:
        break;
    case CURLE_COULDNT_RESOLVE_HOST:
        return {E::NameNotFound, QStringLiteral("Der Name „%1“ wurde nicht gefunden.").arg(host)};
    case CURLE_COULDNT_CONNECT:
    case CURLE_OPERATION_TIMEDOUT:
        return {E::Refused, QStringLiteral("%1 nimmt keine Verbindung an.").arg(host)};
    case CURLE_LOGIN_DENIED:
    case CURLE_REMOTE_ACCESS_DENIED:
        return {E::Login,
                QStringLiteral("Anmeldung bei %1 abgelehnt: Benutzer oder Passwort falsch.").arg(host)};
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_CONNECT_ERROR:
        return {E::Certificate, QStringLiteral("Das Zertifikat von %1 ist nicht gültig.").arg(host)};
    case CURLE_SSH:
        // A host key that doesn't match is told before this; what is left is the server failing
        // an SFTP request, and OpenSSH's SFTP says "failure" for a full disk too.
        return {E::ServerError,
                QStringLiteral("%1 meldet einen Fehler beim Schreiben (%2). Ist der Speicher voll?")
                    .arg(host, detail.isEmpty() ? QString::fromUtf8(curl_easy_strerror(code)) : detail)};
    case CURLE_REMOTE_DISK_FULL:
        return {E::StorageFull, QStringLiteral("Der Speicher auf %1 ist voll.").arg(host)};
    case CURLE_UPLOAD_FAILED:
    case CURLE_QUOTE_ERROR:
        return {E::Permission, QStringLiteral("Keine Schreibrechte im Ordner auf %1.").arg(host)};
    default:
        return {E::Other, QStringLiteral("Übertragung zu %1 fehlgeschlagen: %2")
                              .arg(host, QString::fromUtf8(curl_easy_strerror(code)))};
    }
    if (httpStatus == 401)
        return {E::Login,
                QStringLiteral("Anmeldung bei %1 abgelehnt: Benutzer oder Passwort falsch.").arg(host)};
    if (httpStatus == 403 || httpStatus == 405 || httpStatus == 409)
        return {E::Permission, QStringLiteral("Keine Schreibrechte im Ordner auf %1.").arg(host)};
    if (httpStatus >= 400)
        return {E::Other, QStringLiteral("%1 antwortet mit Fehler %2.").arg(host).arg(httpStatus),
                int(httpStatus)};
    return {};
}

struct Easy
{
    CURL* curl = curl_easy_init();
    curl_slist* headers = nullptr;
    curl_slist* quote = nullptr;
    char errorText[CURL_ERROR_SIZE] = {};
    Easy()
    {
        if (curl)
            curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorText);
    }
    ~Easy()
    {
        curl_slist_free_all(headers);
        curl_slist_free_all(quote);
        curl_easy_cleanup(curl);
    }
};

// What the host-key check found, for the message when the transfer fails.
struct HostKeyCheck
{
    const OnlineTarget* target = nullptr;
    QString host;
    bool unknown = false;
    bool mismatch = false;
    bool acceptedNow = false; // the user was asked and said yes during this transfer
};

int CheckHostKey(CURL*, const curl_khkey* knownKey, const curl_khkey* foundKey, curl_khmatch match,
                 void* user)
{
    Q_UNUSED(knownKey);
    auto* check = static_cast<HostKeyCheck*>(user);
    if (match == CURLKHMATCH_OK)
        return CURLKHSTAT_FINE;
    if (match == CURLKHMATCH_MISMATCH) {
        check->mismatch = true;
        return CURLKHSTAT_REJECT;
    }
    check->unknown = true;
    if (!check->target->acceptNewHostKey || !foundKey)
        return CURLKHSTAT_REJECT;
    const QByteArray raw = foundKey->len == 0 ? QByteArray::fromBase64(QByteArray(foundKey->key))
                                              : QByteArray(foundKey->key, qsizetype(foundKey->len));
    const QString fingerprint = QStringLiteral("SHA256:") +
                                QString::fromLatin1(QCryptographicHash::hash(raw, QCryptographicHash::Sha256)
                                                        .toBase64(QByteArray::OmitTrailingEquals));
    if (!check->target->acceptNewHostKey(check->host, fingerprint))
        return CURLKHSTAT_REJECT;
    check->unknown = false;
    check->acceptedNow = true;
    return CURLKHSTAT_FINE_ADD_TO_FILE;
}

void CommonOptions(CURL* curl, const OnlineTarget& target, const QByteArray& user, const QByteArray& password,
                   const QByteArray& knownHosts, const QByteArray& privateKey, UploadClock* clock,
                   HostKeyCheck* hostKey)
{
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, Progress);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, clock);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, long(target.connectTimeoutMs));
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, 30000L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Discard);
    if (!privateKey.isEmpty())
        curl_easy_setopt(curl, CURLOPT_SSH_PRIVATE_KEYFILE, privateKey.constData());
    if (!user.isEmpty())
        curl_easy_setopt(curl, CURLOPT_USERNAME, user.constData());
    if (!password.isEmpty())
        curl_easy_setopt(curl, CURLOPT_PASSWORD, password.constData());
    const QString scheme = target.folder.scheme();
    if (scheme == QLatin1String("sftp")) {
        curl_easy_setopt(curl, CURLOPT_SSH_KNOWNHOSTS, knownHosts.constData());
        curl_easy_setopt(curl, CURLOPT_SSH_KEYFUNCTION, CheckHostKey);
        curl_easy_setopt(curl, CURLOPT_SSH_KEYDATA, hostKey);
        curl_easy_setopt(curl, CURLOPT_SSH_AUTH_TYPES, long(CURLSSH_AUTH_PUBLICKEY | CURLSSH_AUTH_PASSWORD));
    } else if (scheme == QLatin1String("ftps")) {
        curl_easy_setopt(curl, CURLOPT_USE_SSL, long(CURLUSESSL_ALL));
    }
}

} // namespace

QString OnlineFolderProblem(const QString& folder)
{
    const QUrl url(folder, QUrl::StrictMode);
    const QString example = QStringLiteral("Beispiel: sftp://verein@www.example.de/live/");
    const QStringList schemes = {QStringLiteral("sftp"), QStringLiteral("ftps"), QStringLiteral("ftp"),
                                 QStringLiteral("https"), QStringLiteral("http")};
    if (url.isValid() && !url.scheme().isEmpty() && !schemes.contains(url.scheme().toLower()))
        return QStringLiteral("„%1“ beginnt mit %2:// – hochladen kann das Programm nur über sftp://, "
                              "ftps://, ftp://, https:// oder http://. %3")
            .arg(folder, url.scheme(), example);
    if (folder.isEmpty() || !url.isValid() || url.host().isEmpty() || url.scheme().isEmpty())
        return QStringLiteral("„%1“ ist kein Ordner auf einem Webserver. %2").arg(folder, example);
    return {};
}

bool OnlineLoginInClear(const QUrl& folder)
{
    const QString scheme = folder.scheme().toLower();
    return scheme == QLatin1String("http") || scheme == QLatin1String("ftp");
}

QString OnlineTempName(const QString& fileName, const QString& token)
{
    return QStringLiteral(".%1.%2.tmp").arg(fileName, token);
}

bool IsOnlineTempName(const QString& name)
{
    static const QRegularExpression pattern(
        QStringLiteral(R"(^\.(ergebnisse\.json|index\.html|verbindungstest\.txt)\.[0-9a-f]{1,8}\.tmp$)"));
    return pattern.match(name).hasMatch();
}

OnlineResult UploadFiles(const OnlineTarget& target, const QList<OnlineFile>& files,
                         const OnlineProgress& progress)
{
    std::call_once(curlInit, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    QUrl folder = target.folder;
    if (!folder.path().endsWith(QLatin1Char('/')))
        folder.setPath(folder.path() + QLatin1Char('/'));
    const QString scheme = folder.scheme();
    const bool http = scheme == QLatin1String("http") || scheme == QLatin1String("https");
    const bool sftp = scheme == QLatin1String("sftp");
    const QString host = folder.host();
    const QByteArray user = (folder.userName().isEmpty() ? target.user : folder.userName()).toUtf8();
    // A password still in the address (settings from before it went to the keyring) is
    // used as a password, never sent along in the URL.
    const QByteArray password = (target.password.isEmpty() ? folder.password() : target.password).toUtf8();
    folder.setUserInfo({});
    const QByteArray knownHosts =
        QFile::encodeName(target.knownHosts.isEmpty() ? QDir::homePath() + QStringLiteral("/.ssh/known_hosts")
                                                      : target.knownHosts);
    // libcurl alone would look for id_rsa and id_dsa only; take the user's keys in ssh's order.
    QByteArray privateKey;
    if (sftp) {
        for (const char* name : {"id_ed25519", "id_ecdsa", "id_rsa"}) {
            const QString path = QDir::homePath() + QStringLiteral("/.ssh/") + QLatin1String(name);
            if (QFileInfo::exists(path)) {
                privateKey = QFile::encodeName(path);
                break;
            }
        }
    }
    const QString token = QString::number(QRandomGenerator::global()->generate(), 16);
    HostKeyCheck hostKey{&target, host};
    if (sftp && target.acceptNewHostKey) {
        // A key accepted now is written there; the folder may not exist yet.
        QDir().mkpath(QFileInfo(QFile::decodeName(knownHosts)).absolutePath());
    }
    UploadClock clock{&progress};
    // Only the program's own names are ever removed, whatever the list was handed.
    QStringList leftovers;
    if (progress.leftovers) {
        for (const QString& name : std::as_const(*progress.leftovers)) {
            if (IsOnlineTempName(name))
                leftovers.append(name);
        }
    }
    // A rename that failed leaves the temporary file behind; the next success removes it.
    const auto failed = [&](OnlineResult result, CURLcode code, const QString& tempName) {
        const bool hostReached = code != CURLE_COULDNT_RESOLVE_HOST && code != CURLE_COULDNT_CONNECT &&
                                 code != CURLE_LOGIN_DENIED && code != CURLE_PEER_FAILED_VERIFICATION &&
                                 code != CURLE_SSL_CONNECT_ERROR && code != CURLE_SSL_CACERT_BADFILE &&
                                 !hostKey.unknown && !hostKey.mismatch &&
                                 result.error != OnlineResult::Error::Login;
        if (progress.leftovers && hostReached && !progress.leftovers->contains(tempName)) {
            constexpr qsizetype keptAtMost = 32;
            progress.leftovers->append(tempName);
            if (progress.leftovers->size() > keptAtMost)
                progress.leftovers->removeFirst();
        }
        return result;
    };

    for (qsizetype index = 0; index < files.size(); ++index) {
        const OnlineFile& file = files.at(index);
        const bool lastFile = index == files.size() - 1;
        const QString tempName = OnlineTempName(file.name, token);
        const QByteArray tempUrl = folder.resolved(QUrl(tempName)).toEncoded();
        const QByteArray finalUrl = folder.resolved(QUrl(file.name)).toEncoded();
        long status = 0;
        // While the user read the fingerprint, the transfer's time ran out: the key is
        // known now, so the file goes once more.
        for (int attempt = 0; attempt < 2; ++attempt) {
            hostKey.acceptedNow = false;
            Easy put;
            if (!put.curl)
                return {OnlineResult::Error::Other, QStringLiteral("libcurl nicht verfügbar.")};
            CommonOptions(put.curl, target, user, password, knownHosts, privateKey, &clock, &hostKey);
            ReadBuffer buffer{&file.data, 0};
            curl_easy_setopt(put.curl, CURLOPT_URL, tempUrl.constData());
            curl_easy_setopt(put.curl, CURLOPT_UPLOAD, 1L);
            curl_easy_setopt(put.curl, CURLOPT_READFUNCTION, ReadChunk);
            curl_easy_setopt(put.curl, CURLOPT_READDATA, &buffer);
            curl_easy_setopt(put.curl, CURLOPT_INFILESIZE_LARGE, curl_off_t(file.data.size()));
            if (!http) {
                // The rename happens on the same connection right after the upload.
                const QString dir = folder.path();
                const QByteArray from = (dir + tempName).toUtf8();
                const QByteArray to = (dir + file.name).toUtf8();
                if (sftp) {
                    // libcurl's "rename" (libssh2) can't replace a file on OpenSSH, whose
                    // SFTP version 3 has no overwrite flag, and libcurl offers no
                    // posix-rename: the old file goes first, for one round trip.
                    put.quote = curl_slist_append(put.quote, ("*rm \"" + to + "\"").constData());
                    put.quote =
                        curl_slist_append(put.quote, ("rename \"" + from + "\" \"" + to + "\"").constData());
                    if (lastFile) {
                        for (const QString& name : std::as_const(leftovers))
                            put.quote = curl_slist_append(
                                put.quote, ("*rm \"" + (dir + name).toUtf8() + "\"").constData());
                    }
                } else {
                    put.quote = curl_slist_append(put.quote, ("RNFR " + tempName.toUtf8()).constData());
                    put.quote = curl_slist_append(put.quote, ("RNTO " + file.name.toUtf8()).constData());
                    if (lastFile) {
                        for (const QString& name : std::as_const(leftovers))
                            put.quote = curl_slist_append(put.quote, ("*DELE " + name.toUtf8()).constData());
                    }
                }
                curl_easy_setopt(put.curl, CURLOPT_POSTQUOTE, put.quote);
            }
            const CURLcode code = curl_easy_perform(put.curl);
            curl_easy_getinfo(put.curl, CURLINFO_RESPONSE_CODE, &status);
            if (code != CURLE_OK && hostKey.acceptedNow && attempt == 0)
                continue;
            if (code != CURLE_OK && hostKey.unknown)
                return {OnlineResult::Error::UnknownHostKey,
                        QStringLiteral("Der Schlüssel von %1 ist noch nicht bekannt: in den Einstellungen "
                                       "„Verbindung prüfen“ wählen und ihn bestätigen.")
                            .arg(host)};
            if (code != CURLE_OK && hostKey.mismatch)
                return {OnlineResult::Error::HostKey,
                        QStringLiteral("Der Schlüssel von %1 passt nicht zu dem bekannten (known_hosts): "
                                       "ist das wirklich der Server des Vereins?")
                            .arg(host)};
            if (OnlineResult r = FromCurl(code, http ? status : 0, host, QString::fromUtf8(put.errorText));
                !r.ok())
                return failed(r, code, tempName);
            break;
        }
        if (http) {
            Easy move;
            CommonOptions(move.curl, target, user, password, knownHosts, privateKey, &clock, &hostKey);
            curl_easy_setopt(move.curl, CURLOPT_URL, tempUrl.constData());
            curl_easy_setopt(move.curl, CURLOPT_CUSTOMREQUEST, "MOVE");
            move.headers = curl_slist_append(move.headers, ("Destination: " + finalUrl).constData());
            move.headers = curl_slist_append(move.headers, "Overwrite: T");
            curl_easy_setopt(move.curl, CURLOPT_HTTPHEADER, move.headers);
            const CURLcode code = curl_easy_perform(move.curl);
            curl_easy_getinfo(move.curl, CURLINFO_RESPONSE_CODE, &status);
            if (OnlineResult r = FromCurl(code, status, host); !r.ok())
                return failed(r, code, tempName);
        }
    }
    if (http) {
        // What is already gone (404) or can't go now is not tried again.
        for (const QString& name : std::as_const(leftovers)) {
            Easy remove;
            CommonOptions(remove.curl, target, user, password, knownHosts, privateKey, &clock, &hostKey);
            const QByteArray url = folder.resolved(QUrl(name)).toEncoded();
            curl_easy_setopt(remove.curl, CURLOPT_URL, url.constData());
            curl_easy_setopt(remove.curl, CURLOPT_CUSTOMREQUEST, "DELETE");
            curl_easy_perform(remove.curl);
        }
    }
    if (progress.leftovers)
        progress.leftovers->clear();
    return {};
}

QString OnlineStatus::Text() const
{
    // Before "aktuell": the state on the host may be half a minute old by now.
    if (waitingSeconds > 0)
        return QStringLiteral("Online: wartet seit %1 s auf den Server").arg(waitingSeconds);
    if (current)
        return QStringLiteral("Online: aktuell (%1)").arg(since.toString(QStringLiteral("HH:mm:ss")));
    if (!error.isEmpty()) {
        // The host that answers but refuses is not "unreachable": the operator would
        // look at the cable instead of the password.
        using E = OnlineResult::Error;
        const QString what = kind == E::Login         ? QStringLiteral("Anmeldung abgelehnt")
                             : kind == E::Permission  ? QStringLiteral("keine Schreibrechte")
                             : kind == E::Certificate ? QStringLiteral("Zertifikat ungültig")
                             : kind == E::HostKey || kind == E::UnknownHostKey
                                 ? QStringLiteral("Serverschlüssel abgelehnt")
                             : kind == E::StorageFull ? QStringLiteral("Speicher voll")
                             : kind == E::ServerError && serverStatus > 0
                                 ? QStringLiteral("Server meldet Fehler %1").arg(serverStatus)
                             : kind == E::ServerError ? QStringLiteral("Server meldet Schreibfehler")
                                                      : QStringLiteral("nicht erreichbar");
        return QStringLiteral("Online: %1 seit %2 – neuer Versuch in %3 s")
            .arg(what, since.toString(QStringLiteral("HH:mm")))
            .arg(retryInSeconds);
    }
    return QStringLiteral("Online: wird übertragen …");
}

namespace {

// Upload threads alive, for the program's end.
std::mutex uploadThreadsMutex;
std::condition_variable uploadThreadsChanged;
int uploadThreadsRunning = 0;

} // namespace

struct OnlinePublisher::Shared
{
    OnlineTarget target;
    std::shared_ptr<IPasswordStore> passwords;
    QMutex mutex;
    QWaitCondition wake;
    QByteArray pending;
    bool hasPending = false;
    bool stop = false;
    std::atomic<bool> cancel = false; // closing must not wait for a slow host or keyring
    int maxPauseMs = 60000;
    // The publisher while it lives; signals go only through it, under this lock, so
    // that the thread never touches a publisher that is gone.
    QMutex ownerMutex;
    OnlinePublisher* owner = nullptr;

    template <typename Tell> void TellOwner(Tell tell)
    {
        QMutexLocker lock(&ownerMutex);
        if (owner)
            tell(*owner);
    }
};

OnlinePublisher::OnlinePublisher(OnlineTarget target, std::shared_ptr<IPasswordStore> passwords,
                                 QObject* parent)
    : QObject(parent), m_target(target), m_shared(std::make_shared<Shared>())
{
    qRegisterMetaType<OnlineStatus>();
    m_shared->target = std::move(target);
    m_shared->passwords = std::move(passwords);
    m_shared->owner = this;
    {
        std::lock_guard lock(uploadThreadsMutex);
        ++uploadThreadsRunning;
    }
    std::thread([shared = m_shared] {
        Run(shared);
        std::lock_guard lock(uploadThreadsMutex);
        --uploadThreadsRunning;
        uploadThreadsChanged.notify_all();
    }).detach();
}

OnlinePublisher::~OnlinePublisher()
{
    {
        QMutexLocker lock(&m_shared->ownerMutex);
        m_shared->owner = nullptr;
    }
    {
        QMutexLocker lock(&m_shared->mutex);
        m_shared->stop = true;
    }
    m_shared->cancel = true;
    m_shared->wake.wakeAll();
}

int OnlinePublisher::RunningThreads()
{
    std::lock_guard lock(uploadThreadsMutex);
    return uploadThreadsRunning;
}

bool OnlinePublisher::WaitForThreads(QDeadlineTimer deadline)
{
    std::unique_lock lock(uploadThreadsMutex);
    return uploadThreadsChanged.wait_until(lock, deadline.deadline<std::chrono::steady_clock>(),
                                           [] { return uploadThreadsRunning == 0; });
}

void OnlinePublisher::Publish(const QByteArray& json)
{
    {
        QMutexLocker lock(&m_shared->mutex);
        m_shared->pending = json;
        m_shared->hasPending = true;
    }
    m_shared->wake.wakeAll();
}

void OnlinePublisher::SetMaxRetryPause(int ms)
{
    QMutexLocker lock(&m_shared->mutex);
    m_shared->maxPauseMs = ms;
}

void OnlinePublisher::Run(const std::shared_ptr<Shared>& shared)
{
    Shared& s = *shared;
    QByteArray page;
    if (QFile f(QStringLiteral(":/live/index.html")); f.open(QIODevice::ReadOnly))
        page = f.readAll().replace("const statisch = false;", "const statisch = true;");
    OnlineTarget target = s.target;
    bool passwordRead = !target.password.isEmpty() || !s.passwords;
    bool keyringEmpty = false;
    bool pageUp = false;
    int pauseMs = 0;
    OnlineStatus status;
    QDateTime failingSince;
    QStringList leftovers; // temporary files failed renames may have left on the host
    QMutexLocker lock(&s.mutex);
    while (!s.stop) {
        if (!s.hasPending) {
            s.wake.wait(&s.mutex);
            continue;
        }
        const QByteArray json = s.pending;
        s.hasPending = false;
        lock.unlock();

        QList<OnlineFile> files{{QStringLiteral("ergebnisse.json"), json}};
        if (!pageUp && !page.isEmpty())
            files.append({QStringLiteral("index.html"), page});
        if (!passwordRead) {
            passwordRead = true;
            const std::optional<QString> kept =
                s.passwords->Read(OnlinePasswordKey(target.folder, target.user), &s.cancel);
            keyringEmpty = !kept;
            target.password = kept.value_or(QString());
        }
        OnlineProgress progress;
        progress.cancel = &s.cancel;
        progress.leftovers = &leftovers;
        progress.waiting = [&](int seconds) {
            OnlineStatus waiting = status;
            waiting.waitingSeconds = seconds;
            s.TellOwner([&](OnlinePublisher& owner) { emit owner.StatusChanged(waiting); });
        };
        OnlineResult result =
            s.cancel ? OnlineResult{OnlineResult::Error::Other, {}} : UploadFiles(target, files, progress);
        if (result.error == OnlineResult::Error::Login && keyringEmpty)
            result.message +=
                QStringLiteral(" Der Schlüsselbund des Desktops lieferte kein Passwort für %1: in den "
                               "Einstellungen unter „Passwort“ eingeben.")
                    .arg(OnlinePasswordKey(target.folder, target.user));

        lock.relock();
        if (s.stop)
            break;
        if (result.ok()) {
            pageUp = true;
            pauseMs = 0;
            failingSince = {};
            ++status.uploads;
            status.current = !s.hasPending;
            status.since = QDateTime::currentDateTime();
            status.error.clear();
            status.kind = OnlineResult::Error::None;
            status.serverStatus = 0;
            status.retryInSeconds = 0;
            lock.unlock();
            s.TellOwner([&](OnlinePublisher& owner) {
                emit owner.Uploaded(json);
                emit owner.StatusChanged(status);
            });
            lock.relock();
            continue;
        }
        // Keep the newest state: one that came in meanwhile replaces the failed one.
        if (!s.hasPending) {
            s.pending = json;
            s.hasPending = true;
        }
        pauseMs = std::min(pauseMs == 0 ? 1000 : pauseMs * 2, s.maxPauseMs);
        if (!failingSince.isValid())
            failingSince = QDateTime::currentDateTime();
        status.current = false;
        status.since = failingSince;
        status.error = result.message;
        status.kind = result.error;
        status.serverStatus = result.serverStatus;
        status.retryInSeconds = (pauseMs + 999) / 1000;
        lock.unlock();
        s.TellOwner([&](OnlinePublisher& owner) { emit owner.StatusChanged(status); });
        lock.relock();
        // A new state doesn't cut the pause short: the host is down, it would fail too.
        QDeadlineTimer deadline(pauseMs);
        while (!s.stop && !deadline.hasExpired())
            s.wake.wait(&s.mutex, deadline);
    }
}
