#include "TMyStringGrid.h"

#include <QSignalSpy>
#include <QTest>

namespace {

// Writes "c:r" into every cell of rows 0..rows-1, columns 0..cols-1.
void FillGrid(TMyStringGrid& grid, int cols, int rows)
{
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < cols; ++c)
            grid.SetCells(c, r, QStringLiteral("%1:%2").arg(c).arg(r));
    }
}

QStringList ColumnTexts(TMyStringGrid& grid, int col)
{
    return grid.Cols(col).ToStringList();
}

} // namespace

class TestMyStringGrid : public QObject
{
    Q_OBJECT

private slots:
    void shrinkingAndGrowingRowCountShowsOldRowsAgain();
    void shrinkingColCountKeepsCells();
    void neverWrittenCellIsEmpty_data();
    void neverWrittenCellIsEmpty();
    void viewsCountTheOtherDimension();
    void addFillsFirstEmptyCell_data();
    void addFillsFirstEmptyCell();
    void indexOfIgnoresCase_data();
    void indexOfIgnoresCase();
    void assignCopiesTextsAndObjects();
    void assignFromListClearsObjects();
    void clearEmptiesCellsBeyondCounts();
    void moveRowKeepsTextsWithRows_data();
    void moveRowKeepsTextsWithRows();
    void moveRowReachesOnePastStorage();
    void moveColumnKeepsTextsWithColumns();
    void deleteRowDropsItsCells();
    void deleteRowKeepsRowsBeyondCountBelowIt();
    void deleteColumnDropsItsCells();
    void rowItemsRoundTrip();
    void rowItemsOfUnwrittenRowIsEmpty();
    void textRectLeavesTwoPixels();
    void permuteRowsMovesCellsAndObjects_data();
    void permuteRowsMovesCellsAndObjects();
};

void TestMyStringGrid::shrinkingAndGrowingRowCountShowsOldRowsAgain()
{
    TMyStringGrid grid;
    grid.SetRowCount(10);
    FillGrid(grid, 5, 10);
    grid.SetRowCount(3);
    QCOMPARE(grid.RowCount(), 3);
    QCOMPARE(grid.Cols(0).Count(), 3);
    grid.SetRowCount(10);
    for (int r = 3; r < 10; ++r) {
        for (int c = 0; c < 5; ++c)
            QCOMPARE(grid.Cells(c, r), QStringLiteral("%1:%2").arg(c).arg(r));
    }
}

void TestMyStringGrid::shrinkingColCountKeepsCells()
{
    TMyStringGrid grid;
    FillGrid(grid, 5, 5);
    grid.SetObjects(4, 2, 42);
    grid.SetColCount(2);
    grid.SetColCount(5);
    QCOMPARE(grid.Cells(4, 2), QStringLiteral("4:2"));
    QCOMPARE(grid.Objects(4, 2), QVariant(42));
}

void TestMyStringGrid::neverWrittenCellIsEmpty_data()
{
    QTest::addColumn<int>("col");
    QTest::addColumn<int>("row");
    QTest::newRow("inside the counts") << 2 << 3;
    QTest::newRow("beyond the counts") << 100 << 1000;
    QTest::newRow("row written, column not") << 4 << 1;
    QTest::newRow("negative index") << -1 << 0;
}

void TestMyStringGrid::neverWrittenCellIsEmpty()
{
    QFETCH(int, col);
    QFETCH(int, row);
    TMyStringGrid grid;
    grid.SetCells(1, 1, "x");
    QCOMPARE(grid.Cells(col, row), QString());
    QVERIFY(!grid.Objects(col, row).isValid());
}

void TestMyStringGrid::viewsCountTheOtherDimension()
{
    TMyStringGrid grid;
    grid.SetColCount(7);
    grid.SetRowCount(4);
    FillGrid(grid, 7, 4);
    QCOMPARE(grid.Rows(2).Count(), 7);
    QCOMPARE(grid.Cols(3).Count(), 4);
    QCOMPARE(grid.Rows(2).ToStringList().last(), QStringLiteral("6:2"));
    QCOMPARE(grid.Cols(3)[0], QStringLiteral("3:0"));

    grid.Rows(1).SetStrings(5, "row");
    grid.Cols(6).SetStrings(3, "col");
    QCOMPARE(grid.Cells(5, 1), QStringLiteral("row"));
    QCOMPARE(grid.Cells(6, 3), QStringLiteral("col"));
}

