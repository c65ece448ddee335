#include "sim/simsession.h"

#include <utility>

#include "sim/qv3310.h"
#include "visa/sessionbase.h"
#include "visa/visaerror.h"

namespace sim {

SimSession::SimSession(std::shared_ptr<Qv3310> instrument, visa::ResourceName name, visa::SessionOptions options)
    : m_instrument(std::move(instrument))
    , m_name(std::move(name))
    , m_canonical(m_name.canonical())
    , m_options(std::move(options))
    , m_input(isSerial(), Qv3310::kInputBufferSize)
{
    m_instrument->sessionOpened();
}

SimSession::~SimSession()
{
    Close();
}

std::string SimSession::ResourceName() const
{
    return m_canonical;
}

void SimSession::Write(std::string_view data, bool end)
{
    requireOpen("Write");
    spend(data.size());
    for (const std::string &message : m_input.feed(data))
        deliver(message);
    // END with the last byte ends one on GPIB (IEEE 488.2 accepts NL, NL+END and END); a serial
    // line has no END, only its terminators.
    if (end && !isSerial()) {
        if (std::optional<std::string> message = m_input.end())
            deliver(*message);
    }
}

std::string SimSession::Read()
{
    requireOpen("Read");
    spend(0);
    Clock &clock = m_instrument->clock();
    const int timeoutMs = m_options.timeoutOrDefault();
    const Clock::Duration deadline = clock.now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (std::optional<std::string> reply = m_instrument->takeReply()) {
            std::string text = std::move(*reply) + (isSerial() ? "\r\n" : "\n");
            spend(text.size());
            return text;
        }
        const std::optional<Clock::Duration> readyAt = m_instrument->nextReplyAt();
        const Clock::Duration now = clock.now();
        if (readyAt && *readyAt <= deadline) {
            clock.sleepFor(*readyAt - now); // e.g. "*OPC?" during a scan: wait for it
            continue;
        }
        clock.sleepFor(deadline - now);
        throw visa::VisaError("Read", m_canonical,
                              visa::IoTimeout::of(m_options).expired() + ": the instrument sent no reply");
    }
}

void SimSession::Clear()
{
    requireOpen("Clear");
    spend(0);
    m_input.clear();
    m_instrument->deviceClear();
}

void SimSession::Close()
{
    if (!m_open)
        return;
    m_open = false;
    m_input.clear();
    m_instrument->sessionClosed();
}

void SimSession::requireOpen(const char *operation) const
{
    if (!m_open)
        throw visa::VisaError(operation, m_canonical, "session is closed");
}

void SimSession::spend(std::size_t characters)
{
    Clock::Duration time = kTransactionTime;
    if (isSerial() && m_options.baudRate > 0) {
        const auto bits = static_cast<long long>(characters) * kBitsPerCharacter;
        time += std::chrono::duration_cast<Clock::Duration>(std::chrono::seconds(bits)) / m_options.baudRate;
    }
    m_instrument->clock().sleepFor(time);
}

void SimSession::deliver(const std::string &message)
{
    m_instrument->receive(message);
}

} // namespace sim
