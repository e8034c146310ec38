#pragma once

#include "ProtocolText.h"

#include <QByteArray>
#include <QString>

class QLocale;

// Limits that keep a broken or hostile workbook from filling the memory or
// holding the program up: a workbook holds at most this many starters below its
// header row (as many as a text list is made for) ...
inline constexpr int kMaxWorkbookStarters = 100000;
// ... no part of an .xlsx or .ods unpacks to more than this (LibreOffice's
// content.xml of 100,000 starters with every column filled stays below it), and
// the file itself is no larger ...
inline constexpr qint64 kMaxWorkbookPartSize = 256 * 1024 * 1024;
// ... all parts together unpack to no more than a base plus a multiple of the
// file's size (LibreOffice's files unpack to 30 times their size, a list of
// few different names to 60 times), so a
// small file can't make the program read hundreds of megabytes ...
inline constexpr qint64 kMaxWorkbookUnpacked = 384 * 1024 * 1024;
inline constexpr qint64 kWorkbookUnpackedBase = 8 * 1024 * 1024;
inline constexpr qint64 kWorkbookUnpackedPerByte = 80;
// ... their XML holds no more elements than 64 a starter row, and again no more
// than a base plus a multiple of the file's size (LibreOffice writes 0.5 to
// 1.2 an archive byte) ...
inline constexpr qint64 kMaxWorkbookElements = qint64(64) * (kMaxWorkbookStarters + 1);
inline constexpr qint64 kWorkbookElementsBase = 250000;
inline constexpr qint64 kWorkbookElementsPerByte = 2;
// ... and is nested no deeper than this (a spreadsheet's XML needs about 10) ...
inline constexpr int kMaxXmlDepth = 100;
// ... and no cell holds more characters than a spreadsheet cell can.
inline constexpr int kMaxWorkbookCellLength = 32767;

// A number cell's text in the locale's format without group separators: with
// the given number of decimals, or (decimals < 0) with as many as it needs, so
// 31.25 reads "31,25" and 12 reads "12" on a German system.
QString WorkbookNumberText(double value, int decimals, const QLocale& locale);

// The first worksheet of an .xlsx, .ods or .xls workbook (told apart by their
// contents, not by the file name): rows from the top until the first row whose
// column A is empty, each as exactly kProtocolColumnCount cell texts (further
// columns dropped, missing ones empty). Row 0 is the sheet's first row, the
// header. Numbers read as the sheet shows them (decimals of a fixed-decimal
// number format kept), in the locale's format.
// False with a German reason when the bytes are no workbook, are encrypted or
// broken, or break one of the limits above; rows is then left as it was.
bool ParseWorkbook(const QByteArray& bytes, ProtocolTable& rows, QString& reason);

// Whether the file begins as a workbook does (a zip archive or an old office
// file), whatever its name says; false when it can't be read.
bool IsWorkbookFile(const QString& fileName);

// Reads the file with ParseWorkbook. Also refuses a sheet without starters (A1
// empty, or a header row only). On failure error holds a German message naming
// the file and rows is left as it was.
bool LoadWorkbook(const QString& fileName, ProtocolTable& rows, QString& error);
