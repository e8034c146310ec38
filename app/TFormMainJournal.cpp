#include "TFormMain.h"

#include "Dialogs.h"
#include "ProtocolLogic.h"
#include "RaceJournal.h"
#include "TBitBtnWithColor.h"
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
#include <QToolButton>
#include <utility>

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
    mRestoreSession = new QAction(QStringLiteral("Frühere Sitzung wiederherstellen…"), this);
    mRestoreSession->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_R));
    mRestoreSession->setShortcutContext(Qt::WindowShortcut);
    addAction(mRestoreSession);
    connect(mRestoreSession, &QAction::triggered, this, [this] { OfferSessions(false); });
    CreateUndo();
    if (m_access.JournalFolder.isEmpty())
        return;
    const QString bootId = m_access.BootId ? m_access.BootId() : SystemBootId();
    m_journal = std::make_unique<TRaceJournal>(m_access.JournalFolder, bootId);
    m_journal->OnWriteFailed = [this](const QString& text) { statusBar()->showMessage(text); };
    m_journal->OnWriteResumed = [this](const QString& text) { statusBar()->showMessage(text, 10000); };
    m_journal->CurrentState = [this] { return JournalState(SortGrid1->Modified()); };
    // A failed journal is tried again now and then even when nothing happens,
    // so the last recorded time is not left out of it until the next one.
    auto* retry = new QTimer(this);
    connect(retry, &QTimer::timeout, this, [this] { m_journal->RetryIfFailed(); });
    retry->start(int(m_journal->RetryInterval.count()));
}

std::vector<JournalRecord> TFormMain::JournalState(bool modified)
{
    std::vector<JournalRecord> records;
    JournalRecord load = Record(JournalRecordType::Load);
    load.fileName = m_loadedFileName;
    load.modified = modified;
    load.rows = ProtocolRows();
    load.entries.reserve(m_session.StartOrder().size());
    for (const QString& key : m_session.StartOrder())
        load.entries.append({m_session.EntryText(key), key});
    m_journalPositions = {m_session.LanePosition(1), m_session.LanePosition(2)};
    load.positions = m_journalPositions;
    JournalRecord rank = Record(JournalRecordType::Rank);
    rank.probeLaufe = Settings.ProbeLaufe;
    rank.allLaufe = Settings.AllLaufe;
    rank.countBahn = Settings.CountBahn;
    rank.sortByPlace = cbSort->isChecked();
    records.push_back(std::move(load));
    records.push_back(std::move(rank));
    for (const auto& [key, column] : m_session.Unconfirmed()) {
        JournalRecord doubt = Record(JournalRecordType::Doubt);
        doubt.loadOrder = key;
        doubt.column = column;
        doubt.doubtful = true;
        records.push_back(doubt);
    }
    for (const auto& [lane, identity, text] : m_unplacedTimes) {
        JournalRecord cell = Record(JournalRecordType::Cell);
        cell.change = JournalCellChange::Unplaced;
        cell.lane = lane;
        cell.loadOrder = identity;
        cell.text = text;
        records.push_back(cell);
    }
    // A run between START and "0,00" (after a failed write: the state written afresh).
    if (!RunIdle()) {
        JournalRecord start = Record(JournalRecordType::RunStart);
        start.tick = m_startTick;
        start.countBahn = Settings.CountBahn;
        start.positions = m_journalPositions;
        records.push_back(start);
        for (int laneIndex = 0; laneIndex < Settings.CountBahn; ++laneIndex) {
            if (m_run.LaneRunning(laneIndex + 1))
                continue;
            JournalRecord stop = Record(JournalRecordType::LaneStop);
            stop.lane = laneIndex + 1;
            stop.tick = m_stopTick.at(laneIndex);
            records.push_back(stop);
            const int row = LaneRow(laneIndex + 1);
            const int column = LaneRunColumn(laneIndex + 1);
            if (row >= 1 && column >= 0) {
                JournalRecord time = Record(JournalRecordType::Cell);
                time.change = ProtocolCell(column, row) == QLatin1String("EL")
                                  ? JournalCellChange::Elimination
                                  : JournalCellChange::Time;
                time.lane = laneIndex + 1;
                time.loadOrder = RowKey(row);
                time.column = column;
                time.text = ProtocolCell(column, row);
                records.push_back(time);
            }
        }
    }
    return records;
}

