#include <gtest/gtest.h>

#include <cmath>

#include "visa/numberparse.h"

namespace {

struct LeadingCase
{
    const char *reply;
    std::optional<double> number;
};

TEST(LeadingNumber, ReadsTheNumberAReplyBeginsWith)
{
    const LeadingCase cases[] = {
        {"+2.00000000E+01\n", 20.0},
        {"-113,\"Undefined header\"\n", -113.0},
        {"+0,\"No error\"\n", 0.0},
        {"  \t1\r\n", 1.0},
        {".25", 0.25},
        {"-.5V", -0.5},
        {"1.5e", 1.5},
        {"1e-400", 0.0},
        {"QV3310", std::nullopt},
        {"", std::nullopt},
        {"\n", std::nullopt},
        {"+", std::nullopt},
        {"+-1", std::nullopt},
        {"inf", std::nullopt},
        {"nan", std::nullopt},
        {".", std::nullopt},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.reply);
        EXPECT_EQ(visa::leadingNumber(c.reply), c.number);
    }
}

TEST(LeadingNumber, TooLargeIsInfiniteSoEveryTypeRejectsIt)
{
    EXPECT_EQ(visa::leadingNumber("1e400"), HUGE_VAL);
    EXPECT_EQ(visa::leadingNumber("-1e400"), -HUGE_VAL);
}

TEST(LeadingNumber, OutOfRangeIsJudgedByMagnitudeNotByHowItIsWritten)
{
    const std::string zeros(400, '0');
    const std::pair<std::string, double> cases[] = {
        {"1" + zeros + "e-1", HUGE_VAL},
        {"+1" + zeros + "e-10\n", HUGE_VAL},
        {"1" + zeros + "e-900", 0.0},
        {"1" + zeros + "e-500", 1e-100},
        {"0." + zeros + "1", 0.0},
        {"-0." + zeros + "1", -0.0},
        {"." + zeros + "1e900", HUGE_VAL},
        {"1" + zeros + "e", HUGE_VAL},
        {"1e99999999999999999999", HUGE_VAL},
        {"-1e99999999999999999999", -HUGE_VAL},
        {"1e-99999999999999999999", 0.0},
    };
    for (const auto &[reply, value] : cases) {
        SCOPED_TRACE(reply.substr(0, 12) + "..." + reply.substr(reply.size() - 8));
        EXPECT_EQ(visa::leadingNumber(reply), value);
    }
}

TEST(LeadingNumber, ReportsHowMuchItRead)
{
    size_t consumed = 0;
    ASSERT_TRUE(visa::leadingNumber(" +1.5E+01,rest", &consumed));
    EXPECT_EQ(consumed, 9u);
}

TEST(RoundHalfEven, TiesGoToTheEvenNeighbour)
{
    const std::pair<double, double> cases[] = {
        {0.5, 0},   {1.5, 2},    {2.5, 2},    {3.5, 4},   {-0.5, 0},        {-1.5, -2},
        {-2.5, -2}, {2.4999, 2}, {2.5001, 3}, {-2.6, -3}, {32767.5, 32768}, {7, 7},
    };
    for (const auto &[value, rounded] : cases) {
        SCOPED_TRACE(value);
        EXPECT_EQ(visa::roundHalfEven(value), rounded);
    }
}

} // namespace
