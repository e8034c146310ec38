#include "LocaleScope.h"
#include "TSortGrid.h"
#include "TestDialogs.h"

#include <QBuffer>
#include <QFile>
#include <QFontMetrics>
#include <QHash>
#include <QImage>
#include <QLineEdit>
#include <QLocale>
#include <QPainter>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>
#include <climits>
#include <limits>
#include <stdexcept>

namespace {

// Gives the tests the drawing hook.
class TestGrid : public TSortGrid
{
public:
    using TSortGrid::DrawCell;
};

// A grid with one header row and a data row per entry of column 0 (and further
// columns from the other lists).
void Fill(TSortGrid& grid, const QList<QStringList>& rows)
{
    grid.BeginUpdate();
    grid.SetRowCount(int(rows.size()));
    for (int r = 0; r < rows.size(); ++r) {
        for (int c = 0; c < rows[r].size(); ++c)
            grid.SetCells(c, r, rows[r][c]);
    }
    grid.EndUpdate();
}

QStringList Column(TSortGrid& grid, int col)
{
    QStringList texts;
    for (int row = 1; row < grid.RowCount(); ++row)
        texts.append(grid.Cells(col, row));
    return texts;
}

// The protocol layout: 14 columns, class in 4, total in 11.
void FillProtocol(TSortGrid& grid, const QList<std::pair<QString, QString>>& classAndTotal)
{
    grid.BeginUpdate();
    grid.SetColCount(14);
    grid.SetRowCount(int(classAndTotal.size()) + 1);
    grid.SetCells(0, 0, "Nr.");
    grid.SetCells(4, 0, "Klasse");
    grid.SetCells(11, 0, "Gesamt");
    for (int i = 0; i < classAndTotal.size(); ++i) {
        grid.SetCells(0, i + 1, QString::number(i + 1));
        grid.SetCells(4, i + 1, classAndTotal[i].first);
        grid.SetCells(11, i + 1, classAndTotal[i].second);
    }
    grid.EndUpdate();
}

// The ranking's total comparison: numeric, an empty total last.
int CompareTotals(const QString& a, const QString& b)
{
    auto value = [](const QString& text) {
        bool ok = false;
        const double v = QLocale().toDouble(text, &ok);
        return ok ? v : double(INT_MAX);
    };
    const double x = value(a);
    const double y = value(b);
    return x < y ? -1 : (x > y ? 1 : 0);
}

bool HasPixelOtherThan(const QImage& image, QColor colour)
{
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (image.pixelColor(x, y) != colour)
                return true;
        }
    }
    return false;
}

} // namespace

class TestSortGrid : public QObject
{
    Q_OBJECT

private slots:
    void constructionDefaults();
    void multiKeySort_data();
    void multiKeySort();
    void rowsFromASourceAreAskedNotKept();
    void caseSensitivity_data();
    void caseSensitivity();
    void secondaryIndexWithPrimary();
    void automaticStyleStored();
    void styleAnswerStored();
    void canSortFalseSortsNothing();
    void beginSortChangesColumn();
    void badSecondaryIndex_data();
    void badSecondaryIndex();
    void currentRowFollowsData_data();
    void currentRowFollowsData();
    void detectSortStyle_data();
    void detectSortStyle();
    void headerClick_data();
    void headerClick();
    void headerClickOnBorderIgnored();
    void lastColumnFillsWindow();
    void headerDoubleClickAutoSizes();
    void paintsSortArrow_data();
    void paintsSortArrow();
    void headerShortening_data();
    void headerShortening();
    void textPosition_data();
    void textPosition();
    void textPositionStaysInRange();
    void arrowAndBevelGeometry();
    void hideRowsDrawsHeaderOnly();
    void longCellTextIsElided_data();
    void longCellTextIsElided();
    void cellFormatDefaults_data();
    void cellFormatDefaults();
    void deleteRowKeepsOneDataRow();
    void deleteRow();
    void insertRow();
    void exchangeRows();
    void columnMoveTracksSortCol_data();
    void columnMoveTracksSortCol();
    void clearGrid();
    void sizeChangeOutsideUpdate();
    void rowCountTooSmall();
    void updateOnSizeChangeSorts();
    void updateBracketKeepsFlag();
    void rowSelectedWhileRowIsPrevious();
    void editingMarksModified();
    void csvBytes_data();
    void csvBytes();
    void csvFailingDevice();
    void saveToCsv();
    void saveToCsvFailure();
};

void TestSortGrid::constructionDefaults()
{
    TSortGrid grid;
    QCOMPARE(grid.FixedCols(), 0);
    QCOMPARE(grid.SortOptions.CanSort, true);
    QCOMPARE(grid.SortOptions.SortStyle, ssNormal);
    QCOMPARE(grid.Modified(), false);
    QCOMPARE(grid.SelectedRows(), QStringList{QString::number(grid.Row())});
}

void TestSortGrid::multiKeySort_data()
{
    QTest::addColumn<bool>("descending");
    QTest::addColumn<QStringList>("numbers");
    // Rows 1 and 5, 2 and 6 are equal in both keys and keep their order.
    QTest::newRow("ascending") << false << QStringList{"4", "2", "6", "1", "5", "3"};
    QTest::newRow("descending") << true << QStringList{"3", "1", "5", "2", "6", "4"};
}

