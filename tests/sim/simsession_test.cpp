#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "instrumentfixture.h"
#include "sim/simsession.h"
#include "sim/simulatedbackend.h"
#include "visa/formattedio.h"
#include "visa/resourcemanager.h"
#include "visa/visaerror.h"
#include "support/serialoptions.h"

namespace sim::test {
namespace {

/// The option text the program opens a serial session with.
using support::kSerialOptions;

/// A session to the simulated instrument on a virtual clock.
class Bench
{
public:
    explicit Bench(Faults faults = {})
        : instrument(std::move(faults))
        , backend(instrument.qv)
    {
    }

    std::unique_ptr<visa::IMessage> open(const char *resource, visa::SessionOptions options = {})
    {
        return backend.open(visa::ResourceName::parse(resource), options);
    }

    Clock::Duration now() const { return instrument.clock->now(); }

    Instrument instrument;
    SimulatedBackend backend;
};

struct Line
{
    const char *resource;
    const char *terminator;
};

void PrintTo(const Line &line, std::ostream *out)
{
    *out << line.resource;
}

class Terminators : public ::testing::TestWithParam<Line>
{
protected:
    Bench bench;
    std::unique_ptr<visa::IMessage> session = bench.open(GetParam().resource);
    const std::vector<std::string> &received() const { return bench.instrument.received(); }
};

TEST_P(Terminators, RepliesEndWithTheLinesTerminator)
{
    session->Write("SYST:CTYP? 200\n", true);
    EXPECT_EQ(session->Read(), std::string("0,0,0,0") + GetParam().terminator);
    session->Write("SYST:ERR?\r\n", true);
    EXPECT_EQ(session->Read(), std::string("+0,\"No error\"") + GetParam().terminator);
    EXPECT_EQ(received(), (std::vector<std::string>{"SYST:CTYP? 200", "SYST:ERR?"}));
}

TEST_P(Terminators, LfEndsAMessageWhereverItFalls)
{
    session->Write("TRIG:", false);
    session->Write("COUN 2\n", true);
    session->Write("*CLS\nTRIG:SOUR TIM\n", true);
    EXPECT_EQ(received(), (std::vector<std::string>{"TRIG:COUN 2", "*CLS", "TRIG:SOUR TIM"}));
}

INSTANTIATE_TEST_SUITE_P(Lines, Terminators,
                         ::testing::Values(Line{"GPIB0::9::INSTR", "\n"}, Line{"ASRL1::INSTR", "\r\n"}));

TEST(SimSession, EndCompletesAMessageOnGpibOnly)
{
    Bench bench;
    const auto gpib = bench.open("GPIB0::9");
    gpib->Write("*RST", true);
    EXPECT_EQ(bench.instrument.received(), std::vector<std::string>{"*RST"});

    const auto serial = bench.open("ASRL1::INSTR");
    serial->Write("*CLS", true);
    EXPECT_EQ(bench.instrument.received().size(), 1U); // a serial line has no END
    serial->Write("\n", true);
    EXPECT_EQ(bench.instrument.received().back(), "*CLS");
}

struct TimeoutCase
{
    std::optional<int> timeoutMs;
    int expectedMs;
};

void PrintTo(const TimeoutCase &c, std::ostream *out)
{
    *out << c.expectedMs << " ms";
}

class Timeouts : public ::testing::TestWithParam<TimeoutCase>
{
};

TEST_P(Timeouts, ReadWithoutReplyWaitsTheSessionsTimeoutThenFails)
{
    Bench bench;
    visa::SessionOptions options;
    options.timeoutMs = GetParam().timeoutMs;
    const auto session = bench.open("GPIB0::9::INSTR", options);
    const Clock::Duration before = bench.now();
    try {
        session->Read();
        FAIL() << "read without a query returned";
    } catch (const visa::VisaError &e) {
        EXPECT_EQ(e.operation(), "Read");
        EXPECT_EQ(e.resource(), "GPIB0::9::INSTR");
        EXPECT_NE(e.cause().find("time-out after " + std::to_string(GetParam().expectedMs) + " ms"), std::string::npos)
            << e.cause();
    }
    const Clock::Duration waited = bench.now() - before;
    EXPECT_GE(waited, std::chrono::milliseconds(GetParam().expectedMs));
    EXPECT_LT(waited, std::chrono::milliseconds(GetParam().expectedMs + 10));
    EXPECT_EQ(bench.instrument.errors(), std::vector<int>{-420});
}

INSTANTIATE_TEST_SUITE_P(SessionTimeouts, Timeouts,
                         ::testing::Values(TimeoutCase{std::nullopt, visa::SessionOptions::kDefaultTimeoutMs},
                                           TimeoutCase{10000, 10000}));

TEST(SimSession, ReadWaitsForOpcWithinTheTimeout)
{
    const std::pair<int, bool> cases[] = {{20000, true}, {2000, false}};
    for (const auto &[timeoutMs, answers] : cases) {
        Bench bench;
        configureProgramScan(bench.instrument);
        visa::SessionOptions options;
        options.timeoutMs = timeoutMs;
        const auto session = bench.open("GPIB0::9::INSTR", options);
        session->Write("INIT;*OPC?\n", true);
        if (answers) {
            EXPECT_EQ(session->Read(), "1\n");
            EXPECT_GE(bench.now(), 15400ms); // the end of the scan
            EXPECT_LT(bench.now(), 15500ms);
        } else {
            EXPECT_THROW(session->Read(), visa::VisaError);
        }
    }
}

TEST(SimSession, EachTransactionSpendsBusTime)
{
    const std::string
        command = "FORMat:READing:TIME:TYPE RELative;:FORMat:READing:TIME ON;:FORMat:READing:CHANnel ON\n";
    ASSERT_EQ(command.size(), 85U);
    struct Case
    {
        const char *resource;
        int baud;
        Clock::Duration expected;
    };
    const Case cases[] = {
        {"GPIB0::9::INSTR", 9600, 1ms},
        {"ASRL1::INSTR", 8500, 1ms + 100ms}, // 85 characters of 10 bits at 8500 baud
        {"ASRL1::INSTR", 85000, 1ms + 10ms},
    };
    for (const Case &c : cases) {
        Bench bench;
        visa::SessionOptions options;
        options.baudRate = c.baud;
        const auto session = bench.open(c.resource, options);
        session->Write(command, true);
        EXPECT_EQ(bench.now(), c.expected) << c.resource << " at " << c.baud;
    }
}

TEST(SimSession, ClearDropsPendingInputAndOutput)
{
    Bench bench;
    const auto session = bench.open("GPIB0::9::INSTR");
    session->Write("TRIG:COUN 5", false);
    session->Clear();
    session->Write("*IDN?\n", true);
    session->Clear();
    EXPECT_THROW(session->Read(), visa::VisaError);
    session->Write("TRIG:COUN?\n", true);
    EXPECT_EQ(session->Read(), "+1.00000000E+00\n");
    EXPECT_EQ(bench.instrument.received(),
              (std::vector<std::string>{"(device clear)", "*IDN?", "(device clear)", "TRIG:COUN?"}));
}

TEST(SimSession, ClosedSessionRefusesEverythingButClose)
{
    Bench bench;
    const auto session = bench.open("ASRL1::INSTR");
    session->Close();
    session->Close();
    const std::pair<const char *, std::function<void()>> operations[] = {
        {"Write", [&] { session->Write("*IDN?\n", true); }},
        {"Read", [&] { session->Read(); }},
        {"Clear", [&] { session->Clear(); }},
    };
    for (const auto &[name, operation] : operations) {
        EXPECT_THAT(operation, ::testing::Throws<visa::VisaError>(::testing::AllOf(
                                   ::testing::Property(&visa::VisaError::operation, std::string(name)),
                                   ::testing::Property(&visa::VisaError::resource, "ASRL1::INSTR"),
                                   ::testing::Property(&visa::VisaError::cause, ::testing::HasSubstr("closed")))))
            << name;
    }
    EXPECT_TRUE(bench.instrument.received().empty());
}

TEST(SimSession, InstrumentCountsOpenSessions)
{
    Bench bench;
    const Qv3310 &qv = *bench.instrument.qv;
    auto first = bench.open("GPIB0::9::INSTR");
    auto second = bench.open("ASRL1::INSTR");
    EXPECT_EQ(qv.openSessions(), 2);
    first->Close();
    first->Close();
    EXPECT_EQ(qv.openSessions(), 1);
    first.reset();
    EXPECT_EQ(qv.openSessions(), 1);
    second.reset(); // destroying an open session closes it
    EXPECT_EQ(qv.openSessions(), 0);
}

TEST(SimulatedBackend, AnswersOnlyAtItsTwoAddresses)
{
    const std::pair<const char *, bool> addresses[] = {
        {"GPIB0::9::INSTR", true},   {"gpib0::9", true},         {"ASRL1::INSTR", true},
        {"GPIB0::10::INSTR", false}, {"GPIB1::9::INSTR", false}, {"GPIB0::9::1::INSTR", false},
        {"ASRL2::INSTR", false},
    };
    for (const auto &[address, answers] : addresses) {
        Bench bench;
        const visa::ResourceName name = visa::ResourceName::parse(address);
        if (answers) {
            EXPECT_EQ(bench.backend.open(name, {})->ResourceName(), name.canonical()) << address;
            continue;
        }
        EXPECT_THAT(([&, name = name] { bench.backend.open(name, {}); }),
                    ::testing::Throws<visa::VisaError>(::testing::AllOf(
                        ::testing::Property(&visa::VisaError::operation, "Open"),
                        ::testing::Property(&visa::VisaError::resource, name.canonical()),
                        ::testing::Property(&visa::VisaError::cause, ::testing::HasSubstr("no instrument answers")))))
            << address;
        EXPECT_EQ(bench.instrument.qv->openSessions(), 0);
    }
}

TEST(SimulatedBackend, AbsentInstrumentAnswersNowhere)
{
    Bench bench(Faults::parse({"absent"}));
    EXPECT_THROW(bench.open("GPIB0::9::INSTR"), visa::VisaError);
    EXPECT_THROW(bench.open("ASRL1::INSTR"), visa::VisaError);
}

TEST(SimulatedBackend, StopAnsweringMakesReadsTimeOut)
{
    Bench bench(Faults::parse({"stop-answering-after=1"}));
    const auto session = bench.open("GPIB0::9::INSTR");
    session->Write("*IDN?\n", true);
    EXPECT_NE(session->Read().find("QV3310"), std::string::npos);
    session->Write("*IDN?\n", true);
    EXPECT_THROW(session->Read(), visa::VisaError);
}

// What only the session carries: over a serial line, through the I/O library, replies end with
// CR LF, a run's polls spend bus time so the scan completes on the virtual clock rather than the
// loop spinning, and closing ends the session. The program's own dialogue is checked by the
// window's full run over serial.
TEST(SimulatedBackend, SerialRunCompletesOnTheVirtualClock)
{
    Bench bench;
    visa::ResourceManager rm(std::make_shared<SimulatedBackend>(bench.instrument.qv));
    visa::FormattedIO488 instr;
    instr.IO = rm.Open("ASRL1::INSTR", -1, -1, kSerialOptions);

    instr.WriteString("*IDN?");
    EXPECT_TRUE(instr.ReadString().ends_with("\r\n"));
    instr.WriteString("ROUTe:SCAN (@101:120);:TRIGger:COUNt 2;SOURce TIMer;TIMer 10;:INITiate");
    int polls = 0;
    for (;; ++polls) {
        ASSERT_LT(polls, 100000) << "the scan never filled up";
        instr.WriteString("DATA:POINTS?");
        if (instr.ReadNumber(visa::ASCIIType_I4) == 40)
            break;
    }
    // The second pass starts 10 s after the first; each of its 20 readings takes 20 ms.
    EXPECT_GE(bench.now(), 10400ms);
    EXPECT_LT(bench.now(), 10500ms);
    EXPECT_GT(polls, 100);

    instr.WriteString("SYSTem:ERRor?");
    EXPECT_EQ(instr.ReadString(), "+0,\"No error\"\r\n");
    instr.IO->Close();
    EXPECT_EQ(bench.instrument.qv->openSessions(), 0);
}

} // namespace
} // namespace sim::test