void TestMyStringGrid::addFillsFirstEmptyCell_data()
{
    QTest::addColumn<QStringList>("before");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("index");
    QTest::addColumn<QStringList>("after");
    QTest::newRow("first cell") << QStringList{"", "", ""} << "a" << 0 << QStringList{"a", "", ""};
    QTest::newRow("skips filled cells")
        << QStringList{"x", "", "z"} << "a" << 1 << QStringList{"x", "a", "z"};
    QTest::newRow("empty text stored as blank")
        << QStringList{"x", "", ""} << "" << 1 << QStringList{"x", " ", ""};
    QTest::newRow("no empty cell") << QStringList{"x", "y", "z"} << "a" << -1 << QStringList{"x", "y", "z"};
}

void TestMyStringGrid::addFillsFirstEmptyCell()
{
    QFETCH(QStringList, before);
    QFETCH(QString, text);
    QFETCH(int, index);
    QFETCH(QStringList, after);
    TMyStringGrid grid;
    grid.SetColCount(3);
    grid.Rows(1).Assign(before);
    QCOMPARE(grid.Rows(1).Add(text), index);
    QCOMPARE(grid.Rows(1).ToStringList(), after);
}

void TestMyStringGrid::indexOfIgnoresCase_data()
{
    QTest::addColumn<QString>("wanted");
    QTest::addColumn<int>("index");
    QTest::newRow("same text") << "17" << 2;
    QTest::newRow("other case") << "MÜLLER" << 3;
    QTest::newRow("first of equal entries") << "meier" << 1;
    QTest::newRow("missing") << "Schulz" << -1;
    QTest::newRow("header row counts") << "nr." << 0;
}

void TestMyStringGrid::indexOfIgnoresCase()
{
    QFETCH(QString, wanted);
    QFETCH(int, index);
    TMyStringGrid grid;
    grid.SetRowCount(6);
    grid.Cols(0).Assign(QStringList{"Nr.", "Meier", "17", "Müller", "MEIER", ""});
    QCOMPARE(grid.Cols(0).IndexOf(wanted), index);
}

void TestMyStringGrid::assignCopiesTextsAndObjects()
{
    TMyStringGrid grid;
    FillGrid(grid, 5, 5);
    grid.SetObjects(2, 3, QStringLiteral("object"));
    grid.Rows(1).Assign(grid.Rows(3));
    QCOMPARE(grid.Rows(1).ToStringList(), grid.Rows(3).ToStringList());
    QCOMPARE(grid.Objects(2, 1), QVariant(QStringLiteral("object")));
    QCOMPARE(grid.Cells(0, 3), QStringLiteral("0:3"));

    grid.Cols(4).Assign(grid.Cols(2));
    QCOMPARE(ColumnTexts(grid, 4), ColumnTexts(grid, 2));
    QCOMPARE(grid.Objects(4, 3), QVariant(QStringLiteral("object")));
}

void TestMyStringGrid::assignFromListClearsObjects()
{
    TMyStringGrid grid;
    FillGrid(grid, 5, 5);
    grid.SetObjects(0, 2, 7);
    grid.Rows(2).Assign(QStringList{"a", "b"});
    QCOMPARE(grid.Rows(2).ToStringList(), (QStringList{"a", "b", "2:2", "3:2", "4:2"}));
    QVERIFY(!grid.Objects(0, 2).isValid());
}

