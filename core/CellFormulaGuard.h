#pragma once

#include <QString>

// A CSV or text file of the protocol may be opened in a spreadsheet, which
// takes a cell beginning with "=", "+", "-", "@", TAB or CR for a formula (a
// name "=HYPERLINK(…)" would become a live link, "+49" a number). Such a cell
// is written with an apostrophe in front, as spreadsheets expect for text;
// numbers (a "-" before digits included) and times stay as they are. A cell
// that already begins with apostrophes before such a character gets one more,
// so reading back can always take exactly one away.
QString GuardedCellText(const QString& text);

// The cell as it was before GuardedCellText: one leading apostrophe fewer when
// apostrophes stand before a formula character, otherwise unchanged.
QString UnguardedCellText(const QString& text);
