#pragma once

#include <cstddef>
#include <deque>
#include <limits>
#include <optional>
#include <vector>

#include "sim/clock.h"

namespace sim {

enum class Function { DcVolts, Thermocouple };
enum class TemperatureUnit { Celsius, Fahrenheit, Kelvin };
enum class ReferenceJunction { Internal, External, Fixed };
enum class TriggerSource { Immediate, Timer, Bus, External };

/// @brief How one multiplexer channel measures; *RST gives DC volts, autorange, NPLC 1, no delay.
struct ChannelConfig
{
    Function function = Function::DcVolts;
    std::optional<double> range; ///< DC volts range in V; empty: autorange
    char thermocoupleType = 'J';
    TemperatureUnit unit = TemperatureUnit::Celsius;
    ReferenceJunction referenceJunction = ReferenceJunction::Internal;
    double nplc = 1;
    double delaySeconds = 0;

    /// Power-line frequency the integration time is counted in.
    static constexpr double kLineFrequencyHz = 50;

    /// Channel delay plus integration time.
    Clock::Duration measurementTime() const;
};

/// @brief One stored reading.
struct Reading
{
    double value = 0;
    Clock::Duration time{}; ///< when the channel finished, on the instrument's clock
    int channel = 0;
};

/// The value a channel shows at @p at on the instrument's clock: thermocouples near room
/// temperature, voltage channels near a fixed per-channel level, both with slow drift and a
/// little noise. Deterministic, so tests on a virtual clock repeat exactly.
double simulatedValue(int channel, const ChannelConfig &config, Clock::Duration at);

/// Value stored for a reading beyond the range (SCPI's overload marker).
inline constexpr double kOverload = 9.9e37;

/// @brief The timing of one running scan, worked out lazily from the clock.
///
/// Pass k starts at the scan start plus k timer intervals (TIMer), right after the previous pass
/// (IMMediate) or on a bus trigger (BUS); never on EXTernal, which has no line here. Within a
/// pass each channel takes its delay plus its integration time, and its reading is stored when
/// it finishes.
class ScanRun
{
public:
    struct Step
    {
        int channel = 0;
        ChannelConfig config;
    };

    struct Options
    {
        int passes = 1;
        TriggerSource source = TriggerSource::Immediate;
        Clock::Duration timer{};
        bool neverCompletes = false; ///< the last reading is never taken
        bool extraReading = false; ///< the last reading is stored twice
    };

    ScanRun(std::vector<Step> steps, Options options, Clock::Duration start);

    /// Stores, in order, every reading that has finished by @p now; of those, only the last
    /// @p keep need be stored, when older ones would be overwritten at once anyway.
    void advance(Clock::Duration now, std::deque<Reading> &stored,
                 std::size_t keep = std::numeric_limits<std::size_t>::max());

    /// A bus trigger at @p now (after advance(now)); false when the scan is not waiting for one.
    bool trigger(Clock::Duration now);

    bool finished() const { return m_finished; }
    Clock::Duration start() const { return m_start; }

    /// When the last reading is (or was) stored; empty when that depends on a trigger to come or
    /// never happens.
    std::optional<Clock::Duration> completion() const;

private:
    std::optional<Clock::Duration> startOfPass(int pass) const;
    std::optional<Clock::Duration> projectedCompletion() const;
    /// When pass m_pass + @p k ends, from where the scan stands; empty when it waits for a trigger.
    std::optional<Clock::Duration> finishOfPass(long long k) const;
    /// Passes over without making their readings, when at least @p keep later ones are done by @p now.
    void skipOverwrittenPasses(Clock::Duration now, std::size_t keep);
    template<class Store>
    void run(Clock::Duration now, Store &&store);

    std::vector<Step> m_steps;
    std::vector<Clock::Duration> m_finishOffsets; ///< per step, from the start of its pass
    Options m_options;
    Clock::Duration m_start;

    int m_pass = 0;
    std::size_t m_step = 0;
    std::optional<Clock::Duration> m_passStart;
    Clock::Duration m_lastFinish{};
    bool m_finished = false;
    /// completion(), worked out once. Only a trigger changes the timeline.
    mutable std::optional<std::optional<Clock::Duration>> m_completion;
};

} // namespace sim
