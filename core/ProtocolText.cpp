#include "ProtocolText.h"

#include "CellFormulaGuard.h"
#include "FileReplace.h"
#include "ReadCancel.h"
#include "TextCodec.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QStringView>
#include <algorithm>

namespace {

bool IsLineBreak(QChar c)
{
    return c == u'\r' || c == u'\n';
}


// Splits decoded file text into data rows. One pass over the text; every
// record starts at the beginning of a line.
class ProtocolParser
{
public:
    explicit ProtocolParser(const QString& text)
        : m_text(text), m_data(text.constData()), m_size(text.size()), m_lastQuote(text.lastIndexOf(u'"'))
    {
    }

    ProtocolReadReport Report() const { return m_report; }

    ProtocolTable Parse()
    {
        ProtocolTable rows;
        qsizetype pos = 0;
        while (pos < m_text.size()) {
            if ((rows.size() & 0x3FF) == 0 && ReadCancelled())
                break; // called off: the caller drops what was read
            const qsizetype lineEnd = LineEnd(pos);
            if (lineEnd == pos || QStringView(m_text).sliced(pos, lineEnd - pos).startsWith(u"Nr")) {
                pos = NextLine(lineEnd);
                continue;
            }
            // A line with a TAB is a TAB line, whatever quotes it holds: the
            // text format has no quoting. Quotes count on ";" lines only.
            QStringList cells(kProtocolColumnCount);
            qsizetype next = 0;
            if (QStringView(m_text).sliced(pos, lineEnd - pos).contains(u'\t')) {
                ParseTabLine(pos, lineEnd, cells);
                next = NextLine(lineEnd);
            } else {
                next = ParseSemicolonRecord(pos, cells);
            }
            if (HasText(cells)) {
                // Stop at once: a huge file of short lines would otherwise
                // take gigabytes before it could be refused.
                if (rows.size() >= kMaxStarters) {
                    m_report.TooManyRows = true;
                    break;
                }
                rows.append(cells);
            }
            pos = next;
        }
        return rows;
    }

private:
    // The text format writes an empty cell as one blank: a field of blanks
    // only is an empty cell, so a run cell read back stays free for the next
    // time. Overlong fields are cut.
    QString CellOfField(QString field)
    {
        if (field.size() > kMaxCellLength) {
            field.truncate(kMaxCellLength);
            ++m_report.CutCells;
        }
        for (QChar c : field) {
            if (c != u' ')
                return UnguardedCellText(field);
        }
        return QString();
    }

    static bool HasText(const QStringList& cells)
    {
        for (const QString& cell : cells) {
            if (!cell.isEmpty())
                return true;
        }
        return false;
    }

    // Index of the CR or LF that ends the line starting at from, or the text's end.
    qsizetype LineEnd(qsizetype from) const
    {
        while (from < m_size && !IsLineBreak(m_data[from]))
            ++from;
        return from;
    }

    // Start of the line after the line end at `at` (CR LF, LF or a lone CR).
    qsizetype NextLine(qsizetype at) const
    {
        if (at < m_size && m_data[at] == u'\r') {
            ++at;
            if (at < m_size && m_data[at] == u'\n')
                ++at;
        } else if (at < m_size && m_data[at] == u'\n') {
            ++at;
        }
        return at;
    }

    void ParseTabLine(qsizetype begin, qsizetype lineEnd, QStringList& cells)
    {
        int field = 0;
        qsizetype start = begin;
        for (qsizetype i = begin; i < lineEnd && field < kProtocolColumnCount; ++i) {
            if (m_data[i] == u'\t') {
                cells[field++] = CellOfField(m_text.sliced(start, i - start));
                start = i + 1;
            }
        }
        if (field < kProtocolColumnCount && start < lineEnd)
            cells[field] = CellOfField(m_text.sliced(start, lineEnd - start));
    }

