#include "sim/scpiparser.h"

#include "visa/numberparse.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

namespace sim::scpi {

namespace {

/// Most channels one list may name; stops "(@1:9999,1:9999,...)" from eating memory.
constexpr long kMaxChannelsInList = 10000;
/// Channel numbers are slot*100 + channel; anything longer is not a channel.
constexpr long kMaxChannelNumber = 9999;
/// Deeper than any header of the instrument's tree. The path rule lets each relative header
/// lengthen the path, so without a bound "A:A;A:A;..." would build ever longer headers.
constexpr std::size_t kMaxHeaderNodes = 16;

bool isWhitespace(char c)
{
    // IEEE 488.2 white space: any control character or blank other than the terminator.
    return static_cast<unsigned char>(c) <= 0x20;
}

bool isAlpha(char c)
{
    return std::isalpha(static_cast<unsigned char>(c)) != 0;
}

bool isDigit(char c)
{
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
}

char upper(char c)
{
    return static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
}

std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && isWhitespace(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isWhitespace(text.back()))
        text.remove_suffix(1);
    return text;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (upper(a[i]) != upper(b[i]))
            return false;
    }
    return true;
}

/// Splits @p text at @p separator where it stands outside quotes and brackets; @p balanced
/// tells whether every string and bracket was closed.
std::vector<std::string_view> splitTopLevel(std::string_view text, char separator, bool &balanced)
{
    std::vector<std::string_view> parts;
    char quote = 0;
    int depth = 0;
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quote != 0) {
            if (c == quote)
                quote = 0; // a doubled quote closes and reopens: still inside
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '(') {
            ++depth;
        } else if (c == ')') {
            --depth;
        } else if (c == separator && depth == 0) {
            parts.push_back(text.substr(start, i - start));
            start = i + 1;
        }
    }
    parts.push_back(text.substr(start));
    balanced = quote == 0 && depth == 0;
    return parts;
}

std::string upperCased(std::string_view text)
{
    std::string out(text);
    for (char &c : out)
        c = upper(c);
    return out;
}

/// Reads one mnemonic at @p pos: a letter, then letters, digits or underscores.
std::string_view readMnemonic(std::string_view text, std::size_t &pos)
{
    const std::size_t start = pos;
    if (pos < text.size() && isAlpha(text[pos])) {
        ++pos;
        while (pos < text.size() && (isAlpha(text[pos]) || isDigit(text[pos]) || text[pos] == '_'))
            ++pos;
    }
    return text.substr(start, pos - start);
}

ProgramUnit parseUnit(std::string_view text, std::vector<std::string> &path)
{
    ProgramUnit unit;
    std::vector<std::string> mnemonics;
    std::size_t pos = 0;
    const bool common = text.front() == '*';
    const bool absolute = text.front() == ':';
    if (common || absolute)
        ++pos;
    for (;;) {
        const std::string_view mnemonic = readMnemonic(text, pos);
        if (mnemonic.empty()) {
            unit.header = std::string(text);
            unit.error = err::kSyntax;
            return unit;
        }
        mnemonics.push_back((common ? "*" : "") + upperCased(mnemonic));
        if (common || pos >= text.size() || text[pos] != ':')
            break;
        ++pos;
    }
    if (pos < text.size() && text[pos] == '?') {
        unit.query = true;
        ++pos;
    }
    unit.header = std::string(text.substr(0, pos));

    const std::string_view rest = text.substr(pos);
    if (!rest.empty() && !isWhitespace(rest.front())) {
        unit.error = err::kHeaderSeparator;
        return unit;
    }
    if (const std::string_view parameters = trimmed(rest); !parameters.empty()) {
        bool balanced = true;
        for (std::string_view parameter : splitTopLevel(parameters, ',', balanced)) {
            parameter = trimmed(parameter);
            if (parameter.empty()) {
                unit.error = err::kSyntax;
                return unit;
            }
            unit.parameters.emplace_back(parameter);
        }
        if (!balanced) {
            unit.error = err::kSyntax;
            return unit;
        }
    }

    if (common) {
        unit.nodes = std::move(mnemonics);
        return unit;
    }
    const std::size_t depth = (absolute ? 0 : path.size()) + mnemonics.size();
    if (depth > kMaxHeaderNodes) {
        // Names no node of the tree; the path stays where it was.
        unit.error = err::kUndefinedHeader;
        return unit;
    }
    unit.nodes = absolute ? std::vector<std::string>{} : path;
    unit.nodes.insert(unit.nodes.end(), mnemonics.begin(), mnemonics.end());
    path.assign(unit.nodes.begin(), unit.nodes.end() - 1);
    return unit;
}

