#include "LiveClient.h"
#include "LiveServer.h"
#include "ProtocolLogic.h"
#include "RaceSession.h"
#include "ResultsJson.h"

#include <QHostInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkInterface>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QtTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <vector>

namespace {

// How long a wait for the server may take before the test gives up: it ends as
// soon as what is awaited happens, so it is generous for a machine under load.
constexpr int kPatience = 60000;

struct Reply
{
    int status = 0;
    QByteArray headers; // lower case
    QByteArray body;
    bool complete = false;
    qint64 contentLength = -1;
};

// A client socket of its own phone, connected.
std::unique_ptr<QTcpSocket> Connect(quint16 port, int phone = 0)
{
    auto socket = std::make_unique<QTcpSocket>();
    socket->bind(Phone(phone));
    socket->connectToHost(QHostAddress::LocalHost, port);
    socket->waitForConnected(kPatience);
    return socket;
}

// One answer from the socket; read bytes after it stay in buffer for the next.
Reply ReadReply(QTcpSocket& socket, QByteArray& buffer, bool head = false)
{
    Reply reply;
    for (;;) {
        const qsizetype end = buffer.indexOf("\r\n\r\n");
        if (end >= 0) {
            reply.headers = buffer.left(end).toLower();
            const qsizetype at = reply.headers.indexOf("\r\ncontent-length:");
            if (at >= 0)
                reply.contentLength =
                    reply.headers.mid(at + 17, reply.headers.indexOf("\r\n", at + 2) - at - 17)
                        .trimmed()
                        .toLongLong();
            const qint64 wanted = head ? 0 : std::max<qint64>(reply.contentLength, 0);
            if (buffer.size() >= end + 4 + wanted) {
                reply.body = buffer.mid(end + 4, wanted);
                buffer.remove(0, end + 4 + wanted);
                reply.complete = true;
                break;
            }
        }
        if (!socket.bytesAvailable() && !socket.waitForReadyRead(kPatience))
            break;
        buffer += socket.readAll();
    }
    const QList<QByteArray> statusLine = reply.headers.left(reply.headers.indexOf("\r\n")).split(' ');
    reply.status = statusLine.size() > 1 ? statusLine.at(1).toInt() : 0;
    return reply;
}

// One request on a connection of its own; the reply as far as it came.
Reply Ask(quint16 port, const QByteArray& request, int phone = 0)
{
    const auto socket = Connect(port, phone);
    socket->write(request);
    QByteArray buffer;
    return ReadReply(*socket, buffer, request.startsWith("HEAD "));
}

QByteArray Results(const QString& name, int size = 0)
{
    LiveSnapshot snapshot;
    snapshot.title = QStringLiteral("Seifenkistenrennen am Berg");
    snapshot.date = QStringLiteral("08.12.2026");
    snapshot.rows << QStringList{"1", name,    "Anna", QString(size, 'x'), "A", "31,25", "", "", "", "",
                                 "",  "31,25", "1"};
    snapshot.lanes[0].state = LiveLane::State::Stopped;
    snapshot.lanes[0].time = QStringLiteral("31,25");
    return ResultsJson(snapshot);
}

// A protocol of rows starters in classes of 50; changed: one of them with a new time.
LiveSnapshot Protocol(int rows, int changed = -1)
{
    LiveSnapshot snapshot;
    snapshot.title = QStringLiteral("Seifenkistenrennen am Berg");
    for (int i = 0; i < rows; ++i) {
        const QString time = i == changed ? QStringLiteral("29,99") : QStringLiteral("31,25");
        snapshot.rows << QStringList{QString::number(i + 1),
                                     QStringLiteral("Läufer %1").arg(i),
                                     "",
                                     "",
                                     QStringLiteral("K%1").arg(i / 50),
                                     time,
                                     "",
                                     "",
                                     "",
                                     "",
                                     "",
                                     time,
                                     QString::number(i % 50 + 1)};
        snapshot.places << AudiencePlace{QString::number(i % 50 + 1), {}, 1, 0, time};
        snapshot.unconfirmedRows << (i == changed);
    }
    return snapshot;
}

// A raw client socket from one phone's address, for what QTcpSocket won't do
// (stop reading, shrink its buffer, look at its TCP state); -errno when it fails.
int RawConnect(quint16 port, int phone, int receiveBuffer = 0)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (receiveBuffer > 0)
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    // The port is picked at connect, for this server only: many tests' closed
    // connections from one address wait out their time without being in the way.
    const int late = 1;
    ::setsockopt(fd, IPPROTO_IP, IP_BIND_ADDRESS_NO_PORT, &late, sizeof late);
    sockaddr_in from{};
    from.sin_family = AF_INET;
    from.sin_addr.s_addr = htonl(Phone(phone).toIPv4Address());
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0 ||
        ::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
        const int error = errno;
        ::close(fd);
        return -error;
    }
    return fd;
}

int TcpState(int fd)
{
    tcp_info info{};
    socklen_t size = sizeof info;
    ::getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &size);
    return info.tcpi_state;
}

// Limits small enough that a test sees every one of them act.
TLiveServer::Limits SmallLimits()
{
    TLiveServer::Limits limits;
    limits.maxConnections = 24;
    limits.keptForPages = 6;
    limits.perAddress = 4;
    limits.headerMs = 300;
    limits.idleMs = 300;
    limits.stallMs = 300;
    return limits;
}

// Raises the open-file limit for the test's many sockets, back when it ends.
class FileLimit
{
public:
    explicit FileLimit(rlim_t wanted)
    {
        ::getrlimit(RLIMIT_NOFILE, &before);
        const rlimit raised{std::min<rlim_t>(before.rlim_max, wanted), before.rlim_max};
        ok = ::setrlimit(RLIMIT_NOFILE, &raised) == 0 && raised.rlim_cur >= wanted;
    }
    ~FileLimit() { ::setrlimit(RLIMIT_NOFILE, &before); }
    bool ok = false;

private:
    rlimit before{};
};

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
    void headGivesTheLengthOfGet_data();
    void headGivesTheLengthOfGet();
    void closingRulesAreHonoured_data();
    void closingRulesAreHonoured();
    void hostMustNameThisMachine_data();
    void hostMustNameThisMachine();
    void eachPublishReachesEveryStream();
    void streamHasTheSameSafeguards();
    void namesAreShownAsText();
    void resultsCarryThePlacesAsSpectatorsSeeThem();
    void pageComesWithTheResults_data();
    void pageComesWithTheResults();
    void unchangedResultsAnswerNotModified_data();
    void unchangedResultsAnswerNotModified();
    void aRunningLaneCarriesItsTimeAndTheAge();
    void oversizedRequestIsDroppedAndOthersAreServed();
    void whatAStreamSendsIsNotKept_data();
    void whatAStreamSendsIsNotKept();
    void oneAddressCantTakeEveryPlace_data();
    void oneAddressCantTakeEveryPlace();
    void placesAreKeptForPageLoads();
    void connectionsAreBounded();
    void fullPoolMakesRoomForNewPhones_data();
    void fullPoolMakesRoomForNewPhones();
    void ipv6DevicesCountPerNetwork_data();
    void ipv6DevicesCountPerNetwork();
    void halfClosedRequestIsAnswered_data();
    void halfClosedRequestIsAnswered();
    void slowRequestsLoseTheirPlace_data();
    void slowRequestsLoseTheirPlace();
    void clientThatNeverReadsIsResetWhileOthersKeepUp();
    void oneFramePerChangeForEveryStream_data();
    void oneFramePerChangeForEveryStream();
    void largeProtocolSendsTheChangedRows();
    void buildingTheTextDoesNotHoldUpTheCaller();
    void busyPortIsToldInGerman();

