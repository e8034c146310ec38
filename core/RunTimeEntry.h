#pragma once

#include <QString>
#include <optional>

// What an operator typed into a run column, as the protocol is to keep it:
// empty text, "EL" (any case), or a time in the default locale's format, where
// a point is taken as the decimal separator too. A time is rewritten as time
// text with more than two decimals truncated ("31.259" gives "31,25" on a
// German system). Anything else, negative times included, gives nullopt.
std::optional<QString> RunTimeEntry(const QString& typed);
