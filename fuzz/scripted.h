#pragma once

// A session whose instrument answers every read with one fixed reply.

#include <string>
#include <string_view>
#include <utility>

#include "visa/session.h"
#include "visa/visaerror.h"

namespace fuzz {

class ScriptedSession final : public visa::IMessage
{
public:
    static constexpr const char *kName = "GPIB0::9::INSTR";

    explicit ScriptedSession(std::string reply)
        : m_reply(std::move(reply))
    {
    }

    std::string ResourceName() const override { return kName; }
    void Write(std::string_view, bool) override {}
    std::string Read() override
    {
        // One reply per query, as an instrument gives; a second read times out.
        if (m_read)
            throw visa::VisaError("Read", kName, "time-out");
        m_read = true;
        return m_reply;
    }
    void Clear() override {}
    void Close() override {}

private:
    std::string m_reply;
    bool m_read = false;
};

} // namespace fuzz
