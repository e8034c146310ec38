#include "RunTime.h"

#include <QLocale>
#include <cmath>
#include <cstdlib>
#include <optional>

namespace {

QLocale TimeLocale()
{
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator | QLocale::RejectGroupSeparator);
    return locale;
}

std::optional<double> ReadLocaleNumber(const QString& text)
{
    bool ok = false;
    const double value = TimeLocale().toDouble(text, &ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return value;
}

} // namespace

QString FormatRunTime(int ms)
{
    const QLocale locale = TimeLocale();
    // 64-bit so that the magnitude of INT_MIN does not overflow.
    const long long hundredths = std::llabs(static_cast<long long>(ms) / 10);
    const long long seconds = hundredths / 100;
    const int fraction = static_cast<int>(hundredths % 100);

    QString text;
    if (ms <= -10)
        text += locale.negativeSign();
    text += locale.toString(seconds);
    text += locale.decimalPoint();
    if (fraction < 10)
        text += locale.zeroDigit();
    text += locale.toString(fraction);
    return text;
}

int ParseRunTime(const QString& text)
{
    const std::optional<double> seconds = ReadLocaleNumber(text);
    if (!seconds)
        return InvalidTime;
    // nearbyint uses the default rounding mode, round-half-to-even.
    const double ms = std::nearbyint(*seconds * 1000.0);
    if (!(std::fabs(ms) < InvalidTime))
        return InvalidTime;
    return static_cast<int>(ms);
}

double RunTimeSortValue(const QString& text)
{
    constexpr double NotATime = 2147483647.0;
    return ReadLocaleNumber(text).value_or(NotATime);
}

int CompareRunTimes(const QString& a, const QString& b)
{
    const double left = RunTimeSortValue(a);
    const double right = RunTimeSortValue(b);
    if (left < right)
        return -1;
    if (left > right)
        return 1;
    return 0;
}
