#include "LoopbackSftp.h"
#include "LoopbackWebDav.h"
#include "OnlinePublisher.h"
#include "TestPasswords.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSignalSpy>
#include <QTcpServer>
#include <QtTest>

#include <chrono>
#include <thread>

// Uploads against a real nginx with WebDAV on loopback, started by the test.
class TestOnlinePublisher : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void errors_data();
    void errors();
    void uploadAfterChange();
    void coalescesBurst();
    void hostDownThenBack();
    void hangingHostIsShownWaiting();
    void failedRenamesLeaveNoTempFiles();
    void passwordFromStore_data();
    void passwordFromStore();
    void closingLetsASilentKeyringGo_data();
    void closingLetsASilentKeyringGo();
    void sftpHostKeys_data();
    void sftpHostKeys();
    void sftpFailedRenameLeavesNoTempFile();
    void sftpWriteFailure();

private:
    QByteArray OnHost(const QString& name) const { return m_webdav.Read(QStringLiteral("site"), name); }
    OnlineTarget Target(const QString& folder) const
    {
        OnlineTarget t;
        t.folder = m_webdav.Folder(folder);
        return t;
    }

    LoopbackWebDav m_webdav;
};

void TestOnlinePublisher::initTestCase()
{
    if (LoopbackWebDav::Binary().isEmpty())
        QSKIP("nginx is not installed");
    QVERIFY(m_webdav.Prepare());
    QVERIFY(m_webdav.Start());
}

void TestOnlinePublisher::errors_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("password");
    QTest::addColumn<int>("error");
    QTest::addColumn<QString>("shown"); // the status bar's text while it fails
    QTest::newRow("login right") << "locked"
                                 << "richtig" << int(OnlineResult::Error::None) << "";
    // As settings kept it before the password went to the keyring: used, not sent in the URL.
    QTest::newRow("password in the address") << "locked"
                                             << "in der Adresse" << int(OnlineResult::Error::None) << "";
    QTest::newRow("login wrong") << "locked"
                                 << "falsch" << int(OnlineResult::Error::Login) << "Anmeldung abgelehnt";
    QTest::newRow("no write permission")
        << "ro"
        << "" << int(OnlineResult::Error::Permission) << "keine Schreibrechte";
    QTest::newRow("refused") << "closed"
                             << "" << int(OnlineResult::Error::Refused) << "nicht erreichbar";
    QTest::newRow("certificate nobody signed")
        << "tls"
        << "" << int(OnlineResult::Error::Certificate) << "Zertifikat ungültig";
    QTest::newRow("server error") << "kaputt"
                                  << "" << int(OnlineResult::Error::ServerError)
                                  << "Server meldet Fehler 500";
    QTest::newRow("storage full") << "voll"
                                  << "" << int(OnlineResult::Error::StorageFull) << "Speicher voll";
}

void TestOnlinePublisher::errors()
{
    QFETCH(QString, folder);
    QFETCH(QString, password);
    QFETCH(int, error);
    QFETCH(QString, shown);
    OnlineTarget target = Target(folder);
    m_webdav.SetStorageFull(folder == QLatin1String("voll"));
    const auto notFull = qScopeGuard([&] { m_webdav.SetStorageFull(false); });
    if (folder == QLatin1String("closed"))
        target.folder.setPort(LoopbackWebDav::FreePort());
    if (folder == QLatin1String("tls"))
        target.folder = m_webdav.TlsFolder(QStringLiteral("site"));
    target.user = QStringLiteral("verein");
    target.password = password;
    if (password == u"in der Adresse") {
        target.folder.setUserName(QStringLiteral("verein"));
        target.folder.setPassword(QStringLiteral("richtig"));
        target.password.clear();
    }
    const OnlineResult result = UploadFiles(target, {{QStringLiteral("ergebnisse.json"), "{}"}});
    QCOMPARE(int(result.error), error);
    QCOMPARE(result.message.isEmpty(), error == int(OnlineResult::Error::None));
    if (result.ok())
        return;
    OnlineStatus status;
    status.since = QDateTime::currentDateTime();
    status.error = result.message;
    status.kind = result.error;
    status.serverStatus = result.serverStatus;
    QVERIFY2(status.Text().startsWith(QStringLiteral("Online: ") + shown + QStringLiteral(" seit ")),
             qPrintable(status.Text()));
}

