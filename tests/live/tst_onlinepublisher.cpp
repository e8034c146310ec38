#include "OnlinePublisher.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <unistd.h>

// Uploads against a real nginx with WebDAV on loopback, started by the test.
class TestOnlinePublisher : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void errors_data();
    void errors();
    void uploadAfterChange();
    void coalescesBurst();
    void hostDownThenBack();

private:
    void StartNginx();
    void StopNginx();
    QByteArray OnHost(const QString& name) const;
    OnlineTarget Target(const QString& folder) const;

    QTemporaryDir m_dir;
    QString m_nginx;
    quint16 m_port = 0;
    std::unique_ptr<QProcess> m_server;
};

static quint16 FreePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress(QStringLiteral("127.0.0.1")), 0);
    return probe.serverPort();
}

static bool Answers(quint16 port)
{
    QTcpSocket socket;
    socket.bind(QHostAddress(QStringLiteral("127.0.0.2")));
    socket.connectToHost(QHostAddress(QStringLiteral("127.0.0.1")), port);
    return socket.waitForConnected(200);
}

void TestOnlinePublisher::initTestCase()
{
    m_nginx = QStandardPaths::findExecutable(QStringLiteral("nginx"), {QStringLiteral("/usr/sbin")});
    if (m_nginx.isEmpty())
        QSKIP("nginx is not installed");
    const QString d = m_dir.path();
    QDir(d).mkpath(QStringLiteral("www/site"));
    QDir(d).mkpath(QStringLiteral("www/locked"));
    QDir(d).mkpath(QStringLiteral("www/ro"));
    QDir(d).mkpath(QStringLiteral("body"));
    QFile pw(d + QStringLiteral("/htpasswd"));
    QVERIFY(pw.open(QIODevice::WriteOnly));
    pw.write("verein:{PLAIN}richtig\n");
    pw.close();
    m_port = FreePort();
    QFile conf(d + QStringLiteral("/nginx.conf"));
    QVERIFY(conf.open(QIODevice::WriteOnly));
    const QByteArray dir = d.toUtf8();
    QByteArray text;
    if (geteuid() == 0)
        text += "user root;\n";
    text +=
        "daemon off; master_process off; pid " + dir + "/nginx.pid; error_log " + dir +
        "/error.log;\nevents {}\nhttp {\n access_log off; client_body_temp_path " + dir +
        "/body;\n proxy_temp_path " + dir + "/body; fastcgi_temp_path " + dir + "/body; uwsgi_temp_path " +
        dir + "/body; scgi_temp_path " + dir +
        "/body;\n server {\n  listen 127.0.0.1:" + QByteArray::number(m_port) + ";\n  root " + dir +
        "/www;\n  location /site/ { dav_methods PUT DELETE MKCOL COPY MOVE; }\n"
        "  location /locked/ { dav_methods PUT DELETE MOVE; auth_basic \"Verein\"; auth_basic_user_file " +
        dir + "/htpasswd; }\n  location /ro/ { }\n }\n}\n";
    conf.write(text);
    conf.close();
    StartNginx();
}

void TestOnlinePublisher::StartNginx()
{
    m_server = std::make_unique<QProcess>();
    m_server->setProcessChannelMode(QProcess::ForwardedChannels);
    m_server->start(m_nginx, {QStringLiteral("-p"), m_dir.path(), QStringLiteral("-c"),
                              m_dir.path() + QStringLiteral("/nginx.conf")});
    QVERIFY(m_server->waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(Answers(m_port), 10000);
}

void TestOnlinePublisher::StopNginx()
{
    if (!m_server)
        return;
    m_server->kill();
    m_server->waitForFinished();
    m_server.reset();
}

void TestOnlinePublisher::cleanupTestCase()
{
    StopNginx();
}

QByteArray TestOnlinePublisher::OnHost(const QString& name) const
{
    QFile f(m_dir.path() + QStringLiteral("/www/site/") + name);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

OnlineTarget TestOnlinePublisher::Target(const QString& folder) const
{
    OnlineTarget t;
    t.folder = QUrl(QStringLiteral("http://127.0.0.1:%1/%2/").arg(m_port).arg(folder));
    return t;
}

void TestOnlinePublisher::errors_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("password");
    QTest::addColumn<int>("error");
    QTest::newRow("login right") << "locked"
                                 << "richtig" << int(OnlineResult::Error::None);
    QTest::newRow("login wrong") << "locked"
                                 << "falsch" << int(OnlineResult::Error::Login);
    QTest::newRow("no write permission") << "ro"
                                         << "" << int(OnlineResult::Error::Permission);
    QTest::newRow("refused") << "closed"
                             << "" << int(OnlineResult::Error::Refused);
}

void TestOnlinePublisher::errors()
{
    QFETCH(QString, folder);
    QFETCH(QString, password);
    QFETCH(int, error);
    OnlineTarget target = Target(folder);
    if (folder == QLatin1String("closed"))
        target.folder.setPort(FreePort());
    target.user = QStringLiteral("verein");
    target.password = password;
    const OnlineResult result = UploadFiles(target, {{QStringLiteral("ergebnisse.json"), "{}"}});
    QCOMPARE(int(result.error), error);
    QCOMPARE(result.message.isEmpty(), error == int(OnlineResult::Error::None));
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
    QCOMPARE(QDir(m_dir.path() + QStringLiteral("/www/site")).entryList(QDir::Files | QDir::Hidden).size(),
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
    StopNginx();
    publisher.Publish("vorher");
    QTRY_VERIFY_WITH_TIMEOUT(
        !status.isEmpty() && !status.last().first().value<OnlineStatus>().error.isEmpty(), 10000);
    QVERIFY(
        status.last().first().value<OnlineStatus>().Text().contains(QStringLiteral("nicht erreichbar seit")));
    publisher.Publish("neuester");
    StartNginx();
    if (QTest::currentTestFailed())
        return;
    QTRY_COMPARE_WITH_TIMEOUT(OnHost(QStringLiteral("ergebnisse.json")), QByteArray("neuester"), 10000);
    QTRY_VERIFY(status.last().first().value<OnlineStatus>().current);
}

QTEST_GUILESS_MAIN(TestOnlinePublisher)
#include "tst_onlinepublisher.moc"
