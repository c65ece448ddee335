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
        // The reason quotes the name, shortened where it is long; so does the resource shown.
        constexpr size_t kMaxShown = 64;
        const std::string shown = resourceName.size() > kMaxShown ? resourceName.substr(0, kMaxShown) + "..."
                                                                  : resourceName;
        throw VisaError("Open", shown, e.what());
    }
    if (!m_backend)
        throw VisaError("Open", resourceName, "no I/O library is available");
    return m_backend->open(name, options);
}

} // namespace visa
