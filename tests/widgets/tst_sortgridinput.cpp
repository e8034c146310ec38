#include "TSortGrid.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QSignalSpy>
#include <QtTest>

namespace {

enum Special { Plain, CheckBox, ComboBox, Ellipsis };

// Header "h0".."h2" and one data row per name: column 0 the row number, column
// 1 the name, column 2 "x". The names are the quick-search and sort column.
void Fill(TSortGrid& grid, const QStringList& names, int cols = 3)
{
    grid.BeginUpdate();
    grid.SetColCount(cols);
    grid.SetRowCount(int(names.size()) + 1);
    for (int c = 0; c < cols; ++c)
        grid.SetCells(c, 0, QStringLiteral("h%1").arg(c));
    for (int r = 1; r <= names.size(); ++r) {
        grid.SetCells(0, r, QString::number(r));
        grid.SetCells(1, r, names[r - 1]);
        for (int c = 2; c < cols; ++c)
            grid.SetCells(c, r, QStringLiteral("x"));
    }
    grid.EndUpdate();
    grid.SortOptions.SortCol = 1;
}

QStringList Names(TSortGrid& grid)
{
    QStringList names;
    for (int row = 1; row < grid.RowCount(); ++row)
        names.append(grid.Cells(1, row));
    return names;
}

bool Show(TSortGrid& grid)
{
    grid.resize(400, 300);
    grid.show();
    grid.activateWindow();
    grid.setFocus();
    return QTest::qWaitForWindowExposed(&grid);
}

// Column 1 becomes a special cell of the given kind.
void MarkColumn(TSortGrid& grid, Special kind)
{
    grid.OnGetCellFormat = [kind](int col, int row, TGridDrawState, TFormatOptions&, bool& checkBox,
                                  bool& comboBox, bool& ellipsis) {
        if (col != 1 || row < 1)
            return;
        checkBox = kind == CheckBox;
        comboBox = kind == ComboBox;
        ellipsis = kind == Ellipsis;
    };
}

void TypeText(QWidget* widget, const QString& text)
{
    QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, text);
    QApplication::sendEvent(widget, &press);
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_unknown, Qt::NoModifier, text);
    QApplication::sendEvent(widget, &release);
}

QPoint CellCenter(const TSortGrid& grid, int col, int row)
{
    return grid.CellRect(col, row).center();
}

} // namespace

class TestSortGridInput : public QObject
{
    Q_OBJECT

private slots:
    void rowSelectedFiresBeforeRowMoves();
    void quickSearch_data();
    void quickSearch();
    void editorRefusesSpecialCells_data();
    void editorRefusesSpecialCells();
    void multiSelectClicks_data();
    void multiSelectClicks();
    void dragStartsAfterTenPixels_data();
    void dragStartsAfterTenPixels();
    void extendedKeys_data();
    void extendedKeys();
    void validation_data();
    void validation();
    void specialCellInput_data();
    void specialCellInput();
    void comboListTakesItem_data();
    void comboListTakesItem();
    void comboListRect_data();
    void comboListRect();
    void isChecked_data();
    void isChecked();
    void glyphsPainted_data();
    void glyphsPainted();
    void wheelScrollsTwoRows();
    void oneDblClickPerDoubleClick();
    void clickOnTheCurrentCellOpensTheEditor();
    void popupMenuOverDataRowsOnly();
    void filter_data();
    void filter();
    void secondFilterKeepsHiddenRows();
    void insertedRowLeavesHiddenRows();
};

void TestSortGridInput::rowSelectedFiresBeforeRowMoves()
{
    TSortGrid grid;
    Fill(grid, {"a", "b", "c"});
    grid.SetOptions(grid.Options() | goRowSelect);
    QVERIFY(Show(grid));
    QStringList seen;
    grid.OnSelectCell = [&](int, int row, bool&) {
        seen.append(QStringLiteral("select %1 at %2").arg(row).arg(grid.Row()));
    };
    connect(&grid, &TSortGrid::OnRowSelected, &grid,
            [&] { seen.append(QStringLiteral("selected at %1").arg(grid.Row())); });
    QTest::mouseClick(grid.viewport(), Qt::LeftButton, Qt::NoModifier, CellCenter(grid, 1, 3));
    QCOMPARE(seen, (QStringList{"select 3 at 1", "selected at 1"}));
    QCOMPARE(grid.Row(), 3);
}

