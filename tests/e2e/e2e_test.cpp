// The programs themselves, end to end: qvscan with its built-in serial I/O against qvscan-sim on a
// pseudo-terminal. Every wait has a generous limit so that a fault cannot hang the test run.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <numeric>
#include <sstream>
#include <string>
#include <string_view>

namespace {

using ::testing::AllOf;
using ::testing::HasSubstr;

/// For a program to start, answer or end on a signal.
constexpr int kStartLimitMs = 10'000;
/// For a whole run of qvscan: on a loaded machine a sanitized run can stall for seconds.
constexpr int kRunLimitMs = 120'000;
/// The instrument's clock in these tests: a fifteen-second scan in 0.15 s, at the line's pace.
const QStringList kFastClock{QStringLiteral("--time-scale"), QStringLiteral("100")};

/// @brief qvscan-sim running for one test, ended with SIGTERM.
class SimServer
{
public:
    explicit SimServer(QStringList arguments = {})
    {
        m_process.start(QStringLiteral(QVSCAN_SIM_PATH), arguments);
        if (!m_process.waitForStarted(kStartLimitMs))
            return;
        while (!m_process.canReadLine() && m_process.waitForReadyRead(kStartLimitMs)) {
        }
        m_device = QString::fromLocal8Bit(m_process.readLine()).trimmed();
    }
    ~SimServer()
    {
        if (m_process.state() != QProcess::NotRunning)
            stop();
    }

    /// The pseudo-terminal it serves on; empty when it did not start.
    const QString &device() const { return m_device; }
    qint64 pid() const { return m_process.processId(); }

    /// Waits for the end after a signal; true when it ended by itself with status 0.
    bool waitForCleanEnd()
    {
        return m_process.waitForFinished(kStartLimitMs) && m_process.exitStatus() == QProcess::NormalExit
               && m_process.exitCode() == 0;
    }

    /// Sends SIGTERM and waits; true when it ended by itself with status 0.
    bool stop()
    {
        m_process.terminate();
        if (m_process.waitForFinished(kStartLimitMs))
            return m_process.exitStatus() == QProcess::NormalExit && m_process.exitCode() == 0;
        m_process.kill();
        m_process.waitForFinished();
        return false;
    }

private:
    QProcess m_process;
    QString m_device;
};

/// @brief A client of the pseudo-terminal, as a terminal program or a serial library has it.
class Client
{
public:
    explicit Client(const QString &device)
        : m_fd(::open(device.toLocal8Bit().constData(), O_RDWR | O_NOCTTY))
    {
    }
    ~Client() { close(); }
    Client(const Client &) = delete;
    Client &operator=(const Client &) = delete;

    bool isOpen() const { return m_fd >= 0; }
    void close()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }

    bool send(std::string_view bytes)
    {
        while (!bytes.empty()) {
            const ssize_t n = ::write(m_fd, bytes.data(), bytes.size());
            if (n <= 0)
                return false;
            bytes.remove_prefix(static_cast<std::size_t>(n));
        }
        return true;
    }

    /// True once something is there to read, within the limit.
    bool waitForInput()
    {
        pollfd fd{m_fd, POLLIN, 0};
        return ::poll(&fd, 1, kStartLimitMs) == 1;
    }

    /// One reply line with its CR LF; what came when the limit ran out.
    std::string readLine()
    {
        std::string line;
        while (!line.ends_with('\n') && waitForInput()) {
            char c = 0;
            if (::read(m_fd, &c, 1) != 1)
                break;
            line += c;
        }
        return line;
    }

    /// True once nothing waits to be read, within the limit: the server drops what the last
    /// client left as soon as it notices the close, which may be just after the next one opens.
    bool waitUntilNothingWaits()
    {
        const auto limit = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStartLimitMs);
        int waiting = 0;
        while (::ioctl(m_fd, FIONREAD, &waiting) == 0 && waiting > 0 && std::chrono::steady_clock::now() < limit)
            ::usleep(1000);
        return waiting == 0;
    }

    /// Drops what this client has not sent and not read, as a serial library's clear does.
    void flush() { tcflush(m_fd, TCIOFLUSH); }

