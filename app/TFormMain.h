#pragma once

#include "BarrierLine.h"
#include "FileTypes.h"
#include "FormMainControls.h"
#include "OnlinePublisher.h"
#include "ProgramFiles.h"
#include "ProtocolReport.h"
#include "ProtocolText.h"
#include "RaceSession.h"
#include "ResultsJson.h"
#include "ResultsList.h"
#include "ResultsModel.h"
#include "ResultsPrint.h"
#include "RunCycle.h"
#include "SerialDevice.h"
#include "SortCompare.h"
#include "TColor.h"
#include "TFormScoreboard.h"
#include "TSettings.h"

#include <QHash>
#include <QMainWindow>
#include <QSet>
#include <QSettings>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <tuple>
#include <vector>

class QAction;
class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QPrinter;
class QSoundEffect;
class QTimer;
class QUrl;
class QToolButton;
class QWidget;
class TBitBtnWithColor;
class TCfgDialog;
class TComPort;
class TClickLabel;
class TDigit;
class TRaceJournal;
class TSessionJournal;
struct JournalFinding;
struct JournalRecord;
struct JournalReplay;
enum class JournalCellChange : std::uint8_t;
class TFormInfo;
class TLiveServer;
class TFinishStartLinkPort;
struct StartLinkDatagram;
class THelpViewer;
class TSortGrid;
struct TFormatOptions;

// Face colours of the command buttons by run state (idle buttons: clBtnFace).
inline constexpr TColor StartAvailableColor = RGBColor(0, 128, 0);
inline constexpr TColor LaneRunningColor = RGBColor(255, 0, 0);
inline constexpr TColor ResetDueColor = RGBColor(0, 0, 0);
// Text of the protocol rows of the starters on the lanes; when such a row is
// also the selected one (on a dark selection colour), a colour readable there.
inline constexpr TColor LaneRowColor = RGBColor(255, 0, 0);
inline constexpr TColor SelectedLaneRowColor = RGBColor(255, 255, 0);
// Background of a doubtful time until it is confirmed or edited.
inline constexpr TColor UnconfirmedTimeColor = RGBColor(255, 165, 0);

// The row counter of the status bar: "Zeile 1 von 40".
inline QString RowCounterText(int row, int rowCount)
{
    return QStringLiteral("Zeile %1 von %2").arg(row).arg(rowCount);
}

// Shown when Ctrl+O comes while a run is going (from START until "0,00").
inline const QString LoadRefusedMessage =
    QStringLiteral("Starterliste laden ist während eines Laufs gesperrt – erst nach „0,00“ möglich.");

class IDialogs;
class IPasswordStore;
class KeyPressTicks;
class IPrintDialogs;
class ITickSource;

// What the window takes from the system: the one place where tests put their
// stand-ins, so that no test reads the user's settings, touches a serial
// device, waits for the real clock or opens a real dialog.
struct TSystemAccess
{
    std::function<std::unique_ptr<QSettings>()> OpenSettings = OpenSettingsKey;
    std::function<std::uint32_t()> ScanPorts; // empty: scan the system's ports
    // What keeps this user from a COM number's port; empty: the system is asked.
    std::function<QString(int)> PortAccessProblem;
    SerialDeviceFactory DeviceFactory;         // empty: the system's serial device
    QString SerialByIdFolder;                  // empty: /dev/serial/by-id
    std::function<bool(const QUrl&)> OpenUrl;  // empty: the desktop's program for the file
    std::shared_ptr<IPasswordStore> Passwords; // empty: the desktop's keyring
    QString JournalFolder;                     // empty: no race journal
    std::function<QString()> BootId;           // empty: the system's boot id
    // Called at each step of restoring a session (tests stop a child there).
    std::function<void(const QString&)> RestoreStep;
    // Microseconds on the session's tick base for the start station's link
    // (ticks × 1000 and finer); empty: the monotonic clock the ticks come from.
    std::function<qint64()> StartLinkClock;
    // The clock, the message and file dialogs and the print dialogs; empty: the
    // system's. The window installs them for its lifetime, so that everything
    // in it (the barrier threads, the grid, the dialogs it opens) uses them too.
    ITickSource* Ticks = nullptr;
    IDialogs* Dialogs = nullptr;
    IPrintDialogs* PrintDialogs = nullptr;
};