void TestSortGridInput::quickSearch_data()
{
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<int>("current");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("editing");
    QTest::addColumn<int>("expected");
    const QStringList names{"Anna", "bernd", "Berta", "Carl"};
    QTest::newRow("next after the current row") << names << 2 << "b" << false << 3;
    QTest::newRow("wraps to row 1") << QStringList{"Bob", "Anna", "Berta"} << 3 << "B" << false << 1;
    QTest::newRow("lower-case cell, upper-case key") << names << 1 << "B" << false << 2;
    QTest::newRow("only the current row matches") << names << 1 << "a" << false << 1;
    QTest::newRow("no cell starts with it") << names << 2 << "z" << false << 2;
    QTest::newRow("empty cells are skipped") << QStringList{"Anna", "", "Emil"} << 1 << "e" << false << 3;
    QTest::newRow("umlaut") << QStringList{"Anna", "Özdemir"} << 1 << QString::fromUtf8("ö") << false << 2;
    QTest::newRow("digit") << QStringList{"Anna", "3er Team"} << 1 << "3" << false << 2;
    QTest::newRow("editing on: the key opens the editor") << names << 1 << "b" << true << 1;
}

void TestSortGridInput::quickSearch()
{
    QFETCH(QStringList, names);
    QFETCH(int, current);
    QFETCH(QString, typed);
    QFETCH(bool, editing);
    QFETCH(int, expected);
    TSortGrid grid;
    Fill(grid, names);
    grid.SetOptions(editing ? grid.Options() | goEditing : grid.Options() | goRowSelect);
    QVERIFY(Show(grid));
    grid.GotoCell(0, current, true);
    TypeText(&grid, typed);
    QCOMPARE(grid.Row(), expected);
    QCOMPARE(grid.EditorMode(), editing);
    if (editing)
        QCOMPARE(grid.InplaceEditor()->text(), typed);
}

void TestSortGridInput::editorRefusesSpecialCells_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<bool>("byTab");
    QTest::addColumn<int>("expectedCol");
    QTest::newRow("check box refused") << int(CheckBox) << false << 0;
    QTest::newRow("combo box refused") << int(ComboBox) << false << 0;
    QTest::newRow("ellipsis taken") << int(Ellipsis) << false << 1;
    QTest::newRow("plain cell taken") << int(Plain) << false << 1;
    QTest::newRow("tab goes past a combo box") << int(ComboBox) << true << 2;
    QTest::newRow("tab onto a check box refused") << int(CheckBox) << true << 0;
}

void TestSortGridInput::editorRefusesSpecialCells()
{
    QFETCH(int, kind);
    QFETCH(bool, byTab);
    QFETCH(int, expectedCol);
    TSortGrid grid;
    Fill(grid, {"a", "b"}, 4);
    grid.SetOptions(grid.Options() | goEditing | goTabs);
    MarkColumn(grid, Special(kind));
    QVERIFY(Show(grid));
    grid.GotoCell(0, 1, false);
    grid.SetEditorMode(true);
    QVERIFY(grid.EditorMode());
    if (byTab)
        QTest::keyClick(grid.InplaceEditor(), Qt::Key_Tab);
    else
        grid.SetCol(1);
    QCOMPARE(grid.Col(), expectedCol);
    QCOMPARE(grid.Row(), 1);
}

struct Click
{
    int Row;
    Qt::KeyboardModifiers Modifiers;
};

