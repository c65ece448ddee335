#include "visa/numberparse.h"

#include <charconv>
#include <algorithm>
#include <cmath>

namespace visa {

namespace {
bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}
bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

/// The value of a decimal that from_chars found out of range: infinite when its magnitude is
/// too large (every type refuses it), zero when too small. The magnitude is read from where the
/// first significant digit stands and from the exponent, not from how the text looks.
double outOfRange(std::string_view number)
{
    long long integerDigits = 0;
    long long leadingFractionZeros = 0;
    bool point = false, significant = false;
    size_t i = 0;
    for (; i < number.size() && number[i] != 'e' && number[i] != 'E'; ++i) {
        const char c = number[i];
        if (c == '.') {
            point = true;
        } else if (!significant && c == '0') {
            leadingFractionZeros += point ? 1 : 0;
        } else {
            significant = true;
            integerDigits += point ? 0 : 1;
        }
    }
    long long magnitude = integerDigits > 0 ? integerDigits - 1 : -(leadingFractionZeros + 1);

    if (i < number.size()) {
        constexpr long long kSaturated = 1'000'000'000'000;
        ++i;
        const bool negative = i < number.size() && number[i] == '-';
        if (i < number.size() && (number[i] == '-' || number[i] == '+'))
            ++i;
        long long exponent = 0;
        for (; i < number.size() && isDigit(number[i]); ++i)
            exponent = std::min(kSaturated, exponent * 10 + (number[i] - '0'));
        magnitude += negative ? -exponent : exponent;
    }
    return magnitude > 0 ? HUGE_VAL : 0.0;
}
} // namespace

std::optional<double> leadingNumber(std::string_view reply, size_t *consumed)
{
    size_t pos = 0;
    while (pos < reply.size() && isBlank(reply[pos]))
        ++pos;
    bool negative = false;
    if (pos < reply.size() && (reply[pos] == '+' || reply[pos] == '-')) {
        negative = reply[pos] == '-';
        ++pos;
    }
    // from_chars would also take "inf", "nan" and a second sign: only plain decimals are numbers here.
    const bool startsNumber = pos < reply.size()
                              && (isDigit(reply[pos])
                                  || (reply[pos] == '.' && pos + 1 < reply.size() && isDigit(reply[pos + 1])));
    if (!startsNumber)
        return std::nullopt;

    double value = 0;
    const char *first = reply.data() + pos;
    auto [end, ec] = std::from_chars(first, reply.data() + reply.size(), value, std::chars_format::general);
    if (ec == std::errc::result_out_of_range)
        value = outOfRange(std::string_view(first, size_t(end - first)));
    else if (ec != std::errc())
        return std::nullopt;
    if (consumed)
        *consumed = size_t(end - reply.data());
    return negative ? -value : value;
}

double roundHalfEven(double value)
{
    const double down = std::floor(value);
    const double diff = value - down;
    if (diff < 0.5)
        return down;
    if (diff > 0.5)
        return down + 1;
    return std::fmod(down, 2.0) == 0 ? down : down + 1;
}

} // namespace visa
