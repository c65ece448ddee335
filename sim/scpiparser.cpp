#include "sim/scpiparser.h"

#include "visa/numberparse.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <iterator>
#include <cmath>
#include <limits>
#include <system_error>

namespace sim::scpi {

namespace {

/// Most channels one list may name; stops "(@1:9999,1:9999,...)" from eating memory.
constexpr long kMaxChannelsInList = 10000;
/// Deeper than any header of the instrument's tree. The path rule lets each relative header
/// lengthen the path, so without a bound "A:A;A:A;..." would build ever longer headers.
constexpr std::size_t kMaxHeaderNodes = 16;

/// A table of the characters of one class, indexed by unsigned char: a test is one look-up,
/// and a scan for the next one of them a std::find_if.
template<class Member>
constexpr std::array<bool, 256> charClass(Member member)
{
    std::array<bool, 256> table{};
    for (int c = 0; c < 256; ++c)
        table[static_cast<std::size_t>(c)] = member(c);
    return table;
}

// IEEE 488.2 white space: any control character or blank other than the terminator.
constexpr auto kWhitespace = charClass([](int c) { return c <= 0x20; });
constexpr auto kLetter = charClass([](int c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); });
/// What may follow a mnemonic's first letter.
constexpr auto kMnemonicTail = charClass(
    [](int c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_'; });
/// What opens or closes a string or a bracket, or separates units or parameters.
constexpr auto kStructural = charClass(
    [](int c) { return c == '"' || c == '\'' || c == '(' || c == ')' || c == ';' || c == ','; });

bool isWhitespace(char c)
{
    return kWhitespace[static_cast<unsigned char>(c)];
}

bool isAlpha(char c)
{
    return kLetter[static_cast<unsigned char>(c)];
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
    const auto first = std::find_if_not(text.begin(), text.end(), isWhitespace);
    const auto last = std::find_if_not(text.rbegin(), std::make_reverse_iterator(first), isWhitespace).base();
    return {first, last};
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

/// Calls @p part with each piece of @p text between the @p separator characters that stand
/// outside quotes and brackets; returns whether every string and bracket was closed.
template<class Part>
bool splitTopLevel(std::string_view text, char separator, Part part)
{
    // Only the structural characters change anything; the search skips the rest in one go.
    const auto next = [text](std::size_t from) {
        const auto found = std::find_if(text.begin() + static_cast<std::ptrdiff_t>(from), text.end(),
                                        [](char c) { return kStructural[static_cast<unsigned char>(c)]; });
        return static_cast<std::size_t>(found - text.begin());
    };
    char quote = 0;
    int depth = 0;
    std::size_t start = 0;
    for (std::size_t i = next(0); i < text.size(); i = next(i + 1)) {
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
            part(text.substr(start, i - start));
            start = i + 1;
        }
    }
    part(text.substr(start));
    return quote == 0 && depth == 0;
}

/// Appends @p text to @p out in upper case.
void appendUpperCased(std::string &out, std::string_view text)
{
    const std::size_t start = out.size();
    out.append(text);
    std::transform(out.begin() + static_cast<std::ptrdiff_t>(start), out.end(),
                   out.begin() + static_cast<std::ptrdiff_t>(start), upper);
}

/// Reads one mnemonic at @p pos: a letter, then letters, digits or underscores.
std::string_view readMnemonic(std::string_view text, std::size_t &pos)
{
    const std::size_t start = pos;
    if (pos < text.size() && isAlpha(text[pos])) {
        const auto tail = text.begin() + static_cast<std::ptrdiff_t>(pos + 1);
        pos = static_cast<std::size_t>(
            std::find_if_not(tail, text.end(), [](char c) { return kMnemonicTail[static_cast<unsigned char>(c)]; })
            - text.begin());
    }
    return text.substr(start, pos - start);
}

/// Splits one unit's @p text into @p unit, whose buffers are reused, continuing at @p path.
void parseUnit(std::string_view text, std::vector<std::string> &path, ProgramUnit &unit)
{
    unit.query = false;
    unit.error = err::kNone;
    unit.parameters.clear();
    std::size_t nodes = 0; // of unit.nodes in use; strings past it keep their buffers for later
    const auto nextNode = [&]() -> std::string & {
        if (nodes == unit.nodes.size())
            unit.nodes.emplace_back();
        return unit.nodes[nodes++];
    };
    const auto fail = [&](int error) {
        unit.nodes.clear();
        unit.error = error;
    };

    std::size_t pos = 0;
    const bool common = text.front() == '*';
    const bool absolute = text.front() == ':';
    if (common || absolute)
        ++pos;
    // A relative header continues at the node the previous header left.
    if (!common && !absolute) {
        for (const std::string &node : path)
            nextNode() = node;
    }
    for (;;) {
        const std::string_view mnemonic = readMnemonic(text, pos);
        if (mnemonic.empty()) {
            unit.header.assign(text);
            return fail(err::kSyntax);
        }
        std::string &node = nextNode();
        node.assign(common ? "*" : "");
        appendUpperCased(node, mnemonic);
        if (common || pos >= text.size() || text[pos] != ':')
            break;
        ++pos;
    }
    unit.nodes.resize(nodes);
    if (pos < text.size() && text[pos] == '?') {
        unit.query = true;
        ++pos;
    }
    unit.header.assign(text.substr(0, pos));

    const std::string_view rest = text.substr(pos);
    if (!rest.empty() && !isWhitespace(rest.front()))
        return fail(err::kHeaderSeparator);
    if (const std::string_view parameters = trimmed(rest); !parameters.empty()) {
        bool empty = false;
        const bool balanced = splitTopLevel(parameters, ',', [&](std::string_view parameter) {
            parameter = trimmed(parameter);
            empty = empty || parameter.empty();
            if (!empty)
                unit.parameters.emplace_back(parameter);
        });
        if (empty || !balanced)
            return fail(err::kSyntax);
    }

    if (common)
        return;
    if (unit.nodes.size() > kMaxHeaderNodes)
        return fail(err::kUndefinedHeader); // names no node of the tree; the path stays where it was
    path.assign(unit.nodes.begin(), unit.nodes.end() - 1);
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
    if (text.empty() || !isDigit(text.front()) || result.ec != std::errc() || result.ptr != text.data() + text.size()) {
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

void MessageParser::parse(std::string_view message, const std::function<void(const ProgramUnit &)> &each)
{
    m_path.clear(); // every message starts at the root
    splitTopLevel(message, ';', [&](std::string_view text) {
        text = trimmed(text);
        if (text.empty())
            return;
        parseUnit(text, m_path, m_unit);
        each(m_unit);
    });
}

std::vector<ProgramUnit> parseProgramMessage(std::string_view message)
{
    std::vector<ProgramUnit> units;
    MessageParser().parse(message, [&](const ProgramUnit &unit) { units.push_back(unit); });
    return units;
}

bool hasProgramUnits(std::string_view message)
{
    // A unit is a piece between semicolons with something other than white space in it; a
    // semicolon inside a string needs a quote, which is such a thing.
    return std::any_of(message.begin(), message.end(), [](char c) { return c != ';' && !isWhitespace(c); });
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
        if (!current.empty()) {
            std::string longForm;
            appendUpperCased(longForm, current);
            std::string shortForm;
            std::copy_if(current.begin(), current.end(), std::back_inserter(shortForm),
                         [](char c) { return !std::islower(static_cast<unsigned char>(c)); });
            m_nodes.push_back({optional, std::move(longForm), std::move(shortForm)});
        }
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

std::vector<std::string> HeaderPattern::firstNodes() const
{
    std::vector<std::string> forms;
    for (const Node &node : m_nodes) {
        forms.push_back(node.longForm);
        if (node.shortForm != node.longForm)
            forms.push_back(node.shortForm);
        if (!node.optional)
            break;
    }
    return forms;
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
    if (nodeIndex < nodes.size() && node.matches(nodes[nodeIndex])
        && matchFrom(patternIndex + 1, nodes, nodeIndex + 1)) {
        return true;
    }
    return node.optional && matchFrom(patternIndex + 1, nodes, nodeIndex);
}

Call::Call(const ProgramUnit &unit)
    : m_parameters(unit.parameters)
    , m_size(unit.parameters.size())
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

std::vector<int> Call::channelList(std::size_t i, int lowest, int highest) const
{
    const std::string &t = text(i);
    if (t.size() < 3 || t.compare(0, 2, "(@") != 0 || t.back() != ')')
        throw Error(err::kDataType, t);
    const std::string_view body = trimmed(std::string_view(t).substr(2, t.size() - 3));
    std::vector<int> channels;
    if (body.empty())
        return channels;

    // The ranges first: a list too long is refused whole, whatever channels it names.
    struct Range
    {
        long first;
        long last;
    };
    std::vector<Range> ranges;
    long count = 0;
    splitTopLevel(body, ',', [&](std::string_view item) {
        const std::size_t colon = item.find(':');
        const auto first = parseInteger(item.substr(0, colon));
        const auto last = colon == std::string_view::npos ? first : parseInteger(item.substr(colon + 1));
        if (!first || !last || *first > Call::kMaxChannel || *last > Call::kMaxChannel
            || count + std::abs(*last - *first) >= kMaxChannelsInList) {
            throw Error(err::kInvalidExpression, t);
        }
        count += std::abs(*last - *first) + 1;
        ranges.push_back({*first, *last});
    });

    channels.reserve(static_cast<std::size_t>(count));
    for (const auto &[first, last] : ranges) {
        // A range runs from its first channel towards its last: the first one missing is either
        // its start or the one just past the end of the channels there are.
        const long step = last >= first ? 1 : -1;
        const long limit = step > 0 ? highest : lowest;
        if (first < lowest || first > highest)
            throw Error(err::kIllegalParameterValue, "no channel " + std::to_string(first));
        if ((last - limit) * step > 0)
            throw Error(err::kIllegalParameterValue, "no channel " + std::to_string(limit + step));
        for (long channel = first;; channel += step) {
            channels.push_back(static_cast<int>(channel));
            if (channel == last)
                break;
        }
    }
    return channels;
}

std::optional<std::vector<int>> Call::takeChannelList(int lowest, int highest)
{
    if (m_size == 0 || m_parameters[m_size - 1].compare(0, 2, "(@") != 0)
        return std::nullopt;
    std::vector<int> channels = channelList(m_size - 1, lowest, highest);
    --m_size;
    return channels;
}

} // namespace sim::scpi
