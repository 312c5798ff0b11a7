// The devices of the default station: one line per model. A model's
// registration (in its own file) names its state file and scenario keys.
#include "devices/device.h"

namespace sim {

DeviceType eeprom_device_type();
DeviceType analog_inputs_device_type();
DeviceType weather_station_device_type();
DeviceType ais_transponder_device_type();
DeviceType mcp7940_device_type();
DeviceType sd_card_device_type();
DeviceType base_station_device_type();
DeviceType tidelink_device_type();

const std::vector<DeviceType>& device_types() {
    // The clock comes last: it saves its registers when it goes, so it must
    // not exist when an earlier file refuses the start.
    static const std::vector<DeviceType> types = {
        eeprom_device_type(),          analog_inputs_device_type(), weather_station_device_type(),
        ais_transponder_device_type(), sd_card_device_type(),       base_station_device_type(),
        tidelink_device_type(),        mcp7940_device_type(),
    };
    return types;
}

bool step_bool(const nlohmann::json& value, bool* out, std::string* expected) {
    if (!value.is_boolean()) {
        *expected = "true or false";
        return false;
    }
    *out = value.get<bool>();
    return true;
}

bool step_baud(const nlohmann::json& value, uint32_t* out, std::string* expected) {
    if (!value.is_number_unsigned() || value.get<uint64_t>() < 1200 ||
        value.get<uint64_t>() > 115200) {
        *expected = "a baud rate (1200..115200)";
        return false;
    }
    *out = value.get<uint32_t>();
    return true;
}

bool step_volts(const nlohmann::json& value, double* out) {
    if (!value.is_number() || value.get<double>() < 0.0) {
        return false;
    }
    *out = value.get<double>();
    return true;
}

}  // namespace sim
