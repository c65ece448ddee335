#include "sim/scan.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <utility>

namespace sim {

namespace {

using Seconds = std::chrono::duration<double>;

/// SplitMix64: a well-mixed hash, so neighbouring inputs give unrelated noise.
std::uint64_t mix(std::uint64_t x)
{
    x += 0x9e3779b97f4a7c15ULL;
    x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
    x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
    return x ^ (x >> 31);
}

/// Uniform in [-1, 1), fixed for a channel and an instant.
double noise(int channel, Clock::Duration at)
{
    const std::uint64_t h = mix(static_cast<std::uint64_t>(channel) * 0x100000001b3ULL
                                ^ static_cast<std::uint64_t>(at.count()));
    return static_cast<double>(h >> 11) / static_cast<double>(1ULL << 52) - 1.0;
}

/// A slow swing with a period of minutes and a per-channel phase.
double drift(int channel, Clock::Duration at)
{
    constexpr double kPeriodSeconds = 600;
    const double phase = 0.7 * channel;
    return std::sin(2 * std::numbers::pi * Seconds(at).count() / kPeriodSeconds + phase);
}

/// a + n * b without overflow: a scan timed far in the future just never gets there.
Clock::Duration later(Clock::Duration a, long long n, Clock::Duration b)
{
    constexpr auto kMax = Clock::Duration::max().count();
    if (n > 0 && b.count() > (kMax - a.count()) / n)
        return Clock::Duration::max();
    return a + n * b;
}

} // namespace

Clock::Duration ChannelConfig::measurementTime() const
{
    return std::chrono::round<Clock::Duration>(Seconds(delaySeconds + nplc / kLineFrequencyHz));
}

double simulatedValue(int channel, const ChannelConfig &config, Clock::Duration at)
{
    const int position = (channel % 100 - 1) % 10; // 0..9 within a bank of ten
    if (config.function == Function::Thermocouple) {
        const double celsius = 22.6 + 0.25 * position + 0.4 * drift(channel, at)
                               + 0.03 * noise(channel, at);
        switch (config.unit) {
        case TemperatureUnit::Celsius:
            return celsius;
        case TemperatureUnit::Fahrenheit:
            return celsius * 9.0 / 5.0 + 32.0;
        case TemperatureUnit::Kelvin:
            return celsius + 273.15;
        }
        return celsius;
    }
    const double volts = 0.5 + 0.45 * position + 0.002 * drift(channel, at)
                         + 0.00005 * noise(channel, at);
    // A fixed range over-ranges at 120 % of full scale, like a real DMM.
    if (config.range && std::abs(volts) > 1.2 * *config.range)
        return kOverload;
    return volts;
}

ScanRun::ScanRun(std::vector<Step> steps, Options options, Clock::Duration start)
    : m_steps(std::move(steps))
    , m_options(options)
    , m_start(start)
{
    Clock::Duration offset{};
    for (const Step &step : m_steps) {
        offset += step.config.measurementTime();
        m_finishOffsets.push_back(offset);
    }
    m_finished = m_steps.empty() || m_options.passes <= 0;
}

std::optional<Clock::Duration> ScanRun::startOfPass(int pass) const
{
    switch (m_options.source) {
    case TriggerSource::Immediate:
        return pass == 0 ? m_start : m_lastFinish;
    case TriggerSource::Timer:
        // A pass that outlasts the timer delays the next one: the trigger waits for the scan.
        return std::max(later(m_start, pass, m_options.timer), m_lastFinish);
    case TriggerSource::Bus:
    case TriggerSource::External:
        return std::nullopt;
    }
    return std::nullopt;
}

template<class Store>
void ScanRun::run(Clock::Duration now, Store &&store)
{
    while (!m_finished) {
        if (!m_passStart) {
            m_passStart = startOfPass(m_pass);
            if (!m_passStart)
                return; // waiting for a trigger
        }
        const bool last = m_pass == m_options.passes - 1 && m_step + 1 == m_steps.size();
        if (last && m_options.neverCompletes)
            return;
        const Clock::Duration at = later(*m_passStart, 1, m_finishOffsets[m_step]);
        if (at > now || at == Clock::Duration::max())
            return;
        store(m_steps[m_step], at, last && m_options.extraReading);
        m_lastFinish = at;
        if (++m_step == m_steps.size()) {
            m_step = 0;
            m_passStart.reset();
            m_finished = ++m_pass == m_options.passes;
        }
    }
}

void ScanRun::advance(Clock::Duration now, std::deque<Reading> &stored)
{
    run(now, [&](const Step &step, Clock::Duration at, bool twice) {
        const Reading reading{simulatedValue(step.channel, step.config, at), at, step.channel};
        stored.push_back(reading);
        if (twice)
            stored.push_back(reading);
    });
}

bool ScanRun::trigger(Clock::Duration now)
{
    const bool waiting = !m_finished && !m_passStart
                         && m_options.source == TriggerSource::Bus;
    if (waiting) {
        m_passStart = now;
        m_completion.reset();
    }
    return waiting;
}

std::optional<Clock::Duration> ScanRun::completion() const
{
    if (m_finished)
        return m_lastFinish;
    if (!m_completion) {
        ScanRun ahead = *this;
        ahead.run(Clock::Duration::max(), [](const Step &, Clock::Duration, bool) {});
        // Empty when it waits for a trigger, or never completes.
        m_completion = ahead.m_finished ? std::optional(ahead.m_lastFinish) : std::nullopt;
    }
    return *m_completion;
}

} // namespace sim
