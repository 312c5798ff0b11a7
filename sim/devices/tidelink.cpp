#include "devices/tidelink.h"

#include <cstdio>

#include "codec/nmea.h"

namespace sim {

std::string TidelinkDevice::frame(const std::string& text, bool bad_checksum) {
    const uint8_t checksum = codec::nmea_checksum(text);
    char digits[3];
    std::snprintf(digits, sizeof digits, "%02X",
                  bad_checksum ? static_cast<uint8_t>(~checksum) : checksum);
    return text + "*" + digits + "\r\n";
}

std::string TidelinkDevice::frame_text(const std::vector<std::string>& fields) {
    std::string text;
    for (size_t i = 0; i < fields.size(); ++i) {
        text += (i == 0 ? "" : ",") + fields[i];
    }
    return text;
}

void TidelinkDevice::send_frame(const std::string& text, bool bad_checksum) {
    send(frame(text, bad_checksum));
}

}  // namespace sim

// ---- In the simulated station -----------------------------------------------
// The TIDELINK devices of the simulated station, on the sensor channels the
// configuration image gives them, and the step that makes one send a frame.
namespace sim {
namespace {

std::unique_ptr<Device> load(const std::filesystem::path&, std::string*) {
    return load_peer_device<TidelinkDevice>(kTidelinkType);
}

constexpr const char* kFrameShape =
    "the frame's text before its checksum, or {\"text\": ... or \"fields\": [...], "
    "\"bad_checksum\": true/false, \"channel\": 1/2}";

// The longest frame the station takes whole.
constexpr size_t kLongestFrame = 256;

bool frame_fields(const nlohmann::json& fields, std::string* text, std::string* expected) {
    if (!fields.is_array() || fields.empty()) {
        *expected = "\"fields\" a list of texts or numbers";
        return false;
    }
    std::vector<std::string> parts;
    for (const nlohmann::json& field : fields) {
        if (field.is_string()) {
            parts.push_back(field.get<std::string>());
        } else if (field.is_number()) {
            parts.push_back(field.dump());
        } else {
            *expected = "\"fields\" a list of texts or numbers, got " + field.dump();
            return false;
        }
    }
    *text = TidelinkDevice::frame_text(parts);
    return true;
}

// "tidelink_frame": "text" or {"text" | "fields", "bad_checksum", "channel"}.
bool parse_step(const std::string&, const nlohmann::json& value, DeviceStep* step,
                std::string* expected) {
    std::string text;
    bool bad_checksum = false;
    unsigned channel = 0;
    if (value.is_string()) {
        text = value.get<std::string>();
    } else if (value.is_object()) {
        for (const auto& item : value.items()) {
            const std::string& name = item.key();
            if (name != "text" && name != "fields" && name != "bad_checksum" && name != "channel") {
                *expected = std::string(kFrameShape) + "; unknown field \"" + name + "\"";
                return false;
            }
        }
        if (value.contains("text") == value.contains("fields")) {
            *expected = std::string(kFrameShape) + "; one of \"text\" and \"fields\"";
            return false;
        }
        if (value.contains("text") && !value["text"].is_string()) {
            *expected = "\"text\" the frame's text before its checksum";
            return false;
        }
        if (value.contains("text")) {
            text = value["text"].get<std::string>();
        } else if (!frame_fields(value["fields"], &text, expected)) {
            return false;
        }
        if (value.contains("bad_checksum") &&
            !step_bool(value["bad_checksum"], &bad_checksum, expected)) {
            *expected = "\"bad_checksum\" " + *expected;
            return false;
        }
        if (!step_channel(value, &channel, expected)) {
            return false;
        }
    } else {
        *expected = kFrameShape;
        return false;
    }
    if (text.empty() || text.size() + 5 > kLongestFrame ||
        text.find_first_of("*\r\n") != std::string::npos) {
        *expected = "a frame text of 1..251 characters without '*', CR or LF";
        return false;
    }
    *step = [text, bad_checksum, channel](Device& device) {
        TidelinkDevice* tidelink = peer_on<TidelinkDevice>(&device, channel);
        if (tidelink == nullptr) {
            std::fprintf(stderr,
                         "ktr09-sim: tidelink_frame: no TIDELINK device on %s (give the "
                         "channel csensor 2 in the configuration)\n",
                         channel == 0 ? "either sensor channel"
                                      : (channel == 1 ? "sensor channel 1" : "sensor channel 2"));
            return;
        }
        tidelink->send_frame(text, bad_checksum);
    };
    return true;
}

}  // namespace

DeviceType tidelink_device_type() {
    return {"tidelink", nullptr, {"tidelink_frame"}, &load, &parse_step};
}

}  // namespace sim
