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
    SyncLineWidths();
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
    if (count == ColCount())
        return;
    ChangeSize(count, RowCount());
}

void TMyCustomGrid::SetRowCount(int count)
{
    count = std::max(count, 1);
    if (count == RowCount())
        return;
    ChangeSize(ColCount(), count);
}

void TMyCustomGrid::SetFixedCols(int count)
{
    SetFixedCount(m_cols, count, "Fixed column count must be less than column count");
}

void TMyCustomGrid::SetFixedRows(int count)
{
    SetFixedCount(m_rows, count, "Fixed row count must be less than row count");
}

void TMyCustomGrid::SetFixedCount(TGridAxis& axis, int count, const char* tooMany)
{
    if (count == axis.Fixed())
        return;
    if (count < 0)
        ThrowIndexOutOfRange();
    if (count >= axis.Count())
        throw EGridError(tooMany);
    HideEditor(true);
    axis.SetFixed(count);
    ResetToTopLeft();
}

void TMyCustomGrid::ResetToTopLeft()
{
    m_cols.SetFirst(m_cols.Fixed());
    m_rows.SetFirst(m_rows.Fixed());
    m_col = m_cols.Fixed();
    m_row = m_rows.Fixed();
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
    const int oldCols = ColCount();
    const int oldRows = RowCount();
    const auto store = [this](int cols, int rows) {
        for (auto [axis, count] : {std::pair{&m_cols, cols}, std::pair{&m_rows, rows}}) {
            axis->SetCount(count);
            if (axis->Fixed() >= count)
                axis->SetFixed(count - 1);
        }
    };
    store(colCount, rowCount);
    if (m_nowUpdating)
        return;

    ApplySize();
    try {
        SizeChanged(oldCols, oldRows);
    } catch (...) {
        store(oldCols, oldRows);
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
    m_cols.AdjustTable();
    m_rows.AdjustTable();
}

void TMyCustomGrid::ClampCurrentCell()
{
    const TGridCoord current = ClampedToData({m_col, m_row});
    m_col = current.X;
    m_row = current.Y;
    m_anchor = ClampedToData(m_anchor);
    if (m_options & goRowSelect)
        m_col = m_cols.Fixed();
}

TGridCoord TMyCustomGrid::ClampedToData(TGridCoord cell) const
{
    return {m_cols.ClampedToData(cell.X), m_rows.ClampedToData(cell.Y)};
}

void TMyCustomGrid::SetDefaultColWidth(int width)
{
    if (width == DefaultColWidth())
        return;
    SetDefaultSize(m_cols, width);
    ColWidthsChanged();
}

void TMyCustomGrid::SetDefaultRowHeight(int height)
{
    if (height == DefaultRowHeight())
        return;
    SetDefaultSize(m_rows, height);
    RowHeightsChanged();
}

void TMyCustomGrid::SetDefaultSize(TGridAxis& axis, int size)
{
    axis.SetDefaultSize(size);
    if (!m_nowUpdating)
        axis.AdjustTable();
}

int TMyCustomGrid::ColWidths(int col) const
{
    return m_cols.Size(col);
}

void TMyCustomGrid::SetColWidths(int col, int width)
{
    if (SetEntrySize(m_cols, col, width))
        ColWidthsChanged();
}

int TMyCustomGrid::RowHeights(int row) const
{
    return m_rows.Size(row);
}

void TMyCustomGrid::SetRowHeights(int row, int height)
{
    if (SetEntrySize(m_rows, row, height))
        RowHeightsChanged();
}

bool TMyCustomGrid::SetEntrySize(TGridAxis& axis, int index, int size)
{
    if (index < 0 || index >= axis.Count())
        ThrowIndexOutOfRange();
    return axis.SetSize(index, std::max(size, -1));
}

void TMyCustomGrid::SetGridLineWidth(int width)
{
    width = std::max(width, 0);
    if (width == m_gridLineWidth)
        return;
    m_gridLineWidth = width;
    SyncLineWidths();
    UpdateScrollRange();
    viewport()->update();
}

void TMyCustomGrid::SyncLineWidths()
{
    m_cols.SetLineWidth((m_options & (goFixedVertLine | goVertLine)) ? m_gridLineWidth : 0);
    m_rows.SetLineWidth((m_options & (goFixedHorzLine | goHorzLine)) ? m_gridLineWidth : 0);
}

void TMyCustomGrid::SetOptions(TGridOptions options)
{
    if (options == m_options)
        return;
    const bool rowSelectChanged = (options ^ m_options) & goRowSelect;
    m_options = options;
    SyncLineWidths();
    if (!CanShowEditor())
        HideEditor(true);
    if (rowSelectChanged) {
        if (m_options & goRowSelect)
            m_col = m_cols.Fixed();
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

int TMyCustomGrid::ViewportExtent(const TGridAxis& axis) const
{
    return &axis == &m_cols ? viewport()->width() : viewport()->height();
}

int TMyCustomGrid::FixedColsWidth() const
{
    return m_cols.FixedExtent();
}

int TMyCustomGrid::FixedRowsHeight() const
{
    return m_rows.FixedExtent();
}

int TMyCustomGrid::VisibleColCount() const
{
    return m_cols.VisibleCount(viewport()->width());
}

int TMyCustomGrid::VisibleRowCount() const
{
    return m_rows.VisibleCount(viewport()->height());
}

int TMyCustomGrid::MaxTopRow() const
{
    return m_rows.MaxFirst(viewport()->height());
}

int TMyCustomGrid::MaxLeftCol() const
{
    return m_cols.MaxFirst(viewport()->width());
}

TGridCoord TMyCustomGrid::MouseToCell(int x, int y) const
{
    return {m_cols.IndexAt(x), m_rows.IndexAt(y)};
}

QRect TMyCustomGrid::CellRect(int col, int row) const
{
    const int x = m_cols.Position(col, viewport()->width());
    const int y = m_rows.Position(row, viewport()->height());
    if (x < 0 || y < 0)
        return {};
    return {x, y, m_cols.Size(col), m_rows.Size(row)};
}

int TMyCustomGrid::ColumnBorderAt(int x, int y) const
{
    if (y < 0 || y >= FixedRowsHeight())
        return -1;
    for (const TBand& band : m_cols.Bands(viewport()->width())) {
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
    const bool wasSyncing = m_syncingScrollBars;
    m_syncingScrollBars = true;
    for (auto [axis, bar] :
         {std::pair{&m_rows, verticalScrollBar()}, std::pair{&m_cols, horizontalScrollBar()}}) {
        const int extent = ViewportExtent(*axis);
        bar->setRange(0, std::max(0, axis->MaxFirst(extent) - axis->Fixed()));
        bar->setPageStep(std::max(1, axis->VisibleCount(extent)));
        bar->setValue(axis->First() - axis->Fixed());
    }
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
    if (col < 0 || row < 0 || col >= ColCount() || row >= RowCount())
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
            m_anchor.X = ColCount() - 1;
    }
    if (m_options & goRowSelect)
        m_col = FixedCols();
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
        m_anchor.X = ColCount() - 1;
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
        selection.Left = FixedCols();
        selection.Right = ColCount() - 1;
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
    bool changed = false;
    for (TGridAxis* axis : {&m_rows, &m_cols}) {
        const int first = axis->ClampedFirst(axis->First(), ViewportExtent(*axis));
        changed = changed || first != axis->First();
        axis->SetFirst(first);
    }
    UpdateScrollRange();
    if (changed)
        emit OnTopLeftChanged();
}

void TMyCustomGrid::ClampInView(TGridCoord cell)
{
    ShowInView(m_cols, cell.X);
    ShowInView(m_rows, cell.Y);
}

void TMyCustomGrid::ShowInView(TGridAxis& axis, int index)
{
    if (index < axis.Fixed())
        return;
    const int extent = ViewportExtent(axis);
    if (index < axis.First())
        SetFirst(axis, index);
    else if (index >= axis.First() + axis.VisibleCount(extent))
        SetFirst(axis, axis.FirstToShow(index, extent));
}

void TMyCustomGrid::SetTopRow(int row)
{
    SetFirst(m_rows, row);
}

void TMyCustomGrid::SetLeftCol(int col)
{
    SetFirst(m_cols, col);
}

void TMyCustomGrid::SetFirst(TGridAxis& axis, int first)
{
    first = axis.ClampedFirst(first, ViewportExtent(axis));
    if (first == axis.First())
        return;
    axis.SetFirst(first);
    UpdateScrollRange();
    PlaceEditor();
    viewport()->update();
    emit OnTopLeftChanged();
}

// ---------------------------------------------------------------------------
// Moving and deleting rows and columns

namespace {

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

bool TMyCustomGrid::PrepareMove(const TGridAxis& axis, int storedCount, int fromIndex, int toIndex)
{
    const int limit = std::max(storedCount, axis.Count());
    if (fromIndex < 0 || toIndex < 0 || fromIndex > limit || toIndex > limit)
        ThrowIndexOutOfRange();
    if (fromIndex == toIndex)
        return false;
    HideEditor(true);
    return true;
}

void TMyCustomGrid::MoveRow(int fromIndex, int toIndex)
{
    if (!PrepareMove(m_rows, StoredRowCount(), fromIndex, toIndex))
        return;
    MoveRowData(fromIndex, toIndex);
    m_rows.MoveEntry(fromIndex, toIndex);
    FollowMove(m_row, fromIndex, toIndex);
    FollowMove(m_anchor.Y, fromIndex, toIndex);
    ClampCurrentCell();
    RowMoved(fromIndex, toIndex);
    UpdateScrollRange();
    viewport()->update();
}

void TMyCustomGrid::MoveColumn(int fromIndex, int toIndex)
{
    if (!PrepareMove(m_cols, StoredColCount(), fromIndex, toIndex))
        return;
    MoveColumnData(fromIndex, toIndex);
    m_cols.MoveEntry(fromIndex, toIndex);
    if (!(m_options & goRowSelect)) {
        FollowMove(m_col, fromIndex, toIndex);
        FollowMove(m_anchor.X, fromIndex, toIndex);
    }
    ClampCurrentCell();
    ColumnMoved(fromIndex, toIndex);
    UpdateScrollRange();
    viewport()->update();
}

void TMyCustomGrid::DeleteRow(int row)
{
    DeleteEntry(m_rows, row);
}

void TMyCustomGrid::DeleteColumn(int col)
{
    DeleteEntry(m_cols, col);
}

void TMyCustomGrid::DeleteEntry(TGridAxis& axis, int index)
{
    const bool rows = &axis == &m_rows;
    if (index < 0 || index >= axis.Count())
        ThrowIndexOutOfRange();
    const int last = axis.Count() - 1;
    rows ? MoveRow(index, last) : MoveColumn(index, last);
    if (last < 1)
        return;
    rows ? RemoveRowData(last) : RemoveColumnData(last);
    rows ? SetRowCount(last) : SetColCount(last);
}

// ---------------------------------------------------------------------------
// Invalidation

void TMyCustomGrid::InvalidateCell(int col, int row)
{
    if (m_nowUpdating || !isVisible())
        return;
    const QRect rect = CellRect(col, row);
    if (!rect.isEmpty())
        viewport()->update(rect.adjusted(0, 0, m_cols.LineWidth(), m_rows.LineWidth()));
}

void TMyCustomGrid::InvalidateRow(int row)
{
    InvalidateBand(m_rows, row);
}

void TMyCustomGrid::InvalidateCol(int col)
{
    InvalidateBand(m_cols, col);
}

void TMyCustomGrid::InvalidateBand(const TGridAxis& axis, int index)
{
    if (m_nowUpdating || !isVisible())
        return;
    const bool rows = &axis == &m_rows;
    for (const TBand& band : axis.Bands(ViewportExtent(axis))) {
        if (band.Index != index)
            continue;
        const int size = band.Size + axis.LineWidth();
        if (rows)
            viewport()->update(0, band.Start, viewport()->width(), size);
        else
            viewport()->update(band.Start, 0, size, viewport()->height());
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
    ChangeSize(ColCount(), RowCount());

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
    SizesChanged();
}

void TMyCustomGrid::RowHeightsChanged()
{
    SizesChanged();
}

void TMyCustomGrid::SizesChanged()
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
    EditorShown();
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
    if (rect.isEmpty() || m_editorCell.X >= ColCount() || m_editorCell.Y >= RowCount()) {
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
    const QVector<TBand> cols = m_cols.Bands(viewport()->width());
    const QVector<TBand> rows = m_rows.Bands(viewport()->height());

    // Room right of and below the cells.
    const int gridRight = m_cols.UsedExtent(viewport()->width());
    const int gridBottom = m_rows.UsedExtent(viewport()->height());
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
            const bool fixed = col.Index < FixedCols() || row.Index < FixedRows();
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
                if (col.Index >= FixedCols())
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
    const int vertWidth = m_cols.LineWidth();
    const int horzWidth = m_rows.LineWidth();
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
            const bool fixedCol = col.Index < FixedCols();
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
            const bool fixedRow = row.Index < FixedRows();
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
    SetTopRow(FixedRows() + verticalScrollBar()->value());
    SetLeftCol(FixedCols() + horizontalScrollBar()->value());
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
    const TGridCoord first{FixedCols(), FixedRows()};
    const TGridCoord last{ColCount() - 1, RowCount() - 1};
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
            SetLeftCol(LeftCol() - 1);
            return;
        }
        target.X = current.X - 1;
        break;
    case Qt::Key_Right:
        if (rowSelect) {
            SetLeftCol(LeftCol() + 1);
            return;
        }
        target.X = current.X + 1;
        break;
    case Qt::Key_PageUp:
        target.Y = current.Y - page;
        SetTopRow(TopRow() - page);
        break;
    case Qt::Key_PageDown:
        target.Y = current.Y + page;
        SetTopRow(TopRow() + page);
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
    if (cell.X < FixedCols() || cell.Y < FixedRows())
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
        if (m_sizingCol < ColCount() && m_cols.SetSize(m_sizingCol, width)) {
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
                cell.X = ColCount() - 1;
            if (cell.Y < 0)
                cell.Y = RowCount() - 1;
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
        SetTopRow(TopRow() - notches * QApplication::wheelScrollLines());
    }
    event->accept();
}
