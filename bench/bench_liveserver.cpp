// Live results to many phones on loopback: 200 event-stream clients, each
// update published once; how long until every client has it (median, 99 %,
// worst over all clients and updates) and the CPU one update costs the
// program. Then bench_comport's stamp figures run twice in child processes,
// once alone and once while the clients are connected and updates go out
// every 100 ms, and their ratio.
//
//   bench_liveserver [clients] [updates] [only]   (default 200 clients, 100 updates;
//                                       "only": without bench_comport's figures; past the
//                                       server's places clients are counted as turned away)
//
// And what one device on the network can do to the server (loopback only,
// each ends by itself):
//   bench_liveserver flood [MB]         one stream sends a request with a body of MB
//                                       (512): the program's memory
//   bench_liveserver hold [conns] [loads]  one address opens conns (600) connections,
//                                       held and reconnecting with slow headers,
//                                       while loads (40) other phones load the page
//   bench_liveserver crowd [addresses] [loads]  addresses (80) hold 8 connections each, idle
//                                       keep-alives or unfinished headers, while loads (40)
//                                       other phones load the page
//   bench_liveserver sleepers [streams] streams (300) that never read while big
//                                       results go out: kernel memory and time to drop
#include "LiveClient.h"
#include "LiveServer.h"
#include "ProcessCpu.h"
#include "ResultsJson.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QRegularExpression>
#include <QTimer>

#include <QFile>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// A protocol of 60 starters, the update's number in the first name.
QByteArray Results(int update)
{
    LiveSnapshot snapshot;
    snapshot.title = QStringLiteral("Seifenkistenrennen");
    for (int i = 0; i < 60; ++i)
        snapshot.rows << QStringList{QString::number(i + 1),
                                     "Muster",
                                     QStringLiteral("U%1").arg(update),
                                     "SC",
                                     "A",
                                     "31,25",
                                     "30,80",
                                     "",
                                     "",
                                     "",
                                     "",
                                     "62,05",
                                     QString::number(i + 1)};
    return ResultsJson(snapshot);
}

void Serve(int milliseconds)
{
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

// "single edges ... median X" and the like from bench_comport's output.
QMap<QString, double> Medians(const QByteArray& output)
{
    QMap<QString, double> medians;
    static const QRegularExpression line(QStringLiteral("^(\\S.*?)\\s+min\\s+\\S+\\s+median\\s+(\\S+)"));
    for (const QByteArray& text : output.split('\n')) {
        const QRegularExpressionMatch match = line.match(QString::fromUtf8(text));
        if (match.hasMatch())
            medians.insert(match.captured(1).trimmed(), match.captured(2).toDouble());
    }
    return medians;
}

QByteArray RunComport()
{
    QProcess child;
    child.start(QCoreApplication::applicationDirPath() + QStringLiteral("/bench_comport"),
                {QStringLiteral("300")});
    while (!child.waitForFinished(50))
        QCoreApplication::processEvents(); // the clients keep reading meanwhile
    return child.readAllStandardOutput();
}

} // namespace

// What one device on the network can do, measured from the program's side.
namespace {

double Ms(Clock::duration span)
{
    return std::chrono::duration<double, std::milli>(span).count();
}

// A field of /proc/self/status (VmRSS:, VmHWM:) in MB.
double StatusMb(const char* field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(qsizetype(std::strlen(field))).trimmed().split(' ').value(0).toDouble() / 1024.0;
    }
    return -1;
}

// Every TCP socket's memory in the kernel (this network namespace), MB.
double TcpKernelMb()
{
    QFile sockstat(QStringLiteral("/proc/net/sockstat"));
    if (!sockstat.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : sockstat.readAll().split('\n')) {
        if (line.startsWith("TCP:")) {
            const QList<QByteArray> words = line.simplified().split(' ');
            const qsizetype at = words.indexOf("mem");
            return at < 0 ? -1 : words.value(at + 1).toDouble() * double(::sysconf(_SC_PAGESIZE)) / 1048576.0;
        }
    }
    return -1;
}

// The server's own sockets (not the listening one) as ss sees them: how
// many, how many of them in FIN-WAIT, and their memory (queued to send and received).
struct ServerSockets
{
    int count = 0;
    int finWait = 0;
    double mb = 0;
};

