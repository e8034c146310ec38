#include "LiveServer.h"

#include "ResultsJson.h"

#include <QFile>
#include <QHash>
#include <QHostAddress>
#include <QHostInfo>
#include <QNetworkInterface>
#include <QSet>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <random>
#include <thread>
#include <utility>
#include <vector>

#if defined(__GLIBC__)
#include <malloc.h>
#endif
#ifdef Q_OS_UNIX
#include <sys/ioctl.h>
#include <sys/socket.h>
#endif

namespace {

using Clock = std::chrono::steady_clock;

QByteArray PageBytes()
{
    QFile page(QStringLiteral(":/live/index.html"));
    return page.open(QIODevice::ReadOnly) ? page.readAll() : QByteArray();
}

// Where the page takes the results it comes with, so that its first paint shows them.
const QByteArray inlineResultsMark = QByteArrayLiteral("<script type=\"application/json\" id=\"daten\">");

// Whether an If-None-Match list names etag (weakly compared, as for a GET).
bool NamesEtag(const QByteArray& ifNoneMatch, const QByteArray& etag)
{
    const QByteArray own = etag.startsWith("W/") ? etag.mid(2) : etag;
    for (const QByteArray& part : ifNoneMatch.split(',')) {
        const QByteArray tag = part.trimmed();
        if (tag == "*" || (tag.startsWith("W/") ? tag.mid(2) : tag) == own)
            return true;
    }
    return false;
}

QByteArray EventFrame(const QByteArray& json)
{
    return QByteArrayLiteral("data: ") + json + QByteArrayLiteral("\n\n");
}

// What one stream's socket takes of a shared event at a time: all that is
// copied for one client, however large the results.
constexpr qint64 kStreamSlice = 16 * 1024;

// A frame of a running lane carries its age; reused for this long, so that
// many phones coming at once share one rather than each getting its own.
constexpr auto kAgedFrameReuse = std::chrono::milliseconds(40);

// On every response: the page's own inline script and style, its fetch and
// stream to this server, nothing from elsewhere, not inside another site's frame.
const QByteArray securityHeaders =
    QByteArrayLiteral("X-Content-Type-Options: nosniff\r\n"
                      "X-Frame-Options: DENY\r\n"
                      "Content-Security-Policy: default-src 'self'; script-src 'self' 'unsafe-inline'; "
                      "style-src 'self' 'unsafe-inline'; img-src 'self' data:; connect-src 'self'; "
                      "frame-ancestors 'none'; base-uri 'none'; form-action 'none'\r\n"
                      "Referrer-Policy: no-referrer\r\n");

// One address per device: an IPv4 client on the dual-stack socket is its IPv4 address.
QHostAddress DeviceAddress(const QHostAddress& address)
{
    bool v4 = false;
    const quint32 ip = address.toIPv4Address(&v4);
    if (v4)
        return QHostAddress(ip);
    QHostAddress plain(address);
    plain.setScopeId(QString());
    return plain;
}

// What the kernel still holds to send on a socket; 0 where it can't say.
qint64 KernelUnsent(qintptr descriptor)
{
#if defined(Q_OS_LINUX)
    int unsent = 0;
    if (descriptor >= 0 && ::ioctl(int(descriptor), TIOCOUTQ, &unsent) == 0)
        return unsent;
#else
    Q_UNUSED(descriptor);
#endif
    return 0;
}

// What has come on a socket that the program hasn't read yet; 0 where it can't say.
qint64 KernelUnread(qintptr descriptor)
{
#if defined(Q_OS_UNIX)
    int unread = 0;
    if (descriptor >= 0 && ::ioctl(int(descriptor), FIONREAD, &unread) == 0)
        return unread;
#else
    Q_UNUSED(descriptor);
#endif
    return 0;
}

void SetSocketBuffers(qintptr descriptor, int bytes)
{
#ifdef Q_OS_UNIX
    ::setsockopt(int(descriptor), SOL_SOCKET, SO_SNDBUF, &bytes, sizeof bytes);
    ::setsockopt(int(descriptor), SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
#else
    Q_UNUSED(descriptor);
    Q_UNUSED(bytes);
#endif
}

// A reset, not a close: a graceful close would leave what waits for a client
// that doesn't read in the kernel for minutes.
void Reset(QTcpSocket* socket)
{
#ifdef Q_OS_UNIX
    const qintptr descriptor = socket->socketDescriptor();
    if (descriptor >= 0) {
        const linger now{1, 0};
        ::setsockopt(int(descriptor), SOL_SOCKET, SO_LINGER, &now, sizeof now);
    }
#endif
    socket->abort();
}

bool IsDigits(QByteArrayView text, qsizetype maxLength)
{
    return text.size() <= maxLength &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool IsToken(QByteArrayView text)
{
    static const QByteArrayView special("()<>@,;:\\\"/[]?={} \t");
    return !text.isEmpty() && std::all_of(text.begin(), text.end(),
                                          [](char c) { return c > 32 && c < 127 && !special.contains(c); });
}

// One request's head as far as this server cares.
struct Request
{
    int error = 0; // the status to answer with instead, 0 when the request is fine
    QByteArray method;
    QByteArray path; // without the query
    bool http10 = false;
    bool wantsClose = false;
    bool wantsKeepAlive = false;
    bool hasBody = false;
    int hostCount = 0;
    QByteArray host;
    QByteArray ifNoneMatch;
};

Request ParseHead(const QByteArray& head)
{
    Request request;
    QList<QByteArray> lines = head.split('\n');
    for (QByteArray& line : lines) {
        if (line.endsWith('\r'))
            line.chop(1);
    }
    const QList<QByteArray> parts = lines.value(0).split(' ');
    if (parts.size() != 3 || !IsToken(parts.at(0)) || parts.at(1).isEmpty()) {
        request.error = 400;
        return request;
    }
    request.method = parts.at(0);
    const QByteArray& version = parts.at(2);
    if (version == "HTTP/1.0") {
        request.http10 = true;
    } else if (version != "HTTP/1.1") {
        request.error = version.startsWith("HTTP/") ? 505 : 400;
        return request;
    }
    QByteArray target = parts.at(1);
    if (std::any_of(target.begin(), target.end(), [](char c) { return uchar(c) <= 32 || uchar(c) >= 127; })) {
        request.error = 400;
        return request;
    }

    QByteArray contentLength;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray& line = lines.at(i);
        const qsizetype colon = line.indexOf(':');
        // No folded lines, no space before the colon: both are ways to smuggle a header past a proxy.
        if (colon <= 0 || !IsToken(line.left(colon))) {
            request.error = 400;
            return request;
        }
        const QByteArray name = line.left(colon).toLower();
        const QByteArray value = line.mid(colon + 1).trimmed();
        if (name == "host") {
            ++request.hostCount;
            request.host = value;
        } else if (name == "connection") {
            for (const QByteArray& option : value.toLower().split(',')) {
                request.wantsClose |= option.trimmed() == "close";
                request.wantsKeepAlive |= option.trimmed() == "keep-alive";
            }
        } else if (name == "content-length") {
            if (!IsDigits(value, 18) || value.isEmpty() ||
                (!contentLength.isEmpty() && contentLength != value)) {
                request.error = 400;
                return request;
            }
            contentLength = value;
            request.hasBody |= value.toLongLong() > 0;
        } else if (name == "if-none-match") {
            request.ifNoneMatch = value;
        } else if (name == "transfer-encoding") {
            request.hasBody = true;
        }
    }

    // The absolute form names the host itself and stands over the Host header.
    if (target.size() > 7 && target.left(7).toLower() == "http://") {
        const qsizetype end = target.indexOf('/', 7);
        const qsizetype query = target.indexOf('?', 7);
        const qsizetype cut = end < 0 ? query : (query < 0 ? end : std::min(end, query));
        request.host = target.mid(7, cut < 0 ? -1 : cut - 7);
        request.hostCount = request.host.isEmpty() ? 0 : 1;
        target = cut < 0 ? QByteArrayLiteral("/") : (end == cut ? target.mid(cut) : "/" + target.mid(cut));
    } else if (!target.startsWith('/') && request.method != "OPTIONS") {
        request.error = 400;
        return request;
    }
    if (request.hostCount > 1 || (!request.http10 && request.hostCount == 0)) {
        request.error = 400;
        return request;
    }
    const qsizetype query = target.indexOf('?');
    request.path = query < 0 ? target : target.left(query);
    return request;
}

// Accepts connections for the worker, which decides at once who may stay.
class AcceptingServer : public QTcpServer
{
public:
    using QTcpServer::QTcpServer;
    std::function<void(qintptr)> accepted;

protected:
    void incomingConnection(qintptr descriptor) override { accepted(descriptor); }
};

} // namespace

// Everything that touches sockets, on the server's thread.
class TLiveServerWorker : public QObject
{
public:
    explicit TLiveServerWorker(TLiveServer& owner) : owner(owner), limits(owner.limits), page(PageBytes())
    {
        const int shortest = std::min({limits.stallMs, limits.headerMs, limits.idleMs});
        sweep->setInterval(std::clamp(shortest / 4, 10, 250));
        connect(sweep, &QTimer::timeout, this, [this] { Sweep(); });
    }
    ~TLiveServerWorker() override
    {
        // The sockets outlive this part of the object (they are children):
        // nothing of theirs may call back into it.
        for (QTcpSocket* socket : connections.keys()) {
            socket->disconnect(this);
            Reset(socket);
        }
    }

