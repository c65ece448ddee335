#include <chrono>

#include <gtest/gtest.h>

#include "sim/simsession.h"
#include "simserver/linepacer.h"

namespace {

using namespace std::chrono_literals;
using simserver::LinePacer;
using Duration = LinePacer::Duration;

LinePacer line()
{
    return LinePacer(115200, sim::SimSession::kBitsPerCharacter, sim::SimSession::kTransactionTime);
}

/// Time of @p characters at 115200 baud, 10 bits each: 86.8 µs a character, in whole nanoseconds
/// rounded up.
Duration onTheLine(long long characters)
{
    return Duration((characters * 10 * 1'000'000'000LL + 115199) / 115200);
}

TEST(LinePacer, AReplyLeavesAtTheCharacterRateAfterTheTransactionTime)
{
    LinePacer pacer = line();
    EXPECT_EQ(pacer.lineTime(1), Duration(86'806));
    EXPECT_EQ(pacer.lineTime(11'520), 1s);

    const Duration ready = 5ms;
    const std::size_t length = 41; // "QVTEK,QV3310,QV26001729,2.04-1.01-1.00\r\n" and one
    pacer.startReply(ready, length);
    const Duration start = ready + 1ms;
    struct Case
    {
        Duration at;
        std::size_t sent;
    };
    const Case cases[] = {
        {ready, 0},
        {start - 1ns, 0},
        {start, 0},
        {start + onTheLine(1) - 1ns, 0},
        {start + onTheLine(1), 1},
        {start + onTheLine(20) + 1ns, 20},
        {start + onTheLine(41) - 1ns, 40},
        {start + onTheLine(41), 41},
        {start + 1s, 41},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.at.count());
        EXPECT_EQ(pacer.sent(c.at), c.sent);
    }
    EXPECT_EQ(pacer.replyEnd(), start + onTheLine(41));
}

TEST(LinePacer, ANextReplyWaitsForTheLine)
{
    LinePacer pacer = line();
    pacer.startReply(0ms, 100);
    const Duration firstEnd = pacer.replyEnd();
    pacer.startReply(2ms, 10); // ready while the first is still on the line
    EXPECT_EQ(pacer.replyEnd(), firstEnd + 1ms + onTheLine(10));
    EXPECT_EQ(pacer.sent(firstEnd + 1ms), 0U);
}

TEST(LinePacer, CommandsTakeEffectWhenTheirLastCharacterHasArrived)
{
    LinePacer pacer = line();
    // "DATA:POINTS?\n" read at 10 ms, then "*IDN?\n" read in the same piece.
    EXPECT_EQ(pacer.received(10ms, 13), 10ms + onTheLine(13) + 1ms);
    EXPECT_EQ(pacer.received(10ms, 6), 10ms + onTheLine(13) + onTheLine(6) + 1ms);
    // After a pause the line is idle again.
    EXPECT_EQ(pacer.received(1s, 6), 1s + onTheLine(6) + 1ms);
}

TEST(LinePacer, UnpacedEverythingIsAtOnce)
{
    LinePacer pacer(0, 10, 1ms);
    EXPECT_EQ(pacer.received(7ms, 1000), 7ms);
    pacer.startReply(7ms, 1000);
    EXPECT_EQ(pacer.sent(7ms), 1000U);
}

TEST(LinePacer, AClearedLineIsFreeAtOnce)
{
    LinePacer pacer = line();
    pacer.startReply(0ms, 11'520); // a second on the line
    pacer.clear(100ms);
    EXPECT_EQ(pacer.sent(100ms), 0U);
    pacer.startReply(100ms, 1);
    EXPECT_EQ(pacer.replyEnd(), 101ms + onTheLine(1));
}

} // namespace
