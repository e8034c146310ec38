// Times the ranking sort of the protocol grid: class (column 4) then total
// (column 11) with a custom numeric comparison, on growing row counts.
#include "TSortGrid.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLocale>
#include <QRandomGenerator>
#include <climits>
#include <cstdio>
#include <ctime>

namespace {

// CPU time of this thread, so that a busy machine shows beside the wall time.
double ThreadCpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

int TotalValue(const QString& text)
{
    if (text.isEmpty())
        return INT_MAX;
    bool ok = false;
    const double value = QLocale().toDouble(text, &ok);
    return ok ? int(value * 100) : INT_MAX;
}

int CompareTotals(const QString& a, const QString& b)
{
    const int x = TotalValue(a);
    const int y = TotalValue(b);
    return x < y ? -1 : (x > y ? 1 : 0);
}

void FillProtocol(TSortGrid& grid, int rows)
{
    QRandomGenerator random(42);
    const QLocale locale;
    grid.BeginUpdate();
    grid.SetColCount(14);
    grid.SetRowCount(rows + 1);
    for (int c = 0; c < 14; ++c)
        grid.SetCells(c, 0, QStringLiteral("Spalte %1").arg(c));
    for (int r = 1; r <= rows; ++r) {
        grid.SetCells(0, r, QString::number(r));
        grid.SetCells(1, r, QStringLiteral("Name%1").arg(random.bounded(5000)));
        grid.SetCells(2, r, QStringLiteral("Vorname%1").arg(random.bounded(500)));
        grid.SetCells(3, r, QStringLiteral("Verein%1").arg(random.bounded(50)));
        grid.SetCells(4, r, QStringLiteral("Klasse %1").arg(random.bounded(8)));
        for (int run = 5; run <= 10; ++run)
            grid.SetCells(run, r, locale.toString(20.0 + random.bounded(4000) / 100.0, 'f', 2));
        // About one starter in twenty has no total yet.
        grid.SetCells(11, r,
                      random.bounded(20) == 0
                          ? QString()
                          : locale.toString(80.0 + random.bounded(16000) / 100.0, 'f', 2));
        grid.SetCells(12, r, QString());
        grid.SetCells(13, r, QString::number(r));
    }
    grid.EndUpdate();
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));

    for (int rows : {1000, 10000, 100000}) {
        TSortGrid grid;
        FillProtocol(grid, rows);
        grid.SortOptions.SecondaryIndex = QStringLiteral("11");
        grid.OnGetSortStyle = [&grid](int col, TSortStyle& style) {
            if (col == 11) {
                grid.SortOptions.CustomCompare = CompareTotals;
                style = ssCustom;
            } else {
                style = ssNormal;
            }
        };
        QElapsedTimer timer;
        const double cpuStart = ThreadCpuMs();
        timer.start();
        grid.SortByColumn(4);
        const double ms = timer.nsecsElapsed() / 1e6;
        const double cpuMs = ThreadCpuMs() - cpuStart;
        std::printf("SortByColumn(4), keys 4 and 11, %6d rows x 14 columns: %8.1f ms (CPU %8.1f ms)\n", rows,
                    ms, cpuMs);
    }
    return 0;
}
