#include "TFormMain.h"

#include "Dialogs.h"
#include "ProtocolLogic.h"
#include "RaceJournal.h"
#include "RunTime.h"
#include "SortCompare.h"
#include "TClickLabel.h"
#include "TColor.h"
#include "TSortGrid.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QStatusBar>
#include <QTimer>
#include <QToolButton>
#include <algorithm>
#include <utility>

// The results protocol: recording, ranking, lane rows, and the protocol tools.

int TFormMain::LaneRow(int lane) const
{
    const QComboBox* list = lane == 1 ? cbBuhn1 : cbBuhn2;
    const int position = list->currentIndex();
    if (position < 0)
        return -1;
    const QString identity = list->itemData(position).toString();
    if (identity.isEmpty())
        return position + 1 < SortGrid1->RowCount() ? position + 1 : -1;

    int& hint = m_laneRowHint.at(lane - 1);
    for (int candidate : {hint, position + 1}) {
        if (candidate >= 1 && candidate < SortGrid1->RowCount() && RowKey(candidate) == identity)
            return hint = candidate;
    }
    for (int row = 1; row < SortGrid1->RowCount(); ++row) {
        if (RowKey(row) == identity)
            return hint = row;
    }
    return -1;
}

void TFormMain::FillLaneLists()
{
    const QSignalBlocker block1(cbBuhn1);
    const QSignalBlocker block2(cbBuhn2);
    cbBuhn1->clear();
    cbBuhn2->clear();
    // In start order, whatever order the protocol is shown in.
    const ProtocolTable table = m_results.TableInStartOrder();
    for (qsizetype i = 1; i < table.size(); ++i) {
        const QStringList& cells = table.at(i);
        if (cells.value(ColLoadOrder).isEmpty())
            continue; // the empty row of an empty protocol
        const QString entry = LaneEntryText(cells);
        cbBuhn1->addItem(entry, cells.value(ColLoadOrder));
        cbBuhn2->addItem(entry, cells.value(ColLoadOrder));
    }
    cbBuhn1->setCurrentIndex(cbBuhn1->count() >= 1 ? 0 : -1);
    cbBuhn2->setCurrentIndex(cbBuhn2->count() >= 2 ? 1 : -1);
    m_laneRowHint = {-1, -1};
    UpdateCommandStates();
    // Marks and the last run belong to the list they were taken on.
    m_results.SetUnconfirmed({});
    m_lastRunCells.clear();
    ScheduleLiveUpdate();
    SortGrid1RowSelected();
    SortGrid1->InvalidateGrid();
}

QString TFormMain::LaneEntryText(int row) const
{
    return LaneEntryText(ProtocolRowCells(row));
}

QString TFormMain::LaneEntryText(const QStringList& cells)
{
    return QStringLiteral("%1 %2 %3 %4")
        .arg(cells.value(ColNr), cells.value(ColName), cells.value(ColVorname), cells.value(ColVerein));
}

void TFormMain::RecordLaneTime(int lane, const QString& timeText)
{
    const QComboBox* list = lane == 1 ? cbBuhn1 : cbBuhn2;
    // A lane whose starter was deleted (or that has none) keeps its time apart.
    if (list->currentIndex() < 0) {
        KeepUnplacedTime(lane, QString(), timeText);
        return;
    }
    if (!StartNumberOfEntry(list->currentText()))
        return;
    // The lane entry's own row, as highlighting and elimination use: two rows
    // may carry one start number (one car, two drivers in two classes).
    const int row = LaneRow(lane);
    if (row < 1) {
        KeepUnplacedTime(lane, list->itemData(list->currentIndex()).toString(), timeText);
        return;
    }
    const int column = FirstEmptyRunColumn(ProtocolRowCells(row));
    if (column < 0)
        return;
    SetProtocolCell(column, row, timeText);
    m_laneRunColumn.at(lane - 1) = column;
    m_lastRunCells.append({RowKey(row), column});
    JournalCell(column, row, JournalCellChange::Time, lane);
    CheckRecordedTime(row, column, std::exchange(m_timedAcrossRestart.at(lane - 1), false));
    UpdateCommandStates();
}

