#include "CommEventRules.h"

#include "LineChanges.h"

namespace {

constexpr std::uint32_t lineEvents = EV_CTS | EV_DSR | EV_RLSD | EV_RING;

} // namespace

namespace CommEventRules {

std::vector<SerialEventBatch> BatchesFromEvent(std::uint32_t previousStatus, std::uint32_t occurred,
                                               std::uint32_t eventMask, std::uint32_t status,
                                               std::uint32_t tick)
{
    // The event bits say "moved at least once": as counters, a line that shows
    // no change moved twice.
    const auto moves = [&](std::uint32_t bit, std::uint32_t event) -> std::uint32_t {
        if ((previousStatus ^ status) & bit)
            return 1;
        return (occurred & event) ? 2 : 0;
    };
    const ModemLineSnapshot before{previousStatus, ModemLineSnapshot::Counters{}};
    const ModemLineSnapshot after{status, ModemLineSnapshot::Counters{moves(MS_CTS_ON, EV_CTS),
                                                                      moves(MS_DSR_ON, EV_DSR),
                                                                      moves(MS_RLSD_ON, EV_RLSD)}};
    std::vector<SerialEventBatch> batches = ExpandLineChanges(before, after, eventMask);
    // A ring pulse that is over shows only as its event.
    if ((occurred & eventMask & EV_RING) && !((previousStatus ^ status) & MS_RING_ON)) {
        if (batches.empty())
            batches.push_back({0, status, std::nullopt});
        batches.back().events |= EV_RING;
    }
    const std::uint32_t others = occurred & eventMask & ~lineEvents;
    if (others) {
        if (batches.empty())
            batches.push_back({0, status, std::nullopt});
        batches.back().events |= others;
    }
    for (SerialEventBatch& batch : batches)
        batch.tick = tick;
    return batches;
}

std::string TrimSystemText(std::string text)
{
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' '))
        text.pop_back();
    return text;
}

} // namespace CommEventRules
