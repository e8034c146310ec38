#pragma once

#include "SerialDevice.h"

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