void TestSortGrid::rowsFromASourceAreAskedNotKept()
{
    // The rows live in held (by key, column 0); the grid keeps only the keys.
    QHash<QString, QStringList> held{
        {"a", {"a", "Zorn", "3"}}, {"b", {"b", "Adler", "1"}}, {"c", {"c", "Moser", "2"}}};
    TSortGrid grid;
    grid.SetColCount(3);
    grid.SetRowSource(0, [&held](const QString& key, int col) { return held.value(key).value(col); });
    Fill(grid, {{"Key", "Name", "Platz"}, {"a"}, {"b"}, {"c"}});
    QCOMPARE(Column(grid, 1), (QStringList{"Zorn", "Adler", "Moser"}));

    // A change where the rows are held shows without a write to the grid;
    // a write to the grid changes nothing there.
    held["b"][1] = "Adam";
    grid.SetCells(1, 1, "Fremd");
    QCOMPARE(Column(grid, 1), (QStringList{"Zorn", "Adam", "Moser"}));
    QCOMPARE(grid.Cells(1, 0), QString("Name"));

    // Sorting compares the held cells and moves the keys.
    grid.OnGetSortStyle = [](int, TSortStyle& style) { style = ssNumeric; };
    grid.SortByColumn(2);
    QCOMPARE(Column(grid, 0), (QStringList{"b", "c", "a"}));
    QCOMPARE(Column(grid, 1), (QStringList{"Adam", "Moser", "Zorn"}));
}

void TestSortGrid::multiKeySort()
{
    QFETCH(bool, descending);
    QFETCH(QStringList, numbers);
    TSortGrid grid;
    FillProtocol(
        grid, {{"K2", "30,5"}, {"K1", "12,00"}, {"K2", ""}, {"K1", "9,5"}, {"K2", "30,5"}, {"K1", "12,00"}});
    LocaleScope german(QLocale(QLocale::German, QLocale::Germany));
    QList<int> asked;
    grid.OnGetSortStyle = [&](int col, TSortStyle& style) {
        asked.append(col);
        if (col == 11) {
            grid.SortOptions.CustomCompare = CompareTotals;
            style = ssCustom;
        } else {
            style = ssNormal;
        }
    };
    QSignalSpy after(&grid, &TSortGrid::OnAfterSort);
    grid.SortOptions.SecondaryIndex = "11";
    grid.SortOptions.SortDirection = descending ? sdDescending : sdAscending;
    grid.SortByColumn(4);

    QCOMPARE(Column(grid, 0), numbers);
    QCOMPARE(asked, (QList<int>{11, 4}));
    QCOMPARE(grid.SortOptions.SortStyle, ssNormal);
    QVERIFY(!grid.SortOptions.CustomCompare);
    QCOMPARE(grid.Cells(4, 0), QString("Klasse"));
    QCOMPARE(after.count(), 1);
    QCOMPARE(after.at(0).at(0).toInt(), 4);
    QVERIFY(!grid.NowUpdating());
}

void TestSortGrid::caseSensitivity_data()
{
    QTest::addColumn<bool>("caseSensitive");
    QTest::addColumn<QStringList>("sorted");
    QTest::newRow("insensitive") << false << QStringList{"a", "B", "C"};
    QTest::newRow("sensitive") << true << QStringList{"B", "C", "a"};
}

void TestSortGrid::caseSensitivity()
{
    QFETCH(bool, caseSensitive);
    QFETCH(QStringList, sorted);
    TSortGrid grid;
    Fill(grid, {{"H"}, {"B"}, {"a"}, {"C"}});
    grid.SortOptions.SortCaseSensitive = caseSensitive;
    grid.SortByColumn(0);
    QCOMPARE(Column(grid, 0), sorted);
}

void TestSortGrid::secondaryIndexWithPrimary()
{
    TSortGrid grid;
    FillProtocol(grid, {{"K1", "2"}, {"K1", "1"}});
    QList<int> asked;
    grid.OnGetSortStyle = [&](int col, TSortStyle& style) {
        asked.append(col);
        style = ssNumeric;
    };
    grid.SortOptions.SecondaryIndex = "4,11";
    grid.SortByColumn(4);
    QCOMPARE(asked, (QList<int>{11, 4}));
    QCOMPARE(Column(grid, 11), (QStringList{"1", "2"}));
}

void TestSortGrid::automaticStyleStored()
{
    // Column 1 detects as numeric; column 2 would detect as text because of its
    // empty cell, but the stored numeric style is used: '9' before '10'.
    TSortGrid grid;
    Fill(grid, {{"h", "h", "h"}, {"x", "10", "10"}, {"y", "9", ""}, {"z", "2", "9"}});
    grid.SortOptions.SortStyle = ssAutomatic;
    grid.SortByColumn(1);
    QCOMPARE(grid.SortOptions.SortStyle, ssNumeric);
    QCOMPARE(Column(grid, 1), (QStringList{"2", "9", "10"}));
    grid.SortByColumn(2);
    QCOMPARE(grid.SortOptions.SortStyle, ssNumeric);
    QCOMPARE(Column(grid, 2), (QStringList{"", "9", "10"}));
}

void TestSortGrid::styleAnswerStored()
{
    TSortGrid grid;
    Fill(grid, {{"h"}, {"Lauf 10"}, {"Lauf 9"}});
    grid.OnGetSortStyle = [](int, TSortStyle& style) { style = ssNumericExtended; };
    grid.SortByColumn(0);
    QCOMPARE(grid.SortOptions.SortStyle, ssNumericExtended);
    QCOMPARE(Column(grid, 0), (QStringList{"Lauf 9", "Lauf 10"}));
}

