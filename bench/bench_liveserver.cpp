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
//
// Following a race, as the window publishes (it takes the snapshot and hands
// it over; where the server can't take a snapshot, the window makes the text
// itself), with clients on a thread of their own:
//   bench_liveserver follow [phones] [starters] [stops]  phones (500) open the stream
//                                       as the page does; one turned away asks for the
//                                       results every 3-4 s with the tag it has. Each stop
//                                       (10) changes a time and its class's places: how
//                                       long until every phone has it, streamed or polling,
//                                       and how long the window's thread was busy
//   bench_liveserver slow [starters] [readers]  readers (536) that read 40 KB/s while a
//                                       change goes out every 500 ms for 20 s: the
//                                       program's memory, and once they have left
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
#include <map>
#include <memory>
#include <mutex>
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

// starters in classes of 200; stop: the number of the stop, its time (and
// marker "Stop<n>" on lane 1) for one starter and new places for its class.
LiveSnapshot RaceAt(int starters, int stop)
{
    LiveSnapshot snapshot;
    snapshot.title = QStringLiteral("Seifenkistenrennen");
    snapshot.date = QStringLiteral("10.12.2026");
    const int changed = stop > 0 ? (stop * 7919) % starters : -1;
    const int changedClass = changed / 200;
    snapshot.rows.reserve(starters);
    snapshot.places.reserve(starters);
    for (int i = 0; i < starters; ++i) {
        const bool mine = i == changed;
        const QString total =
            mine ? QStringLiteral("29,%1").arg(stop % 100, 2, 10, QLatin1Char('0')) : QStringLiteral("62,05");
        // Who stands behind the new time in its class moves down a place.
        const int place = i % 200 + 1 + (i / 200 == changedClass && !mine ? 1 : 0);
        snapshot.rows << QStringList{QString::number(i + 1),
                                     QStringLiteral("Muster"),
                                     QStringLiteral("Max"),
                                     QStringLiteral("SC Berg"),
                                     QStringLiteral("Klasse %1").arg(i / 200),
                                     QStringLiteral("31,25"),
                                     QStringLiteral("30,80"),
                                     "",
                                     "",
                                     "",
                                     "",
                                     total,
                                     QString::number(mine ? 1 : place)};
        snapshot.places << AudiencePlace{QString::number(mine ? 1 : place), {}, 2, 0, total};
        snapshot.unconfirmedRows << false;
    }
    snapshot.lanes[0].state = LiveLane::State::Stopped;
    snapshot.lanes[0].time = QStringLiteral("Stop%1").arg(stop);
    snapshot.lanes[0].starter = QStringLiteral("%1 Muster Max").arg(changed + 1);
    return snapshot;
}

// As the window does it: the snapshot to the server, or, where it only takes
// text, the text made here.
template <typename Server> void PublishAsWindow(Server& server, const LiveSnapshot& snapshot)
{
    if constexpr (requires { server.Publish(snapshot); })
        server.Publish(snapshot);
    else
        server.Publish(ResultsJson(snapshot));
}

