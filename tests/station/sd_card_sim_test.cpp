// ktr09-sim puts a card in the slot of a new station and says at the end of
// the run where its state directory is, the card image among its files, so
// its log tree can be looked at.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "support/state_dir.h"

TEST(SimCard, NewStateDirectoryGetsACardAndTheRunNamesItsDirectory) {
    const TemporaryStateDir dir;
    const std::string command = std::string(KTR09_SIM_BINARY) + " --duration 1s --state-dir " +
                                dir.path().string() + " 2>&1 >/dev/null";
    std::string printed;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[1024];
        for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
            printed.append(buffer, n);
        }
        pclose(pipe);
    }
    const std::filesystem::path image = dir.path() / "sd_card.img";
    const std::string closing = "state directory " + dir.path().string() + "\n";
    ASSERT_GE(printed.size(), closing.size()) << printed;
    EXPECT_EQ(printed.substr(printed.size() - closing.size()), closing) << printed;
    EXPECT_EQ(std::filesystem::file_size(image), 64u << 20);
}