void TestSortGridInput::multiSelectClicks_data()
{
    QTest::addColumn<QList<Click>>("clicks");
    QTest::addColumn<QStringList>("selected");
    QTest::addColumn<int>("current");
    const Qt::KeyboardModifiers ctrl = Qt::ControlModifier;
    const Qt::KeyboardModifiers none = Qt::NoModifier;
    QTest::newRow("ctrl click on the only selected row keeps it")
        << QList<Click>{{1, ctrl}} << QStringList{"1"} << 1;
    QTest::newRow("ctrl click adds a row") << QList<Click>{{3, ctrl}} << QStringList{"1", "3"} << 3;
    QTest::newRow("ctrl click removes, the last selected becomes current")
        << QList<Click>{{3, ctrl}, {4, ctrl}, {4, ctrl}} << QStringList{"1", "3"} << 3;
    QTest::newRow("plain click resets") << QList<Click>{{3, ctrl}, {2, none}} << QStringList{"2"} << 2;
    QTest::newRow("shift click selects the range")
        << QList<Click>{{2, none}, {4, Qt::ShiftModifier}} << QStringList{"2", "3", "4"} << 2;
}

void TestSortGridInput::multiSelectClicks()
{
    QFETCH(QList<Click>, clicks);
    QFETCH(QStringList, selected);
    QFETCH(int, current);
    TSortGrid grid;
    Fill(grid, {"a", "b", "c", "d", "e"});
    grid.SetMultiSelect(true);
    QVERIFY(Show(grid));
    grid.GotoCell(0, 1, false);
    QSignalSpy rowSelected(&grid, &TSortGrid::OnRowSelected);
    for (const Click& click : clicks) {
        const bool shift = click.Modifiers & Qt::ShiftModifier;
        if (shift)
            QTest::keyPress(&grid, Qt::Key_Shift, Qt::ShiftModifier);
        QTest::mouseClick(grid.viewport(), Qt::LeftButton, click.Modifiers, CellCenter(grid, 1, click.Row));
        if (shift)
            QTest::keyRelease(&grid, Qt::Key_Shift);
    }
    QCOMPARE(grid.SelectedRows(), selected);
    QCOMPARE(grid.Row(), current);
    QVERIFY(rowSelected.count() >= clicks.size());
}

void TestSortGridInput::dragStartsAfterTenPixels_data()
{
    QTest::addColumn<QPoint>("move");
    QTest::addColumn<bool>("drags");
    QTest::newRow("ten pixels down") << QPoint(0, 10) << false;
    QTest::newRow("eleven pixels down") << QPoint(0, 11) << true;
    QTest::newRow("eleven pixels left") << QPoint(-11, 0) << true;
}

