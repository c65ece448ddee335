// sim::scpi::parseNumber, the simulator's reading of NRf parameters: exactly the whole text as a
// number or nothing; a number too large for a double reads as an infinity of its sign (so the
// range checks refuse it) and one too small as zero.

#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "check.h"
#include "decimal.h"
#include "sim/scpiparser.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    const std::optional<double> got = sim::scpi::parseNumber(text);

    std::size_t pos = 0;
    bool negative = false;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-'))
        negative = text[pos++] == '-';
    const std::size_t length = fuzz::decimalLength(text.substr(pos));
    const bool whole = length > 0 && pos + length == text.size();
    FUZZ_CHECK(got.has_value() == whole,
               (got ? "read " + fuzz::number(*got) + " from " : "no number in ") + fuzz::shown(text));
    if (!got)
        return 0;
    fuzz::Decimal want = fuzz::decimalValue(text.substr(pos));
    if (want.overflow)
        want.value = INFINITY;
    FUZZ_CHECK(fuzz::sameValue(*got, want, negative), fuzz::mismatch(*got, want, negative, fuzz::shown(text)));
    return 0;
}
