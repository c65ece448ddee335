#include "sim/simulatedbackend.h"

#include <stdexcept>
#include <utility>

#include "sim/qv3310.h"
#include "sim/simsession.h"
#include "visa/visaerror.h"

namespace sim {

SimulatedBackend::SimulatedBackend(std::shared_ptr<Qv3310> instrument)
    : m_instrument(std::move(instrument))
{
    if (!m_instrument)
        throw std::invalid_argument("SimulatedBackend needs an instrument");
}

std::unique_ptr<visa::IMessage> SimulatedBackend::open(const visa::ResourceName &name,
                                                       const visa::SessionOptions &options)
{
    if (!answersAt(name)) {
        throw visa::VisaError("Open", name.canonical(), "resource not found: no instrument answers at this address");
    }
    return std::make_unique<SimSession>(m_instrument, name, options);
}

bool SimulatedBackend::answersAt(const visa::ResourceName &name) const
{
    if (m_instrument->faults().absent)
        return false;
    switch (name.type) {
    case visa::InterfaceType::Gpib:
        return name.board == kGpibBoard && name.primaryAddress == kGpibAddress && !name.secondaryAddress;
    case visa::InterfaceType::Serial: return name.board == kSerialPort;
    }
    return false;
}

} // namespace sim
