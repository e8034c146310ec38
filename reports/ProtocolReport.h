#pragma once

#include "ProtocolText.h"

#include <QString>
#include <QStringList>

// The protocol as the web page and the printout show it, read once from the
// grid: the data rows in the grid's current order with the thirteen visible
// columns (the hidden load-order column left out), the program's title and the
// number of test runs, whose times are set in italics.
struct ProtocolReport
{
    QString Title;
    int ProbeLaufe = 0;
    ProtocolTable Rows; // kReportColumnCount cells each
};

inline constexpr int kReportColumnCount = 13;
inline constexpr int kReportFirstRunColumn = 5;

// "Nr.", "Name", ..., "Gesamt", "Platz": the fixed captions of the report's columns.
const QStringList& ReportHeaders();

// Takes the data rows of a protocol table whose row 0 is the header; missing
// cells become empty, cells beyond the thirteenth are dropped. probeLaufe is
// clamped to 0..5.
ProtocolReport ReadProtocolReport(const ProtocolTable& table, const QString& title, int probeLaufe);

// True for the test-run columns "Lauf1" to "Lauf<probeLaufe>".
bool IsTestRunColumn(int col, int probeLaufe);
