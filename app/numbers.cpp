#include "app/numbers.h"

#include <array>
#include <cmath>
#include <charconv>
#include <string>

QString NumberText(double value)
{
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
    if (!digits)
        return 0;

    const char *first = number.data();
    if (*first == '+')
        ++first;
    double value = 0;
    // from_chars takes the longest valid prefix: a dangling "e" or "e-" is left unread.
    const auto result = std::from_chars(first, number.data() + number.size(), value);
    if (result.ec == std::errc::result_out_of_range)
        return number.find("e-") != std::string::npos ? 0.0
                                                       : (number.front() == '-' ? -HUGE_VAL : HUGE_VAL);
    return result.ec == std::errc() ? value : 0.0;
}
