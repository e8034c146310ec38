#include "gridbase_probe.h"

#include <QApplication>
#include <QLineEdit>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QWheelEvent>

namespace {

// A shown grid of the given size in the offscreen platform.
void ShowGrid(QWidget& grid, int width = 400, int height = 300)
{
    grid.resize(width, height);
    grid.show();
    QVERIFY(QTest::qWaitForWindowExposed(&grid));
}

QPoint Centre(const QRect& rect)
{
    return rect.center();
}

// Rows that fit wholly below the fixed rows, with every row of one height.
int WholeRowsFitting(int viewportHeight, int fixedRows, int rowHeight, int lineWidth)
{
    const int room = viewportHeight - fixedRows * (rowHeight + lineWidth);
    int count = 0;
    int used = 0;
    while (used + rowHeight <= room) {
        used += rowHeight + lineWidth;
        ++count;
    }
    return count;
}

} // namespace

class TestMyCustomGrid : public QObject
{
    Q_OBJECT

private slots:
    void rowCountBelowOneBecomesOne_data();
    void rowCountBelowOneBecomesOne();
    void fixedRowsFollowShrinkingCount_data();
    void fixedRowsFollowShrinkingCount();
    void sizeChangedReportsOldCounts();
    void sizeChangeInsideUpdateStoresCountsOnly();
    void sizesReadInsideUpdateAfterGrowing();
    void currentCellUsableAfterShrinkingInsideUpdate();
    void failedSizeChangeRestoresCounts();
    void sizeIndexOutOfRangeThrows_data();
    void sizeIndexOutOfRangeThrows();
    void widthSetInsideUpdateAfterGrowing();
    void updateBracketsDoNotNest();
    void noRepaintWhileUpdating();
    void paintsOnlyVisibleCells();
    void cellColours_data();
    void cellColours();
    void focusedCellColours_data();
    void focusedCellColours();
    void fixedCellsRaisedAndGridLinesDrawn();
    void selectCellRefusalKeepsCurrentCell();
    void keyboardMovesCurrentCell_data();
    void keyboardMovesCurrentCell();
    void keyboardScrollsCurrentCellIntoView();
    void shiftArrowsExtendSelection_data();
    void shiftArrowsExtendSelection();
    void rowSelectSelectsWholeRow();
    void mouseToCellRoundTripWithHiddenColumns();
    void mouseToCellBeyondLastCell();
    void cellRectEmptyWhenNotVisible();
    void visibleRowCountCountsWholeRows();
    void scrollBarCountsRows();
    void mouseClickSelectsCell();
    void doubleClickFiresOnDblClick();
    void wheelScrollsByRows();
    void editorCommitsOnEnter();
    void editorCancelsOnEscape();
    void typingOpensEditorWithTheCharacter();
    void columnSizingWithTheMouse();
    void moveRowTakesCurrentRowAlong();
    void setSelectionMovesCurrentCell();
};

void TestMyCustomGrid::rowCountBelowOneBecomesOne_data()
{
    QTest::addColumn<int>("count");
    QTest::newRow("zero") << 0;
    QTest::newRow("negative") << -5;
}

void TestMyCustomGrid::rowCountBelowOneBecomesOne()
{
    QFETCH(int, count);
    TProbeGrid grid;
    grid.SetRowCount(count);
    QCOMPARE(grid.RowCount(), 1);
    QCOMPARE(grid.FixedRows(), 0);
    QCOMPARE(grid.Row(), 0);
    grid.SetColCount(count);
    QCOMPARE(grid.ColCount(), 1);
    QCOMPARE(grid.FixedCols(), 0);
}

void TestMyCustomGrid::fixedRowsFollowShrinkingCount_data()
{
    QTest::addColumn<bool>("insideUpdate");
    QTest::addColumn<int>("newCount");
    QTest::addColumn<int>("fixedRows");
    QTest::newRow("count equal to fixed rows") << false << 3 << 2;
    QTest::newRow("count below fixed rows") << false << 2 << 1;
    QTest::newRow("count above fixed rows") << false << 4 << 3;
    QTest::newRow("inside update") << true << 2 << 1;
}

