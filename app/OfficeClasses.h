#pragma once

#include <QString>

// True when the program can serve the office automation class of that program
// identifier. "Excel.Application" is: the workbook writer and reader are built
// in, so the Excel button and file types need no office suite.
bool OleClassAvailable(const QString& progId);
