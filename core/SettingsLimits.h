#pragma once

// Limits of the values that other parts of the program index or time with.
inline constexpr int MinCountBahn = 1;
inline constexpr int MaxCountBahn = 2;
inline constexpr int MinProbeLaufe = 0;
inline constexpr int MaxProbeLaufe = 5;
inline constexpr int MinAllLaufe = 1;
inline constexpr int MaxAllLaufe = 6;
inline constexpr int MaxTimerGesperrt = 999 * 1000;