void TestOnlinePublisher::uploadAfterChange()
{
    OnlinePublisher publisher(Target(QStringLiteral("site")));
    QSignalSpy status(&publisher, &OnlinePublisher::StatusChanged);
    publisher.Publish(R"({"zeilen":[["1"]]})");
    QTRY_COMPARE_WITH_TIMEOUT(OnHost(QStringLiteral("ergebnisse.json")), QByteArray(R"({"zeilen":[["1"]]})"),
                              10000);
    QVERIFY(OnHost(QStringLiteral("index.html")).contains("const statisch = true;"));
    QTRY_VERIFY(!status.isEmpty());
    const auto last = status.last().first().value<OnlineStatus>();
    QVERIFY(last.current);
    QVERIFY(last.Text().startsWith(QStringLiteral("Online: aktuell (")));
    // No temporary file is left behind.
    QCOMPARE(QDir(QFileInfo(m_webdav.Path(QStringLiteral("site"), {})).path())
                 .entryList(QDir::Files | QDir::Hidden)
                 .size(),
             2);
}

void TestOnlinePublisher::coalescesBurst()
{
    OnlinePublisher publisher(Target(QStringLiteral("site")));
    QSignalSpy uploaded(&publisher, &OnlinePublisher::Uploaded);
    for (int i = 0; i < 50; ++i)
        publisher.Publish(QByteArray::number(i));
    QTRY_COMPARE_WITH_TIMEOUT(OnHost(QStringLiteral("ergebnisse.json")), QByteArray("49"), 10000);
    QTRY_COMPARE(uploaded.last().first().toByteArray(), QByteArray("49"));
    // The burst arrived during the first upload at the latest: at most two more follow it.
    QVERIFY2(uploaded.size() <= 3, qPrintable(QString::number(uploaded.size())));
}

void TestOnlinePublisher::hostDownThenBack()
{
    OnlinePublisher publisher(Target(QStringLiteral("site")));
    publisher.SetMaxRetryPause(300);
    QSignalSpy status(&publisher, &OnlinePublisher::StatusChanged);
    m_webdav.Stop();
    publisher.Publish("vorher");
    QTRY_VERIFY_WITH_TIMEOUT(
        !status.isEmpty() && !status.last().first().value<OnlineStatus>().error.isEmpty(), 10000);
    QVERIFY(
        status.last().first().value<OnlineStatus>().Text().contains(QStringLiteral("nicht erreichbar seit")));
    publisher.Publish("neuester");
    QVERIFY(m_webdav.Start());
    QTRY_COMPARE_WITH_TIMEOUT(OnHost(QStringLiteral("ergebnisse.json")), QByteArray("neuester"), 10000);
    QTRY_VERIFY(status.last().first().value<OnlineStatus>().current);
}

// A host that takes the connection and then says nothing: the status bar doesn't go on
// saying "aktuell" for the half minute until the transfer gives up.
void TestOnlinePublisher::hangingHostIsShownWaiting()
{
    QTcpServer silent;
    QVERIFY(silent.listen(QHostAddress::LocalHost));
    OnlineTarget target;
    target.folder = QUrl(QStringLiteral("http://127.0.0.1:%1/site/").arg(silent.serverPort()));
    auto publisher = std::make_unique<OnlinePublisher>(target);
    QSignalSpy status(publisher.get(), &OnlinePublisher::StatusChanged);
    publisher->Publish("{}");
    const auto waited = [&] {
        return status.isEmpty() ? 0 : status.last().first().value<OnlineStatus>().waitingSeconds;
    };
    QTRY_VERIFY_WITH_TIMEOUT(waited() >= 3, 20000);
    QCOMPARE(status.last().first().value<OnlineStatus>().Text(),
             QStringLiteral("Online: wartet seit %1 s auf den Server").arg(waited()));
    // It counts on while the host stays silent.
    const int first = waited();
    QTRY_VERIFY_WITH_TIMEOUT(waited() > first, 20000);
}

