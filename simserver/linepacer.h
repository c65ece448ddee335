#pragma once

#include <algorithm>
#include <cstddef>

#include "sim/clock.h"

namespace simserver {

/// @brief The timing of a serial line to the instrument, on the instrument's clock.
///
/// Every character takes its bits' time on the line, in either direction. A message takes effect
/// one transaction time after its last character has arrived, and a reply starts to leave one
/// transaction time after it is ready and the line is free: the same times the in-process
/// simulated session spends. Made with a baud rate of 0 it takes no time at all.
class LinePacer
{
public:
    using Duration = sim::Clock::Duration;

    LinePacer(long baudRate, int bitsPerCharacter, Duration transactionTime)
        : m_baudRate(baudRate)
        , m_bitsPerCharacter(bitsPerCharacter)
        , m_transactionTime(baudRate > 0 ? transactionTime : Duration::zero())
    {
    }

    /// Time @p characters take on the line.
    Duration lineTime(std::size_t characters) const
    {
        if (m_baudRate <= 0)
            return Duration::zero();
        // In whole nanoseconds from the count, so long replies gather no rounding error; rounded
        // up, so that the last character has wholly left when the time is up.
        const auto bits = static_cast<long long>(characters) * m_bitsPerCharacter;
        return Duration((bits * 1'000'000'000LL + m_baudRate - 1) / m_baudRate);
    }

    /// @p characters read from the controller at @p now, following those read before: when the
    /// instrument has the last of them.
    Duration received(Duration now, std::size_t characters)
    {
        m_inputFreeAt = std::max(now, m_inputFreeAt) + lineTime(characters);
        return m_inputFreeAt + m_transactionTime;
    }

    /// A reply of @p characters, ready at @p now, is handed to the line.
    void startReply(Duration now, std::size_t characters)
    {
        m_replyStart = std::max(now, m_outputFreeAt) + m_transactionTime;
        m_replyCharacters = characters;
        m_outputFreeAt = m_replyStart + lineTime(characters);
    }

    /// Characters of the current reply that have left the instrument by @p now.
    std::size_t sent(Duration now) const
    {
        if (now < m_replyStart)
            return 0;
        if (m_baudRate <= 0 || now >= m_outputFreeAt)
            return m_replyCharacters;
        const auto bits = static_cast<long long>(m_bitsPerCharacter);
        const auto elapsed = (now - m_replyStart).count();
        return std::min(m_replyCharacters, static_cast<std::size_t>(elapsed * m_baudRate / (bits * 1'000'000'000LL)));
    }

    /// When the current reply's last character has left.
    Duration replyEnd() const { return m_outputFreeAt; }

    /// A cleared line: what was on its way is gone, and the line is free from @p now.
    void clear(Duration now)
    {
        m_inputFreeAt = std::min(m_inputFreeAt, now);
        m_outputFreeAt = std::min(m_outputFreeAt, now);
        m_replyStart = now;
        m_replyCharacters = 0;
    }

private:
    long m_baudRate;
    int m_bitsPerCharacter;
    Duration m_transactionTime;
    Duration m_inputFreeAt{};
    Duration m_outputFreeAt{};
    Duration m_replyStart{};
    std::size_t m_replyCharacters = 0;
};

} // namespace simserver
