#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

/// @brief Cuts the bytes a controller sends into program messages, as an instrument's interface
/// does.
///
/// On either line a message ends with LF (a CR before it is dropped). A serial line also ends one
/// at a lone CR, which is what a terminal's Enter sends, and drops XON and XOFF wherever they
/// stand: they are flow control, not text. A GPIB message may instead end with END (end()).
/// A line longer than kMaxLine is not kept whole: it is passed on cut to kMaxLine + 1 bytes, so the
/// instrument, whose input buffer holds kMaxLine, refuses it as an overrun while the framer's
/// memory stays bounded.
class MessageFramer
{
public:
    static constexpr char kXon = 0x11;
    static constexpr char kXoff = 0x13;

    explicit MessageFramer(bool serial, std::size_t maxLine);

    /// The messages that @p bytes completes, terminators stripped, in order.
    std::vector<std::string> feed(std::string_view bytes);

    /// END with the last byte: the message begun, if any.
    std::optional<std::string> end();

    /// Drops a half-received message (device clear, a new client).
    void clear();

    /// Bytes of the message begun.
    std::size_t pending() const { return m_line.size(); }

    /// The serial form of a response message.
    static std::string frameSerialReply(std::string_view reply) { return std::string(reply) + "\r\n"; }

private:
    void complete(std::vector<std::string> &messages);

    bool m_serial;
    std::size_t m_maxLine;
    std::string m_line;
    bool m_afterCr = false; ///< a serial CR ended the last message; an LF now is its CR LF
};

} // namespace sim
