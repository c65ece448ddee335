#include "visa/serialbackend.h"

#include <QDeadlineTimer>
#include <QSerialPort>

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <stdexcept>

#include "visa/resourcename.h"
#include "visa/sessionbase.h"
#include "visa/visaerror.h"

namespace visa {

std::pair<unsigned, std::string> SerialPortMap::parseEntry(std::string_view text)
{
    const size_t equals = text.find('=');
    if (equals == std::string_view::npos)
        throw std::invalid_argument("\"" + std::string(text) + "\" is not of the form ASRLn=PATH");
    const std::string_view resource = text.substr(0, equals);
    const std::string_view path = text.substr(equals + 1);
    const ResourceName name = ResourceName::parse(resource);
    if (name.type != InterfaceType::Serial)
        throw std::invalid_argument("\"" + std::string(resource) + "\" is not a serial port (ASRLn)");
    if (path.empty())
        throw std::invalid_argument("no device path given for " + name.canonical());
    return {name.board, std::string(path)};
}

std::optional<std::string> SerialPortMap::devicePath(unsigned port) const
{
    if (const auto found = m_paths.find(port); found != m_paths.end())
        return found->second;
    if (port == 0)
        return std::nullopt;
    return "/dev/ttyS" + std::to_string(port - 1);
}

std::optional<unsigned> SerialPortMap::portOf(const std::string &device) const
{
    for (const auto &[port, path] : m_paths)
        if (absoluteDevicePath(path) == device)
            return port;
    static constexpr std::string_view kStandard = "/dev/ttyS";
    if (!device.starts_with(kStandard))
        return std::nullopt;
    unsigned index = 0;
    const char *digits = device.data() + kStandard.size();
    const auto [end, ec] = std::from_chars(digits, device.data() + device.size(), index);
    if (ec != std::errc() || end != device.data() + device.size() || end == digits || m_paths.count(index + 1))
        return std::nullopt;
    return index + 1;
}

std::string absoluteDevicePath(const std::string &path)
{
    // The serial library reads a bare name as one under /dev; a path given here means the
    // working folder, as everywhere else on the command line.
    if (path.empty() || path.front() == '/')
        return path;
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(path, error);
    return error ? path : absolute.lexically_normal().string();
}

std::string permissionAdvice(const std::string &device)
{
    struct stat status = {};
    if (::stat(device.c_str(), &status) != 0)
        return {};
    const group *owner = ::getgrgid(status.st_gid);
    const std::string name = owner ? owner->gr_name : std::to_string(status.st_gid);
    return "; the device belongs to group " + name + " and the user must belong to it (sudo adduser $USER " + name
           + ", then log in again)";
}

namespace {

/// @brief One serial line: QSerialPort opens and sets it up; the I/O itself goes straight to its
/// descriptor, one system call per write and a wait and a read per chunk, as a plain client does.
class SerialSession : public SessionBase
{
public:
    static constexpr std::size_t kChunk = 64 * 1024;

    SerialSession(std::string resource, std::string device, const SessionOptions &options)
        : SessionBase(std::move(resource), options)
        , m_device(std::move(device))
    {
        if (options.endIn == SerialEnd::TermChar || options.terminationCharacterEnabled)
            m_terminator = static_cast<char>(options.terminationCharacter);
        else
            fail("Open", "the option text leaves a read no way to end (EndIn = ASRL_END_NONE and "
                         "TerminationCharacterEnabled = FALSE)");
        if (options.endIn == SerialEnd::LastBit || options.endIn == SerialEnd::Break)
            fail("Open", "EndIn = ASRL_END_LAST_BIT or ASRL_END_BREAK is not supported by the built-in serial I/O");
        if (options.endOut == SerialEnd::LastBit || options.endOut == SerialEnd::Break)
            fail("Open", "EndOut = ASRL_END_LAST_BIT or ASRL_END_BREAK is not supported by the built-in serial I/O");
        if (options.endOut == SerialEnd::TermChar)
            m_appendOnWrite = static_cast<char>(options.terminationCharacter);

        m_port.setPortName(QString::fromStdString(m_device));
        if (!m_port.open(QIODevice::ReadWrite)) {
            std::string cause = "cannot open serial device " + m_device + ": " + m_port.errorString().toStdString();
            if (m_port.error() == QSerialPort::PermissionError)
                cause += permissionAdvice(m_device);
            fail("Open", cause);
        }
        configure("BaudRate = " + std::to_string(options.baudRate), m_port.setBaudRate(options.baudRate));
        configure("DataBits = " + std::to_string(options.dataBits),
                  m_port.setDataBits(static_cast<QSerialPort::DataBits>(options.dataBits)));
        configure("Parity", m_port.setParity(parity(options.parity)));
        configure("StopBits", m_port.setStopBits(stopBits(options.stopBits)));
        if (options.flowControl == FlowControl::DtrDsr)
            fail("Open", "FlowControl = ASRL_FLOW_DTR_DSR is not supported by the built-in serial I/O");
        configure("FlowControl", m_port.setFlowControl(flowControl(options.flowControl)));
        // Whatever an earlier user of the line left unread is not a reply to us.
        m_port.clear();
        m_fd = int(m_port.handle());
    }

