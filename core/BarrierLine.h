#pragma once

#include <cstdint>

// One light-barrier line (CTS, DSR or RLSD) and its edge rule.
//
// The port reports an event whenever one of its lines changes. The line keeps
// the last status word it evaluated, reduced to its own bit; an event whose
// whole status word equals that recorded word is a repeat and is ignored. The
// start values can't be a reduced status word, so the first event of each line
// is always evaluated.
class TBarrierLine
{
public:
    enum EdgeChoice { EdgeOn = 0, EdgeOff = 1 };

    constexpr TBarrierLine(std::uint32_t bit, std::uint32_t initialWord) : m_bit(bit), m_recorded(initialWord)
    {
    }

    // Evaluates the port's modem status for this line. True when the edge chosen
    // (0 "ON": the line became asserted, 1 "OFF": it dropped; any other value
    // never fires) has happened.
    constexpr bool Evaluate(std::uint32_t modemStatus, int edgeChoice)
    {
        if (modemStatus == m_recorded)
            return false;
        m_recorded = modemStatus & m_bit;
        const bool asserted = m_recorded != 0;
        return (edgeChoice == EdgeOn && asserted) || (edgeChoice == EdgeOff && !asserted);
    }

    constexpr std::uint32_t Recorded() const { return m_recorded; }

private:
    std::uint32_t m_bit;
    std::uint32_t m_recorded;
};

inline constexpr std::uint32_t kLastCtsStart = 0xAAAAAAAAu;
inline constexpr std::uint32_t kLastDsrStart = 0x55555555u;
inline constexpr std::uint32_t kLastRlsdStart = 0x11111111u;
