#include "visa/builtinbackend.h"

#include "visa/visaerror.h"

namespace visa {

BuiltinBackend::BuiltinBackend(SerialPortMap ports, std::string gpibLibrary)
    : m_serial(std::move(ports))
    , m_gpib(std::move(gpibLibrary))
{
}

std::unique_ptr<IMessage> BuiltinBackend::open(const ResourceName &name, const SessionOptions &options)
{
    // Each interface type by name: a new one must be given its way here, never fall to GPIB.
    switch (name.type) {
    case InterfaceType::Serial: return m_serial.open(name, options);
    case InterfaceType::Gpib: return m_gpib.open(name, options);
    }
    throw VisaError("Open", name.canonical(), "resources of this interface type are not supported");
}

} // namespace visa