    // Parses one ";"-separated record, which may span lines inside quoted
    // fields, and returns where the next record starts.
    qsizetype ParseSemicolonRecord(qsizetype begin, QStringList& cells)
    {
        qsizetype i = begin;
        for (int field = 0;; ++field) {
            const bool keep = field < kProtocolColumnCount;
            QString value;
            // A quote with no other quote after it can't close and is taken as text.
            if (i < m_size && m_data[i] == u'"' && i < m_lastQuote) {
                ++i;
                while (i < m_size) {
                    if (m_data[i] == u'"') {
                        if (i + 1 < m_size && m_data[i + 1] == u'"') {
                            if (keep)
                                value.append(u'"');
                            i += 2;
                            continue;
                        }
                        ++i;
                        break;
                    }
                    qsizetype quote = m_text.indexOf(u'"', i);
                    if (quote < 0)
                        quote = m_size;
                    if (keep)
                        value.append(QStringView(m_text).sliced(i, quote - i));
                    i = quote;
                }
            }
            // Unquoted text, or whatever follows a closing quote up to the separator.
            const qsizetype start = i;
            while (i < m_size && m_data[i] != u';' && !IsLineBreak(m_data[i]))
                ++i;
            if (keep) {
                value.append(QStringView(m_text).sliced(start, i - start));
                cells[field] = CellOfField(std::move(value));
            }
            if (i >= m_size)
                return m_size;
            if (m_data[i] != u';')
                return NextLine(i);
            ++i;
            // A separator at the end of a line closes the last field and opens none.
            if (i >= m_size)
                return m_size;
            if (IsLineBreak(m_data[i]))
                return NextLine(i);
        }
    }

