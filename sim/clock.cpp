#include "sim/clock.h"

#include <cmath>
#include <stdexcept>
#include <thread>

namespace sim {

Clock::Duration RealClock::now() const
{
    return std::chrono::duration_cast<Duration>(std::chrono::steady_clock::now() - m_start);
}

void RealClock::sleepFor(Duration d)
{
    if (d > Duration::zero())
        std::this_thread::sleep_for(d);
}

ScaledClock::ScaledClock(double scale)
    : m_scale(scale)
{
    if (!(scale > 0) || !std::isfinite(scale))
        throw std::invalid_argument("a clock's scale must be a positive number");
}

Clock::Duration ScaledClock::now() const
{
    const std::chrono::duration<double, std::nano> wall = std::chrono::steady_clock::now() - m_start;
    return Duration(static_cast<Duration::rep>(wall.count() * m_scale));
}

void ScaledClock::sleepFor(Duration d)
{
    if (d > Duration::zero())
        std::this_thread::sleep_for(wallTime(d));
}

Clock::Duration ScaledClock::wallTime(Duration d) const
{
    // Rounded up, so that a sleep never ends before the time it was asked to wait.
    return Duration(static_cast<Duration::rep>(std::ceil(static_cast<double>(d.count()) / m_scale)));
}

} // namespace sim
