#pragma once

#ifndef _WIN32

#include "LineChanges.h"
#include "SerialDevice.h"

#include <pthread.h>
#include <sys/types.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

// A Linux tty: termios for the line settings, TIOCMIWAIT (or a 1 ms TIOCMGET
// poll where the driver refuses it) to wait for line changes, SIGUSR1 to wake
// the waiting thread.
//
// TIOCMIWAIT only wakes for changes after it has begun, so an edge between the
// last reading and the start of the wait would go unnoticed until the next
// one. A watch thread therefore compares the driver's counters (or the lines,
// where there are no counters) with the waiter's last reading, soon after the
// waiter went into its wait and then every millisecond, and wakes the waiter
// when they moved. Once the waiter sleeps in its wait with nothing missed, the
// wait wakes by itself and the watch rests until the next one.
class PosixSerialDevice : public ISerialDevice
{
public:
    PosixSerialDevice() = default;
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

private:
    void PrepareAdapter(const std::string& path);
    SerialError Configure(const SerialLineSettings& settings);
    bool ReadLines(ModemLineSnapshot& snapshot, SerialError& error);
    bool WaitForLineChange(SerialError& lost);
    void SleepOnePoll();

    void StartWatch();
    void StopWatch();
    void WatchLoop();
    bool LinesMovedSince(const ModemLineSnapshot& reference);

    int fd = -1;
    std::uint32_t eventMask = 0;
    int waitMask = 0; // TIOCM_* lines to wait for
    bool pollLines = false;
    std::atomic<bool> haveCounters{false};
    ModemLineSnapshot last;
    std::vector<std::string> notes;

    std::atomic<bool> stopRequested{false};
    std::atomic<bool> waiterKnown{false};
    pthread_t waiter{};

    // The watch; the fields below are guarded by watchMutex.
    std::thread watch;
    std::mutex watchMutex;
    std::condition_variable watchWake;
    bool watchStop = false;
    bool inWait = false;         // the waiter is (about to be) in TIOCMIWAIT
    std::uint64_t waitEntry = 0; // counts the waiter's entries into TIOCMIWAIT
    ModemLineSnapshot watchReference;
    pid_t waiterTid = 0;
};

#endif
