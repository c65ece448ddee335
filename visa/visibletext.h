#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace visa {

/// No limit on how much of a text visibleText() shows.
inline constexpr std::size_t kShowAll = std::string_view::npos;

/// @p text as one line a person can read and copy exactly: "\n", "\r" and "\t" for those
/// characters; "\xNN" for every other control byte, every byte from 0x7F up and the backslash
/// itself, so that no byte of the text passes for an escape. Beyond @p limit bytes the text is cut
/// and "...(N bytes)" says how long it was.
std::string visibleText(std::string_view text, std::size_t limit = kShowAll);

} // namespace visa
