#include "visa/sharedlibrary.h"

#include <dlfcn.h>

#include <stdexcept>

namespace visa {

namespace {
std::string lastError()
{
    const char *text = dlerror();
    return text ? text : "unknown reason";
}
} // namespace

std::shared_ptr<SharedLibrary> SharedLibrary::open(const std::string &path)
{
    dlerror();
    // RTLD_LOCAL: two VISA libraries must not resolve each other's viRead.
    void *handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle)
        throw std::runtime_error("cannot load " + path + ": " + lastError());
    return std::shared_ptr<SharedLibrary>(new SharedLibrary(path, handle));
}

SharedLibrary::SharedLibrary(std::string path, void *handle)
    : m_path(std::move(path))
    , m_handle(handle)
{
}

SharedLibrary::~SharedLibrary()
{
    dlclose(m_handle);
}

void *SharedLibrary::optionalSymbol(const char *name) const
{
    return dlsym(m_handle, name);
}

void *SharedLibrary::symbol(const char *name) const
{
    dlerror();
    void *address = dlsym(m_handle, name);
    if (!address)
        throw std::runtime_error(m_path + " has no function " + name + " (" + lastError() + ")");
    return address;
}

} // namespace visa