// Installs the clock and dialogs a TSystemAccess names, and puts the system's
// back when it ends.
class TInstalledSeams
{
public:
    explicit TInstalledSeams(const TSystemAccess& access);
    ~TInstalledSeams();
    TInstalledSeams(const TInstalledSeams&) = delete;
    TInstalledSeams& operator=(const TInstalledSeams&) = delete;

private:
    // What it installed; read by the windows made after it, when it ends.
    ITickSource* m_ticks = nullptr;
    IDialogs* m_dialogs = nullptr;
    IPrintDialogs* m_printDialogs = nullptr;
};

// The program's working window. The race is its TRaceSession: the protocol,
// the run and the lanes. The window gives the session its commands (from
// buttons, keys and light barriers), shows the protocol in SortGrid1 and the
// lanes in their starter lists, and derives every enabled flag from the
// session's state.
class TFormMain : public QMainWindow, protected TFormMainControls
{
    Q_OBJECT

    // Tests reach the controls through tests/support/FormMainAccess.h.
    friend class TFormMainTestAccess;

public:
    // The settings' rules to the session, as one command: at start-up and when
    // the settings dialog closes with OK (a lane count waits for "0,00").
    void ApplySettings();
    explicit TFormMain(TSystemAccess access = {}, QWidget* parent = nullptr);
    ~TFormMain() override;

    // The stored settings as the program uses them (lane count, test runs, port ...).
    TStoredSettings Settings;

    // Commands, as their menu items would give them: a disabled one does nothing.
    // A trigger may bring the tick at which it happened (a light barrier's edge);
    // otherwise the command reads the tick at once.
    void TriggerCommand(QAction* command, std::optional<std::uint32_t> tick = std::nullopt);

    // Protocol (results and ranking).
    // A lane time that found no starter: journalled and named in the status bar.
    void KeepUnplacedTime(int lane, const QString& identity, const QString& timeText);
    void RankProtocol();
    // "2 Zeiten warten auf Bestätigung (Strg+B)." for the status bar.
    QString UnconfirmedCountText() const;
    // The grid's rows in the protocol's order (after a ranking).
    void ShowSessionOrder();
    // Names in the status bar, once, a class that is written in more than one way.
    void NoteClassSpellings();
    // Every enabled flag and colour that follows the race, from the run cycle,
    // the lanes and the protocol. Nothing reads a widget's flag back as race state.
    void UpdateCommandStates();
    // No run from START until "0,00": loads, settings, deletions and undo may go.
    bool RunIdle() const { return m_run.State() == RunState::Ready; }
    // The START button's rule: idle, a starter on lane 1 and, with two lanes,
    // a different one on lane 2. The start command itself is gated by RunIdle.
    bool StartAvailable() const;
    // A protocol with at least one starter: saving, printing and exports.
    bool HasProtocol() const;
    // The spreadsheet (or, with word, the document) export can be given now.
    bool OfficeExportAvailable(bool word) const;
    void ApplyLaneLayout();
    void ShowLaneTime(int lane, int ms);
    // "EL" on the lane's digits, until the next ShowLaneTime.
    void ShowLaneEliminated(int lane);
    // The digits' comma and "100", hidden while they say "EL" or show whole seconds.
    void ShowLaneComma(int lane, bool shown);

    // The protocol row of a lane's selected starter, or -1.
    int LaneRow(int lane) const;
    // Shows the lane lists and puts the lanes on the first two starters.
    void FillLaneLists();

    // Light-barrier images: tag 1 = on, 0 = off.
    void ImageLSClick(QLabel* image);
    // 1 the start barrier, 2 and 3 the finish barriers of lanes 1 and 2.
    int BarrierOf(const QLabel* image) const;
    bool BarrierOn(const QLabel* image) const;
    // The barrier pictures as the session's barriers stand.
    void ShowBarriers();