    const QString& m_text;
    const QChar* const m_data;
    const qsizetype m_size;
    const qsizetype m_lastQuote;
    ProtocolReadReport m_report;
};

QString FileTextCell(const QString& cell)
{
    if (cell.isEmpty())
        return QStringLiteral(" ");
    QString text = GuardedCellText(cell);
    for (QChar& c : text) {
        if (c == u'\t' || IsLineBreak(c))
            c = u' ';
    }
    return text;
}

bool NeedsCsvQuoting(const QString& field)
{
    for (QChar c : field) {
        if (c == u';' || c == u'"' || IsLineBreak(c))
            return true;
    }
    return false;
}

void AppendCsvField(QString& text, const QString& cell)
{
    QString field = GuardedCellText(cell);
    field.replace(u'\t', u' ');
    if (!NeedsCsvQuoting(field)) {
        text.append(field);
        return;
    }
    text.append(u'"');
    text.append(field.replace(u'"', QLatin1String("\"\"")));
    text.append(u'"');
}

QString ShownName(const QString& fileName)
{
    return QDir::toNativeSeparators(fileName);
}

QString SaveError(const QString& fileName, const QString& reason)
{
    return QStringLiteral("Das Protokoll konnte nicht in %1 gespeichert werden: %2")
        .arg(ShownName(fileName), reason);
}

QString ReadError(const QString& fileName)
{
    return QStringLiteral("Die Datei %1 kann nicht gelesen werden.").arg(ShownName(fileName));
}

// A workbook, a zipped document or any other binary file is not a starter
// list: its bytes would load as rows of garbage.
bool LooksLikeText(const QByteArray& bytes)
{
    if (HasUtf16ByteOrderMark(bytes))
        return true;
    static const QByteArray kBinaryStarts[] = {
        QByteArray("PK\x03\x04", 4), QByteArray("PK\x05\x06", 4),       // zip: xlsx, docx, ods
        QByteArray("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8),            // old office files: xls, doc
    };
    for (const QByteArray& start : kBinaryStarts) {
        if (bytes.startsWith(start))
            return false;
    }
    return !bytes.contains('\0');
}

} // namespace

QByteArray ProtocolTextBytes(const ProtocolTable& rows, int colCount)
{
    colCount = std::max(colCount, 0);
    QString text;
    text.reserve(rows.size() * (colCount * 8 + 2));
    for (const QStringList& row : rows) {
        for (int c = 0; c < colCount; ++c) {
            text.append(FileTextCell(c < row.size() ? row[c] : QString()));
            text.append(u'\t');
        }
        text.append(QStringLiteral("\r\n"));
    }
    return EncodeFileText(text);
}

bool WriteProtocolText(QIODevice& device, const ProtocolTable& rows, int colCount)
{
    const QByteArray bytes = ProtocolTextBytes(rows, colCount);
    return device.write(bytes) == bytes.size();
}

namespace {

bool SaveBytes(const QString& fileName, const QByteArray& bytes, QString& error)
{
    QString reason;
    // Called off while it was built: the file stays as it was.
    if (!ReadCancelled() && ReplaceFileContents(fileName, bytes, reason))
        return true;
    error = SaveError(fileName, reason);
    return false;
}

} // namespace

bool SaveProtocolText(const QString& fileName, const ProtocolTable& rows, int colCount, QString& error)
{
    return SaveBytes(fileName, ProtocolTextBytes(rows, colCount), error);
}

QByteArray ProtocolCsvBytes(const ProtocolTable& rows, int colCount)
{
    colCount = std::max(colCount, 0);
    QString text;
    text.reserve(rows.size() * (colCount * 8 + 2));
    for (qsizetype r = 0; r < rows.size(); ++r) {
        // A protocol of many thousand rows takes a while: a call-off stops early.
        if ((r & 0x3FF) == 0 && ReadCancelled())
            return QByteArray();
        const QStringList& row = rows[r];
        for (int c = 0; c < colCount; ++c) {
            if (c > 0)
                text.append(u';');
            AppendCsvField(text, c < row.size() ? row[c] : QString());
        }
        text.append(QStringLiteral("\r\n"));
    }
    return EncodeFileText(text);
}

bool SaveProtocolCsv(const QString& fileName, const ProtocolTable& rows, int colCount, QString& error)
{
    return SaveBytes(fileName, ProtocolCsvBytes(rows, colCount), error);
}

ProtocolTable ParseProtocolText(const QByteArray& bytes, ProtocolReadReport* report)
{
    const QString text = DecodeFileText(bytes);
    ProtocolParser parser(text);
    ProtocolTable rows = parser.Parse();
    if (report)
        *report = parser.Report();
    return rows;
}

bool LoadProtocolText(const QString& fileName, ProtocolTable& rows, QString& error, QString* notice)
{
    // Only regular files: a pipe or device could block or never end.
    if (!QFileInfo(fileName).isFile()) {
        error = ReadError(fileName);
        return false;
    }
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        error = ReadError(fileName);
        return false;
    }
    const QString tooLarge = QStringLiteral("Die Datei %1 ist größer als 64 MB und wird nicht geladen.");
    if (file.size() > kMaxProtocolFileSize) {
        error = tooLarge.arg(ShownName(fileName));
        return false;
    }
    const QByteArray bytes = file.read(kMaxProtocolFileSize + 1);
    if (file.error() != QFileDevice::NoError) {
        error = ReadError(fileName);
        return false;
    }
    if (bytes.size() > kMaxProtocolFileSize) {
        error = tooLarge.arg(ShownName(fileName));
        return false;
    }
    if (!LooksLikeText(bytes)) {
        error = QStringLiteral("Die Datei %1 ist keine Text- oder CSV-Datei.").arg(ShownName(fileName));
        return false;
    }
    ProtocolReadReport report;
    ProtocolTable read = ParseProtocolText(bytes, &report);
    if (report.TooManyRows) {
        error = QStringLiteral("Die Datei %1 enthält mehr als %2 Starter und wird nicht geladen.")
                    .arg(ShownName(fileName), QLocale(QLocale::German).toString(kMaxStarters));
        return false;
    }
    // A list of nothing would empty the protocol: refused as an empty sheet is.
    if (read.isEmpty()) {
        error = QStringLiteral("Die Datei %1 kann nicht geladen werden: sie enthält keine Starter (nur leere "
                               "Zeilen oder Kopfzeilen).")
                    .arg(ShownName(fileName));
        return false;
    }
    if (notice && report.CutCells > 0) {
        *notice = QStringLiteral("Die Datei %1 enthält Felder mit mehr als %3 Zeichen (%2); sie wurden auf %3 Zeichen gekürzt.")
                      .arg(ShownName(fileName), QString::number(report.CutCells),
                           QLocale(QLocale::German).toString(kMaxCellLength));
    }
    rows = std::move(read);
    return true;
}

QString DefaultExportName(const QDateTime& when)
{
    return QLocale().toString(when, u"yyyy-MM-dd-hh-mm").replace(u' ', u'0');
}
