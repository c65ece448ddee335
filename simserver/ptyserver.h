#pragma once

#include <csignal>
#include <string>

#include "simserver/serialframer.h"

namespace sim {
class Qv3310;
}

namespace simserver {

/// @brief Serves one simulated QV3310 on a pseudo-terminal, as a serial instrument would sit on
/// a serial line: any program that opens the device path talks to it.
///
/// The server keeps the terminal's device side open itself, so a client closing it does not hang
/// up the line and the next client finds the instrument as the last one left it.
class PtyServer
{
public:
    /// Opens the pseudo-terminal in raw mode; throws std::runtime_error naming the failed call.
    explicit PtyServer(sim::Qv3310 &instrument);
    ~PtyServer();
    PtyServer(const PtyServer &) = delete;
    PtyServer &operator=(const PtyServer &) = delete;

    /// The device path clients open, e.g. /dev/pts/3.
    const std::string &devicePath() const { return m_devicePath; }

    /// Serves until @p stop is set. Signals are taken only while waiting, with @p waitMask as the
    /// signal mask, so a stop request between two checks is never missed.
    void serve(const volatile std::sig_atomic_t &stop, const sigset_t &waitMask);

private:
    void receive();
    void sendReadyReplies();
    void flushOutput();
    /// Milliseconds until the pending reply is ready; -1 when none is pending.
    int msUntilNextReply() const;

    sim::Qv3310 &m_instrument;
    int m_master = -1;
    int m_slave = -1;
    std::string m_devicePath;
    SerialFramer m_framer;
    std::string m_output; ///< framed replies the terminal has not taken yet
};

} // namespace simserver
