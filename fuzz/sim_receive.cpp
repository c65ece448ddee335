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

/// The reply to @p query, which the instrument must have ready at once unless it may be silent.
std::optional<std::string> ask(sim::Qv3310 &instrument, const char *query, bool maySayNothing, std::string_view input)
{
    instrument.receive(query);
    std::optional<std::string> reply = instrument.takeReply();
    FUZZ_CHECK(reply || maySayNothing, std::string("no reply to ") + query + " after " + fuzz::shown(input));
    return reply;
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
long long errorNumber(const std::string &reply, std::string_view input)
{
    const std::size_t comma = reply.find(',');
    const std::optional<long long> code = wholeNumber(std::string_view(reply).substr(0, comma));
    FUZZ_CHECK(comma != std::string::npos && code, "malformed error reply " + fuzz::shown(reply));
    const std::string_view quoted = std::string_view(reply).substr(comma + 1);
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
    FUZZ_CHECK(*code != 0 || reply == "+0,\"No error\"", "unexpected error reply " + fuzz::shown(reply));
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
    const std::string_view input(reinterpret_cast<const char *>(data), size);
    std::vector<std::string_view> lines;
    for (std::size_t start = 0; start < input.size();) {
        const std::size_t lf = std::min(input.find('\n', start), input.size());
        lines.push_back(input.substr(start, lf - start));
        start = lf + 1;
    }

    sim::Faults faults;
    if (!lines.empty() && lines.front().starts_with('\x01')) {
        const std::optional<sim::Faults> named = faultsOf(lines.front().substr(1));
        if (!named)
            return 0;
        faults = *named;
        lines.erase(lines.begin());
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
    for (const std::string_view line : lines) {
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
    const std::optional<std::string> pointsReply = ask(instrument, "DATA:POINts?", maySayNothing, input);
    if (!pointsReply)
        return 0;
    const std::optional<long long> points = wholeNumber(*pointsReply);
    FUZZ_CHECK(points && *points >= 0 && *points <= static_cast<long long>(sim::Qv3310::kMemoryCapacity),
               "reading memory out of bounds after " + fuzz::shown(input));

    const std::optional<std::string> countReply = ask(instrument, "SYSTem:ERRor:COUNt?", maySayNothing, input);
    if (!countReply)
        return 0;
    const std::optional<long long> count = wholeNumber(*countReply);
    FUZZ_CHECK(count && *count >= 0 && *count <= static_cast<long long>(sim::scpi::ErrorQueue::kCapacity),
               "error queue out of bounds after " + fuzz::shown(input));
    long long read = 0;
    for (;;) {
        const std::optional<std::string> reply = ask(instrument, "SYST:ERR?", maySayNothing, input);
        if (!reply || errorNumber(*reply, input) == 0)
            break;
        ++read;
        FUZZ_CHECK(read <= *count, "the error queue held more than it counted after " + fuzz::shown(input));
    }
    FUZZ_CHECK(read == *count || maySayNothing,
               "read " + std::to_string(read) + " errors of " + std::to_string(*count) + " counted");
    return 0;
}
