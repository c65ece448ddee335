#include "sim/faults.h"

#include <cctype>
#include <charconv>
#include <limits>
#include <stdexcept>
#include <string_view>
#include <system_error>

namespace sim {

namespace {

constexpr int kMaxQueuedErrors = 100;

std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
        text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
        text.remove_suffix(1);
    return text;
}

int toInteger(std::string_view name, std::string_view value, int min,
              int max = std::numeric_limits<int>::max())
{
    int number = 0;
    const std::size_t skip = !value.empty() && value.front() == '+' ? 1 : 0;
    const auto result = std::from_chars(value.data() + skip, value.data() + value.size(), number);
    if (value.empty() || result.ec != std::errc() || result.ptr != value.data() + value.size()
        || number < min || number > max) {
        throw std::invalid_argument("fault \"" + std::string(name) + "\": \"" + std::string(value)
                                    + "\" is not a valid number");
    }
    return number;
}

int toErrorCode(std::string_view name, std::string_view value)
{
    const int code = toInteger(name, value, std::numeric_limits<int>::min());
    if (code == 0)
        throw std::invalid_argument("fault \"" + std::string(name) + "\": 0 is not an error number");
    return code;
}

void apply(Faults &faults, std::string_view item)
{
    const std::size_t equals = item.find('=');
    const std::string name(trimmed(item.substr(0, equals)));
    const bool hasValue = equals != std::string_view::npos;
    const std::string_view value = hasValue ? trimmed(item.substr(equals + 1)) : std::string_view{};

    const auto noValue = [&] {
        if (hasValue)
            throw std::invalid_argument("fault \"" + name + "\" takes no value");
    };
    const auto needValue = [&] {
        if (value.empty())
            throw std::invalid_argument("fault \"" + name + "\" needs a value: " + name + "=...");
    };

    if (name == "wrong-model") {
        noValue();
        faults.model = Faults::kWrongModel;
    } else if (name == "model") {
        needValue();
        faults.model = std::string(value);
    } else if (name == "wrong-module") {
        noValue();
        faults.module = Faults::kWrongModule;
    } else if (name == "module") {
        needValue();
        faults.module = std::string(value);
    } else if (name == "no-dmm") {
        noValue();
        faults.noDmm = true;
    } else if (name == "dmm-off") {
        noValue();
        faults.dmmOff = true;
    } else if (name == "queued-errors") {
        needValue();
        // More than a full queue only ever shows as the overflow marker.
        const int count = toInteger(name, value, 0, kMaxQueuedErrors);
        const std::vector<int> &cycle = Faults::queuedErrorCycle();
        for (int i = 0; i < count; ++i)
            faults.queuedErrors.push_back(cycle[static_cast<std::size_t>(i) % cycle.size()]);
    } else if (name == "queued-error") {
        needValue();
        faults.queuedErrors.push_back(toErrorCode(name, value));
    } else if (name == "no-answer") {
        noValue();
        faults.noAnswer = true;
    } else if (name == "absent") {
        noValue();
        faults.absent = true;
    } else if (name == "error-on") {
        needValue();
        const std::size_t slash = value.find('/');
        Faults::ErrorOn errorOn{std::string(trimmed(value.substr(0, slash))), -222};
        if (errorOn.header.empty())
            throw std::invalid_argument("fault \"error-on\" needs a command header");
        if (slash != std::string_view::npos)
            errorOn.code = toErrorCode(name, trimmed(value.substr(slash + 1)));
        faults.errorOn.push_back(std::move(errorOn));
    } else if (name == "scan-never-completes") {
        noValue();
        faults.scanNeverCompletes = true;
    } else if (name == "extra-readings") {
        noValue();
        faults.extraReadings = true;
    } else if (name == "missing-field") {
        noValue();
        faults.missingField = true;
    } else if (name == "stop-answering-after") {
        needValue();
        faults.stopAnsweringAfter = toInteger(name, value, 0);
    } else {
        throw std::invalid_argument("unknown fault \"" + name + "\" (known faults:\n" + Faults::help()
                                    + ")");
    }
}

} // namespace

const std::vector<int> &Faults::queuedErrorCycle()
{
    static const std::vector<int> cycle{-113, -221, -222, -224, -102};
    return cycle;
}

Faults Faults::parse(const std::vector<std::string> &items)
{
    Faults faults;
    for (const std::string &item : items) {
        std::string_view rest = item;
        for (;;) {
            const std::size_t comma = rest.find(',');
            if (const std::string_view one = trimmed(rest.substr(0, comma)); !one.empty())
                apply(faults, one);
            if (comma == std::string_view::npos)
                break;
            rest.remove_prefix(comma + 1);
        }
    }
    return faults;
}

std::string Faults::help()
{
    return "  wrong-model             *IDN? names another model (QV3320)\n"
           "  model=NAME              *IDN? names model NAME\n"
           "  wrong-module            slot 100 holds another module (QV3392)\n"
           "  module=NAME             slot 100 holds module NAME\n"
           "  no-dmm                  no DMM installed\n"
           "  dmm-off                 DMM installed but switched off\n"
           "  queued-errors=N         N errors waiting at power-on (-113, -221, -222, -224, -102, ...)\n"
           "  queued-error=CODE       one error CODE waiting at power-on (may repeat)\n"
           "  no-answer               executes commands but never replies\n"
           "  absent                  no instrument answers at any address\n"
           "  error-on=HEADER[/CODE]  that command fails with CODE (default -222), e.g. error-on=TRIG:TIM\n"
           "  scan-never-completes    the last reading of a scan is never taken\n"
           "  extra-readings          a scan stores one reading too many, with its last one\n"
           "  missing-field           reading records lack their channel field\n"
           "  stop-answering-after=N  handles N program messages, then falls silent\n";
}

} // namespace sim
