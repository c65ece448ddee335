#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <sstream>

#include "support/fakelibrary.h"
#include "readloopcases.h"
#include "visa/systemvisa.h"
#include "visa/visaapi.h"
#include "visa/visaerror.h"
#include "support/serialoptions.h"
#include "support/failure.h"

namespace {

using namespace visa;
using namespace visa::c;
using ::testing::AllOf;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;

using support::kSerialOptions;

class SystemVisaTest : public ::testing::Test
{
protected:
    SystemVisaTest() { reset(); }

    std::unique_ptr<IMessage> open(const char *resource, const char *options = "")
    {
        return backend->open(ResourceName::parse(resource), SessionOptions::parse(options));
    }

    /// The calls of @p function the library saw, without the function name.
    std::vector<std::string> calls(const std::string &function) const
    {
        std::vector<std::string> result;
        std::istringstream in(log());
        for (std::string line; std::getline(in, line);)
            if (line.starts_with(function + ' '))
                result.push_back(line.substr(function.size() + 1));
        return result;
    }
    std::string log() const { return fake.get<const char *(*)()>("fakevisa_log")(); }
    void reply(const std::string &text) const
    {
        fake.get<void (*)(const char *, size_t)>("fakevisa_queueReply")(text.data(), text.size());
    }
    void failNext(const char *function, ViStatus status) const
    {
        fake.get<void (*)(const char *, ViStatus)>("fakevisa_failNext")(function, status);
    }
    int openSessions() const { return fake.get<int (*)()>("fakevisa_openSessions")(); }

