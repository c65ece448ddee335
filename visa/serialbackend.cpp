#include "visa/serialbackend.h"

#include <QDeadlineTimer>
#include <QSerialPort>

#include <stdexcept>

#include "visa/resourcename.h"
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

namespace {

/// @brief One serial line, driven with QSerialPort's blocking calls.
class SerialSession : public IMessage
{
public:
    SerialSession(std::string resource, std::string device, const SessionOptions &options)
        : m_resource(std::move(resource))
        , m_device(std::move(device))
        , m_timeoutMs(options.timeoutOrDefault())
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
        if (!m_port.open(QIODevice::ReadWrite))
            fail("Open", "cannot open serial device " + m_device + ": " + m_port.errorString().toStdString());
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
    }

    std::string ResourceName() const override { return m_resource; }

    void Write(std::string_view data, bool /*end*/) override
    {
        checkOpen("Write");
        std::string message(data);
        if (m_appendOnWrite && !message.ends_with(*m_appendOnWrite))
            message += *m_appendOnWrite;
        const QDeadlineTimer deadline(m_timeoutMs);
        if (m_port.write(message.data(), qint64(message.size())) != qint64(message.size()))
            fail("Write", "writing to " + m_device + " failed: " + m_port.errorString().toStdString());
        while (m_port.bytesToWrite() > 0) {
            if (!m_port.waitForBytesWritten(int(deadline.remainingTime()))) {
                if (m_port.error() != QSerialPort::TimeoutError && m_port.error() != QSerialPort::NoError)
                    fail("Write", "writing to " + m_device + " failed: " + portError());
                if (deadline.hasExpired())
                    fail("Write", "time-out after " + std::to_string(m_timeoutMs) + " ms writing to " + m_device
                                      + " (is flow control holding the line?)");
            }
        }
    }

    std::string Read() override
    {
        checkOpen("Read");
        const QDeadlineTimer deadline(m_timeoutMs);
        // Bytes may have arrived while a write was waiting to drain.
        takeAvailable();
        for (;;) {
            if (const size_t at = m_pending.find(*m_terminator); at != std::string::npos) {
                std::string reply = m_pending.substr(0, at + 1);
                m_pending.erase(0, at + 1);
                return reply;
            }
            if (deadline.hasExpired() || !m_port.waitForReadyRead(int(deadline.remainingTime()))) {
                if (m_port.error() != QSerialPort::TimeoutError && m_port.error() != QSerialPort::NoError)
                    fail("Read", "reading from " + m_device + " failed: " + portError());
                if (deadline.hasExpired()) {
                    const size_t partial = m_pending.size();
                    m_pending.clear();
                    fail("Read", "time-out after " + std::to_string(m_timeoutMs) + " ms: no complete reply from "
                                     + m_device + (partial ? " (" + std::to_string(partial) + " bytes without terminator)"
                                                           : std::string(" (nothing received)")));
                }
            }
            takeAvailable();
        }
    }

    void Clear() override
    {
        checkOpen("Clear");
        // A serial line has no device clear; like VISA, drop what is buffered either way.
        m_pending.clear();
        if (!m_port.clear())
            fail("Clear", "clearing the buffers of " + m_device + " failed: " + m_port.errorString().toStdString());
    }

    void Close() override
    {
        if (m_port.isOpen())
            m_port.close();
        m_closed = true;
    }

private:
    [[noreturn]] void fail(const char *operation, const std::string &cause) const
    {
        throw VisaError(operation, m_resource, cause);
    }

    void checkOpen(const char *operation) const
    {
        if (m_closed)
            fail(operation, "the session is closed");
    }

    void configure(const std::string &setting, bool ok)
    {
        if (!ok)
            fail("Open", "cannot set " + setting + " on " + m_device + ": " + m_port.errorString().toStdString());
    }

    std::string portError() const
    {
        // A vanished device (a USB adapter unplugged, a pseudo-terminal's server gone) fails reads,
        // and Qt's text then shows whatever errno was left over; say what it means.
        if (m_port.error() == QSerialPort::ResourceError || m_port.error() == QSerialPort::ReadError)
            return "the device is gone or no longer works (" + m_port.errorString().toStdString() + ")";
        return m_port.errorString().toStdString();
    }

    void takeAvailable()
    {
        const QByteArray bytes = m_port.readAll();
        m_pending.append(bytes.constData(), size_t(bytes.size()));
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

    std::string m_resource;
    std::string m_device;
    int m_timeoutMs = SessionOptions::kDefaultTimeoutMs;
    std::optional<char> m_terminator;
    std::optional<char> m_appendOnWrite;
    QSerialPort m_port;
    std::string m_pending; ///< received bytes not yet returned by Read
    bool m_closed = false;
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
    return std::make_unique<SerialSession>(resource, *device, options);
}

} // namespace visa
