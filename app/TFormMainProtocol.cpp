#include "TFormMain.h"

#include "Dialogs.h"
#include "LateEntryDialog.h"
#include "ProtocolLogic.h"
#include "RaceJournal.h"
#include "RunTime.h"
#include "SortCompare.h"
#include "TClickLabel.h"
#include "TColor.h"
#include "TSortGrid.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHash>
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
    connect(&m_session, &TRaceSession::RunStarted, this, &TFormMain::SessionRunStarted);
    connect(&m_session, &TRaceSession::LaneStopped, this, &TFormMain::SessionLaneStopped);
    connect(&m_session, &TRaceSession::TimeUnplaced, this, &TFormMain::KeepUnplacedTime);
    connect(&m_session, &TRaceSession::TimeDoubtful, this, &TFormMain::SessionTimeDoubtful);
    connect(&m_session, &TRaceSession::ProtocolReplaced, this, [this] {
        ShowProtocol();
        ShowLaneLists();
    });
    connect(&m_session, &TRaceSession::LanesChanged, this, &TFormMain::ShowLanes);
    connect(&m_session, &TRaceSession::MarksChanged, this, [this] {
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
    ScheduleLiveUpdate();
}

void TFormMain::FillLaneLists()
{
    ShowLaneLists();
    const int count = int(m_session.StartOrder().size());
    m_session.SelectLane(1, count >= 1 ? 0 : -1);
    m_session.SelectLane(2, count >= 2 ? 1 : -1);
}

void TFormMain::KeepUnplacedTime(int lane, const QString& /*starter*/, const QString& timeText)
{
    if (m_restoring)
        return;
    statusBar()->showMessage(QStringLiteral("Bahn %1: Zeit %2 ohne Starter (keiner gewählt oder Zeile "
                                            "entfernt) – die Zeit ist im Zeitenprotokoll aufbewahrt; bitte "
                                            "im Änderungsmodus in der richtigen Zeile eintragen.")
                                 .arg(lane)
                                 .arg(timeText));
}

void TFormMain::RankProtocol()
{
    // The session ranks by its own rule; the grid shows the protocol either in
    // start order or, with "Sort", in the order the places were counted.
    m_session.Rank();
    // Rank leaves the rows in the ranking order: only the start order is sorted anew.
    if (!m_session.ShownByPlace())
        m_session.ShowInOrder(m_session.StartOrder());
    ShowSessionOrder();
    // Typed letters search the class column, in either view; a header click
    // may have left the direction descending.
    TSortOptions& options = SortGrid1->SortOptions;
    options.SortCol = ColKlasse;
    options.SortDirection = sdAscending;
    options.CanSort = false;
    // Until "0,00" the operator watches the pair on the lanes, whose times just landed.
    if (m_run.State() != RunState::Ready)
        ShowLaneRows();
    SortGrid1->InvalidateGrid();
    NoteClassSpellings();
}

void TFormMain::ShowSessionOrder()
{
    // The grid's rows follow the protocol's order; the selection stays with its starter.
    const int rows = SortGrid1->RowCount() - 1;
    if (rows != m_results.RowCount() || rows < 1)
        return;
    const QString selected = RowKey(SortGrid1->Row());
    QHash<QString, int> gridIndex;
    gridIndex.reserve(rows);
    for (int row = 1; row <= rows; ++row)
        gridIndex.insert(RowKey(row), row - 1);
    std::vector<int> order;
    order.reserve(std::size_t(rows));
    for (int i = 0; i < rows; ++i) {
        const auto found = gridIndex.constFind(m_results.Row(i).value(ColLoadOrder));
        if (found == gridIndex.cend())
            return; // not the same rows: ShowProtocol follows
        order.push_back(found.value());
    }
    SortGrid1->PermuteRows(1, order);
    m_laneRowHint = {-1, -1};
    const int row = RowOf(selected);
    if (row >= 1 && row != SortGrid1->Row())
        SortGrid1->SetRow(row);
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

void TFormMain::SortGrid1GetCellFormat(int col, int row, TFormatOptions& format)
{
    if (row == 0) {
        format.Font.setPointSize(10);
        return;
    }
    if (row != SortGrid1->Row())
        format.BrushColor = ProtocolCellBackground(col, m_session.CurrentRules().probeLaufe);
    const TAlignment alignment = ProtocolCellAlignment(col);
    if (alignment != taLeftJustify)
        format.AlignmentHorz = alignment;
    if (row == LaneRow(1) || (m_session.CurrentRules().laneCount == 2 && row == LaneRow(2))) {
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
    } else {
        const int row = SortGrid1->Row();
        const QString key = RowKey(row);
        // Journalled once the session took it: a start by a light barrier
        // while the question was open refuses the deletion.
        if (!m_session.DeleteRow(key)) {
            statusBar()->showMessage(QStringLiteral("Zeile entfernen geht erst nach „0,00“."), 8000);
            return;
        }
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

void TFormMain::mLateEntryClick()
{
    // As a load: the rows and the start order change, so not from START until "0,00".
    if (!RunIdle()) {
        statusBar()->showMessage(
            QStringLiteral("Starter nachmelden ist während eines Laufs gesperrt – erst nach „0,00“."), 8000);
        return;
    }
    QStringList classes;
    for (int i = 0; i < m_results.RowCount(); ++i) {
        const QString klasse = m_results.Row(i).value(ColKlasse).trimmed();
        if (!klasse.isEmpty() && !classes.contains(klasse))
            classes.append(klasse);
    }
    TLateEntryDialog entry(this);
    entry.Offer(m_session.NextStartNumber(), classes);
    entry.Check = [this](const QStringList& cells) -> QString {
        if (cells.value(ColName).isEmpty())
            return QStringLiteral("Bitte den Namen des Starters eingeben.");
        const QString number = cells.value(ColNr);
        if (m_session.StartNumberTaken(number)) {
            for (int i = 0; i < m_results.RowCount(); ++i) {
                const QStringList& row = m_results.Row(i);
                if (row.value(ColNr).trimmed() == number)
                    return QStringLiteral("Die Startnummer %1 hat schon %2. Bitte eine andere Nummer wählen.")
                        .arg(number,
                             QStringList{row.value(ColVorname), row.value(ColName)}.join(u' ').trimmed());
            }
        }
        if (!RunIdle())
            return QStringLiteral("Ein Lauf hat begonnen: Nachmelden erst nach „0,00“.");
        return {};
    };
    if (Dialogs().Exec(entry) != QDialog::Accepted)
        return;
    const QStringList cells = entry.Cells();
    const QString key = m_session.AddStarter(cells);
    if (key.isEmpty()) {
        statusBar()->showMessage(QStringLiteral("Der Starter wurde nicht nachgemeldet."), 8000);
        return;
    }
    RankProtocol();
    FormResize();
    UpdateCommandStates();
    const int row = RowOf(key);
    if (row >= 1)
        SortGrid1->SetRow(row);
    statusBar()->showMessage(QStringLiteral("%1 %2 (Nr. %3) ist nachgemeldet und startet als Letzter.")
                                 .arg(cells.value(ColVorname), cells.value(ColName), cells.value(ColNr))
                                 .simplified(),
                             8000);
}

void TFormMain::cbSortClick()
{
    // A view choice, kept with the race: a restore shows the protocol the same way.
    m_session.ShowByPlace(cbSort->isChecked());
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
