#include "devices/sensor_channels.h"

namespace sim {

uint32_t channel_baud(uint8_t code) {
    static constexpr uint32_t kRates[] = {2400, 4800, 9600, 19200, 38400, 57600, 115200};
    // The station opens any other code at 38400.
    return code < sizeof kRates / sizeof kRates[0] ? kRates[code] : 38400;
}

ChannelLine channel_line(const codec::StationConfig& config, unsigned channel) {
    const uint8_t port = channel == 1 ? 3 : 1;
    return {port, channel_baud(config.configuracion_sensor[channel - 1].cbaudios_comunicacion)};
}

bool step_channel(const nlohmann::json& value, unsigned* channel, std::string* expected) {
    *channel = 0;
    if (!value.is_object() || !value.contains("channel")) {
        return true;
    }
    const nlohmann::json& given = value["channel"];
    if (!given.is_number_integer() || (given.get<int64_t>() != 1 && given.get<int64_t>() != 2)) {
        *expected = "\"channel\" 1 or 2 (the sensor channel the device is on)";
        return false;
    }
    *channel = static_cast<unsigned>(given.get<int64_t>());
    return true;
}

}  // namespace sim