    // Light barriers on the serial port.
    void ComPortCTS();
    void ComPortDSR();
    void ComPortRLSD();
    // Line 1 (start), 2 or 3 (finish of lane 1 or 2) changed: to the session.
    void BarrierLineChanged(int line);
    void TimerGesperrtTimer();
    void ComPortOpen();
    void ComPortClose();
    void bCFGClick();
    std::uint32_t PortsFound() const { return m_portsFound; }

    // Protocol files.
    void sbSaveClick();
    void sbLoadClick();
    // Loads a starter list or protocol; false (after a message) when the file
    // can't be read, with the protocol and lane lists left as they were.
    bool LoadStarterList(const QString& fileName);
    QStringList OpenFilters() const;
    QStringList SaveFilters() const;
    // The protocol with its header, as the file writers take it.
    ProtocolTable ProtocolRows() const;
    // The same with the shown columns only (the hidden load order left out), at most colCount.
    ProtocolTable ShownProtocolRows(int colCount, bool startOrder = false) const;

    // Office files. ExportExcel: an empty name writes a new workbook to the
    // cache folder and opens it with the desktop's spreadsheet program, a name
    // saves there. ImportExcel: loads the first worksheet as the protocol.
    // ExportWord: builds the document from WordTemplatePath; mode 0 saves and
    // opens it, mode 1 saves quietly. Each shows a German message and returns
    // false when it fails, leaving the protocol as it was.
    bool ExportExcel(const QString& fileName);
    bool ImportExcel(const QString& fileName);
    bool ExportWord(int mode, const QString& fileName);
    void sbExcelClick();
    void sbWordClick();
    // The Word template: "Protokollvorlage.docx" in the program folder (set at start-up).
    QString WordTemplatePath;

    // Race journal (TFormMainJournal.cpp). The start-up step after construction:
    // offers each session that ended with unsaved changes, newest first.
    void RestoreLastSession();
    // The same from the window ("Frühere Sitzung wiederherstellen…"); false at start-up.
    void OfferSessions(bool atStart);
    TRaceJournal* Journal() const { return m_journal.get(); }

    // Web page and printing. sbInetClick: tag 0 writes the page next to the
    // program's name in the current folder and opens it, tag 1 prints.
    bool WriteWebPage(const QString& fileName);
    void sbInetClick(int tag);
    void Drucker1Click();
    // The protocol as the web page and the printout show it.
    ProtocolReport ReportOfProtocol() const;
    // The results list and the certificates, from the results model (never
    // the grid): asked for a file, written off the window's thread.
    ResultsList ResultsOfProtocol() const;
    void mErgebnislisteClick();
    void mErgebnislisteDruckenClick();
    void mUrkundenClick();
    // Before a list or certificates are written (verb "schreiben") or printed:
    // asks whether to go on when doubtful times of counted runs still wait
    // for Ctrl+B, since their starters go without a place. True when none wait.
    bool MayListWithoutWaitingTimes(const QString& verb);
    // A results list or certificates written: named in the status bar and opened.
    void ShowWrittenFile(const QString& fileName);
    // The printer the set-up chose; landscape until the user changes it.
    QPrinter& Printer();

    // Help, information and the maker's web site.
    void bHelpClick();
    void bInfoClick();
    void Label8Click();
    // Hands a web address or document to the desktop (through the system access).
    bool OpenUrl(const QUrl& url);
    THelpViewer& Help() const { return *m_help; }
    // The dialogs the program entry creates after the main window (each only once).
    void CreateCfgDialog();
    void CreateFormInfo();
    // Names that follow the program file, fixed at start-up.
    const TProgramFiles& ProgramFiles() const { return m_programFiles; }
    const TFileTypeDescriptions& FileTypeDescriptions() const { return m_fileTypes; }

    int LaneRunColumn(int lane) const { return m_session.LaneRunColumn(lane); }
    // A doubtful time (below the minimum, or far from its run and class) that the
    // operator has neither confirmed nor edited yet.
    bool TimeUnconfirmed(int col, int row) const;
    // The race: its protocol, run and lanes.
    const TRaceSession& Session() const { return m_session; }
    const TRunCycle& RunCycle() const { return m_run; }
    const TResultsModel& Results() const { return m_results; }
    bool SoundOn() const { return m_soundOn; }

