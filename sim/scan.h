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

class ReadingMemory;

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

    /// As above, into a memory that describes whole passes as ranges of the timeline: a long
    /// scan then costs a few arithmetic steps instead of one stored reading each.
    void advance(Clock::Duration now, ReadingMemory &stored,
                 std::size_t keep = std::numeric_limits<std::size_t>::max());

    const std::vector<Step> &steps() const { return m_steps; }
    /// Per step, when it finishes counted from the start of its pass.
    const std::vector<Clock::Duration> &finishOffsets() const { return m_finishOffsets; }

    /// A bus trigger at @p now (after advance(now)); false when the scan is not waiting for one.
    bool trigger(Clock::Duration now);

    bool finished() const { return m_finished; }

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
    /// Runs steps until @p now; with @p passEnd, stops at the end of the pass under way.
    template<class Store>
    void run(Clock::Duration now, Store &&store, bool passEnd = false);
    /// Stores the whole passes done by @p now as one range of passes; false when there was none.
    bool storeWholePasses(Clock::Duration now, ReadingMemory &stored);

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

/// @brief The instrument's reading memory, oldest first, for the readings of one scan.
///
/// A reading is fully determined by its step and the start of its pass, and consecutive
/// passes usually start a fixed period apart, so the memory keeps spans of the timeline and
/// works a reading's value out only when it is read.
class ReadingMemory
{
public:
    /// Empties the memory for the readings of @p scan.
    void follow(const ScanRun &scan);
    void clear();

    std::size_t size() const { return m_size; }
    /// The oldest reading; the memory must not be empty.
    Reading oldest() const;
    /// Drops the oldest @p count readings (all when there are fewer).
    void dropOldest(std::size_t count);
    /// Drops the oldest readings beyond the newest @p capacity.
    void keepNewest(std::size_t capacity);

    /// Appends the reading of step @p step in the pass that started at @p passStart.
    void append(std::size_t step, Clock::Duration passStart);
    /// Appends @p passes whole passes, the first starting at @p passStart, each @p period later.
    void appendPasses(Clock::Duration passStart, Clock::Duration period, std::size_t passes);

private:
    /// Readings `count` steps long from step `first` of the pass starting at `passStart`;
    /// later passes start `period` apart.
    struct Span
    {
        Clock::Duration passStart{};
        Clock::Duration period{};
        std::size_t first = 0;
        std::size_t count = 0;
    };

    std::vector<ScanRun::Step> m_steps;
    std::vector<Clock::Duration> m_finishOffsets;
    std::deque<Span> m_spans;
    std::size_t m_size = 0;
};

} // namespace sim
