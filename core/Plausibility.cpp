#include "Plausibility.h"

#include <algorithm>

TimeDoubt CheckRunTime(int hundredths, int minimumHundredths, const QList<int>& othersHundredths)
{
    if (minimumHundredths > 0 && hundredths < minimumHundredths)
        return TimeDoubt::BelowMinimum;
    if (othersHundredths.size() < MinComparableTimes)
        return TimeDoubt::None;
    QList<int> sorted = othersHundredths;
    std::sort(sorted.begin(), sorted.end());
    const qsizetype n = sorted.size();
    // Twice the median, so that an even count needs no fraction.
    const qint64 twiceMedian =
        n % 2 ? 2 * qint64(sorted.at(n / 2)) : qint64(sorted.at(n / 2 - 1)) + sorted.at(n / 2);
    const qint64 twiceTime = 2 * qint64(hundredths);
    if (2 * twiceTime < twiceMedian || twiceTime > 2 * twiceMedian)
        return TimeDoubt::OutOfLine;
    return TimeDoubt::None;
}