void TestSortGrid::canSortFalseSortsNothing()
{
    TSortGrid grid;
    Fill(grid, {{"h", "h"}, {"b", ""}, {"a", ""}});
    grid.SortOptions.CanSort = false;
    grid.SortOptions.SortCol = 1;
    QSignalSpy after(&grid, &TSortGrid::OnAfterSort);
    grid.SortByColumn(0);
    QCOMPARE(Column(grid, 0), (QStringList{"b", "a"}));
    QCOMPARE(grid.SortOptions.SortCol, 1);
    QCOMPARE(after.count(), 0);
}

void TestSortGrid::beginSortChangesColumn()
{
    TSortGrid grid;
    Fill(grid, {{"h", "h"}, {"a", "2"}, {"b", "1"}});
    grid.OnBeginSort = [](int& col) { col = 1; };
    QSignalSpy after(&grid, &TSortGrid::OnAfterSort);
    grid.SortByColumn(0);
    QCOMPARE(Column(grid, 0), (QStringList{"b", "a"}));
    QCOMPARE(after.at(0).at(0).toInt(), 1);
}

void TestSortGrid::badSecondaryIndex_data()
{
    QTest::addColumn<QString>("secondary");
    QTest::addColumn<bool>("notANumber");
    QTest::newRow("not a number") << "x" << true;
    QTest::newRow("beyond the columns") << "5" << false;
}

void TestSortGrid::badSecondaryIndex()
{
    QFETCH(QString, secondary);
    QFETCH(bool, notANumber);
    TSortGrid grid;
    Fill(grid, {{"h", "h", "h"}, {"b", "1", "x"}, {"a", "2", "y"}});
    grid.SortOptions.SecondaryIndex = secondary;
    grid.SortOptions.UpdateOnSizeChange = true;
    grid.SortOptions.CustomCompare = CompareTotals;
    if (notANumber)
        QVERIFY_THROWS_EXCEPTION(std::invalid_argument, grid.SortByColumn(0));
    else
        QVERIFY_THROWS_EXCEPTION(std::out_of_range, grid.SortByColumn(0));
    QVERIFY(!grid.NowUpdating());
    QVERIFY(grid.isEnabled());
    QVERIFY(grid.SortOptions.UpdateOnSizeChange);
    QVERIFY(!grid.SortOptions.CustomCompare);
    QCOMPARE(Column(grid, 0), (QStringList{"b", "a"}));
    QCOMPARE(Column(grid, 2), (QStringList{"x", "y"}));

    grid.SortOptions.SecondaryIndex.clear();
    grid.SortByColumn(0);
    QCOMPARE(Column(grid, 0), (QStringList{"a", "b"}));
    QCOMPARE(Column(grid, 1), (QStringList{"2", "1"}));
}

void TestSortGrid::currentRowFollowsData_data()
{
    QTest::addColumn<QString>("secondary");
    QTest::newRow("one key") << "";
    QTest::newRow("with a secondary key") << "1";
}

void TestSortGrid::currentRowFollowsData()
{
    QFETCH(QString, secondary);
    TSortGrid grid;
    // The secondary pass moves "c" from the first place to the third.
    Fill(grid, {{"h", "h"}, {"c", "3"}, {"a", "1"}, {"d", "2"}, {"b", "4"}});
    grid.GotoCell(0, 1, false);
    QCOMPARE(grid.Row(), 1);
    grid.SortOptions.SecondaryIndex = secondary;
    grid.SortByColumn(0);
    QCOMPARE(Column(grid, 0), (QStringList{"a", "b", "c", "d"}));
    QCOMPARE(grid.Row(), 3);
    QCOMPARE(grid.SelectedRows(), QStringList{"3"});
}

void TestSortGrid::detectSortStyle_data()
{
    QTest::addColumn<QStringList>("cells");
    QTest::addColumn<int>("style");
    QTest::newRow("decimal comma numbers") << QStringList{"h", "1", "2,5"} << int(ssNumeric);
    QTest::newRow("one empty cell") << QStringList{"h", "1", ""} << int(ssNormal);
    QTest::newRow("header only") << QStringList{"h"} << int(ssNumeric);
}

void TestSortGrid::detectSortStyle()
{
    QFETCH(QStringList, cells);
    QFETCH(int, style);
    LocaleScope german(QLocale(QLocale::German, QLocale::Germany));
    TSortGrid grid;
    QList<QStringList> rows;
    for (const QString& cell : cells)
        rows.append(QStringList{cell});
    Fill(grid, rows);
    QCOMPARE(grid.RowCount(), int(cells.size()));
    QCOMPARE(int(grid.DetectSortStyle(0)), style);
}

