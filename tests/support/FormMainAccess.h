#pragma once

#include "ProtocolLogic.h"
#include "TFormMain.h"
#include "TSortGrid.h"

// The tests' way to the main window's controls, which the window keeps to
// itself: a window created as TTestFormMain shows them by name, and
// TFormMainTestAccess reaches those of a window the program entry created.
class TFormMainTestAccess
{
public:
    static TFormMainControls& Controls(TFormMain& window) { return window; }
    static void FillProtocol(TFormMain& window, const ProtocolTable& rows)
    {
        window.FillProtocol(rows, nullptr, true);
    }
    static void SetProtocolCell(TFormMain& window, int col, int row, const QString& text)
    {
        window.SetProtocolCell(col, row, text);
    }
    // Unsaved changes as a test needs them: none (as after a save), or some
    // (the first starter's club written again, as an edit would).
    static void SetUnsaved(TFormMain& window, bool unsaved)
    {
        TRaceSession& session = window.m_session;
        if (!unsaved) {
            session.MarkSaved();
        } else if (!session.StartOrder().isEmpty()) {
            const QString key = session.StartOrder().constFirst();
            const QString club = session.Results().Cell(key, ColVerein);
            session.Edit(key, ColVerein, club + QStringLiteral("+"));
            session.Edit(key, ColVerein, club);
        }
    }
};

class TTestFormMain : public TFormMain
{
public:
    using TFormMain::TFormMain;

    using TFormMainControls::bCFG;
    using TFormMainControls::Beenden1;
    using TFormMainControls::bHelp;
    using TFormMainControls::bInfo;
    using TFormMainControls::bRESET;
    using TFormMainControls::bSTART;
    using TFormMainControls::bSTOP1;
    using TFormMainControls::bSTOP2;
    using TFormMainControls::bTafel;
    using TFormMainControls::cbBuhn1;
    using TFormMainControls::cbBuhn2;
    using TFormMainControls::cbEditON;
    using TFormMainControls::cbSort;
    using TFormMainControls::CfgDialog;
    using TFormMainControls::Clock;
    using TFormMainControls::ComPort;
    using TFormMainControls::Digit1;
    using TFormMainControls::Digit2;
    using TFormMainControls::Drucker1;
    using TFormMainControls::EinstellunGen1;
    using TFormMainControls::FormInfo;
    using TFormMainControls::Hilfe1;
    using TFormMainControls::ImageLS1;
    using TFormMainControls::ImageLS2;
    using TFormMainControls::ImageLSstart;
    using TFormMainControls::labEditON;
    using TFormMainControls::Label10;
    using TFormMainControls::Label4;
    using TFormMainControls::Label7;
    using TFormMainControls::Label8;
    using TFormMainControls::Label9;
    using TFormMainControls::LabelSort;
    using TFormMainControls::LabelTitle;
    using TFormMainControls::LiveAddress;
    using TFormMainControls::LockLS1;
    using TFormMainControls::LockLS21;
    using TFormMainControls::LockLSstart;
    using TFormMainControls::mConfirmTime;
    using TFormMainControls::mEL1;
    using TFormMainControls::mEL2;
    using TFormMainControls::mErgebnisliste;
    using TFormMainControls::mErgebnislisteDrucken;
    using TFormMainControls::mHilfe;
    using TFormMainControls::mInfo;
    using TFormMainControls::mLateEntry;
    using TFormMainControls::mRepeatRun;
    using TFormMainControls::mReset;
    using TFormMainControls::mRestoreSession;
    using TFormMainControls::mStart;
    using TFormMainControls::mSTOP1;
    using TFormMainControls::mStop2;
    using TFormMainControls::mTafel;
    using TFormMainControls::mUndo;
    using TFormMainControls::mUrkunden;
    using TFormMainControls::Open1;
    using TFormMainControls::Panel;
    using TFormMainControls::Panel5;
    using TFormMainControls::Panel7;
    using TFormMainControls::PanelDate;
    using TFormMainControls::PanelLE;
    using TFormMainControls::PanelLL;
    using TFormMainControls::PanelRI;
    using TFormMainControls::PanelRR;
    using TFormMainControls::PanelT1;
    using TFormMainControls::PanelT2;
    using TFormMainControls::PanelTimer;
    using TFormMainControls::PanelTitle;
    using TFormMainControls::PanelTop;
    using TFormMainControls::PanelTTT2;
    using TFormMainControls::PortFault;
    using TFormMainControls::Save1;
    using TFormMainControls::sb1;
    using TFormMainControls::sb1del;
    using TFormMainControls::sb2;
    using TFormMainControls::sb2del;
    using TFormMainControls::sbCLS;
    using TFormMainControls::sbCLSall;
    using TFormMainControls::sbExcel;
    using TFormMainControls::sbInet;
    using TFormMainControls::sbLateEntry;
    using TFormMainControls::sbLoad;
    using TFormMainControls::sbPrint;
    using TFormMainControls::sbResults;
    using TFormMainControls::sbSave;
    using TFormMainControls::sbWord;
    using TFormMainControls::Scoreboard;
    using TFormMainControls::seObmen;
    using TFormMainControls::SortGrid1;
    using TFormMainControls::StartBarrierHint;
    using TFormMainControls::StatusBar1;
    using TFormMainControls::StatusPanel0;
    using TFormMainControls::StatusPanel1;
    using TFormMainControls::StatusPanel2;
    using TFormMainControls::TimerDate;
    using TFormMainControls::TimerGesperrtStart;
    using TFormMainControls::TimerReconnect;
    using TFormMainControls::TimerSaveBounds;

    // Makes rows the protocol as a load does (without ranking); rows without a
    // load-order number are numbered from 1.
    void FillProtocolRows(const ProtocolTable& rows) { TFormMainTestAccess::FillProtocol(*this, rows); }
    void SetUnsaved(bool unsaved) { TFormMainTestAccess::SetUnsaved(*this, unsaved); }
    // Writes a protocol cell the way the program's own writes go (an edit to the session).
    void WriteCell(int col, int row, const QString& text)
    {
        TFormMainTestAccess::SetProtocolCell(*this, col, row, text);
    }
};
