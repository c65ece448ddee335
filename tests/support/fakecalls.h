#pragma once

// For the stand-in libraries (fakevisa, fakegpib): the log of calls a test reads, and the
// failures it injects, by function name.

#include <map>
#include <string>
#include <string_view>

namespace support {

template<class Status>
class FakeCalls
{
public:
    std::string log;
    std::map<std::string, Status> failures; ///< function name -> what its next call fails with

    void record(const std::string &line) { log += line + '\n'; }

    /// The failure injected for this call of @p function, taken off the list; false when none.
    bool injected(const char *function, Status &status)
    {
        const auto found = failures.find(function);
        if (found == failures.end())
            return false;
        status = found->second;
        failures.erase(found);
        return true;
    }
};

/// Line feeds of written data are logged as backslash-n, so one call stays one log line.
inline std::string escapedForLog(std::string_view data)
{
    std::string out;
    for (const char c : data)
        out += c == '\n' ? std::string("\\n") : std::string(1, c);
    return out;
}

} // namespace support