void TestSortGrid::headerClick_data()
{
    QTest::addColumn<bool>("canSort");
    QTest::addColumn<int>("direction");
    QTest::addColumn<int>("clickedCol");
    QTest::addColumn<bool>("rightButton");
    QTest::addColumn<int>("newDirection");
    QTest::addColumn<QStringList>("column0");
    const QStringList unsorted{"b", "c", "a"};
    QTest::newRow("CanSort false flips, sorts nothing")
        << false << int(sdAscending) << 0 << false << int(sdDescending) << unsorted;
    QTest::newRow("SortCol ascending becomes descending")
        << true << int(sdAscending) << 0 << false << int(sdDescending) << QStringList{"c", "b", "a"};
    QTest::newRow("descending becomes ascending")
        << true << int(sdDescending) << 0 << false << int(sdAscending) << QStringList{"a", "b", "c"};
    QTest::newRow("other column stays ascending")
        << true << int(sdAscending) << 1 << false << int(sdAscending) << QStringList{"a", "b", "c"};
    QTest::newRow("right button sorts descending")
        << true << int(sdDescending) << 1 << true << int(sdDescending) << QStringList{"c", "b", "a"};
}

void TestSortGrid::headerClick()
{
    QFETCH(bool, canSort);
    QFETCH(int, direction);
    QFETCH(int, clickedCol);
    QFETCH(bool, rightButton);
    QFETCH(int, newDirection);
    QFETCH(QStringList, column0);
    TSortGrid grid;
    grid.SetColCount(2);
    grid.SetOptions(grid.Options() | goColSizing);
    Fill(grid, {{"Name", "Key"}, {"b", "b"}, {"c", "c"}, {"a", "a"}});
    grid.resize(300, 200);
    grid.show();
    QVERIFY(QTest::qWaitForWindowExposed(&grid));
    grid.SortOptions.CanSort = canSort;
    grid.SortOptions.SortCol = 0;
    grid.SortOptions.SortDirection = TSortDirection(direction);

    const QRect header = grid.CellRect(clickedCol, 0);
    QVERIFY(!header.isEmpty());
    QTest::mouseClick(grid.viewport(), rightButton ? Qt::RightButton : Qt::LeftButton, {}, header.center());
    QCOMPARE(int(grid.SortOptions.SortDirection), newDirection);
    QCOMPARE(Column(grid, 0), column0);

    if (!canSort) {
        // The flipped direction is what the next sort uses.
        grid.SortOptions.CanSort = true;
        grid.SortByColumn(0);
        QCOMPARE(Column(grid, 0), (QStringList{"c", "b", "a"}));
    }
}

void TestSortGrid::headerClickOnBorderIgnored()
{
    TSortGrid grid;
    grid.SetColCount(2);
    Fill(grid, {{"Name", "Key"}, {"b", "b"}, {"a", "a"}});
    grid.resize(300, 200);
    grid.show();
    QVERIFY(QTest::qWaitForWindowExposed(&grid));
    const QRect header = grid.CellRect(1, 0);
    const QPoint nearLeftEdge(header.left() + 4, header.center().y());
    QVERIFY(grid.IsOnColumnBorder(nearLeftEdge.x(), nearLeftEdge.y()));
    QVERIFY(!grid.IsOnColumnBorder(header.left() + 6, header.center().y()));
    QTest::mouseClick(grid.viewport(), Qt::LeftButton, {}, nearLeftEdge);
    QCOMPARE(grid.SortOptions.SortDirection, sdAscending);
    QCOMPARE(Column(grid, 0), (QStringList{"b", "a"}));
}

void TestSortGrid::lastColumnFillsWindow()
{
    TSortGrid grid;
    grid.SetColCount(3);
    grid.resize(400, 200);
    grid.show();
    QVERIFY(QTest::qWaitForWindowExposed(&grid));
    const int expected = grid.viewport()->width() - grid.ColWidths(0) - grid.ColWidths(1) - 3 - 3;
    QCOMPARE(grid.ColWidths(2), expected);
    QCOMPARE(grid.VisibleColCount(), 3);
}

void TestSortGrid::headerDoubleClickAutoSizes()
{
    TSortGrid grid;
    grid.SetColCount(2);
    Fill(grid, {{"Ein recht langer Kopf", "K"}, {"a", "b"}});
    grid.SortOptions.CanSort = false;
    grid.resize(400, 200);
    grid.show();
    QVERIFY(QTest::qWaitForWindowExposed(&grid));
    const QRect header = grid.CellRect(0, 0);
    const int lastWidth = grid.ColWidths(1);
    QTest::mouseDClick(grid.viewport(), Qt::LeftButton, {}, QPoint(header.right() + 1, header.center().y()));
    const QFontMetrics metrics(grid.font());
    QCOMPARE(grid.ColWidths(0),
             metrics.horizontalAdvance("Ein recht langer Kopf") + metrics.horizontalAdvance("X"));
    QCOMPARE(grid.ColWidths(1), lastWidth);
    QCOMPARE(Column(grid, 0), QStringList{"a"});
}

void TestSortGrid::paintsSortArrow_data()
{
    QTest::addColumn<int>("direction");
    QTest::addColumn<QPoint>("darkEdge");
    QTest::addColumn<QPoint>("face");
    // Pixels of the UP and DOWN glyphs: a dark-grey edge and the light-grey face.
    QTest::newRow("up") << int(sdAscending) << QPoint(3, 0) << QPoint(3, 3);
    QTest::newRow("down") << int(sdDescending) << QPoint(0, 0) << QPoint(3, 2);
}

