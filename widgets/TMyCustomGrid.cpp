#include "TMyCustomGrid.h"

#include <QApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionFocusRect>
#include <QWheelEvent>
#include <algorithm>

namespace {

constexpr int kSizingMargin = 3; // pixels either side of a column border that grab it
constexpr TColor kFixedLineColor = clBlack;
constexpr TColor kDataLineColor = RGBColor(192, 192, 192);
constexpr TColor kDataLineColorOnSilver = RGBColor(128, 128, 128);

[[noreturn]] void ThrowIndexOutOfRange()
{
    throw EGridError("Grid index out of range");
}

} // namespace

TMyCustomGrid::TMyCustomGrid(QWidget* parent) : QAbstractScrollArea(parent)
{
    setFocusPolicy(Qt::WheelFocus);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    viewport()->setMouseTracking(true);
    horizontalScrollBar()->setSingleStep(1);
    verticalScrollBar()->setSingleStep(1);
    AdjustSizeTables();
    UpdateScrollRange();
}

TMyCustomGrid::~TMyCustomGrid()
{
    if (m_editor)
        m_editor->removeEventFilter(this);
    if (m_nowUpdating)
        QGuiApplication::restoreOverrideCursor();
}

// ---------------------------------------------------------------------------
// Counts and sizes

void TMyCustomGrid::SetColCount(int count)
{
    count = std::max(count, 1);
    if (count == m_colCount)
        return;
    ChangeSize(count, m_rowCount);
}

void TMyCustomGrid::SetRowCount(int count)
{
    count = std::max(count, 1);
    if (count == m_rowCount)
        return;
    ChangeSize(m_colCount, count);
}

void TMyCustomGrid::SetFixedCols(int count)
{
    if (count == m_fixedCols)
        return;
    if (count < 0)
        ThrowIndexOutOfRange();
    if (count >= m_colCount)
        throw EGridError("Fixed column count must be less than column count");
    HideEditor(true);
    m_fixedCols = count;
    ResetToTopLeft();
}

void TMyCustomGrid::SetFixedRows(int count)
{
    if (count == m_fixedRows)
        return;
    if (count < 0)
        ThrowIndexOutOfRange();
    if (count >= m_rowCount)
        throw EGridError("Fixed row count must be less than row count");
    HideEditor(true);
    m_fixedRows = count;
    ResetToTopLeft();
}

void TMyCustomGrid::ResetToTopLeft()
{
    m_leftCol = m_fixedCols;
    m_topRow = m_fixedRows;
    m_col = m_fixedCols;
    m_row = m_fixedRows;
    m_anchor = {m_col, m_row};
    if (m_nowUpdating)
        return;
    UpdateScrollRange();
    viewport()->update();
}

void TMyCustomGrid::ChangeSize(int colCount, int rowCount)
{
    colCount = std::max(colCount, 1);
    rowCount = std::max(rowCount, 1);
    const int oldCols = m_colCount;
    const int oldRows = m_rowCount;
    m_colCount = colCount;
    m_rowCount = rowCount;
    if (m_fixedCols >= colCount)
        m_fixedCols = colCount - 1;
    if (m_fixedRows >= rowCount)
        m_fixedRows = rowCount - 1;
    if (m_nowUpdating)
        return;

    ApplySize();
    try {
        SizeChanged(oldCols, oldRows);
    } catch (...) {
        m_colCount = oldCols;
        m_rowCount = oldRows;
        ApplySize();
        throw;
    }
}

void TMyCustomGrid::ApplySize()
{
    AdjustSizeTables();
    ClampCurrentCell();
    m_anchor = {m_col, m_row};
    UpdateScrollRange();
    ClampTopLeft();
    PlaceEditor();
    viewport()->update();
}

void TMyCustomGrid::AdjustSizeTables()
{
    m_colWidths.resize(m_colCount, m_defaultColWidth);
    m_rowHeights.resize(m_rowCount, m_defaultRowHeight);
}

void TMyCustomGrid::ClampCurrentCell()
{
    const TGridCoord current = ClampedToData({m_col, m_row});
    m_col = current.X;
    m_row = current.Y;
    m_anchor = ClampedToData(m_anchor);
    if (m_options & goRowSelect)
        m_col = m_fixedCols;
}

TGridCoord TMyCustomGrid::ClampedToData(TGridCoord cell) const
{
    return {std::clamp(cell.X, m_fixedCols, std::max(m_fixedCols, m_colCount - 1)),
            std::clamp(cell.Y, m_fixedRows, std::max(m_fixedRows, m_rowCount - 1))};
}

void TMyCustomGrid::SetDefaultColWidth(int width)
{
    if (width == m_defaultColWidth)
        return;
    m_defaultColWidth = width;
    m_colWidths.clear();
    if (!m_nowUpdating)
        AdjustSizeTables();
    ColWidthsChanged();
}

void TMyCustomGrid::SetDefaultRowHeight(int height)
{
    if (height == m_defaultRowHeight)
        return;
    m_defaultRowHeight = height;
    m_rowHeights.clear();
    if (!m_nowUpdating)
        AdjustSizeTables();
    RowHeightsChanged();
}

int TMyCustomGrid::ColWidths(int col) const
{
    if (col >= 0 && col < m_colWidths.size())
        return m_colWidths[col];
    return m_defaultColWidth;
}

void TMyCustomGrid::SetColWidths(int col, int width)
{
    if (col < 0 || col >= m_colCount)
        ThrowIndexOutOfRange();
    width = std::max(width, -1);
    if (width == ColWidths(col))
        return;
    if (col >= m_colWidths.size())
        m_colWidths.resize(m_colCount, m_defaultColWidth);
    m_colWidths[col] = width;
    ColWidthsChanged();
}

