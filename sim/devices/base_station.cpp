#include "devices/base_station.h"

#include <cstdio>

#include "codec/ais_bits.h"
#include "codec/nmea.h"

namespace sim {

std::string BaseStation::abm_sentence(const AbmRequest& request, unsigned sequence) {
    const std::string body = "AIABM,1,1," + std::to_string(sequence % 4) + "," +
                             std::to_string(request.mmsi) + ",0,6," + request.payload + "," +
                             std::to_string(request.fill);
    const uint8_t checksum = codec::nmea_checksum(body);
    return codec::build_sentence_with_checksum(
        '!', body, request.bad_checksum ? static_cast<uint8_t>(~checksum) : checksum);
}

void BaseStation::send_abm(const AbmRequest& request) {
    send(abm_sentence(request, sequence_));
    sequence_ = (sequence_ + 1) % 4;
}

}  // namespace sim

// ---- In the simulated station -----------------------------------------------
// The base station computers of the simulated station, on the sensor
// channels the configuration image gives them, and the step that makes one
// ask for a message 6.
namespace sim {
namespace {

std::unique_ptr<Device> load(const std::filesystem::path&, std::string*) {
    return load_peer_device<BaseStation>(kBaseStationType);
}

constexpr const char* kAbmShape =
    "{\"mmsi\": destination, \"payload\": armoured binary data (at most 48 characters), "
    "\"fill\": 0..5, \"bad_checksum\": true/false, \"channel\": 1/2}";

// "base_station_abm": {"mmsi", "payload", "fill", "bad_checksum", "channel"}.
bool parse_step(const std::string&, const nlohmann::json& value, DeviceStep* step,
                std::string* expected) {
    if (!value.is_object()) {
        *expected = kAbmShape;
        return false;
    }
    for (const auto& item : value.items()) {
        const std::string& name = item.key();
        if (name != "mmsi" && name != "payload" && name != "fill" && name != "bad_checksum" &&
            name != "channel") {
            *expected = std::string(kAbmShape) + "; unknown field \"" + name + "\"";
            return false;
        }
    }
    BaseStation::AbmRequest request;
    const nlohmann::json& mmsi = value.contains("mmsi") ? value["mmsi"] : nlohmann::json();
    if (!mmsi.is_number_integer() || mmsi.get<int64_t>() < 1 || mmsi.get<int64_t>() > 999999999) {
        *expected = "\"mmsi\" the destination, 1..999999999";
        return false;
    }
    request.mmsi = static_cast<uint32_t>(mmsi.get<int64_t>());
    const nlohmann::json& payload = value.contains("payload") ? value["payload"] : nlohmann::json();
    if (!payload.is_string() || payload.get<std::string>().empty() ||
        payload.get<std::string>().size() > BaseStation::kLongestPayload) {
        *expected = "\"payload\" armoured binary data, 1..48 characters";
        return false;
    }
    request.payload = payload.get<std::string>();
    for (const char c : request.payload) {
        if (codec::dearmour(c) < 0) {
            *expected =
                "\"payload\" of armouring characters only ('" + std::string(1, c) + "' is not one)";
            return false;
        }
    }
    if (value.contains("fill")) {
        const nlohmann::json& fill = value["fill"];
        if (!fill.is_number_integer() || fill.get<int64_t>() < 0 || fill.get<int64_t>() > 5) {
            *expected = "\"fill\" 0..5";
            return false;
        }
        request.fill = static_cast<unsigned>(fill.get<int64_t>());
    }
    if (value.contains("bad_checksum") &&
        !step_bool(value["bad_checksum"], &request.bad_checksum, expected)) {
        *expected = "\"bad_checksum\" " + *expected;
        return false;
    }
    unsigned channel = 0;
    if (!step_channel(value, &channel, expected)) {
        return false;
    }
    *step = [request, channel](Device& device) {
        BaseStation* base = peer_on<BaseStation>(&device, channel);
        if (base == nullptr) {
            std::fprintf(stderr,
                         "ktr09-sim: base_station_abm: no base station on %s (give the "
                         "channel csensor 1 in the configuration)\n",
                         channel == 0 ? "either sensor channel"
                                      : (channel == 1 ? "sensor channel 1" : "sensor channel 2"));
            return;
        }
        base->send_abm(request);
    };
    return true;
}

}  // namespace

DeviceType base_station_device_type() {
    return {"base_station", nullptr, {"base_station_abm"}, &load, &parse_step};
}

}  // namespace sim