void TestSortGrid::paintsSortArrow()
{
    QFETCH(int, direction);
    QFETCH(QPoint, darkEdge);
    QFETCH(QPoint, face);
    TSortGrid grid;
    grid.SetColCount(2);
    Fill(grid, {{"Klasse", "Name"}, {"a", "b"}});
    grid.SortOptions.SortCol = 1;
    grid.SortOptions.SortDirection = TSortDirection(direction);
    grid.resize(300, 200);
    grid.show();
    QVERIFY(QTest::qWaitForWindowExposed(&grid));
    const QImage image = grid.viewport()->grab().toImage();
    const QRect arrow = TSortGrid::ArrowRect(grid.CellRect(1, 0), grid.RowHeights(0));
    QCOMPARE(image.pixelColor(arrow.topLeft() + darkEdge), QColor(0x80, 0x80, 0x80));
    QCOMPARE(image.pixelColor(arrow.topLeft() + face), QColor(0xC0, 0xC0, 0xC0));
    // No arrow in a column that is not the sort column.
    const QRect other = TSortGrid::ArrowRect(grid.CellRect(0, 0), grid.RowHeights(0));
    QVERIFY(image.pixelColor(other.topLeft() + face) != QColor(0xC0, 0xC0, 0xC0));
}

void TestSortGrid::headerShortening_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("roomFor");
    QTest::addColumn<QString>("shortened");
    QTest::newRow("fits") << "Verein"
                          << "Verein"
                          << "Verein";
    QTest::newRow("last two become dots") << "Verein"
                                          << "Vere.."
                                          << "Vere..";
    QTest::newRow("shortened further") << "Verein"
                                       << "Ve.."
                                       << "Ve..";
    QTest::newRow("never shorter than three") << "Verein"
                                              << ""
                                              << "V..";
    QTest::newRow("two characters") << "AB"
                                    << ""
                                    << "..";
    QTest::newRow("one character stays") << "W"
                                         << ""
                                         << "W";
}

void TestSortGrid::headerShortening()
{
    QFETCH(QString, text);
    QFETCH(QString, roomFor);
    QFETCH(QString, shortened);
    TSortGrid grid;
    const QFontMetrics metrics(grid.font());
    QCOMPARE(grid.ShortenedHeaderText(text, metrics.horizontalAdvance(roomFor), metrics), shortened);
}

void TestSortGrid::textPosition_data()
{
    QTest::addColumn<int>("horz");
    QTest::addColumn<int>("vert");
    QTest::addColumn<QPoint>("position");
    // Cell at (10, 20), 101 by 31; text 40 by 12.
    QTest::newRow("left top") << int(taLeftJustify) << int(taTopJustify) << QPoint(12, 22);
    QTest::newRow("right bottom") << int(taRightJustify) << int(taBottomJustify) << QPoint(69, 36);
    QTest::newRow("center middle") << int(taCenter) << int(taMiddle) << QPoint(40, 29);
}

void TestSortGrid::textPositionStaysInRange()
{
    const int most = std::numeric_limits<int>::max();
    const int least = std::numeric_limits<int>::min();
    QCOMPARE(TSortGrid::TextPosition(QRect(most - 1, 0, 1, 31), QSize(40, 12), taLeftJustify, taTopJustify),
             QPoint(most, 2));
    QCOMPARE(TSortGrid::TextPosition(QRect(-200, 0, 101, 31), QSize(most, 12), taRightJustify, taTopJustify),
             QPoint(least, 2));
    QCOMPARE(TSortGrid::TextPosition(QRect(0, most - 10, 101, 1), QSize(40, least), taLeftJustify, taMiddle),
             QPoint(2, most));
}

void TestSortGrid::textPosition()
{
    QFETCH(int, horz);
    QFETCH(int, vert);
    QFETCH(QPoint, position);
    QCOMPARE(TSortGrid::TextPosition(QRect(10, 20, 101, 31), QSize(40, 12), TAlignment(horz),
                                     TVertAlignment(vert)),
             position);
}

void TestSortGrid::arrowAndBevelGeometry()
{
    QCOMPARE(TSortGrid::ArrowRect(QRect(30, 0, 60, 20), 20), QRect(33, 6, 8, 7));
    QCOMPARE(TSortGrid::ArrowRect(QRect(30, 0, 9, 20), 20), QRect(33, 6, 6, 7));
    const TSortGrid::TBevelLines lines = TSortGrid::BevelLines(QRect(0, 0, 10, 5), goFixedVertLine);
    QCOMPARE(lines.Shadow, (QVector<QLine>{QLine(9, 0, 9, 4)}));
    QCOMPARE(lines.Highlight, (QVector<QLine>{QLine(0, 0, 0, 4)}));
    QCOMPARE(TSortGrid::BevelLines(QRect(0, 0, 10, 5), goFixedHorzLine).Shadow,
             (QVector<QLine>{QLine(0, 4, 9, 4)}));
}

// Draws one cell of the grid into an 80 by 20 image filled with magenta, on a white brush.
static QImage DrawnCell(TestGrid& grid, int col, int row)
{
    QImage image(80, 20, QImage::Format_RGB32);
    image.fill(Qt::magenta);
    QPainter painter(&image);
    TCellCanvas canvas{painter, clWhite, grid.font(), clBlack};
    grid.DrawCell(canvas, col, row, QRect(0, 0, 80, 20), {});
    painter.end();
    return image;
}