    // Live results and the scoreboard (TFormMainLive.cpp). The server runs
    // while Settings.LivePort is set; both show what the protocol and the
    // lanes hold, within one turn of the event loop after each change.
    void ApplyLiveSettings();
    void ApplyOnlineSettings();
    void StoreOnlinePassword(const QString& password);
    std::shared_ptr<IPasswordStore> Passwords() const;
    // "Verbindung prüfen" in the settings: writes a small file into the folder and
    // says in German what went wrong; an SFTP host not yet known is asked about.
    void CheckOnlineConnection(const QString& folder, const QString& user, const QString& password);
    // The settings' OK for the web host: refuses an address it can't upload to, warns before
    // a password goes unencrypted, and takes a password out of the address (it goes to the
    // keyring with the typed one). False: the dialog stays open.
    bool AcceptOnlineSettings(QString& folder, const QString& user, QString& password);
    // Asked before a login crosses the network unencrypted; true: go on.
    bool LoginInClearAccepted(QWidget* parent, const QUrl& folder, const QString& user,
                              const QString& password, const QString& action);
    void mTafelClick();
    // What the spectators see now.
    LiveSnapshot LiveView() const;
    std::array<ScoreboardLane, 2> ScoreboardLanes() const;
    QList<ScoreboardClass> ScoreboardStandings() const;
    // The live server, or nullptr while it is off.
    const TLiveServer* LiveServer() const { return m_live.get(); }
    // The uploader to the club's web host, or nullptr while it is off.
    const OnlinePublisher* Online() const { return m_online.get(); }

    // The start station at the top of the track (TFormMainStartStation.cpp):
    // while Settings.StartplatzPort is set the finish listens for it, the
    // session takes its starts, and the station is told the pair, the run and
    // the start barrier.
    void ApplyStartLinkSettings();
    const TFinishStartLinkPort* StartLink() const { return m_startLink.get(); }

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void CreateTopBar(QWidget* parent);
    void CreateLaneBar(QWidget* parent);
    void CreateTimerArea(QWidget* parent);
    void CreateProtocolTitle(QWidget* parent);
    void CreateProtocolGrid(QWidget* parent);
    void CreateHiddenMenu();
    bool FilterEvent(QObject* watched, QEvent* event);
    void CreateComPort(const SerialDeviceFactory& deviceFactory);
    void FormCreate();
    void FormDestroy();
    void ConnectHelpCommands();
    QWidget* CreateLogo(QWidget* parent);
    void ReadStoredSettings();
    void WriteStoredSettings();
    void OpenConfiguredPort();
    void ComPortDeviceLost(const QString& reason);
    void TimerReconnectTimer();
    QStringList PortNotes(int port) const;
    // Shows why the barriers' port did not open (empty: it is open or none is
    // chosen) in the status bar and on the barrier pictures, until it is mended.
    void ShowPortFault(const QString& reason);
    void ShowBarrierPicture(QLabel* image);
    void UpdateStartBarrierHint();
    // Said when a finish barrier's edge started the run.
    static QString FinishStartNote(int lane);
    QString ByIdFolder() const;
    void InitFileDialogs();
    // Both file dialogs start there from now on, and after the next start too.
    void RememberFileFolder(const QString& folder);
    // The save dialog until a file may be written: the name chosen with the
    // ending withEnding(chosen name, chosen entry) gives it; an existing file
    // only after "Ersetzen?", unless the dialog itself asked about that very
    // name. Empty when cancelled; filterIndex is the entry chosen.
    QString ChooseFileToWrite(const QString& title, const QString& proposal, const QStringList& filters,
                              int& filterIndex,
                              const std::function<QString(const QString&, int)>& withEnding);
    // The save dialog's proposal after a load: beside the list, under a name of its own.
    static QString ProtocolNameFor(const QString& loadedFile);
    // Makes the data rows (and a header, when given) the protocol: the session
    // takes them, the grid and the lane lists show them. New rows are numbered
    // in load order; restored ones keep their numbers (keepLoadOrder). False
    // (said in the status bar) while a run is going: a light barrier may have started
    // one while the file was read.
    // fileName: the list the rows came from (the journal names it).
    bool FillProtocol(const ProtocolTable& rows, const QStringList* header = nullptr,
                      bool keepLoadOrder = false, const QString& fileName = {});
    // The steps after a load that depend on the new rows: ranking, lane lists, caption.
    void FinishLoad(const QString& fileName);
    QFrame* CreateDigitPanel(QWidget* parent, std::array<TDigit*, 5>& digits);
    QWidget* CreateLaneStopPanel(QWidget* parent, int lane, QLabel*& image, TBitBtnWithColor*& button);

