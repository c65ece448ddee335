#include "visa/resourcename.h"

#include <algorithm>
#include <charconv>
#include <stdexcept>

namespace visa {

namespace {

constexpr unsigned kMaxBoard = 999;
constexpr unsigned kMaxGpibAddress = 30;

bool startsWithNoCase(std::string_view text, std::string_view prefix)
{
    if (text.size() < prefix.size())
        return false;
    for (size_t i = 0; i < prefix.size(); ++i) {
        char c = text[i];
        if (c >= 'a' && c <= 'z')
            c = char(c - 'a' + 'A');
        if (c != prefix[i])
            return false;
    }
    return true;
}

/// A name is short; quoting pages of pasted text would bury the reason.
std::string clipped(std::string_view text)
{
    constexpr size_t kMaxQuoted = 64;
    return text.size() > kMaxQuoted ? std::string(text.substr(0, kMaxQuoted)) + "..." : std::string(text);
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

/// Reads a run of decimal digits at the front of @p text; empty when there is none.
std::optional<unsigned> takeNumber(std::string_view &text, unsigned max)
{
    size_t n = 0;
    while (n < text.size() && isDigit(text[n]))
        ++n;
    if (n == 0)
        return std::nullopt;
    unsigned value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + n, value);
    if (ec != std::errc() || value > max)
        throw std::invalid_argument("number " + clipped(text.substr(0, n)) + " is out of range (0 to "
                                    + std::to_string(max) + ")");
    text.remove_prefix(n);
    return value;
}

bool takeSeparator(std::string_view &text)
{
    if (!text.starts_with("::"))
        return false;
    text.remove_prefix(2);
    return true;
}

} // namespace

ResourceName ResourceName::parse(std::string_view text)
{
    const std::string quoted = clipped(text);
    auto refuse = [&](const std::string &why) -> std::invalid_argument {
        return std::invalid_argument("\"" + quoted + "\" is not a valid resource name: " + why);
    };

    // The other interface types of VISA resource names: known, and refused by name, so that a
    // network or USB address is never taken for a GPIB one.
    static constexpr std::string_view kUnserved[] = {"GPIB-VXI", "VXI", "TCPIP", "USB", "PXI", "FIREWIRE"};
    for (const std::string_view type : kUnserved) {
        std::string_view rest = text.substr(std::min(text.size(), type.size()));
        while (!rest.empty() && isDigit(rest.front()))
            rest.remove_prefix(1);
        if (startsWithNoCase(text, type) && (rest.empty() || rest.starts_with("::")))
            throw std::invalid_argument(std::string(type)
                                        + " resources are not supported (only GPIB and serial "
                                          "(ASRL) instruments are supported)");
    }

    ResourceName name;
    try {
        if (startsWithNoCase(text, "GPIB")) {
            text.remove_prefix(4);
            name.type = InterfaceType::Gpib;
            name.board = takeNumber(text, kMaxBoard).value_or(0);
            if (!takeSeparator(text))
                throw refuse("expected \"::\" and the primary address after the board number");
            auto pad = takeNumber(text, kMaxGpibAddress);
            if (!pad)
                throw refuse("expected the primary address (0 to 30)");
            name.primaryAddress = *pad;
            std::string_view rest = text;
            if (takeSeparator(rest) && !rest.empty() && isDigit(rest.front())) {
                text = rest;
                name.secondaryAddress = takeNumber(text, kMaxGpibAddress);
            }
        } else if (startsWithNoCase(text, "ASRL")) {
            text.remove_prefix(4);
            name.type = InterfaceType::Serial;
            auto port = takeNumber(text, kMaxBoard);
            if (!port)
                throw refuse("expected the serial port number after ASRL");
            name.board = *port;
        } else {
            throw refuse("only GPIB and serial (ASRL) instruments are supported");
        }
    } catch (const std::invalid_argument &e) {
        const std::string what = e.what();
        if (what.starts_with("\""))
            throw;
        throw refuse(what);
    }

    if (text.empty())
        return name;
    std::string_view suffix = text;
    if (takeSeparator(suffix) && suffix.size() == 5 && startsWithNoCase(suffix, "INSTR"))
        return name;
    throw refuse("unexpected \"" + clipped(text) + "\"");
}

std::string ResourceName::canonical() const
{
    if (type == InterfaceType::Serial)
        return "ASRL" + std::to_string(board) + "::INSTR";
    std::string text = "GPIB" + std::to_string(board) + "::" + std::to_string(primaryAddress);
    if (secondaryAddress)
        text += "::" + std::to_string(*secondaryAddress);
    return text + "::INSTR";
}

} // namespace visa
