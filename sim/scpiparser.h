#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <functional>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "sim/scpierrors.h"

namespace sim::scpi {

/// True when @p input is the short or the long form of @p mnemonic, in any case. The short form
/// is the upper-case part of the mnemonic as manuals write it: "TRIGger" takes "TRIG" or
/// "TRIGGER", never "TRIGG".
bool matchesMnemonic(std::string_view mnemonic, std::string_view input);

/// @brief One program message unit, split into its header and parameter texts.
struct ProgramUnit
{
    std::string header; ///< as sent, e.g. "VOLT:NPLC" or ":ROUT:SCAN?"
    std::vector<std::string> nodes; ///< upper-cased, absolute after the path rule
    bool query = false;
    std::vector<std::string> parameters; ///< trimmed texts, quotes and brackets kept
    int error = err::kNone; ///< a syntax error found while splitting the unit
};

/// Splits one program message (terminator already stripped) into units at the semicolons that
/// stand outside strings and brackets, and resolves each header by SCPI's path rule: a header
/// without a leading colon continues at the node of the previous header; common commands
/// ("*...") neither use nor change that node. Empty units are dropped.
std::vector<ProgramUnit> parseProgramMessage(std::string_view message);

/// True when @p message holds a unit at all, not only white space and semicolons.
bool hasProgramUnits(std::string_view message);

/// @brief Splits program messages as parseProgramMessage does, handing out each unit as soon as
/// it is split.
///
/// Each unit is one object, reused for every unit of every message, so an instrument that parses
/// message after message allocates nothing for it once its buffers have grown to fit.
class MessageParser
{
public:
    /// Calls @p each with every unit of @p message in order; the unit is valid during the call.
    void parse(std::string_view message, const std::function<void(const ProgramUnit &)> &each);

private:
    ProgramUnit m_unit;
    std::vector<std::string> m_path;
};

/// Reads NRf text (NR1, NR2 or NR3) as a whole; empty when it is not exactly a number.
std::optional<double> parseNumber(std::string_view text);

/// The short form of the first of @p mnemonics that stands for @p value, as a query replies it:
/// "TIM" for {"TIMer", Timer}; empty when none does.
template<class T>
std::string shortMnemonic(std::span<const std::pair<std::string_view, T>> mnemonics, T value)
{
    for (const auto &[mnemonic, meaning] : mnemonics) {
        if (meaning == value) {
            std::string form;
            for (const char c : mnemonic) {
                if (!(c >= 'a' && c <= 'z'))
                    form += c;
            }
            return form;
        }
    }
    return {};
}

/// @brief A header pattern as instrument manuals write it: "[SENSe:]VOLTage[:DC]:NPLCycles?".
///
/// Bracketed nodes are optional; a trailing "?" makes it the query form. Common commands are
/// written with their star: "*IDN?".
class HeaderPattern
{
public:
    explicit HeaderPattern(std::string_view text);

    bool matches(const ProgramUnit &unit) const;
    const std::string &text() const { return m_text; }
    /// Every upper-case first node a matching header can have: both forms of the first required
    /// node and of the optional nodes before it.
    std::vector<std::string> firstNodes() const;

private:
    /// One node, as the two upper-case forms a header may give it: "TRIGGER" and "TRIG" for
    /// "TRIGger". A unit's nodes are upper case, so matching one is two comparisons.
    struct Node
    {
        bool optional = false;
        std::string longForm;
        std::string shortForm;

        bool matches(const std::string &node) const { return node == longForm || node == shortForm; }
    };

    bool matchFrom(std::size_t patternIndex, const std::vector<std::string> &nodes, std::size_t nodeIndex) const;

    std::string m_text;
    std::vector<Node> m_nodes;
    std::size_t m_requiredNodes = 0; ///< nodes that are not optional
    bool m_query = false;
};

/// Limits of a numeric parameter; MINimum, MAXimum and DEFault stand for these values.
struct NumberLimits
{
    double min = 0;
    double max = 0;
    double def = 0;
};

/// @brief The parameters of one unit as a handler sees them.
///
/// Every accessor throws Error with the standard number when the text is missing (-109), of the
/// wrong kind (-104), out of range (-222) or not one of the allowed values (-224), so a handler
/// reads its parameters first and acts only once all of them are good.
class Call
{
public:
    /// Reads the parameters of @p unit in place: the unit must outlive the call.
    explicit Call(const ProgramUnit &unit);

    std::size_t size() const { return m_size; }
    bool has(std::size_t i) const { return i < m_size; }
    const std::string &text(std::size_t i) const;

