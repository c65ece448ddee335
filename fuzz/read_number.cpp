// FormattedIO488::ReadNumber on a reply given whole by the instrument, for every ASCIIType and for
// a type value outside the enumeration: it returns a value of the type or throws VisaError.
// Which number a reply holds is leading_number's business; here visa::leadingNumber says it.

#include <cmath>
#include <cstdint>
#include <exception>
#include <limits>
#include <memory>
#include <optional>
#include <string>

#include "check.h"
#include "support/scriptedsession.h"
#include "visa/formattedio.h"
#include "visa/numberparse.h"
#include "visa/visaerror.h"

namespace {

/// What ReadNumber must give: the value, or nothing when it must fail.
std::optional<double> expected(const std::optional<double> &number, visa::ASCIIType type)
{
    if (!number)
        return std::nullopt;
    switch (type) {
    case visa::ASCIIType_R8:
        if (!std::isfinite(*number))
            return std::nullopt;
        return *number;
    case visa::ASCIIType_I2:
    case visa::ASCIIType_I4: {
        const double rounded = std::nearbyint(*number);
        const double min = type == visa::ASCIIType_I2 ? std::numeric_limits<std::int16_t>::min()
                                                      : std::numeric_limits<std::int32_t>::min();
        const double max = type == visa::ASCIIType_I2 ? std::numeric_limits<std::int16_t>::max()
                                                      : std::numeric_limits<std::int32_t>::max();
        if (!(rounded >= min && rounded <= max))
            return std::nullopt;
        return rounded;
    }
    default: return std::nullopt; // not a numeric type
    }
}

void readAs(const std::string &reply, visa::ASCIIType type, bool flushToEND)
{
    // One reply per query, as an instrument gives; a second read times out.
    support::Script script;
    script.replies.push_back(reply);
    visa::FormattedIO488 io;
    io.IO = std::make_unique<support::ScriptedSession>(script);
    io.WriteString("MEAS?");
    const std::optional<double> want = expected(visa::leadingNumber(reply), type);
    const std::string what = "type " + std::to_string(int(type)) + ", reply " + fuzz::shown(reply);
    try {
        const double got = io.ReadNumber(type, flushToEND);
        FUZZ_CHECK(want.has_value(), "accepted " + fuzz::number(got) + " for " + what);
        FUZZ_CHECK(got == *want, "read " + fuzz::number(got) + ", expected " + fuzz::number(*want) + " for " + what);
        if (type == visa::ASCIIType_I2 || type == visa::ASCIIType_I4) {
            const double limit = type == visa::ASCIIType_I2 ? 32767 : 2147483647;
            FUZZ_CHECK(got == std::trunc(got) && got >= -limit - 1 && got <= limit,
                       "not an integer of the type: " + fuzz::number(got) + " for " + what);
        }
    } catch (const visa::VisaError &e) {
        FUZZ_CHECK(!want.has_value(), std::string("refused a good reply: ") + e.what() + " for " + what);
        FUZZ_CHECK(e.operation().starts_with("ReadNumber") && e.operation().find("MEAS?") != std::string::npos,
                   "the failure names another operation: " + e.operation());
        FUZZ_CHECK(e.resource() == support::ScriptedSession::kName,
                   "the failure names another resource: " + e.resource());
    } catch (const std::exception &e) {
        FUZZ_CHECK(false, std::string("threw something else than VisaError: ") + e.what() + " for " + what);
    } catch (...) {
        FUZZ_CHECK(false, "threw a non-exception for " + what);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string reply(reinterpret_cast<const char *>(data), size);
    for (visa::ASCIIType type : {visa::ASCIIType_I2, visa::ASCIIType_I4, visa::ASCIIType_R8, visa::ASCIIType_BSTR})
        readAs(reply, type, true);
    // A type the enumeration lacks, as a caller casting an integer could pass.
    readAs(reply, static_cast<visa::ASCIIType>(size > 0 ? data[0] % 16 : 0), size % 2 == 0);
    return 0;
}
