#pragma once

#include "GridAxis.h"
#include "TColor.h"

#include <QAbstractScrollArea>
#include <QFlags>
#include <QFont>
#include <QRect>
#include <QVector>
#include <functional>
#include <stdexcept>

class QLineEdit;
class QPainter;

enum TGridOption : unsigned {
    goFixedVertLine = 1u << 0,
    goFixedHorzLine = 1u << 1,
    goVertLine = 1u << 2,
    goHorzLine = 1u << 3,
    goRangeSelect = 1u << 4,
    goDrawFocusSelected = 1u << 5,
    goRowSizing = 1u << 6,
    goColSizing = 1u << 7,
    goRowMoving = 1u << 8,
    goColMoving = 1u << 9,
    goEditing = 1u << 10,
    goTabs = 1u << 11,
    goRowSelect = 1u << 12,
    goAlwaysShowEditor = 1u << 13,
    goThumbTracking = 1u << 14,
};
Q_DECLARE_FLAGS(TGridOptions, TGridOption)
Q_DECLARE_OPERATORS_FOR_FLAGS(TGridOptions)

enum TGridDrawStateFlag : unsigned {
    gdSelected = 1u << 0,
    gdFocused = 1u << 1,
    gdFixed = 1u << 2,
};
Q_DECLARE_FLAGS(TGridDrawState, TGridDrawStateFlag)
Q_DECLARE_OPERATORS_FOR_FLAGS(TGridDrawState)

enum TScrollStyle { ssNone, ssHorizontal, ssVertical, ssBoth };

// Columns Left..Right, rows Top..Bottom, all inclusive.
struct TGridRect
{
    int Left = 0;
    int Top = 0;
    int Right = 0;
    int Bottom = 0;
    bool operator==(const TGridRect&) const = default;
};

struct TGridCoord
{
    int X = 0; // column
    int Y = 0; // row
    bool operator==(const TGridCoord&) const = default;
};

// Raised for a width or height set on an index outside the grid.
class EGridError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// What the grid prepared for one cell before DrawCell: the painter, and the
// brush and font the cell is to be drawn with (selection colours for selected
// cells, the fixed colour for fixed cells).
struct TCellCanvas
{
    QPainter& Painter;
    TColor BrushColor;
    QFont Font;
    TColor FontColor;
};

// A scrolling grid of cells with fixed rows and columns, column and row sizing,
// keyboard and mouse navigation and an in-place editor. It holds no cell texts
// itself (TMyStringGrid does); subclasses draw the cells in DrawCell.
//
// Geometry is in widget pixels of the viewport. Row and column counts may
// change inside a BeginUpdate/EndUpdate bracket without any size handling;
// reads stay valid then, with the default size for rows and columns that the
// size tables do not reach yet.
class TMyCustomGrid : public QAbstractScrollArea
{
    Q_OBJECT

public:
    explicit TMyCustomGrid(QWidget* parent = nullptr);
    ~TMyCustomGrid() override;

    int ColCount() const { return m_cols.Count(); }
    void SetColCount(int count);
    int RowCount() const { return m_rows.Count(); }
    void SetRowCount(int count);
    int FixedCols() const { return m_cols.Fixed(); }
    void SetFixedCols(int count);
    int FixedRows() const { return m_rows.Fixed(); }
    void SetFixedRows(int count);

    int DefaultColWidth() const { return m_cols.DefaultSize(); }
    // Setting a default size drops all individual widths (heights) set before.
    void SetDefaultColWidth(int width);
    int DefaultRowHeight() const { return m_rows.DefaultSize(); }
    void SetDefaultRowHeight(int height);
    // Width -1 hides a column. Setting an index not below ColCount (or below 0)
    // throws EGridError("Grid index out of range"); the same for heights.
    int ColWidths(int col) const;
    void SetColWidths(int col, int width);
    int RowHeights(int row) const;
    void SetRowHeights(int row, int height);
    int GridLineWidth() const { return m_gridLineWidth; }
    void SetGridLineWidth(int width);

