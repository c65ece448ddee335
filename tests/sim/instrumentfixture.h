#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "sim/clock.h"
#include "sim/faults.h"
#include "sim/qv3310.h"
#include "support/scancommands.h"

namespace sim::test {

using namespace std::chrono_literals;

/// @brief A QV3310 on a virtual clock, talked to message by message.
class Instrument
{
public:
    explicit Instrument(Faults faults = {})
        : clock(std::make_shared<VirtualClock>())
        , qv(std::make_shared<Qv3310>(clock, std::move(faults)))
        , log(MessageLog::attachedTo(*qv))
    {
    }

    /// Every message the instrument was sent, device clears included.
    const std::vector<std::string> &received() const { return log->messages(); }

    void send(std::string_view message) { qv->receive(message); }

    /// Sends @p message and takes its reply; fails the test when none is ready.
    std::string query(std::string_view message)
    {
        qv->receive(message);
        std::optional<std::string> reply = qv->takeReply();
        EXPECT_TRUE(reply.has_value()) << "no reply to " << message;
        return reply.value_or("");
    }

    /// Drains the error queue; the numbers of the errors, oldest first.
    std::vector<int> errors()
    {
        std::vector<int> codes;
        for (int i = 0; i < 50; ++i) {
            const std::string reply = query("SYST:ERR?");
            const int code = std::stoi(reply.substr(0, reply.find(',')));
            if (code == 0)
                break;
            codes.push_back(code);
        }
        return codes;
    }

    /// Advances the clock to @p t after the start of the test.
    void at(Clock::Duration t) { clock->sleepFor(t - clock->now()); }

    std::shared_ptr<VirtualClock> clock;
    std::shared_ptr<Qv3310> qv;
    std::shared_ptr<MessageLog> log;
};

inline void configureProgramScan(Instrument &instrument)
{
    instrument.send("*RST");
    for (const std::string &command : support::scanConfiguration())
        instrument.send(command);
}

/// Splits @p text at commas.
inline std::vector<std::string> fields(const std::string &text)
{
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = text.find(',', start);
        parts.push_back(text.substr(start, comma - start));
        if (comma == std::string::npos)
            return parts;
        start = comma + 1;
    }
}

} // namespace sim::test