int TMyCustomGrid::RowHeights(int row) const
{
    if (row >= 0 && row < m_rowHeights.size())
        return m_rowHeights[row];
    return m_defaultRowHeight;
}

void TMyCustomGrid::SetRowHeights(int row, int height)
{
    if (row < 0 || row >= m_rowCount)
        ThrowIndexOutOfRange();
    height = std::max(height, -1);
    if (height == RowHeights(row))
        return;
    if (row >= m_rowHeights.size())
        m_rowHeights.resize(m_rowCount, m_defaultRowHeight);
    m_rowHeights[row] = height;
    RowHeightsChanged();
}

void TMyCustomGrid::SetGridLineWidth(int width)
{
    width = std::max(width, 0);
    if (width == m_gridLineWidth)
        return;
    m_gridLineWidth = width;
    UpdateScrollRange();
    viewport()->update();
}

void TMyCustomGrid::SetOptions(TGridOptions options)
{
    if (options == m_options)
        return;
    const bool rowSelectChanged = (options ^ m_options) & goRowSelect;
    m_options = options;
    if (!CanShowEditor())
        HideEditor(true);
    if (rowSelectChanged) {
        if (m_options & goRowSelect)
            m_col = m_fixedCols;
        m_anchor = {m_col, m_row};
    }
    UpdateScrollRange();
    viewport()->update();
}