    bool Listen(quint16 port, QString& error)
    {
        auto* tcp = new AcceptingServer(this);
        tcp->accepted = [this](qintptr descriptor) { Accept(descriptor); };
        // Room for a crowd that scans the QR code at once, and for what one
        // device opens to be turned away without pushing the others' out.
        tcp->setListenBacklogSize(std::max(128, limits.maxConnections + 128));
        if (!tcp->listen(QHostAddress::Any, port)) {
            error = tcp->errorString();
            delete tcp;
            return false;
        }
        owner.port = tcp->serverPort();
        LearnOwnNames();
        sweep->start();
        return true;
    }

    // The whole results of change version, taken at taken; broadcast: they go
    // out on the streams too (not when the change went as a part before).
    void Whole(const QByteArray& json, qint64 version, Clock::time_point taken, bool broadcast)
    {
        if (version < currentVersion)
            return;
        current = json;
        currentVersion = version;
        publishedAt = taken;
        wholeFrame = {current, publishedAt};
        // Weak: the bytes differ by the age they carry while a lane runs. A
        // tag of this run and change: no other results can carry it.
        etag = "W/\"" + etagSalt + '-' + QByteArray::number(version, 16) + '"';
        pageWithResults.clear();
        if (broadcast)
            Broadcast(wholeFrame);
    }

