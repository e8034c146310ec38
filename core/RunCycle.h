#pragma once

#include <QObject>
#include <QTimer>
#include <array>
#include <cstdint>
#include <optional>

// The run cycle of one or two lanes: one common start, a stop per lane, and a
// reset before the next pair of starters. It decides which command is allowed
// and keeps the ticks; the window only shows what it decided.
//
//   Ready --start--> Running --stop of one of two lanes--> LaneStopped
//   Running/LaneStopped --stop of the last running lane--> ResetDue --reset--> Ready
//
// Every command is refused (and changes nothing) outside its state: a second
// start, a second stop of the same lane or a reset before the last stop. This
// is the double-trigger rule: whatever the source of a trigger, a repeated one
// is ignored.
enum class RunState { Ready, Running, LaneStopped, ResetDue };

// What a light-barrier edge asks for after the lock and the run state were weighed.
enum class BarrierCommand { None, Start, Stop };

// The ticks of the current (or last) run; the stop ticks are 0 until their lane stops.
struct RunTicks
{
    std::uint32_t start = 0;
    std::array<std::uint32_t, 2> stop{};
};

class TRunCycle : public QObject
{
    Q_OBJECT

public:
    explicit TRunCycle(QObject* parent = nullptr);

    RunState State() const { return m_state; }
    // A run is being timed (some lane still runs).
    bool Timing() const { return m_state == RunState::Running || m_state == RunState::LaneStopped; }

    // 1 or 2; a value outside is clamped. Takes effect at the next start and reset.
    int LaneCount() const { return m_laneCount; }
    void SetLaneCount(int count);

    bool CanStart() const { return m_state == RunState::Ready; }
    bool CanReset() const { return m_state == RunState::ResetDue; }
    // Lane 1 or 2 is being timed; false for any other lane number.
    bool LaneRunning(int lane) const;
    // The lane has stopped in this run: its time may be eliminated until the reset.
    bool CanEliminate(int lane) const;

    // Start at the given tick; false when not Ready. Lane 2 runs only with two lanes.
    // Starts the barrier lock.
    bool Start(std::uint32_t tick);
    // Stops a running lane at the tick and returns its time in ms; none when the
    // lane does not run (a repeated stop, or lane 2 of a one-lane run).
    std::optional<int> Stop(int lane, std::uint32_t tick);
    // Ends a finished run and the barrier lock; false unless the reset is due.
    bool Reset();
    // Ends a run that can't go on, stopped or not (a restore after the machine
    // restarted); false when none is going.
    bool Abandon();

    const RunTicks& Ticks() const { return m_ticks; }
    // A lane's time in ms: up to now while it runs, up to its stop once stopped.
    // Taken in unsigned 32-bit arithmetic, so a tick wrap between start and stop
    // still gives the right time.
    int Elapsed(int lane, std::uint32_t now) const;

    // The starters' list positions after the reset: lane 1 steps by the lane
    // count, lane 2 by two (only with two lanes), each wrapping to its first
    // position, so that two lanes go through the list in pairs.
    std::array<int, 2> NextLanePositions(std::array<int, 2> positions, std::array<int, 2> entryCounts) const;

    // The light-barrier lock: from each start (and each accepted start edge) for
    // the lock time, finish edges stop nothing. It is judged on the ticks of
    // the edges, so a busy window or a late timer changes nothing; the timer
    // only tells when it has run out (LockExpired), for the window to show it.
    int LockInterval() const { return m_lock.interval(); }
    void SetLockInterval(int ms) { m_lock.setInterval(ms); }
    const QTimer& LockTimer() const { return m_lock; }
    // Locked from the tick on (a start, an accepted start edge).
    void LockFrom(std::uint32_t tick);
    // The lock has not ended yet (neither run out nor ended early).
    bool Locked() const { return m_lockActive; }
    // An edge at this tick falls within the lock.
    bool LockedAt(std::uint32_t tick) const;
    std::uint32_t LockStart() const { return m_lockStart; }
    // Ends the lock early, without LockExpired.
    void EndLock();

    // A start-line edge at tick: ignored during the lock (and it does not
    // prolong it) and while a run is being timed; otherwise it starts the run
    // when the start is available and the start barrier is armed, and locks in
    // either case.
    BarrierCommand StartEdge(bool startAvailable, bool startArmed, std::uint32_t tick);
    // A finish-line edge of a lane at tick: while the start is available and
    // the start barrier armed it starts the run if its finish barrier is armed
    // too (a barrier wired to the wrong line still starts); otherwise, outside
    // the lock, it stops its lane if that lane runs and its finish barrier is armed.
    BarrierCommand FinishEdge(int lane, bool startAvailable, bool startArmed, bool finishArmed,
                              std::uint32_t tick) const;

signals:
    void StateChanged(RunState state);
    void Started(std::uint32_t tick);
    void LaneStopped(int lane, int elapsedMs);
    void ResetDone();
    // The lock time ran out: the finish barriers are to be armed again.
    void LockExpired();

private:
    void SetState(RunState state);

    RunState m_state = RunState::Ready;
    int m_laneCount = 2;
    RunTicks m_ticks;
    std::array<bool, 2> m_running{};
    std::array<bool, 2> m_stopped{};
    QTimer m_lock;
    bool m_lockActive = false;
    std::uint32_t m_lockStart = 0;
};
