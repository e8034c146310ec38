#pragma once

#include <QVector>

// One direction of a grid, its columns or its rows: how many there are, how
// many of them are fixed, their sizes, the first scrollable one shown and the
// width of the lines between them. Positions are pixels along the direction,
// counted from the viewport's edge; the fixed entries come first, then the
// scrollable ones from First on. A size of -1 hides an entry.
class TGridAxis
{
public:
    struct TBand
    {
        int Index;
        int Start;
        int Size;
    };

    explicit TGridAxis(int defaultSize) : m_defaultSize(defaultSize) {}

    int Count() const { return m_count; }
    void SetCount(int count) { m_count = count; }
    int Fixed() const { return m_fixed; }
    void SetFixed(int fixed) { m_fixed = fixed; }
    // The first scrollable entry shown (LeftCol, TopRow).
    int First() const { return m_first; }
    void SetFirst(int first) { m_first = first; }
    // The width of the line after each entry; 0 when no lines are drawn.
    int LineWidth() const { return m_lineWidth; }
    void SetLineWidth(int width) { m_lineWidth = width; }

    int DefaultSize() const { return m_defaultSize; }
    // Drops the sizes set for single entries.
    void SetDefaultSize(int size);
    // The table may be shorter than the count (inside an update bracket);
    // entries it does not reach have the default size.
    int Size(int index) const;
    // False when the entry had this size already. The index must lie inside
    // the count (the caller checks it).
    bool SetSize(int index, int size);
    // Brings the size table to the count.
    void AdjustTable();
    // Moves one size entry along with its row or column; the table keeps its length.
    void MoveEntry(int fromIndex, int toIndex);

    // Size plus line, 0 for a hidden entry.
    int Extent(int index) const;
    // Room taken by the fixed entries, lines included.
    int FixedExtent() const;
    // Scrollable entries from First on that fit wholly into a viewport of this extent.
    int VisibleCount(int viewportExtent) const;
    // The first entry of the shortest tail ending at index that fits wholly;
    // index itself when even it does not fit.
    int FirstToShow(int index, int viewportExtent) const;
    // The largest First that still fills the viewport.
    int MaxFirst(int viewportExtent) const { return FirstToShow(m_count - 1, viewportExtent); }
    // First kept between the fixed entries and MaxFirst.
    int ClampedFirst(int first, int viewportExtent) const;
    // An index kept inside the scrollable entries.
    int ClampedToData(int index) const;

    // The entries shown in a viewport of this extent with their positions,
    // fixed ones first; hidden entries are left out.
    QVector<TBand> Bands(int viewportExtent) const;
    // The end of the last entry shown (the room the entries use), at most
    // just past the viewport.
    int UsedExtent(int viewportExtent) const;
    // The entry at a position, -1 beyond the last one.
    int IndexAt(int pos) const;
    // Where an entry starts; -1 when it is hidden, scrolled out or starts
    // beyond the viewport.
    int Position(int index, int viewportExtent) const;

private:
    int m_count = 5;
    int m_fixed = 1;
    int m_first = 1;
    int m_lineWidth = 1;
    int m_defaultSize;
    QVector<int> m_sizes;
};
