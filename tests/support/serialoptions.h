#pragma once

namespace support {

/// The option text the program opens a serial instrument with, quote and all, as the operator's
/// instructions give it: what the tests expect the program to send, and what they open with.
inline constexpr const char *kSerialOptions =
    "Timeout = 10000 ; SendEndEnabled = TRUE ; TerminationCharacter = 10 ; TerminationCharacterEnabled = TRUE ; "
    "BaudRate = 115200 ; DataBits = 8 ; EndIn = ASRL_END_TERMCHAR ; EndOut = ASRL_END_NONE ; "
    "FlowControl = ASRL_FLOW_XON_XOFF ; Parity = ASRL_PAR_NONE  ; StopBits = ASRL_STOP_ONE \"";

} // namespace support
