#include "station.h"

#include <filesystem>
#include <memory>
#include <string>

#include "codec/config_image.h"
#include "devices/ais_transponder.h"
#include "devices/analog_inputs.h"
#include "devices/eeprom_24xx64.h"
#include "devices/mcp7940.h"
#include "devices/state_file.h"
#include "devices/weather_station.h"
#include "host/machine.h"

namespace sim {
namespace {

struct Devices {
    std::unique_ptr<Mcp7940> clock;
    std::unique_ptr<Eeprom24xx64> eeprom;
    std::unique_ptr<AnalogInputs> analog;
    std::unique_ptr<WeatherStation> weather;
    std::unique_ptr<AisTransponder> transponder;
};

Devices g_devices;

}  // namespace

std::string attach_default_devices(const Options& options) {
    const std::filesystem::path state(options.state_dir);
    if (std::string error = check_state_dir(options.state_dir); !error.empty()) {
        return error;
    }
    const std::string clock_file = (state / "rtc_mcp7940.bin").string();
    const std::string eeprom_file = (state / "eeprom_24xx64.bin").string();
    const std::string analog_file = (state / "analog_inputs.txt").string();
    const std::string weather_file = (state / "weather_station.txt").string();
    const std::string transponder_file = (state / "ais_transponder.txt").string();

    // Every state file is read before any is written, so that a refused
    // start leaves the directory as the user had it. The clock comes last:
    // it saves its registers when it goes.
    Devices devices;
    std::string error;
    const bool fresh_eeprom = !std::filesystem::exists(eeprom_file);
    devices.eeprom = std::make_unique<Eeprom24xx64>(eeprom_file);
    if (!devices.eeprom->load_error().empty()) {
        return devices.eeprom->load_error();
    }
    const bool fresh_analog = !std::filesystem::exists(analog_file);
    devices.analog = std::make_unique<AnalogInputs>(analog_file);
    if (!devices.analog->load_error().empty()) {
        return devices.analog->load_error();
    }
    // Weather station on sensor channel 1 (Serial3, RS232 at 4800 baud as the
    // standard configuration has it), powered through the relay of output 1
    // (pin 33, normally open: active cuts the supply).
    devices.weather = std::make_unique<WeatherStation>(WeatherStation::Wiring{3, 4800, 33, 1});
    const StateRead weather_read = devices.weather->load(weather_file, &error);
    if (weather_read == StateRead::failed) {
        return error;
    }
    // AtoN transponder on the AIS channel (Serial0, RS232 at 38400 baud),
    // powered through the relay of output 2 (pin 32): the station's link
    // restart power-cycles it.
    const bool fresh_transponder = !std::filesystem::exists(transponder_file);
    devices.transponder = std::make_unique<AisTransponder>(AisTransponder::Wiring{0, 38400, 32, 1});
    if (error = check_state_file(transponder_file); !error.empty()) {
        return error;
    }
    if (!devices.transponder->load(transponder_file, &error)) {
        return error;
    }
    // Real-time clock; a new board's clock is stopped until the station
    // starts it.
    devices.clock = std::make_unique<Mcp7940>(clock_file);
    if (!devices.clock->load_error().empty()) {
        return devices.clock->load_error();
    }

    // A new state directory gets the standard configuration and the standard
    // surroundings, in files the user can edit between runs.
    if (fresh_eeprom) {
        devices.eeprom->load(codec::encode_image(codec::default_station_config()));
    }
    if (fresh_analog) {
        devices.analog->save();
    }
    if (weather_read == StateRead::missing) {
        devices.weather->save(weather_file);
    }
    if (fresh_transponder && !devices.transponder->save(transponder_file, &error)) {
        return error;
    }

    g_devices = std::move(devices);
    host::attach_i2c_device(Mcp7940::kAddress, g_devices.clock.get());
    host::attach_i2c_device(Eeprom24xx64::kAddress, g_devices.eeprom.get());
    g_devices.analog->apply();
    g_devices.weather->attach();
    g_devices.transponder->attach();
    return {};
}

StationDevices station_devices() {
    return {g_devices.clock.get(), g_devices.eeprom.get(), g_devices.analog.get(),
            g_devices.weather.get(), g_devices.transponder.get()};
}

}  // namespace sim
