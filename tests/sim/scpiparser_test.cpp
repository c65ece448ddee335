#include <deque>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include <cmath>

#include "sim/scpiformat.h"
#include "sim/scpiparser.h"

namespace sim::scpi {
namespace {

TEST(Mnemonic, TakesShortOrLongFormInAnyCaseAndNothingBetween)
{
    struct Case
    {
        const char *mnemonic;
        const char *input;
        bool matches;
    };
    const Case cases[] = {
        {"SYSTem", "SYST", true},         {"SYSTem", "system", true},
        {"SYSTem", "SyStEm", true},       {"SYSTem", "SYSTE", false},
        {"SYSTem", "SYS", false},         {"NPLCycles", "NPLC", true},
        {"NPLCycles", "nplcycles", true}, {"TRANsducer", "TRANSDUCER", true},
        {"TRANsducer", "TRANS", false},   {"TCouple", "tc", true},
        {"*IDN", "*idn", true},           {"DC", "D", false},
    };
    for (const Case &c : cases)
        EXPECT_EQ(matchesMnemonic(c.mnemonic, c.input), c.matches) << c.mnemonic << " vs " << c.input;
}

/// Resolved headers ("NODE:NODE?"), one per unit, with the unit's error number when it has one.
std::vector<std::string> headers(std::string_view message)
{
    std::vector<std::string> out;
    for (const ProgramUnit &unit : parseProgramMessage(message)) {
        if (unit.error != err::kNone) {
            out.push_back("error " + std::to_string(unit.error));
            continue;
        }
        std::string header;
        for (const std::string &node : unit.nodes)
            header += (header.empty() ? "" : ":") + node;
        out.push_back(header + (unit.query ? "?" : ""));
    }
    return out;
}

TEST(ProgramMessage, FollowsTheSemicolonPathRule)
{
    struct Case
    {
        const char *message;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {"*RST;*OPC?", {"*RST", "*OPC?"}},
        {"SENS:VOLT:NPLC 1;RANG 10", {"SENS:VOLT:NPLC", "SENS:VOLT:RANG"}},
        {"TRIG:COUN 2;SOUR TIM;TIM 10", {"TRIG:COUN", "TRIG:SOUR", "TRIG:TIM"}},
        {"TRIG:COUN 2;:ROUT:SCAN (@101)", {"TRIG:COUN", "ROUT:SCAN"}},
        {"ROUT:SCAN (@101);SCAN:SIZE?", {"ROUT:SCAN", "ROUT:SCAN:SIZE?"}},
        // A common command neither uses nor moves the current node.
        {"TRIG:COUN 2;*CLS;SOUR BUS", {"TRIG:COUN", "*CLS", "TRIG:SOUR"}},
        {":syst:err?", {"SYST:ERR?"}},
        {"  ABOR ;; INIT  ", {"ABOR", "INIT"}},
        {"", {}},
        // A broken unit does not stop the ones after it.
        {"SYST::ERR?;*IDN?", {"error -102", "*IDN?"}},
        {"ROUT:SCAN(@101);*IDN?", {"error -111", "*IDN?"}},
        {"TRIG:COUN 1,,2", {"error -102"}},
        {"DISP:TEXT \"unterminated", {"error -102"}},
        {"TRIG:COUN 2;SOUR", {"TRIG:COUN", "TRIG:SOUR"}},
    };
    for (const Case &c : cases)
        EXPECT_EQ(headers(c.message), c.expected) << c.message;
}

TEST(ProgramMessage, AHeaderDeeperThanAnyOfTheTreeIsUndefinedAndLeavesThePath)
{
    // Each "A:A" continues at the node the one before left: the path would grow without end.
    std::string message;
    for (int i = 0; i < 40; ++i)
        message += "A:A;";
    message += "B";
    const std::vector<ProgramUnit> units = parseProgramMessage(message);
    ASSERT_EQ(units.size(), 41U);
    std::size_t refused = 0;
    for (const ProgramUnit &unit : units) {
        EXPECT_LE(unit.nodes.size(), 16U) << unit.header;
        refused += unit.error == err::kUndefinedHeader;
    }
    EXPECT_EQ(refused, 40U - 15U);
    std::vector<std::string> last(15, "A"); // the path the fifteenth "A:A" left
    last.push_back("B");
    EXPECT_EQ(units.back().nodes, last);

    // The deepest header of the instrument and a relative one after it still resolve.
    const auto deep = parseProgramMessage("SENS:TEMP:TRAN:TC:RJUN:TYPE INT,(@101);TYPE? (@101)");
    ASSERT_EQ(deep.size(), 2U);
    EXPECT_EQ(deep[1].nodes, (std::vector<std::string>{"SENS", "TEMP", "TRAN", "TC", "RJUN", "TYPE"}));
    EXPECT_EQ(deep[1].error, err::kNone);
}

TEST(ProgramMessage, SplitsParametersOutsideStringsAndChannelLists)
{
    const auto units = parseProgramMessage("CONF:TEMP TCouple , J,(@101,105,110:112);DISP:TEXT \"a;b,c\"");
    ASSERT_EQ(units.size(), 2U);
    EXPECT_EQ(units[0].parameters, (std::vector<std::string>{"TCouple", "J", "(@101,105,110:112)"}));
    EXPECT_EQ(units[1].parameters, (std::vector<std::string>{"\"a;b,c\""}));
}

TEST(HeaderPattern, SkipsOptionalNodesOnly)
{
    const HeaderPattern pattern("[SENSe:]VOLTage[:DC]:NPLCycles");
    const auto matches = [&](std::string_view message) {
        return pattern.matches(parseProgramMessage(message).front());
    };
    EXPECT_TRUE(matches("VOLT:NPLC 1"));
    EXPECT_TRUE(matches("SENS:VOLT:DC:NPLC 1"));
    EXPECT_TRUE(matches("sense:voltage:dc:nplcycles 1"));
    EXPECT_TRUE(matches("SENSe:VOLTage:NPLC 1"));
    EXPECT_FALSE(matches("SENS:NPLC 1"));
    EXPECT_FALSE(matches("VOLT:DC 1"));
    EXPECT_FALSE(matches("VOLT:NPLC? "));
    EXPECT_FALSE(matches("SENS:VOLT:DC:NPLC:EXTRA 1"));
    EXPECT_TRUE(HeaderPattern("SYSTem:ERRor[:NEXT]?").matches(parseProgramMessage("SYST:ERR:NEXT?").front()));
}

TEST(Number, ReadsNrfAndRefusesAnythingElse)
{
    const std::pair<const char *, std::optional<double>> cases[] = {
        {"1", 1.0},
        {"+1.5", 1.5},
        {"-2.5E-3", -0.0025},
        {".5", 0.5},
        {"5.", 5.0},
        {"1e3", 1000.0},
        {"0.25", 0.25},
        {"", std::nullopt},
        {"+", std::nullopt},
        {"1e", std::nullopt},
        {"1.2.3", std::nullopt},
        {"abc", std::nullopt},
        {"1 2", std::nullopt},
        {"0x10", std::nullopt},
        // Out of a double's range: too large is infinite, so every range check refuses it.
        {"1e400", HUGE_VAL},
        {"-2E+309", -HUGE_VAL},
        {"1e-400", 0.0},
    };
    for (const auto &[text, expected] : cases)
        EXPECT_EQ(parseNumber(text), expected) << text;
}

/// The error number and detail a parameter accessor throws; {0, ""} when it throws none.
template<class F>
std::pair<int, std::string> refusalOf(F &&accessor)
{
    try {
        accessor();
    } catch (const Error &e) {
        return {e.code(), e.info()};
    }
    return {0, ""};
}

/// The error number a parameter accessor throws, or 0.
template<class F>
int errorOf(F &&accessor)
{
    return refusalOf(std::forward<F>(accessor)).first;
}

Call callWith(std::string_view parameters)
{
    // A call reads its unit in place: every unit made here lives to the end of the tests.
    static std::deque<ProgramUnit> units;
    units.push_back(parseProgramMessage(std::string("X ") + std::string(parameters)).front());
    return Call(units.back());
}

TEST(Parameters, NumbersTakeMinMaxDefAndCheckTheirRange)
{
    const NumberLimits limits{1, 100, 5};
    EXPECT_EQ(callWith("MIN").number(0, limits), 1);
    EXPECT_EQ(callWith("maximum").number(0, limits), 100);
    EXPECT_EQ(callWith("DEF").number(0, limits), 5);
    EXPECT_EQ(callWith("2.5E1").number(0, limits), 25);
    EXPECT_EQ(callWith("2.5").integer(0, limits), 3);

    const std::pair<const char *, int> failures[] = {
        {"0.5", err::kDataOutOfRange},
        {"101", err::kDataOutOfRange},
        {"1e999", err::kDataOutOfRange},
        {"LOTS", err::kIllegalParameterValue},
        {"12x", err::kInvalidCharacterInNumber},
        {"(@101)", err::kDataType},
        {"\"7\"", err::kDataType},
    };
    for (const auto &[text, code] : failures)
        EXPECT_EQ(errorOf([&, text = text] { callWith(text).number(0, limits); }), code) << text;
    EXPECT_EQ(errorOf([&] { callWith("1").number(1, limits); }), err::kMissingParameter);
}

TEST(Parameters, BooleansAndCharacterData)
{
    const std::pair<const char *, bool> booleans[] = {
        {"ON", true}, {"off", false}, {"1", true}, {"0", false}, {"0.4", false}};
    for (const auto &[text, expected] : booleans)
        EXPECT_EQ(callWith(text).boolean(0), expected) << text;
    EXPECT_EQ(errorOf([] { callWith("YES").boolean(0); }), err::kIllegalParameterValue);
    EXPECT_EQ(errorOf([] { callWith("(@1)").boolean(0); }), err::kDataType);

    enum class Source { Immediate, Timer };
    const auto source = [](std::string_view text) {
        return callWith(text).choice<Source>(0, {{"IMMediate", Source::Immediate}, {"TIMer", Source::Timer}});
    };
    EXPECT_EQ(source("tim"), Source::Timer);
    EXPECT_EQ(source("IMMEDIATE"), Source::Immediate);
    EXPECT_EQ(errorOf([&] { source("IMMED"); }), err::kIllegalParameterValue);
    EXPECT_EQ(errorOf([&] { source("1"); }), err::kDataType);
}

TEST(Parameters, ChannelListsExpandRangesInOrder)
{
    const std::pair<const char *, std::vector<int>> lists[] = {
        {"(@101:110)", {101, 102, 103, 104, 105, 106, 107, 108, 109, 110}},
        {"(@101,105,110:112)", {101, 105, 110, 111, 112}},
        {"(@ 103:101 , 120 )", {103, 102, 101, 120}},
        {"(@)", {}},
    };
    for (const auto &[text, channels] : lists)
        EXPECT_EQ(callWith(text).channelList(0), channels) << text;

    const std::pair<const char *, int> failures[] = {
        {"(@101:)", err::kInvalidExpression},
        {"(@1o1)", err::kInvalidExpression},
        {"(@1:99999)", err::kInvalidExpression},
        {"101", err::kDataType},
        {"(101)", err::kDataType},
    };
    for (const auto &[text, code] : failures)
        EXPECT_EQ(errorOf([&, text = text] { callWith(text).channelList(0); }), code) << text;
}

TEST(Parameters, ChannelListsNameTheFirstChannelOutsideTheRangeGiven)
{
    // As if each channel of the expanded list were checked in order, from 101..120.
    const std::pair<const char *, const char *> lists[] = {
        {"(@101:120,121)", "no channel 121"},     {"(@105:130)", "no channel 121"}, {"(@110:90)", "no channel 100"},
        {"(@100:105)", "no channel 100"},         {"(@125:101)", "no channel 125"}, {"(@102,1:9000,7)", "no channel 1"},
        {"(@120:101,101:120,0)", "no channel 0"},
    };
    for (const auto &[text, info] : lists) {
        const auto refusal = refusalOf([text = text] { callWith(text).channelList(0, 101, 120); });
        EXPECT_EQ(refusal, std::pair(err::kIllegalParameterValue, std::string(info))) << text;
    }
    EXPECT_EQ(callWith("(@103:101,120)").channelList(0, 101, 120), (std::vector<int>{103, 102, 101, 120}));
    // A list too long is refused as such, whatever it names.
    EXPECT_EQ(errorOf([&] { callWith("(@1:9999,1:9999)").channelList(0, 101, 120); }), err::kInvalidExpression);
}

TEST(Parameters, TrailingChannelListIsTakenOff)
{
    Call call = callWith("C, (@101:102)");
    EXPECT_EQ(call.takeChannelList(), (std::vector<int>{101, 102}));
    EXPECT_EQ(call.size(), 1U);
    EXPECT_EQ(call.takeChannelList(), std::nullopt);
}

TEST(Format, RepliesUseSignedNr1AndNr3)
{
    EXPECT_EQ(formatNr1(20), "+20");
    EXPECT_EQ(formatNr1(0), "+0");
    EXPECT_EQ(formatNr1(-113), "-113");
    EXPECT_EQ(formatNr3(0.25), "+2.50000000E-01");
    EXPECT_EQ(formatNr3(-12.5), "-1.25000000E+01");
    EXPECT_EQ(formatNr3(0, 9), "+0.000000000E+00");
    EXPECT_EQ(formatChannelList({101, 102, 103, 105, 110, 111}), "(@101:103,105,110:111)");
}

} // namespace
} // namespace sim::scpi