void TMyCustomGrid::SetScrollBars(TScrollStyle style)
{
    if (style == m_scrollBars)
        return;
    m_scrollBars = style;
    const bool horz = style == ssHorizontal || style == ssBoth;
    const bool vert = style == ssVertical || style == ssBoth;
    setHorizontalScrollBarPolicy(horz ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(vert ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
    UpdateScrollRange();
    viewport()->update();
}

void TMyCustomGrid::SetColor(TColor color)
{
    if (color == m_color)
        return;
    m_color = color;
    viewport()->update();
}

void TMyCustomGrid::SetFixedColor(TColor color)
{
    if (color == m_fixedColor)
        return;
    m_fixedColor = color;
    viewport()->update();
}

// ---------------------------------------------------------------------------
// Geometry

int TMyCustomGrid::VertLineWidth() const
{
    return (m_options & (goFixedVertLine | goVertLine)) ? m_gridLineWidth : 0;
}

int TMyCustomGrid::HorzLineWidth() const
{
    return (m_options & (goFixedHorzLine | goHorzLine)) ? m_gridLineWidth : 0;
}

int TMyCustomGrid::ColExtent(int col) const
{
    const int width = ColWidths(col);
    return width < 0 ? 0 : width + VertLineWidth();
}

int TMyCustomGrid::RowExtent(int row) const
{
    const int height = RowHeights(row);
    return height < 0 ? 0 : height + HorzLineWidth();
}

int TMyCustomGrid::FixedColsWidth() const
{
    int width = 0;
    for (int c = 0; c < m_fixedCols && c < m_colCount; ++c)
        width += ColExtent(c);
    return width;
}

int TMyCustomGrid::FixedRowsHeight() const
{
    int height = 0;
    for (int r = 0; r < m_fixedRows && r < m_rowCount; ++r)
        height += RowExtent(r);
    return height;
}

int TMyCustomGrid::VisibleColCount() const
{
    const int room = viewport()->width() - FixedColsWidth();
    int used = 0;
    int count = 0;
    for (int c = m_leftCol; c < m_colCount; ++c) {
        const int width = ColWidths(c);
        if (width >= 0) {
            if (used + width > room)
                break;
            used += width + VertLineWidth();
        }
        ++count;
    }
    return count;
}

int TMyCustomGrid::VisibleRowCount() const
{
    const int room = viewport()->height() - FixedRowsHeight();
    int used = 0;
    int count = 0;
    for (int r = m_topRow; r < m_rowCount; ++r) {
        const int height = RowHeights(r);
        if (height >= 0) {
            if (used + height > room)
                break;
            used += height + HorzLineWidth();
        }
        ++count;
    }
    return count;
}

// The first column of the smallest tail of columns ending at col that fits
// wholly; col itself when even it does not fit.
int TMyCustomGrid::LeftColToShow(int col) const
{
    const int room = viewport()->width() - FixedColsWidth();
    int used = 0;
    int first = col;
    for (int c = col; c >= m_fixedCols; --c) {
        const int width = ColWidths(c);
        if (width >= 0) {
            if (used + width > room)
                break;
            used += width + VertLineWidth();
        }
        first = c;
    }
    return std::max(first, m_fixedCols);
}

int TMyCustomGrid::TopRowToShow(int row) const
{
    const int room = viewport()->height() - FixedRowsHeight();
    int used = 0;
    int first = row;
    for (int r = row; r >= m_fixedRows; --r) {
        const int height = RowHeights(r);
        if (height >= 0) {
            if (used + height > room)
                break;
            used += height + HorzLineWidth();
        }
        first = r;
    }
    return std::max(first, m_fixedRows);
}

int TMyCustomGrid::MaxTopRow() const
{
    return TopRowToShow(m_rowCount - 1);
}

int TMyCustomGrid::MaxLeftCol() const
{
    return LeftColToShow(m_colCount - 1);
}

QVector<TMyCustomGrid::TBand> TMyCustomGrid::VisibleCols() const
{
    QVector<TBand> bands;
    const int limit = viewport()->width();
    int x = 0;
    for (int c = 0; c < m_fixedCols && c < m_colCount && x < limit; ++c) {
        if (ColWidths(c) >= 0)
            bands.append({c, x, ColWidths(c)});
        x += ColExtent(c);
    }
    for (int c = m_leftCol; c < m_colCount && x < limit; ++c) {
        if (ColWidths(c) >= 0)
            bands.append({c, x, ColWidths(c)});
        x += ColExtent(c);
    }
    return bands;
}

QVector<TMyCustomGrid::TBand> TMyCustomGrid::VisibleRows() const
{
    QVector<TBand> bands;
    const int limit = viewport()->height();
    int y = 0;
    for (int r = 0; r < m_fixedRows && r < m_rowCount && y < limit; ++r) {
        if (RowHeights(r) >= 0)
            bands.append({r, y, RowHeights(r)});
        y += RowExtent(r);
    }
    for (int r = m_topRow; r < m_rowCount && y < limit; ++r) {
        if (RowHeights(r) >= 0)
            bands.append({r, y, RowHeights(r)});
        y += RowExtent(r);
    }
    return bands;
}

int TMyCustomGrid::ColAt(int x) const
{
    if (x < 0)
        return -1;
    int pos = 0;
    for (int c = 0; c < m_fixedCols && c < m_colCount; ++c) {
        pos += ColExtent(c);
        if (x < pos)
            return c;
    }
    for (int c = m_leftCol; c < m_colCount; ++c) {
        pos += ColExtent(c);
        if (x < pos)
            return c;
    }
    return -1;
}

int TMyCustomGrid::RowAt(int y) const
{
    if (y < 0)
        return -1;
    int pos = 0;
    for (int r = 0; r < m_fixedRows && r < m_rowCount; ++r) {
        pos += RowExtent(r);
        if (y < pos)
            return r;
    }
    for (int r = m_topRow; r < m_rowCount; ++r) {
        pos += RowExtent(r);
        if (y < pos)
            return r;
    }
    return -1;
}

TGridCoord TMyCustomGrid::MouseToCell(int x, int y) const
{
    return {ColAt(x), RowAt(y)};
}

QRect TMyCustomGrid::CellRect(int col, int row) const
{
    if (col < 0 || row < 0 || col >= m_colCount || row >= m_rowCount)
        return {};
    if ((col >= m_fixedCols && col < m_leftCol) || (row >= m_fixedRows && row < m_topRow))
        return {};
    const int width = ColWidths(col);
    const int height = RowHeights(row);
    if (width < 0 || height < 0)
        return {};

    int x = 0;
    if (col < m_fixedCols) {
        for (int c = 0; c < col; ++c)
            x += ColExtent(c);
    } else {
        x = FixedColsWidth();
        for (int c = m_leftCol; c < col && x < viewport()->width(); ++c)
            x += ColExtent(c);
    }
    int y = 0;
    if (row < m_fixedRows) {
        for (int r = 0; r < row; ++r)
            y += RowExtent(r);
    } else {
        y = FixedRowsHeight();
        for (int r = m_topRow; r < row && y < viewport()->height(); ++r)
            y += RowExtent(r);
    }
    if (x >= viewport()->width() || y >= viewport()->height())
        return {};
    return {x, y, width, height};
}

int TMyCustomGrid::ColumnBorderAt(int x, int y) const
{
    if (y < 0 || y >= FixedRowsHeight())
        return -1;
    for (const TBand& band : VisibleCols()) {
        const int border = band.Start + band.Size;
        if (x >= border - kSizingMargin && x <= border + kSizingMargin)
            return band.Index;
    }
    return -1;
}

void TMyCustomGrid::UpdateScrollRange()
{
    if (m_nowUpdating)
        return;
    QScrollBar* vert = verticalScrollBar();
    QScrollBar* horz = horizontalScrollBar();
    const bool wasSyncing = m_syncingScrollBars;
    m_syncingScrollBars = true;
    vert->setRange(0, std::max(0, MaxTopRow() - m_fixedRows));
    vert->setPageStep(std::max(1, VisibleRowCount()));
    vert->setValue(m_topRow - m_fixedRows);
    horz->setRange(0, std::max(0, MaxLeftCol() - m_fixedCols));
    horz->setPageStep(std::max(1, VisibleColCount()));
    horz->setValue(m_leftCol - m_fixedCols);
    m_syncingScrollBars = wasSyncing;
}

// ---------------------------------------------------------------------------
// Current cell and selection

int TMyCustomGrid::Col() const
{
    return Current().X;
}

int TMyCustomGrid::Row() const
{
    return Current().Y;
}

TGridCoord TMyCustomGrid::Current() const
{
    return ClampedToData({m_col, m_row});
}

TGridCoord TMyCustomGrid::Anchor() const
{
    return ClampedToData(m_anchor);
}

void TMyCustomGrid::SetCol(int col)
{
    if (col == Col())
        return;
    FocusCell(col, Row(), true);
}

void TMyCustomGrid::SetRow(int row)
{
    if (row == Row())
        return;
    FocusCell(Col(), row, true);
}

void TMyCustomGrid::FocusCell(int col, int row, bool moveAnchor)
{
    MoveCurrent(col, row, moveAnchor, true);
    Click();
}

bool TMyCustomGrid::MoveCurrent(int col, int row, bool moveAnchor, bool show)
{
    if (col < 0 || row < 0 || col >= m_colCount || row >= m_rowCount)
        ThrowIndexOutOfRange();
    const TGridCoord target = ClampedToData({col, row});
    if (!SelectCell(target.X, target.Y))
        return false;
    if (m_editorShown && !(target == m_editorCell && (m_options & goAlwaysShowEditor)))
        HideEditor(true);

    m_col = target.X;
    m_row = target.Y;
    if (moveAnchor || !(m_options & goRangeSelect)) {
        m_anchor = {m_col, m_row};
        if (m_options & goRowSelect)
            m_anchor.X = m_colCount - 1;
    }
    if (m_options & goRowSelect)
        m_col = m_fixedCols;
    if (show)
        ClampInView({m_col, m_row});
    viewport()->update();
    if ((m_options & goAlwaysShowEditor) && CanShowEditor() && !m_editorShown)
        ShowEditor();
    return true;
}

void TMyCustomGrid::MoveAnchor(TGridCoord cell)
{
    if ((m_options & (goRangeSelect | goEditing)) != goRangeSelect) {
        MoveCurrent(cell.X, cell.Y, true, true);
        return;
    }
    m_anchor = ClampedToData(cell);
    if (m_options & goRowSelect)
        m_anchor.X = m_colCount - 1;
    ClampInView(m_anchor);
    viewport()->update();
}

TGridRect TMyCustomGrid::Selection() const
{
    const TGridCoord current = Current();
    const TGridCoord anchor = Anchor();
    TGridRect selection{std::min(current.X, anchor.X), std::min(current.Y, anchor.Y),
                        std::max(current.X, anchor.X), std::max(current.Y, anchor.Y)};
    if (m_options & goRowSelect) {
        selection.Left = m_fixedCols;
        selection.Right = m_colCount - 1;
    }
    return selection;
}

void TMyCustomGrid::SetSelection(const TGridRect& selection)
{
    HideEditor(true);
    m_anchor = ClampedToData({selection.Left, selection.Top});
    const TGridCoord current = ClampedToData({selection.Right, selection.Bottom});
    m_col = current.X;
    m_row = current.Y;
    viewport()->update();
}

void TMyCustomGrid::ClampTopLeft()
{
    const int top = std::clamp(m_topRow, m_fixedRows, std::max(m_fixedRows, MaxTopRow()));
    const int left = std::clamp(m_leftCol, m_fixedCols, std::max(m_fixedCols, MaxLeftCol()));
    const bool changed = top != m_topRow || left != m_leftCol;
    m_topRow = top;
    m_leftCol = left;
    UpdateScrollRange();
    if (changed)
        emit OnTopLeftChanged();
}

void TMyCustomGrid::ClampInView(TGridCoord cell)
{
    if (cell.X >= m_fixedCols) {
        if (cell.X < m_leftCol)
            SetLeftCol(cell.X);
        else if (cell.X >= m_leftCol + VisibleColCount())
            SetLeftCol(LeftColToShow(cell.X));
    }
    if (cell.Y >= m_fixedRows) {
        if (cell.Y < m_topRow)
            SetTopRow(cell.Y);
        else if (cell.Y >= m_topRow + VisibleRowCount())
            SetTopRow(TopRowToShow(cell.Y));
    }
}

void TMyCustomGrid::SetTopRow(int row)
{
    row = std::clamp(row, m_fixedRows, std::max(m_fixedRows, MaxTopRow()));
    if (row == m_topRow)
        return;
    m_topRow = row;
    UpdateScrollRange();
    PlaceEditor();
    viewport()->update();
    emit OnTopLeftChanged();
}

void TMyCustomGrid::SetLeftCol(int col)
{
    col = std::clamp(col, m_fixedCols, std::max(m_fixedCols, MaxLeftCol()));
    if (col == m_leftCol)
        return;
    m_leftCol = col;
    UpdateScrollRange();
    PlaceEditor();
    viewport()->update();
    emit OnTopLeftChanged();
}

// ---------------------------------------------------------------------------
// Moving and deleting rows and columns

namespace {

// Moves one entry of a width or height table along with its row or column.
// The table keeps its length; indexes it doesn't reach have the default size.
void MoveSizeEntry(QVector<int>& table, int fromIndex, int toIndex, int defaultSize)
{
    const qsizetype tableSize = table.size();
    if (tableSize == 0)
        return;
    if (std::max(fromIndex, toIndex) >= tableSize)
        table.resize(std::max(fromIndex, toIndex) + 1, defaultSize);
    const int size = table[fromIndex];
    table.remove(fromIndex);
    table.insert(toIndex, size);
    table.resize(tableSize);
}

// Where an index ends up after the entry at fromIndex moved to toIndex.
void FollowMove(int& index, int fromIndex, int toIndex)
{
    if (index == fromIndex)
        index = toIndex;
    else if (index > fromIndex && index <= toIndex)
        --index;
    else if (index < fromIndex && index >= toIndex)
        ++index;
}

} // namespace

void TMyCustomGrid::MoveRow(int fromIndex, int toIndex)
{
    const int limit = std::max(StoredRowCount(), m_rowCount);
    if (fromIndex < 0 || toIndex < 0 || fromIndex > limit || toIndex > limit)
        ThrowIndexOutOfRange();
    if (fromIndex == toIndex)
        return;
    HideEditor(true);
    MoveRowData(fromIndex, toIndex);

    MoveSizeEntry(m_rowHeights, fromIndex, toIndex, m_defaultRowHeight);
    const auto follow = [&](int& index) { FollowMove(index, fromIndex, toIndex); };
    follow(m_row);
    follow(m_anchor.Y);
    ClampCurrentCell();
    RowMoved(fromIndex, toIndex);
    UpdateScrollRange();
    viewport()->update();
}

void TMyCustomGrid::MoveColumn(int fromIndex, int toIndex)
{
    const int limit = std::max(StoredColCount(), m_colCount);
    if (fromIndex < 0 || toIndex < 0 || fromIndex > limit || toIndex > limit)
        ThrowIndexOutOfRange();
    if (fromIndex == toIndex)
        return;
    HideEditor(true);
    MoveColumnData(fromIndex, toIndex);

    MoveSizeEntry(m_colWidths, fromIndex, toIndex, m_defaultColWidth);
    const auto follow = [&](int& index) { FollowMove(index, fromIndex, toIndex); };
    if (!(m_options & goRowSelect)) {
        follow(m_col);
        follow(m_anchor.X);
    }
    ClampCurrentCell();
    ColumnMoved(fromIndex, toIndex);
    UpdateScrollRange();
    viewport()->update();
}

void TMyCustomGrid::DeleteRow(int row)
{
    if (row < 0 || row >= m_rowCount)
        ThrowIndexOutOfRange();
    MoveRow(row, m_rowCount - 1);
    if (m_rowCount > 1) {
        RemoveRowData(m_rowCount - 1);
        SetRowCount(m_rowCount - 1);
    }
}

void TMyCustomGrid::DeleteColumn(int col)
{
    if (col < 0 || col >= m_colCount)
        ThrowIndexOutOfRange();
    MoveColumn(col, m_colCount - 1);
    if (m_colCount > 1) {
        RemoveColumnData(m_colCount - 1);
        SetColCount(m_colCount - 1);
    }
}

// ---------------------------------------------------------------------------
// Invalidation

void TMyCustomGrid::InvalidateCell(int col, int row)
{
    if (m_nowUpdating || !isVisible())
        return;
    const QRect rect = CellRect(col, row);
    if (!rect.isEmpty())
        viewport()->update(rect.adjusted(0, 0, VertLineWidth(), HorzLineWidth()));
}

void TMyCustomGrid::InvalidateRow(int row)
{
    if (m_nowUpdating || !isVisible())
        return;
    for (const TBand& band : VisibleRows()) {
        if (band.Index == row)
            viewport()->update(0, band.Start, viewport()->width(), band.Size + HorzLineWidth());
    }
}

void TMyCustomGrid::InvalidateCol(int col)
{
    if (m_nowUpdating || !isVisible())
        return;
    for (const TBand& band : VisibleCols()) {
        if (band.Index == col)
            viewport()->update(band.Start, 0, band.Size + VertLineWidth(), viewport()->height());
    }
}

void TMyCustomGrid::InvalidateGrid()
{
    viewport()->update();
}

// ---------------------------------------------------------------------------
// Update bracket

void TMyCustomGrid::BeginUpdate()
{
    if (m_nowUpdating)
        return;
    m_nowUpdating = true;
    m_hadFocusBeforeUpdate = hasFocus() || (m_editor && m_editor->hasFocus());
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    viewport()->setUpdatesEnabled(false);
    setEnabled(false);
    emit OnBeginUpdate();
}

void TMyCustomGrid::EndUpdate()
{
    if (!m_nowUpdating)
        return;
    ChangeSize(m_colCount, m_rowCount);

    // The counts may have changed without any size handling; keep the current
    // cell and the scroll position inside the grid.
    m_nowUpdating = false;
    ClampCurrentCell();
    ClampTopLeft();
    PlaceEditor();
    m_nowUpdating = true;

    viewport()->setUpdatesEnabled(true);
    viewport()->update();
    setEnabled(true);
    QGuiApplication::restoreOverrideCursor();
    if (m_hadFocusBeforeUpdate)
        setFocus(Qt::OtherFocusReason);
    m_nowUpdating = false;
}

// ---------------------------------------------------------------------------
// Hooks

void TMyCustomGrid::Click()
{
    emit OnClick();
}

void TMyCustomGrid::DblClick()
{
    emit OnDblClick();
}

void TMyCustomGrid::DrawCell(TCellCanvas&, int col, int row, const QRect& rect, TGridDrawState state)
{
    if (OnDrawCell)
        OnDrawCell(col, row, rect, state);
}

bool TMyCustomGrid::SelectCell(int col, int row)
{
    bool canSelect = true;
    if (OnSelectCell)
        OnSelectCell(col, row, canSelect);
    return canSelect;
}

QString TMyCustomGrid::GetEditText(int col, int row)
{
    QString text;
    if (OnGetEditText)
        OnGetEditText(col, row, text);
    return text;
}

void TMyCustomGrid::SetEditText(int col, int row, const QString& value)
{
    if (OnSetEditText)
        OnSetEditText(col, row, value);
}

void TMyCustomGrid::ColumnMoved(int fromIndex, int toIndex)
{
    emit OnColumnMoved(fromIndex, toIndex);
}

void TMyCustomGrid::RowMoved(int fromIndex, int toIndex)
{
    emit OnRowMoved(fromIndex, toIndex);
}

void TMyCustomGrid::SizeChanged(int, int) {}

void TMyCustomGrid::ColWidthsChanged()
{
    if (m_nowUpdating)
        return;
    UpdateScrollRange();
    ClampTopLeft();
    PlaceEditor();
    viewport()->update();
}

void TMyCustomGrid::RowHeightsChanged()
{
    if (m_nowUpdating)
        return;
    UpdateScrollRange();
    ClampTopLeft();
    PlaceEditor();
    viewport()->update();
}

void TMyCustomGrid::MoveRowData(int, int) {}

void TMyCustomGrid::MoveColumnData(int, int) {}

void TMyCustomGrid::RemoveRowData(int) {}

void TMyCustomGrid::RemoveColumnData(int) {}

// ---------------------------------------------------------------------------
// In-place editor

bool TMyCustomGrid::CanShowEditor() const
{
    return (m_options & goEditing) && !(m_options & goRowSelect);
}

bool TMyCustomGrid::EditorMode() const
{
    return m_editorShown;
}

void TMyCustomGrid::SetEditorMode(bool on)
{
    if (on)
        ShowEditor();
    else
        HideEditor(true);
}

void TMyCustomGrid::ShowEditor(const QString* replacement)
{
    if (!CanShowEditor() || m_nowUpdating)
        return;
    const TGridCoord cell = Current();
    ClampInView(cell);
    if (!m_editor) {
        m_editor = new QLineEdit(viewport());
        m_editor->setFrame(false);
        m_editor->installEventFilter(this);
        m_editor->hide();
    }
    QString mask;
    if (OnGetEditMask)
        OnGetEditMask(cell.X, cell.Y, mask);
    m_editor->setInputMask(mask);
    m_editor->setFont(font());
    m_editor->setText(replacement ? *replacement : GetEditText(cell.X, cell.Y));
    m_editorCell = cell;
    m_editorShown = true;
    PlaceEditor();
    if (!m_editorShown)
        return;
    m_editor->show();
    m_editor->setFocus(Qt::OtherFocusReason);
    if (replacement)
        m_editor->end(false);
    else
        m_editor->selectAll();
}

void TMyCustomGrid::HideEditor(bool commit)
{
    if (!m_editorShown)
        return;
    m_editorShown = false;
    const bool hadFocus = m_editor->hasFocus();
    if (commit)
        SetEditText(m_editorCell.X, m_editorCell.Y, m_editor->text());
    m_editor->hide();
    if (hadFocus)
        setFocus(Qt::OtherFocusReason);
    InvalidateCell(m_editorCell.X, m_editorCell.Y);
}

void TMyCustomGrid::PlaceEditor()
{
    if (!m_editorShown)
        return;
    const QRect rect = CellRect(m_editorCell.X, m_editorCell.Y);
    if (rect.isEmpty() || m_editorCell.X >= m_colCount || m_editorCell.Y >= m_rowCount) {
        HideEditor(true);
        return;
    }
    m_editor->setGeometry(rect);
}

bool TMyCustomGrid::eventFilter(QObject* watched, QEvent* event)
{
    if (m_editor && watched == m_editor) {
        if (event->type() == QEvent::KeyPress) {
            auto* key = static_cast<QKeyEvent*>(event);
            switch (key->key()) {
            case Qt::Key_Return:
            case Qt::Key_Enter:
                HideEditor(true);
                return true;
            case Qt::Key_Escape:
                HideEditor(false);
                return true;
            case Qt::Key_Up:
            case Qt::Key_Down:
            case Qt::Key_PageUp:
            case Qt::Key_PageDown:
                NavigateByKey(key);
                return true;
            default:
                break;
            }
        } else if (event->type() == QEvent::FocusOut) {
            const auto* focus = static_cast<QFocusEvent*>(event);
            if (focus->reason() != Qt::PopupFocusReason && m_editorShown)
                HideEditor(true);
        }
    }
    return QAbstractScrollArea::eventFilter(watched, event);
}

// ---------------------------------------------------------------------------
// Painting

void TMyCustomGrid::paintEvent(QPaintEvent* event)
{
    if (m_nowUpdating)
        return;
    QPainter painter(viewport());
    const QPalette& pal = palette();
    const QRect dirty = event->rect();
    const QVector<TBand> cols = VisibleCols();
    const QVector<TBand> rows = VisibleRows();

    // Room right of and below the cells.
    int gridRight = 0;
    for (int c = 0; c < m_fixedCols && c < m_colCount; ++c)
        gridRight += ColExtent(c);
    for (int c = m_leftCol; c < m_colCount && gridRight < viewport()->width(); ++c)
        gridRight += ColExtent(c);
    int gridBottom = 0;
    for (int r = 0; r < m_fixedRows && r < m_rowCount; ++r)
        gridBottom += RowExtent(r);
    for (int r = m_topRow; r < m_rowCount && gridBottom < viewport()->height(); ++r)
        gridBottom += RowExtent(r);
    const QColor background = ToQColor(m_color, pal);
    if (gridRight < viewport()->width())
        painter.fillRect(QRect(gridRight, 0, viewport()->width() - gridRight, viewport()->height()),
                         background);
    if (gridBottom < viewport()->height())
        painter.fillRect(QRect(0, gridBottom, gridRight, viewport()->height() - gridBottom), background);

    const TGridRect selection = Selection();
    const TGridCoord current = Current();
    const bool focused = hasFocus() || (m_editor && m_editor->hasFocus());
    const bool highlightFocused = m_options & (goDrawFocusSelected | goRowSelect);
    const bool edges3D =
        (m_options & (goFixedVertLine | goFixedHorzLine)) == (goFixedVertLine | goFixedHorzLine);
    const QFont gridFont = font();
    const QColor highlightEdge = ToQColor(clBtnHighlight, pal);
    const QColor shadowEdge = ToQColor(clBtnShadow, pal);

    for (const TBand& row : rows) {
        for (const TBand& col : cols) {
            const QRect rect(col.Start, row.Start, col.Size, row.Size);
            if (!rect.intersects(dirty))
                continue;
            const bool fixed = col.Index < m_fixedCols || row.Index < m_fixedRows;
            TGridDrawState state;
            TCellCanvas canvas{painter, fixed ? m_fixedColor : m_color, gridFont, clWindowText};
            if (fixed) {
                state |= gdFixed;
            } else {
                if (col.Index >= selection.Left && col.Index <= selection.Right &&
                    row.Index >= selection.Top && row.Index <= selection.Bottom)
                    state |= gdSelected;
                if (focused && col.Index == current.X && row.Index == current.Y)
                    state |= gdFocused;
                if ((state & gdSelected) && (!(state & gdFocused) || highlightFocused)) {
                    canvas.BrushColor = clHighlight;
                    canvas.FontColor = clHighlightText;
                }
            }
            painter.fillRect(rect, ToQColor(canvas.BrushColor, pal));
            painter.save();
            DrawCell(canvas, col.Index, row.Index, rect, state);
            painter.restore();
            if (fixed && edges3D && !rect.isEmpty()) {
                painter.fillRect(QRect(rect.left(), rect.top(), rect.width(), 1), highlightEdge);
                painter.fillRect(QRect(rect.left(), rect.top(), 1, rect.height()), highlightEdge);
                painter.fillRect(QRect(rect.left(), rect.bottom(), rect.width(), 1), shadowEdge);
                painter.fillRect(QRect(rect.right(), rect.top(), 1, rect.height()), shadowEdge);
            }
        }
    }
    PaintGridLines(painter, cols, rows);

    if (focused && !m_editorShown) {
        QRect focusRect = CellRect(current.X, current.Y);
        if (m_options & goRowSelect) {
            for (const TBand& col : cols) {
                if (col.Index >= m_fixedCols)
                    focusRect |= CellRect(col.Index, current.Y);
            }
        }
        if (!focusRect.isEmpty()) {
            QStyleOptionFocusRect option;
            option.initFrom(this);
            option.rect = focusRect;
            option.backgroundColor = ToQColor(clHighlight, pal);
            style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, this);
        }
    }
}

void TMyCustomGrid::PaintGridLines(QPainter& painter, const QVector<TBand>& cols,
                                   const QVector<TBand>& rows) const
{
    const int vertWidth = VertLineWidth();
    const int horzWidth = HorzLineWidth();
    if (vertWidth == 0 && horzWidth == 0)
        return;
    const QColor fixedColor = ToQColor(kFixedLineColor, palette());
    const QColor dataColor = ToQColor(
        ToQColor(m_color, palette()) == QColor(192, 192, 192) ? kDataLineColorOnSilver : kDataLineColor);
    const int fixedWidth = FixedColsWidth();
    const int fixedHeight = FixedRowsHeight();
    const int right = cols.isEmpty() ? 0 : cols.last().Start + cols.last().Size + vertWidth;
    const int bottom = rows.isEmpty() ? 0 : rows.last().Start + rows.last().Size + horzWidth;

    if (vertWidth > 0) {
        for (const TBand& col : cols) {
            const int x = col.Start + col.Size;
            const bool fixedCol = col.Index < m_fixedCols;
            if (m_options & goFixedVertLine)
                painter.fillRect(QRect(x, 0, vertWidth, fixedHeight), fixedColor);
            if (fixedCol && (m_options & goFixedVertLine))
                painter.fillRect(QRect(x, fixedHeight, vertWidth, bottom - fixedHeight), fixedColor);
            else if (!fixedCol && (m_options & goVertLine))
                painter.fillRect(QRect(x, fixedHeight, vertWidth, bottom - fixedHeight), dataColor);
        }
    }
    if (horzWidth > 0) {
        for (const TBand& row : rows) {
            const int y = row.Start + row.Size;
            const bool fixedRow = row.Index < m_fixedRows;
            if (m_options & goFixedHorzLine)
                painter.fillRect(QRect(0, y, fixedWidth, horzWidth), fixedColor);
            if (fixedRow && (m_options & goFixedHorzLine))
                painter.fillRect(QRect(fixedWidth, y, right - fixedWidth, horzWidth), fixedColor);
            else if (!fixedRow && (m_options & goHorzLine))
                painter.fillRect(QRect(fixedWidth, y, right - fixedWidth, horzWidth), dataColor);
        }
    }
}

// ---------------------------------------------------------------------------
// Input

void TMyCustomGrid::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    if (m_nowUpdating)
        return;
    UpdateScrollRange();
    ClampTopLeft();
    PlaceEditor();
}

