#pragma once

#include <optional>
#include <string>
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

    /// Reads items such as "no-dmm", "queued-errors=2", "error-on=TRIG:TIM/-221"; an item may
    /// hold several faults separated by commas. Throws std::invalid_argument naming an unknown
    /// fault or a bad value.
    static Faults parse(const std::vector<std::string> &items);

    /// One line per fault, for --help.
    static std::string help();

    bool operator==(const Faults &) const = default;
};

} // namespace sim
