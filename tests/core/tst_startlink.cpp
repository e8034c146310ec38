#include "ClockAgreement.h"
#include "SimulatedClockLink.h"
#include "StartDelivery.h"
#include "StartLink.h"
#include "StartLinkCodec.h"

#include <QMessageAuthenticationCode>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSet>
#include <QTest>
#include <algorithm>
#include <limits>
#include <map>
#include <memory>
#include <vector>

// The start station's link without a network: the datagrams, the pairing code,
// the clock agreement over a simulated Wi-Fi link, and the delivery of starts
// exactly once across loss, duplicates, reordering and restarts of either side.
// Simulated time drives everything; nothing sleeps.

namespace {

const QString TestCode = QStringLiteral("ABCD-EFGH-JKLM-NPQR");

QByteArray TestKey()
{
    return StartLinkKey(NormalisePairingCode(TestCode).code);
}

// A body signed with the key, for datagrams the encoder would never write.
QByteArray Signed(const QByteArray& body, const QByteArray& key = TestKey())
{
    return body + QMessageAuthenticationCode::hash(body, key, QCryptographicHash::Sha256);
}

QByteArray Body(const QByteArray& datagram)
{
    return datagram.first(datagram.size() - StartLinkMacSize);
}

StartLinkDatagram Sample(StartLinkType type)
{
    StartLinkDatagram d;
    d.type = type;
    d.session = 0x0123456789ABCDEFull;
    d.sequence = 7;
    d.originSession = 0xFEDCBA9876543210ull;
    switch (type) {
    case StartLinkType::ClockProbe:
        d.originSession = 0; // a probe names only its sender
        d.t1 = 5'000'000'123;
        d.uncertaintyUs = 450;
        d.clockGood = true;
        break;
    case StartLinkType::ProbeReply:
        d.t1 = 5'000'000'123;
        d.t2 = -42;
        d.t3 = 250;
        break;
    case StartLinkType::Start:
        d.originSequence = 3;
        d.stationStampUs = 5'000'123'456;
        d.finishStampUs = 6'000'234'567;
        d.uncertaintyUs = 310;
        d.clockGood = true;
        break;
    case StartLinkType::Acknowledge:
        d.originSequence = 3;
        break;
    case StartLinkType::FinishStatus:
        d.runState = FinishRunState::FinishWaiting;
        d.lane1 = QStringLiteral("12 Jörg Müßig");
        d.lane2 = QStringLiteral("13 Ana Šimić");
        d.uncertaintyUs = 2500;
        d.startArmed = true;
        break;
    case StartLinkType::ArmRequest:
        d.originSession = 0;
        d.startArmed = true;
        break;
    }
    return d;
}

bool SameDatagram(const StartLinkDatagram& a, const StartLinkDatagram& b)
{
    return a.type == b.type && a.session == b.session && a.sequence == b.sequence && a.t1 == b.t1 &&
           a.t2 == b.t2 && a.t3 == b.t3 && a.originSession == b.originSession &&
           a.originSequence == b.originSequence && a.stationStampUs == b.stationStampUs &&
           a.finishStampUs == b.finishStampUs && a.uncertaintyUs == b.uncertaintyUs &&
           a.clockGood == b.clockGood && a.startArmed == b.startArmed && a.runState == b.runState &&
           a.lane1 == b.lane1 && a.lane2 == b.lane2;
}

LinkConditions WifiLink(qint64 offsetUs, double drift, qint64 forwardUs, qint64 backwardUs)
{
    LinkConditions link;
    link.offsetUs = offsetUs;
    link.drift = drift;
    link.forwardDelayUs = forwardUs;
    link.backwardDelayUs = backwardUs;
    link.jitterUs = 20'000;
    link.loss = 0.10;
    link.outageFromUs = 150'000'000;
    link.outageUs = 10'000'000;
    return link;
}

// Datagrams between a station and a finish over the simulated link, with
// duplicates; reordering comes from the jitter. Time is the station's clock.
class SimulatedDatagrams
{
public:
    SimulatedDatagrams(SimulatedClockLink& link, double duplicates, quint32 seed)
        : mLink(link), mDuplicates(duplicates), mRandom(seed)
    {
    }
    void Send(bool toFinish, const QByteArray& bytes, qint64 nowUs)
    {
        const int copies = mRandom.generateDouble() < mDuplicates ? 2 : 1;
        for (int copy = 0; copy < copies; ++copy)
            if (!mLink.Lost(nowUs))
                mFlights.push_back({nowUs + mLink.Delay(toFinish ? 2000 : 2600), toFinish, bytes});
    }
    struct Flight
    {
        qint64 arrivalUs = 0;
        bool toFinish = false;
        QByteArray bytes;
    };
    std::vector<Flight> Arrived(qint64 nowUs)
    {
        std::sort(mFlights.begin(), mFlights.end(),
                  [](const Flight& a, const Flight& b) { return a.arrivalUs < b.arrivalUs; });
        const auto end = std::find_if(mFlights.begin(), mFlights.end(),
                                      [nowUs](const Flight& f) { return f.arrivalUs > nowUs; });
        std::vector<Flight> arrived(mFlights.begin(), end);
        mFlights.erase(mFlights.begin(), end);
        return arrived;
    }

private:
    SimulatedClockLink& mLink;
    double mDuplicates = 0;
    QRandomGenerator mRandom;
    std::vector<Flight> mFlights;
};

} // namespace