void TestMyCustomGrid::fixedRowsFollowShrinkingCount()
{
    QFETCH(bool, insideUpdate);
    QFETCH(int, newCount);
    QFETCH(int, fixedRows);
    TProbeGrid grid;
    grid.SetRowCount(10);
    grid.SetFixedRows(3);
    if (insideUpdate)
        grid.BeginUpdate();
    grid.SetRowCount(newCount);
    if (insideUpdate)
        grid.EndUpdate();
    QCOMPARE(grid.FixedRows(), fixedRows);
    QCOMPARE(grid.Row(), fixedRows);
}

void TestMyCustomGrid::sizeChangedReportsOldCounts()
{
    TProbeGrid grid;
    grid.SetRowCount(10);
    grid.SetColCount(3);
    QCOMPARE(grid.SizeChanges, (std::vector<std::pair<int, int>>{{5, 5}, {5, 10}}));
    grid.SetRowCount(10);
    QCOMPARE(grid.SizeChanges.size(), std::size_t(2));
}

void TestMyCustomGrid::sizeChangeInsideUpdateStoresCountsOnly()
{
    TProbeGrid grid;
    grid.BeginUpdate();
    grid.SetRowCount(10);
    QCOMPARE(grid.RowCount(), 10);
    QVERIFY(grid.SizeChanges.empty());
    grid.EndUpdate();
    QCOMPARE(grid.RowCount(), 10);
    QVERIFY(grid.SizeChanges.empty());
    QVERIFY(!grid.NowUpdating());
}

void TestMyCustomGrid::sizesReadInsideUpdateAfterGrowing()
{
    TProbeGrid grid;
    grid.SetColWidths(2, 40);
    grid.SetRowHeights(3, 30);
    grid.BeginUpdate();
    grid.SetColCount(9);
    grid.SetRowCount(1000);
    QCOMPARE(grid.ColWidths(2), 40);
    QCOMPARE(grid.ColWidths(8), grid.DefaultColWidth());
    QCOMPARE(grid.RowHeights(3), 30);
    QCOMPARE(grid.RowHeights(999), grid.DefaultRowHeight());
    grid.EndUpdate();
    QCOMPARE(grid.ColWidths(8), grid.DefaultColWidth());
    QCOMPARE(grid.RowHeights(999), grid.DefaultRowHeight());
}

void TestMyCustomGrid::currentCellUsableAfterShrinkingInsideUpdate()
{
    TProbeGrid grid;
    grid.SetRowCount(20);
    grid.SetRow(15);
    grid.BeginUpdate();
    grid.SetRowCount(4);
    QCOMPARE(grid.Row(), 3);
    QCOMPARE(grid.Selection().Bottom, 3);
    grid.EndUpdate();
    QCOMPARE(grid.Row(), 3);
    QVERIFY(grid.MoveCurrent(1, 2, true));
    QCOMPARE(grid.Row(), 2);
    grid.SetRowCount(20);
    QCOMPARE(grid.Row(), 2);
}

void TestMyCustomGrid::failedSizeChangeRestoresCounts()
{
    TProbeGrid grid;
    grid.SetRowCount(8);
    grid.SetRow(7);
    grid.FailSizeChange = true;
    QVERIFY_THROWS_EXCEPTION(std::runtime_error, grid.SetRowCount(3));
    QCOMPARE(grid.RowCount(), 8);
    QCOMPARE(grid.SizeChanges.back(), std::make_pair(5, 8));
    grid.FailSizeChange = false;
    grid.SetRowHeights(7, 12); // the size table covers the restored count again
    QCOMPARE(grid.RowHeights(7), 12);
}

void TestMyCustomGrid::sizeIndexOutOfRangeThrows_data()
{
    QTest::addColumn<bool>("width");
    QTest::addColumn<int>("index");
    QTest::newRow("column ColCount") << true << 5;
    QTest::newRow("negative column") << true << -1;
    QTest::newRow("row RowCount") << false << 5;
    QTest::newRow("negative row") << false << -1;
}