void TestSortGridInput::dragStartsAfterTenPixels()
{
    QFETCH(QPoint, move);
    QFETCH(bool, drags);
    TSortGrid grid;
    Fill(grid, {"a", "b", "c", "d", "e"});
    grid.SetMultiSelect(true);
    QVERIFY(Show(grid));
    grid.GotoCell(0, 2, false);
    QSignalSpy dragStarted(&grid, &TSortGrid::OnStartDrag);
    const QPoint start = CellCenter(grid, 1, 2);
    QTest::mousePress(grid.viewport(), Qt::LeftButton, Qt::NoModifier, start);
    QMouseEvent moveEvent(QEvent::MouseMove, start + move, grid.viewport()->mapToGlobal(start + move),
                          Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(grid.viewport(), &moveEvent);
    QCOMPARE(dragStarted.count(), drags ? 1 : 0);
    QCOMPARE(grid.Dragging(), drags);
    QTest::mouseRelease(grid.viewport(), Qt::LeftButton, Qt::NoModifier, start + move);
    QCOMPARE(grid.Dragging(), false);
}

void TestSortGridInput::extendedKeys_data()
{
    QTest::addColumn<int>("rows");
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<bool>("extended");
    QTest::addColumn<QSize>("expected"); // columns x rows
    const int ctrl = Qt::ControlModifier;
    const int ctrlShift = Qt::ControlModifier | Qt::ShiftModifier;
    QTest::newRow("ctrl insert adds a row") << 3 << int(Qt::Key_Insert) << ctrl << true << QSize(3, 5);
    QTest::newRow("ctrl delete removes a row") << 3 << int(Qt::Key_Delete) << ctrl << true << QSize(3, 3);
    QTest::newRow("ctrl delete keeps the last data row")
        << 1 << int(Qt::Key_Delete) << ctrl << true << QSize(3, 2);
    QTest::newRow("ctrl shift insert adds a column")
        << 3 << int(Qt::Key_Insert) << ctrlShift << true << QSize(4, 4);
    QTest::newRow("ctrl shift delete removes a column")
        << 3 << int(Qt::Key_Delete) << ctrlShift << true << QSize(2, 4);
    QTest::newRow("without ExtendedKeys nothing") << 3 << int(Qt::Key_Insert) << ctrl << false << QSize(3, 4);
}

void TestSortGridInput::extendedKeys()
{
    QFETCH(int, rows);
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(bool, extended);
    QFETCH(QSize, expected);
    TSortGrid grid;
    QStringList names;
    for (int i = 0; i < rows; ++i)
        names.append(QString(QChar(u'a' + i)));
    Fill(grid, names);
    grid.SetExtendedKeys(extended);
    QVERIFY(Show(grid));
    QTest::keyClick(&grid, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
    QCOMPARE(QSize(grid.ColCount(), grid.RowCount()), expected);
}

enum Commit { ByEnter, ByFocusLoss, ByClickElsewhere };

void TestSortGridInput::validation_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QString>("handlerValue"); // empty: the handler leaves NewValue alone
    QTest::addColumn<bool>("modifiedBefore");
    QTest::addColumn<int>("commit");
    QTest::addColumn<QString>("cell");
    QTest::addColumn<bool>("modified");
    QTest::addColumn<int>("calls");
    QTest::newRow("accepted") << "32,10" << true << "" << false << int(ByEnter) << "32,10" << true << 1;
    QTest::newRow("accepted and rewritten")
        << "32.10" << true << "32,10" << false << int(ByEnter) << "32,10" << true << 1;
    QTest::newRow("refused restores text and Modified")
        << "3l,25" << false << "" << false << int(ByEnter) << "31,25" << false << 1;
    QTest::newRow("refused keeps an earlier Modified")
        << "3l,25" << false << "" << true << int(ByEnter) << "31,25" << true << 1;
    QTest::newRow("refused with the handler's value")
        << "x" << false << "EL" << false << int(ByEnter) << "EL" << false << 1;
    QTest::newRow("refused on focus loss")
        << "3l,25" << false << "" << false << int(ByFocusLoss) << "31,25" << false << 1;
    QTest::newRow("refused on a click elsewhere")
        << "3l,25" << false << "" << false << int(ByClickElsewhere) << "31,25" << false << 1;
    QTest::newRow("unchanged text is not validated")
        << "31,25" << false << "" << false << int(ByEnter) << "31,25" << false << 0;
}

void TestSortGridInput::validation()
{
    QFETCH(QString, typed);
    QFETCH(bool, valid);
    QFETCH(QString, handlerValue);
    QFETCH(bool, modifiedBefore);
    QFETCH(int, commit);
    QFETCH(QString, cell);
    QFETCH(bool, modified);
    QFETCH(int, calls);
    QWidget window;
    auto* grid = new TSortGrid(&window);
    auto* other = new QLineEdit(&window);
    other->move(0, 310);
    Fill(*grid, {"31,25", "b"});
    grid->SetOptions(grid->Options() | goEditing);
    grid->resize(400, 300);
    window.resize(400, 340);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    window.activateWindow();
    grid->setFocus();
    grid->GotoCell(1, 1, false);
    grid->SetModified(modifiedBefore);
    QStringList seen;
    grid->OnCellValidate = [&](int col, int row, const QString& oldValue, QString& newValue, bool& ok) {
        seen.append(QStringLiteral("%1,%2 %3 -> %4").arg(col).arg(row).arg(oldValue, newValue));
        if (!handlerValue.isEmpty())
            newValue = handlerValue;
        ok = valid;
    };
    grid->SetEditorMode(true);
    QVERIFY(grid->EditorMode());
    grid->InplaceEditor()->setText(typed);
    if (commit == ByEnter)
        QTest::keyClick(grid->InplaceEditor(), Qt::Key_Return);
    else if (commit == ByFocusLoss)
        other->setFocus();
    else
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, Qt::NoModifier, CellCenter(*grid, 1, 2));
    QCOMPARE(grid->EditorMode(), false);
    QCOMPARE(grid->Cells(1, 1), cell);
    QCOMPARE(grid->Modified(), modified);
    QCOMPARE(seen.size(), calls);
    if (calls > 0)
        QCOMPARE(seen.first(), QStringLiteral("1,1 31,25 -> %1").arg(typed));
}

