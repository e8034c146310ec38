// The .ods reader. The input is content.xml; the archive around it is built here.
#include "WorkbookReader.h"
#include "ZipMaker.h"

#include <QByteArray>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray content(reinterpret_cast<const char*>(data), qsizetype(size));
    const QByteArray zip = MakeZip({{QStringLiteral("mimetype"), "application/vnd.oasis.opendocument.spreadsheet"},
                                    {QStringLiteral("content.xml"), content}});
    ProtocolTable rows;
    QString reason;
    if (ParseWorkbook(zip, rows, reason)) {
        for (const QStringList& row : rows) {
            if (row.size() != kProtocolColumnCount)
                __builtin_trap();
        }
    }
    return 0;
}
