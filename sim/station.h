// The simulated station's wiring: which device models sit on its buses and
// lines when ktr09-sim runs it.
#pragma once

#include <string>

#include "options.h"

namespace sim {

class Device;

class Mcp7940;
class Eeprom24xx64;
class AnalogInputs;
class WeatherStation;
class AisTransponder;

// Attaches the devices of a standard station to the machine (after
// host::reset_machine, before host::power_on), replacing those of an earlier
// call. Persistent devices keep their files in options.state_dir, which must
// exist; a state directory without an EEPROM image gets the standard
// configuration. A state directory or state file that cannot be used
// whole gives its reason ("<file>:<line>: <what>" for a bad line) and
// attaches nothing, with every file left as it was; empty on success.
std::string attach_default_devices(const Options& options);

// After the run (host::power_off): saves what the devices keep and detaches
// them. A state file that cannot be written stops the simulator
// (stop_on_state_error).
void save_and_detach_devices();

// The devices attached by the last attach_default_devices, for scenarios and
// tests to set physical quantities and faults (null before the first call).
struct StationDevices {
    Mcp7940* clock;
    Eeprom24xx64* eeprom;
    AnalogInputs* analog;
    WeatherStation* weather;      // on sensor channel 1
    AisTransponder* transponder;  // on the AIS channel
};
StationDevices station_devices();
// An attached device by its registered name (null when there is none).
Device* station_device(const std::string& name);

}  // namespace sim
