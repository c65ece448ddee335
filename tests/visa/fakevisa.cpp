// A stand-in VISA library for the tests: exports the VISA C functions the system VISA backend
// calls, over a scripted instrument, plus fakevisa_* functions through which a test scripts
// replies, injects failures and reads the log of calls.

#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <set>
#include <string>
#include <string_view>

#include "support/fakecalls.h"
#include "visa/visaapi.h"

using namespace visa::c;

namespace {

constexpr ViSession kResourceManager = 1;

struct State
{
    std::deque<std::string> replies;
    std::set<ViSession> open;
    ViUInt32 readChunk = 0; ///< most bytes one viRead returns; 0 for no limit
    ViSession nextSession = 2;
    support::FakeCalls<ViStatus> calls; ///< what failure each function's next call returns
};

State &state()
{
    static State s;
    return s;
}

void record(const std::string &line)
{
    state().calls.record(line);
}

bool injected(const char *function, ViStatus &status)
{
    return state().calls.injected(function, status);
}

std::string escaped(std::string_view data)
{
    return support::escapedForLog(data);
}

std::string hex(std::uint64_t value)
{
    char text[24];
    std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
    return text;
}

} // namespace

extern "C" {

void fakevisa_reset()
{
    state() = State{};
}

void fakevisa_queueReply(const char *bytes, size_t size)
{
    state().replies.emplace_back(bytes, size);
}

void fakevisa_failNext(const char *function, ViStatus status)
{
    state().calls.failures[function] = status;
}

void fakevisa_setReadChunk(ViUInt32 bytes)
{
    state().readChunk = bytes;
}

const char *fakevisa_log()
{
    return state().calls.log.c_str();
}

int fakevisa_openSessions()
{
    return static_cast<int>(state().open.size());
}

ViStatus viOpenDefaultRM(ViSession *rm)
{
    ViStatus status = VI_SUCCESS;
    if (injected("viOpenDefaultRM", status))
        return status;
    record("viOpenDefaultRM");
    *rm = kResourceManager;
    state().open.insert(kResourceManager);
    return VI_SUCCESS;
}

ViStatus viOpen(ViSession rm, const ViChar *name, ViAccessMode, ViUInt32, ViSession *vi)
{
    if (rm != kResourceManager || !state().open.count(rm))
        return static_cast<ViStatus>(0xBFFF000Eu); // VI_ERROR_INV_OBJECT
    ViStatus status = VI_SUCCESS;
    if (injected("viOpen", status))
        return status;
    record(std::string("viOpen ") + name);
    *vi = state().nextSession++;
    state().open.insert(*vi);
    return VI_SUCCESS;
}

ViStatus viSetAttribute(ViObject vi, ViAttr attribute, ViAttrState value)
{
    ViStatus status = VI_SUCCESS;
    if (injected("viSetAttribute", status))
        return status;
    record("viSetAttribute " + std::to_string(vi) + ' ' + hex(attribute) + ' ' + std::to_string(value));
    return VI_SUCCESS;
}

ViStatus viWrite(ViSession vi, const ViByte *buffer, ViUInt32 count, ViUInt32 *written)
{
    ViStatus status = VI_SUCCESS;
    if (injected("viWrite", status))
        return status;
    record("viWrite " + std::to_string(vi) + ' ' + escaped({reinterpret_cast<const char *>(buffer), count}));
    *written = count;
    return VI_SUCCESS;
}

ViStatus viRead(ViSession vi, ViByte *buffer, ViUInt32 count, ViUInt32 *read)
{
    *read = 0;
    ViStatus status = VI_SUCCESS;
    if (injected("viRead", status))
        return status;
    record("viRead " + std::to_string(vi) + ' ' + std::to_string(count));
    auto &replies = state().replies;
    if (replies.empty())
        return VI_ERROR_TMO;
    std::string &reply = replies.front();
    ViUInt32 n = std::min<ViUInt32>(count, static_cast<ViUInt32>(reply.size()));
    if (state().readChunk > 0)
        n = std::min(n, state().readChunk);
    std::memcpy(buffer, reply.data(), n);
    *read = n;
    reply.erase(0, n);
    if (!reply.empty())
        return VI_SUCCESS_MAX_CNT;
    replies.pop_front();
    return VI_SUCCESS;
}

#ifndef FAKEVISA_WITHOUT_VICLEAR
ViStatus viClear(ViSession vi)
{
    ViStatus status = VI_SUCCESS;
    if (injected("viClear", status))
        return status;
    record("viClear " + std::to_string(vi));
    state().replies.clear();
    return VI_SUCCESS;
}
#endif

ViStatus viClose(ViObject vi)
{
    record("viClose " + std::to_string(vi));
    if (!state().open.erase(vi))
        return static_cast<ViStatus>(0xBFFF000Eu);
    return VI_SUCCESS;
}

ViStatus viStatusDesc(ViObject, ViStatus status, ViChar description[])
{
    const char *text = "Unknown status value.";
    if (status == VI_ERROR_TMO)
        text = "Timeout expired before operation completed.";
    else if (status == VI_ERROR_RSRC_NFOUND)
        text = "Insufficient location information or resource not present in the system.";
    std::snprintf(description, kStatusDescSize, "%s", text);
    return VI_SUCCESS;
}

} // extern "C"
