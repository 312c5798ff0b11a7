// How fast the simulator runs a busy station: the default devices with the
// transponder forwarding GPS once a second and hearing traffic (ships and a
// neighbouring AtoN), the weather station reporting and the card logging what
// the station hears. Simulated seconds per wall-clock second.
#include <benchmark/benchmark.h>

#include <string>

#include "devices/ais_transponder.h"
#include "station_run.h"

namespace {

// Start-up (the 3 s pause, clock and card set-up, transponder configuration)
// is left out of the figure.
constexpr host::Micros kStartup = 30 * host::kSecond;

// Harbour traffic: a few ships under way and at anchor near the station
// (43 21.5 N, 8 23.5 W), class A and B, and another AtoN.
bool add_traffic(sim::AisTransponder& transponder, std::string* error) {
    struct Track {
        uint32_t mmsi;
        char ais_class;
        double latitude, longitude, course_deg, speed_knots;
        int every_s;
    };
    static const Track kTracks[] = {
        {224106730, 'A', 43.30, -8.45, 90, 12, 10}, {224998870, 'B', 43.35, -8.45, 45, 6, 30},
        {235040000, 'A', 43.40, -8.30, 200, 15, 6}, {227006760, 'A', 43.37, -8.40, 0, 0, 180},
        {244670316, 'A', 43.32, -8.38, 310, 9, 10}, {224123450, 'B', 43.36, -8.41, 120, 4, 30},
        {256789000, 'A', 43.28, -8.50, 30, 18, 2},  {228237700, 'A', 43.34, -8.36, 0, 0, 180},
    };
    for (const Track& track : kTracks) {
        sim::AisTransponder::Ship ship;
        ship.mmsi = track.mmsi;
        ship.ais_class = track.ais_class;
        ship.latitude = track.latitude;
        ship.longitude = track.longitude;
        ship.course_deg = track.course_deg;
        ship.speed_knots = track.speed_knots;
        ship.every = track.every_s * host::kSecond;
        if (!transponder.add_ship(ship, error)) {
            return false;
        }
    }
    sim::AisTransponder::AtonStation pier;
    pier.mmsi = 992471234;
    pier.name = "NORTH PIER LIGHT";
    pier.aton_type = 6;
    pier.latitude = 43.375;
    pier.longitude = -8.38;
    return transponder.add_aton_station(pier, error);
}

void BM_BusyStation(benchmark::State& state) {
    const auto console_bytes = run_station_bench(state, kStartup, [](std::string* error) {
        sim::AisTransponder& transponder = *sim::station_devices().transponder;
        // The station turns the GPS forwarding off once it has the time; a
        // transponder left forwarding sends RMC, GGA and GSV every second.
        transponder.settings().gps_output = true;
        return add_traffic(transponder, error);
    });
    // What the console printed in the last run: a check that the station was
    // busy, not halted.
    if (console_bytes) {
        state.counters["usb_bytes"] = static_cast<double>(*console_bytes);
    }
}

// The firmware runs on its own thread, so only wall-clock time is meaningful.
BENCHMARK(BM_BusyStation)->Arg(600)->Unit(benchmark::kMillisecond)->UseRealTime();
// A whole day, once: what a user waits for with --duration 24h.
BENCHMARK(BM_BusyStation)->Arg(86400)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
