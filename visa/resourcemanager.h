#pragma once

#include <memory>
#include <string>

#include "visa/session.h"

namespace visa {

/// @brief Opens sessions by resource name (VISA COM's IResourceManager).
class ResourceManager
{
public:
    explicit ResourceManager(std::shared_ptr<Backend> backend);

    /// Opens @p resourceName with the settings of @p optionString. @p accessMode and
    /// @p openTimeout are accepted for compatibility; -1 (or any value) means the defaults.
    /// Throws VisaError naming the resource when the name, the options or the open fail.
    std::unique_ptr<IMessage> Open(const std::string &resourceName, int accessMode = 0, int openTimeout = 2000,
                                   const std::string &optionString = {});

private:
    std::shared_ptr<Backend> m_backend;
};

} // namespace visa
