#include "TFormMain.h"

#include "ProtocolLogic.h"
#include "RunTime.h"
#include "TBitBtnWithColor.h"
#include "TDigit.h"
#include "TSortGrid.h"
#include "TickSource.h"

#include <QAction>
#include <QComboBox>
#include <QSoundEffect>
#include <QTimer>
#include <QToolButton>

// The run cycle: start, stop of each lane, reset, and the running display.

void TFormMain::TriggerCommand(QAction* command, std::optional<std::uint32_t> tick)
{
    m_triggerTick = tick;
    command->trigger();
    m_triggerTick.reset();
}

std::uint32_t TFormMain::CommandTick()
{
    return m_triggerTick ? *m_triggerTick : TickSource().GetTickCount();
}

void TFormMain::PlaySound(QSoundEffect* sound)
{
    if (m_soundOn && !m_resumingRun && sound && sound->status() == QSoundEffect::Ready)
        sound->play();
}

void TFormMain::mStartClick()
{
    if (!mStart->isEnabled())
        return;
    // The start tick is taken at the trigger; the sound plays asynchronously.
    m_startTick = CommandTick();
    m_stopTick = {0, 0};
    PlaySound(m_startSound);
    Clock->start();

    cbBuhn1->setEnabled(false);
    cbBuhn2->setEnabled(false);
    bCFG->setEnabled(false);
    sbLoad->setEnabled(false);
    bSTART->setEnabled(false);
    SetButtonColor(bSTART, clBtnFace);
    mStart->setEnabled(false);
    bRESET->setEnabled(false);
    mReset->setEnabled(false);
    sb1->setEnabled(false);
    sb2->setEnabled(false);

    bSTOP1->setEnabled(true);
    SetButtonColor(bSTOP1, LaneRunningColor);
    mSTOP1->setEnabled(true);
    // With one lane there is no lane 2 to stop: its hidden controls stay off.
    const bool twoLanes = Settings.CountBahn > 1;
    bSTOP2->setEnabled(twoLanes);
    SetButtonColor(bSTOP2, twoLanes ? LaneRunningColor : clBtnFace);
    mStop2->setEnabled(twoLanes);
    bSTOP1->setFocus();

    if (BarrierOn(ImageLSstart))
        ImageLSClick(ImageLSstart);
    TimerGesperrtStart->start();
    UpdateCommandStates();
    JournalRunStart();
}

void TFormMain::mSTOPClick(int laneIndex)
{
    QAction* command = laneIndex == 0 ? mSTOP1 : mStop2;
    if (!command->isEnabled())
        return;
    const int lane = laneIndex + 1;
    m_stopTick.at(laneIndex) = CommandTick();
    PlaySound(m_stopSound);
    const int elapsed = int(ElapsedTicks(m_startTick, m_stopTick.at(laneIndex)));

    if (laneIndex == 0) {
        bSTOP1->setEnabled(false);
        SetButtonColor(bSTOP1, clBtnFace);
        mSTOP1->setEnabled(false);
        sb1del->setEnabled(true);
        if (BarrierOn(ImageLS1))
            ImageLSClick(ImageLS1);
    } else {
        bSTOP2->setEnabled(false);
        SetButtonColor(bSTOP2, clBtnFace);
        mStop2->setEnabled(false);
        sb2del->setEnabled(true);
        if (BarrierOn(ImageLS2))
            ImageLSClick(ImageLS2);
    }
    ShowLaneTime(lane, elapsed);
    JournalLaneStop(laneIndex);
    if (!m_resumingRun) // a restored run's times are in the protocol already
        RecordLaneTime(lane, FormatRunTime(elapsed));
    if (Settings.CountBahn == 1) {
        mStop2->setEnabled(false);
        bSTOP2->setEnabled(false);
    }
    SortGrid1->SetModified(true);
    AfterLaneStop();
}

void TFormMain::AfterLaneStop()
{
    bRESET->setEnabled(!(mSTOP1->isEnabled() || mStop2->isEnabled()));
    mReset->setEnabled(bRESET->isEnabled());
    if (bSTOP1->isEnabled()) {
        bSTOP1->setFocus();
        return;
    }
    if (bSTOP2->isEnabled()) {
        bSTOP2->setFocus();
        return;
    }
    if (bRESET->isEnabled()) {
        Clock->stop();
        bRESET->setFocus();
        SetButtonColor(bRESET, ResetDueColor);
        RankProtocol();
    }
}

void TFormMain::mResetClick()
{
    if (!mReset->isEnabled())
        return;
    TimerGesperrtStart->stop();
    ShowLaneTime(1, 0);
    ShowLaneTime(2, 0);
    m_laneRunColumn = {-1, -1};
    bCFG->setEnabled(true);
    sbLoad->setEnabled(true);
    bSTART->setEnabled(true);
    SetButtonColor(bSTART, StartAvailableColor);
    mStart->setEnabled(true);
    bRESET->setEnabled(false);
    mReset->setEnabled(false);
    SetButtonColor(bRESET, clBtnFace);
    sb1del->setEnabled(false);
    sb2del->setEnabled(false);
    sb1->setEnabled(true);
    sb2->setEnabled(sb1->isEnabled());

    cbBuhn1->setCurrentIndex(
        NextLanePosition(1, cbBuhn1->currentIndex(), Settings.CountBahn, cbBuhn1->count()));
    if (Settings.CountBahn > 1)
        cbBuhn2->setCurrentIndex(
            NextLanePosition(2, cbBuhn2->currentIndex(), Settings.CountBahn, cbBuhn2->count()));
    cbBuhn1->setEnabled(true);
    cbBuhn2->setEnabled(true);
    SortGrid1->InvalidateGrid();
    bSTART->setFocus();
    UpdateCommandStates();
    JournalReset();
}

void TFormMain::ClockTimer()
{
    const std::uint32_t now = TickSource().GetTickCount();
    if (bSTOP1->isEnabled())
        ShowLaneTime(1, int(ElapsedTicks(m_startTick, now)));
    if (bSTOP2->isEnabled())
        ShowLaneTime(2, int(ElapsedTicks(m_startTick, now)));
}

void TFormMain::ShowLaneTime(int lane, int ms)
{
    if (lane != 1 && lane != 2)
        return;
    const std::array<TDigit*, 5>& digits = lane == 1 ? Digit1 : Digit2;
    const LaneDigits shown = LaneDisplay(ms);
    for (int i = 0; i < 5; ++i) {
        digits.at(i)->SetColorOn(shown.onColors.at(i));
        digits.at(i)->SetValue(shown.values.at(i));
    }
}

void TFormMain::SetButtonColor(TBitBtnWithColor* button, TColor color)
{
    button->SetColor(color);
}
