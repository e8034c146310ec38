#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <memory>

class QThread;
class TLiveServerWorker;

// Live results for the spectators' phones: an HTTP server on a thread of its
// own that serves, read-only,
//   /                  the results page (German, for narrow screens),
//   /ergebnisse.json   the latest published results (see ResultsJson.h),
//   /live              a Server-Sent Events stream: the results again after
//                      every Publish.
// Nothing else is served, and nothing a client sends changes the race.
// Connections, request sizes and what may wait for one slow client are
// bounded; a client that doesn't keep up is dropped, and no client ever holds
// up the caller (the GUI thread) or another client.
class TLiveServer : public QObject
{
    Q_OBJECT

public:
    static constexpr int maxConnections = 500;
    static constexpr qint64 maxRequestBytes = 16 * 1024;
    // Every event carries the whole results, so a stream that is still
    // sending the last one gets only the newest once it is through. One that
    // has sent nothing for stallMs while it had something to send (a phone
    // that went to sleep) or has more than maxUnsentBytes waiting is dropped.
    static constexpr qint64 maxUnsentBytes = 4 * 1024 * 1024;
    static constexpr int stallMs = 5000;
    // A connection that hasn't completed a request this long after its last one is closed.
    static constexpr int idleRequestMs = 15000;

    explicit TLiveServer(QObject* parent = nullptr);
    ~TLiveServer() override;

    // Listens on every address at port (0: any free port). False, with the
    // reason in German, when the port can't be had.
    bool Start(quint16 port, QString* error = nullptr);
    void Stop();
    bool Running() const;
    // The port listened on, 0 while stopped.
    quint16 Port() const;

    // Becomes /ergebnisse.json and one event on every stream. Returns at once.
    void Publish(const QByteArray& json);

    // Counts, readable from any thread.
    int OpenConnections() const { return openConnections.load(); }
    int StreamClients() const { return streamClients.load(); }

    // The addresses on the local networks (IPv4 first, no loopback), as
    // http://address:port/ for the operator to read out or show as a QR code.
    static QStringList LocalUrls(quint16 port);

signals:
    // From the server's thread: one publish has been written to every stream.
    void Published(int streams);

private:
    friend class TLiveServerWorker;

    std::unique_ptr<QThread> thread;
    TLiveServerWorker* worker = nullptr; // lives on thread
    quint16 port = 0;
    std::atomic<int> openConnections{0};
    std::atomic<int> streamClients{0};
};
