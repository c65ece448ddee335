#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "visa/session.h"

namespace visa {

/// The numeric and text types of FormattedIO488's Read operations.
enum ASCIIType {
    ASCIIType_I2 = 2, ///< 16-bit signed integer
    ASCIIType_I4 = 3, ///< 32-bit signed integer
    ASCIIType_R8 = 5, ///< double
    ASCIIType_BSTR = 8, ///< text
};

/// @brief Formatted I/O over one message-based session (VISA COM's FormattedIO488).
///
/// Writes end with LF; replies are read whole. Failures throw VisaError naming the operation,
/// the resource, the command the reply answers, and the cause.
class FormattedIO488
{
public:
    /// The session every operation goes through; set it to the session ResourceManager::Open gave.
    std::unique_ptr<IMessage> IO;

    /// Sends @p command as one message ending with LF; @p flushAndEND marks its end with END.
    void WriteString(std::string_view command, bool flushAndEND = true);

    /// One whole reply, its line terminator included.
    std::string ReadString();

    /// The reply's leading number, converted to @p type (rounded to nearest, ties to even, for the
    /// integer types); the rest of the reply is consumed. A reply with no number, or a value
    /// outside the type, is a failure.
    double ReadNumber(ASCIIType type = ASCIIType_R8, bool flushToEND = true);

    /// The reply, without its final LF, split into texts at every character of @p separator.
    std::vector<std::string> ReadList(ASCIIType type = ASCIIType_BSTR, std::string_view separator = ",");

private:
    IMessage &session(const char *operation);
    std::string readReply(const std::string &operation);

    std::string m_lastCommand;
};

} // namespace visa
