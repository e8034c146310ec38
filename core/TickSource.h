#pragma once

#include <cstdint>

// A 32-bit millisecond tick counter that wraps like the system's. Elapsed
// times are differences taken in unsigned 32-bit arithmetic, so a wrap between
// two readings still gives the right difference. Read from the GUI thread and
// from the serial monitor thread, so implementations must be thread-safe.
class ITickSource
{
public:
    virtual ~ITickSource() = default;
    virtual std::uint32_t GetTickCount() const = 0;
};

// Milliseconds of the monotonic clock, truncated to 32 bits.
class MonotonicTickSource : public ITickSource
{
public:
    std::uint32_t GetTickCount() const override;
};

// The tick source of the program: the monotonic one unless a test installed another.
ITickSource& TickSource();
// Installs a replacement (not owned); nullptr restores the monotonic clock.
void SetTickSource(ITickSource* source);

// Microseconds of the monotonic clock MonotonicTickSource reads: its tick is
// TickOfMicroseconds of this, so a time on this clock (a start converted from
// the start station's) is a tick of the session's.
std::int64_t MonotonicMicroseconds();
constexpr std::uint32_t TickOfMicroseconds(std::int64_t us)
{
    return std::uint32_t(us >= 0 ? us / 1000 : (us - 999) / 1000);
}

constexpr std::uint32_t ElapsedTicks(std::uint32_t from, std::uint32_t to)
{
    return to - from;
}
