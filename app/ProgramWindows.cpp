#include "ProgramWindows.h"

#include "AppDialogs.h"
#include "StartupTrace.h"

#include <QApplication>
#include <QTimer>

TProgramWindows::TProgramWindows(TSystemAccess access)
{
    TraceStep(QStringLiteral("Program.TFormMain"));
    m_formMain = std::make_unique<TFormMain>(std::move(access));
    m_formMain->CreateCfgDialog();
    m_dialogs = std::make_unique<AppDialogs>(m_formMain.get());
    TraceStep(QStringLiteral("Program.TFDlgYesNo"));
    m_formMain->CreateFormInfo();
    SetDialogs(m_dialogs.get());
}

TProgramWindows::~TProgramWindows()
{
    SetDialogs(nullptr);
}

int RunProgram()
{
    const QString probe = StartupProbeFile();
    int result = 0;
    {
        TProgramWindows windows;
        windows.FormMain().show();
        if (!probe.isEmpty())
            QTimer::singleShot(0, &windows.FormMain(), &QWidget::close);
        result = QApplication::exec();
        TraceStep(QStringLiteral("Program.MessageLoopEnded"));
    }
    if (!probe.isEmpty() && !WriteTrace(probe))
        return 1;
    return result;
}
