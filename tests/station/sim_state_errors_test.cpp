// ktr09-sim refuses a state directory it cannot use whole: it names the file
// (and line), exits with 2 before the station starts, and leaves every file
// as the user had it. A state file the host cannot write during the run
// (a full disk) stops it the same way, at once.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>

#include "support/command.h"
#include "support/small_fs.h"
#include "support/state_dir.h"

namespace {

namespace fs = std::filesystem;

struct BadState {
    const char* description;
    std::function<void(const fs::path& dir)> prepare;
    const char* message;             // expected in what ktr09-sim prints
    bool needs_permissions = false;  // meaningless for a user who may read anything
};

void write(const fs::path& file, const std::string& text) {
    std::ofstream(file, std::ios::binary | std::ios::trunc) << text;
}

// Every entry under `dir`, with the contents and permissions of files.
std::map<std::string, std::string> snapshot(const fs::path& dir) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
        std::ostringstream text;
        if (entry.is_regular_file()) {
            text << static_cast<unsigned>(entry.status().permissions()) << ":"
                 << std::ifstream(entry.path(), std::ios::binary).rdbuf();
        }
        files[entry.path().string()] = text.str();
    }
    return files;
}

class SimStateErrors : public testing::TestWithParam<BadState> {};

TEST_P(SimStateErrors, StopBeforeTheStationStartsAndTouchNothing) {
    const BadState& row = GetParam();
    if (row.needs_permissions && ::geteuid() == 0) {
        GTEST_SKIP() << "permissions do not bind this user";
    }
    const TemporaryStateDir temporary;
    const fs::path dir = temporary.path() / "state";
    fs::create_directory(dir);
    row.prepare(dir);
    const auto before = snapshot(temporary.path());

    const std::string command = std::string(KTR09_SIM_BINARY) + " --duration 2s --state-dir " +
                                dir.string() + " 2>&1 >/dev/null";
    std::string printed;
    int status = -1;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[4096];
        for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
            printed.append(buffer, n);
        }
        status = pclose(pipe);
    }
    if (fs::is_directory(dir)) {
        fs::permissions(dir, fs::perms::owner_all, fs::perm_options::add);
    }

    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(2, WEXITSTATUS(status));
    EXPECT_NE(std::string::npos, printed.find(row.message)) << printed;
    EXPECT_EQ(std::string::npos, printed.find("station restarted")) << printed;
    EXPECT_EQ(before, snapshot(temporary.path()));
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SimStateErrors,
    testing::Values(
        BadState{"TruncatedEepromImage",
                 [](const fs::path& dir) { write(dir / "eeprom_24xx64.bin", "short"); },
                 "eeprom_24xx64.bin: 5 bytes, expected 8192"},
        BadState{"ClockFileOfAnotherPart",
                 [](const fs::path& dir) { write(dir / "rtc_mcp7940.bin", std::string(64, 0)); },
                 "rtc_mcp7940.bin: 64 bytes, expected 96"},
        BadState{"UnknownWeatherName",
                 [](const fs::path& dir) {
                     write(dir / "weather_station.txt", "# mine\nwind_knots 12\nwnd_speed 3\n");
                 },
                 "weather_station.txt:3: unknown name \"wnd_speed\""},
        BadState{"WeatherFaultThatIsNotASwitch",
                 [](const fs::path& dir) { write(dir / "weather_station.txt", "silent 2\n"); },
                 "weather_station.txt:1: silent: expected 0 (off) or 1 (on)"},
        BadState{"AnalogVoltsThatAreNotANumber",
                 [](const fs::path& dir) { write(dir / "analog_inputs.txt", "battery 12,6\n"); },
                 "analog_inputs.txt:1: battery: expected a number, got \"12,6\""},
        BadState{"AnalogLineWithoutValue",
                 [](const fs::path& dir) { write(dir / "analog_inputs.txt", "input1\n"); },
                 "analog_inputs.txt:1: expected a name and one value"},
        BadState{"UnknownTransponderSetting",
                 [](const fs::path& dir) { write(dir / "ais_transponder.txt", "msi 1\n"); },
                 "ais_transponder.txt:1: unknown name \"msi\""},
        BadState{"StateFileThatIsADirectory",
                 [](const fs::path& dir) { fs::create_directory(dir / "eeprom_24xx64.bin"); },
                 "eeprom_24xx64.bin: not a regular file"},
        BadState{"StateDirectoryThatIsAFile",
                 [](const fs::path& dir) {
                     fs::remove(dir);
                     write(dir, "not a directory");
                 },
                 "state"},
        BadState{"UnreadableStateDirectory",
                 [](const fs::path& dir) {
                     write(dir / "analog_inputs.txt", "battery 12\n");
                     fs::permissions(dir, fs::perms::owner_write | fs::perms::owner_exec);
                 },
                 "the state directory must be readable and writable", true},
        BadState{"ReadOnlyStateDirectory",
                 [](const fs::path& dir) {
                     fs::permissions(dir, fs::perms::owner_read | fs::perms::owner_exec);
                 },
                 "the state directory must be readable and writable", true},
        BadState{"ReadOnlyWeatherFile",
                 [](const fs::path& dir) {
                     write(dir / "weather_station.txt", "wind_knots 12\n");
                     fs::permissions(dir / "weather_station.txt", fs::perms::owner_read);
                 },
                 "weather_station.txt: Permission denied", true}),
    [](const testing::TestParamInfo<BadState>& info) { return info.param.description; });

