#pragma once

#ifndef _WIN32

#include "SerialDevice.h"

#include <pthread.h>

#include <atomic>
#include <cstdint>
#include <optional>
#include <vector>

// Input lines at one moment: MS_* bits, and the driver's transition counters
// where it keeps them (they show pulses that were over before the lines were read).
struct ModemLineSnapshot
{
    struct Counters
    {
        std::uint32_t cts = 0;
        std::uint32_t dsr = 0;
        std::uint32_t dcd = 0;

        bool operator==(const Counters&) const = default;
    };
    std::uint32_t status = 0;
    std::optional<Counters> counters;

    bool operator==(const ModemLineSnapshot&) const = default;
};

// The edges between two snapshots as batches in the order they happened, for
// the lines whose EV_* bit is in eventMask. A line whose counter moved while
// its state didn't gives an edge and the edge back (a short beam break is an
// ON then an OFF); at most one such extra pulse per line is reported.
std::vector<SerialEventBatch> ExpandLineChanges(const ModemLineSnapshot& before,
                                                const ModemLineSnapshot& after, std::uint32_t eventMask);

// A Linux tty: termios for the line settings, TIOCMIWAIT (or a 1 ms TIOCMGET
// poll where the driver refuses it) to wait for line changes, SIGUSR1 to wake
// the waiting thread.
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

private:
    SerialError Configure(const SerialLineSettings& settings);
    bool ReadLines(ModemLineSnapshot& snapshot, SerialError& error);
    bool SleepOnePoll();
    void DrainInputNowAndThen();

    int fd = -1;
    std::uint32_t eventMask = 0;
    int waitMask = 0; // TIOCM_* lines to wait for
    bool pollLines = false;
    bool haveCounters = false;
    ModemLineSnapshot last;
    unsigned pollsSinceDrain = 0;

    std::atomic<bool> stopRequested{false};
    std::atomic<bool> waiterKnown{false};
    pthread_t waiter{};
};

#endif
