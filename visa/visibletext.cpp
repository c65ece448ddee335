#include "visa/visibletext.h"

namespace visa {

std::string visibleText(std::string_view text, std::size_t limit)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    const std::string_view shown = text.substr(0, limit);
    std::string out;
    out.reserve(shown.size());
    for (const unsigned char c : shown) {
        if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c < 0x20 || c >= 0x7F || c == '\\') {
            out += "\\x";
            out += kHex[c >> 4];
            out += kHex[c & 15];
        } else {
            out += char(c);
        }
    }
    if (shown.size() < text.size())
        out += "...(" + std::to_string(text.size()) + " bytes)";
    return out;
}

} // namespace visa