std::string shortest(double value)
{
    std::array<char, 32> buffer{};
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
    return std::string(buffer.data(), result.ptr);
}

std::optional<long> parseInteger(std::string_view text)
{
    text = trimmed(text);
    long value = 0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || !isDigit(text.front()) || result.ec != std::errc()
        || result.ptr != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

} // namespace

bool matchesMnemonic(std::string_view mnemonic, std::string_view input)
{
    if (equalsIgnoringCase(input, mnemonic))
        return true;
    // The short form: the mnemonic's characters that are not lower case, in order. Compared in
    // place, since every header is matched against the whole command table.
    std::size_t i = 0;
    for (char c : mnemonic) {
        if (std::islower(static_cast<unsigned char>(c)))
            continue;
        if (i == input.size() || upper(input[i]) != upper(c))
            return false;
        ++i;
    }
    return i == input.size();
}

std::vector<ProgramUnit> parseProgramMessage(std::string_view message)
{
    std::vector<ProgramUnit> units;
    std::vector<std::string> path;
    bool balanced = true;
    for (std::string_view text : splitTopLevel(message, ';', balanced)) {
        text = trimmed(text);
        if (!text.empty())
            units.push_back(parseUnit(text, path));
    }
    return units;
}

std::optional<double> parseNumber(std::string_view text)
{
    std::size_t i = 0;
    const auto digits = [&] {
        const std::size_t start = i;
        while (i < text.size() && isDigit(text[i]))
            ++i;
        return i - start;
    };
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        ++i;
    std::size_t mantissaDigits = digits();
    if (i < text.size() && text[i] == '.') {
        ++i;
        mantissaDigits += digits();
    }
    if (mantissaDigits == 0)
        return std::nullopt;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-'))
            ++i;
        if (digits() == 0)
            return std::nullopt;
    }
    if (i != text.size())
        return std::nullopt;

    // The text is a whole number now; too large reads as an infinity of its sign, too small as zero.
    return visa::leadingNumber(text);
}

HeaderPattern::HeaderPattern(std::string_view text)
    : m_text(text)
{
    if (!text.empty() && text.back() == '?') {
        m_query = true;
        text.remove_suffix(1);
    }
    bool optional = false;
    std::string current;
    const auto flush = [&] {
        if (!current.empty())
            m_nodes.push_back({std::move(current), optional});
        current.clear();
    };
    for (char c : text) {
        if (c == '[') {
            flush();
            optional = true;
        } else if (c == ']') {
            flush();
            optional = false;
        } else if (c == ':') {
            flush();
        } else {
            current += c;
        }
    }
    flush();
    m_requiredNodes = static_cast<std::size_t>(
        std::count_if(m_nodes.begin(), m_nodes.end(), [](const Node &node) { return !node.optional; }));
}

bool HeaderPattern::matches(const ProgramUnit &unit) const
{
    // Every header is tried against the whole table: most patterns fail on their length alone.
    return unit.query == m_query && unit.nodes.size() >= m_requiredNodes && unit.nodes.size() <= m_nodes.size()
           && matchFrom(0, unit.nodes, 0);
}

