#pragma once

#include <QString>

// True when the system has the office automation class of that program
// identifier (e.g. "Excel.Application"). No workbook writer is built in yet,
// so no class counts as available.
bool OleClassAvailable(const QString& progId);
