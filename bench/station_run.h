// The timed loop both station benchmarks share: per iteration a fresh
// machine with the default devices, power on, `startup` of simulated time
// and then `prepare` untimed, the state's range(0) simulated seconds timed.
// Counters: sim_s_per_s and restarts. Returns what the console printed in
// the last run, or nothing when the run was skipped with an error.
#pragma once

#include <benchmark/benchmark.h>

#include <functional>
#include <optional>
#include <string>

#include "tests/support/state_dir.h"
#include "host/machine.h"
#include "options.h"
#include "station.h"

// `prepare` may refuse the run: false with the reason.
using BenchPrepare = std::function<bool(std::string* error)>;

inline std::optional<size_t> run_station_bench(benchmark::State& state, host::Micros startup,
                                               const BenchPrepare& prepare = {}) {
    const host::Micros simulated = static_cast<host::Micros>(state.range(0)) * host::kSecond;
    TemporaryStateDir dir;
    sim::Options options;
    options.state_dir = dir.path().string();
    if (options.state_dir.empty()) {
        state.SkipWithError("cannot create a state directory");
        return std::nullopt;
    }
    size_t console_bytes = 0;
    for (auto _ : state) {
        state.PauseTiming();
        host::reset_machine();
        std::string error = sim::attach_default_devices(options);
        if (!error.empty()) {
            state.SkipWithError(error.c_str());
            return std::nullopt;
        }
        host::power_on();
        host::run_for(startup);
        if (prepare && !prepare(&error)) {
            state.SkipWithError(error.c_str());
            return std::nullopt;
        }
        static_cast<void>(host::usb_take_output());
        state.ResumeTiming();

        host::run_for(simulated);

        state.PauseTiming();
        console_bytes = host::usb_take_output().size();
        host::power_off();
        state.ResumeTiming();
    }
    state.counters["sim_s_per_s"] = benchmark::Counter(
        static_cast<double>(state.range(0)) * static_cast<double>(state.iterations()),
        benchmark::Counter::kIsRate);
    state.counters["restarts"] = static_cast<double>(host::restart_count());
    return console_bytes;
}