    // The rows that changed (TResultsChanges), ahead of the whole results of the same change.
    void Part(const QByteArray& json, qint64 version, Clock::time_point taken)
    {
        if (version <= currentVersion)
            return;
        partVersion = version;
        partFrame = {json, taken};
        Broadcast(partFrame);
    }

private:
    // One event, built once for every stream that is sent it; a running
    // lane's age is renewed no more often than kAgedFrameReuse.
    struct SharedFrame
    {
        SharedFrame() = default;
        SharedFrame(const QByteArray& json, Clock::time_point taken)
            : json(json), taken(taken), runs(json.contains("\"laeuftMs\":"))
        {
        }
        QByteArray json;
        Clock::time_point taken;
        bool runs = false;
        QByteArray frame;
        Clock::time_point built;
    };

    QByteArray Frame(SharedFrame& shared)
    {
        const Clock::time_point now = Clock::now();
        if (shared.frame.isEmpty() || (shared.runs && now - shared.built > kAgedFrameReuse)) {
            const auto age =
                std::chrono::duration_cast<std::chrono::milliseconds>(now - shared.taken).count();
            shared.frame = EventFrame(ResultsJsonAged(shared.json, age));
            shared.built = now;
            ++owner.framesBuilt;
        }
        return shared.frame;
    }

    void Broadcast(SharedFrame& shared)
    {
        int reached = 0;
        const QByteArray frame = Frame(shared);
        for (QTcpSocket* socket : std::as_const(streams)) {
            if (Send(socket, frame))
                ++reached;
        }
        emit owner.Published(reached);
    }

    enum class Phase { Request, Stream, Closing };
    struct Connection
    {
        QHostAddress address;
        Phase phase = Phase::Request;
        QByteArray input; // the request head as far as it came
        bool requestBegun = false;
        Clock::time_point deadline; // for the request head (or the next request)
        // Waiting for a request since: its accept or its last answer.
        Clock::time_point waitingSince = Clock::now();
        qint64 streamInput = 0;
        bool behind = false; // a newer event waits until the last one is sent
        // Events for a stream, shared with the others, and how far the first
        // of them has gone into the socket.
        QList<QByteArray> outgoing;
        qint64 outgoingAt = 0;
        qint64 lastUnsent = 0;
        Clock::time_point lastProgress = Clock::now();
    };

    void Accept(qintptr descriptor)
    {
        auto* socket = new QTcpSocket(this);
        if (!socket->setSocketDescriptor(descriptor)) {
            delete socket;
            return;
        }
        const QHostAddress address = TLiveServer::ClientGroup(socket->peerAddress());
        // A full pool makes room from what only holds a place; a page load from a new
        // phone always gets one.
        if (perAddress.value(address) >= limits.perAddress ||
            (connections.size() >= limits.maxConnections && !ReclaimOldest())) {
            ++owner.refused;
            Reset(socket);
            delete socket;
            return;
        }
        SetSocketBuffers(descriptor, limits.socketBufferBytes);
        // Qt reads no further ahead than this while an answer is still going out.
        socket->setReadBufferSize(std::max<qint64>(limits.maxRequestBytes, 4096));

        Connection connection;
        connection.address = address;
        connection.deadline = Clock::now() + std::chrono::milliseconds(limits.headerMs);
        connections.insert(socket, connection);
        ++perAddress[address];
        owner.openConnections = int(connections.size());

        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { Input(socket); });
        connect(socket, &QTcpSocket::bytesWritten, this, [this, socket] { Written(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            Forget(socket);
            socket->deleteLater();
        });
    }

    void Forget(QTcpSocket* socket)
    {
        const auto it = connections.find(socket);
        if (it == connections.end())
            return;
        const auto count = perAddress.find(it->address);
        if (count != perAddress.end() && --*count <= 0)
            perAddress.erase(count);
        connections.erase(it);
        streams.removeAll(socket);
        owner.openConnections = int(connections.size());
        owner.streamClients = int(streams.size());
    }