Q_DECLARE_METATYPE(LinkConditions)
Q_DECLARE_METATYPE(StartLinkReject)

class TestStartLink : public QObject
{
    Q_OBJECT

private slots:
    void pairingCode_data();
    void pairingCode();
    void generatedPairingCodes();
    void datagramRoundTrip_data();
    void datagramRoundTrip();
    void datagramRejected_data();
    void datagramRejected();
    void laneTextCutAtCharacter();
    void clockAgreement_data();
    void clockAgreement();
    void clockAgreementIgnoresUnsoundAndReplayed();
    void clockAgreementText();
    void outboxResendsWithBackoff();
    void outboxAndAcceptanceLoadRejectDamage();
    void acceptanceRules();
    void acceptanceMemoryIsBounded();
    void foreignDatagramsChangeNothing();
    void replayedDatagramsTakeNothing();
    void armRequestsArmOnceAndStopWhenShown();
    void startsArriveExactlyOnce_data();
    void startsArriveExactlyOnce();
};

void TestStartLink::pairingCode_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("error");
    QTest::newRow("as shown") << TestCode << "ABCDEFGHJKLMNPQR"
                              << "";
    QTest::newRow("lower case, blanks, no dashes") << " abcd efgh\tjklm npqr "
                                                   << "ABCDEFGHJKLMNPQR"
                                                   << "";
    QTest::newRow("dashes anywhere") << "AB-CD--EFGHJKLMNP-QR-"
                                     << "ABCDEFGHJKLMNPQR"
                                     << "";
    QTest::newRow("zero is not in it")
        << "ABCD-EFGH-JKLM-NPQ0"
        << ""
        << "Der Schlüssel enthält „0“. Erlaubt sind die Ziffern 2 bis 9 und die "
           "Buchstaben A bis Z ohne I und O.";
    QTest::newRow("letter O is not in it") << "OBCD-EFGH-JKLM-NPQR"
                                           << ""
                                           << "Der Schlüssel enthält „O“.";
    QTest::newRow("umlaut") << "ÄBCD-EFGH-JKLM-NPQR"
                            << ""
                            << "Der Schlüssel enthält „Ä“.";
    QTest::newRow("too short")
        << "ABCD-EFGH-JKLM"
        << ""
        << "Der Schlüssel ist unvollständig: 12 von 16 Zeichen, etwa ABCD-EFGH-JKLM-NPQR.";
    QTest::newRow("empty") << ""
                           << ""
                           << "Der Schlüssel ist unvollständig: 0 von 16 Zeichen";
    QTest::newRow("too long") << "ABCD-EFGH-JKLM-NPQR-S"
                              << ""
                              << "Der Schlüssel ist zu lang: er hat 16 Zeichen";
}

void TestStartLink::pairingCode()
{
    QFETCH(QString, typed);
    QFETCH(QString, code);
    QFETCH(QString, error);
    const PairingCodeCheck check = NormalisePairingCode(typed);
    QCOMPARE(check.code, code);
    if (error.isEmpty())
        QVERIFY2(check.error.isEmpty(), qPrintable(check.error));
    else
        QVERIFY2(check.error.startsWith(error), qPrintable(check.error));
}

void TestStartLink::generatedPairingCodes()
{
    QRandomGenerator random(17);
    const QRegularExpression shape(QStringLiteral("^([2-9A-HJ-NP-Z]{4}-){3}[2-9A-HJ-NP-Z]{4}$"));
    QSet<QString> codes;
    QSet<QByteArray> keys;
    for (int i = 0; i < 200; ++i) {
        const QString code = GeneratePairingCode(random);
        QVERIFY2(shape.match(code).hasMatch(), qPrintable(code));
        const PairingCodeCheck check = NormalisePairingCode(code);
        QVERIFY(check.error.isEmpty());
        QCOMPARE(FormatPairingCode(check.code), code);
        const QByteArray key = StartLinkKey(check.code);
        QCOMPARE(key.size(), 32);
        codes.insert(code);
        keys.insert(key);
    }
    QCOMPARE(codes.size(), 200);
    QCOMPARE(keys.size(), 200);
    // The key is not the code itself, nor the code's plain hash.
    QVERIFY(StartLinkKey(QStringLiteral("ABCDEFGHJKLMNPQR")) !=
            QCryptographicHash::hash("ABCDEFGHJKLMNPQR", QCryptographicHash::Sha256));
}

void TestStartLink::datagramRoundTrip_data()
{
    QTest::addColumn<int>("type");
    QTest::newRow("clock probe") << int(StartLinkType::ClockProbe);
    QTest::newRow("probe reply") << int(StartLinkType::ProbeReply);
    QTest::newRow("start") << int(StartLinkType::Start);
    QTest::newRow("acknowledgement") << int(StartLinkType::Acknowledge);
    QTest::newRow("finish status") << int(StartLinkType::FinishStatus);
    QTest::newRow("arm request") << int(StartLinkType::ArmRequest);
}

