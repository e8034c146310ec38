#pragma once

#include "ClockAgreement.h"
#include "StartDelivery.h"
#include "StartLinkCodec.h"

#include <QByteArray>
#include <QList>
#include <cstdint>
#include <limits>
#include <optional>

// The two ends of the start station's link as bytes in and bytes out, with the
// time of each step given by the caller (microseconds on the own monotonic
// clock), so the socket, the timer and the journal stay outside.

// The station: probes the finish's clock, sends its starts until acknowledged and
// keeps what the finish reports.
class TStationLink
{
public:
    static constexpr qint64 ProbePeriodUs = 100'000;

    TStationLink(const QByteArray& key, std::uint64_t session) : mKey(key), mOutbox(session) {}

    // A start edge stamped at stationUs.
    void Edge(qint64 stationUs, qint64 nowUs);
    // What to send now: a clock probe when one is due, and the starts due.
    QList<QByteArray> Poll(qint64 nowUs);
    // A datagram from the finish, received at receivedUs.
    void Receive(const QByteArray& bytes, qint64 receivedUs);
    // The start crew arms (or disarms) the finish's start barrier: asked again
    // with every poll (every ArmRetryUs) until the finish's status shows it, for
    // up to ArmRequestLifeUs.
    void RequestArm(bool armed, qint64 nowUs);
    static constexpr qint64 ArmRetryUs = 200'000;
    static constexpr qint64 ArmRequestLifeUs = 5'000'000;
    // An arm request waits for the finish's answer.
    bool ArmRequestPending() const { return mArmUntilUs != 0; }

    const TClockAgreement& Agreement() const { return mAgreement; }
    TStartOutbox& Outbox() { return mOutbox; }
    const TStartOutbox& Outbox() const { return mOutbox; }
    // The finish's latest status, none before the first.
    const std::optional<StartLinkDatagram>& FinishStatus() const { return mStatus; }
    // The finish sends its status every half second: one older than this is no
    // longer how the track stands (the link is down).
    static constexpr qint64 StatusStaleUs = 2'000'000;
    bool FinishStatusStale(qint64 nowUs) const { return mStatus && nowUs - mStatusUs > StatusStaleUs; }
    // Seconds since the finish was last heard, for the start crew.
    qint64 FinishSilentUs(qint64 nowUs) const { return mStatus ? nowUs - mStatusUs : 0; }
    const StartLinkCounters& Counters() const { return mCounters; }

private:
    QByteArray mKey;
    TStartOutbox mOutbox;
    TClockAgreement mAgreement;
    std::uint32_t mProbeSequence = 0;
    qint64 mNextProbeUs = std::numeric_limits<qint64>::min();
    std::optional<StartLinkDatagram> mStatus;
    qint64 mStatusUs = 0;
    StartLinkCounters mCounters;
    bool mArmWanted = false;
    std::uint32_t mArmSequence = 0;
    qint64 mArmUntilUs = 0; // 0: none pending
    qint64 mNextArmUs = 0;
};

// The finish: answers probes, takes each start once and acknowledges it.
class TFinishLink
{
public:
    TFinishLink(const QByteArray& key, std::uint64_t session) : mKey(key), mSession(session) {}

    struct Received
    {
        QList<QByteArray> replies;              // to the sender
        std::optional<StartLinkDatagram> start; // a start to take, once
        std::optional<StartVerdict> verdict;    // for a start datagram
        std::optional<bool> arm;                // the paired station's crew arms (true) or disarms
    };
    Received Receive(const QByteArray& bytes, qint64 receivedUs);
    // The status for the paired station.
    QByteArray Status(FinishRunState state, const QString& lane1, const QString& lane2, qint64 uncertaintyUs,
                      bool clockGood, bool startArmed = false);

    TStartAcceptance& Acceptance() { return mAcceptance; }
    const TStartAcceptance& Acceptance() const { return mAcceptance; }
    // The paired station's agreement as its latest probe told, none before one.
    struct StationClock
    {
        qint64 uncertaintyUs = 0;
        bool good = false;
    };
    const std::optional<StationClock>& PairedClock() const { return mPairedClock; }

private:
    QByteArray mKey;
    std::uint64_t mSession = 0;
    std::optional<StationClock> mPairedClock;
    std::uint32_t mSent = 0;
    TStartAcceptance mAcceptance;
    // The paired station's last arm request taken: a request repeated or
    // replayed arms nothing again.
    std::uint64_t mArmSession = 0;
    std::uint32_t mArmSequence = 0;
};
