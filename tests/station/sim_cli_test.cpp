// ktr09-sim as a user runs it: the binary, its options and its state directory.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>

#include "support/command.h"
#include "support/sim_process.h"
#include "support/state_dir.h"

namespace {

// What ktr09-sim printed on stdout.
ToolRun run_sim(const std::string& arguments) {
    return run_tool(std::string(KTR09_SIM_BINARY) + " " + arguments, false);
}

size_t count(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++n;
    }
    return n;
}

TEST(SimCommandLine, RunsTheDefaultStationForItsDuration) {
    const TemporaryStateDir state;
    const ToolRun run = run_sim("--duration 2m30s --state-dir " + state.path().string());
    ASSERT_EQ(0, run.status);
    EXPECT_EQ(0u, run.output.find("\r\n" + std::string(69, '*') + "\r\n\t\tZPX\t\tKTR09\r\n"));
    EXPECT_NE(std::string::npos, run.output.find("Configuracion RTC:"));
    // The status block after start-up and after each of the two minute reads.
    EXPECT_GE(count(run.output, "\tBatery ("), 2u) << run.output;
    for (const char* file :
         {"eeprom_24xx64.bin", "rtc_mcp7940.bin", "analog_inputs.txt", "weather_station.txt"}) {
        EXPECT_TRUE(std::filesystem::exists(state.path() / file)) << file;
    }
}

TEST(SimCommandLine, ASecondRunKeepsTheClockOfTheFirst) {
    const TemporaryStateDir state;
    // Without a GPS fix only the clock itself keeps the time between runs.
    std::ofstream(state.path() / "ais_transponder.txt") << "gps_fix 0\n";
    ASSERT_EQ(0, run_sim("--duration 3m --state-dir " + state.path().string()).status);
    const ToolRun again = run_sim("--duration 1m30s --state-dir " + state.path().string());
    ASSERT_EQ(0, again.status);
    // The first run set the new clock to 01/01/23 00:01 and ran three minutes.
    EXPECT_NE(std::string::npos, again.output.find("01/01/23 00:05")) << again.output;
}

// What ktr09-sim printed on stderr.
ToolRun run_sim_stderr(const std::string& arguments) {
    return run_tool("{ " + std::string(KTR09_SIM_BINARY) + " " + arguments + " 2>&1 >/dev/null; }",
                    false);
}

TEST(SimCommandLine, ARunEndsWithTimesRatioAndStateDirectory) {
    const TemporaryStateDir state;
    for (const char* duration : {"0", "1.5s"}) {
        const ToolRun run = run_sim_stderr("--duration " + std::string(duration) + " --state-dir " +
                                           state.path().string());
        ASSERT_EQ(0, run.status) << duration << ": " << run.output;
        const std::string expected_time =
            std::string("[sim] ") + (duration[0] == '0' ? "0.000 s" : "1.500 s") + " simulated in ";
        const size_t last_line = run.output.rfind("[sim] ");
        ASSERT_NE(std::string::npos, last_line) << run.output;
        const std::string closing = run.output.substr(last_line);
        EXPECT_EQ(0u, closing.find(expected_time)) << closing;
        EXPECT_NE(std::string::npos, closing.find(" s of wall time (")) << closing;
        EXPECT_NE(std::string::npos,
                  closing.find("); state directory " + state.path().string() + "\n"))
            << closing;
        EXPECT_EQ(closing.size() - 1, closing.find('\n')) << "one line: " << closing;
    }
}

TEST(SimCommandLine, AScenarioSaysWhatItShowsAsItStarts) {
    const TemporaryStateDir state;
    const std::filesystem::path scenario = state.path() / "shows.json";
    std::ofstream(scenario) << R"({"description": "A quiet minute", "duration": "1s",
                                   "steps": []})";
    const ToolRun run = run_sim_stderr("--scenario " + scenario.string() + " --state-dir " +
                                       (state.path() / "state").string());
    ASSERT_EQ(0, run.status) << run.output;
    EXPECT_EQ(0u, run.output.find("[sim] scenario: A quiet minute\n")) << run.output;
}

TEST(SimCommandLine, BadOptionsAreRefused) {
    for (const char* arguments : {"--duration 10x", "--mode 3", "--no-such-option"}) {
        EXPECT_EQ(64, run_sim(arguments).status) << arguments;
    }
}

// Two runs on one card image would leave its FATs differing: the second is
// refused at once, told who holds the directory, by ktr09-sim and by
// ktr09-link alike; the first, stopped by a signal, saves the state and
// ends with 128 + the signal.
TEST(SimCommandLine, OneSimulatorPerStateDirectoryAndSignalsEndWithTheirCodes) {
    const TemporaryStateDir root;
    const std::filesystem::path dir = root.path() / "station-1";
    std::filesystem::create_directory(dir);
    for (const auto& [signal, code] : {std::pair{SIGTERM, 143}, std::pair{SIGINT, 130}}) {
        SimProcess first(dir);
        ASSERT_FALSE(first.pty().empty()) << first.stderr_text();
        const std::string held =
            dir.string() + ": in use by ktr09-sim (process " + std::to_string(first.pid()) + ")";
        const ToolRun second = run_sim_stderr("--duration 1s --state-dir " + dir.string());
        EXPECT_EQ(2, second.status) << second.output;
        EXPECT_NE(std::string::npos, second.output.find("ktr09-sim: " + held)) << second.output;
        const ToolRun link =
            run_tool(std::string(KTR09_LINK_BINARY) + " --stations 1 --duration 1s --state-root " +
                     root.path().string());
        EXPECT_EQ(2, link.status) << link.output;
        EXPECT_NE(std::string::npos, link.output.find(held)) << link.output;

        EXPECT_EQ(code, first.stop(signal));
        EXPECT_NE(std::string::npos, first.stderr_text().find("; state directory "))
            << first.stderr_text();
        EXPECT_FALSE(std::filesystem::exists(dir / "ktr09.lock"));
    }
    EXPECT_EQ(0, run_sim("--duration 1s --state-dir " + dir.string()).status);
}

}  // namespace
