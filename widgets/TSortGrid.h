#pragma once

#include "SortCompare.h"
#include "TMyStringGrid.h"

#include <QLine>
#include <QPixmap>
#include <QStringList>
#include <QVector>
#include <functional>

class QFontMetrics;
class QIODevice;

enum TSortDirection : unsigned char { sdAscending, sdDescending };
enum TCellBevelStyle : unsigned char { cbNone, cbRaised, cbLowered };
enum TVertAlignment : unsigned char { taTopJustify, taBottomJustify, taMiddle };
enum TAlignment : unsigned char { taLeftJustify, taRightJustify, taCenter };
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

    void SortByColumn(int col);
    TSortStyle DetectSortStyle(int col);
    void ClearGrid();
    // Writes all rows; false (after the message "Can't write to file:" CR name) when writing failed.
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

    // Handlers with var parameters.
    std::function<void(int col, int row, TGridDrawState state, TFormatOptions& format, bool& checkBox,
                       bool& comboBox, bool& ellipsis)>
        OnGetCellFormat;
    std::function<void(int col, TSortStyle& style)> OnGetSortStyle;
    std::function<void(int& col)> OnBeginSort;
    std::function<void(int col, int row, const QString& oldValue, QString& newValue, bool& valid)>
        OnCellValidate;

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

protected:
    void DrawCell(TCellCanvas& canvas, int col, int row, const QRect& rect, TGridDrawState state) override;
    bool SelectCell(int col, int row) override;
    void SetEditText(int col, int row, const QString& value) override;
    void ColumnMoved(int fromIndex, int toIndex) override;
    void SizeChanged(int oldColCount, int oldRowCount) override;
    void ColWidthsChanged() override;
    void RowHeightsChanged() override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    TFormatOptions CellFormat(int col, int row, const TCellCanvas* canvas, bool& checkBox, bool& comboBox,
                              bool& ellipsis);
    void RunSort(int& col);
    void ClearSelection();
    void ResetSelectionTo(int row);
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
};