    TGridOptions Options() const { return m_options; }
    void SetOptions(TGridOptions options);
    TScrollStyle ScrollBars() const { return m_scrollBars; }
    void SetScrollBars(TScrollStyle style);
    TColor Color() const { return m_color; }
    void SetColor(TColor color);
    TColor FixedColor() const { return m_fixedColor; }
    void SetFixedColor(TColor color);

    // The current cell. Setting it goes through SelectCell and moves the anchor
    // (a plain move: the selection becomes the current cell, or its row with
    // goRowSelect), then fires OnClick like a keyboard move. With goRowSelect
    // the current column is always FixedCols. Reads always lie inside the
    // counts, also while an update bracket left the stored cell outside them.
    int Col() const;
    void SetCol(int col);
    int Row() const;
    void SetRow(int row);
    // Moves the current cell; with moveAnchor false the selection stretches from
    // the anchor to it. A fixed column or row is raised to the first scrollable
    // one; an index outside the grid throws EGridError("Grid index out of range").
    // Returns false when SelectCell refused.
    bool MoveCurrent(int col, int row, bool moveAnchor, bool show = true);
    TGridRect Selection() const;
    // The anchor goes to Left/Top, the current cell to Right/Bottom (without
    // SelectCell), both kept inside the scrollable cells.
    void SetSelection(const TGridRect& selection);

    int TopRow() const { return m_rows.First(); }
    void SetTopRow(int row);
    int LeftCol() const { return m_cols.First(); }
    void SetLeftCol(int col);
    // Scrollable rows / columns that fit wholly in the viewport below / right of the fixed ones.
    int VisibleRowCount() const;
    int VisibleColCount() const;

    // The cell under a viewport point; X or Y is -1 where the point lies beyond
    // the last column or row.
    TGridCoord MouseToCell(int x, int y) const;
    // The cell's rectangle in the viewport; empty when it is not visible.
    QRect CellRect(int col, int row) const;

    // Indexes may reach one past the stored rows (columns), so rows kept
    // beyond RowCount can be moved in and out; the current cell follows its row.
    virtual void MoveRow(int fromIndex, int toIndex);
    virtual void MoveColumn(int fromIndex, int toIndex);
    // Moves the row (column) to the last place, drops its cells and lowers the
    // count; rows kept beyond RowCount move up with it, so the deleted cells
    // never show again.
    virtual void DeleteRow(int row);
    virtual void DeleteColumn(int col);

    void InvalidateCell(int col, int row);
    void InvalidateRow(int row);
    void InvalidateCol(int col);
    void InvalidateGrid();

    // Update bracket: NowUpdating, wait cursor, no repaint, grid disabled. Size
    // changes inside it store the counts only. Brackets do not nest.
    virtual void BeginUpdate();
    virtual void EndUpdate();
    bool NowUpdating() const { return m_nowUpdating; }

    bool EditorMode() const;
    void SetEditorMode(bool on);
    // The in-place editor while it exists (nullptr before the first edit).
    QLineEdit* InplaceEditor() const { return m_editor; }

    // Geometry of the current layout, usable without a screen.
    // Room taken by the fixed columns (rows), grid lines included.
    int FixedColsWidth() const;
    int FixedRowsHeight() const;
    // The largest TopRow (LeftCol) that still fills the viewport.
    int MaxTopRow() const;
    int MaxLeftCol() const;
    // The column whose right border lies within a few pixels of x inside the
    // fixed rows, -1 when there is none.
    int ColumnBorderAt(int x, int y) const;

