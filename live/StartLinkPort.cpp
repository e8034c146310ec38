#include "StartLinkPort.h"

#include "TickSource.h"

#include <QLocale>
#include <QNetworkDatagram>
#include <QRandomGenerator>
#include <array>

TStartLinkPort::TStartLinkPort(Clock clock, QObject* parent) : QObject(parent), m_clock(std::move(clock))
{
    if (!m_clock)
        m_clock = MonotonicMicroseconds;
    m_poll.setInterval(PollMs);
    connect(&m_poll, &QTimer::timeout, this, [this] {
        ReadPending();
        Poll(m_clock());
    });
}

TStartLinkPort::~TStartLinkPort() = default;

bool TStartLinkPort::Bind(const QHostAddress& address, quint16 port, QString* error)
{
    auto socket = std::make_unique<QUdpSocket>();
    if (!socket->bind(address, port)) {
        if (error)
            *error =
                port == 0
                    ? QStringLiteral("Der Startplatz kann kein Netz öffnen: %1").arg(socket->errorString())
                    : QStringLiteral("UDP-Port %1 ist nicht frei: %2").arg(port).arg(socket->errorString());
        return false;
    }
    m_socket = std::move(socket);
    connect(m_socket.get(), &QUdpSocket::readyRead, this, &TStartLinkPort::ReadPending);
    m_poll.start();
    Poll(m_clock());
    return true;
}

quint16 TStartLinkPort::BoundPort() const
{
    return m_socket ? m_socket->localPort() : 0;
}

void TStartLinkPort::Send(const QByteArray& bytes, const QHostAddress& to, quint16 port)
{
    // UDP never blocks: a datagram the system has no room for is lost like one on the air.
    if (m_socket)
        m_socket->writeDatagram(bytes, to, port);
}

void TStartLinkPort::ReadPending()
{
    if (!m_socket)
        return;
    // One byte more than the protocol allows tells a longer datagram; the rest of it is never read.
    std::array<char, StartLinkMaxDatagram + 1> buffer{};
    for (int i = 0; i < MaxDatagramsPerRead && m_socket->hasPendingDatagrams(); ++i) {
        QHostAddress from;
        quint16 port = 0;
        const qint64 size = m_socket->readDatagram(buffer.data(), qint64(buffer.size()), &from, &port);
        const qint64 receivedUs = m_clock();
        if (size < 0)
            break;
        if (size > StartLinkMaxDatagram) {
            ++m_oversized;
            continue;
        }
        Take(QByteArray(buffer.data(), size), from, port, receivedUs);
    }
}

int TStartLinkPort::ForeignCount() const
{
    return m_oversized + LinkForeignCount();
}

QString TStartLinkPort::ForeignText() const
{
    return QStringLiteral("Fremde Pakete: %1").arg(ForeignCount());
}

// ---------------------------------------------------------------- finish

namespace {

std::uint64_t RandomLinkSession()
{
    std::uint64_t session = 0;
    while (session == 0)
        session = QRandomGenerator::system()->generate64();
    return session;
}

} // namespace

TFinishStartLinkPort::TFinishStartLinkPort(const QByteArray& key, Clock clock, QObject* parent)
    : TStartLinkPort(std::move(clock), parent), m_key(key), m_link(key, RandomLinkSession())
{
}

bool TFinishStartLinkPort::Listen(quint16 port, QString* error, const QHostAddress& address)
{
    return Bind(address, port, error);
}

void TFinishStartLinkPort::SetStatus(FinishRunState state, const QString& lane1, const QString& lane2,
                                     bool startArmed)
{
    if (state == m_state && lane1 == m_lane1 && lane2 == m_lane2 && startArmed == m_startArmed)
        return;
    m_startArmed = startArmed;
    m_state = state;
    m_lane1 = lane1;
    m_lane2 = lane2;
    SendStatus();
}

bool TFinishStartLinkPort::StationAlive() const
{
    return m_link.Acceptance().PairedAlive(Now());
}

QString TFinishStartLinkPort::LinkText() const
{
    if (!StationAlive())
        return QStringLiteral("Startplatz nicht verbunden");
    const auto& clock = m_link.PairedClock();
    if (!clock || clock->uncertaintyUs >= TClockAgreement::NoEstimateUs || clock->uncertaintyUs >= UINT32_MAX)
        return QStringLiteral("Startplatz verbunden, kein Uhrabgleich");
    return QStringLiteral("Startplatz verbunden, Uhrabgleich ±%1 ms")
        .arg(QLocale(QLocale::German).toString(double(clock->uncertaintyUs) / 1000.0, 'f', 1));
}