void TestMyCustomGrid::sizeIndexOutOfRangeThrows()
{
    QFETCH(bool, width);
    QFETCH(int, index);
    TProbeGrid grid;
    QString message;
    try {
        if (width)
            grid.SetColWidths(index, 10);
        else
            grid.SetRowHeights(index, 10);
    } catch (const EGridError& error) {
        message = QString::fromUtf8(error.what());
    }
    QCOMPARE(message, QStringLiteral("Grid index out of range"));
}

void TestMyCustomGrid::widthSetInsideUpdateAfterGrowing()
{
    TProbeGrid grid;
    grid.BeginUpdate();
    grid.SetColCount(8);
    grid.SetColWidths(7, 40);
    QCOMPARE(grid.ColWidths(7), 40);
    QCOMPARE(grid.ColWidths(6), grid.DefaultColWidth());
    grid.EndUpdate();
    QCOMPARE(grid.ColWidths(7), 40);
}

void TestMyCustomGrid::updateBracketsDoNotNest()
{
    TProbeGrid grid;
    QSignalSpy begun(&grid, &TMyCustomGrid::OnBeginUpdate);
    grid.BeginUpdate();
    grid.BeginUpdate();
    QCOMPARE(begun.count(), 1);
    QVERIFY(grid.NowUpdating());
    QVERIFY(!grid.isEnabled());
    QVERIFY(QGuiApplication::overrideCursor() != nullptr);
    QCOMPARE(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
    grid.EndUpdate();
    QVERIFY(!grid.NowUpdating());
    QVERIFY(grid.isEnabled());
    QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
    grid.EndUpdate(); // a stray EndUpdate pops nobody else's cursor
    QGuiApplication::setOverrideCursor(Qt::BusyCursor);
    grid.EndUpdate();
    QVERIFY(QGuiApplication::overrideCursor() != nullptr);
    QGuiApplication::restoreOverrideCursor();
}

void TestMyCustomGrid::noRepaintWhileUpdating()
{
    TProbeGrid grid;
    ShowGrid(grid);
    grid.BeginUpdate();
    grid.Drawn.clear();
    grid.SetCells(1, 1, "new");
    grid.SetRowCount(50);
    grid.viewport()->repaint();
    grid.repaint();
    QCoreApplication::processEvents();
    QCOMPARE(grid.Drawn.size(), std::size_t(0));
    grid.EndUpdate();
    QTRY_VERIFY(grid.DrawnCell(1, 1) != nullptr);
}

void TestMyCustomGrid::paintsOnlyVisibleCells()
{
    TProbeGrid grid;
    grid.SetRowCount(100000);
    ShowGrid(grid, 300, 200);
    grid.SetTopRow(50000);
    QCOMPARE(grid.TopRow(), 50000);
    grid.Drawn.clear();
    grid.viewport()->repaint();
    QVERIFY(!grid.Drawn.empty());
    const int lastRow = grid.TopRow() + grid.VisibleRowCount(); // one partly visible row more
    for (const auto& drawn : grid.Drawn) {
        QVERIFY2(drawn.Row == 0 || (drawn.Row >= grid.TopRow() && drawn.Row <= lastRow),
                 qPrintable(QString::number(drawn.Row)));
    }
    QVERIFY(grid.DrawnCell(1, 50000) != nullptr);
}

void TestMyCustomGrid::cellColours_data()
{
    QTest::addColumn<bool>("rowSelect");
    QTest::addColumn<int>("col");
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("state");
    QTest::addColumn<TColor>("brush");
    QTest::addColumn<TColor>("fontColor");
    const int selected = int(gdSelected);
    QTest::newRow("fixed header cell") << false << 2 << 0 << int(gdFixed) << clBtnFace << clWindowText;
    QTest::newRow("fixed column cell") << false << 0 << 3 << int(gdFixed) << clBtnFace << clWindowText;
    QTest::newRow("inside selection") << false << 2 << 2 << selected << clHighlight << clHighlightText;
    QTest::newRow("outside selection") << false << 3 << 2 << 0 << clWindow << clWindowText;
    QTest::newRow("whole current row") << true << 3 << 1 << selected << clHighlight << clHighlightText;
    QTest::newRow("other row") << true << 3 << 2 << 0 << clWindow << clWindowText;
}

void TestMyCustomGrid::cellColours()
{
    QFETCH(bool, rowSelect);
    QFETCH(int, col);
    QFETCH(int, row);
    QFETCH(int, state);
    QFETCH(TColor, brush);
    QFETCH(TColor, fontColor);
    TProbeGrid grid;
    if (rowSelect)
        grid.SetOptions(grid.Options() | goRowSelect);
    else
        grid.SetSelection({1, 1, 2, 2});
    ShowGrid(grid);
    grid.clearFocus();
    grid.Drawn.clear();
    grid.viewport()->repaint();
    const TProbeGrid::TDrawn* drawn = grid.DrawnCell(col, row);
    QVERIFY(drawn != nullptr);
    QCOMPARE(int(drawn->State), state);
    QCOMPARE(drawn->Brush, brush);
    QCOMPARE(drawn->FontColor, fontColor);
}

void TestMyCustomGrid::focusedCellColours_data()
{
    QTest::addColumn<int>("options");
    QTest::addColumn<TColor>("brush");
    QTest::newRow("plain focus") << 0 << clWindow;
    QTest::newRow("goDrawFocusSelected") << int(goDrawFocusSelected) << clHighlight;
    QTest::newRow("goRowSelect") << int(goRowSelect) << clHighlight;
}

void TestMyCustomGrid::focusedCellColours()
{
    QFETCH(int, options);
    QFETCH(TColor, brush);
    TProbeGrid grid;
    grid.SetOptions(grid.Options() | TGridOptions::fromInt(options));
    ShowGrid(grid);
    grid.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&grid));
    grid.setFocus();
    QTRY_VERIFY(grid.hasFocus());
    grid.Drawn.clear();
    grid.viewport()->repaint();
    const TProbeGrid::TDrawn* drawn = grid.DrawnCell(1, 1);
    QVERIFY(drawn != nullptr);
    QCOMPARE(int(drawn->State), int(gdSelected | gdFocused));
    QCOMPARE(drawn->Brush, brush);
}

