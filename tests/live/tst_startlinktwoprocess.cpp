#include "StartLinkCodec.h"
#include "StartLinkPort.h"
#include "TickSource.h"

#include <QNetworkDatagram>
#include <QProcess>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QUdpSocket>
#include <algorithm>
#include <vector>

// The station and the finish as two processes on loopback, the station's clock
// an hour ahead and 100 ppm fast (libfaketime), joined through a relay that
// delays, jitters, loses and cuts the datagrams. The station stamps each edge and
// also reads the system's clock past libfaketime, so the true moment is known.

namespace {

const QString PairingCode = QStringLiteral("ABCD-EFGH-JKLM-NPQR");

// Between the station and the finish: what the station sends to StationPort()
// goes on to the finish, the finish's answers go back. Each datagram is lost with
// the given chance, or delayed by minimal + up to twice the jitter in whole
// milliseconds (the relay's timer), or dropped while the link is down.
class ImpairmentRelay : public QObject
{
public:
    ImpairmentRelay(const QHostAddress& finish, quint16 finishPort, quint32 seed)
        : m_finish(finish), m_finishPort(finishPort), m_random(seed)
    {
        connect(&m_stationSide, &QUdpSocket::readyRead, this, [this] { Relay(m_stationSide, true); });
        connect(&m_finishSide, &QUdpSocket::readyRead, this, [this] { Relay(m_finishSide, false); });
    }

    bool Bind()
    {
        return m_stationSide.bind(QHostAddress(QStringLiteral("127.0.0.3")), 0) &&
               m_finishSide.bind(QHostAddress(QStringLiteral("127.0.0.4")), 0);
    }
    QString StationTarget() const { return QStringLiteral("127.0.0.3:%1").arg(m_stationSide.localPort()); }

    int delayMs = 0;
    int jitterMs = 0;
    double loss = 0;
    bool down = false;
    int droppedFromStation = 0;

private:
    void Relay(QUdpSocket& socket, bool towardsFinish)
    {
        while (socket.hasPendingDatagrams()) {
            const QNetworkDatagram datagram = socket.receiveDatagram();
            if (towardsFinish) {
                m_station = datagram.senderAddress();
                m_stationPort = quint16(datagram.senderPort());
            }
            if (down || m_random.generateDouble() < loss) {
                if (towardsFinish)
                    ++droppedFromStation;
                continue;
            }
            const int delayMs = this->delayMs + int(m_random.bounded(2 * jitterMs + 1));
            const auto forward = [this, bytes = datagram.data(), towardsFinish] {
                if (towardsFinish)
                    m_finishSide.writeDatagram(bytes, m_finish, m_finishPort);
                else
                    m_stationSide.writeDatagram(bytes, m_station, m_stationPort);
            };
            if (delayMs == 0)
                forward();
            else
                QTimer::singleShot(delayMs, Qt::PreciseTimer, this, forward);
        }
    }

    QUdpSocket m_stationSide;
    QUdpSocket m_finishSide;
    QHostAddress m_finish;
    quint16 m_finishPort = 0;
    QHostAddress m_station;
    quint16 m_stationPort = 0;
    QRandomGenerator m_random;
};

// The station process's reports, read line by line as they come.
struct StationReports
{
    qint64 uncertaintyUs = -1;
    bool good = false;
    int waiting = -1;
    int goodInARow = 0;
    std::vector<std::pair<qint64, qint64>> edges; // station stamp, system clock
    QByteArray partial;

    void Read(QProcess& process)
    {
        partial += process.readAllStandardOutput();
        qsizetype end = 0;
        while ((end = partial.indexOf('\n')) >= 0) {
            const QList<QByteArray> words = partial.left(end).split(' ');
            partial.remove(0, end + 1);
            if (words.size() == 4 && words.at(0) == "link") {
                uncertaintyUs = words.at(1).toLongLong();
                good = words.at(2) == "1";
                goodInARow = good ? goodInARow + 1 : 0;
                waiting = words.at(3).toInt();
            } else if (words.size() == 3 && words.at(0) == "edge") {
                edges.emplace_back(words.at(1).toLongLong(), words.at(2).toLongLong());
            }
        }
    }
};

// Runs the event loop until the condition holds, at most timeoutMs. Unlike
// QTRY_*, whose wait sleeps 10 ms between rounds of events, the loop answers each
// datagram at once: a sleeping loop would delay only the finish's side of the
// probes and skew the clock agreement by milliseconds.
template <typename Condition> bool WaitUntil(Condition condition, int timeoutMs)
{
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (condition())
            loop.quit();
    });
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    check.start(10);
    if (!condition())
        loop.exec();
    return condition();
}

} // namespace

class TestStartLinkTwoProcess : public QObject
{
    Q_OBJECT

private slots:
    void stationStartsKeepTheirTimeThroughJitterLossAndAnOutage();
};