void TestStartLink::datagramRoundTrip()
{
    QFETCH(int, type);
    const StartLinkDatagram sent = Sample(StartLinkType(type));
    const QByteArray bytes = EncodeStartLink(sent, TestKey());
    QVERIFY(bytes.size() <= StartLinkMaxDatagram);
    QVERIFY(bytes.startsWith("QXSL"));
    const StartLinkDecoded decoded = DecodeStartLink(bytes, TestKey());
    QCOMPARE(decoded.reject, StartLinkReject::None);
    QVERIFY(SameDatagram(decoded.datagram, sent));
}

void TestStartLink::datagramRejected_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<StartLinkReject>("reason");
    const QByteArray start = EncodeStartLink(Sample(StartLinkType::Start), TestKey());
    const QByteArray status = EncodeStartLink(Sample(StartLinkType::FinishStatus), TestKey());

    QByteArray forged = start;
    forged[forged.size() - 1] = char(forged.at(forged.size() - 1) ^ 1);
    QTest::newRow("forged MAC") << forged << StartLinkReject::BadMac;
    QByteArray altered = start;
    altered[30] = char(altered.at(30) ^ 0x40); // the station stamp
    QTest::newRow("altered stamp") << altered << StartLinkReject::BadMac;
    QTest::newRow("wrong key") << EncodeStartLink(Sample(StartLinkType::Start),
                                                  StartLinkKey(QStringLiteral("ABCDEFGHJKLMNPQS")))
                               << StartLinkReject::BadMac;
    QTest::newRow("empty") << QByteArray() << StartLinkReject::TooShort;
    QTest::newRow("header only") << start.first(18) << StartLinkReject::TooShort;
    QTest::newRow("truncated by one") << start.first(start.size() - 1) << StartLinkReject::BadMac;
    QTest::newRow("oversized") << QByteArray(StartLinkMaxDatagram + 1, 'Q') << StartLinkReject::TooLong;
    QByteArray magic = start;
    magic[0] = 'X';
    QTest::newRow("other magic") << magic << StartLinkReject::BadMagic;
    QByteArray version = Body(start);
    version[4] = char(StartLinkVersion + 1);
    QTest::newRow("wrong version") << Signed(version) << StartLinkReject::WrongVersion;
    QByteArray unknown = Body(start);
    unknown[5] = 9;
    QTest::newRow("unknown type") << Signed(unknown) << StartLinkReject::UnknownType;
    QTest::newRow("a byte too many, signed") << Signed(Body(start) + '\0') << StartLinkReject::BadLength;
    QTest::newRow("a byte short, signed") << Signed(Body(start).chopped(1)) << StartLinkReject::BadLength;
    QByteArray flags = Body(start);
    flags[flags.size() - 1] = 2;
    QTest::newRow("unknown flag") << Signed(flags) << StartLinkReject::BadField;
    QByteArray zeroSequence = Body(start);
    zeroSequence[17] = 0; // the sequence's low byte: 7 becomes 0
    QTest::newRow("sequence 0") << Signed(zeroSequence) << StartLinkReject::BadField;
    QByteArray runState = Body(status);
    runState[26] = 3; // after header and station session
    QTest::newRow("run state 3") << Signed(runState) << StartLinkReject::BadField;
    StartLinkDatagram plain = Sample(StartLinkType::FinishStatus);
    plain.lane1 = QStringLiteral("A");
    plain.lane2.clear();
    QByteArray text = Body(EncodeStartLink(plain, TestKey()));
    text[text.size() - 2] = char(0xC3); // "A" becomes half of a two-byte character
    QTest::newRow("text not UTF-8") << Signed(text) << StartLinkReject::BadField;
    text[text.size() - 2] = '\n';
    QTest::newRow("text with a line break") << Signed(text) << StartLinkReject::BadField;
    QByteArray longText = Body(EncodeStartLink(plain, TestKey()));
    longText.chop(3);
    longText += char(StartLinkMaxLaneText + 1) + QByteArray(StartLinkMaxLaneText + 1, 'x') + '\0';
    QTest::newRow("text too long") << Signed(longText) << StartLinkReject::BadField;
    QByteArray overrun = Body(EncodeStartLink(plain, TestKey()));
    overrun[overrun.size() - 3] = 60; // lane 1 claims more bytes than follow
    QTest::newRow("text length overruns") << Signed(overrun) << StartLinkReject::BadLength;
}

void TestStartLink::datagramRejected()
{
    QFETCH(QByteArray, bytes);
    QFETCH(StartLinkReject, reason);
    const StartLinkDecoded decoded = DecodeStartLink(bytes, TestKey());
    QCOMPARE(decoded.reject, reason);
    QVERIFY(!StartLinkRejectText(reason).isEmpty());
    QCOMPARE(decoded.datagram.session, std::uint64_t(0));
}

void TestStartLink::laneTextCutAtCharacter()
{
    StartLinkDatagram status = Sample(StartLinkType::FinishStatus);
    status.lane1 = QString(40, QChar(0x00FC)); // 80 bytes of "ü"
    status.lane2 = QStringLiteral("x") + QString(40, QChar(0x00FC));
    const StartLinkDecoded decoded = DecodeStartLink(EncodeStartLink(status, TestKey()), TestKey());
    QCOMPARE(decoded.reject, StartLinkReject::None);
    QCOMPARE(decoded.datagram.lane1, QString(32, QChar(0x00FC)));
    QCOMPARE(decoded.datagram.lane2, QStringLiteral("x") + QString(31, QChar(0x00FC)));
}

