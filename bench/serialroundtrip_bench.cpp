// Round trip of one query ("*IDN?" written, its reply read) through the built-in serial I/O to
// qvscan-sim on a pseudo-terminal: the cost of every instrument call of a serial run.

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QProcess>

#include <cstdio>

#include "visa/builtinbackend.h"
#include "visa/formattedio.h"

namespace {

constexpr const char *kSerialOptions =
    "Timeout = 10000 ; SendEndEnabled = TRUE ; TerminationCharacter = 10 ; TerminationCharacterEnabled = TRUE ; "
    "BaudRate = 115200 ; DataBits = 8 ; EndIn = ASRL_END_TERMCHAR ; EndOut = ASRL_END_NONE ; "
    "FlowControl = ASRL_FLOW_XON_XOFF ; Parity = ASRL_PAR_NONE  ; StopBits = ASRL_STOP_ONE \"";

void IdnRoundTrip(benchmark::State &state)
{
    QProcess server;
    // Unpaced: this measures the I/O path, not the line's character time.
    server.start(QStringLiteral(QVSCAN_SIM_PATH), {QStringLiteral("--fast")});
    while (server.waitForReadyRead(10'000) && !server.canReadLine()) {
    }
    const std::string device = server.readLine().trimmed().toStdString();
    if (device.empty()) {
        state.SkipWithError("qvscan-sim printed no device path");
        return;
    }

    visa::SerialPortMap ports;
    ports.set(1, device);
    visa::BuiltinBackend backend(ports);
    visa::FormattedIO488 instr;
    instr.IO = backend.open(visa::ResourceName::parse("ASRL1::INSTR"), visa::SessionOptions::parse(kSerialOptions));
    for (auto _ : state) {
        instr.WriteString("*IDN?");
        benchmark::DoNotOptimize(instr.ReadString());
    }
    instr.IO->Close();
    server.terminate();
    server.waitForFinished();
}
BENCHMARK(IdnRoundTrip)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv); // QSerialPort and QProcess want one
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
