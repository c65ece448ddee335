#include "visa/visaerror.h"

namespace visa {

namespace {
std::string describe(const std::string &operation, const std::string &resource, const std::string &cause)
{
    if (resource.empty())
        return operation + " failed: " + cause;
    return operation + " on " + resource + " failed: " + cause;
}
} // namespace

VisaError::VisaError(std::string operation, std::string resource, std::string cause)
    : std::runtime_error(describe(operation, resource, cause))
    , m_operation(std::move(operation))
    , m_resource(std::move(resource))
    , m_cause(std::move(cause))
{
}

} // namespace visa