private:
    int m_fd;
};

struct BatchRun
{
    bool finished = false;
    int exitCode = -1;
    std::string out;
    std::string err;
};

BatchRun runBatch(const QString &device)
{
    QProcess qvscan;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    qvscan.setProcessEnvironment(environment);
    qvscan.start(QStringLiteral(QVSCAN_PATH),
                 {QStringLiteral("--batch"), QStringLiteral("--builtin-io"), QStringLiteral("--port"),
                  QStringLiteral("ASRL1=") + device, QStringLiteral("--address"), QStringLiteral("ASRL1")});
    BatchRun run;
    run.finished = qvscan.waitForFinished(kRunLimitMs);
    if (!run.finished) {
        qvscan.kill();
        qvscan.waitForFinished();
    }
    run.exitCode = qvscan.exitCode();
    run.out = qvscan.readAllStandardOutput().toStdString();
    run.err = qvscan.readAllStandardError().toStdString();
    return run;
}

TEST(EndToEnd, ABatchRunOverThePseudoTerminalListsFortyReadings)
{
    SimServer server(kFastClock);
    ASSERT_FALSE(server.device().isEmpty()) << "qvscan-sim printed no device path";
    const BatchRun run = runBatch(server.device());
    ASSERT_TRUE(run.finished) << "qvscan did not finish; stderr:\n" << run.err;
    EXPECT_EQ(run.exitCode, 0) << run.err;

    std::vector<int> numbers;
    std::istringstream lines(run.out);
    for (std::string line; std::getline(lines, line);) {
        int number = 0;
        char tab = 0;
        if (std::sscanf(line.c_str(), " %d%c", &number, &tab) == 2 && tab == '\t' && line[0] == ' ')
            numbers.push_back(number);
    }
    std::vector<int> expected(40);
    std::iota(expected.begin(), expected.end(), 1);
    EXPECT_EQ(numbers, expected) << run.out;
    EXPECT_TRUE(server.stop());
}

TEST(EndToEnd, AnInstrumentFallingSilentMidRunEndsWithATimeOutNamingTheResource)
{
    // Forty messages take the run past "INITiate" into the wait for the scan.
    SimServer server(kFastClock + QStringList{QStringLiteral("--fault"), QStringLiteral("stop-answering-after=40")});
    ASSERT_FALSE(server.device().isEmpty()) << "qvscan-sim printed no device path";
    const BatchRun run = runBatch(server.device());
    ASSERT_TRUE(run.finished) << "qvscan hung; stderr:\n" << run.err;
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_THAT(run.err, AllOf(HasSubstr("ASRL1::INSTR"), HasSubstr("time-out")));
}

TEST(EndToEnd, TheServerLinksItsDeviceAndRemovesTheLinkWhenTerminated)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString link = dir.filePath(QStringLiteral("qv3310"));
    SimServer server({QStringLiteral("--link"), link});
    ASSERT_FALSE(server.device().isEmpty());
    EXPECT_EQ(QFileInfo(link).symLinkTarget(), server.device());
    EXPECT_TRUE(server.stop());
    EXPECT_FALSE(QFileInfo::exists(link) || QFileInfo(link).isSymLink());
}

