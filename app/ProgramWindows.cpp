#include "ProgramWindows.h"

#include "TFormStation.h"

#include <QDir>
#include <QStandardPaths>

#include "AppDialogs.h"
#include "OnlinePublisher.h"
#include "RaceJournal.h"
#include "StartupTrace.h"

#include <QApplication>
#include <QTimer>

TProgramWindows::TProgramWindows(TSystemAccess access)
{
    TraceStep(QStringLiteral("Program.TFormMain"));
    // Dialogs handed in (a test's) stay; otherwise the program's own.
    const bool ownDialogs = access.Dialogs == nullptr;
    m_formMain = std::make_unique<TFormMain>(std::move(access));
    m_formMain->CreateCfgDialog();
    if (ownDialogs)
        m_dialogs = std::make_unique<AppDialogs>(m_formMain.get());
    TraceStep(QStringLiteral("Program.TFDlgYesNo"));
    m_formMain->CreateFormInfo();
    if (m_dialogs)
        SetDialogs(m_dialogs.get());
}

TProgramWindows::~TProgramWindows()
{
    if (m_dialogs)
        SetDialogs(nullptr);
}

int RunProgram()
{
    const QString probe = StartupProbeFile();
    int result = 0;
    {
        TSystemAccess access;
        access.JournalFolder = DefaultJournalFolder();
        TProgramWindows windows(std::move(access));
        windows.FormMain().show();
        // A trial start asks nothing; a real one offers a session that ended unsaved.
        if (!probe.isEmpty())
            QTimer::singleShot(0, &windows.FormMain(), &QWidget::close);
        else
            windows.FormMain().RestoreLastSession();
        result = QApplication::exec();
        TraceStep(QStringLiteral("Program.MessageLoopEnded"));
    }
    // Uploads let go end within moments once told to; none may still run while the
    // application object goes. Bounded: a host or keyring that hangs doesn't hold the exit.
    OnlinePublisher::WaitForThreads(QDeadlineTimer(2000));
    if (!probe.isEmpty() && !WriteTrace(probe))
        return 1;
    return result;
}

int RunStation()
{
    TStationAccess access;
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    if (QDir().mkpath(folder))
        access.OutboxFile = QDir(folder).filePath(QStringLiteral("startplatz-starts.bin"));
    TFormStation station(std::move(access));
    station.show();
    return QApplication::exec();
}
