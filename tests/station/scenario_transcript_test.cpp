// ktr09-sim's handling of scenario files as a user meets it. What each
// example scenario makes the station do is checked whole by its transcript
// (sim/scenarios/<name>.chk, one CTest each).
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/command.h"
#include "support/state_dir.h"

namespace {

std::string scenario_path(const char* name) {
    return std::string(KTR09_SOURCE_DIR) + "/sim/scenarios/" + name;
}

// What ktr09-sim printed on stdout, and with `with_stderr` its stderr too.
ToolRun run_sim(const std::string& arguments, bool with_stderr = false) {
    return run_tool(std::string(KTR09_SIM_BINARY) + " " + arguments, with_stderr);
}

// Minute status blocks the station printed.
size_t status_blocks(const std::string& out) {
    size_t blocks = 0;
    for (size_t at = out.find("\tBatery ("); at != std::string::npos;
         at = out.find("\tBatery (", at + 1)) {
        ++blocks;
    }
    return blocks;
}

TEST(ScenarioTranscript, CommandLineOverridesTheScenarioDuration) {
    const TemporaryStateDir state;
    const ToolRun run = run_sim("--scenario " + scenario_path("low_battery.json") +
                                " --duration 2m30s --state-dir " + state.path().string());
    ASSERT_EQ(0, run.status);
    // Blocks at 1 min and 2 min only: GPS time has set the clock by then.
    EXPECT_EQ(2u, status_blocks(run.output)) << run.output;
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
        const ToolRun run = run_sim(bad.arguments, true);
        EXPECT_NE(0, run.status) << bad.arguments;
        // Only the message: the station never started.
        EXPECT_EQ(std::string::npos, run.output.find("KTR09")) << run.output;
        for (const std::string& part : bad.message_parts) {
            EXPECT_NE(std::string::npos, run.output.find(part))
                << part << " not in: " << run.output;
        }
    }
}

}  // namespace
