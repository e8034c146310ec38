#include "LiveClient.h"
#include "LiveServer.h"
#include "ResultsJson.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QtTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <vector>

namespace {

struct Reply
{
    int status = 0;
    QByteArray headers;
    QByteArray body;
};

// One request on a connection of its own; the reply as far as it came.
Reply Ask(quint16 port, const QByteArray& request)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(5000))
        return {};
    socket.write(request);
    QByteArray received;
    qint64 wanted = -1;
    while (socket.state() == QAbstractSocket::ConnectedState || socket.bytesAvailable()) {
        if (!socket.bytesAvailable() && !socket.waitForReadyRead(5000))
            break;
        received += socket.readAll();
        const qsizetype end = received.indexOf("\r\n\r\n");
        if (end >= 0 && wanted < 0) {
            const QByteArray head = received.left(end).toLower();
            const qsizetype at = head.indexOf("content-length:");
            wanted = at < 0 ? 0 : head.mid(at + 15, head.indexOf("\r\n", at) - at - 15).trimmed().toLongLong();
            wanted += end + 4;
        }
        if (wanted >= 0 && received.size() >= wanted)
            break;
    }
    Reply reply;
    const qsizetype end = received.indexOf("\r\n\r\n");
    reply.headers = received.left(end);
    reply.body = end < 0 ? QByteArray() : received.mid(end + 4);
    const QList<QByteArray> statusLine = reply.headers.left(reply.headers.indexOf("\r\n")).split(' ');
    reply.status = statusLine.size() > 1 ? statusLine.at(1).toInt() : 0;
    return reply;
}

QByteArray Results(const QString& name, int size = 0)
{
    LiveSnapshot snapshot;
    snapshot.title = QStringLiteral("Seifenkistenrennen am Berg");
    snapshot.date = QStringLiteral("08.12.2026");
    snapshot.rows << QStringList{"1", name, "Anna", QString(size, 'x'), "A", "31,25", "", "", "", "", "", "31,25", "1"};
    snapshot.lanes[0].state = LiveLane::State::Stopped;
    snapshot.lanes[0].time = QStringLiteral("31,25");
    return ResultsJson(snapshot);
}

} // namespace

class TestLiveServer : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        server = std::make_unique<TLiveServer>();
        QVERIFY(server->Start(0));
        QVERIFY(server->Port() != 0);
    }
    void cleanup() { server.reset(); }

    void onlyItsPathsAreServed_data();
    void onlyItsPathsAreServed();
    void eachPublishReachesEveryStream();
    void oversizedRequestIsDroppedAndOthersAreServed();
    void connectionsAreBounded();
    void clientThatNeverReadsIsDroppedWhileOthersKeepUp();
    void busyPortIsToldInGerman();

private:
    std::unique_ptr<TLiveServer> server;
};

void TestLiveServer::onlyItsPathsAreServed_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("bodyHas");

    QTest::newRow("the page") << Get("/") << 200 << QByteArray("EventSource(\"/live\")");
    QTest::newRow("the results") << Get("/ergebnisse.json") << 200 << QByteArray("Seifenkistenrennen am Berg");
    QTest::newRow("HEAD of the page") << Get("/", "HEAD") << 200 << QByteArray();
    QTest::newRow("POST changes nothing") << Get("/ergebnisse.json", "POST") << 405 << QByteArray("Nur Lesen");
    QTest::newRow("DELETE changes nothing") << Get("/", "DELETE") << 405 << QByteArray();
    QTest::newRow("dots") << Get("/../") << 404 << QByteArray();
    QTest::newRow("encoded dots") << Get("/%2e%2e/%2e%2e/etc/passwd") << 404 << QByteArray();
    QTest::newRow("double slash") << Get("//etc/passwd") << 404 << QByteArray();
    QTest::newRow("behind the results") << Get("/ergebnisse.json/../../etc/passwd") << 404 << QByteArray();
    QTest::newRow("a file beside the page") << Get("/index.html") << 404 << QByteArray();
    QTest::newRow("backslashes") << Get("/..\\..\\etc\\passwd") << 404 << QByteArray();
}

void TestLiveServer::onlyItsPathsAreServed()
{
    QFETCH(QByteArray, request);
    QFETCH(int, status);
    QFETCH(QByteArray, bodyHas);

    QSignalSpy published(server.get(), &TLiveServer::Published);
    server->Publish(Results(QStringLiteral("Müller")));
    // Emitted on the server's thread, maybe before a wait could begin.
    QTRY_COMPARE(published.count(), 1);
    const Reply reply = Ask(server->Port(), request);
    QCOMPARE(reply.status, status);
    QVERIFY2(reply.body.contains(bodyHas), reply.body.left(200).constData());
    QVERIFY(!reply.body.contains("root:"));
}

