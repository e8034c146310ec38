// The sortable grid's user input: selection and multi-selection, keys, mouse,
// validation of edited cells, and the check-box, drop-down and ellipsis cells.
#include "TSortGrid.h"

#include <QCursor>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>
#include <cstdlib>

namespace {

constexpr int kDragDistance = 10;  // pixels a press on a selected row moves before dragging starts
constexpr int kButtonWidth = 16;   // combo-box and ellipsis glyphs, and the ellipsis click area
constexpr int kGlyphSize = 16;     // check-box glyph
constexpr int kComboListRows = 10; // rows a long drop-down list shows
constexpr int kWheelRows = 2;

bool IsNavigationKey(int key)
{
    switch (key) {
    case Qt::Key_Home:
    case Qt::Key_End:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_Left:
    case Qt::Key_Right:
        return true;
    default:
        return false;
    }
}

} // namespace

// ---------------------------------------------------------------- selection

bool TSortGrid::SelectCellWhileEditing(int col, int row)
{
    bool checkBox = false;
    bool comboBox = false;
    bool ellipsis = false;
    CellFormat(col, row, nullptr, checkBox, comboBox, ellipsis);
    if (comboBox) {
        ShowComboList(col, row);
        // Tab goes on past a combo-box cell.
        if (m_tabHeld && col < ColCount() - 2)
            MoveCurrent(col + 1, row, true);
    }
    if (checkBox || comboBox)
        return false;
    return TMyStringGrid::SelectCell(col, row);
}

void TSortGrid::AddSelectionRange()
{
    const TGridRect selection = Selection();
    for (int row = selection.Top; row <= selection.Bottom; ++row) {
        const QString text = QString::number(row);
        if (!m_selectedRows.contains(text))
            m_selectedRows.append(text);
        if (!m_selectionOrder.contains(text))
            m_selectionOrder.append(text);
        InvalidateRow(row);
    }
}

void TSortGrid::MoveCurrentRow(int row)
{
    const bool tracking = m_trackSelection;
    m_trackSelection = false;
    MoveCurrent(Col(), row, true);
    m_trackSelection = tracking;
}

bool TSortGrid::MultiSelectKeys() const
{
    return m_multiSelect && !EditorMode();
}

void TSortGrid::MultiSelectKeyPress(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Shift) {
        SetOptions(Options() | goRangeSelect);
        ClearSelection();
    }
    if (event->modifiers() & Qt::ShiftModifier) {
        if (m_selectionOrder.isEmpty())
            m_selectionOrder.append(QString());
        m_selectionOrder[0] = QString::number(Row());
    }
    m_trackSelection = IsNavigationKey(event->key());
}

void TSortGrid::MultiSelectKeyRelease(QKeyEvent* event)
{
    m_trackSelection = true;
    if (event->key() == Qt::Key_Shift) {
        if (m_selectedRows.isEmpty())
            AddSelectionRange();
    } else if (IsNavigationKey(event->key()) && !(event->modifiers() & Qt::ShiftModifier)) {
        AddSelectionRange();
        SetOptions(Options() & ~TGridOptions(goRangeSelect));
    }
    emit OnRowSelected();
}

bool TSortGrid::MultiSelectPress(QMouseEvent* event, int row)
{
    if (event->button() == Qt::LeftButton && event->modifiers() == Qt::NoModifier) {
        if (m_selectedRows.contains(QString::number(row))) {
            m_dragOrigin = event->position().toPoint();
        } else {
            MoveCurrentRow(row);
            ResetSelectionTo(row);
            emit OnRowSelected();
        }
    }
    return EditorMode() || ((Options() & goRangeSelect) && event->modifiers() == Qt::ShiftModifier &&
                            event->buttons() == Qt::LeftButton);
}