void TFormMain::BeginJournal(bool modified, const QString& restoredFrom)
{
    if (!m_journal)
        return;
    std::vector<JournalRecord> records;
    if (!restoredFrom.isEmpty()) {
        JournalRecord restored = Record(JournalRecordType::Restored);
        restored.fileName = restoredFrom;
        records.push_back(restored);
    }
    for (JournalRecord& record : JournalState(modified))
        records.push_back(std::move(record));
    // The previous protocol's journal is left as its records describe it: a
    // saved one holds nothing to offer, an unsaved one stays restorable.
    m_journal->Begin(records, false);
}

void TFormMain::JournalLoaded(const QString& fileName)
{
    m_loadedFileName = fileName;
    m_session.ForgetUndo();
    m_unplacedTimes.clear();
    BeginJournal(false);
}

void TFormMain::JournalUnplacedTime(int lane, const QString& identity, const QString& timeText)
{
    m_unplacedTimes.append({lane, identity, timeText});
    if (!m_journal)
        return;
    JournalRecord cell = Record(JournalRecordType::Cell);
    cell.change = JournalCellChange::Unplaced;
    cell.lane = lane;
    cell.loadOrder = identity;
    cell.text = timeText;
    m_journal->Append(cell);
}

void TFormMain::JournalCell(int col, int row, JournalCellChange change, int lane)
{
    if (!m_journal || !m_journal->IsOpen())
        return;
    JournalRecord cell = Record(JournalRecordType::Cell);
    cell.change = change;
    cell.lane = lane;
    cell.loadOrder = RowKey(row);
    cell.column = col;
    cell.text = m_results.Cell(cell.loadOrder, col);
    m_journal->Append(cell);
}

void TFormMain::JournalCellEdited(int col, int row)
{
    JournalCell(col, row, JournalCellChange::Edit, 0);
}

void TFormMain::JournalDoubt(const QString& key, int col, bool doubtful)
{
    if (!m_journal || !m_journal->IsOpen() || m_restoring)
        return;
    JournalRecord doubt = Record(JournalRecordType::Doubt);
    doubt.loadOrder = key;
    doubt.column = col;
    doubt.doubtful = doubtful;
    m_journal->Append(doubt);
}

