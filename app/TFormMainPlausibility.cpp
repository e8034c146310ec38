#include "TFormMain.h"

#include "Dialogs.h"
#include "Plausibility.h"
#include "ProtocolLogic.h"
#include "RunTime.h"
#include "TSortGrid.h"

#include <QAction>
#include <QComboBox>
#include <QStatusBar>
#include <algorithm>

// Doubtful times: marked until the operator confirms or edits them, and the
// last pair's run taken back to be run again.

void TFormMain::SessionTimeDoubtful(const QString& key, int col, const QString& why)
{
    // Short enough for the status bar of the smallest window.
    QString message =
        QStringLiteral("Zeit %1 von Nr. %2 %3 – prüfen: Strg+B bestätigt, Strg+R wiederholt den Lauf.")
            .arg(m_results.Cell(key, col), m_results.Cell(key, ColNr), why);
    if (m_session.Unconfirmed().size() > 1)
        message += u' ' + UnconfirmedCountText();
    statusBar()->showMessage(message);
    SortGrid1->InvalidateGrid();
}

bool TFormMain::TimeUnconfirmed(int col, int row) const
{
    return !m_session.Unconfirmed().isEmpty() && m_session.TimeUnconfirmed(RowKey(row), col);
}

void TFormMain::mConfirmTimeClick()
{
    // The selected row's doubtful time if it has one, otherwise the one waiting longest:
    // one time at a time, each named before it counts.
    const std::optional<TimeMark> mark = m_session.MarkToConfirm(RowKey(SortGrid1->Row()));
    if (!mark)
        return;
    const auto& [identity, column] = *mark;
    const int index = m_results.IndexOf(identity);
    if (index < 0)
        return; // a mark goes with its row: not expected
    const QStringList& row = m_results.Row(index);
    const QString starter = QStringList{row.value(ColName), row.value(ColVorname)}.join(u' ').trimmed();
    if (!Dialogs().AskYesNo(this, QStringLiteral("Zeit %1 von Nr. %2 – %3 (%4) bestätigen?")
                                      .arg(row.value(column), row.value(ColNr), starter,
                                           RunName(column - ColLauf1, m_session.CurrentRules().probeLaufe))))
        return;
    m_session.Confirm(identity, column);
    RankProtocol();
    const bool none = m_session.Unconfirmed().isEmpty();
    statusBar()->showMessage(none ? QStringLiteral("Zeit bestätigt.")
                                  : QStringLiteral("Zeit bestätigt. %1").arg(UnconfirmedCountText()),
                             none ? 5000 : 0);
    SortGrid1->InvalidateGrid();
}

QString TFormMain::UnconfirmedCountText() const
{
    const qsizetype waiting = m_session.Unconfirmed().size();
    return waiting == 1 ? QStringLiteral("1 Zeit wartet auf Bestätigung (Strg+B).")
                        : QStringLiteral("%1 Zeiten warten auf Bestätigung (Strg+B).").arg(waiting);
}

void TFormMain::mRepeatRunClick()
{
    if (m_run.Timing()) {
        statusBar()->showMessage(QStringLiteral("„Lauf wiederholen“ erst, wenn alle Bahnen gestoppt sind."),
                                 8000);
        return;
    }
    const QList<TimeMark> cells = m_session.LastRunCells();
    if (cells.isEmpty()) {
        statusBar()->showMessage(QStringLiteral("Kein Lauf, der wiederholt werden könnte."), 8000);
        return;
    }
    // Named with the pair and its times, so the operator sees which run goes.
    QStringList pair;
    QString run;
    for (const auto& [identity, column] : cells) {
        const int index = m_results.IndexOf(identity);
        if (index < 0)
            continue;
        const QStringList& row = m_results.Row(index);
        pair.append(QStringLiteral("%1 (%2)").arg(row.value(ColName).trimmed(), row.value(column)));
        run = RunName(column - ColLauf1, m_session.CurrentRules().probeLaufe);
    }
    const QString question =
        pair.isEmpty() ? QStringLiteral("Lauf wiederholen? Die Zeiten dieses Laufs werden entfernt.")
                       : QStringLiteral("%1 von %2 wiederholen? Die Zeiten werden entfernt.")
                             .arg(run)
                             .arg(pair.join(QStringLiteral(" und ")));
    if (!Dialogs().AskYesNo(this, question))
        return;
    if (m_run.CanReset())
        mResetClick();
    // The session takes the times and their marks back, keeps the protocol for
    // Ctrl+Z and puts the pair on the lanes again.
    if (!m_session.RepeatRun())
        return;
    for (const auto& [identity, column] : cells) {
        const int row = RowOf(identity);
        if (row < 1)
            continue;
        SortGrid1->InvalidateCell(column, row);
    }
    RankProtocol();
    // The pair is up again: in view, as after any choice of the lanes.
    ShowLaneRows();
    statusBar()->showMessage(
        QStringLiteral("Lauf wird wiederholt: die Zeiten sind entfernt, das Paar ist wieder gewählt."), 8000);
}
