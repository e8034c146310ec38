#pragma once

#include "TFormMain.h"

#include <memory>

class AppDialogs;

// The program's windows, created in this order and kept until the program
// ends: the main window TFormMain, the settings dialog TCfgDialog, the
// confirmation dialog TFDlgYesNo (behind the program's dialogs) and the
// information dialog TFormInfo.
class TProgramWindows
{
public:
    explicit TProgramWindows(TSystemAccess access = {});
    ~TProgramWindows();

    TProgramWindows(const TProgramWindows&) = delete;
    TProgramWindows& operator=(const TProgramWindows&) = delete;

    TFormMain& FormMain() { return *m_formMain; }

private:
    std::unique_ptr<TFormMain> m_formMain;
    std::unique_ptr<AppDialogs> m_dialogs; // destroyed before the main window
};

// The program entry after the application object exists: the windows, the
// message loop, and the trial start of StartupProbeFile(). Returns the exit code.
int RunProgram();
// The start station's window (--startplatz) until it is closed.
int RunStation();
