#pragma once

#include "ProtocolReport.h"

#include <QByteArray>
#include <QString>

class QIODevice;

// The protocol as a static HTML page: Windows-1252 bytes under an iso-8859-1
// declaration, CR LF line ends, a fixed head and header row, one line per data
// row with "&nbsp;" for an empty cell and the test-run cells opened by "<I>".
// Cell and title texts are escaped ("&", "<", ">" and '"' as entities,
// characters outside Windows-1252 as numeric character references, control
// characters as a blank), so that whatever a cell holds shows as typed and a
// row stays on one line.
QByteArray WebPageBytes(const ProtocolReport& report);

// Writes WebPageBytes to the device; false if the device took less than all of it.
bool WriteWebPage(QIODevice& device, const ProtocolReport& report);

// Writes the page through a temporary file that replaces fileName only once it
// is complete; a failed write leaves an older page as it was. On failure error
// holds "Error write file: " followed by fileName as given. Called off
// (ReadCancel.h), it writes nothing and returns false with error unchanged.
bool SaveWebPage(const QString& fileName, const ProtocolReport& report, QString& error);
