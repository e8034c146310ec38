#pragma once

#include "ProtocolText.h"

#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>

// The results of the race as others watch them: one row per starter (starter
// data, the six runs, total and place, in the protocol's columns), known by its
// load-order number, which stays with the starter through every sort. Each
// update is compared with what was there and reported per row and per run, so
// a scoreboard or a live page hears of a time the moment it lands, and of
// nothing when only the view's order changed.
class TResultsModel : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    int RowCount() const { return int(m_rows.size()); }
    // Rows in the order of the last update (the protocol's current order).
    const QStringList& Row(int index) const { return m_rows.at(index); }
    // The index of a starter's row, or -1.
    int IndexOf(const QString& key) const { return m_index.value(key, -1); }
    // A cell of a starter's row; empty for an unknown starter or column.
    QString Cell(const QString& key, int col) const;

    // Replaces all rows (data rows only, cells by protocol column) and reports
    // what changed. Rows without a load-order number (the empty row of an
    // empty protocol) are not results and are left out.
    void Update(const ProtocolTable& rows);
    // The same for one row whose starter is already known (an edit in place);
    // false for a row of an unknown starter, which then needs Update.
    bool UpdateRow(const QStringList& cells);

signals:
    void RowAdded(const QString& key);
    void RowRemoved(const QString& key);
    // Any cell of the row changed (starter data, runs, total, place).
    void RowChanged(const QString& key);
    // Run 1 to 6 of the row changed: a time landed, was eliminated or edited.
    void RunChanged(const QString& key, int run);

private:
    // Emits the changes between the old and the new cells of one starter.
    void Compare(const QString& key, const QStringList& before, const QStringList& after);

    QList<QStringList> m_rows;
    QHash<QString, int> m_index;
};
