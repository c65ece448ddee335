#pragma once

#include <gmock/gmock.h>

#include <string>
#include <vector>

namespace support {

/// Matches a call that fails with an @p Error whose message holds each of @p parts:
/// EXPECT_THAT([&] { parse(text); }, FailsSaying<std::invalid_argument>({"no name"})).
template<class Error = std::exception>
auto FailsSaying(const std::vector<std::string> &parts)
{
    std::vector<::testing::Matcher<std::string>> each;
    for (const std::string &part : parts)
        each.push_back(::testing::HasSubstr(part));
    return ::testing::ThrowsMessage<Error>(::testing::AllOfArray(each));
}

} // namespace support
