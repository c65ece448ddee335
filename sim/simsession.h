#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "sim/clock.h"
#include "sim/messageframer.h"
#include "visa/resourcename.h"
#include "visa/session.h"
#include "visa/sessionoptions.h"

namespace sim {

class Qv3310;

/// @brief A message-based session to the simulated QV3310 over a GPIB or a serial line.
///
/// It frames bytes into program messages and replies into terminated text, and spends on the
/// instrument's clock the time each bus transaction takes, so a controller polling in a tight loop
/// sleeps on a real clock and advances a virtual one. Program messages end at LF, on a serial line
/// also at a lone CR, and on GPIB at END; replies end with LF on GPIB and CR LF on a serial line.
class SimSession final : public visa::IMessage
{
public:
    /// Time every bus transaction takes besides the characters it carries.
    static constexpr Clock::Duration kTransactionTime = std::chrono::milliseconds(1);
    /// Bits a serial character occupies on the line: start, 8 data, stop.
    static constexpr int kBitsPerCharacter = 10;

    SimSession(std::shared_ptr<Qv3310> instrument, visa::ResourceName name, visa::SessionOptions options);
    ~SimSession() override;
    SimSession(const SimSession &) = delete;
    SimSession &operator=(const SimSession &) = delete;

    std::string ResourceName() const override;
    void Write(std::string_view data, bool end) override;
    std::string Read() override;
    void Clear() override;
    void Close() override;

    bool isSerial() const { return m_name.type == visa::InterfaceType::Serial; }

private:
    void requireOpen(const char *operation) const;
    /// Lets the time of one transaction carrying @p characters pass.
    void spend(std::size_t characters);
    void deliver(const std::string &message);

    std::shared_ptr<Qv3310> m_instrument;
    visa::ResourceName m_name;
    std::string m_canonical;
    visa::SessionOptions m_options;
    MessageFramer m_input; ///< holds a program message not yet complete
    bool m_open = true;
};

} // namespace sim
