// The row filter of the sortable grid. Rows filtered out are kept in the cell
// storage right below RowCount, in their order, and come back when the filter
// is switched off.
#include "GridUpdateScope.h"
#include "TSortGrid.h"

bool TSortGrid::RowIsEmpty(int row) const
{
    for (int col = 0; col < ColCount(); ++col) {
        if (!Cells(col, row).isEmpty())
            return false;
    }
    return true;
}

void TSortGrid::SetFiltered(bool filtered)
{
    m_filtered = filtered;
    if (filtered && (RowCount() < 2 || RowIsEmpty(1)))
        return;
    if (!filtered && m_filteredCount <= 0)
        return;
    const bool modified = m_modified;
    {
        TUpdateScope update(*this);
        RunFilter(filtered);
    }
    SetModified(modified);
}

void TSortGrid::RunFilter(bool on)
{
    if (!on) {
        SetRowCount(RowCount() + m_filteredCount);
        if (RowIsEmpty(1))
            DeleteRow(1);
        if (m_filteredCount != 0)
            SortByColumn(SortOptions.SortCol);
        m_filteredCount = 0;
        return;
    }

    // Only the rows in view are filtered; rows an earlier pass hid stay below
    // them, and the rows hidden now go in front of those.
    const int visible = RowCount();
    std::vector<int> order;
    std::vector<int> rejected;
    order.reserve(size_t(visible));
    for (int row = 1; row < visible; ++row) {
        bool accept = false;
        if (OnSetFilter)
            OnSetFilter(Rows(row).ToStringList(), accept);
        (accept ? order : rejected).push_back(row - 1);
    }
    const int acceptedCount = int(order.size());
    order.insert(order.end(), rejected.begin(), rejected.end());
    PermuteRows(1, order);
    m_filteredCount += int(rejected.size());

    if (acceptedCount == 0) {
        // One empty row shows: an empty row is put in just below the rows in
        // view and exchanged with row 1, so no kept row is overwritten.
        MoveRow(StoredRowCount(), visible);
        ExchangeRows(1, visible);
        SetRowCount(2);
    } else {
        SetRowCount(visible - int(rejected.size()));
        SortByColumn(SortOptions.SortCol);
    }
    GotoCell(0, 1, true);
}
