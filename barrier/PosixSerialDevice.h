#pragma once

#ifndef _WIN32

#include "InheritingMutex.h"
#include "LineChanges.h"
#include "LineSampler.h"
#include "SerialDevice.h"

#include <pthread.h>
#include <sys/types.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

// The signal that wakes a thread blocked in TIOCMIWAIT (the wait ends with
// EINTR). A real-time signal of its own, chosen from those nobody handles
// when it is first needed, so that no other handler of the process is
// replaced; its handler is installed without SA_RESTART.
int SerialWakeSignal();

// A Linux tty: termios for the line settings, TIOCMIWAIT (or a 1 ms TIOCMGET
// poll where the driver refuses it) to wait for line changes, the wake
// signal to end a wait.
//
// TIOCMIWAIT only wakes for changes after it has begun, so an edge between
// the last reading and the start of the wait would go unnoticed until the
// next one. A watch thread therefore compares the driver's counters (or the
// lines, where there are no counters) with the waiter's last reading every
// millisecond for as long as the wait lasts, and wakes the waiter when they
// moved or can't be read any more.
class PosixSerialDevice : public ISerialDevice
{
public:
    // sysFolder: where the adapter's driver is looked up (a test gives a tree of its own).
    explicit PosixSerialDevice(std::string sysFolder = "/sys") : sysFolder(std::move(sysFolder)) {}
    ~PosixSerialDevice() override;

    PosixSerialDevice(const PosixSerialDevice&) = delete;
    PosixSerialDevice& operator=(const PosixSerialDevice&) = delete;

    SerialError Open(const std::string& path, const SerialLineSettings& settings) override;
    void Close() override;
    void SetDtr(bool on) override;
    SerialWaitResult Wait(std::vector<SerialEventBatch>& batches, SerialError& lost) override;
    void RequestStop() override;
    std::uint32_t ModemStatus() override;
    int InputCount() override;
    std::vector<std::string> Notes() const override { return notes; }
    // What the system granted the watch thread (known once Open has returned).
    StampingPriority WatchPriority();

private:
    enum class WaitOutcome { Reported, Interrupted, Polled, Failed };
    enum class WatchReading { Same, Moved, Failed };

    void PrepareAdapter(const std::string& path);
    SerialError Configure(const SerialLineSettings& settings);
    bool ReadCounters(ModemLineSnapshot::Counters& counters, SerialError& error);
    bool ReadLines(ModemLineSnapshot& snapshot, std::uint32_t& tick, SerialError& error);
    SerialWaitResult WaitInside(std::vector<SerialEventBatch>& batches, SerialError& lost);
    WaitOutcome WaitForLineChange(SerialError& lost);
    void SleepOnePoll();

    void StartWatch();
    void StopWatch();
    void WatchLoop();
    WatchReading LinesSince(const ModemLineSnapshot& reference);

    std::string sysFolder;
    // Atomic: a monitor thread left behind in a call may still read it after Close.
    std::atomic<int> fd{-1};
    // A thread inside Wait when the device is closed keeps the descriptor's
    // number taken (by a placeholder) until it leaves, so that no file opened
    // meanwhile can get that number and its calls.
    TInheritingMutex insideMutex;
    int waitersInside = 0;
    int placeholderFd = -1;
    std::uint32_t eventMask = 0;
    int waitMask = 0; // TIOCM_* lines to wait for
    bool pollLines = false;
    bool statesFromCounters = false;
    std::atomic<bool> haveCounters{false};
    ModemLineSnapshot last;
    int emptyWakes = 0; // wait returns in a row that showed no change
    std::vector<std::string> notes;

    std::atomic<bool> stopRequested{false};
    std::atomic<bool> waiterKnown{false};
    pthread_t waiter{};

    // The watch; the fields below are guarded by watchMutex, which the GUI
    // thread takes too (open, close).
    std::thread watch;
    TInheritingMutex watchMutex;
    TInheritingCondition watchWake;
    std::optional<StampingPriority> watchPriority;
    bool watchStop = false;
    bool inWait = false;         // the waiter is (about to be) in TIOCMIWAIT
    std::uint64_t waitEntry = 0; // counts the waiter's entries into TIOCMIWAIT
    ModemLineSnapshot watchReference;
};

#endif
