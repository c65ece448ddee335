#include "sim/messageframer.h"

#include <utility>

namespace sim {

MessageFramer::MessageFramer(bool serial, std::size_t maxLine)
    : m_serial(serial)
    , m_maxLine(maxLine)
{
}

std::vector<std::string> MessageFramer::feed(std::string_view bytes)
{
    std::vector<std::string> messages;
    for (const char c : bytes) {
        if (m_serial && (c == kXon || c == kXoff))
            continue;
        const bool afterCr = std::exchange(m_afterCr, false);
        if (c == '\n') {
            if (afterCr)
                continue; // the LF of CR LF: the CR ended the message already
            if (!m_line.empty() && m_line.back() == '\r')
                m_line.pop_back();
            complete(messages);
        } else if (c == '\r' && m_serial) {
            complete(messages);
            m_afterCr = true;
        } else if (m_line.size() <= m_maxLine) {
            m_line += c;
        }
    }
    return messages;
}

std::optional<std::string> MessageFramer::end()
{
    m_afterCr = false;
    if (m_line.empty())
        return std::nullopt;
    return std::exchange(m_line, {});
}

void MessageFramer::clear()
{
    m_line.clear();
    m_line.shrink_to_fit();
    m_afterCr = false;
}

void MessageFramer::complete(std::vector<std::string> &messages)
{
    messages.push_back(std::move(m_line));
    m_line.clear();
}

} // namespace sim