void TestSortGridInput::specialCellInput_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("clickX"); // -1: Space on the current cell; else pixels from the cell's left
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("checked");
    QTest::addColumn<int>("ellipsis");
    QTest::addColumn<bool>("listShown");
    QTest::newRow("space toggles a check box") << int(CheckBox) << -1 << "V" << 1 << 0 << false;
    QTest::newRow("click toggles a check box") << int(CheckBox) << 10 << "V" << 1 << 0 << false;
    QTest::newRow("space on an ellipsis cell") << int(Ellipsis) << -1 << "b" << 0 << 1 << false;
    QTest::newRow("click on the ellipsis button") << int(Ellipsis) << 90 << "b" << 0 << 1 << false;
    QTest::newRow("click left of the ellipsis button") << int(Ellipsis) << 70 << "b" << 0 << 0 << false;
    QTest::newRow("space opens a combo list") << int(ComboBox) << -1 << "b" << 0 << 0 << true;
    QTest::newRow("click opens a combo list") << int(ComboBox) << 10 << "b" << 0 << 0 << true;
    QTest::newRow("space on a plain cell") << int(Plain) << -1 << "b" << 0 << 0 << false;
}

void TestSortGridInput::specialCellInput()
{
    QFETCH(int, kind);
    QFETCH(int, clickX);
    QFETCH(QString, text);
    QFETCH(int, checked);
    QFETCH(int, ellipsis);
    QFETCH(bool, listShown);
    TSortGrid grid;
    Fill(grid, {"a", "b"});
    grid.SetColWidths(1, 100);
    MarkColumn(grid, Special(kind));
    grid.OnGetComboBox = [](int, int, QStringList& strs, int&, int&, bool&) { strs = {"c", "a", "b"}; };
    QVERIFY(Show(grid));
    grid.GotoCell(1, 2, false);
    QSignalSpy checkedSpy(&grid, &TSortGrid::OnSetChecked);
    QSignalSpy ellipsisSpy(&grid, &TSortGrid::OnSetEllipsis);
    if (clickX < 0) {
        QTest::keyClick(&grid, Qt::Key_Space);
    } else {
        const QRect rect = grid.CellRect(1, 2);
        QTest::mouseClick(grid.viewport(), Qt::LeftButton, Qt::NoModifier,
                          QPoint(rect.left() + clickX, rect.center().y()));
    }
    QCOMPARE(grid.Cells(1, 2), text);
    QCOMPARE(checkedSpy.count(), checked);
    QCOMPARE(ellipsisSpy.count(), ellipsis);
    QCOMPARE(!grid.ComboList()->isHidden(), listShown);
    QCOMPARE(grid.EditorMode(), false);
}

void TestSortGridInput::comboListTakesItem_data()
{
    QTest::addColumn<int>("how"); // 0 mouse release, 1 Enter, 2 Space, 3 focus loss
    QTest::addColumn<bool>("sorted");
    QTest::addColumn<QString>("taken");
    QTest::newRow("mouse release on an item") << 0 << true << "Bern";
    QTest::newRow("enter takes the selected item") << 1 << true << "Basel";
    QTest::newRow("space takes the selected item") << 2 << true << "Basel";
    QTest::newRow("leaving takes the selected item") << 3 << true << "Basel";
    QTest::newRow("unsorted list keeps its order") << 1 << false << "Basel";
}