void TMyCustomGrid::scrollContentsBy(int, int)
{
    if (m_syncingScrollBars)
        return;
    SetTopRow(m_fixedRows + verticalScrollBar()->value());
    SetLeftCol(m_fixedCols + horizontalScrollBar()->value());
}

// Every mouse, key, paint and resize handler of the grid runs inside one of
// the two functions below. An operation that fails there (an index out of
// range, a sort key that isn't a column) ends that one event; no exception may
// pass through Qt's event dispatch, which would end the program.
bool TMyCustomGrid::viewportEvent(QEvent* event)
{
    try {
        if (event->type() == QEvent::Leave && m_sizingCol < 0)
            viewport()->unsetCursor();
        return QAbstractScrollArea::viewportEvent(event);
    } catch (const std::exception&) {
        return true;
    }
}

bool TMyCustomGrid::event(QEvent* event)
{
    try {
        if (event->type() == QEvent::KeyPress && (m_options & goTabs)) {
            auto* key = static_cast<QKeyEvent*>(event);
            if (key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab) {
                keyPressEvent(key);
                return true;
            }
        }
        return QAbstractScrollArea::event(event);
    } catch (const std::exception&) {
        return true;
    }
}

void TMyCustomGrid::focusInEvent(QFocusEvent* event)
{
    QAbstractScrollArea::focusInEvent(event);
    viewport()->update();
}