void TFormMain::JournalDeleteRow(const QString& key)
{
    if (!m_journal)
        return;
    JournalRecord deletion = Record(JournalRecordType::DeleteRow);
    deletion.loadOrder = key;
    m_journal->Append(deletion);
    // The session moved the lanes with the deletion, and that was written
    // before it: written again after it, a restore finds them where they are.
    m_journalPositions = {-2, -2};
    JournalLanes();
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
    const std::array<int, 2> positions{m_session.LanePosition(1), m_session.LanePosition(2)};
    if (!m_journal || positions == m_journalPositions || m_restoring)
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
    m_journalPositions = {m_session.LanePosition(1), m_session.LanePosition(2)};
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

void TFormMain::JournalWholeProtocol()
{
    // The protocol as it is now, in full (after an undo or a late entry):
    // replayed like a load with unsaved changes.
    if (!m_journal || !m_journal->IsOpen())
        return;
    for (const JournalRecord& record : JournalState(true))
        m_journal->Append(record);
}

void TFormMain::JournalSaved()
{
    if (m_journal)
        m_journal->MarkClean();
}

void TFormMain::JournalClosing()
{
    // With unsaved changes the journal stays open, so the next start offers it.
    if (!m_journal)
        return;
    if (!m_run.Timing() && !SortGrid1->Modified())
        m_journal->Close(true);
    else
        m_journal->CloseUnsaved();
}

// ---------------------------------------------------------------------------
// Restoring

void TFormMain::RestoreLastSession()
{
    OfferSessions(true);
}

void TFormMain::OfferSessions(bool atStart)
{
    if (m_access.JournalFolder.isEmpty())
        return;
    // Not while a run is timed or waits for "0,00": as with a load.
    if (!atStart && !RunIdle()) {
        statusBar()->showMessage(QStringLiteral("Frühere Sitzungen erst nach „0,00“."), 10000);
        return;
    }
    const std::vector<JournalFinding> findings =
        FindJournals(m_access.JournalFolder, QDateTime::currentDateTime());
    std::vector<const JournalFinding*> offered;
    for (const JournalFinding& found : findings) {
        const JournalReadStatus status = found.read.status;
        if (found.replay.HoldsChanges()) {
            offered.push_back(&found);
        } else if (found.size == 0) {
            QFile::remove(found.fileName);
        } else if (status != JournalReadStatus::Sound) {
            const QString aside = QDir::toNativeSeparators(SetJournalAside(found.fileName));
            Dialogs().ShowMessage(
                this,
                status == JournalReadStatus::OtherVersion
                    ? QStringLiteral("Das Zeitenprotokoll der letzten Sitzung stammt von einer anderen "
                                     "Programmversion und kann nicht wiederhergestellt werden. Es wurde "
                                     "aufbewahrt als:\n%1")
                          .arg(aside)
                : status == JournalReadStatus::TooLarge
                    ? QStringLiteral("Das Zeitenprotokoll einer früheren Sitzung ist größer als 64 MB und "
                                     "wird nicht gelesen. Es wurde aufbewahrt als:\n%1")
                          .arg(aside)
                    : QStringLiteral("Das Zeitenprotokoll der letzten Sitzung ist beschädigt und enthält "
                                     "nichts, was sich wiederherstellen lässt. Es wurde aufbewahrt als:\n%1")
                          .arg(aside));
        }
    }
    if (offered.empty()) {
        if (!atStart)
            Dialogs().ShowMessage(this,
                                  QStringLiteral("Es gibt keine frühere Sitzung mit ungesicherten Zeiten."));
        return;
    }
    // Newest first, one question each; a session not taken now stays offered
    // until it is answered "Nein" (which keeps it aside).
    for (const JournalFinding* found : offered) {
        const QString question = atStart && offered.size() == 1 && !found->replay.quitUnsaved
                                     ? kRestoreQuestion
                                     : SessionQuestion(*found);
        RestoreStep("asking");
        if (Dialogs().AskYesNo(this, question)) {
            RestoreStep("answered");
            RestoreSession(*found);
            return;
        }
        SetJournalAside(found->fileName);
    }
}

QString TFormMain::SessionQuestion(const JournalFinding& found) const
{
    const QString list = found.replay.fileName.isEmpty()
                             ? QStringLiteral("ohne Namen")
                             : QFileInfo(found.replay.fileName).completeBaseName();
    const QDateTime when = found.replay.createdMs > 0 ? QDateTime::fromMSecsSinceEpoch(found.replay.createdMs)
                                                      : found.lastModified;
    const int times = found.replay.TimesInRows();
    const QString timesText = times == 1 ? QStringLiteral("1 Zeit") : QStringLiteral("%1 Zeiten").arg(times);
    const QString last = found.lastModified.toString(QStringLiteral("dd.MM.yyyy HH:mm"));
    // Ended on purpose with unsaved changes: say what is unsaved, not that it was cut off.
    if (found.replay.quitUnsaved)
        return QStringLiteral("Beim Beenden am %1 waren Änderungen am Protokoll „%2“ (%3) nicht gespeichert. "
                              "Zeitenprotokoll wiederherstellen?")
            .arg(last, list, timesText);
    return QStringLiteral("Die Sitzung mit „%1“ vom %2 (%3, zuletzt %4) wurde nicht beendet. "
                          "Zeitenprotokoll wiederherstellen?")
        .arg(list, when.toString(QStringLiteral("dd.MM.yyyy HH:mm")), timesText, last);
}

void TFormMain::RestoreStep(const char* step)
{
    if (m_access.RestoreStep)
        m_access.RestoreStep(QLatin1String(step));
}

void TFormMain::RestoreSession(const JournalFinding& found)
{
    const JournalReplay& replay = found.replay;
    const bool kept = ApplyJournalReplay(replay, QFileInfo(found.fileName).fileName());
    // The old journal is retired only once the new one holds everything and is
    // on the disk; until then a kill leaves it to be offered again.
    RestoreStep("synced");
    const QString aside = kept ? QDir::toNativeSeparators(SetJournalAside(found.fileName)) : found.fileName;
    RestoreStep("old journal set aside");

    QStringList notes;
    const JournalReadStatus status = found.read.status;
    if (status == JournalReadStatus::TornTail)
        notes.append(
            QStringLiteral("Der letzte Eintrag des Zeitenprotokolls war unvollständig (etwa nach einem "
                           "Stromausfall) und wurde verworfen. Alles davor ist wiederhergestellt."));
    if (status == JournalReadStatus::Damaged)
        notes.append(
            QStringLiteral("Das Zeitenprotokoll war in der Mitte beschädigt: %1 Byte an %2 Stelle(n) "
                           "wurden übersprungen, alles davor und danach ist wiederhergestellt.")
                .arg(found.read.skippedBytes)
                .arg(found.read.damagedStretches));
    if (replay.skipped > 0)
        notes.append(QStringLiteral("%1 Einträge des Zeitenprotokolls passten nicht zum Protokoll (etwa aus "
                                    "einer veränderten Datei) und wurden übergangen.")
                         .arg(replay.skipped));
    if (status == JournalReadStatus::Damaged || replay.skipped > 0)
        notes.append(QStringLiteral("Das ursprüngliche Zeitenprotokoll ist aufbewahrt als:\n%1").arg(aside));
    if (!replay.unplacedTimes.isEmpty()) {
        QStringList times;
        for (const auto& [lane, text] : replay.unplacedTimes)
            times.append(QStringLiteral("Bahn %1: %2").arg(lane).arg(text));
        notes.append(QStringLiteral("Zeiten ohne Starter (dessen Zeile entfernt war): %1. Bitte im "
                                    "Änderungsmodus in der richtigen Zeile eintragen.")
                         .arg(times.join(QStringLiteral("; "))));
    }
    if (!notes.isEmpty())
        Dialogs().ShowMessage(this, notes.join(QStringLiteral("\n\n")));
    if (!m_rebootNote.isEmpty())
        Dialogs().ShowMessage(this, std::exchange(m_rebootNote, QString()));
}

bool TFormMain::ApplyJournalReplay(const JournalReplay& replay, const QString& source)
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

    // Nothing of the rebuilding goes to the journal: the restored state is
    // written to a new one as a whole (BeginJournal).
    m_restoring = true;
    // The rows as they were at the last ranking, ranked again, then what came after.
    if (!FillProtocol(replay.baseRows, &replay.header, true)) {
        m_restoring = false;
        return false; // the journal stays to be offered again
    }
    // Doubtful times wait again, and take no place while they do.
    for (const auto& [key, column] : replay.unconfirmed)
        m_session.RestoreMark(key, column);
    RestoreStep("protocol filled");
    if (replay.baseRanked)
        RankProtocol();
    RestoreStep("base ranked");
    for (const JournalTailChange& change : replay.tail) {
        if (m_results.IndexOf(change.loadOrder) < 0)
            continue;
        if (change.column < 0)
            m_session.DeleteRow(change.loadOrder);
        else
            SetProtocolCell(change.column, RowOf(change.loadOrder), change.text);
        RestoreStep("change");
    }
    // A time recorded after the ranking came back through an edit, which settles a mark.
    for (const auto& [key, column] : replay.unconfirmed)
        m_session.RestoreMark(key, column);
    m_session.ForgetUndo();

    // The lanes as they were; entries whose starters were deleted are left out,
    // as the deletion did.
    std::array<int, 2> positions{-1, -1};
    int kept = 0;
    for (int i = 0; i < replay.entries.size(); ++i) {
        const JournalLaneEntry& entry = replay.entries.at(i);
        if (!entry.identity.isEmpty() && m_results.IndexOf(entry.identity) < 0)
            continue;
        for (int lane = 0; lane < 2; ++lane) {
            if (replay.positions.at(lane) == i)
                positions.at(lane) =
                    entry.identity.isEmpty() ? kept : int(m_session.StartOrder().indexOf(entry.identity));
        }
        ++kept;
    }
    m_session.SelectLane(1, positions[0]);
    m_session.SelectLane(2, positions[1]);
    m_restoring = false;
    RestoreStep("lanes filled");

    m_loadedFileName = replay.fileName;
    if (!replay.fileName.isEmpty()) {
        const QFileInfo file(replay.fileName);
        m_saveFileName = ProtocolNameFor(replay.fileName);
        m_fileFolder = file.absolutePath();
        setWindowTitle(QStringLiteral("Quellorix: ") + file.completeBaseName());
    }
    FormResize();
    UpdateCommandStates();
    SortGrid1RowSelected();
    SortGrid1->InvalidateGrid();
    SortGrid1->SetModified(true);
    RestoreStep("window set");

    // From here on the restored session has a journal of its own.
    m_unplacedTimes.clear();
    for (const auto& [lane, text] : replay.unplacedTimes)
        m_unplacedTimes.append({lane, QString(), text});
    BeginJournal(true, source);
    RestoreStep("journal begun");
    if (replay.runOpen) {
        const bool sameBoot = m_journal && !replay.bootId.isEmpty() && replay.bootId == m_journal->BootId();
        if (replay.RunStillTiming() && !sameBoot)
            m_rebootNote = QStringLiteral("Der Rechner wurde seit der letzten Sitzung neu gestartet. Der "
                                          "Lauf, der dabei noch lief, kann nicht fortgesetzt werden und "
                                          "wurde verworfen; bereits eingetragene Zeiten bleiben im "
                                          "Protokoll. Bitte den Lauf wiederholen.");
        else
            ResumeRun(replay);
        RestoreStep("run resumed");
    }
    if (!m_journal || !m_journal->IsOpen() || m_journal->Failed())
        return false;
    JournalRecord done = Record(JournalRecordType::Restored);
    done.fileName = source;
    done.restoreDone = true;
    m_journal->Append(done);
    RestoreStep("restore complete");
    return m_journal->SyncNow() && !m_journal->Failed();
}

