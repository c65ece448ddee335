// The simulated QV3310's command interpreter, fed program messages on a virtual clock. It must not
// crash or hang, must hand out every reply it promises, and must keep its error queue and its
// reading memory within their bounds; its error replies must be well formed and empty the queue.
//
// Input: one line per step; its first byte says what the controller does.
//   NUL digits   let the milliseconds given pass on the instrument's clock (1 s when none)
//   0x01 faults  (first line only) the instrument's faults, as for --sim-fault: "no-dmm,queued-errors=3"
//   0x02 text    send the program message text and leave its reply unread
//   0x03         read, though no reply may be due
//   0x04         device clear
//   anything     send the line as a program message, then read its reply when one will come
// At most kMaxSteps steps are taken and the rest of the input is ignored. One message holds any
// number of commands, up to the input buffer's 4096 bytes, so a few steps reach what a long
// dialogue does; the bound keeps each input cheap, and the fuzzer fast enough to try the long
// messages where a cost that grows faster than their length would show.

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "check.h"
#include "sim/clock.h"
#include "sim/faults.h"
#include "sim/qv3310.h"
#include "sim/scpierrors.h"

namespace {

using namespace std::chrono_literals;

constexpr int kMaxSteps = 12;

/// The reply to @p query, which the instrument must have ready at once unless it may be silent.
std::optional<std::string> ask(sim::Qv3310 &instrument, const std::string &query, bool maySayNothing,
                               std::string_view input)
{
    instrument.receive(query);
    std::optional<std::string> reply = instrument.takeReply();
    FUZZ_CHECK(reply || maySayNothing, "no reply to " + query + " after " + fuzz::shown(input));
    return reply;
}

/// The response message units of @p reply: split at the semicolons outside strings, where a
/// doubled quote stands for one inside.
std::vector<std::string_view> responseUnits(std::string_view reply)
{
    std::vector<std::string_view> units;
    bool quoted = false;
    std::size_t start = 0;
    for (std::size_t i = reply.find_first_of("\";"); i != std::string_view::npos;
         i = reply.find_first_of("\";", i + 1)) {
        if (reply[i] == '"') {
            quoted = !quoted;
        } else if (!quoted) {
            units.push_back(reply.substr(start, i - start));
            start = i + 1;
        }
    }
    units.push_back(reply.substr(start));
    return units;
}

/// A whole number with an optional sign and at most 10 digits; empty when @p text is not one.
std::optional<long long> wholeNumber(std::string_view text)
{
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty() || text.size() > 10)
        return std::nullopt;
    long long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + (c - '0');
    }
    return negative ? -value : value;
}

/// Checks one SYSTem:ERRor? reply, `-113,"Undefined header;FOO"`, and returns its number.
long long errorNumber(std::string_view reply, std::string_view input)
{
    const std::size_t comma = reply.find(',');
    const std::optional<long long> code = wholeNumber(reply.substr(0, comma));
    FUZZ_CHECK(comma != std::string::npos && code, "malformed error reply " + fuzz::shown(reply));
    const std::string_view quoted = reply.substr(comma + 1);
    FUZZ_CHECK(quoted.size() >= 2 && quoted.front() == '"' && quoted.back() == '"',
               "error text not quoted: " + fuzz::shown(reply));
    std::size_t length = 0;
    const std::string_view inner = quoted.substr(1, quoted.size() - 2);
    for (std::size_t i = 0; i < inner.size(); ++i, ++length) {
        if (inner[i] == '"') {
            FUZZ_CHECK(i + 1 < inner.size() && inner[i + 1] == '"', "lone quote in error text " + fuzz::shown(reply));
            ++i;
        }
    }
    FUZZ_CHECK(length <= sim::scpi::ErrorQueue::kMaxTextLength,
               "error text of " + std::to_string(length) + " characters after " + fuzz::shown(input));
    FUZZ_CHECK(*code != 0 || reply == R"(+0,"No error")", "unexpected error reply " + fuzz::shown(reply));
    return *code;
}

/// Counts what the instrument is told of, without keeping it.
class CountingObserver final : public sim::Qv3310::Observer
{
public:
    void messageReceived(std::string_view) override { ++count; }
    void deviceCleared() override { ++count; }
    std::size_t count = 0;
};

