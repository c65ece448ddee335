#include "visa/tracingbackend.h"

#include <cstdio>

#include "visa/visaerror.h"
#include "visa/visibletext.h"

namespace visa {

void TracingBackend::Log::line(const std::string &resource, char direction, std::string_view text)
{
    const std::chrono::duration<double, std::milli> elapsed = std::chrono::steady_clock::now() - m_start;
    char time[32];
    std::snprintf(time, sizeof time, "%10.3f ms", elapsed.count());
    // One write per line, flushed, so the trace interleaves sensibly with other output.
    m_out << (std::string(time) + ' ' + resource + ' ' + direction + ' ' + std::string(text) + '\n') << std::flush;
}

namespace {

/// @brief Passes every call to the wrapped session, tracing writes, reads and their failures.
class TracingSession : public IMessage
{
public:
    TracingSession(std::unique_ptr<IMessage> inner, std::shared_ptr<TracingBackend::Log> log)
        : m_inner(std::move(inner))
        , m_log(std::move(log))
        , m_resource(m_inner->ResourceName())
    {
    }

    std::string ResourceName() const override { return m_inner->ResourceName(); }

    void Write(std::string_view data, bool end) override
    {
        m_log->line(m_resource, '>', visibleText(data));
        traced([&] { m_inner->Write(data, end); });
    }

    std::string Read() override
    {
        std::string reply;
        traced([&] { reply = m_inner->Read(); });
        m_log->line(m_resource, '<', visibleText(reply));
        return reply;
    }

    void Clear() override
    {
        traced([&] { m_inner->Clear(); });
    }
    void Close() override
    {
        traced([&] { m_inner->Close(); });
    }

private:
    template<typename Call>
    void traced(Call call)
    {
        try {
            call();
        } catch (const std::exception &e) {
            m_log->line(m_resource, '!', e.what());
            throw;
        }
    }

    std::unique_ptr<IMessage> m_inner;
    std::shared_ptr<TracingBackend::Log> m_log;
    std::string m_resource;
};

} // namespace

TracingBackend::TracingBackend(std::shared_ptr<Backend> inner, std::ostream &out)
    : m_inner(std::move(inner))
    , m_log(std::make_shared<Log>(out))
{
}

std::unique_ptr<IMessage> TracingBackend::open(const ResourceName &name, const SessionOptions &options)
{
    try {
        return std::make_unique<TracingSession>(m_inner->open(name, options), m_log);
    } catch (const std::exception &e) {
        m_log->line(name.canonical(), '!', e.what());
        throw;
    }
}

} // namespace visa
