#pragma once

#include "ClockAgreement.h"

#include <QRandomGenerator>
#include <algorithm>
#include <cmath>
#include <optional>
#include <vector>

// A Wi-Fi link between the start station and the finish, in simulated time: the
// finish's clock is off by an offset and drifts; each way has a minimal delay
// (which may differ), a jitter above it, loss, and one outage. Time is the
// station's clock in microseconds; nothing sleeps.
struct LinkConditions
{
    qint64 offsetUs = 0;
    double drift = 0; // finish seconds per station second, minus one
    qint64 forwardDelayUs = 2000;
    qint64 backwardDelayUs = 2000;
    qint64 jitterUs = 0; // ± around the middle: delays spread over [minimal, minimal + 2 jitter]
    // A relay or driver that delivers on a timer delays by whole steps of this (0: continuously),
    // so many datagrams meet exactly the minimal delay.
    qint64 delayStepUs = 0;
    double loss = 0; // per datagram
    qint64 outageFromUs = 0;
    qint64 outageUs = 0; // from the simulation's start
};

class SimulatedClockLink
{
public:
    static constexpr qint64 StationZeroUs = 5'000'000'000; // a station up for 83 minutes

    SimulatedClockLink(const LinkConditions& conditions, quint32 seed) : mLink(conditions), mRandom(seed) {}

    qint64 FinishClock(qint64 stationUs) const
    {
        return stationUs + mLink.offsetUs + std::llround(mLink.drift * double(stationUs - StationZeroUs));
    }
    bool Down(qint64 stationUs) const
    {
        const qint64 since = stationUs - StationZeroUs;
        return since >= mLink.outageFromUs && since < mLink.outageFromUs + mLink.outageUs;
    }
    qint64 Delay(qint64 minimalUs)
    {
        const qint64 extra = qint64(mRandom.bounded(2 * mLink.jitterUs + 1));
        return minimalUs + (mLink.delayStepUs > 0 ? extra / mLink.delayStepUs * mLink.delayStepUs : extra);
    }
    bool Lost(qint64 stationUs) { return Down(stationUs) || mRandom.generateDouble() < mLink.loss; }

    // The probe sent at t1, answered after a moment at the finish; none when either way lost it.
    std::optional<ClockExchange> Probe(qint64 t1)
    {
        if (Lost(t1))
            return std::nullopt;
        const qint64 arrival = t1 + Delay(mLink.forwardDelayUs);
        const qint64 answer = arrival + 50 + qint64(mRandom.bounded(200));
        if (Lost(answer))
            return std::nullopt;
        const qint64 back = answer + Delay(mLink.backwardDelayUs);
        return ClockExchange{t1, FinishClock(arrival), FinishClock(answer), back};
    }

private:
    LinkConditions mLink;
    QRandomGenerator mRandom;
};

// Drives an agreement with probes every periodUs for durationUs and calls
// check(stationUs) every periodUs with the answers that had arrived by then.
template <typename Check>
void RunClockLink(SimulatedClockLink& link, TClockAgreement& agreement, qint64 durationUs, qint64 periodUs,
                  Check check)
{
    std::vector<ClockExchange> inFlight;
    for (qint64 now = SimulatedClockLink::StationZeroUs; now < SimulatedClockLink::StationZeroUs + durationUs;
         now += periodUs) {
        if (auto exchange = link.Probe(now))
            inFlight.push_back(*exchange);
        std::sort(inFlight.begin(), inFlight.end(),
                  [](const ClockExchange& a, const ClockExchange& b) { return a.t4 < b.t4; });
        auto arrived = inFlight.begin();
        while (arrived != inFlight.end() && arrived->t4 <= now) {
            agreement.Add(*arrived);
            ++arrived;
        }
        inFlight.erase(inFlight.begin(), arrived);
        check(now);
    }
}