void TestMyCustomGrid::fixedCellsRaisedAndGridLinesDrawn()
{
    TProbeGrid grid;
    ShowGrid(grid);
    const QImage image = grid.viewport()->grab().toImage();
    const QPalette palette = grid.palette();
    const QRect header = grid.CellRect(2, 0);
    QCOMPARE(image.pixel(header.topLeft()), ToQColor(clBtnHighlight, palette).rgb());
    QCOMPARE(image.pixel(header.bottomRight()), ToQColor(clBtnShadow, palette).rgb());
    QCOMPARE(image.pixel(header.center()), ToQColor(clBtnFace, palette).rgb());
    QCOMPARE(image.pixel(header.right() + 1, header.center().y()), QColor(Qt::black).rgb());
    const QRect cell = grid.CellRect(2, 2);
    QCOMPARE(image.pixel(cell.center()), ToQColor(clWindow, palette).rgb());
    QCOMPARE(image.pixel(cell.right() + 1, cell.center().y()), QColor(192, 192, 192).rgb());
    QCOMPARE(image.pixel(cell.center().x(), cell.bottom() + 1), QColor(192, 192, 192).rgb());
}

void TestMyCustomGrid::selectCellRefusalKeepsCurrentCell()
{
    TProbeGrid grid;
    grid.SetRowCount(10);
    ShowGrid(grid);
    QList<int> asked;
    grid.OnSelectCell = [&](int, int row, bool& canSelect) {
        asked.append(row);
        canSelect = row != 3;
    };
    grid.SetRow(2);
    QCOMPARE(grid.Row(), 2);
    QVERIFY(!grid.MoveCurrent(1, 3, true));
    QCOMPARE(grid.Row(), 2);
    QTest::keyClick(&grid, Qt::Key_Down);
    QCOMPARE(grid.Row(), 2);
    QCOMPARE(asked, (QList<int>{2, 3, 3}));
}

