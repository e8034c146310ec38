#include "TFormMain.h"

#include "ProtocolLogic.h"
#include "TSortGrid.h"

#include <QAction>
#include <QComboBox>
#include <QIcon>
#include <QStatusBar>
#include <QToolButton>
#include <algorithm>

// "Rückgängig" (Ctrl+Z): takes back the last clearing of the protocol, row
// deletion or repeated run, as the session's command. Each asks first, but a
// click meant for "Nein" can land on "Ja".

namespace {

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

void TFormMain::UndoLast()
{
    if (!m_session.CanUndo()) {
        statusBar()->showMessage(QStringLiteral("Nichts zum Rückgängigmachen."), kUndoNoteMs);
        return;
    }
    // As a load: not from START until "0,00".
    if (!RunIdle()) {
        statusBar()->showMessage(QStringLiteral("Rückgängig geht erst nach „0,00“."), kUndoNoteMs);
        return;
    }
    const QString command = m_session.UndoName();
    // The session brings back the rows, their marks and the lanes: ShowProtocol, ShowLanes.
    if (!m_session.Undo())
        return;
    RankProtocol();
    FormResize();
    UpdateCommandStates();
    SortGrid1RowSelected();
    SortGrid1->InvalidateGrid();
    statusBar()->showMessage(QStringLiteral("„%1“ ist rückgängig gemacht.").arg(command), kUndoNoteMs);
}
