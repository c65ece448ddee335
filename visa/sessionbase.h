#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "visa/session.h"
#include "visa/sessionoptions.h"

namespace visa {

/// @brief The I/O time-out of one session and where it came from, for the messages that name it.
struct IoTimeout
{
    int ms = SessionOptions::kDefaultTimeoutMs;
    bool fromOptionText = false; ///< the option text's Timeout; otherwise the default

    static IoTimeout of(const SessionOptions &options);

    /// "time-out after 2000 ms (Timeout = 2000 in the option text)" or
    /// "time-out after 10000 ms (the default; the option text sets no Timeout)".
    std::string expired() const;
};

/// @brief What one low-level read of a bus returned.
struct Chunk
{
    std::size_t size = 0; ///< bytes placed in the buffer
    bool end = false; ///< the message ended with the last byte (END, EOI, or the library's termination)
    bool timedOut = false; ///< the bus's own time-out expired before any more bytes came
    std::string note; ///< what the bus said about a time-out, added to the message
};

/// @brief The lowest read of one bus: at most @p capacity bytes into @p buffer, waiting at most
/// @p remaining. Throws VisaError for anything but a time-out.
using ChunkReader = std::function<Chunk(char *buffer, std::size_t capacity, std::chrono::milliseconds remaining)>;

/// @brief The one read loop of every bus: termination, deadline, size bound, joining chunks.
///
/// A read ends at the termination character when one is enabled, or at END. Each chunk is appended
/// and only its new bytes are searched, so a long reply costs its length once. Bytes after a
/// terminator in the same chunk are kept for the next read. A read that does not end within the
/// session's time-out, or grows past kMaxReplyBytes, fails naming the resource.
class ReplyReader
{
public:
    /// No instrument of this kind sends more in one reply; beyond it a reply is a runaway stream.
    static constexpr std::size_t kMaxReplyBytes = std::size_t(16) << 20;

    using Now = std::function<std::chrono::steady_clock::time_point()>;

    /// Reads of @p firstChunk bytes at first, doubling with each chunk up to @p largestChunk.
    ReplyReader(std::size_t firstChunk, std::size_t largestChunk, Now now = {});

    /// One message. Throws VisaError (operation "Read") naming @p resource, and @p device when
    /// given, on time-out or a reply over the bound.
    std::string read(const ChunkReader &bus, std::optional<char> termChar, const IoTimeout &timeout,
                     const std::string &resource, const std::string &device = {});

    /// Keeps @p bytes received outside a read, to be read before anything newer.
    void keep(std::string_view bytes) { m_pending.append(bytes); }

    /// Drops bytes kept from an earlier chunk (device clear, flush).
    void discard() { m_pending.clear(); }

private:
    std::size_t m_firstChunk;
    std::size_t m_largestChunk;
    Now m_now;
    std::unique_ptr<char[]> m_buffer; ///< reused for every chunk: never zero-filled, never shrunk
    std::size_t m_bufferSize = 0;
    std::string m_pending; ///< received after the last terminator, not yet returned
};

/// @brief What every session shares: its resource name, open or closed, the closed-session check,
/// its time-out. Sessions own a bus handle, so they cannot be copied (a copy would close it twice).
class SessionBase : public IMessage
{
public:
    SessionBase(std::string resource, const SessionOptions &options);
    SessionBase(const SessionBase &) = delete;
    SessionBase &operator=(const SessionBase &) = delete;

    std::string ResourceName() const final { return m_resource; }

protected:
    const std::string &resource() const { return m_resource; }
    const IoTimeout &timeout() const { return m_timeout; }
    bool isOpen() const { return m_open; }
    /// Marks the session closed; true when it was open, so the caller releases the handle once.
    bool markClosed() { return std::exchange(m_open, false); }
    /// Throws VisaError for @p operation when the session is closed.
    void checkOpen(const char *operation) const;
    [[noreturn]] void fail(const std::string &operation, const std::string &cause) const;

private:
    std::string m_resource;
    IoTimeout m_timeout;
    bool m_open = true;
};

} // namespace visa
