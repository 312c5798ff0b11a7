#include "station.h"

#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>

#include "devices/ais_transponder.h"
#include "devices/analog_inputs.h"
#include "codec/config_image.h"
#include "devices/eeprom_24xx64.h"
#include "devices/mcp7940.h"
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

void attach_default_devices(const Options& options) {
    const std::filesystem::path state(options.state_dir);

    // Real-time clock on the I2C bus; a new board's clock is stopped until
    // the station starts it.
    {
        g_devices.clock = std::make_unique<Mcp7940>((state / "rtc_mcp7940.bin").string());
        host::attach_i2c_device(Mcp7940::kAddress, g_devices.clock.get());
    }

    // Configuration EEPROM on the I2C bus, with the standard configuration
    // when the state directory has no image yet.
    {
        const std::filesystem::path file = state / "eeprom_24xx64.bin";
        const bool fresh = !std::filesystem::exists(file);
        g_devices.eeprom = std::make_unique<Eeprom24xx64>(file.string());
        if (fresh) {
            g_devices.eeprom->load(codec::encode_image(codec::default_station_config()));
        }
        host::attach_i2c_device(Eeprom24xx64::kAddress, g_devices.eeprom.get());
    }

    // Battery and analog inputs, their terminal voltages kept in an editable
    // text file.
    {
        const std::filesystem::path file = state / "analog_inputs.txt";
        const bool fresh = !std::filesystem::exists(file);
        g_devices.analog = std::make_unique<AnalogInputs>(file.string());
        if (fresh) {
            g_devices.analog->save();
        }
        g_devices.analog->apply();
    }

    // Weather station on sensor channel 1 (Serial3, RS232 at 4800 baud as the
    // standard configuration has it), powered through the relay of output 1
    // (pin 33, normally open: active cuts the supply). Its weather and
    // faults are kept in an editable text file.
    {
        const std::filesystem::path file = state / "weather_station.txt";
        g_devices.weather =
            std::make_unique<WeatherStation>(WeatherStation::Wiring{3, 4800, 33, 1});
        if (!g_devices.weather->load(file.string())) {
            g_devices.weather->save(file.string());
        }
        g_devices.weather->attach();
    }

    // AtoN transponder on the AIS channel (Serial0, RS232 at 38400 baud),
    // powered through the relay of output 2 (pin 32): the station's link
    // restart power-cycles it. Its identity and settings are kept in an
    // editable text file.
    {
        const std::filesystem::path file = state / "ais_transponder.txt";
        const bool fresh = !std::filesystem::exists(file);
        g_devices.transponder =
            std::make_unique<AisTransponder>(AisTransponder::Wiring{0, 38400, 32, 1});
        std::string error;
        if (!g_devices.transponder->load(file.string(), &error) ||
            (fresh && !g_devices.transponder->save(file.string(), &error))) {
            throw std::runtime_error(error);
        }
        g_devices.transponder->attach();
    }
}

StationDevices station_devices() {
    return {g_devices.clock.get(), g_devices.eeprom.get(), g_devices.analog.get(),
            g_devices.weather.get(), g_devices.transponder.get()};
}

}  // namespace sim
