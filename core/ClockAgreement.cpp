#include "ClockAgreement.h"

#include <QLocale>
#include <algorithm>
#include <array>
#include <cmath>
#include <utility>
#include <vector>

namespace {

// Few buckets: the more samples each has, the closer its extreme lies to the line,
// and that gains more than further points would.
constexpr int AgreementBuckets = 4;
// Below this span the rate is not fitted: the previous rate is kept, or none assumed.
constexpr qint64 AgreementRateSpanUs = 20'000'000;
constexpr qint64 AgreementRateRefitUs = 1'000'000;
// The offset is taken from this newest part of the window.
constexpr qint64 AgreementAnchorUs = 40'000'000;
// What a crystal may drift (the allowance without a fitted rate), and how much the
// rate may wander beyond the window.
constexpr double AgreementUnfittedDrift = 200e-6;
constexpr double AgreementRateWander = 1e-6;
constexpr double AgreementFloorUs = 20;
// Below this many samples in the newest part the spacing near the lines is not trusted.
constexpr int AgreementFewSamples = 60;
// The uncertainty's standard errors: the lines' misses are exponential, with longer
// tails than a normal error.
constexpr double AgreementSigmas = 4.25;

// The floor of the forward values and the ceiling of the backward ones for a
// rate, as offsets at the reference: every forward value lies on or above its
// floor line, every backward value on or below its ceiling line.
struct AgreementLines
{
    double floor = 0;
    double ceiling = 0;
};

AgreementLines SupportLines(const std::deque<ClockExchange>& samples, qint64 refUs, double rate)
{
    AgreementLines lines{std::numeric_limits<double>::max(), std::numeric_limits<double>::lowest()};
    for (const ClockExchange& s : samples) {
        lines.floor = std::min(lines.floor, double(s.t2 - s.t1) - rate * double(s.t1 - refUs));
        lines.ceiling = std::max(lines.ceiling, double(s.t3 - s.t4) - rate * double(s.t4 - refUs));
    }
    return lines;
}

// Per time bucket the sample closest to the line of the given rate (lowest forward,
// highest backward), as (µs from the reference, one-way value).
std::vector<std::pair<double, double>> BucketExtremes(const std::deque<ClockExchange>& samples, qint64 refUs,
                                                      qint64 firstUs, qint64 spanUs, double rate,
                                                      bool forward)
{
    std::array<std::pair<double, double>, AgreementBuckets> best{};
    std::array<bool, AgreementBuckets> used{};
    for (const ClockExchange& s : samples) {
        const qint64 x = forward ? s.t1 : s.t4;
        const double relX = double(x - refUs);
        const double y = double(forward ? s.t2 - s.t1 : s.t3 - s.t4);
        const int bucket =
            int(std::clamp<qint64>((x - firstUs) * AgreementBuckets / (spanUs + 1), 0, AgreementBuckets - 1));
        auto& b = best.at(bucket);
        const double level = y - rate * relX;
        const double bestLevel = b.second - rate * b.first;
        if (!used.at(bucket) || (forward ? level < bestLevel : level > bestLevel)) {
            b = {relX, y};
            used.at(bucket) = true;
        }
    }
    std::vector<std::pair<double, double>> points;
    for (int i = 0; i < AgreementBuckets; ++i)
        if (used.at(i))
            points.push_back(best.at(i));
    return points;
}

struct AgreementRateFit
{
    double rate = 0;
    double variance = 0; // from the extremes' scatter about the line
    double sxx = 0;
    bool fitted = false;
};

// The rate whose floor and ceiling lines rest closest, in sum, on the samples of
// both directions, within what a crystal can drift. The true rate's lines lie
// closest: every sample is off its line by its own extra delay, and any other
// slope tilts one end of the lines away from the samples. Every sample counts, not
// one per part of the window: when delays come in whole steps (a driver or relay on
// a timer), many samples sit exactly on the floor, and a part of the window without
// one must not tilt the line. The sum is convex in the rate (the lines are the
// samples' minimum and maximum), so a section search finds its lowest point.
double EnvelopeRate(const std::deque<ClockExchange>& samples, qint64 refUs)
{
    std::vector<std::pair<double, double>> forward;
    std::vector<std::pair<double, double>> backward;
    forward.reserve(samples.size());
    backward.reserve(samples.size());
    double forwardX = 0;
    double backwardX = 0;
    for (const ClockExchange& s : samples) {
        forward.emplace_back(double(s.t1 - refUs), double(s.t2 - s.t1));
        backward.emplace_back(double(s.t4 - refUs), double(s.t3 - s.t4));
        forwardX += forward.back().first;
        backwardX += backward.back().first;
    }
    const double count = double(samples.size());
    // The sum of the distances without the samples' own values, which don't depend on the rate.
    const auto distance = [&](double rate) {
        double floor = std::numeric_limits<double>::max();
        double ceiling = std::numeric_limits<double>::lowest();
        for (const auto& [x, y] : forward)
            floor = std::min(floor, y - rate * x);
        for (const auto& [x, y] : backward)
            ceiling = std::max(ceiling, y - rate * x);
        return count * (ceiling - floor) + rate * (backwardX - forwardX);
    };
    constexpr double limit = 1000e-6;
    constexpr double resolution = 1e-10;
    const double golden = (std::sqrt(5.0) - 1) / 2;
    double low = -limit;
    double high = limit;
    double a = high - golden * (high - low);
    double b = low + golden * (high - low);
    double fa = distance(a);
    double fb = distance(b);
    while (high - low > resolution) {
        if (fa <= fb) {
            high = b;
            b = a;
            fb = fa;
            a = high - golden * (high - low);
            fa = distance(a);
        } else {
            low = a;
            a = b;
            fa = fb;
            b = low + golden * (high - low);
            fb = distance(b);
        }
    }
    return (low + high) / 2;
}

// The rate's scatter: the extreme of each time bucket about the lines of that rate
// (each direction with its own intercept), by least squares.
AgreementRateFit BucketScatter(const std::deque<ClockExchange>& samples, qint64 refUs, qint64 firstUs,
                               qint64 spanUs, double rate)
{
    AgreementRateFit fit;
    double sxx = 0;
    double residuals = 0;
    int count = 0;
    for (bool forward : {true, false}) {
        const std::vector<std::pair<double, double>> side =
            BucketExtremes(samples, refUs, firstUs, spanUs, rate, forward);
        if (side.size() < 3)
            return fit;
        std::pair<double, double> mean{};
        for (const auto& [x, y] : side) {
            mean.first += x / double(side.size());
            mean.second += y / double(side.size());
        }
        for (const auto& [x, y] : side) {
            sxx += (x - mean.first) * (x - mean.first);
            residuals += std::pow(y - mean.second - rate * (x - mean.first), 2);
        }
        count += int(side.size());
    }
    if (sxx <= 0)
        return fit;
    return {rate, residuals / std::max(count - 3, 1) / sxx, sxx, true};
}

// The scale of the error of a line resting on the most extreme of many samples:
// near the line the samples' distances from it are spaced about evenly, and the
// line misses the true floor (or ceiling) by about one such spacing. Taken as the
// mean spacing of the closest few; with too few samples, the whole gap.
double ClosestSpacing(const std::deque<ClockExchange>& samples, qint64 refUs, double rate, double line,
                      bool forward, double fallback)
{
    constexpr int closest = 5;
    if (samples.size() < closest)
        return fallback;
    std::vector<double> distances;
    distances.reserve(samples.size());
    for (const ClockExchange& s : samples) {
        const qint64 x = forward ? s.t1 : s.t4;
        const double level = double(forward ? s.t2 - s.t1 : s.t3 - s.t4) - rate * double(x - refUs);
        distances.push_back(forward ? level - line : line - level);
    }
    std::partial_sort(distances.begin(), distances.begin() + closest, distances.end());
    return (distances.at(closest - 1) - distances.front()) / (closest - 1);
}

} // namespace