bool HeaderPattern::matchFrom(std::size_t patternIndex, const std::vector<std::string> &nodes,
                              std::size_t nodeIndex) const
{
    if (patternIndex == m_nodes.size())
        return nodeIndex == nodes.size();
    const Node &node = m_nodes[patternIndex];
    if (nodeIndex < nodes.size() && matchesMnemonic(node.mnemonic, nodes[nodeIndex])
        && matchFrom(patternIndex + 1, nodes, nodeIndex + 1)) {
        return true;
    }
    return node.optional && matchFrom(patternIndex + 1, nodes, nodeIndex);
}

Call::Call(const ProgramUnit &unit)
    : m_parameters(unit.parameters)
{
}

const std::string &Call::text(std::size_t i) const
{
    if (!has(i))
        throw Error(err::kMissingParameter);
    return m_parameters[i];
}

double Call::number(std::size_t i, const NumberLimits &limits) const
{
    const std::string &t = text(i);
    if (const auto value = parseNumber(t)) {
        if (!(*value >= limits.min && *value <= limits.max))
            throw Error(err::kDataOutOfRange, t + " not in " + shortest(limits.min) + ".." + shortest(limits.max));
        return *value;
    }
    if (isAlpha(t.front())) {
        if (matchesMnemonic("MINimum", t))
            return limits.min;
        if (matchesMnemonic("MAXimum", t))
            return limits.max;
        if (matchesMnemonic("DEFault", t))
            return limits.def;
        throw Error(err::kIllegalParameterValue, t);
    }
    if (isDigit(t.front()) || t.front() == '+' || t.front() == '-' || t.front() == '.')
        throw Error(err::kInvalidCharacterInNumber, t);
    throw Error(err::kDataType, t);
}

long long Call::integer(std::size_t i, const NumberLimits &limits) const
{
    return std::llround(number(i, limits));
}

bool Call::boolean(std::size_t i) const
{
    const std::string &t = text(i);
    if (const auto value = parseNumber(t))
        return std::llround(*value) != 0;
    if (isAlpha(t.front())) {
        if (equalsIgnoringCase(t, "ON"))
            return true;
        if (equalsIgnoringCase(t, "OFF"))
            return false;
        throw Error(err::kIllegalParameterValue, t);
    }
    throw Error(err::kDataType, t);
}

const std::string &Call::characterData(std::size_t i) const
{
    const std::string &t = text(i);
    std::size_t pos = 0;
    if (readMnemonic(t, pos).size() != t.size())
        throw Error(err::kDataType, t);
    return t;
}

std::vector<int> Call::channelList(std::size_t i) const
{
    const std::string &t = text(i);
    if (t.size() < 3 || t.compare(0, 2, "(@") != 0 || t.back() != ')')
        throw Error(err::kDataType, t);
    const std::string_view body = trimmed(std::string_view(t).substr(2, t.size() - 3));
    std::vector<int> channels;
    if (body.empty())
        return channels;
    bool balanced = true;
    for (std::string_view item : splitTopLevel(body, ',', balanced)) {
        const std::size_t colon = item.find(':');
        const auto first = parseInteger(item.substr(0, colon));
        const auto last = colon == std::string_view::npos ? first : parseInteger(item.substr(colon + 1));
        if (!first || !last || *first > kMaxChannelNumber || *last > kMaxChannelNumber
            || static_cast<long>(channels.size()) + std::abs(*last - *first) >= kMaxChannelsInList) {
            throw Error(err::kInvalidExpression, t);
        }
        const long step = *last >= *first ? 1 : -1;
        for (long channel = *first;; channel += step) {
            channels.push_back(static_cast<int>(channel));
            if (channel == *last)
                break;
        }
    }
    return channels;
}

std::optional<std::vector<int>> Call::takeChannelList()
{
    if (m_parameters.empty() || m_parameters.back().compare(0, 2, "(@") != 0)
        return std::nullopt;
    std::vector<int> channels = channelList(m_parameters.size() - 1);
    m_parameters.pop_back();
    return channels;
}

} // namespace sim::scpi
