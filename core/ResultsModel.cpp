#include "ResultsModel.h"

#include "ProtocolLogic.h"

namespace {

QStringList Normalized(const QStringList& cells)
{
    QStringList row = cells.mid(0, ProtocolColumnCount);
    while (row.size() < ProtocolColumnCount)
        row.append(QString());
    return row;
}

} // namespace

QString TResultsModel::Cell(const QString& key, int col) const
{
    const int index = IndexOf(key);
    return index < 0 ? QString() : m_rows.at(index).value(col);
}

void TResultsModel::Update(const ProtocolTable& rows)
{
    QList<QStringList> newRows;
    QHash<QString, int> newIndex;
    newRows.reserve(rows.size());
    newIndex.reserve(rows.size());
    for (const QStringList& cells : rows) {
        QStringList row = Normalized(cells);
        const QString key = row.at(ColLoadOrder);
        if (key.isEmpty() || newIndex.contains(key))
            continue;
        newIndex.insert(key, int(newRows.size()));
        newRows.append(std::move(row));
    }
    std::swap(m_rows, newRows);
    std::swap(m_index, newIndex);

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

bool TResultsModel::UpdateRow(const QStringList& cells)
{
    QStringList row = Normalized(cells);
    const QString key = row.at(ColLoadOrder);
    const int index = IndexOf(key);
    if (index < 0)
        return false;
    const QStringList before = std::exchange(m_rows[index], std::move(row));
    Compare(key, before, m_rows.at(index));
    return true;
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