void TestSortGrid::hideRowsDrawsHeaderOnly()
{
    TestGrid grid;
    Fill(grid, {{"WWWW"}, {"WWWW"}});
    grid.SortOptions.CanSort = false;
    grid.SetOptions(grid.Options() & ~TGridOptions(goRangeSelect));
    grid.OnGetCellFormat = [](int, int, TGridDrawState, TFormatOptions& format, bool&, bool&, bool&) {
        format.BrushColor = clWhite;
    };
    QVERIFY(HasPixelOtherThan(DrawnCell(grid, 0, 1), Qt::white));
    grid.SetHideRows(true);
    // A hidden row is blanked in the brush colour: no text, nothing of the background left.
    QVERIFY(!HasPixelOtherThan(DrawnCell(grid, 0, 1), Qt::white));
    QVERIFY(HasPixelOtherThan(DrawnCell(grid, 0, 0), Qt::white));
}

void TestSortGrid::longCellTextIsElided_data()
{
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("alignment");
    QTest::newRow("fits") << 3 << int(taLeftJustify);
    QTest::newRow("too wide, left") << 30 << int(taLeftJustify);
    QTest::newRow("too wide, right") << 30 << int(taRightJustify);
    QTest::newRow("too wide, centred") << 30 << int(taCenter);
    QTest::newRow("four million characters, right") << 4000000 << int(taRightJustify);
}

void TestSortGrid::longCellTextIsElided()
{
    QFETCH(int, length);
    QFETCH(int, alignment);
    TestGrid grid;
    Fill(grid, {{"h"}, {QString(length, u'W')}, {"x"}});
    grid.SortOptions.CanSort = false;
    grid.SetOptions(grid.Options() & ~TGridOptions(goRangeSelect));
    grid.SetAlignmentHorz(TAlignment(alignment));
    grid.SetRow(2);
    const QImage drawn = DrawnCell(grid, 0, 1);

    // The same cell holding the text as Qt elides it to the room between the margins.
    const QString elided =
        QFontMetrics(grid.font()).elidedText(QString(std::min(length, 100), u'W'), Qt::ElideRight, 76);
    QCOMPARE(elided.size() < length, length >= 30);
    grid.SetCells(0, 1, elided);
    QCOMPARE(drawn, DrawnCell(grid, 0, 1));
}

void TestSortGrid::cellFormatDefaults_data()
{
    QTest::addColumn<int>("bevel");
    QTest::addColumn<TColor>("highlight");
    QTest::addColumn<TColor>("shadow");
    QTest::newRow("none") << int(cbNone) << clWindow << clWindow;
    QTest::newRow("raised") << int(cbRaised) << clBtnHighlight << clBtnShadow;
    QTest::newRow("lowered") << int(cbLowered) << clBtnShadow << clBtnHighlight;
}

void TestSortGrid::cellFormatDefaults()
{
    QFETCH(int, bevel);
    QFETCH(TColor, highlight);
    QFETCH(TColor, shadow);
    TSortGrid grid;
    Fill(grid, {{"h", "h"}, {"a", "b"}, {"c", "d"}});
    grid.SetBevelStyle(TCellBevelStyle(bevel));
    grid.SetAlignmentHorz(taCenter);
    QList<TGridDrawState> states;
    grid.OnGetCellFormat = [&](int, int, TGridDrawState state, TFormatOptions& format, bool& checkBox, bool&,
                               bool&) {
        states.append(state);
        QCOMPARE(checkBox, false);
        format.FontColor = clRed;
    };
    const TFormatOptions header = grid.GetCellFormat(1, 0);
    QCOMPARE(header.HighlightColor, highlight);
    QCOMPARE(header.ShadowColor, shadow);
    QCOMPARE(header.AlignmentHorz, taCenter);
    QCOMPARE(header.AlignmentVert, taTopJustify);
    QCOMPARE(header.HideText, false);
    QCOMPARE(header.FontColor, clRed);
    QCOMPARE(header.BrushColor, grid.FixedColor());
    const TFormatOptions data = grid.GetCellFormat(1, 2);
    QCOMPARE(data.BrushColor, grid.Color());
    QCOMPARE(states.size(), 2);
    QVERIFY(states[0].testFlag(gdFixed));
    QVERIFY(!states[1].testFlag(gdFixed));
}

void TestSortGrid::deleteRowKeepsOneDataRow()
{
    TSortGrid grid;
    Fill(grid, {{"h", "h"}, {"a", "b"}});
    QSignalSpy deleted(&grid, &TSortGrid::OnRowDelete);
    grid.DeleteRow(1);
    QCOMPARE(grid.RowCount(), 2);
    QCOMPARE(grid.Cells(0, 1), QString());
    QCOMPARE(grid.Cells(1, 1), QString());
    QCOMPARE(grid.Cells(0, 0), QString("h"));
    QVERIFY(grid.Modified());
    QCOMPARE(deleted.count(), 1);
}

void TestSortGrid::deleteRow()
{
    TSortGrid grid;
    Fill(grid, {{"h"}, {"a"}, {"b"}, {"c"}});
    grid.GotoCell(0, 3, false);
    grid.DeleteRow(2);
    QCOMPARE(Column(grid, 0), (QStringList{"a", "c"}));
    QCOMPARE(grid.Row(), 1);
    QVERIFY(grid.Modified());
}

