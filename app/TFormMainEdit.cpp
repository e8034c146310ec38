#include "TFormMain.h"

#include "ProtocolLogic.h"
#include "RunTime.h"
#include "RunTimeEntry.h"
#include "TSortGrid.h"

#include <QComboBox>
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
    // A narrow run column widens with its first time, and narrows without any.
    if (IsRunColumn(col))
        QTimer::singleShot(0, this, &TFormMain::FormResize);
}

void TFormMain::RefreshLaneEntries()
{
    const QStringList& order = m_session.StartOrder();
    for (QComboBox* list : {cbBuhn1, cbBuhn2}) {
        for (int position = 0; position < list->count() && position < order.size(); ++position) {
            const QString text = m_session.EntryText(order.at(position));
            if (list->itemText(position) != text)
                list->setItemText(position, text);
        }
    }
}

void TFormMain::RefreshLaneEntry(const QString& identity)
{
    if (identity.isEmpty()) {
        RefreshLaneEntries();
        return;
    }
    const int position = int(m_session.StartOrder().indexOf(identity));
    if (position < 0)
        return;
    const QString text = m_session.EntryText(identity);
    for (QComboBox* list : {cbBuhn1, cbBuhn2}) {
        if (position < list->count() && list->itemText(position) != text)
            list->setItemText(position, text);
    }
}
