#pragma once

#include <QList>
#include <QStringList>

class QByteArray;
class QDateTime;
class QIODevice;

// The protocol as the file functions see it: rows of cell texts. In a table
// handed to the writers row 0 is the header; the readers return data rows only.
using ProtocolTable = QList<QStringList>;

inline constexpr int kProtocolColumnCount = 14;

// Files larger than this are refused by LoadProtocolText; no starter list comes
// anywhere near it, so such a file is not a protocol.
inline constexpr qint64 kMaxProtocolFileSize = 64 * 1024 * 1024;

// A list with more starters is refused; a longer field is cut to this length.
inline constexpr int kMaxStarters = 100000;
inline constexpr int kMaxCellLength = 1000;

// What reading met beside the rows.
struct ProtocolReadReport
{
    bool TooManyRows = false; // reading stopped after kMaxStarters rows
    int CutCells = 0;         // fields cut to kMaxCellLength
};

// The tab-separated protocol text: columns 0 to colCount - 1 of every row, an
// empty or missing cell as a single blank, a TAB after every field (the last
// one included) and CR LF after every row. A TAB, CR or LF inside a cell is
// written as a blank so that it cannot break the line; a cell a spreadsheet
// would take for a formula gets an apostrophe in front (GuardedCellText),
// which the reader takes away again. Encoded with
// EncodeFileText (Windows-1252 when every character fits, else UTF-8 with BOM).
QByteArray ProtocolTextBytes(const ProtocolTable& rows, int colCount);

// Writes ProtocolTextBytes to the device; false if the device took less than all of it.
bool WriteProtocolText(QIODevice& device, const ProtocolTable& rows, int colCount);

// Saves through a temporary file in the target folder that replaces the target
// only once it is completely written, so a failed save leaves the previous file
// as it was. On failure, error holds a German message naming the file.
bool SaveProtocolText(const QString& fileName, const ProtocolTable& rows, int colCount, QString& error);

// The protocol as a CSV file: columns 0 to colCount - 1 of every row (a
// missing cell empty), ";" between cells, CR LF after every row. A cell a
// spreadsheet would take for a formula gets an apostrophe in front
// (GuardedCellText), a TAB becomes a blank (a line with a TAB reads as a TAB
// line), and a cell with ";", a double quote, CR or LF is put in double quotes
// with its quotes doubled. Encoded with EncodeFileText.
QByteArray ProtocolCsvBytes(const ProtocolTable& rows, int colCount);

// Saves ProtocolCsvBytes as SaveProtocolText saves the text: the previous file
// stays as it was on failure or when called off (ReadCancel.h); error then
// holds a German message naming the file.
bool SaveProtocolCsv(const QString& fileName, const ProtocolTable& rows, int colCount, QString& error);

// Reads a protocol text or a CSV file (decoded with DecodeFileText) into data
// rows of exactly kProtocolColumnCount cells.
// - CR LF, LF and a lone CR all end a line.
// - Empty lines, lines whose fields are all empty and header lines (beginning
//   with "Nr") are skipped wherever they stand.
// - A line with a TAB is split at TABs, any other at ";". Every separator ends
//   one field, so empty fields keep their columns; a separator at the end of a
//   line adds no field. An empty field, or one of blanks only (how the text
//   format writes an empty cell), leaves its cell empty, so a run cell stays
//   free for a time; other cells are not trimmed.
// - A line with a TAB is a TAB line whatever else it holds; quotes have no
//   meaning there. In ";" lines a field that begins with a double quote runs
//   to the matching quote, taking ";" and line breaks with it; "" inside
//   stands for one quote.
// - Fields beyond the kProtocolColumnCount-th are dropped; a field longer
//   than kMaxCellLength is cut.
// - Reading stops after kMaxStarters rows when there are more.
ProtocolTable ParseProtocolText(const QByteArray& bytes, ProtocolReadReport* report = nullptr);

// Reads the file and parses it into rows. If the file can't be read, is
// larger than kMaxProtocolFileSize or is no text (NUL bytes without a UTF-16
// byte-order mark, a zip or an old office file), returns false with a German
// message in error and leaves rows as they were; so does a list of more than
// kMaxStarters starters or of none (only blank or header lines). Cut fields are named in a German notice.
bool LoadProtocolText(const QString& fileName, ProtocolTable& rows, QString& error,
                      QString* notice = nullptr);

// "yyyy-MM-dd-hh-mm" on the 24-hour clock, every blank replaced by "0".
QString DefaultExportName(const QDateTime& when);
