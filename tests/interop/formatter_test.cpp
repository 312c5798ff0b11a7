// Every layout the station's own formatter makes, judged by fsck.fat: a
// standard card gets FAT16, a high-capacity one (2 GB and up) FAT32 on a
// partition at its erase boundary, with a free-cluster summary
// that must agree with the FAT. The two layouts worked out by hand from the
// SD Association's rules pin the geometry.
#include <Wire.h>

#include <cstdint>
#include <regex>
#include <string>
#include <vector>

#include "devices/mcp7940.h"
#include "devices/sd_card.h"
#include "gestion_sd.h"
#include "support/fat_tools.h"
#include "support/card_blocks.h"
#include "support/firmware_fixture.h"
#include "support/state_dir.h"

namespace {

class FormatterTest : public FirmwareTest {
  protected:
    void SetUp() override {
        if (!fat_tools_installed()) {
            GTEST_SKIP() << "dosfstools, mtools and fdisk are not installed";
        }
        FirmwareTest::SetUp();
        start_tick();
        Wire.begin();
        host::attach_i2c_device(sim::Mcp7940::kAddress, &clock);
    }
    sim::Mcp7940 clock;
    TemporaryStateDir dir;
};

TEST_F(FormatterTest, EveryLayoutPassesFsck) {
    using Profile = sim::SdCardModel::Profile;
    // Geometry by hand: a 2 GB standard card is 1908 units of 2048 blocks,
    // a 4 GB high-capacity one starts its partition at its 8192-block
    // boundary. 0 where fsck.fat alone judges.
    const struct {
        const char* description;
        Profile profile;
        uint32_t mb;
        uint8_t type;
        uint32_t first_block;
        uint8_t blocks_per_cluster, sectors_per_track, heads;
        const char* fs;
    } cases[] = {
        {"64 MB standard", Profile::sd2, 64, 0x06, 0, 0, 0, 0, "FAT16   "},
        {"256 MB first-generation", Profile::sd1, 256, 0x06, 0, 0, 0, 0, "FAT16   "},
        {"2 GB standard", Profile::sd2, 1908, 0x06, 0, 64, 63, 64, "FAT16   "},
        {"4 GB high capacity", Profile::sdhc, 3800, 0x0B, 8192, 64, 63, 128, "FAT32   "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description);
        const std::string image = (dir.path() / "card.img").string();
        std::filesystem::remove(image);
        sim::SdCardModel card(c.profile, c.mb, image);
        host::attach_sd_card(&card);
        formateo_sd();
        host::attach_sd_card(nullptr);
        const std::string out = usb();
        ASSERT_NE(std::string::npos, out.find("Format done")) << out;
        const bool fat32 = std::string(c.fs) == "FAT32   ";
        // The formatter's texts run on where no line end is written; the
        // erase's dots break every 32.
        if (c.blocks_per_cluster != 0) {
            EXPECT_NE(std::string::npos, out.find("\nFormatting\nBlocks/Cluster: " +
                                                  std::to_string(c.blocks_per_cluster) +
                                                  (fat32 ? "FAT32\n" : "FAT16\n")))
                << out;
        }
        EXPECT_TRUE(std::regex_search(
            out, std::regex("Erasing\n[.\r\n]*\\.All data set to [0-9A-F]+Erase done\n")))
            << out;

        const std::vector<uint8_t> mbr = block_of(card, 0);
        EXPECT_EQ(0x55, mbr[510]);
        EXPECT_EQ(0xAA, mbr[511]);
        if (c.type != 0) {
            EXPECT_EQ(c.type, mbr[0x1BE + 4]);
        }
        const uint32_t start = le(mbr, 0x1BE + 8, 4);
        if (c.first_block != 0) {
            EXPECT_EQ(c.first_block, start);
        }
        const std::vector<uint8_t> boot = block_of(card, start);
        EXPECT_EQ(512u, le(boot, 11, 2));
        if (c.blocks_per_cluster != 0) {
            EXPECT_EQ(c.blocks_per_cluster, boot[13]);
            EXPECT_EQ(c.sectors_per_track, le(boot, 24, 2));
            EXPECT_EQ(c.heads, le(boot, 26, 2));
        }
        EXPECT_EQ(start, le(boot, 28, 4)) << "hidden sectors";
        EXPECT_EQ(c.fs, std::string(reinterpret_cast<const char*>(&boot[fat32 ? 82 : 54]), 8));

        const ToolRun fsck = fsck_volume(image, start);
        EXPECT_EQ(0, fsck.status) << fsck.output;
        EXPECT_EQ(std::string::npos, fsck.output.find("wrong")) << fsck.output;
        EXPECT_EQ(std::string::npos, fsck.output.find("differ")) << fsck.output;
    }
}

}  // namespace
