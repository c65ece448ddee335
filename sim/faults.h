#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

/// @brief Ways the simulated instrument misbehaves, chosen by tests or by the user.
///
/// Default-constructed: a correctly fitted, well-behaved QV3310. Users name faults as short
/// kebab-case items ("no-dmm", "queued-errors=2", "error-on=TRIG:TIM"); parse() turns them into
/// this struct.
struct Faults
{
    /// A failure to hit on one command header: error-on=HEADER[/CODE].
    struct ErrorOn
    {
        std::string header; ///< as a controller would send it, e.g. "TRIG:TIM" or "ROUT:SCAN:SIZE?"
        int code = -222; ///< queued instead of executing the command

        bool operator==(const ErrorOn &) const = default;
    };

    std::optional<std::string> model; ///< *IDN? names this model instead of QV3310
    std::optional<std::string> module; ///< slot 100 holds this module instead of QV3391
    bool noDmm = false; ///< no DMM fitted
    bool dmmOff = false; ///< DMM fitted but switched off at power-on
    std::vector<int> queuedErrors; ///< waiting in the error queue at power-on, oldest first
    bool noAnswer = false; ///< executes everything, never sends a reply
    bool absent = false; ///< no address answers: every open fails
    std::vector<ErrorOn> errorOn;
    bool scanNeverCompletes = false; ///< the last reading of a scan is never taken
    bool extraReadings = false; ///< a scan stores one reading more than it should, with its last
    bool missingField = false; ///< reading records lack their channel field
    std::optional<int> stopAnsweringAfter; ///< handles this many program messages, then is silent

    /// The model *IDN? answers with a fault "wrong-model".
    static constexpr const char *kWrongModel = "QV3320";
    /// The module slot 100 reports with a fault "wrong-module".
    static constexpr const char *kWrongModule = "QV3392";
    /// Error numbers queued by "queued-errors=N", repeated in this order.
    static const std::vector<int> &queuedErrorCycle();

    /// @brief One fault a user can name: the table that the parser, --help and the README's list
    /// of faults all follow.
    struct Kind
    {
        std::string_view name;
        std::string_view value; ///< what follows "=", as help shows it ("N", "NAME"); empty: none
        std::string_view help;
        /// True when the instrument itself acts on it; false when only the simulated backend
        /// does ("absent": no address answers), so a server of the instrument cannot.
        bool inInstrument = true;
        /// Records the fault in @p faults; @p value is trimmed and, when the kind takes one, not empty.
        void (*apply)(Faults &faults, std::string_view value) = nullptr;

        /// "name" or "name=VALUE", as users write it.
        std::string usage() const;
    };

    /// Every fault, in the order help lists them.
    static std::span<const Kind> kinds();

    /// Reads items such as "no-dmm", "queued-errors=2", "error-on=TRIG:TIM/-221"; an item may
    /// hold several faults separated by commas. Throws std::invalid_argument naming an unknown
    /// fault or a bad value, and with @p instrumentOnly also a fault the instrument itself does
    /// not act on.
    static Faults parse(const std::vector<std::string> &items, bool instrumentOnly = false);

    /// One line per fault, for --help; with @p instrumentOnly only those the instrument acts on.
    static std::string help(bool instrumentOnly = false);

    bool operator==(const Faults &) const = default;
};

} // namespace sim
