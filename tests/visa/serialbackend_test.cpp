#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <optional>
#include <cstdlib>
#include <thread>

#include "readloopcases.h"
#include "visa/serialbackend.h"
#include "visa/visaerror.h"
#include "support/serialoptions.h"

namespace {

using namespace visa;
using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::ThrowsMessage;

using support::kSerialOptions;

/// @brief A pseudo-terminal whose device side the backend opens as ASRL1; the test is the instrument.
class SerialBackendTest : public ::testing::Test
{
protected:
    SerialBackendTest()
    {
        m_master = posix_openpt(O_RDWR | O_NOCTTY);
        EXPECT_GE(m_master, 0);
        grantpt(m_master);
        unlockpt(m_master);
        device = ptsname(m_master);
        SerialPortMap ports;
        ports.set(1, device);
        backend = std::make_unique<SerialBackend>(ports);
    }
    ~SerialBackendTest() override { closeLine(); }

    std::unique_ptr<IMessage> open(const char *options = kSerialOptions)
    {
        return backend->open(ResourceName::parse("ASRL1::INSTR"), SessionOptions::parse(options));
    }

    void send(std::string_view bytes) const
    {
        ASSERT_EQ(::write(m_master, bytes.data(), bytes.size()), ssize_t(bytes.size()));
    }

    /// What the instrument received, waiting for up to @p size bytes (a hang guard, not a timing check).
    std::string received(size_t size) const
    {
        std::string bytes;
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (bytes.size() < size && std::chrono::steady_clock::now() < giveUp) {
            pollfd fd{m_master, POLLIN, 0};
            if (poll(&fd, 1, 100) == 1) {
                char buffer[256];
                const ssize_t n = ::read(m_master, buffer, sizeof buffer);
                if (n <= 0)
                    break;
                bytes.append(buffer, size_t(n));
            }
        }
        return bytes;
    }

    termios lineSettings() const
    {
        termios settings{};
        // On Linux the master side reports the settings of the device side.
        EXPECT_EQ(tcgetattr(m_master, &settings), 0);
        return settings;
    }

    void closeLine()
    {
        if (m_master >= 0)
            ::close(m_master);
        m_master = -1;
    }

    std::string device;
    std::unique_ptr<SerialBackend> backend;