    // Lets go of the connection that has waited longest for a request of its own:
    // an idle keep-alive (a browser's spare) closes in order, half a request is
    // reset. Streams and answers on their way keep their places. False if there is none.
    bool ReclaimOldest()
    {
        // What has come on them is read first: a crowd that scans the QR code
        // at once has its requests in the kernel before the server gets to
        // them, and they are answered rather than let go for the next one.
        QList<QTcpSocket*> unread;
        for (auto it = connections.cbegin(); it != connections.cend(); ++it) {
            if (it->phase == Phase::Request && KernelUnread(it.key()->socketDescriptor()) > 0)
                unread.append(it.key());
        }
        for (QTcpSocket* socket : std::as_const(unread)) {
            // Reading can answer it or end it; it emits readyRead, which serves it.
            if (connections.contains(socket) && socket->state() == QAbstractSocket::ConnectedState)
                socket->waitForReadyRead(0);
        }
        std::vector<std::pair<Clock::time_point, QTcpSocket*>> waiting;
        for (auto it = connections.cbegin(); it != connections.cend(); ++it) {
            QTcpSocket* const socket = it.key();
            if (it->phase == Phase::Request && socket->state() == QAbstractSocket::ConnectedState &&
                socket->bytesToWrite() == 0)
                waiting.emplace_back(it->waitingSince, socket);
        }
        std::sort(waiting.begin(), waiting.end(),
                  [](const auto& a, const auto& b) { return a.first < b.first; });
        // An answer still in the kernel is on its way too; a request that came
        // and isn't read yet (a crowd that scans the QR code at once) is no spare.
        const auto found = std::find_if(waiting.cbegin(), waiting.cend(), [](const auto& entry) {
            return KernelUnsent(entry.second->socketDescriptor()) == 0 &&
                   entry.second->bytesAvailable() == 0 && KernelUnread(entry.second->socketDescriptor()) == 0;
        });
        if (found == waiting.cend())
            return false;
        QTcpSocket* const oldest = found->second;
        ++owner.reclaimed;
        const bool unfinished = connections.value(oldest).requestBegun;
        Forget(oldest);
        oldest->disconnect(this);
        if (unfinished)
            Reset(oldest);
        else
            oldest->disconnectFromHost();
        oldest->deleteLater();
        return true;
    }

    void Drop(QTcpSocket* socket)
    {
        ++owner.dropped;
        Reset(socket);
        Forget(socket);
        socket->deleteLater();
    }

    void Input(QTcpSocket* socket)
    {
        const auto it = connections.find(socket);
        if (it == connections.end() || !socket->isOpen())
            return;
        if (it->phase == Phase::Request) {
            Serve(socket);
            // Out to the kernel now: a client that half-closed after its request
            // ends the connection at Qt's next read, and what was still queued with it.
            if (socket->state() == QAbstractSocket::ConnectedState && socket->bytesToWrite() > 0)
                socket->flush();
            return;
        }
        // A stream's client (or one that is being closed) has nothing more to
        // say: what it sends is counted, not kept.
        char scratch[4096];
        qint64 received = 0;
        // A read can find the connection closed and end it on the spot.
        while (socket->isOpen() && socket->bytesAvailable() > 0) {
            const qint64 got = socket->read(scratch, sizeof scratch);
            if (got <= 0)
                break;
            received += got;
        }
        const auto again = connections.find(socket);
        if (again == connections.end())
            return;
        again->streamInput += received;
        if (again->streamInput > limits.maxRequestBytes)
            Drop(socket);
    }

    void Written(QTcpSocket* socket)
    {
        const auto it = connections.find(socket);
        if (it == connections.end())
            return;
        it->lastProgress = Clock::now();
        if (socket->bytesToWrite() > 0 && it->outgoing.isEmpty())
            return;
        switch (it->phase) {
        case Phase::Stream:
            Pump(socket);
            if (it->behind && !Busy(socket))
                CatchUp(socket);
            break;
        case Phase::Request:
            it->waitingSince = Clock::now();
            if (!it->requestBegun)
                it->deadline = Clock::now() + std::chrono::milliseconds(limits.idleMs);
            Serve(socket); // what came while the answer went out
            break;
        case Phase::Closing:
            CloseWhenDelivered(socket);
            break;
        }
    }

