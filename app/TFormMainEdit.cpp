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
    if (col == ColNr || col == ColName || col == ColVorname || col == ColVerein)
        QTimer::singleShot(0, this, &TFormMain::RefreshLaneEntries);
    // Ranked once the grid has taken the text.
    if (col == ColNr || col == ColKlasse || IsRunColumn(col))
        QTimer::singleShot(0, this, &TFormMain::RankProtocol);
}

void TFormMain::RefreshLaneEntries()
{
    for (QComboBox* list : {cbBuhn1, cbBuhn2}) {
        for (int position = 0; position < list->count(); ++position) {
            const QString identity = list->itemData(position).toString();
            int row = identity.isEmpty() ? position + 1 : -1;
            for (int r = 1; row < 0 && r < SortGrid1->RowCount(); ++r) {
                if (SortGrid1->Cells(ColLoadOrder, r) == identity)
                    row = r;
            }
            if (row >= 1 && row < SortGrid1->RowCount())
                list->setItemText(position, LaneEntryText(row));
        }
    }
}