private:
    void Restart(const TLiveServer::Limits& limits)
    {
        server = std::make_unique<TLiveServer>(limits);
        QVERIFY(server->Start(0));
    }

    std::unique_ptr<TLiveServer> server;
};

void TestLiveServer::onlyItsPathsAreServed_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("bodyHas");

    QTest::newRow("the page") << Get("/") << 200 << QByteArray("EventSource(\"/live\")");
    QTest::newRow("the page, with a query") << Get("/?neu=1") << 200 << QByteArray("EventSource(\"/live\")");
    QTest::newRow("the results") << Get("/ergebnisse.json") << 200
                                 << QByteArray("Seifenkistenrennen am Berg");
    QTest::newRow("HEAD of the page") << Get("/", "HEAD") << 200 << QByteArray();
    QTest::newRow("POST changes nothing")
        << Get("/ergebnisse.json", "POST") << 405 << QByteArray("Nur Lesen");
    QTest::newRow("DELETE changes nothing") << Get("/", "DELETE") << 405 << QByteArray();
    QTest::newRow("OPTIONS of everything") << Get("*", "OPTIONS") << 405 << QByteArray();
    QTest::newRow("dots") << Get("/../") << 404 << QByteArray();
    QTest::newRow("encoded dots") << Get("/%2e%2e/%2e%2e/etc/passwd") << 404 << QByteArray();
    QTest::newRow("double slash") << Get("//etc/passwd") << 404 << QByteArray();
    QTest::newRow("behind the results") << Get("/ergebnisse.json/../../etc/passwd") << 404 << QByteArray();
    QTest::newRow("a file beside the page") << Get("/index.html") << 404 << QByteArray();
    QTest::newRow("backslashes") << Get("/..\\..\\etc\\passwd") << 404 << QByteArray();
    QTest::newRow("no path") << Get("etc/passwd") << 400 << QByteArray("Ungültige Anfrage");
    QTest::newRow("HTTP/2 by hand") << QByteArray("GET / HTTP/2.0\r\nHost: localhost\r\n\r\n") << 505
                                    << QByteArray("Nur HTTP/1.0 und HTTP/1.1");
    QTest::newRow("no version") << QByteArray("GET /\r\nHost: localhost\r\n\r\n") << 400 << QByteArray();
    QTest::newRow("a folded header") << QByteArray(
                                            "GET / HTTP/1.1\r\nHost: localhost\r\nX-A: 1\r\n  2\r\n\r\n")
                                     << 400 << QByteArray();
    QTest::newRow("a space before the colon")
        << QByteArray("GET / HTTP/1.1\r\nHost : localhost\r\n\r\n") << 400 << QByteArray();
    QTest::newRow("two lengths") << QByteArray("GET / HTTP/1.1\r\nHost: localhost\r\nContent-Length: 1\r\n"
                                               "Content-Length: 2\r\n\r\n")
                                 << 400 << QByteArray();
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
    // Whatever the answer, no other site may frame it or read it as something else.
    QVERIFY(reply.headers.contains("\r\nx-content-type-options: nosniff\r\n"));
    QVERIFY(reply.headers.contains("\r\nx-frame-options: deny\r\n"));
    QVERIFY(reply.headers.contains("\r\ncontent-security-policy: default-src 'self'; script-src 'self' "
                                   "'unsafe-inline'; style-src 'self' 'unsafe-inline';"));
    QVERIFY(reply.headers.contains("frame-ancestors 'none'"));
    if (!request.startsWith("HEAD "))
        QCOMPARE(reply.contentLength, qint64(reply.body.size()));
}

void TestLiveServer::headGivesTheLengthOfGet_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::newRow("the page") << QByteArray("/");
    QTest::newRow("the results") << QByteArray("/ergebnisse.json");
    QTest::newRow("nothing there") << QByteArray("/nichts");
}

void TestLiveServer::headGivesTheLengthOfGet()
{
    QFETCH(QByteArray, path);
    QSignalSpy published(server.get(), &TLiveServer::Published);
    server->Publish(Results(QStringLiteral("Müller")));
    QTRY_COMPARE(published.count(), 1);

    // On one connection: a HEAD whose answer carried a body would spoil the GET after it.
    const auto socket = Connect(server->Port());
    socket->write(Get(path, "HEAD") + Get(path));
    QByteArray buffer;
    const Reply head = ReadReply(*socket, buffer, true);
    const Reply get = ReadReply(*socket, buffer);
    QVERIFY(head.complete);
    QVERIFY(get.complete);
    QCOMPARE(head.status, get.status);
    QVERIFY(get.contentLength > 0);
    QCOMPARE(head.contentLength, get.contentLength);
    QCOMPARE(get.body.size(), get.contentLength);
    QVERIFY(buffer.isEmpty());
}

void TestLiveServer::closingRulesAreHonoured_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<bool>("staysOpen");
    QTest::addColumn<QByteArray>("connectionHeader");

    QTest::newRow("HTTP/1.1 keeps it") << Get("/ergebnisse.json") << true << QByteArray();
    QTest::newRow("HTTP/1.1, told to close")
        << QByteArray("GET /ergebnisse.json HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n\r\n")
        << false << QByteArray("close");
    QTest::newRow("HTTP/1.1, close among others")
        << QByteArray("GET / HTTP/1.1\r\nHost: localhost\r\nConnection: TE, Close\r\n\r\n") << false
        << QByteArray("close");
    QTest::newRow("HTTP/1.0 closes") << QByteArray("GET / HTTP/1.0\r\nHost: localhost\r\n\r\n") << false
                                     << QByteArray("close");
    QTest::newRow("HTTP/1.0 without a host")
        << QByteArray("GET / HTTP/1.0\r\n\r\n") << false << QByteArray("close");
    QTest::newRow("HTTP/1.0, asked to keep it")
        << QByteArray("GET / HTTP/1.0\r\nHost: localhost\r\nConnection: keep-alive\r\n\r\n") << true
        << QByteArray("keep-alive");
    QTest::newRow("a request with a body")
        << QByteArray("POST / HTTP/1.1\r\nHost: localhost\r\nContent-Length: 5\r\n\r\nhallo") << false
        << QByteArray("close");
}

