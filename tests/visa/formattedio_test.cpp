#include <gtest/gtest.h>

#include <deque>
#include <limits>

#include "support/scriptedsession.h"
#include "visa/formattedio.h"
#include "visa/visaerror.h"
#include "support/failure.h"

namespace {

using namespace visa;

class FormattedIOTest : public ::testing::Test
{
protected:
    FormattedIOTest() { io.IO = std::make_unique<support::ScriptedSession>(script); }
    void reply(std::string text) { script.replies.push_back(std::move(text)); }

    support::Script script;
    FormattedIO488 io;
};

TEST_F(FormattedIOTest, WriteStringEndsTheCommandWithLineFeedAndEnd)
{
    io.WriteString("*IDN?");
    io.WriteString("*CLS\n", false);
    ASSERT_EQ(script.written.size(), 2u);
    EXPECT_EQ(script.written[0], std::make_pair(std::string("*IDN?\n"), true));
    EXPECT_EQ(script.written[1], std::make_pair(std::string("*CLS\n"), false));
}

TEST_F(FormattedIOTest, ReadStringKeepsTheTerminator)
{
    reply("QVTEK,QV3310,1,1\r\n");
    EXPECT_EQ(io.ReadString(), "QVTEK,QV3310,1,1\r\n");
}

TEST_F(FormattedIOTest, ReadNumberConvertsToTheRequestedType)
{
    struct Case
    {
        const char *reply;
        ASCIIType type;
        double value;
    };
    const Case cases[] = {
        {"+2.00000000E+01\n", ASCIIType_I2, 20},
        {"1\n", ASCIIType_I2, 1},
        {"+2.50000000E-01\n", ASCIIType_I2, 0},
        {"2.5\n", ASCIIType_I2, 2},
        {"3.5\n", ASCIIType_I2, 4},
        {"-32768\n", ASCIIType_I2, -32768},
        {"+40\n", ASCIIType_I4, 40},
        {"2147483647\n", ASCIIType_I4, 2147483647.0},
        {"+2.50000000E-01\n", ASCIIType_R8, 0.25},
        {"1e300\n", ASCIIType_R8, 1e300},
        {"  7,extra fields\n", ASCIIType_I4, 7},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.reply);
        reply(c.reply);
        EXPECT_EQ(io.ReadNumber(c.type), c.value);
    }
}

TEST_F(FormattedIOTest, ReadNumberRefusesNoNumberAndValuesOutsideTheType)
{
    const std::pair<const char *, ASCIIType> cases[] = {
        {"32768\n", ASCIIType_I2},  {"-32768.6\n", ASCIIType_I2}, {"2147483648\n", ASCIIType_I4},
        {"9.9E37\n", ASCIIType_I4}, {"1e999\n", ASCIIType_R8},    {"\n", ASCIIType_I2},
        {"OFF\n", ASCIIType_I2},    {"\x01\xff\n", ASCIIType_R8},
    };
    for (const auto &[text, type] : cases) {
        SCOPED_TRACE(text);
        io.WriteString("TRIG:COUN?");
        reply(text);
        EXPECT_THAT(
            ([&, type = type] { io.ReadNumber(type); }),
            support::FailsSaying<VisaError>({"ReadNumber (reply to \"TRIG:COUN?\") on GPIB0::9::INSTR failed"}));
    }
}

TEST_F(FormattedIOTest, ReadListSplitsAtTheSeparatorAndDropsOnlyTheLineFeed)
{
    const std::pair<const char *, std::vector<std::string>> cases[] = {
        {"+2.3E+01,+0.000,101\n", {"+2.3E+01", "+0.000", "101"}},
        {"+2.3E+01,+0.000,101\r\n", {"+2.3E+01", "+0.000", "101\r"}},
        {"single\n", {"single"}},
        {"\n", {""}},
        {"a,,b\n", {"a", "", "b"}},
    };
    for (const auto &[text, fields] : cases) {
        SCOPED_TRACE(text);
        reply(text);
        EXPECT_EQ(io.ReadList(ASCIIType_BSTR, ","), fields);
    }
}

TEST_F(FormattedIOTest, ATimeOutNamesTheCommandTheReplyWasFor)
{
    io.WriteString("*IDN?");
    try {
        io.ReadString();
        FAIL() << "no time-out";
    } catch (const VisaError &e) {
        EXPECT_STREQ(e.what(), "ReadString (reply to \"*IDN?\") on GPIB0::9::INSTR failed: "
                               "time-out after 2000 ms: the instrument sent no reply");
    }
}

TEST(FormattedIO, WithoutASessionEveryOperationFails)
{
    FormattedIO488 io;
    EXPECT_THROW(io.WriteString("*IDN?"), VisaError);
    EXPECT_THROW(io.ReadString(), VisaError);
    EXPECT_THROW(io.ReadNumber(ASCIIType_I2), VisaError);
    EXPECT_THROW(io.ReadList(), VisaError);
}

} // namespace
