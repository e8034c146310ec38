#include "XlsSheet.h"

#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>
#include <algorithm>
#include <cstring>
#include <optional>
#include <vector>

namespace {

constexpr int kColumns = 14;
constexpr int kMaxCellLength = 32767;
// No stream of a workbook the program takes comes near this.
constexpr qsizetype kMaxStreamSize = 64 * 1024 * 1024;
constexpr quint32 kEndOfChain = 0xFFFFFFFE;

// Why the file is refused; the text completes "… kann nicht geladen werden: ".
struct Refusal
{
    QString reason;
};

Refusal Broken(const QString& what)
{
    return {QStringLiteral("sie ist beschädigt (%1)").arg(what)};
}

quint16 U16(const char* p)
{
    return quint16(quint8(p[0]) | quint8(p[1]) << 8);
}

quint32 U32(const char* p)
{
    return quint32(U16(p)) | quint32(U16(p + 2)) << 16;
}

double F64(const char* p)
{
    quint64 bits = 0;
    for (int i = 7; i >= 0; --i)
        bits = bits << 8 | quint8(p[i]);
    double value = 0;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

// "A1" for zero-based row and column.
QString CellName(int row, int col)
{
    QString letters;
    for (int c = col + 1; c > 0; c = (c - 1) / 26)
        letters.prepend(QChar(u'A' + (c - 1) % 26));
    return letters + QString::number(row + 1);
}

// ---------------------------------------------------------------------------
// The compound file around the workbook stream: sectors chained by a table.

class CompoundFile
{
public:
    explicit CompoundFile(const QByteArray& bytes) : m_bytes(bytes) {}

    // The named stream (compared without case); false with a reason.
    std::optional<Refusal> Stream(QStringView name, QByteArray& out, bool& found)
    {
        found = false;
        if (m_bytes.size() < 512 || !m_bytes.startsWith("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1"))
            return Broken(QStringLiteral("Kopf"));
        const char* head = m_bytes.constData();
        const int shift = U16(head + 0x1E);
        if (shift != 9 && shift != 12)
            return Broken(QStringLiteral("Sektorgröße"));
        m_sectorSize = qsizetype(1) << shift;
        if (U16(head + 0x20) != 6)
            return Broken(QStringLiteral("Sektorgröße"));
        // A last sector cut short reads as if filled with zeros.
        const qsizetype whole = (m_bytes.size() + m_sectorSize - 1) / m_sectorSize * m_sectorSize;
        if (whole != m_bytes.size())
            m_bytes.append(QByteArray(whole - m_bytes.size(), '\0'));
        head = m_bytes.constData();
        m_sectorCount = quint32(m_bytes.size() / m_sectorSize - 1);

        if (auto r = ReadFat(head))
            return r;
        QByteArray directory;
        if (auto r = Chain(m_fat, U32(head + 0x30), directory, false))
            return r;
        const quint32 cutoff = U32(head + 0x38);
        // The root entry holds the mini stream, where the small streams live.
        if (directory.size() < 128 || directory.at(66) != 5)
            return Broken(QStringLiteral("Verzeichnis"));
        for (qsizetype at = 0; at + 128 <= directory.size(); at += 128) {
            const char* entry = directory.constData() + at;
            const int nameBytes = U16(entry + 64);
            if (entry[66] != 2 || nameBytes < 2 || nameBytes > 64)
                continue;
            const QString entryName =
                QString::fromUtf16(reinterpret_cast<const char16_t*>(entry), nameBytes / 2 - 1);
            if (entryName.compare(name, Qt::CaseInsensitive) != 0)
                continue;
            found = true;
            const quint64 size = U32(entry + 120) | (shift == 12 ? quint64(U32(entry + 124)) << 32 : 0);
            if (size > quint64(kMaxStreamSize))
                return Broken(QStringLiteral("Datenstrom zu groß"));
            if (size < cutoff) {
                QByteArray miniStream;
                QList<quint32> miniFat;
                if (auto r = Chain(m_fat, U32(directory.constData() + 116), miniStream, true))
                    return r;
                if (auto r = ReadMiniFat(head, miniFat))
                    return r;
                if (auto r = MiniChain(miniFat, miniStream, U32(entry + 116), out))
                    return r;
            } else if (auto r = Chain(m_fat, U32(entry + 116), out, false)) {
                return r;
            }
            if (quint64(out.size()) < size)
                return Broken(QStringLiteral("Datenstrom zu kurz"));
            out.truncate(qsizetype(size));
            return std::nullopt;
        }
        return std::nullopt;
    }

private:
    const char* Sector(quint32 id) const { return m_bytes.constData() + (qsizetype(id) + 1) * m_sectorSize; }

    std::optional<Refusal> ReadFat(const char* head)
    {
        const quint32 fatSectors = U32(head + 0x2C);
        if (fatSectors > m_sectorCount)
            return Broken(QStringLiteral("Sektortabelle"));
        QList<quint32> fatIds;
        for (int i = 0; i < 109 && quint32(fatIds.size()) < fatSectors; ++i)
            fatIds.append(U32(head + 0x4C + 4 * i));
        quint32 difat = U32(head + 0x44);
        const qsizetype perSector = m_sectorSize / 4 - 1;
        for (quint32 steps = 0; quint32(fatIds.size()) < fatSectors; ++steps) {
            if (difat >= m_sectorCount || steps > m_sectorCount)
                return Broken(QStringLiteral("Sektortabelle"));
            const char* s = Sector(difat);
            for (qsizetype i = 0; i < perSector && quint32(fatIds.size()) < fatSectors; ++i)
                fatIds.append(U32(s + 4 * i));
            difat = U32(s + 4 * perSector);
        }
        for (quint32 id : std::as_const(fatIds)) {
            if (id >= m_sectorCount)
                return Broken(QStringLiteral("Sektortabelle"));
            const char* s = Sector(id);
            for (qsizetype i = 0; i < m_sectorSize / 4 && quint32(m_fat.size()) < m_sectorCount; ++i)
                m_fat.append(U32(s + 4 * i));
        }
        return std::nullopt;
    }

    std::optional<Refusal> ReadMiniFat(const char* head, QList<quint32>& miniFat)
    {
        QByteArray bytes;
        if (U32(head + 0x40) == 0)
            return std::nullopt;
        if (auto r = Chain(m_fat, U32(head + 0x3C), bytes, false))
            return r;
        for (qsizetype at = 0; at + 4 <= bytes.size(); at += 4)
            miniFat.append(U32(bytes.constData() + at));
        return std::nullopt;
    }

    // Follows a chain of sectors; every step must lead to a sector of the file,
    // and a chain can't be longer than the file, so a loop ends.
    std::optional<Refusal> Chain(const QList<quint32>& fat, quint32 id, QByteArray& out, bool mayBeEmpty) const
    {
        out.clear();
        if (mayBeEmpty && id == kEndOfChain)
            return std::nullopt;
        for (quint32 steps = 0; id != kEndOfChain; ++steps) {
            if (id >= m_sectorCount || id >= quint32(fat.size()) || steps >= m_sectorCount ||
                out.size() >= kMaxStreamSize)
                return Broken(QStringLiteral("Sektorkette"));
            out.append(Sector(id), m_sectorSize);
            id = fat.at(id);
        }
        return std::nullopt;
    }

    static std::optional<Refusal> MiniChain(const QList<quint32>& miniFat, const QByteArray& miniStream,
                                            quint32 id, QByteArray& out)
    {
        out.clear();
        for (quint32 steps = 0; id != kEndOfChain; ++steps) {
            const qsizetype at = qsizetype(id) * 64;
            if (id >= quint32(miniFat.size()) || at + 64 > miniStream.size() || steps > quint32(miniFat.size()))
                return Broken(QStringLiteral("Sektorkette"));
            out.append(miniStream.constData() + at, 64);
            id = miniFat.at(id);
        }
        return std::nullopt;
    }

    QByteArray m_bytes;
    qsizetype m_sectorSize = 512;
    quint32 m_sectorCount = 0;
    QList<quint32> m_fat;
};

// ---------------------------------------------------------------------------
// The BIFF8 records of the workbook stream.

struct Record
{
    quint16 type = 0;
    const char* data = nullptr;
    int size = 0;
};

class Records
{
public:
    Records(const QByteArray& stream, qsizetype at) : m_stream(stream), m_at(at) {}

    // False at the stream's end or at a record that runs past it.
    bool Next(Record& record)
    {
        if (m_at < 0 || m_at + 4 > m_stream.size())
            return false;
        const char* head = m_stream.constData() + m_at;
        record.type = U16(head);
        record.size = U16(head + 2);
        if (m_at + 4 + record.size > m_stream.size()) {
            m_cut = true;
            return false;
        }
        record.data = head + 4;
        m_at += 4 + record.size;
        return true;
    }
    bool Cut() const { return m_cut; }

private:
    const QByteArray& m_stream;
    qsizetype m_at = 0;
    bool m_cut = false;
};

// Reads the characters of a string that may go on in CONTINUE records, where
// each piece starts again with a byte saying how its characters are stored.
class PieceReader
{
public:
    void Add(const char* data, int size) { m_pieces.append({data, size}); }
    bool AtEnd() const { return m_piece >= m_pieces.size(); }

    bool Bytes(int count, QByteArray* out)
    {
        while (count > 0) {
            if (!Available())
                return false;
            const int take = std::min(count, m_pieces[m_piece].second - m_at);
            if (out)
                out->append(m_pieces[m_piece].first + m_at, take);
            m_at += take;
            count -= take;
        }
        return true;
    }
    bool U16Value(quint16& value)
    {
        QByteArray b;
        if (!Bytes(2, &b))
            return false;
        value = U16(b.constData());
        return true;
    }
    bool U32Value(quint32& value)
    {
        QByteArray b;
        if (!Bytes(4, &b))
            return false;
        value = U32(b.constData());
        return true;
    }

    // An XLUnicodeString of cch characters (flags already read); keeps at most
    // kMaxCellLength + 1 characters, enough to tell a cell that is too long.
    bool Characters(quint32 cch, bool wide, QString& text)
    {
        while (cch > 0) {
            if (!Available())
                return false;
            if (m_at == 0 && m_started) {
                // A new piece: its first byte tells how the rest is stored.
                wide = (m_pieces[m_piece].first[0] & 1) != 0;
                ++m_at;
                if (!Available())
                    return false;
            }
            m_started = true;
            const int width = wide ? 2 : 1;
            const int fit = (m_pieces[m_piece].second - m_at) / width;
            if (fit == 0)
                return false;
            const int take = int(std::min<quint32>(cch, quint32(fit)));
            const char* p = m_pieces[m_piece].first + m_at;
            if (text.size() <= kMaxCellLength) {
                const int keep = std::min<int>(take, kMaxCellLength + 1 - int(text.size()));
                if (wide) {
                    for (int i = 0; i < keep; ++i)
                        text.append(QChar(U16(p + 2 * i)));
                } else {
                    text.append(QString::fromLatin1(p, keep));
                }
            }
            m_at += take * width;
            cch -= quint32(take);
        }
        return true;
    }

    // A string as BIFF8 stores it: count, flags, runs and extras.
    bool UnicodeString(QString& text, bool byteCount = false)
    {
        quint16 cch = 0;
        if (byteCount) {
            QByteArray b;
            if (!Bytes(1, &b))
                return false;
            cch = quint8(b[0]);
        } else if (!U16Value(cch)) {
            return false;
        }
        QByteArray flagByte;
        if (!Bytes(1, &flagByte))
            return false;
        const int flags = quint8(flagByte[0]);
        quint16 runs = 0;
        quint32 extra = 0;
        if ((flags & 0x08) && !U16Value(runs))
            return false;
        if ((flags & 0x04) && !U32Value(extra))
            return false;
        m_started = false;
        if (!Characters(cch, flags & 1, text))
            return false;
        m_started = true;
        return Skip(qint64(runs) * 4 + extra);
    }

private:
    bool Available()
    {
        while (m_piece < m_pieces.size() && m_at >= m_pieces[m_piece].second) {
            ++m_piece;
            m_at = 0;
        }
        return m_piece < m_pieces.size();
    }
    bool Skip(qint64 count)
    {
        while (count > 0) {
            if (!Available())
                return false;
            const int take = int(std::min<qint64>(count, m_pieces[m_piece].second - m_at));
            m_at += take;
            count -= take;
        }
        return true;
    }

    QList<std::pair<const char*, int>> m_pieces;
    qsizetype m_piece = 0;
    int m_at = 0;
    bool m_started = true;
};

QString Escaped(const QString& text)
{
    QString out;
    out.reserve(text.size());
    for (QChar c : text) {
        if (c == u'\\')
            out += QStringLiteral("\\\\");
        else if (c == u'\t')
            out += QStringLiteral("\\t");
        else if (c == u'\n')
            out += QStringLiteral("\\n");
        else if (c == u'\r')
            out += QStringLiteral("\\r");
        else
            out += c;
    }
    return out;
}

QString ErrorText(int code)
{
    switch (code) {
    case 0x00:
        return QStringLiteral("#NULL!");
    case 0x07:
        return QStringLiteral("#DIV/0!");
    case 0x0F:
        return QStringLiteral("#VALUE!");
    case 0x17:
        return QStringLiteral("#REF!");
    case 0x1D:
        return QStringLiteral("#NAME?");
    case 0x24:
        return QStringLiteral("#NUM!");
    default:
        return QStringLiteral("#N/A");
    }
}

double RkValue(quint32 rk)
{
    double value = 0;
    if (rk & 2) {
        value = double(qint32(rk) >> 2);
    } else {
        const quint64 bits = quint64(rk & 0xFFFFFFFC) << 32;
        std::memcpy(&value, &bits, sizeof value);
    }
    return (rk & 1) ? value / 100 : value;
}

// Whether a formula (its parsed tokens) always gives text: its last operation
// joins texts ("&"), is a text constant or a text function. Some programs store
// no result for such a formula but a 0, which must not be read as its value.
bool FormulaGivesText(const char* tokens, int size)
{
    int at = 0;
    int last = -1;
    int lastFunction = -1;
    while (at < size) {
        const int ptg = quint8(tokens[at]);
        ++at;
        int operand = 0;
        const int base = ptg >= 0x20 ? (ptg & 0x1F) | 0x20 : ptg;
        if (ptg >= 0x03 && ptg <= 0x16) {
            operand = 0;
        } else if (ptg == 0x17) {
            if (at + 2 > size)
                return false;
            const int cch = quint8(tokens[at]);
            operand = 2 + cch * ((tokens[at + 1] & 1) ? 2 : 1);
        } else if (ptg == 0x19) {
            if (at + 3 > size)
                return false;
            const int flags = quint8(tokens[at]);
            operand = 3 + ((flags & 0x04) ? (U16(tokens + at + 1) + 1) * 2 : 0);
        } else {
            switch (base) {
            case 0x01: case 0x02: case 0x23: case 0x24: case 0x2A: case 0x2C: operand = 4; break;
            case 0x1C: case 0x1D: operand = 1; break;
            case 0x1E: case 0x21: case 0x29: operand = 2; break;
            case 0x1F: case 0x25: case 0x2B: case 0x2D: operand = 8; break;
            case 0x20: operand = 7; break;
            case 0x22: operand = 3; break;
            case 0x26: case 0x27: case 0x28: case 0x39: case 0x3A: case 0x3C: operand = 6; break;
            case 0x3B: case 0x3D: operand = 10; break;
            default: return false; // a token this reading doesn't know: take the stored result
            }
        }
        if (at + operand > size)
            return false;
        // An attribute (a space, a jump) doesn't change what the formula gives.
        if (ptg != 0x19) {
            last = ptg;
            lastFunction = base == 0x21 || base == 0x22 ? U16(tokens + at + (base == 0x22 ? 1 : 0)) & 0x7FFF : -1;
        }
        at += operand;
    }
    static const int kTextFunctions[] = {30, 31, 48, 112, 113, 114, 115, 116, 118, 119, 120, 130, 336};
    if (lastFunction >= 0)
        return std::find(std::begin(kTextFunctions), std::end(kTextFunctions), lastFunction) !=
               std::end(kTextFunctions);
    return last == 0x08 || last == 0x17;
}

// A formula whose text result is still to come in a STRING record.
constexpr QChar kPendingFormula = u'?';

class Workbook
{
public:
    explicit Workbook(const QByteArray& stream) : m_stream(stream) {}

    std::optional<Refusal> Read()
    {
        Records records(m_stream, 0);
        Record r;
        if (!records.Next(r) || r.type != 0x0809 || r.size < 4)
            return Broken(QStringLiteral("Arbeitsmappe"));
        if (U16(r.data) != 0x0600)
            return Refusal{QStringLiteral("sie ist in einem zu alten Excel-Format gespeichert; bitte im "
                                          "Tabellenprogramm als .xlsx oder .ods speichern und diese Datei laden")};
        qint64 sheetAt = -1;
        PieceReader sst;
        bool inSst = false;
        bool sstSeen = false;
        while (records.Next(r) && r.type != 0x000A) {
            if (r.type != 0x003C)
                inSst = false;
            switch (r.type) {
            case 0x002F: // FILEPASS
                return Refusal{QStringLiteral("sie ist verschlüsselt oder mit einem Kennwort geschützt")};
            case 0x0022: // DATEMODE
                if (r.size >= 2)
                    m_from1904 = U16(r.data) == 1;
                break;
            case 0x041E: // FORMAT
                if (r.size >= 2) {
                    PieceReader reader;
                    reader.Add(r.data + 2, r.size - 2);
                    QString code;
                    if (reader.UnicodeString(code))
                        m_formats.insert(U16(r.data), code);
                }
                break;
            case 0x00E0: // XF
                if (r.size >= 4 && m_xfFormats.size() < 65536)
                    m_xfFormats.append(U16(r.data + 2));
                break;
            case 0x0085: // BOUNDSHEET: the first worksheet
                if (r.size >= 6 && sheetAt < 0 && quint8(r.data[5]) == 0)
                    sheetAt = U32(r.data);
                break;
            case 0x00FC: // SST
                if (!sstSeen) {
                    sst.Add(r.data, r.size);
                    inSst = sstSeen = true;
                }
                break;
            case 0x003C: // CONTINUE
                if (inSst)
                    sst.Add(r.data, r.size);
                break;
            default:
                break;
            }
        }
        if (records.Cut() || sheetAt < 0 || sheetAt >= m_stream.size())
            return Broken(QStringLiteral("Arbeitsmappe"));
        if (auto refusal = ReadStrings(sst))
            return refusal;
        return ReadSheet(qsizetype(sheetAt));
    }

    QByteArray Transfer() const
    {
        QString out;
        if (m_from1904)
            out += QStringLiteral("D1904\n");
        for (int row = 0; row < int(m_rows.size()); ++row) {
            const QStringList& cells = m_rows[size_t(row)];
            if (cells.isEmpty() || cells.constFirst().isEmpty())
                break;
            for (int col = 0; col < kColumns; ++col) {
                if (cells[col].startsWith(kPendingFormula))
                    return Refused(QStringLiteral("die Formel in Zelle %1 hat kein gespeichertes Ergebnis; "
                                                  "bitte im Tabellenprogramm als .xlsx oder .ods speichern "
                                                  "und diese Datei laden")
                                       .arg(CellName(row, col)));
            }
            out += u'R' + cells.join(u'\t') + u'\n';
        }
        out += QStringLiteral(".\n");
        return out.toUtf8();
    }

    static QByteArray Refused(const QString& reason) { return (u'F' + reason + QStringLiteral("\n.\n")).toUtf8(); }

private:
    std::optional<Refusal> ReadStrings(PieceReader& sst)
    {
        if (sst.AtEnd())
            return std::nullopt;
        quint32 total = 0;
        quint32 unique = 0;
        if (!sst.U32Value(total) || !sst.U32Value(unique))
            return Broken(QStringLiteral("Texttabelle"));
        // Every string takes at least three bytes, so the count can't exceed the stream.
        if (unique > quint32(m_stream.size() / 3))
            return Broken(QStringLiteral("Texttabelle"));
        m_strings.reserve(unique);
        for (quint32 i = 0; i < unique; ++i) {
            QString text;
            if (!sst.UnicodeString(text))
                return Broken(QStringLiteral("Texttabelle"));
            m_strings.append(text);
        }
        return std::nullopt;
    }

    QString NumberField(double value, int xf) const
    {
        const quint16 format = xf >= 0 && xf < m_xfFormats.size() ? m_xfFormats.at(xf) : 0;
        const auto custom = m_formats.constFind(format);
        const QString shape = custom != m_formats.cend() ? u'=' + *custom : u'#' + QString::number(format);
        return u'n' + QString::number(value, 'g', 17) + u'|' + Escaped(shape);
    }

    static QString TextField(const QString& text) { return text.isEmpty() ? QString() : u's' + Escaped(text); }

    void Set(int row, int col, QString field)
    {
        if (row < 0 || row >= kXlsMaxRows || col < 0 || col >= kColumns)
            return;
        if (size_t(row) >= m_rows.size())
            m_rows.resize(size_t(row) + 1);
        QStringList& cells = m_rows[size_t(row)];
        if (cells.isEmpty())
            cells = QStringList(kColumns);
        cells[col] = std::move(field);
    }

    std::optional<Refusal> ReadSheet(qsizetype at)
    {
        Records records(m_stream, at);
        Record r;
        if (!records.Next(r) || r.type != 0x0809)
            return Broken(QStringLiteral("Tabelle"));
        int depth = 1;
        int pendingRow = -1;
        int pendingCol = -1;
        while (depth > 0 && records.Next(r)) {
            if (r.type == 0x0809) {
                ++depth; // an embedded chart or other substream
                continue;
            }
            if (r.type == 0x000A) {
                --depth;
                continue;
            }
            if (depth != 1 || r.size < 6)
                continue;
            const int row = U16(r.data);
            const int col = U16(r.data + 2);
            const int xf = U16(r.data + 4);
            switch (r.type) {
            case 0x0203: // NUMBER
                if (r.size >= 14)
                    Set(row, col, NumberField(F64(r.data + 6), xf));
                break;
            case 0x027E: // RK
                if (r.size >= 10)
                    Set(row, col, NumberField(RkValue(U32(r.data + 6)), xf));
                break;
            case 0x00BD: // MULRK
                for (int i = 0; 6 + 6 * i + 6 <= r.size; ++i)
                    Set(row, col + i, NumberField(RkValue(U32(r.data + 6 + 6 * i)), U16(r.data + 4 + 6 * i)));
                break;
            case 0x00FD: { // LABELSST
                if (r.size < 10)
                    break;
                const quint32 index = U32(r.data + 6);
                if (index >= quint32(m_strings.size()))
                    return Broken(QStringLiteral("Textverweis in %1").arg(CellName(row, col)));
                Set(row, col, TextField(m_strings.at(index)));
                break;
            }
            case 0x0204:   // LABEL
            case 0x00D6: { // RSTRING
                PieceReader reader;
                reader.Add(r.data + 6, r.size - 6);
                QString text;
                if (!reader.UnicodeString(text))
                    return Broken(QStringLiteral("Text in %1").arg(CellName(row, col)));
                Set(row, col, TextField(text));
                break;
            }
            case 0x0205: // BOOLERR
                if (r.size >= 8)
                    Set(row, col,
                        r.data[7] ? u'e' + ErrorText(quint8(r.data[6]))
                                  : QStringLiteral("b%1").arg(r.data[6] ? 1 : 0));
                break;
            case 0x0006: { // FORMULA: its stored result
                if (r.size < 20)
                    break;
                const char* result = r.data + 6;
                if (U16(result + 6) != 0xFFFF) {
                    const int tokens = r.size >= 22 ? U16(r.data + 20) : 0;
                    const bool text = tokens > 0 && 22 + tokens <= r.size && FormulaGivesText(r.data + 22, tokens);
                    Set(row, col, text ? QString(kPendingFormula) : NumberField(F64(result), xf));
                } else if (result[0] == 0) {
                    Set(row, col, kPendingFormula);
                    pendingRow = row;
                    pendingCol = col;
                } else if (result[0] == 1) {
                    Set(row, col, QStringLiteral("b%1").arg(result[2] ? 1 : 0));
                } else if (result[0] == 2) {
                    Set(row, col, u'e' + ErrorText(quint8(result[2])));
                } else {
                    Set(row, col, QString());
                }
                break;
            }
            case 0x0207: { // STRING: the text result of the formula before it
                if (pendingRow < 0)
                    break;
                PieceReader reader;
                reader.Add(r.data, r.size);
                QString text;
                if (!reader.UnicodeString(text))
                    return Broken(QStringLiteral("Formelergebnis in %1").arg(CellName(pendingRow, pendingCol)));
                Set(pendingRow, pendingCol, TextField(text));
                pendingRow = -1;
                break;
            }
            default:
                break;
            }
        }
        if (records.Cut())
            return Broken(QStringLiteral("Tabelle"));
        return std::nullopt;
    }

    const QByteArray& m_stream;
    bool m_from1904 = false;
    QMap<quint16, QString> m_formats;
    QList<quint16> m_xfFormats;
    QStringList m_strings;
    std::vector<QStringList> m_rows;
};

} // namespace

QByteArray XlsSheetTransfer(const QByteArray& bytes)
{
    CompoundFile file(bytes);
    QByteArray stream;
    bool found = false;
    if (auto r = file.Stream(u"Workbook", stream, found))
        return Workbook::Refused(r->reason);
    if (!found) {
        bool oldFound = false;
        file.Stream(u"Book", stream, oldFound);
        if (oldFound)
            return Workbook::Refused(QStringLiteral("sie ist in einem zu alten Excel-Format gespeichert; bitte "
                                                    "im Tabellenprogramm als .xlsx oder .ods speichern und diese "
                                                    "Datei laden"));
        return Workbook::Refused(QStringLiteral("sie ist verschlüsselt oder keine Arbeitsmappe"));
    }
    Workbook workbook(stream);
    if (auto r = workbook.Read())
        return Workbook::Refused(r->reason);
    return workbook.Transfer();
}
