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

void TFormMain::CheckRecordedTime(int row, int column, bool acrossRestart)
{
    const QString key = RowKey(row);
    const int ms = ParseRunTime(m_results.Cell(key, column));
    if (ms == InvalidTime)
        return;
    // The class as the places count it: "Jugend" and "jugend " are one.
    const QString runClass = m_results.Cell(key, ColKlasse);
    QList<int> others;
    for (int i = 0; i < m_results.RowCount(); ++i) {
        const QStringList& other = m_results.Row(i);
        if (other.value(ColLoadOrder) == key || !SameClass(other.value(ColKlasse), runClass))
            continue;
        const int time = ParseRunTime(other.value(column));
        if (time != InvalidTime)
            others.append(time / 10);
    }
    const TimeDoubt doubt = CheckRunTime(ms / 10, Settings.Mindestzeit, others);
    if (doubt == TimeDoubt::None && !acrossRestart)
        return;
    if (m_results.MarkUnconfirmed(key, column - ColLauf1 + 1))
        JournalDoubt(key, column, true);
    ScheduleLiveUpdate();
    // Short enough for the status bar of the smallest window.
    const QString why =
        acrossRestart ? QStringLiteral("über den Neustart gemessen")
        : doubt == TimeDoubt::BelowMinimum
            ? QStringLiteral("unter der Mindestzeit %1").arg(FormatRunTime(Settings.Mindestzeit * 10))
            : QStringLiteral("weit weg von Klasse %1 in diesem Lauf").arg(runClass);
    QString message =
        QStringLiteral("Zeit %1 von Nr. %2 %3 – prüfen: Strg+B bestätigt, Strg+R wiederholt den Lauf.")
            .arg(m_results.Cell(key, column), m_results.Cell(key, ColNr), why);
    if (m_results.UnconfirmedRuns().size() > 1)
        message += u' ' + UnconfirmedCountText();
    statusBar()->showMessage(message);
    SortGrid1->InvalidateGrid();
}

bool TFormMain::TimeUnconfirmed(int col, int row) const
{
    return !m_results.UnconfirmedRuns().isEmpty() && m_results.Unconfirmed(RowKey(row), col - ColLauf1 + 1);
}

void TFormMain::UnmarkTime(int col, int row)
{
    if (m_results.ClearUnconfirmed(RowKey(row), col - ColLauf1 + 1)) {
        JournalDoubt(RowKey(row), col, false);
        ScheduleLiveUpdate();
        if (m_results.UnconfirmedRuns().isEmpty())
            statusBar()->clearMessage();
        SortGrid1->InvalidateGrid();
    }
}

void TFormMain::mConfirmTimeClick()
{
    const QList<std::pair<QString, int>>& marks = m_results.UnconfirmedRuns();
    if (marks.isEmpty())
        return;
    // The selected row's doubtful time if it has one, otherwise the one waiting longest:
    // one time at a time, each named before it counts.
    const QString selected = RowKey(SortGrid1->Row());
    auto mark = std::find_if(marks.cbegin(), marks.cend(),
                             [&selected](const std::pair<QString, int>& m) { return m.first == selected; });
    if (mark == marks.cend())
        mark = marks.cbegin();
    const auto [identity, run] = *mark;
    const int index = m_results.IndexOf(identity);
    if (index < 0)
        return; // a mark goes with its row: not expected
    const QStringList& row = m_results.Row(index);
    const QString starter = QStringList{row.value(ColName), row.value(ColVorname)}.join(u' ').trimmed();
    if (!Dialogs().AskYesNo(this, QStringLiteral("Zeit %1 von Nr. %2 – %3 (Lauf %4) bestätigen?")
                                      .arg(row.value(ColLauf1 + run - 1), row.value(ColNr), starter)
                                      .arg(run)))
        return;
    m_results.ClearUnconfirmed(identity, run);
    JournalDoubt(identity, ColLauf1 + run - 1, false);
    ScheduleLiveUpdate();
    RankProtocol();
    const bool none = m_results.UnconfirmedRuns().isEmpty();
    statusBar()->showMessage(none ? QStringLiteral("Zeit bestätigt.")
                                  : QStringLiteral("Zeit bestätigt. %1").arg(UnconfirmedCountText()),
                             none ? 5000 : 0);
    SortGrid1->InvalidateGrid();
}

QString TFormMain::UnconfirmedCountText() const
{
    const qsizetype waiting = m_results.UnconfirmedRuns().size();
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
    if (m_lastRunCells.isEmpty()) {
        statusBar()->showMessage(QStringLiteral("Kein Lauf, der wiederholt werden könnte."), 8000);
        return;
    }
    // Named with the pair and its times, so the operator sees which run goes.
    QStringList pair;
    int run = 0;
    for (const auto& [identity, column] : std::as_const(m_lastRunCells)) {
        const int index = m_results.IndexOf(identity);
        if (index < 0)
            continue;
        const QStringList& row = m_results.Row(index);
        pair.append(QStringLiteral("%1 (%2)").arg(row.value(ColName).trimmed(), row.value(column)));
        run = column - ColLauf1 + 1;
    }
    const QString question =
        pair.isEmpty() ? QStringLiteral("Lauf wiederholen? Die Zeiten dieses Laufs werden entfernt.")
                       : QStringLiteral("Lauf %1 von %2 wiederholen? Die Zeiten werden entfernt.")
                             .arg(run)
                             .arg(pair.join(QStringLiteral(" und ")));
    if (!Dialogs().AskYesNo(this, question))
        return;
    if (m_run.CanReset())
        mResetClick();
    // The whole protocol, so that Ctrl+Z brings the pair's times back.
    KeepForUndo(true, QStringLiteral("Lauf wiederholen"));
    for (const auto& [identity, column] : std::as_const(m_lastRunCells)) {
        for (int row = 1; row < SortGrid1->RowCount(); ++row) {
            if (RowKey(row) != identity)
                continue;
            SetProtocolCell(column, row, QString());
            JournalCellEdited(column, row);
            if (m_results.ClearUnconfirmed(identity, column - ColLauf1 + 1))
                JournalDoubt(identity, column, false);
            break;
        }
    }
    m_lastRunCells.clear();
    ScheduleLiveUpdate();
    SortGrid1->SetModified(true);
    RankProtocol();
    cbBuhn1->setCurrentIndex(m_lastRunPositions[0]);
    if (m_run.LaneCount() > 1)
        cbBuhn2->setCurrentIndex(m_lastRunPositions[1]);
    cbBuhnChange();
    statusBar()->showMessage(
        QStringLiteral("Lauf wird wiederholt: die Zeiten sind entfernt, das Paar ist wieder gewählt."), 8000);
}
