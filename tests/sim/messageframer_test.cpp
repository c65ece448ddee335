#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "sim/messageframer.h"

namespace {

using sim::MessageFramer;
using Messages = std::vector<std::string>;

constexpr std::size_t kMax = 64;

MessageFramer serial()
{
    return MessageFramer(true, kMax);
}

MessageFramer gpib()
{
    return MessageFramer(false, kMax);
}

TEST(MessageFramer, EndsSerialMessagesAtLineFeedCarriageReturnOrBoth)
{
    struct Case
    {
        const char *bytes;
        Messages messages;
    };
    const Case cases[] = {
        {"*IDN?\n", {"*IDN?"}},
        {"*IDN?\r\n", {"*IDN?"}},
        {"*IDN?\r", {"*IDN?"}}, // a terminal's Enter
        {"*RST\r*IDN?\r", {"*RST", "*IDN?"}},
        {"*RST\r\n*IDN?\n\r", {"*RST", "*IDN?", ""}},
        {"\n", {""}},
        {"\r\n", {""}},
        {"*IDN?", {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.bytes);
        MessageFramer framer = serial();
        EXPECT_EQ(framer.feed(c.bytes), c.messages);
    }
}

TEST(MessageFramer, TakesTheLineFeedOfCarriageReturnLineFeedInALaterPiece)
{
    MessageFramer framer = serial();
    EXPECT_EQ(framer.feed("SYST:ERR?\r"), Messages{"SYST:ERR?"});
    EXPECT_EQ(framer.feed("\n*CLS\n"), Messages{"*CLS"});
}

TEST(MessageFramer, KeepsPartsUntilTheTerminatorComes)
{
    MessageFramer framer = serial();
    EXPECT_EQ(framer.feed("ROUT:SC"), Messages{});
    EXPECT_EQ(framer.pending(), 7U);
    EXPECT_EQ(framer.feed("AN (@101:120)\r"), Messages{"ROUT:SCAN (@101:120)"});
    EXPECT_EQ(framer.feed("\nINIT"), Messages{});
    EXPECT_EQ(framer.feed("\n"), Messages{"INIT"});
}

TEST(MessageFramer, DropsSerialFlowControlCharactersWhereverTheyStand)
{
    MessageFramer framer = serial();
    EXPECT_EQ(framer.feed("\x13*R\x11ST\x13\r\x11\n\x11"), Messages{"*RST"});
}

TEST(MessageFramer, OnGpibACarriageReturnIsTextAndEndTerminates)
{
    MessageFramer framer = gpib();
    EXPECT_EQ(framer.feed("*RST\r*CLS\r\n"), Messages{"*RST\r*CLS"});
    EXPECT_EQ(framer.feed("*IDN?"), Messages{});
    EXPECT_EQ(framer.end(), std::optional<std::string>("*IDN?"));
    EXPECT_EQ(framer.end(), std::nullopt);
}

TEST(MessageFramer, PassesAnOverlongLineOnCutJustPastTheLimit)
{
    MessageFramer framer = serial();
    EXPECT_EQ(framer.feed(std::string(kMax, 'A') + "\n"), Messages{std::string(kMax, 'A')});
    // Whatever its length, the framer holds one byte more than the limit, and the receiver sees
    // a message too long for it.
    EXPECT_EQ(framer.feed(std::string(100 * kMax, 'B')), Messages{});
    EXPECT_EQ(framer.pending(), kMax + 1);
    EXPECT_EQ(framer.feed("tail\n*CLS\n"), (Messages{std::string(kMax + 1, 'B'), "*CLS"}));
}

TEST(MessageFramer, ClearDropsAHalfReceivedMessage)
{
    MessageFramer framer = serial();
    EXPECT_EQ(framer.feed("*ID"), Messages{});
    framer.clear();
    EXPECT_EQ(framer.pending(), 0U);
    EXPECT_EQ(framer.feed("*RST\n"), Messages{"*RST"});
}

TEST(MessageFramer, SerialRepliesEndWithCarriageReturnAndLineFeed)
{
    EXPECT_EQ(MessageFramer::frameSerialReply("+1"), "+1\r\n");
}

} // namespace