void TFormMain::EliminateLaneRun(int lane)
{
    const QComboBox* list = lane == 1 ? cbBuhn1 : cbBuhn2;
    if (!m_run.CanEliminate(lane) || list->currentIndex() < 0 || !StartNumberOfEntry(list->currentText()))
        return;
    const int row = LaneRow(lane);
    if (row < 1)
        return;
    const int column = FirstEmptyRunColumn(ProtocolRowCells(row));
    if (column < 0)
        return;
    SetProtocolCell(column, row, QStringLiteral("EL"));
    m_laneRunColumn.at(lane - 1) = column;
    m_lastRunCells.append({RowKey(row), column});
    // Journalled as the lane's result of this run, so that a restored run knows
    // the lane's column as it does after a time.
    JournalCell(column, row, JournalCellChange::Time, lane);
    UpdateCommandStates();
}

void TFormMain::KeepUnplacedTime(int lane, const QString& identity, const QString& timeText)
{
    JournalUnplacedTime(lane, identity, timeText);
    SortGrid1->SetModified(true);
    statusBar()->showMessage(QStringLiteral("Bahn %1: Zeit %2 ohne Starter (keiner gewählt oder Zeile "
                                            "entfernt) – die Zeit ist im Zeitenprotokoll aufbewahrt; bitte "
                                            "im Änderungsmodus in der richtigen Zeile eintragen.")
                                 .arg(lane)
                                 .arg(timeText));
}

void TFormMain::RemoveLaneEntries(const QString& identity)
{
    if (identity.isEmpty())
        return;
    for (QComboBox* list : {cbBuhn1, cbBuhn2}) {
        const int position = LanePosition(list, identity);
        if (position < 0)
            continue;
        const QSignalBlocker block(list);
        const int current = list->currentIndex();
        list->removeItem(position);
        // The lane that showed this starter shows none, never the next one by chance.
        if (current == position)
            list->setCurrentIndex(-1);
        else if (current > position)
            list->setCurrentIndex(current - 1);
    }
    m_entryPositionHint.clear();
    m_laneRowHint = {-1, -1};
    UpdateCommandStates();
    JournalLanes();
}

void TFormMain::RankProtocol()
{
    // The model decides totals and places; the grid shows them and gives the
    // order (by class, then total) in which places are counted.
    m_results.ComputeTotals(Settings.ProbeLaufe, Settings.AllLaufe);
    ShowResultsColumn(ColGesamt);

    TSortOptions& options = SortGrid1->SortOptions;
    options.CanSort = false;
    options.SecondaryIndex = QStringLiteral("11");
    options.SortCol = ColKlasse;
    // A header click may have left the direction descending; places and the
    // load order are always counted from the top.
    options.SortDirection = sdAscending;
    options.CanSort = true;
    SortGrid1->SortByColumn(ColKlasse);
    m_results.Reorder(GridKeys());
    m_results.ComputePlacesInOrder();
    ShowResultsColumn(ColPlatz);

    if (!cbSort->isChecked()) {
        SortGrid1->SortByColumn(ColLoadOrder);
        m_results.Reorder(GridKeys());
    }
    // Typed letters search the class column, in either view.
    options.SortCol = ColKlasse;
    options.CanSort = false;
    // The sort scrolls to the selected row; until "0,00" the operator watches the
    // pair on the lanes, whose times just landed.
    if (m_run.State() != RunState::Ready)
        ShowLaneRows();
    SortGrid1->InvalidateGrid();
    NoteClassSpellings();
    JournalRank();
}

TCustomCompare TFormMain::ClassCompare() const
{
    // Classes sort by the key their places are counted by, so that one class
    // written two ways stays one block; the column's kind (numbers, times or
    // text) is found from those keys as for any other column.
    QStringList keys;
    keys.reserve(m_results.RowCount());
    for (int i = 0; i < m_results.RowCount(); ++i)
        keys.append(ClassKey(m_results.Row(i).value(ColKlasse)));
    TCustomCompare byStyle = ComparePlainText;
    switch (DetectSortStyleOf(keys)) {
    case ssNumeric:
        byStyle = CompareNumeric;
        break;
    case ssDateTime:
        byStyle = CompareDateTime;
        break;
    case ssTime:
        byStyle = CompareTime;
        break;
    default:
        break;
    }
    return [byStyle](const QString& a, const QString& b) { return byStyle(ClassKey(a), ClassKey(b)); };
}

