#pragma once

#include <memory>

#include "visa/session.h"

namespace sim {

class Qv3310;

/// @brief The I/O library backend that reaches the simulated QV3310.
///
/// The instrument answers at GPIB board 0, primary address 9 (GPIB0::9::INSTR) and at serial port 1
/// (ASRL1::INSTR); every other address, and every address under the fault "absent", has no
/// instrument behind it.
class SimulatedBackend final : public visa::Backend
{
public:
    static constexpr unsigned kGpibBoard = 0;
    static constexpr unsigned kGpibAddress = 9;
    static constexpr unsigned kSerialPort = 1;

    explicit SimulatedBackend(std::shared_ptr<Qv3310> instrument);

    std::unique_ptr<visa::IMessage> open(const visa::ResourceName &name, const visa::SessionOptions &options) override;

    const std::shared_ptr<Qv3310> &instrument() const { return m_instrument; }

private:
    bool answersAt(const visa::ResourceName &name) const;

    std::shared_ptr<Qv3310> m_instrument;
};

} // namespace sim
