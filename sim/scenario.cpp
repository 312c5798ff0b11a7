#include "scenario.h"

#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <utility>

#include "devices/analog_inputs.h"
#include "devices/eeprom_24xx64.h"
#include "devices/mcp7940.h"
#include "devices/weather_station.h"
#include "host/machine.h"
#include "options.h"
#include "station.h"

namespace sim {

const std::array<const char*, WeatherChange::kFieldCount> WeatherChange::kFieldNames = {
    "wind_knots",        "wind_true_deg",    "wind_magnetic_deg", "pressure_bar",
    "air_temperature_c", "humidity_percent", "dew_point_c",
};

namespace {

using Json = nlohmann::json;

// The Reading members in the order of WeatherChange::kFieldNames.
constexpr double WeatherStation::Reading::*kReadingFields[WeatherChange::kFieldCount] = {
    &WeatherStation::Reading::wind_knots,        &WeatherStation::Reading::wind_true_deg,
    &WeatherStation::Reading::wind_magnetic_deg, &WeatherStation::Reading::pressure_bar,
    &WeatherStation::Reading::air_temperature_c, &WeatherStation::Reading::humidity_percent,
    &WeatherStation::Reading::dew_point_c,
};

constexpr const char* kStepKeys =
    "usb, battery_volts, input_volts, weather, weather_silent, weather_bad_checksums, "
    "clock_fault, eeprom_silent, input_level";

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

bool read_volts(const Json& value, double* volts) {
    if (!value.is_number() || value.get<double>() < 0.0) {
        return false;
    }
    *volts = value.get<double>();
    return true;
}

bool read_bool(const Json& value, bool* out) {
    if (!value.is_boolean()) {
        return false;
    }
    *out = value.get<bool>();
    return true;
}

// One stimulus key of a step; `where` is the step's name for messages.
bool parse_action(const std::string& where, const std::string& key, const Json& value,
                  ScenarioAction* action, const Fault& fault) {
    const std::string at_key = where + ": " + in_quotes(key) + ": ";
    if (key == "usb") {
        if (!value.is_string()) {
            return fault(at_key + "expected the text to send, got " + shown(value));
        }
        *action = UsbText{value.get<std::string>()};
        return true;
    }
    if (key == "battery_volts") {
        BatteryVolts battery{};
        if (!read_volts(value, &battery.volts)) {
            return fault(at_key + "expected volts (a number, at least 0), got " + shown(value));
        }
        *action = battery;
        return true;
    }
    if (key == "input_volts") {
        InputVolts inputs{};
        if (!value.is_array() || value.size() != 2 || !read_volts(value[0], &inputs.volts[0]) ||
            !read_volts(value[1], &inputs.volts[1])) {
            return fault(at_key +
                         "expected [input 1 volts, input 2 volts] (numbers, at least 0), got " +
                         shown(value));
        }
        *action = inputs;
        return true;
    }
    if (key == "weather") {
        if (!value.is_object() || value.empty()) {
            return fault(at_key + "expected an object of reading fields, got " + shown(value));
        }
        WeatherChange change;
        for (const auto& [field, number] : value.items()) {
            size_t index = 0;
            while (index < WeatherChange::kFieldCount &&
                   field != WeatherChange::kFieldNames[index]) {
                ++index;
            }
            if (index == WeatherChange::kFieldCount) {
                std::string names;
                for (const char* name : WeatherChange::kFieldNames) {
                    names += names.empty() ? name : std::string(", ") + name;
                }
                return fault(at_key + "unknown field " + in_quotes(field) + " (expected " + names +
                             ")");
            }
            if (!number.is_number()) {
                return fault(at_key + in_quotes(field) + ": expected a number, got " +
                             shown(number));
            }
            change.fields[index] = number.get<double>();
        }
        *action = change;
        return true;
    }
    if (key == "weather_silent" || key == "weather_bad_checksums" || key == "eeprom_silent") {
        bool on = false;
        if (!read_bool(value, &on)) {
            return fault(at_key + "expected true or false, got " + shown(value));
        }
        if (key == "weather_silent") {
            *action = WeatherSilent{on};
        } else if (key == "weather_bad_checksums") {
            *action = WeatherBadChecksums{on};
        } else {
            *action = EepromSilent{on};
        }
        return true;
    }
    if (key == "clock_fault") {
        const std::string name = value.is_string() ? value.get<std::string>() : std::string();
        if (name == "none") {
            *action = ClockFault{ClockFault::Kind::none};
        } else if (name == "no_answer") {
            *action = ClockFault{ClockFault::Kind::no_answer};
        } else if (name == "stopped") {
            *action = ClockFault{ClockFault::Kind::stopped};
        } else {
            return fault(at_key + "expected \"no_answer\", \"stopped\" or \"none\", got " +
                         shown(value));
        }
        return true;
    }
    if (key == "input_level") {
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
            return fault(
                at_key + "\"level\": expected 0, 1 or -1 (not driven), got " +
                (value.contains("level") ? shown(value["level"]) : std::string("nothing")));
        }
        *action = InputLevel{static_cast<uint32_t>(value["pin"].get<int64_t>()),
                             static_cast<int>(value["level"].get<int64_t>())};
        return true;
    }
    return fault(where + ": unknown key " + in_quotes(key) + " (expected at and one of " +
                 kStepKeys + ")");
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
        return fault(at_where + ": no stimulus (expected one of " + kStepKeys + ")");
    }
    return parse_action(at_where, stimulus_key, *stimulus, &out->action, fault);
}

}  // namespace

