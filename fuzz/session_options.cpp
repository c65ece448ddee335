// SessionOptions::parse returns settings within their ranges or throws std::invalid_argument.
// Accepted settings written out again parse to the same; the case of the text and a leading
// unknown name change nothing.

#include <cstdint>
#include <exception>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "check.h"
#include "visa/sessionoptions.h"

namespace {

using visa::SessionOptions;

/// The parse result, or nothing when the text was refused with std::invalid_argument.
std::optional<SessionOptions> parsed(std::string_view text)
{
    return fuzz::parsedOrRefused([](std::string_view t) { return SessionOptions::parse(t); }, text);
}

bool same(const SessionOptions &a, const SessionOptions &b)
{
    return a.timeoutMs == b.timeoutMs && a.sendEndEnabled == b.sendEndEnabled
           && a.terminationCharacter == b.terminationCharacter
           && a.terminationCharacterEnabled == b.terminationCharacterEnabled && a.baudRate == b.baudRate
           && a.dataBits == b.dataBits && a.parity == b.parity && a.stopBits == b.stopBits
           && a.flowControl == b.flowControl && a.endIn == b.endIn && a.endOut == b.endOut;
}

const char *endText(visa::SerialEnd e)
{
    switch (e) {
    case visa::SerialEnd::None: return "ASRL_END_NONE";
    case visa::SerialEnd::LastBit: return "asrl_end_last_bit";
    case visa::SerialEnd::TermChar: return "ASRL_END_TERMCHAR";
    case visa::SerialEnd::Break: return "Asrl_End_Break";
    }
    return "?";
}

const char *parityText(visa::Parity p)
{
    switch (p) {
    case visa::Parity::None: return "ASRL_PAR_NONE";
    case visa::Parity::Odd: return "ASRL_PAR_ODD";
    case visa::Parity::Even: return "asrl_par_even";
    case visa::Parity::Mark: return "ASRL_PAR_MARK";
    case visa::Parity::Space: return "ASRL_PAR_SPACE";
    }
    return "?";
}

const char *stopText(visa::StopBits s)
{
    switch (s) {
    case visa::StopBits::One: return "ASRL_STOP_ONE";
    case visa::StopBits::OneAndHalf: return "ASRL_STOP_ONE5";
    case visa::StopBits::Two: return "asrl_stop_two";
    }
    return "?";
}

const char *flowText(visa::FlowControl f)
{
    switch (f) {
    case visa::FlowControl::None: return "ASRL_FLOW_NONE";
    case visa::FlowControl::XonXoff: return "ASRL_FLOW_XON_XOFF";
    case visa::FlowControl::RtsCts: return "asrl_flow_rts_cts";
    case visa::FlowControl::DtrDsr: return "ASRL_FLOW_DTR_DSR";
    }
    return "?";
}

/// Every setting written as option text, in the spellings a user might type.
std::string written(const SessionOptions &o)
{
    std::string text;
    if (o.timeoutMs)
        text += "Timeout = " + std::to_string(*o.timeoutMs) + " ; ";
    text += std::string("SendEndEnabled=") + (o.sendEndEnabled ? "TRUE" : "0") + ";";
    text += "terminationcharacter\t=\t" + std::to_string(o.terminationCharacter) + ";";
    text += std::string("TerminationCharacterEnabled = ") + (o.terminationCharacterEnabled ? "1" : "false") + ";";
    text += "BaudRate=" + std::to_string(o.baudRate) + ";DataBits=" + std::to_string(o.dataBits) + ";";
    text += std::string("EndIn=") + endText(o.endIn) + ";EndOut=" + endText(o.endOut) + ";";
    text += std::string("Parity=") + parityText(o.parity) + ";StopBits=" + stopText(o.stopBits) + ";";
    text += std::string("FlowControl=") + flowText(o.flowControl) + " \"";
    return text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    const std::optional<SessionOptions> o = parsed(text);

    for (bool upper : {true, false}) {
        const std::optional<SessionOptions> cased = parsed(fuzz::withCase(text, upper));
        FUZZ_CHECK(cased.has_value() == o.has_value() && (!o || same(*o, *cased)),
                   std::string("the ") + (upper ? "upper" : "lower")
                       + "-case text reads differently: " + fuzz::shown(text));
    }
    const std::optional<SessionOptions> prefixed = parsed("QvFuzzUnknownSetting = whatever;" + std::string(text));
    FUZZ_CHECK(prefixed.has_value() == o.has_value() && (!o || same(*o, *prefixed)),
               "an unknown setting before the text changed it: " + fuzz::shown(text));

    if (!o)
        return 0;
    FUZZ_CHECK(!o->timeoutMs || (*o->timeoutMs >= 0 && *o->timeoutMs <= 24 * 60 * 60 * 1000),
               "time-out " + std::to_string(*o->timeoutMs) + " from " + fuzz::shown(text));
    FUZZ_CHECK(o->baudRate >= 1 && o->baudRate <= 10'000'000, "baud rate " + std::to_string(o->baudRate));
    FUZZ_CHECK(o->dataBits >= 5 && o->dataBits <= 8, "data bits " + std::to_string(o->dataBits));

    const std::string again = written(*o);
    const std::optional<SessionOptions> reread = parsed(again);
    FUZZ_CHECK(reread && same(*o, *reread),
               "written out as " + fuzz::shown(again) + " it reads differently; from " + fuzz::shown(text));
    return 0;
}
