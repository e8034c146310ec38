#include "TFormMain.h"

#include "HelpWindow.h"
#include "OfficeClasses.h"
#include "ProtocolLogic.h"
#include "SerialPorts.h"
#include "StartupTrace.h"
#include "TCfgDialog.h"
#include "TClickLabel.h"
#include "TComPort.h"
#include "TFormInfo.h"
#include "TSortGrid.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSoundEffect>
#include <QTimer>
#include <QToolButton>

// Start-up and shut-down of the main window, step by step in their fixed order.
// Each step leaves a line in the start-up trace.

void TFormMain::FormCreate()
{
    const QString title = QStringLiteral("Quellorix");
    setWindowTitle(title + QStringLiteral(" 2.7"));
    TraceStep(QStringLiteral("FormCreate.1"), windowTitle());

    m_programFiles = ProgramFilesOf(QCoreApplication::applicationFilePath());
    TraceStep(QStringLiteral("FormCreate.2"), QStringLiteral("Tarnvik/") + m_programFiles.SettingsName);

    WordTemplatePath = m_programFiles.WordTemplate;
    TraceStep(QStringLiteral("FormCreate.3"), WordTemplatePath);

    labEditON->setText(QStringLiteral("Ä") + labEditON->text());
    TraceStep(QStringLiteral("FormCreate.4"), labEditON->text());

    m_fileTypes = ReadFileTypeDescriptions(SystemFileTypeReader());
    TraceStep(QStringLiteral("FormCreate.5"));

    ReadStoredSettings();
    TraceStep(QStringLiteral("FormCreate.6"));

    m_fileFilters = BuildFileFilters(m_fileTypes, OleClassAvailable(QStringLiteral("Excel.Application")));
    // Both dialogs start with the file type last chosen for saving.
    TraceStep(QStringLiteral("FormCreate.7"), m_fileFilters.Save.join(QLatin1Char('|')));

    ApplyLaneLayout();
    TraceStep(QStringLiteral("FormCreate.8"), QString::number(Settings.CountBahn));

    m_lastSelectedCol = 0;
    TraceStep(QStringLiteral("FormCreate.9"));

    const QString startSound = QDir::current().absoluteFilePath(QStringLiteral("Start.wav"));
    m_soundOn = QFileInfo::exists(startSound);
    if (m_soundOn) {
        m_startSound = new QSoundEffect(this);
        m_startSound->setSource(QUrl::fromLocalFile(startSound));
        m_stopSound = new QSoundEffect(this);
        m_stopSound->setSource(
            QUrl::fromLocalFile(QDir::current().absoluteFilePath(QStringLiteral("Stop.wav"))));
    }
    TraceStep(QStringLiteral("FormCreate.10"),
              m_soundOn ? QStringLiteral("Töne an") : QStringLiteral("Töne aus"));

    sbCLSall->setToolTip(QStringLiteral("Protokoll  löschen"));
    sbLoad->setToolTip(QStringLiteral("[Ctrl+O] Starterliste öffnen"));
    TraceStep(QStringLiteral("FormCreate.11"));

    m_help = std::make_unique<THelpViewer>(m_programFiles.HelpFile, this,
                                           [this](const QUrl& url) { return OpenUrl(url); });
    bHelp->setEnabled(m_help->Available());
    TraceStep(QStringLiteral("FormCreate.12"),
              m_programFiles.HelpFile + (m_help->UsesHelpFile() ? QStringLiteral(" (Hilfedatei)")
                                         : m_help->Available()  ? QStringLiteral(" (Handbuch im Programm)")
                                                                : QStringLiteral(" (keine Hilfe)")));

    m_portsFound = m_access.ScanPorts ? m_access.ScanPorts() : ScanPorts();
    TraceStep(QStringLiteral("FormCreate.13"), QString::number(m_portsFound, 16));

    InitFileDialogs();
    TraceStep(QStringLiteral("FormCreate.14"),
              m_saveFileName + QStringLiteral(" Webseite ") + m_programFiles.WebPage);

    TimerDateTimer();
    TraceStep(QStringLiteral("FormCreate.15"));

    OpenConfiguredPort();
    TraceStep(QStringLiteral("FormCreate.16"), QString::number(ComPort->Port()));

    const QStringList headers = ProtocolHeaders();
    for (int c = 0; c < headers.size(); ++c)
        SortGrid1->SetCells(c, 0, headers.at(c));
    TraceStep(QStringLiteral("FormCreate.17"));

    ShowLaneTime(1, 0);
    ShowLaneTime(2, 0);
    UpdateCommandStates();
    TraceStep(QStringLiteral("FormCreate.18"));

    for (QLabel* image : {ImageLSstart, ImageLS1, ImageLS2})
        ShowBarrierPicture(image);
    TraceStep(QStringLiteral("FormCreate.19"));

    TraceStep(QStringLiteral("FormCreate.20"));
    FormResize();
    // Step 21, the pointer onto the load button, follows when the window is first shown.
}

void TFormMain::CreateCfgDialog()
{
    if (CfgDialog)
        return;
    CfgDialog = new TCfgDialog(m_portsFound, this);
    CfgDialog->SetPortNotes([this](int port) { return PortNotes(port); });
    if (m_access.PortAccessProblem)
        CfgDialog->SetPortProblems(m_access.PortAccessProblem);
    CfgDialog->SetConnectionCheck(
        [this](const QString& folder, const QString& user, const QString& password) {
            CheckOnlineConnection(folder, user, password);
        });
    CfgDialog->SetOnlineAcceptCheck([this](QString& folder, const QString& user, QString& password) {
        return AcceptOnlineSettings(folder, user, password);
    });
    TraceStep(QStringLiteral("Program.TCfgDialog"), CfgDialog->windowTitle());
}

void TFormMain::CreateFormInfo()
{
    if (FormInfo)
        return;
    FormInfo = new TFormInfo(this);
    TraceStep(QStringLiteral("Program.TFormInfo"), FormInfo->windowTitle());
}

void TFormMain::FormDestroy()
{
    WriteStoredSettings();
    TraceStep(QStringLiteral("FormDestroy.1"), QStringLiteral("Einstellungen geschrieben"));
    ComPort->Close();
    TraceStep(QStringLiteral("FormDestroy.2"), QStringLiteral("Port geschlossen"));
    if (m_help)
        m_help->CloseAll();
    TraceStep(QStringLiteral("FormDestroy.3"), QStringLiteral("Hilfefenster geschlossen"));
}
