#pragma once

#include <QList>

// Why a run time is doubtful: a bouncing contact or a misaligned barrier gives
// a time no car can drive, and a lost edge one far from the field's.
enum class TimeDoubt { None, BelowMinimum, OutOfLine };

// The check of a new time against the stored minimum and the other times of the
// same run and class (all in hundredths of a second). A minimum of 0 or less is
// off. The field's median counts only once at least MinComparableTimes exist; a
// time below half or above twice that median is out of line.
inline constexpr int MinComparableTimes = 5;
TimeDoubt CheckRunTime(int hundredths, int minimumHundredths, const QList<int>& othersHundredths);
