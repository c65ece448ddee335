// A stand-in for linux-gpib's libgpib.so.0 for the tests: the functions the GPIB backend calls,
// over a scripted instrument, plus fakegpib_* functions through which a test scripts replies,
// injects errors and reads the log of calls.

#include <algorithm>
#include <cstring>
#include <deque>
#include <map>
#include <set>
#include <string>
#include <string_view>

#include "support/fakecalls.h"
#include "visa/gpibapi.h"

using namespace visa::gpib;

namespace {

constexpr int kComplete = 0x100; // CMPL

struct State
{
    std::deque<std::string> replies;
    long readChunk = 0; ///< most bytes one ibrd returns; 0 for no limit
    int boards = 16; ///< boards 0 .. boards - 1 exist
    std::set<int> listeners; ///< primary addresses where ibln finds a listener
    int nextUd = 1;
    int ibsta = 0;
    int iberr = 0;
    long ibcntl = 0;
    support::FakeCalls<int> calls; ///< the iberr each function's next call fails with
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

std::string escaped(std::string_view data)
{
    return support::escapedForLog(data);
}

int finish(int status, long count)
{
    state().ibsta = status;
    state().ibcntl = count;
    return status;
}

/// An injected failure: ERR with the given iberr; EABO also means TIMO.
bool injected(const char *function, int &status)
{
    int iberr = 0;
    if (!state().calls.injected(function, iberr))
        return false;
    state().iberr = iberr;
    status = finish(ERR | (iberr == EABO ? TIMO : 0), 0);
    return true;
}

} // namespace

extern "C" {

void fakegpib_reset()
{
    state() = State{};
}

void fakegpib_queueReply(const char *bytes, long size)
{
    state().replies.emplace_back(bytes, static_cast<size_t>(size));
}

void fakegpib_failNext(const char *function, int iberr)
{
    state().calls.failures[function] = iberr;
}

void fakegpib_setReadChunk(long bytes)
{
    state().readChunk = bytes;
}

void fakegpib_setBoards(int boards)
{
    state().boards = boards;
}

void fakegpib_addListener(int pad)
{
    state().listeners.insert(pad);
}

const char *fakegpib_log()
{
    return state().calls.log.c_str();
}

int ibdev(int board, int pad, int sad, int timo, int sendEoi, int eosMode)
{
    int status = 0;
    if (injected("ibdev", status))
        return -1;
    if (board >= state().boards) {
        state().iberr = EDVR;
        finish(ERR, 2); // ENOENT: no /dev/gpibN
        return -1;
    }
    record("ibdev " + std::to_string(board) + ' ' + std::to_string(pad) + ' ' + std::to_string(sad) + ' '
           + std::to_string(timo) + ' ' + std::to_string(sendEoi) + ' ' + std::to_string(eosMode));
    finish(kComplete, 0);
    return state().nextUd++;
}

int ibwrt(int ud, const void *buffer, long count)
{
    int status = 0;
    if (injected("ibwrt", status))
        return status;
    record("ibwrt " + std::to_string(ud) + ' ' + escaped({static_cast<const char *>(buffer), size_t(count)}));
    return finish(kComplete, count);
}

int ibrd(int ud, void *buffer, long count)
{
    int status = 0;
    if (injected("ibrd", status))
        return status;
    record("ibrd " + std::to_string(ud));
    auto &replies = state().replies;
    if (replies.empty()) {
        state().iberr = EABO;
        return finish(ERR | TIMO, 0);
    }
    std::string &reply = replies.front();
    long n = std::min(count, static_cast<long>(reply.size()));
    if (state().readChunk > 0)
        n = std::min(n, state().readChunk);
    std::memcpy(buffer, reply.data(), size_t(n));
    reply.erase(0, size_t(n));
    if (!reply.empty())
        return finish(kComplete, n);
    replies.pop_front();
    return finish(kComplete | END, n);
}

int ibln(int ud, int pad, int sad, short *found)
{
    int status = 0;
    if (injected("ibln", status))
        return status;
    record("ibln " + std::to_string(ud) + ' ' + std::to_string(pad) + ' ' + std::to_string(sad));
    *found = state().listeners.count(pad) ? 1 : 0;
    return finish(kComplete, 0);
}

int ibclr(int ud)
{
    int status = 0;
    if (injected("ibclr", status))
        return status;
    record("ibclr " + std::to_string(ud));
    return finish(kComplete, 0);
}

int ibonl(int ud, int online)
{
    record("ibonl " + std::to_string(ud) + ' ' + std::to_string(online));
    return finish(kComplete, 0);
}

int ibeot(int ud, int sendEoi)
{
    record("ibeot " + std::to_string(ud) + ' ' + std::to_string(sendEoi));
    return finish(kComplete, 0);
}

int ThreadIbsta()
{
    return state().ibsta;
}

int ThreadIberr()
{
    return state().iberr;
}

long ThreadIbcntl()
{
    return state().ibcntl;
}

} // extern "C"