void TestMyCustomGrid::keyboardMovesCurrentCell_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<QPoint>("start");
    QTest::addColumn<QPoint>("expected");
    const int none = Qt::NoModifier;
    const int ctrl = Qt::ControlModifier;
    QTest::newRow("down") << int(Qt::Key_Down) << none << QPoint(2, 3) << QPoint(2, 4);
    QTest::newRow("up") << int(Qt::Key_Up) << none << QPoint(2, 3) << QPoint(2, 2);
    QTest::newRow("up stops at first data row") << int(Qt::Key_Up) << none << QPoint(2, 1) << QPoint(2, 1);
    QTest::newRow("right") << int(Qt::Key_Right) << none << QPoint(2, 3) << QPoint(3, 3);
    QTest::newRow("left stops at first data column")
        << int(Qt::Key_Left) << none << QPoint(1, 3) << QPoint(1, 3);
    QTest::newRow("home") << int(Qt::Key_Home) << none << QPoint(4, 3) << QPoint(1, 3);
    QTest::newRow("end") << int(Qt::Key_End) << none << QPoint(2, 3) << QPoint(5, 3);
    QTest::newRow("ctrl home") << int(Qt::Key_Home) << ctrl << QPoint(4, 30) << QPoint(1, 1);
    QTest::newRow("ctrl end") << int(Qt::Key_End) << ctrl << QPoint(2, 3) << QPoint(5, 49);
    QTest::newRow("page down") << int(Qt::Key_PageDown) << none << QPoint(2, 3) << QPoint(2, -1);
    QTest::newRow("page up from last row") << int(Qt::Key_PageUp) << none << QPoint(2, 49) << QPoint(2, -2);
    QTest::newRow("down stops at last row") << int(Qt::Key_Down) << none << QPoint(2, 49) << QPoint(2, 49);
}