TEST(EndToEnd, TheCommandLineWorksWithoutADisplay)
{
    struct Case
    {
        QStringList arguments;
        int exitCode;
        const char *says; ///< on standard output or standard error
    };
    const Case cases[] = {
        {{"--bogus"}, 2, "Unknown option 'bogus'"},
        {{"--batch", "--sim-fault", "no-dmm"}, 2, "--sim-fault needs --simulate"},
        {{"--simulate", "--sim-fault", "no-such-fault"}, 2, "unknown fault \"no-such-fault\""},
        {{"--simulate", "--visa-library", "/nonexistent/libvisa.so"}, 2, "--visa-library"},
        {{"--version"}, 0, "qvscan "},
        {{"--help"}, 0, "--simulate"},
        {{"--simulate", "--batch", "--sim-fault", "absent"}, 1, "Open on GPIB0::9::INSTR failed: resource not found"},
        {{"--simulate", "--batch", "--address", "TCPIP0::1.2.3.4::INSTR"}, 1, "No Resources found"},
        // A network address that names GPIB is opened, and refused by its interface type.
        {{"--simulate", "--batch", "--address", "TCPIP0::GPIB0,9::INSTR"}, 1, "TCPIP resources are not supported"},
        {{"--list-resources", "--simulate", "--probe"}, 0, "ASRL1::INSTR: QVTEK,QV3310,"},
        {{"--probe"}, 2, "--probe needs --list-resources"},
        {{"--list-resources", "--batch"}, 2, "--list-resources cannot be combined with --batch"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.arguments.join(' ').toStdString());
        QProcess qvscan;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            environment.remove(QString::fromLatin1(name));
        qvscan.setProcessEnvironment(environment);
        qvscan.start(QStringLiteral(QVSCAN_PATH), c.arguments);
        ASSERT_TRUE(qvscan.waitForFinished(kRunLimitMs));
        EXPECT_EQ(qvscan.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(qvscan.exitCode(), c.exitCode);
        const std::string output = (qvscan.readAllStandardOutput() + qvscan.readAllStandardError()).toStdString();
        EXPECT_THAT(output, HasSubstr(c.says));
    }
}

TEST(EndToEnd, ABatchRunWithoutADesktopSessionWritesOnlyItsOwnMessagesToStandardError)
{
    QTemporaryDir temp;
    ASSERT_TRUE(temp.isValid());
    QProcess qvscan;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "XDG_RUNTIME_DIR"})
        environment.remove(QString::fromLatin1(name));
    environment.insert(QStringLiteral("TMPDIR"), temp.path());
    qvscan.setProcessEnvironment(environment);
    qvscan.start(QStringLiteral(QVSCAN_PATH), {QStringLiteral("--simulate"), QStringLiteral("--batch"),
                                               QStringLiteral("--sim-fault"), QStringLiteral("wrong-model")});
    ASSERT_TRUE(qvscan.waitForFinished(kRunLimitMs));
    EXPECT_EQ(qvscan.exitCode(), 1);
    EXPECT_EQ(qvscan.readAllStandardError().toStdString(), "Wrong instrument addressed!\n");
    // Whatever the run made in the temporary folder went with it.
    EXPECT_TRUE(QDir(temp.path()).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden));
}

TEST(EndToEnd, TheListingProbesThePseudoTerminalMappedByARelativePortPath)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    SimServer server({QStringLiteral("--link"), dir.filePath(QStringLiteral("qv3310"))});
    ASSERT_FALSE(server.device().isEmpty());
    QProcess qvscan;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        environment.remove(QString::fromLatin1(name));
    qvscan.setProcessEnvironment(environment);
    qvscan.setWorkingDirectory(dir.path());
    qvscan.start(QStringLiteral(QVSCAN_PATH), {QStringLiteral("--list-resources"), QStringLiteral("--probe"),
                                               QStringLiteral("--port"), QStringLiteral("ASRL1=qv3310")});
    ASSERT_TRUE(qvscan.waitForFinished(kRunLimitMs));
    EXPECT_EQ(qvscan.exitCode(), 0);
    const std::string out = qvscan.readAllStandardOutput().toStdString();
    const std::string link = QDir(dir.path()).canonicalPath().toStdString() + "/qv3310";
    EXPECT_THAT(out, HasSubstr("(--port implies --builtin-io)"));
    EXPECT_THAT(out, HasSubstr("  " + link + ": ASRL1::INSTR (--port)\n")); // opened in the working folder
    EXPECT_THAT(out, HasSubstr("  ASRL1::INSTR: QVTEK,QV3310,"));
    EXPECT_TRUE(server.stop());
}

