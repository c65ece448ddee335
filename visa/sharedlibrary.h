#pragma once

#include <memory>
#include <string>

namespace visa {

/// @brief A shared library loaded at run time (dlopen), for I/O libraries that are not linked:
/// a VISA library or linux-gpib may or may not be installed where the program runs.
class SharedLibrary
{
public:
    /// Loads @p path (a file path, or a name the dynamic linker searches for). Throws
    /// std::runtime_error naming @p path with the loader's reason.
    static std::shared_ptr<SharedLibrary> open(const std::string &path);

    ~SharedLibrary();
    SharedLibrary(const SharedLibrary &) = delete;
    SharedLibrary &operator=(const SharedLibrary &) = delete;

    const std::string &path() const { return m_path; }

    /// The address of @p name; throws std::runtime_error naming the library and the function
    /// when the library does not export it.
    void *symbol(const char *name) const;

    /// The address of @p name, or null when the library does not export it.
    void *optionalSymbol(const char *name) const;

    template<typename Function>
    Function function(const char *name) const
    {
        return reinterpret_cast<Function>(symbol(name));
    }

private:
    SharedLibrary(std::string path, void *handle);

    std::string m_path;
    void *m_handle = nullptr;
};

} // namespace visa