void TSortGrid::MultiSelectRelease(QMouseEvent* event, int row)
{
    const QString text = QString::number(row);
    if (event->modifiers() & Qt::ControlModifier) {
        if (!m_selectedRows.contains(text)) {
            m_selectedRows.append(text);
            m_selectionOrder.append(text);
            MoveCurrentRow(row);
        } else if (m_selectedRows.size() > 1) {
            m_selectedRows.removeAll(text);
            m_selectionOrder.removeAll(text);
            InvalidateRow(row);
            for (auto last = m_selectionOrder.crbegin(); last != m_selectionOrder.crend(); ++last) {
                bool ok = false;
                const int lastRow = last->toInt(&ok);
                if (ok && lastRow >= FixedRows() && lastRow < RowCount()) {
                    MoveCurrentRow(lastRow);
                    break;
                }
            }
        }
        SetOptions(Options() & ~TGridOptions(goRangeSelect));
    } else if (event->modifiers() & Qt::ShiftModifier) {
        ClearSelection();
        m_selectionOrder.removeFirst();
        AddSelectionRange();
    } else {
        SetOptions(Options() & ~TGridOptions(goRangeSelect));
        MoveCurrentRow(row);
        ResetSelectionTo(row);
    }
    InvalidateGrid();
    emit OnRowSelected();
}

// ---------------------------------------------------------------- keyboard

bool TSortGrid::ExtendedKey(QKeyEvent* event)
{
    if (!m_extendedKeys || EditorMode() || !(event->modifiers() & Qt::ControlModifier))
        return false;
    const bool shift = event->modifiers() & Qt::ShiftModifier;
    if (event->key() == Qt::Key_Insert) {
        if (shift)
            InsertColumn(Col());
        else
            InsertRow(Row());
        return true;
    }
    if (event->key() == Qt::Key_Delete) {
        if (shift && ColCount() > 1)
            DeleteColumn(Col());
        else if (!shift && RowCount() > 2)
            DeleteRow(Row());
        return true;
    }
    return false;
}

bool TSortGrid::QuickSearch(const QString& text)
{
    const int col = SortOptions.SortCol;
    if (text.isEmpty() || !text.at(0).isPrint() || text.at(0).isSpace() || col < 0 || col >= ColCount())
        return false;
    const QChar wanted = text.at(0).toUpper();
    const auto matches = [&](int row) {
        const QString cell = Cells(col, row);
        return !cell.isEmpty() && cell.at(0).toUpper() == wanted;
    };
    const int current = Row();
    for (int row = current + 1; row < RowCount(); ++row) {
        if (matches(row)) {
            GotoCell(col, row, true);
            return true;
        }
    }
    for (int row = 1; row <= current && row < RowCount(); ++row) {
        if (matches(row)) {
            GotoCell(col, row, true);
            return true;
        }
    }
    return false;
}

void TSortGrid::keyPressEvent(QKeyEvent* event)
{
    if (MultiSelectKeys())
        MultiSelectKeyPress(event);
    if (ExtendedKey(event)) {
        event->accept();
        return;
    }
    const int key = event->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter)
        ValidateCell();
    const bool plainKey = !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier));
    // Typed characters open the editor when editing is on; otherwise they search.
    const bool editable = (Options() & goEditing) && !(Options() & goRowSelect);
    if (!EditorMode() && plainKey && !editable && QuickSearch(event->text())) {
        event->accept();
        return;
    }
    if (key == Qt::Key_Space && !EditorMode()) {
        bool checkBox = false;
        bool comboBox = false;
        bool ellipsis = false;
        CellFormat(Col(), Row(), nullptr, checkBox, comboBox, ellipsis);
        // Space acts on a special cell when released; it does not open the editor.
        if (checkBox || comboBox || ellipsis) {
            event->accept();
            return;
        }
    }
    m_tabHeld = key == Qt::Key_Tab || key == Qt::Key_Backtab;
    TMyStringGrid::keyPressEvent(event);
    m_tabHeld = false;
}

void TSortGrid::keyReleaseEvent(QKeyEvent* event)
{
    if (!event->isAutoRepeat()) {
        if (MultiSelectKeys())
            MultiSelectKeyRelease(event);
        if (event->key() == Qt::Key_Space && !EditorMode())
            SpecialCellAction(Col(), Row(), -1);
    }
    TMyStringGrid::keyReleaseEvent(event);
}

// ---------------------------------------------------------------- mouse

void TSortGrid::DataCellRelease(QMouseEvent* event, TGridCoord cell)
{
    const bool dataRow = cell.Y >= FixedRows() && cell.Y < RowCount();
    if (!dataRow)
        return;
    if (m_multiSelect && event->button() == Qt::LeftButton)
        MultiSelectRelease(event, cell.Y);
    if (event->button() == Qt::RightButton && m_popupMenu)
        m_popupMenu->popup(QCursor::pos());
    if (event->button() == Qt::LeftButton && cell == m_mouseDownCell && cell.X >= FixedCols())
        SpecialCellAction(cell.X, cell.Y, event->position().toPoint().x());
}

