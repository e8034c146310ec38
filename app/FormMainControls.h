#pragma once

#include <array>

class QAction;
class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QTimer;
class QToolButton;
class QWidget;
class TBitBtnWithColor;
class TCfgDialog;
class TClickLabel;
class TComPort;
class TDigit;
class TFormInfo;
class TFormScoreboard;
class TSortGrid;
class TStatusBar;

// The main window's controls, named as the window's components. The window
// builds and owns them (through Qt's parent ownership); only the window and the
// tests' access reach them.
struct TFormMainControls
{
    QWidget* PanelTop = nullptr;
    QToolButton* bHelp = nullptr;
    QToolButton* bCFG = nullptr;
    QToolButton* bInfo = nullptr;
    QToolButton* bTafel = nullptr; // the scoreboard on or off (F6)
    // The maker's logo text in three pieces; a click opens the maker's web site.
    TClickLabel* Label8 = nullptr;
    TClickLabel* Label9 = nullptr;
    TClickLabel* Label10 = nullptr;
    QLabel* PanelDate = nullptr;
    QFrame* Panel = nullptr;
    QWidget* PanelLL = nullptr;
    QWidget* PanelRR = nullptr;
    QToolButton* sbLoad = nullptr;
    QLabel* Label4 = nullptr;
    QComboBox* cbBuhn1 = nullptr;
    QToolButton* seObmen = nullptr;
    QLabel* Label7 = nullptr;
    QComboBox* cbBuhn2 = nullptr;

    QFrame* PanelTimer = nullptr;
    QFrame* PanelT1 = nullptr;
    QFrame* PanelT2 = nullptr;
    QFrame* PanelTTT2 = nullptr;
    QFrame* Panel7 = nullptr;
    QWidget* Panel5 = nullptr;
    QWidget* PanelLE = nullptr;
    QWidget* PanelRI = nullptr;
    std::array<TDigit*, 5> Digit1{};
    std::array<TDigit*, 5> Digit2{};
    TBitBtnWithColor* bSTART = nullptr;
    TBitBtnWithColor* bSTOP1 = nullptr;
    TBitBtnWithColor* bSTOP2 = nullptr;
    TBitBtnWithColor* bRESET = nullptr;
    QLabel* ImageLSstart = nullptr;
    QLabel* ImageLS1 = nullptr;
    QLabel* ImageLS2 = nullptr;

    QFrame* PanelTitle = nullptr;
    QToolButton* sbSave = nullptr;
    QToolButton* sbCLS = nullptr;
    QToolButton* sbCLSall = nullptr;
    QToolButton* sbLateEntry = nullptr; // "Starter nachmelden"
    QCheckBox* cbEditON = nullptr;
    TClickLabel* labEditON = nullptr;
    QToolButton* sb1 = nullptr;
    QToolButton* sb1del = nullptr;
    QToolButton* sb2del = nullptr;
    QToolButton* sb2 = nullptr;
    QCheckBox* cbSort = nullptr;
    TClickLabel* LabelSort = nullptr;
    QToolButton* sbPrint = nullptr;
    QToolButton* sbResults = nullptr; // "Liste": the results list (mErgebnisliste)
    QToolButton* sbWord = nullptr;
    QToolButton* sbExcel = nullptr;
    QToolButton* sbInet = nullptr;

    TSortGrid* SortGrid1 = nullptr;
    TComPort* ComPort = nullptr;
    // Looks every second for a lost barrier port's adapter to come back.
    QTimer* TimerReconnect = nullptr;
    TCfgDialog* CfgDialog = nullptr;
    TFormInfo* FormInfo = nullptr;
    TStatusBar* StatusBar1 = nullptr;
    QLabel* StatusPanel0 = nullptr;
    QLabel* StatusPanel1 = nullptr;
    QLabel* StatusPanel2 = nullptr;
    QLabel* PortFault = nullptr; // why the barriers' port did not open, while it doesn't
    // Says that the start barrier is off while the next pair waits for it.
    QLabel* StartBarrierHint = nullptr;

    QTimer* Clock = nullptr;
    QTimer* TimerDate = nullptr;
    const QTimer* TimerGesperrtStart = nullptr; // the session's lock, shown

    // The hidden menu: actions with shortcuts, no menu bar.
    QAction* mHilfe = nullptr;
    QAction* EinstellunGen1 = nullptr;
    QAction* mInfo = nullptr;
    QAction* LockLSstart = nullptr;
    QAction* mStart = nullptr;
    QAction* mReset = nullptr;
    QAction* mSTOP1 = nullptr;
    QAction* mStop2 = nullptr;
    QAction* LockLS1 = nullptr;
    QAction* LockLS21 = nullptr;
    QAction* Open1 = nullptr;
    QAction* Save1 = nullptr;
    QAction* Hilfe1 = nullptr;
    QAction* Drucker1 = nullptr;
    QAction* Beenden1 = nullptr;
    QAction* mTafel = nullptr; // "Anzeigetafel" (F6)
    // Ctrl+E: the results list as PDF, web page or Word document; Ctrl+U: the certificates.
    QAction* mErgebnisliste = nullptr;
    QAction* mErgebnislisteDrucken = nullptr;
    QAction* mUrkunden = nullptr;
    // The audience's scoreboard window and the live results' address in the status bar.
    TFormScoreboard* Scoreboard = nullptr;
    QLabel* LiveAddress = nullptr;
    QAction* mRestoreSession = nullptr; // "Frühere Sitzung wiederherstellen…"
    QAction* mUndo = nullptr;           // "Rückgängig" (Ctrl+Z)
    // Shift+F8 / Shift+F9: a running lane stops with "EL" instead of a time.
    QAction* mEL1 = nullptr;
    QAction* mEL2 = nullptr;
    // Writes the settings a moment after the window was last moved or resized.
    QTimer* TimerSaveBounds = nullptr;
    // Ctrl+B confirms a doubtful time; Ctrl+R takes the last pair's times back.
    QAction* mConfirmTime = nullptr;
    QAction* mRepeatRun = nullptr;
    QAction* mLateEntry = nullptr;
    // The protocol's title "P R O T O K O L L"; it gives way to the tools when the window is narrow.
    QLabel* LabelTitle = nullptr;
};
