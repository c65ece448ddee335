#pragma once

#include <memory>
#include <string>

#include "visa/sharedlibrary.h"

/// @brief The control functions of a stand-in library (fakevisa_*, fakegpib_*). Loading the
/// same path as the backend does gives the same instance, so the test scripts what the backend sees.
class FakeLibrary
{
public:
    explicit FakeLibrary(const std::string &path)
        : m_library(visa::SharedLibrary::open(path))
    {
    }

    template<typename Function>
    Function get(const char *name) const
    {
        return m_library->function<Function>(name);
    }

private:
    std::shared_ptr<visa::SharedLibrary> m_library;
};