void TestMyCustomGrid::keyboardMovesCurrentCell()
{
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(QPoint, start);
    QFETCH(QPoint, expected);
    TProbeGrid grid;
    grid.SetColCount(6);
    grid.SetRowCount(50);
    ShowGrid(grid);
    QVERIFY(grid.MoveCurrent(start.x(), start.y(), true));
    const int page = grid.VisibleRowCount();
    QVERIFY(page > 2);
    if (expected.y() == -1)
        expected.setY(start.y() + page);
    else if (expected.y() == -2)
        expected.setY(start.y() - page);
    QSignalSpy clicked(&grid, &TMyCustomGrid::OnClick);
    QTest::keyClick(&grid, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
    QCOMPARE(QPoint(grid.Col(), grid.Row()), expected);
    QCOMPARE(clicked.count(), expected == start ? 0 : 1);
}

void TestMyCustomGrid::keyboardScrollsCurrentCellIntoView()
{
    TProbeGrid grid;
    grid.SetRowCount(500);
    ShowGrid(grid);
    QSignalSpy topLeft(&grid, &TMyCustomGrid::OnTopLeftChanged);
    QTest::keyClick(&grid, Qt::Key_End, Qt::ControlModifier);
    QCOMPARE(grid.Row(), 499);
    QCOMPARE(grid.TopRow(), grid.MaxTopRow());
    QCOMPARE(grid.TopRow() + grid.VisibleRowCount() - 1, 499);
    QVERIFY(!grid.CellRect(grid.Col(), grid.Row()).isEmpty());
    QVERIFY(topLeft.count() >= 1);
    QTest::keyClick(&grid, Qt::Key_Home, Qt::ControlModifier);
    QCOMPARE(grid.TopRow(), 1);
}

void TestMyCustomGrid::shiftArrowsExtendSelection_data()
{
    QTest::addColumn<bool>("rangeSelect");
    QTest::addColumn<TGridRect>("selection");
    QTest::newRow("with goRangeSelect") << true << TGridRect{1, 1, 2, 3};
    QTest::newRow("without goRangeSelect") << false << TGridRect{2, 3, 2, 3};
}

void TestMyCustomGrid::shiftArrowsExtendSelection()
{
    QFETCH(bool, rangeSelect);
    QFETCH(TGridRect, selection);
    TProbeGrid grid;
    grid.SetOptions(rangeSelect ? grid.Options() | goRangeSelect
                                : grid.Options() & ~TGridOptions(goRangeSelect));
    ShowGrid(grid);
    QTest::keyClick(&grid, Qt::Key_Down, Qt::ShiftModifier);
    QTest::keyClick(&grid, Qt::Key_Down, Qt::ShiftModifier);
    QTest::keyClick(&grid, Qt::Key_Right, Qt::ShiftModifier);
    QCOMPARE(grid.Selection(), selection);
    QTest::keyClick(&grid, Qt::Key_Up);
    QCOMPARE(grid.Selection(), (TGridRect{2, 2, 2, 2}));
}

void TestMyCustomGrid::rowSelectSelectsWholeRow()
{
    TProbeGrid grid;
    grid.SetColCount(6);
    grid.SetOptions(grid.Options() | goRowSelect);
    grid.SetCol(4);
    grid.SetRow(3);
    QCOMPARE(grid.Selection(), (TGridRect{1, 3, 5, 3}));
    QCOMPARE(grid.Col(), grid.FixedCols());
}

void TestMyCustomGrid::mouseToCellRoundTripWithHiddenColumns()
{
    TProbeGrid grid;
    grid.SetColCount(6);
    grid.SetRowCount(6);
    const QList<int> widths{30, -1, 40, -1, 25, 50};
    for (int c = 0; c < widths.size(); ++c)
        grid.SetColWidths(c, widths[c]);
    grid.SetRowHeights(2, -1);
    ShowGrid(grid, 500, 400);
    for (int r = 0; r < grid.RowCount(); ++r) {
        for (int c = 0; c < grid.ColCount(); ++c) {
            const QRect rect = grid.CellRect(c, r);
            if (widths[c] < 0 || r == 2) {
                QVERIFY(rect.isEmpty());
                continue;
            }
            QCOMPARE(rect.width(), widths[c]);
            QCOMPARE(grid.MouseToCell(Centre(rect).x(), Centre(rect).y()), (TGridCoord{c, r}));
            QCOMPARE(grid.MouseToCell(rect.left(), rect.top()), (TGridCoord{c, r}));
            QCOMPARE(grid.MouseToCell(rect.right(), rect.bottom()), (TGridCoord{c, r}));
        }
    }
    // Column 2 starts right after column 0 and its grid line.
    QCOMPARE(grid.CellRect(2, 1).left(), 31);
    grid.Drawn.clear();
    grid.viewport()->repaint();
    QVERIFY(grid.DrawnCell(2, 1) != nullptr);
    QCOMPARE(grid.DrawnCell(1, 1), nullptr);
    QCOMPARE(grid.DrawnCell(2, 2), nullptr);
}

void TestMyCustomGrid::mouseToCellBeyondLastCell()
{
    TProbeGrid grid;
    ShowGrid(grid, 600, 400);
    const QRect last = grid.CellRect(4, 4);
    QCOMPARE(grid.MouseToCell(last.right() + 5, last.center().y()), (TGridCoord{-1, 4}));
    QCOMPARE(grid.MouseToCell(last.center().x(), last.bottom() + 5), (TGridCoord{4, -1}));
}

void TestMyCustomGrid::cellRectEmptyWhenNotVisible()
{
    TProbeGrid grid;
    grid.SetRowCount(100);
    ShowGrid(grid);
    grid.SetTopRow(40);
    QVERIFY(grid.CellRect(1, 39).isEmpty());
    QVERIFY(grid.CellRect(1, 99).isEmpty());
    QVERIFY(grid.CellRect(7, 40).isEmpty());
    QCOMPARE(grid.CellRect(1, 40).top(), grid.FixedRowsHeight());
    QCOMPARE(grid.CellRect(1, 0).top(), 0);
}

void TestMyCustomGrid::visibleRowCountCountsWholeRows()
{
    TProbeGrid grid;
    grid.SetRowCount(100);
    ShowGrid(grid, 400, 333);
    const int expected = WholeRowsFitting(grid.viewport()->height(), 1, grid.DefaultRowHeight(), 1);
    QCOMPARE(grid.VisibleRowCount(), expected);
    grid.SetRowHeights(1, 100);
    QCOMPARE(grid.VisibleRowCount(), WholeRowsFitting(grid.viewport()->height() - 101, 1, 24, 1) + 1);
}

void TestMyCustomGrid::scrollBarCountsRows()
{
    TProbeGrid grid;
    grid.SetRowCount(100000);
    ShowGrid(grid);
    QScrollBar* bar = grid.verticalScrollBar();
    QCOMPARE(bar->maximum(), grid.MaxTopRow() - grid.FixedRows());
    QCOMPARE(grid.MaxTopRow(), grid.RowCount() - WholeRowsFitting(grid.viewport()->height(), 1, 24, 1));
    bar->setValue(1234);
    QCOMPARE(grid.TopRow(), 1235);
    grid.SetTopRow(10);
    QCOMPARE(bar->value(), 9);
}

void TestMyCustomGrid::mouseClickSelectsCell()
{
    TProbeGrid grid;
    ShowGrid(grid);
    QSignalSpy clicked(&grid, &TMyCustomGrid::OnClick);
    QTest::mouseClick(grid.viewport(), Qt::LeftButton, {}, Centre(grid.CellRect(3, 2)));
    QCOMPARE(QPoint(grid.Col(), grid.Row()), QPoint(3, 2));
    QCOMPARE(clicked.count(), 1);
    QTest::mouseClick(grid.viewport(), Qt::LeftButton, {}, Centre(grid.CellRect(3, 0)));
    QCOMPARE(QPoint(grid.Col(), grid.Row()), QPoint(3, 2));
}

void TestMyCustomGrid::doubleClickFiresOnDblClick()
{
    TProbeGrid grid;
    ShowGrid(grid);
    QSignalSpy doubleClicked(&grid, &TMyCustomGrid::OnDblClick);
    QTest::mouseDClick(grid.viewport(), Qt::LeftButton, {}, Centre(grid.CellRect(2, 2)));
    QCOMPARE(doubleClicked.count(), 1);
}

void TestMyCustomGrid::wheelScrollsByRows()
{
    TProbeGrid grid;
    grid.SetRowCount(200);
    ShowGrid(grid);
    const QPoint pos = Centre(grid.CellRect(1, 2));
    QWheelEvent down(pos, grid.viewport()->mapToGlobal(pos), {}, {0, -120}, Qt::NoButton, Qt::NoModifier,
                     Qt::NoScrollPhase, false);
    QApplication::sendEvent(grid.viewport(), &down);
    QCOMPARE(grid.TopRow(), 1 + QApplication::wheelScrollLines());
    QCOMPARE(grid.Row(), 1);
}

void TestMyCustomGrid::editorCommitsOnEnter()
{
    TProbeGrid grid;
    grid.SetOptions(grid.Options() | goEditing);
    grid.SetCells(1, 1, "old");
    QList<QString> written;
    grid.OnSetEditText = [&](int, int, const QString& value) { written.append(value); };
    ShowGrid(grid);
    QTest::keyClick(&grid, Qt::Key_F2);
    QVERIFY(grid.EditorMode());
    QLineEdit* editor = grid.InplaceEditor();
    QVERIFY(editor != nullptr);
    QCOMPARE(editor->text(), QStringLiteral("old"));
    QCOMPARE(editor->geometry(), grid.CellRect(1, 1));
    editor->setText("new");
    QTest::keyClick(editor, Qt::Key_Return);
    QVERIFY(!grid.EditorMode());
    QCOMPARE(grid.Cells(1, 1), QStringLiteral("new"));
    QCOMPARE(written, QList<QString>{"new"});
}

void TestMyCustomGrid::editorCancelsOnEscape()
{
    TProbeGrid grid;
    grid.SetOptions(grid.Options() | goEditing);
    grid.SetCells(1, 1, "old");
    ShowGrid(grid);
    QTest::keyClick(&grid, Qt::Key_Return);
    QVERIFY(grid.EditorMode());
    grid.InplaceEditor()->setText("typed");
    QTest::keyClick(grid.InplaceEditor(), Qt::Key_Escape);
    QVERIFY(!grid.EditorMode());
    QCOMPARE(grid.Cells(1, 1), QStringLiteral("old"));
}

void TestMyCustomGrid::typingOpensEditorWithTheCharacter()
{
    TProbeGrid grid;
    grid.SetCells(1, 1, "old");
    ShowGrid(grid);
    QTest::keyClick(&grid, Qt::Key_X);
    QVERIFY(!grid.EditorMode()); // not without goEditing
    grid.SetOptions(grid.Options() | goEditing);
    QTest::keyClick(&grid, Qt::Key_X);
    QVERIFY(grid.EditorMode());
    QCOMPARE(grid.InplaceEditor()->text(), QStringLiteral("x"));
    QTest::keyClick(grid.InplaceEditor(), Qt::Key_Down); // moving on commits
    QVERIFY(!grid.EditorMode());
    QCOMPARE(grid.Cells(1, 1), QStringLiteral("x"));
    QCOMPARE(grid.Row(), 2);
}

void TestMyCustomGrid::columnSizingWithTheMouse()
{
    TProbeGrid grid;
    grid.SetOptions(grid.Options() | goColSizing);
    ShowGrid(grid);
    const QRect header = grid.CellRect(1, 0);
    const QPoint border(header.right() + 1, header.center().y());
    QCOMPARE(grid.ColumnBorderAt(border.x(), border.y()), 1);
    QCOMPARE(grid.ColumnBorderAt(border.x(), grid.CellRect(1, 1).center().y()), -1);
    grid.ColWidthsChanges = 0;
    QTest::mousePress(grid.viewport(), Qt::LeftButton, {}, border);
    QMouseEvent move(QEvent::MouseMove, QPointF(border + QPoint(20, 0)),
                     QPointF(grid.viewport()->mapToGlobal(border + QPoint(20, 0))), Qt::NoButton,
                     Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(grid.viewport(), &move);
    QTest::mouseRelease(grid.viewport(), Qt::LeftButton, {}, border + QPoint(20, 0));
    QCOMPARE(grid.ColWidths(1), 84);
    QCOMPARE(grid.ColWidthsChanges, 1);
    QCOMPARE(QPoint(grid.Col(), grid.Row()), QPoint(1, 1));
}

void TestMyCustomGrid::moveRowTakesCurrentRowAlong()
{
    TProbeGrid grid;
    grid.SetRowCount(10);
    grid.SetRow(2);
    QSignalSpy moved(&grid, &TMyCustomGrid::OnRowMoved);
    grid.SetRowHeights(2, 40);
    grid.MoveRow(2, 6);
    QCOMPARE(grid.Row(), 6);
    QCOMPARE(grid.RowHeights(6), 40);
    QCOMPARE(grid.RowHeights(2), grid.DefaultRowHeight());
    QCOMPARE(grid.RowMoves, (std::vector<std::pair<int, int>>{{2, 6}}));
    QCOMPARE(moved.count(), 1);
    grid.MoveRow(8, 1);
    QCOMPARE(grid.Row(), 7);
}

void TestMyCustomGrid::setSelectionMovesCurrentCell()
{
    TProbeGrid grid;
    grid.SetSelection({1, 2, 3, 4});
    QCOMPARE(grid.Selection(), (TGridRect{1, 2, 3, 4}));
    QCOMPARE(QPoint(grid.Col(), grid.Row()), QPoint(3, 4));
    grid.SetSelection({-1, -1, -1, -1});
    QCOMPARE(grid.Selection(), (TGridRect{1, 1, 1, 1}));
}

QTEST_MAIN(TestMyCustomGrid)
#include "tst_mycustomgrid.moc"
