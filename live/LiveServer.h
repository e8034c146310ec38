#pragma once

#include "AudienceView.h"

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <memory>

class QThread;
class TLiveServerWorker;
class TLiveResultsBuilder;

// Live results for the spectators' phones: an HTTP/1.1 server on a thread of
// its own that serves, read-only,
//   /                  the results page (German, for narrow screens),
//   /ergebnisse.json   the latest published results (see ResultsJson.h),
//   /live              a Server-Sent Events stream: the results again after
//                      every Publish; where the protocol is large, only the
//                      rows that changed (see TResultsChanges).
// Nothing else is served, and nothing a client sends changes the race.
// Everything one device on the network can hold is bounded: its connections,
// what it may send, how long it may take to ask and what may wait for it in
// the program and in the kernel. A client that doesn't keep up is reset, and
// no client ever holds up the caller (the GUI thread) or another client.
class TLiveServer : public QObject
{
    Q_OBJECT

public:
    struct Limits
    {
        int maxConnections = 600;
        // Places a stream can't take, so that page loads and the results
        // still come through when every phone holds its stream.
        int keptForPages = 64;
        // A phone opens the page, the results and the stream at once; more
        // than this from one address is one device trying to crowd out the rest.
        int perAddress = 8;
        // A request's head; a stream's client may send no more than this in all.
        qint64 maxRequestBytes = 16 * 1024;
        // From the first byte of a request until its head is complete.
        int headerMs = 10000;
        // An open connection between requests.
        int idleMs = 15000;
        // A connection with something to send that has got nothing of it
        // through for this long (a phone that went to sleep) is reset.
        int stallMs = 5000;
        // An event is built once and shared by every stream; each socket
        // takes it in slices, so what waits in the program for one client is
        // a slice of its own. A stream that is still sending gets no further
        // events but, once it is through, the newest results whole. This
        // bounds what one answer may leave queued in a socket.
        qint64 maxUnsentBytes = 4 * 1024 * 1024;
        // The kernel's send and receive buffers of each connection; left to
        // itself it grows them to megabytes for a client that doesn't read.
        int socketBufferBytes = 64 * 1024;
    };

    explicit TLiveServer(QObject* parent = nullptr);
    // Limits for tests and benchmarks; the default ones are for the race.
    explicit TLiveServer(const Limits& limits, QObject* parent = nullptr);
    ~TLiveServer() override;

    // Listens on every address at port (0: any free port). False, with the
    // reason in German, when the port can't be had.
    bool Start(quint16 port, QString* error = nullptr);
    void Stop();
    bool Running() const;
    // The port listened on, 0 while stopped.
    quint16 Port() const;
    const Limits& CurrentLimits() const { return limits; }

    // Becomes /ergebnisse.json and one event on every stream. Returns at once.
    void Publish(const QByteArray& json);
    // The same from what the spectators see: the text is made on a thread of
    // its own (a newer snapshot replaces one not yet begun), so the caller
    // only pays for taking the snapshot. Returns at once.
    void Publish(const LiveSnapshot& snapshot);

    // For tests: runs on the building thread before each snapshot is made
    // into text. Set before Start.
    void SetBuildHook(std::function<void()> hook) { buildHook = std::move(hook); }
    // Event frames made so far: one per change and stream kind, not one per client.
    int FramesBuilt() const { return framesBuilt.load(); }
    // The most a stream's socket has held queued in the program, as the sweep saw it.
    qint64 LargestStreamQueue() const { return largestStreamQueue.load(); }

    // Counts, readable from any thread.
    int OpenConnections() const { return openConnections.load(); }
    int StreamClients() const { return streamClients.load(); }
    // Connections turned away as they came (too many, or too many from one address).
    int Refused() const { return refused.load(); }
    // Connections reset for stalling, sending too much or too slowly.
    int Dropped() const { return dropped.load(); }
    // Idle or unfinished connections let go, oldest first, to make room in a full pool.
    int Reclaimed() const { return reclaimed.load(); }

    // Whose connections count together against Limits::perAddress: an IPv4
    // address, or an IPv6 /64, which one device can fill with addresses at will.
    static QHostAddress ClientGroup(const QHostAddress& address);

    // The addresses on the local networks (IPv4 first, no loopback), as
    // http://address:port/ for the operator to read out or show as a QR code.
    static QStringList LocalUrls(quint16 port);

signals:
    // From the server's thread: one publish has been written to every stream.
    void Published(int streams);

private:
    friend class TLiveServerWorker;
    friend class TLiveResultsBuilder;

    const Limits limits;
    std::function<void()> buildHook;
    std::unique_ptr<QThread> thread;
    std::unique_ptr<TLiveResultsBuilder> builder;
    TLiveServerWorker* worker = nullptr; // lives on thread
    quint16 port = 0;
    std::atomic<int> openConnections{0};
    std::atomic<int> streamClients{0};
    std::atomic<int> refused{0};
    std::atomic<int> dropped{0};
    std::atomic<int> reclaimed{0};
    std::atomic<int> framesBuilt{0};
    std::atomic<qint64> largestStreamQueue{0};
    std::atomic<qint64> lastVersion{0};
};
