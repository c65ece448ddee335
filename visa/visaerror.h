#pragma once

#include <stdexcept>
#include <string>

namespace visa {

/// @brief A failed I/O library operation.
///
/// what() is the description the operator sees: which operation failed, on which resource, and
/// why, e.g. `ReadString (reply to "*IDN?") on GPIB0::9::INSTR failed: time-out after 2000 ms`.
class VisaError : public std::runtime_error
{
public:
    VisaError(std::string operation, std::string resource, std::string cause);

    const std::string &operation() const { return m_operation; }
    const std::string &resource() const { return m_resource; }
    const std::string &cause() const { return m_cause; }

private:
    std::string m_operation;
    std::string m_resource;
    std::string m_cause;
};

} // namespace visa
