#include "RunCycle.h"

#include "ProtocolLogic.h"
#include "TickSource.h"

#include <algorithm>

TRunCycle::TRunCycle(QObject* parent) : QObject(parent)
{
    m_lock.setSingleShot(true);
    m_lock.setInterval(10000);
    connect(&m_lock, &QTimer::timeout, this, [this] {
        m_lockActive = false;
        emit LockExpired();
    });
}

void TRunCycle::LockFrom(std::uint32_t tick)
{
    m_lockActive = true;
    m_lockStart = tick;
    m_lock.start();
}

bool TRunCycle::LockedAt(std::uint32_t tick) const
{
    return m_lockActive && ElapsedTicks(m_lockStart, tick) < std::uint32_t(std::max(0, m_lock.interval()));
}

void TRunCycle::EndLock()
{
    m_lockActive = false;
    m_lock.stop();
}

void TRunCycle::SetLaneCount(int count)
{
    m_laneCount = std::clamp(count, 1, 2);
}

bool TRunCycle::LaneRunning(int lane) const
{
    return IsLane(lane) && m_running.at(lane - 1);
}

bool TRunCycle::CanEliminate(int lane) const
{
    return IsLane(lane) && m_state != RunState::Ready && m_stopped.at(lane - 1);
}

bool TRunCycle::Start(std::uint32_t tick)
{
    if (!CanStart())
        return false;
    m_ticks = {tick, {0, 0}};
    m_running = {true, m_laneCount > 1};
    m_stopped = {false, false};
    LockFrom(tick);
    SetState(RunState::Running);
    emit Started(tick);
    return true;
}

std::optional<int> TRunCycle::Stop(int lane, std::uint32_t tick)
{
    if (!LaneRunning(lane))
        return std::nullopt;
    const int index = lane - 1;
    m_ticks.stop.at(index) = tick;
    m_running.at(index) = false;
    m_stopped.at(index) = true;
    const int elapsed = Elapsed(lane, tick);
    SetState(m_running[0] || m_running[1] ? RunState::LaneStopped : RunState::ResetDue);
    emit LaneStopped(lane, elapsed);
    return elapsed;
}

bool TRunCycle::Reset()
{
    if (!CanReset())
        return false;
    EndLock();
    m_stopped = {false, false};
    SetState(RunState::Ready);
    emit ResetDone();
    return true;
}

bool TRunCycle::Abandon()
{
    if (m_state == RunState::Ready)
        return false;
    EndLock();
    m_running = {false, false};
    m_stopped = {false, false};
    SetState(RunState::Ready);
    return true;
}

int TRunCycle::Elapsed(int lane, std::uint32_t now) const
{
    if (!IsLane(lane))
        return 0;
    const std::uint32_t end = m_running.at(lane - 1) ? now : m_ticks.stop.at(lane - 1);
    return int(ElapsedTicks(m_ticks.start, end));
}

std::array<int, 2> TRunCycle::NextLanePositions(std::array<int, 2> positions,
                                                std::array<int, 2> entryCounts) const
{
    // A lane left without a starter (his row deleted) goes on from its partner,
    // so that the next pair is never one starter on both lanes.
    if (m_laneCount > 1 && positions[0] < 0 && positions[1] >= 1)
        positions[0] = positions[1] - 1;
    else if (m_laneCount > 1 && positions[1] < 0 && positions[0] >= 0 && positions[0] + 1 < entryCounts[1])
        positions[1] = positions[0] + 1;
    std::array<int, 2> next = positions;
    next[0] = NextLanePosition(1, positions[0], m_laneCount, entryCounts[0]);
    if (m_laneCount > 1)
        next[1] = NextLanePosition(2, positions[1], m_laneCount, entryCounts[1]);
    return next;
}

BarrierCommand TRunCycle::StartEdge(bool startAvailable, bool startArmed, std::uint32_t tick)
{
    // Someone walking through the start beam while cars are on the track must
    // not lock the finish lines: the run's own lock came with its start.
    if (LockedAt(tick) || Timing())
        return BarrierCommand::None;
    const BarrierCommand command =
        startAvailable && startArmed ? BarrierCommand::Start : BarrierCommand::None;
    LockFrom(tick);
    return command;
}

BarrierCommand TRunCycle::FinishEdge(int lane, bool startAvailable, bool startArmed, bool finishArmed,
                                     std::uint32_t tick) const
{
    // A finish beam starts the run only where the operator has that barrier on:
    // someone walking through a switched-off finish line while the next pair
    // waits must not take the start away from them.
    if (startAvailable && startArmed)
        return finishArmed ? BarrierCommand::Start : BarrierCommand::None;
    if (LockedAt(tick))
        return BarrierCommand::None;
    return LaneRunning(lane) && finishArmed ? BarrierCommand::Stop : BarrierCommand::None;
}

void TRunCycle::SetState(RunState state)
{
    if (state == m_state)
        return;
    m_state = state;
    emit StateChanged(state);
}
