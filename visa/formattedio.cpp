#include "visa/formattedio.h"

#include <cmath>
#include <cstdint>
#include <limits>

#include "visa/numberparse.h"
#include "visa/visaerror.h"
#include "visa/visibletext.h"

namespace visa {

namespace {

/// How much of a command or reply a failure's description shows.
constexpr size_t kMaxShown = 80;

/// Control characters made visible, so a description shows what the instrument really sent.
std::string visible(std::string_view text)
{
    return visibleText(text, kMaxShown);
}

const char *typeName(ASCIIType type)
{
    switch (type) {
    case ASCIIType_I2: return "a 16-bit integer";
    case ASCIIType_I4: return "a 32-bit integer";
    case ASCIIType_R8: return "a double";
    case ASCIIType_BSTR: return "text";
    }
    return "an unknown type";
}

} // namespace

IMessage &FormattedIO488::session(const char *operation)
{
    if (!IO)
        throw VisaError(operation, {}, "no session is open");
    return *IO;
}

void FormattedIO488::WriteString(std::string_view command, bool flushAndEND)
{
    IMessage &io = session("WriteString");
    std::string message(command);
    if (!message.ends_with('\n'))
        message += '\n';
    m_lastCommand = std::string(command);
    try {
        io.Write(message, flushAndEND);
    } catch (const VisaError &e) {
        throw VisaError("WriteString \"" + visible(command) + "\"", e.resource(), e.cause());
    }
}

std::string FormattedIO488::readReply(const std::string &operation)
{
    IMessage &io = session(operation.c_str());
    try {
        return io.Read();
    } catch (const VisaError &e) {
        throw VisaError(operation + " (reply to \"" + visible(m_lastCommand) + "\")", e.resource(), e.cause());
    }
}

std::string FormattedIO488::ReadString()
{
    return readReply("ReadString");
}

double FormattedIO488::ReadNumber(ASCIIType type, bool /*flushToEND*/)
{
    // The whole reply is read either way, so the next read starts with the next reply.
    const std::string reply = readReply("ReadNumber");
    const auto fail = [&](const std::string &why) {
        return VisaError("ReadNumber (reply to \"" + visible(m_lastCommand) + "\")", IO->ResourceName(),
                         why + " in reply \"" + visible(reply) + "\"");
    };

    const std::optional<double> parsed = leadingNumber(reply);
    if (!parsed)
        throw fail("no number");
    double value = *parsed;
    double min = -std::numeric_limits<double>::max();
    double max = std::numeric_limits<double>::max();
    switch (type) {
    case ASCIIType_I2:
        min = std::numeric_limits<std::int16_t>::min();
        max = std::numeric_limits<std::int16_t>::max();
        value = roundHalfEven(value);
        break;
    case ASCIIType_I4:
        min = std::numeric_limits<std::int32_t>::min();
        max = std::numeric_limits<std::int32_t>::max();
        value = roundHalfEven(value);
        break;
    case ASCIIType_R8: break;
    default: throw fail(std::string("cannot read a number as ") + typeName(type) + ";");
    }
    if (!(value >= min && value <= max))
        throw fail(std::string("value out of range for ") + typeName(type));
    return value;
}

std::vector<std::string> FormattedIO488::ReadList(ASCIIType type, std::string_view separator)
{
    std::string reply = readReply("ReadList");
    if (type != ASCIIType_BSTR)
        throw VisaError("ReadList", IO->ResourceName(),
                        std::string("reading a list as ") + typeName(type) + " is not supported");
    if (reply.ends_with('\n'))
        reply.pop_back();

    std::vector<std::string> fields;
    if (separator.empty()) {
        fields.push_back(reply);
        return fields;
    }
    size_t start = 0;
    for (;;) {
        const size_t at = reply.find_first_of(separator, start);
        fields.push_back(reply.substr(start, at - start));
        if (at == std::string::npos)
            break;
        start = at + 1;
    }
    return fields;
}

} // namespace visa
