#pragma once

#include <chrono>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>

#include "visa/session.h"

namespace visa {

/// @brief Wraps another backend and writes every command written and every reply read to a
/// stream, one line each: time since the trace began, resource, direction, text.
///
/// "    12.345 ms GPIB0::9::INSTR > *IDN?\n". A failed write or read is traced with "!" and
/// its description, then passed on unchanged.
class TracingBackend : public Backend
{
public:
    TracingBackend(std::shared_ptr<Backend> inner, std::ostream &out);

    std::unique_ptr<IMessage> open(const ResourceName &name, const SessionOptions &options) override;

    /// The backend whose sessions are traced.
    const std::shared_ptr<Backend> &inner() const { return m_inner; }

    /// @brief Where sessions write their lines.
    class Log
    {
    public:
        explicit Log(std::ostream &out)
            : m_out(out)
        {
        }
        void line(const std::string &resource, char direction, std::string_view text);

    private:
        std::ostream &m_out;
        std::chrono::steady_clock::time_point m_start = std::chrono::steady_clock::now();
    };

private:
    std::shared_ptr<Backend> m_inner;
    std::shared_ptr<Log> m_log;
};

} // namespace visa
