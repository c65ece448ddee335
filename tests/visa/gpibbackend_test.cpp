#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <sstream>

#include "support/fakelibrary.h"
#include "readloopcases.h"
#include "visa/gpibapi.h"
#include "visa/gpibbackend.h"
#include "visa/visaerror.h"
#include "support/failure.h"

namespace {

using namespace visa;
using ::testing::AllOf;
using ::testing::HasSubstr;

class GpibBackendTest : public ::testing::Test
{
protected:
    GpibBackendTest() { fake.get<void (*)()>("fakegpib_reset")(); }

    std::unique_ptr<IMessage> open(const char *resource, const char *options = "")
    {
        return backend.open(ResourceName::parse(resource), SessionOptions::parse(options));
    }
    std::vector<std::string> calls(const std::string &function) const
    {
        std::vector<std::string> result;
        std::istringstream in(fake.get<const char *(*)()>("fakegpib_log")());
        for (std::string line; std::getline(in, line);)
            if (line.starts_with(function + ' '))
                result.push_back(line.substr(function.size() + 1));
        return result;
    }
    void reply(const std::string &text) const
    {
        fake.get<void (*)(const char *, long)>("fakegpib_queueReply")(text.data(), long(text.size()));
    }
    void failNext(const char *function, int iberr) const
    {
        fake.get<void (*)(const char *, int)>("fakegpib_failNext")(function, iberr);
    }

