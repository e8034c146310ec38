#pragma once

#include <QByteArray>

// The reading of an old .xls workbook (an OLE2 compound file holding a BIFF8
// "Workbook" stream). It runs in a process of its own (quellorix-xls), so a
// file that trips it up can't take the program down with it; the program
// turns its output back into rows (WorkbookReader).
//
// The output is UTF-8 text, one item a line:
//   "D1904"            the workbook counts dates from 1904
//   "R" cells          a row of the first worksheet, from the top down to the
//                      first row whose column A is empty; 14 fields joined by
//                      TAB, each empty or a type letter and its value:
//                      s text, b 0/1, e error text, n value|format, where the
//                      format is "#" and a built-in format number or the
//                      format code; TAB, CR, LF and "\" escaped with "\"
//   "F" reason         the file is refused (a German reason); nothing follows
//   "."                the end; output without it is cut off
// At most kXlsMaxRows rows are written: one more than a workbook may hold, so
// the program can tell a list that is too long.
inline constexpr int kXlsMaxRows = 100000 + 2;
// A larger .xls is refused before the reader starts.
inline constexpr qint64 kXlsMaxFileSize = 64 * 1024 * 1024;

QByteArray XlsSheetTransfer(const QByteArray& bytes);