void TestStartLink::clockAgreement_data()
{
    QTest::addColumn<LinkConditions>("link");
    QTest::addColumn<quint32>("seed");
    LinkConditions quiet = WifiLink(300'000, 50e-6, 2300, 2300);
    quiet.jitterUs = 0;
    quiet.loss = 0;
    quiet.outageUs = 0;
    QTest::newRow("quiet") << quiet << 1u;
    QTest::newRow("+1 s, +100 ppm, jitter, loss, outage") << WifiLink(1'000'000, 100e-6, 2300, 2300) << 2u;
    QTest::newRow("-1 s, -100 ppm, jitter, loss, outage") << WifiLink(-1'000'000, -100e-6, 2300, 2300) << 3u;
    QTest::newRow("asymmetric 2.0/2.6 ms") << WifiLink(1'000'000, 100e-6, 2000, 2600) << 4u;
    QTest::newRow("asymmetric, another seed") << WifiLink(-700'000, 80e-6, 2000, 2600) << 5u;
    LinkConditions relay = WifiLink(1'000'000, 100e-6, 2300, 2300);
    relay.delayStepUs = 1000;
    QTest::newRow("delays in whole milliseconds") << relay << 6u;
    relay.jitterUs = 3000;
    relay.loss = 0;
    QTest::newRow("whole milliseconds, little jitter") << relay << 7u;
    relay.backwardDelayUs = 3300;
    QTest::newRow("whole milliseconds, asymmetric") << relay << 8u;
    // Coarse steps: in the first seconds few samples, if any, sit on the floor.
    LinkConditions coarse = WifiLink(1'000'000, -100e-6, 2300, 2300);
    coarse.delayStepUs = 4000;
    QTest::newRow("4 ms steps") << coarse << 15u;
}

// After a minute's warm-up the agreement is within 1 ms (plus half the asymmetry it
// cannot see) at every moment, for the moment itself and for a stamp 5 s back,
// also through the outage and right after it; its uncertainty covers its error
// throughout, and after two minutes calls the agreement good.
void TestStartLink::clockAgreement()
{
    QFETCH(LinkConditions, link);
    QFETCH(quint32, seed);
    SimulatedClockLink simulated(link, seed);
    TClockAgreement agreement;
    QVERIFY(!agreement.HasEstimate());
    QCOMPARE(agreement.UncertaintyUs(SimulatedClockLink::StationZeroUs), TClockAgreement::NoEstimateUs);
    const qint64 hidden = std::abs(link.forwardDelayUs - link.backwardDelayUs) / 2;
    qint64 worst = 0;
    int checked = 0;
    bool failed = false;
    RunClockLink(simulated, agreement, 240'000'000, 100'000, [&](qint64 now) {
        const qint64 since = now - SimulatedClockLink::StationZeroUs;
        if (failed || !agreement.HasEstimate())
            return;
        for (qint64 stamp : {now, now - 5'000'000}) {
            const qint64 error = std::abs(agreement.RemoteForLocal(stamp) - simulated.FinishClock(stamp));
            if (error > agreement.UncertaintyUs(stamp) + hidden) {
                failed = true;
                QTest::qFail(qPrintable(QStringLiteral("%1 s: error %2 µs beyond the uncertainty %3 µs")
                                            .arg(since / 1e6)
                                            .arg(error)
                                            .arg(agreement.UncertaintyUs(stamp))),
                             __FILE__, __LINE__);
                return;
            }
            if (since < 60'000'000)
                continue;
            worst = std::max(worst, error);
            ++checked;
            if (error > 1000 + hidden || (since >= 120'000'000 && !agreement.IsGood(stamp))) {
                failed = true;
                QTest::qFail(qPrintable(QStringLiteral("%1 s: error %2 µs, uncertainty %3 µs")
                                            .arg(since / 1e6)
                                            .arg(error)
                                            .arg(agreement.UncertaintyUs(stamp))),
                             __FILE__, __LINE__);
                return;
            }
        }
    });
    if (failed)
        return;
    QCOMPARE(checked, 2 * 1800);
    QVERIFY(worst <= 1000 + hidden);
    QVERIFY(std::abs(agreement.Rate() - link.drift) < 20e-6);
}

void TestStartLink::clockAgreementIgnoresUnsoundAndReplayed()
{
    SimulatedClockLink link(WifiLink(1'000'000, 100e-6, 2300, 2300), 9);
    TClockAgreement agreement;
    std::vector<ClockExchange> answered;
    RunClockLink(link, agreement, 100'000'000, 100'000, [](qint64) {});
    const qint64 now = SimulatedClockLink::StationZeroUs + 100'000'000;
    const qint64 before = agreement.RemoteForLocal(now);
    const int samples = agreement.SampleCount();
    // Out of order, a round trip of more than two seconds, older than the window, or no clock's.
    QVERIFY(!agreement.Add({now, now + 1000, now + 900, now + 2000}));
    QVERIFY(!agreement.Add({now, now + 1000, now + 1100, now - 1}));
    QVERIFY(!agreement.Add(
        {now - 2'500'000, link.FinishClock(now - 2'000'000), link.FinishClock(now - 2'000'000), now}));
    QVERIFY(!agreement.Add({now - 200'000'000, 0, 0, now - 199'000'000}));
    QVERIFY(
        !agreement.Add({now, std::numeric_limits<qint64>::min(), std::numeric_limits<qint64>::max(), now}));
    QVERIFY(!agreement.Add({std::numeric_limits<qint64>::min(), 0, 0, now}));
    QCOMPARE(agreement.SampleCount(), samples);
    // An answer replayed (or late) only lengthens the way back: nothing moves.
    const qint64 t1 = now - 10'000'000;
    const ClockExchange replayed{t1, link.FinishClock(t1 + 22'300), link.FinishClock(t1 + 22'400),
                                 t1 + 1'900'000};
    QVERIFY(agreement.Add(replayed));
    QCOMPARE(agreement.RemoteForLocal(now), before);
}

void TestStartLink::clockAgreementText()
{
    TClockAgreement agreement;
    QCOMPARE(agreement.Text(0), QStringLiteral("Kein Uhrabgleich"));
    SimulatedClockLink link(WifiLink(1'000'000, 100e-6, 2300, 2300), 11);
    RunClockLink(link, agreement, 150'000'000, 100'000, [](qint64) {});
    const qint64 now = SimulatedClockLink::StationZeroUs + 150'000'000;
    const QString text = agreement.Text(now);
    QVERIFY2(QRegularExpression(QStringLiteral("^Uhrabgleich ±[0-2],\\d ms$")).match(text).hasMatch(),
             qPrintable(text));
    QVERIFY(agreement.IsGood(now));
}

void TestStartLink::outboxResendsWithBackoff()
{
    TClockAgreement none;
    TStartOutbox outbox(77);
    const PendingStart& added = outbox.Add(5'000'000, none, 1'000'000);
    QCOMPARE(added.originSession, std::uint64_t(77));
    QCOMPARE(added.originSequence, std::uint32_t(1));
    QCOMPARE(added.finishStampUs, qint64(5'000'000)); // without an agreement: as stamped, and not good
    QVERIFY(!added.clockGood);
    QList<qint64> sent;
    for (qint64 now = 1'000'000; now <= 6'000'000; now += 50'000)
        if (!outbox.Due(now).isEmpty())
            sent.append((now - 1'000'000) / 1000);
    QCOMPARE(sent, (QList<qint64>{0, 200, 600, 1400, 2400, 3400, 4400}));
    QVERIFY(outbox.Acknowledge(77, 1));
    QVERIFY(!outbox.Acknowledge(77, 1));
    QVERIFY(outbox.Due(10'000'000).isEmpty());
    QVERIFY(outbox.Pending().empty());
}

void TestStartLink::outboxAndAcceptanceLoadRejectDamage()
{
    TClockAgreement none;
    TStartOutbox outbox(5);
    outbox.Add(1000, none, 0);
    outbox.Add(2000, none, 0);
    const QByteArray saved = outbox.Save();
    TStartOutbox restarted(6);
    QVERIFY(!restarted.Load(saved.chopped(1), 0));
    QVERIFY(!restarted.Load(saved + 'x', 0));
    QVERIFY(!restarted.Load(QByteArray("QXSO"), 0));
    QVERIFY(restarted.Pending().empty());
    QVERIFY(restarted.Load(saved, 0));
    QVERIFY(restarted.Load(saved, 0)); // twice: still each once
    QCOMPARE(restarted.Pending().size(), std::size_t(2));
    const QList<StartLinkDatagram> due = restarted.Due(0);
    QCOMPARE(due.size(), 2);
    QCOMPARE(due.front().session, std::uint64_t(6));
    QCOMPARE(due.front().originSession, std::uint64_t(5));

    TStartAcceptance acceptance;
    QVERIFY(acceptance.Hear(5, 0));
    StartLinkDatagram start = Sample(StartLinkType::Start);
    start.originSession = 5;
    start.originSequence = 2;
    QCOMPARE(acceptance.Offer(start), StartVerdict::Accepted);
    const QByteArray accepted = acceptance.Save();
    for (const QByteArray& damaged : {accepted.chopped(1), accepted + 'x', QByteArray(), accepted.first(5)}) {
        TStartAcceptance fresh;
        QVERIFY(!fresh.Load(damaged));
        QCOMPARE(fresh.Save(), TStartAcceptance().Save());
    }
}

void TestStartLink::acceptanceRules()
{
    TStartAcceptance acceptance;
    StartLinkDatagram start = Sample(StartLinkType::Start);
    start.originSession = 100;
    // A first station pairs; a second one is ignored while the first is heard.
    QVERIFY(acceptance.Hear(100, 0));
    QVERIFY(!acceptance.Hear(200, 5'000'000));
    QCOMPARE(acceptance.Counters().otherStation, 1);
    QVERIFY(acceptance.Hear(100, 9'000'000));
    QVERIFY(!acceptance.Hear(200, 18'999'999));
    // In order, out of order, again: each once.
    const std::pair<std::uint32_t, StartVerdict> offers[] = {{1, StartVerdict::Accepted},
                                                             {3, StartVerdict::Accepted},
                                                             {2, StartVerdict::Accepted},
                                                             {3, StartVerdict::Duplicate},
                                                             {1, StartVerdict::Duplicate}};
    for (const auto& [sequence, verdict] : offers) {
        start.originSequence = sequence;
        QCOMPARE(acceptance.Offer(start), verdict);
    }
    QCOMPARE(acceptance.Counters().accepted, 3);
    QCOMPARE(acceptance.Counters().duplicates, 2);
    // Far beyond what is known: not taken (nor acknowledged) until the gap fills.
    start.originSequence = 3 + TStartAcceptance::MaxAboveContiguous + 1;
    QCOMPARE(acceptance.Offer(start), StartVerdict::TooFarAhead);
    start.originSequence = 3 + TStartAcceptance::MaxAboveContiguous;
    QCOMPARE(acceptance.Offer(start), StartVerdict::Accepted);
    // The paired station silent for 10 s: another takes its place, and the first is stale from then on.
    QVERIFY(acceptance.Hear(200, 19'000'000));
    QCOMPARE(acceptance.PairedSession(), std::uint64_t(200));
    QVERIFY(!acceptance.Hear(100, 19'000'001));
    QCOMPARE(acceptance.Counters().stale, 1);
    // The new station carries the first one's starts on: still each once.
    start.originSequence = 2;
    QCOMPARE(acceptance.Offer(start), StartVerdict::Duplicate);
    start.originSequence = 4;
    QCOMPARE(acceptance.Offer(start), StartVerdict::Accepted);
    // A restarted finish knows what it took.
    TStartAcceptance restarted;
    QVERIFY(restarted.Load(acceptance.Save()));
    QCOMPARE(restarted.Save(), acceptance.Save());
    for (std::uint32_t sequence : {1u, 2u, 3u, 4u, 3u + TStartAcceptance::MaxAboveContiguous}) {
        start.originSequence = sequence;
        QCOMPARE(restarted.Offer(start), StartVerdict::Duplicate);
    }
    start.originSequence = 5;
    QCOMPARE(restarted.Offer(start), StartVerdict::Accepted);
    QVERIFY(!restarted.Hear(100, 0));
    QVERIFY(restarted.Hear(200, 0));
}

// Whatever the network sends, the finish keeps a bounded state.
void TestStartLink::acceptanceMemoryIsBounded()
{
    TStartAcceptance acceptance;
    StartLinkDatagram start = Sample(StartLinkType::Start);
    QRandomGenerator random(3);
    for (int i = 0; i < 20000; ++i) {
        const std::uint64_t session = random.generate64();
        acceptance.Hear(session, qint64(i) * 20'000'000); // each after the last fell silent
        start.originSession = i % 3 == 0 ? session : random.generate64();
        start.originSequence = random.bounded(1u, 400u);
        acceptance.Offer(start);
    }
    // Magic, format, paired station; former and forgotten sessions; the origins' sets.
    const qsizetype limit =
        4 + 1 + 8 + 2 * (4 + 8 * TStartAcceptance::MaxFormerSessions) + 4 +
        TStartAcceptance::MaxOrigins * (8 + 4 + 8 + 4 + 4 * TStartAcceptance::MaxAboveContiguous);
    QVERIFY(acceptance.Save().size() <= limit);
    TStartAcceptance restored;
    QVERIFY(restored.Load(acceptance.Save()));
}

// Datagrams without the key, or altered, are counted and change nothing.
void TestStartLink::foreignDatagramsChangeNothing()
{
    TFinishLink finish(TestKey(), 900);
    const QByteArray otherKey = StartLinkKey(QStringLiteral("ZZZZZZZZZZZZZZZZ"));
    StartLinkDatagram probe = Sample(StartLinkType::ClockProbe);
    probe.session = 100;
    QCOMPARE(finish.Receive(EncodeStartLink(probe, TestKey()), 0).replies.size(), 1);
    const QByteArray before = finish.Acceptance().Save();
    StartLinkDatagram start = Sample(StartLinkType::Start);
    start.session = 200;
    QRandomGenerator random(5);
    for (int i = 0; i < 100; ++i) {
        QByteArray forged = EncodeStartLink(start, TestKey());
        forged[random.bounded(int(forged.size()))] ^= char(1 << random.bounded(8));
        const TFinishLink::Received received = finish.Receive(forged, 20'000'000 + i);
        QVERIFY(received.replies.isEmpty());
        QVERIFY(!received.start);
        QVERIFY(finish.Receive(EncodeStartLink(start, otherKey), 20'000'000 + i).replies.isEmpty());
    }
    QCOMPARE(finish.Acceptance().Counters().foreign + finish.Acceptance().Counters().malformed, 200);
    QVERIFY(finish.Acceptance().Counters().foreign >= 190);
    QCOMPARE(finish.Acceptance().Counters().accepted, 0);
    QCOMPARE(finish.Acceptance().Save(), before);
    QCOMPARE(finish.Acceptance().PairedSession(), std::uint64_t(100));

    TStationLink station(TestKey(), 100);
    StartLinkDatagram reply = Sample(StartLinkType::ProbeReply);
    reply.originSession = 100;
    station.Receive(EncodeStartLink(reply, otherKey), 1000);
    StartLinkDatagram status = Sample(StartLinkType::FinishStatus);
    status.originSession = 100;
    station.Receive(EncodeStartLink(status, otherKey), 1000);
    QCOMPARE(station.Counters().foreign, 2);
    QCOMPARE(station.Agreement().SampleCount(), 0);
    QVERIFY(!station.FinishStatus());
    station.Receive(EncodeStartLink(status, TestKey()), 1000);
    QVERIFY(station.FinishStatus());
    QCOMPARE(FinishRunStateText(station.FinishStatus()->runState), QStringLiteral("Ziel wartet"));
}

// The start crew's arm request goes until the finish's status shows the barrier
// armed; the finish takes each request once, and a late older one not at all.
void TestStartLink::armRequestsArmOnceAndStopWhenShown()
{
    TStationLink station(TestKey(), 100);
    TFinishLink finish(TestKey(), 900);
    const auto armsIn = [&finish](const QList<QByteArray>& sent, qint64 now) {
        QList<bool> arms;
        for (const QByteArray& bytes : sent) {
            if (const auto arm = finish.Receive(bytes, now).arm)
                arms.append(*arm);
        }
        return arms;
    };
    QCOMPARE(armsIn(station.Poll(0), 0), QList<bool>{}); // the first probe pairs
    station.RequestArm(true, 10'000);
    QVERIFY(station.ArmRequestPending());
    const QList<QByteArray> first = station.Poll(10'000);
    QCOMPARE(armsIn(first, 10'000), QList<bool>{true});
    // Sent again at the next retry, taken no more.
    QCOMPARE(armsIn(station.Poll(10'000 + TStationLink::ArmRetryUs), 20'000), QList<bool>{});
    station.RequestArm(false, 300'000);
    const QList<QByteArray> disarm = station.Poll(300'000);
    QCOMPARE(armsIn(disarm, 300'000), QList<bool>{false});
    // The first request, late or replayed, is older than the one taken.
    QCOMPARE(armsIn(first, 310'000), QList<bool>{});
    // The finish's status showing it ends the request.
    station.Receive(finish.Status(FinishRunState::TrackClear, {}, {}, 300, true, false), 320'000);
    QVERIFY(!station.ArmRequestPending());
    QVERIFY(!station.FinishStatus()->startArmed);
    QCOMPARE(armsIn(station.Poll(1'000'000), 1'000'000), QList<bool>{});
    // Unanswered, a request ends after its life.
    station.RequestArm(true, 2'000'000);
    QVERIFY(!station.Poll(2'000'000 + TStationLink::ArmRequestLifeUs + 1).isEmpty());
    QVERIFY(!station.ArmRequestPending());
}

// Someone on the Wi-Fi records the station's datagrams and sends them again: a
// start is taken once (and acknowledged again), and once the station is gone its
// datagrams get no answer at all.
void TestStartLink::replayedDatagramsTakeNothing()
{
    TFinishLink finish(TestKey(), 900);
    StartLinkDatagram start = Sample(StartLinkType::Start);
    start.session = 100;
    start.originSession = 100;
    const QByteArray recorded = EncodeStartLink(start, TestKey());
    StartLinkDatagram probe = Sample(StartLinkType::ClockProbe);
    probe.session = 100;
    const QByteArray recordedProbe = EncodeStartLink(probe, TestKey());
    QVERIFY(finish.Receive(recorded, 0).start);
    for (qint64 at : {1'000'000, 2'000'000}) {
        const TFinishLink::Received again = finish.Receive(recorded, at);
        QVERIFY(!again.start);
        QCOMPARE(again.verdict, std::optional<StartVerdict>(StartVerdict::Duplicate));
        QCOMPARE(again.replies.size(), 1);
    }
    // The station restarted under a new session after 10 s of silence.
    probe.session = 101;
    QCOMPARE(finish.Receive(EncodeStartLink(probe, TestKey()), 12'000'000).replies.size(), 1);
    for (const QByteArray& replayed : {recorded, recordedProbe}) {
        const TFinishLink::Received received = finish.Receive(replayed, 13'000'000);
        QVERIFY(received.replies.isEmpty());
        QVERIFY(!received.start);
    }
    QCOMPARE(finish.Acceptance().Counters().accepted, 1);
    QCOMPARE(finish.Acceptance().Counters().duplicates, 2);
    QCOMPARE(finish.Acceptance().Counters().stale, 2);

    // At the station, a status older than the one shown (overtaken or replayed) does not
    // turn "Läuft" back into "Strecke frei"; a status not renewed for 2 s is stale.
    TStationLink station(TestKey(), 77);
    StartLinkDatagram status = Sample(StartLinkType::FinishStatus);
    status.session = 900;
    status.originSession = 77;
    status.sequence = 5;
    status.runState = FinishRunState::Running;
    station.Receive(EncodeStartLink(status, TestKey()), 1'000'000);
    status.sequence = 4;
    status.runState = FinishRunState::TrackClear;
    station.Receive(EncodeStartLink(status, TestKey()), 1'100'000);
    QCOMPARE(station.FinishStatus()->runState, FinishRunState::Running);
    QCOMPARE(station.Counters().stale, 1);
    QVERIFY(!station.FinishStatusStale(3'000'000));
    QVERIFY(station.FinishStatusStale(3'000'001));
    // A finish restarted under a new session starts its sequence anew.
    status.session = 901;
    status.sequence = 1;
    station.Receive(EncodeStartLink(status, TestKey()), 3'500'000);
    QCOMPARE(station.FinishStatus()->runState, FinishRunState::TrackClear);
    QVERIFY(!station.FinishStatusStale(3'500'000));
}

void TestStartLink::startsArriveExactlyOnce_data()
{
    QTest::addColumn<double>("loss");
    QTest::addColumn<double>("duplicates");
    QTest::addColumn<qint64>("stationRestartUs");
    QTest::addColumn<qint64>("finishRestartUs");
    QTest::addColumn<bool>("allGood");
    QTest::newRow("10 % loss, 5 s outage") << 0.10 << 0.0 << qint64(0) << qint64(0) << true;
    QTest::newRow("duplicates and reordering") << 0.10 << 0.3 << qint64(0) << qint64(0) << true;
    QTest::newRow("finish restarts") << 0.10 << 0.1 << qint64(0) << qint64(171'000'000) << true;
    // Fewer probes, or a station agreeing its clock anew: not every start may be good.
    QTest::newRow("40 % loss") << 0.40 << 0.1 << qint64(0) << qint64(0) << false;
    QTest::newRow("station restarts during the outage")
        << 0.10 << 0.1 << qint64(152'000'000) << qint64(0) << false;
    QTest::newRow("both restart") << 0.20 << 0.2 << qint64(201'000'000) << qint64(161'000'000) << false;
}

// A station and a finish over the simulated link, a start edge every 6 s from the
// second minute (one in the 5 s outage): each start is taken exactly once, none is
// left waiting, and every one converted with a good agreement times a run (start
// at the station, finish at the finish) within its uncertainty plus half the
// asymmetry; at 10 % loss without a station restart all are good and within 1 ms
// plus that.
void TestStartLink::startsArriveExactlyOnce()
{
    QFETCH(double, loss);
    QFETCH(double, duplicates);
    QFETCH(qint64, stationRestartUs);
    QFETCH(qint64, finishRestartUs);
    QFETCH(bool, allGood);
    LinkConditions conditions = WifiLink(1'000'000, 100e-6, 2000, 2600);
    conditions.loss = loss;
    conditions.outageUs = 5'000'000;
    SimulatedClockLink link(conditions, 21);
    SimulatedDatagrams net(link, duplicates, 22);
    const qint64 zero = SimulatedClockLink::StationZeroUs;
    auto station = std::make_unique<TStationLink>(TestKey(), 1001);
    auto finish = std::make_unique<TFinishLink>(TestKey(), 2001);
    std::map<std::pair<std::uint64_t, std::uint32_t>, qint64> edges; // each start's true station time
    std::map<std::pair<std::uint64_t, std::uint32_t>, int> taken;
    qint64 worst = 0;
    int good = 0;
    qint64 nextEdge = zero + 120'000'000;
    const qint64 lastEdge = zero + 258'000'000;
    for (qint64 now = zero; now < zero + 300'000'000; now += 10'000) {
        if (stationRestartUs != 0 && now == zero + stationRestartUs) {
            const QByteArray journal = station->Outbox().Save();
            station = std::make_unique<TStationLink>(TestKey(), 1002);
            QVERIFY(station->Outbox().Load(journal, now));
        }
        if (finishRestartUs != 0 && now == zero + finishRestartUs) {
            const QByteArray saved = finish->Acceptance().Save();
            finish = std::make_unique<TFinishLink>(TestKey(), 2002);
            QVERIFY(finish->Acceptance().Load(saved));
        }
        if (now == nextEdge && now <= lastEdge) {
            const qint64 edge = now - 3000; // stamped by the barrier's thread a moment ago
            station->Edge(edge, now);
            const PendingStart& added = station->Outbox().Pending().back();
            edges[{added.originSession, added.originSequence}] = edge;
            nextEdge += 6'000'000;
        }
        for (const QByteArray& bytes : station->Poll(now))
            net.Send(true, bytes, now);
        for (const SimulatedDatagrams::Flight& flight : net.Arrived(now)) {
            if (!flight.toFinish) {
                station->Receive(flight.bytes, flight.arrivalUs);
                continue;
            }
            const TFinishLink::Received received =
                finish->Receive(flight.bytes, link.FinishClock(flight.arrivalUs));
            for (const QByteArray& reply : received.replies)
                net.Send(false, reply, flight.arrivalUs);
            if (!received.start)
                continue;
            const auto key = std::make_pair(received.start->originSession, received.start->originSequence);
            QVERIFY(edges.count(key) == 1);
            ++taken[key];
            if (received.start->clockGood) {
                // A run from this start to a finish edge stamped on the finish's clock
                // is off the true interval (on that clock) by the conversion's error.
                const qint64 error = std::abs(received.start->finishStampUs - link.FinishClock(edges[key]));
                QVERIFY2(error <= qint64(received.start->uncertaintyUs) + 300,
                         qPrintable(QString::number(error)));
                worst = std::max(worst, error);
                ++good;
            }
        }
    }
    QCOMPARE(int(edges.size()), 24);
    QCOMPARE(taken.size(), edges.size());
    for (const auto& [key, count] : taken)
        QCOMPARE(count, 1);
    QVERIFY(station->Outbox().Pending().empty());
    QCOMPARE(station->Outbox().Dropped(), 0);
    if (allGood) {
        QCOMPARE(good, 24);
        QVERIFY(finish->PairedClock() && finish->PairedClock()->good);
        QVERIFY(finish->PairedClock()->uncertaintyUs <= TClockAgreement::GoodUncertaintyUs);
        QVERIFY2(worst <= 1000 + 300, qPrintable(QString::number(worst)));
    }
}

QTEST_APPLESS_MAIN(TestStartLink)
#include "tst_startlink.moc"
