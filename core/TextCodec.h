#pragma once

#include <QByteArray>
#include <QString>

// The text encoding of the program's files. Files are written in Windows-1252
// when every character fits and those bytes can't be taken for UTF-8, so
// ordinary protocols stay in the Western code page that spreadsheets expect;
// otherwise in UTF-8 with a byte-order mark. Reading takes a UTF-8 byte-order
// mark or valid UTF-8 as UTF-8, a UTF-16 byte-order mark as UTF-16, anything
// else as Windows-1252. Whatever is written this way reads back unchanged.

// The Windows-1252 byte of a character, or -1 when the code page has none.
int Windows1252Byte(char16_t c);
bool FitsWindows1252(const QString& text);
// Where a character stands in the code page's byte order: its Windows-1252
// byte, or for a character the code page lacks a value beyond every byte, in
// code point order. Different characters never share a key.
int Windows1252OrderKey(char16_t c);
QByteArray ToWindows1252(const QString& text); // unmappable characters become '?'
QString FromWindows1252(const QByteArray& bytes);

QByteArray EncodeFileText(const QString& text);
QString DecodeFileText(const QByteArray& bytes);
// True for UTF-16 text with its byte-order mark (which holds NUL bytes).
bool HasUtf16ByteOrderMark(const QByteArray& bytes);