    // Answers the requests that have come, one at a time: the next is read
    // only once the answer to the last is out of the program, so what a
    // client that asks without reading can make wait here stays one answer.
    void Serve(QTcpSocket* socket)
    {
        while (socket->state() == QAbstractSocket::ConnectedState) {
            const auto it = connections.find(socket);
            if (it == connections.end() || it->phase != Phase::Request || socket->bytesToWrite() > 0)
                return;
            const qint64 room = limits.maxRequestBytes + 1 - it->input.size();
            const QByteArray fresh =
                room > 0 && socket->bytesAvailable() > 0 ? socket->read(room) : QByteArray();
            // A read can find the connection closed and end it on the spot.
            const auto again = connections.find(socket);
            if (again == connections.end())
                return;
            Connection& connection = *again;
            connection.input += fresh;
            // Empty lines before a request are allowed.
            while (connection.input.startsWith("\r\n") || connection.input.startsWith('\n'))
                connection.input.remove(0, connection.input.startsWith('\n') ? 1 : 2);
            if (connection.input.isEmpty())
                return;
            if (!connection.requestBegun) {
                connection.requestBegun = true;
                connection.deadline = Clock::now() + std::chrono::milliseconds(limits.headerMs);
            }
            const qsizetype crlf = connection.input.indexOf("\n\r\n");
            const qsizetype lf = connection.input.indexOf("\n\n");
            const qsizetype end = crlf < 0 ? lf : (lf < 0 ? crlf : std::min(crlf, lf));
            if (end < 0 || end + 1 > limits.maxRequestBytes) {
                if (connection.input.size() > limits.maxRequestBytes)
                    Drop(socket);
                return;
            }
            const QByteArray head = connection.input.left(end);
            connection.input.remove(0, end + (end == crlf ? 3 : 2));
            connection.requestBegun = false;
            Answer(socket, ParseHead(head));
        }
    }

    void Answer(QTcpSocket* socket, const Request& request)
    {
        static const QByteArray text = QByteArrayLiteral("text/plain; charset=utf-8");
        const bool head = request.method == "HEAD";
        // HTTP/1.1 keeps a connection unless told to close; HTTP/1.0 only when asked to keep it.
        bool close = request.http10 ? !request.wantsKeepAlive || request.wantsClose : request.wantsClose;
        // The body of a request isn't read, so nothing after it can be found.
        close |= request.hasBody;

        if (request.error != 0) {
            const QByteArray body = request.error == 505 ? QByteArrayLiteral("Nur HTTP/1.0 und HTTP/1.1.\n")
                                                         : QByteArrayLiteral("Ungültige Anfrage.\n");
            Respond(socket, request, request.error, text, body, true);
        } else if (!HostIsOurs(request.host) && !(request.http10 && request.hostCount == 0)) {
            // A page from elsewhere that renamed itself to this address (DNS rebinding) reads nothing.
            Respond(
                socket, request, 421, text,
                QByteArrayLiteral("Diese Adresse gehört nicht zu diesem Rechner – bitte die Adresse nehmen, "
                                  "die die Zeitnahme anzeigt.\n"),
                true);
        } else if (request.method != "GET" && !head) {
            Respond(socket, request, 405, text, QByteArrayLiteral("Nur Lesen.\n"), close,
                    QByteArrayLiteral("Allow: GET, HEAD\r\n"));
        } else if (request.path == "/") {
            Respond(socket, request, 200, "text/html; charset=utf-8", PageWithResults(), close);
        } else if (request.path == "/ergebnisse.json") {
            // A phone that polls gets "nothing new" in a few bytes.
            const QByteArray tag = QByteArrayLiteral("ETag: ") + etag + "\r\n";
            if (!request.ifNoneMatch.isEmpty() && NamesEtag(request.ifNoneMatch, etag))
                Respond(socket, request, 304, {}, {}, close, tag);
            else
                Respond(socket, request, 200, "application/json; charset=utf-8", Aged(), close, tag);
        } else if (request.path == "/live") {
            if (streams.size() >= limits.maxConnections - limits.keptForPages)
                Respond(socket, request, 503, text,
                        QByteArrayLiteral("Zu viele Zuschauer – bitte gleich noch einmal versuchen.\n"), true,
                        QByteArrayLiteral("Retry-After: 10\r\n"));
            else
                StartStream(socket, head);
        } else {
            Respond(socket, request, 404, text, QByteArrayLiteral("Nicht gefunden.\n"), close);
        }
    }

    void Respond(QTcpSocket* socket, const Request& request, int status, const QByteArray& type,
                 const QByteArray& body, bool close, const QByteArray& extra = {})
    {
        static const QHash<int, QByteArray> reasons{{200, "OK"},
                                                    {304, "Not Modified"},
                                                    {400, "Bad Request"},
                                                    {404, "Not Found"},
                                                    {405, "Method Not Allowed"},
                                                    {421, "Misdirected Request"},
                                                    {503, "Service Unavailable"},
                                                    {505, "HTTP Version Not Supported"}};
        QByteArray answer = "HTTP/1.1 " + QByteArray::number(status) + ' ' + reasons.value(status) + "\r\n";
        // A 304 has no content; a length there would have to be the full answer's.
        if (status != 304)
            answer +=
                "Content-Type: " + type + "\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n";
        answer += "Cache-Control: no-cache\r\n" + securityHeaders + extra;
        if (close)
            answer += "Connection: close\r\n";
        else if (request.http10)
            answer += "Connection: keep-alive\r\n";
        answer += "\r\n";
        if (request.method != "HEAD")
            answer += body;
        socket->write(answer);
        if (close)
            BeginClosing(socket);
    }