void TestLiveServer::closingRulesAreHonoured()
{
    QFETCH(QByteArray, request);
    QFETCH(bool, staysOpen);
    QFETCH(QByteArray, connectionHeader);

    const auto socket = Connect(server->Port());
    socket->write(request);
    QByteArray buffer;
    const Reply first = ReadReply(*socket, buffer);
    QVERIFY(first.complete);
    QVERIFY(first.status == 200 || first.status == 405);
    const qsizetype at = first.headers.indexOf("\r\nconnection:");
    QCOMPARE(at < 0 ? QByteArray()
                    : first.headers.mid(at + 13, first.headers.indexOf("\r\n", at + 2) - at - 13).trimmed(),
             connectionHeader);
    if (staysOpen) {
        // Still open: the next request on it is answered.
        socket->write(request);
        const Reply second = ReadReply(*socket, buffer);
        QVERIFY(second.complete);
        QCOMPARE(second.status, 200);
    } else {
        QTRY_COMPARE_WITH_TIMEOUT(socket->state(), QAbstractSocket::UnconnectedState, 10000);
        QVERIFY(buffer.isEmpty() && socket->readAll().isEmpty());
    }
}

void TestLiveServer::hostMustNameThisMachine_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<int>("status");

    const auto withHost = [](const QByteArray& host) {
        return "GET /ergebnisse.json HTTP/1.1\r\nHost: " + host + "\r\n\r\n";
    };
    const QByteArray name = QHostInfo::localHostName().toUtf8();
    QTest::newRow("localhost") << withHost("localhost") << 200;
    QTest::newRow("localhost with its port") << withHost("localhost:8080") << 200;
    QTest::newRow("LOCALHOST.") << withHost("LOCALHOST.") << 200;
    QTest::newRow("the loopback address") << withHost("127.0.0.1:8080") << 200;
    QTest::newRow("IPv6 loopback") << withHost("[::1]:8080") << 200;
    QTest::newRow("IPv6 loopback, no port") << withHost("[::1]") << 200;
    QTest::newRow("the machine's name") << withHost(name) << 200;
    QTest::newRow("the machine's name .local") << withHost(name + ".local:8080") << 200;
    for (const QHostAddress& address : QNetworkInterface::allAddresses()) {
        if (address.isLoopback() || address.isLinkLocal())
            continue;
        const bool v6 = address.protocol() == QAbstractSocket::IPv6Protocol;
        const QByteArray text = address.toString().toLatin1();
        QTest::addRow("its address %s", text.constData())
            << withHost((v6 ? "[" + text + "]" : text) + ":8080") << 200;
    }
    QTest::newRow("absolute form, own host")
        << QByteArray("GET http://localhost:8080/ergebnisse.json HTTP/1.1\r\n"
                      "Host: anderswo.example\r\n\r\n")
        << 200;
    QTest::newRow("a site elsewhere") << withHost("anderswo.example") << 421;
    QTest::newRow("a site elsewhere, with the port") << withHost("anderswo.example:8080") << 421;
    QTest::newRow("the loopback address as a name") << withHost("127.0.0.1.anderswo.example") << 421;
    QTest::newRow("the machine's name under another domain") << withHost(name + ".anderswo.example") << 421;
    QTest::newRow("an address not of this machine") << withHost("192.0.2.7") << 421;
    QTest::newRow("an IPv6 address not of this machine") << withHost("[2001:db8::7]:8080") << 421;
    QTest::newRow("IPv6 without brackets") << withHost("::1") << 421;
    QTest::newRow("a bracket left open") << withHost("[::1:8080") << 421;
    QTest::newRow("a port that isn't one") << withHost("localhost:80a") << 421;
    QTest::newRow("absolute form, a site elsewhere")
        << QByteArray("GET http://anderswo.example/ergebnisse.json HTTP/1.1\r\nHost: localhost\r\n\r\n")
        << 421;
    QTest::newRow("empty") << withHost("") << 421;
    QTest::newRow("missing") << QByteArray("GET /ergebnisse.json HTTP/1.1\r\n\r\n") << 400;
    QTest::newRow("twice") << QByteArray("GET /ergebnisse.json HTTP/1.1\r\nHost: localhost\r\n"
                                         "Host: anderswo.example\r\n\r\n")
                           << 400;
    QTest::newRow("missing on HTTP/1.0") << QByteArray("GET /ergebnisse.json HTTP/1.0\r\n\r\n") << 200;
    QTest::newRow("a site elsewhere on HTTP/1.0") << QByteArray("GET /ergebnisse.json HTTP/1.0\r\n"
                                                                "Host: anderswo.example\r\n\r\n")
                                                  << 421;
}

void TestLiveServer::hostMustNameThisMachine()
{
    QFETCH(QByteArray, request);
    QFETCH(int, status);
    const Reply reply = Ask(server->Port(), request);
    QCOMPARE(reply.status, status);
    if (status == 421) {
        QVERIFY(reply.body.startsWith("Diese Adresse gehört nicht zu diesem Rechner"));
        QVERIFY(reply.headers.contains("\r\nconnection: close"));
    }
    // A page that renamed itself to this address gets none of the results.
    QCOMPARE(reply.body.startsWith('{'), status == 200);
}

void TestLiveServer::eachPublishReachesEveryStream()
{
    StreamReader first(server->Port(), Phone(0));
    StreamReader second(server->Port(), Phone(1));
    QTRY_COMPARE(server->StreamClients(), 2);
    QTRY_COMPARE(first.events.size(), 1); // what was there when it came
    server->Publish(Results(QStringLiteral("Müller")));
    server->Publish(Results(QStringLiteral("Schmidt")));
    QTRY_COMPARE(second.events.size(), 3);
    QTRY_COMPARE(first.events.size(), 3);
    QCOMPARE(first.events, second.events);
    const QJsonObject last = QJsonDocument::fromJson(first.events.last()).object();
    QCOMPARE(last.value("zeilen").toArray().at(0).toArray().at(1).toString(), QStringLiteral("Schmidt"));
    QCOMPARE(last.value("bahnen").toArray().at(0).toObject().value("zustand").toString(),
             QStringLiteral("gestoppt"));
    QVERIFY(first.socket.peek(0).isEmpty());
}

