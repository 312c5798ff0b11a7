// Scenarios: a JSON file that says what it shows ("description"), how long
// it runs and in which mode, and a list of timed stimuli ("steps") that reach
// the station only the way the world does: text typed on the USB port,
// levels on input pins, and changes of the device models' own behaviour
// (terminal voltages, weather, faults). A scenario never touches the
// firmware's records. // comments are allowed in the file.
//
//   {"description": "...", "duration": "10m", "mode": 1, "seed": 7, "steps": [
//     {"at": "5s", "usb": "DIP\r"}, {"at": "2m", "battery_volts": 11.0}, ...]}
//
// Each step has "at" (a duration from the start of the run) and exactly one
// stimulus key.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

class Device;

// A step at its time: "usb" (text a terminal sends to the USB port, dropped
// while the station has the port closed) and "input_level" ({"pin": P,
// "level": L}: what an outside circuit drives on an input pin, 0, 1 or -1 for
// nothing) are the station's own; every other key belongs to the device
// model that registered it (devices/registry.cpp), which parses and applies
// it.
struct ScenarioStep {
    uint64_t at;         // microseconds from the start of the run
    std::string key;     // its stimulus key
    std::string device;  // the device it acts on; empty for the station's own keys
    std::function<void(Device*)> act;
};

struct Scenario {
    std::string description;
    std::optional<uint64_t> duration;  // microseconds
    std::optional<int> mode;
    // "seed": the device models' timing varies as with --seed (which wins).
    std::optional<uint64_t> seed;
    // "configuration": fields of the configuration (as ktr09-config writes
    // them) put into the EEPROM image before the run, the others kept; as
    // JSON text, empty for none.
    std::string configuration;
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
