#include "TMyStringGrid.h"

#include <QPainter>
#include <algorithm>

namespace {

void RequireIndex(int index)
{
    if (index < 0)
        throw EGridError("Grid index out of range");
}

// Moves element from to position to, shifting those in between by one.
template <typename T> void MoveElement(std::vector<T>& items, int from, int to)
{
    const auto first = items.begin();
    if (from < to)
        std::rotate(first + from, first + from + 1, first + to + 1);
    else
        std::rotate(first + to, first + from, first + from + 1);
}

} // namespace

// ---------------------------------------------------------------------------
// TMyStringGridStrings

int TMyStringGridStrings::Count() const
{
    return m_kind == RowView ? m_grid->ColCount() : m_grid->RowCount();
}

QString TMyStringGridStrings::Strings(int i) const
{
    return m_kind == RowView ? m_grid->Cells(i, m_index) : m_grid->Cells(m_index, i);
}

void TMyStringGridStrings::SetStrings(int i, const QString& text)
{
    if (m_kind == RowView)
        m_grid->SetCells(i, m_index, text);
    else
        m_grid->SetCells(m_index, i, text);
}

QVariant TMyStringGridStrings::Objects(int i) const
{
    return m_kind == RowView ? m_grid->Objects(i, m_index) : m_grid->Objects(m_index, i);
}

void TMyStringGridStrings::SetObjects(int i, const QVariant& object)
{
    if (m_kind == RowView)
        m_grid->SetObjects(i, m_index, object);
    else
        m_grid->SetObjects(m_index, i, object);
}

int TMyStringGridStrings::IndexOf(const QString& text) const
{
    const QString wanted = text.toLower();
    const int count = Count();
    for (int i = 0; i < count; ++i) {
        const QString entry = Strings(i);
        if (entry.size() == wanted.size() && entry.compare(wanted, Qt::CaseInsensitive) == 0)
            return i;
        if (QString::localeAwareCompare(entry.toLower(), wanted) == 0)
            return i;
    }
    return -1;
}

void TMyStringGridStrings::Assign(const TMyStringGridStrings& source)
{
    const int count = std::min(Count(), source.Count());
    // Read first: source and target may share cells.
    std::vector<TStrItem> items(std::size_t(std::max(count, 0)));
    for (int i = 0; i < count; ++i)
        items[std::size_t(i)] = {source.Strings(i), source.Objects(i)};
    for (int i = 0; i < count; ++i) {
        TStrItem& item =
            m_kind == RowView ? m_grid->ItemForWrite(i, m_index) : m_grid->ItemForWrite(m_index, i);
        item = std::move(items[std::size_t(i)]);
    }
    if (m_kind == RowView)
        m_grid->InvalidateRow(m_index);
    else
        m_grid->InvalidateCol(m_index);
}

void TMyStringGridStrings::Assign(const QStringList& texts)
{
    const int count = std::min(Count(), int(texts.size()));
    for (int i = 0; i < count; ++i) {
        TStrItem& item =
            m_kind == RowView ? m_grid->ItemForWrite(i, m_index) : m_grid->ItemForWrite(m_index, i);
        item.Text = texts[i];
        item.Object = QVariant();
    }
    if (m_kind == RowView)
        m_grid->InvalidateRow(m_index);
    else
        m_grid->InvalidateCol(m_index);
}

void TMyStringGridStrings::Clear()
{
    auto& rows = m_grid->m_rows;
    if (m_kind == RowView) {
        if (m_index >= 0 && std::size_t(m_index) < rows.size())
            rows[std::size_t(m_index)].reset();
        m_grid->InvalidateRow(m_index);
    } else {
        for (std::size_t r = 0; r < rows.size(); ++r)
            m_grid->ClearItem(m_index, int(r));
        m_grid->InvalidateCol(m_index);
    }
}

int TMyStringGridStrings::Add(const QString& text)
{
    const int count = Count();
    for (int i = 0; i < count; ++i) {
        if (Strings(i).isEmpty()) {
            SetStrings(i, text.isEmpty() ? QStringLiteral(" ") : text);
            return i;
        }
    }
    return -1;
}

QStringList TMyStringGridStrings::ToStringList() const
{
    QStringList result;
    const int count = Count();
    result.reserve(count);
    for (int i = 0; i < count; ++i)
        result.append(Strings(i));
    return result;
}

// ---------------------------------------------------------------------------
// TMyStringGrid

TMyStringGrid::TMyStringGrid(QWidget* parent) : TMyCustomGrid(parent) {}

TMyStringGrid::~TMyStringGrid() = default;

const TStrItem* TMyStringGrid::Item(int col, int row) const
{
    if (col < 0 || row < 0 || std::size_t(row) >= m_rows.size())
        return nullptr;
    const auto& items = m_rows[std::size_t(row)];
    if (!items || std::size_t(col) >= items->size())
        return nullptr;
    return &(*items)[std::size_t(col)];
}

TStrItem& TMyStringGrid::ItemForWrite(int col, int row)
{
    RequireIndex(col);
    RequireIndex(row);
    if (std::size_t(row) >= m_rows.size())
        m_rows.resize(std::size_t(row) + 1);
    auto& items = m_rows[std::size_t(row)];
    if (!items)
        items = std::make_unique<std::vector<TStrItem>>();
    if (std::size_t(col) >= items->size())
        items->resize(std::size_t(col) + 1);
    return (*items)[std::size_t(col)];
}

void TMyStringGrid::ClearItem(int col, int row)
{
    if (Item(col, row) == nullptr)
        return;
    TStrItem& item = (*m_rows[std::size_t(row)])[std::size_t(col)];
    item.Text.clear();
    item.Object = QVariant();
}

