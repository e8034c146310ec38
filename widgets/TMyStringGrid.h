#pragma once

#include "TMyCustomGrid.h"

#include <QString>
#include <QStringList>
#include <QVariant>
#include <functional>
#include <memory>
#include <vector>

// One cell: its text and an object reference carried for the owner.
struct TStrItem
{
    QString Text;
    QVariant Object;
};

class TMyStringGrid;

// A string-list view on one row (ColCount entries) or one column (RowCount
// entries, counted from row 0) of a TMyStringGrid. Cheap to copy; it refers to
// the grid, which must outlive it.
class TMyStringGridStrings
{
public:
    enum Kind { RowView, ColumnView };
    TMyStringGridStrings(TMyStringGrid* grid, Kind kind, int index)
        : m_grid(grid), m_kind(kind), m_index(index)
    {
    }

    int Count() const;
    QString Strings(int i) const;
    QString operator[](int i) const { return Strings(i); }
    void SetStrings(int i, const QString& text);
    QVariant Objects(int i) const;
    void SetObjects(int i, const QVariant& object);
    // First entry equal to text, compared case-insensitively with the locale's
    // comparison; -1 when there is none.
    int IndexOf(const QString& text) const;
    // Copies texts and objects of another view entry by entry (Count of this view).
    void Assign(const TMyStringGridStrings& source);
    void Assign(const QStringList& texts);
    // Empties every cell of the row or column (also those beyond the counts).
    void Clear();
    // Fills the first empty cell; empty text is stored as one blank. Returns its index or -1.
    int Add(const QString& text);
    QStringList ToStringList() const;

private:
    TMyStringGrid* m_grid;
    Kind m_kind;
    int m_index;
};

// The grid with text and an object per cell. The storage is sparse and is not
// trimmed when RowCount or ColCount shrink: cells beyond the counts keep their
// contents and show again when the counts grow.
class TMyStringGrid : public TMyCustomGrid
{
    Q_OBJECT

public:
    explicit TMyStringGrid(QWidget* parent = nullptr);
    ~TMyStringGrid() override;

    QString Cells(int col, int row) const;
    // Writing repaints the cell.
    void SetCells(int col, int row, const QString& text);

    // Rows held elsewhere: the grid keeps only each data row's key (in keyCol)
    // and asks source for the row's other cells by that key, so there is no
    // second copy to keep in step. Writing such a cell only repaints it; the
    // owner changes the rows where they are held (an edit reaches it through
    // OnSetEditText). Without a source the grid holds its cells itself.
    using TRowCellSource = std::function<QString(const QString& key, int col)>;
    void SetRowSource(int keyCol, TRowCellSource source);
    // The cell is a data cell the row source gives.
    bool FromRowSource(int col, int row) const;
    QVariant Objects(int col, int row) const;
    void SetObjects(int col, int row, const QVariant& object);

    TMyStringGridStrings Rows(int row) { return {this, TMyStringGridStrings::RowView, row}; }
    TMyStringGridStrings Cols(int col) { return {this, TMyStringGridStrings::ColumnView, col}; }

    // Bulk access for sorting and filtering: all stored items of a row
    // (shorter than ColCount when trailing cells were never written), and
    // replacing them at once. Neither repaints.
    std::vector<TStrItem> RowItems(int row) const;
    void SetRowItems(int row, std::vector<TStrItem> items);
    // Rearranges the rows first .. first + order.size() - 1: row first + p
    // receives the cells that were in row first + order[p]. The row storage
    // moves; no cell is copied. order must hold each of 0 .. size - 1 once.
    void PermuteRows(int first, const std::vector<int>& order);

    // Where the default drawing puts a cell's text: 2 pixels in from the left.
    static QRect TextRect(const QRect& cellRect);

protected:
    void DrawCell(TCellCanvas& canvas, int col, int row, const QRect& rect, TGridDrawState state) override;
    QString GetEditText(int col, int row) override;
    void SetEditText(int col, int row, const QString& value) override;
    void MoveRowData(int fromIndex, int toIndex) override;
    void MoveColumnData(int fromIndex, int toIndex) override;
    void RemoveRowData(int index) override;
    void RemoveColumnData(int index) override;
    int StoredRowCount() const override;
    int StoredColCount() const override;

private:
    friend class TMyStringGridStrings;
    const TStrItem* Item(int col, int row) const;
    TStrItem& ItemForWrite(int col, int row);
    // Empties the cell and drops its object, without repainting.
    void ClearItem(int col, int row);

    // Rows by index; a null row or a short row means never written.
    std::vector<std::unique_ptr<std::vector<TStrItem>>> m_rows;
    TRowCellSource m_rowSource;
    int m_keyCol = -1;
};