void TestLiveServer::streamHasTheSameSafeguards()
{
    StreamReader reader(server->Port());
    QTRY_COMPARE(reader.events.size(), 1);
    // The headers came before the first event.
    QVERIFY(reader.buffer.isEmpty());
    const auto socket = Connect(server->Port(), 1);
    socket->write(Get("/live"));
    QTRY_VERIFY(socket->bytesAvailable() > 0 && socket->peek(4096).contains("data: "));
    const QByteArray headers = socket->readAll().toLower();
    QVERIFY(headers.startsWith("http/1.1 200 ok\r\n"));
    QVERIFY(headers.contains("\r\ncontent-type: text/event-stream"));
    QVERIFY(headers.contains("\r\nx-content-type-options: nosniff\r\n"));
    QVERIFY(headers.contains("\r\nx-frame-options: deny\r\n"));
    QVERIFY(headers.contains("\r\ncontent-security-policy: "));

    // HEAD of the stream: its headers, no events, and the end.
    const auto probe = Connect(server->Port(), 2);
    probe->write(Get("/live", "HEAD"));
    QTRY_COMPARE_WITH_TIMEOUT(probe->state(), QAbstractSocket::UnconnectedState, 10000);
    const QByteArray answer = probe->readAll();
    QVERIFY(answer.startsWith("HTTP/1.1 200 OK\r\n"));
    QVERIFY(answer.endsWith("\r\n\r\n"));
    QVERIFY(!answer.contains("data: "));
    QCOMPARE(server->StreamClients(), 2);
}

void TestLiveServer::namesAreShownAsText()
{
    // Names come from the operator's list; the page puts them in as text, never as markup.
    const QByteArray page = Ask(server->Port(), Get("/")).body;
    QVERIFY(page.contains("textContent"));
    QVERIFY(!page.contains("innerHTML"));
    QVERIFY(!page.contains("insertAdjacentHTML"));
    QVERIFY(!page.contains("document.write"));
    // The policy sent with the page allows what it has: its inline script and style, nothing from elsewhere.
    QVERIFY(page.contains("<script>"));
    QVERIFY(page.contains("<style>"));
    QVERIFY(!page.contains("src=\"http"));
    QVERIFY(!page.contains("href=\"http"));

    StreamReader reader(server->Port());
    QTRY_COMPARE(reader.events.size(), 1);
    server->Publish(Results(QStringLiteral("<img src=x onerror=alert(1)>")));
    QTRY_COMPARE(reader.events.size(), 2);
    const QJsonObject results = QJsonDocument::fromJson(reader.events.last()).object();
    QCOMPARE(results.value("zeilen").toArray().at(0).toArray().at(1).toString(),
             QStringLiteral("<img src=x onerror=alert(1)>"));
}

void TestLiveServer::resultsCarryThePlacesAsSpectatorsSeeThem()
{
    LiveSnapshot snapshot;
    snapshot.rows << QStringList(13) << QStringList(13);
    snapshot.places = {{"1", "", 2, 2, "60,00"}, {"3", "+1,00", 1, 0, "31,00"}};
    snapshot.lanes[0].state = LiveLane::State::Stopped;
    snapshot.lanes[0].place = QStringLiteral("1");
    snapshot.lanes[0].afterRuns = 2;
    const QJsonObject results = QJsonDocument::fromJson(ResultsJson(snapshot)).object();
    QCOMPARE(results.value("plaetze").toArray(), (QJsonArray{"1", "3"}));
    QCOMPARE(results.value("nachLaeufen").toArray(), (QJsonArray{2, 0}));
    QCOMPARE(results.value("gesamt").toArray(), (QJsonArray{"60,00", "31,00"}));
    const QJsonObject lane = results.value("bahnen").toArray().at(0).toObject();
    QCOMPARE(lane.value("platz").toString(), QStringLiteral("1"));
    QCOMPARE(lane.value("nachLaeufen").toInt(), 2);
}

void TestLiveServer::pageComesWithTheResults_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("a plain name") << QStringLiteral("Müller");
    QTest::newRow("the end of a script") << QStringLiteral("</script><script>alert(1)</script>");
    QTest::newRow("the end of a script in capitals") << QStringLiteral("</SCRIPT >");
    QTest::newRow("a comment begun") << QStringLiteral("<!--<script>");
    QTest::newRow("line separators") << QStringLiteral("a\u2028b\u2029c");
    QTest::newRow("an entity and quotes") << QStringLiteral("&lt;\"'\\");
}

// The first paint shows the results without waiting for a second request,
// and no name can end the block they stand in.
void TestLiveServer::pageComesWithTheResults()
{
    QFETCH(QString, name);
    QSignalSpy published(server.get(), &TLiveServer::Published);
    server->Publish(Results(name));
    QTRY_COMPARE(published.count(), 1);
    const QByteArray page = Ask(server->Port(), Get("/")).body;
    const QByteArray mark("<script type=\"application/json\" id=\"daten\">");
    const qsizetype begin = page.indexOf(mark);
    QVERIFY(begin >= 0);
    const qsizetype end = page.indexOf("</", begin + mark.size());
    QVERIFY(page.mid(end).startsWith("</script>"));
    const QByteArray block = page.mid(begin + mark.size(), end - begin - mark.size());
    QVERIFY(!block.contains('<') && !block.contains('>'));
    QVERIFY(!block.contains("\xE2\x80\xA8") && !block.contains("\xE2\x80\xA9"));
    QJsonParseError error;
    const QJsonObject results = QJsonDocument::fromJson(block, &error).object();
    QCOMPARE(error.error, QJsonParseError::NoError);
    QCOMPARE(results.value("zeilen").toArray().at(0).toArray().at(1).toString(), name);
    // The page's own script is still there, once, after the block.
    QCOMPARE(page.count("<script>"), 1);
    QVERIFY(page.indexOf("<script>") > end);
}

void TestLiveServer::unchangedResultsAnswerNotModified_data()
{
    QTest::addColumn<QByteArray>("ifNoneMatch"); // %E: the tag of the results as they stand
    QTest::addColumn<bool>("publishBetween");
    QTest::addColumn<int>("status");
    QTest::newRow("its tag") << QByteArray("%E") << false << 304;
    QTest::newRow("its tag among others") << QByteArray("\"x\", %E") << false << 304;
    QTest::newRow("its tag, strong form") << QByteArray("%S") << false << 304;
    QTest::newRow("any") << QByteArray("*") << false << 304;
    QTest::newRow("another tag") << QByteArray("W/\"0123\"") << false << 200;
    QTest::newRow("results published since") << QByteArray("%E") << true << 200;
}

