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
    const QString key = m_session.LaneKey(lane);
    if (key.isEmpty())
        return -1;
    int& hint = m_laneRowHint.at(lane - 1);
    if (hint >= 1 && RowKey(hint) == key)
        return hint;
    return hint = RowOf(key);
}

int TFormMain::RowOf(const QString& key) const
{
    if (key.isEmpty())
        return -1;
    // The grid shows the protocol's rows in the protocol's order.
    const int row = m_results.IndexOf(key) + 1;
    if (row >= 1 && RowKey(row) == key)
        return row;
    for (int r = 1; r < SortGrid1->RowCount(); ++r) {
        if (RowKey(r) == key)
            return r;
    }
    return -1;
}

void TFormMain::ConnectSession()
{
    m_session.KeepCommands(false);
    // The grid shows the session's protocol: it keeps only which starter each row shows.
    SortGrid1->SetRowSource(ColLoadOrder,
                            [this](const QString& key, int col) { return m_results.Cell(key, col); });
    connect(&m_session, &TRaceSession::LaneStopped, this, &TFormMain::SessionLaneStopped);
    connect(&m_session, &TRaceSession::TimeUnplaced, this, &TFormMain::KeepUnplacedTime);
    connect(&m_session, &TRaceSession::TimeDoubtful, this, &TFormMain::SessionTimeDoubtful);
    connect(&m_session, &TRaceSession::ProtocolReplaced, this, [this] {
        ShowProtocol();
        ShowLaneLists();
    });
    connect(&m_session, &TRaceSession::LanesChanged, this, &TFormMain::ShowLanes);
    connect(&m_session, &TRaceSession::MarksChanged, this, [this] {
        // The journal follows the marks, whichever command set or took them.
        const QList<TimeMark>& marks = m_session.Unconfirmed();
        for (const TimeMark& mark : std::as_const(m_journalledMarks)) {
            if (!marks.contains(mark))
                JournalDoubt(mark.first, mark.second, false);
        }
        for (const TimeMark& mark : marks) {
            if (!m_journalledMarks.contains(mark))
                JournalDoubt(mark.first, mark.second, true);
        }
        m_journalledMarks = marks;
        ScheduleLiveUpdate();
        SortGrid1->InvalidateGrid();
    });
}

void TFormMain::ShowProtocol()
{
    QStringList titles = ProtocolHeaders();
    const QStringList& header = m_results.Header();
    for (int col = 0; col < ProtocolColumnCount; ++col) {
        if (!header.value(col).trimmed().isEmpty())
            titles[col] = header.at(col);
    }
    const int dataRows = std::max(1, m_results.RowCount());
    const int oldRowCount = SortGrid1->RowCount();
    SortGrid1->BeginUpdate();
    SortGrid1->SetRowCount(dataRows + 1);
    // Rows of the previous protocol beyond the new count must not come back when the grid grows.
    for (int row = dataRows + 1; row < oldRowCount; ++row)
        SortGrid1->SetRowItems(row, {});
    // Each row only knows its starter: the cells are the session's (the row source).
    for (int row = 1; row <= dataRows; ++row) {
        std::vector<TStrItem> items(ColLoadOrder + 1);
        if (row <= m_results.RowCount())
            items[ColLoadOrder].Text = m_results.Row(row - 1).value(ColLoadOrder);
        SortGrid1->SetRowItems(row, std::move(items));
    }
    for (int col = 0; col < ProtocolColumnCount; ++col)
        SortGrid1->SetCells(col, 0, titles.at(col));
    SortGrid1->EndUpdate();
    SortGrid1->GotoCell(0, 1, true);
    m_laneRowHint = {-1, -1};
    m_shownLanePositions = {-1, -1}; // the view starts afresh: the pair is brought into it
}

void TFormMain::ShowLaneLists()
{
    {
        const QSignalBlocker block1(cbBuhn1);
        const QSignalBlocker block2(cbBuhn2);
        cbBuhn1->clear();
        cbBuhn2->clear();
        // In start order, whatever order the protocol is shown in.
        for (const QString& key : m_session.StartOrder()) {
            const QString entry = m_session.EntryText(key);
            cbBuhn1->addItem(entry, key);
            cbBuhn2->addItem(entry, key);
        }
    }
    ShowLanes();
    SortGrid1RowSelected();
}