void TestStartLinkTwoProcess::stationStartsKeepTheirTimeThroughJitterLossAndAnOutage()
{
    const QByteArray key = StartLinkKey(NormalisePairingCode(PairingCode).code);
    TFinishStartLinkPort finish(key, MonotonicMicroseconds);
    QString error;
    QVERIFY2(finish.Listen(0, &error, QHostAddress(QStringLiteral("127.0.0.2"))), qPrintable(error));
    ImpairmentRelay relay(QHostAddress(QStringLiteral("127.0.0.2")), finish.Port(), 44);
    QVERIFY(relay.Bind());
    relay.delayMs = 2;
    relay.jitterMs = 20;
    relay.loss = 0.10;

    QProcess station;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    // The sanitizers' runtime wants to be loaded first; libfaketime comes before it here.
    env.insert(QStringLiteral("ASAN_OPTIONS"),
               env.value(QStringLiteral("ASAN_OPTIONS")) + QStringLiteral(":verify_asan_link_order=0"));
    station.setProcessEnvironment(env);
    station.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    StationReports reports;
    connect(&station, &QProcess::readyReadStandardOutput, this, [&] { reports.Read(station); });
    station.start(QStringLiteral(QUELLORIX_FAKETIME),
                  {QStringLiteral("-f"), QStringLiteral("+3600s x1.0001"),
                   QStringLiteral(QUELLORIX_STATION_PEER), relay.StationTarget(), PairingCode});
    QVERIFY2(station.waitForStarted(30000), qPrintable(station.errorString()));
    const auto stop = qScopeGuard([&] {
        station.write("quit\n");
        if (!station.waitForFinished(30000))
            station.kill();
    });

    QSignalSpy arrived(&finish, &TFinishStartLinkPort::StartArrived);
    // The rate needs 20 s of probes before the agreement is good.
    QVERIFY(WaitUntil([&] { return reports.goodInARow >= 20; }, 180000));
    QVERIFY(WaitUntil([&] { return finish.StationAlive(); }, 30000));

    std::vector<qint64> errors;
    std::vector<qint64> delays;
    const auto takeStart = [&](int index) {
        QCOMPARE(int(reports.edges.size()), index + 1);
        const auto start = arrived.at(index).at(0).value<StartLinkDatagram>();
        const auto [stationUs, systemUs] = reports.edges.at(index);
        QCOMPARE(start.stationStampUs, stationUs);
        errors.push_back(start.finishStampUs - systemUs);
        QVERIFY2(std::abs(errors.back()) <= 1000 && std::abs(errors.back()) <= qint64(start.uncertaintyUs),
                 qPrintable(QStringLiteral("start %1: %2 µs off, the station said ±%3 µs")
                                .arg(index + 1)
                                .arg(errors.back())
                                .arg(start.uncertaintyUs)));
        QCOMPARE(start.clockGood, start.uncertaintyUs <= TClockAgreement::GoodUncertaintyUs);
    };

    // Starts over the jittery link.
    for (int i = 0; i < 3; ++i) {
        station.write("edge\n");
        QVERIFY(WaitUntil([&] { return arrived.count() == i + 1; }, 30000));
        delays.push_back(MonotonicMicroseconds() - reports.edges.at(i).second);
        takeStart(i);
        if (QTest::currentTestFailed())
            return;
    }

    // A start in the middle of a 5 s outage: probes at 10 per second, 25 dropped before and after.
    relay.down = true;
    const int droppedBefore = relay.droppedFromStation;
    QVERIFY(WaitUntil([&] { return relay.droppedFromStation >= droppedBefore + 25; }, 30000));
    station.write("edge\n");
    QVERIFY(WaitUntil([&] { return relay.droppedFromStation >= droppedBefore + 50; }, 30000));
    QCOMPARE(arrived.count(), 3);
    relay.down = false;
    QVERIFY(WaitUntil([&] { return arrived.count() == 4; }, 30000));
    takeStart(3);
    if (QTest::currentTestFailed())
        return;

    // Acknowledged: nothing waits at the station, and every start came once despite the resends.
    QVERIFY(WaitUntil([&] { return reports.waiting == 0; }, 30000));
    QCOMPARE(arrived.count(), 4);
    QCOMPARE(finish.ForeignCount(), 0);
    qInfo("errors (µs): %lld %lld %lld, after the outage %lld; edge to the finish (µs): %lld %lld %lld",
          static_cast<long long>(errors.at(0)), static_cast<long long>(errors.at(1)),
          static_cast<long long>(errors.at(2)), static_cast<long long>(errors.at(3)),
          static_cast<long long>(delays.at(0)), static_cast<long long>(delays.at(1)),
          static_cast<long long>(delays.at(2)));
}

QTEST_GUILESS_MAIN(TestStartLinkTwoProcess)
#include "tst_startlinktwoprocess.moc"
