#pragma once

#include "StartLink.h"

#include <QHostAddress>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QUdpSocket>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

// The start station's link on the network: a UDP socket, the 20 ms poll and the
// own monotonic clock around the core's TStationLink / TFinishLink. Datagrams
// are read into a fixed buffer: one longer than the protocol's 512 bytes is
// dropped unread beyond that and counted, nothing ever blocks or grows.
class TStartLinkPort : public QObject
{
    Q_OBJECT

public:
    // Microseconds on the own monotonic clock; on the finish the session's tick
    // is TickOfMicroseconds of it (MonotonicMicroseconds, or a test's clock).
    using Clock = std::function<qint64()>;
    static constexpr int PollMs = 20;
    // A burst is read in parts: the rest waits for the next poll, so the window stays responsive.
    static constexpr int MaxDatagramsPerRead = 200;

    explicit TStartLinkPort(Clock clock, QObject* parent = nullptr);
    ~TStartLinkPort() override;

    // Datagrams that were not the link's: without the pairing code, unsound or too long.
    int ForeignCount() const;
    // "Fremde Pakete: 3".
    QString ForeignText() const;
    qint64 Now() const { return m_clock(); }

protected:
    // Binds the socket and starts the poll; a German error when the port is taken.
    bool Bind(const QHostAddress& address, quint16 port, QString* error);
    void Send(const QByteArray& bytes, const QHostAddress& to, quint16 port);
    virtual void Take(const QByteArray& bytes, const QHostAddress& from, quint16 port, qint64 receivedUs) = 0;
    virtual void Poll(qint64 nowUs) = 0;
    virtual int LinkForeignCount() const = 0;
    quint16 BoundPort() const;

private:
    void ReadPending();

    Clock m_clock;
    std::unique_ptr<QUdpSocket> m_socket;
    QTimer m_poll;
    int m_oversized = 0;
};

// The finish: listens on the configured port, answers the paired station and
// sends it the finish's status; each start arrives once (StartArrived).
class TFinishStartLinkPort : public TStartLinkPort
{
    Q_OBJECT

public:
    TFinishStartLinkPort(const QByteArray& key, Clock clock, QObject* parent = nullptr);

    bool Listen(quint16 port, QString* error, const QHostAddress& address = QHostAddress::Any);
    quint16 Port() const { return BoundPort(); }
    // What the station shows; sent on every change and every StatusPeriodMs.
    void SetStatus(FinishRunState state, const QString& lane1, const QString& lane2, bool startArmed);
    static constexpr int StatusPeriodMs = 500;
    // A station was heard within TStartAcceptance::AliveUs.
    bool StationAlive() const;
    // "Startplatz verbunden, Uhrabgleich ±0,3 ms", "Startplatz nicht verbunden".
    QString LinkText() const;
    TFinishLink& Link() { return m_link; }
    const QByteArray& Key() const { return m_key; }

signals:
    // A start taken (once): finishStampUs is on this port's clock.
    void StartArrived(const StartLinkDatagram& start);
    // The start crew arms (true) or disarms the start barrier.
    void ArmRequested(bool armed);
    // The station appeared or fell silent, or its clock agreement changed.
    void LinkChanged();

protected:
    void Take(const QByteArray& bytes, const QHostAddress& from, quint16 port, qint64 receivedUs) override;
    void Poll(qint64 nowUs) override;
    int LinkForeignCount() const override;

private:
    void SendStatus();

    QByteArray m_key;
    TFinishLink m_link;
    std::optional<std::pair<QHostAddress, quint16>> m_station;
    FinishRunState m_state = FinishRunState::TrackClear;
    QString m_lane1;
    QString m_lane2;
    bool m_startArmed = false;
    qint64 m_nextStatusUs = 0;
    bool m_wasAlive = false;
};

// The station: sends to the finish's address, probes its clock and sends each
// start edge until acknowledged.
class TStationStartLinkPort : public TStartLinkPort
{
    Q_OBJECT

public:
    TStationStartLinkPort(const QByteArray& key, std::uint64_t session, Clock clock,
                          QObject* parent = nullptr);

    // Binds an ephemeral port on the way to the finish.
    bool Open(const QHostAddress& finish, quint16 port, QString* error);
    // A start edge stamped at stationUs on this port's clock; sent at once.
    void Edge(qint64 stationUs);
    // The start crew arms or disarms the finish's start barrier.
    void RequestArm(bool armed);
    TStationLink& Link() { return m_link; }
    const TStationLink& Link() const { return m_link; }

signals:
    // The finish's status or the clock agreement changed, or a start was acknowledged.
    void LinkChanged();

protected:
    void Take(const QByteArray& bytes, const QHostAddress& from, quint16 port, qint64 receivedUs) override;
    void Poll(qint64 nowUs) override;
    int LinkForeignCount() const override;

private:
    TStationLink m_link;
    QHostAddress m_finish;
    quint16 m_finishPort = 0;
};

// "host:port" of the finish as the station's setting gives it: an IPv4 or IPv6
// address (IPv6 in brackets) and a port 1..65535; a German error otherwise.
struct FinishAddress
{
    QHostAddress host;
    quint16 port = 0;
    QString error;
};
FinishAddress ParseFinishAddress(const QString& text);
