#include "EventTickMap.h"

#include "TickSource.h"

namespace {

// Offsets compare in wrapping 32-bit arithmetic: a is smaller when b - a is "positive".
bool OffsetBefore(std::uint32_t a, std::uint32_t b)
{
    return std::int32_t(b - a) > 0;
}

} // namespace

void EventTickMap::Observe(std::uint64_t timestamp, std::uint32_t now)
{
    if (timestamp == 0)
        return;
    const std::uint32_t offset = now - std::uint32_t(timestamp);
    if (m_current && ElapsedTicks(m_current->begin, now) >= SpanMs) {
        // A span with no event for long says nothing about today's offset.
        m_previous = ElapsedTicks(m_current->begin, now) < 2 * SpanMs ? m_current : std::nullopt;
        m_current.reset();
    }
    if (!m_current)
        m_current = Span{now, offset};
    else if (OffsetBefore(offset, m_current->offset))
        m_current->offset = offset;
}

std::uint32_t EventTickMap::TickAt(std::uint64_t timestamp, std::uint32_t now) const
{
    if (timestamp == 0 || !m_current)
        return now;
    std::uint32_t offset = m_current->offset;
    if (m_previous && OffsetBefore(m_previous->offset, offset))
        offset = m_previous->offset;
    const std::uint32_t pressed = std::uint32_t(timestamp) + offset;
    const std::int32_t age = std::int32_t(now - pressed);
    if (age < 0 || std::uint32_t(age) > MaxAgeMs)
        return now;
    return pressed;
}
