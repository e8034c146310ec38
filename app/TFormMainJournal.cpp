#include "TFormMain.h"

#include "Dialogs.h"
#include "ProtocolLogic.h"
#include "RaceJournal.h"
#include "SessionJournal.h"
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

} // namespace

void TFormMain::CreateJournal()
{
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
    // The race's record is the session's: every command it takes, as it takes it.
    m_sessionJournal = std::make_unique<TSessionJournal>(m_session, m_journal.get());
    m_journal->OnWriteFailed = [this](const QString& text) { statusBar()->showMessage(text); };
    m_journal->OnWriteResumed = [this](const QString& text) { statusBar()->showMessage(text, 10000); };
    m_journal->CurrentState = [this] { return m_sessionJournal->StateRecords(); };
    // A failed journal is tried again now and then even when nothing happens,
    // so the last recorded time is not left out of it until the next one.
    auto* retry = new QTimer(this);
    connect(retry, &QTimer::timeout, this, [this] { m_journal->RetryIfFailed(); });
    retry->start(int(m_journal->RetryInterval.count()));
}

void TFormMain::JournalClosing()
{
    // With unsaved changes the journal stays open, so the next start offers it.
    if (m_sessionJournal)
        m_sessionJournal->Closing();
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
    // A run still going resumes from its recorded start when the machine was
    // not restarted since (its ticks go on); else it is given up, with the
    // times recorded so far kept.
    const bool sameBoot = m_journal && !replay.bootId.isEmpty() && replay.bootId == m_journal->BootId();
    if (replay.RunStillTiming() && !sameBoot)
        m_rebootNote = QStringLiteral("Der Rechner wurde seit der letzten Sitzung neu gestartet. Der "
                                      "Lauf, der dabei noch lief, kann nicht fortgesetzt werden und "
                                      "wurde verworfen; bereits eingetragene Zeiten bleiben im "
                                      "Protokoll. Bitte den Lauf wiederholen.");
    ApplySettings();
    const std::vector<SessionCommand> commands = RestoreCommands(replay, m_session.CurrentRules(), sameBoot);
    // The session is given the journal's commands again; the window shows
    // what they lead to. Nothing given again goes to the journal: the
    // restored state is written to a new one as a whole.
    m_restoring = true;
    m_session.Replay(commands, [this] { RestoreStep("command"); });
    m_restoring = false;
    // Paired or not is this program's setting now, whatever the journal said.
    m_session.SetStationPaired(m_startLink != nullptr);
    RestoreStep("protocol filled");
    m_session.ForgetUndo();
    // A restored race is worth showing on the club's page.
    RaceToPublish();
    // A starter's name edited after the load reaches the lane lists by the
    // grid's edit, which a command given again does not pass.
    RefreshLaneEntries();

    // The window follows the restored rules and view.
    const TRaceSession::Rules& rules = m_session.CurrentRules();
    Settings.ProbeLaufe = rules.probeLaufe;
    Settings.AllLaufe = rules.allLaufe;
    if (rules.laneCount != Settings.CountBahn) {
        Settings.CountBahn = rules.laneCount;
        ApplyLaneLayout();
    }
    cbSort->setChecked(m_session.ShownByPlace());
    RankProtocol();

    const QString fileName = m_session.FileName();
    if (!fileName.isEmpty()) {
        const QFileInfo file(fileName);
        m_saveFileName = ProtocolNameFor(fileName);
        m_fileFolder = file.absolutePath();
        setWindowTitle(QStringLiteral("Quellorix: ") + file.completeBaseName());
    }
    FormResize();
    ShowRestoredRun();
    UpdateCommandStates();
    SortGrid1RowSelected();
    SortGrid1->InvalidateGrid();
    RestoreStep("window set");

    // From here on the restored session has a journal of its own.
    if (!m_sessionJournal || !m_sessionJournal->Begin(source))
        return false;
    RestoreStep("journal begun");
    if (m_journal->Failed())
        return false;
    m_sessionJournal->RestoreDone(source);
    RestoreStep("restore complete");
    return m_journal->SyncNow() && !m_journal->Failed();
}

void TFormMain::ShowRestoredRun()
{
    if (RunIdle())
        return;
    const std::uint32_t now = TickSource().GetTickCount();
    const RunTicks& ticks = m_run.Ticks();
    // The barrier lock counts from the original start.
    if (ElapsedTicks(ticks.start, now) >= std::uint32_t(TimerGesperrtStart->interval()))
        TimerGesperrtTimer();
    for (int lane = 1; lane <= 2; ++lane) {
        if (lane > m_run.LaneCount() || m_run.LaneRunning(lane))
            continue;
        const int col = m_session.LaneRunColumn(lane);
        if (col >= 0 && m_results.Cell(m_session.LaneKey(lane), col) == QStringLiteral("EL"))
            ShowLaneEliminated(lane);
        else
            ShowLaneTime(lane, m_run.Elapsed(lane, now));
    }
    if (m_run.Timing())
        Clock->start();
}