void TSortGrid::mouseMoveEvent(QMouseEvent* event)
{
    if (m_multiSelect && m_dragOrigin.x() >= 0 && !m_dragging && event->buttons() == Qt::LeftButton) {
        const QPoint moved = event->position().toPoint() - m_dragOrigin;
        if (std::abs(moved.x()) > kDragDistance || std::abs(moved.y()) > kDragDistance) {
            m_dragging = true;
            emit OnStartDrag();
        }
    }
    TMyStringGrid::mouseMoveEvent(event);
}

void TSortGrid::wheelEvent(QWheelEvent* event)
{
    m_wheelRemainder += event->angleDelta().y();
    const int notches = m_wheelRemainder / QWheelEvent::DefaultDeltasPerStep;
    m_wheelRemainder -= notches * QWheelEvent::DefaultDeltasPerStep;
    // ScrollToCell puts the row just below the top, so TopRow ends kWheelRows further.
    for (int i = 0; i < std::abs(notches); ++i)
        ScrollToCell(Col(), notches < 0 ? TopRow() + kWheelRows + 1 : TopRow() - kWheelRows + 1);
    event->accept();
}

void TSortGrid::focusInEvent(QFocusEvent* event)
{
    TMyStringGrid::focusInEvent(event);
    RememberCell();
}

bool TSortGrid::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == InplaceEditor() && event->type() == QEvent::KeyPress && (Options() & goTabs)) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab) {
            // Tab moves on in the grid; a failure ends this key, not the program.
            try {
                keyPressEvent(key);
            } catch (const std::exception&) {
            }
            return true;
        }
    }
    return TMyStringGrid::eventFilter(watched, event);
}

// ---------------------------------------------------------------- validation

void TSortGrid::EditorShown()
{
    RememberCell();
}

void TSortGrid::RememberCell()
{
    if (EditorMode())
        m_remembered = {Col(), Row(), Cells(Col(), Row()), m_modified};
}

void TSortGrid::ValidateCell()
{
    QLineEdit* editor = InplaceEditor();
    if (!EditorMode() || editor == nullptr)
        return;
    SetEditText(Col(), Row(), editor->text());
    editor->setText(Cells(Col(), Row()));
}

QString TSortGrid::ValidatedText(int col, int row, const QString& value, bool& refused)
{
    refused = false;
    // An edit of a cell that was not remembered is checked against the cell.
    if (col != m_remembered.Col || row != m_remembered.Row)
        m_remembered = {col, row, Cells(col, row), m_modified};
    if (value == m_remembered.Text)
        return value;
    QString newValue = value;
    bool valid = true;
    if (OnCellValidate)
        OnCellValidate(col, row, m_remembered.Text, newValue, valid);
    if (valid)
        return newValue;
    refused = true;
    return newValue != value ? newValue : m_remembered.Text;
}

// ---------------------------------------------------------------- special cells

bool TSortGrid::IsChecked(const QString& text)
{
    return text == QLatin1String("true") || text == QLatin1String("1") || text == QLatin1String("V");
}

void TSortGrid::ToggleCheckBox(int col, int row)
{
    const bool state = !IsChecked(Cells(col, row));
    SetCells(col, row, state ? QStringLiteral("V") : QString());
    InvalidateRow(row);
    emit OnSetChecked(col, row, state);
}

void TSortGrid::SpecialCellAction(int col, int row, int x)
{
    if (col < 0 || row < FixedRows() || col >= ColCount() || row >= RowCount())
        return;
    bool checkBox = false;
    bool comboBox = false;
    bool ellipsis = false;
    CellFormat(col, row, nullptr, checkBox, comboBox, ellipsis);
    if (checkBox)
        ToggleCheckBox(col, row);
    if (comboBox)
        ShowComboList(col, row);
    if (ellipsis) {
        const QRect rect = CellRect(col, row);
        if (x < 0 || (!rect.isEmpty() && x > rect.right() - kButtonWidth))
            emit OnSetEllipsis(col, row);
    }
}

void TSortGrid::CreateComboList()
{
    m_comboList = new TComboListBox(this);
    m_comboList->setFocusPolicy(Qt::ClickFocus);
    m_comboList->hide();
    m_comboList->OnTake = [this] { TakeComboItem(); };
}

