// The monitors' view of the simulated station's devices.
#include "monitors/station_world.h"

#include <ctime>
#include <filesystem>
#include <fstream>

#include "codec/config_image.h"
#include "devices/ais_transponder.h"
#include "devices/eeprom_24xx64.h"
#include "devices/mcp7940.h"
#include "station.h"

namespace sim::monitors {
namespace {

// The weather station's state file asks for bad checksums.
bool weather_file_noisy(const std::filesystem::path& file) {
    std::ifstream in(file);
    std::string name;
    std::string value;
    while (in >> name >> value) {
        if (name == "bad_checksums" && value != "0") {
            return true;
        }
    }
    return false;
}

}  // namespace

World station_world(const std::string& state_dir, const std::vector<std::string>& scenario_keys) {
    World world;
    const StationDevices devices = station_devices();
    if (AisTransponder* transponder = devices.transponder) {
        world.gps_utc = [transponder] { return transponder->utc_at(host::now()); };
        world.transponder_disturbed = [transponder] {
            const AisTransponder::Faults& f = transponder->faults();
            return !transponder->powered() || f.silent || f.bad_checksums || f.nak_all ||
                   f.late_replies || f.pc_attached || f.babbling ||
                   host::uart_noise(World::kAisPort) > 0 ||
                   transponder->baud() != host::uart_status(World::kAisPort).baud;
        };
        world.msg8_period_s = [transponder] { return transponder->settings().msg8_period_s; };
    }
    if (Mcp7940* clock = devices.clock) {
        world.station_clock = [clock]() -> std::optional<int64_t> {
            if (!clock->oscillator_running()) {
                return std::nullopt;
            }
            const Mcp7940::Time t = clock->time();
            std::tm parts{};
            parts.tm_year = 100 + t.year;
            parts.tm_mon = t.month - 1;
            parts.tm_mday = t.day;
            parts.tm_hour = t.hour;
            parts.tm_min = t.minute;
            parts.tm_sec = t.second;
            return static_cast<int64_t>(timegm(&parts));
        };
    }
    if (Eeprom24xx64* eeprom = devices.eeprom) {
        world.configuration = [eeprom] { return codec::decode_image(eeprom->contents()); };
    }
    const std::filesystem::path state(state_dir);
    world.card_image = (state / "sd_card.img").string();
    // Peers a scenario makes send bad sentences, or recorded traffic as it came.
    bool transponder_noisy = false;
    bool weather_noisy = weather_file_noisy(state / "weather_station.txt");
    bool channels_noisy = false;
    for (const std::string& key : scenario_keys) {
        // A line with noise on it carries bad sentences whichever it is.
        const bool noise = key == "line_noise";
        transponder_noisy = transponder_noisy || noise || key == "transponder_bad_checksums" ||
                            key == "replay_file" || key == "transponder_babbling" ||
                            key == "transponder_baud";
        weather_noisy =
            weather_noisy || noise || key == "weather_bad_checksums" || key == "weather_baud";
        channels_noisy = channels_noisy || key == "base_station_abm" || key == "tidelink_frame";
    }
    AisTransponder* transponder = devices.transponder;
    world.noisy_inbound = [=](uint8_t port) {
        if (port == World::kAisPort) {
            return transponder_noisy ||
                   (transponder != nullptr && transponder->faults().bad_checksums);
        }
        return channels_noisy || weather_noisy;
    };
    return world;
}

}  // namespace sim::monitors
