#include "visa/sessionoptions.h"

#include <algorithm>
#include <charconv>
#include <stdexcept>
#include <string>
#include <utility>

namespace visa {

namespace {

std::string_view trimmed(std::string_view s)
{
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!s.empty() && blank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && blank(s.back()))
        s.remove_suffix(1);
    return s;
}

std::string upper(std::string_view s)
{
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return char(std::toupper(c)); });
    return out;
}

[[noreturn]] void badValue(std::string_view name, std::string_view value, std::string_view expected)
{
    throw std::invalid_argument("option " + std::string(name) + ": \"" + std::string(value)
                                + "\" is not a valid value (expected " + std::string(expected) + ")");
}

int integer(std::string_view name, std::string_view value, int min, int max)
{
    int result = 0;
    auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), result);
    if (ec != std::errc() || end != value.data() + value.size() || result < min || result > max)
        badValue(name, value, "a whole number from " + std::to_string(min) + " to " + std::to_string(max));
    return result;
}

bool boolean(std::string_view name, std::string_view value)
{
    const std::string v = upper(value);
    if (v == "TRUE" || v == "1")
        return true;
    if (v == "FALSE" || v == "0")
        return false;
    badValue(name, value, "TRUE or FALSE");
}

template<typename Enum, size_t N>
Enum choice(std::string_view name, std::string_view value, const std::pair<const char *, Enum> (&table)[N])
{
    const std::string v = upper(value);
    std::string expected;
    for (const auto &[text, e] : table) {
        if (v == text)
            return e;
        expected += expected.empty() ? text : std::string(", ") + text;
    }
    badValue(name, value, "one of " + expected);
}

constexpr std::pair<const char *, SerialEnd> kSerialEnds[] = {
    {"ASRL_END_NONE", SerialEnd::None},
    {"ASRL_END_LAST_BIT", SerialEnd::LastBit},
    {"ASRL_END_TERMCHAR", SerialEnd::TermChar},
    {"ASRL_END_BREAK", SerialEnd::Break},
};
constexpr std::pair<const char *, FlowControl> kFlowControls[] = {
    {"ASRL_FLOW_NONE", FlowControl::None},
    {"ASRL_FLOW_XON_XOFF", FlowControl::XonXoff},
    {"ASRL_FLOW_RTS_CTS", FlowControl::RtsCts},
    {"ASRL_FLOW_DTR_DSR", FlowControl::DtrDsr},
};
constexpr std::pair<const char *, Parity> kParities[] = {
    {"ASRL_PAR_NONE", Parity::None}, {"ASRL_PAR_ODD", Parity::Odd},     {"ASRL_PAR_EVEN", Parity::Even},
    {"ASRL_PAR_MARK", Parity::Mark}, {"ASRL_PAR_SPACE", Parity::Space},
};
constexpr std::pair<const char *, StopBits> kStopBits[] = {
    {"ASRL_STOP_ONE", StopBits::One},
    {"ASRL_STOP_ONE5", StopBits::OneAndHalf},
    {"ASRL_STOP_TWO", StopBits::Two},
};

void apply(SessionOptions &o, std::string_view name, std::string_view value)
{
    const std::string key = upper(name);
    if (key == "TIMEOUT")
        o.timeoutMs = integer(name, value, 0, 24 * 60 * 60 * 1000);
    else if (key == "SENDENDENABLED")
        o.sendEndEnabled = boolean(name, value);
    else if (key == "TERMINATIONCHARACTER")
        o.terminationCharacter = static_cast<unsigned char>(integer(name, value, 0, 255));
    else if (key == "TERMINATIONCHARACTERENABLED")
        o.terminationCharacterEnabled = boolean(name, value);
    else if (key == "BAUDRATE")
        o.baudRate = integer(name, value, 1, 10'000'000);
    else if (key == "DATABITS")
        o.dataBits = integer(name, value, 5, 8);
    else if (key == "ENDIN")
        o.endIn = choice(name, value, kSerialEnds);
    else if (key == "ENDOUT")
        o.endOut = choice(name, value, kSerialEnds);
    else if (key == "FLOWCONTROL")
        o.flowControl = choice(name, value, kFlowControls);
    else if (key == "PARITY")
        o.parity = choice(name, value, kParities);
    else if (key == "STOPBITS")
        o.stopBits = choice(name, value, kStopBits);
    // Other names belong to settings this library does not have; they are ignored.
}

} // namespace

SessionOptions SessionOptions::parse(std::string_view text)
{
    text = trimmed(text);
    // Option texts are often pasted with the closing quote of their string literal.
    if (text.ends_with('"'))
        text = trimmed(text.substr(0, text.size() - 1));

    SessionOptions options;
    while (!text.empty()) {
        const size_t semicolon = text.find(';');
        const std::string_view item = trimmed(text.substr(0, semicolon));
        text = semicolon == std::string_view::npos ? std::string_view{} : text.substr(semicolon + 1);
        if (item.empty())
            continue;
        const size_t equals = item.find('=');
        if (equals == std::string_view::npos)
            throw std::invalid_argument("option \"" + std::string(item) + "\" is not of the form Name = Value");
        const std::string_view name = trimmed(item.substr(0, equals));
        const std::string_view value = trimmed(item.substr(equals + 1));
        if (name.empty())
            throw std::invalid_argument("option \"" + std::string(item) + "\" has no name");
        apply(options, name, value);
    }
    return options;
}

} // namespace visa
