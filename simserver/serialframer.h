#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace simserver {

/// @brief Cuts the byte stream of a serial line into program messages.
///
/// A message ends with LF, or CR LF; XON and XOFF are flow control, not text, and are dropped
/// wherever they stand. A line longer than kMaxLine is dropped whole, so a stream without
/// terminators cannot grow memory without bound.
class SerialFramer
{
public:
    static constexpr char kXon = 0x11;
    static constexpr char kXoff = 0x13;
    static constexpr std::size_t kMaxLine = 64 * 1024;

    /// The messages that @p bytes completes, terminators stripped, in order.
    std::vector<std::string> feed(std::string_view bytes)
    {
        std::vector<std::string> messages;
        for (const char c : bytes) {
            if (c == kXon || c == kXoff)
                continue;
            if (c == '\n') {
                if (m_overlong)
                    m_overlong = false;
                else
                    messages.push_back(m_line.ends_with('\r') ? m_line.substr(0, m_line.size() - 1) : m_line);
                m_line.clear();
                continue;
            }
            if (m_overlong)
                continue;
            if (m_line.size() == kMaxLine) {
                m_line.clear();
                m_overlong = true;
                continue;
            }
            m_line += c;
        }
        return messages;
    }

    /// The serial form of a response message.
    static std::string frameReply(std::string_view reply) { return std::string(reply) + "\r\n"; }

private:
    std::string m_line;
    bool m_overlong = false;
};

} // namespace simserver
