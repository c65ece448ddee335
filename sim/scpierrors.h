#pragma once

#include <cstddef>
#include <deque>
#include <exception>
#include <string>
#include <string_view>

namespace sim::scpi {

/// SCPI-1999 / IEEE 488.2 error numbers the instrument raises.
namespace err {
inline constexpr int kNone = 0;
inline constexpr int kCommand = -100;
inline constexpr int kInvalidCharacter = -101;
inline constexpr int kSyntax = -102;
inline constexpr int kDataType = -104;
inline constexpr int kParameterNotAllowed = -108;
inline constexpr int kMissingParameter = -109;
inline constexpr int kHeaderSeparator = -111;
inline constexpr int kUndefinedHeader = -113;
inline constexpr int kInvalidCharacterInNumber = -121;
inline constexpr int kInvalidExpression = -171;
inline constexpr int kExecution = -200;
inline constexpr int kTriggerIgnored = -211;
inline constexpr int kInitIgnored = -213;
inline constexpr int kSettingsConflict = -221;
inline constexpr int kDataOutOfRange = -222;
inline constexpr int kIllegalParameterValue = -224;
inline constexpr int kDataStale = -230;
inline constexpr int kHardwareMissing = -241;
inline constexpr int kDeviceSpecific = -300;
inline constexpr int kQueueOverflow = -350;
inline constexpr int kInputBufferOverrun = -363;
inline constexpr int kQuery = -400;
inline constexpr int kQueryInterrupted = -410;
inline constexpr int kQueryUnterminated = -420;
} // namespace err

/// The standard text of @p code; for a number without one, the generic text of its class.
std::string_view standardMessage(int code);

/// @brief An error raised while a program message unit is parsed or executed.
///
/// The interpreter catches it and queues it; the unit then has no further effect.
class Error : public std::exception
{
public:
    explicit Error(int code, std::string info = {});

    int code() const { return m_code; }
    /// Device-dependent detail, appended to the standard text after ";".
    const std::string &info() const { return m_info; }
    const char *what() const noexcept override { return m_text.c_str(); }

private:
    int m_code;
    std::string m_info;
    std::string m_text;
};

/// @brief The SCPI error/event queue: first in, first out, bounded.
///
/// When full, the newest entry is replaced by -350 "Queue overflow" and later errors are lost,
/// so the controller learns that it missed some without losing the oldest ones.
class ErrorQueue
{
public:
    static constexpr std::size_t kCapacity = 10;
    /// SCPI's limit on the length of an error description.
    static constexpr std::size_t kMaxTextLength = 255;

    void push(int code, std::string_view info = {});

    /// Removes the oldest entry and formats it: `-113,"Undefined header"`; `+0,"No error"` when empty.
    std::string next();

    std::size_t size() const { return m_entries.size(); }
    bool empty() const { return m_entries.empty(); }
    void clear() { m_entries.clear(); }

private:
    struct Entry
    {
        int code = 0;
        std::string text;
    };
    std::deque<Entry> m_entries;
};

} // namespace sim::scpi
