#pragma once

#include <memory>
#include <string>
#include <vector>

#include "visa/session.h"

namespace visa {

/// @brief The system's VISA library (any vendor's), reached through the standard VISA C API.
///
/// The library is loaded at run time by path or name; sessions map the option text of Open onto
/// VISA attributes. Every failure carries viStatusDesc's text, the resource and the operation.
class SystemVisaBackend : public Backend
{
public:
    /// Loads the library at @p path. Throws std::runtime_error naming the library and the
    /// loader's reason, or the first function it lacks.
    static std::shared_ptr<SystemVisaBackend> load(const std::string &path);

    /// Shared-library names of vendor VISA installations on Linux, the usual one first.
    static const std::vector<std::string> &libraryNames();

    /// The first of @p names that loads and has every function; null when none does. A library
    /// that is present but unusable is skipped, and why is added to @p skipped when given.
    static std::shared_ptr<SystemVisaBackend> findInstalled(const std::vector<std::string> &names,
                                                            std::vector<std::string> *skipped = nullptr);

    ~SystemVisaBackend() override;

    /// The path or name the library was loaded from.
    const std::string &libraryPath() const;

    std::unique_ptr<IMessage> open(const ResourceName &name, const SessionOptions &options) override;

    struct Library;

private:
    explicit SystemVisaBackend(std::shared_ptr<Library> library);

    std::shared_ptr<Library> m_library;
};

} // namespace visa