ServerSockets ServerSide(quint16 port)
{
    QProcess ss;
    ss.start(QStringLiteral("ss"), {QStringLiteral("-tmanH"), QStringLiteral("sport = :%1").arg(port)});
    ss.waitForFinished(10000);
    ServerSockets sockets;
    bool listening = false;
    for (const QByteArray& word : ss.readAllStandardOutput().simplified().split(' ')) {
        if (word == "LISTEN") {
            listening = true;
        } else if (word == "ESTAB" || word.startsWith("FIN-WAIT") || word == "CLOSING" ||
                   word == "LAST-ACK" || word == "CLOSE-WAIT" || word == "SYN-RECV") {
            listening = false;
            ++sockets.count;
            sockets.finWait += word.startsWith("FIN-WAIT") ? 1 : 0;
        } else if (word.startsWith("skmem:(") && !listening) {
            for (const QByteArray& part : word.mid(7, word.size() - 8).split(',')) {
                if (part.startsWith('r') && !part.startsWith("rb"))
                    sockets.mb += part.mid(1).toDouble() / 1048576.0;
                else if (part.startsWith('w'))
                    sockets.mb += part.mid(1).toDouble() / 1048576.0;
            }
        }
    }
    return sockets;
}

// A client socket of phone's address on loopback, connected (or connecting when not blocking).
int ConnectFrom(quint16 port, int phone, bool blocking = true, int receiveBuffer = 0)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | (blocking ? 0 : SOCK_NONBLOCK), 0);
    if (fd < 0)
        return -1;
    if (receiveBuffer > 0)
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    // The port is picked at connect: thousands of connections from one address come and go.
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
        (::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0 && errno != EINPROGRESS)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool SendAll(int fd, const QByteArray& bytes)
{
    return ::send(fd, bytes.constData(), std::size_t(bytes.size()), MSG_NOSIGNAL) == ssize_t(bytes.size());
}

// count phones (from firstPhone on) load the page at once; how many got all
// of it within timeoutMs, and how long each took.
struct Loads
{
    int served = 0;
    std::vector<double> ms;
};

Loads PageLoads(quint16 port, int count, int firstPhone, int timeoutMs)
{
    struct Load
    {
        int fd = -1;
        QByteArray got;
        bool sent = false;
        bool done = false;
    };
    std::vector<Load> loads(static_cast<std::size_t>(count));
    const Clock::time_point start = Clock::now();
    for (int i = 0; i < count; ++i) {
        loads[std::size_t(i)].fd = ConnectFrom(port, firstPhone + i, false);
        loads[std::size_t(i)].done = loads[std::size_t(i)].fd < 0;
    }
    Loads result;
    const auto complete = [](const QByteArray& got) {
        const qsizetype end = got.indexOf("\r\n\r\n");
        if (end < 0 || !got.startsWith("HTTP/1.1 200"))
            return false;
        const QByteArray head = got.left(end).toLower();
        const qsizetype at = head.indexOf("content-length:");
        return at >= 0 && got.size() - end - 4 >=
                              head.mid(at + 15, head.indexOf('\r', at) - at - 15).trimmed().toLongLong();
    };
    while (Clock::now() - start < std::chrono::milliseconds(timeoutMs)) {
        std::vector<pollfd> waiting;
        std::vector<Load*> which;
        for (Load& load : loads) {
            if (!load.done) {
                waiting.push_back({load.fd, short(load.sent ? POLLIN : POLLOUT), 0});
                which.push_back(&load);
            }
        }
        if (waiting.empty())
            break;
        ::poll(waiting.data(), nfds_t(waiting.size()), 20);
        for (std::size_t i = 0; i < waiting.size(); ++i) {
            Load& load = *which[i];
            if (waiting[i].revents == 0)
                continue;
            if (!load.sent) {
                int error = 0;
                socklen_t size = sizeof error;
                ::getsockopt(load.fd, SOL_SOCKET, SO_ERROR, &error, &size);
                load.sent = error == 0 && SendAll(load.fd, Get("/"));
                load.done = !load.sent;
                continue;
            }
            char chunk[16384];
            const ssize_t got = ::recv(load.fd, chunk, sizeof chunk, 0);
            if (got > 0)
                load.got.append(chunk, got);
            if (complete(load.got)) {
                ++result.served;
                result.ms.push_back(Ms(Clock::now() - start));
                load.done = true;
            } else if (got == 0 || (got < 0 && errno != EAGAIN)) {
                load.done = true;
            }
        }
    }
    for (const Load& load : loads) {
        if (load.fd >= 0)
            ::close(load.fd);
    }
    std::sort(result.ms.begin(), result.ms.end());
    return result;
}

