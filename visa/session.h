#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "visa/resourcename.h"
#include "visa/sessionoptions.h"

namespace visa {

/// @brief An open message-based session to one instrument (VISA's IMessage).
///
/// One subclass per way of reaching an instrument: the simulated instrument, the system VISA
/// library, a serial line, a GPIB board. Every operation either completes or throws VisaError
/// naming the operation, the resource and the cause. Destroying a session releases it.
class IMessage
{
public:
    virtual ~IMessage() = default;

    /// The canonical resource name the session was opened on.
    virtual std::string ResourceName() const = 0;

    /// Sends @p data as it is; with @p end true the last byte carries END (EOI on GPIB).
    virtual void Write(std::string_view data, bool end) = 0;

    /// Reads one message: up to and including the termination character when it is enabled,
    /// otherwise up to END. Throws VisaError on time-out.
    virtual std::string Read() = 0;

    /// Device clear: the instrument drops pending input and output.
    virtual void Clear() = 0;

    /// Closes the session; later operations fail. Closing a closed session does nothing.
    virtual void Close() = 0;
};

/// @brief One implementation of the I/O library: opens sessions to resources.
///
/// The window only sees the ResourceManager; which backend stands behind it is chosen once at
/// start-up (the simulated instrument, the system VISA library, or the built-in serial and GPIB
/// I/O).
class Backend
{
public:
    virtual ~Backend() = default;

    /// Opens @p name with @p options; throws VisaError (operation "Open") when it cannot.
    virtual std::unique_ptr<IMessage> open(const visa::ResourceName &name, const SessionOptions &options) = 0;
};

} // namespace visa