// Each MOVE the full host refused left its temporary file; the first upload that gets
// through removes them, and nothing else in the folder.
void TestOnlinePublisher::failedRenamesLeaveNoTempFiles()
{
    const QString folder = QFileInfo(m_webdav.Path(QStringLiteral("voll"), {})).path();
    QFile foreign(folder + QStringLiteral("/.notizen.tmp"));
    QVERIFY(foreign.open(QIODevice::WriteOnly));
    foreign.close();
    const auto temps = [&] {
        return QDir(folder).entryList({QStringLiteral(".ergebnisse.json.*.tmp")}, QDir::Files | QDir::Hidden);
    };
    for (const QString& name : temps()) // the "storage full" row's, of a transfer without a publisher
        QVERIFY(QFile::remove(folder + QLatin1Char('/') + name));
    m_webdav.SetStorageFull(true);
    const auto notFull = qScopeGuard([&] { m_webdav.SetStorageFull(false); });
    OnlinePublisher publisher(Target(QStringLiteral("voll")));
    publisher.SetMaxRetryPause(200);
    QSignalSpy status(&publisher, &OnlinePublisher::StatusChanged);
    publisher.Publish("erst voll");
    QTRY_VERIFY_WITH_TIMEOUT(temps().size() >= 3, 20000);
    QTRY_VERIFY(!status.isEmpty() &&
                status.last().first().value<OnlineStatus>().kind == OnlineResult::Error::StorageFull);
    QVERIFY2(status.last().first().value<OnlineStatus>().Text().startsWith(u"Online: Speicher voll seit "),
             qPrintable(status.last().first().value<OnlineStatus>().Text()));
    m_webdav.SetStorageFull(false);
    QTRY_VERIFY_WITH_TIMEOUT(!status.isEmpty() && status.last().first().value<OnlineStatus>().current, 20000);
    QCOMPARE(m_webdav.Read(QStringLiteral("voll"), QStringLiteral("ergebnisse.json")),
             QByteArray("erst voll"));
    QCOMPARE(temps(), QStringList());
    QVERIFY(foreign.exists());
}

void TestOnlinePublisher::passwordFromStore_data()
{
    QTest::addColumn<bool>("inKeyring");
    QTest::newRow("in the keyring") << true;
    QTest::newRow("keyring without it") << false;
}

void TestOnlinePublisher::passwordFromStore()
{
    QFETCH(bool, inKeyring);
    auto passwords = std::make_shared<TestPasswords>();
    if (inKeyring)
        passwords->WriteLater(QStringLiteral("verein@127.0.0.1"), QStringLiteral("richtig"), {});
    OnlineTarget target = Target(QStringLiteral("locked"));
    target.user = QStringLiteral("verein");
    OnlinePublisher publisher(target, passwords);
    QSignalSpy uploaded(&publisher, &OnlinePublisher::Uploaded);
    QSignalSpy status(&publisher, &OnlinePublisher::StatusChanged);
    publisher.Publish("mit Passwort");
    QTRY_VERIFY_WITH_TIMEOUT(!status.isEmpty(), 10000);
    const auto first = status.first().first().value<OnlineStatus>();
    QCOMPARE(uploaded.size(), inKeyring ? 1 : 0);
    QCOMPARE(first.current, inKeyring);
    if (inKeyring)
        return;
    // Not "unreachable": the host answered, and what it lacks is named.
    QVERIFY2(first.Text().startsWith(u"Online: Anmeldung abgelehnt seit "), qPrintable(first.Text()));
    QVERIFY2(first.error.contains(u"lieferte kein Passwort für verein@127.0.0.1"), qPrintable(first.error));
}

void TestOnlinePublisher::closingLetsASilentKeyringGo_data()
{
    QTest::addColumn<bool>("cancellable");
    QTest::newRow("keyring that can't be cut short answers later") << false;
    QTest::newRow("keyring that never answers") << true;
}

// A locked keyring nobody unlocks: closing the publisher (new settings, the program's
// end) returns at once, and its thread ends on its own without uploading.
void TestOnlinePublisher::closingLetsASilentKeyringGo()
{
    QFETCH(bool, cancellable);
    QTRY_COMPARE(OnlinePublisher::RunningThreads(), 0); // those of the tests before
    auto passwords = std::make_shared<TestPasswords>();
    passwords->WriteLater(QStringLiteral("verein@127.0.0.1"), QStringLiteral("richtig"), {});
    passwords->ignoreCancel = !cancellable;
    passwords->Hold();
    OnlineTarget target = Target(QStringLiteral("locked"));
    target.user = QStringLiteral("verein");
    auto publisher = std::make_unique<OnlinePublisher>(target, passwords);
    publisher->Publish("vom alten Ziel");
    QTRY_COMPARE(passwords->Waiting(), 1);
    publisher.reset();
    if (cancellable) {
        QTRY_COMPARE(OnlinePublisher::RunningThreads(), 0);
        QCOMPARE(passwords->Cancelled(), 1);
    } else {
        // Gone while its thread still waits for the keyring.
        QCOMPARE(passwords->Waiting(), 1);
        QCOMPARE(OnlinePublisher::RunningThreads(), 1);
        passwords->Release();
        QTRY_COMPARE(OnlinePublisher::RunningThreads(), 0);
    }
    QVERIFY(!m_webdav.Read(QStringLiteral("locked"), QStringLiteral("ergebnisse.json")).contains("alten"));
}

