#pragma once

#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "visa/session.h"

namespace support {

/// @brief What a scripted session was told and has still to say; it outlives the sessions on it.
struct Script
{
    std::vector<std::pair<std::string, bool>> written; ///< each write's data and END
    std::deque<std::string> replies; ///< the next read's reply first
    std::optional<std::string> failingWrite; ///< data whose write fails with a bus error
    std::string timeOut = "time-out after 2000 ms: the instrument sent no reply"; ///< a read's cause with no reply left
    int clears = 0;
    int closes = 0;
};

/// @brief A session that records what is written and answers each read with the next scripted
/// reply; with none left, the read times out.
class ScriptedSession final : public visa::IMessage
{
public:
    static constexpr const char *kName = "GPIB0::9::INSTR";

    explicit ScriptedSession(Script &script)
        : m_script(script)
    {
    }

    std::string ResourceName() const override { return kName; }
    void Write(std::string_view data, bool end) override;
    std::string Read() override;
    void Clear() override { ++m_script.clears; }
    void Close() override { ++m_script.closes; }

private:
    Script &m_script;
};

} // namespace support