TEST(EndToEnd, TheServerRefusesAnUnknownFault)
{
    QProcess server;
    server.start(QStringLiteral(QVSCAN_SIM_PATH), {QStringLiteral("--fault"), QStringLiteral("no-such-fault")});
    ASSERT_TRUE(server.waitForFinished(kStartLimitMs));
    EXPECT_EQ(server.exitCode(), 2);
    EXPECT_THAT(server.readAllStandardError().toStdString(), HasSubstr("no-such-fault"));
}

TEST(EndToEnd, TheServerAnswersATerminalsEnter)
{
    SimServer server(kFastClock);
    Client terminal(server.device());
    ASSERT_TRUE(terminal.isOpen());
    for (const char *enter : {"\r", "\r\n", "\n"}) {
        SCOPED_TRACE(::testing::PrintToString(enter));
        ASSERT_TRUE(terminal.send(std::string("*IDN?") + enter));
        EXPECT_EQ(terminal.readLine(), "QVTEK,QV3310,QV26001729,2.04-1.01-1.00\r\n");
    }
    ASSERT_TRUE(terminal.send("SYST:ERR?\r"));
    EXPECT_EQ(terminal.readLine(), "+0,\"No error\"\r\n");
}

TEST(EndToEnd, ANewClientFindsNoRepliesNorHalfCommandsOfTheLastOne)
{
    SimServer server(kFastClock);
    {
        Client careless(server.device());
        ASSERT_TRUE(careless.send("*IDN?\nSYST:CTYP? 100\n*ID"));
        ASSERT_TRUE(careless.waitForInput()); // replies waiting, never read
    }
    Client next(server.device());
    EXPECT_TRUE(next.waitUntilNothingWaits()) << "the last client's replies are still there";
    ASSERT_TRUE(next.send("SYST:ERR?\n"));
    EXPECT_EQ(next.readLine(), "+0,\"No error\"\r\n");
}

TEST(EndToEnd, AClientsFlushIsADeviceClear)
{
    SimServer server(kFastClock);
    Client client(server.device());
    ASSERT_TRUE(client.send("*IDN?\n*ID"));
    ASSERT_TRUE(client.waitForInput());
    client.flush();
    ASSERT_TRUE(client.send("SYST:ERR?\n"));
    EXPECT_EQ(client.readLine(), "+0,\"No error\"\r\n");
}

TEST(EndToEnd, AMegabyteCommandLineIsRefusedAndTheNextAnswered)
{
    SimServer server({QStringLiteral("--fast")});
    Client client(server.device());
    std::string message;
    while (message.size() < 1024 * 1024)
        message += "A:A;";
    ASSERT_TRUE(client.send(message + "\nSYST:ERR?\n"));
    EXPECT_THAT(client.readLine(), ::testing::StartsWith("-363,\"Input buffer overrun"));
    ASSERT_TRUE(client.send("SYST:ERR?\n"));
    EXPECT_EQ(client.readLine(), "+0,\"No error\"\r\n");
}

/// What the symbolic link @p link points at; empty when it is none.
QString linkTarget(const QString &link)
{
    return QFileInfo(link).isSymLink() ? QFileInfo(link).symLinkTarget() : QString();
}

struct Refusal
{
    int exitCode = -1;
    std::string err;
};

/// Runs qvscan-sim with @p arguments, expecting it to refuse and end by itself.
Refusal refusedServer(const QStringList &arguments)
{
    QProcess server;
    server.start(QStringLiteral(QVSCAN_SIM_PATH), arguments);
    Refusal refusal;
    if (!server.waitForFinished(kStartLimitMs)) {
        server.kill();
        server.waitForFinished();
        return refusal;
    }
    refusal.exitCode = server.exitStatus() == QProcess::NormalExit ? server.exitCode() : -1;
    refusal.err = server.readAllStandardError().toStdString();
    return refusal;
}