void TestOnlinePublisher::sftpHostKeys_data()
{
    using Known = LoopbackSftp::Known;
    QTest::addColumn<int>("known");
    QTest::addColumn<int>("answer"); // -1: nobody to ask, 0: "Nein", 1: "Ja", 2: "Ja" after a long look
    QTest::addColumn<int>("error");
    QTest::addColumn<bool>("asked");
    QTest::newRow("known key, login by the user's key")
        << int(Known::Right) << -1 << int(OnlineResult::Error::None) << false;
    QTest::newRow("unknown key, nobody to ask")
        << int(Known::Missing) << -1 << int(OnlineResult::Error::UnknownHostKey) << false;
    QTest::newRow("unknown key, refused")
        << int(Known::Missing) << 0 << int(OnlineResult::Error::UnknownHostKey) << true;
    QTest::newRow("unknown key, accepted and kept")
        << int(Known::Missing) << 1 << int(OnlineResult::Error::None) << true;
    QTest::newRow("unknown key, accepted after the connection's time ran out")
        << int(Known::Missing) << 2 << int(OnlineResult::Error::None) << true;
    QTest::newRow("another key than the known one")
        << int(Known::Other) << 1 << int(OnlineResult::Error::HostKey) << false;
}

// Against a real sshd on loopback, with a home of its own for the user's key and known_hosts.
void TestOnlinePublisher::sftpHostKeys()
{
    QFETCH(int, known);
    QFETCH(int, answer);
    QFETCH(int, error);
    QFETCH(bool, asked);
    if (LoopbackSftp::Binary().isEmpty())
        QSKIP("sshd is not installed");
    LoopbackSftp sftp;
    QVERIFY(sftp.Prepare());
    QVERIFY(sftp.Start());
    const QByteArray home = qgetenv("HOME");
    qputenv("HOME", QFile::encodeName(sftp.Home()));
    const auto restoreHome = qScopeGuard([&] { qputenv("HOME", home); });
    QVERIFY(sftp.WriteKnownHosts(LoopbackSftp::Known(known)));

    OnlineTarget target;
    target.folder = sftp.Folder();
    QStringList questions;
    if (answer == 2)
        target.connectTimeoutMs = 300;
    if (answer >= 0)
        target.acceptNewHostKey = [&](const QString& host, const QString& fingerprint) {
            questions << host + QLatin1Char(' ') + fingerprint;
            // The operator compares the fingerprint for longer than the connection may take.
            if (answer == 2)
                std::this_thread::sleep_for(std::chrono::milliseconds(3 * target.connectTimeoutMs));
            return answer >= 1;
        };
    const OnlineResult result = UploadFiles(target, {{QStringLiteral("ergebnisse.json"), "{\"v\":1}"}});
    QCOMPARE(int(result.error), error);
    QCOMPARE(sftp.Read(QStringLiteral("ergebnisse.json")),
             result.ok() ? QByteArray("{\"v\":1}") : QByteArray());
    QCOMPARE(questions.size(), asked ? 1 : 0);
    if (!asked)
        return;
    // The fingerprint asked about is the one ssh-keygen shows for the server's key.
    QProcess keygen;
    keygen.start(QStringLiteral("ssh-keygen"),
                 {QStringLiteral("-l"), QStringLiteral("-f"), sftp.Home() + "/../hostkey.pub"});
    QVERIFY(keygen.waitForFinished(30000));
    const QString shown = QString::fromLatin1(keygen.readAllStandardOutput()).section(QLatin1Char(' '), 1, 1);
    QCOMPARE(questions.constFirst(), QStringLiteral("127.0.0.1 ") + shown);
    if (answer == 0)
        return;
    // Kept: the next transfer needs nobody to ask.
    target.acceptNewHostKey = nullptr;
    QVERIFY(UploadFiles(target, {{QStringLiteral("ergebnisse.json"), "{\"v\":2}"}}).ok());
    QCOMPARE(sftp.Read(QStringLiteral("ergebnisse.json")), QByteArray("{\"v\":2}"));
}

