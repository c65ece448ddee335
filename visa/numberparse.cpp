#include "visa/numberparse.h"

#include <charconv>
#include <cmath>

namespace visa {

namespace {
bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
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
        && (isDigit(reply[pos]) || (reply[pos] == '.' && pos + 1 < reply.size() && isDigit(reply[pos + 1])));
    if (!startsNumber)
        return std::nullopt;

    double value = 0;
    const char *first = reply.data() + pos;
    auto [end, ec] = std::from_chars(first, reply.data() + reply.size(), value, std::chars_format::general);
    if (ec == std::errc::result_out_of_range) {
        // Too large is out of every type's range and the caller reports it; too small is zero.
        const std::string_view text(first, size_t(end - first));
        const bool tiny = text.find("e-") != std::string_view::npos || text.find("E-") != std::string_view::npos;
        value = tiny ? 0.0 : HUGE_VAL;
    } else if (ec != std::errc())
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
