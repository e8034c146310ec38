#include "LineChanges.h"

#include <algorithm>

namespace {

struct LineBits
{
    std::uint32_t modemStatus;
    std::uint32_t event;
    std::uint32_t ModemLineSnapshot::Counters::*counter;
};

constexpr LineBits lines[] = {
    {MS_CTS_ON, EV_CTS, &ModemLineSnapshot::Counters::cts},
    {MS_DSR_ON, EV_DSR, &ModemLineSnapshot::Counters::dsr},
    {MS_RLSD_ON, EV_RLSD, &ModemLineSnapshot::Counters::dcd},
    {MS_RING_ON, EV_RING, nullptr},
};

} // namespace

std::uint32_t StatusFromCounters(const ModemLineSnapshot& before, const ModemLineSnapshot& after)
{
    if (!before.counters || !after.counters)
        return after.status;
    std::uint32_t status = after.status;
    for (const LineBits& line : lines) {
        if (!line.counter)
            continue;
        const std::uint32_t counted = (*after.counters).*line.counter - (*before.counters).*line.counter;
        const std::uint32_t state = (before.status & line.modemStatus) ^ (counted % 2 ? line.modemStatus : 0);
        status = (status & ~line.modemStatus) | state;
    }
    return status;
}

std::vector<SerialEventBatch> ExpandLineChanges(const ModemLineSnapshot& before,
                                                const ModemLineSnapshot& after, std::uint32_t eventMask)
{
    struct Transitions
    {
        const LineBits* line;
        unsigned count;
    };
    std::vector<Transitions> moved;
    unsigned steps = 0;
    for (const LineBits& line : lines) {
        if (!(eventMask & line.event))
            continue;
        const bool changed = ((before.status ^ after.status) & line.modemStatus) != 0;
        unsigned count = changed ? 1 : 0;
        if (line.counter && before.counters && after.counters) {
            const std::uint32_t counted = (*after.counters).*line.counter - (*before.counters).*line.counter;
            // Odd means the state changed; an even count with a changed state
            // (or the reverse) lost one transition between the two readings.
            const unsigned cap = changed ? 3 : 2;
            count = counted >= cap ? cap : unsigned(counted);
            if ((count % 2 == 1) != changed)
                ++count;
        }
        if (count > 0) {
            moved.push_back({&line, count});
            steps = std::max(steps, count);
        }
    }

    std::vector<SerialEventBatch> batches;
    // Each line's transitions are aligned to end on the last step, which then
    // shows the lines as read.
    for (unsigned step = 1; step <= steps; ++step) {
        SerialEventBatch batch;
        batch.modemStatus = after.status;
        for (const Transitions& t : moved) {
            const unsigned firstStep = steps - t.count + 1;
            const unsigned toggles = step >= firstStep ? step - firstStep + 1 : 0;
            const std::uint32_t bit = t.line->modemStatus;
            const std::uint32_t state = (before.status & bit) ^ (toggles % 2 ? bit : 0);
            batch.modemStatus = (batch.modemStatus & ~bit) | state;
            if (step >= firstStep)
                batch.events |= t.line->event;
        }
        batches.push_back(batch);
    }
    return batches;
}
