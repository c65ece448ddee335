#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace visa {

enum class InterfaceType { Gpib, Serial };

/// @brief A parsed INSTR resource name: "GPIB[board]::pad[::sad][::INSTR]" or "ASRL[port][::INSTR]".
///
/// Parsing is strict and case-insensitive: anything that is not a well-formed name of one of
/// these two kinds is refused, so a typed address can never reach a device path unchecked.
struct ResourceName
{
    InterfaceType type = InterfaceType::Gpib;
    unsigned board = 0; ///< GPIB board index, or the serial port number n of ASRLn
    unsigned primaryAddress = 0; ///< GPIB only, 0..30
    std::optional<unsigned> secondaryAddress; ///< GPIB only, 0..30

    /// Throws std::invalid_argument with a reason when @p text is not a well-formed name.
    static ResourceName parse(std::string_view text);

    /// The canonical form: "GPIB0::9::INSTR", "ASRL1::INSTR".
    std::string canonical() const;

    bool operator==(const ResourceName &) const = default;
};

} // namespace visa
