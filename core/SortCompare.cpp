#include "SortCompare.h"

#include "ProtocolLogic.h"
#include "TextCodec.h"

#include <QDate>
#include <QDateTime>
#include <QLocale>
#include <QTime>
#include <cmath>

namespace {

bool IsDigit(QChar c)
{
    return c >= u'0' && c <= u'9';
}

// The default locale as the conversions use it: group separators are not
// accepted, so "1.000" is not a number under a German locale.
// Kept between calls: the sort converts every key text.
const QLocale& ConversionLocale()
{
    static QLocale base;
    static QLocale conversion = [] {
        QLocale locale = base;
        locale.setNumberOptions(locale.numberOptions() | QLocale::RejectGroupSeparator);
        return locale;
    }();
    const QLocale current;
    if (!(current == base)) {
        base = current;
        conversion = current;
        conversion.setNumberOptions(current.numberOptions() | QLocale::RejectGroupSeparator);
    }
    return conversion;
}

// Days since 30 December 1899 with the time of day as fraction, the usual
// serial date-time value of office programs.
const QDate kDayZero(1899, 12, 30);

double SerialTime(const QTime& time)
{
    return time.msecsSinceStartOfDay() / 86400000.0;
}

double SerialDateTime(const QDateTime& dateTime)
{
    return double(kDayZero.daysTo(dateTime.date())) + SerialTime(dateTime.time());
}

// The locale's time formats, also without the time zone that long formats carry.
QStringList TimeFormats(const QLocale& locale)
{
    QStringList formats;
    for (QString format : {locale.timeFormat(QLocale::LongFormat), locale.timeFormat(QLocale::ShortFormat)}) {
        format.remove(QLatin1String(" t"));
        format = format.trimmed();
        if (!format.isEmpty() && !formats.contains(format))
            formats.append(format);
    }
    for (const char* format : {"H:mm:ss", "H:mm"}) {
        if (!formats.contains(QLatin1String(format)))
            formats.append(QLatin1String(format));
    }
    return formats;
}

QStringList DateFormats(const QLocale& locale)
{
    QStringList formats;
    const QString shortFormat = locale.dateFormat(QLocale::ShortFormat);
    formats.append(shortFormat);
    if (!shortFormat.contains(QLatin1String("yyyy")) && shortFormat.contains(QLatin1String("yy"))) {
        QString fourDigits = shortFormat;
        fourDigits.replace(QLatin1String("yy"), QLatin1String("yyyy"));
        formats.append(fourDigits);
    }
    formats.append(locale.dateFormat(QLocale::LongFormat));
    return formats;
}

bool HasDigit(const QString& text)
{
    for (QChar c : text) {
        if (IsDigit(c))
            return true;
    }
    return false;
}

} // namespace

QString AsciiLower(const QString& text)
{
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n && !(text[i] >= u'A' && text[i] <= u'Z'))
        ++i;
    if (i == n)
        return text;
    QString lowered = text;
    QChar* data = lowered.data();
    for (; i < n; ++i) {
        if (data[i] >= u'A' && data[i] <= u'Z')
            data[i] = QChar(data[i].unicode() + ('a' - 'A'));
    }
    return lowered;
}