void TMyCustomGrid::focusOutEvent(QFocusEvent* event)
{
    QAbstractScrollArea::focusOutEvent(event);
    viewport()->update();
}

void TMyCustomGrid::NavigateByKey(QKeyEvent* event)
{
    const bool ctrl = event->modifiers() & Qt::ControlModifier;
    const bool shift = event->modifiers() & Qt::ShiftModifier;
    const bool rowSelect = m_options & goRowSelect;
    const TGridCoord current = Current();
    const TGridCoord first{m_fixedCols, m_fixedRows};
    const TGridCoord last{m_colCount - 1, m_rowCount - 1};
    const int page = std::max(1, VisibleRowCount());
    TGridCoord target = current;

    switch (event->key()) {
    case Qt::Key_Up:
        target.Y = current.Y - 1;
        break;
    case Qt::Key_Down:
        target.Y = current.Y + 1;
        break;
    case Qt::Key_Left:
        if (rowSelect) {
            SetLeftCol(m_leftCol - 1);
            return;
        }
        target.X = current.X - 1;
        break;
    case Qt::Key_Right:
        if (rowSelect) {
            SetLeftCol(m_leftCol + 1);
            return;
        }
        target.X = current.X + 1;
        break;
    case Qt::Key_PageUp:
        target.Y = current.Y - page;
        SetTopRow(m_topRow - page);
        break;
    case Qt::Key_PageDown:
        target.Y = current.Y + page;
        SetTopRow(m_topRow + page);
        break;
    case Qt::Key_Home:
        if (rowSelect)
            target.Y = first.Y;
        else if (ctrl)
            target = first;
        else
            target.X = first.X;
        break;
    case Qt::Key_End:
        if (rowSelect)
            target.Y = last.Y;
        else if (ctrl)
            target = last;
        else
            target.X = last.X;
        break;
    case Qt::Key_Tab:
    case Qt::Key_Backtab: {
        const bool back = event->key() == Qt::Key_Backtab || shift;
        target.X = current.X + (back ? -1 : 1);
        if (rowSelect || target.X > last.X) {
            target.X = first.X;
            target.Y = current.Y + 1;
        } else if (target.X < first.X) {
            target.X = last.X;
            target.Y = current.Y - 1;
        }
        if (target.Y > last.Y || target.Y < first.Y)
            return;
        FocusCell(target.X, target.Y, true);
        return;
    }
    default:
        return;
    }
    target.X = std::clamp(target.X, first.X, last.X);
    target.Y = std::clamp(target.Y, first.Y, last.Y);
    if (target == current)
        return;
    FocusCell(target.X, target.Y, !(shift && (m_options & goRangeSelect)));
}