    // The answer goes out in full before the connection closes; one that
    // can't be delivered falls to the stall rule.
    void BeginClosing(QTcpSocket* socket)
    {
        const auto it = connections.find(socket);
        if (it == connections.end())
            return;
        it->phase = Phase::Closing;
        it->streamInput = it->input.size() + socket->bytesAvailable();
        it->input.clear();
        socket->skip(socket->bytesAvailable());
    }

    void CloseWhenDelivered(QTcpSocket* socket)
    {
        if (socket->bytesToWrite() == 0 && KernelUnsent(socket->socketDescriptor()) == 0 &&
            socket->state() == QAbstractSocket::ConnectedState)
            socket->disconnectFromHost();
    }

    void StartStream(QTcpSocket* socket, bool head)
    {
        socket->write(QByteArrayLiteral("HTTP/1.1 200 OK\r\n"
                                        "Content-Type: text/event-stream; charset=utf-8\r\n"
                                        "Cache-Control: no-cache\r\n") +
                      securityHeaders +
                      QByteArrayLiteral("Connection: close\r\n"
                                        "X-Accel-Buffering: no\r\n\r\n"));
        // Whatever else comes on the connection counts against what a stream may send.
        BeginClosing(socket);
        if (head)
            return;
        Connection& connection = connections[socket];
        connection.phase = Phase::Stream;
        connection.lastProgress = Clock::now();
        socket->write(QByteArrayLiteral("retry: 2000\n\n"));
        streams.append(socket);
        owner.streamClients = int(streams.size());
        CatchUp(socket);
    }

    // Whether a stream still has something of an event to send.
    bool Busy(QTcpSocket* socket) const
    {
        const auto it = connections.constFind(socket);
        return socket->bytesToWrite() > 0 || (it != connections.cend() && !it->outgoing.isEmpty());
    }

    // What of its events a stream still holds beyond its socket.
    qint64 Remaining(const Connection& connection) const
    {
        qint64 remaining = -connection.outgoingAt;
        for (const QByteArray& frame : connection.outgoing)
            remaining += frame.size();
        return remaining;
    }

    // An event to one stream, now, or false when it is still sending the last
    // one: then it gets the newest results whole once it is through. frame:
    // the event as built once for every stream.
    bool Send(QTcpSocket* socket, const QByteArray& frame)
    {
        Connection& connection = connections[socket];
        if (Busy(socket)) {
            connection.behind = true;
            return false;
        }
        // The stall clock isn't wound back here: the sweep keeps it current
        // while nothing waits, and one that has waited since is asleep.
        connection.behind = false;
        connection.outgoing.append(frame);
        Pump(socket);
        return true;
    }

    // The newest results whole, and the part of a change whose whole results
    // are still being made.
    void CatchUp(QTcpSocket* socket)
    {
        Connection& connection = connections[socket];
        connection.behind = false;
        connection.outgoing.append(Frame(wholeFrame));
        if (partVersion > currentVersion)
            connection.outgoing.append(Frame(partFrame));
        Pump(socket);
    }

    // The shared events into the socket a slice at a time.
    void Pump(QTcpSocket* socket)
    {
        const auto it = connections.find(socket);
        if (it == connections.end())
            return;
        Connection& connection = *it;
        while (!connection.outgoing.isEmpty() && socket->bytesToWrite() < kStreamSlice &&
               socket->state() == QAbstractSocket::ConnectedState) {
            const QByteArray& frame = connection.outgoing.constFirst();
            const qint64 slice = std::min(kStreamSlice, frame.size() - connection.outgoingAt);
            socket->write(frame.constData() + connection.outgoingAt, slice);
            connection.outgoingAt += slice;
            if (connection.outgoingAt >= frame.size()) {
                connection.outgoing.removeFirst();
                connection.outgoingAt = 0;
            }
        }
    }

    // The results as they leave now: a running lane's time grows with their age.
    QByteArray Aged() const
    {
        return ResultsJsonAged(
            current,
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - publishedAt).count());
    }

    // The page with the latest results inside, for a first paint without waiting for them.
    QByteArray PageWithResults()
    {
        const qsizetype mark = page.indexOf(inlineResultsMark);
        if (mark < 0)
            return page;
        const QByteArray aged = Aged();
        if (pageWithResults.isEmpty() || aged != current) {
            const qsizetype at = mark + inlineResultsMark.size();
            pageWithResults = page.left(at) + ResultsJsonForHtml(aged) + page.mid(at);
        }
        return pageWithResults;
    }

