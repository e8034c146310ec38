#include "StartLinkPort.h"
#include "TickSource.h"

#include <QNetworkDatagram>
#include <QSignalSpy>
#include <QTest>
#include <QUdpSocket>

// The start station's link over real UDP sockets on loopback: the adapter's
// own part (socket, poll, clock, limits), the protocol itself is tst_startlink's.
class TestStartLinkPort : public QObject
{
    Q_OBJECT

private slots:
    void aStationStartArrivesOnceWithItsStamp();
    void foreignAndOversizedDatagramsAreCountedAndDropped();
    void aTakenPortIsAGermanError();
    void finishAddress_data();
    void finishAddress();
};

namespace {

const QByteArray& TestKey()
{
    static const QByteArray key =
        StartLinkKey(NormalisePairingCode(QStringLiteral("ABCD-EFGH-JKLM-NPQR")).code);
    return key;
}

} // namespace

void TestStartLinkPort::aStationStartArrivesOnceWithItsStamp()
{
    TFinishStartLinkPort finish(TestKey(), MonotonicMicroseconds);
    QString error;
    QVERIFY2(finish.Listen(0, &error, QHostAddress::LocalHost), qPrintable(error));
    TStationStartLinkPort station(TestKey(), 77, MonotonicMicroseconds);
    QVERIFY2(station.Open(QHostAddress::LocalHost, finish.Port(), &error), qPrintable(error));
    QSignalSpy arrived(&finish, &TFinishStartLinkPort::StartArrived);
    // The probes agree the clocks (both on one clock here: the offset is nil).
    QTRY_VERIFY_WITH_TIMEOUT(station.Link().Agreement().IsGood(station.Now()), 30000);
    QTRY_VERIFY_WITH_TIMEOUT(
        finish.LinkText().startsWith(QStringLiteral("Startplatz verbunden, Uhrabgleich ±")), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(station.Link().FinishStatus().has_value(), 10000);
    // The crew's arm request reaches the finish, whose status then shows it.
    QSignalSpy armed(&finish, &TFinishStartLinkPort::ArmRequested);
    station.RequestArm(true);
    QVERIFY(armed.wait(10000));
    QCOMPARE(armed.at(0).at(0).toBool(), true);
    finish.SetStatus(FinishRunState::Running, QStringLiteral("7 Huber"), QStringLiteral("8 Maier"), true);
    QTRY_COMPARE_WITH_TIMEOUT(station.Link().FinishStatus()->lane2, QStringLiteral("8 Maier"), 10000);
    QCOMPARE(station.Link().FinishStatus()->runState, FinishRunState::Running);
    QVERIFY(station.Link().FinishStatus()->startArmed);
    QVERIFY(!station.Link().ArmRequestPending());
    QCOMPARE(armed.count(), 1);

    const qint64 edgeUs = station.Now() - 3000;
    station.Edge(edgeUs);
    QVERIFY(arrived.wait(10000));
    QTRY_VERIFY_WITH_TIMEOUT(station.Link().Outbox().Pending().empty(), 10000);
    QCOMPARE(arrived.count(), 1);
    const auto start = arrived.at(0).at(0).value<StartLinkDatagram>();
    QVERIFY(start.clockGood);
    QCOMPARE(start.originSession, std::uint64_t(77));
    QVERIFY2(std::abs(start.finishStampUs - edgeUs) <= 1000,
             qPrintable(QString::number(start.finishStampUs - edgeUs)));
    QCOMPARE(finish.ForeignText(), QStringLiteral("Fremde Pakete: 0"));
}

void TestStartLinkPort::foreignAndOversizedDatagramsAreCountedAndDropped()
{
    TFinishStartLinkPort finish(TestKey(), MonotonicMicroseconds);
    QString error;
    QVERIFY2(finish.Listen(0, &error, QHostAddress::LocalHost), qPrintable(error));
    QUdpSocket stranger;
    QVERIFY(stranger.bind(QHostAddress::LocalHost, 0));
    StartLinkDatagram probe;
    probe.session = 5;
    probe.sequence = 1;
    probe.t1 = 1;
    const QByteArray otherKey =
        StartLinkKey(NormalisePairingCode(QStringLiteral("2345-6789-ABCD-EFGH")).code);
    QUdpSocket listening;
    QVERIFY(listening.bind(QHostAddress::LocalHost, 0));
    QSignalSpy answered(&stranger, &QUdpSocket::readyRead);
    stranger.writeDatagram(QByteArray(600, 'x'), QHostAddress::LocalHost, finish.Port());
    stranger.writeDatagram(QByteArray(20, 'y'), QHostAddress::LocalHost, finish.Port());
    stranger.writeDatagram(EncodeStartLink(probe, otherKey), QHostAddress::LocalHost, finish.Port());
    QTRY_COMPARE_WITH_TIMEOUT(finish.ForeignText(), QStringLiteral("Fremde Pakete: 3"), 10000);
    // With the key the same probe is answered: the socket still reads after the foreign ones.
    stranger.writeDatagram(EncodeStartLink(probe, TestKey()), QHostAddress::LocalHost, finish.Port());
    QVERIFY(answered.wait(10000));
    QVERIFY(stranger.pendingDatagramSize() <= StartLinkMaxDatagram);
    QCOMPARE(DecodeStartLink(stranger.receiveDatagram().data(), TestKey()).datagram.type,
             StartLinkType::ProbeReply);
    QCOMPARE(finish.ForeignCount(), 3);
}

void TestStartLinkPort::aTakenPortIsAGermanError()
{
    QUdpSocket taken;
    QVERIFY(taken.bind(QHostAddress::LocalHost, 0));
    TFinishStartLinkPort finish(TestKey(), MonotonicMicroseconds);
    QString error;
    QVERIFY(!finish.Listen(taken.localPort(), &error, QHostAddress::LocalHost));
    QVERIFY2(error.startsWith(QStringLiteral("UDP-Port %1 ist nicht frei").arg(taken.localPort())),
             qPrintable(error));
}

void TestStartLinkPort::finishAddress_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("error");
    QTest::newRow("IPv4 and port") << " 192.168.1.20:47110 "
                                   << "192.168.1.20" << 47110 << "";
    QTest::newRow("IPv6 in brackets") << "[::1]:5000"
                                      << "::1" << 5000 << "";
    QTest::newRow("no port") << "192.168.1.20"
                             << "" << 0 << "Die Zieladresse braucht die Form";
    QTest::newRow("port out of range") << "192.168.1.20:70000"
                                       << "" << 0 << "Die Zieladresse braucht die Form";
    QTest::newRow("a name, not an address") << "ziel-laptop:5000"
                                            << "" << 0 << "„ziel-laptop“ ist keine IP-Adresse";
}

void TestStartLinkPort::finishAddress()
{
    QFETCH(QString, text);
    QFETCH(QString, host);
    QFETCH(int, port);
    QFETCH(QString, error);
    const FinishAddress address = ParseFinishAddress(text);
    QVERIFY2(error.isEmpty() ? address.error.isEmpty() : address.error.startsWith(error),
             qPrintable(address.error));
    if (error.isEmpty()) {
        QCOMPARE(address.host, QHostAddress(host));
        QCOMPARE(int(address.port), port);
    }
}

QTEST_GUILESS_MAIN(TestStartLinkPort)
#include "tst_startlinkport.moc"
