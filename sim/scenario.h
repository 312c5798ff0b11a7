// Scenarios: a JSON file that says what it shows ("description"), how long
// it runs and in which mode, and a list of timed stimuli ("steps") that reach
// the station only the way the world does: text typed on the USB port,
// levels on input pins, and changes of the device models' own behaviour
// (terminal voltages, weather, faults). A scenario never touches the
// firmware's records. // comments are allowed in the file.
//
//   {"description": "...", "duration": "10m", "mode": 1, "steps": [
//     {"at": "5s", "usb": "DIP\r"}, {"at": "2m", "battery_volts": 11.0}, ...]}
//
// Each step has "at" (a duration from the start of the run) and exactly one
// stimulus key; the kinds are the structs of ScenarioAction below.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace sim {

// "usb": text a terminal sends to the USB port (dropped while the station
// has the port closed).
struct UsbText {
    std::string text;
};
// "battery_volts": volts at the battery terminals.
struct BatteryVolts {
    double volts;
};
// "input_volts": [input 1, input 2] volts at the analog input terminals.
struct InputVolts {
    double volts[2];
};
// "weather": what the weather station measures from then on; fields not
// given keep the value they have when the step runs. Field names are those
// of WeatherStation::Reading.
struct WeatherChange {
    static constexpr size_t kFieldCount = 7;
    static const std::array<const char*, kFieldCount> kFieldNames;
    std::array<std::optional<double>, kFieldCount> fields;
};
// "weather_silent": the weather station's transmitter dead (true) or back.
struct WeatherSilent {
    bool silent;
};
// "weather_bad_checksums": every sentence with a wrong checksum, or not.
struct WeatherBadChecksums {
    bool bad;
};
// "clock_fault": "no_answer" (the clock acknowledges nothing on the bus),
// "stopped" (its crystal does not oscillate: time stands still whatever the
// station writes) or "none" (both cleared).
struct ClockFault {
    enum class Kind { none, no_answer, stopped };
    Kind kind;
};
// "eeprom_silent": the configuration EEPROM acknowledges nothing (true) or
// answers again.
struct EepromSilent {
    bool silent;
};
// "input_level": {"pin": P, "level": L}: what an outside circuit drives on
// an input pin, 0, 1 or -1 for nothing.
struct InputLevel {
    uint32_t pin;
    int level;
};

using ScenarioAction = std::variant<UsbText, BatteryVolts, InputVolts, WeatherChange, WeatherSilent,
                                    WeatherBadChecksums, ClockFault, EepromSilent, InputLevel>;

struct ScenarioStep {
    uint64_t at;  // microseconds from the start of the run
    ScenarioAction action;
};

struct Scenario {
    std::string description;
    std::optional<uint64_t> duration;  // microseconds
    std::optional<int> mode;
    std::vector<ScenarioStep> steps;  // in the file's order
};

// Reads a scenario from JSON text. On a fault returns nothing with a message
// in `error` naming the step (counted from 1), the key and what was expected.
std::optional<Scenario> parse_scenario(std::string_view text, std::string* error);
// parse_scenario on a file's contents; the message starts with the file name.
std::optional<Scenario> load_scenario(const std::string& file, std::string* error);

// Schedules every step on the machine, `at` counted from the current virtual
// time. Call it after attach_default_devices (the steps act on the devices
// it attached) and before host::power_on, so that a step at "0s" comes
// before the firmware's first instruction. False, with a message, when no
// devices are attached.
bool apply_scenario(const Scenario& scenario, std::string* error);

}  // namespace sim
