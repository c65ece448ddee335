#include <gtest/gtest.h>

#include <cmath>

#include "app/numbers.h"

namespace {

TEST(NumberText, GivesALeadingBlankToZeroAndPositiveValues)
{
    const std::pair<double, const char *> cases[] = {
        {1, " 1"},         {-113, "-113"},     {0, " 0"},        {40, " 40"},
        {15, " 15"},       {0.25, " .25"},     {-0.5, "-.5"},    {10.5, " 10.5"},
        {32767, " 32767"}, {-32768, "-32768"}, {1e20, " 1E+20"}, {2147483647, " 2147483647"},
        {-0.0, " 0"},
    };
    for (const auto &[value, text] : cases) {
        SCOPED_TRACE(value);
        EXPECT_EQ(NumberText(value), text);
    }
}

TEST(LeadingNumber, ReadsTheNumberAnErrorReplyBeginsWith)
{
    const std::pair<const char *, double> cases[] = {
        {"+0,\"No error\"\n", 0},
        {"-113,\"Undefined header\"\n", -113},
        {"-221,\"Settings conflict\"\r\n", -221},
        {"+100,\"Device error\"", 100},
        {" - 1 13,\"x\"", -113},
        {"\t\n-350", -350},
        {"1.5E+2,x", 150},
        {"2e", 2},
        {"", 0},
        {"No error", 0},
        {"-", 0},
        {"\r-113", 0},
        {".", 0},
        {"1e-999", 0},
    };
    for (const auto &[text, value] : cases) {
        SCOPED_TRACE(text);
        EXPECT_EQ(LeadingNumber(QString::fromLatin1(text)), value);
    }
}

TEST(LeadingNumber, AHugeNumberStaysHugeSoTheCallerRefusesIt)
{
    EXPECT_TRUE(std::isinf(LeadingNumber("1e999")));
    EXPECT_GT(LeadingNumber("99999"), 32767);
    const QString zeros(400, '0');
    EXPECT_TRUE(std::isinf(LeadingNumber("1" + zeros + "e")));
    EXPECT_TRUE(std::isinf(LeadingNumber("-1" + zeros + "e-1,\"x\"")));
    EXPECT_EQ(LeadingNumber("0." + zeros + "1"), 0.0);
}

} // namespace