void TestSortGridInput::comboListTakesItem()
{
    QFETCH(int, how);
    QFETCH(bool, sorted);
    QFETCH(QString, taken);
    QWidget window;
    auto* grid = new TSortGrid(&window);
    auto* other = new QLineEdit(&window);
    other->move(0, 310);
    Fill(*grid, {"a", "Basel"});
    MarkColumn(*grid, ComboBox);
    grid->OnGetComboBox = [&](int, int, QStringList& strs, int&, int&, bool& sort) {
        strs = {"Chur", "Basel", "Aarau", "Bern"};
        sort = sorted;
    };
    grid->resize(400, 300);
    window.resize(400, 340);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    window.activateWindow();
    QSignalSpy setCombo(grid, &TSortGrid::OnSetComboBox);
    grid->ShowComboList(1, 2);
    QListWidget* list = grid->ComboList();
    QVERIFY(!list->isHidden());
    QCOMPARE(list->parentWidget(), &window);
    QCOMPARE(list->item(0)->text(), sorted ? QStringLiteral("Aarau") : QStringLiteral("Chur"));
    QCOMPARE(list->currentItem()->text(), QStringLiteral("Basel")); // the cell's text
    if (how == 0) {
        const QRect item = list->visualItemRect(list->findItems("Bern", Qt::MatchExactly).first());
        QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, item.center());
    } else if (how == 1) {
        QTest::keyClick(list, Qt::Key_Return);
    } else if (how == 2) {
        QTest::keyClick(list, Qt::Key_Space);
    } else {
        other->setFocus();
    }
    QVERIFY(list->isHidden());
    QCOMPARE(grid->Cells(1, 2), taken);
    QCOMPARE(setCombo.count(), 1);
    QCOMPARE(setCombo.first().at(2).toString(), taken);
}

void TestSortGridInput::comboListRect_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<QRect>("expected");
    // Cell (10, 20) 32 x 20 in a grid at (5, 100); items 16 pixels high.
    QTest::newRow("three items") << 3 << 0 << 0 << QRect(17, 126, 33, 53);
    QTest::newRow("ten items or more show ten") << 12 << 0 << 0 << QRect(17, 14, 33, 165);
    QTest::newRow("a height asks for ten rows") << 3 << 0 << 1 << QRect(17, 14, 33, 165);
    QTest::newRow("width given") << 3 << 80 << 0 << QRect(17, 126, 80, 53);
}

void TestSortGridInput::comboListRect()
{
    QFETCH(int, count);
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(QRect, expected);
    QCOMPARE(TSortGrid::ComboListRect(QRect(10, 20, 32, 20), QPoint(5, 100), 16, count, width, height),
             expected);
}

void TestSortGridInput::isChecked_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("checked");
    QTest::newRow("V") << "V" << true;
    QTest::newRow("true") << "true" << true;
    QTest::newRow("1") << "1" << true;
    QTest::newRow("v") << "v" << false;
    QTest::newRow("True") << "True" << false;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("X") << "X" << false;
}

void TestSortGridInput::isChecked()
{
    QFETCH(QString, text);
    QFETCH(bool, checked);
    QCOMPARE(TSortGrid::IsChecked(text), checked);
}

void TestSortGridInput::glyphsPainted_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("row");
    QTest::addColumn<bool>("black"); // the probed glyph pixel
    QTest::newRow("checked box shows its mark") << int(CheckBox) << "V" << 1 << true;
    QTest::newRow("unchecked box is empty") << int(CheckBox) << "" << 1 << false;
    QTest::newRow("check box drawn in every row") << int(CheckBox) << "1" << 2 << true;
    QTest::newRow("combo button in the current row") << int(ComboBox) << "x" << 1 << true;
    QTest::newRow("no combo button in other rows") << int(ComboBox) << "x" << 2 << false;
    QTest::newRow("ellipsis button in the current row") << int(Ellipsis) << "x" << 1 << true;
}

