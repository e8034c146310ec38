#pragma once

#include <QString>
#include <deque>
#include <limits>

// One clock probe: t1 the station sent it, t2 the finish received it, t3 the finish
// answered, t4 the station received the answer; microseconds, t1 and t4 on the
// station's monotonic clock, t2 and t3 on the finish's.
struct ClockExchange
{
    qint64 t1 = 0;
    qint64 t2 = 0;
    qint64 t3 = 0;
    qint64 t4 = 0;
};

// How the finish's clock runs against the station's: offset and rate over the
// last WindowUs of probes, for converting a start edge stamped at the station.
//
// Wi-Fi delays vary by tens of milliseconds, but never drop below the path's own
// delay. So the estimator does not average the probes' offsets: it works on the
// lower envelope of the forward one-way values (t2 − t1 = offset + forward delay,
// whose minimum is offset + the minimal forward delay) and the upper envelope of
// the backward ones (t3 − t4 = offset − backward delay, whose maximum is offset −
// the minimal backward delay). The rate is the common slope of the two envelope
// lines that rest closest, in sum, on all samples of the window (its scatter from
// the extreme samples of a few time buckets); the offset is the midpoint of
// the forward floor and the backward ceiling, the lines of that slope resting on
// the single most extreme samples of the newest part of the window, where stamps
// are converted. What the midpoint cannot see is a constant difference between the
// minimal forward and backward delays: it shifts the result by half of it (on one
// Wi-Fi hop a fraction of a millisecond); no exchange of timestamps can observe it.
// Late duplicates and replayed answers only raise forward or lower backward values,
// which the envelopes ignore.
class TClockAgreement
{
public:
    static constexpr qint64 WindowUs = 120'000'000;
    static constexpr int MaxSamples = 4096;
    static constexpr qint64 MaxRoundTripUs = 2'000'000;
    static constexpr qint64 GoodUncertaintyUs = 2000;
    static constexpr qint64 NoEstimateUs = std::numeric_limits<qint64>::max();
    // Stamps beyond (36,000 years) are not from a clock.
    static constexpr qint64 MaxStampUs = qint64(1) << 60;

    // False when the exchange is unsound (times out of order, a round trip
    // longer than MaxRoundTripUs, older than the window) and was ignored.
    bool Add(const ClockExchange& exchange);
    void Clear();

    bool HasEstimate() const { return mFitted; }
    // The finish's clock at the station's localUs, also before the window or after
    // an outage (carried on with the rate); localUs itself without an estimate.
    qint64 RemoteForLocal(qint64 localUs) const;
    // A bound for the error of RemoteForLocal (about four standard errors, plus a
    // drift allowance outside the window), NoEstimateUs without an estimate.
    // Excludes the unobservable asymmetry described above.
    qint64 UncertaintyUs(qint64 localUs) const;
    bool IsGood(qint64 localUs) const { return UncertaintyUs(localUs) <= GoodUncertaintyUs; }
    // "Uhrabgleich ±0,3 ms", "Kein Uhrabgleich".
    QString Text(qint64 localUs) const;
    // Finish seconds per station second, minus one.
    double Rate() const { return mRate; }
    int SampleCount() const { return int(mSamples.size()); }

private:
    void Refit();

    std::deque<ClockExchange> mSamples;
    qint64 mNewestUs = std::numeric_limits<qint64>::min();
    bool mFitted = false;
    bool mRateFitted = false;
    qint64 mRateDueUs = 0;
    qint64 mRefUs = 0; // the line is offset(x) = mOffsetUs + mRate * (x - mRefUs)
    double mOffsetUs = 0;
    double mRate = 0;
    double mOffsetVar = 0; // at mRefUs
    double mRateVar = 0;
    double mSkewUs = 0; // half the difference of the envelopes' spreads
    double mFewSamplesSpreadUs = 0;
    qint64 mFirstUs = 0; // the window's samples span [mFirstUs, mLastUs]
    qint64 mLastUs = 0;
    qint64 mAnchorHalfUs = 0; // where in the newest part the lines rest is not known
};

// The station's time of an edge as the finish's, with the agreement's state at that moment.
struct ConvertedStamp
{
    qint64 finishUs = 0;
    qint64 uncertaintyUs = 0;
    bool good = false;
};
ConvertedStamp ConvertToFinish(const TClockAgreement& agreement, qint64 stationUs);