void TestLiveServer::unchangedResultsAnswerNotModified()
{
    QFETCH(QByteArray, ifNoneMatch);
    QFETCH(bool, publishBetween);
    QFETCH(int, status);
    QSignalSpy published(server.get(), &TLiveServer::Published);
    server->Publish(Results(QStringLiteral("Müller")));
    QTRY_COMPARE(published.count(), 1);
    const Reply first = Ask(server->Port(), Get("/ergebnisse.json"));
    QCOMPARE(first.status, 200);
    const qsizetype at = first.headers.indexOf("\r\netag: ");
    QVERIFY(at >= 0);
    const QByteArray etag = first.headers.mid(at + 8, first.headers.indexOf("\r\n", at + 2) - at - 8);
    QVERIFY(etag.startsWith("w/\""));
    if (publishBetween) {
        server->Publish(Results(QStringLiteral("Schmidt")));
        QTRY_COMPARE(published.count(), 2);
    }
    // The headers were read in lower case; a tag's letters are hex digits and the weak mark.
    const QByteArray weak = "W/" + etag.mid(2);
    const QByteArray condition = ifNoneMatch.replace("%E", weak).replace("%S", weak.mid(2));
    const Reply reply =
        Ask(server->Port(),
            "GET /ergebnisse.json HTTP/1.1\r\nHost: localhost\r\nIf-None-Match: " + condition + "\r\n\r\n");
    QCOMPARE(reply.status, status);
    QVERIFY(reply.headers.contains("\r\netag: w/\""));
    if (status == 304) {
        QVERIFY(reply.body.isEmpty());
        QVERIFY(!reply.headers.contains("content-length"));
    } else {
        QCOMPARE(QJsonDocument::fromJson(reply.body).object().value("zeilen").toArray().at(0).toArray().at(1),
                 publishBetween ? QStringLiteral("Schmidt") : QStringLiteral("Müller"));
    }
}

// A phone counts a running lane on from what it is sent: the lane's time when
// the results were taken and how long they have waited in the server since.
void TestLiveServer::aRunningLaneCarriesItsTimeAndTheAge()
{
    TRaceSession session;
    session.Load({ProtocolRowCells({"1", "Muster", "Max", "", "A"})});
    session.Start(1000);
    const QByteArray json = ResultsJson(AudienceView(session, {}, {}, 13340));
    const QJsonObject lane =
        QJsonDocument::fromJson(json).object().value("bahnen").toArray().at(0).toObject();
    QCOMPARE(lane.value("zustand").toString(), QStringLiteral("läuft"));
    QCOMPARE(lane.value("laeuftMs").toInteger(-1), 12340);
    QCOMPARE(QJsonDocument::fromJson(ResultsJsonAged(json, 250)).object().value("alterMs").toInteger(-1),
             250);
    // Without a running lane the results stay as they are.
    QCOMPARE(ResultsJsonAged(Results(QStringLiteral("Müller")), 250), Results(QStringLiteral("Müller")));

    QSignalSpy published(server.get(), &TLiveServer::Published);
    server->Publish(json);
    QTRY_COMPARE(published.count(), 1);
    const QJsonObject served =
        QJsonDocument::fromJson(Ask(server->Port(), Get("/ergebnisse.json")).body).object();
    QCOMPARE(served.value("bahnen").toArray().at(0).toObject().value("laeuftMs").toInteger(-1), 12340);
    QVERIFY(served.value("alterMs").toInteger(-1) >= 0);
}

void TestLiveServer::oversizedRequestIsDroppedAndOthersAreServed()
{
    const auto socket = Connect(server->Port());
    QByteArray answer;
    connect(socket.get(), &QTcpSocket::readyRead, this, [&] { answer += socket->readAll(); });
    socket->write("GET / HTTP/1.1\r\nHost: localhost\r\nX-Padding: " + QByteArray(200 * 1024, 'a'));
    QTRY_COMPARE_WITH_TIMEOUT(socket->state(), QAbstractSocket::UnconnectedState, 10000);
    QVERIFY(!answer.contains("200 OK"));
    QCOMPARE(server->Dropped(), 1);
    QCOMPARE(Ask(server->Port(), Get("/ergebnisse.json"), 1).status, 200);
}

void TestLiveServer::whatAStreamSendsIsNotKept_data()
{
    QTest::addColumn<qint64>("bytes");
    QTest::addColumn<bool>("dropped");

    QTest::newRow("a little after the request") << qint64(1024) << false;
    QTest::newRow("just a request's worth") << qint64(16 * 1024) << false;
    QTest::newRow("more than a request's worth") << qint64(17 * 1024) << true;
    QTest::newRow("a flood") << qint64(64 * 1024 * 1024) << true;
}

void TestLiveServer::whatAStreamSendsIsNotKept()
{
    QFETCH(qint64, bytes);
    QFETCH(bool, dropped);

    StreamReader talker(server->Port(), Phone(0));
    QTRY_COMPARE(talker.events.size(), 1);
    StreamReader other(server->Port(), Phone(1));
    QTRY_COMPARE(server->StreamClients(), 2);
    // Sent in pieces, as it would come over the network.
    const QByteArray piece(4096, 'z');
    qint64 sent = 0;
    while (sent < bytes && talker.socket.state() == QAbstractSocket::ConnectedState) {
        const qint64 now = std::min<qint64>(piece.size(), bytes - sent);
        talker.socket.write(piece.constData(), now);
        sent += now;
        // No more than a little waits in the client: the flood goes out as fast as the server takes it.
        while (talker.socket.bytesToWrite() > 256 * 1024 &&
               talker.socket.state() == QAbstractSocket::ConnectedState)
            talker.socket.waitForBytesWritten(1000);
    }
    if (dropped) {
        QTRY_COMPARE_WITH_TIMEOUT(talker.socket.state(), QAbstractSocket::UnconnectedState, 10000);
        QCOMPARE(server->Dropped(), 1);
        QTRY_COMPARE(server->StreamClients(), 1);
        // A flood was cut off long before it was through.
        QVERIFY2(bytes < 1024 * 1024 || sent < bytes, qPrintable(QString::number(sent)));
    } else {
        talker.socket.waitForBytesWritten(5000);
    }
    server->Publish(Results(QStringLiteral("Danach")));
    QTRY_VERIFY(!other.events.isEmpty() && other.events.last().contains("Danach"));
    if (!dropped) {
        QTRY_VERIFY(talker.events.last().contains("Danach"));
        QCOMPARE(server->Dropped(), 0);
        QCOMPARE(server->StreamClients(), 2);
    }
}

void TestLiveServer::oneAddressCantTakeEveryPlace_data()
{
    QTest::addColumn<QByteArray>("request"); // what each of the one address's connections sends
    QTest::newRow("streams") << Get("/live");
    QTest::newRow("silent connections") << QByteArray();
    QTest::newRow("half a request") << QByteArray("GET / HTTP/1.1\r\nHost: local");
}

