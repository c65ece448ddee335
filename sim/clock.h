#pragma once

#include <chrono>

namespace sim {

/// @brief The simulated instrument's sense of time.
///
/// The instrument and its sessions ask the clock for the time and spend time through it, so a
/// test can run a whole scan on a virtual clock in milliseconds while the program, run for an
/// operator, sees the instrument's real timing.
class Clock
{
public:
    using Duration = std::chrono::nanoseconds;

    virtual ~Clock() = default;
    /// Time since the clock was created.
    virtual Duration now() const = 0;
    /// Lets @p d pass: sleeps on a real clock, advances a virtual one.
    virtual void sleepFor(Duration d) = 0;
};

class RealClock final : public Clock
{
public:
    Duration now() const override;
    void sleepFor(Duration d) override;

private:
    std::chrono::steady_clock::time_point m_start = std::chrono::steady_clock::now();
};

/// @brief A real clock that runs @p scale times faster: a whole run in a fraction of its time, with
/// every duration in the same ratio to the others.
class ScaledClock final : public Clock
{
public:
    explicit ScaledClock(double scale);
    Duration now() const override;
    void sleepFor(Duration d) override;
    /// The wall-clock time that @p d on this clock takes.
    Duration wallTime(Duration d) const;
    double scale() const { return m_scale; }

private:
    double m_scale;
    std::chrono::steady_clock::time_point m_start = std::chrono::steady_clock::now();
};

class VirtualClock final : public Clock
{
public:
    Duration now() const override { return m_now; }
    void sleepFor(Duration d) override { m_now += d; }

private:
    Duration m_now{0};
};

} // namespace sim