// What ktr09-sim printed on stderr; a run that hangs is ended after 60 s.
ToolRun sim_stderr(const std::string& arguments) {
    return run_tool(
        "{ timeout 60 " + std::string(KTR09_SIM_BINARY) + " " + arguments + " 2>&1 >/dev/null; }",
        false);
}

std::string contents(const fs::path& file) {
    std::ostringstream text;
    text << std::ifstream(file, std::ios::binary).rdbuf();
    return text.str();
}

// One state file of a station that has run moved to a full disk (a link
// left in its place): the card image, written as the station logs a ship's
// reports, or the clock, which the station sets as it starts.
class StateFileOnFullDisk : public testing::TestWithParam<const char*> {};

TEST_P(StateFileOnFullDisk, StopsTheRunAtOnceNamingItAndLeavesItWhole) {
    const TemporaryStateDir temporary;
    const SmallFilesystem disk(temporary.path() / "disk", 1024);
    if (!disk.mounted()) {
        GTEST_SKIP() << "cannot mount a tmpfs here: " << disk.refusal();
    }
    const fs::path dir = temporary.path() / "state";
    ASSERT_EQ(0, sim_stderr("--duration 0 --state-dir " + dir.string()).status);
    const fs::path file = dir / GetParam();
    const fs::path moved = temporary.path() / "disk" / GetParam();
    ASSERT_EQ(0, run_tool("cp --sparse=always " + file.string() + " " + moved.string()).status);
    fs::remove(file);
    fs::create_symlink(moved, file);
    disk.fill();
    // The card image is written in place, block by block; the others whole.
    const bool replaced_whole = fs::path(GetParam()).extension() != ".img";
    const std::string before = replaced_whole ? contents(moved) : std::string();
    const fs::path scenario = temporary.path() / "ship.json";
    std::ofstream(scenario)
        << R"({"description": "A ship reporting", "steps": [{"at": "0s", "ship": {"mmsi": 224106730,
                                   "lat": 43.3, "lon": -8.4, "every": 2}}]})";

    const ToolRun run = sim_stderr("--duration 20m --scenario " + scenario.string() +
                                   " --state-dir " + dir.string());
    EXPECT_EQ(2, run.status) << run.output;
    EXPECT_NE(std::string::npos,
              run.output.find("ktr09-sim: " + file.string() + ": No space left on device\n"))
        << run.output;
    EXPECT_EQ(std::string::npos, run.output.find(" simulated in ")) << run.output;
    if (replaced_whole) {
        EXPECT_EQ(before, contents(moved));
    }
    EXPECT_FALSE(fs::exists(moved.string() + ".new"));
}

INSTANTIATE_TEST_SUITE_P(Files, StateFileOnFullDisk,
                         testing::Values("sd_card.img", "rtc_mcp7940.bin"),
                         [](const testing::TestParamInfo<const char*>& info) {
                             return fs::path(info.param).stem().string();
                         });

// The card of a new state directory is formatted before the station starts,
// when no watchdog runs yet to end a format that halts: the run stops with
// the reason, and no half-formatted image is left for the next run to take.
void expect_format_refused(const fs::path& dir, const std::string& why) {
    const ToolRun run = sim_stderr("--duration 1m --state-dir " + dir.string());
    EXPECT_EQ(2, run.status) << run.output;
    EXPECT_NE(std::string::npos,
              run.output.find("ktr09-sim: " + (dir / "sd_card.img").string() + ": " + why))
        << run.output;
    EXPECT_FALSE(fs::exists(dir / "sd_card.img"));
    EXPECT_FALSE(fs::exists(dir / "sd_card.img.new"));
}

TEST(NewCardFormat, OnAFullDiskStopsTheRunAndLeavesNoImage) {
    const TemporaryStateDir temporary;
    const SmallFilesystem disk(temporary.path() / "disk", 64);
    if (!disk.mounted()) {
        GTEST_SKIP() << "cannot mount a tmpfs here: " << disk.refusal();
    }
    expect_format_refused(temporary.path() / "disk" / "state", "No space left on device\n");
}

// The formatter cannot lay out FAT32 on a high-capacity card this small.
TEST(NewCardFormat, ThatHaltsStopsTheRunAndLeavesNoImage) {
    const TemporaryStateDir temporary;
    write(temporary.path() / "sd_card.txt", "capacity_mb 7\nprofile sdhc\n");
    expect_format_refused(temporary.path(), "the new card's format failed (SD error: ");
}

}  // namespace
