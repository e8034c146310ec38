#pragma once

#include "ResultsList.h"

#include <QByteArray>
#include <QString>

// The results list as a Word document (.docx) made from scratch: the event's
// title and the date in the page header, "Seite n von m" in the footer, and
// per class its heading and a table (column titles repeated on a new page,
// places 1 to 3 in bold, starters without ranking marked). A class's table is
// kept on one page where it fits, and no row is split. A4, portrait, or
// landscape when more than three runs are shown. Texts are escaped.
bool ResultsDocumentBytes(const ResultsList& list, QByteArray& bytes, QString& reason);

// Writes the document through a temporary file that replaces fileName only
// once complete. Failed, error holds a German message with the reason and the
// file name; called off (ReadCancel.h), nothing is written, error unchanged.
bool SaveResultsDocument(const QString& fileName, const ResultsList& list, QString& error);
