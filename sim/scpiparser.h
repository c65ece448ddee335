#pragma once

#include <cstddef>
#include <initializer_list>
#include <optional>
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

/// Reads NRf text (NR1, NR2 or NR3) as a whole; empty when it is not exactly a number.
std::optional<double> parseNumber(std::string_view text);

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

private:
    struct Node
    {
        std::string mnemonic;
        bool optional = false;
    };

    bool matchFrom(std::size_t patternIndex, const std::vector<std::string> &nodes,
                   std::size_t nodeIndex) const;

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
    explicit Call(const ProgramUnit &unit);

    std::size_t size() const { return m_parameters.size(); }
    bool has(std::size_t i) const { return i < m_parameters.size(); }
    const std::string &text(std::size_t i) const;

    double number(std::size_t i, const NumberLimits &limits) const;
    /// A number rounded to the nearest integer, as SCPI does for integer settings.
    long long integer(std::size_t i, const NumberLimits &limits) const;
    bool boolean(std::size_t i) const;
    std::vector<int> channelList(std::size_t i) const;

    /// Character data matched against mixed-case mnemonics: c.choice(0, {{"IMMediate", Imm}, ...}).
    template<class T>
    T choice(std::size_t i, std::initializer_list<std::pair<std::string_view, T>> choices) const
    {
        const std::string &word = characterData(i);
        for (const auto &[mnemonic, value] : choices) {
            if (matchesMnemonic(mnemonic, word))
                return value;
        }
        throw Error(err::kIllegalParameterValue, word);
    }

    /// When the last parameter is a channel list, removes it and returns its channels.
    std::optional<std::vector<int>> takeChannelList();

    /// Sets the unit's response (one response message unit).
    void reply(std::string text) { m_reply = std::move(text); }
    const std::optional<std::string> &response() const { return m_reply; }

private:
    const std::string &characterData(std::size_t i) const;

    std::vector<std::string> m_parameters;
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
    };

    CommandTable(std::initializer_list<Entry> entries)
    {
        m_entries.reserve(entries.size());
        for (const Entry &entry : entries)
            m_entries.emplace_back(HeaderPattern(entry.pattern), entry);
    }

    /// The entry whose pattern matches @p unit, or nullptr.
    const Entry *find(const ProgramUnit &unit) const
    {
        for (const auto &[pattern, entry] : m_entries) {
            if (pattern.matches(unit))
                return &entry;
        }
        return nullptr;
    }

private:
    std::vector<std::pair<HeaderPattern, Entry>> m_entries;
};

} // namespace sim::scpi
