#pragma once

#include "CellAlignment.h"
#include "SortCompare.h"
#include "TComboListBox.h"
#include "TMyStringGrid.h"

#include <QLine>
#include <QPixmap>
#include <QPointer>
#include <QStringList>
#include <QVector>
#include <functional>

class QFontMetrics;
class QIODevice;
class QMenu;

enum TSortDirection : unsigned char { sdAscending, sdDescending };
enum TCellBevelStyle : unsigned char { cbNone, cbRaised, cbLowered };
enum TVertAlignment : unsigned char { taTopJustify, taBottomJustify, taMiddle };
enum TMyPrintRange : unsigned char { prAll, prSelected };

struct TSortOptions
{
    bool CanSort = true;
    QString SecondaryIndex;
    TSortStyle SortStyle = ssNormal;
    bool SortCaseSensitive = false;
    int SortCol = 0;
    TSortDirection SortDirection = sdAscending;
    bool UpdateOnSizeChange = false;
    // Used by ssCustom; reset at the end of every sort.
    TCustomCompare CustomCompare;
};

// Kept for forms that store them; nothing in the grid reads these.
struct TPrintOptions
{
    QString JobTitle;
    QString PageTitle;
    unsigned Copies = 0;
    TMyPrintRange PrintRange = prAll;
    unsigned FromRow = 0;
    unsigned ToRow = 0;
    unsigned PreviewPage = 0;
};

// The format of one cell, filled with the grid's defaults and handed to
// OnGetCellFormat, which may change any field.
struct TFormatOptions
{
    TColor BrushColor = clWindow;    // the cell background ("Brush.Color")
    QFont Font;                      // the cell font ("Font"; its size, weight ...)
    TColor FontColor = clWindowText; // "Font.Color"
    TAlignment AlignmentHorz = taLeftJustify;
    TVertAlignment AlignmentVert = taTopJustify;
    TCellBevelStyle BevelStyle = cbNone;
    TColor HighlightColor = clWindow;
    TColor ShadowColor = clWindow;
    bool HideText = false;
};

// The string grid that holds the results protocol: multi-key sorting with
// comparison styles, a per-cell format callback, header-click sorting with an
// arrow glyph, HideRows, a modified flag and a semicolon-separated export.
class TSortGrid : public TMyStringGrid
{
    Q_OBJECT

public:
    explicit TSortGrid(QWidget* parent = nullptr);
    ~TSortGrid() override;

    TSortOptions SortOptions;
    TPrintOptions PrintOptions;
    QStringList UserSettings;

    bool HideRows() const { return m_hideRows; }
    void SetHideRows(bool hide);
    bool MultiSelect() const { return m_multiSelect; }
    void SetMultiSelect(bool on);
    TAlignment AlignmentHorz() const { return m_alignmentHorz; }
    void SetAlignmentHorz(TAlignment alignment);
    TVertAlignment AlignmentVert() const { return m_alignmentVert; }
    void SetAlignmentVert(TVertAlignment alignment);
    TCellBevelStyle BevelStyle() const { return m_bevelStyle; }
    void SetBevelStyle(TCellBevelStyle style);
    bool ProportionalScrollBars() const { return m_proportionalScrollBars; }
    void SetProportionalScrollBars(bool on);
    bool ExtendedKeys() const { return m_extendedKeys; }
    void SetExtendedKeys(bool on);
    bool Modified() const { return m_modified; }
    void SetModified(bool modified);
    // Setting it runs the filter through OnSetFilter; rows filtered out are
    // kept beyond RowCount and come back when it is switched off.
    bool Filtered() const { return m_filtered; }
    void SetFiltered(bool filtered);
    // How many rows the filter keeps out of view beyond RowCount.
    int FilteredCount() const { return m_filteredCount; }
    // Shown at the cursor when the right button is released over a data row;
    // not owned by the grid.
    QMenu* PopupMenu() const { return m_popupMenu; }
    void SetPopupMenu(QMenu* menu) { m_popupMenu = menu; }

