// The example scenarios run through ktr09-sim as a user runs them
// (--scenario, a fresh state directory), checked on what the station printed.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <variant>
#include <vector>

#include "devices/analog_inputs.h"
#include "devices/config_image.h"
#include "host/machine.h"
#include "scenario.h"
#include "support/state_dir.h"

namespace {

std::string scenario_path(const char* name) {
    return std::string(KTR09_SOURCE_DIR) + "/sim/scenarios/" + name;
}

struct SimRun {
    int status;
    std::string out;
};

// What ktr09-sim printed on stdout, and with `with_stderr` its stderr too.
SimRun run_sim(const std::string& arguments, bool with_stderr = false) {
    const std::string command =
        std::string(KTR09_SIM_BINARY) + " " + arguments + (with_stderr ? " 2>&1" : " 2>/dev/null");
    SimRun run{-1, ""};
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[4096];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
            run.out.append(buffer, n);
        }
        const int status = pclose(pipe);
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    return run;
}

// One minute status block: the battery it printed and whether it carried
// the low-battery alarm.
struct StatusBlock {
    double battery;
    bool alarm;
};

std::vector<StatusBlock> status_blocks(const std::string& out) {
    const std::string battery_label = "\tBatery (";
    std::vector<StatusBlock> blocks;
    for (size_t at = out.find(battery_label); at != std::string::npos;
         at = out.find(battery_label, at + 1)) {
        const size_t volts = out.find("): ", at);
        const size_t line_end = out.find("\r\n", at);
        if (volts == std::string::npos || line_end == std::string::npos) {
            break;
        }
        const std::string line = out.substr(at, line_end - at);
        blocks.push_back({std::atof(out.c_str() + volts + 3),
                          line.find("Alarm low battery") != std::string::npos});
    }
    return blocks;
}

TEST(ScenarioTranscript, LowBatteryRaisesAndClearsTheAlarm) {
    std::string error;
    const auto scenario = sim::load_scenario(scenario_path("low_battery.json"), &error);
    ASSERT_TRUE(scenario) << error;
    ASSERT_TRUE(scenario->duration);
    const sim::BoardConfig board = sim::default_station_config().configuracion_ktr09;
    const double alarm_on = board.ftension_alarma_bateria_baja / 100.0;
    const double alarm_off = board.ftension_alarma_bateria_off / 100.0;

    const TemporaryStateDir state;
    const SimRun run = run_sim("--scenario " + scenario_path("low_battery.json") + " --state-dir " +
                               state.path().string());
    ASSERT_EQ(0, run.status);
    const std::vector<StatusBlock> blocks = status_blocks(run.out);
    // One block at start-up and one a minute after it.
    ASSERT_GE(blocks.size(), *scenario->duration / (60 * host::kSecond)) << run.out;

    // Every voltage the scenario sets shows, in its order, each taken as it
    // is (to the printed hundredth).
    std::vector<double> expected{sim::AnalogInputs().battery_volts()};
    for (const sim::ScenarioStep& step : scenario->steps) {
        if (const auto* battery = std::get_if<sim::BatteryVolts>(&step.action)) {
            expected.push_back(battery->volts);
        }
    }
    std::vector<double> shown;
    for (const StatusBlock& block : blocks) {
        if (shown.empty() || std::fabs(shown.back() - block.battery) > 0.005) {
            shown.push_back(block.battery);
        }
    }
    ASSERT_EQ(expected.size(), shown.size()) << run.out;
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_NEAR(expected[i], shown[i], 0.005) << "voltage " << i;
    }

    // Raised within two blocks of the first low reading, not before it.
    size_t low = 0;
    while (low < blocks.size() && blocks[low].battery > alarm_on) {
        EXPECT_FALSE(blocks[low].alarm) << "block " << low << "\n" << run.out;
        ++low;
    }
    ASSERT_LT(low + 1, blocks.size()) << "the battery never fell to " << alarm_on << " V";
    const size_t raised = blocks[low].alarm ? low : low + 1;
    ASSERT_TRUE(blocks[raised].alarm) << "block " << raised << "\n" << run.out;

    // Held until the battery is back; cleared within two blocks of the first
    // good reading and not shown again.
    size_t good = raised;
    while (good < blocks.size() && blocks[good].battery < alarm_off) {
        EXPECT_TRUE(blocks[good].alarm) << "block " << good << "\n" << run.out;
        ++good;
    }
    ASSERT_LT(good + 1, blocks.size()) << "the battery never came back to " << alarm_off << " V";
    for (size_t i = good + 1; i < blocks.size(); ++i) {
        EXPECT_FALSE(blocks[i].alarm) << "block " << i << "\n" << run.out;
    }
}

