// Scenario steps for what the transponder's GPS sees and what it hears on
// the air. Positions are degrees (north and east positive), intervals and
// times are seconds (times counted from the start of the run, as "at").
#include <cmath>
#include <string>

#include "devices/ais_transponder.h"
#include "devices/device.h"

namespace sim {
namespace {

using Json = nlohmann::json;

// Checks an object's members: each known, the required ones present.
class Fields {
  public:
    Fields(const Json& value, std::vector<const char*> known, std::string* expected)
        : value_(value), known_(std::move(known)), expected_(expected) {}

    bool check(const std::string& shape, std::initializer_list<const char*> required) {
        if (!value_.is_object()) {
            return fail(shape);
        }
        for (const auto& item : value_.items()) {
            bool found = false;
            for (const char* name : known_) {
                found = found || item.key() == name;
            }
            if (!found) {
                return fail(shape + "; unknown field \"" + item.key() + "\"");
            }
        }
        for (const char* name : required) {
            if (!value_.contains(name)) {
                return fail(shape + "; \"" + name + "\" missing");
            }
        }
        return true;
    }
    // A number within [low, high] if given (else *out stays).
    bool number(const char* name, double low, double high, double* out) {
        if (!value_.contains(name)) {
            return true;
        }
        const Json& v = value_[name];
        if (!v.is_number() || v.get<double>() < low || v.get<double>() > high) {
            return fail("\"" + std::string(name) + "\" a number " + text(low) + ".." + text(high));
        }
        *out = v.get<double>();
        return true;
    }
    bool whole(const char* name, double low, double high, uint32_t* out) {
        double value = *out;
        if (!number(name, low, high, &value)) {
            return false;
        }
        if (value != std::floor(value)) {
            return fail("\"" + std::string(name) + "\" a whole number");
        }
        *out = static_cast<uint32_t>(value);
        return true;
    }
    bool flag(const char* name, bool* out) {
        if (!value_.contains(name)) {
            return true;
        }
        if (!value_[name].is_boolean()) {
            return fail("\"" + std::string(name) + "\" true or false");
        }
        *out = value_[name].get<bool>();
        return true;
    }
    bool string(const char* name, std::string* out) {
        if (!value_.contains(name)) {
            return true;
        }
        if (!value_[name].is_string()) {
            return fail("\"" + std::string(name) + "\" text");
        }
        *out = value_[name].get<std::string>();
        return true;
    }
    // Seconds to a duration: an interval above 0, or a time (0 = none).
    bool seconds(const char* name, host::Micros* out) {
        double value = static_cast<double>(*out) / host::kSecond;
        if (!number(name, 0.001, 1e7, &value)) {
            return false;
        }
        *out = static_cast<host::Micros>(std::llround(value * host::kSecond));
        return true;
    }

