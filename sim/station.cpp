#include "station.h"

#include <filesystem>
#include <map>
#include <memory>
#include <string>

#include <Arduino.h>

#include "codec/config_json.h"
#include "devices/ais_transponder.h"
#include "devices/analog_inputs.h"
#include "devices/device.h"
#include "devices/eeprom_24xx64.h"
#include "devices/mcp7940.h"
#include "devices/sd_card.h"
#include "devices/state_file.h"
#include "gestion_sd.h"
#include "host/machine.h"
#include "devices/weather_station.h"

namespace sim {
namespace {

struct Attached {
    std::vector<std::unique_ptr<Device>> devices;
    std::map<std::string, Device*> by_name;
};

Attached g_attached;

constexpr uint32_t kSmallestFormattedBlocks = 7 * 2048 - 2047;
// Far longer than the format of the largest card takes in virtual time.
constexpr host::Micros kFormatLimit = 3600 * host::kSecond;

// The formatter's last line ("error: erase failed"), for the user.
std::string last_line(const std::string& text) {
    size_t end = text.find_last_not_of("\r\n");
    if (end == std::string::npos) {
        return "no output";
    }
    const size_t start = text.find_last_of("\r\n", end);
    return text.substr(start == std::string::npos ? 0 : start + 1,
                       end - (start == std::string::npos ? 0 : start + 1) + 1);
}

// A new card is formatted by the station's own formatter, as a technician
// would with "FORMAT SD", before the station first starts; what it prints
// is not part of the run. On an error the formatter halts for good, with no
// watchdog running yet to end it: a format still going at the limit has
// halted, and stops the simulator (the staged image goes with it).
void format_new_card(const std::string& image) {
    SerialUSB.begin(115200);
    const host::EventId limit = host::schedule_in(kFormatLimit, [image] {
        stop_on_state_error(
            image, "the new card's format failed (" + last_line(host::usb_take_output()) + ")");
    });
    formateo_sd();
    host::cancel(limit);
    host::usb_take_output();
}

template <typename Model>
Model* model_named(const char* name) {
    Device* device = station_device(name);
    return device == nullptr ? nullptr : &model_of<Model>(*device);
}

}  // namespace

std::string attach_default_devices(const Options& options) {
    const std::filesystem::path state(options.state_dir);
    if (std::string error = check_state_dir(options.state_dir); !error.empty()) {
        return error;
    }
    const bool fresh_card = !std::filesystem::exists(state / "sd_card.img");
    // Every state file is read before any is written, so that a refused
    // start leaves the directory as the user had it.
    Attached attached;
    for (const DeviceType& type : device_types()) {
        std::string error;
        const std::filesystem::path file =
            type.state_file != nullptr ? state / type.state_file : std::filesystem::path();
        std::unique_ptr<Device> device = type.load(file, &error);
        if (device == nullptr) {
            return error;
        }
        attached.by_name[type.name] = device.get();
        attached.devices.push_back(std::move(device));
    }
    // A new state directory gets the standard configuration and surroundings,
    // in files the user can edit between runs.
    for (const auto& device : attached.devices) {
        if (std::string error = device->write_new_state(); !error.empty()) {
            return error;
        }
    }
    // After the new state is written, so that no drawn value lands in a file.
    if (options.seed) {
        for (const auto& device : attached.devices) {
            device->vary(*options.seed);
        }
    }
    // A scenario's configuration goes into the EEPROM image before any
    // device attaches: the sensor channels' peers are cabled from it.
    auto& eeprom = model_of<Eeprom24xx64>(*attached.by_name.at("eeprom"));
    codec::StationConfig config = codec::decode_image(eeprom.contents());
    if (!options.configuration.empty()) {
        std::string error;
        if (!codec::config_from_json(nlohmann::json::parse(options.configuration), &config,
                                     &error)) {
            return "configuration: " + error;
        }
        eeprom.load(codec::encode_image(config));
    }
    // The devices of an earlier call go before the new ones attach.
    g_attached = Attached{};
    g_attached = std::move(attached);
    for (const auto& device : g_attached.devices) {
        device->attach(config);
    }
    // A card too small for the formatter (under 7 MiB) would halt it for
    // good; it stays blank and the station reports it has no file system.
    if (Device* device = station_device("sd_card"); fresh_card && device != nullptr) {
        SdCardModel& card = model_of<SdCardModel>(*device);
        if (card.block_count() >= kSmallestFormattedBlocks) {
            format_new_card(card.file());
        }
        if (!card.commit_image()) {
            return card.load_error();
        }
    }
    return {};
}

void save_and_detach_devices() {
    // The clock's time run since its last write; a failure stops the run.
    if (Mcp7940* clock = model_named<Mcp7940>("clock")) {
        clock->save();
    }
    g_attached = Attached{};
}

Device* station_device(const std::string& name) {
    const auto found = g_attached.by_name.find(name);
    return found == g_attached.by_name.end() ? nullptr : found->second;
}

StationDevices station_devices() {
    return {model_named<Mcp7940>("clock"), model_named<Eeprom24xx64>("eeprom"),
            model_named<AnalogInputs>("analog"), model_named<WeatherStation>("weather_station"),
            model_named<AisTransponder>("ais_transponder")};
}

}  // namespace sim
