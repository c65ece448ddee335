#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "visa/sessionbase.h"
#include "visa/visaerror.h"
#include "support/failure.h"

namespace {

using namespace std::chrono_literals;
using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::ThrowsMessage;
using visa::Chunk;
using visa::IoTimeout;
using visa::ReplyReader;

/// @brief A bus that hands over scripted pieces, each after a scripted wait on a virtual clock.
/// A piece longer than the read asked for is handed over in parts; an empty script times out.
struct ScriptedBus
{
    struct Piece
    {
        std::string bytes;
        bool end = false;
        std::chrono::milliseconds after = 0ms; ///< virtual time that passes before it comes
    };
    std::deque<Piece> pieces;
    std::chrono::steady_clock::time_point now{};
    std::vector<std::size_t> asked; ///< the capacity of each read
    bool ownTimeOut = false; ///< waits by its own time-out per read, as a VISA library does, not by the one given

    Chunk operator()(char *buffer, std::size_t capacity, std::chrono::milliseconds remaining)
    {
        asked.push_back(capacity);
        if (pieces.empty() || (!ownTimeOut && pieces.front().after > remaining)) {
            now += remaining;
            return {0, false, true, "scripted bus time-out"};
        }
        Piece &piece = pieces.front();
        now += piece.after;
        piece.after = 0ms;
        const std::size_t n = std::min(capacity, piece.bytes.size());
        std::memcpy(buffer, piece.bytes.data(), n);
        piece.bytes.erase(0, n);
        const bool end = piece.end && piece.bytes.empty();
        if (piece.bytes.empty())
            pieces.pop_front();
        return {n, end, false, {}};
    }
};

class ReplyReaderTest : public ::testing::Test
{
protected:
    std::string read(std::optional<char> termChar = '\n', IoTimeout timeout = {1000, true})
    {
        return reader.read([this](char *b, std::size_t c, std::chrono::milliseconds r) { return bus(b, c, r); },
                           termChar, timeout, "ASRL1::INSTR", "/dev/pts/7");
    }