void TFormMain::ResumeRun(const JournalReplay& replay)
{
    // The run goes on from its recorded start; lanes that had stopped stop
    // again at their recorded ticks without recording their times a second time.
    m_resumingRun = true;
    // Known before the lanes stop again: a lane stopped with "EL" shows it.
    m_resumeRunColumn = replay.laneRunColumn;
    TriggerCommand(mStart, replay.startTick);
    RestoreStep("run started");
    // The barrier lock counts from the original start as well.
    if (ElapsedTicks(replay.startTick, TickSource().GetTickCount()) >=
        std::uint32_t(TimerGesperrtStart->interval()))
        TimerGesperrtTimer();
    std::array<int, 2> order{0, 1};
    if (replay.laneStopped[0] && replay.laneStopped[1] &&
        ElapsedTicks(replay.startTick, replay.stopTick[1]) <
            ElapsedTicks(replay.startTick, replay.stopTick[0]))
        order = {1, 0};
    for (int laneIndex : order) {
        if (replay.laneStopped.at(laneIndex)) {
            TriggerCommand(laneIndex == 0 ? mSTOP1 : mStop2, replay.stopTick.at(laneIndex));
            RestoreStep("lane stopped");
        }
    }
    // A lane still running counts its time across the downtime: its stop is doubtful.
    for (int lane : {1, 2})
        m_session.MarkTimedAcrossRestart(lane);
    m_resumingRun = false;
}
