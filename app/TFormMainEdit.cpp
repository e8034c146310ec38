#include "TFormMain.h"

#include "ProtocolLogic.h"
#include "RunTime.h"
#include "RunTimeEntry.h"
#include "TSortGrid.h"

#include <QComboBox>
#include <QHash>
#include <QStatusBar>
#include <QTimer>

// Corrections in the protocol ("Änderungen vornehmen"): run times are checked
// before they are taken, and a change that moves places ranks at once.

namespace {

constexpr int kNoteMs = 10000;

bool IsRunColumn(int col)
{
    return col >= ColLauf1 && col <= ColLauf6;
}

} // namespace

void TFormMain::SortGrid1CellValidate(int col, QString& newValue, bool& valid)
{
    if (IsRunColumn(col)) {
        const std::optional<QString> entry = RunTimeEntry(newValue);
        if (!entry) {
            // The grid writes the old text back.
            valid = false;
            statusBar()->showMessage(QStringLiteral("„%1“ ist keine Zeit (erlaubt: z. B. %2, EL oder leer); "
                                                    "die alte Angabe bleibt.")
                                         .arg(newValue, FormatRunTime(31250)),
                                     kNoteMs);
            return;
        }
        newValue = *entry;
        statusBar()->clearMessage();
    }
    if (col == ColNr || col == ColName || col == ColVorname || col == ColVerein) {
        // Only the edited starter's entries change.
        const QString identity = RowKey(SortGrid1->Row());
        QTimer::singleShot(0, this, [this, identity] { RefreshLaneEntry(identity); });
    }
    // Ranked once the grid has taken the text.
    if (col == ColNr || col == ColKlasse || IsRunColumn(col))
        QTimer::singleShot(0, this, &TFormMain::RankProtocol);
}

void TFormMain::RefreshLaneEntries()
{
    QHash<QString, int> rowOf;
    rowOf.reserve(SortGrid1->RowCount());
    for (int row = 1; row < SortGrid1->RowCount(); ++row)
        rowOf.insert(RowKey(row), row);
    for (QComboBox* list : {cbBuhn1, cbBuhn2}) {
        for (int position = 0; position < list->count(); ++position) {
            const QString identity = list->itemData(position).toString();
            const int row = identity.isEmpty() ? position + 1 : rowOf.value(identity, -1);
            if (row < 1 || row >= SortGrid1->RowCount())
                continue;
            const QString text = LaneEntryText(row);
            if (list->itemText(position) != text)
                list->setItemText(position, text);
        }
    }
}

int TFormMain::LanePosition(const QComboBox* list, const QString& identity) const
{
    // Entries keep their order: the position found last time is checked first.
    const int hint = m_entryPositionHint.value(identity, -1);
    if (hint >= 0 && hint < list->count() && list->itemData(hint).toString() == identity)
        return hint;
    const int position = list->findData(identity);
    if (position >= 0)
        m_entryPositionHint.insert(identity, position);
    return position;
}

void TFormMain::RefreshLaneEntry(const QString& identity)
{
    if (identity.isEmpty()) {
        RefreshLaneEntries();
        return;
    }
    int row = -1;
    for (int r = 1; row < 0 && r < SortGrid1->RowCount(); ++r) {
        if (RowKey(r) == identity)
            row = r;
    }
    if (row < 0)
        return;
    const QString text = LaneEntryText(row);
    for (QComboBox* list : {cbBuhn1, cbBuhn2}) {
        const int position = LanePosition(list, identity);
        if (position >= 0 && list->itemText(position) != text)
            list->setItemText(position, text);
    }
}