  private:
    bool fail(const std::string& what) {
        *expected_ = what;
        return false;
    }
    static std::string text(double value) {
        std::string shown = std::to_string(value);
        shown.erase(shown.find_last_not_of('0') + 1);
        if (shown.back() == '.') {
            shown.pop_back();
        }
        return shown;
    }
    const Json& value_;
    std::vector<const char*> known_;
    std::string* expected_;
};

// "gps_fix": {"fix": true, "satellites": 7, "hdop": 1.2}, each optional.
bool parse_gps_fix(const Json& value, DeviceStep* step, std::string* expected) {
    Fields fields(value, {"fix", "satellites", "hdop"}, expected);
    if (!fields.check("{\"fix\": true/false, \"satellites\": 0..24, \"hdop\": 0..99.99}", {})) {
        return false;
    }
    double hdop = -1;
    uint32_t satellites = 25;
    bool fix = false;
    const bool has_fix = value.contains("fix");
    if (!fields.flag("fix", &fix) || !fields.whole("satellites", 0, 24, &satellites) ||
        !fields.number("hdop", 0, 99.99, &hdop)) {
        return false;
    }
    *step = [has_fix, fix, satellites, hdop](Device& device) {
        AisTransponder::Settings& settings = model_of<AisTransponder>(device).settings();
        settings.gps_fix = has_fix ? fix : settings.gps_fix;
        settings.satellites = satellites <= 24 ? satellites : settings.satellites;
        settings.hdop = hdop >= 0 ? hdop : settings.hdop;
    };
    return true;
}

constexpr const char* kShipShape =
    "{\"mmsi\", \"class\": \"A\"/\"B\", \"lat\", \"lon\" (degrees), \"course\" (degrees), "
    "\"speed\" (knots), \"every\", \"until\" (seconds)}";

bool parse_ship(const Json& value, DeviceStep* step, std::string* expected) {
    Fields fields(value, {"mmsi", "class", "lat", "lon", "course", "speed", "every", "until"},
                  expected);
    AisTransponder::Ship ship;
    std::string ais_class = "A";
    if (!fields.check(kShipShape, {"mmsi", "lat", "lon"}) ||
        !fields.whole("mmsi", 1, 999999999, &ship.mmsi) || !fields.string("class", &ais_class) ||
        !fields.number("lat", -90, 90, &ship.latitude) ||
        !fields.number("lon", -180, 180, &ship.longitude) ||
        !fields.number("course", 0, 359.9, &ship.course_deg) ||
        !fields.number("speed", 0, 102.2, &ship.speed_knots) ||
        !fields.seconds("every", &ship.every) || !fields.seconds("until", &ship.until)) {
        return false;
    }
    if (ais_class != "A" && ais_class != "B") {
        *expected = "\"class\" \"A\" or \"B\"";
        return false;
    }
    ship.ais_class = ais_class[0];
    *step = [ship](Device& device) { model_of<AisTransponder>(device).add_ship(ship, nullptr); };
    return true;
}

bool parse_aton_station(const Json& value, DeviceStep* step, std::string* expected) {
    Fields fields(value,
                  {"mmsi", "name", "type", "lat", "lon", "status", "virtual", "every", "until"},
                  expected);
    AisTransponder::AtonStation station;
    if (!fields.check("{\"mmsi\", \"name\", \"type\": 0..31, \"lat\", \"lon\" (degrees), "
                      "\"status\": 0..255, \"virtual\": true/false, \"every\", \"until\" "
                      "(seconds)}",
                      {"mmsi", "lat", "lon"}) ||
        !fields.whole("mmsi", 1, 999999999, &station.mmsi) ||
        !fields.string("name", &station.name) || !fields.whole("type", 0, 31, &station.aton_type) ||
        !fields.number("lat", -90, 90, &station.latitude) ||
        !fields.number("lon", -180, 180, &station.longitude) ||
        !fields.whole("status", 0, 255, &station.status) ||
        !fields.flag("virtual", &station.virtual_aton) ||
        !fields.seconds("every", &station.every) || !fields.seconds("until", &station.until)) {
        return false;
    }
    if (station.name.size() > 34) {
        *expected = "a \"name\" of at most 34 characters";
        return false;
    }
    *step = [station](Device& device) {
        model_of<AisTransponder>(device).add_aton_station(station, nullptr);
    };
    return true;
}

// The data as hexadecimal text, two digits a byte.
bool parse_msg6(const Json& value, DeviceStep* step, std::string* expected) {
    Fields fields(value, {"from", "to", "dac", "fi", "data"}, expected);
    AisTransponder::AddressedBinary binary;
    std::string hex;
    if (!fields.check("{\"from\", \"to\" (default: this transponder), \"dac\": 0..1023, "
                      "\"fi\": 0..63, \"data\": \"hexadecimal bytes\"}",
                      {"from", "dac", "fi", "data"}) ||
        !fields.whole("from", 1, 999999999, &binary.from) ||
        !fields.whole("to", 1, 999999999, &binary.to) ||
        !fields.whole("dac", 0, 1023, &binary.dac) || !fields.whole("fi", 0, 63, &binary.fi) ||
        !fields.string("data", &hex)) {
        return false;
    }
    if (hex.size() % 2 != 0 || hex.size() > 2 * 115 ||
        hex.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
        *expected = "\"data\" as hexadecimal bytes, at most 115";
        return false;
    }
    for (size_t i = 0; i < hex.size(); i += 2) {
        binary.data.push_back(static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    }
    *step = [binary](Device& device) {
        model_of<AisTransponder>(device).receive_msg6(binary, nullptr);
    };
    return true;
}

// The periods it reports for the messages the station asks it to send (0 =
// not configured), as its configuration software left them; named as in its
// state file, the others unchanged.
bool parse_reporting(const Json& value, DeviceStep* step, std::string* expected) {
    Fields fields(value, {"msg6_period_s", "msg8_period_s", "msg12_period_s"}, expected);
    constexpr uint32_t kUnchanged = 100000;
    uint32_t periods[3] = {kUnchanged, kUnchanged, kUnchanged};
    if (!fields.check("{\"msg6_period_s\", \"msg8_period_s\", \"msg12_period_s\": seconds "
                      "0..86400, 0 = not configured}",
                      {}) ||
        !fields.whole("msg6_period_s", 0, 86400, &periods[0]) ||
        !fields.whole("msg8_period_s", 0, 86400, &periods[1]) ||
        !fields.whole("msg12_period_s", 0, 86400, &periods[2])) {
        return false;
    }
    *step = [periods](Device& device) {
        AisTransponder::Settings& settings = model_of<AisTransponder>(device).settings();
        unsigned* const targets[3] = {&settings.msg6_period_s, &settings.msg8_period_s,
                                      &settings.msg12_period_s};
        for (size_t i = 0; i < 3; ++i) {
            *targets[i] = periods[i] != kUnchanged ? periods[i] : *targets[i];
        }
    };
    return true;
}

// Read when the scenario is, so that a bad recording stops it before the run.
bool parse_replay(const Json& value, DeviceStep* step, std::string* expected) {
    if (!value.is_string()) {
        *expected = "the path of a recording of NMEA sentences";
        return false;
    }
    std::string error;
    const auto recording = AisTransponder::read_recording(value.get<std::string>(), &error);
    if (!recording) {
        *expected = "a recording that can be read (" + error + ")";
        return false;
    }
    *step = [recording = *recording](Device& device) {
        model_of<AisTransponder>(device).replay(recording);
    };
    return true;
}

}  // namespace

const std::vector<const char*>& transponder_air_keys() {
    static const std::vector<const char*> keys = {
        "gps_fix", "ship", "aton_station", "msg6_received", "replay_file", "reporting_periods"};
    return keys;
}

bool parse_transponder_air_step(const std::string& key, const Json& value, DeviceStep* step,
                                std::string* expected) {
    if (key == "gps_fix") {
        return parse_gps_fix(value, step, expected);
    }
    if (key == "ship") {
        return parse_ship(value, step, expected);
    }
    if (key == "aton_station") {
        return parse_aton_station(value, step, expected);
    }
    if (key == "msg6_received") {
        return parse_msg6(value, step, expected);
    }
    if (key == "reporting_periods") {
        return parse_reporting(value, step, expected);
    }
    return parse_replay(value, step, expected);
}

}  // namespace sim
