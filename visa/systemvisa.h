#pragma once

#include <memory>
#include <string>
#include <vector>

#include "visa/session.h"

namespace visa {

/// @brief One library the search tried, and what came of it.
struct LibraryAttempt
{
    enum class Result { NotFound, Unusable, Chosen };
    std::string name;
    Result result = Result::NotFound;
    std::string reason; ///< the loader's reason, or the function the library lacks
};

/// @brief The system's VISA library, reached through the standard VISA C API.
///
/// The library is loaded at run time by path or name; sessions map the option text of Open onto
/// VISA attributes. Every failure carries viStatusDesc's text, the resource and the operation.
class SystemVisaBackend : public Backend
{
public:
    /// Loads the library at @p path. Throws std::runtime_error naming the library and the
    /// loader's reason, or the first function it lacks.
    static std::shared_ptr<SystemVisaBackend> load(const std::string &path);

    /// The standard names of a VISA library on Linux: libvisa.so and its versioned names through
    /// the loader's path, then the VISA shared components' folders. Any other library is named.
    static const std::vector<std::string> &libraryNames();

    /// The first of @p names that loads and has every function; null when none does. A library
    /// that is present but unusable is skipped, and why is added to @p skipped when given; every
    /// name tried is added to @p tried with its outcome.
    static std::shared_ptr<SystemVisaBackend> findInstalled(const std::vector<std::string> &names,
                                                            std::vector<std::string> *skipped = nullptr,
                                                            std::vector<LibraryAttempt> *tried = nullptr);

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
