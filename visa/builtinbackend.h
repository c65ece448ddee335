#pragma once

#include <memory>
#include <string>

#include "visa/gpibbackend.h"
#include "visa/serialbackend.h"

namespace visa {

/// @brief The I/O built into the program, for machines without a VISA library: serial lines
/// through QSerialPort, GPIB through linux-gpib.
class BuiltinBackend : public Backend
{
public:
    explicit BuiltinBackend(SerialPortMap ports = {}, std::string gpibLibrary = GpibBackend::kDefaultLibrary);

    std::unique_ptr<IMessage> open(const ResourceName &name, const SessionOptions &options) override;

private:
    SerialBackend m_serial;
    GpibBackend m_gpib;
};

} // namespace visa
