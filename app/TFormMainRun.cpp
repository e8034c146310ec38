#include "TFormMain.h"

#include "ProtocolLogic.h"
#include "RaceJournal.h"
#include "KeyPressTicks.h"
#include "RunTime.h"
#include "TBitBtnWithColor.h"
#include "TDigit.h"
#include "TSortGrid.h"
#include "TickSource.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QSoundEffect>
#include <QStatusBar>
#include <QTimer>
#include <QToolButton>

// The run cycle: start, stop of each lane, reset, and the running display.

void TFormMain::TriggerCommand(QAction* command, std::optional<std::uint32_t> tick)
{
    if (!tick) {
        command->trigger();
        return;
    }
    // The tick goes with the command; the run cycle refuses what its state doesn't allow.
    if (command == mStart)
        mStartClick(*tick);
    else if (command == mSTOP1 || command == mStop2)
        mSTOPClick(command == mSTOP1 ? 0 : 1, *tick);
    else
        command->trigger();
}

std::uint32_t TFormMain::CommandTick(bool stop) const
{
    const std::uint32_t now = TickSource().GetTickCount();
    const std::optional<std::uint32_t> pressed = m_keyTicks ? m_keyTicks->PressTick() : std::nullopt;
    if (!pressed)
        return now;
    // A stop pressed before the start as the program knows it (a click handled late
    // takes the tick of its handling) would make a time below zero: it is taken as
    // handled, as before.
    const std::uint32_t start = m_run.Ticks().start;
    if (stop && m_run.Timing() && ElapsedTicks(start, *pressed) > ElapsedTicks(start, now))
        return now;
    return *pressed;
}

void TFormMain::PlaySound(QSoundEffect* sound)
{
    if (m_soundOn && !m_restoring && sound && sound->status() == QSoundEffect::Ready)
        sound->play();
}

void TFormMain::ApplySettings()
{
    m_session.SetRules({Settings.CountBahn, Settings.ProbeLaufe, Settings.AllLaufe, Settings.Mindestzeit,
                        Settings.TimerGesperrt});
}

void TFormMain::mStartClick(std::uint32_t tick)
{
    // The start tick is taken at the trigger; the sound plays asynchronously.
    // With the start station paired, F5 is the fallback: journalled as a start by hand.
    if (!m_session.Start(tick, m_session.StationPaired())) {
        // Both times would go to the one starter.
        if (RunIdle())
            statusBar()->showMessage(
                QStringLiteral("Kein Start: beide Bahnen zeigen denselben Starter – bitte "
                               "auf einer Bahn einen anderen wählen."),
                10000);
        return;
    }
}

void TFormMain::SessionRunStarted()
{
    // A restore gives the race's start again: the window shows the result once it is done.
    if (m_restoring)
        return;
    PlaySound(m_startSound);
    // A note about the last run's start is not about this one.
    for (int lane : {1, 2}) {
        if (statusBar()->currentMessage() == FinishStartNote(lane))
            statusBar()->clearMessage();
    }
    Clock->start();
    UpdateCommandStates();
    bSTOP1->setFocus();
}

void TFormMain::mSTOPClick(int laneIndex, std::uint32_t tick)
{
    StopLane(laneIndex, false, tick);
}

void TFormMain::mELClick(int laneIndex, std::uint32_t tick)
{
    StopLane(laneIndex, true, tick);
}

void TFormMain::StopLane(int laneIndex, bool eliminated, std::uint32_t tick)
{
    const int lane = laneIndex + 1;
    if (!m_run.LaneRunning(lane))
        return;
    // The session records the time (or "EL") and reports it: SessionLaneStopped.
    m_session.Stop(lane, tick, eliminated);
}

