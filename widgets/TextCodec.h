#pragma once

#include <QByteArray>
#include <QString>

// The text encoding of the program's files. Files are written in Windows-1252
// when every character fits, so ordinary protocols stay in the Western code
// page that spreadsheets expect; otherwise in UTF-8 with a byte-order mark.
// Reading takes a byte-order mark or valid UTF-8 as UTF-8, anything else as
// Windows-1252. Whatever is written this way reads back unchanged.

// The Windows-1252 byte of a character, or -1 when the code page has none.
int Windows1252Byte(char16_t c);
bool FitsWindows1252(const QString& text);
QByteArray ToWindows1252(const QString& text); // unmappable characters become '?'
QString FromWindows1252(const QByteArray& bytes);

QByteArray EncodeFileText(const QString& text);
QString DecodeFileText(const QByteArray& bytes);
