#include "LiveServer.h"

#include <QAbstractHttpServer>
#include <QFile>
#include <QHash>
#include <QHostAddress>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QNetworkInterface>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>

#include <chrono>
#include <utility>

namespace {

QByteArray PageBytes()
{
    QFile page(QStringLiteral(":/live/index.html"));
    return page.open(QIODevice::ReadOnly) ? page.readAll() : QByteArray();
}

QByteArray EventFrame(const QByteArray& json)
{
    return QByteArrayLiteral("data: ") + json + QByteArrayLiteral("\n\n");
}

// Accepts connections only while fewer than maxConnections are open; one
// past that is closed at once, so a flood can't use up the program's files.
class LimitedTcpServer : public QTcpServer
{
public:
    LimitedTcpServer(std::atomic<int>& open, QObject* parent) : QTcpServer(parent), open(open) {}

    std::function<void(QTcpSocket*)> accepted;

protected:
    void incomingConnection(qintptr descriptor) override
    {
        auto* socket = new QTcpSocket(this);
        if (!socket->setSocketDescriptor(descriptor)) {
            delete socket;
            return;
        }
        if (open.load() >= TLiveServer::maxConnections) {
            socket->abort();
            delete socket;
            return;
        }
        ++open;
        connect(socket, &QObject::destroyed, this, [this] { --open; });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        if (accepted)
            accepted(socket);
        addPendingConnection(socket);
    }

private:
    std::atomic<int>& open;
};

} // namespace

// Everything that touches sockets, on the server's thread.
class TLiveServerWorker : public QAbstractHttpServer
{
public:
    explicit TLiveServerWorker(TLiveServer& owner) : owner(owner), page(PageBytes())
    {
        sweep->setInterval(1000);
        connect(sweep, &QTimer::timeout, this, [this] { CloseIdleConnections(); });
    }
    ~TLiveServerWorker() override
    {
        // The sockets outlive this part of the object (they are children):
        // nothing of theirs may call back into it.
        for (QTcpSocket* socket : connections.keys()) {
            socket->disconnect(this);
            socket->abort();
        }
    }

    bool Listen(quint16 port, QString& error)
    {
        auto* tcp = new LimitedTcpServer(owner.openConnections, this);
        tcp->accepted = [this](QTcpSocket* socket) { Watch(socket); };
        if (!tcp->listen(QHostAddress::Any, port)) {
            error = tcp->errorString();
            delete tcp;
            return false;
        }
        bind(tcp);
        owner.port = tcp->serverPort();
        sweep->start();
        return true;
    }

    void Publish(const QByteArray& json)
    {
        current = json;
        int reached = 0;
        for (QTcpSocket* socket : std::as_const(streams)) {
            if (Send(socket))
                ++reached;
        }
        emit owner.Published(reached);
    }

protected:
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override
    {
        Connection& connection = connections[socket];
        connection.received = 0;
        connection.lastRequest = Clock::now();

        const auto method = request.method();
        const QString path = request.url().path(QUrl::FullyEncoded);
        const bool head = method == QHttpServerRequest::Method::Head;
        if (method != QHttpServerRequest::Method::Get && !head) {
            makeResponder(request, socket)
                .write(QByteArrayLiteral("Nur Lesen.\n"), QByteArrayLiteral("text/plain; charset=utf-8"),
                       QHttpServerResponder::StatusCode::MethodNotAllowed);
        } else if (path == QLatin1String("/")) {
            Respond(makeResponder(request, socket), head ? QByteArray() : page, "text/html; charset=utf-8");
        } else if (path == QLatin1String("/ergebnisse.json")) {
            Respond(makeResponder(request, socket), head ? QByteArray() : current,
                    "application/json; charset=utf-8");
        } else if (path == QLatin1String("/live") && !head) {
            StartStream(socket);
        } else {
            makeResponder(request, socket)
                .write(QByteArrayLiteral("Nicht gefunden.\n"), QByteArrayLiteral("text/plain; charset=utf-8"),
                       QHttpServerResponder::StatusCode::NotFound);
        }
        return true;
    }

    void missingHandler(const QHttpServerRequest&, QTcpSocket* socket) override { socket->abort(); }

private:
    using Clock = std::chrono::steady_clock;
    struct Connection
    {
        qint64 received = 0;
        Clock::time_point lastRequest = Clock::now();
        bool streaming = false;
        bool behind = false; // a newer event waits until the last one is sent
        Clock::time_point lastProgress = Clock::now();
    };

    static void Respond(QHttpServerResponder&& responder, const QByteArray& body, const char* type)
    {
        responder.write(body,
                        {{QByteArrayLiteral("Content-Type"), QByteArray(type)},
                         {QByteArrayLiteral("Cache-Control"), QByteArrayLiteral("no-cache")}});
    }

