#pragma once

#include "SortCompare.h"

#include <QString>
#include <vector>

// How one key column of a sort compares its texts.
struct TSortKeyPass
{
    TSortStyle Style = ssNormal;
    bool CaseSensitive = false;
    bool Descending = false;
    // Used by ssCustom; without it ssCustom compares as plain text.
    const TCustomCompare* Custom = nullptr;
};

// The order of one sort pass: element p of the result is the position in keys
// of the text that goes to place p. Texts that compare equal keep their
// positions' order in both directions, so passes run from the least to the most
// significant key give a multi-key order. Each distinct text is compared only
// with other distinct texts. Safe for comparisons that are not
// transitive (a custom one, or numeric-extended with '07' and '7').
std::vector<int> SortedPositions(std::vector<QString> keys, const TSortKeyPass& pass);

// The key columns of a sort: the primary column first, then the items of the
// comma text secondary list without the first one equal to the primary.
// Throws std::invalid_argument for an item that is not a whole number and
// std::out_of_range for a column outside 0..colCount-1.
std::vector<int> SortKeyColumns(int primary, const QString& secondaryIndex, int colCount);
