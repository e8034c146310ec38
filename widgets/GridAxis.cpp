#include "GridAxis.h"

#include <algorithm>

void TGridAxis::SetDefaultSize(int size)
{
    m_defaultSize = size;
    m_sizes.clear();
}

int TGridAxis::Size(int index) const
{
    if (index >= 0 && index < m_sizes.size())
        return m_sizes[index];
    return m_defaultSize;
}

bool TGridAxis::SetSize(int index, int size)
{
    if (size == Size(index))
        return false;
    if (index >= m_sizes.size())
        m_sizes.resize(std::max(m_count, index + 1), m_defaultSize);
    m_sizes[index] = size;
    return true;
}

void TGridAxis::AdjustTable()
{
    m_sizes.resize(m_count, m_defaultSize);
}

void TGridAxis::MoveEntry(int fromIndex, int toIndex)
{
    const qsizetype tableSize = m_sizes.size();
    if (tableSize == 0)
        return;
    if (std::max(fromIndex, toIndex) >= tableSize)
        m_sizes.resize(std::max(fromIndex, toIndex) + 1, m_defaultSize);
    const int size = m_sizes[fromIndex];
    m_sizes.remove(fromIndex);
    m_sizes.insert(toIndex, size);
    m_sizes.resize(tableSize);
}

int TGridAxis::Extent(int index) const
{
    const int size = Size(index);
    return size < 0 ? 0 : size + m_lineWidth;
}

int TGridAxis::FixedExtent() const
{
    int extent = 0;
    for (int i = 0; i < m_fixed && i < m_count; ++i)
        extent += Extent(i);
    return extent;
}

int TGridAxis::VisibleCount(int viewportExtent) const
{
    const int room = viewportExtent - FixedExtent();
    int used = 0;
    int count = 0;
    for (int i = m_first; i < m_count; ++i) {
        const int size = Size(i);
        if (size >= 0) {
            if (used + size > room)
                break;
            used += size + m_lineWidth;
        }
        ++count;
    }
    return count;
}

int TGridAxis::FirstToShow(int index, int viewportExtent) const
{
    const int room = viewportExtent - FixedExtent();
    int used = 0;
    int first = index;
    for (int i = index; i >= m_fixed; --i) {
        const int size = Size(i);
        if (size >= 0) {
            if (used + size > room)
                break;
            used += size + m_lineWidth;
        }
        first = i;
    }
    return std::max(first, m_fixed);
}

int TGridAxis::ClampedFirst(int first, int viewportExtent) const
{
    return std::clamp(first, m_fixed, std::max(m_fixed, MaxFirst(viewportExtent)));
}

int TGridAxis::ClampedToData(int index) const
{
    return std::clamp(index, m_fixed, std::max(m_fixed, m_count - 1));
}

QVector<TGridAxis::TBand> TGridAxis::Bands(int viewportExtent) const
{
    QVector<TBand> bands;
    int pos = 0;
    const auto add = [&](int i) {
        const int size = Size(i);
        if (size >= 0)
            bands.append({i, pos, size});
        pos += Extent(i);
    };
    for (int i = 0; i < m_fixed && i < m_count && pos < viewportExtent; ++i)
        add(i);
    for (int i = m_first; i < m_count && pos < viewportExtent; ++i)
        add(i);
    return bands;
}

int TGridAxis::UsedExtent(int viewportExtent) const
{
    int pos = FixedExtent();
    for (int i = m_first; i < m_count && pos < viewportExtent; ++i)
        pos += Extent(i);
    return pos;
}

int TGridAxis::IndexAt(int pos) const
{
    if (pos < 0)
        return -1;
    int end = 0;
    for (int i = 0; i < m_fixed && i < m_count; ++i) {
        end += Extent(i);
        if (pos < end)
            return i;
    }
    for (int i = m_first; i < m_count; ++i) {
        end += Extent(i);
        if (pos < end)
            return i;
    }
    return -1;
}

int TGridAxis::Position(int index, int viewportExtent) const
{
    if (index < 0 || index >= m_count || (index >= m_fixed && index < m_first) || Size(index) < 0)
        return -1;
    int pos = 0;
    if (index < m_fixed) {
        for (int i = 0; i < index; ++i)
            pos += Extent(i);
    } else {
        pos = FixedExtent();
        for (int i = m_first; i < index && pos < viewportExtent; ++i)
            pos += Extent(i);
    }
    return pos < viewportExtent ? pos : -1;
}
