#pragma once

// The rules of the one read loop, checked through each bus's own session: the serial line over a
// pseudo-terminal, linux-gpib and a VISA library through their stand-ins. Each bus's test puts a
// byte stream on its bus in pieces and opens a session that ends reads at LF.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "visa/formattedio.h"
#include "visa/sessionbase.h"
#include "visa/visaerror.h"

namespace readloop {

/// Puts @p stream on the bus, handed to the reader @p piece bytes at a time (0: as it comes).
using Send = std::function<void(const std::string &stream, std::size_t piece)>;
/// A session with TerminationCharacter = 10 enabled.
using Open = std::function<std::unique_ptr<visa::IMessage>()>;

struct Case
{
    const char *name;
    std::string stream;
    std::size_t piece;
    std::vector<std::string> replies;
};

inline std::vector<Case> cases()
{
    const std::string longReply = [] {
        std::string text;
        for (int i = 0; text.size() < 300'000; ++i)
            text += std::to_string(i) + ',';
        return text + "\r\n";
    }();
    return {
        {"the terminator in a piece of its own", "+2.345E+01\r\n", 11, {"+2.345E+01\r\n"}},
        {"a reply in pieces of seven bytes",
         "QVTEK,QV3310,QV26001729,2.04-1.01-1.00\r\n",
         7,
         {"QVTEK,QV3310,QV26001729,2.04-1.01-1.00\r\n"}},
        {"two replies in one piece", "+1\r\n+2\r\n", 0, {"+1\r\n", "+2\r\n"}},
        {"a long reply over many reads", longReply, 4096, {longReply}},
    };
}

inline void expectRepliesAsSent(const Send &send, const Open &open)
{
    for (const Case &c : cases()) {
        SCOPED_TRACE(c.name);
        auto session = open();
        send(c.stream, c.piece);
        for (const std::string &expected : c.replies)
            EXPECT_EQ(session->Read(), expected);
    }
}

/// A reply over the bound fails naming the resource and the command it answers.
inline void expectOverlongReplyRefused(const Send &send, const Open &open)
{
    visa::FormattedIO488 instr;
    instr.IO = open();
    const std::string resource = instr.IO->ResourceName();
    instr.WriteString("DATA:REMove? 1");
    send(std::string(visa::ReplyReader::kMaxReplyBytes + 10, '7') + "\r\n", 0);
    EXPECT_THAT([&] { instr.ReadString(); },
                ::testing::ThrowsMessage<visa::VisaError>(
                    ::testing::AllOf(::testing::HasSubstr("ReadString (reply to \"DATA:REMove? 1\") on " + resource),
                                     ::testing::HasSubstr("longer than 16 MiB"))));
}

} // namespace readloop
