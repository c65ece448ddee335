#include "simserver/ptyserver.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "sim/qv3310.h"

namespace simserver {

namespace {

[[noreturn]] void failed(const std::string &what)
{
    throw std::runtime_error(what + " failed: " + std::strerror(errno));
}

void makeRaw(int fd, const std::string &path)
{
    termios settings{};
    if (tcgetattr(fd, &settings) != 0)
        failed("tcgetattr on " + path);
    // No echo, no line editing, no CR/LF translation: the bytes on the line are the instrument's.
    cfmakeraw(&settings);
    if (tcsetattr(fd, TCSANOW, &settings) != 0)
        failed("tcsetattr on " + path);
}

} // namespace

PtyServer::PtyServer(sim::Qv3310 &instrument)
    : m_instrument(instrument)
{
    m_master = posix_openpt(O_RDWR | O_NOCTTY);
    if (m_master < 0)
        failed("posix_openpt");
    if (grantpt(m_master) != 0)
        failed("grantpt");
    if (unlockpt(m_master) != 0)
        failed("unlockpt");
    const char *name = ptsname(m_master);
    if (!name)
        failed("ptsname");
    m_devicePath = name;
    m_slave = ::open(m_devicePath.c_str(), O_RDWR | O_NOCTTY);
    if (m_slave < 0)
        failed("opening " + m_devicePath);
    makeRaw(m_slave, m_devicePath);
    if (fcntl(m_master, F_SETFL, fcntl(m_master, F_GETFL) | O_NONBLOCK) != 0)
        failed("fcntl(O_NONBLOCK) on the pseudo-terminal master");
}

PtyServer::~PtyServer()
{
    if (m_slave >= 0)
        ::close(m_slave);
    if (m_master >= 0)
        ::close(m_master);
}

int PtyServer::msUntilNextReply() const
{
    const auto at = m_instrument.nextReplyAt();
    if (!at)
        return -1;
    const auto wait = *at - m_instrument.clock().now();
    if (wait <= wait.zero())
        return 0;
    // Rounded up: waking a little late is harmless, early would only spin.
    return static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(wait).count());
}

void PtyServer::serve(const volatile std::sig_atomic_t &stop, const sigset_t &waitMask)
{
    while (!stop) {
        sendReadyReplies();
        flushOutput();
        const int waitMs = msUntilNextReply();
        timespec timeout{};
        timespec *timeoutPtr = nullptr;
        if (waitMs >= 0) {
            timeout.tv_sec = waitMs / 1000;
            timeout.tv_nsec = long(waitMs % 1000) * 1'000'000;
            timeoutPtr = &timeout;
        }
        pollfd fd{m_master, short(POLLIN | (m_output.empty() ? 0 : POLLOUT)), 0};
        const int ready = ppoll(&fd, 1, timeoutPtr, &waitMask);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            failed("ppoll on the pseudo-terminal");
        }
        if (fd.revents & POLLIN)
            receive();
    }
}

void PtyServer::receive()
{
    char buffer[4096];
    const ssize_t n = ::read(m_master, buffer, sizeof buffer);
    if (n < 0) {
        if (errno == EAGAIN || errno == EINTR)
            return;
        failed("reading the pseudo-terminal master");
    }
    for (const std::string &message : m_framer.feed(std::string_view(buffer, size_t(n)))) {
        m_instrument.receive(message);
        // A serial instrument sends each response as soon as it is ready, before the next message.
        sendReadyReplies();
    }
}

void PtyServer::sendReadyReplies()
{
    while (msUntilNextReply() == 0) {
        const auto reply = m_instrument.takeReply();
        if (!reply)
            break;
        m_output += SerialFramer::frameReply(*reply);
    }
}

void PtyServer::flushOutput()
{
    while (!m_output.empty()) {
        const ssize_t n = ::write(m_master, m_output.data(), m_output.size());
        if (n < 0) {
            if (errno == EAGAIN || errno == EINTR)
                return; // the terminal is full; poll says when it takes more
            failed("writing the pseudo-terminal master");
        }
        m_output.erase(0, size_t(n));
    }
}

} // namespace simserver
