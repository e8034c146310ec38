#include "ResultsModel.h"

#include "ProtocolLogic.h"

#include <algorithm>

QString TResultsModel::Cell(const QString& key, int col) const
{
    const int index = IndexOf(key);
    return index < 0 ? QString() : m_rows.at(index).value(col);
}

void TResultsModel::SetHeader(const QStringList& header)
{
    m_header = ProtocolRowCells(header);
}

ProtocolTable TResultsModel::Table() const
{
    ProtocolTable table;
    table.reserve(m_rows.size() + 1);
    table.append(m_header.isEmpty() ? ProtocolRowCells(ProtocolHeaders()) : m_header);
    table.append(m_rows);
    // An empty protocol is its header and one empty row, as the grid shows it
    // and as files have always been written.
    if (m_rows.isEmpty())
        table.append(QStringList(ProtocolColumnCount));
    return table;
}

ProtocolTable TResultsModel::TableInStartOrder() const
{
    ProtocolTable table = Table();
    std::stable_sort(table.begin() + 1, table.end(), [](const QStringList& a, const QStringList& b) {
        return a.at(ColLoadOrder).toLongLong() < b.at(ColLoadOrder).toLongLong();
    });
    return table;
}

bool TResultsModel::SetCell(const QString& key, int col, const QString& text)
{
    const int index = IndexOf(key);
    if (index < 0 || col < 0 || col >= ProtocolColumnCount || col == ColLoadOrder)
        return false;
    SetCellAt(index, col, text);
    return true;
}

void TResultsModel::SetCellAt(int index, int col, const QString& text)
{
    if (m_rows.at(index).at(col) == text)
        return;
    const QStringList before = m_rows.at(index);
    m_rows[index][col] = text;
    Compare(m_rows.at(index).at(ColLoadOrder), before, m_rows.at(index));
}

bool TResultsModel::RemoveRow(const QString& key)
{
    const int index = IndexOf(key);
    if (index < 0)
        return false;
    m_rows.removeAt(index);
    Reindex();
    m_unconfirmed.removeIf([&key](const std::pair<QString, int>& mark) { return mark.first == key; });
    emit RowRemoved(key);
    return true;
}

bool TResultsModel::AppendRow(const QStringList& cells)
{
    const QString key = cells.value(ColLoadOrder);
    if (key.isEmpty() || IndexOf(key) >= 0)
        return false;
    m_index.insert(key, int(m_rows.size()));
    m_rows.append(cells);
    emit RowAdded(key);
    return true;
}

bool TResultsModel::MarkUnconfirmed(const QString& key, int run)
{
    if (IndexOf(key) < 0 || run < 1 || run > 6 || m_unconfirmed.contains({key, run}))
        return false;
    m_unconfirmed.append({key, run});
    emit RunChanged(key, run);
    return true;
}

bool TResultsModel::ClearUnconfirmed(const QString& key, int run)
{
    if (m_unconfirmed.removeAll({key, run}) == 0)
        return false;
    emit RunChanged(key, run);
    return true;
}

void TResultsModel::Reorder(const QStringList& keys)
{
    QList<QStringList> ordered;
    ordered.reserve(m_rows.size());
    QList<bool> taken(m_rows.size(), false);
    for (const QString& key : keys) {
        const int index = IndexOf(key);
        if (index < 0 || taken.at(index))
            continue;
        taken[index] = true;
        ordered.append(m_rows.at(index));
    }
    for (int index = 0; index < m_rows.size(); ++index) {
        if (!taken.at(index))
            ordered.append(m_rows.at(index));
    }
    m_rows = std::move(ordered);
    Reindex();
}

void TResultsModel::ComputeTotals(int probeLaufe, int allLaufe)
{
    m_probeLaufe = probeLaufe;
    for (int index = 0; index < m_rows.size(); ++index)
        SetCellAt(index, ColGesamt, ComputeTotal(m_rows.at(index), probeLaufe, allLaufe));
}

void TResultsModel::ComputePlacesInOrder()
{
    QList<std::pair<QString, QString>> classAndTotal;
    classAndTotal.reserve(m_rows.size());
    for (const QStringList& row : std::as_const(m_rows)) {
        const QString& key = row.at(ColLoadOrder);
        const bool doubtful =
            std::any_of(m_unconfirmed.cbegin(), m_unconfirmed.cend(),
                        [&](const auto& mark) { return mark.first == key && mark.second > m_probeLaufe; });
        // A doubtful time shows, but wins nothing before the operator confirms it.
        classAndTotal.append({row.at(ColKlasse), doubtful ? QString() : row.at(ColGesamt)});
    }
    const QStringList places = ComputePlaces(classAndTotal);
    for (int index = 0; index < m_rows.size(); ++index)
        SetCellAt(index, ColPlatz, places.at(index));
}

void TResultsModel::Update(const ProtocolTable& rows)
{
    QList<QStringList> newRows;
    QHash<QString, int> newIndex;
    newRows.reserve(rows.size());
    newIndex.reserve(rows.size());
    for (const QStringList& cells : rows) {
        QStringList row = ProtocolRowCells(cells);
        const QString key = row.at(ColLoadOrder);
        if (key.isEmpty() || newIndex.contains(key))
            continue;
        newIndex.insert(key, int(newRows.size()));
        newRows.append(std::move(row));
    }
    std::swap(m_rows, newRows);
    std::swap(m_index, newIndex);
    m_unconfirmed.removeIf(
        [this](const std::pair<QString, int>& mark) { return !m_index.contains(mark.first); });

    // newRows and newIndex now hold the previous state; removals are reported in its order.
    for (const QStringList& row : std::as_const(newRows)) {
        if (!m_index.contains(row.at(ColLoadOrder)))
            emit RowRemoved(row.at(ColLoadOrder));
    }
    for (const QStringList& row : std::as_const(m_rows)) {
        const QString& key = row.at(ColLoadOrder);
        const int before = newIndex.value(key, -1);
        if (before < 0)
            emit RowAdded(key);
        else
            Compare(key, newRows.at(before), row);
    }
}

void TResultsModel::Reindex()
{
    m_index.clear();
    m_index.reserve(m_rows.size());
    for (int index = 0; index < m_rows.size(); ++index)
        m_index.insert(m_rows.at(index).at(ColLoadOrder), index);
}

void TResultsModel::Compare(const QString& key, const QStringList& before, const QStringList& after)
{
    if (before == after)
        return;
    for (int col = ColLauf1; col <= ColLauf6; ++col) {
        if (before.at(col) != after.at(col))
            emit RunChanged(key, col - ColLauf1 + 1);
    }
    emit RowChanged(key);
}

void TResultsModel::SetUnconfirmed(const QList<std::pair<QString, int>>& keyAndRun)
{
    const QList<std::pair<QString, int>> before = std::exchange(m_unconfirmed, keyAndRun);
    for (const auto& [key, run] : before) {
        if (!m_unconfirmed.contains({key, run}))
            emit RunChanged(key, run);
    }
    for (const auto& [key, run] : m_unconfirmed) {
        if (!before.contains({key, run}))
            emit RunChanged(key, run);
    }
}
