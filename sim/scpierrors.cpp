#include "sim/scpierrors.h"

#include <algorithm>
#include <array>
#include <utility>

#include "sim/scpiformat.h"

namespace sim::scpi {

namespace {

constexpr std::array<std::pair<int, std::string_view>, 49> kMessages{{
    {0, "No error"},
    {-100, "Command error"},
    {-101, "Invalid character"},
    {-102, "Syntax error"},
    {-103, "Invalid separator"},
    {-104, "Data type error"},
    {-105, "GET not allowed"},
    {-108, "Parameter not allowed"},
    {-109, "Missing parameter"},
    {-110, "Command header error"},
    {-111, "Header separator error"},
    {-112, "Program mnemonic too long"},
    {-113, "Undefined header"},
    {-114, "Header suffix out of range"},
    {-120, "Numeric data error"},
    {-121, "Invalid character in number"},
    {-123, "Exponent too large"},
    {-124, "Too many digits"},
    {-128, "Numeric data not allowed"},
    {-131, "Invalid suffix"},
    {-138, "Suffix not allowed"},
    {-141, "Invalid character data"},
    {-148, "Character data not allowed"},
    {-150, "String data error"},
    {-151, "Invalid string data"},
    {-158, "String data not allowed"},
    {-170, "Expression error"},
    {-171, "Invalid expression"},
    {-200, "Execution error"},
    {-210, "Trigger error"},
    {-211, "Trigger ignored"},
    {-213, "Init ignored"},
    {-220, "Parameter error"},
    {-221, "Settings conflict"},
    {-222, "Data out of range"},
    {-223, "Too much data"},
    {-224, "Illegal parameter value"},
    {-230, "Data corrupt or stale"},
    {-240, "Hardware error"},
    {-241, "Hardware missing"},
    {-300, "Device-specific error"},
    {-310, "System error"},
    {-330, "Self-test failed"},
    {-350, "Queue overflow"},
    {-363, "Input buffer overrun"},
    {-400, "Query error"},
    {-410, "Query INTERRUPTED"},
    {-420, "Query UNTERMINATED"},
    {-430, "Query DEADLOCKED"},
}};

/// Appends @p text to @p out as SCPI string data, in double quotes.
void appendQuoted(std::string &out, std::string_view text)
{
    out += '"';
    for (char c : text) {
        out += c;
        if (c == '"')
            out += '"'; // SCPI string data doubles an embedded quote
    }
    out += '"';
}

/// `-113,"Undefined header"`: what SYSTem:ERRor? replies.
std::string errorReply(int code, std::string_view text)
{
    std::string reply = formatNr1(code);
    reply.reserve(reply.size() + text.size() + 4);
    reply += ',';
    appendQuoted(reply, text);
    return reply;
}

} // namespace

std::string_view standardMessage(int code)
{
    const auto it = std::find_if(kMessages.begin(), kMessages.end(),
                                 [code](const auto &entry) { return entry.first == code; });
    if (it != kMessages.end())
        return it->second;
    if (code <= -100 && code > -200)
        return "Command error";
    if (code <= -200 && code > -300)
        return "Execution error";
    if (code <= -400 && code > -500)
        return "Query error";
    return "Device-specific error";
}

Error::Error(int code, std::string info)
    : m_code(code)
    , m_info(std::move(info))
    , m_text(formatNr1(m_code))
{
    const std::string_view message = standardMessage(m_code);
    m_text.reserve(m_text.size() + 2 + message.size() + m_info.size());
    m_text.append(",").append(message);
    if (!m_info.empty())
        m_text.append(";").append(m_info);
}

void ErrorQueue::push(int code, std::string_view info)
{
    if (code == err::kNone)
        return;
    if (m_entries.size() >= kCapacity) {
        // Full: the newest entry becomes the overflow marker, and stays it.
        Entry &last = m_entries.back();
        if (last.code != err::kQueueOverflow)
            last = {err::kQueueOverflow, std::string(standardMessage(err::kQueueOverflow))};
        return;
    }
    std::string text(standardMessage(code));
    if (!info.empty())
        text.append(";").append(info);
    text.resize(std::min(text.size(), kMaxTextLength));
    m_entries.push_back({code, std::move(text)});
}

std::string ErrorQueue::next()
{
    if (m_entries.empty())
        return errorReply(0, standardMessage(0));
    std::string reply = errorReply(m_entries.front().code, m_entries.front().text);
    m_entries.pop_front();
    return reply;
}

} // namespace sim::scpi
