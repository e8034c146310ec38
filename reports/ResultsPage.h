#pragma once

#include "ResultsList.h"

#include <QByteArray>
#include <QString>

// The results list as a standalone HTML page in UTF-8: the event's title and
// the date, then one section per class with its heading and a table (places
// 1 to 3 in bold, starters without ranking marked). Every text is escaped
// ("&", "<", ">", '"' as entities, control characters as a blank), so a cell
// shows as typed. A printed page keeps a class together where it can.
QByteArray ResultsPageBytes(const ResultsList& list);

// Writes the page through a temporary file that replaces fileName only once
// complete. Failed, error holds a German message with the file name; called
// off (ReadCancel.h), nothing is written and error is unchanged.
bool SaveResultsPage(const QString& fileName, const ResultsList& list, QString& error);
