// libFuzzer harness for the start station's datagrams, which come from the club's
// Wi-Fi: the decoder, both ends of the link fed with them, and the readers of the
// saved outbox and accepted set. The first byte chooses: with its low bit set the
// rest is signed with the key, so the fuzzer reaches the fields behind the MAC;
// bit 1 also reads the rest as a saved outbox, bit 2 as a saved accepted set.
// The two ends live across inputs, so a long run checks that nothing grows.
#include "StartDelivery.h"
#include "StartLink.h"
#include "StartLinkCodec.h"

#include <QByteArray>
#include <QMessageAuthenticationCode>
#include <cstddef>
#include <cstdint>

namespace {

void Check(bool condition)
{
    if (!condition)
        __builtin_trap();
}

const QByteArray& FuzzKey()
{
    static const QByteArray key = StartLinkKey(QStringLiteral("ABCDEFGHJKLMNPQR"));
    return key;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    static TFinishLink finish(FuzzKey(), 1);
    static TStationLink station(FuzzKey(), 2);
    static qint64 now = 0;
    now += 1000;

    const QByteArray body(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));
    const QByteArray bytes =
        data[0] & 1 ? body + QMessageAuthenticationCode::hash(body, FuzzKey(), QCryptographicHash::Sha256)
                    : body;
    const StartLinkDecoded decoded = DecodeStartLink(bytes, FuzzKey());
    if (decoded.reject == StartLinkReject::None) {
        // Only what the encoder writes is taken, so it writes the same bytes again.
        Check(bytes.size() <= StartLinkMaxDatagram);
        Check(EncodeStartLink(decoded.datagram, FuzzKey()) == bytes);
        Check(decoded.datagram.lane1.toUtf8().size() <= StartLinkMaxLaneText);
    }

    const TFinishLink::Received received = finish.Receive(bytes, now);
    Check(received.replies.size() <= 1);
    for (const QByteArray& reply : received.replies)
        Check(DecodeStartLink(reply, FuzzKey()).reject == StartLinkReject::None);
    station.Receive(bytes, now);
    station.Poll(now);
    Check(finish.Acceptance().Save().size() < 80'000);
    Check(station.Agreement().SampleCount() <= TClockAgreement::MaxSamples);
    Check(int(station.Outbox().Pending().size()) <= TStartOutbox::MaxPending);

    if (data[0] & 2) {
        TStartOutbox outbox(3);
        if (outbox.Load(body, now)) {
            Check(int(outbox.Pending().size()) <= TStartOutbox::MaxPending);
            TStartOutbox again(3);
            Check(again.Load(outbox.Save(), now) && again.Save() == outbox.Save());
        }
    }
    if (data[0] & 4) {
        TStartAcceptance acceptance;
        if (acceptance.Load(body)) {
            TStartAcceptance again;
            Check(again.Load(acceptance.Save()) && again.Save() == acceptance.Save());
        }
    }
    return 0;
}
