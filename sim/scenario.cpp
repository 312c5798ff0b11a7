#include "scenario.h"

#include <fstream>
#include <limits>
#include <nlohmann/json.hpp>
#include <sstream>
#include <utility>

#include "codec/config_json.h"
#include "devices/device.h"
#include "host/machine.h"
#include "options.h"
#include "station.h"

namespace sim {

namespace {

using Json = nlohmann::json;

// A parse fault: where it is and what was expected.
class Fault {
  public:
    explicit Fault(std::string* error) : error_(error) {}
    bool operator()(const std::string& message) const {
        if (error_ != nullptr) {
            *error_ = message;
        }
        return false;
    }

  private:
    std::string* error_;
};

std::string shown(const Json& value) {
    return value.dump();
}

std::string in_quotes(std::string_view key) {
    return "\"" + std::string(key) + "\"";
}

// Every stimulus key: the station's own, then those of the devices.
std::string step_keys() {
    std::string keys = "usb, usb_hex, input_level, power_cut, line_noise";
    for (const DeviceType& type : device_types()) {
        for (const char* key : type.scenario_keys) {
            keys += std::string(", ") + key;
        }
    }
    return keys;
}

bool parse_input_level(const std::string& at_key, const Json& value, ScenarioStep* out,
                       const Fault& fault) {
    if (!value.is_object()) {
        return fault(at_key + "expected {\"pin\": P, \"level\": L}, got " + shown(value));
    }
    for (const auto& item : value.items()) {
        if (item.key() != "pin" && item.key() != "level") {
            return fault(at_key + "unknown key " + in_quotes(item.key()) +
                         " (expected pin, level)");
        }
    }
    if (!value.contains("pin") || !value["pin"].is_number_integer() ||
        value["pin"].get<int64_t>() < 0 || value["pin"].get<int64_t>() >= host::kPinCount) {
        return fault(at_key + "\"pin\": expected a pin number 0.." +
                     std::to_string(host::kPinCount - 1) + ", got " +
                     (value.contains("pin") ? shown(value["pin"]) : std::string("nothing")));
    }
    if (!value.contains("level") || !value["level"].is_number_integer() ||
        value["level"].get<int64_t>() < -1 || value["level"].get<int64_t>() > 1) {
        return fault(at_key + "\"level\": expected 0, 1 or -1 (not driven), got " +
                     (value.contains("level") ? shown(value["level"]) : std::string("nothing")));
    }
    const auto pin = static_cast<uint32_t>(value["pin"].get<int64_t>());
    const auto level = static_cast<int>(value["level"].get<int64_t>());
    out->act = [pin, level](Device*) { host::set_input_level(pin, level); };
    return true;
}

// "usb_hex": bytes as hex digits, spaces between them allowed (a PC frame).
bool parse_usb_hex(const std::string& at_key, const Json& value, ScenarioStep* out,
                   const Fault& fault) {
    std::string bytes;
    std::string digits;
    if (value.is_string()) {
        for (const char c : value.get<std::string>()) {
            if (c != ' ') {
                digits += c;
            }
        }
    }
    if (!value.is_string() || digits.empty() || digits.size() % 2 != 0 ||
        digits.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
        return fault(at_key + "expected bytes in hex, such as \"02 4f ff\", got " + shown(value));
    }
    for (size_t i = 0; i < digits.size(); i += 2) {
        bytes += static_cast<char>(std::stoi(digits.substr(i, 2), nullptr, 16));
    }
    out->act = [bytes](Device*) { host::usb_send(bytes); };
    return true;
}

// "line_noise": {"port": 0, 1 or 3, "bit_error_rate": chance a bit flips}.
bool parse_line_noise(const std::string& at_key, const Json& value, ScenarioStep* out,
                      const Fault& fault) {
    const bool port_ok = value.is_object() && value.contains("port") &&
                         value["port"].is_number_unsigned() &&
                         (value["port"] == 0 || value["port"] == 1 || value["port"] == 3);
    const bool rate_ok = value.is_object() && value.contains("bit_error_rate") &&
                         value["bit_error_rate"].is_number() &&
                         value["bit_error_rate"].get<double>() >= 0 &&
                         value["bit_error_rate"].get<double>() <= 0.5;
    if (!port_ok || !rate_ok || value.size() != 2) {
        return fault(at_key + "expected {\"port\": 0, 1 or 3, \"bit_error_rate\": 0..0.5}, got " +
                     shown(value));
    }
    const auto port = value["port"].get<uint8_t>();
    const double rate = value["bit_error_rate"].get<double>();
    // A seed of each line's own, so that runs repeat.
    out->act = [port, rate](Device*) { host::set_uart_noise(port, rate, 0x4E4F495345ull + port); };
    return true;
}

// One stimulus key of a step; `where` is the step's name for messages.
bool parse_action(const std::string& where, const std::string& key, const Json& value,
                  ScenarioStep* out, const Fault& fault) {
    const std::string at_key = where + ": " + in_quotes(key) + ": ";
    out->key = key;
    if (key == "usb") {
        if (!value.is_string()) {
            return fault(at_key + "expected the text to send, got " + shown(value));
        }
        out->act = [text = value.get<std::string>()](Device*) { host::usb_send(text); };
        return true;
    }
    if (key == "input_level") {
        return parse_input_level(at_key, value, out, fault);
    }
    if (key == "usb_hex") {
        return parse_usb_hex(at_key, value, out, fault);
    }
    if (key == "line_noise") {
        return parse_line_noise(at_key, value, out, fault);
    }
    if (key == "power_cut") {
        if (!value.is_boolean() || !value.get<bool>()) {
            return fault(at_key + "expected true (the power goes and comes back then), got " +
                         shown(value));
        }
        out->act = [](Device*) { host::power_cycle(); };
        return true;
    }
    for (const DeviceType& type : device_types()) {
        for (const char* device_key : type.scenario_keys) {
            if (key != device_key) {
                continue;
            }
            DeviceStep step;
            std::string expected;
            if (!type.parse_step(key, value, &step, &expected)) {
                return fault(at_key + "expected " + expected + ", got " + shown(value));
            }
            out->device = type.name;
            out->act = [step](Device* device) { step(*device); };
            return true;
        }
    }
    return fault(where + ": unknown key " + in_quotes(key) + " (expected at and one of " +
                 step_keys() + ")");
}

bool parse_step(size_t number, const Json& step, ScenarioStep* out, const Fault& fault) {
    const std::string where = "step " + std::to_string(number);
    if (!step.is_object()) {
        return fault(where + ": expected an object with \"at\" and a stimulus, got " + shown(step));
    }
    if (!step.contains("at")) {
        return fault(where + ": missing \"at\" (when the step acts, e.g. \"2m\")");
    }
    if (!step["at"].is_string()) {
        return fault(where + ": \"at\": expected a duration such as \"2m\", got " +
                     shown(step["at"]));
    }
    std::string duration_error;
    const std::optional<uint64_t> at =
        parse_duration(step["at"].get<std::string>(), &duration_error);
    if (!at) {
        return fault(where + ": \"at\": " + duration_error);
    }
    out->at = *at;
    const std::string at_where = where + " (at " + step["at"].get<std::string>() + ")";
    const Json* stimulus = nullptr;
    std::string stimulus_key;
    for (const auto& item : step.items()) {
        if (item.key() == "at") {
            continue;
        }
        if (stimulus != nullptr) {
            return fault(at_where + ": " + in_quotes(stimulus_key) + " and " +
                         in_quotes(item.key()) +
                         ": a step takes one stimulus (give each its own step)");
        }
        stimulus = &item.value();
        stimulus_key = item.key();
    }
    if (stimulus == nullptr) {
        return fault(at_where + ": no stimulus (expected one of " + step_keys() + ")");
    }
    return parse_action(at_where, stimulus_key, *stimulus, out, fault);
}

}  // namespace

std::optional<Scenario> parse_scenario(std::string_view text, std::string* error) {
    const Fault fault(error);
    Json root;
    try {
        root = Json::parse(text.begin(), text.end(), nullptr, true, true);
    } catch (const Json::exception& failure) {
        // A syntax error, or a number no double holds (1e400).
        fault(std::string("not valid JSON: ") + failure.what());
        return std::nullopt;
    }
    if (!root.is_object()) {
        fault("expected an object with description, duration, mode and steps, got " + shown(root));
        return std::nullopt;
    }
    Scenario scenario;
    for (const auto& item : root.items()) {
        const std::string& key = item.key();
        const Json& value = item.value();
        if (key == "description") {
            if (!value.is_string()) {
                fault("\"description\": expected text, got " + shown(value));
                return std::nullopt;
            }
            scenario.description = value.get<std::string>();
        } else if (key == "duration") {
            std::string duration_error;
            if (!value.is_string()) {
                fault("\"duration\": expected a duration such as \"10m\", got " + shown(value));
                return std::nullopt;
            }
            scenario.duration = parse_duration(value.get<std::string>(), &duration_error);
            if (!scenario.duration) {
                fault("\"duration\": " + duration_error);
                return std::nullopt;
            }
        } else if (key == "mode") {
            if (!value.is_number_integer() || value.get<int64_t>() < 0 ||
                value.get<int64_t>() >= kModeCount) {
                fault("\"mode\": expected 0, 1 or 2, got " + shown(value));
                return std::nullopt;
            }
            scenario.mode = static_cast<int>(value.get<int64_t>());
        } else if (key == "seed") {
            if (!value.is_number_unsigned()) {
                fault("\"seed\": expected a whole number 0.." +
                      std::to_string(std::numeric_limits<uint64_t>::max()) + ", got " +
                      shown(value));
                return std::nullopt;
            }
            scenario.seed = value.get<uint64_t>();
        } else if (key == "configuration") {
            codec::StationConfig config = codec::default_station_config();
            std::string config_error;
            if (!value.is_object() || !codec::config_from_json(value, &config, &config_error)) {
                fault(
                    "\"configuration\": expected fields of the station's configuration as "
                    "ktr09-config writes them" +
                    (config_error.empty() ? ", got " + shown(value) : ": " + config_error));
                return std::nullopt;
            }
            scenario.configuration = value.dump();
        } else if (key == "steps") {
            if (!value.is_array()) {
                fault("\"steps\": expected a list of steps, got " + shown(value));
                return std::nullopt;
            }
            for (size_t index = 0; index < value.size(); ++index) {
                ScenarioStep step{};
                if (!parse_step(index + 1, value[index], &step, fault)) {
                    return std::nullopt;
                }
                scenario.steps.push_back(std::move(step));
            }
        } else {
            fault("unknown key " + in_quotes(key) +
                  " (expected description, duration, mode, steps, configuration, seed)");
            return std::nullopt;
        }
    }
    if (!root.contains("description")) {
        fault("missing \"description\" (what the scenario shows)");
        return std::nullopt;
    }
    if (!root.contains("steps")) {
        fault("missing \"steps\"");
        return std::nullopt;
    }
    if (scenario.duration) {
        for (size_t index = 0; index < scenario.steps.size(); ++index) {
            if (scenario.steps[index].at > *scenario.duration) {
                fault("step " + std::to_string(index + 1) +
                      ": \"at\": " + format_seconds(scenario.steps[index].at) +
                      " is after the end of the run (" + format_seconds(*scenario.duration) + ")");
                return std::nullopt;
            }
        }
    }
    return scenario;
}

std::optional<Scenario> load_scenario(const std::string& file, std::string* error) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        if (error != nullptr) {
            *error = file + ": cannot be read";
        }
        return std::nullopt;
    }
    std::ostringstream text;
    text << in.rdbuf();
    std::string message;
    std::optional<Scenario> scenario = parse_scenario(text.str(), &message);
    if (!scenario && error != nullptr) {
        *error = file + ": " + message;
    }
    return scenario;
}

bool apply_scenario(const Scenario& scenario, std::string* error) {
    for (const ScenarioStep& step : scenario.steps) {
        if (!step.device.empty() && station_device(step.device) == nullptr) {
            if (error != nullptr) {
                *error = "the station's devices are not attached";
            }
            return false;
        }
    }
    const host::Micros start = host::now();
    for (const ScenarioStep& step : scenario.steps) {
        Device* device = step.device.empty() ? nullptr : station_device(step.device);
        host::schedule_at(start + step.at, [device, act = step.act] { act(device); });
    }
    return true;
}

}  // namespace sim
