#pragma once

#include "SerialDevice.h"

#include <cstdint>
#include <string>
#include <vector>

// Decisions of the Win32 communications backend that need no port: kept apart
// so that they are tested on every platform, not only where Windows runs.
namespace CommEventRules {

// What one completed WaitCommEvent becomes: the driver says which events
// occurred since the last wait, the lines are read after it (previousStatus:
// as read after the last one). The batches come in order, each stamped with
// the tick read right after the wait returned. A line event whose line reads
// as before was a pulse (an edge and the edge back: two batches); a line that
// changed without its event still counts; events other than line events go
// with the last batch; events outside the mask give nothing.
std::vector<SerialEventBatch> BatchesFromEvent(std::uint32_t previousStatus, std::uint32_t occurred,
                                               std::uint32_t eventMask, std::uint32_t modemStatus,
                                               std::uint32_t tick);

// A wait whose completion fails while the device still answers is retried;
// only a run of failures without a good completion between them means that
// the device is gone, so the monitor can never spin on a broken handle.
class FailedCompletions
{
public:
    static constexpr int Allowed = 3;

    // Counts a failed completion; true once the device has to be taken as lost.
    bool Fail(bool deviceAnswers)
    {
        ++failed;
        return !deviceAnswers || failed > Allowed;
    }
    void Succeeded() { failed = 0; }
    int Count() const { return failed; }

private:
    int failed = 0;
};

// A system message without the line break and blanks that FormatMessage puts
// at its end.
std::string TrimSystemText(std::string text);

} // namespace CommEventRules
