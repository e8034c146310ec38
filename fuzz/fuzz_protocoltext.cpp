// The starter list reader: any bytes, as a text or CSV file would hold them.
#include "ProtocolText.h"

#include <QByteArray>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    ProtocolReadReport report;
    const ProtocolTable rows =
        ParseProtocolText(QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)), &report);
    if (rows.size() > kMaxStarters)
        __builtin_trap();
    for (const QStringList& row : rows) {
        if (row.size() != kProtocolColumnCount)
            __builtin_trap();
    }
    return 0;
}
