#pragma once

// Shared by the fuzz targets: invariant checks that abort, so libFuzzer keeps the input.

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "visa/visibletext.h"

namespace fuzz {

/// Printable form of @p text for a failure report, as the I/O library shows replies; long
/// inputs are cut.
inline std::string shown(std::string_view text)
{
    constexpr std::size_t kMax = 200;
    return visa::visibleText(text, kMax);
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

/// @p text with its ASCII letters in upper (or lower) case: names are matched without regard to case.
inline std::string withCase(std::string_view text, bool upper)
{
    std::string out(text);
    for (char &c : out) {
        if (upper && c >= 'a' && c <= 'z')
            c = char(c - 'a' + 'A');
        else if (!upper && c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    }
    return out;
}

} // namespace fuzz

/// Aborts with @p detail (a std::string expression, built only on failure) when @p condition is false.
#define FUZZ_CHECK(condition, detail)                               \
    do {                                                            \
        if (!(condition))                                           \
            ::fuzz::fail(__FILE__, __LINE__, #condition, (detail)); \
    } while (0)

namespace fuzz {

/// What @p parse makes of @p text, or nothing when it refuses the text with std::invalid_argument
/// and a reason; any other exception breaks the parser's contract.
template<class Parse>
auto parsedOrRefused(Parse parse, std::string_view text) -> std::optional<decltype(parse(text))>
{
    try {
        return parse(text);
    } catch (const std::invalid_argument &e) {
        FUZZ_CHECK(e.what()[0] != '\0', "refused without a reason: " + shown(text));
        return std::nullopt;
    } catch (const std::exception &e) {
        FUZZ_CHECK(false,
                   std::string("threw something else than invalid_argument: ") + e.what() + " for " + shown(text));
    }
    return std::nullopt;
}

} // namespace fuzz
