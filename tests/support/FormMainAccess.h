#pragma once

#include "TFormMain.h"

// The tests' way to the main window's controls, which the window keeps to
// itself: a window created as TTestFormMain shows them by name, and
// TFormMainTestAccess reaches those of a window the program entry created.
class TFormMainTestAccess
{
public:
    static TFormMainControls& Controls(TFormMain& window) { return window; }
};

class TTestFormMain : public TFormMain
{
public:
    using TFormMain::TFormMain;

    using TFormMainControls::PanelTop;
    using TFormMainControls::bHelp;
    using TFormMainControls::bCFG;
    using TFormMainControls::bInfo;
    using TFormMainControls::Label8;
    using TFormMainControls::Label9;
    using TFormMainControls::Label10;
    using TFormMainControls::PanelDate;
    using TFormMainControls::Panel;
    using TFormMainControls::PanelLL;
    using TFormMainControls::PanelRR;
    using TFormMainControls::sbLoad;
    using TFormMainControls::Label4;
    using TFormMainControls::cbBuhn1;
    using TFormMainControls::seObmen;
    using TFormMainControls::Label7;
    using TFormMainControls::cbBuhn2;
    using TFormMainControls::PanelTimer;
    using TFormMainControls::PanelT1;
    using TFormMainControls::PanelT2;
    using TFormMainControls::PanelTTT2;
    using TFormMainControls::Panel7;
    using TFormMainControls::Panel5;
    using TFormMainControls::PanelLE;
    using TFormMainControls::PanelRI;
    using TFormMainControls::Digit1;
    using TFormMainControls::Digit2;
    using TFormMainControls::bSTART;
    using TFormMainControls::bSTOP1;
    using TFormMainControls::bSTOP2;
    using TFormMainControls::bRESET;
    using TFormMainControls::ImageLSstart;
    using TFormMainControls::ImageLS1;
    using TFormMainControls::ImageLS2;
    using TFormMainControls::PanelTitle;
    using TFormMainControls::sbSave;
    using TFormMainControls::sbCLS;
    using TFormMainControls::sbCLSall;
    using TFormMainControls::cbEditON;
    using TFormMainControls::labEditON;
    using TFormMainControls::sb1;
    using TFormMainControls::sb1del;
    using TFormMainControls::sb2del;
    using TFormMainControls::sb2;
    using TFormMainControls::cbSort;
    using TFormMainControls::LabelSort;
    using TFormMainControls::sbPrint;
    using TFormMainControls::sbWord;
    using TFormMainControls::sbExcel;
    using TFormMainControls::sbInet;
    using TFormMainControls::SortGrid1;
    using TFormMainControls::ComPort;
    using TFormMainControls::TimerReconnect;
    using TFormMainControls::CfgDialog;
    using TFormMainControls::FormInfo;
    using TFormMainControls::StatusPanel0;
    using TFormMainControls::StatusPanel1;
    using TFormMainControls::StatusPanel2;
    using TFormMainControls::Clock;
    using TFormMainControls::TimerDate;
    using TFormMainControls::TimerGesperrtStart;
    using TFormMainControls::mHilfe;
    using TFormMainControls::EinstellunGen1;
    using TFormMainControls::mInfo;
    using TFormMainControls::LockLSstart;
    using TFormMainControls::mStart;
    using TFormMainControls::mReset;
    using TFormMainControls::mSTOP1;
    using TFormMainControls::mStop2;
    using TFormMainControls::LockLS1;
    using TFormMainControls::LockLS21;
    using TFormMainControls::Open1;
    using TFormMainControls::Save1;
    using TFormMainControls::Hilfe1;
    using TFormMainControls::Drucker1;
    using TFormMainControls::Beenden1;
};