std::optional<Scenario> parse_scenario(std::string_view text, std::string* error) {
    const Fault fault(error);
    Json root;
    try {
        root = Json::parse(text.begin(), text.end(), nullptr, true, true);
    } catch (const Json::parse_error& failure) {
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
        } else if (key == "steps") {
            if (!value.is_array()) {
                fault("\"steps\": expected a list of steps, got " + shown(value));
                return std::nullopt;
            }
            for (size_t index = 0; index < value.size(); ++index) {
                ScenarioStep step{0, UsbText{}};
                if (!parse_step(index + 1, value[index], &step, fault)) {
                    return std::nullopt;
                }
                scenario.steps.push_back(std::move(step));
            }
        } else {
            fault("unknown key " + in_quotes(key) +
                  " (expected description, duration, mode, steps)");
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

namespace {

// What one step does to the station's surroundings when its time comes.
struct Stimulus {
    StationDevices devices;

    void operator()(const UsbText& usb) const { host::usb_send(usb.text); }
    void operator()(const BatteryVolts& battery) const {
        devices.analog->set_battery_volts(battery.volts);
    }
    void operator()(const InputVolts& inputs) const {
        devices.analog->set_input_volts(1, inputs.volts[0]);
        devices.analog->set_input_volts(2, inputs.volts[1]);
    }
    void operator()(const WeatherChange& change) const {
        WeatherStation::Profile profile = devices.weather->profile();
        for (size_t index = 0; index < WeatherChange::kFieldCount; ++index) {
            if (change.fields[index]) {
                profile.steady.*kReadingFields[index] = *change.fields[index];
            }
        }
        devices.weather->set_profile(profile);
    }
    void operator()(const WeatherSilent& silent) const {
        devices.weather->set_silent(silent.silent);
    }
    void operator()(const WeatherBadChecksums& bad) const {
        devices.weather->set_bad_checksums(bad.bad);
    }
    void operator()(const ClockFault& fault) const {
        devices.clock->set_silent(fault.kind == ClockFault::Kind::no_answer);
        devices.clock->set_crystal_failed(fault.kind == ClockFault::Kind::stopped);
    }
    void operator()(const EepromSilent& silent) const { devices.eeprom->set_silent(silent.silent); }
    void operator()(const InputLevel& input) const {
        host::set_input_level(input.pin, input.level);
    }
};

}  // namespace

bool apply_scenario(const Scenario& scenario, std::string* error) {
    const StationDevices devices = station_devices();
    if (devices.clock == nullptr || devices.eeprom == nullptr || devices.analog == nullptr ||
        devices.weather == nullptr) {
        if (error != nullptr) {
            *error = "the station's devices are not attached";
        }
        return false;
    }
    const host::Micros start = host::now();
    for (const ScenarioStep& step : scenario.steps) {
        host::schedule_at(start + step.at, [devices, action = step.action] {
            std::visit(Stimulus{devices}, action);
        });
    }
    return true;
}

}  // namespace sim
