#include "sim/faults.h"

#include <algorithm>
#include <cctype>
#include <iterator>
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

int toInteger(std::string_view name, std::string_view value, int min, int max = std::numeric_limits<int>::max())
{
    int number = 0;
    const std::size_t skip = !value.empty() && value.front() == '+' ? 1 : 0;
    const auto result = std::from_chars(value.data() + skip, value.data() + value.size(), number);
    if (value.empty() || result.ec != std::errc() || result.ptr != value.data() + value.size() || number < min
        || number > max) {
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

void setErrorOn(Faults &faults, std::string_view value)
{
    const std::size_t slash = value.find('/');
    Faults::ErrorOn errorOn{std::string(trimmed(value.substr(0, slash))), -222};
    if (errorOn.header.empty())
        throw std::invalid_argument("fault \"error-on\" needs a command header");
    if (slash != std::string_view::npos)
        errorOn.code = toErrorCode("error-on", trimmed(value.substr(slash + 1)));
    faults.errorOn.push_back(std::move(errorOn));
}

void setQueuedErrors(Faults &faults, std::string_view value)
{
    // More than a full queue only ever shows as the overflow marker.
    const int count = toInteger("queued-errors", value, 0, kMaxQueuedErrors);
    const std::vector<int> &cycle = Faults::queuedErrorCycle();
    for (int i = 0; i < count; ++i)
        faults.queuedErrors.push_back(cycle[static_cast<std::size_t>(i) % cycle.size()]);
}

using Kind = Faults::Kind;

const Kind kKinds[] = {
    {"wrong-model", "", "*IDN? names another model (QV3320)", true,
     [](Faults &f, std::string_view) { f.model = Faults::kWrongModel; }},
    {"model", "NAME", "*IDN? names model NAME", true, [](Faults &f, std::string_view v) { f.model = std::string(v); }},
    {"wrong-module", "", "slot 100 holds another module (QV3392)", true,
     [](Faults &f, std::string_view) { f.module = Faults::kWrongModule; }},
    {"module", "NAME", "slot 100 holds module NAME", true,
     [](Faults &f, std::string_view v) { f.module = std::string(v); }},
    {"no-dmm", "", "no DMM installed", true, [](Faults &f, std::string_view) { f.noDmm = true; }},
    {"dmm-off", "", "DMM installed but switched off", true, [](Faults &f, std::string_view) { f.dmmOff = true; }},
    {"queued-errors", "N", "N errors waiting at power-on (-113, -221, -222, -224, -102, ...)", true, setQueuedErrors},
    {"queued-error", "CODE", "one error CODE waiting at power-on (may repeat)", true,
     [](Faults &f, std::string_view v) { f.queuedErrors.push_back(toErrorCode("queued-error", v)); }},
    {"no-answer", "", "executes commands but never replies (reads time out)", true,
     [](Faults &f, std::string_view) { f.noAnswer = true; }},
    {"absent", "", "no instrument answers at any address", false, [](Faults &f, std::string_view) { f.absent = true; }},
    {"error-on", "HEADER[/CODE]", "that command fails with CODE (default -222), e.g. error-on=TRIG:TIM", true,
     setErrorOn},
    {"scan-never-completes", "", "the last reading of a scan is never taken", true,
     [](Faults &f, std::string_view) { f.scanNeverCompletes = true; }},
    {"extra-readings", "", "a scan stores one reading too many, with its last one", true,
     [](Faults &f, std::string_view) { f.extraReadings = true; }},
    {"missing-field", "", "reading records lack their channel field", true,
     [](Faults &f, std::string_view) { f.missingField = true; }},
    {"stop-answering-after", "N", "handles N program messages, then falls silent", true,
     [](Faults &f, std::string_view v) { f.stopAnsweringAfter = toInteger("stop-answering-after", v, 0); }},
};

void apply(Faults &faults, std::string_view item, bool instrumentOnly)
{
    const std::size_t equals = item.find('=');
    const std::string name(trimmed(item.substr(0, equals)));
    const bool hasValue = equals != std::string_view::npos;
    const std::string_view value = hasValue ? trimmed(item.substr(equals + 1)) : std::string_view{};

    const auto kind = std::find_if(std::begin(kKinds), std::end(kKinds), [&](const Kind &k) { return k.name == name; });
    if (kind == std::end(kKinds)) {
        throw std::invalid_argument("unknown fault \"" + name + "\" (known faults:\n" + Faults::help(instrumentOnly)
                                    + ")");
    }
    if (kind->value.empty() && hasValue)
        throw std::invalid_argument("fault \"" + name + "\" takes no value");
    if (!kind->value.empty() && value.empty())
        throw std::invalid_argument("fault \"" + name + "\" needs a value: " + kind->usage());
    if (instrumentOnly && !kind->inInstrument) {
        throw std::invalid_argument("fault \"" + name
                                    + "\" cannot be served: it acts on the addresses of "
                                      "qvscan's built-in simulator, not on the instrument (to rehearse a missing "
                                      "instrument, point the client at a device nobody serves)");
    }
    kind->apply(faults, value);
}

} // namespace

const std::vector<int> &Faults::queuedErrorCycle()
{
    static const std::vector<int> cycle{-113, -221, -222, -224, -102};
    return cycle;
}

std::string Faults::Kind::usage() const
{
    return value.empty() ? std::string(name) : std::string(name) + "=" + std::string(value);
}

std::span<const Faults::Kind> Faults::kinds()
{
    return kKinds;
}

Faults Faults::parse(const std::vector<std::string> &items, bool instrumentOnly)
{
    Faults faults;
    for (const std::string &item : items) {
        std::string_view rest = item;
        for (;;) {
            const std::size_t comma = rest.find(',');
            if (const std::string_view one = trimmed(rest.substr(0, comma)); !one.empty())
                apply(faults, one, instrumentOnly);
            if (comma == std::string_view::npos)
                break;
            rest.remove_prefix(comma + 1);
        }
    }
    return faults;
}

std::string Faults::help(bool instrumentOnly)
{
    std::size_t width = 0;
    for (const Kind &kind : kKinds)
        width = std::max(width, kind.usage().size());
    std::string text;
    for (const Kind &kind : kKinds) {
        if (instrumentOnly && !kind.inInstrument)
            continue;
        const std::string usage = kind.usage();
        text += "  " + usage + std::string(width + 2 - usage.size(), ' ') + std::string(kind.help) + "\n";
    }
    return text;
}

} // namespace sim
