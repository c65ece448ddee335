#pragma once

// An independent reading of plain decimal numbers, to compare the parsers under test against:
// the grammar written out by hand, the value from the C library's strtod.

#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <string>
#include <string_view>

#include "check.h"

namespace fuzz {

/// Length of the unsigned decimal at the front of @p text: digits with an optional point and
/// fraction (or a point and digits), then an optional exponent with at least one digit. 0: none.
inline std::size_t decimalLength(std::string_view text)
{
    const auto digit = [&](std::size_t i) { return i < text.size() && text[i] >= '0' && text[i] <= '9'; };
    std::size_t i = 0;
    std::size_t mantissaDigits = 0;
    while (digit(i)) {
        ++i;
        ++mantissaDigits;
    }
    if (i < text.size() && text[i] == '.') {
        std::size_t j = i + 1;
        while (digit(j)) {
            ++j;
            ++mantissaDigits;
        }
        if (mantissaDigits > 0)
            i = j;
    }
    if (mantissaDigits == 0)
        return 0;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        std::size_t j = i + 1;
        if (j < text.size() && (text[j] == '+' || text[j] == '-'))
            ++j;
        if (digit(j)) {
            while (digit(j))
                ++j;
            i = j;
        }
    }
    return i;
}

/// The value of an unsigned decimal as decimalLength() delimits it.
struct Decimal
{
    double value = 0; ///< correctly rounded; HUGE_VAL when too large
    bool overflow = false;
    bool underflow = false; ///< below the normal range: 0 or a subnormal are both fair readings
};

inline Decimal decimalValue(std::string_view text)
{
    const std::string copy(text); // strtod needs the terminating zero; this runs in the "C" locale
    errno = 0;
    Decimal d;
    d.value = std::strtod(copy.c_str(), nullptr);
    if (errno == ERANGE) {
        d.overflow = std::isinf(d.value);
        d.underflow = !d.overflow;
    } else if (d.value != 0 && d.value < DBL_MIN) {
        d.underflow = true;
    }
    return d;
}

/// True when @p got is a fair reading of @p want, negated when @p negative.
inline bool sameValue(double got, const Decimal &want, bool negative)
{
    const double expected = negative ? -want.value : want.value;
    if (want.underflow)
        return got == 0 || got == expected;
    return got == expected;
}

/// What a failed sameValue() says: "read 1, expected 2 (too large) from ...".
inline std::string mismatch(double got, const Decimal &want, bool negative, const std::string &shownInput)
{
    const char *limit = want.overflow ? " (too large)" : want.underflow ? " (too small)" : "";
    return "read " + number(got) + ", expected " + number(negative ? -want.value : want.value) + limit + " from "
           + shownInput;
}

} // namespace fuzz
