#pragma once

#include <optional>
#include <string_view>

namespace visa {

/// The number a reply begins with, after leading blanks: an optional sign, digits with an optional
/// fraction, and an optional exponent, read without regard to the locale. Empty when the reply
/// does not begin with a number. @p consumed, when given, receives the length read.
std::optional<double> leadingNumber(std::string_view reply, size_t *consumed = nullptr);

/// Rounds @p value to the nearest integer, a tie going to the even one.
double roundHalfEven(double value);

} // namespace visa