    // Optional handlers, as the event properties of the grid.
    std::function<void(int col, int row, bool& canSelect)> OnSelectCell;
    std::function<void(int col, int row, const QRect& rect, TGridDrawState state)> OnDrawCell;
    std::function<void(int col, int row, QString& value)> OnGetEditText;
    std::function<void(int col, int row, const QString& value)> OnSetEditText;
    // The mask is handed to the editor as a QLineEdit input mask.
    std::function<void(int col, int row, QString& mask)> OnGetEditMask;

Q_SIGNALS:
    void OnBeginUpdate();
    void OnClick();
    void OnDblClick();
    void OnTopLeftChanged();
    void OnColumnMoved(int fromIndex, int toIndex);
    void OnRowMoved(int fromIndex, int toIndex);

protected:
    // Hooks called by the grid.
    virtual void Click();
    virtual void DblClick();
    virtual void DrawCell(TCellCanvas& canvas, int col, int row, const QRect& rect, TGridDrawState state);
    virtual bool SelectCell(int col, int row);
    virtual QString GetEditText(int col, int row);
    virtual void SetEditText(int col, int row, const QString& value);
    virtual void ColumnMoved(int fromIndex, int toIndex);
    virtual void RowMoved(int fromIndex, int toIndex);
    virtual void SizeChanged(int oldColCount, int oldRowCount);
    virtual void ColWidthsChanged();
    virtual void RowHeightsChanged();
    // Called once the in-place editor shows, its text set.
    virtual void EditorShown() {}
    // The base moves the cell storage of subclasses through these.
    virtual void MoveRowData(int fromIndex, int toIndex);
    virtual void MoveColumnData(int fromIndex, int toIndex);
    // Drops the cells of one row (column), moving those behind it up by one.
    virtual void RemoveRowData(int index);
    virtual void RemoveColumnData(int index);
    // How many rows (columns) the cell storage holds, at least the count.
    virtual int StoredRowCount() const { return RowCount(); }
    virtual int StoredColCount() const { return ColCount(); }
    // Moves the current cell like a keyboard move: MoveCurrent, then Click.
    void FocusCell(int col, int row, bool moveAnchor);

    // Sets the counts; runs the size handling unless NowUpdating (see above).
    void ChangeSize(int colCount, int rowCount);

    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    bool viewportEvent(QEvent* event) override;
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    using TBand = TGridAxis::TBand;
    // The viewport's extent along an axis.
    int ViewportExtent(const TGridAxis& axis) const;
    // Line widths follow the options and GridLineWidth.
    void SyncLineWidths();
    void SetFixedCount(TGridAxis& axis, int count, const char* tooMany);
    void SetDefaultSize(TGridAxis& axis, int size);
    bool SetEntrySize(TGridAxis& axis, int index, int size);
    // Index, position and size of an axis' entries moved with MoveRow/MoveColumn.
    bool PrepareMove(const TGridAxis& axis, int storedCount, int fromIndex, int toIndex);
    void DeleteEntry(TGridAxis& axis, int index);
    void InvalidateBand(const TGridAxis& axis, int index);
    void SizesChanged();
    void SetFirst(TGridAxis& axis, int first);
    void ShowInView(TGridAxis& axis, int index);
    TGridCoord ClampedToData(TGridCoord cell) const;
    TGridCoord Current() const;
    TGridCoord Anchor() const;
    void MoveAnchor(TGridCoord cell);
    void ClampInView(TGridCoord cell);
    // Keeps TopRow and LeftCol inside the grid after a size change.
    void ClampTopLeft();
    void UpdateScrollRange();
    void AdjustSizeTables();
    void ClampCurrentCell();
    void ApplySize();
    void ResetToTopLeft();
    void ShowEditor(const QString* replacement = nullptr);
    void HideEditor(bool commit);
    void PlaceEditor();
    bool CanShowEditor() const;
    void PaintGridLines(QPainter& painter, const QVector<TBand>& cols, const QVector<TBand>& rows) const;
    void NavigateByKey(QKeyEvent* event);

    TGridAxis m_cols{64};
    TGridAxis m_rows{24};
    int m_gridLineWidth = 1;
    TGridOptions m_options = goFixedVertLine | goFixedHorzLine | goVertLine | goHorzLine | goRangeSelect;
    TScrollStyle m_scrollBars = ssBoth;
    TColor m_color = clWindow;
    TColor m_fixedColor = clBtnFace;
    int m_col = 1;
    int m_row = 1;
    TGridCoord m_anchor{1, 1};
    bool m_nowUpdating = false;
    QLineEdit* m_editor = nullptr;
    bool m_editorShown = false;
    TGridCoord m_editorCell{-1, -1};
    bool m_hadFocusBeforeUpdate = false;
    int m_wheelRemainder = 0;
    bool m_syncingScrollBars = false;
    int m_sizingCol = -1; // column being sized with the mouse
    int m_sizingStartX = 0;
    int m_sizingStartWidth = 0;
    bool m_selecting = false; // left button held over the cells
};