    // Resets what stalls and closes what waited too long for a request; a
    // finished answer that still was in the kernel is closed once delivered.
    void Sweep()
    {
        const Clock::time_point now = Clock::now();
        QList<QTcpSocket*> dropping;
        QList<QTcpSocket*> closing;
        QList<QTcpSocket*> delivered;
        for (auto it = connections.begin(); it != connections.end(); ++it) {
            QTcpSocket* const socket = it.key();
            if (socket->state() != QAbstractSocket::ConnectedState)
                continue;
            const qint64 queued = socket->bytesToWrite();
            if (it->phase == Phase::Stream && queued > owner.largestStreamQueue)
                owner.largestStreamQueue = queued;
            const qint64 unsent = queued + Remaining(*it) + KernelUnsent(socket->socketDescriptor());
            if (unsent == 0 || unsent < it->lastUnsent)
                it->lastProgress = now;
            it->lastUnsent = unsent;
            if (unsent > 0) {
                if (now - it->lastProgress > std::chrono::milliseconds(limits.stallMs) ||
                    queued > limits.maxUnsentBytes)
                    dropping.append(socket);
            } else if (it->phase == Phase::Closing) {
                delivered.append(socket);
            } else if (it->phase == Phase::Request && now > it->deadline) {
                // Half a request is an attempt to hold the place; an idle one is a browser's spare.
                (it->requestBegun ? dropping : closing).append(socket);
            }
        }
        for (QTcpSocket* socket : std::as_const(dropping))
            Drop(socket);
        for (QTcpSocket* socket : std::as_const(closing))
            socket->disconnectFromHost();
        for (QTcpSocket* socket : std::as_const(delivered))
            CloseWhenDelivered(socket);
        GiveBackAfterCrowd();
    }

    // The allocator keeps what a crowd of streams and their events freed (in
    // each thread's arena) for later; once many have gone, the program hands
    // it back rather than staying at its peak for the rest of the race.
    void GiveBackAfterCrowd()
    {
        const qsizetype now = streams.size();
        streamsSinceTrim = std::max(streamsSinceTrim, now);
        if (streamsSinceTrim - now < 32 && !(now == 0 && streamsSinceTrim > 0))
            return;
        streamsSinceTrim = now;
#if defined(__GLIBC__)
        ::malloc_trim(0);
#endif
    }

    // The names and addresses a request may give for this machine; anything
    // else is a page that pretends to be here.
    void LearnOwnNames()
    {
        ownAddresses.clear();
        for (const QHostAddress& address : QNetworkInterface::allAddresses())
            ownAddresses.insert(DeviceAddress(address));
        ownNames = {QByteArrayLiteral("localhost")};
        const QByteArray host = QHostInfo::localHostName().toLower().toUtf8();
        const QByteArray domain = QHostInfo::localDomainName().toLower().toUtf8();
        if (!host.isEmpty()) {
            const QByteArray shortName = host.left(host.indexOf('.'));
            for (const QByteArray& name : {host, shortName}) {
                ownNames << name << name + ".local";
                if (!domain.isEmpty())
                    ownNames << name + '.' + domain;
            }
        }
        learned = Clock::now();
    }

    bool HostIsOurs(const QByteArray& given)
    {
        if (KnownHost(given))
            return true;
        // The machine may have got an address since (DHCP, a hotspot switched on).
        if (Clock::now() - learned < std::chrono::seconds(2))
            return false;
        LearnOwnNames();
        return KnownHost(given);
    }

    bool KnownHost(const QByteArray& given) const
    {
        QByteArray host = given.trimmed().toLower();
        QHostAddress address;
        if (host.startsWith('[')) {
            const qsizetype close = host.indexOf(']');
            const QByteArray rest = close < 0 ? QByteArray() : host.mid(close + 1);
            if (close < 0 || (!rest.isEmpty() && !(rest.startsWith(':') && IsDigits(rest.mid(1), 5))))
                return false;
            if (!address.setAddress(QString::fromLatin1(host.mid(1, close - 1))) ||
                address.protocol() != QAbstractSocket::IPv6Protocol)
                return false;
            return OwnAddress(address);
        }
        const qsizetype colon = host.indexOf(':');
        if (colon >= 0) {
            if (!IsDigits(host.mid(colon + 1), 5))
                return false;
            host.truncate(colon);
        }
        if (host.endsWith('.'))
            host.chop(1);
        if (host.isEmpty())
            return false;
        if (address.setAddress(QString::fromLatin1(host)))
            return address.protocol() == QAbstractSocket::IPv4Protocol && OwnAddress(address);
        return ownNames.contains(host);
    }

    bool OwnAddress(const QHostAddress& address) const
    {
        return address.isLoopback() || ownAddresses.contains(DeviceAddress(address));
    }

