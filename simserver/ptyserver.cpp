#include "simserver/ptyserver.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "sim/qv3310.h"
#include "sim/simsession.h"

namespace simserver {

namespace {

using Duration = sim::Clock::Duration;

/// Bytes taken from the terminal at a time; paced, the next are read only once these are carried
/// out, so a client writing without pause meets the terminal's flow control, not a growing queue.
constexpr std::size_t kReadChunk = 256;
/// A long reply is handed to the terminal in pieces at least this often.
constexpr Duration kWriteInterval = std::chrono::milliseconds(10);
/// Past this, the buffer of a long reply is given back once it has gone.
constexpr std::size_t kKeptOutputCapacity = 64 * 1024;

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

PtyServer::PtyServer(sim::Qv3310 &instrument, Options options)
    : m_instrument(instrument)
    , m_options(options)
    , m_pacer(options.paced ? options.baudRate : 0, sim::SimSession::kBitsPerCharacter,
              sim::SimSession::kTransactionTime)
    , m_framer(true, sim::Qv3310::kInputBufferSize)
{
    if (!(m_options.timeScale > 0) || !std::isfinite(m_options.timeScale))
        throw std::invalid_argument("the time scale must be a positive number");
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
    // Packet mode: a client's tcflush shows as a control byte, which is how a clear reaches us.
    int packet = 1;
    if (ioctl(m_master, TIOCPKT, &packet) != 0)
        failed("ioctl(TIOCPKT) on the pseudo-terminal master");
    // Our own open of the device came before the watch, so every event is a client's.
    m_events = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_events < 0)
        failed("inotify_init1");
    if (inotify_add_watch(m_events, m_devicePath.c_str(), IN_OPEN | IN_CLOSE) < 0)
        failed("watching " + m_devicePath + " for clients");
}

PtyServer::~PtyServer()
{
    if (m_events >= 0)
        ::close(m_events);
    if (m_slave >= 0)
        ::close(m_slave);
    if (m_master >= 0)
        ::close(m_master);
}

std::size_t PtyServer::bufferedBytes() const
{
    std::size_t bytes = m_framer.pending() + m_output.size();
    for (const Message &message : m_received)
        bytes += message.text.size();
    return bytes;
}

void PtyServer::serve(const volatile std::sig_atomic_t &stop, const sigset_t &waitMask)
{
    while (!stop) {
        deliverDue();
        startReply();
        writeDue();

        const Duration due = nextDue();
        timespec timeout{};
        timespec *timeoutPtr = nullptr;
        if (due != Duration::max()) {
            const Duration wait = std::max(due - m_instrument.clock().now(), Duration::zero());
            // In wall-clock time, rounded up: waking a little late is harmless, early only spins.
            const auto wallNs = static_cast<long long>(
                std::ceil(static_cast<double>(wait.count()) / m_options.timeScale));
            timeout.tv_sec = static_cast<time_t>(wallNs / 1'000'000'000);
            timeout.tv_nsec = static_cast<long>(wallNs % 1'000'000'000);
            timeoutPtr = &timeout;
        }
        pollfd fds[2] = {
            {m_master, short((m_received.empty() ? POLLIN : 0) | (m_outputBlocked ? POLLOUT : 0)), 0},
            {m_events, POLLIN, 0},
        };
        const int ready = ppoll(fds, 2, timeoutPtr, &waitMask);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            failed("ppoll on the pseudo-terminal");
        }
        if (fds[1].revents & POLLIN)
            readClientEvents();
        if (fds[0].revents & POLLOUT)
            m_outputBlocked = false;
        if (fds[0].revents & POLLIN)
            readLine();
    }
}

void PtyServer::readLine()
{
    char buffer[kReadChunk + 1];
    const ssize_t n = ::read(m_master, buffer, sizeof buffer);
    if (n <= 0) {
        if (n == 0 || errno == EAGAIN || errno == EINTR)
            return;
        failed("reading the pseudo-terminal master");
    }
    if (buffer[0] == TIOCPKT_DATA)
        take(std::string_view(buffer + 1, size_t(n) - 1), m_options.paced);
    else if (buffer[0] & TIOCPKT_FLUSHWRITE)
        clearLine(); // the client dropped what it had not sent: a clear (our own flushes drop only its input)
}

void PtyServer::take(std::string_view bytes, bool paced)
{
    const Duration now = m_instrument.clock().now();
    // Each message takes effect once its last character has crossed the line.
    for (std::size_t start = 0; start < bytes.size();) {
        std::size_t end = bytes.find_first_of("\r\n", start);
        end = end == std::string_view::npos ? bytes.size() : end + 1;
        const std::string_view piece = bytes.substr(start, end - start);
        const Duration at = paced ? m_pacer.received(now, piece.size()) : now;
        for (std::string &message : m_framer.feed(piece))
            m_received.push_back({std::move(message), at});
        start = end;
    }
}

void PtyServer::deliverDue()
{
    // One message at a time, and only once the reply before it has left: a serial instrument
    // sends each response before it takes the next command.
    while (!m_received.empty() && m_output.empty() && m_received.front().at <= m_instrument.clock().now()) {
        const Message message = std::move(m_received.front());
        m_received.pop_front();
        m_instrument.receive(message.text);
        startReply();
        writeDue();
    }
}

void PtyServer::startReply()
{
    if (!m_output.empty())
        return;
    const Duration now = m_instrument.clock().now();
    const auto at = m_instrument.nextReplyAt();
    if (!at || *at > now)
        return;
    if (const auto reply = m_instrument.takeReply()) {
        m_output = sim::MessageFramer::frameSerialReply(*reply);
        m_written = 0;
        m_pacer.startReply(now, m_output.size());
    }
}

void PtyServer::writeDue()
{
    if (m_output.empty() || m_outputBlocked)
        return;
    const std::size_t due = m_pacer.sent(m_instrument.clock().now());
    while (m_written < due) {
        const ssize_t n = ::write(m_master, m_output.data() + m_written, due - m_written);
        if (n < 0) {
            if (errno == EAGAIN) {
                m_outputBlocked = true; // the client is not reading; poll says when it takes more
                return;
            }
            if (errno == EINTR)
                continue;
            failed("writing the pseudo-terminal master");
        }
        m_written += size_t(n);
    }
    if (m_written == m_output.size()) {
        m_output.clear();
        if (m_output.capacity() > kKeptOutputCapacity)
            m_output.shrink_to_fit();
        m_written = 0;
    }
}

void PtyServer::readClientEvents()
{
    alignas(inotify_event) char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(m_events, buffer, sizeof buffer);
        if (n <= 0) {
            if (n == 0 || errno == EAGAIN || errno == EINTR)
                return;
            failed("reading the events of " + m_devicePath);
        }
        std::vector<std::uint32_t> masks;
        for (ssize_t i = 0; i < n;) {
            const auto *event = reinterpret_cast<const inotify_event *>(buffer + i);
            masks.push_back(event->mask);
            i += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
        for (std::size_t i = 0; i < masks.size(); ++i) {
            if (masks[i] & IN_OPEN)
                ++m_clients;
            if ((masks[i] & IN_CLOSE) && --m_clients <= 0) {
                m_clients = 0;
                // What is waiting on the line is the last client's, unless a new one has come
                // already: then it may be the newcomer's first command, which must not be lost.
                const bool reopened = std::any_of(masks.begin() + static_cast<std::ptrdiff_t>(i) + 1, masks.end(),
                                                  [](std::uint32_t mask) { return (mask & IN_OPEN) != 0; });
                clientGone(!reopened);
            }
            if (masks[i] & IN_Q_OVERFLOW) // events lost: count afresh from nobody
                m_clients = 0;
        }
    }
}

void PtyServer::clientGone(bool drain)
{
    // What the client sent before it went is carried out; only its replies are lost.
    if (drain) {
        char buffer[kReadChunk + 1];
        for (;;) {
            const ssize_t n = ::read(m_master, buffer, sizeof buffer);
            if (n <= 0)
                break;
            if (buffer[0] == TIOCPKT_DATA)
                take(std::string_view(buffer + 1, size_t(n) - 1), false);
        }
    }
    for (const Message &message : m_received)
        m_instrument.receive(message.text);
    m_received.clear();
    clearLine();
}

void PtyServer::clearLine()
{
    m_received.clear();
    m_framer.clear();
    m_output.clear();
    m_output.shrink_to_fit();
    m_written = 0;
    m_outputBlocked = false;
    // Replies the terminal holds that nobody read.
    tcflush(m_slave, TCIFLUSH);
    m_instrument.deviceClear();
    m_pacer.clear(m_instrument.clock().now());
}

Duration PtyServer::nextDue() const
{
    Duration due = Duration::max();
    const Duration now = m_instrument.clock().now();
    if (m_output.empty()) {
        if (!m_received.empty())
            due = std::min(due, m_received.front().at);
        if (const auto at = m_instrument.nextReplyAt())
            due = std::min(due, *at);
    } else if (!m_outputBlocked) {
        due = std::min(m_pacer.replyEnd(), now + kWriteInterval);
    }
    return due;
}

} // namespace simserver
