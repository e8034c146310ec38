#include "XlsSheet.h"

#include <cstdio>
#include <unistd.h>

// quellorix-xls: reads an .xls workbook from standard input and writes its
// first sheet to standard output (XlsSheet.h). The program starts it for every
// .xls it loads, with limits on memory and time, so a hostile file can at worst
// end this process.
int main()
{
    QByteArray bytes;
    char chunk[65536];
    for (;;) {
        const ssize_t count = ::read(STDIN_FILENO, chunk, sizeof chunk);
        if (count == 0)
            break;
        if (count < 0)
            return 2;
        if (bytes.size() + count > kXlsMaxFileSize)
            return 3;
        bytes.append(chunk, qsizetype(count));
    }
    const QByteArray result = XlsSheetTransfer(bytes);
    return std::fwrite(result.constData(), 1, size_t(result.size()), stdout) == size_t(result.size()) &&
                   std::fflush(stdout) == 0
               ? 0
               : 4;
}
