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
        const double celsius = 22.6 + 0.25 * position + 0.4 * drift(channel, at) + 0.03 * noise(channel, at);
        switch (config.unit) {
        case TemperatureUnit::Celsius: return celsius;
        case TemperatureUnit::Fahrenheit: return celsius * 9.0 / 5.0 + 32.0;
        case TemperatureUnit::Kelvin: return celsius + 273.15;
        }
        return celsius;
    }
    const double volts = 0.5 + 0.45 * position + 0.002 * drift(channel, at) + 0.00005 * noise(channel, at);
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
    case TriggerSource::Immediate: return pass == 0 ? m_start : m_lastFinish;
    case TriggerSource::Timer:
        // A pass that outlasts the timer delays the next one: the trigger waits for the scan.
        return std::max(later(m_start, pass, m_options.timer), m_lastFinish);
    case TriggerSource::Bus:
    case TriggerSource::External: return std::nullopt;
    }
    return std::nullopt;
}

template<class Store>
void ScanRun::run(Clock::Duration now, Store &&store, bool passEnd)
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
            if (passEnd)
                return;
        }
    }
}

void ScanRun::advance(Clock::Duration now, std::deque<Reading> &stored, std::size_t keep)
{
    skipOverwrittenPasses(now, keep);
    run(now, [&](const Step &step, Clock::Duration at, bool twice) {
        const Reading reading{simulatedValue(step.channel, step.config, at), at, step.channel};
        stored.push_back(reading);
        if (twice)
            stored.push_back(reading);
    });
}

void ScanRun::advance(Clock::Duration now, ReadingMemory &stored, std::size_t keep)
{
    skipOverwrittenPasses(now, keep);
    const auto store = [&](const Step &step, Clock::Duration, bool twice) {
        const auto index = static_cast<std::size_t>(&step - m_steps.data());
        stored.append(index, *m_passStart);
        if (twice)
            stored.append(index, *m_passStart);
    };
    if (m_step != 0)
        run(now, store, true);
    while (storeWholePasses(now, stored)) {
    }
    run(now, store);
}

bool ScanRun::storeWholePasses(Clock::Duration now, ReadingMemory &stored)
{
    if (m_finished || m_step != 0
        || (m_options.source != TriggerSource::Immediate && m_options.source != TriggerSource::Timer))
        return false;
    // A last pass that differs from the others is left to run().
    const bool lastDiffers = m_options.neverCompletes || m_options.extraReading;
    const long long whole = m_options.passes - m_pass - (lastDiffers ? 1 : 0);
    const auto doneBy = [&](long long k) {
        const std::optional<Clock::Duration> finish = finishOfPass(k);
        return finish && *finish != Clock::Duration::max() && *finish <= now;
    };
    if (whole <= 0 || !doneBy(0))
        return false;
    long long low = 1; // doneBy(low - 1) holds
    long long high = whole;
    while (low < high) {
        const long long mid = low + (high - low + 1) / 2;
        if (doneBy(mid - 1))
            low = mid;
        else
            high = mid - 1;
    }
    long long passes = low;
    const Clock::Duration first = *finishOfPass(0);
    Clock::Duration period{};
    if (passes >= 2) {
        const Clock::Duration second = *finishOfPass(1);
        period = second - first;
        // From the second pass on, a pass ends at the latest of a few straight lines in the pass
        // number, whose steps never shrink: when the first two steps are one period and the
        // total is a whole number of them, every step is.
        const auto total = (*finishOfPass(passes - 1) - first).count();
        const bool even = passes == 2
                          || (*finishOfPass(2) - second == period
                              && (period.count() > 0
                                      ? total % period.count() == 0 && total / period.count() == passes - 1
                                      : total == 0));
        if (!even)
            passes = 1; // the next call takes the rest
    }
    stored.appendPasses(first - m_finishOffsets.back(), period, static_cast<std::size_t>(passes));
    m_lastFinish = *finishOfPass(passes - 1);
    m_pass += static_cast<int>(passes);
    m_passStart.reset();
    m_finished = m_pass == m_options.passes;
    return true;
}

bool ScanRun::trigger(Clock::Duration now)
{
    const bool waiting = !m_finished && !m_passStart && m_options.source == TriggerSource::Bus;
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
    if (m_options.neverCompletes)
        return std::nullopt;
    if (!m_completion)
        m_completion = projectedCompletion();
    return *m_completion;
}

std::optional<Clock::Duration> ScanRun::projectedCompletion() const
{
    const std::optional<Clock::Duration> last = finishOfPass(m_options.passes - 1 - m_pass);
    if (last == Clock::Duration::max())
        return std::nullopt; // beyond the clock's range: never
    return last;
}