void TMyCustomGrid::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
    case Qt::Key_Home:
    case Qt::Key_End:
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
        NavigateByKey(event);
        event->accept();
        return;
    case Qt::Key_F2:
        if (CanShowEditor()) {
            ShowEditor();
            event->accept();
            return;
        }
        break;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (CanShowEditor() && !(m_options & goAlwaysShowEditor)) {
            if (m_editorShown)
                HideEditor(true);
            else
                ShowEditor();
            event->accept();
            return;
        }
        break;
    default:
        break;
    }
    const QString text = event->text();
    const bool printable = !text.isEmpty() && text.at(0).isPrint() &&
                           !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier));
    if (printable && CanShowEditor() && !m_editorShown) {
        ShowEditor(&text);
        event->accept();
        return;
    }
    QAbstractScrollArea::keyPressEvent(event);
}

void TMyCustomGrid::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mousePressEvent(event);
        return;
    }
    setFocus(Qt::MouseFocusReason);
    const QPoint pos = event->position().toPoint();
    if (m_options & goColSizing) {
        const int border = ColumnBorderAt(pos.x(), pos.y());
        if (border >= 0) {
            m_sizingCol = border;
            m_sizingStartX = pos.x();
            m_sizingStartWidth = std::max(0, ColWidths(border));
            return;
        }
    }
    const TGridCoord cell = MouseToCell(pos.x(), pos.y());
    if (cell.X < m_fixedCols || cell.Y < m_fixedRows)
        return;
    const bool extend = (event->modifiers() & Qt::ShiftModifier) && (m_options & goRangeSelect);
    if (extend) {
        MoveAnchor(cell);
    } else if (CanShowEditor() && cell == Current()) {
        ShowEditor();
    } else {
        MoveCurrent(cell.X, cell.Y, true, true);
    }
    m_selecting = true;
}

