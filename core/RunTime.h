#pragma once

#include <QString>

// Run times are whole milliseconds in a signed 32-bit integer. Their text form
// ("time text") is whole seconds, the locale's decimal separator and exactly two
// digits of hundredths, truncated: 12349 ms reads "12,34" on a German system.

// Marks a text that is not a time ("EL", anything non-numeric, out of range).
constexpr int InvalidTime = 1073741823;

// Seconds without group separators or leading zeros; a negative time keeps its
// sign ("-0,05") instead of producing a negative hundredths part.
QString FormatRunTime(int ms);

// Reads a decimal number in the default locale's format, times 1000, rounded to
// the nearest millisecond with halves to even. Non-numeric texts, texts with group
// separators, infinities and values whose magnitude reaches InvalidTime all give
// InvalidTime.
int ParseRunTime(const QString& text);

// -1, 0 or 1 by numeric value; an empty or non-numeric text counts as
// 2147483647, so such texts sort after every real time and equal to each other.
int CompareRunTimes(const QString& a, const QString& b);
// The number CompareRunTimes compares a text by: its value in the locale, or
// after every time for a text that is none ("EL", empty).
double RunTimeSortValue(const QString& text);
