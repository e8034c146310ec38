// Figures for a protocol-sized string grid: 100,000 rows of 14 columns.
// Run with QT_QPA_PLATFORM=offscreen.
#include "TMyStringGrid.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QScrollBar>
#include <cstdio>

namespace {

void Report(const char* what, QElapsedTimer& timer)
{
    std::printf("%-40s %8.2f ms\n", what, double(timer.nsecsElapsed()) / 1e6);
    timer.restart();
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    constexpr int kRows = 100000;
    constexpr int kCols = 14;
    TMyStringGrid grid;
    grid.resize(800, 600);
    grid.SetColCount(kCols);

    QElapsedTimer timer;
    timer.start();
    grid.BeginUpdate();
    grid.SetRowCount(kRows + 1);
    for (int r = 1; r <= kRows; ++r) {
        for (int c = 0; c < kCols; ++c)
            grid.SetCells(c, r, QString::number(r * kCols + c));
    }
    grid.EndUpdate();
    Report("fill 100k rows inside an update", timer);

    grid.show();
    QCoreApplication::processEvents();
    timer.restart();
    for (int i = 0; i < 100; ++i)
        grid.viewport()->repaint();
    Report("100 paints at the top", timer);
    grid.SetTopRow(90000);
    for (int i = 0; i < 100; ++i)
        grid.viewport()->repaint();
    Report("100 paints at row 90000", timer);

    for (int i = 0; i < 100; ++i)
        grid.verticalScrollBar()->setValue(i * 997);
    Report("100 scroll bar moves", timer);
    for (int i = 0; i < 100; ++i)
        grid.MoveRow(1, kRows);
    Report("100 MoveRow(1, last)", timer);
    for (int r = 1; r <= kRows; ++r)
        grid.SetRowItems(r, grid.RowItems(kRows + 1 - r));
    Report("100k RowItems + SetRowItems", timer);
    for (int r = 1; r <= 1000; ++r)
        grid.Rows(r).Assign(grid.Rows(r + 1));
    Report("1000 Rows(r).Assign", timer);
    for (int i = 0; i < 1000; ++i)
        grid.SetRowCount(grid.RowCount() + 1);
    Report("1000 RowCount + 1 outside an update", timer);
    const int found = grid.Cols(0).IndexOf(QStringLiteral("not there"));
    std::printf("(IndexOf answered %d)\n", found);
    Report("Cols(0).IndexOf, no match", timer);
    for (int i = 0; i < 100; ++i)
        grid.DeleteRow(5);
    Report("100 DeleteRow", timer);
    return 0;
}