    FakeLibrary fake{FAKEVISA_PATH};
    std::function<void()> reset = fake.get<void (*)()>("fakevisa_reset");
    std::shared_ptr<SystemVisaBackend> backend = SystemVisaBackend::load(FAKEVISA_PATH);
};

TEST_F(SystemVisaTest, OpenMapsTheOptionTextOntoAttributes)
{
    struct Case
    {
        const char *resource;
        const char *options;
        std::vector<std::string> attributes; // "session attribute value", in the order set
    };
    const Case cases[] = {
        {"ASRL1::INSTR",
         kSerialOptions,
         {"2 0x3FFF001A 10000", "2 0x3FFF0018 10", "2 0x3FFF0038 1", "2 0x3FFF0016 1", "2 0x3FFF0021 115200",
          "2 0x3FFF0022 8", "2 0x3FFF0023 0", "2 0x3FFF0024 10", "2 0x3FFF0025 1", "2 0x3FFF00B3 2", "2 0x3FFF00B4 0"}},
        {"ASRL3",
         "BaudRate = 9600 ; DataBits = 7 ; Parity = ASRL_PAR_EVEN ; StopBits = ASRL_STOP_TWO ; "
         "FlowControl = ASRL_FLOW_RTS_CTS ; EndIn = ASRL_END_NONE ; EndOut = ASRL_END_TERMCHAR ; "
         "TerminationCharacter = 13",
         {"2 0x3FFF001A 10000", "2 0x3FFF0018 13", "2 0x3FFF0038 0", "2 0x3FFF0016 1", "2 0x3FFF0021 9600",
          "2 0x3FFF0022 7", "2 0x3FFF0023 2", "2 0x3FFF0024 20", "2 0x3FFF0025 2", "2 0x3FFF00B3 0", "2 0x3FFF00B4 2"}},
        // A GPIB session gets no serial attributes, and the same 10 s time-out as every bus when
        // the text sets none, never the library's own default.
        {"GPIB0::9", "", {"2 0x3FFF001A 10000", "2 0x3FFF0018 10", "2 0x3FFF0038 0", "2 0x3FFF0016 1"}},
        {"GPIB0::9",
         "Timeout = 500 ; SendEndEnabled = FALSE",
         {"2 0x3FFF001A 500", "2 0x3FFF0018 10", "2 0x3FFF0038 0", "2 0x3FFF0016 0"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.resource + std::string(" with \"") + c.options + "\"");
        reset();
        backend = SystemVisaBackend::load(FAKEVISA_PATH);
        auto session = open(c.resource, c.options);
        EXPECT_EQ(calls("viOpen"), std::vector<std::string>{ResourceName::parse(c.resource).canonical()});
        EXPECT_THAT(calls("viSetAttribute"), ElementsAreArray(c.attributes));
    }
}

TEST_F(SystemVisaTest, WritesPassTheBytesAndReadsGrowUntilTheWholeReplyIsIn)
{
    auto session = open("GPIB0::9");
    session->Write("*IDN?\n", true);
    EXPECT_EQ(calls("viWrite"), std::vector<std::string>{"2 *IDN?\\n"});

    // Longer than the first read buffer: the library answers VI_SUCCESS_MAX_CNT until the end.
    std::string longReply;
    for (int i = 0; longReply.size() < 5000; ++i)
        longReply += std::to_string(i) + ',';
    longReply += "\n";
    reply(longReply);
    reply("+1\n");
    EXPECT_EQ(session->Read(), longReply);
    EXPECT_EQ(session->Read(), "+1\n");
    EXPECT_GE(calls("viRead").size(), 4u);
}

TEST_F(SystemVisaTest, AWriteWithoutEndSwitchesSendEndOffForThatWriteOnly)
{
    auto session = open("GPIB0::9");
    session->Write("A", false);
    session->Write("B\n", true);
    const std::string expected = "viSetAttribute 2 0x3FFF0016 0\nviWrite 2 A\n"
                                 "viSetAttribute 2 0x3FFF0016 1\nviWrite 2 B\\n\n";
    EXPECT_THAT(log(), HasSubstr(expected));
}

TEST_F(SystemVisaTest, FailuresCarryTheStatusDescriptionTheResourceAndTheOperation)
{
    auto session = open("GPIB0::9");
    try {
        session->Read(); // nothing queued: the library times out
        FAIL() << "the read should have failed";
    } catch (const VisaError &e) {
        EXPECT_EQ(e.operation(), "Read");
        EXPECT_EQ(e.resource(), "GPIB0::9::INSTR");
        EXPECT_THAT(e.cause(), AllOf(HasSubstr("viRead"), HasSubstr("0xBFFF0015"),
                                     HasSubstr("Timeout expired before operation completed.")));
    }

    failNext("viWrite", VI_ERROR_TMO);
    EXPECT_THROW(session->Write("*CLS\n", true), VisaError);
    failNext("viClear", VI_ERROR_TMO);
    EXPECT_THROW(session->Clear(), VisaError);

    failNext("viOpen", VI_ERROR_RSRC_NFOUND);
    try {
        open("GPIB0::7");
        FAIL() << "the open should have failed";
    } catch (const VisaError &e) {
        EXPECT_EQ(e.resource(), "GPIB0::7::INSTR");
        EXPECT_THAT(e.what(), AllOf(HasSubstr("Open"), HasSubstr("viOpen"), HasSubstr("resource not present")));
    }
}

TEST_F(SystemVisaTest, AnAttributeTheLibraryRefusesFailsTheOpenAndClosesTheSession)
{
    failNext("viSetAttribute", VI_ERROR_TMO);
    try {
        open("ASRL1", kSerialOptions);
        FAIL() << "the open should have failed";
    } catch (const VisaError &e) {
        EXPECT_THAT(e.what(), AllOf(HasSubstr("ASRL1::INSTR"), HasSubstr("VI_ATTR_TMO_VALUE")));
    }
    EXPECT_EQ(openSessions(), 1); // only the resource manager
}

TEST_F(SystemVisaTest, ClearAndCloseReachTheLibraryAndAClosedSessionRefusesIo)
{
    auto session = open("GPIB0::9");
    reply("stale\n");
    session->Clear();
    EXPECT_EQ(calls("viClear"), std::vector<std::string>{"2"});
    session->Close();
    session->Close();
    EXPECT_EQ(calls("viClose"), std::vector<std::string>{"2"});
    EXPECT_EQ(openSessions(), 1);
    EXPECT_THROW(session->Write("*IDN?\n", true), VisaError);
    EXPECT_THROW(session->Read(), VisaError);
}

TEST_F(SystemVisaTest, DestroyingAnOpenSessionClosesIt)
{
    open("GPIB0::9").reset();
    EXPECT_EQ(calls("viClose"), std::vector<std::string>{"2"});
}

TEST_F(SystemVisaTest, TheReadLoopJoinsPiecesAndSplitsReplies)
{
    const readloop::Send send = [this](const std::string &stream, std::size_t piece) {
        fake.get<void (*)(unsigned)>("fakevisa_setReadChunk")(unsigned(piece));
        reply(stream);
    };
    const readloop::Open openSession = [this] { return open("GPIB0::9", "TerminationCharacterEnabled = TRUE"); };
    readloop::expectRepliesAsSent(send, openSession);
    readloop::expectOverlongReplyRefused(send, openSession);
}

TEST_F(SystemVisaTest, EveryBusGetsTheSameTimeOutAndATimeOutSaysWhichApplied)
{
    const std::pair<const char *, const char *> cases[] = {
        {"GPIB0::9", ""}, {"ASRL1", ""}, {"GPIB0::9", "Timeout = 10000"}};
    for (const auto &[resource, options] : cases) {
        SCOPED_TRACE(resource + std::string(" ") + options);
        reset();
        backend = SystemVisaBackend::load(FAKEVISA_PATH);
        auto session = open(resource, options);
        EXPECT_THAT(calls("viSetAttribute"), ::testing::Contains("2 0x3FFF001A 10000"));
        const std::string from = *options ? "(Timeout = 10000 in the option text)"
                                          : "(the default; the option text sets no Timeout)";
        EXPECT_THAT([&] { session->Read(); },
                    ThrowsMessage<VisaError>(AllOf(HasSubstr("time-out after 10000 ms " + from),
                                                   HasSubstr("Timeout expired before operation completed."))));
    }
}

TEST(SystemVisaLoad, AnUnusableLibraryIsNamedWithTheReason)
{
    const std::pair<std::string, std::vector<std::string>> cases[] = {
        {"/nonexistent/libvisa.so", {"cannot load /nonexistent/libvisa.so", "No such file"}},
        {FAKEVISA_NOCLEAR_PATH, {FAKEVISA_NOCLEAR_PATH, "has no function viClear"}},
    };
    for (const auto &[path, parts] : cases) {
        EXPECT_THAT([path = path] { SystemVisaBackend::load(path); },
                    support::FailsSaying<std::runtime_error>({parts.begin(), parts.end()}))
            << path;
    }
}

TEST(SystemVisaLoad, TheSearchTakesTheFirstUsableLibraryAndSaysWhichItSkipped)
{
    std::vector<std::string> skipped;
    auto found = SystemVisaBackend::findInstalled({"/nonexistent/libvisa.so", FAKEVISA_NOCLEAR_PATH, FAKEVISA_PATH},
                                                  &skipped);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->libraryPath(), FAKEVISA_PATH);
    ASSERT_EQ(skipped.size(), 1u);
    EXPECT_THAT(skipped[0], HasSubstr("viClear"));

    EXPECT_EQ(SystemVisaBackend::findInstalled({"/nonexistent/libvisa.so", FAKEVISA_NOCLEAR_PATH}), nullptr);
}

} // namespace
