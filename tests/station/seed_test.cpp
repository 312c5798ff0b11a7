// Seeded runs as a user makes them: the same seed gives the same run to the
// byte, another seed another run; a scenario's "seed" counts unless --seed
// is given; ktr09-link gives its stations seeds of their own and repeats
// too. (That no seed gives the fixed timing is what every scenario
// transcript checks.)
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "support/command.h"
#include "support/state_dir.h"

namespace {

namespace fs = std::filesystem;

class SeededRuns : public ::testing::Test {
  protected:
    // The transcript of a run on a new state directory.
    std::string transcript(const std::string& arguments) {
        const fs::path dir = root_.path() / ("run" + std::to_string(++runs_));
        const fs::path file = dir.string() + ".transcript";
        const ToolRun run =
            run_tool(std::string(KTR09_SIM_BINARY) + " " + arguments + " --state-dir " +
                         dir.string() + " --transcript " + file.string(),
                     false);
        EXPECT_EQ(0, run.status) << arguments;
        return read_file(file);
    }
    std::string scenario(const std::string& text) {
        const fs::path file = root_.path() / ("scenario" + std::to_string(++runs_) + ".json");
        std::ofstream(file) << text;
        return file.string();
    }
    const fs::path& root() const { return root_.path(); }

  private:
    TemporaryStateDir root_;
    int runs_ = 0;
};

// Three minutes take in the start-up, the transponder's configuration and
// the first message 8 with its report.
TEST_F(SeededRuns, SameSeedSameRunAnotherSeedAnother) {
    const std::string seeded = transcript("--duration 3m --seed 11");
    ASSERT_NE(std::string::npos, seeded.find("uart0< \"!AIVDO")) << "a whole dialogue";
    EXPECT_EQ(seeded, transcript("--duration 3m --seed 11"));
    EXPECT_NE(seeded, transcript("--duration 3m --seed 12"));
    EXPECT_NE(seeded, transcript("--duration 3m"));
}

TEST_F(SeededRuns, ScenarioSeedUnlessTheCommandLineGivesOne) {
    const std::string file =
        scenario(R"({"description": "seeded", "duration": "1m", "seed": 11, "steps": []})");
    const std::string from_scenario = transcript("--scenario " + file);
    EXPECT_EQ(transcript("--duration 1m --seed 11"), from_scenario);
    EXPECT_EQ(transcript("--duration 1m --seed 12"),
              transcript("--scenario " + file + " --seed 12"));
}

TEST_F(SeededRuns, LinkedStationsGetSeedsOfTheirOwn) {
    const auto run = [this](const std::string& name, const std::string& seed) {
        const fs::path state = root() / name;
        const ToolRun link =
            run_tool(std::string(KTR09_LINK_BINARY) + " --stations 2 --duration 1m --seed " + seed +
                     " --state-root " + state.string());
        EXPECT_EQ(0, link.status) << link.output;
        return std::make_pair(read_file(state / "station-1.transcript"),
                              read_file(state / "station-2.transcript"));
    };
    const auto first = run("a", "5");
    EXPECT_EQ(first, run("b", "5"));
    const auto other = run("c", "6");
    EXPECT_NE(first.first, other.first);
    EXPECT_NE(first.second, other.second);
    // Station 1 runs on the link's seed as ktr09-sim --seed would: its
    // weather station, on no link, is the same as a lone station's.
    const auto weather = [](const std::string& transcript) {
        std::istringstream lines(transcript);
        std::string found;
        for (std::string line; std::getline(lines, line) && line.rfind("000010", 0) != 0;) {
            if (line.find(" uart3< ") != std::string::npos) {
                found += line + "\n";
            }
        }
        return found;
    };
    const std::string lone = weather(transcript("--duration 1m --seed 5"));
    ASSERT_FALSE(lone.empty());
    EXPECT_EQ(lone, weather(first.first));
    EXPECT_NE(lone, weather(first.second));
}

}  // namespace
