#include "CommEventRules.h"

namespace CommEventRules {

std::optional<SerialEventBatch> BatchFromEvent(std::uint32_t occurred, std::uint32_t eventMask,
                                               std::uint32_t modemStatus, std::uint32_t tick)
{
    const std::uint32_t events = occurred & eventMask;
    if (events == 0)
        return std::nullopt;
    SerialEventBatch batch;
    batch.events = events;
    batch.modemStatus = modemStatus;
    batch.tick = tick;
    return batch;
}

std::string TrimSystemText(std::string text)
{
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' '))
        text.pop_back();
    return text;
}

} // namespace CommEventRules