QString TMyStringGrid::Cells(int col, int row) const
{
    if (FromRowSource(col, row)) {
        const TStrItem* key = Item(m_keyCol, row);
        return key && !key->Text.isEmpty() ? m_rowSource(key->Text, col) : QString();
    }
    const TStrItem* item = Item(col, row);
    return item ? item->Text : QString();
}

void TMyStringGrid::SetCells(int col, int row, const QString& text)
{
    if (!FromRowSource(col, row))
        ItemForWrite(col, row).Text = text;
    InvalidateCell(col, row);
}

void TMyStringGrid::SetRowSource(int keyCol, TRowCellSource source)
{
    m_keyCol = keyCol;
    m_rowSource = std::move(source);
    InvalidateGrid();
}

bool TMyStringGrid::FromRowSource(int col, int row) const
{
    return m_rowSource && row >= FixedRows() && col != m_keyCol && col >= 0;
}

QVariant TMyStringGrid::Objects(int col, int row) const
{
    const TStrItem* item = Item(col, row);
    return item ? item->Object : QVariant();
}

void TMyStringGrid::SetObjects(int col, int row, const QVariant& object)
{
    ItemForWrite(col, row).Object = object;
}

std::vector<TStrItem> TMyStringGrid::RowItems(int row) const
{
    if (row < 0 || std::size_t(row) >= m_rows.size() || !m_rows[std::size_t(row)])
        return {};
    return *m_rows[std::size_t(row)];
}

void TMyStringGrid::SetRowItems(int row, std::vector<TStrItem> items)
{
    RequireIndex(row);
    if (std::size_t(row) >= m_rows.size())
        m_rows.resize(std::size_t(row) + 1);
    if (items.empty())
        m_rows[std::size_t(row)].reset();
    else
        m_rows[std::size_t(row)] = std::make_unique<std::vector<TStrItem>>(std::move(items));
}

void TMyStringGrid::PermuteRows(int first, const std::vector<int>& order)
{
    RequireIndex(first);
    const std::size_t count = order.size();
    std::vector<char> taken(count, 0);
    for (int from : order) {
        if (from < 0 || std::size_t(from) >= count || taken[std::size_t(from)])
            throw EGridError("Grid index out of range");
        taken[std::size_t(from)] = 1;
    }
    const std::size_t start = std::size_t(first);
    if (m_rows.size() < start + count)
        m_rows.resize(start + count);
    std::vector<std::unique_ptr<std::vector<TStrItem>>> moved(count);
    for (std::size_t p = 0; p < count; ++p)
        moved[p] = std::move(m_rows[start + std::size_t(order[p])]);
    std::move(moved.begin(), moved.end(), m_rows.begin() + std::ptrdiff_t(start));
}

QRect TMyStringGrid::TextRect(const QRect& cellRect)
{
    return cellRect.adjusted(2, 0, 0, 0);
}

void TMyStringGrid::DrawCell(TCellCanvas& canvas, int col, int row, const QRect& rect, TGridDrawState state)
{
    QPainter& painter = canvas.Painter;
    painter.fillRect(rect, ToQColor(canvas.BrushColor, palette()));
    const QString text = Cells(col, row);
    if (!text.isEmpty()) {
        painter.setFont(canvas.Font);
        painter.setPen(ToQColor(canvas.FontColor, palette()));
        painter.drawText(TextRect(rect), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text);
    }
    TMyCustomGrid::DrawCell(canvas, col, row, rect, state);
}

QString TMyStringGrid::GetEditText(int col, int row)
{
    QString text = Cells(col, row);
    if (OnGetEditText)
        OnGetEditText(col, row, text);
    return text;
}

void TMyStringGrid::SetEditText(int col, int row, const QString& value)
{
    if (Cells(col, row) != value)
        SetCells(col, row, value);
    TMyCustomGrid::SetEditText(col, row, value);
}

void TMyStringGrid::MoveRowData(int fromIndex, int toIndex)
{
    const std::size_t needed = std::size_t(std::max(fromIndex, toIndex)) + 1;
    if (m_rows.size() <= std::size_t(std::min(fromIndex, toIndex)))
        return; // every row involved is empty
    if (m_rows.size() < needed)
        m_rows.resize(needed);
    MoveElement(m_rows, fromIndex, toIndex);
}

void TMyStringGrid::MoveColumnData(int fromIndex, int toIndex)
{
    const std::size_t needed = std::size_t(std::max(fromIndex, toIndex)) + 1;
    for (auto& items : m_rows) {
        if (!items || items->size() <= std::size_t(std::min(fromIndex, toIndex)))
            continue;
        if (items->size() < needed)
            items->resize(needed);
        MoveElement(*items, fromIndex, toIndex);
    }
}

void TMyStringGrid::RemoveRowData(int index)
{
    if (index >= 0 && std::size_t(index) < m_rows.size())
        m_rows.erase(m_rows.begin() + index);
}

void TMyStringGrid::RemoveColumnData(int index)
{
    for (auto& items : m_rows) {
        if (items && index >= 0 && std::size_t(index) < items->size())
            items->erase(items->begin() + index);
    }
}

int TMyStringGrid::StoredRowCount() const
{
    return std::max(RowCount(), int(m_rows.size()));
}

int TMyStringGrid::StoredColCount() const
{
    std::size_t widest = 0;
    for (const auto& items : m_rows) {
        if (items)
            widest = std::max(widest, items->size());
    }
    return std::max(ColCount(), int(widest));
}
