#include "support/scriptedsession.h"

#include "visa/visaerror.h"

namespace support {

void ScriptedSession::Write(std::string_view data, bool end)
{
    if (m_script.failingWrite && data == *m_script.failingWrite)
        throw visa::VisaError("Write", kName, "bus error");
    m_script.written.emplace_back(data, end);
}

std::string ScriptedSession::Read()
{
    if (m_script.replies.empty())
        throw visa::VisaError("Read", kName, m_script.timeOut);
    std::string reply = std::move(m_script.replies.front());
    m_script.replies.pop_front();
    return reply;
}

} // namespace support