void TFormMain::NoteClassSpellings()
{
    QStringList classes;
    classes.reserve(m_results.RowCount());
    for (int i = 0; i < m_results.RowCount(); ++i)
        classes.append(m_results.Row(i).value(ColKlasse));
    for (const QStringList& spellings : ClassSpellingVariants(classes)) {
        const QString joined = spellings.join(QStringLiteral("“, „"));
        if (m_notedClassSpellings.contains(joined))
            continue;
        m_notedClassSpellings.insert(joined);
        statusBar()->showMessage(
            QStringLiteral("Klasse verschieden geschrieben: „%1“ – gewertet als eine Klasse.").arg(joined));
    }
}

QString TFormMain::RowKey(int row) const
{
    return row >= 1 && row < SortGrid1->RowCount() ? SortGrid1->Cells(ColLoadOrder, row) : QString();
}

QString TFormMain::ProtocolCell(int col, int row) const
{
    return m_results.Cell(RowKey(row), col);
}

QStringList TFormMain::ProtocolRowCells(int row) const
{
    const int index = m_results.IndexOf(RowKey(row));
    // A row the model doesn't know (none is expected) is read as shown rather
    // than as empty: an empty one would take a time into a filled run column.
    return index >= 0 ? m_results.Row(index) : GridRowCells(row);
}

QStringList TFormMain::GridRowCells(int row) const
{
    QStringList cells;
    cells.reserve(ProtocolColumnCount);
    for (int col = 0; col < ProtocolColumnCount; ++col)
        cells.append(SortGrid1->Cells(col, row));
    return cells;
}

void TFormMain::SyncResults()
{
    ProtocolTable rows;
    rows.reserve(SortGrid1->RowCount());
    for (int row = 1; row < SortGrid1->RowCount(); ++row)
        rows.append(GridRowCells(row));
    m_results.Update(rows);
}

void TFormMain::SetProtocolCell(int col, int row, const QString& text)
{
    const QString key = RowKey(row);
    if (m_results.SetCell(key, col, text)) {
        SortGrid1->SetCells(col, row, m_results.Cell(key, col));
        return;
    }
    // A row the model doesn't know yet (none is expected): grid and model are
    // brought level rather than the value lost.
    SortGrid1->SetCells(col, row, text);
    SyncResults();
}

void TFormMain::DeleteProtocolRow(int row)
{
    m_results.RemoveRow(RowKey(row));
    SortGrid1->Rows(row).Clear();
    SortGrid1->DeleteRow(row);
}

void TFormMain::ShowResultsColumn(int col)
{
    for (int row = 1; row < SortGrid1->RowCount(); ++row) {
        const QString key = RowKey(row);
        if (m_results.IndexOf(key) >= 0)
            SortGrid1->SetCells(col, row, m_results.Cell(key, col));
    }
}

QStringList TFormMain::GridKeys() const
{
    QStringList keys;
    keys.reserve(SortGrid1->RowCount());
    for (int row = 1; row < SortGrid1->RowCount(); ++row)
        keys.append(RowKey(row));
    return keys;
}

void TFormMain::SortGrid1GetCellFormat(int col, int row, TFormatOptions& format)
{
    if (row == 0) {
        format.Font.setPointSize(10);
        return;
    }
    if (row != SortGrid1->Row())
        format.BrushColor = ProtocolCellBackground(col, Settings.ProbeLaufe);
    const TAlignment alignment = ProtocolCellAlignment(col);
    if (alignment != taLeftJustify)
        format.AlignmentHorz = alignment;
    if (row == LaneRow(1) || (Settings.CountBahn == 2 && row == LaneRow(2))) {
        // Red is unreadable on the selection's blue: on a dark cell (the selected
        // row) the marked row takes a colour that stands out there.
        const QColor background = ToQColor(format.BrushColor, SortGrid1->palette());
        format.FontColor = background.lightness() < 150 ? SelectedLaneRowColor : LaneRowColor;
        format.Font.setBold(background.lightness() < 150);
    }
    if (TimeUnconfirmed(col, row)) {
        format.BrushColor = UnconfirmedTimeColor;
        format.FontColor = clBlack;
    }
}

void TFormMain::ShowLaneRows()
{
    QList<int> rows;
    for (int lane = 1; lane <= std::clamp(Settings.CountBahn, 1, 2); ++lane) {
        const int row = LaneRow(lane);
        if (row >= 1)
            rows.append(row);
    }
    if (rows.isEmpty())
        return;
    const int first = *std::min_element(rows.begin(), rows.end());
    const int last = *std::max_element(rows.begin(), rows.end());
    const int top = SortGrid1->TopRow();
    const int visible = std::max(1, SortGrid1->VisibleRowCount());
    if (first >= top && last < top + visible)
        return;
    // One row above the pair stays in view (the pair before, whose times just
    // landed) when both still fit; a pair further apart than the view shows lane 1.
    int newTop = last - first + 1 < visible ? first - 1 : first;
    if (last - first + 1 >= visible)
        newTop = LaneRow(1) >= 1 ? LaneRow(1) : first;
    SortGrid1->SetTopRow(std::clamp(newTop, 1, std::max(1, SortGrid1->MaxTopRow())));
}