    void SortByColumn(int col);
    TSortStyle DetectSortStyle(int col);
    void ClearGrid();
    // Writes all rows; false (after the message "Can't write to file:" CR name) when writing failed.
    // A cell a spreadsheet would take for a formula gets an apostrophe in front (CellFormulaGuard.h).
    bool SaveToCSV(const QString& fileName);
    // The same bytes to any device; false when a write failed.
    bool WriteCSV(QIODevice& device);
    void GotoCell(int col, int row, bool scroll);
    void ScrollToCell(int col, int row);
    void AutoSizeColumn(int col, bool force);
    void AutoSizeColumns(bool force);
    void InsertRow(int row);
    void InsertColumn(int col);
    void DeleteRow(int row) override;
    void DeleteColumn(int col) override;
    void MoveRow(int fromIndex, int toIndex) override;
    void MoveColumn(int fromIndex, int toIndex) override;
    void ExchangeRows(int a, int b);
    void BeginUpdate() override;
    void EndUpdate() override;

    // The format of a cell as drawing would use it (calls OnGetCellFormat).
    TFormatOptions GetCellFormat(int col, int row);

    // Geometry of drawing, callable without a screen.
    // The header text shortened to the room ("..", never shorter than 3 characters).
    QString ShortenedHeaderText(const QString& text, int room, const QFontMetrics& metrics) const;
    // Text origin inside rect for a text of the given size (step 6 of drawing).
    static QPoint TextPosition(const QRect& rect, QSize textSize, TAlignment horz, TVertAlignment vert);
    // A data cell's text as drawn in room pixels: cut with "…" when wider.
    static QString ElidedCellText(const QString& text, int room, const QFontMetrics& metrics);
    // Where the sort arrow goes in a header cell (step 7 of drawing).
    static QRect ArrowRect(const QRect& cellRect, int headerHeight);
    struct TBevelLines
    {
        QVector<QLine> Shadow;
        QVector<QLine> Highlight;
    };
    // The bevel lines of a cell for the grid line options (step 11 of drawing).
    static TBevelLines BevelLines(const QRect& rect, TGridOptions options);
    // True over the header row within 5 pixels of the left or right edge of the
    // header cell under the point; header clicks there do not sort.
    bool IsOnColumnBorder(int x, int y) const;
    // The rows of the (multi-)selection, in selection order.
    QStringList SelectedRows() const { return m_selectedRows; }
    // Row numbers as text; entry 0 is the anchor row of a range.
    QStringList SelectionOrder() const { return m_selectionOrder; }
    // Repaints and empties the selection; the anchor entry stays, empty.
    void ClearSelection();
    // True while a press on a selected row has turned into dragging the grid.
    bool Dragging() const { return m_dragging; }

    // Editing: the current cell is remembered while the editor is active, and
    // an edit that changed its text goes through OnCellValidate when the
    // editor writes it (Enter, leaving the cell, focus loss).
    void RememberCell();
    // Writes the editor's text through the validation at once.
    void ValidateCell();

    // Special cells, as OnGetCellFormat marks them.
    static bool IsChecked(const QString& text);
    // Writes "V" or empty text, repaints the row and fires OnSetChecked.
    void ToggleCheckBox(int col, int row);
    // Opens the drop-down list of a combo-box cell (through OnGetComboBox).
    void ShowComboList(int col, int row);
    // The drop-down list box (hidden unless a list is open).
    QListWidget* ComboList() const { return m_comboList; }
    // Where the drop-down list goes: cell and grid in their parents' coordinates.
    static QRect ComboListRect(const QRect& cellRect, QPoint gridPos, int itemHeight, int itemCount,
                               int width, int height);
    // Where the check-box glyph goes in a cell (rowHeight: the row's height).
    static QRect CheckBoxRect(const QRect& cellRect, int rowHeight);
    // Where the combo-box and ellipsis glyphs go: the right end of the cell.
    static QRect ButtonRect(const QRect& cellRect);

