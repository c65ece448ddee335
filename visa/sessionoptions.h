#pragma once

#include <optional>
#include <string_view>

namespace visa {

enum class Parity { None, Odd, Even, Mark, Space };
enum class StopBits { One, OneAndHalf, Two };
enum class FlowControl { None, XonXoff, RtsCts, DtrDsr };
/// How a serial session finds the end of a message (VISA's ASRL_END_* values).
enum class SerialEnd { None, LastBit, TermChar, Break };

/// @brief The settings of the option text given to ResourceManager::Open.
///
/// The text is "Name = Value" pairs joined by ";". Names are matched without regard to case;
/// unknown names are ignored, as is a stray double quote at the end of the text. A known name
/// with a value it cannot take makes parse() throw std::invalid_argument naming the setting.
struct SessionOptions
{
    std::optional<int> timeoutMs; ///< I/O time-out; empty means the backend's default
    bool sendEndEnabled = true;
    unsigned char terminationCharacter = '\n';
    bool terminationCharacterEnabled = false;
    int baudRate = 9600;
    int dataBits = 8;
    Parity parity = Parity::None;
    StopBits stopBits = StopBits::One;
    FlowControl flowControl = FlowControl::None;
    SerialEnd endIn = SerialEnd::TermChar;
    SerialEnd endOut = SerialEnd::None;

    static SessionOptions parse(std::string_view text);

    /// The time-out of a session whose option text gives none, on every bus and in the simulator.
    static constexpr int kDefaultTimeoutMs = 10000;
    int timeoutOrDefault() const { return timeoutMs.value_or(kDefaultTimeoutMs); }
};

} // namespace visa
