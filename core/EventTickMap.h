#pragma once

#include <cstdint>
#include <optional>

// When an input event happened, on the program's tick. The window system stamps
// each key event with the time of its own clock (on X11 the server's milliseconds);
// a window that was busy handles the key later, but the stamp still says when it
// was pressed. The two clocks run at the same rate with an unknown offset: the
// smallest "tick on arrival minus stamp" seen recently is the offset of an event
// handled at once, and maps any stamp to the tick it was made at.
class EventTickMap
{
public:
    // A press older than this (a stamp of another clock, a window stalled for
    // longer than any wait it could have) is not believed: such a key takes the tick
    // it is handled at.
    static constexpr std::uint32_t MaxAgeMs = 60000;
    // Offsets are kept for two such spans, so that a clock set anew is followed.
    static constexpr std::uint32_t SpanMs = 30000;

    // An event stamped timestamp arrived now; a stamp of 0 means the platform gave none.
    void Observe(std::uint64_t timestamp, std::uint32_t now);
    // The tick the event stamped timestamp happened at; now where the stamp can't be
    // trusted (none, in the future, too old, nothing to compare with yet).
    std::uint32_t TickAt(std::uint64_t timestamp, std::uint32_t now) const;

private:
    struct Span
    {
        std::uint32_t begin = 0;  // tick of its first event
        std::uint32_t offset = 0; // smallest tick minus stamp in it
    };
    std::optional<Span> m_current;
    std::optional<Span> m_previous;
};
