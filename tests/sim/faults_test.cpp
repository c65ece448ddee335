#include <algorithm>
#include <fstream>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sim/faults.h"
#include "support/failure.h"

namespace sim {
namespace {

TEST(Faults, ParsesEveryFaultName)
{
    Faults expected;
    expected.model = "QV2700";
    expected.module = Faults::kWrongModule;
    expected.noDmm = true;
    expected.dmmOff = true;
    expected.queuedErrors = {-113, -221, -350};
    expected.noAnswer = true;
    expected.absent = true;
    expected.errorOn = {{"TRIG:TIM", -222}, {"ROUT:SCAN:SIZE?", -221}};
    expected.scanNeverCompletes = true;
    expected.extraReadings = true;
    expected.missingField = true;
    expected.stopAnsweringAfter = 7;

    const Faults parsed = Faults::parse({"model=QV2700", "wrong-module", "no-dmm", " dmm-off ", "queued-errors=2",
                                         "queued-error=-350", "no-answer", "absent",
                                         "error-on=TRIG:TIM,error-on=ROUT:SCAN:SIZE?/-221", "scan-never-completes",
                                         "extra-readings", "missing-field", "stop-answering-after=7"});
    EXPECT_EQ(parsed, expected);
    EXPECT_EQ(Faults::parse({}), Faults{});
    EXPECT_EQ(Faults::parse({"wrong-model"}).model, Faults::kWrongModel);
}

TEST(Faults, QueuedErrorsCycleThroughDistinctNumbers)
{
    const Faults faults = Faults::parse({"queued-errors=7"});
    const std::vector<int> &cycle = Faults::queuedErrorCycle();
    ASSERT_EQ(faults.queuedErrors.size(), 7U);
    for (std::size_t i = 0; i < faults.queuedErrors.size(); ++i)
        EXPECT_EQ(faults.queuedErrors[i], cycle[i % cycle.size()]);
    EXPECT_NE(faults.queuedErrors[0], faults.queuedErrors[1]);
}

TEST(Faults, RefusesUnknownNamesAndBadValuesNamingThem)
{
    const std::pair<const char *, const char *> bad[] = {
        {"no-such-fault", "no-such-fault"},
        {"queued-errors=two", "queued-errors"},
        {"queued-errors=-1", "queued-errors"},
        {"queued-error=0", "queued-error"},
        {"stop-answering-after=", "stop-answering-after"},
        {"no-dmm=1", "no-dmm"},
        {"model", "model"},
        {"error-on=/-221", "error-on"},
        {"error-on=TRIG:TIM/x", "error-on"},
    };
    for (const auto &[item, named] : bad) {
        EXPECT_THAT([item = item] { Faults::parse({item}); }, support::FailsSaying<std::invalid_argument>({named}))
            << item;
    }
}

/// A value each kind that takes one accepts.
std::string sampleValue(std::string_view value)
{
    if (value == "NAME")
        return "QV2700";
    if (value == "HEADER[/CODE]")
        return "TRIG:TIM/-221";
    if (value == "CODE")
        return "-310";
    return "3";
}

TEST(Faults, EveryKindOfTheTableHasAnEffectOfItsOwn)
{
    std::set<std::string> names;
    for (const Faults::Kind &kind : Faults::kinds()) {
        SCOPED_TRACE(std::string(kind.name));
        EXPECT_TRUE(names.insert(std::string(kind.name)).second) << "named twice";
        const std::string item = kind.value.empty() ? std::string(kind.name)
                                                    : std::string(kind.name) + "=" + sampleValue(kind.value);
        EXPECT_NE(Faults::parse({item}), Faults{}) << item << " changes nothing";
        EXPECT_FALSE(kind.help.empty());
    }
    EXPECT_EQ(names.size(), 15U);
}

TEST(Faults, AServerOfTheInstrumentRefusesWhatOnlyTheBuiltInSimulatorDoes)
{
    for (const Faults::Kind &kind : Faults::kinds()) {
        if (kind.inInstrument)
            continue;
        SCOPED_TRACE(std::string(kind.name));
        EXPECT_THROW(Faults::parse({std::string(kind.name)}, true), std::invalid_argument);
        EXPECT_NO_THROW(Faults::parse({std::string(kind.name)}));
        EXPECT_EQ(Faults::help(true).find("  " + kind.usage() + " "), std::string::npos);
        EXPECT_NE(Faults::help().find("  " + kind.usage() + " "), std::string::npos);
    }
    EXPECT_THAT([] { Faults::parse({"no-dmm,absent"}, true); },
                support::FailsSaying<std::invalid_argument>({"\"absent\""}));
    EXPECT_EQ(Faults::parse({"no-dmm"}, true).noDmm, true);
}

TEST(Faults, TheReadmeListsExactlyTheFaultsOfTheTable)
{
    std::ifstream readme(QVSCAN_README);
    ASSERT_TRUE(readme) << "cannot read " << QVSCAN_README;
    // The rows after the head "| fault | ...": first column `usage`, second the help text.
    std::vector<std::string> listed;
    bool inTable = false;
    for (std::string line; std::getline(readme, line);) {
        if (line.starts_with("| fault |")) {
            inTable = true;
            continue;
        }
        if (!inTable || line.starts_with("| ---"))
            continue;
        if (!line.starts_with("| `"))
            break;
        const std::size_t end = line.find('`', 3);
        ASSERT_NE(end, std::string::npos) << line;
        listed.push_back(line.substr(3, end - 3));
    }
    std::vector<std::string> table;
    for (const Faults::Kind &kind : Faults::kinds())
        table.push_back(kind.usage());
    EXPECT_EQ(listed, table);
}

TEST(Faults, HelpListsEveryName)
{
    const std::string help = Faults::help();
    for (const char *name : {"wrong-model", "model=", "wrong-module", "module=", "no-dmm", "dmm-off", "queued-errors=",
                             "queued-error=", "no-answer", "absent", "error-on=", "scan-never-completes",
                             "extra-readings", "missing-field", "stop-answering-after="}) {
        EXPECT_NE(help.find(name), std::string::npos) << name;
    }
}

} // namespace
} // namespace sim