    void Watch(QTcpSocket* socket)
    {
        connections.insert(socket, {});
        // Connected before the server's own reader, so it sees each piece
        // before it is parsed: a request may not grow without bound.
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
            const auto it = connections.find(socket);
            if (it == connections.end())
                return;
            it->received += socket->bytesAvailable();
            if (it->received > TLiveServer::maxRequestBytes || it->streaming) {
                // A stream's client has nothing more to say.
                if (!it->streaming)
                    socket->abort();
                else
                    socket->readAll();
            }
        });
        connect(socket, &QObject::destroyed, this, [this, socket] {
            connections.remove(socket);
            streams.removeAll(socket);
            owner.streamClients = int(streams.size());
        });
    }

    void StartStream(QTcpSocket* socket)
    {
        Connection& connection = connections[socket];
        connection.streaming = true;
        connection.lastProgress = Clock::now();
        socket->write(QByteArrayLiteral("HTTP/1.1 200 OK\r\n"
                                        "Content-Type: text/event-stream; charset=utf-8\r\n"
                                        "Cache-Control: no-cache\r\n"
                                        "Connection: keep-alive\r\n"
                                        "X-Accel-Buffering: no\r\n\r\n"
                                        "retry: 2000\n\n"));
        socket->write(EventFrame(current));
        connect(socket, &QTcpSocket::bytesWritten, this, [this, socket] {
            const auto it = connections.find(socket);
            if (it == connections.end())
                return;
            it->lastProgress = Clock::now();
            if (it->behind && socket->bytesToWrite() == 0)
                Send(socket);
        });
        streams.append(socket);
        owner.streamClients = int(streams.size());
    }

    // The newest results to one stream, now or, while it is still sending,
    // once it is through. False when it is behind.
    bool Send(QTcpSocket* socket)
    {
        Connection& connection = connections[socket];
        if (socket->bytesToWrite() > 0) {
            connection.behind = true;
            return false;
        }
        connection.behind = false;
        connection.lastProgress = Clock::now();
        socket->write(EventFrame(current));
        return true;
    }

    // A connection that sends half a request and then nothing holds a place
    // that others need.
    void CloseIdleConnections()
    {
        const Clock::time_point now = Clock::now();
        QList<QTcpSocket*> closing;
        for (auto it = connections.cbegin(); it != connections.cend(); ++it) {
            QTcpSocket* const socket = it.key();
            const bool idle =
                !it->streaming && now - it->lastRequest > std::chrono::milliseconds(TLiveServer::idleRequestMs);
            const bool stalled = it->streaming && socket->bytesToWrite() > 0 &&
                                 (now - it->lastProgress > std::chrono::milliseconds(TLiveServer::stallMs) ||
                                  socket->bytesToWrite() > TLiveServer::maxUnsentBytes);
            if (idle || stalled)
                closing.append(socket);
        }
        for (QTcpSocket* socket : closing)
            socket->abort();
    }

    TLiveServer& owner;
    const QByteArray page;
    QByteArray current = QByteArrayLiteral("{}");
    QHash<QTcpSocket*, Connection> connections;
    QList<QTcpSocket*> streams; // removed when destroyed
    QTimer* sweep = new QTimer(this);
};

TLiveServer::TLiveServer(QObject* parent) : QObject(parent) {}

TLiveServer::~TLiveServer()
{
    Stop();
}

bool TLiveServer::Start(quint16 wanted, QString* error)
{
    Stop();
    thread = std::make_unique<QThread>();
    thread->setObjectName(QStringLiteral("Live-Ergebnisse"));
    worker = new TLiveServerWorker(*this);
    worker->moveToThread(thread.get());
    thread->start();
    QString reason;
    bool listening = false;
    TLiveServerWorker* const starting = worker;
    QMetaObject::invokeMethod(
        starting, [&, starting] { listening = starting->Listen(wanted, reason); }, Qt::BlockingQueuedConnection);
    if (!listening) {
        Stop();
        if (error)
            *error = QStringLiteral("Live-Ergebnisse: Port %1 lässt sich nicht öffnen (%2).").arg(wanted).arg(reason);
        return false;
    }
    return true;
}

void TLiveServer::Stop()
{
    if (!thread)
        return;
    if (worker) {
        TLiveServerWorker* const ending = worker;
        QMetaObject::invokeMethod(
            ending, [ending] { delete ending; }, Qt::BlockingQueuedConnection);
        worker = nullptr;
    }
    thread->quit();
    thread->wait();
    thread.reset();
    port = 0;
    openConnections = 0;
    streamClients = 0;
}

bool TLiveServer::Running() const
{
    return worker != nullptr;
}

quint16 TLiveServer::Port() const
{
    return port;
}

void TLiveServer::Publish(const QByteArray& json)
{
    if (!worker)
        return;
    TLiveServerWorker* const target = worker;
    QMetaObject::invokeMethod(
        target, [target, json] { target->Publish(json); }, Qt::QueuedConnection);
}

QStringList TLiveServer::LocalUrls(quint16 port)
{
    QStringList v4;
    QStringList v6;
    for (const QNetworkInterface& interface : QNetworkInterface::allInterfaces()) {
        const auto flags = interface.flags();
        if (!flags.testFlag(QNetworkInterface::IsUp) || !flags.testFlag(QNetworkInterface::IsRunning) ||
            flags.testFlag(QNetworkInterface::IsLoopBack))
            continue;
        for (const QNetworkAddressEntry& entry : interface.addressEntries()) {
            const QHostAddress address = entry.ip();
            if (address.protocol() == QAbstractSocket::IPv4Protocol)
                v4 << QStringLiteral("http://%1:%2/").arg(address.toString()).arg(port);
            else if (address.protocol() == QAbstractSocket::IPv6Protocol && !address.isLinkLocal())
                v6 << QStringLiteral("http://[%1]:%2/").arg(address.toString()).arg(port);
        }
    }
    return v4 + v6;
}