void TFormMain::SessionLaneStopped(int lane, int ms, const QString& key, int col)
{
    // A restore gives the race's stops again: the protocol takes them, the
    // window shows the result once it is done.
    if (m_restoring)
        return;
    PlaySound(m_stopSound);
    RaceToPublish(); // a time taken is worth showing, with a list or without
    // A car that never arrives: no made-up time, neither shown nor recorded.
    if (ms < 0)
        ShowLaneEliminated(lane);
    else
        ShowLaneTime(lane, ms);
    const int row = RowOf(key);
    if (col >= 0 && row >= 1) {
        SortGrid1->InvalidateCell(col, row);
        // The run's first time: its column takes its full width.
        if (col - ColLauf1 + 1 <= m_session.CurrentRules().allLaufe &&
            SortGrid1->ColWidths(col) < kRunColumnWidth)
            FormResize();
    }
    AfterLaneStop();
}

void TFormMain::AfterLaneStop()
{
    UpdateCommandStates();
    for (int lane : {1, 2}) {
        if (m_run.LaneRunning(lane)) {
            StopButton(lane)->setFocus();
            return;
        }
    }
    if (m_run.CanReset()) {
        Clock->stop();
        bRESET->setFocus();
        RankProtocol();
    }
}

void TFormMain::mResetClick()
{
    // The session moves the lanes on to the next pair: ShowLanes.
    if (!m_session.Reset())
        return;
    ShowLaneTime(1, 0);
    ShowLaneTime(2, 0);
    UpdateCommandStates();
    // Also when the advance left the lists where they were (a list of one or two).
    ShowLaneRows();
    SortGrid1->InvalidateGrid();
    bSTART->setFocus();
}

void TFormMain::ClockTimer()
{
    const std::uint32_t now = TickSource().GetTickCount();
    for (int lane : {1, 2})
        if (m_run.LaneRunning(lane))
            ShowLaneTime(lane, m_run.Elapsed(lane, now));
}

TBitBtnWithColor* TFormMain::StopButton(int lane) const
{
    return lane == 1 ? bSTOP1 : bSTOP2;
}

QAction* TFormMain::StopCommand(int lane) const
{
    return lane == 1 ? mSTOP1 : mStop2;
}

void TFormMain::ShowLaneTime(int lane, int ms)
{
    if (lane != 1 && lane != 2)
        return;
    const std::array<TDigit*, 5>& digits = lane == 1 ? Digit1 : Digit2;
    const LaneDigits shown = LaneDisplay(ms);
    ShowLaneComma(lane, !shown.wholeSeconds);
    for (int i = 0; i < 5; ++i) {
        digits.at(i)->SetColorOn(shown.onColors.at(i));
        digits.at(i)->SetValue(shown.values.at(i));
        // After "EL" the digit's value may be unchanged while its segments are not.
        digits.at(i)->SetValueBinary(TDigit::DigitPattern(digits.at(i)->Value()));
    }
}

void TFormMain::ShowLaneEliminated(int lane)
{
    if (lane != 1 && lane != 2)
        return;
    constexpr std::uint8_t E = (1 << TDigit::sgTop) | (1 << TDigit::sgMiddle) | (1 << TDigit::sgBottom) |
                               (1 << TDigit::sgUpperLeft) | (1 << TDigit::sgLowerLeft);
    constexpr std::uint8_t L =
        (1 << TDigit::sgBottom) | (1 << TDigit::sgUpperLeft) | (1 << TDigit::sgLowerLeft);
    const std::array<std::uint8_t, 5> patterns = {0, E, L, 0, 0};
    const std::array<TDigit*, 5>& digits = lane == 1 ? Digit1 : Digit2;
    ShowLaneComma(lane, false);
    for (int i = 0; i < 5; ++i) {
        digits.at(i)->SetColorOn(LaneDigitOnColor);
        digits.at(i)->SetValueBinary(patterns.at(i));
    }
}

void TFormMain::ShowLaneComma(int lane, bool shown)
{
    QWidget* panel = lane == 1 ? PanelT1 : PanelT2;
    for (const QString& name : {QStringLiteral("comma"), QStringLiteral("hundredths")}) {
        if (auto* label = panel->findChild<QLabel*>(name))
            label->setVisible(shown);
    }
}

void TFormMain::SetButtonColor(TBitBtnWithColor* button, TColor color)
{
    button->SetColor(color);
}
