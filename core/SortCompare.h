#pragma once

#include <QString>
#include <QStringList>
#include <functional>

// Comparison styles of the sortable grid, and the comparisons themselves as
// plain functions. Conversions use the default QLocale (decimal separator,
// date and time formats), never the C library's locale.

enum TSortStyle : unsigned char {
    ssAutomatic,
    ssNormal,
    ssNumeric,
    ssNumericExtended,
    ssDateTime,
    ssTime,
    ssCustom
};

using TCustomCompare = std::function<int(const QString&, const QString&)>;

// -1, 0 or 1 as a difference is below, at or above zero.
inline int CompareSign(double difference)
{
    return difference < 0 ? -1 : (difference > 0 ? 1 : 0);
}

// Windows-1252 byte order up to the first difference (characters outside the
// code page after all others, by code point); a prefix is smaller.
int ComparePlainText(const QString& a, const QString& b);
// By value after the locale's text-to-number conversion; plain text when either fails.
int CompareNumeric(const QString& a, const QString& b);
// The parts in which two texts differ, compared as integers ('Lauf 9' < 'Lauf 10').
int CompareNumericExtended(const QString& a, const QString& b);
int CompareDateTime(const QString& a, const QString& b);
int CompareTime(const QString& a, const QString& b);

// Only the ASCII letters A-Z are lowered.
QString AsciiLower(const QString& text);

// The locale conversions the styles use; false when the text does not convert.
bool TextToFloat(const QString& text, double& value);
bool TextToDateTime(const QString& text, double& value);
bool TextToTime(const QString& text, double& value);

// The style a column of texts would be detected as.
TSortStyle DetectSortStyleOf(const QStringList& texts);

// How classes are ordered: by the key their places are counted by (ClassKey),
// so that one class written two ways stays one block, compared as the column's
// kind found from those keys (numbers, times, dates or text).
TCustomCompare ClassCompareFor(const QStringList& classNames);
// The same on keys already made (ClassKey): the comparison of their kind.
TCustomCompare KeyCompareFor(const QStringList& classKeys);

// Splits a comma text list ("4, 11" or "\"4\",11") into its items.
QStringList SplitCommaText(const QString& text);