void TFormMain::SortGrid1RowSelected()
{
    UpdateCommandStates();
    // The grid reports the selection before it moves its current row: show the
    // counter once the move is done.
    QTimer::singleShot(0, this, [this] {
        StatusPanel0->setText(RowCounterText(SortGrid1->Row(), SortGrid1->RowCount() - 1));
    });
}

void TFormMain::SortGrid1DblClick()
{
    if (Settings.CountBahn == 1)
        sb1Click(1);
}

void TFormMain::sb1Click(int tag)
{
    QComboBox* list = tag == 1 ? cbBuhn1 : cbBuhn2;
    const int row = SortGrid1->Row();
    const QString identity = RowKey(row);
    int position = identity.isEmpty() ? -1 : list->findData(identity);
    if (position < 0)
        position = row - 1;
    list->setCurrentIndex(position < list->count() ? position : -1);
    cbBuhnChange();
}

void TFormMain::sb1delClick(int tag)
{
    const int lane = tag + 1;
    const int column = LaneRunColumn(lane);
    const int row = LaneRow(lane);
    if (!m_run.CanEliminate(lane) || column < 0 || row < 1)
        return;
    SetProtocolCell(column, row, QStringLiteral("EL"));
    SortGrid1->SetModified(true);
    JournalCell(column, row, JournalCellChange::Elimination, lane);
    UnmarkTime(column, row); // a doubtful time replaced by "EL" is settled
    RankProtocol();
}

void TFormMain::sbCLSClick(int tag)
{
    // The question names the row it acts on: the selection may have moved since the operator looked.
    const QStringList cells = ProtocolRowCells(SortGrid1->Row());
    const QString starter = QStringList{cells.value(ColName), cells.value(ColVorname)}.join(u' ').trimmed();
    const QString question =
        tag == 1            ? QStringLiteral("Zeitenprotokoll  löschen?")
        : starter.isEmpty() ? QStringLiteral("Zeile %1 entfernen?").arg(SortGrid1->Row())
                            : QStringLiteral("Zeile %1 – %2 entfernen?").arg(SortGrid1->Row()).arg(starter);
    if (!Dialogs().AskYesNo(this, question))
        return;
    KeepForUndo(tag == 1);
    const qsizetype waitingBefore = m_results.UnconfirmedRuns().size();
    if (tag == 1) {
        SortGrid1->ClearGrid();
        SyncResults();
        JournalClear();
        cbBuhn1->clear();
        cbBuhn2->clear();
    } else {
        const int row = SortGrid1->Row();
        const QString identity = RowKey(row);
        JournalDeleteRow(row);
        DeleteProtocolRow(row);
        RemoveLaneEntries(identity);
        RankProtocol();
        SortGrid1->SetRow(std::min(row, SortGrid1->RowCount() - 1));
    }
    // A doubtful time that went with its row waits no more: the status bar says what still does.
    if (m_results.UnconfirmedRuns().size() != waitingBefore) {
        ScheduleLiveUpdate();
        if (m_results.UnconfirmedRuns().isEmpty())
            statusBar()->clearMessage();
        else
            statusBar()->showMessage(UnconfirmedCountText());
    }
    FormResize();
    UpdateCommandStates();
}

void TFormMain::cbSortClick()
{
    RankProtocol();
}

void TFormMain::cbEditONClick()
{
    TGridOptions options = SortGrid1->Options();
    if (cbEditON->isChecked()) {
        options |= goEditing;
        options &= ~TGridOptions(goRowSelect);
        SortGrid1->SetOptions(options);
        const int row = SortGrid1->Row();
        SortGrid1->SetSelection({m_lastSelectedCol, row, m_lastSelectedCol, row});
    } else {
        options &= ~TGridOptions(goEditing);
        options |= goRowSelect;
        SortGrid1->SetOptions(options);
    }
}

void TFormMain::labEditONClick()
{
    cbEditON->toggle();
    cbEditONClick();
}
