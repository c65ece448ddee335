#include "visa/builtinbackend.h"

namespace visa {

BuiltinBackend::BuiltinBackend(SerialPortMap ports, std::string gpibLibrary)
    : m_serial(std::move(ports))
    , m_gpib(std::move(gpibLibrary))
{
}

std::unique_ptr<IMessage> BuiltinBackend::open(const ResourceName &name, const SessionOptions &options)
{
    if (name.type == InterfaceType::Serial)
        return m_serial.open(name, options);
    return m_gpib.open(name, options);
}

} // namespace visa
