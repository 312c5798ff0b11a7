// Scenario files: what a good file reads as, the message each kind of bad
// input gives, and the steps acting on the devices at their times.
#include "scenario.h"

#include <gtest/gtest.h>

#include <Arduino.h>

#include <iterator>
#include <string>

#include "devices/ais_transponder.h"
#include "devices/analog_inputs.h"
#include "devices/eeprom_24xx64.h"
#include "devices/mcp7940.h"
#include "devices/weather_station.h"
#include "host/machine.h"
#include "station.h"
#include "support/state_dir.h"
#include "support/station_dir.h"

namespace {

constexpr uint64_t kMinute = 60 * host::kSecond;

const char* const kEveryKind = R"({
    // comments are allowed
    "description": "every kind of step",
    "duration": "10m",
    "mode": 1,
    "steps": [
        {"at": "5s", "usb": "DIP\r"},
        {"at": "2m", "battery_volts": 11.0},
        {"at": "3m", "input_volts": [1, 2.5]},
        {"at": "4m", "weather": {"wind_knots": 20, "pressure_bar": 0.98}},
        {"at": "5m", "weather_silent": true},
        {"at": "6m", "weather_bad_checksums": false},
        {"at": "7m", "clock_fault": "stopped"},
        {"at": "8m", "eeprom_silent": true},
        {"at": "9m", "input_level": {"pin": 36, "level": 0}},
        {"at": "9m", "usb_hex": "40 4a57"},
        {"at": "9m", "power_cut": true},
        {"at": "9m", "line_noise": {"port": 3, "bit_error_rate": 1e-4}},
        {"at": "9m", "weather_baud": 9600},
        {"at": "1m30s", "clock_fault": "no_answer"}
    ]
})";

TEST(ScenarioParse, ReadsEveryKindOfStep) {
    std::string error;
    const std::optional<sim::Scenario> scenario = sim::parse_scenario(kEveryKind, &error);
    ASSERT_TRUE(scenario) << error;
    EXPECT_EQ("every kind of step", scenario->description);
    EXPECT_EQ(10 * kMinute, scenario->duration);
    EXPECT_EQ(1, scenario->mode);
    ASSERT_EQ(14u, scenario->steps.size());
    const auto& steps = scenario->steps;

    // Each key goes to the device that registered it; the effects are
    // checked where the steps are applied.
    const struct {
        const char* key;
        const char* device;
    } owners[] = {
        {"usb", ""},
        {"battery_volts", "analog"},
        {"input_volts", "analog"},
        {"weather", "weather_station"},
        {"weather_silent", "weather_station"},
        {"weather_bad_checksums", "weather_station"},
        {"clock_fault", "clock"},
        {"eeprom_silent", "eeprom"},
        {"input_level", ""},
        {"usb_hex", ""},
        {"power_cut", ""},
        {"line_noise", ""},
        {"weather_baud", "weather_station"},
    };
    for (size_t k = 0; k < std::size(owners); ++k) {
        EXPECT_EQ(owners[k].key, steps[k].key);
        EXPECT_EQ(owners[k].device, steps[k].device) << owners[k].key;
    }
    EXPECT_EQ(5 * host::kSecond, steps[0].at);
    // Steps need not be in time order; the file's order is kept.
    EXPECT_EQ(90 * host::kSecond, steps[13].at);
}

TEST(ScenarioParse, DurationAndModeMayBeLeftOut) {
    std::string error;
    const auto scenario = sim::parse_scenario(R"({"description": "d", "steps": []})", &error);
    ASSERT_TRUE(scenario) << error;
    EXPECT_FALSE(scenario->duration);
    EXPECT_FALSE(scenario->mode);
    EXPECT_FALSE(scenario->seed);
    EXPECT_TRUE(scenario->steps.empty());
    const auto seeded = sim::parse_scenario(
        R"({"description": "d", "seed": 18446744073709551615, "steps": []})", &error);
    ASSERT_TRUE(seeded) << error;
    EXPECT_EQ(18446744073709551615u, seeded->seed);
}

struct BadInput {
    const char* name;
    const char* steps;  // the "steps" value, or a whole file when it starts with '!'
    std::vector<std::string> message_parts;
};

class ScenarioParseBad : public testing::TestWithParam<BadInput> {};