void TestSortGridInput::glyphsPainted()
{
    QFETCH(int, kind);
    QFETCH(QString, text);
    QFETCH(int, row);
    QFETCH(bool, black);
    TSortGrid grid;
    Fill(grid, {"a", "b"});
    grid.SetCells(1, row, text);
    MarkColumn(grid, Special(kind));
    QVERIFY(Show(grid));
    // The combo button shows in the current cell, the ellipsis button beside it.
    grid.GotoCell(kind == Ellipsis ? 0 : 1, 1, false);
    const QImage image = grid.viewport()->grab().toImage();
    const QRect cell = grid.CellRect(1, row);
    // The check mark's pixel (10, 5), or the bottom edge of the button glyphs.
    const QPoint probe = kind == CheckBox
                             ? TSortGrid::CheckBoxRect(cell, grid.RowHeights(row)).topLeft() + QPoint(10, 5)
                             : TSortGrid::ButtonRect(cell).bottomLeft() + QPoint(2, 0);
    QCOMPARE(image.pixelColor(probe) == QColor(Qt::black), black);
}

void TestSortGridInput::wheelScrollsTwoRows()
{
    TSortGrid grid;
    QStringList names;
    for (int i = 0; i < 60; ++i)
        names.append(QStringLiteral("n%1").arg(i));
    Fill(grid, names);
    QVERIFY(Show(grid));
    grid.SetTopRow(10);
    const QPoint at = CellCenter(grid, 1, 12);
    QWheelEvent down(at, grid.viewport()->mapToGlobal(at), {}, QPoint(0, -120), Qt::NoButton, Qt::NoModifier,
                     Qt::NoScrollPhase, false);
    QApplication::sendEvent(grid.viewport(), &down);
    QCOMPARE(grid.TopRow(), 12);
    QWheelEvent up(at, grid.viewport()->mapToGlobal(at), {}, QPoint(0, 120), Qt::NoButton, Qt::NoModifier,
                   Qt::NoScrollPhase, false);
    QApplication::sendEvent(grid.viewport(), &up);
    QCOMPARE(grid.TopRow(), 10);
    QCOMPARE(grid.Row(), 1);
}

void TestSortGridInput::oneDblClickPerDoubleClick()
{
    TSortGrid grid;
    Fill(grid, {"a", "b"});
    grid.SetOptions(grid.Options() | goRowSelect);
    QVERIFY(Show(grid));
    QSignalSpy dblClick(&grid, &TSortGrid::OnDblClick);
    QTest::mouseDClick(grid.viewport(), Qt::LeftButton, Qt::NoModifier, CellCenter(grid, 1, 2));
    QCOMPARE(dblClick.count(), 1);
}

void TestSortGridInput::clickOnTheCurrentCellOpensTheEditor()
{
    TSortGrid grid;
    Fill(grid, {"a", "b"});
    grid.SetOptions(grid.Options() | goEditing);
    QVERIFY(Show(grid));
    grid.GotoCell(1, 2, false);
    QTest::mouseClick(grid.viewport(), Qt::LeftButton, Qt::NoModifier, CellCenter(grid, 1, 2));
    QVERIFY(grid.EditorMode());
    QVERIFY(grid.InplaceEditor()->hasFocus());
}

void TestSortGridInput::popupMenuOverDataRowsOnly()
{
    TSortGrid grid;
    Fill(grid, {"a", "b"});
    QMenu menu;
    menu.addAction(QStringLiteral("Eintrag"));
    grid.SetPopupMenu(&menu);
    QVERIFY(Show(grid));
    QTest::mouseClick(grid.viewport(), Qt::RightButton, Qt::NoModifier, CellCenter(grid, 1, 0));
    QVERIFY(!menu.isVisible());
    QTest::mouseClick(grid.viewport(), Qt::RightButton, Qt::NoModifier, CellCenter(grid, 1, 2));
    QTRY_VERIFY(menu.isVisible());
    menu.close();
}

