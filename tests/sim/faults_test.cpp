#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sim/faults.h"

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

    const Faults parsed = Faults::parse({"model=QV2700", "wrong-module", "no-dmm", " dmm-off ",
                                         "queued-errors=2", "queued-error=-350", "no-answer", "absent",
                                         "error-on=TRIG:TIM,error-on=ROUT:SCAN:SIZE?/-221",
                                         "scan-never-completes", "extra-readings", "missing-field",
                                         "stop-answering-after=7"});
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
        try {
            Faults::parse({item});
            ADD_FAILURE() << item << " was accepted";
        } catch (const std::invalid_argument &e) {
            EXPECT_NE(std::string(e.what()).find(named), std::string::npos) << e.what();
        }
    }
}

TEST(Faults, HelpListsEveryName)
{
    const std::string help = Faults::help();
    for (const char *name : {"wrong-model", "model=", "wrong-module", "module=", "no-dmm", "dmm-off",
                             "queued-errors=", "queued-error=", "no-answer", "absent", "error-on=",
                             "scan-never-completes", "extra-readings", "missing-field", "stop-answering-after="}) {
        EXPECT_NE(help.find(name), std::string::npos) << name;
    }
}

} // namespace
} // namespace sim