void PrintLoads(const char* what, const Loads& loads, int count)
{
    std::printf("  %-44s %3d of %d pages served", what, loads.served, count);
    if (!loads.ms.empty())
        std::printf("  (median %.0f ms, slowest %.0f ms)", loads.ms[loads.ms.size() / 2], loads.ms.back());
    std::printf("\n");
}

void RaiseFileLimit()
{
    rlimit files{};
    ::getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = std::min<rlim_t>(files.rlim_max, 8192);
    ::setrlimit(RLIMIT_NOFILE, &files);
}

// One stream that sends megabytes after its request.
int Flood(int megabytes)
{
    TLiveServer server;
    if (!server.Start(0))
        return 1;
    server.Publish(Results(1));
    Serve(300);
    const double before = StatusMb("VmRSS:");
    const int fd = ConnectFrom(server.Port(), 0);
    const timeval patience{10, 0}; // a blocked send gives up by itself
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &patience, sizeof patience);
    const qint64 total = qint64(megabytes) * 1048576;
    if (fd < 0 || !SendAll(fd, Get("/live")))
        return 1;
    char first[4096];
    if (::recv(fd, first, sizeof first, 0) <= 0) // the stream has begun
        return 1;
    // Then a request with a body of that size: what an HTTP parser has to take in.
    if (!SendAll(fd, "POST /live HTTP/1.1\r\nHost: localhost\r\nContent-Length: " +
                         QByteArray::number(total) + "\r\n\r\n"))
        return 1;
    std::atomic<qint64> sent{0};
    std::atomic<int> failure{0};
    std::atomic<bool> done{false};
    const Clock::time_point start = Clock::now();
    std::thread writer([&] {
        const QByteArray chunk(64 * 1024, 'z');
        while (sent < total) {
            const ssize_t n = ::send(fd, chunk.constData(),
                                     std::size_t(std::min<qint64>(chunk.size(), total - sent)), MSG_NOSIGNAL);
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                failure = errno;
                break;
            }
            sent += n;
        }
        done = true;
    });
    double peak = before;
    while (!done) {
        peak = std::max(peak, StatusMb("VmRSS:"));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    writer.join();
    const double took = Ms(Clock::now() - start);
    Serve(1000);
    const double after = StatusMb("VmRSS:");
    std::printf("one stream sending %d MB after its request:\n", megabytes);
    std::printf("  the client got %.1f MB off in %.0f ms, then %s\n", double(sent) / 1048576.0, took,
                failure != 0 ? qPrintable(QStringLiteral("the connection ended (%1)")
                                              .arg(QString::fromLocal8Bit(std::strerror(failure))))
                             : "the client was through");
    std::printf("  program RSS: before %.1f MB, peak %.1f MB, 1 s after %.1f MB (high-water mark %.1f MB)\n",
                before, std::max(peak, after), after, StatusMb("VmHWM:"));
    ::close(fd);
    return 0;
}