bool TClockAgreement::Add(const ClockExchange& e)
{
    // Stamps from the network are checked before any arithmetic on them can overflow.
    for (qint64 stamp : {e.t1, e.t2, e.t3, e.t4})
        if (stamp <= -MaxStampUs || stamp >= MaxStampUs)
            return false;
    const qint64 roundTrip = (e.t4 - e.t1) - (e.t3 - e.t2);
    if (e.t4 < e.t1 || e.t3 < e.t2 || roundTrip < 0 || e.t4 - e.t1 > MaxRoundTripUs)
        return false;
    if (mFitted && e.t1 < mNewestUs - WindowUs)
        return false;
    mSamples.push_back(e);
    mNewestUs = std::max(mNewestUs, e.t4);
    while (!mSamples.empty() &&
           (mSamples.front().t1 < mNewestUs - WindowUs || int(mSamples.size()) > MaxSamples))
        mSamples.pop_front();
    Refit();
    return true;
}

void TClockAgreement::Clear()
{
    *this = TClockAgreement();
}

void TClockAgreement::Refit()
{
    if (mSamples.empty())
        return;
    qint64 first = mSamples.front().t1;
    qint64 last = mSamples.front().t4;
    for (const ClockExchange& s : mSamples) {
        first = std::min(first, s.t1);
        last = std::max(last, s.t4);
    }
    // The rate changes slowly and its search reads the whole window: once a second is enough.
    if (last - first >= AgreementRateSpanUs && (!mRateFitted || last >= mRateDueUs)) {
        mRateDueUs = last + AgreementRateRefitUs;
        const qint64 middle = first + (last - first) / 2;
        const AgreementRateFit fit =
            BucketScatter(mSamples, middle, first, last - first, EnvelopeRate(mSamples, middle));
        if (fit.fitted) {
            mRate = fit.rate;
            // A handful of extremes tells their scatter only roughly; a bucket's extreme
            // misses by about the bucket's spacing (a whole window's times the buckets),
            // which bounds it from below.
            const AgreementLines whole = SupportLines(mSamples, middle, mRate);
            const double gap = whole.floor - whole.ceiling;
            const double bucketMiss = AgreementBuckets *
                                      (ClosestSpacing(mSamples, middle, mRate, whole.floor, true, gap) +
                                       ClosestSpacing(mSamples, middle, mRate, whole.ceiling, false, gap)) /
                                      2;
            mRateVar = std::max(fit.variance, bucketMiss * bucketMiss / fit.sxx);
            mRateFitted = true;
        }
    }
    if (!mRateFitted) {
        mRate = 0;
        mRateVar = std::pow(AgreementUnfittedDrift / 3, 2);
    }
    // The offset comes from the newest part of the window, where stamps are converted:
    // there the rate's error counts least.
    std::deque<ClockExchange> recent;
    for (const ClockExchange& s : mSamples)
        if (s.t1 >= last - AgreementAnchorUs)
            recent.push_back(s);
    const qint64 recentFirst = std::max(first, last - AgreementAnchorUs);
    const qint64 recentSpan = last - recentFirst;
    const qint64 ref = recentFirst + recentSpan / 2;
    const AgreementLines lines = SupportLines(recent, ref, mRate);
    const double gap = lines.floor - lines.ceiling;
    const double forwardSpacing = ClosestSpacing(recent, ref, mRate, lines.floor, true, gap);
    const double backwardSpacing = ClosestSpacing(recent, ref, mRate, lines.ceiling, false, gap);
    mFitted = true;
    mRefUs = ref;
    mAnchorHalfUs = recentSpan / 2;
    mOffsetUs = (lines.floor + lines.ceiling) / 2;
    // Each line misses by about its spacing (exponentially distributed): the
    // midpoint's spread, and its bias when the two ways are not alike.
    mOffsetVar = (forwardSpacing * forwardSpacing + backwardSpacing * backwardSpacing) / 4;
    mSkewUs = std::abs(forwardSpacing - backwardSpacing) / 2;
    // Few samples tell their spacing by chance; until enough have come, only what every
    // exchange proves holds: the offset lies between the ceiling and the floor.
    mFewSamplesSpreadUs = int(recent.size()) < AgreementFewSamples ? std::max(gap, 0.0) / 2 : 0;
    mFirstUs = first;
    mLastUs = last;
}

