#include <gtest/gtest.h>

#include "simserver/serialframer.h"

namespace {

using simserver::SerialFramer;
using Messages = std::vector<std::string>;

TEST(SerialFramer, CutsMessagesAtLineFeedWithOrWithoutCarriageReturn)
{
    SerialFramer framer;
    EXPECT_EQ(framer.feed("*IDN?\nSYST:ERR?\r\n"), (Messages{"*IDN?", "SYST:ERR?"}));
    EXPECT_EQ(framer.feed("\n"), Messages{""});
}

TEST(SerialFramer, KeepsPartsUntilTheTerminatorComes)
{
    SerialFramer framer;
    EXPECT_EQ(framer.feed("ROUT:SC"), Messages{});
    EXPECT_EQ(framer.feed("AN (@101:120)\r"), Messages{});
    EXPECT_EQ(framer.feed("\nINIT"), Messages{"ROUT:SCAN (@101:120)"});
    EXPECT_EQ(framer.feed("\n"), Messages{"INIT"});
}

TEST(SerialFramer, DropsFlowControlCharactersWhereverTheyStand)
{
    SerialFramer framer;
    EXPECT_EQ(framer.feed("\x13*R\x11ST\x13\r\x11\n\x11"), Messages{"*RST"});
}

TEST(SerialFramer, DropsALineThatNeverEnds)
{
    SerialFramer framer;
    EXPECT_EQ(framer.feed(std::string(SerialFramer::kMaxLine + 10, 'A')), Messages{});
    EXPECT_EQ(framer.feed("tail\n*CLS\n"), Messages{"*CLS"});
}

TEST(SerialFramer, RepliesEndWithCarriageReturnAndLineFeed)
{
    EXPECT_EQ(SerialFramer::frameReply("+1"), "+1\r\n");
}

} // namespace