    double number(std::size_t i, const NumberLimits &limits) const;
    /// A number rounded to the nearest integer, as SCPI does for integer settings.
    long long integer(std::size_t i, const NumberLimits &limits) const;
    bool boolean(std::size_t i) const;
    /// The channels of a channel list, "(@101,103:105)", in the order given. Every channel must
    /// lie in @p lowest..@p highest: the first that does not is refused, "no channel N" (-224),
    /// without expanding the rest of the list.
    std::vector<int> channelList(std::size_t i, int lowest = 0, int highest = kMaxChannel) const;

    /// Character data matched against mixed-case mnemonics: c.choice(0, kSources) with
    /// kSources = {{"IMMediate", Imm}, ...}.
    template<class T>
    T choice(std::size_t i, std::span<const std::pair<std::string_view, T>> choices) const
    {
        const std::string &word = characterData(i);
        for (const auto &[mnemonic, value] : choices) {
            if (matchesMnemonic(mnemonic, word))
                return value;
        }
        throw Error(err::kIllegalParameterValue, word);
    }
    template<class T>
    T choice(std::size_t i, std::initializer_list<std::pair<std::string_view, T>> choices) const
    {
        return choice(i, std::span(choices.begin(), choices.size()));
    }

    /// When the last parameter is a channel list, removes it and returns its channels, checked
    /// as channelList() checks them.
    std::optional<std::vector<int>> takeChannelList(int lowest = 0, int highest = kMaxChannel);

    /// Channel numbers are slot*100 + channel; anything longer is not a channel.
    static constexpr int kMaxChannel = 9999;

    /// Sets the unit's response (one response message unit).
    void reply(std::string text) { m_reply = std::move(text); }
    std::optional<std::string> &response() { return m_reply; }

private:
    const std::string &characterData(std::size_t i) const;

    const std::vector<std::string> &m_parameters;
    std::size_t m_size; ///< the parameters not yet taken off the end
    std::optional<std::string> m_reply;
};

/// @brief A declarative table of commands: header pattern, most parameters taken, handler.
///
/// Adding a command is one line: {"TRIGger:COUNt", 1, [](Target &t, Call &c) { ... }}.
template<class Target>
class CommandTable
{
public:
    using Handler = void (*)(Target &, Call &);

    struct Entry
    {
        std::string_view pattern;
        std::size_t maxParameters = 0;
        Handler handler = nullptr;
        /// A setting's query, when the same row declares it: the pattern with "?" appended.
        std::size_t queryMaxParameters = 0;
        Handler query = nullptr;
    };

    CommandTable(std::initializer_list<Entry> entries)
    {
        // Reserved in full: a query's pattern is a view of its HeaderPattern's text, which must
        // not move.
        m_entries.reserve(entries.size()
                          + static_cast<std::size_t>(
                              std::count_if(entries.begin(), entries.end(), [](const Entry &e) { return e.query; })));
        for (const Entry &entry : entries) {
            add(HeaderPattern(entry.pattern), {entry.pattern, entry.maxParameters, entry.handler});
            if (entry.query) {
                HeaderPattern query(std::string(entry.pattern) + "?");
                add(std::move(query), {{}, entry.queryMaxParameters, entry.query});
                m_entries.back().second.pattern = m_entries.back().first.text();
            }
        }
    }

    /// The first entry in table order whose pattern matches @p unit, or nullptr.
    const Entry *find(const ProgramUnit &unit) const
    {
        // Only the patterns that can begin with the header's first node are tried: a hash per
        // unit instead of a walk through the whole table.
        if (unit.nodes.empty())
            return nullptr;
        for (const std::size_t i : m_buckets[bucketOf(unit.nodes.front())]) {
            if (m_entries[i].first.matches(unit))
                return &m_entries[i].second;
        }
        return nullptr;
    }

private:
    static constexpr std::size_t kBuckets = 256;

    void add(HeaderPattern pattern, const Entry &entry)
    {
        m_entries.emplace_back(std::move(pattern), entry);
        for (const std::string &first : m_entries.back().first.firstNodes()) {
            std::vector<std::size_t> &bucket = m_buckets[bucketOf(first)];
            if (bucket.empty() || bucket.back() != m_entries.size() - 1)
                bucket.push_back(m_entries.size() - 1);
        }
    }

    static std::size_t bucketOf(std::string_view node) { return std::hash<std::string_view>{}(node) % kBuckets; }

    std::vector<std::pair<HeaderPattern, Entry>> m_entries;
    /// Indexes into m_entries, in table order, by the hash of every first node their pattern takes.
    std::array<std::vector<std::size_t>, kBuckets> m_buckets;
};

} // namespace sim::scpi
