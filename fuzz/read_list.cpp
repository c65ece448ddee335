// FormattedIO488::ReadList: the fields joined again give back the reply less its final LF.
// The first input byte picks how the list is read; the rest is the reply.
//   bits 0-1: 0 default arguments, 1 empty separator, 2 one separator character (byte 1),
//             3 several separator characters (bytes 1..n, n = 2 + bits 2-3)
//   bit 7:    read as a 32-bit integer list, which ReadList does not do

#include <algorithm>
#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "check.h"
#include "support/scriptedsession.h"
#include "visa/formattedio.h"
#include "visa/visaerror.h"

namespace {

std::string joined(const std::vector<std::string> &fields, std::string_view separator)
{
    std::string text;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (i > 0)
            text += separator;
        text += fields[i];
    }
    return text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::uint8_t control = data[0];
    const int mode = control & 3;
    const std::size_t separatorSize = mode == 2 ? 1 : mode == 3 ? 2 + ((control >> 2) & 3) : 0;
    if (size < 1 + separatorSize)
        return 0;
    const std::string separator(reinterpret_cast<const char *>(data) + 1, separatorSize);
    const std::string reply(reinterpret_cast<const char *>(data) + 1 + separatorSize, size - 1 - separatorSize);
    const bool asIntegers = (control & 0x80) != 0;
    const visa::ASCIIType type = asIntegers ? visa::ASCIIType_I4 : visa::ASCIIType_BSTR;

    // One reply per query, as an instrument gives; a second read times out.
    support::Script script;
    script.replies.push_back(reply);
    visa::FormattedIO488 io;
    io.IO = std::make_unique<support::ScriptedSession>(script);
    std::vector<std::string> fields;
    try {
        fields = mode == 0 ? io.ReadList() : io.ReadList(type, separator);
    } catch (const visa::VisaError &e) {
        FUZZ_CHECK(asIntegers && mode != 0, std::string("refused a text list: ") + e.what());
        FUZZ_CHECK(e.resource() == support::ScriptedSession::kName,
                   "the failure names another resource: " + e.resource());
        return 0;
    } catch (const std::exception &e) {
        FUZZ_CHECK(false, std::string("threw something else than VisaError: ") + e.what());
    }
    FUZZ_CHECK(!asIntegers || mode == 0, "read a list as integers, which is not supported");

    const std::string body = reply.ends_with('\n') ? reply.substr(0, reply.size() - 1) : reply;
    const std::string what = " for separator " + fuzz::shown(separator) + ", reply " + fuzz::shown(reply);
    FUZZ_CHECK(!fields.empty(), "no fields" + what);
    if (mode == 1) {
        FUZZ_CHECK(fields.size() == 1 && fields.front() == body, "an empty separator split the reply" + what);
        return 0;
    }
    const std::string_view used = mode == 0 ? std::string_view(",") : std::string_view(separator);
    if (used.size() == 1) {
        FUZZ_CHECK(joined(fields, used) == body, "the fields joined are not the reply" + what);
        const auto count = static_cast<std::size_t>(std::count(body.begin(), body.end(), used.front()));
        FUZZ_CHECK(fields.size() == count + 1, std::to_string(fields.size()) + " fields" + what);
        return 0;
    }
    // Several characters: each of them separates, so no field holds any, and putting back the
    // character found between each pair of fields restores the reply.
    std::string rebuilt;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        FUZZ_CHECK(fields[i].find_first_of(used) == std::string::npos, "field " + fuzz::shown(fields[i]) + what);
        rebuilt += fields[i];
        if (i + 1 < fields.size()) {
            FUZZ_CHECK(rebuilt.size() < body.size() && used.find(body[rebuilt.size()]) != std::string_view::npos,
                       "fields and separators do not make the reply" + what);
            rebuilt += body[rebuilt.size()];
        }
    }
    FUZZ_CHECK(rebuilt == body, "the fields joined are not the reply" + what);
    return 0;
}
