// The .xlsx reader. The input is the XML of the parts that vary, split at the
// first NUL byte: the worksheet, then the shared strings; the archive around
// them is built here, so the fuzzer spends its time in the XML and not in
// finding valid zip checksums.
#include "WorkbookReader.h"
#include "ZipMaker.h"

#include <QByteArray>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char*>(data), qsizetype(size));
    const qsizetype split = input.indexOf('\0');
    const QByteArray sheet = split < 0 ? input : input.left(split);
    const QByteArray strings = split < 0 ? QByteArray() : input.mid(split + 1);
    const QByteArray rels =
        "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
        "<Relationship Id=\"rId1\" Type=\"x/worksheet\" Target=\"worksheets/sheet1.xml\"/>"
        "<Relationship Id=\"rId2\" Type=\"x/sharedStrings\" Target=\"sharedStrings.xml\"/></Relationships>";
    const QByteArray workbook =
        "<workbook xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\">"
        "<sheets><sheet name=\"S\" sheetId=\"1\" r:id=\"rId1\"/></sheets></workbook>";
    const QByteArray zip = MakeZip({{QStringLiteral("xl/_rels/workbook.xml.rels"), rels},
                                    {QStringLiteral("xl/workbook.xml"), workbook},
                                    {QStringLiteral("xl/worksheets/sheet1.xml"), sheet},
                                    {QStringLiteral("xl/sharedStrings.xml"), strings}});
    ProtocolTable rows;
    QString reason;
    if (ParseWorkbook(zip, rows, reason) && rows.size() > kMaxWorkbookStarters + 1)
        __builtin_trap();
    // The raw bytes too: a broken archive must be refused, not crash.
    ParseWorkbook(input, rows, reason);
    return 0;
}