// The rename onto ergebnisse.json fails while a folder of that name is in the way: the
// temporary file stays, and the next transfer that gets through removes it.
void TestOnlinePublisher::sftpFailedRenameLeavesNoTempFile()
{
    if (LoopbackSftp::Binary().isEmpty())
        QSKIP("sshd is not installed");
    LoopbackSftp sftp;
    QVERIFY(sftp.Prepare());
    QVERIFY(sftp.Start());
    const QByteArray home = qgetenv("HOME");
    qputenv("HOME", QFile::encodeName(sftp.Home()));
    const auto restoreHome = qScopeGuard([&] { qputenv("HOME", home); });
    QVERIFY(sftp.WriteKnownHosts(LoopbackSftp::Known::Right));
    const QString folder = QFileInfo(sftp.Path(QStringLiteral("ergebnisse.json"))).path();
    QVERIFY(QDir(folder).mkdir(QStringLiteral("ergebnisse.json")));
    QFile foreign(folder + QStringLiteral("/.notizen.tmp"));
    QVERIFY(foreign.open(QIODevice::WriteOnly));
    foreign.close();
    const auto temps = [&] {
        return QDir(folder).entryList({QStringLiteral(".ergebnisse.json.*.tmp")}, QDir::Files | QDir::Hidden);
    };
    OnlineTarget target;
    target.folder = sftp.Folder();
    QStringList leftovers;
    OnlineProgress progress;
    progress.leftovers = &leftovers;
    QVERIFY(!UploadFiles(target, {{QStringLiteral("ergebnisse.json"), "{\"v\":1}"}}, progress).ok());
    QCOMPARE(temps().size(), 1);
    QCOMPARE(leftovers, temps());
    QVERIFY(QDir(folder).rmdir(QStringLiteral("ergebnisse.json")));
    QVERIFY(UploadFiles(target, {{QStringLiteral("ergebnisse.json"), "{\"v\":2}"}}, progress).ok());
    QCOMPARE(sftp.Read(QStringLiteral("ergebnisse.json")), QByteArray("{\"v\":2}"));
    QCOMPARE(temps(), QStringList());
    QVERIFY(leftovers.isEmpty());
    QVERIFY(foreign.exists());
}

// A write the SFTP server fails (as on a full disk: OpenSSH names no reason) is the server's
// failure, not a host key that doesn't match.
void TestOnlinePublisher::sftpWriteFailure()
{
    if (LoopbackSftp::Binary().isEmpty())
        QSKIP("sshd is not installed");
    LoopbackSftp sftp;
    QVERIFY(sftp.Prepare());
    QVERIFY(sftp.Start(2));
    const QByteArray home = qgetenv("HOME");
    qputenv("HOME", QFile::encodeName(sftp.Home()));
    const auto restoreHome = qScopeGuard([&] { qputenv("HOME", home); });
    QVERIFY(sftp.WriteKnownHosts(LoopbackSftp::Known::Right));
    OnlineTarget target;
    target.folder = sftp.Folder();
    QVERIFY(UploadFiles(target, {{QStringLiteral("ergebnisse.json"), "{}"}}).ok());
    const OnlineResult result =
        UploadFiles(target, {{QStringLiteral("ergebnisse.json"), QByteArray(4096, 'x')}});
    QCOMPARE(int(result.error), int(OnlineResult::Error::ServerError));
    QVERIFY2(result.message.startsWith(u"127.0.0.1 meldet einen Fehler beim Schreiben (") &&
                 result.message.endsWith(u"Ist der Speicher voll?"),
             qPrintable(result.message));
    OnlineStatus status;
    status.error = result.message;
    status.kind = result.error;
    QVERIFY2(status.Text().startsWith(u"Online: Server meldet Schreibfehler seit "),
             qPrintable(status.Text()));
    QCOMPARE(sftp.Read(QStringLiteral("ergebnisse.json")), QByteArray("{}")); // the old state stays
}

QTEST_GUILESS_MAIN(TestOnlinePublisher)
#include "tst_onlinepublisher.moc"
