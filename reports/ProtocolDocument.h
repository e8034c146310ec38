#pragma once

#include "ProtocolText.h"

#include <QByteArray>
#include <QString>

// Text as Word XML character data: markup escaped, characters XML can't hold
// dropped, TABs and line breaks as blanks.
QString WordXmlText(const QString& text);

// The paragraph of a template that the table replaces.
inline const QString kProtocolPlaceholder = QStringLiteral("[Protokoll]");

// A template's word/document.xml with the block as a table: one row per block
// row (row 0, the header, repeated on every page), one column per cell of the
// widest row, a thin border around and between all cells. Columns of numbers,
// times and places and other short columns are as wide as their longest text
// at the template's text size (fontHalfPoints; 0: 11 pt) and never wrap; the
// text columns share the rest of the landscape page. The table replaces
// the first paragraph directly in the body whose whole text is "[Protokoll]",
// or else goes first into the body; everything else stays byte for byte.
// False with a reason when the XML is broken or has no body.
// A non-empty title goes before the table as a paragraph of its own, in bold.
bool InsertProtocolTable(const QByteArray& documentXml, const ProtocolTable& block, QByteArray& result,
                         QString& reason, int fontHalfPoints = 0, const QString& title = {});

// The template's bytes (a .docx) with only word/document.xml changed as above.
bool ProtocolDocumentBytes(const QByteArray& templateBytes, const ProtocolTable& block, QByteArray& bytes,
                           QString& reason, const QString& title = {});

// Builds the document from the template file and saves it under fileName,
// replacing an existing file only once the new one is complete; the template
// is only read. On failure error holds a German message with the reason and
// the file name.
bool SaveProtocolDocument(const QString& templatePath, const QString& fileName, const ProtocolTable& block,
                          QString& error, const QString& title = {});
