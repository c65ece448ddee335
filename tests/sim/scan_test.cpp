#include <chrono>
#include <cmath>
#include <algorithm>
#include <deque>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "instrumentfixture.h"

namespace sim::test {
namespace {

/// Each channel of the program's scan takes its 0.25 s delay plus 20 ms of integration (NPLC 1 at 50 Hz).
constexpr auto kChannelTime = 270ms;
constexpr auto kTimer = 10s;
constexpr auto kScanEnd = kTimer + 20 * kChannelTime; // 15.4 s

/// The program's scan, configured and started at t = 0.
class ProgramScan : public ::testing::Test
{
protected:
    explicit ProgramScan(Faults faults = {})
        : i(std::move(faults))
    {
        configureProgramScan(i);
    }

    void start()
    {
        i.send("INITiate");
        ASSERT_EQ(i.clock->now(), Clock::Duration::zero());
    }

    int points() { return std::stoi(i.query("DATA:POINTS?")); }

    Instrument i;
};

TEST_F(ProgramScan, PointsGrowAsChannelsFinish)
{
    start();
    const std::pair<Clock::Duration, int> timeline[] = {
        {0ms, 0},
        {kChannelTime - 1ms, 0},
        {kChannelTime, 1},
        {20 * kChannelTime - 1ms, 19},
        {20 * kChannelTime, 20}, // first pass done at 5.4 s
        {kTimer - 1ms, 20}, // waiting for the timer
        {kTimer + kChannelTime, 21},
        {kScanEnd - 1ms, 39},
        {kScanEnd, 40},
        {60s, 40},
    };
    for (const auto &[t, expected] : timeline) {
        i.at(t);
        EXPECT_EQ(points(), expected) << "at " << std::chrono::duration<double>(t).count() << " s";
    }
    EXPECT_EQ(i.errors(), std::vector<int>{});
}

TEST_F(ProgramScan, RemovedRecordsAreValueTimeChannelInScanOrder)
{
    start();
    i.at(kScanEnd);
    const std::regex nr3(R"([+-]\d\.\d{8}E[+-]\d{2})");
    const std::regex time(R"([+-]\d\.\d{9}E[+-]\d{2})");
    double previous = -1;
    for (int n = 0; n < 40; ++n) {
        const std::vector<std::string> record = fields(i.query("DATA:REMove? 1"));
        ASSERT_EQ(record.size(), 3U) << n;
        const int pass = n / 20;
        const int channel = 101 + n % 20;
        EXPECT_EQ(record[2], std::to_string(channel));
        ASSERT_TRUE(std::regex_match(record[0], nr3)) << record[0];
        ASSERT_TRUE(std::regex_match(record[1], time)) << record[1];

        const double expectedTime = pass * 10.0 + (n % 20 + 1) * 0.27;
        const double stamp = std::stod(record[1]);
        EXPECT_NEAR(stamp, expectedTime, 1e-6) << n;
        EXPECT_GT(stamp, previous);
        previous = stamp;

        const double value = std::stod(record[0]);
        if (channel <= 110) {
            EXPECT_GT(value, 20.0) << "thermocouple " << channel << " near room temperature";
            EXPECT_LT(value, 27.0) << "thermocouple " << channel << " near room temperature";
        } else {
            EXPECT_GT(std::abs(value), 0.1) << "voltage channel " << channel;
            EXPECT_LT(std::abs(value), 10.0) << "voltage channel " << channel << " within its range";
        }
    }
    EXPECT_EQ(points(), 0);
    i.send("DATA:REMove? 1");
    EXPECT_EQ(i.qv->takeReply(), std::nullopt);
    EXPECT_EQ(i.errors(), (std::vector<int>{-222, -420}));
}

TEST_F(ProgramScan, RemovingSeveralJoinsTheirRecords)
{
    start();
    i.at(kScanEnd);
    const std::vector<std::string> three = fields(i.query("DATA:REM? 3"));
    ASSERT_EQ(three.size(), 9U);
    EXPECT_EQ(three[2], "101");
    EXPECT_EQ(three[5], "102");
    EXPECT_EQ(three[8], "103");
    EXPECT_EQ(points(), 37);

    i.send("DATA:REM? 38");
    EXPECT_EQ(i.qv->takeReply(), std::nullopt);
    EXPECT_EQ(points(), 37); // a refused removal removes nothing
}

/// Channels 101, 102, ... with these delays; DC volts, or DC volts and thermocouples in turn.
std::vector<ScanRun::Step> stepsWithDelays(const std::vector<double> &delays, bool mixed)
{
    std::vector<ScanRun::Step> steps;
    for (std::size_t k = 0; k < delays.size(); ++k) {
        ChannelConfig config;
        config.delaySeconds = delays[k];
        if (mixed && k % 2 == 1)
            config.function = Function::Thermocouple;
        steps.push_back({101 + static_cast<int>(k), config});
    }
    return steps;
}

/// A scan of 400 passes, long enough for the memory to wrap many times over.
ScanRun::Options longScan(TriggerSource source, Clock::Duration timer, bool neverCompletes, bool extraReading)
{
    ScanRun::Options options;
    options.passes = 400;
    options.source = source;
    options.timer = timer;
    options.neverCompletes = neverCompletes;
    options.extraReading = extraReading;
    return options;
}

TEST(ScanRecords, FormatSettingsChooseTheFields)
{
    const std::string value = R"([+-]\d\.\d{8}E[+-]\d{2})";
    const std::pair<const char *, std::regex> cases[] = {
        {"FORM:READ:TIME OFF;CHAN ON", std::regex(value + ",101")},
        {"FORM:READ:TIME ON;CHAN OFF;TIME:TYPE REL", std::regex(value + R"(,\+2\.700000000E-01)")},
        {"FORM:READ:TIME OFF;CHAN OFF", std::regex(value)},
        {"FORM:READ:TIME ON;CHAN ON;TIME:TYPE ABS", std::regex(value + ",2026,12,10,02,13,45.270,101")},
    };
    for (const auto &[format, expected] : cases) {
        Instrument i;
        i.send("ROUT:SCAN (@101);CHAN:DEL 0.25,(@101)");
        i.send(format);
        i.send("SYST:DATE 2026,12,10;TIME 2,13,45");
        i.send("INIT");
        i.clock->sleepFor(1s);
        const std::string record = i.query("DATA:REM? 1");
        EXPECT_TRUE(std::regex_match(record, expected)) << format << " gave " << record;
    }
}

TEST_F(ProgramScan, TemperatureUnitsConvert)
{
    const std::pair<const char *, std::pair<double, double>> units[] = {
        {"C", {20.0, 27.0}}, {"F", {68.0, 80.6}}, {"K", {293.15, 300.15}}};
    for (const auto &[unit, bounds] : units) {
        i.send("ABOR");
        i.send(std::string("UNIT:TEMP ") + unit + ",(@101:110)");
        i.send("INIT");
        i.clock->sleepFor(1s);
        const double value = std::stod(fields(i.query("DATA:REM? 1"))[0]);
        EXPECT_GT(value, bounds.first) << unit;
        EXPECT_LT(value, bounds.second) << unit;
    }
    EXPECT_EQ(i.errors(), std::vector<int>{});
}

TEST_F(ProgramScan, ReadingsRepeatOnTheSameClockAndDrift)
{
    Instrument twin;
    configureProgramScan(twin);
    start();
    twin.send("INIT");
    i.at(kScanEnd);
    twin.at(kScanEnd);
    const std::string all = i.query("DATA:REM? 40");
    EXPECT_EQ(twin.query("DATA:REM? 40"), all);

    // The same channel reads differently on the second pass, and channels differ from each other.
    const std::vector<std::string> records = fields(all);
    EXPECT_NE(records[0], records[20 * 3]);
    EXPECT_NE(records[0], records[3]);
}

TEST_F(ProgramScan, OpcAnswersWhenTheScanIsDone)
{
    start();
    i.send("*OPC?");
    EXPECT_EQ(i.qv->nextReplyAt(), kScanEnd);
    i.at(kScanEnd - 1ms);
    EXPECT_EQ(i.qv->takeReply(), std::nullopt);
    i.at(kScanEnd);
    EXPECT_EQ(i.qv->takeReply(), "1");
    EXPECT_EQ(i.errors(), std::vector<int>{}); // waiting was no unterminated read
}

TEST(ScanCompletion, IsWhenTheLastReadingIsStoredFromAnyPointOfTheScan)
{
    struct Case
    {
        const char *name;
        std::vector<double> delays; ///< per channel, seconds (plus 20 ms of integration each)
        int passes;
        TriggerSource source;
        Clock::Duration timer;
    };
    const Case cases[] = {
        {"immediate", {0.1, 0.25, 0}, 7, TriggerSource::Immediate, 0s},
        {"timer longer than a pass", {0.1, 0.25, 0}, 7, TriggerSource::Timer, 2s},
        {"timer shorter than a pass", {0.5, 0.7}, 6, TriggerSource::Timer, 1s},
        {"timer as long as a pass", {0.48}, 5, TriggerSource::Timer, 500ms},
        {"timer zero", {0.01, 0.02}, 9, TriggerSource::Timer, 0s},
        {"one pass", {0.3}, 1, TriggerSource::Timer, 10s},
        {"the program's scan", std::vector<double>(20, 0.25), 2, TriggerSource::Timer, 10s},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<ScanRun::Step> steps = stepsWithDelays(c.delays, false);
        ScanRun::Options options;
        options.passes = c.passes;
        options.source = c.source;
        options.timer = c.timer;
        const ScanRun scan(steps, options, 3s);

        // The time of the last reading, found by letting the whole scan run.
        ScanRun walked = scan;
        std::deque<Reading> all;
        walked.advance(Clock::Duration::max() - 1ns, all);
        ASSERT_TRUE(walked.finished());
        ASSERT_EQ(all.size(), c.delays.size() * static_cast<std::size_t>(c.passes));
        const Clock::Duration last = all.back().time;

        // Asked at the start and after every reading, in a pass and between passes alike.
        for (std::size_t taken = 0; taken <= all.size(); ++taken) {
            ScanRun partly = scan;
            std::deque<Reading> stored;
            if (taken > 0)
                partly.advance(all[taken - 1].time, stored);
            ASSERT_EQ(stored.size(), taken);
            EXPECT_EQ(partly.completion(), std::optional(last)) << "after " << taken << " readings";
        }
    }
}

TEST(ScanMemory, ReadingsThatWouldBeOverwrittenAtOnceAreNotMadeAndNothingElseChanges)
{
    struct Case
    {
        const char *name;
        TriggerSource source;
        Clock::Duration timer;
        bool neverCompletes;
        bool extraReading;
    };
    const Case cases[] = {
        {"immediate", TriggerSource::Immediate, 0s, false, false},
        {"timer longer than a pass", TriggerSource::Timer, 100ms, false, false},
        {"timer shorter than a pass", TriggerSource::Timer, 30ms, false, false},
        {"never completes", TriggerSource::Immediate, 0s, true, false},
        {"extra reading", TriggerSource::Timer, 100ms, false, true},
    };
    constexpr std::size_t kKeep = 50;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<ScanRun::Step> steps;
        for (int k = 0; k < 3; ++k) {
            ChannelConfig config;
            config.delaySeconds = 0.01 * k;
            steps.push_back({101 + k, config});
        }
        const ScanRun::Options options = longScan(c.source, c.timer, c.neverCompletes, c.extraReading);
        ScanRun whole(steps, options, 1s);
        ScanRun kept = whole;
        std::deque<Reading> all;
        std::deque<Reading> last;
        // Looked at now and then, as polls do, until long after the end.
        for (const Clock::Duration at :
             std::initializer_list<Clock::Duration>{1s, 1500ms, 5s, 5001ms, 20s, 60s, 600s}) {
            whole.advance(at, all);
            kept.advance(at, last, kKeep);
            while (last.size() > kKeep)
                last.pop_front();
            const std::size_t compared = std::min(all.size(), kKeep);
            ASSERT_EQ(last.size(), compared) << "at " << at.count();
            for (std::size_t k = 0; k < compared; ++k) {
                const Reading &expected = all[all.size() - compared + k];
                EXPECT_EQ(last[k].time, expected.time);
                EXPECT_EQ(last[k].channel, expected.channel);
                EXPECT_EQ(last[k].value, expected.value);
            }
            EXPECT_EQ(kept.finished(), whole.finished());
            EXPECT_EQ(kept.completion(), whole.completion());
        }
        EXPECT_GT(all.size(), 1000U);
    }
}

TEST(ScanMemory, SpansOfTheTimelineHoldTheSameReadingsAsStoringEachOne)
{
    struct Case
    {
        const char *name;
        std::vector<double> delays;
        TriggerSource source;
        Clock::Duration timer;
        bool neverCompletes;
        bool extraReading;
        std::size_t keep;
    };
    const Case cases[] = {
        {"immediate", {0, 0.01, 0.02}, TriggerSource::Immediate, 0s, false, false, 1000000},
        {"one channel, kept short", {0}, TriggerSource::Immediate, 0s, false, false, 37},
        {"timer longer than a pass", {0, 0.01, 0.02}, TriggerSource::Timer, 100ms, false, false, 50},
        {"timer shorter than a pass", {0, 0.01, 0.02}, TriggerSource::Timer, 30ms, false, false, 1000000},
        {"timer as long as a pass", {0.08}, TriggerSource::Timer, 100ms, false, false, 1000000},
        {"timer zero", {0.01, 0.02}, TriggerSource::Timer, 0s, false, false, 64},
        {"never completes", {0, 0.01}, TriggerSource::Immediate, 0s, true, false, 1000000},
        {"extra reading", {0, 0.01, 0.02}, TriggerSource::Timer, 100ms, false, true, 50},
        {"extra reading, one channel", {0}, TriggerSource::Immediate, 0s, false, true, 1000000},
        {"bus", {0, 0.01}, TriggerSource::Bus, 0s, false, false, 1000000},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<ScanRun::Step> steps = stepsWithDelays(c.delays, true);
        const ScanRun::Options options = longScan(c.source, c.timer, c.neverCompletes, c.extraReading);
        ScanRun each(steps, options, 1s);
        ScanRun spans = each;
        std::deque<Reading> expected;
        ReadingMemory memory;
        memory.follow(spans);
        std::size_t compared = 0;
        // Polled now and then, inside passes and between them, with readings taken away between.
        const Clock::Duration polls[] = {1s, 1003ms, 1500ms, 2s, 5s, 5001ms, 9999ms, 20s, 60s, 600s};
        for (std::size_t poll = 0; poll < std::size(polls); ++poll) {
            const Clock::Duration at = polls[poll];
            each.advance(at, expected, c.keep);
            spans.advance(at, memory, c.keep);
            while (expected.size() > c.keep)
                expected.pop_front();
            memory.keepNewest(c.keep);
            ASSERT_EQ(memory.size(), expected.size()) << "at " << at.count();
            ReadingMemory drained = memory;
            for (const Reading &reading : expected) {
                const Reading got = drained.oldest();
                drained.dropOldest(1);
                ASSERT_EQ(got.time, reading.time) << "at " << at.count();
                ASSERT_EQ(got.channel, reading.channel);
                ASSERT_EQ(got.value, reading.value);
                ++compared;
            }
            EXPECT_EQ(drained.size(), 0U);
            EXPECT_EQ(spans.finished(), each.finished());
            EXPECT_EQ(spans.completion(), each.completion());
            const std::size_t removed = std::min<std::size_t>(expected.size(), 5 * poll);
            expected.erase(expected.begin(), expected.begin() + static_cast<std::ptrdiff_t>(removed));
            memory.dropOldest(removed);
            EXPECT_EQ(each.trigger(at), spans.trigger(at));
        }
        EXPECT_GT(compared, 10U);
    }
}

TEST(ScanCompletion, NeverForAScanBeyondTheClockOrWaitingForATrigger)
{
    ChannelConfig config;
    config.delaySeconds = 60;
    ScanRun::Options timed;
    timed.passes = 50000;
    timed.source = TriggerSource::Timer;
    timed.timer = std::chrono::seconds(359999) * 1000; // past the range of the clock in all
    EXPECT_EQ(ScanRun({{101, config}}, timed, 0s).completion(), std::nullopt);

    ScanRun::Options bus;
    bus.passes = 2;
    bus.source = TriggerSource::Bus;
    ScanRun waiting({{101, config}}, bus, 0s);
    EXPECT_EQ(waiting.completion(), std::nullopt);
    ASSERT_TRUE(waiting.trigger(1s));
    EXPECT_EQ(waiting.completion(), std::nullopt); // the second pass needs its own trigger
    bus.passes = 1;
    ScanRun once({{101, config}}, bus, 0s);
    ASSERT_TRUE(once.trigger(1s));
    EXPECT_EQ(once.completion(), std::optional(1s + config.measurementTime()));
}

TEST_F(ProgramScan, AbortStopsTheScanAndKeepsItsReadings)
{
    start();
    i.at(3s);
    i.send("ABORt");
    const int stored = points();
    EXPECT_EQ(stored, 11); // 3 s / 0.27 s
    i.at(60s);
    EXPECT_EQ(points(), stored);
    EXPECT_EQ(i.query("*OPC?"), "1");
}

TEST_F(ProgramScan, BusyScanRefusesInitAndSettings)
{
    start();
    i.at(1s);
    i.send("INIT");
    i.send("TRIG:COUN 3");
    i.send("ROUT:SCAN (@101)");
    EXPECT_EQ(i.errors(), (std::vector<int>{-213, -221, -221}));
    i.at(kScanEnd);
    i.send("TRIG:COUN 3");
    EXPECT_EQ(i.errors(), std::vector<int>{});
}

TEST_F(ProgramScan, TriggerSourcesPaceThePasses)
{
    struct Case
    {
        const char *setup;
        Clock::Duration lastReading;
    };
    const Case cases[] = {
        {"TRIG:SOUR IMM", 40 * kChannelTime}, // back to back
        {"TRIG:SOUR TIM;TIM 10", kScanEnd},
        {"TRIG:SOUR TIM;TIM 1", 40 * kChannelTime}, // a pass longer than the timer delays the next
        {"TRIG:SOUR TIM;TIM 7.5", 7500ms + 20 * kChannelTime},
    };
    for (const Case &c : cases) {
        i.send("ABOR");
        i.send(c.setup);
        const Clock::Duration t0 = i.clock->now();
        i.send("INIT");
        i.at(t0 + c.lastReading - 1ms);
        EXPECT_EQ(points(), 39) << c.setup;
        i.at(t0 + c.lastReading);
        EXPECT_EQ(points(), 40) << c.setup;
    }
}

TEST_F(ProgramScan, BusTriggerStartsOnePassEach)
{
    i.send("TRIG:SOUR BUS");
    start();
    i.at(5s);
    EXPECT_EQ(points(), 0);
    i.send("*TRG");
    i.at(6s);
    i.send("*TRG"); // mid-pass: ignored
    EXPECT_EQ(i.errors(), std::vector<int>{-211});
    i.at(5s + 20 * kChannelTime);
    EXPECT_EQ(points(), 20);
    i.at(20s);
    EXPECT_EQ(points(), 20);
    i.send("*TRG");
    i.at(20s + 20 * kChannelTime);
    EXPECT_EQ(points(), 40);
}

TEST_F(ProgramScan, FixedRangeOverloads)
{
    i.send("CONF:VOLT:DC 0.1,(@115)");
    i.send("ROUT:SCAN (@115)");
    i.send("TRIG:COUN 1");
    start();
    i.at(1s);
    // The simulated sources stand at volts, far beyond 120 % of 0.1 V.
    EXPECT_EQ(fields(i.query("DATA:REM? 1"))[0], "+9.90000000E+37");
}

class FaultyScan : public ProgramScan
{
protected:
    explicit FaultyScan(const char *fault)
        : ProgramScan(Faults::parse({fault}))
    {
    }
};

class NeverCompletes : public FaultyScan
{
protected:
    NeverCompletes()
        : FaultyScan("scan-never-completes")
    {
    }
};

TEST_F(NeverCompletes, LastReadingNeverComesNorOpc)
{
    start();
    i.at(1000s);
    EXPECT_EQ(points(), 39);
    i.send("*OPC?");
    EXPECT_EQ(i.qv->nextReplyAt(), std::nullopt);
    EXPECT_EQ(i.qv->takeReply(), std::nullopt);
    i.send("ABOR");
    EXPECT_EQ(i.errors(), std::vector<int>{-410});
    EXPECT_EQ(i.query("*OPC?"), "1");
}

class ExtraReadings : public FaultyScan
{
protected:
    ExtraReadings()
        : FaultyScan("extra-readings")
    {
    }
};

TEST_F(ExtraReadings, CountJumpsPastTheExpectedNumber)
{
    start();
    i.at(kScanEnd - 1ms);
    EXPECT_EQ(points(), 39);
    i.at(kScanEnd);
    EXPECT_EQ(points(), 41);
}

class MissingField : public FaultyScan
{
protected:
    MissingField()
        : FaultyScan("missing-field")
    {
    }
};

TEST_F(MissingField, RecordsLackTheirChannel)
{
    start();
    i.at(kScanEnd);
    const std::vector<std::string> record = fields(i.query("DATA:REM? 1"));
    ASSERT_EQ(record.size(), 2U);
    EXPECT_NEAR(std::stod(record[1]), 0.27, 1e-9);
}

} // namespace
} // namespace sim::test
