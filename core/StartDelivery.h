#pragma once

#include "StartLinkCodec.h"

#include <QByteArray>
#include <QList>
#include <cstdint>
#include <deque>
#include <map>
#include <set>

class TClockAgreement;

// A start edge on its way from the station to the finish. Its origin session and
// sequence name it for good: a station restarted from its journal sends it under
// its new session, but the finish still takes it once.
struct PendingStart
{
    std::uint64_t originSession = 0;
    std::uint32_t originSequence = 0;
    qint64 stationStampUs = 0;
    qint64 finishStampUs = 0;
    std::uint32_t uncertaintyUs = 0;
    bool clockGood = false;
    qint64 nextSendUs = 0; // not saved: due at once after a load
    qint64 retryUs = 0;
};

// The station's starts until the finish acknowledges them: each is sent at once,
// then again after 200 ms, doubling up to every second, for as long as it takes.
class TStartOutbox
{
public:
    static constexpr int MaxPending = 1000;
    static constexpr qint64 FirstRetryUs = 200'000;
    static constexpr qint64 MaxRetryUs = 1'000'000;

    explicit TStartOutbox(std::uint64_t session) : mSession(session) {}

    // A new edge of this session, stamped on the station's clock and converted with the agreement.
    const PendingStart& Add(qint64 stationStampUs, const TClockAgreement& agreement, qint64 nowUs);
    // The starts to send now (as Start datagrams of this session), each rescheduled.
    QList<StartLinkDatagram> Due(qint64 nowUs);
    // False when no such start was waiting (a repeated acknowledgement).
    bool Acknowledge(std::uint64_t originSession, std::uint32_t originSequence);
    // Converts this session's waiting starts again where the agreement now knows
    // better (a start stamped during an outage or before the clocks agreed).
    void Reconvert(const TClockAgreement& agreement);

    const std::deque<PendingStart>& Pending() const { return mPending; }
    std::uint64_t Session() const { return mSession; }
    // Starts given up because MaxPending were waiting: the oldest go first.
    int Dropped() const { return mDropped; }

    // The waiting starts, for the station's journal.
    QByteArray Save() const;
    // Adds the waiting starts of a journal (also of an earlier session), due at
    // once; false, and nothing taken, when the bytes are not a sound outbox.
    bool Load(const QByteArray& bytes, qint64 nowUs);

private:
    void Push(const PendingStart& start);

    std::uint64_t mSession = 0;
    std::uint32_t mNextSequence = 1;
    std::uint32_t mSendCount = 0;
    std::deque<PendingStart> mPending;
    int mDropped = 0;
};

enum class StartVerdict : std::uint8_t {
    Accepted,     // new: take this start
    Duplicate,    // taken before: acknowledge again, nothing else
    Stale,        // a session that is gone (a replay): ignored
    OtherStation, // another station while the paired one is alive: ignored
    TooFarAhead,  // beyond the bounded window of sequences: not acknowledged, sent again later
};

struct StartLinkCounters
{
    int accepted = 0;
    int duplicates = 0;
    int stale = 0;
    int otherStation = 0;
    int tooFarAhead = 0;
    int foreign = 0;   // failed the MAC: no key, another key, or altered
    int malformed = 0; // authentic but unsound, or not ours at all
};

// The finish's side: pairs with one station, takes each start exactly once, also
// across a restart of the finish (Save/Load), and ignores everything else.
// Memory is bounded whatever arrives.
class TStartAcceptance
{
public:
    // A station not heard for this long may be replaced by another session.
    static constexpr qint64 AliveUs = 10'000'000;
    // Per origin session: every sequence up to a contiguous mark, and a bounded set above.
    static constexpr int MaxAboveContiguous = 256;
    static constexpr int MaxOrigins = 16;
    static constexpr int MaxFormerSessions = 64;

    // Any authentic datagram from a station: pairs a first station, keeps the
    // paired one alive. False (counted) for a former or another station.
    bool Hear(std::uint64_t session, qint64 nowUs);
    // A start datagram (after Hear said yes for its sender).
    StartVerdict Offer(const StartLinkDatagram& start);

    void NoteForeign() { ++mCounters.foreign; }
    void NoteMalformed() { ++mCounters.malformed; }
    const StartLinkCounters& Counters() const { return mCounters; }
    std::uint64_t PairedSession() const { return mPaired; }
    bool PairedAlive(qint64 nowUs) const;

    QByteArray Save() const;
    // Replaces the state by a saved one; false, and nothing changed, when unsound.
    bool Load(const QByteArray& bytes);

private:
    struct AcceptedSet
    {
        std::uint32_t contiguous = 0; // every sequence up to this one was taken
        std::set<std::uint32_t> above;
        std::uint64_t lastUse = 0;
    };
    AcceptedSet* OriginSet(std::uint64_t origin);

    std::uint64_t mPaired = 0;
    qint64 mPairedHeardUs = 0;
    bool mPairedHeard = false; // since this program's start (not after a load)
    std::map<std::uint64_t, AcceptedSet> mOrigins;
    std::deque<std::uint64_t> mFormer;    // stations replaced by another, newest last
    std::deque<std::uint64_t> mForgotten; // origin sessions whose sets made room, newest last
    std::uint64_t mUseCounter = 0;
    StartLinkCounters mCounters;
};
