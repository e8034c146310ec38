#include "TFormMain.h"

#include "ProtocolLogic.h"
#include "TSortGrid.h"

#include <QAction>
#include <QComboBox>
#include <QIcon>
#include <QStatusBar>
#include <QToolButton>
#include <algorithm>

// "Rückgängig" (Ctrl+Z): takes back the last clearing of the protocol or row
// deletion. Both ask first, but a click meant for "Nein" can land on "Ja".

namespace {

constexpr std::size_t kUndoLevels = 10;
constexpr int kUndoNoteMs = 10000;

} // namespace

void TFormMain::CreateUndo()
{
    // "Protokoll löschen" gets a picture of its own, in colour: the style's
    // discard icon looked disabled and too much like "Zeile entfernen" beside it.
    sbCLSall->setIcon(QIcon(QStringLiteral(":/images/CLEARALL.svg")));
    mUndo = new QAction(QStringLiteral("Rückgängig"), this);
    mUndo->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Z));
    mUndo->setShortcutContext(Qt::WindowShortcut);
    addAction(mUndo);
    connect(mUndo, &QAction::triggered, this, &TFormMain::UndoLast);
}

void TFormMain::KeepForUndo(bool clear, const QString& command)
{
    TUndoStep step;
    step.clear = clear;
    step.command = !command.isEmpty() ? command
                   : clear            ? QStringLiteral("Protokoll löschen")
                                      : QStringLiteral("Zeile entfernen");
    step.current = {cbBuhn1->currentIndex(), cbBuhn2->currentIndex()};
    step.row = SortGrid1->Row();
    step.lastRunCells = m_lastRunCells;
    for (const auto& mark : m_results.UnconfirmedRuns()) {
        if (clear || mark.first == RowKey(step.row))
            step.unconfirmed.append(mark);
    }
    if (clear) {
        step.rows = ProtocolRows();
        for (int i = 0; i < cbBuhn1->count(); ++i) {
            step.entryTexts.append(cbBuhn1->itemText(i));
            step.entryIds.append(cbBuhn1->itemData(i).toString());
        }
    } else {
        const QStringList cells = ProtocolRowCells(step.row);
        step.rows = {cells};
        const QString identity = cells.value(ColLoadOrder);
        for (int lane = 0; lane < 2; ++lane) {
            QComboBox* list = lane == 0 ? cbBuhn1 : cbBuhn2;
            const int position = identity.isEmpty() ? -1 : LanePosition(list, identity);
            step.entryPositions.at(lane) = position;
            if (position >= 0 && step.entryTexts.isEmpty()) {
                step.entryTexts.append(list->itemText(position));
                step.entryIds.append(identity);
            }
        }
    }
    m_undo.push_back(std::move(step));
    if (m_undo.size() > kUndoLevels)
        m_undo.erase(m_undo.begin());
}

void TFormMain::UndoLast()
{
    if (m_undo.empty()) {
        statusBar()->showMessage(QStringLiteral("Nichts zum Rückgängigmachen."), kUndoNoteMs);
        return;
    }
    // As a load: not from START until "0,00".
    if (!RunIdle()) {
        statusBar()->showMessage(QStringLiteral("Rückgängig geht erst nach „0,00“."), kUndoNoteMs);
        return;
    }
    TUndoStep step = std::move(m_undo.back());
    m_undo.pop_back();
    m_lastRunCells = step.lastRunCells;

    ProtocolTable rows;
    QStringList header;
    if (step.clear) {
        rows = step.rows;
        header = rows.isEmpty() ? QStringList() : rows.takeFirst();
    } else {
        rows = ProtocolRows();
        header = rows.isEmpty() ? QStringList() : rows.takeFirst();
        // The empty row of a protocol whose last starter was deleted is no
        // starter: the deleted one comes back in its place, alone.
        rows.removeIf([](const QStringList& row) { return row.value(ColLoadOrder).isEmpty(); });
        rows.insert(std::clamp(qsizetype(step.row - 1), qsizetype(0), rows.size()), step.rows.value(0));
    }
    // Marks confirmed since stay confirmed; those that went with the rows come back.
    QList<std::pair<QString, int>> marks =
        step.clear ? QList<std::pair<QString, int>>() : m_results.UnconfirmedRuns();
    marks.append(step.unconfirmed);
    // The load order numbers are the starters' identities: kept, not counted anew.
    FillProtocol(rows, &header, true);
    m_results.SetUnconfirmed(marks);
    RankProtocol();

    {
        const QSignalBlocker block1(cbBuhn1);
        const QSignalBlocker block2(cbBuhn2);
        if (step.clear) {
            cbBuhn1->clear();
            cbBuhn2->clear();
            for (qsizetype i = 0; i < step.entryTexts.size(); ++i) {
                cbBuhn1->addItem(step.entryTexts.at(i), step.entryIds.at(i));
                cbBuhn2->addItem(step.entryTexts.at(i), step.entryIds.at(i));
            }
        } else if (!step.entryTexts.isEmpty()) {
            for (int lane = 0; lane < 2; ++lane) {
                QComboBox* list = lane == 0 ? cbBuhn1 : cbBuhn2;
                const int position = step.entryPositions.at(lane);
                if (position >= 0)
                    list->insertItem(std::min(position, list->count()), step.entryTexts.at(0),
                                     step.entryIds.at(0));
            }
        }
        cbBuhn1->setCurrentIndex(step.current[0] < cbBuhn1->count() ? step.current[0] : -1);
        cbBuhn2->setCurrentIndex(step.current[1] < cbBuhn2->count() ? step.current[1] : -1);
    }
    m_entryPositionHint.clear();
    m_laneRowHint = {-1, -1};
    SortGrid1->SetModified(true);
    FormResize();
    UpdateCommandStates();
    SortGrid1RowSelected();
    SortGrid1->InvalidateGrid();
    JournalUndone();
    statusBar()->showMessage(QStringLiteral("„%1“ ist rückgängig gemacht.").arg(step.command), kUndoNoteMs);
}