/// The faults named on a first line beginning with 0x01; empty when they are refused.
std::optional<sim::Faults> faultsOf(std::string_view line)
{
    try {
        return sim::Faults::parse({std::string(line)});
    } catch (const std::invalid_argument &) {
        return std::nullopt;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    std::string_view rest(reinterpret_cast<const char *>(data), size);
    const std::string_view input = rest;
    // Takes the next line off the front of rest.
    const auto nextLine = [&rest] {
        const std::size_t lf = std::min(rest.find('\n'), rest.size());
        const std::string_view line = rest.substr(0, lf);
        rest.remove_prefix(std::min(lf + 1, rest.size()));
        return line;
    };

    sim::Faults faults;
    if (rest.starts_with('\x01')) {
        const std::optional<sim::Faults> named = faultsOf(nextLine().substr(1));
        if (!named)
            return 0;
        faults = *named;
    }
    auto clock = std::make_shared<sim::VirtualClock>();
    std::unique_ptr<sim::Qv3310> made;
    try {
        made = std::make_unique<sim::Qv3310>(clock, faults);
    } catch (const std::invalid_argument &) {
        FUZZ_CHECK(!faults.errorOn.empty(), "the instrument refused faults it should take: " + fuzz::shown(input));
        return 0; // error-on names no command
    }
    sim::Qv3310 &instrument = *made;
    const auto observer = std::make_shared<CountingObserver>();
    instrument.setObserver(observer);

    std::size_t recorded = 0; // messages and clears the observer must have been told of
    for (int step = 0; step < kMaxSteps && !rest.empty(); ++step) {
        const std::string_view line = nextLine();
        const char action = line.empty() ? ' ' : line.front();
        if (action == '\0') {
            // At most 8 digits: a day of virtual time, enough for any scan the limits allow to matter.
            long ms = 0;
            std::size_t digits = 0;
            for (char c : line.substr(1)) {
                if (c < '0' || c > '9' || digits == 8)
                    break;
                ms = ms * 10 + (c - '0');
                ++digits;
            }
            clock->sleepFor(digits == 0 ? std::chrono::milliseconds(1000) : std::chrono::milliseconds(ms));
            continue;
        }
        if (action == '\x03') {
            instrument.takeReply();
            continue;
        }
        if (action == '\x04') {
            const bool silent = instrument.silent(); // a silent instrument ignores the clear too
            instrument.deviceClear();
            ++recorded;
            FUZZ_CHECK(silent || !instrument.nextReplyAt(), "a reply survived the device clear");
            continue;
        }
        const bool readReply = action != '\x02';
        instrument.receive(readReply ? line : line.substr(1));
        ++recorded;
        clock->sleepFor(1ms); // the bus transaction
        // A controller reads every reply the instrument will give, waiting as long as it takes.
        if (const std::optional<sim::Clock::Duration> at = instrument.nextReplyAt(); at && readReply) {
            FUZZ_CHECK(!faults.noAnswer, "an instrument that never answers promised a reply");
            if (*at > clock->now())
                clock->sleepFor(*at - clock->now());
            FUZZ_CHECK(instrument.takeReply().has_value(),
                       "the reply promised for now did not come, after " + fuzz::shown(line));
        }
    }
    FUZZ_CHECK(observer->count == recorded,
               std::to_string(observer->count) + " messages observed of " + std::to_string(recorded));

    // Faults that keep replies back, or make these very queries fail, leave nothing to check below.
    const bool maySayNothing = faults.noAnswer || faults.stopAnsweringAfter || !faults.errorOn.empty();
    // The closing questions in two messages, as a controller would ask them.
    const std::optional<std::string> countsReply = ask(instrument, "DATA:POINts?;:SYSTem:ERRor:COUNt?", maySayNothing,
                                                       input);
    if (!countsReply)
        return 0;
    const std::vector<std::string_view> counts = responseUnits(*countsReply);
    if (counts.size() != 2) {
        FUZZ_CHECK(maySayNothing,
                   "two queries, " + std::to_string(counts.size()) + " replies: " + fuzz::shown(*countsReply));
        return 0;
    }
    const std::optional<long long> points = wholeNumber(counts[0]);
    FUZZ_CHECK(points && *points >= 0 && *points <= static_cast<long long>(sim::Qv3310::kMemoryCapacity),
               "reading memory out of bounds after " + fuzz::shown(input));
    const std::optional<long long> count = wholeNumber(counts[1]);
    FUZZ_CHECK(count && *count >= 0 && *count <= static_cast<long long>(sim::scpi::ErrorQueue::kCapacity),
               "error queue out of bounds after " + fuzz::shown(input));

    // Every error counted, then "no error": the queue must hold exactly what it counted.
    std::string errorQueries;
    for (long long i = 0; i <= *count; ++i)
        errorQueries += i == 0 ? "SYST:ERR?" : ";:SYST:ERR?";
    const std::optional<std::string> errorsReply = ask(instrument, errorQueries, maySayNothing, input);
    if (!errorsReply)
        return 0;
    const std::vector<std::string_view> errors = responseUnits(*errorsReply);
    if (errors.size() != static_cast<std::size_t>(*count) + 1) {
        FUZZ_CHECK(maySayNothing, std::to_string(*count + 1) + " error queries, " + std::to_string(errors.size())
                                      + " replies: " + fuzz::shown(*errorsReply));
        return 0;
    }
    for (std::size_t i = 0; i < errors.size(); ++i) {
        const bool last = i + 1 == errors.size();
        FUZZ_CHECK((errorNumber(errors[i], input) == 0) == last,
                   "error " + std::to_string(i + 1) + " of " + std::to_string(*count)
                       + " counted: " + fuzz::shown(errors[i]) + " after " + fuzz::shown(input));
    }
    return 0;
}