int ComparePlainText(const QString& a, const QString& b)
{
    const qsizetype n = std::min(a.size(), b.size());
    const char16_t* pa = reinterpret_cast<const char16_t*>(a.constData());
    const char16_t* pb = reinterpret_cast<const char16_t*>(b.constData());
    for (qsizetype i = 0; i < n; ++i) {
        if (pa[i] != pb[i]) {
            // The byte order of the Western code page the files are kept in.
            const int ka = Windows1252OrderKey(pa[i]);
            const int kb = Windows1252OrderKey(pb[i]);
            return ka < kb ? -1 : 1;
        }
    }
    return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

bool TextToFloat(const QString& text, double& value)
{
    bool ok = false;
    const double converted = ConversionLocale().toDouble(text, &ok);
    if (!ok || !std::isfinite(converted))
        return false;
    value = converted;
    return true;
}

bool TextToTime(const QString& text, double& value)
{
    const QString trimmed = text.trimmed();
    if (!HasDigit(trimmed))
        return false;
    const QLocale locale;
    for (const QString& format : TimeFormats(locale)) {
        const QTime time = locale.toTime(trimmed, format);
        if (time.isValid()) {
            value = SerialTime(time);
            return true;
        }
    }
    return false;
}

bool TextToDateTime(const QString& text, double& value)
{
    const QString trimmed = text.trimmed();
    if (!HasDigit(trimmed))
        return false;
    const QLocale locale;
    const QStringList dates = DateFormats(locale);
    const QStringList times = TimeFormats(locale);
    for (const QString& date : dates) {
        for (const QString& time : times) {
            const QDateTime dateTime = locale.toDateTime(trimmed, date + u' ' + time);
            if (dateTime.isValid()) {
                value = SerialDateTime(dateTime);
                return true;
            }
        }
        const QDate day = locale.toDate(trimmed, date);
        if (day.isValid()) {
            value = double(kDayZero.daysTo(day));
            return true;
        }
    }
    return TextToTime(trimmed, value);
}

int CompareNumeric(const QString& a, const QString& b)
{
    double x = 0;
    double y = 0;
    if (!TextToFloat(a, x) || !TextToFloat(b, y))
        return ComparePlainText(a, b);
    return CompareSign(x - y);
}

int CompareDateTime(const QString& a, const QString& b)
{
    double x = 0;
    double y = 0;
    if (!TextToDateTime(a, x) || !TextToDateTime(b, y))
        return ComparePlainText(a, b);
    return CompareSign(x - y);
}

int CompareTime(const QString& a, const QString& b)
{
    double x = 0;
    double y = 0;
    if (!TextToTime(a, x) || !TextToTime(b, y))
        return ComparePlainText(a, b);
    return CompareSign(x - y);
}

int CompareNumericExtended(const QString& a, const QString& b)
{
    // An empty text comes before every other one.
    if (a.isEmpty() || b.isEmpty())
        return a.isEmpty() ? (b.isEmpty() ? 0 : -1) : 1;

    // Drop the positions where both texts hold the same non-digit; from the
    // last common position on, take the whole remainders.
    QString ra;
    QString rb;
    const qsizetype n = std::min(a.size(), b.size());
    for (qsizetype i = 0; i < n; ++i) {
        if (a[i] == b[i] && !IsDigit(a[i]))
            continue;
        if (i == n - 1) {
            ra += a.mid(i);
            rb += b.mid(i);
        } else {
            ra += a[i];
            rb += b[i];
        }
    }

    // Then drop equal trailing non-digits.
    const QString ca = ra;
    const QString cb = rb;
    const qsizetype m = std::min(ca.size(), cb.size());
    for (qsizetype k = 0; k < m; ++k) {
        const QChar x = ca[ca.size() - 1 - k];
        const QChar y = cb[cb.size() - 1 - k];
        if (x == y && !IsDigit(x)) {
            ra.chop(1);
            rb.chop(1);
        }
    }

    if (ra == rb)
        return 0;
    const QLocale& locale = ConversionLocale();
    bool okA = false;
    bool okB = false;
    const int x = locale.toInt(ra, &okA);
    const int y = locale.toInt(rb, &okB);
    if (!okA || !okB)
        return ComparePlainText(ra, rb);
    return x < y ? -1 : 1;
}

TSortStyle DetectSortStyleOf(const QStringList& texts)
{
    bool numeric = true;
    bool dateTime = true;
    bool time = true;
    double value = 0;
    for (const QString& text : texts) {
        if (numeric && !TextToFloat(text, value))
            numeric = false;
        if (time && !TextToTime(text, value))
            time = false;
        if (dateTime && !TextToDateTime(text, value))
            dateTime = false;
        if (!numeric && !time && !dateTime)
            break;
    }
    if (numeric)
        return ssNumeric;
    if (dateTime)
        return ssDateTime;
    if (time)
        return ssTime;
    return ssNormal;
}

QStringList SplitCommaText(const QString& text)
{
    // Items are separated by commas and blanks (any character up to the space);
    // double quotes group, and a doubled quote inside them stands for one.
    QStringList items;
    const qsizetype n = text.size();
    qsizetype p = 0;
    auto isBlank = [&](qsizetype i) { return i < n && text[i].unicode() <= u' '; };
    while (isBlank(p))
        ++p;
    while (p < n) {
        QString item;
        if (text[p] == u'"') {
            ++p;
            while (p < n) {
                if (text[p] == u'"') {
                    if (p + 1 < n && text[p + 1] == u'"') {
                        item += u'"';
                        p += 2;
                        continue;
                    }
                    ++p;
                    break;
                }
                item += text[p++];
            }
        } else {
            const qsizetype start = p;
            while (p < n && text[p].unicode() > u' ' && text[p] != u',')
                ++p;
            item = text.mid(start, p - start);
        }
        items.append(item);
        while (isBlank(p))
            ++p;
        if (p < n && text[p] == u',') {
            if (p + 1 == n)
                items.append(QString());
            do {
                ++p;
            } while (isBlank(p));
        }
    }
    return items;
}

TCustomCompare KeyCompareFor(const QStringList& classKeys)
{
    switch (DetectSortStyleOf(classKeys)) {
    case ssNumeric:
        return CompareNumeric;
    case ssDateTime:
        return CompareDateTime;
    case ssTime:
        return CompareTime;
    default:
        return ComparePlainText;
    }
}

TCustomCompare ClassCompareFor(const QStringList& classNames)
{
    QStringList keys;
    keys.reserve(classNames.size());
    for (const QString& name : classNames)
        keys.append(ClassKey(name));
    TCustomCompare byStyle = KeyCompareFor(keys);
    return [byStyle](const QString& a, const QString& b) { return byStyle(ClassKey(a), ClassKey(b)); };
}