void TFormMain::ShowLanes()
{
    const std::array<int, 2> positions{m_session.LanePosition(1), m_session.LanePosition(2)};
    {
        const QSignalBlocker block1(cbBuhn1);
        const QSignalBlocker block2(cbBuhn2);
        cbBuhn1->setCurrentIndex(positions[0]);
        cbBuhn2->setCurrentIndex(positions[1]);
    }
    m_laneRowHint = {-1, -1};
    UpdateCommandStates();
    // Only a new pair moves the view: an edit of a starter's name (which
    // changes his entry) leaves the operator where he is editing.
    if (positions != m_shownLanePositions)
        ShowLaneRows();
    m_shownLanePositions = positions;
    SortGrid1->InvalidateGrid();
    JournalLanes();
    ScheduleLiveUpdate();
}

void TFormMain::FillLaneLists()
{
    ShowLaneLists();
    const int count = int(m_session.StartOrder().size());
    m_session.SelectLane(1, count >= 1 ? 0 : -1);
    m_session.SelectLane(2, count >= 2 ? 1 : -1);
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

void TFormMain::RankProtocol()
{
    // The session decides totals and places; the grid shows them and gives the
    // order (by class, then total) in which places are counted.
    ApplyRules();
    m_session.ComputeTotals();

    TSortOptions& options = SortGrid1->SortOptions;
    options.CanSort = false;
    options.SecondaryIndex = QStringLiteral("11");
    options.SortCol = ColKlasse;
    // A header click may have left the direction descending; places and the
    // load order are always counted from the top.
    options.SortDirection = sdAscending;
    options.CanSort = true;
    SortGrid1->SortByColumn(ColKlasse);
    m_session.PlaceInOrder(GridKeys());

    if (!cbSort->isChecked()) {
        SortGrid1->SortByColumn(ColLoadOrder);
        m_session.ShowInOrder(GridKeys());
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
    return index >= 0 ? m_results.Row(index) : QStringList(ProtocolColumnCount);
}

void TFormMain::SetProtocolCell(int col, int row, const QString& text)
{
    const QString key = RowKey(row);
    if (!m_session.Edit(key, col, text))
        return;
    SortGrid1->InvalidateCell(col, row);
    if (col == ColNr || col == ColName || col == ColVorname || col == ColVerein)
        RefreshLaneEntry(key);
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
    const int position = int(m_session.StartOrder().indexOf(RowKey(SortGrid1->Row())));
    list->setCurrentIndex(position);
    cbBuhnChange();
}

void TFormMain::sb1delClick(int tag)
{
    const int lane = tag + 1;
    const int column = LaneRunColumn(lane);
    const int row = LaneRow(lane);
    if (row < 1 || !m_session.EliminateStopped(lane))
        return;
    SortGrid1->InvalidateCell(column, row);
    SortGrid1->SetModified(true);
    JournalCell(column, row, JournalCellChange::Elimination, lane);
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
    const qsizetype waitingBefore = m_session.Unconfirmed().size();
    if (tag == 1) {
        if (!m_session.Clear())
            return;
        // Emptied by the operator: the host's results go too.
        RaceToPublish();
        // An empty protocol has nothing to save.
        SortGrid1->SetModified(false);
        JournalClear();
    } else {
        const int row = SortGrid1->Row();
        const QString key = RowKey(row);
        JournalDeleteRow(row);
        if (!m_session.DeleteRow(key))
            return;
        SortGrid1->SetModified(true);
        RankProtocol();
        SortGrid1->SetRow(std::min(row, SortGrid1->RowCount() - 1));
    }
    // A doubtful time that went with its row waits no more: the status bar says what still does.
    if (m_session.Unconfirmed().size() != waitingBefore) {
        if (m_session.Unconfirmed().isEmpty())
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
