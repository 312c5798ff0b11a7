// scripts/footprint-json reads a linker map into flash and RAM per section
// and per source unit; scripts/footprint-compare prints the growth between
// two such files. Both are run as scripts/footprint runs them, on a map in
// the linker's own layout.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <nlohmann/json.hpp>
#include <string>

#include "support/command.h"
#include "support/state_dir.h"

namespace {

const std::string kScripts = std::string(KTR09_SOURCE_DIR) + "/scripts/";

// The shapes GNU ld prints: an input section on one line or with its name on
// a line of its own, padding, a project library member, a toolchain library
// member, an object file, and an output section longer than its inputs.
constexpr const char* kMap = R"(Archive member included to satisfy reference by file (symbol)

Discarded input sections

 .text.unused   0x00000000       0x40 libktr09_firmware.a(ais.cpp.obj)

Memory Configuration

Linker script and memory map

.vectors        0x00000000       0xb4
 *(.vectors)
 .vectors       0x00000000       0xb4 CMakeFiles/ktr09-footprint.elf.dir/platform/target/src/startup.cpp.obj

.text           0x000000b8      0x140
 .text.Reset_Handler
                0x000000b8       0x88 CMakeFiles/ktr09-footprint.elf.dir/platform/target/src/startup.cpp.obj
                0x000000b8                Reset_Handler
 .text._Z4loopv
                0x00000140       0x60 libktr09_firmware.a(main.cpp.obj)
                0x00000140                loop()
 *fill*         0x000001a0        0x2 
 .text          0x000001a4       0x40 /usr/lib/arm-none-eabi/lib/thumb/v6-m/nofp/libc_nano.a(lib_a-memcpy.o)
 .rodata.tabla  0x000001e4        0x8 libktr09_firmware.a(main.cpp.obj)

.data           0x20000000       0x10 load address 0x000001f8
 .data.ktr09    0x20000000        0xc libktr09_firmware.a(declaraciones.cpp.obj)

.bss            0x20000010      0x200
 .bss.ktr09     0x20000010      0x200 libktr09_firmware.a(declaraciones.cpp.obj)

.stack          0x20007000     0x1000
                0x20008000                . = (. + STACK_SIZE)

.comment        0x00000000       0x26
 .comment       0x00000000       0x26 libktr09_firmware.a(main.cpp.obj)
)";

class FootprintScripts : public ::testing::Test {
  protected:
    // footprint-json on `map`; the parsed JSON, or a failure with its output.
    nlohmann::json footprint(const std::string& map, const std::string& name) {
        const auto map_file = dir_.path() / (name + ".map");
        std::ofstream(map_file) << map;
        const auto json_file = dir_.path() / (name + ".json");
        const ToolRun run =
            run_tool(kScripts + "footprint-json " + map_file.string() + " " + json_file.string());
        EXPECT_EQ(0, run.status) << run.output;
        std::ifstream in(json_file);
        return in ? nlohmann::json::parse(in) : nlohmann::json{};
    }

    TemporaryStateDir dir_;
};

TEST_F(FootprintScripts, ChargesEverySectionToItsUnit) {
    const nlohmann::json fp = footprint(kMap, "old");
    ASSERT_TRUE(fp.contains("units"));
    struct Row {
        const char* unit;
        int flash;
        int ram;
    };
    const Row rows[] = {
        // Code and constants in flash; .data in both; .bss in RAM only.
        {"startup.cpp", 0xb4 + 0x88, 0},
        {"main.cpp", 0x60 + 0x8, 0},
        {"declaraciones.cpp", 0xc, 0xc + 0x200},
        {"libc_nano.a(lib_a-memcpy.o)", 0x40, 0},
        // The padding, and each output section's bytes past its last input.
        {"(fill)", 0x2 + 0xe + 0x4, 0x4},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.unit);
        ASSERT_TRUE(fp["units"].contains(row.unit)) << fp["units"].dump();
        EXPECT_EQ(row.flash, fp["units"][row.unit]["flash"].get<int>());
        EXPECT_EQ(row.ram, fp["units"][row.unit]["ram"].get<int>());
    }
    EXPECT_EQ(5u, fp["units"].size()) << "discarded and debug sections are no unit's";
    EXPECT_EQ(0xb4 + 0x140 + 0x10, fp["flash"]["used"].get<int>());
    EXPECT_EQ(256 * 1024 - (0xb4 + 0x140 + 0x10), fp["flash"]["free"].get<int>());
    EXPECT_EQ(0x210, fp["ram"]["static"].get<int>());
    EXPECT_EQ(0x1000, fp["ram"]["stack"].get<int>());
    EXPECT_EQ(32 * 1024 - 0x210 - 0x1000, fp["ram"]["free"].get<int>());
    EXPECT_EQ(0xb4 + 0x88 + 0x60 + 0x8 + 0xc, fp["groups"]["ktr09"]["flash"].get<int>());
    EXPECT_EQ(0x40, fp["groups"]["libc_nano"]["flash"].get<int>());
}

TEST_F(FootprintScripts, CompareShowsGrowthPerUnit) {
    footprint(kMap, "old");
    // main.cpp grows by 0x20 B of code; memcpy leaves; a new unit comes in.
    std::string grown = kMap;
    grown.replace(grown.find("0x60 libktr09"), 4, "0x80");
    grown.replace(grown.find("0x140\n"), 5, "0x160");
    const std::string memcpy =
        "/usr/lib/arm-none-eabi/lib/thumb/v6-m/nofp/libc_nano.a(lib_a-memcpy.o)";
    grown.replace(grown.find(memcpy), memcpy.size(), "libktr09_firmware.a(nmea.cpp.obj)");
    const nlohmann::json fp = footprint(grown, "new");
    ASSERT_TRUE(fp.contains("units"));

    const ToolRun run =
        run_tool(kScripts + "footprint-compare " + (dir_.path() / "old.json").string() + " " +
                 (dir_.path() / "new.json").string());
    ASSERT_EQ(0, run.status) << run.output;
    // Each changed unit's line: flash now, before, growth, RAM the same way.
    const char* expected_rows[] = {
        "libc_nano.a(lib_a-memcpy.o) 0 64 -64 0 0 0 gone",
        "nmea.cpp 64 0 +64 0 0 0 new",
        "main.cpp 136 104 +32 0 0 0",
    };
    std::string rows;
    std::istringstream lines(run.output);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        std::string row;
        for (std::string word; words >> word;) {
            row += (row.empty() ? "" : " ") + word;
        }
        rows += row + "\n";
    }
    for (const char* row : expected_rows) {
        EXPECT_NE(std::string::npos, rows.find(std::string(row) + "\n")) << row << "\n" << rows;
    }
    EXPECT_NE(std::string::npos, rows.find("flash: 548 B (+32 B), 261596 B free of 262144 B"))
        << rows;
    EXPECT_EQ(std::string::npos, run.output.find("startup.cpp")) << "unchanged units are left out";

    const ToolRun usage = run_tool(kScripts + "footprint-compare only-one.json");
    EXPECT_EQ(2, usage.status) << usage.output;
}

}  // namespace
