// How fast the simulator runs an idle station: simulated seconds per
// wall-clock second, once start-up is over.
#include <benchmark/benchmark.h>

#include "station_run.h"

namespace {

// Start-up (the 3 s pause, clock and card set-up) is left out of the figure.
constexpr host::Micros kStartup = 10 * host::kSecond;

void BM_IdleStation(benchmark::State& state) {
    run_station_bench(state, kStartup);
}

// The firmware runs on its own thread, so only wall-clock time is meaningful.
BENCHMARK(BM_IdleStation)->Arg(60)->Arg(3600)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
