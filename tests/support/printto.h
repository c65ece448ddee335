#pragma once

#include <concepts>
#include <ostream>
#include <string_view>

namespace support {

/// A case of a table-driven test is shown by its name in GoogleTest's messages; a test brings it
/// in with `using support::PrintTo;` in the namespace of its cases.
template<class Case>
requires requires(const Case &c)
{
    {
        c.name
        } -> std::convertible_to<std::string_view>;
}
void PrintTo(const Case &c, std::ostream *out)
{
    *out << std::string_view(c.name);
}

} // namespace support
