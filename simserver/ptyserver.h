#pragma once

#include <csignal>
#include <cstddef>
#include <deque>
#include <string>

#include "sim/clock.h"
#include "sim/messageframer.h"
#include "simserver/linepacer.h"

namespace sim {
class Qv3310;
}

namespace simserver {

/// @brief Serves one simulated QV3310 on a pseudo-terminal, as a serial instrument would sit on
/// a serial line: any program that opens the device path talks to it.
///
/// The server keeps the terminal's device side open itself, so a client closing it does not hang
/// up the line. When the last client closes the device, what it sent is still carried out, but
/// its unread replies and a half-sent command are dropped, as on a device clear, so the next
/// client starts clean. A client flushing the line (tcflush, as a serial I/O library's clear
/// does) is a device clear too. Replies leave at the line's character rate unless made unpaced.
class PtyServer
{
public:
    struct Options
    {
        bool paced = true; ///< characters take the line's time; false: at once
        long baudRate = 115200;
        /// The instrument's clock runs this many times faster than the wall clock.
        double timeScale = 1;
    };

    /// Opens the pseudo-terminal in raw mode; throws std::runtime_error naming the failed call.
    /// @p instrument's clock must run @p options.timeScale times faster than the wall clock.
    PtyServer(sim::Qv3310 &instrument, Options options);
    ~PtyServer();
    PtyServer(const PtyServer &) = delete;
    PtyServer &operator=(const PtyServer &) = delete;

    /// The device path clients open, e.g. /dev/pts/3.
    const std::string &devicePath() const { return m_devicePath; }

    /// Serves until @p stop is set. Signals are taken only while waiting, with @p waitMask as the
    /// signal mask, so a stop request between two checks is never missed.
    void serve(const volatile std::sig_atomic_t &stop, const sigset_t &waitMask);

    /// Bytes the server holds for the line: commands not yet carried out, the reply on its way.
    std::size_t bufferedBytes() const;

private:
    struct Message
    {
        std::string text;
        sim::Clock::Duration at; ///< when it takes effect
    };

    void readLine();
    void take(std::string_view bytes, bool paced);
    void deliverDue();
    void startReply();
    void writeDue();
    void readClientEvents();
    /// The last client has gone: carry out what it sent (with @p drain, also what the terminal
    /// still holds), then clear the line.
    void clientGone(bool drain);
    /// A device clear: drops the commands not carried out, a half-received one, and every reply.
    void clearLine();
    /// When something next falls due on the instrument's clock; Duration::max() when nothing does.
    sim::Clock::Duration nextDue() const;

    sim::Qv3310 &m_instrument;
    Options m_options;
    LinePacer m_pacer;
    int m_master = -1;
    int m_slave = -1;
    int m_events = -1; ///< inotify: clients opening and closing the device
    int m_clients = 0;
    std::string m_devicePath;
    sim::MessageFramer m_framer;
    std::deque<Message> m_received; ///< framed, not yet due
    std::string m_output; ///< the framed reply on its way
    std::size_t m_written = 0; ///< bytes of m_output the terminal has taken
    bool m_outputBlocked = false; ///< the terminal took no more: wait until it does
};

} // namespace simserver
