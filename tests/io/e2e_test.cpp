// The programs themselves, end to end: qvscan with its built-in serial I/O against qvscan-sim on a
// pseudo-terminal. Every wait has a generous limit so that a fault cannot hang the test run.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>
#include <numeric>
#include <sstream>

namespace {

using ::testing::AllOf;
using ::testing::HasSubstr;

constexpr int kStartLimitMs = 10'000;
constexpr int kRunLimitMs = 120'000;

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
    qvscan.start(QStringLiteral(QVSCAN_PATH), {QStringLiteral("--batch"), QStringLiteral("--builtin-io"),
                                               QStringLiteral("--port"), QStringLiteral("ASRL1=") + device,
                                               QStringLiteral("--address"), QStringLiteral("ASRL1")});
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
    SimServer server;
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
    SimServer server({QStringLiteral("--fault"), QStringLiteral("stop-answering-after=40")});
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
        ASSERT_TRUE(qvscan.waitForFinished(kStartLimitMs));
        EXPECT_EQ(qvscan.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(qvscan.exitCode(), c.exitCode);
        const std::string output = (qvscan.readAllStandardOutput() + qvscan.readAllStandardError()).toStdString();
        EXPECT_THAT(output, HasSubstr(c.says));
    }
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

} // namespace
