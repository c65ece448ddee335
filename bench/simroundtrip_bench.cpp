// Round trip of one query ("*IDN?" written, its reply read) through visa::FormattedIO488 to the
// in-process simulated QV3310.
//
// SimSession spends 1 ms of the instrument's clock on every bus transaction (3 per round trip:
// write, read request, reply), plus character time on a serial line. On a VirtualClock that time
// costs nothing, so the figure is the pure CPU cost of the path: formatted I/O, session framing,
// SCPI parse and execute, reply formatting. On a RealClock it is slept for real, which shows the
// modelled bus time a run pays per query.

#include <benchmark/benchmark.h>

#include <memory>

#include "sim/clock.h"
#include "sim/qv3310.h"
#include "sim/simulatedbackend.h"
#include "visa/formattedio.h"

namespace {

constexpr const char *kSerialOptions =
    "Timeout = 10000 ; SendEndEnabled = TRUE ; TerminationCharacter = 10 ; TerminationCharacterEnabled = TRUE ; "
    "BaudRate = 115200 ; DataBits = 8 ; EndIn = ASRL_END_TERMCHAR ; EndOut = ASRL_END_NONE ; "
    "FlowControl = ASRL_FLOW_XON_XOFF ; Parity = ASRL_PAR_NONE  ; StopBits = ASRL_STOP_ONE \"";

enum Bus { Gpib, Serial };

template<class ClockType>
void IdnRoundTrip(benchmark::State &state)
{
    const bool serial = state.range(0) == Serial;
    // The instrument logs every message it receives; a fresh one per run keeps that log small.
    auto instrument = std::make_shared<sim::Qv3310>(std::make_shared<ClockType>());
    sim::SimulatedBackend backend(instrument);
    visa::FormattedIO488 instr;
    instr.IO = backend.open(visa::ResourceName::parse(serial ? "ASRL1::INSTR" : "GPIB0::9::INSTR"),
                            visa::SessionOptions::parse(serial ? kSerialOptions : ""));
    for (auto _ : state) {
        instr.WriteString("*IDN?");
        benchmark::DoNotOptimize(instr.ReadString());
    }
    instr.IO->Close();
    state.SetLabel(serial ? "ASRL1" : "GPIB0::9");
}

BENCHMARK(IdnRoundTrip<sim::VirtualClock>)->Arg(Gpib)->Arg(Serial)->Unit(benchmark::kMicrosecond);
// Mostly sleeping: wall time is what counts, CPU time shows the sleeps do not spin.
BENCHMARK(IdnRoundTrip<sim::RealClock>)->Arg(Gpib)->Arg(Serial)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
