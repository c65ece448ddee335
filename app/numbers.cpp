#include "app/numbers.h"

#include "visa/numberparse.h"

#include <array>
#include <charconv>
#include <string>

QString NumberText(double value)
{
    if (value == 0)
        value = 0; // minus zero is listed as zero
    std::array<char, 64> buffer{};
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
    std::string digits(buffer.data(), result.ptr);

    std::string sign = " ";
    if (digits.starts_with('-')) {
        sign = "-";
        digits.erase(0, 1);
    }
    if (digits.starts_with("0."))
        digits.erase(0, 1);
    for (char &c : digits)
        if (c == 'e')
            c = 'E';
    return QString::fromStdString(sign + digits);
}

double LeadingNumber(const QString &text)
{
    // Gather the characters that may make up the number, passing over the blanks between them.
    std::string number;
    bool digits = false, point = false, exponent = false;
    for (const QChar qc : text) {
        const char16_t c = qc.unicode();
        if (c == u' ' || c == u'\t' || c == u'\n')
            continue;
        const bool atStart = number.empty();
        const bool afterExponent = !number.empty() && (number.back() == 'e');
        if ((c == u'+' || c == u'-') && (atStart || afterExponent)) {
            number += char(c);
        } else if (c >= u'0' && c <= u'9') {
            number += char(c);
            digits = true;
        } else if (c == u'.' && !point && !exponent) {
            number += '.';
            point = true;
        } else if ((c == u'e' || c == u'E') && digits && !exponent) {
            number += 'e';
            exponent = true;
        } else {
            break;
        }
    }
    return digits ? visa::leadingNumber(number).value_or(0.0) : 0.0;
}