void TMyCustomGrid::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint pos = event->position().toPoint();
    if (m_sizingCol >= 0) {
        const int width = std::max(0, m_sizingStartWidth + pos.x() - m_sizingStartX);
        if (m_sizingCol < m_colCount && width != ColWidths(m_sizingCol)) {
            if (m_sizingCol >= m_colWidths.size())
                m_colWidths.resize(m_colCount, m_defaultColWidth);
            m_colWidths[m_sizingCol] = width;
            UpdateScrollRange();
            viewport()->update();
        }
        return;
    }
    if (m_selecting && (event->buttons() & Qt::LeftButton)) {
        if ((m_options & goRangeSelect) && !m_editorShown) {
            const int x = std::clamp(pos.x(), 0, std::max(0, viewport()->width() - 1));
            const int y = std::clamp(pos.y(), 0, std::max(0, viewport()->height() - 1));
            TGridCoord cell = MouseToCell(x, y);
            if (cell.X < 0)
                cell.X = m_colCount - 1;
            if (cell.Y < 0)
                cell.Y = m_rowCount - 1;
            cell = ClampedToData(cell);
            if (!(cell == Anchor()))
                MoveAnchor(cell);
        }
        return;
    }
    if (event->buttons() == Qt::NoButton && (m_options & goColSizing)) {
        if (ColumnBorderAt(pos.x(), pos.y()) >= 0)
            viewport()->setCursor(Qt::SplitHCursor);
        else
            viewport()->unsetCursor();
    }
    QAbstractScrollArea::mouseMoveEvent(event);
}

void TMyCustomGrid::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && m_sizingCol >= 0) {
        m_sizingCol = -1;
        viewport()->unsetCursor();
        ColWidthsChanged();
        return;
    }
    if (event->button() == Qt::LeftButton && m_selecting) {
        m_selecting = false;
        Click();
        return;
    }
    if (event->button() == Qt::LeftButton) {
        event->accept();
        return;
    }
    QAbstractScrollArea::mouseReleaseEvent(event);
}

void TMyCustomGrid::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        DblClick();
    event->accept();
}

void TMyCustomGrid::wheelEvent(QWheelEvent* event)
{
    m_wheelRemainder += event->angleDelta().y();
    const int notches = m_wheelRemainder / QWheelEvent::DefaultDeltasPerStep;
    if (notches != 0) {
        m_wheelRemainder -= notches * QWheelEvent::DefaultDeltasPerStep;
        SetTopRow(m_topRow - notches * QApplication::wheelScrollLines());
    }
    event->accept();
}