std::optional<Clock::Duration> ScanRun::finishOfPass(long long k) const
{
    // In closed form: walking 50,000 passes ahead for every "*OPC?" would stall the instrument.
    const std::optional<Clock::Duration> current = m_passStart ? m_passStart : startOfPass(m_pass);
    if (!current)
        return std::nullopt; // waiting for a trigger
    const Clock::Duration passTime = m_finishOffsets.back();
    const Clock::Duration finish = later(*current, 1, passTime);
    if (k == 0)
        return finish;
    switch (m_options.source) {
    case TriggerSource::Immediate: return later(finish, k, passTime);
    case TriggerSource::Timer: {
        // Pass m + k starts at the latest of: its own timer tick; the tick after pass m plus
        // k - 1 pass times (passes longer than the timer run back to back); the end of pass m
        // plus k - 1 pass times.
        const Clock::Duration tick = later(m_start, m_pass + k, m_options.timer);
        const Clock::Duration backToBack = later(later(m_start, m_pass + 1, m_options.timer), k - 1, passTime);
        const Clock::Duration afterThis = later(finish, k - 1, passTime);
        return later(std::max({tick, backToBack, afterThis}), 1, passTime);
    }
    case TriggerSource::Bus:
    case TriggerSource::External: return std::nullopt; // the next pass waits for a trigger
    }
    return std::nullopt;
}

void ScanRun::skipOverwrittenPasses(Clock::Duration now, std::size_t keep)
{
    if (m_finished || m_step != 0 || keep == 0)
        return;
    const auto perPass = static_cast<long long>(m_steps.size());
    // A scan that never takes its last reading has one fewer to cover with.
    const std::size_t needed = keep + (m_options.neverCompletes ? 1 : 0);
    const long long covering = static_cast<long long>((needed + m_steps.size() - 1) / m_steps.size());
    const long long remaining = m_options.passes - 1 - m_pass; // passes after this one
    if (keep >= static_cast<std::size_t>(perPass) * static_cast<std::size_t>(m_options.passes) || remaining < covering)
        return;
    // The first n passes can go unmade when the `covering` passes after them are done by now.
    const auto doneBy = [&](long long k) {
        const std::optional<Clock::Duration> finish = finishOfPass(k);
        return finish && *finish != Clock::Duration::max() && *finish <= now;
    };
    long long low = 0; // doneBy(low - 1 + covering) holds, or low is 0
    long long high = remaining - covering + 1;
    while (low < high) {
        const long long mid = low + (high - low + 1) / 2;
        if (doneBy(mid - 1 + covering))
            low = mid;
        else
            high = mid - 1;
    }
    if (low == 0)
        return;
    m_lastFinish = *finishOfPass(low - 1);
    m_pass += static_cast<int>(low);
    m_passStart.reset();
}

void ReadingMemory::follow(const ScanRun &scan)
{
    m_steps = scan.steps();
    m_finishOffsets = scan.finishOffsets();
    clear();
}

void ReadingMemory::clear()
{
    m_spans.clear();
    m_size = 0;
}

Reading ReadingMemory::oldest() const
{
    const Span &span = m_spans.front();
    const ScanRun::Step &step = m_steps[span.first];
    const Clock::Duration at = span.passStart + m_finishOffsets[span.first];
    return {simulatedValue(step.channel, step.config, at), at, step.channel};
}

void ReadingMemory::dropOldest(std::size_t count)
{
    while (count > 0 && !m_spans.empty()) {
        Span &span = m_spans.front();
        if (count >= span.count) {
            count -= span.count;
            m_size -= span.count;
            m_spans.pop_front();
            continue;
        }
        const std::size_t index = span.first + count;
        span.passStart += static_cast<long long>(index / m_steps.size()) * span.period;
        span.first = index % m_steps.size();
        span.count -= count;
        m_size -= count;
        count = 0;
    }
}

void ReadingMemory::keepNewest(std::size_t capacity)
{
    if (m_size > capacity)
        dropOldest(m_size - capacity);
}

void ReadingMemory::append(std::size_t step, Clock::Duration passStart)
{
    ++m_size;
    if (!m_spans.empty()) {
        Span &span = m_spans.back();
        const std::size_t next = span.first + span.count;
        const std::size_t perPass = m_steps.size();
        if (next % perPass == step) {
            const auto pass = static_cast<long long>(next / perPass);
            bool fits = false;
            if (pass == 0) {
                fits = passStart == span.passStart;
            } else if (next == perPass) { // the span's period is still unused
                span.period = passStart - span.passStart;
                fits = true;
            } else {
                fits = passStart == span.passStart + pass * span.period;
            }
            if (fits) {
                ++span.count;
                return;
            }
        }
    }
    m_spans.push_back({passStart, Clock::Duration{}, step, 1});
}

void ReadingMemory::appendPasses(Clock::Duration passStart, Clock::Duration period, std::size_t passes)
{
    m_size += passes * m_steps.size();
    m_spans.push_back({passStart, period, 0, passes * m_steps.size()});
}

} // namespace sim
