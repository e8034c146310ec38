#include "TFormMain.h"

#include "Dialogs.h"
#include "ProtocolLogic.h"
#include "RaceJournal.h"
#include "TComPort.h"
#include "TSortGrid.h"
#include "TickSource.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QStatusBar>
#include <QTimer>

// The race journal: every change of the protocol goes to a journal file as it
// happens, and a session that ended with unsaved changes is offered at the
// next start.

namespace {

const QString kRestoreQuestion =
    QStringLiteral("Die letzte Sitzung wurde nicht beendet. Zeitenprotokoll wiederherstellen?");

JournalRecord Record(JournalRecordType type)
{
    JournalRecord record;
    record.type = type;
    return record;
}

} // namespace

void TFormMain::CreateJournal()
{
    SortGrid1->OnSetEditText = [this](int col, int row, const QString&) { JournalCellEdited(col, row); };
    if (m_access.JournalFolder.isEmpty())
        return;
    const QString bootId = m_access.BootId ? m_access.BootId() : SystemBootId();
    m_journal = std::make_unique<TRaceJournal>(m_access.JournalFolder, bootId);
    m_journal->OnWriteFailed = [this](const QString& text) { statusBar()->showMessage(text); };
}

void TFormMain::BeginJournal(bool modified)
{
    if (!m_journal)
        return;
    JournalRecord load = Record(JournalRecordType::Load);
    load.fileName = m_loadedFileName;
    load.modified = modified;
    load.rows = ProtocolRows();
    load.entries.reserve(cbBuhn1->count());
    for (int i = 0; i < cbBuhn1->count(); ++i)
        load.entries.append({cbBuhn1->itemText(i), cbBuhn1->itemData(i).toString()});
    m_journalPositions = {cbBuhn1->currentIndex(), cbBuhn2->currentIndex()};
    load.positions = m_journalPositions;
    JournalRecord rank = Record(JournalRecordType::Rank);
    rank.probeLaufe = Settings.ProbeLaufe;
    rank.allLaufe = Settings.AllLaufe;
    rank.countBahn = Settings.CountBahn;
    rank.sortByPlace = cbSort->isChecked();
    // The previous protocol was replaced: its journal holds nothing to offer any more.
    m_journal->Begin({load, rank}, true);
}

void TFormMain::JournalLoaded(const QString& fileName)
{
    m_loadedFileName = fileName;
    BeginJournal(false);
}

void TFormMain::JournalCell(int col, int row, JournalCellChange change, int lane)
{
    if (!m_journal || !m_journal->IsOpen())
        return;
    JournalRecord cell = Record(JournalRecordType::Cell);
    cell.change = change;
    cell.lane = lane;
    cell.loadOrder = SortGrid1->Cells(ColLoadOrder, row);
    cell.column = col;
    cell.text = SortGrid1->Cells(col, row);
    m_journal->Append(cell);
}

void TFormMain::JournalCellEdited(int col, int row)
{
    JournalCell(col, row, JournalCellChange::Edit, 0);
}

void TFormMain::JournalDeleteRow(int row)
{
    if (!m_journal)
        return;
    JournalRecord deletion = Record(JournalRecordType::DeleteRow);
    deletion.loadOrder = SortGrid1->Cells(ColLoadOrder, row);
    m_journal->Append(deletion);
}

void TFormMain::JournalClear()
{
    if (m_journal)
        m_journal->Append(Record(JournalRecordType::Clear));
    m_journalPositions = {-1, -1};
}

void TFormMain::JournalRank()
{
    if (!m_journal)
        return;
    JournalRecord rank = Record(JournalRecordType::Rank);
    rank.probeLaufe = Settings.ProbeLaufe;
    rank.allLaufe = Settings.AllLaufe;
    rank.countBahn = Settings.CountBahn;
    rank.sortByPlace = cbSort->isChecked();
    m_journal->Append(rank);
}

void TFormMain::JournalLanes()
{
    const std::array<int, 2> positions{cbBuhn1->currentIndex(), cbBuhn2->currentIndex()};
    if (!m_journal || positions == m_journalPositions)
        return;
    m_journalPositions = positions;
    JournalRecord lanes = Record(JournalRecordType::Lanes);
    lanes.positions = positions;
    m_journal->Append(lanes);
}