QRect TSortGrid::ComboListRect(const QRect& cellRect, QPoint gridPos, int itemHeight, int itemCount,
                               int width, int height)
{
    const int rows = (height != 0 || itemCount >= kComboListRows) ? kComboListRows : itemCount;
    const int listHeight = rows * itemHeight + 5;
    const int listWidth = width != 0 ? width : cellRect.width() + 1;
    return {cellRect.left() + gridPos.x() + 2, cellRect.top() + gridPos.y() - listHeight + 59, listWidth,
            listHeight};
}

void TSortGrid::ShowComboList(int col, int row)
{
    bool checkBox = false;
    bool comboBox = false;
    bool ellipsis = false;
    CellFormat(col, row, nullptr, checkBox, comboBox, ellipsis);
    QStringList items;
    int width = 0;
    int height = 0;
    bool sorted = true;
    if (comboBox && OnGetComboBox)
        OnGetComboBox(col, row, items, width, height, sorted);
    if (items.isEmpty()) {
        m_comboCell = {-1, -1};
        m_comboList->hide();
        return;
    }

    QWidget* host = parentWidget() ? parentWidget() : this;
    if (m_comboList->parentWidget() != host)
        m_comboList->setParent(host);
    m_comboList->setFont(font());
    m_comboList->clear();
    m_comboList->addItems(items);
    if (sorted)
        m_comboList->sortItems();
    const QList<QListWidgetItem*> same = m_comboList->findItems(Cells(col, row), Qt::MatchExactly);
    m_comboList->setCurrentItem(same.isEmpty() ? m_comboList->item(0) : same.first());

    const QRect cell = CellRect(col, row).translated(viewport()->pos());
    const QPoint gridPos = host == this ? QPoint() : pos();
    const int itemHeight = std::max(1, m_comboList->sizeHintForRow(0));
    m_comboList->setGeometry(ComboListRect(cell, gridPos, itemHeight, int(items.size()), width, height));
    m_comboCell = {col, row};
    m_comboList->show();
    m_comboList->raise();
    m_comboList->setFocus(Qt::OtherFocusReason);
}

void TSortGrid::TakeComboItem()
{
    const TGridCoord cell = m_comboCell;
    if (cell.X < 0 || m_comboList->isHidden())
        return;
    m_comboCell = {-1, -1};
    const QListWidgetItem* item = m_comboList->currentItem();
    const QString text = item ? item->text() : QString();
    m_comboList->hide();
    if (!item || cell.X >= ColCount() || cell.Y >= RowCount())
        return;
    SetCells(cell.X, cell.Y, text);
    InvalidateCol(cell.X);
    setFocus(Qt::OtherFocusReason);
    emit OnSetComboBox(cell.X, cell.Y, text);
}

// ---------------------------------------------------------------- drawing

QRect TSortGrid::CheckBoxRect(const QRect& cellRect, int rowHeight)
{
    const int width = cellRect.width() <= kGlyphSize ? cellRect.width() - 1 : kGlyphSize;
    return {cellRect.left() + (cellRect.width() - width) / 2, cellRect.top() + rowHeight / 2 - kGlyphSize / 2,
            std::max(0, width), kGlyphSize};
}

QRect TSortGrid::ButtonRect(const QRect& cellRect)
{
    const int width = std::min(kButtonWidth, cellRect.width());
    return {cellRect.right() + 1 - width, cellRect.top(), width, cellRect.height()};
}

void TSortGrid::DrawSpecialCell(QPainter& painter, int col, int row, const QRect& rect, bool checkBox,
                                bool comboBox, bool ellipsis)
{
    if (checkBox) {
        const QPixmap glyph(IsChecked(Cells(col, row)) ? QStringLiteral(":/images/CHECKED.xpm")
                                                       : QStringLiteral(":/images/UNCHECKED.xpm"));
        const QRect target = CheckBoxRect(rect, RowHeights(row));
        painter.drawPixmap(target.topLeft(), glyph, QRect(0, 0, target.width(), target.height()));
    }
    if (row != Row())
        return;
    const bool comboButton = comboBox && (col == Col() || EditorMode());
    const bool ellipsisButton = !comboButton && ellipsis && col != Col();
    if (comboButton || ellipsisButton) {
        const QPixmap glyph(comboButton ? QStringLiteral(":/images/COMBOBOX.xpm")
                                        : QStringLiteral(":/images/ELLIPSIS.xpm"));
        painter.drawPixmap(ButtonRect(rect), glyph);
    }
}
