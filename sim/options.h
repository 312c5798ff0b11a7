// The ktr09-sim settings and the parsing of their values, kept apart from the
// command-line front end so they can be tested on their own.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace sim {

struct Options {
    // Simulated time to run, in microseconds; empty means until interrupted.
    std::optional<uint64_t> duration;
    // Operating mode selected on the mode pins: 0 normal, 1 and 2 diagnostic.
    int mode = 0;
    // Pace the virtual clock to the wall clock.
    bool realtime = false;
    // Hold the station at power-on until a terminal opens the USB
    // pseudo-terminal.
    bool wait_for_terminal = false;
    // File for a Value Change Dump of the pins (empty: none).
    std::string vcd;
    // TCP port of 127.0.0.1 for the transponder's NMEA feed (0: none).
    int nmea_tcp = 0;
    // Where persistent devices keep their files.
    std::string state_dir = "station-state";
    // File for a transcript of the run (empty: none), and whether it shows
    // the status LED.
    std::string transcript;
    bool transcript_led = false;
    // Configuration fields (JSON, as ktr09-config writes them) put into the
    // EEPROM image before the devices attach; empty for none.
    std::string configuration;
    // With a seed, the device models' timing varies within their bounds,
    // the same for the same seed; without one it is fixed.
    std::optional<uint64_t> seed;
    // The ktr09-link socket to join as station `link_index` (empty: alone).
    std::string link;
    unsigned link_index = 0;
};

// Parses a duration written as one or more <number><unit> groups, units in
// decreasing order and each at most once: h, m, s, ms ("24h", "1h30m",
// "90s", "500ms", "1.5h"); a number may have decimals, down to whole
// microseconds, and a bare 0 needs no unit. Returns microseconds, or nothing
// with a message in `error` when the text is not such a duration.
std::optional<uint64_t> parse_duration(std::string_view text, std::string* error);

// Levels the mode jumpers put on the two mode-selection pins.
struct ModePinLevels {
    int pin20;
    int pin24;
};
constexpr int kModeCount = 3;

// Pin levels that select `mode` (0 .. kModeCount - 1): pin 20 high gives 0;
// pin 20 low with pin 24 high gives 1; both low give 2.
ModePinLevels mode_pin_levels(int mode);

// The seed of station `index` of a link run with `link_seed`: station 0
// gets the link's seed itself, so that it runs as ktr09-sim --seed would,
// and every other one a seed of its own.
uint64_t station_seed(uint64_t link_seed, unsigned index);
// Why a command line's seed is not one (empty when it is): digits only,
// so that "-1" is not read as 2^64 - 1.
std::string seed_text_error(const std::string& text);

// "12.345 s" style text of a virtual time in microseconds.
std::string format_seconds(uint64_t micros);

// The line that ends a run: "[sim] 600.000 s simulated in 1.25 s of wall
// time (480x); state directory /abs/station-state".
std::string closing_line(uint64_t simulated_micros, double wall_seconds,
                         const std::string& state_dir);

}  // namespace sim
