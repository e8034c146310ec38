// Prints how long each workbook named on the command line takes to load, and
// the process's peak memory after each (run it once per file for a clean peak):
//   bench_workbookload starters100k.ods
#include "WorkbookReader.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLocale>
#include <QTextStream>
#include <sys/resource.h>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    QTextStream out(stdout);
    for (const QString& name : QCoreApplication::arguments().mid(1)) {
        QElapsedTimer clock;
        clock.start();
        ProtocolTable rows;
        QString error;
        const bool loaded = LoadWorkbook(name, rows, error);
        const qint64 ms = clock.elapsed();
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        out << name << ": " << (loaded ? QStringLiteral("%1 Zeilen").arg(rows.size()) : error) << ", " << ms
            << " ms, Spitze " << usage.ru_maxrss / 1024 << " MB" << Qt::endl;
    }
    return 0;
}