void TestLiveServer::eachPublishReachesEveryStream()
{
    StreamReader first(server->Port());
    StreamReader second(server->Port());
    QTRY_COMPARE(server->StreamClients(), 2);
    QTRY_COMPARE(first.events.size(), 1); // what was there when it came
    server->Publish(Results(QStringLiteral("Müller")));
    server->Publish(Results(QStringLiteral("Schmidt")));
    QTRY_COMPARE(second.events.size(), 3);
    QTRY_COMPARE(first.events.size(), 3);
    QCOMPARE(first.events, second.events);
    const QJsonObject last = QJsonDocument::fromJson(first.events.last()).object();
    QCOMPARE(last.value("zeilen").toArray().at(0).toArray().at(1).toString(), QStringLiteral("Schmidt"));
    QCOMPARE(last.value("bahnen").toArray().at(0).toObject().value("zustand").toString(), QStringLiteral("gestoppt"));
    QVERIFY(first.socket.peek(0).isEmpty());
}

void TestLiveServer::oversizedRequestIsDroppedAndOthersAreServed()
{
    QTcpSocket socket;
    QByteArray answer;
    connect(&socket, &QTcpSocket::readyRead, this, [&] { answer += socket.readAll(); });
    socket.connectToHost(QHostAddress::LocalHost, server->Port());
    QVERIFY(socket.waitForConnected(5000));
    socket.write("GET / HTTP/1.1\r\nHost: quellorix\r\nX-Padding: " + QByteArray(200 * 1024, 'a'));
    QTRY_COMPARE_WITH_TIMEOUT(socket.state(), QAbstractSocket::UnconnectedState, 10000);
    QVERIFY(!answer.contains("200 OK"));
    QCOMPARE(Ask(server->Port(), Get("/ergebnisse.json")).status, 200);
}

void TestLiveServer::connectionsAreBounded()
{
    rlimit files{};
    ::getrlimit(RLIMIT_NOFILE, &files);
    const rlimit raised{std::min<rlim_t>(files.rlim_max, 4096), files.rlim_max};
    ::setrlimit(RLIMIT_NOFILE, &raised);
    if (raised.rlim_cur < 1400)
        QSKIP("too few file descriptors for 600 connections");

    std::vector<int> clients;
    for (int i = 0; i < 600; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(server->Port());
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        QCOMPARE(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        clients.push_back(fd);
    }
    QTRY_COMPARE_WITH_TIMEOUT(server->OpenConnections(), TLiveServer::maxConnections, 10000);
    for (const int fd : clients)
        ::close(fd);
    QTRY_COMPARE_WITH_TIMEOUT(server->OpenConnections(), 0, 10000);
    QCOMPARE(Ask(server->Port(), Get("/")).status, 200);
    ::setrlimit(RLIMIT_NOFILE, &files);
}

void TestLiveServer::clientThatNeverReadsIsDroppedWhileOthersKeepUp()
{
    // A phone that went to sleep: connected, asked for the stream, reads nothing.
    const int stuck = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int small = 4096;
    ::setsockopt(stuck, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(server->Port());
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    QCOMPARE(::connect(stuck, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    const QByteArray request = Get("/live");
    QCOMPARE(::write(stuck, request.constData(), std::size_t(request.size())), ssize_t(request.size()));
    StreamReader reader(server->Port());
    QTRY_COMPARE(server->StreamClients(), 2);
    QTRY_COMPARE(reader.events.size(), 1);

    const int publishes = 60;
    for (int i = 0; i < publishes; ++i)
        server->Publish(Results(QStringLiteral("Läufer %1").arg(i), 100 * 1024));
    // The reader gets the newest results, though not every one in between
    // when they come faster than it reads; the sleeper is let go.
    QTRY_VERIFY_WITH_TIMEOUT(!reader.events.isEmpty() && reader.events.last().contains("Läufer 59"), 20000);
    QTRY_COMPARE_WITH_TIMEOUT(server->StreamClients(), 1, 4 * TLiveServer::stallMs);
    server->Publish(Results(QStringLiteral("Zuletzt")));
    QTRY_VERIFY(reader.events.last().contains("Zuletzt"));
    ::close(stuck);
}

void TestLiveServer::busyPortIsToldInGerman()
{
    TLiveServer second;
    QString error;
    QVERIFY(!second.Start(server->Port(), &error));
    QVERIFY2(error.startsWith(QStringLiteral("Live-Ergebnisse: Port %1 lässt sich nicht öffnen").arg(server->Port())),
             qPrintable(error));
    QVERIFY(!second.Running());
}

QTEST_MAIN(TestLiveServer)
#include "tst_liveserver.moc"
