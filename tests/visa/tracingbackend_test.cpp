#include <gtest/gtest.h>
#include <gmock/gmock.h>

#include <deque>
#include <sstream>

#include "support/scriptedsession.h"
#include "visa/tracingbackend.h"
#include "visa/visaerror.h"
#include "visa/visibletext.h"

namespace {

using namespace visa;
using ::testing::ContainsRegex;
using ::testing::HasSubstr;
using ::testing::MatchesRegex;

class FakeBackend : public Backend
{
public:
    FakeBackend()
    {
        state.failingWrite = "fail\n";
        state.timeOut = "time-out after 2000 ms";
    }

    support::Script state;
    std::unique_ptr<IMessage> open(const ResourceName &name, const SessionOptions &) override
    {
        if (name.primaryAddress != 9)
            throw VisaError("Open", name.canonical(), "no listener");
        return std::make_unique<support::ScriptedSession>(state);
    }
};

class TracingBackendTest : public ::testing::Test
{
protected:
    std::unique_ptr<IMessage> open(const char *resource = "GPIB0::9")
    {
        return tracing.open(ResourceName::parse(resource), {});
    }
    std::vector<std::string> lines() const
    {
        std::vector<std::string> result;
        std::istringstream in(out.str());
        for (std::string line; std::getline(in, line);)
            result.push_back(line);
        return result;
    }

    std::shared_ptr<FakeBackend> fake = std::make_shared<FakeBackend>();
    std::ostringstream out;
    TracingBackend tracing{fake, out};
};

TEST_F(TracingBackendTest, TracesEachWriteAndReadOnOneLineAndPassesThemOn)
{
    auto session = open();
    fake->state.replies.push_back("QVTEK,QV3310,1,2\r\n");
    session->Write("*IDN?\n", true);
    EXPECT_EQ(session->Read(), "QVTEK,QV3310,1,2\r\n");

    EXPECT_EQ(fake->state.written, (std::vector<std::pair<std::string, bool>>{{"*IDN?\n", true}}));
    const auto traced = lines();
    ASSERT_EQ(traced.size(), 2u);
    EXPECT_THAT(traced[0], MatchesRegex(R"( *[0-9]+\.[0-9][0-9][0-9] ms GPIB0::9::INSTR > \*IDN\?\\n)"));
    EXPECT_THAT(traced[1], MatchesRegex(R"( *[0-9]+\.[0-9][0-9][0-9] ms GPIB0::9::INSTR < QVTEK,QV3310,1,2\\r\\n)"));
}

TEST_F(TracingBackendTest, FailuresAreTracedAndPassedOnUnchanged)
{
    auto session = open();
    try {
        session->Read();
        FAIL() << "the read should have failed";
    } catch (const VisaError &e) {
        EXPECT_EQ(e.cause(), "time-out after 2000 ms");
    }
    EXPECT_THROW(session->Write("fail\n", true), VisaError);
    EXPECT_THROW(open("GPIB0::5"), VisaError);

    const auto traced = lines();
    ASSERT_EQ(traced.size(), 4u);
    EXPECT_THAT(traced[0], ContainsRegex(R"(GPIB0::9::INSTR ! Read on GPIB0::9::INSTR failed: time-out)"));
    EXPECT_THAT(traced[1], HasSubstr("GPIB0::9::INSTR > fail\\n"));
    EXPECT_THAT(traced[2], HasSubstr("GPIB0::9::INSTR ! Write on GPIB0::9::INSTR failed: bus error"));
    EXPECT_THAT(traced[3], HasSubstr("GPIB0::5::INSTR ! Open on GPIB0::5::INSTR failed: no listener"));
}

TEST_F(TracingBackendTest, ClearAndCloseReachTheSessionWithoutTraceLines)
{
    auto session = open();
    session->Clear();
    session->Close();
    EXPECT_EQ(fake->state.clears, 1);
    EXPECT_EQ(fake->state.closes, 1);
    EXPECT_EQ(session->ResourceName(), "GPIB0::9::INSTR");
    EXPECT_TRUE(out.str().empty());
}

TEST(VisibleText, ShowsControlCharactersAndKeepsTheRest)
{
    const std::pair<std::string, std::string> cases[] = {
        {"SYST:ERR?", "SYST:ERR?"},
        {"+0,\"No error\"\r\n", "+0,\"No error\"\\r\\n"},
        {std::string("\x01\t\x7F\xFF", 4), "\\x01\\t\\x7F\\xFF"},
        {std::string("a\0b", 3), "a\\x00b"},
        {"\x1B[2J", "\\x1B[2J"},
        {"C:\\dir", "C:\\x5Cdir"}, // a backslash of the text cannot pass for an escape
        {"", ""},
    };
    for (const auto &[text, shown] : cases)
        EXPECT_EQ(visibleText(text), shown) << "for " << shown;
}

TEST(VisibleText, CutsALongTextAndSaysHowLongItWas)
{
    struct Case
    {
        std::string text;
        size_t limit;
        std::string shown;
    };
    const Case cases[] = {
        {"12345", 5, "12345"},
        {"123456", 5, "12345...(6 bytes)"},
        {"\r\n\r\n", 2, "\\r\\n...(4 bytes)"}, // the limit counts bytes of the text, not of what shows them
        {"abc", 0, "...(3 bytes)"},
        {std::string(5000, '1'), kShowAll, std::string(5000, '1')},
    };
    for (const Case &c : cases)
        EXPECT_EQ(visibleText(c.text, c.limit), c.shown) << "for " << c.shown.substr(0, 40);
}

} // namespace