void TestSortGridInput::filter_data()
{
    QTest::addColumn<QStringList>("accepted");
    QTest::addColumn<bool>("canSort");
    QTest::addColumn<QStringList>("shown");
    QTest::addColumn<QStringList>("afterOff");
    const QStringList all{"Anna", "Bert", "Carl", "Dora"};
    QTest::newRow("nothing accepted, sorted again when switched off")
        << QStringList{} << true << QStringList{""} << all;
    QTest::newRow("nothing accepted, without CanSort the first row comes back last")
        << QStringList{} << false << QStringList{""} << QStringList{"Anna", "Carl", "Bert", "Dora"};
    QTest::newRow("two accepted, kept rows come back below")
        << QStringList{"Carl", "Anna"} << false << QStringList{"Anna", "Carl"}
        << QStringList{"Anna", "Carl", "Dora", "Bert"};
    QTest::newRow("two accepted, sorted")
        << QStringList{"Carl", "Dora"} << true << QStringList{"Carl", "Dora"} << all;
}

void TestSortGridInput::filter()
{
    QFETCH(QStringList, accepted);
    QFETCH(bool, canSort);
    QFETCH(QStringList, shown);
    QFETCH(QStringList, afterOff);
    TSortGrid grid;
    Fill(grid, {"Dora", "Anna", "Carl", "Bert"});
    grid.SortOptions.CanSort = canSort;
    grid.SetModified(false);
    grid.OnSetFilter = [&](const QStringList& cells, bool& accept) {
        accept = accepted.contains(cells.value(1));
    };
    grid.SetFiltered(true);
    QCOMPARE(Names(grid), shown);
    QCOMPARE(grid.FilteredCount(), 4 - int(accepted.size()));
    QCOMPARE(grid.Row(), 1);
    grid.SetFiltered(false);
    QCOMPARE(Names(grid), afterOff);
    QCOMPARE(grid.FilteredCount(), 0);
    QCOMPARE(grid.Modified(), false);
}

void TestSortGridInput::secondFilterKeepsHiddenRows()
{
    TSortGrid grid;
    grid.SortOptions.CanSort = false;
    Fill(grid, {"Anna", "Bert", "Carl", "Dora", "Emil"});
    QStringList accepted{"Anna", "Carl", "Emil"};
    grid.OnSetFilter = [&](const QStringList& cells, bool& accept) {
        accept = accepted.contains(cells.value(1));
    };
    grid.SetFiltered(true);
    QCOMPARE(Names(grid), (QStringList{"Anna", "Carl", "Emil"}));
    accepted = {"Emil"};
    grid.SetFiltered(true);
    QCOMPARE(Names(grid), QStringList{"Emil"});
    QCOMPARE(grid.FilteredCount(), 4);
    accepted = {};
    grid.SetFiltered(true); // nothing accepted: one empty row shows
    QCOMPARE(Names(grid), QStringList{""});
    grid.SetFiltered(true); // row 1 empty: nothing to filter
    QCOMPARE(grid.FilteredCount(), 5);
    grid.SetFiltered(false);
    QCOMPARE(Names(grid), (QStringList{"Emil", "Anna", "Carl", "Bert", "Dora"}));
}

void TestSortGridInput::insertedRowLeavesHiddenRows()
{
    TSortGrid grid;
    grid.SortOptions.CanSort = false;
    Fill(grid, {"Anna", "Bert", "Carl"});
    grid.OnSetFilter = [](const QStringList& cells, bool& accept) { accept = cells.value(1) != "Bert"; };
    grid.SetFiltered(true);
    grid.InsertRow(2);
    QCOMPARE(Names(grid), (QStringList{"Anna", "Carl", ""}));
    grid.SetFiltered(false);
    QCOMPARE(Names(grid), (QStringList{"Anna", "Carl", "", "Bert"}));
    grid.SetFiltered(true);
    grid.ClearGrid();
    grid.SetFiltered(false);
    QCOMPARE(Names(grid), QStringList{""});
}

QTEST_MAIN(TestSortGridInput)
#include "tst_sortgridinput.moc"
