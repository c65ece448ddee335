#include "visa/sessionbase.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "visa/visaerror.h"

namespace visa {

IoTimeout IoTimeout::of(const SessionOptions &options)
{
    if (options.timeoutMs)
        return {*options.timeoutMs, true};
    return {SessionOptions::kDefaultTimeoutMs, false};
}

std::string IoTimeout::expired() const
{
    const std::string text = "time-out after " + std::to_string(ms) + " ms";
    if (fromOptionText)
        return text + " (Timeout = " + std::to_string(ms) + " in the option text)";
    return text + " (the default; the option text sets no Timeout)";
}

ReplyReader::ReplyReader(std::size_t firstChunk, std::size_t largestChunk, Now now)
    : m_firstChunk(std::max<std::size_t>(firstChunk, 1))
    , m_largestChunk(std::max(largestChunk, m_firstChunk))
    , m_now(now ? std::move(now) : Now([] { return std::chrono::steady_clock::now(); }))
{
}

std::string ReplyReader::read(const ChunkReader &bus, std::optional<char> termChar, const IoTimeout &timeout,
                              const std::string &resource, const std::string &device)
{
    const auto deadline = m_now() + std::chrono::milliseconds(timeout.ms);
    std::string reply = std::exchange(m_pending, {});
    std::size_t scanned = 0; // bytes of reply already searched for the terminator
    std::size_t chunk = m_firstChunk;
    bool first = true; // one read is always tried, even with a time-out of 0
    const auto tooLong = [&] {
        return VisaError("Read", resource,
                         "the reply is longer than " + std::to_string(kMaxReplyBytes >> 20) + " MiB ("
                             + std::to_string(kMaxReplyBytes) + " bytes), more than any reply of this instrument; "
                             + "the rest was not read");
    };
    for (;;) {
        if (termChar) {
            const char *start = reply.data() + scanned;
            if (const void *at = std::memchr(start, *termChar, reply.size() - scanned)) {
                const std::size_t length = std::size_t(static_cast<const char *>(at) - reply.data()) + 1;
                if (length > kMaxReplyBytes)
                    throw tooLong();
                m_pending.assign(reply, length);
                reply.resize(length);
                return reply;
            }
            scanned = reply.size();
        }
        if (reply.size() > kMaxReplyBytes)
            throw tooLong();

        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - m_now());
        Chunk got;
        if (left.count() > 0 || std::exchange(first, false)) {
            first = false;
            if (m_bufferSize < chunk) {
                m_buffer.reset(new char[chunk]);
                m_bufferSize = chunk;
            }
            got = bus(m_buffer.get(), chunk, std::max(left, std::chrono::milliseconds(0)));
            got.size = std::min(got.size, chunk);
            reply.append(m_buffer.get(), got.size);
        } else {
            got.timedOut = true;
        }
        if (got.end) {
            // The terminator may stand in the last chunk; otherwise END ends the message.
            if (termChar) {
                if (const void *at = std::memchr(reply.data() + scanned, *termChar, reply.size() - scanned)) {
                    const std::size_t length = std::size_t(static_cast<const char *>(at) - reply.data()) + 1;
                    m_pending.assign(reply, length);
                    reply.resize(length);
                }
            }
            if (reply.size() > kMaxReplyBytes)
                throw tooLong();
            return reply;
        }
        if (got.timedOut) {
            const std::size_t partial = reply.size();
            throw VisaError("Read", resource,
                            timeout.expired() + ": no complete reply" + (device.empty() ? "" : " from " + device) + " ("
                                + (partial ? std::to_string(partial) + " bytes without terminator"
                                           : std::string("nothing received"))
                                + (got.note.empty() ? std::string() : "; " + got.note) + ")");
        }
        chunk = std::min(chunk * 2, m_largestChunk);
    }
}

SessionBase::SessionBase(std::string resource, const SessionOptions &options)
    : m_resource(std::move(resource))
    , m_timeout(IoTimeout::of(options))
{
}

void SessionBase::checkOpen(const char *operation) const
{
    if (!m_open)
        fail(operation, "the session is closed");
}

void SessionBase::fail(const std::string &operation, const std::string &cause) const
{
    throw VisaError(operation, m_resource, cause);
}

} // namespace visa