void TestLiveServer::oneAddressCantTakeEveryPlace()
{
    QFETCH(QByteArray, request);
    TLiveServer::Limits limits = SmallLimits();
    // Long enough that nothing of the one address's lapses during the test.
    limits.headerMs = limits.idleMs = limits.stallMs = 600000;
    Restart(limits);

    std::vector<int> held;
    for (int i = 0; i < 3 * limits.maxConnections; ++i) {
        const int fd = RawConnect(server->Port(), 0);
        QVERIFY2(fd >= 0, std::strerror(-fd));
        held.push_back(fd);
        // One turned away may already be reset; that is what is wanted.
        if (::send(fd, request.constData(), std::size_t(request.size()), MSG_NOSIGNAL) < 0)
            QCOMPARE(errno, ECONNRESET);
    }
    QTRY_COMPARE_WITH_TIMEOUT(server->Refused(), 3 * limits.maxConnections - limits.perAddress, kPatience);
    QCOMPARE(server->OpenConnections(), limits.perAddress);
    if (request.contains("/live"))
        QTRY_COMPARE_WITH_TIMEOUT(server->StreamClients(), limits.perAddress, kPatience);

    // Every other phone still gets the page, the results and its stream.
    for (int phone = 1; phone <= 3; ++phone) {
        QCOMPARE(Ask(server->Port(), Get("/"), phone).status, 200);
        QCOMPARE(Ask(server->Port(), Get("/ergebnisse.json"), phone).status, 200);
    }
    StreamReader reader(server->Port(), Phone(4));
    QTRY_COMPARE_WITH_TIMEOUT(reader.events.size(), 1, kPatience);
    for (const int fd : held)
        ::close(fd);
}

void TestLiveServer::placesAreKeptForPageLoads()
{
    const TLiveServer::Limits limits = SmallLimits();
    Restart(limits);
    const int streamPlaces = limits.maxConnections - limits.keptForPages;
    std::vector<std::unique_ptr<StreamReader>> readers;
    for (int i = 0; i < streamPlaces; ++i)
        readers.push_back(std::make_unique<StreamReader>(server->Port(), Phone(i)));
    QTRY_COMPARE_WITH_TIMEOUT(server->StreamClients(), streamPlaces, 10000);

    // One stream more is asked to come back later; the page and the results still come.
    const Reply late = Ask(server->Port(), Get("/live"), streamPlaces);
    QCOMPARE(late.status, 503);
    QVERIFY(late.body.startsWith("Zu viele Zuschauer"));
    // A page whose stream was turned away knows when to come back.
    QVERIFY(late.headers.contains("\r\nretry-after: 10\r\n") || late.headers.endsWith("\r\nretry-after: 10"));
    QCOMPARE(Ask(server->Port(), Get("/"), streamPlaces).status, 200);
    QCOMPARE(Ask(server->Port(), Get("/ergebnisse.json"), streamPlaces + 1).status, 200);
    QCOMPARE(server->StreamClients(), streamPlaces);

    // Once one goes, its place is free again.
    readers.front()->socket.abort();
    QTRY_COMPARE(server->StreamClients(), streamPlaces - 1);
    StreamReader next(server->Port(), Phone(streamPlaces + 2));
    QTRY_COMPARE(next.events.size(), 1);
}

void TestLiveServer::connectionsAreBounded()
{
    FileLimit files(4096);
    if (!files.ok)
        QSKIP("too few file descriptors for 800 connections");
    TLiveServer::Limits limits;
    // Nothing may lapse while the connections are made.
    limits.headerMs = limits.idleMs = 600000;
    Restart(limits);
    const int total = limits.maxConnections;
    const int perAddress = limits.perAddress;
    const int phones = (total + 200) / perAddress;

    std::vector<int> clients;
    for (int phone = 0; phone < phones; ++phone) {
        for (int i = 0; i < perAddress; ++i) {
            const int fd = RawConnect(server->Port(), phone);
            QVERIFY2(fd >= 0, std::strerror(-fd));
            clients.push_back(fd);
        }
    }
    // Those that never asked anything made room for the later ones, oldest first.
    QTRY_COMPARE_WITH_TIMEOUT(server->Reclaimed(), phones * perAddress - total, 60000);
    QCOMPARE(server->OpenConnections(), total);
    QCOMPARE(server->Refused(), 0);
    for (const int fd : clients)
        ::close(fd);
    QTRY_COMPARE_WITH_TIMEOUT(server->OpenConnections(), 0, 10000);
    QCOMPARE(Ask(server->Port(), Get("/")).status, 200);
}

void TestLiveServer::fullPoolMakesRoomForNewPhones_data()
{
    QTest::addColumn<QByteArray>("request"); // what each held connection sent
    QTest::addColumn<bool>("answered");      // and read its answer, then stayed idle
    QTest::newRow("idle keep-alive") << Get("/ergebnisse.json") << true;
    QTest::newRow("unfinished headers") << QByteArray("GET / HTTP/1.1\r\nHost: loc") << false;
    QTest::newRow("nothing sent") << QByteArray() << false;
}

// 80 addresses hold 8 connections each, more than the pool has places: the page
// loads of 40 other phones are all served.
void TestLiveServer::fullPoolMakesRoomForNewPhones()
{
    QFETCH(QByteArray, request);
    QFETCH(bool, answered);
    FileLimit files(4096);
    if (!files.ok)
        QSKIP("too few file descriptors for 1300 sockets");
    TLiveServer::Limits limits;
    // Nothing may lapse while the connections are made.
    limits.headerMs = limits.idleMs = 600000;
    Restart(limits);
    const int holders = 80;
    const int held = holders * limits.perAddress;
    QVERIFY(held > limits.maxConnections);

    std::vector<int> clients;
    for (int phone = 0; phone < holders; ++phone) {
        for (int i = 0; i < limits.perAddress; ++i) {
            const int fd = RawConnect(server->Port(), phone);
            QVERIFY2(fd >= 0, std::strerror(-fd));
            clients.push_back(fd);
            QCOMPARE(::send(fd, request.constData(), std::size_t(request.size()), MSG_NOSIGNAL),
                     ssize_t(request.size()));
            if (!answered)
                continue;
            QByteArray got;
            char chunk[4096];
            while (!got.endsWith("\r\n\r\n{}")) {
                const ssize_t n = ::read(fd, chunk, sizeof chunk);
                QVERIFY(n > 0);
                got.append(chunk, n);
            }
        }
    }
    QTRY_COMPARE_WITH_TIMEOUT(server->Reclaimed(), held - limits.maxConnections, 60000);
    QCOMPARE(server->OpenConnections(), limits.maxConnections);

    int served = 0;
    for (int phone = holders; phone < holders + 40; ++phone)
        served += Ask(server->Port(), Get("/"), phone).status == 200 ? 1 : 0;
    QCOMPARE(served, 40);
    QCOMPARE(server->Refused(), 0);
    for (const int fd : clients)
        ::close(fd);
}

