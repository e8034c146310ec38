#pragma once

#include "ProtocolText.h"

#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>
#include <utility>

// The results of the race: one row per starter (starter data, the six runs,
// total and place, in the protocol's columns), known by its load-order number,
// which stays with the starter through every sort. The model holds the
// protocol's values: the program's writes (a time, an elimination, an edit, the
// totals and places of a ranking) go here first and the grid shows what the
// model holds; the files, the journal, the scoreboard and the live page read
// it. Each change is compared with what was there and reported per row and per
// run, so a scoreboard hears of a time the moment it lands, and of nothing
// when only the view's order changed.
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

    // The protocol's column titles, as the files write them.
    const QStringList& Header() const { return m_header; }
    void SetHeader(const QStringList& header);
    // The header, then every row in the current order (one empty row when there
    // is none): what the files write.
    ProtocolTable Table() const;
    // The same rows in the order they were loaded (the start order), whatever
    // order a sort gave them: what a protocol file keeps, so that the file
    // opened again goes on with the right pairs.
    ProtocolTable TableInStartOrder() const;

    // Replaces all rows (data rows only, cells by protocol column) and reports
    // what changed. Rows without a load-order number (the empty row of an
    // empty protocol) are not results and are left out.
    void Update(const ProtocolTable& rows);

    // Sets one cell of a starter's row and reports the change; false for an
    // unknown starter or a column outside the protocol.
    bool SetCell(const QString& key, int col, const QString& text);
    // Takes a starter's row out and reports it; false for an unknown starter.
    bool RemoveRow(const QString& key);
    // Adds a starter's row (cells by protocol column, its load-order number
    // set) at the end and reports it; false when that number is taken or empty.
    bool AppendRow(const QStringList& cells);
    // Puts the rows into the order of keys (the view's order after a sort);
    // unknown keys are skipped and rows not named keep their order at the end.
    // The order is no result: nothing is reported.
    void Reorder(const QStringList& keys);
    // Each row's total from its counted runs (ComputeTotal).
    void ComputeTotals(int probeLaufe, int allLaufe);
    // Each row's place within its class, for rows in class order, then by total
    // (ComputePlaces). A row with an unconfirmed counted run (after the test
    // runs of the last ComputeTotals) takes no place until it is confirmed.
    void ComputePlacesInOrder();

    // Doubtful run times the operator has not confirmed yet, by starter and run
    // (1 to 6): a scoreboard or a live page shows them as unconfirmed. Replaces
    // the whole set and reports each run whose flag changed as RunChanged.
    void SetUnconfirmed(const QList<std::pair<QString, int>>& keyAndRun);
    bool Unconfirmed(const QString& key, int run) const { return m_unconfirmed.contains({key, run}); }
    // In the order they were marked: the one waiting longest first. A mark goes
    // with its starter's row (a deletion, a new protocol without him).
    const QList<std::pair<QString, int>>& UnconfirmedRuns() const { return m_unconfirmed; }
    // Marks one run of a known starter, or takes the mark off; false when nothing changed.
    bool MarkUnconfirmed(const QString& key, int run);
    bool ClearUnconfirmed(const QString& key, int run);

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
    void Reindex();
    // Sets a cell of the row at index and reports the change, if any.
    void SetCellAt(int index, int col, const QString& text);

    QStringList m_header;
    QList<QStringList> m_rows;
    QHash<QString, int> m_index;
    QList<std::pair<QString, int>> m_unconfirmed;
    int m_probeLaufe = 0;
};