TEST_P(ScenarioParseBad, NamesWhereAndWhat) {
    const BadInput& bad = GetParam();
    const std::string text =
        bad.steps[0] == '!'
            ? std::string(bad.steps + 1)
            : R"({"description": "d", "duration": "10m", "steps": [{"at": "1s", "usb": "x"}, )" +
                  std::string(bad.steps) + "]}";
    std::string error;
    EXPECT_FALSE(sim::parse_scenario(text, &error)) << text;
    for (const std::string& part : bad.message_parts) {
        EXPECT_NE(std::string::npos, error.find(part)) << "\"" << part << "\" not in: " << error;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, ScenarioParseBad,
    testing::Values(
        BadInput{"NotJson", "!{\"description\": ", {"not valid JSON"}},
        BadInput{"NumberNoDoubleHolds",
                 "!{\"description\": \"d\", \"seed\": 1e400}",
                 {"not valid JSON", "1e400"}},
        BadInput{"NotAnObject", "![1, 2]", {"expected an object"}},
        BadInput{"UnknownTopKey",
                 R"(!{"description": "d", "steps": [], "lenght": "1m"})",
                 {"unknown key \"lenght\"", "description, duration, mode, steps"}},
        BadInput{"NoDescription", R"(!{"steps": []})", {"missing \"description\""}},
        BadInput{"NoSteps", R"(!{"description": "d"})", {"missing \"steps\""}},
        BadInput{"BadDuration",
                 R"(!{"description": "d", "duration": "10min", "steps": []})",
                 {"\"duration\"", "unknown unit \"min\""}},
        BadInput{"BadMode",
                 R"(!{"description": "d", "mode": 3, "steps": []})",
                 {"\"mode\"", "0, 1 or 2", "3"}},
        BadInput{"BadSeed",
                 R"(!{"description": "d", "seed": -1, "steps": []})",
                 {"\"seed\"", "whole number", "-1"}},
        BadInput{"StepsNotAList", R"(!{"description": "d", "steps": {}})", {"\"steps\"", "list"}},
        BadInput{"StepNotAnObject", "7", {"step 2", "expected an object"}},
        BadInput{"StepWithoutAt", R"({"usb": "x"})", {"step 2", "missing \"at\""}},
        BadInput{"AtNotText", R"({"at": 5, "usb": "x"})", {"step 2", "\"at\"", "5"}},
        BadInput{"AtBadDuration",
                 R"({"at": "5x", "usb": "x"})",
                 {"step 2", "\"at\"", "unknown unit \"x\""}},
        BadInput{
            "AtAfterTheEnd", R"({"at": "11m", "usb": "x"})", {"step 2", "\"at\"", "after the end"}},
        BadInput{"UnknownStepKey",
                 R"({"at": "1m", "batery_volts": 11})",
                 {"step 2 (at 1m)", "unknown key \"batery_volts\"", "battery_volts"}},
        BadInput{"NoStimulus", R"({"at": "1m"})", {"step 2", "no stimulus"}},
        BadInput{"TwoStimuli",
                 R"({"at": "1m", "usb": "x", "eeprom_silent": true})",
                 {"step 2", "\"eeprom_silent\"", "\"usb\"", "one stimulus"}},
        BadInput{"UsbNotText", R"({"at": "1m", "usb": 4})", {"step 2", "\"usb\"", "text"}},
        BadInput{"BatteryNotANumber",
                 R"({"at": "1m", "battery_volts": "11"})",
                 {"step 2", "\"battery_volts\"", "volts"}},
        BadInput{"BatteryNegative",
                 R"({"at": "1m", "battery_volts": -1})",
                 {"step 2", "\"battery_volts\"", "at least 0"}},
        BadInput{"InputVoltsOne",
                 R"({"at": "1m", "input_volts": [1]})",
                 {"step 2", "\"input_volts\"", "[input 1 volts, input 2 volts]"}},
        BadInput{"WeatherUnknownField",
                 R"({"at": "1m", "weather": {"wind_kt": 3}})",
                 {"step 2", "\"weather\"", "unknown field \"wind_kt\"", "wind_knots"}},
        BadInput{"WeatherFieldNotANumber",
                 R"({"at": "1m", "weather": {"wind_knots": "3"}})",
                 {"step 2", "\"weather\"", "\"wind_knots\"", "a number"}},
        BadInput{"WeatherEmpty",
                 R"({"at": "1m", "weather": {}})",
                 {"step 2", "\"weather\"", "reading fields"}},
        BadInput{"SilentNotBool",
                 R"({"at": "1m", "weather_silent": 1})",
                 {"step 2", "\"weather_silent\"", "true or false"}},
        BadInput{"ChecksumsNotBool",
                 R"({"at": "1m", "weather_bad_checksums": "yes"})",
                 {"step 2", "\"weather_bad_checksums\"", "true or false"}},
        BadInput{"EepromNotBool",
                 R"({"at": "1m", "eeprom_silent": null})",
                 {"step 2", "\"eeprom_silent\"", "true or false"}},
        BadInput{"ClockFaultUnknown",
                 R"({"at": "1m", "clock_fault": "slow"})",
                 {"step 2", "\"clock_fault\"", "\"no_answer\", \"stopped\" or \"none\"", "slow"}},
        BadInput{"InputLevelNoPin",
                 R"({"at": "1m", "input_level": {"level": 1}})",
                 {"step 2", "\"input_level\"", "\"pin\"", "nothing"}},
        BadInput{"InputLevelPinTooHigh",
                 R"({"at": "1m", "input_level": {"pin": 64, "level": 1}})",
                 {"step 2", "\"input_level\"", "\"pin\"", "0..63", "64"}},
        BadInput{"InputLevelBadLevel",
                 R"({"at": "1m", "input_level": {"pin": 3, "level": 2}})",
                 {"step 2", "\"input_level\"", "\"level\"", "0, 1 or -1"}},
        BadInput{"UsbHexOddDigits",
                 R"({"at": "1m", "usb_hex": "40 4"})",
                 {"step 2", "\"usb_hex\"", "hex"}},
        BadInput{"UsbHexNotHex",
                 R"({"at": "1m", "usb_hex": "zz"})",
                 {"step 2", "\"usb_hex\"", "hex", "zz"}},
        BadInput{"PowerCutFalse",
                 R"({"at": "1m", "power_cut": false})",
                 {"step 2", "\"power_cut\"", "expected true"}},
        BadInput{"LineNoiseNoSuchPort",
                 R"({"at": "1m", "line_noise": {"port": 2, "bit_error_rate": 0.001}})",
                 {"step 2", "\"line_noise\"", "0, 1 or 3"}},
        BadInput{"LineNoiseRateTooHigh",
                 R"({"at": "1m", "line_noise": {"port": 1, "bit_error_rate": 0.7}})",
                 {"step 2", "\"line_noise\"", "0..0.5"}},
        BadInput{"WeatherBaudTooLow",
                 R"({"at": "1m", "weather_baud": 300})",
                 {"step 2", "\"weather_baud\"", "1200..115200", "300"}},
        BadInput{"InputLevelExtraKey",
                 R"({"at": "1m", "input_level": {"pin": 3, "level": 1, "pull": 1}})",
                 {"step 2", "\"input_level\"", "unknown key \"pull\""}}),
    [](const testing::TestParamInfo<BadInput>& info) { return std::string(info.param.name); });

TEST(ScenarioLoad, AMissingFileIsNamed) {
    std::string error;
    EXPECT_FALSE(sim::load_scenario("/nonexistent/scenario.json", &error));
    EXPECT_NE(std::string::npos, error.find("/nonexistent/scenario.json")) << error;
}

TEST(ScenarioLoad, TheExampleScenariosRead) {
    for (const char* name : {"low_battery.json", "silent_weather_station.json"}) {
        std::string error;
        const auto scenario =
            sim::load_scenario(std::string(KTR09_SOURCE_DIR) + "/sim/scenarios/" + name, &error);
        ASSERT_TRUE(scenario) << error;
        EXPECT_FALSE(scenario->description.empty()) << name;
        EXPECT_FALSE(scenario->steps.empty()) << name;
    }
}

// The steps change the devices at their times, counted from when the
// scenario was applied, and not before.
class ScenarioApply : public testing::Test {
  protected:
    void SetUp() override {
        host::reset_machine();
        attach_station(state_.path());
        devices_ = sim::station_devices();
    }
    void TearDown() override { host::reset_machine(); }

    static sim::Scenario parsed(const char* text) {
        std::string error;
        std::optional<sim::Scenario> scenario = sim::parse_scenario(text, &error);
        EXPECT_TRUE(scenario) << error;
        return scenario ? *scenario : sim::Scenario{};
    }

    TemporaryStateDir state_;
    sim::StationDevices devices_{};
};

TEST_F(ScenarioApply, StepsActOnTheDevicesAtTheirTimes) {
    host::run_until(10 * host::kSecond);
    const sim::Scenario scenario = parsed(R"({"description": "d", "steps": [
        {"at": "1m", "battery_volts": 11.0},
        {"at": "1m", "input_volts": [0.5, 3.0]},
        {"at": "2m", "weather": {"wind_knots": 20}},
        {"at": "2m", "weather_silent": true},
        {"at": "2m", "weather_bad_checksums": true},
        {"at": "3m", "clock_fault": "no_answer"},
        {"at": "3m", "eeprom_silent": true},
        {"at": "4m", "clock_fault": "none"},
        {"at": "4m", "eeprom_silent": false},
        {"at": "4m", "input_level": {"pin": 36, "level": 1}},
        {"at": "4m", "transponder_nak_all": true},
        {"at": "4m", "transponder_babbling": true},
        {"at": "4m", "transponder_baud": 9600},
        {"at": "4m", "weather_baud": 9600}]})");
    const double battery = devices_.analog->battery_volts();
    const double pressure = devices_.weather->profile().steady.pressure_bar;
    std::string error;
    ASSERT_TRUE(sim::apply_scenario(scenario, &error)) << error;

    host::run_until(10 * host::kSecond + kMinute - 1);
    EXPECT_EQ(battery, devices_.analog->battery_volts());
    host::run_until(10 * host::kSecond + kMinute);
    EXPECT_DOUBLE_EQ(11.0, devices_.analog->battery_volts());
    EXPECT_DOUBLE_EQ(0.5, devices_.analog->input_volts(1));
    EXPECT_DOUBLE_EQ(3.0, devices_.analog->input_volts(2));
    EXPECT_NE(20.0, devices_.weather->profile().steady.wind_knots);

    host::run_until(10 * host::kSecond + 2 * kMinute);
    EXPECT_DOUBLE_EQ(20.0, devices_.weather->profile().steady.wind_knots);
    EXPECT_DOUBLE_EQ(pressure, devices_.weather->profile().steady.pressure_bar);
    EXPECT_FALSE(devices_.clock->silent());

    host::run_until(10 * host::kSecond + 3 * kMinute);
    EXPECT_TRUE(devices_.clock->silent());
    EXPECT_TRUE(devices_.eeprom->silent());

    EXPECT_FALSE(devices_.transponder->faults().nak_all);
    EXPECT_EQ(38400u, devices_.transponder->baud());

    host::run_until(10 * host::kSecond + 4 * kMinute);
    EXPECT_FALSE(devices_.clock->silent());
    EXPECT_FALSE(devices_.eeprom->silent());
    EXPECT_EQ(HIGH, digitalRead(36));
    EXPECT_TRUE(devices_.transponder->faults().nak_all);
    EXPECT_TRUE(devices_.transponder->faults().babbling);
    EXPECT_EQ(9600u, devices_.transponder->baud());
    EXPECT_EQ(9600u, devices_.weather->baud());
}

TEST_F(ScenarioApply, AStoppedClockStandsStillUntilCleared) {
    devices_.clock->set_time({23, 1, 1, 1, 0, 1, 0});
    const sim::Scenario scenario = parsed(R"({"description": "d", "steps": [
        {"at": "10s", "clock_fault": "stopped"}, {"at": "1m", "clock_fault": "none"}]})");
    std::string error;
    ASSERT_TRUE(sim::apply_scenario(scenario, &error)) << error;
    // Steps count from the moment they were applied.
    const host::Micros start = host::now();
    host::run_until(start + 10 * host::kSecond);
    const int stopped_at = devices_.clock->time().second;
    host::run_until(start + 50 * host::kSecond);
    EXPECT_EQ(stopped_at, devices_.clock->time().second);
    EXPECT_FALSE(devices_.clock->oscillator_running());
    host::run_until(start + 70 * host::kSecond);
    EXPECT_TRUE(devices_.clock->oscillator_running());
    EXPECT_NE(stopped_at, devices_.clock->time().second);
}

}  // namespace