void TFinishStartLinkPort::Take(const QByteArray& bytes, const QHostAddress& from, quint16 port,
                                qint64 receivedUs)
{
    const bool wasAlive = StationAlive();
    const TFinishLink::Received received = m_link.Receive(bytes, receivedUs);
    if (received.replies.isEmpty() && !received.start && !received.arm)
        return;
    // Only an authentic datagram of the paired station tells where it is.
    const bool moved = !m_station || m_station->first != from || m_station->second != port;
    m_station = std::make_pair(from, port);
    for (const QByteArray& reply : received.replies)
        Send(reply, from, port);
    // A station heard again (anew or after a silence) learns at once how things stand.
    if (moved || !wasAlive)
        SendStatus();
    if (received.start)
        emit StartArrived(*received.start);
    if (received.arm)
        emit ArmRequested(*received.arm);
    emit LinkChanged();
}

void TFinishStartLinkPort::Poll(qint64 nowUs)
{
    if (nowUs >= m_nextStatusUs)
        SendStatus();
    const bool alive = StationAlive();
    if (alive != m_wasAlive) {
        m_wasAlive = alive;
        emit LinkChanged();
    }
}

void TFinishStartLinkPort::SendStatus()
{
    if (!m_station || !StationAlive())
        return;
    m_nextStatusUs = Now() + qint64(StatusPeriodMs) * 1000;
    const auto& clock = m_link.PairedClock();
    Send(m_link.Status(m_state, m_lane1, m_lane2,
                       clock ? clock->uncertaintyUs : TClockAgreement::NoEstimateUs, clock && clock->good,
                       m_startArmed),
         m_station->first, m_station->second);
}

int TFinishStartLinkPort::LinkForeignCount() const
{
    const StartLinkCounters& c = m_link.Acceptance().Counters();
    return c.foreign + c.malformed;
}

// ---------------------------------------------------------------- station

TStationStartLinkPort::TStationStartLinkPort(const QByteArray& key, std::uint64_t session, Clock clock,
                                             QObject* parent)
    : TStartLinkPort(std::move(clock), parent), m_link(key, session)
{
}

bool TStationStartLinkPort::Open(const QHostAddress& finish, quint16 port, QString* error)
{
    m_finish = finish;
    m_finishPort = port;
    const QHostAddress any = finish.protocol() == QAbstractSocket::IPv6Protocol
                                 ? QHostAddress(QHostAddress::AnyIPv6)
                                 : QHostAddress(QHostAddress::AnyIPv4);
    return Bind(any, 0, error);
}

void TStationStartLinkPort::Edge(qint64 stationUs)
{
    m_link.Edge(stationUs, Now());
    Poll(Now());
}

void TStationStartLinkPort::RequestArm(bool armed)
{
    m_link.RequestArm(armed, Now());
    Poll(Now());
}

void TStationStartLinkPort::Take(const QByteArray& bytes, const QHostAddress& from, quint16 port,
                                 qint64 receivedUs)
{
    // Only the finish's address answers.
    if (port != m_finishPort || !from.isEqual(m_finish, QHostAddress::TolerantConversion)) {
        m_link.Receive({}, receivedUs); // counted as unsound
        return;
    }
    m_link.Receive(bytes, receivedUs);
    emit LinkChanged();
}

void TStationStartLinkPort::Poll(qint64 nowUs)
{
    for (const QByteArray& bytes : m_link.Poll(nowUs))
        Send(bytes, m_finish, m_finishPort);
}

int TStationStartLinkPort::LinkForeignCount() const
{
    return m_link.Counters().foreign + m_link.Counters().malformed;
}

// ---------------------------------------------------------------- address

FinishAddress ParseFinishAddress(const QString& text)
{
    FinishAddress result;
    const FinishAddressCheck check = CheckFinishAddress(text);
    result.error = check.error;
    if (check.error.isEmpty() && !result.host.setAddress(check.host))
        result.error = QStringLiteral("„%1“ ist keine IP-Adresse des Ziel-Laptops.").arg(check.host);
    if (result.error.isEmpty())
        result.port = check.port;
    return result;
}