    int m_master = -1;
};

TEST_F(SerialBackendTest, WritesReachTheLineAsTheyAre)
{
    auto session = open();
    EXPECT_EQ(session->ResourceName(), "ASRL1::INSTR");
    session->Write("SYSTem:REMote\n", true);
    session->Write("*IDN?\n", true);
    EXPECT_EQ(received(20), "SYSTem:REMote\n*IDN?\n");
}

TEST_F(SerialBackendTest, EndOutTermCharAddsTheTerminatorToEachWrite)
{
    auto session = open("TerminationCharacter = 13 ; EndOut = ASRL_END_TERMCHAR");
    session->Write("*CLS", true);
    session->Write("*RST\r", true);
    EXPECT_EQ(received(10), "*CLS\r*RST\r");
}

TEST_F(SerialBackendTest, EachReadReturnsOneReplyUpToItsTerminator)
{
    auto session = open();
    send("QVTEK,QV3310,QV26001729,2.04\r\n+1\r\n");
    EXPECT_EQ(session->Read(), "QVTEK,QV3310,QV26001729,2.04\r\n");
    EXPECT_EQ(session->Read(), "+1\r\n");
}

TEST_F(SerialBackendTest, AReplyArrivingInPiecesIsReadWhole)
{
    auto session = open();
    std::thread instrument([this] {
        send("+2.345E+01,00");
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        send("0000012.345,101\r");
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        send("\n");
    });
    const std::string reply = session->Read();
    instrument.join();
    EXPECT_EQ(reply, "+2.345E+01,000000012.345,101\r\n");
}

TEST_F(SerialBackendTest, FlowControlCharactersFromTheInstrumentAreNotPartOfTheReply)
{
    auto session = open();
    send("\x13+1\x11\r\n");
    EXPECT_EQ(session->Read(), "+1\r\n");
}

TEST_F(SerialBackendTest, ANoReplyTimesOutNamingTheResourceAndTheDevice)
{
    auto session = open("Timeout = 200 ; TerminationCharacterEnabled = TRUE");
    EXPECT_THAT([&] { session->Read(); },
                ThrowsMessage<VisaError>(AllOf(HasSubstr("Read on ASRL1::INSTR"), HasSubstr("time-out after 200 ms"),
                                               HasSubstr(device), HasSubstr("nothing received"))));
    send("+1"); // no terminator ever comes
    EXPECT_THAT([&] { session->Read(); }, ThrowsMessage<VisaError>(HasSubstr("2 bytes without terminator")));
}

TEST_F(SerialBackendTest, TheLineGetsTheSettingsOfTheOptionText)
{
    struct Case
    {
        const char *options;
        speed_t speed;
        bool twoStopBits;
        bool xonXoff;
        bool rtsCts;
    };
    const Case cases[] = {
        {kSerialOptions, B115200, false, true, false},
        {"BaudRate = 9600 ; StopBits = ASRL_STOP_TWO ; FlowControl = ASRL_FLOW_NONE", B9600, true, false, false},
        {"BaudRate = 19200 ; FlowControl = ASRL_FLOW_RTS_CTS", B19200, false, false, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.options);
        auto session = open(c.options);
        const termios line = lineSettings();
        EXPECT_EQ(cfgetospeed(&line), c.speed);
        EXPECT_EQ(line.c_cflag & CSIZE, tcflag_t(CS8));
        EXPECT_EQ(line.c_cflag & PARENB, 0u);
        EXPECT_EQ((line.c_cflag & CSTOPB) != 0, c.twoStopBits);
        EXPECT_EQ((line.c_iflag & IXON) != 0, c.xonXoff);
        EXPECT_EQ((line.c_iflag & IXOFF) != 0, c.xonXoff);
        EXPECT_EQ((line.c_cflag & CRTSCTS) != 0, c.rtsCts);
        EXPECT_EQ(line.c_lflag & (ECHO | ICANON), 0u); // raw: nothing echoed or edited
    }
}

TEST_F(SerialBackendTest, ASettingTheLineCannotTakeFailsTheOpenNamingIt)
{
    // A pseudo-terminal carries 8 data bits and no parity only, as a line that cannot do 7 would.
    EXPECT_THAT([&] { open("DataBits = 7"); },
                ThrowsMessage<VisaError>(
                    AllOf(HasSubstr("Open on ASRL1::INSTR"), HasSubstr("DataBits = 7"), HasSubstr(device))));
}

TEST_F(SerialBackendTest, AnInstrumentThatGoesAwayFailsTheReadInsteadOfHanging)
{
    auto session = open();
    closeLine();
    EXPECT_THAT([&] { session->Read(); }, ThrowsMessage<VisaError>(AllOf(HasSubstr("Read on ASRL1::INSTR"),
                                                                         HasSubstr(device), HasSubstr("gone"))));
}

TEST_F(SerialBackendTest, AClosedSessionRefusesIo)
{
    auto session = open();
    session->Close();
    session->Close();
    EXPECT_THROW(session->Write("*IDN?\n", true), VisaError);
    EXPECT_THROW(session->Read(), VisaError);
}

TEST_F(SerialBackendTest, OptionsThatLeaveAReadNoWayToEndAreRefused)
{
    EXPECT_THAT([&] { open("EndIn = ASRL_END_NONE ; TerminationCharacterEnabled = FALSE"); },
                ThrowsMessage<VisaError>(AllOf(HasSubstr("Open on ASRL1::INSTR"), HasSubstr("no way to end"))));
}

TEST_F(SerialBackendTest, TheReadLoopJoinsPiecesAndSplitsReplies)
{
    std::vector<std::thread> senders;
    const readloop::Send send = [&](const std::string &stream, std::size_t piece) {
        // The line takes a few kilobytes at a time: a writer of its own, as an instrument is.
        senders.emplace_back([this, stream, piece] {
            const std::size_t step = piece ? piece : stream.size();
            for (std::size_t at = 0; at < stream.size(); at += step) {
                const std::string_view part = std::string_view(stream).substr(at, step);
                for (std::size_t done = 0; done < part.size();) {
                    const ssize_t n = ::write(m_master, part.data() + done, part.size() - done);
                    if (n <= 0)
                        return; // the test closed the line after a refusal
                    done += std::size_t(n);
                }
                if (piece)
                    std::this_thread::sleep_for(std::chrono::milliseconds(1)); // let the reader see the piece alone
            }
        });
    };
    const readloop::Open openSession = [this] { return open(); };
    readloop::expectRepliesAsSent(send, openSession);
    for (std::thread &sender : senders)
        sender.join();
    senders.clear();
    readloop::expectOverlongReplyRefused(send, openSession);
    closeLine(); // frees a sender blocked on the rest of the refused reply
    for (std::thread &sender : senders)
        sender.join();
}

TEST_F(SerialBackendTest, ATimeOutSaysWhichTimeOutApplied)
{
    auto session = open("Timeout = 50 ; TerminationCharacterEnabled = TRUE");
    EXPECT_THAT([&] { session->Read(); },
                ThrowsMessage<VisaError>(HasSubstr("time-out after 50 ms (Timeout = 50 in the option text)")));
}

TEST(SerialPortMapTest, PortsMapToTheirDevice)
{
    SerialPortMap ports;
    ports.set(3, "/dev/ttyUSB0");
    ports.set(0, "/tmp/instrument");
    EXPECT_EQ(ports.devicePath(1), "/dev/ttyS0");
    EXPECT_EQ(ports.devicePath(2), "/dev/ttyS1");
    EXPECT_EQ(ports.devicePath(3), "/dev/ttyUSB0");
    EXPECT_EQ(ports.devicePath(0), "/tmp/instrument");
    EXPECT_EQ(SerialPortMap{}.devicePath(0), std::nullopt);
}

TEST(SerialPortMapTest, EntriesAreParsedStrictly)
{
    EXPECT_EQ(SerialPortMap::parseEntry("ASRL1=/dev/pts/3"), std::make_pair(1u, std::string("/dev/pts/3")));
    EXPECT_EQ(SerialPortMap::parseEntry("asrl12::INSTR=/tmp/a=b"), std::make_pair(12u, std::string("/tmp/a=b")));
    const std::pair<const char *, const char *> bad[] = {
        {"ASRL1", "ASRLn=PATH"},
        {"ASRL1=", "no device path"},
        {"GPIB0::9=/dev/x", "not a serial port"},
        {"ASRL=/dev/x", "serial port number"},
        {"ASRL1::INSTR::X=/dev/x", "unexpected"},
        {"../ASRL1=/dev/x", "not a valid resource name"},
    };
    for (const auto &[entry, reason] : bad)
        EXPECT_THAT(([&, entry = entry] { SerialPortMap::parseEntry(entry); }),
                    ThrowsMessage<std::invalid_argument>(HasSubstr(reason)))
            << entry;
}

TEST_F(SerialBackendTest, ARelativePortPathIsOpenedInTheWorkingFolderAndNamedWhole)
{
    char folderTemplate[] = "/tmp/qvscan-port-XXXXXX";
    ASSERT_NE(mkdtemp(folderTemplate), nullptr);
    const std::string folder = folderTemplate;
    ASSERT_EQ(symlink(device.c_str(), (folder + "/tty0").c_str()), 0);
    char previous[4096];
    ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
    ASSERT_EQ(chdir(folder.c_str()), 0);

    SerialPortMap ports;
    ports.set(1, "tty0"); // a bare name: the serial library alone would look for /dev/tty0
    ports.set(2, "missing");
    SerialBackend relative(ports);
    auto session = relative.open(ResourceName::parse("ASRL1"), SessionOptions::parse(kSerialOptions));
    session->Write("*IDN?\n", true);
    EXPECT_EQ(received(6), "*IDN?\n");
    EXPECT_THAT([&] { relative.open(ResourceName::parse("ASRL2"), {}); },
                ThrowsMessage<VisaError>(HasSubstr("cannot open serial device " + folder + "/missing")));
    EXPECT_EQ(ports.portOf(folder + "/tty0"), 1u);

    EXPECT_EQ(chdir(previous), 0);
    std::remove((folder + "/tty0").c_str());
    rmdir(folder.c_str());
}

TEST(SerialPortMapTest, EachDeviceHasTheAddressThatReachesIt)
{
    SerialPortMap ports;
    ports.set(1, "/dev/ttyUSB0");
    ports.set(4, "/dev/ttyS7");
    const std::pair<const char *, std::optional<unsigned>> cases[] = {
        {"/dev/ttyUSB0", 1u},         {"/dev/ttyS0", std::nullopt}, // ASRL1 is mapped elsewhere
        {"/dev/ttyS1", 2u},           {"/dev/ttyS7", 4u},
        {"/dev/ttyS3", std::nullopt}, // ASRL4 is mapped
        {"/dev/ttyS10", 11u},         {"/dev/ttyACM0", std::nullopt},
        {"/dev/ttyS", std::nullopt},  {"/dev/ttyS1x", std::nullopt},
    };
    for (const auto &[device, port] : cases)
        EXPECT_EQ(ports.portOf(device), port) << device;
}

TEST(SerialBackendOpen, APermissionFailureNamesTheGroupTheUserMustBelongTo)
{
    char path[] = "/tmp/qvscan-tty-XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    ::close(fd);
    struct stat status = {};
    ASSERT_EQ(stat(path, &status), 0);
    const group *owner = getgrgid(status.st_gid);
    ASSERT_NE(owner, nullptr);
    EXPECT_THAT(permissionAdvice(path), AllOf(HasSubstr(std::string("belongs to group ") + owner->gr_name),
                                              HasSubstr("the user must belong to it")));
    EXPECT_EQ(permissionAdvice("/nonexistent/tty"), "");

    // The whole message, where the user really may not open the device (root may open anything).
    if (geteuid() != 0) {
        ASSERT_EQ(chmod(path, 0), 0);
        SerialPortMap ports;
        ports.set(1, path);
        EXPECT_THAT(
            [&] { SerialBackend(ports).open(ResourceName::parse("ASRL1"), {}); },
            ThrowsMessage<VisaError>(AllOf(HasSubstr(path), HasSubstr(std::string("group ") + owner->gr_name))));
    }
    std::remove(path);
}

TEST(SerialBackendOpen, ADeviceThatCannotBeOpenedIsNamed)
{
    SerialPortMap ports;
    ports.set(1, "/nonexistent/tty");
    SerialBackend backend(ports);
    EXPECT_THAT([&] { backend.open(ResourceName::parse("ASRL1"), {}); },
                ThrowsMessage<VisaError>(AllOf(HasSubstr("Open on ASRL1::INSTR"), HasSubstr("/nonexistent/tty"))));
    EXPECT_THAT([&] { SerialBackend{}.open(ResourceName::parse("ASRL0"), {}); },
                ThrowsMessage<VisaError>(AllOf(HasSubstr("ASRL0::INSTR"), HasSubstr("no default serial device"))));
}

} // namespace
