#pragma once

#include "ProtocolText.h"

#include <QByteArray>
#include <QDate>
#include <QString>

class QLocale;

// A number that a protocol cell stands for, so that a spreadsheet can sort and
// add it: a whole number without leading zeros (start numbers, places) or a
// time text with exactly two decimals after the locale's decimal separator
// ("31,25" on a German system). Every other text, "EL" and "012" included,
// stays text.
struct CellNumber
{
    bool isNumber = false;
    double value = 0;
    int decimals = 0;
};
CellNumber ProtocolCellNumber(const QString& text, const QLocale& locale);

// The block as an .xlsx workbook of one sheet named sheetName: every row of
// the block (row 0 the header, in bold), every cell with a thin border, numbers
// as numbers (times shown with two decimals), column widths from the longest
// text of each column, author "Tarnvik Software". It prints landscape, one
// page wide, with the header row on every page and the list's name (left) and
// the date (right) in the page header. False with the reason when the
// workbook can't be built (a cell beyond the format's limits, no room for the
// temporary files).
struct WorkbookPageHeader
{
    QString ListName;
    QDate Date;
};
bool ProtocolWorkbookBytes(const ProtocolTable& block, const QString& sheetName, QByteArray& bytes,
                           QString& reason, const WorkbookPageHeader& header = {});

// Saves the workbook under fileName, replacing an existing file only once the
// new one is complete. On failure error holds a German message naming the file.
bool SaveProtocolWorkbook(const QString& fileName, const ProtocolTable& block, const QString& sheetName,
                          QString& error, const WorkbookPageHeader& header = {});
