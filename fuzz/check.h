#pragma once

// Shared by the fuzz targets: invariant checks that abort, so libFuzzer keeps the input.

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace fuzz {

/// Printable form of @p text for a failure report; long inputs are cut.
inline std::string shown(std::string_view text)
{
    constexpr std::size_t kMax = 200;
    std::string out;
    for (unsigned char c : text.substr(0, kMax)) {
        if (c >= 0x20 && c < 0x7f && c != '\\') {
            out += char(c);
        } else {
            char buffer[8];
            std::snprintf(buffer, sizeof buffer, "\\x%02X", c);
            out += buffer;
        }
    }
    if (text.size() > kMax)
        out += "...(" + std::to_string(text.size()) + " bytes)";
    return out;
}

/// @p v with every digit it needs to read back the same.
inline std::string number(double v)
{
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%.17g", v);
    return buffer;
}

[[noreturn]] inline void fail(const char *file, int line, const char *condition, const std::string &detail)
{
    std::fprintf(stderr, "\n%s:%d: invariant broken: %s\n  %s\n", file, line, condition, detail.c_str());
    std::abort();
}

} // namespace fuzz

/// Aborts with @p detail (a std::string expression, built only on failure) when @p condition is false.
#define FUZZ_CHECK(condition, detail)                                     \
    do {                                                                  \
        if (!(condition))                                                 \
            ::fuzz::fail(__FILE__, __LINE__, #condition, (detail));       \
    } while (0)
