// The .xls reader as it runs inside quellorix-xls: compound file, BIFF8 records.
#include "XlsSheet.h"

#include <QByteArray>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray output = XlsSheetTransfer(QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)));
    if (!output.endsWith(".\n"))
        __builtin_trap();
    return 0;
}