    // Run cycle.
    // The start and the stops take the tick of their trigger: a light barrier's
    // edge, a restored run's journal, or the moment a key or button was pressed.
    void mStartClick(std::uint32_t tick);
    // A run started, by a command or a light barrier: the window follows.
    void SessionRunStarted();
    void mSTOPClick(int laneIndex, std::uint32_t tick);
    // The tick of a run command's trigger: when its key was pressed, else now.
    std::uint32_t CommandTick(bool stop) const;
    // Stops a running lane with "EL" instead of a time (Shift+F8, Shift+F9).
    void mELClick(int laneIndex, std::uint32_t tick);
    void StopLane(int laneIndex, bool eliminated, std::uint32_t tick);
    // What the session reports, shown.
    void ConnectSession();
    void SessionLaneStopped(int lane, int ms, const QString& key, int col);
    void SessionTimeDoubtful(const QString& key, int col, const QString& why);
    // The grid shows the session's protocol anew (after a load, a deletion,
    // a clearing or an undo), keeping the selected row where it can.
    void ShowProtocol();
    // The lane lists show the session's start order, and the lanes its choice.
    void ShowLaneLists();
    void ShowLanes();
    // The grid row of a starter, or -1.
    int RowOf(const QString& key) const;
    void AfterLaneStop();
    void mResetClick();
    void ClockTimer();
    TBitBtnWithColor* StopButton(int lane) const;
    QAction* StopCommand(int lane) const;
    void PlaySound(QSoundEffect* sound);

    // Protocol.
    void SortGrid1GetCellFormat(int col, int row, TFormatOptions& format);
    void SortGrid1RowSelected();
    // Edits in the protocol: run times checked, lane entries and places kept up to date.
    void SortGrid1CellValidate(int col, QString& newValue, bool& valid);
    void RefreshLaneEntries();
    // Scrolls the protocol so that the rows of the starters on the lanes are in view.
    void ShowLaneRows();
    // A protocol cell changed by the program or the operator: an edit command
    // to the session, and the grid shows what the session holds.
    void SetProtocolCell(int col, int row, const QString& text);
    // The load-order numbers of the grid's rows, top to bottom.
    void CreateLive();
    void CreateStartLink();
    void StationStartArrived(const StartLinkDatagram& start);
    void SendFinishStatus();
    void ShowStartLinkState();
    void ShowPendingStops();
    void ScheduleLiveUpdate();
    // From now on the web host gets every state, an empty protocol too.
    void RaceToPublish();
    void UpdateLive();
    // The starter (load-order number) a grid row shows: the one thing read
    // from the grid, whose rows are the protocol's in the order shown.
    QString RowKey(int row) const;
    // A protocol cell of a grid row, as the results model holds it.
    QString ProtocolCell(int col, int row) const;
    QStringList ProtocolRowCells(int row) const;
    // The lane entries of one starter (by load order) after an edit of his data.
    void RefreshLaneEntry(const QString& identity);
    void SortGrid1DblClick();
    void sb1Click(int tag);
    void sb1delClick(int tag);
    void sbCLSClick(int tag);
    // "Rückgängig" (TFormMainUndo.cpp).
    void CreateUndo();
    void UndoLast();
    void cbSortClick();
    void cbEditONClick();
    void labEditONClick();