    FakeLibrary fake{FAKEGPIB_PATH};
    GpibBackend backend{FAKEGPIB_PATH};
};

TEST_F(GpibBackendTest, OpenAddressesTheDeviceWithEndOnAndTheTimeOutRoundedUp)
{
    struct Case
    {
        const char *resource;
        const char *options;
        const char *ibdev; // board pad sad timo send_eoi eos
    };
    const Case cases[] = {
        {"GPIB0::9", "", "0 9 0 13 1 0"}, // no time-out given: 10 s is T10s
        {"GPIB1::5::3::INSTR", "Timeout = 2000", "1 5 99 12 1 0"}, // 2 s rounds up to T3s
        {"GPIB0::30::INSTR", "SendEndEnabled = FALSE ; TerminationCharacterEnabled = TRUE", "0 30 0 13 0 1034"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.resource);
        fake.get<void (*)()>("fakegpib_reset")();
        open(c.resource, c.options);
        EXPECT_EQ(calls("ibdev"), std::vector<std::string>{c.ibdev});
    }
}

TEST(GpibTimeoutCode, RoundsUpToTheNextStep)
{
    const std::pair<int, int> cases[] = {
        {0, 1},     {1, 5},     {2, 6},      {3, 6},      {4, 7},        {300, 10},
        {1000, 11}, {1001, 12}, {10000, 13}, {10001, 14}, {1000000, 17}, {5000000, 17},
    };
    for (const auto &[ms, code] : cases)
        EXPECT_EQ(GpibBackend::timeoutCode(ms), code) << ms << " ms";
}

TEST_F(GpibBackendTest, WritesCarryEndUnlessAskedNotTo)
{
    auto session = open("GPIB0::9");
    session->Write("*IDN?\n", true);
    session->Write("ABC", false);
    session->Write("DEF\n", true);
    EXPECT_EQ(calls("ibwrt"), (std::vector<std::string>{"1 *IDN?\\n", "1 ABC", "1 DEF\\n"}));
    EXPECT_EQ(calls("ibeot"), (std::vector<std::string>{"1 0", "1 1"}));
}

TEST_F(GpibBackendTest, ReadsGatherPiecesUntilEnd)
{
    auto session = open("GPIB0::9");
    fake.get<void (*)(long)>("fakegpib_setReadChunk")(7); // the board hands over seven bytes at a time
    reply("QVTEK,QV3310,QV26001729,2.04-1.01-1.00\n");
    reply("+1\n");
    EXPECT_EQ(session->Read(), "QVTEK,QV3310,QV26001729,2.04-1.01-1.00\n");
    EXPECT_EQ(session->Read(), "+1\n");

    fake.get<void (*)(long)>("fakegpib_setReadChunk")(0);
    const std::string longReply = std::string(5000, '1') + "\n";
    reply(longReply);
    EXPECT_EQ(session->Read(), longReply);
}

TEST_F(GpibBackendTest, FailuresNameTheResourceTheOperationAndTheCause)
{
    struct Case
    {
        const char *function;
        int iberr;
        std::function<void(IMessage &)> call;
        std::vector<std::string> parts;
    };
    const Case cases[] = {
        {"ibrd", gpib::EABO, [](IMessage &s) { s.Read(); }, {"Read on GPIB0::9::INSTR", "time-out after 10000 ms"}},
        {"ibwrt",
         gpib::ENOL,
         [](IMessage &s) { s.Write("*IDN?\n", true); },
         {"Write on GPIB0::9::INSTR", "ibwrt", "ENOL", "no listener"}},
        {"ibwrt",
         gpib::EABO,
         [](IMessage &s) { s.Write("*IDN?\n", true); },
         {"Write on GPIB0::9::INSTR", "time-out after 10000 ms"}},
        {"ibclr", gpib::EBUS, [](IMessage &s) { s.Clear(); }, {"Clear on GPIB0::9::INSTR", "ibclr", "EBUS"}},
    };
    auto session = open("GPIB0::9");
    for (const Case &c : cases) {
        SCOPED_TRACE(c.function);
        failNext(c.function, c.iberr);
        EXPECT_THAT([&] { c.call(*session); }, support::FailsSaying<VisaError>({c.parts.begin(), c.parts.end()}));
    }
}

TEST_F(GpibBackendTest, AReadWithNothingToReadTimesOut)
{
    auto session = open("GPIB0::9", "Timeout = 300");
    EXPECT_THAT([&] { session->Read(); }, ::testing::ThrowsMessage<VisaError>(
                                              AllOf(HasSubstr("GPIB0::9::INSTR"), HasSubstr("time-out after 300 ms"))));
}

TEST_F(GpibBackendTest, ARefusedOpenNamesTheBoardError)
{
    failNext("ibdev", gpib::ENEB);
    EXPECT_THAT([&] { open("GPIB3::9"); },
                ::testing::ThrowsMessage<VisaError>(AllOf(HasSubstr("Open on GPIB3::9::INSTR"), HasSubstr("ENEB"))));
}

TEST_F(GpibBackendTest, ClearAndCloseUseTheDescriptorAndCloseTakesItOffline)
{
    auto session = open("GPIB0::9");
    session->Clear();
    session->Close();
    session->Close();
    EXPECT_EQ(calls("ibclr"), std::vector<std::string>{"1"});
    EXPECT_EQ(calls("ibonl"), std::vector<std::string>{"1 0"});
    EXPECT_THROW(session->Read(), VisaError);
}

TEST_F(GpibBackendTest, TheReadLoopJoinsPiecesAndSplitsReplies)
{
    const readloop::Send send = [this](const std::string &stream, std::size_t piece) {
        fake.get<void (*)(long)>("fakegpib_setReadChunk")(long(piece));
        reply(stream);
    };
    const readloop::Open openSession = [this] { return open("GPIB0::9", "TerminationCharacterEnabled = TRUE"); };
    readloop::expectRepliesAsSent(send, openSession);
    readloop::expectOverlongReplyRefused(send, openSession);
}

TEST_F(GpibBackendTest, WithoutATimeoutInTheOptionTextTheDefaultTenSecondsApplyAndAreNamed)
{
    auto session = open("GPIB0::9");
    EXPECT_EQ(calls("ibdev"), std::vector<std::string>{"0 9 0 13 1 0"}); // T10s
    EXPECT_THAT([&] { session->Read(); },
                ::testing::ThrowsMessage<VisaError>(
                    HasSubstr("time-out after 10000 ms (the default; the option text sets no Timeout)")));
}

TEST_F(GpibBackendTest, BoardsThatAnswerAreFoundWithTheirListeners)
{
    fake.get<void (*)(int)>("fakegpib_setBoards")(2);
    fake.get<void (*)(int)>("fakegpib_addListener")(9);
    fake.get<void (*)(int)>("fakegpib_addListener")(22);
    const auto boards = backend.findBoards(4);
    ASSERT_EQ(boards.size(), 2u);
    EXPECT_EQ(boards[0].index, 0u);
    EXPECT_EQ(boards[1].index, 1u);
    EXPECT_EQ(boards[0].listeners, (std::vector<unsigned>{9, 22}));
    EXPECT_EQ(calls("ibln").size(), 60u); // addresses 1 to 30 on each board
    EXPECT_EQ(calls("ibonl").size(), 2u); // each descriptor released again
}

TEST(GpibBackendLibrary, WithoutLinuxGpibTheOpenSaysWhatIsNeeded)
{
    GpibBackend backend("/nonexistent/libgpib.so.0");
    EXPECT_THAT(
        [&] { backend.open(ResourceName::parse("GPIB0::9"), {}); },
        ::testing::ThrowsMessage<VisaError>(AllOf(HasSubstr("Open on GPIB0::9::INSTR"),
                                                  HasSubstr("GPIB needs linux-gpib (libgpib.so.0) or a VISA library"),
                                                  HasSubstr("/nonexistent/libgpib.so.0"))));
}

} // namespace