    TLiveServer& owner;
    const TLiveServer::Limits limits;
    const QByteArray page;
    QByteArray current = QByteArrayLiteral("{}");
    qint64 currentVersion = 0;
    Clock::time_point publishedAt = Clock::now();
    SharedFrame wholeFrame{current, publishedAt};
    qint64 partVersion = 0;
    SharedFrame partFrame;
    const QByteArray etagSalt = QByteArray::number(std::random_device{}(), 16);
    QByteArray etag = "W/\"" + etagSalt + "-0\"";
    QByteArray pageWithResults; // built once per publish while no lane runs
    QHash<QTcpSocket*, Connection> connections;
    QHash<QHostAddress, int> perAddress;
    QList<QTcpSocket*> streams;     // removed when closed
    qsizetype streamsSinceTrim = 0; // the most streams since memory was last handed back
    QSet<QHostAddress> ownAddresses;
    QSet<QByteArray> ownNames;
    Clock::time_point learned;
    QTimer* sweep = new QTimer(this);
};

// Makes snapshots into the text the phones get, off the caller's thread: a
// large protocol takes long enough to hold up the window. Only the newest
// snapshot waiting is made; what it replaces was never begun.
class TLiveResultsBuilder
{
public:
    explicit TLiveResultsBuilder(TLiveServer& owner, TLiveServerWorker* worker)
        : owner(owner), worker(worker), thread([this] { Run(); })
    {
    }
    ~TLiveResultsBuilder()
    {
        {
            const std::lock_guard lock(mutex);
            ending = true;
        }
        wake.notify_one();
        thread.join();
    }

    void Submit(const LiveSnapshot& snapshot, qint64 version)
    {
        {
            const std::lock_guard lock(mutex);
            waiting = Pending{snapshot, version, Clock::now()};
        }
        wake.notify_one();
    }

    // Results published as text meanwhile: the next change goes whole.
    void ForgetBasis() { basisStale = true; }

private:
    struct Pending
    {
        LiveSnapshot snapshot;
        qint64 version = 0;
        Clock::time_point taken;
    };

    void Run()
    {
        for (;;) {
            Pending next;
            {
                std::unique_lock lock(mutex);
                wake.wait(lock, [this] { return ending || waiting.has_value(); });
                if (ending)
                    return;
                next = std::move(*waiting);
                waiting.reset();
            }
            if (owner.buildHook)
                owner.buildHook();
            if (basisStale.exchange(false))
                changes.Forget();
            TLiveServerWorker* const target = worker;
            // The part first: it is small and what the streams wait for.
            const QByteArray part = changes.Next(next.snapshot, next.version);
            if (!part.isEmpty())
                QMetaObject::invokeMethod(
                    target, [target, part, next] { target->Part(part, next.version, next.taken); },
                    Qt::QueuedConnection);
            const QByteArray whole = ResultsJsonVersioned(ResultsJson(next.snapshot), next.version);
            const bool broadcast = part.isEmpty();
            QMetaObject::invokeMethod(
                target,
                [target, whole, broadcast, version = next.version, taken = next.taken] {
                    target->Whole(whole, version, taken, broadcast);
                },
                Qt::QueuedConnection);
        }
    }

    TLiveServer& owner;
    TLiveServerWorker* const worker;
    TResultsChanges changes;
    std::atomic<bool> basisStale{false};
    std::mutex mutex;
    std::condition_variable wake;
    std::optional<Pending> waiting;
    bool ending = false;
    std::thread thread; // last: it starts once the rest is there
};

QHostAddress TLiveServer::ClientGroup(const QHostAddress& address)
{
    const QHostAddress device = DeviceAddress(address);
    if (device.protocol() != QAbstractSocket::IPv6Protocol)
        return device;
    Q_IPV6ADDR bytes = device.toIPv6Address();
    std::fill(std::begin(bytes.c) + 8, std::end(bytes.c), quint8(0));
    return QHostAddress(bytes);
}

TLiveServer::TLiveServer(QObject* parent) : TLiveServer(Limits{}, parent) {}

TLiveServer::TLiveServer(const Limits& limits, QObject* parent) : QObject(parent), limits(limits) {}

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
        starting, [&, starting] { listening = starting->Listen(wanted, reason); },
        Qt::BlockingQueuedConnection);
    if (listening)
        builder = std::make_unique<TLiveResultsBuilder>(*this, worker);
    if (!listening) {
        Stop();
        if (error)
            *error = QStringLiteral("Live-Ergebnisse: Port %1 lässt sich nicht öffnen (%2).")
                         .arg(wanted)
                         .arg(reason);
        return false;
    }
    return true;
}

void TLiveServer::Stop()
{
    if (!thread)
        return;
    builder.reset();
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
    const qint64 version = ++lastVersion;
    if (builder)
        builder->ForgetBasis();
    const auto taken = Clock::now();
    QMetaObject::invokeMethod(
        target,
        [target, json, version, taken] {
            target->Whole(ResultsJsonVersioned(json, version), version, taken, true);
        },
        Qt::QueuedConnection);
}

void TLiveServer::Publish(const LiveSnapshot& snapshot)
{
    if (builder)
        builder->Submit(snapshot, ++lastVersion);
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
