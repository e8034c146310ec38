#include "TextCodec.h"

#include <QStringDecoder>
#include <algorithm>
#include <array>

namespace {

// Unicode of the Windows-1252 bytes 0x80..0x9F; 0 where the code page has no character.
constexpr std::array<char16_t, 32> kHighControls = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

const QByteArray kUtf8Bom("\xEF\xBB\xBF");
const QByteArray kUtf16LeBom("\xFF\xFE");
const QByteArray kUtf16BeBom("\xFE\xFF");

// Checked in pieces that end on a character boundary, so that a large file
// needs no second copy of its text.
bool IsValidUtf8(const QByteArray& bytes)
{
    constexpr qsizetype kPiece = 64 * 1024;
    const QByteArrayView all(bytes);
    for (qsizetype start = 0; start < all.size();) {
        qsizetype end = std::min(start + kPiece, all.size());
        // Don't cut a sequence: step back over continuation bytes to its lead byte.
        for (int back = 0; end < all.size() && back < 3 && (static_cast<unsigned char>(all[end]) & 0xC0) == 0x80;
             ++back)
            --end;
        QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        const QString piece = utf8.decode(all.sliced(start, end - start));
        if (utf8.hasError())
            return false;
        start = end;
    }
    return true;
}

bool IsAscii(const QByteArray& bytes)
{
    for (char b : bytes) {
        if (static_cast<unsigned char>(b) >= 0x80)
            return false;
    }
    return true;
}

} // namespace

int Windows1252Byte(char16_t c)
{
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF))
        return c;
    for (int i = 0; i < int(kHighControls.size()); ++i) {
        if (kHighControls[i] != 0 && kHighControls[i] == c)
            return 0x80 + i;
    }
    return -1;
}

int Windows1252OrderKey(char16_t c)
{
    if (c >= 0x80 && c <= 0x9F)
        return c; // as read from a byte the code page leaves undefined
    const int byte = Windows1252Byte(c);
    if (byte >= 0)
        return byte;
    // After every byte, by code unit; surrogates (characters beyond U+FFFF) last.
    return 0x100 + (c >= 0xD800 && c <= 0xDFFF ? 0x10000 : 0) + c;
}

bool FitsWindows1252(const QString& text)
{
    for (QChar c : text) {
        if (Windows1252Byte(c.unicode()) < 0)
            return false;
    }
    return true;
}

QByteArray ToWindows1252(const QString& text)
{
    QByteArray bytes;
    bytes.reserve(text.size());
    for (QChar c : text) {
        const int b = Windows1252Byte(c.unicode());
        bytes.append(b < 0 ? '?' : char(b));
    }
    return bytes;
}

QString FromWindows1252(const QByteArray& bytes)
{
    QString text;
    text.reserve(bytes.size());
    for (char raw : bytes) {
        const auto b = static_cast<unsigned char>(raw);
        if (b >= 0x80 && b <= 0x9F && kHighControls[b - 0x80] != 0)
            text.append(QChar(kHighControls[b - 0x80]));
        else
            text.append(QChar(b));
    }
    return text;
}

QByteArray EncodeFileText(const QString& text)
{
    if (FitsWindows1252(text)) {
        QByteArray bytes = ToWindows1252(text);
        // Western bytes that also pass as UTF-8 ("Ã¼" is "ü" in UTF-8) would
        // read back as other text: such a file is written as UTF-8 instead.
        if (IsAscii(bytes) || !IsValidUtf8(bytes))
            return bytes;
    }
    return kUtf8Bom + text.toUtf8();
}

QString DecodeFileText(const QByteArray& bytes)
{
    if (bytes.startsWith(kUtf8Bom))
        return QString::fromUtf8(bytes.constData() + kUtf8Bom.size(), bytes.size() - kUtf8Bom.size());
    // A spreadsheet's "Unicode text" is UTF-16 with a byte-order mark.
    if (bytes.startsWith(kUtf16LeBom) || bytes.startsWith(kUtf16BeBom)) {
        QStringDecoder utf16(bytes.startsWith(kUtf16LeBom) ? QStringDecoder::Utf16LE : QStringDecoder::Utf16BE,
                             QStringDecoder::Flag::Stateless);
        return utf16.decode(QByteArrayView(bytes).sliced(2));
    }
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8.decode(bytes);
    if (!utf8.hasError())
        return text;
    return FromWindows1252(bytes);
}

bool HasUtf16ByteOrderMark(const QByteArray& bytes)
{
    return bytes.startsWith(kUtf16LeBom) || bytes.startsWith(kUtf16BeBom);
}
