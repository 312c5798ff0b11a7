// ktr09-sim --check end to end: a sound run says so and exits 0; a card whose
// FAT fsck.fat rejects is reported, and the run exits with 1.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <string>

#include "support/fat_tools.h"
#include "support/sim_process.h"
#include "support/state_dir.h"

namespace {

ProgramRun check_run(const TemporaryStateDir& state, const std::string& duration,
                     const std::string& options = "") {
    return run_program(state.path(), std::string(KTR09_SIM_BINARY) + " --check --duration " +
                                         duration + " " + options + " --state-dir " +
                                         state.path().string() + " >/dev/null");
}

// Marks the first FAT's entry of cluster 2 (the day's directory) free, with
// its directory entry still pointing there.
void free_first_cluster(const std::filesystem::path& image) {
    std::fstream card(image, std::ios::in | std::ios::out | std::ios::binary);
    const std::streamoff volume = 223 * 512;
    unsigned char boot[512] = {};
    card.seekg(volume);
    card.read(reinterpret_cast<char*>(boot), sizeof boot);
    const unsigned reserved = boot[14] | boot[15] << 8;
    card.seekp(volume + static_cast<std::streamoff>(reserved) * 512 + 4);
    card.write("\0\0", 2);
}

// Seed 13 draws a transponder that answers the identity query before the
// start-up's power reset of its outputs: its set-up queries then fall while
// it boots, and the set-up must start again for message 8 ever to go out.
TEST(CheckRun, ASoundRunSaysSoAndExitsZero) {
    if (!fat_tools_installed()) {
        GTEST_SKIP() << "dosfstools, mtools and fdisk are not installed";
    }
    TemporaryStateDir state;
    const ProgramRun run = check_run(state, "15m", "--seed 13");
    EXPECT_EQ(0, run.status) << run.err;
    EXPECT_NE(std::string::npos, run.err.find("[check] no violation\n")) << run.err;
    EXPECT_NE(std::string::npos, run.err.find("[check] card-log: ")) << run.err;
}

TEST(CheckRun, ACardFsckRejectsIsAViolationAndExitsOne) {
    if (!fat_tools_installed()) {
        GTEST_SKIP() << "dosfstools, mtools and fdisk are not installed";
    }
    TemporaryStateDir state;
    ASSERT_EQ(0, check_run(state, "2m").status);
    free_first_cluster(state.path() / "sd_card.img");
    const ProgramRun run = check_run(state, "5s");
    EXPECT_EQ(1, run.status) << run.err;
    EXPECT_NE(std::string::npos, run.err.find(" card-fsck: fsck.fat -n at the end: ")) << run.err;
    EXPECT_NE(std::string::npos, run.err.find("[check] 1 violation:\n")) << run.err;
}

// Ships reporting together while a weather sentence trickles in: the
// transponder's port must be drained meanwhile, or bytes are lost.
TEST(CheckRun, ShipsReportingTogetherLoseNothing) {
    if (!fat_tools_installed()) {
        GTEST_SKIP() << "dosfstools, mtools and fdisk are not installed";
    }
    TemporaryStateDir state;
    const ProgramRun run = run_program(
        state.path(), std::string(KTR09_SIM_BINARY) + " --check --seed 1 --scenario " +
                          KTR09_SOURCE_DIR + "/sim/scenarios/soak/bunched_ships.json --state-dir " +
                          state.path().string() + " >/dev/null");
    EXPECT_EQ(0, run.status) << run.err;
    EXPECT_NE(std::string::npos, run.err.find("[check] no violation")) << run.err;
}

}  // namespace