// Many addresses, each holding as many connections as one address may, either
// idle after an answer (a browser's keep-alive spares) or with headers never
// finished; then the page loads of other phones.
int Crowd(int addresses, int loadCount)
{
    RaiseFileLimit();
    std::printf("%d addresses hold 8 connections each; %d other phones load the page (10 s allowed):\n",
                addresses, loadCount);
    for (const bool idle : {true, false}) {
        TLiveServer server;
        if (!server.Start(0))
            return 1;
        const quint16 port = server.Port();
        const int perAddress = server.CurrentLimits().perAddress;
        std::vector<int> held;
        for (int phone = 0; phone < addresses; ++phone) {
            for (int i = 0; i < perAddress; ++i) {
                const int fd = ConnectFrom(port, phone);
                if (fd < 0)
                    continue;
                held.push_back(fd);
                const timeval patience{2, 0}; // one turned away answers nothing
                ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
                if (!idle) {
                    SendAll(fd, QByteArrayLiteral("GET / HTTP/1.1\r\nHost: loc"));
                    continue;
                }
                SendAll(fd, Get("/ergebnisse.json"));
                QByteArray got;
                char chunk[4096];
                for (ssize_t n; !got.endsWith("\r\n\r\n{}") && (n = ::recv(fd, chunk, sizeof chunk, 0)) > 0;)
                    got.append(chunk, n);
            }
        }
        Serve(500);
        const QByteArray what =
            (idle ? QByteArrayLiteral("idle keep-alives") : QByteArrayLiteral("unfinished headers")) + ", " +
            QByteArray::number(server.OpenConnections()) + " open";
        PrintLoads(what.constData(), PageLoads(port, loadCount, addresses, 10000), loadCount);
        for (const int fd : held)
            ::close(fd);
    }
    return 0;
}

// One address that opens connections without end, and the other phones' page loads meanwhile.
int Hold(int connections, int loadCount)
{
    RaiseFileLimit();
    TLiveServer server;
    if (!server.Start(0))
        return 1;
    server.Publish(Results(1));
    const quint16 port = server.Port();
    std::printf("one address opens %d connections; %d other phones load the page (10 s allowed):\n",
                connections, loadCount);
    PrintLoads("nothing else going on", PageLoads(port, loadCount, 1, 10000), loadCount);

    // Held: each asks for the stream and never reads.
    std::vector<int> held;
    for (int i = 0; i < connections; ++i) {
        const int fd = ConnectFrom(port, 0);
        if (fd >= 0) {
            SendAll(fd, Get("/live"));
            held.push_back(fd);
        }
    }
    Serve(1000);
    std::printf("  held streams: the server keeps %d of them open (%d streams)\n", server.OpenConnections(),
                server.StreamClients());
    PrintLoads("while they are held", PageLoads(port, loadCount, 1, 10000), loadCount);
    for (const int fd : held)
        ::close(fd);
    Serve(1000);

    // Reconnecting with slow headers: a byte a second on each, a new
    // connection for every one the server ends.
    std::atomic<bool> stop{false};
    std::atomic<int> reconnects{0};
    std::thread attacker([&] {
        struct Slow
        {
            int fd = -1;
            bool begun = false;
            Clock::time_point next;
        };
        std::vector<Slow> slow(static_cast<std::size_t>(connections));
        const QByteArray begin = QByteArrayLiteral("GET / HTTP/1.1\r\nHost: localhost\r\nX-Langsam: ");
        while (!stop) {
            int opened = 0;
            std::vector<pollfd> watched;
            for (Slow& one : slow) {
                if (one.fd < 0 && opened < 100) {
                    one.fd = ConnectFrom(port, 0, false);
                    one.begun = false;
                    one.next = Clock::now();
                    ++opened;
                    ++reconnects;
                }
                if (one.fd >= 0)
                    watched.push_back({one.fd, short(one.begun ? POLLIN : POLLOUT), 0});
            }
            ::poll(watched.data(), nfds_t(watched.size()), 10);
            std::size_t w = 0;
            for (Slow& one : slow) {
                if (one.fd < 0 || w >= watched.size() || watched[w].fd != one.fd)
                    continue;
                const short events = watched[w++].revents;
                char scratch[4096];
                if ((events & (POLLERR | POLLHUP)) ||
                    ((events & POLLIN) && ::recv(one.fd, scratch, sizeof scratch, 0) <= 0)) {
                    ::close(one.fd);
                    one.fd = -1;
                    continue;
                }
                const Clock::time_point now = Clock::now();
                if ((events & POLLOUT) && !one.begun) {
                    one.begun = SendAll(one.fd, begin);
                    one.next = now + std::chrono::seconds(1);
                } else if (one.begun && now >= one.next) {
                    SendAll(one.fd, QByteArrayLiteral("a"));
                    one.next = now + std::chrono::seconds(1);
                }
            }
        }
        for (const Slow& one : slow) {
            if (one.fd >= 0)
                ::close(one.fd);
        }
    });
    const Clock::time_point attack = Clock::now();
    Serve(2000);
    const int open = server.OpenConnections();
    // Twice: once early, once after an idle limit of 15 s had let the first ones go and they came back.
    for (const int wait : {0, 16000}) {
        Serve(wait);
        const QByteArray when = QByteArrayLiteral("slow headers, reconnecting, after ") +
                                QByteArray::number(qRound(Ms(Clock::now() - attack) / 1000)) + " s";
        PrintLoads(when.constData(), PageLoads(port, loadCount, 1, 10000), loadCount);
    }
    stop = true;
    attacker.join();
    std::printf("  slow headers: the server kept %d open after 2 s; %d connections opened in all\n", open,
                reconnects.load());
    return 0;
}

