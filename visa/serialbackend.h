#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "visa/session.h"

namespace visa {

/// @brief Which serial device each port number n of "ASRLn::INSTR" stands for.
///
/// A port given a path (for USB adapters and pseudo-terminals) uses it; otherwise port n is
/// /dev/ttyS(n-1). Resource text becomes a device path only through this mapping.
class SerialPortMap
{
public:
    /// Parses "ASRLn=PATH" (ASRLn may carry "::INSTR"). Throws std::invalid_argument with the reason.
    static std::pair<unsigned, std::string> parseEntry(std::string_view text);

    void set(unsigned port, std::string path) { m_paths[port] = std::move(path); }

    /// The device of @p port; empty for ASRL0 when it was given none.
    std::optional<std::string> devicePath(unsigned port) const;

    /// The port whose device is @p device (an absolute path): a mapped one, else n for /dev/ttyS(n-1)
    /// when port n is not mapped elsewhere; empty when no ASRL address reaches it.
    std::optional<unsigned> portOf(const std::string &device) const;

    /// The ports given a path, by port number.
    const std::map<unsigned, std::string> &mapped() const { return m_paths; }

private:
    std::map<unsigned, std::string> m_paths;
};

/// @p path made absolute against the working folder when it is relative; an absolute one as it is.
std::string absoluteDevicePath(const std::string &path);

/// What to do when @p device may not be opened: the group that owns it, which the user must be in.
/// Empty when the device cannot be looked at.
std::string permissionAdvice(const std::string &device);

/// @brief Serial instruments through QSerialPort, with blocking calls on the calling thread.
///
/// Sessions take their line settings, time-out and terminator from the option text of Open.
class SerialBackend : public Backend
{
public:
    explicit SerialBackend(SerialPortMap ports = {});

    std::unique_ptr<IMessage> open(const ResourceName &name, const SessionOptions &options) override;

private:
    SerialPortMap m_ports;
};

} // namespace visa
