// The window in-process, offscreen:
//  - WindowFirstConstructLoad: the first window of the process, once: it also pays Qt's one-time
//    costs (font database, style, first paint), as the program's start-up does.
//  - WindowConstructLoad: building VISAComExample and its Form_Load (shown, instructions listed)
//    again and again, warm: the window's own share.
//  - WholeRunVirtualClock: one "Get Readings" on the simulated instrument on a VirtualClock,
//    so the 15.4 s scan and the 1 ms per bus transaction cost nothing: what is left is the
//    program's own CPU for a run, the poll of DATA:POINTS? included (about as many polls as in
//    real time: each advances the virtual clock by the same three transactions). A real run adds
//    the kernel's cost of sleeping through those transactions.

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QPushButton>

#include <chrono>
#include <cstdlib>
#include <memory>

#include "app/platform.h"
#include "app/visacomexample.h"
#include "sim/clock.h"
#include "sim/qv3310.h"
#include "sim/simulatedbackend.h"

namespace {

/// Deadlines on the instrument's clock, as the tests do; messages only counted.
class VirtualPlatform final : public Platform
{
public:
    explicit VirtualPlatform(std::shared_ptr<sim::Clock> clock)
        : m_clock(std::move(clock))
    {
    }
    void showMessage(QWidget *, const QString &, const QString &) override { ++messages; }
    QString askSaveFileName(QWidget *, const QString &, const QString &, const QString &) override { return {}; }
    void endProgram() override {}
    std::chrono::nanoseconds now() const override { return m_clock->now(); }

    int messages = 0;

private:
    std::shared_ptr<sim::Clock> m_clock;
};

std::shared_ptr<sim::SimulatedBackend> simulator(const std::shared_ptr<sim::Clock> &clock)
{
    return std::make_shared<sim::SimulatedBackend>(std::make_shared<sim::Qv3310>(clock));
}

bool g_windowBuilt = false;

void WindowFirstConstructLoad(benchmark::State &state)
{
    auto clock = std::make_shared<sim::VirtualClock>();
    VirtualPlatform platform(clock);
    auto backend = simulator(clock);
    for (auto _ : state) {
        if (g_windowBuilt) {
            state.SkipWithError("not the first window of the process");
            break;
        }
        VISAComExample window(backend, platform);
        window.load();
        g_windowBuilt = true;
        benchmark::DoNotOptimize(window.isVisible());
    }
}
// Registered first so that it runs first; one iteration, since only one is cold.
BENCHMARK(WindowFirstConstructLoad)->Iterations(1)->Repetitions(1)->Unit(benchmark::kMillisecond);

void WindowConstructLoad(benchmark::State &state)
{
    g_windowBuilt = true;
    auto clock = std::make_shared<sim::VirtualClock>();
    VirtualPlatform platform(clock);
    auto backend = simulator(clock);
    for (auto _ : state) {
        VISAComExample window(backend, platform);
        window.load();
        benchmark::DoNotOptimize(window.isVisible());
    }
}
BENCHMARK(WindowConstructLoad)->Unit(benchmark::kMicrosecond);

void WholeRunVirtualClock(benchmark::State &state)
{
    std::int64_t polls = 0;
    double modelledSeconds = 0;
    for (auto _ : state) {
        state.PauseTiming();
        auto clock = std::make_shared<sim::VirtualClock>();
        VirtualPlatform platform(clock);
        auto backend = simulator(clock);
        const auto log = sim::MessageLog::attachedTo(*backend->instrument());
        auto window = std::make_unique<VISAComExample>(backend, platform);
        window->load();
        g_windowBuilt = true;
        state.ResumeTiming();

        window->GetReadings->click();

        state.PauseTiming();
        if (window->readingsListed() != 40 || platform.messages != 0) {
            state.SkipWithError("the run did not list its 40 readings");
            break;
        }
        for (const std::string &message : log->messages())
            polls += message == "DATA:POINTS?";
        modelledSeconds += std::chrono::duration<double>(clock->now()).count();
        window.reset();
        state.ResumeTiming();
    }
    state.counters["polls_per_run"] = benchmark::Counter(static_cast<double>(polls),
                                                         benchmark::Counter::kAvgIterations);
    // The run's length on the instrument's clock: scan plus modelled bus time, no CPU time.
    state.counters["modelled_s"] = benchmark::Counter(modelledSeconds, benchmark::Counter::kAvgIterations);
}
BENCHMARK(WholeRunVirtualClock)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char **argv)
{
    // Headless like batch mode, unless the caller picks a platform.
    if (std::getenv("QT_QPA_PLATFORM") == nullptr)
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