qint64 TClockAgreement::RemoteForLocal(qint64 localUs) const
{
    if (!mFitted || localUs <= -MaxStampUs || localUs >= MaxStampUs)
        return localUs;
    return localUs + std::llround(mOffsetUs + mRate * double(localUs - mRefUs));
}

qint64 TClockAgreement::UncertaintyUs(qint64 localUs) const
{
    if (!mFitted || localUs <= -MaxStampUs || localUs >= MaxStampUs)
        return NoEstimateUs;
    const double distance = std::abs(double(localUs - mRefUs)) + double(mAnchorHalfUs);
    const double outside = double(std::max<qint64>({mFirstUs - localUs, localUs - mLastUs, 0}));
    double spread = AgreementSigmas * std::sqrt(mOffsetVar + distance * distance * mRateVar);
    if (mFewSamplesSpreadUs > 0)
        spread = std::max(spread, mFewSamplesSpreadUs + distance * AgreementUnfittedDrift);
    return std::llround(spread + mSkewUs + AgreementFloorUs + AgreementRateWander * outside);
}

QString TClockAgreement::Text(qint64 localUs) const
{
    if (!mFitted)
        return QStringLiteral("Kein Uhrabgleich");
    const double ms = std::max(0.1, std::ceil(double(UncertaintyUs(localUs)) / 100.0) / 10.0);
    return QStringLiteral("Uhrabgleich ±%1 ms")
        .arg(QLocale(QLocale::German, QLocale::Germany).toString(ms, 'f', 1));
}

ConvertedStamp ConvertToFinish(const TClockAgreement& agreement, qint64 stationUs)
{
    return {agreement.RemoteForLocal(stationUs), agreement.UncertaintyUs(stationUs),
            agreement.IsGood(stationUs)};
}