// The " => Reset N" and " => Alarm !!!!" reports of the sensor channel, in
// order, as "R<N>" and "A".
std::vector<std::string> channel_resets(const std::string& out) {
    std::vector<std::string> reports;
    for (size_t at = out.find(" => "); at != std::string::npos; at = out.find(" => ", at + 1)) {
        if (out.compare(at + 4, 6, "Reset ") == 0) {
            reports.push_back("R" + std::to_string(std::atoi(out.c_str() + at + 10)));
        } else if (out.compare(at + 4, 10, "Alarm !!!!") == 0) {
            reports.push_back("A");
        }
    }
    return reports;
}

TEST(ScenarioTranscript, SilentWeatherStationIsResetNineTimesThenAlarmed) {
    std::string error;
    const auto scenario = sim::load_scenario(scenario_path("silent_weather_station.json"), &error);
    ASSERT_TRUE(scenario) << error;
    ASSERT_TRUE(scenario->duration && scenario->mode);

    const TemporaryStateDir state;
    const SimRun run = run_sim("--scenario " + scenario_path("silent_weather_station.json") +
                               " --state-dir " + state.path().string());
    ASSERT_EQ(0, run.status);
    const std::vector<std::string> reports = channel_resets(run.out);
    ASSERT_GE(reports.size(), 10u) << run.out;
    for (size_t i = 0; i < 9; ++i) {
        EXPECT_EQ("R" + std::to_string(i + 1), reports[i]) << run.out;
    }
    EXPECT_EQ("A", reports[9]) << run.out;

    // The same run with a weather station that answers has no resets.
    const TemporaryStateDir healthy;
    const SimRun control = run_sim("--mode " + std::to_string(*scenario->mode) + " --duration " +
                                   std::to_string(*scenario->duration / host::kSecond) +
                                   "s --state-dir " + healthy.path().string());
    ASSERT_EQ(0, control.status);
    EXPECT_TRUE(channel_resets(control.out).empty()) << control.out;
}

TEST(ScenarioTranscript, CommandLineOverridesTheScenarioDuration) {
    const TemporaryStateDir state;
    const SimRun run = run_sim("--scenario " + scenario_path("low_battery.json") +
                               " --duration 2m30s --state-dir " + state.path().string());
    ASSERT_EQ(0, run.status);
    // Blocks at start-up, 1 min and 2 min only.
    EXPECT_EQ(3u, status_blocks(run.out).size()) << run.out;
}

TEST(ScenarioTranscript, ABadScenarioIsRefused) {
    const TemporaryStateDir state;
    const std::string file = (state.path() / "bad.json").string();
    if (FILE* out = std::fopen(file.c_str(), "w")) {
        std::fputs(R"({"description": "d", "steps": [{"at": "1m", "battery": 11}]})", out);
        std::fclose(out);
    }
    const std::string missing = (state.path() / "none.json").string();
    const std::string dir = " --state-dir " + (state.path() / "state").string();
    struct Case {
        std::string arguments;
        std::vector<std::string> message_parts;
    };
    for (const Case& bad : {Case{"--scenario " + file + dir, {file, "step 1", "\"battery\""}},
                            Case{"--scenario " + missing + dir, {missing}}}) {
        const SimRun run = run_sim(bad.arguments, true);
        EXPECT_NE(0, run.status) << bad.arguments;
        // Only the message: the station never started.
        EXPECT_EQ(std::string::npos, run.out.find("KTR09")) << run.out;
        for (const std::string& part : bad.message_parts) {
            EXPECT_NE(std::string::npos, run.out.find(part)) << part << " not in: " << run.out;
        }
    }
}

}  // namespace