    ScriptedBus bus;
    ReplyReader reader{16, 64, [this] { return bus.now; }};
};

TEST_F(ReplyReaderTest, ChunksAreJoinedIntoReplies)
{
    struct Case
    {
        const char *name;
        std::vector<ScriptedBus::Piece> pieces;
        std::optional<char> termChar;
        std::vector<std::string> replies;
    };
    const std::string longReply = std::string(1000, '7') + "\n";
    const Case cases[] = {
        {"terminator split from the rest", {{"+2.345E+01\r"}, {"\n"}}, '\n', {"+2.345E+01\r\n"}},
        {"terminator alone in the first chunk", {{"\n"}, {"+1\n"}}, '\n', {"\n", "+1\n"}},
        {"two replies in one chunk", {{"+1\r\n+2\r\n"}}, '\n', {"+1\r\n", "+2\r\n"}},
        {"a reply and the start of the next", {{"+1\n+2"}, {"3\n"}}, '\n', {"+1\n", "+23\n"}},
        {"a reply over many reads", {{longReply}}, '\n', {longReply}},
        {"END ends a reply without terminator", {{"ABC", false}, {"DEF", true}}, std::nullopt, {"ABCDEF"}},
        {"END after the terminator", {{"+1\n", true}}, '\n', {"+1\n"}},
        {"a terminator before END keeps the rest", {{"+1\n+2", true}, {"\n"}}, '\n', {"+1\n", "+2\n"}},
        {"another termination character", {{"A\rB\r"}}, '\r', {"A\r", "B\r"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        bus = {};
        reader.discard();
        bus.pieces.assign(c.pieces.begin(), c.pieces.end());
        for (const std::string &expected : c.replies)
            EXPECT_EQ(read(c.termChar), expected);
        EXPECT_TRUE(bus.pieces.empty());
    }
}

TEST_F(ReplyReaderTest, ReadsGrowFromTheFirstChunkToTheLargest)
{
    bus.pieces.push_back({std::string(300, 'x') + "\n"});
    read();
    ASSERT_GE(bus.asked.size(), 4u);
    EXPECT_EQ(bus.asked[0], 16u);
    EXPECT_EQ(bus.asked[1], 32u);
    EXPECT_EQ(bus.asked[2], 64u);
    EXPECT_EQ(bus.asked.back(), 64u);
}

TEST_F(ReplyReaderTest, AReplyThatNeverEndsTimesOutSayingWhichTimeOutAndWhatCame)
{
    struct Case
    {
        const char *name;
        std::vector<ScriptedBus::Piece> pieces;
        IoTimeout timeout;
        std::vector<std::string> says;
    };
    const Case cases[] = {
        {"nothing comes",
         {},
         {1000, true},
         {"Read on ASRL1::INSTR", "time-out after 1000 ms (Timeout = 1000 in the option text)", "from /dev/pts/7",
          "nothing received", "scripted bus time-out"}},
        {"part of a reply, then nothing",
         {{"+1.0"}},
         {10000, false},
         {"time-out after 10000 ms (the default; the option text sets no Timeout)", "4 bytes without terminator"}},
        // Every piece comes within the bus's wait, but together they outlast the time-out.
        {"a reply trickling past the deadline",
         {{"AAAA", false, 400ms}, {"BBBB", false, 400ms}, {"CCCC", false, 400ms}, {"\n"}},
         {1000, true},
         {"time-out after 1000 ms", "8 bytes without terminator"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        bus = {};
        reader.discard();
        bus.pieces.assign(c.pieces.begin(), c.pieces.end());
        EXPECT_THAT([&] { read('\n', c.timeout); },
                    support::FailsSaying<visa::VisaError>({c.says.begin(), c.says.end()}));
    }
}

TEST_F(ReplyReaderTest, ABusThatKeepsSendingWithinItsOwnTimeOutIsStoppedAtTheDeadline)
{
    bus.ownTimeOut = true;
    for (int i = 0; i < 5; ++i)
        bus.pieces.push_back({"AAAA", false, 400ms});
    EXPECT_THAT(
        [&] {
            read('\n', {1000, true});
        },
        ThrowsMessage<visa::VisaError>(
            AllOf(HasSubstr("time-out after 1000 ms"), HasSubstr("12 bytes without terminator"))));
    EXPECT_EQ(bus.pieces.size(), 2u); // no read after the deadline
}

TEST_F(ReplyReaderTest, ATimeOutOfZeroStillTriesOneRead)
{
    bus.pieces.push_back({"+1\n"});
    EXPECT_EQ(read('\n', {0, true}), "+1\n");
}

TEST(ReplyReaderBound, RepliesUpToTheBoundAreReadAndLongerOnesRefused)
{
    constexpr std::size_t kMax = ReplyReader::kMaxReplyBytes;
    struct Case
    {
        std::size_t bytesBeforeTerminator;
        std::optional<char> termChar;
        bool end;
        bool refused;
    };
    const Case cases[] = {
        {kMax - 1, '\n', false, false}, // exactly the bound, terminator included
        {kMax, '\n', false, true},
        {kMax + 100, std::nullopt, true, true}, // ended by END, still too long
        {kMax, std::nullopt, true, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.bytesBeforeTerminator);
        ScriptedBus bus;
        std::string bytes(c.bytesBeforeTerminator, 'x');
        if (c.termChar)
            bytes += *c.termChar;
        bus.pieces.push_back({bytes, c.end});
        if (!c.termChar)
            bus.pieces.back().end = true;
        ReplyReader reader(1024, 1 << 20, [&] { return bus.now; });
        const auto read = [&] {
            return reader.read([&](char *b, std::size_t n, std::chrono::milliseconds r) { return bus(b, n, r); },
                               c.termChar, {1000, true}, "GPIB0::9::INSTR");
        };
        if (c.refused)
            EXPECT_THAT(read, ThrowsMessage<visa::VisaError>(AllOf(HasSubstr("GPIB0::9::INSTR"), HasSubstr("16 MiB"))));
        else
            EXPECT_EQ(read().size(), bytes.size());
    }
}

TEST(IoTimeout, ComesFromTheOptionTextOrIsTheDefaultOfTenSeconds)
{
    const IoTimeout fallback = IoTimeout::of(visa::SessionOptions::parse(""));
    EXPECT_EQ(fallback.ms, 10000);
    EXPECT_FALSE(fallback.fromOptionText);
    const IoTimeout given = IoTimeout::of(visa::SessionOptions::parse("Timeout = 250"));
    EXPECT_EQ(given.ms, 250);
    EXPECT_TRUE(given.fromOptionText);
    EXPECT_EQ(given.expired(), "time-out after 250 ms (Timeout = 250 in the option text)");
}

} // namespace