void TFormMain::JournalRunStart()
{
    if (!m_journal)
        return;
    m_journalPositions = {cbBuhn1->currentIndex(), cbBuhn2->currentIndex()};
    JournalRecord start = Record(JournalRecordType::RunStart);
    start.tick = m_startTick;
    start.countBahn = Settings.CountBahn;
    start.positions = m_journalPositions;
    m_journal->Append(start);
}

void TFormMain::JournalLaneStop(int laneIndex)
{
    if (!m_journal)
        return;
    JournalRecord stop = Record(JournalRecordType::LaneStop);
    stop.lane = laneIndex + 1;
    stop.tick = m_stopTick.at(laneIndex);
    m_journal->Append(stop);
}

void TFormMain::JournalReset()
{
    if (m_journal)
        m_journal->Append(Record(JournalRecordType::Reset));
}

void TFormMain::JournalEdge(int line)
{
    if (!m_journal)
        return;
    JournalRecord edge = Record(JournalRecordType::Edge);
    edge.line = line;
    edge.modemStatus = ComPort->ModemStatus();
    edge.tick = ComPort->EventTick();
    m_journal->Append(edge);
}

void TFormMain::JournalSaved()
{
    if (m_journal)
        m_journal->MarkClean();
}

void TFormMain::JournalClosing()
{
    // With unsaved changes the journal stays open, so the next start offers it.
    if (m_journal)
        m_journal->Close(!Clock->isActive() && !SortGrid1->Modified());
}

// ---------------------------------------------------------------------------
// Restoring

void TFormMain::RestoreLastSession()
{
    if (m_access.JournalFolder.isEmpty())
        return;
    const JournalFinding found = FindLastJournal(m_access.JournalFolder, QDateTime::currentDateTime());
    if (found.fileName.isEmpty())
        return;
    const JournalReadStatus status = found.read.status;
    const bool readable = status == JournalReadStatus::Sound || status == JournalReadStatus::TornTail;
    if (!found.replay.HoldsChanges()) {
        if (found.bytes.isEmpty()) {
            QFile::remove(found.fileName);
        } else if (status != JournalReadStatus::Sound) {
            const QString aside = QDir::toNativeSeparators(SetJournalAside(found.fileName));
            Dialogs().ShowMessage(
                this,
                readable || status == JournalReadStatus::NotAJournal
                    ? QStringLiteral("Das Zeitenprotokoll der letzten Sitzung ist beschädigt und enthält "
                                     "nichts, was sich wiederherstellen lässt. Es wurde aufbewahrt als:\n%1")
                          .arg(aside)
                    : QStringLiteral("Das Zeitenprotokoll der letzten Sitzung stammt von einer anderen "
                                     "Programmversion und kann nicht wiederhergestellt werden. Es wurde "
                                     "aufbewahrt als:\n%1")
                          .arg(aside));
        }
        return;
    }
    if (!Dialogs().AskYesNo(this, kRestoreQuestion)) {
        SetJournalAside(found.fileName);
        return;
    }
    // Closed before the restored session's own journal begins, which is then the newest.
    CloseJournalFile(found.fileName, found.read.soundBytes);
    ApplyJournalReplay(found.replay);
    if (status == JournalReadStatus::TornTail)
        Dialogs().ShowMessage(this,
                              QStringLiteral("Der letzte Eintrag des Zeitenprotokolls war unvollständig "
                                             "(etwa nach einem Stromausfall) und wurde verworfen. Alles "
                                             "davor ist wiederhergestellt."));
}