// Streams that never read while big results go out every 100 ms: what
// waits for them in the kernel and how long until they are gone.
int Sleepers(int count)
{
    RaiseFileLimit();
    TLiveServer server;
    if (!server.Start(0))
        return 1;
    const quint16 port = server.Port();
    LiveSnapshot big;
    big.title = QString(100 * 1024, QLatin1Char('x'));
    const QByteArray results = ResultsJson(big);
    server.Publish(results);
    Serve(300);
    const double kernelBefore = TcpKernelMb();
    std::vector<int> sleepers;
    for (int i = 0; i < count; ++i) {
        // A phone's own buffer is the phone's; kept small so that what is measured is the program's side.
        const int fd = ConnectFrom(port, i, true, 64 * 1024);
        if (fd >= 0 && SendAll(fd, Get("/live")))
            sleepers.push_back(fd);
    }
    QElapsedTimer waited;
    waited.start();
    while (server.StreamClients() < count && waited.elapsed() < 20000)
        Serve(10);
    std::printf("%d streams that never read, %d KB of results every 100 ms:\n", server.StreamClients(),
                int(results.size() / 1024));
    const Clock::time_point start = Clock::now();
    double firstGone = -1;
    double allGone = -1;
    double peakKernel = 0;
    ServerSockets peakServer;
    int update = 0;
    while (Clock::now() - start < std::chrono::seconds(90)) {
        if (server.StreamClients() > 0)
            server.Publish(results + QByteArray(++update % 2, ' '));
        Serve(100);
        if (update % 3 == 0) {
            peakKernel = std::max(peakKernel, TcpKernelMb());
            const ServerSockets now = ServerSide(port);
            if (now.mb > peakServer.mb)
                peakServer = now;
        }
        if (firstGone < 0 && server.StreamClients() < count)
            firstGone = Ms(Clock::now() - start);
        if (server.StreamClients() == 0) {
            allGone = Ms(Clock::now() - start);
            break;
        }
    }
    std::printf("  first dropped after %.1f s, all after %.1f s\n", firstGone / 1000, allGone / 1000);
    std::printf("  kernel TCP memory: before %.1f MB, peak %.1f MB; the server's sockets at most %.1f MB (%d "
                "sockets)\n",
                kernelBefore, peakKernel, peakServer.mb, peakServer.count);
    for (int seconds = 1; seconds <= 5; seconds += 4) {
        Serve(seconds == 1 ? 1000 : 4000);
        const ServerSockets left = ServerSide(port);
        std::printf("  %d s after: %d of the server's sockets left (%d in FIN-WAIT) with %.1f MB; kernel TCP "
                    "%.1f MB\n",
                    seconds, left.count, left.finWait, left.mb, TcpKernelMb());
    }
    for (const int fd : sleepers)
        ::close(fd);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QByteArray mode = argc > 1 ? QByteArray(argv[1]) : QByteArray();
    const auto number = [&](int at, int fallback) {
        return argc > at ? std::max(1, std::atoi(argv[at])) : fallback;
    };
    if (mode == "flood")
        return Flood(number(2, 512));
    if (mode == "hold")
        return Hold(number(2, 600), number(3, 40));
    if (mode == "crowd")
        return Crowd(number(2, 80), number(3, 40));
    if (mode == "sleepers")
        return Sleepers(number(2, 300));
    const int clients = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;
    const int updates = argc > 2 ? std::max(1, std::atoi(argv[2])) : 100;

    // "only": just the updates' figures, without bench_comport's.
    const bool withComport = !(argc > 3 && QByteArray(argv[3]) == "only");
    const QByteArray alone = withComport ? RunComport() : QByteArray();

    TLiveServer server;
    QString error;
    if (!server.Start(0, &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    std::vector<std::unique_ptr<StreamReader>> readers;
    for (int i = 0; i < clients; ++i)
        readers.push_back(std::make_unique<StreamReader>(server.Port(), Phone(i)));
    // Past the server's places a client is turned away, at the door (a reset) or
    // with a 503; the figures below are those of the clients served.
    const auto settled = [](const StreamReader& reader) {
        return !reader.events.isEmpty() || reader.socket.state() != QAbstractSocket::ConnectedState ||
               reader.buffer.startsWith("HTTP/1.1 503");
    };
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < 20000 &&
           !std::all_of(readers.begin(), readers.end(), [&](const auto& reader) { return settled(*reader); }))
        Serve(10);
    std::vector<StreamReader*> served;
    int told503 = 0;
    for (const auto& reader : readers) {
        if (!reader->events.isEmpty())
            served.push_back(reader.get());
        else if (reader->buffer.startsWith("HTTP/1.1 503"))
            ++told503;
    }
    const int refused = clients - int(served.size());
    std::printf(
        "%d clients: %zu served, %d turned away (%d reset or closed, %d told 503 \"Zu viele Zuschauer\")\n",
        clients, served.size(), refused, refused - told503, told503);
    if (served.empty())
        return 1;

    std::vector<double> latencies;
    double cpu = 0;
    for (int update = 1; update <= updates; ++update) {
        std::vector<std::size_t> before;
        for (const StreamReader* reader : served)
            before.push_back(std::size_t(reader->events.size()));
        std::vector<bool> arrived(served.size(), false);
        const double cpuBefore = ProcessCpuSeconds();
        const Clock::time_point sent = Clock::now();
        server.Publish(Results(update));
        std::size_t done = 0;
        while (done < served.size() && Clock::now() - sent < std::chrono::seconds(10)) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
            for (std::size_t i = 0; i < served.size(); ++i) {
                if (!arrived[i] && std::size_t(served[i]->events.size()) > before[i]) {
                    arrived[i] = true;
                    ++done;
                    latencies.push_back(
                        std::chrono::duration<double, std::milli>(Clock::now() - sent).count());
                }
            }
        }
        cpu += ProcessCpuSeconds() - cpuBefore;
        if (done < served.size())
            std::printf("update %d: %zu served clients never got it\n", update, served.size() - done);
    }
    if (latencies.empty()) {
        std::printf("no served client got an update\n");
        return 1;
    }
    std::sort(latencies.begin(), latencies.end());
    const auto at = [&](double share) {
        return latencies[std::size_t(share * double(latencies.size() - 1))];
    };
    std::printf(
        "update to every served client: median %.2f ms  99%% %.2f ms  worst %.2f ms  (%zu deliveries)\n",
        at(0.5), at(0.99), latencies.back(), latencies.size());
    std::printf("CPU per update (server and %zu clients in this process): %.2f ms\n", served.size(),
                1000.0 * cpu / updates);

    if (!withComport)
        return 0;
    QTimer ticker;
    int update = updates;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        server.Publish(Results(++update));
        // However long bench_comport takes, the clients keep no more than the last events.
        for (const auto& reader : readers)
            reader->events.clear();
    });
    ticker.start(100);
    const QByteArray busy = RunComport();
    ticker.stop();
    const QMap<QString, double> quiet = Medians(alone);
    const QMap<QString, double> loaded = Medians(busy);
    std::printf("bench_comport medians, alone -> with %d clients and an update every 100 ms:\n", clients);
    for (auto it = quiet.cbegin(); it != quiet.cend(); ++it) {
        const double with = loaded.value(it.key(), -1);
        std::printf("  %-46s %8.1f -> %8.1f us  (x %.2f)\n", qPrintable(it.key()), it.value(), with,
                    it.value() > 0 ? with / it.value() : 0.0);
    }
    return 0;
}