TEST(EndToEnd, TheServerNeverTakesOverWhatIsNotAStaleLink)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString link = dir.filePath(QStringLiteral("qv3310"));

    // A file that is not a link stays as it is.
    std::ofstream(link.toStdString()) << "data\n";
    const Refusal onFile = refusedServer({QStringLiteral("--link"), link});
    EXPECT_EQ(onFile.exitCode, 1);
    EXPECT_THAT(onFile.err, AllOf(HasSubstr(link.toStdString()), HasSubstr("other than a symbolic link")));
    EXPECT_TRUE(QFileInfo(link).isFile() && !QFileInfo(link).isSymLink());
    ASSERT_TRUE(QFile::remove(link));

    // Another server's live link stays that server's, and goes when it ends.
    SimServer first({QStringLiteral("--link"), link});
    ASSERT_FALSE(first.device().isEmpty());
    const Refusal second = refusedServer({QStringLiteral("--link"), link});
    EXPECT_EQ(second.exitCode, 1);
    EXPECT_THAT(second.err, AllOf(HasSubstr("in use"), HasSubstr(first.device().toStdString())));
    EXPECT_EQ(linkTarget(link), first.device());
    EXPECT_TRUE(first.stop());
    EXPECT_FALSE(QFileInfo(link).isSymLink());
}

TEST(EndToEnd, TheServerReplacesAStaleLinkAndRemovesOnlyItsOwn)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString link = dir.filePath(QStringLiteral("qv3310"));
    ASSERT_EQ(::symlink("/dev/pts/nonexistent-device", link.toLocal8Bit().constData()), 0);

    SimServer server({QStringLiteral("--link"), link});
    ASSERT_FALSE(server.device().isEmpty());
    EXPECT_EQ(linkTarget(link), server.device());

    // Someone points the link elsewhere meanwhile: the server leaves it alone at its end.
    const QString elsewhere = dir.filePath(QStringLiteral("elsewhere"));
    std::ofstream(elsewhere.toStdString()) << "x\n";
    ASSERT_TRUE(QFile::remove(link));
    ASSERT_TRUE(QFile::link(elsewhere, link));
    EXPECT_TRUE(server.stop());
    EXPECT_EQ(linkTarget(link), elsewhere);
}

TEST(EndToEnd, HangUpEndsTheServerCleanlyAndRemovesItsLink)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString link = dir.filePath(QStringLiteral("qv3310"));
    SimServer server({QStringLiteral("--link"), link});
    ASSERT_FALSE(server.device().isEmpty());
    ASSERT_EQ(::kill(static_cast<pid_t>(server.pid()), SIGHUP), 0);
    EXPECT_TRUE(server.waitForCleanEnd());
    EXPECT_FALSE(QFileInfo(link).isSymLink());
}

TEST(EndToEnd, TheServersUsageErrorsExitWithTwoAndSayWhatIsWrong)
{
    struct Case
    {
        QStringList arguments;
        const char *says;
    };
    const Case cases[] = {
        {{"--bogus"}, "bogus"},
        {{"stray"}, "unexpected argument: stray"},
        {{"--time-scale", "0"}, "--time-scale"},
        {{"--time-scale", "fast"}, "--time-scale"},
        {{"--fault", "no-such-fault"}, "no-such-fault"},
        {{"--fault", "absent"}, "\"absent\" cannot be served"},
        {{"--fault", "error-on=NO:SUCH:COMMAND"}, "NO:SUCH:COMMAND"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.arguments.join(' ').toStdString());
        const Refusal refusal = refusedServer(c.arguments);
        EXPECT_EQ(refusal.exitCode, 2);
        EXPECT_THAT(refusal.err, HasSubstr(c.says));
    }
}

} // namespace
