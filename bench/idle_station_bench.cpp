// How fast the simulator runs an idle station: simulated seconds per
// wall-clock second, once start-up is over.
#include <benchmark/benchmark.h>

#include "tests/support/state_dir.h"
#include "host/machine.h"
#include "options.h"
#include "station.h"

namespace {

// Start-up (the 3 s pause, clock and card set-up) is left out of the figure.
constexpr host::Micros kStartup = 10 * host::kSecond;

void BM_IdleStation(benchmark::State& state) {
    const host::Micros simulated = static_cast<host::Micros>(state.range(0)) * host::kSecond;
    TemporaryStateDir dir;
    sim::Options options;
    options.state_dir = dir.path().string();
    if (options.state_dir.empty()) {
        state.SkipWithError("cannot create a state directory");
        return;
    }
    for (auto _ : state) {
        state.PauseTiming();
        host::reset_machine();
        sim::attach_default_devices(options);
        host::power_on();
        host::run_for(kStartup);
        static_cast<void>(host::usb_take_output());
        state.ResumeTiming();

        host::run_for(simulated);

        state.PauseTiming();
        benchmark::DoNotOptimize(host::usb_take_output());
        host::power_off();
        state.ResumeTiming();
    }
    state.counters["sim_s_per_s"] = benchmark::Counter(
        static_cast<double>(state.range(0)) * static_cast<double>(state.iterations()),
        benchmark::Counter::kIsRate);
    state.counters["restarts"] = static_cast<double>(host::restart_count());
}

// The firmware runs on its own thread, so only wall-clock time is meaningful.
BENCHMARK(BM_IdleStation)->Arg(60)->Arg(3600)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