void TestSortGrid::insertRow()
{
    TSortGrid grid;
    Fill(grid, {{"h"}, {"a"}, {"b"}, {"c"}});
    QSignalSpy inserted(&grid, &TSortGrid::OnRowInsert);
    grid.InsertRow(1);
    QCOMPARE(Column(grid, 0), (QStringList{"", "a", "b", "c"}));
    QCOMPARE(grid.Row(), 1);
    grid.InsertRow(4);
    QCOMPARE(Column(grid, 0), (QStringList{"", "a", "b", "c", ""}));
    QCOMPARE(grid.Row(), 5);
    QCOMPARE(inserted.count(), 2);
    QCOMPARE(inserted.at(1).at(0).toInt(), 5);
}

void TestSortGrid::exchangeRows()
{
    TSortGrid grid;
    Fill(grid, {{"h"}, {"a"}, {"b"}, {"c"}, {"d"}});
    grid.ExchangeRows(1, 3);
    QCOMPARE(Column(grid, 0), (QStringList{"c", "b", "a", "d"}));
    grid.ExchangeRows(4, 2);
    QCOMPARE(Column(grid, 0), (QStringList{"c", "d", "a", "b"}));
}

void TestSortGrid::columnMoveTracksSortCol_data()
{
    QTest::addColumn<int>("from");
    QTest::addColumn<int>("to");
    QTest::addColumn<int>("sortCol");
    QTest::newRow("sort column moved") << 2 << 4 << 4;
    QTest::newRow("column moved over it to the left") << 4 << 1 << 3;
    QTest::newRow("column moved over it to the right") << 0 << 3 << 1;
    QTest::newRow("elsewhere") << 3 << 4 << 2;
}

void TestSortGrid::columnMoveTracksSortCol()
{
    QFETCH(int, from);
    QFETCH(int, to);
    QFETCH(int, sortCol);
    TSortGrid grid;
    grid.SetColCount(5);
    grid.SortOptions.SortCol = 2;
    grid.SetModified(false);
    grid.MoveColumn(from, to);
    QCOMPARE(grid.SortOptions.SortCol, sortCol);
    QVERIFY(grid.Modified());
}

void TestSortGrid::clearGrid()
{
    TestDialogs dialogs;
    const DialogsScope useDialogs(dialogs);
    TSortGrid grid;
    grid.SetColCount(3);
    Fill(grid, {{"Nr.", "Name", "Gesamt"}, {"1", "Adler", "12,34"}, {"2", "Bauer", ""}, {"3", "", ""}});
    grid.SortOptions.CanSort = false;
    grid.SortOptions.UpdateOnSizeChange = true;
    grid.SetModified(true);
    QSignalSpy modified(&grid, &TSortGrid::OnModified);
    QSignalSpy selected(&grid, &TSortGrid::OnRowSelected);
    grid.ClearGrid();
    QCOMPARE(grid.RowCount(), 2);
    QCOMPARE(grid.Rows(1).ToStringList(), (QStringList{"", "", ""}));
    QCOMPARE(grid.Cells(1, 0), QString("Name"));
    QCOMPARE(grid.Modified(), false);
    QCOMPARE(modified.count(), 0);
    QVERIFY(selected.count() >= 1);
    QCOMPARE(grid.Row(), 1);
    QVERIFY(grid.SortOptions.UpdateOnSizeChange);
    const QFontMetrics metrics(grid.font());
    for (int col = 0; col < 3; ++col)
        QCOMPARE(grid.ColWidths(col),
                 metrics.horizontalAdvance(grid.Cells(col, 0)) + metrics.horizontalAdvance("X"));
    QVERIFY(dialogs.messages.isEmpty());
    // The rows taken away do not come back with the next row.
    grid.SetRowCount(3);
    QCOMPARE(grid.Cells(1, 2), QString());
}

void TestSortGrid::sizeChangeOutsideUpdate()
{
    TSortGrid grid;
    Fill(grid, {{"h"}, {"a"}, {"b"}, {"c"}});
    grid.GotoCell(0, 3, false);
    grid.SetModified(false);
    QSignalSpy sizeChanged(&grid, &TSortGrid::OnSizeChanged);
    grid.SetRowCount(6);
    QCOMPARE(sizeChanged.count(), 1);
    QCOMPARE(sizeChanged.at(0).at(1).toInt(), 4);
    QVERIFY(grid.Modified());
    QCOMPARE(grid.Row(), 1);
    QCOMPARE(grid.TopRow(), 1);
}

void TestSortGrid::rowCountTooSmall()
{
    TestDialogs dialogs;
    const DialogsScope useDialogs(dialogs);
    TSortGrid grid;
    grid.SetRowCount(1);
    QCOMPARE(dialogs.messages, QStringList{"Rowsize too small"});
    QCOMPARE(grid.RowCount(), 1);
}

void TestSortGrid::updateOnSizeChangeSorts()
{
    TSortGrid grid;
    Fill(grid, {{"h"}, {"c"}, {"b"}});
    grid.SortOptions.UpdateOnSizeChange = true;
    grid.SortOptions.SortCol = 0;
    grid.SetRowCount(4);
    QCOMPARE(Column(grid, 0), (QStringList{"", "b", "c"}));
    grid.SetCells(0, 1, "z");
    grid.SetRowCount(3);
    QCOMPARE(Column(grid, 0), (QStringList{"b", "z"}));
}

