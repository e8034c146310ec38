#pragma once

#include <QByteArray>
#include <QString>

// The text as UTF-16 with its byte-order mark, as a spreadsheet saves "Unicode text".
inline QByteArray Utf16WithBom(const QString& text, bool bigEndian)
{
    QByteArray bytes;
    for (QChar c : QChar(0xFEFF) + text) {
        const char high = char(c.unicode() >> 8);
        const char low = char(c.unicode() & 0xFF);
        bytes.append(bigEndian ? high : low);
        bytes.append(bigEndian ? low : high);
    }
    return bytes;
}