    void Write(std::string_view data, bool /*end*/) override
    {
        checkOpen("Write");
        checkDevice("Write");
        std::string appended;
        if (m_appendOnWrite && !data.ends_with(*m_appendOnWrite)) {
            appended = std::string(data) + *m_appendOnWrite;
            data = appended;
        }
        const QDeadlineTimer deadline(timeout().ms);
        for (size_t done = 0; done < data.size();) {
            const ssize_t n = ::write(m_fd, data.data() + done, data.size() - done);
            if (n > 0) {
                done += size_t(n);
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && errno != EAGAIN)
                fail("Write", "writing to " + m_device + " failed: " + systemError(errno));
            // The line takes no more for now (flow control holding it): wait until it does.
            if (deadline.hasExpired())
                fail("Write", timeout().expired() + " writing to " + m_device + " (is flow control holding the line?)");
            pollfd line{m_fd, POLLOUT, 0};
            if (::poll(&line, 1, int(deadline.remainingTime())) < 0 && errno != EINTR)
                fail("Write", "writing to " + m_device + " failed: " + systemError(errno));
            if (line.revents & (POLLERR | POLLHUP | POLLNVAL))
                fail("Write", "writing to " + m_device + " failed: the device is gone or no longer works");
        }
    }

    std::string Read() override
    {
        checkOpen("Read");
        checkDevice("Read");
        // While the window's event loop ran, Qt may have taken bytes off the line into its buffer.
        if (m_port.bytesAvailable() > 0) {
            const QByteArray early = m_port.readAll();
            m_reader.keep({early.constData(), size_t(early.size())});
        }
        return m_reader.read(
            [this](char *buffer, size_t capacity, std::chrono::milliseconds remaining) {
                return readChunk(buffer, capacity, remaining);
            },
            m_terminator, timeout(), resource(), m_device);
    }

    void Clear() override
    {
        checkOpen("Clear");
        // A serial line has no device clear; like VISA, drop what is buffered either way.
        m_reader.discard();
        if (!m_port.clear())
            fail("Clear", "clearing the buffers of " + m_device + " failed: " + m_port.errorString().toStdString());
    }

    void Close() override
    {
        if (markClosed() && m_port.isOpen())
            m_port.close();
    }

private:
    /// Qt closes a port whose device vanished while the event loop watched it; its descriptor
    /// number may then belong to another file, so it must not be used again.
    void checkDevice(const char *operation) const
    {
        if (!m_port.isOpen())
            fail(operation,
                 "the device " + m_device + " is gone or no longer works (" + m_port.errorString().toStdString() + ")");
    }

    Chunk readChunk(char *buffer, size_t capacity, std::chrono::milliseconds remaining)
    {
        for (;;) {
            pollfd line{m_fd, POLLIN, 0};
            const int ready = ::poll(&line, 1, int(remaining.count()));
            if (ready < 0) {
                if (errno == EINTR)
                    continue;
                fail("Read", "reading from " + m_device + " failed: " + systemError(errno));
            }
            if (ready == 0)
                return {0, false, true, {}};
            if (line.revents & POLLIN) {
                const ssize_t n = ::read(m_fd, buffer, capacity);
                if (n > 0)
                    return {size_t(n), false, false, {}};
                if (n < 0 && (errno == EAGAIN || errno == EINTR))
                    return {};
                gone(n < 0 ? errno : 0);
            }
            if (line.revents & (POLLERR | POLLHUP | POLLNVAL))
                gone(EIO);
        }
    }

    /// A vanished device (a USB adapter unplugged, a pseudo-terminal's server gone) fails reads.
    [[noreturn]] void gone(int error) const
    {
        fail("Read", "reading from " + m_device + " failed: the device is gone or no longer works"
                         + (error ? " (" + systemError(error) + ")" : std::string()));
    }

    static std::string systemError(int error) { return std::strerror(error); }

    void configure(const std::string &setting, bool ok)
    {
        if (!ok)
            fail("Open", "cannot set " + setting + " on " + m_device + ": " + m_port.errorString().toStdString());
    }

    static QSerialPort::Parity parity(Parity p)
    {
        switch (p) {
        case Parity::None: return QSerialPort::NoParity;
        case Parity::Odd: return QSerialPort::OddParity;
        case Parity::Even: return QSerialPort::EvenParity;
        case Parity::Mark: return QSerialPort::MarkParity;
        case Parity::Space: return QSerialPort::SpaceParity;
        }
        return QSerialPort::NoParity;
    }

    static QSerialPort::StopBits stopBits(StopBits s)
    {
        switch (s) {
        case StopBits::One: return QSerialPort::OneStop;
        case StopBits::OneAndHalf: return QSerialPort::OneAndHalfStop;
        case StopBits::Two: return QSerialPort::TwoStop;
        }
        return QSerialPort::OneStop;
    }

    static QSerialPort::FlowControl flowControl(FlowControl f)
    {
        switch (f) {
        case FlowControl::XonXoff: return QSerialPort::SoftwareControl;
        case FlowControl::RtsCts: return QSerialPort::HardwareControl;
        case FlowControl::None:
        case FlowControl::DtrDsr: break;
        }
        return QSerialPort::NoFlowControl;
    }

    std::string m_device;
    std::optional<char> m_terminator;
    std::optional<char> m_appendOnWrite;
    QSerialPort m_port;
    int m_fd = -1;
    ReplyReader m_reader{kChunk, kChunk};
};

} // namespace

SerialBackend::SerialBackend(SerialPortMap ports)
    : m_ports(std::move(ports))
{
}

std::unique_ptr<IMessage> SerialBackend::open(const ResourceName &name, const SessionOptions &options)
{
    const std::string resource = name.canonical();
    if (name.type != InterfaceType::Serial)
        throw VisaError("Open", resource, "not a serial resource");
    const std::optional<std::string> device = m_ports.devicePath(name.board);
    if (!device)
        throw VisaError("Open", resource, "ASRL0 has no default serial device; name one with --port ASRL0=PATH");
    return std::make_unique<SerialSession>(resource, absoluteDevicePath(*device), options);
}

} // namespace visa
