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

// The line states as the counters tell them: each counted line toggled once
// per transition counted since before. For drivers whose line reading and
// counters come from different sources (ftdi_sio reads the lines with a USB
// control transfer, but counts from the status packets), so that one short
// break is one ON and one OFF edge, not two pulses. Lines without counters
// keep the state read.
std::uint32_t StatusFromCounters(const ModemLineSnapshot& before, const ModemLineSnapshot& after);

// The edges between two snapshots as batches in the order they happened, for
// the lines whose EV_* bit is in eventMask. A line whose counter moved while
// its state didn't gives an edge and the edge back (a short beam break is an
// ON then an OFF); at most one such extra pulse per line is reported.
std::vector<SerialEventBatch> ExpandLineChanges(const ModemLineSnapshot& before,
                                                const ModemLineSnapshot& after, std::uint32_t eventMask);