// The last "Stop<n>" in text, -1 if none.
int StopIn(const char* data, std::size_t size)
{
    static const QByteArrayView mark("\"Stop");
    const QByteArrayView text(data, qsizetype(size));
    const qsizetype at = text.lastIndexOf(mark);
    if (at < 0)
        return -1;
    int stop = 0;
    for (qsizetype i = at + mark.size(); i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        stop = stop * 10 + (text[i] - '0');
    return stop;
}

// Phones as the page behaves, on a thread of their own: each opens the
// stream; one turned away (a reset, a 503) asks for the results every 3-4 s
// with the tag it has, on a kept connection while the server keeps it.
class Phones
{
public:
    Phones(quint16 port, int count, int maxStops)
        : port(port), phones(std::size_t(count)), arrived(std::size_t(maxStops + 1))
    {
        for (auto& count : arrived)
            count = 0;
        publishedAt[0] = Clock::now(); // what is there when they come
        thread = std::thread([this] { Run(); });
    }
    ~Phones()
    {
        ending = true;
        thread.join();
        for (const Phone& phone : phones) {
            if (phone.fd >= 0)
                ::close(phone.fd);
        }
    }

    // Stop stop was published at at.
    void Published(int stop, Clock::time_point at)
    {
        const std::lock_guard lock(mutex);
        publishedAt[stop] = at;
    }
    int Streaming() const { return streaming.load(); }
    int Polling() const { return polling.load(); }
    int Settled() const { return settled.load(); }
    int Arrived(int stop) const { return arrived[std::size_t(stop)].load(); }
    // Latencies (ms) of stop's deliveries by way.
    std::vector<double> Latencies(bool streamed)
    {
        const std::lock_guard lock(mutex);
        return streamed ? streamedMs : polledMs;
    }

private:
    struct Phone
    {
        int fd = -1;
        bool stream = true;
        bool connected = false;
        bool asked = false;
        bool settled = false;
        bool reused = false; // the connection has answered a poll before
        QByteArray buffer;
        qsizetype scanned = 0; // of the buffer, for the end of an event
        QByteArray etag;
        int seen = -1;
        Clock::time_point nextPoll;
    };

    void Seen(Phone& phone, int stop, bool streamed)
    {
        if (stop <= phone.seen)
            return;
        phone.seen = stop;
        const std::lock_guard lock(mutex);
        const auto at = publishedAt.find(stop);
        if (at == publishedAt.end())
            return;
        ++arrived[std::size_t(stop)];
        if (stop > 0)
            (streamed ? streamedMs : polledMs).push_back(Ms(Clock::now() - at->second));
    }

    void Settle(Phone& phone)
    {
        if (!phone.settled) {
            phone.settled = true;
            ++settled;
        }
    }

    void BecomePoller(Phone& phone)
    {
        if (phone.fd >= 0)
            ::close(phone.fd);
        phone.fd = -1;
        phone.connected = false;
        phone.asked = false;
        phone.buffer.clear();
        phone.scanned = 0;
        if (phone.stream) {
            phone.stream = false;
            ++polling;
            Settle(phone);
        }
        phone.nextPoll = Clock::now() + std::chrono::milliseconds(3000 + std::rand() % 1000);
    }

    void Open(Phone& phone, int index)
    {
        phone.fd = ConnectFrom(port, index, false);
        phone.connected = false;
        phone.asked = false;
        phone.reused = false;
        phone.buffer.clear();
        phone.scanned = 0;
    }

    QByteArray Request(const Phone& phone) const
    {
        if (phone.stream)
            return Get("/live");
        return "GET /ergebnisse.json HTTP/1.1\r\nHost: localhost\r\n" +
               (phone.etag.isEmpty() ? QByteArray() : "If-None-Match: " + phone.etag + "\r\n") + "\r\n";
    }

    // A complete answer to a poll at the front of the buffer: taken off, true.
    bool Answered(Phone& phone)
    {
        const qsizetype end = phone.buffer.indexOf("\r\n\r\n");
        if (end < 0)
            return false;
        const QByteArray head = phone.buffer.left(end).toLower();
        qint64 length = 0;
        const qsizetype at = head.indexOf("content-length:");
        if (at >= 0)
            length = head.mid(at + 15, head.indexOf('\r', at) - at - 15).trimmed().toLongLong();
        if (phone.buffer.size() - end - 4 < length)
            return false;
        if (head.startsWith("http/1.1 200")) {
            const qsizetype tag = phone.buffer.indexOf("ETag: ");
            if (tag >= 0 && tag < end)
                phone.etag = phone.buffer.mid(tag + 6, phone.buffer.indexOf('\r', tag) - tag - 6);
            Seen(phone, StopIn(phone.buffer.constData() + end + 4, std::size_t(length)), false);
        }
        phone.buffer.remove(0, end + 4 + length);
        return true;
    }

    void Run()
    {
        for (std::size_t i = 0; i < phones.size(); ++i)
            Open(phones[i], int(i));
        std::vector<pollfd> watched;
        std::vector<std::size_t> which;
        char chunk[65536];
        while (!ending) {
            watched.clear();
            which.clear();
            const Clock::time_point now = Clock::now();
            for (std::size_t i = 0; i < phones.size(); ++i) {
                Phone& phone = phones[i];
                if (!phone.stream && !phone.asked && now >= phone.nextPoll) {
                    if (phone.fd < 0)
                        Open(phone, int(i));
                    if (phone.connected && SendAll(phone.fd, Request(phone)))
                        phone.asked = true;
                }
                if (phone.fd >= 0)
                    watched.push_back({phone.fd, short(phone.connected ? POLLIN : POLLOUT), 0});
                which.push_back(i);
                if (phone.fd < 0)
                    which.pop_back();
            }
            ::poll(watched.data(), nfds_t(watched.size()), 5);
            for (std::size_t w = 0; w < watched.size(); ++w) {
                if (watched[w].revents == 0)
                    continue;
                Phone& phone = phones[which[w]];
                if (!phone.connected) {
                    int error = 0;
                    socklen_t size = sizeof error;
                    ::getsockopt(phone.fd, SOL_SOCKET, SO_ERROR, &error, &size);
                    phone.connected = error == 0;
                    if (!phone.connected || (phone.stream && !SendAll(phone.fd, Request(phone)))) {
                        BecomePoller(phone);
                        continue;
                    }
                    phone.asked = phone.stream || (SendAll(phone.fd, Request(phone)));
                    continue;
                }
                const ssize_t got = ::recv(phone.fd, chunk, sizeof chunk, 0);
                if (got <= 0) {
                    if (got < 0 && errno == EAGAIN)
                        continue;
                    // Closed: a stream turned away polls at once; a kept connection let go
                    // is asked again on a new one (as a browser does), once.
                    const bool retry = phone.stream || (phone.asked && phone.reused);
                    BecomePoller(phone);
                    if (retry)
                        phone.nextPoll = Clock::now();
                    phone.asked = false;
                    continue;
                }
                phone.buffer.append(chunk, got);
                if (phone.stream) {
                    if (phone.buffer.startsWith("HTTP/1.1 503")) {
                        BecomePoller(phone);
                        continue;
                    }
                    for (qsizetype end; (end = phone.buffer.indexOf("\n\n", phone.scanned)) >= 0;) {
                        phone.scanned = 0;
                        if (!phone.settled && phone.buffer.startsWith("HTTP/1.1 200")) {
                            ++streaming;
                            Settle(phone);
                        }
                        Seen(phone, StopIn(phone.buffer.constData(), std::size_t(end)), true);
                        phone.buffer.remove(0, end + 2);
                    }
                    phone.scanned = std::max<qsizetype>(0, phone.buffer.size() - 1);
                } else if (phone.asked && Answered(phone)) {
                    phone.asked = false;
                    phone.reused = true;
                    phone.nextPoll = Clock::now() + std::chrono::milliseconds(3000 + std::rand() % 1000);
                }
            }
        }
    }

    const quint16 port;
    std::vector<Phone> phones;
    std::vector<std::atomic<int>> arrived;
    std::atomic<int> streaming{0};
    std::atomic<int> polling{0};
    std::atomic<int> settled{0};
    std::atomic<bool> ending{false};
    std::mutex mutex;
    std::map<int, Clock::time_point> publishedAt;
    std::vector<double> streamedMs;
    std::vector<double> polledMs;
    std::thread thread;
};

void PrintSpread(const char* what, std::vector<double> ms)
{
    std::sort(ms.begin(), ms.end());
    if (ms.empty()) {
        std::printf("  %-22s none\n", what);
        return;
    }
    std::printf("  %-22s median %7.1f ms  99%% %7.1f ms  worst %7.1f ms  (%zu deliveries)\n", what,
                ms[ms.size() / 2], ms[std::size_t(0.99 * double(ms.size() - 1))], ms.back(), ms.size());
}

int Follow(int count, int starters, int stops)
{
    RaiseFileLimit();
    TLiveServer server;
    if (!server.Start(0))
        return 1;
    PublishAsWindow(server, RaceAt(starters, 0));
    Serve(500);
    Phones phones(server.Port(), count, stops);
    QElapsedTimer waited;
    waited.start();
    // Until every phone has the results as they stand (or polls).
    while ((phones.Settled() < count || phones.Arrived(0) < phones.Streaming()) && waited.elapsed() < 60000)
        Serve(20);
    Serve(500);
    std::printf("%d phones, %d starters: %d streamed, %d polling (%d unsettled); the server: %d streams, %d "
                "open, %d refused\n",
                count, starters, phones.Streaming(), phones.Polling(), count - phones.Settled(),
                server.StreamClients(), server.OpenConnections(), server.Refused());
    std::vector<double> windowMs;
    int stale = 0;
    for (int stop = 1; stop <= stops; ++stop) {
        const LiveSnapshot snapshot = RaceAt(starters, stop);
        const Clock::time_point at = Clock::now();
        phones.Published(stop, at);
        const Clock::time_point window = Clock::now();
        PublishAsWindow(server, snapshot);
        windowMs.push_back(Ms(Clock::now() - window));
        // Streams at once, pollers within their 3-4 s; whoever lacks it after 10 s is stale.
        while (phones.Arrived(stop) < count && Clock::now() - at < std::chrono::seconds(10))
            Serve(5);
        stale += count - phones.Arrived(stop);
        Serve(phones.Polling() > 0 ? 0 : 200);
    }
    PrintSpread("streamed", phones.Latencies(true));
    PrintSpread("polling", phones.Latencies(false));
    PrintSpread("window's thread busy", windowMs);
    std::printf("  stale after 10 s: %d of %d deliveries\n", stale, count * stops);
    return 0;
}

// Readers that take 2 KB every 50 ms while changes go out, then leave.
int SlowReaders(int starters, int count)
{
    RaiseFileLimit();
    TLiveServer server;
    if (!server.Start(0))
        return 1;
    PublishAsWindow(server, RaceAt(starters, 0));
    Serve(1000);
    const double before = StatusMb("VmRSS:");
    std::vector<int> readers;
    for (int i = 0; i < count; ++i) {
        const int fd = ConnectFrom(server.Port(), i, true, 16 * 1024);
        if (fd >= 0 && SendAll(fd, Get("/live"))) {
            ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
            readers.push_back(fd);
        }
    }
    std::atomic<bool> leave{false};
    std::thread reading([&] {
        char chunk[2048];
        while (!leave) {
            for (const int fd : readers)
                (void)::recv(fd, chunk, sizeof chunk, 0);
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    });
    QElapsedTimer waited;
    waited.start();
    while (server.StreamClients() < count && waited.elapsed() < 20000)
        Serve(10);
    const int streams = server.StreamClients();
    double peak = before;
    for (int stop = 1; stop <= 40; ++stop) {
        PublishAsWindow(server, RaceAt(starters, stop));
        Serve(500);
        peak = std::max(peak, StatusMb("VmRSS:"));
    }
    const int dropped = server.Dropped();
    leave = true;
    reading.join();
    for (const int fd : readers)
        ::close(fd);
    Serve(2000);
    const double after = StatusMb("VmRSS:");
    std::printf("%d starters, %d slow readers (%d streams, %d dropped), a change every 500 ms for 20 s:\n",
                starters, count, streams, dropped);
    std::printf("  program RSS: before %.1f MB, peak %.1f MB (%+.1f), 2 s after they left %.1f MB (%+.1f)\n",
                before, peak, peak - before, after, after - before);
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
    if (mode == "follow")
        return Follow(number(2, 500), number(3, 300), number(4, 10));
    if (mode == "slow")
        return SlowReaders(number(2, 5000), number(3, 536));
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