void TestSortGrid::updateBracketKeepsFlag()
{
    TSortGrid grid;
    grid.SortOptions.UpdateOnSizeChange = true;
    QSignalSpy ended(&grid, &TSortGrid::OnEndUpdate);
    grid.BeginUpdate();
    QVERIFY(!grid.SortOptions.UpdateOnSizeChange);
    grid.BeginUpdate();
    grid.EndUpdate();
    QVERIFY(grid.SortOptions.UpdateOnSizeChange);
    QCOMPARE(ended.count(), 1);
    QVERIFY(!grid.NowUpdating());
}

void TestSortGrid::rowSelectedWhileRowIsPrevious()
{
    TSortGrid grid;
    Fill(grid, {{"h"}, {"a"}, {"b"}, {"c"}});
    grid.GotoCell(0, 1, false);
    QList<int> rowsSeen;
    connect(&grid, &TSortGrid::OnRowSelected, &grid, [&] { rowsSeen.append(grid.Row()); });
    grid.GotoCell(0, 3, false);
    QCOMPARE(rowsSeen, QList<int>{1});
    QCOMPARE(grid.Row(), 3);
    QCOMPARE(grid.SelectedRows(), QStringList{"3"});
}

void TestSortGrid::editingMarksModified()
{
    TSortGrid grid;
    grid.SetColCount(2);
    Fill(grid, {{"h", "h"}, {"a", "b"}});
    grid.SetOptions(grid.Options() | goEditing);
    grid.resize(300, 200);
    grid.show();
    QVERIFY(QTest::qWaitForWindowExposed(&grid));
    grid.setFocus();
    grid.GotoCell(1, 1, false);
    grid.SetModified(false);
    QSignalSpy modified(&grid, &TSortGrid::OnModified);
    grid.SetEditorMode(true);
    QVERIFY(grid.InplaceEditor() != nullptr);
    grid.InplaceEditor()->setText("b");
    QTest::keyClick(grid.InplaceEditor(), Qt::Key_Return);
    QCOMPARE(grid.Modified(), false);
    grid.SetEditorMode(true);
    grid.InplaceEditor()->setText("neu");
    QTest::keyClick(grid.InplaceEditor(), Qt::Key_Return);
    QCOMPARE(grid.Cells(1, 1), QString("neu"));
    QVERIFY(grid.Modified());
    QVERIFY(modified.count() >= 1);
}

void TestSortGrid::csvBytes_data()
{
    QTest::addColumn<QList<QStringList>>("rows");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("plain") << QList<QStringList>{{"a", "b"}, {"1", ""}} << QByteArray("a;b\r\n1;\r\n");
    QTest::newRow("semicolon quoted") << QList<QStringList>{{"x;y", "z"}} << QByteArray("\"x;y\";z\r\n");
    QTest::newRow("quotes doubled") << QList<QStringList>{{"say \"hi\"", ""}}
                                    << QByteArray("\"say \"\"hi\"\"\";\r\n");
    QTest::newRow("tab as blank") << QList<QStringList>{{"a\tb;", "c"}} << QByteArray("\"a b;\";c\r\n");
    QTest::newRow("line break quoted")
        << QList<QStringList>{{"l1\r\nl2", "ok"}} << QByteArray("\"l1\r\nl2\";ok\r\n");
    QTest::newRow("western code page")
        << QList<QStringList>{{QString::fromUtf8("M\xC3\xBCller"), "1"}} << QByteArray("M\xFCller;1\r\n");
    QTest::newRow("utf-8 beyond it") << QList<QStringList>{{QString::fromUtf8("\xC5\x81"
                                                                              "od\xC5\xBA"),
                                                            "1"}}
                                     << QByteArray("\xEF\xBB\xBF\xC5\x81od\xC5\xBA;1\r\n");
}

void TestSortGrid::csvBytes()
{
    QFETCH(QList<QStringList>, rows);
    QFETCH(QByteArray, bytes);
    TSortGrid grid;
    grid.SetColCount(2);
    Fill(grid, rows);
    QBuffer buffer;
    QVERIFY(buffer.open(QIODevice::WriteOnly));
    QVERIFY(grid.WriteCSV(buffer));
    QCOMPARE(buffer.data(), bytes);
}

void TestSortGrid::csvFailingDevice()
{
    TSortGrid grid;
    grid.SetColCount(2);
    Fill(grid, {{"a", "b"}, {"1", ""}});
    QByteArray data;
    QBuffer readOnly(&data);
    QVERIFY(readOnly.open(QIODevice::ReadOnly));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(".*"));
    QCOMPARE(grid.WriteCSV(readOnly), false);
}

void TestSortGrid::saveToCsv()
{
    TestDialogs dialogs;
    const DialogsScope useDialogs(dialogs);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString name = dir.filePath("protokoll.csv");
    TSortGrid grid;
    grid.SetColCount(2);
    Fill(grid, {{"a", "b"}, {"1", ""}});
    QVERIFY(grid.SaveToCSV(name));
    QFile file(name);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("a;b\r\n1;\r\n"));
    QVERIFY(dialogs.messages.isEmpty());
}

void TestSortGrid::saveToCsvFailure()
{
    TestDialogs dialogs;
    const DialogsScope useDialogs(dialogs);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString name = dir.filePath("fehlt/protokoll.csv");
    TSortGrid grid;
    QCOMPARE(grid.SaveToCSV(name), false);
    QCOMPARE(dialogs.messages, QStringList{"Can't write to file:\r" + name});
}

QTEST_MAIN(TestSortGrid)
#include "tst_sortgrid.moc"