void TestLiveServer::ipv6DevicesCountPerNetwork_data()
{
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("second");
    QTest::addColumn<bool>("together");
    QTest::newRow("two addresses of one /64") << "2001:db8:1:2:aaaa::1"
                                              << "2001:db8:1:2:ffff:1234:5678:9abc" << true;
    QTest::newRow("neighbouring /64s") << "2001:db8:1:2::1"
                                       << "2001:db8:1:3::1" << false;
    QTest::newRow("link-local with its zone") << "fe80::1%lo"
                                              << "fe80::2" << true;
    QTest::newRow("IPv4 on the dual-stack socket") << "::ffff:192.168.1.20"
                                                   << "192.168.1.20" << true;
    QTest::newRow("two IPv4 addresses") << "192.168.1.20"
                                        << "192.168.1.21" << false;
}

// One device with many addresses of its /64 counts as one; binding them takes
// addresses loopback doesn't have, so the grouping is checked on its own.
void TestLiveServer::ipv6DevicesCountPerNetwork()
{
    QFETCH(QString, first);
    QFETCH(QString, second);
    QFETCH(bool, together);
    QCOMPARE(TLiveServer::ClientGroup(QHostAddress(first)) == TLiveServer::ClientGroup(QHostAddress(second)),
             together);
}

void TestLiveServer::halfClosedRequestIsAnswered_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("bodyHas");
    QTest::newRow("the page") << Get("/") << QByteArray("EventSource(\"/live\")");
    QTest::newRow("the results") << Get("/ergebnisse.json") << QByteArray("{}");
    QTest::newRow("HTTP/1.0") << QByteArray("GET /ergebnisse.json HTTP/1.0\r\n\r\n") << QByteArray("{}");
}

// A client that sends its request and at once says it will send nothing more
// (shutdown(SHUT_WR), as some tools do) still gets its answer.
void TestLiveServer::halfClosedRequestIsAnswered()
{
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, bodyHas);
    const int fd = RawConnect(server->Port(), 0);
    QVERIFY2(fd >= 0, std::strerror(-fd));
    const timeval generous{60, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &generous, sizeof generous);
    QCOMPARE(::send(fd, request.constData(), std::size_t(request.size()), MSG_NOSIGNAL),
             ssize_t(request.size()));
    QCOMPARE(::shutdown(fd, SHUT_WR), 0);
    QByteArray got;
    char chunk[4096];
    for (ssize_t n; (n = ::read(fd, chunk, sizeof chunk)) > 0;)
        got.append(chunk, n);
    ::close(fd);
    QVERIFY2(got.startsWith("HTTP/1.1 200 OK\r\n"), got.left(200).constData());
    QVERIFY2(got.contains(bodyHas), got.right(200).constData());
}

void TestLiveServer::slowRequestsLoseTheirPlace_data()
{
    QTest::addColumn<QByteArray>("first"); // sent at once
    QTest::addColumn<QByteArray>("then");  // sent after the first answer, if any
    QTest::addColumn<bool>("reset");       // or closed in order
    QTest::addColumn<int>("answers");

    QTest::newRow("nothing sent") << QByteArray() << QByteArray() << false << 0;
    QTest::newRow("half a request") << QByteArray("GET / HTTP/1.1\r\nHost: loc") << QByteArray() << true << 0;
    QTest::newRow("idle after an answer") << Get("/ergebnisse.json") << QByteArray() << false << 1;
    QTest::newRow("half a second request") << Get("/ergebnisse.json") << QByteArray("GET / HT") << true << 1;
}

void TestLiveServer::slowRequestsLoseTheirPlace()
{
    QFETCH(QByteArray, first);
    QFETCH(QByteArray, then);
    QFETCH(bool, reset);
    QFETCH(int, answers);
    Restart(SmallLimits());

    const int fd = RawConnect(server->Port(), 0);
    QVERIFY2(fd >= 0, std::strerror(-fd));
    QTRY_COMPARE(server->OpenConnections(), 1);
    QCOMPARE(::write(fd, first.constData(), std::size_t(first.size())), ssize_t(first.size()));
    if (answers > 0) {
        QByteArray got;
        char chunk[4096];
        while (!got.contains("\r\n\r\n{")) {
            const ssize_t n = ::read(fd, chunk, sizeof chunk);
            QVERIFY(n > 0);
            got.append(chunk, n);
        }
    }
    QCOMPARE(::write(fd, then.constData(), std::size_t(then.size())), ssize_t(then.size()));
    // The server lets go of it by itself, in order when nothing was begun, with a reset when half a request
    // waits.
    QTRY_COMPARE_WITH_TIMEOUT(server->OpenConnections(), 0, 20000);
    QCOMPARE(server->Dropped(), reset ? 1 : 0);
    QTRY_VERIFY_WITH_TIMEOUT(TcpState(fd) == (reset ? TCP_CLOSE : TCP_CLOSE_WAIT), 10000);
    ::close(fd);
}

void TestLiveServer::clientThatNeverReadsIsResetWhileOthersKeepUp()
{
    TLiveServer::Limits limits;
    limits.stallMs = 500;
    Restart(limits);
    // A phone that went to sleep: connected, asked for the stream, reads nothing.
    const int stuck = RawConnect(server->Port(), 0, 4096);
    QVERIFY2(stuck >= 0, std::strerror(-stuck));
    const QByteArray request = Get("/live");
    QCOMPARE(::write(stuck, request.constData(), std::size_t(request.size())), ssize_t(request.size()));
    StreamReader reader(server->Port(), Phone(1));
    QTRY_COMPARE(server->StreamClients(), 2);
    QTRY_COMPARE(reader.events.size(), 1);

    const int publishes = 60;
    for (int i = 0; i < publishes; ++i)
        // The first larger than what the kernel takes for the sleeper.
        server->Publish(Results(QStringLiteral("Läufer %1").arg(i), i == 0 ? 1024 * 1024 : 100 * 1024));
    // The reader gets the newest results, though not every one in between
    // when they come faster than it reads; the sleeper is let go, with a
    // reset so that nothing of it waits in the kernel.
    QTRY_VERIFY_WITH_TIMEOUT(!reader.events.isEmpty() && reader.events.last().contains("Läufer 59"), 20000);
    QTRY_COMPARE_WITH_TIMEOUT(server->StreamClients(), 1, 20000);
    QCOMPARE(server->Dropped(), 1);
    // Each event was shared: what waited in the program for the sleeper was a
    // slice of it, not a copy of the megabyte.
    QVERIFY(server->LargestStreamQueue() > 0);
    QVERIFY2(server->LargestStreamQueue() <= 32 * 1024, QByteArray::number(server->LargestStreamQueue()));
    QTRY_COMPARE_WITH_TIMEOUT(TcpState(stuck), int(TCP_CLOSE), 10000);
    server->Publish(Results(QStringLiteral("Zuletzt")));
    QTRY_VERIFY(reader.events.last().contains("Zuletzt"));
    ::close(stuck);
}