    // Window.
    void cbBuhnChange();
    void seObmenClick();
    void TimerDateTimer();
    void FormResize();
    // The width a text column's header and contents need.
    int TextColumnNeed(int col) const;
    // A run column's width once it holds times.
    static constexpr int kRunColumnWidth = 60;
    // ... and while it holds none, or lies beyond the runs of the day.
    static constexpr int kNarrowRunColumnWidth = 24;
    bool RunColumnEmpty(int col) const;
    void PanelResize();
    void FitProtocolTitle();
    void Panel7Resize();
    bool FormCloseQuery();

    static void SetButtonColor(TBitBtnWithColor* button, TColor color);

    // The race journal: the session's record (TSessionJournal) in a file.
    void CreateJournal();

    // Doubtful times and repeated runs (TFormMainPlausibility.cpp).
    void mConfirmTimeClick();
    void mRepeatRunClick();
    // "Starter nachmelden" (Strg+N): a starter who registers on race day.
    void mLateEntryClick();
    void JournalClosing();
    QString SessionQuestion(const JournalFinding& found) const;
    void RestoreSession(const JournalFinding& found);
    void RestoreStep(const char* step);
    // True when the restored state is complete in the new journal and on the disk.
    bool ApplyJournalReplay(const JournalReplay& replay, const QString& source);
    // A restored run: its lanes' digits, the clock and the barrier lock.
    void ShowRestoredRun();

    // First of the members: the clock and dialogs are in place before anything
    // else is made, and stay until everything else is gone.
    TInstalledSeams m_seams;
    TRaceSession m_session;
    // What the window reads of the race; every change goes through m_session.
    const TRunCycle& m_run = m_session.Run();
    const TResultsModel& m_results = m_session.Results();
    // The run's ticks as the journal records them.
    const std::uint32_t& m_startTick = m_run.Ticks().start;
    const std::array<std::uint32_t, 2>& m_stopTick = m_run.Ticks().stop;
    TProgramFiles m_programFiles;
    TFileTypeDescriptions m_fileTypes;
    TFileFilters m_fileFilters;
    std::unique_ptr<THelpViewer> m_help;
    bool m_soundOn = false;
    QSoundEffect* m_startSound = nullptr;
    QSoundEffect* m_stopSound = nullptr;
    int m_lastSelectedCol = 0;
    TSystemAccess m_access;
    CertificateOptions m_certificateOptions; // as last chosen for "Urkunden"
    QSet<QString> m_notedClassSpellings;     // class spellings already named in the status bar
    std::uint32_t m_portsFound = 0;
    bool m_shownOnce = false;
    QString m_saveFileName; // proposed by the save dialog
    QString m_fileFolder;   // where both file dialogs start
    class OfficeBusy;
    bool m_officeBusy = false; // X or W is writing: further clicks are dropped
    std::unique_ptr<QPrinter> m_printer;
    // The last row found for each lane's starter; checked before it is trusted.
    mutable std::array<int, 2> m_laneRowHint{-1, -1};
    std::array<int, 2> m_shownLanePositions{-1, -1}; // the lanes the lists last showed
    std::unique_ptr<TRaceJournal> m_journal;
    std::unique_ptr<TSessionJournal> m_sessionJournal;
    std::unique_ptr<KeyPressTicks> m_keyTicks; // when the run commands' keys were pressed
    // Live results and the scoreboard (TFormMainLive.cpp).
    std::unique_ptr<TLiveServer> m_live;
    // Uploads to the club's web host while Settings.OnlineZiel is set.
    std::unique_ptr<OnlinePublisher> m_online;
    // The race has something to show (a list, a restore, a time, a cleared protocol):
    // until then the host keeps the results it has, such as yesterday's.
    bool m_raceToPublish = false;
    QLabel* OnlineState = nullptr;
    std::unique_ptr<TFinishStartLinkPort> m_startLink;
    QLabel* StartLinkState = nullptr;
    std::array<QLabel*, 2> StartPending{};
    QString m_portFault;
    QString m_onlinePassword; // typed in the settings this session; else the keyring's

    QTimer* m_liveUpdate = nullptr;
    bool m_restoring = false; // a journal is being replayed
    QString m_rebootNote;     // shown once a restore is complete
    // Lane times that found no starter in this session: lane, starter's load order, time.
};
