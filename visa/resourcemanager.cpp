#include "visa/resourcemanager.h"

#include <stdexcept>

#include "visa/visaerror.h"

namespace visa {

ResourceManager::ResourceManager(std::shared_ptr<Backend> backend)
    : m_backend(std::move(backend))
{
}

std::unique_ptr<IMessage> ResourceManager::Open(const std::string &resourceName, int /*accessMode*/,
                                                int /*openTimeout*/, const std::string &optionString)
{
    ResourceName name;
    SessionOptions options;
    try {
        name = ResourceName::parse(resourceName);
        options = SessionOptions::parse(optionString);
    } catch (const std::invalid_argument &e) {
        throw VisaError("Open", resourceName, e.what());
    }
    if (!m_backend)
        throw VisaError("Open", resourceName, "no I/O library is available");
    return m_backend->open(name, options);
}

} // namespace visa
