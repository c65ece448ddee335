// Round trip of one query ("*IDN?" written, its reply read) over a pseudo-terminal to qvscan-sim,
// through the built-in serial I/O and through a plain C client (write, then read until LF) on the
// same server in the same run: the cost of every instrument call of a serial run, and what the
// I/O layer adds to the least a client can do.

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QProcess>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "visa/builtinbackend.h"
#include "visa/formattedio.h"

namespace {

constexpr const char *kSerialOptions =
    "Timeout = 10000 ; SendEndEnabled = TRUE ; TerminationCharacter = 10 ; TerminationCharacterEnabled = TRUE ; "
    "BaudRate = 115200 ; DataBits = 8 ; EndIn = ASRL_END_TERMCHAR ; EndOut = ASRL_END_NONE ; "
    "FlowControl = ASRL_FLOW_XON_XOFF ; Parity = ASRL_PAR_NONE  ; StopBits = ASRL_STOP_ONE \"";

std::string g_device; ///< the pseudo-terminal qvscan-sim serves, shared by both benchmarks

void IdnRoundTrip(benchmark::State &state)
{
    visa::SerialPortMap ports;
    ports.set(1, g_device);
    visa::BuiltinBackend backend(ports);
    visa::FormattedIO488 instr;
    instr.IO = backend.open(visa::ResourceName::parse("ASRL1::INSTR"), visa::SessionOptions::parse(kSerialOptions));
    for (auto _ : state) {
        instr.WriteString("*IDN?");
        benchmark::DoNotOptimize(instr.ReadString());
    }
    instr.IO->Close();
}
BENCHMARK(IdnRoundTrip)->Unit(benchmark::kMicrosecond);

/// The least a client does: a raw blocking line, one write, reads until the LF.
void PlainCRoundTrip(benchmark::State &state)
{
    const int fd = ::open(g_device.c_str(), O_RDWR | O_NOCTTY);
    if (fd < 0) {
        state.SkipWithError("cannot open the pseudo-terminal");
        return;
    }
    termios line{};
    tcgetattr(fd, &line);
    cfmakeraw(&line);
    cfsetspeed(&line, B115200);
    line.c_iflag |= IXON | IXOFF;
    line.c_cc[VMIN] = 1;
    line.c_cc[VTIME] = 0;
    tcsetattr(fd, TCSANOW, &line);
    char reply[4096];
    for (auto _ : state) {
        if (::write(fd, "*IDN?\n", 6) != 6) {
            state.SkipWithError("write failed");
            break;
        }
        size_t used = 0;
        for (;;) {
            const ssize_t n = ::read(fd, reply + used, sizeof reply - used);
            if (n <= 0) {
                state.SkipWithError("read failed");
                break;
            }
            used += size_t(n);
            if (reply[used - 1] == '\n' || used == sizeof reply)
                break;
        }
        benchmark::DoNotOptimize(reply);
    }
    ::close(fd);
}
BENCHMARK(PlainCRoundTrip)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv); // QSerialPort and QProcess want one
    benchmark::Initialize(&argc, argv);
    QProcess server;
    // Unpaced: this measures the I/O path, not the line's character time.
    server.start(QStringLiteral(QVSCAN_SIM_PATH), {QStringLiteral("--fast")});
    while (server.waitForReadyRead(10'000) && !server.canReadLine()) {
    }
    g_device = server.readLine().trimmed().toStdString();
    if (g_device.empty()) {
        std::fprintf(stderr, "qvscan-sim printed no device path\n");
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    server.terminate();
    if (!server.waitForFinished(5000))
        server.kill();
    server.waitForFinished();
    return 0;
}
