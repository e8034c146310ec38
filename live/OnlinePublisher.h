#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QUrl>

#include "OnlinePasswords.h"

#include <atomic>
#include <functional>
#include <memory>

// Where the results go on the club's web host: a folder URL (sftp, ftps, ftp,
// https or http for WebDAV / HTTP PUT) and the login for it.
struct OnlineTarget
{
    QUrl folder;
    QString user;       // used where the URL names none
    QString password;   // from the keyring, never from the settings file
    QString knownHosts; // SSH known_hosts file; empty = ~/.ssh/known_hosts
    // Asked (on the transfer's thread) when an SFTP host's key is not yet in
    // known_hosts, with the host and the key's SHA-256 fingerprint; true adds it.
    // Empty: an unknown key is refused, as a key that doesn't match always is.
    std::function<bool(const QString& host, const QString& fingerprint)> acceptNewHostKey;
    int connectTimeoutMs = 5000; // including the TLS or SSH handshake
};

// One file to put on the host.
struct OnlineFile
{
    QString name;
    QByteArray data;
};

// The outcome of one transfer, with a German text for the operator.
struct OnlineResult
{
    enum class Error {
        None,
        NameNotFound,
        Refused,
        Login,
        Certificate,
        HostKey,
        UnknownHostKey,
        Permission,
        ServerError, // the host answered with a 5xx status
        StorageFull, // 507, or the host's disk is full
        Other
    };
    Error error = Error::None;
    QString message;
    int serverStatus = 0; // the HTTP status a failed answer carried
    bool ok() const { return error == Error::None; }
};

// Why the program can't upload to this folder address, in German; empty when it can.
// Only sftp, ftps, ftp, https and http (WebDAV or PUT) are taken, with a host.
QString OnlineFolderProblem(const QString& folder);
// Whether a password for this folder would cross the network readable by anyone on the way.
bool OnlineLoginInClear(const QUrl& folder);

// The temporary name a file goes up under before it replaces the old one.
QString OnlineTempName(const QString& fileName, const QString& token);
// Whether a name in the folder is one of those temporary names (a leftover of a failed rename).
bool IsOnlineTempName(const QString& name);

// How an upload may report while it runs (all called on the transfer's thread).
struct OnlineProgress
{
    const std::atomic<bool>* cancel = nullptr; // set: the transfer ends within about a second
    // Called about once a second from waitingAfterMs on while the transfer has not finished,
    // with the seconds it has taken so far.
    std::function<void(int seconds)> waiting;
    int waitingAfterMs = 3000;
    // In: temporary files failed transfers may have left in the folder; they are removed
    // after the next transfer that succeeds. Out: those of this transfer if it failed.
    QStringList* leftovers = nullptr;
};

// Puts files into the folder through libcurl, each under a temporary name first and
// then renamed, so a spectator never reads half a file. Blocking: call it off the
// window's thread.
OnlineResult UploadFiles(const OnlineTarget& target, const QList<OnlineFile>& files,
                         const OnlineProgress& progress = {});

struct OnlineStatus
{
    bool current = false;   // the newest state is on the host
    QDateTime since;        // when it got there, or since when the host fails
    int retryInSeconds = 0; // while failing: pause before the next try
    QString error;          // while failing: what went wrong
    OnlineResult::Error kind = OnlineResult::Error::None;
    int serverStatus = 0;   // while failing with ServerError: the host's status code
    int waitingSeconds = 0; // a transfer under way that has waited this long for the host
    int uploads = 0;        // uploads made so far
    QString Text() const;   // for the status bar
};

// Publishes the newest results to the host after every change, on a thread of its own:
// never more than one upload in flight, the newest state wins, an unreachable host is
// tried again with growing pauses up to a minute. Nothing that calls in ever waits for
// the network or the keyring, not even the destructor: it lets the thread go, which
// ends on its own as soon as its transfer or keyring read gives up.
class OnlinePublisher : public QObject
{
    Q_OBJECT
public:
    // Without a password in the target it is read from the store (if any) on the upload thread.
    explicit OnlinePublisher(OnlineTarget target, std::shared_ptr<IPasswordStore> passwords = nullptr,
                             QObject* parent = nullptr);
    ~OnlinePublisher() override;

    // Thread-safe; returns at once. The page goes up once per session, the JSON after each change.
    void Publish(const QByteArray& json);

    // For tests: the longest pause between tries (default one minute).
    void SetMaxRetryPause(int ms);

    const OnlineTarget& Target() const { return m_target; }

    // Upload threads still running, those of publishers already gone included.
    static int RunningThreads();
    // At the program's end: gives threads let go a moment to finish. False if some still run.
    static bool WaitForThreads(QDeadlineTimer deadline);

signals:
    void StatusChanged(const OnlineStatus& status);
    void Uploaded(const QByteArray& json); // the state that has just reached the host

private:
    struct Shared;
    static void Run(const std::shared_ptr<Shared>& shared);

    OnlineTarget m_target;
    std::shared_ptr<Shared> m_shared; // the thread holds it too, and may outlive this object
};

Q_DECLARE_METATYPE(OnlineStatus)