void TFormMain::ApplyJournalReplay(const JournalReplay& replay)
{
    if (replay.hasRank) {
        Settings.ProbeLaufe = replay.probeLaufe;
        Settings.AllLaufe = replay.allLaufe;
        if (replay.countBahn != Settings.CountBahn && (replay.countBahn == 1 || replay.countBahn == 2)) {
            Settings.CountBahn = replay.countBahn;
            ApplyLaneLayout();
        }
        cbSort->setChecked(replay.sortByPlace);
    }

    // The rows as they were at the last ranking, ranked again, then what came after.
    FillProtocol(replay.baseRows, &replay.header);
    for (int row = 1; row <= replay.baseRows.size(); ++row)
        SortGrid1->SetCells(ColLoadOrder, row, replay.baseRows.at(row - 1).value(ColLoadOrder));
    if (replay.baseRanked)
        RankProtocol();
    QHash<QString, int> rowOf;
    auto reindex = [&] {
        rowOf.clear();
        for (int row = 1; row < SortGrid1->RowCount(); ++row)
            rowOf.insert(SortGrid1->Cells(ColLoadOrder, row), row);
    };
    reindex();
    for (const JournalTailChange& change : replay.tail) {
        const int row = rowOf.value(change.loadOrder, -1);
        if (row < 0)
            continue;
        if (change.column < 0) {
            SortGrid1->DeleteRow(row);
            reindex();
        } else {
            SortGrid1->SetCells(change.column, row, change.text);
        }
    }

    {
        const QSignalBlocker block1(cbBuhn1);
        const QSignalBlocker block2(cbBuhn2);
        cbBuhn1->clear();
        cbBuhn2->clear();
        for (const JournalLaneEntry& entry : replay.entries) {
            cbBuhn1->addItem(entry.text, entry.identity);
            cbBuhn2->addItem(entry.text, entry.identity);
        }
        cbBuhn1->setCurrentIndex(replay.positions[0] < cbBuhn1->count() ? replay.positions[0] : -1);
        cbBuhn2->setCurrentIndex(replay.positions[1] < cbBuhn2->count() ? replay.positions[1] : -1);
        cbBuhn1->setEnabled(cbBuhn1->count() >= 1);
        cbBuhn2->setEnabled(cbBuhn2->count() >= 2);
        m_laneRowHint = {-1, -1};
        // Entries follow edits of their starters' data, as they did in the session.
        RefreshLaneEntries();
    }

    m_loadedFileName = replay.fileName;
    if (!replay.fileName.isEmpty()) {
        const QFileInfo file(replay.fileName);
        m_saveFileName = file.dir().absoluteFilePath(file.completeBaseName());
        m_fileFolder = file.absolutePath();
        setWindowTitle(QStringLiteral("Quellorix: ") + file.completeBaseName());
    }
    FormResize();
    UpdateCommandStates();
    SortGrid1RowSelected();
    SortGrid1->InvalidateGrid();
    SortGrid1->SetModified(true);

    // From here on the restored session has a journal of its own.
    BeginJournal(true);
    if (!replay.runOpen)
        return;
    const bool sameBoot = m_journal && !replay.bootId.isEmpty() && replay.bootId == m_journal->BootId();
    if (replay.RunStillTiming() && !sameBoot) {
        Dialogs().ShowMessage(this,
                              QStringLiteral("Der Rechner wurde seit der letzten Sitzung neu gestartet. Der "
                                             "Lauf, der dabei noch lief, kann nicht fortgesetzt werden und "
                                             "wurde verworfen; bereits eingetragene Zeiten bleiben im "
                                             "Protokoll. Bitte den Lauf wiederholen."));
        return;
    }
    ResumeRun(replay);
}

void TFormMain::ResumeRun(const JournalReplay& replay)
{
    // The run goes on from its recorded start; lanes that had stopped stop
    // again at their recorded ticks without recording their times a second time.
    m_resumingRun = true;
    TriggerCommand(mStart, replay.startTick);
    // The barrier lock counts from the original start as well.
    if (ElapsedTicks(replay.startTick, TickSource().GetTickCount()) >=
        std::uint32_t(TimerGesperrtStart->interval()))
        TimerGesperrtTimer();
    // Known before the lanes stop again: a lane stopped with "EL" shows it.
    m_laneRunColumn = replay.laneRunColumn;
    std::array<int, 2> order{0, 1};
    if (replay.laneStopped[0] && replay.laneStopped[1] &&
        ElapsedTicks(replay.startTick, replay.stopTick[1]) <
            ElapsedTicks(replay.startTick, replay.stopTick[0]))
        order = {1, 0};
    for (int laneIndex : order) {
        if (replay.laneStopped.at(laneIndex))
            TriggerCommand(laneIndex == 0 ? mSTOP1 : mStop2, replay.stopTick.at(laneIndex));
    }
    m_resumingRun = false;
}
