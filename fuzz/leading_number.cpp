// visa::leadingNumber against a hand-written grammar and strtod; visa::roundHalfEven against
// nearbyint, whose default rounding is to nearest with ties to even.

#include <cmath>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "check.h"
#include "decimal.h"
#include "visa/numberparse.h"

namespace {

void checkRounding(double x)
{
    const double got = visa::roundHalfEven(x);
    const double want = std::nearbyint(x);
    FUZZ_CHECK(got == want || (std::isnan(got) && std::isnan(want)),
               "roundHalfEven(" + fuzz::number(x) + ") = " + fuzz::number(got) + ", expected " + fuzz::number(want));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view reply(reinterpret_cast<const char *>(data), size);

    constexpr std::size_t kUntouched = ~std::size_t(0);
    std::size_t consumed = kUntouched;
    const std::optional<double> got = visa::leadingNumber(reply, &consumed);
    const std::optional<double> again = visa::leadingNumber(reply);
    FUZZ_CHECK(got.has_value() == again.has_value()
                   && (!got || *got == *again || (std::isnan(*got) && std::isnan(*again))),
               "result depends on whether consumed is asked for: " + fuzz::shown(reply));

    std::size_t pos = 0;
    while (pos < reply.size() && (reply[pos] == ' ' || reply[pos] == '\t' || reply[pos] == '\r' || reply[pos] == '\n'))
        ++pos;
    bool negative = false;
    if (pos < reply.size() && (reply[pos] == '+' || reply[pos] == '-'))
        negative = reply[pos++] == '-';
    const std::size_t length = fuzz::decimalLength(reply.substr(pos));

    if (length == 0) {
        FUZZ_CHECK(!got, "a number " + fuzz::number(got.value_or(0)) + " read from " + fuzz::shown(reply));
    } else {
        FUZZ_CHECK(got.has_value(), "no number read from " + fuzz::shown(reply));
        FUZZ_CHECK(consumed == pos + length, "consumed " + std::to_string(consumed) + ", expected "
                                                 + std::to_string(pos + length) + " of " + fuzz::shown(reply));
        const fuzz::Decimal want = fuzz::decimalValue(reply.substr(pos, length));
        FUZZ_CHECK(fuzz::sameValue(*got, want, negative), fuzz::mismatch(*got, want, negative, fuzz::shown(reply)));
        checkRounding(*got);
    }

    // The raw bytes as doubles reach the values no decimal text gives: NaN, infinities, ties.
    for (std::size_t at = 0; at + sizeof(double) <= size && at < 64; at += sizeof(double)) {
        double x;
        std::memcpy(&x, data + at, sizeof x);
        checkRounding(x);
        checkRounding(std::trunc(x) + 0.5); // a tie, when x is small enough to keep the half
    }
    return 0;
}
