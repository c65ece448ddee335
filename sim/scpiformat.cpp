#include "sim/scpiformat.h"

#include <array>
#include <charconv>
#include <cstddef>

namespace sim::scpi {

std::string formatNr1(long long value)
{
    std::array<char, 24> buffer{};
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
    std::string text(buffer.data(), result.ptr);
    return value < 0 ? text : "+" + text;
}

std::string formatNr3(double value, int decimals)
{
    std::array<char, 64> buffer{};
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value,
                                      std::chars_format::scientific, decimals);
    std::string text(buffer.data(), result.ptr);
    for (char &c : text) {
        if (c == 'e')
            c = 'E';
    }
    return text.front() == '-' ? text : "+" + text;
}

std::string formatBool(bool value)
{
    return value ? "1" : "0";
}

std::string formatChannelList(const std::vector<int> &channels)
{
    std::string text = "(@";
    for (std::size_t i = 0; i < channels.size();) {
        std::size_t end = i;
        while (end + 1 < channels.size() && channels[end + 1] == channels[end] + 1)
            ++end;
        if (i > 0)
            text += ',';
        text += std::to_string(channels[i]);
        if (end > i)
            text += ':' + std::to_string(channels[end]);
        i = end + 1;
    }
    return text + ")";
}

} // namespace sim::scpi