    // Handlers with var parameters.
    std::function<void(int col, int row, TGridDrawState state, TFormatOptions& format, bool& checkBox,
                       bool& comboBox, bool& ellipsis)>
        OnGetCellFormat;
    std::function<void(int col, TSortStyle& style)> OnGetSortStyle;
    std::function<void(int& col)> OnBeginSort;
    std::function<void(int col, int row, const QString& oldValue, QString& newValue, bool& valid)>
        OnCellValidate;
    // Handed a copy of one data row's cells; accept starts false.
    std::function<void(const QStringList& cells, bool& accept)> OnSetFilter;
    std::function<void(int col, int row, QStringList& strs, int& width, int& height, bool& sorted)>
        OnGetComboBox;

Q_SIGNALS:
    void OnRowSelected();
    void OnModified();
    void OnEndUpdate();
    void OnSizeChanged(int oldColCount, int oldRowCount);
    void OnColumnWidthsChanged();
    void OnRowHeightsChanged();
    void OnRowInsert(int index);
    void OnRowDelete(int index);
    void OnColumnInsert(int index);
    void OnColumnDelete(int index);
    void OnAfterSort(int col);
    void OnSetChecked(int col, int row, bool state);
    void OnSetComboBox(int col, int row, const QString& str);
    void OnSetEllipsis(int col, int row);
    // A press on a selected row was dragged more than 10 pixels (MultiSelect).
    void OnStartDrag();

protected:
    void DrawCell(TCellCanvas& canvas, int col, int row, const QRect& rect, TGridDrawState state) override;
    bool SelectCell(int col, int row) override;
    void SetEditText(int col, int row, const QString& value) override;
    void ColumnMoved(int fromIndex, int toIndex) override;
    void SizeChanged(int oldColCount, int oldRowCount) override;
    void ColWidthsChanged() override;
    void RowHeightsChanged() override;
    void EditorShown() override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    TFormatOptions CellFormat(int col, int row, const TCellCanvas* canvas, bool& checkBox, bool& comboBox,
                              bool& ellipsis);
    void RunSort(int& col);
    void ResetSelectionTo(int row);
    void CreateComboList();
    bool SelectCellWhileEditing(int col, int row);
    // The text an edit writes, after OnCellValidate; refused when the handler said so.
    QString ValidatedText(int col, int row, const QString& value, bool& refused);
    // False when the press is not to reach the grid base.
    bool MultiSelectPress(QMouseEvent* event, int row);
    void DataCellRelease(QMouseEvent* event, TGridCoord cell);
    // Adds the rows of the base's Selection rectangle to both selection lists.
    void AddSelectionRange();
    // Makes row current without touching the selection lists.
    void MoveCurrentRow(int row);
    bool MultiSelectKeys() const;
    void MultiSelectKeyPress(QKeyEvent* event);
    void MultiSelectKeyRelease(QKeyEvent* event);
    void MultiSelectRelease(QMouseEvent* event, int row);
    bool ExtendedKey(QKeyEvent* event);
    bool QuickSearch(const QString& text);
    void SpecialCellAction(int col, int row, int x);
    void TakeComboItem();
    void RunFilter(bool on);
    bool RowIsEmpty(int row) const;
    void DrawSpecialCell(QPainter& painter, int col, int row, const QRect& rect, bool checkBox, bool comboBox,
                         bool ellipsis);
    void UpdateScrollBars();
    void WidenLastColumn();
    void HeaderClick(int col, Qt::MouseButton button);

    bool m_hideRows = false;
    bool m_multiSelect = false;
    TAlignment m_alignmentHorz = taLeftJustify;
    TVertAlignment m_alignmentVert = taTopJustify;
    TCellBevelStyle m_bevelStyle = cbNone;
    bool m_proportionalScrollBars = false;
    bool m_extendedKeys = false;
    bool m_modified = false;
    bool m_sorting = false;
    bool m_trackSelection = true;
    bool m_savedUpdateOnSizeChange = false;
    QStringList m_selectedRows;
    QStringList m_selectionOrder;
    TGridCoord m_mouseDownCell{-1, -1};
    bool m_pressStartedSizing = false;
    QPixmap m_glyphUp;
    QPixmap m_glyphDown;
    bool m_filtered = false;
    int m_filteredCount = 0;
    QMenu* m_popupMenu = nullptr;
    // A child of the grid's parent (of the grid without one); deleted with the grid.
    QPointer<TComboListBox> m_comboList;
    TGridCoord m_comboCell{-1, -1};
    struct TRememberedCell
    {
        int Col = -1;
        int Row = -1;
        QString Text;
        bool Modified = false;
    };
    TRememberedCell m_remembered;
    QPoint m_dragOrigin{-1, -1};
    bool m_dragging = false;
    int m_wheelRemainder = 0;
    bool m_tabHeld = false; // a Tab key press is being handled
};