void TestMyStringGrid::clearEmptiesCellsBeyondCounts()
{
    TMyStringGrid grid;
    FillGrid(grid, 5, 5);
    grid.SetCells(8, 2, "far right");
    grid.SetCells(1, 9, "far below");
    grid.SetObjects(1, 9, 5);

    grid.Rows(2).Clear();
    QCOMPARE(grid.Cells(8, 2), QString());
    QCOMPARE(grid.Cells(0, 2), QString());
    QCOMPARE(grid.Cells(0, 3), QStringLiteral("0:3"));

    grid.Cols(1).Clear();
    QCOMPARE(grid.Cells(1, 9), QString());
    QVERIFY(!grid.Objects(1, 9).isValid());
    QCOMPARE(grid.Cells(1, 0), QString());
    QCOMPARE(grid.Cells(2, 0), QStringLiteral("2:0"));
}

void TestMyStringGrid::moveRowKeepsTextsWithRows_data()
{
    QTest::addColumn<int>("from");
    QTest::addColumn<int>("to");
    QTest::addColumn<QStringList>("order");
    QTest::newRow("down") << 1 << 3 << QStringList{"0:0", "0:2", "0:3", "0:1", "0:4"};
    QTest::newRow("up") << 4 << 1 << QStringList{"0:0", "0:4", "0:1", "0:2", "0:3"};
    QTest::newRow("to last row") << 0 << 4 << QStringList{"0:1", "0:2", "0:3", "0:4", "0:0"};
}

void TestMyStringGrid::moveRowKeepsTextsWithRows()
{
    QFETCH(int, from);
    QFETCH(int, to);
    QFETCH(QStringList, order);
    TMyStringGrid grid;
    FillGrid(grid, 5, 5);
    grid.SetObjects(3, from, 99);
    grid.MoveRow(from, to);
    QCOMPARE(ColumnTexts(grid, 0), order);
    QCOMPARE(grid.Cells(3, to), QStringLiteral("3:%1").arg(from));
    QCOMPARE(grid.Objects(3, to), QVariant(99));
}

void TestMyStringGrid::moveRowReachesOnePastStorage()
{
    TMyStringGrid grid;
    FillGrid(grid, 2, 5);
    grid.MoveRow(1, 5);
    QCOMPARE(grid.Cells(0, 5), QStringLiteral("0:1"));
    QCOMPARE(grid.Cells(0, 4), QString());
    grid.MoveRow(5, 1);
    QCOMPARE(ColumnTexts(grid, 0), (QStringList{"0:0", "0:1", "0:2", "0:3", "0:4"}));
    QVERIFY_THROWS_EXCEPTION(EGridError, grid.MoveRow(1, 7));
    QVERIFY_THROWS_EXCEPTION(EGridError, grid.MoveRow(-1, 2));
}

void TestMyStringGrid::moveColumnKeepsTextsWithColumns()
{
    TMyStringGrid grid;
    FillGrid(grid, 5, 5);
    QSignalSpy moved(&grid, &TMyCustomGrid::OnColumnMoved);
    grid.MoveColumn(0, 3);
    QCOMPARE(grid.Rows(2).ToStringList(), (QStringList{"1:2", "2:2", "3:2", "0:2", "4:2"}));
    QCOMPARE(moved.count(), 1);
    QCOMPARE(moved.first(), (QVariantList{0, 3}));
}

void TestMyStringGrid::deleteRowDropsItsCells()
{
    TMyStringGrid grid;
    grid.SetRowCount(6);
    FillGrid(grid, 5, 6);
    grid.DeleteRow(2);
    QCOMPARE(grid.RowCount(), 5);
    QCOMPARE(ColumnTexts(grid, 1), (QStringList{"1:0", "1:1", "1:3", "1:4", "1:5"}));
    grid.SetRowCount(6);
    QCOMPARE(grid.Rows(5).ToStringList(), QStringList(5, QString()));
}

void TestMyStringGrid::deleteRowKeepsRowsBeyondCountBelowIt()
{
    TMyStringGrid grid;
    grid.SetRowCount(8);
    FillGrid(grid, 2, 8);
    grid.SetRowCount(6); // rows 6 and 7 are kept out of view
    grid.DeleteRow(1);
    grid.SetRowCount(7);
    QCOMPARE(ColumnTexts(grid, 0), (QStringList{"0:0", "0:2", "0:3", "0:4", "0:5", "0:6", "0:7"}));
}