void TestLiveServer::oneFramePerChangeForEveryStream_data()
{
    QTest::addColumn<int>("rows");
    QTest::newRow("a small protocol, whole each time") << 3;
    QTest::newRow("a large one, the changed rows") << 400;
}

// However many phones follow, a change is made into text and an event once;
// phones that come later share the frame that is there.
void TestLiveServer::oneFramePerChangeForEveryStream()
{
    QFETCH(int, rows);
    QSignalSpy published(server.get(), &TLiveServer::Published);
    server->Publish(Protocol(rows));
    QTRY_COMPARE(published.count(), 1);
    std::vector<std::unique_ptr<StreamReader>> readers;
    for (int i = 0; i < 6; ++i)
        readers.push_back(std::make_unique<StreamReader>(server->Port(), Phone(i)));
    QTRY_COMPARE(server->StreamClients(), 6);
    for (const auto& reader : readers)
        QTRY_COMPARE(reader->events.size(), 1);
    const int before = server->FramesBuilt();
    QCOMPARE(before, 1);
    for (int change = 0; change < 3; ++change) {
        server->Publish(Protocol(rows, change));
        QTRY_COMPARE(published.count(), change + 2);
        for (const auto& reader : readers)
            QTRY_COMPARE(reader->events.size(), change + 2);
    }
    QCOMPARE(server->FramesBuilt(), before + 3);
    QCOMPARE(readers.front()->events, readers.back()->events);
}

void TestLiveServer::largeProtocolSendsTheChangedRows()
{
    QSignalSpy published(server.get(), &TLiveServer::Published);
    server->Publish(Protocol(400));
    QTRY_COMPARE(published.count(), 1);
    StreamReader reader(server->Port());
    QTRY_COMPARE(reader.events.size(), 1);
    const QJsonObject whole = QJsonDocument::fromJson(reader.events.at(0)).object();
    QCOMPARE(whole.value("zeilen").toArray().size(), 400);
    const qint64 basis = whole.value("version").toInteger(-1);
    QVERIFY(basis > 0);

    for (const int changed : {7, 123}) {
        server->Publish(Protocol(400, changed));
        QTRY_VERIFY(reader.events.size() == (changed == 7 ? 2 : 3));
    }
    // Each part holds every row touched since its basis, with what the phone shows of it.
    const QJsonObject part = QJsonDocument::fromJson(reader.events.last()).object();
    QVERIFY(!part.contains("zeilen"));
    QCOMPARE(part.value("basis").toInteger(-1), basis);
    QVERIFY(part.value("version").toInteger(-1) > basis);
    QCOMPARE(part.value("anzahl").toInt(), 400);
    const QJsonArray changed = part.value("geaendert").toArray();
    QCOMPARE(changed.size(), 2);
    QCOMPARE(changed.at(0).toArray().at(0).toInt(), 7);
    QCOMPARE(changed.at(1).toArray().at(0).toInt(), 123);
    QCOMPARE(changed.at(1).toArray().at(1).toArray().at(5).toString(), QStringLiteral("29,99"));
    QCOMPARE(changed.at(1).toArray().at(5).toInt(), 1);
    QVERIFY(reader.events.last().size() < reader.events.first().size() / 20);
    // The whole results of the same change are there for a phone that asks.
    QTRY_COMPARE(QJsonDocument::fromJson(Ask(server->Port(), Get("/ergebnisse.json")).body)
                     .object()
                     .value("version")
                     .toInteger(-1),
                 part.value("version").toInteger(-1));
    // A phone that comes now gets them whole.
    StreamReader late(server->Port(), Phone(1));
    QTRY_VERIFY(!late.events.isEmpty());
    QCOMPARE(QJsonDocument::fromJson(late.events.last())
                 .object()
                 .value("zeilen")
                 .toArray()
                 .at(123)
                 .toArray()
                 .at(5),
             QStringLiteral("29,99"));
}

// The text of a large protocol takes a while: the caller only hands over the
// snapshot, and a newer one replaces one still waiting.
void TestLiveServer::buildingTheTextDoesNotHoldUpTheCaller()
{
    QSemaphore entered;
    QSemaphore release;
    server = std::make_unique<TLiveServer>();
    server->SetBuildHook([&] {
        entered.release();
        release.acquire();
    });
    QVERIFY(server->Start(0));
    QSignalSpy published(server.get(), &TLiveServer::Published);
    StreamReader reader(server->Port());
    QTRY_COMPARE(reader.events.size(), 1);

    server->Publish(Protocol(3, 0));
    QVERIFY(entered.tryAcquire(1, kPatience)); // the first is being made and held there
    server->Publish(Protocol(3, 1));
    server->Publish(Protocol(3, 2));
    // The caller's thread carries on meanwhile: its events are handled, the page is served.
    bool ticked = false;
    QTimer::singleShot(0, this, [&] { ticked = true; });
    QTRY_VERIFY(ticked);
    QCOMPARE(Ask(server->Port(), Get("/ergebnisse.json")).status, 200);
    QCOMPARE(published.count(), 0);

    release.release(2);
    QTRY_COMPARE(published.count(), 2);
    QTRY_COMPARE(reader.events.size(), 3);
    // The second snapshot was replaced before it was begun.
    QVERIFY(reader.events.at(1).contains("\"unbestaetigt\":[0]"));
    QVERIFY(reader.events.at(2).contains("\"unbestaetigt\":[2]"));
    QCOMPARE(server->FramesBuilt(), 3);
    release.release(8); // whatever else comes may go through
}

void TestLiveServer::busyPortIsToldInGerman()
{
    TLiveServer second;
    QString error;
    QVERIFY(!second.Start(server->Port(), &error));
    QVERIFY2(error.startsWith(
                 QStringLiteral("Live-Ergebnisse: Port %1 lässt sich nicht öffnen").arg(server->Port())),
             qPrintable(error));
    QVERIFY(!second.Running());
}

QTEST_MAIN(TestLiveServer)
#include "tst_liveserver.moc"
