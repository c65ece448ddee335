// The program's own number helpers. LeadingNumber(QString) against a hand-written reading (blanks,
// TABs and LFs dropped, the grammar, strtod); NumberText(double) must read back through
// LeadingNumber to the same value and keep its listed form.
// Input: UTF-8 text for LeadingNumber; its first 8 bytes, when there are 8, are also a double.

#include <QString>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "app/numbers.h"
#include "check.h"
#include "decimal.h"

namespace {

/// What LeadingNumber should give for @p text.
double reference(const QString &text, std::string &gathered)
{
    // The number's characters, with the blanks between them dropped; it ends at anything else.
    for (const QChar qc : text) {
        const char16_t c = qc.unicode();
        if (c == u' ' || c == u'\t' || c == u'\n')
            continue;
        const bool numeric = (c >= u'0' && c <= u'9') || c == u'+' || c == u'-' || c == u'.' || c == u'e' || c == u'E';
        if (!numeric)
            break;
        gathered += char(c);
    }
    std::string_view rest = gathered;
    bool negative = false;
    if (!rest.empty() && (rest.front() == '+' || rest.front() == '-')) {
        negative = rest.front() == '-';
        rest.remove_prefix(1);
    }
    const std::size_t length = fuzz::decimalLength(rest);
    if (length == 0)
        return 0;
    const fuzz::Decimal d = fuzz::decimalValue(rest.substr(0, length));
    if (d.underflow)
        return negative ? -0.0 : 0.0;
    return negative ? -d.value : d.value;
}

void checkNumberText(double x)
{
    if (!std::isfinite(x))
        return;
    const QString text = NumberText(x);
    const std::string shown = text.toStdString();
    // Zero of either sign is listed as zero: " 0".
    FUZZ_CHECK(x != 0 || shown == " 0", "NumberText(" + fuzz::number(x) + ") = \"" + shown + "\", expected \" 0\"");
    FUZZ_CHECK(shown.starts_with(' ') != shown.starts_with('-') && (shown.starts_with('-') == (x < 0)),
               "NumberText(" + fuzz::number(x) + ") = \"" + shown + "\": no sign column");
    FUZZ_CHECK(shown.find("0.") != 1 && shown.find('e') == std::string::npos && shown.find(',') == std::string::npos,
               "NumberText(" + fuzz::number(x) + ") = \"" + shown + "\"");
    const double back = LeadingNumber(text);
    FUZZ_CHECK(back == x,
               "NumberText(" + fuzz::number(x) + ") = \"" + shown + "\" reads back as " + fuzz::number(back));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    std::string gathered;
    const double want = reference(text, gathered);
    const double got = LeadingNumber(text);
    const bool tiny = want == 0 && got != 0 && std::fabs(got) < 2.3e-308; // a subnormal is fair for "too small"
    FUZZ_CHECK(got == want || tiny, "LeadingNumber gave " + fuzz::number(got) + ", expected " + fuzz::number(want)
                                        + " for " + fuzz::shown(text.toStdString()) + " (number part "
                                        + fuzz::shown(gathered) + ")");

    if (size >= sizeof(double)) {
        double x;
        std::memcpy(&x, data, sizeof x);
        checkNumberText(x);
    }
    return 0;
}
