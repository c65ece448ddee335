#include "sim/clock.h"

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

} // namespace sim