void TestMyStringGrid::deleteColumnDropsItsCells()
{
    TMyStringGrid grid;
    FillGrid(grid, 5, 5);
    grid.DeleteColumn(1);
    QCOMPARE(grid.ColCount(), 4);
    QCOMPARE(grid.Rows(3).ToStringList(), (QStringList{"0:3", "2:3", "3:3", "4:3"}));
    grid.SetColCount(5);
    QCOMPARE(grid.Cells(4, 3), QString());
}

void TestMyStringGrid::rowItemsRoundTrip()
{
    TMyStringGrid grid;
    grid.SetCells(0, 2, "a");
    grid.SetCells(1, 2, "b");
    grid.SetObjects(1, 2, 3);
    const std::vector<TStrItem> items = grid.RowItems(2);
    QCOMPARE(items.size(), std::size_t(2)); // trailing cells never written
    grid.SetRowItems(4, items);
    QCOMPARE(grid.Cells(0, 4), QStringLiteral("a"));
    QCOMPARE(grid.Cells(1, 4), QStringLiteral("b"));
    QCOMPARE(grid.Objects(1, 4), QVariant(3));
    grid.SetRowItems(2, {});
    QCOMPARE(grid.Cells(0, 2), QString());
}

void TestMyStringGrid::rowItemsOfUnwrittenRowIsEmpty()
{
    TMyStringGrid grid;
    QVERIFY(grid.RowItems(3).empty());
    QVERIFY(grid.RowItems(-1).empty());
    QVERIFY_THROWS_EXCEPTION(EGridError, grid.SetRowItems(-1, {}));
}

void TestMyStringGrid::textRectLeavesTwoPixels()
{
    QCOMPARE(TMyStringGrid::TextRect(QRect(10, 20, 50, 24)), QRect(12, 20, 48, 24));
}

void TestMyStringGrid::permuteRowsMovesCellsAndObjects_data()
{
    QTest::addColumn<int>("first");
    QTest::addColumn<std::vector<int>>("order");
    QTest::addColumn<QStringList>("column");
    QTest::newRow("reverse data rows")
        << 1 << std::vector<int>{3, 2, 1, 0} << QStringList{"0:0", "0:4", "0:3", "0:2", "0:1"};
    QTest::newRow("identity") << 0 << std::vector<int>{0, 1, 2}
                              << QStringList{"0:0", "0:1", "0:2", "0:3", "0:4"};
    QTest::newRow("rotate into unwritten rows")
        << 3 << std::vector<int>{2, 0, 1} << QStringList{"0:0", "0:1", "0:2", "", "0:3"};
    QTest::newRow("index twice") << 1 << std::vector<int>{0, 0} << QStringList{};
    QTest::newRow("index outside") << 1 << std::vector<int>{0, 2} << QStringList{};
}

void TestMyStringGrid::permuteRowsMovesCellsAndObjects()
{
    QFETCH(int, first);
    QFETCH(std::vector<int>, order);
    QFETCH(QStringList, column);
    TMyStringGrid grid;
    FillGrid(grid, 5, 5);
    grid.SetObjects(2, 4, 7);
    if (column.isEmpty()) {
        QVERIFY_THROWS_EXCEPTION(EGridError, grid.PermuteRows(first, order));
        QCOMPARE(grid.Cells(0, 1), QStringLiteral("0:1"));
        return;
    }
    grid.PermuteRows(first, order);
    QCOMPARE(ColumnTexts(grid, 0), column);
    int objectRow = 4; // where the cells of row 4 went
    for (std::size_t p = 0; p < order.size(); ++p) {
        if (first + order[p] == 4)
            objectRow = first + int(p);
    }
    QCOMPARE(grid.Objects(2, objectRow), QVariant(7));
    QCOMPARE(grid.Cells(2, objectRow), QStringLiteral("2:4"));
}

QTEST_MAIN(TestMyStringGrid)
#include "tst_mystringgrid.moc"
