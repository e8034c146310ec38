#include "TFormMain.h"

#include "ProtocolLogic.h"
#include "RunTime.h"
#include "TBitBtnWithColor.h"
#include "TDigit.h"
#include "TSortGrid.h"
#include "TickSource.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QSoundEffect>
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

void TFormMain::PlaySound(QSoundEffect* sound)
{
    if (m_soundOn && !m_resumingRun && sound && sound->status() == QSoundEffect::Ready)
        sound->play();
}

void TFormMain::mStartClick(std::uint32_t tick)
{
    // The lane count may have changed in the settings since the last run.
    m_run.SetLaneCount(Settings.CountBahn);
    // The start tick is taken at the trigger; the sound plays asynchronously.
    if (!m_run.Start(tick))
        return;
    PlaySound(m_startSound);
    Clock->start();
    m_lastRunPositions = {cbBuhn1->currentIndex(), cbBuhn2->currentIndex()};
    m_lastRunCells.clear();
    UpdateCommandStates();
    bSTOP1->setFocus();

    if (BarrierOn(ImageLSstart))
        ImageLSClick(ImageLSstart);
    JournalRunStart();
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
    const std::optional<int> stopped = m_run.Stop(lane, tick);
    if (!stopped)
        return;
    PlaySound(m_stopSound);
    const int elapsed = *stopped;
    QLabel* finish = lane == 1 ? ImageLS1 : ImageLS2;
    if (BarrierOn(finish))
        ImageLSClick(finish);
    JournalLaneStop(laneIndex);
    // A restored run's lane stopped with "EL" shows it again.
    if (m_resumingRun && LaneRunColumn(lane) >= 0 && LaneRow(lane) >= 1 &&
        ProtocolCell(LaneRunColumn(lane), LaneRow(lane)) == QStringLiteral("EL"))
        eliminated = true;
    if (eliminated) {
        // A car that never arrives: no made-up time, neither shown nor recorded.
        ShowLaneEliminated(lane);
        if (!m_resumingRun)
            EliminateLaneRun(lane);
    } else {
        ShowLaneTime(lane, elapsed);
        if (!m_resumingRun) // a restored run's times are in the protocol already
            RecordLaneTime(lane, FormatRunTime(elapsed));
    }
    SortGrid1->SetModified(true);
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
    if (!m_run.Reset())
        return;
    ShowLaneTime(1, 0);
    ShowLaneTime(2, 0);
    m_laneRunColumn = {-1, -1};
    m_timedAcrossRestart = {false, false};

    m_run.SetLaneCount(Settings.CountBahn);
    const std::array<int, 2> next = m_run.NextLanePositions(
        {cbBuhn1->currentIndex(), cbBuhn2->currentIndex()}, {cbBuhn1->count(), cbBuhn2->count()});
    cbBuhn1->setCurrentIndex(next[0]);
    if (m_run.LaneCount() > 1)
        cbBuhn2->setCurrentIndex(next[1]);
    UpdateCommandStates();
    // Also when the advance left the lists where they were (a list of one or two).
    ShowLaneRows();
    SortGrid1->InvalidateGrid();
    bSTART->setFocus();
    JournalReset();
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
