// The card log's tag block and text limits, and the formatter's layouts for a
// standard- and a high-capacity card, read back from the card's blocks.
#include <Wire.h>

#include <cstdio>
#include <cstring>
#include <regex>
#include <string>
#include <vector>

#include "devices/mcp7940.h"
#include "devices/sd_card.h"
#include "gestion_sd.h"
#include "support/firmware_fixture.h"

namespace {

class CardLogTest : public FirmwareTest {
  protected:
    void SetUp() override {
        FirmwareTest::SetUp();
        start_tick();
        Wire.begin();
        host::attach_i2c_device(sim::Mcp7940::kAddress, &clock);
        clock.set_time({23, 1, 1, 7, 0, 0, 0});  // 1 January 2023 00:00:00 UTC
    }
    static std::string tag() { return std::string(stsd.ctimestamp, stsd.cbytes_name_file); }
    sim::Mcp7940 clock;
};

TEST_F(CardLogTest, TagBlockNamesTheStationAndTheTime) {
    std::memset(configuracion_ktr09.cnombre, 0, sizeof configuracion_ktr09.cnombre);
    std::memcpy(configuracion_ktr09.cnombre, "AB", 2);
    creacion_timestamp(1);
    // The checksum is the XOR of "s:AB,c:1672531200,t:L".
    EXPECT_EQ("\\s:AB,c:1672531200,t:L*16\\", tag());
    // A name that fills its 20 characters ends there.
    std::memcpy(configuracion_ktr09.cnombre, "ABCDEFGHIJKLMNOPQRST", 20);
    creacion_timestamp(0);
    EXPECT_EQ("\\s:ABCDEFGHIJKLMNOPQRST,c:1672531200,t:R*1F\\", tag());
}

TEST_F(CardLogTest, TextIsCutAt64BytesWithinItsBuffer) {
    stsd.snombre_fichero_dvm = "next field";
    stsd.cbytes_name_file = 0;
    inserto_mensaje_name_file(stsd.ctimestamp, std::string(70, 'x').c_str());
    EXPECT_EQ(64, stsd.cbytes_name_file);
    EXPECT_STREQ("next field", stsd.snombre_fichero_dvm.c_str());
}

uint32_t le(const std::vector<uint8_t>& block, size_t at, int bytes) {
    uint32_t value = 0;
    for (int k = bytes - 1; k >= 0; --k) {
        value = (value << 8) | block[at + k];
    }
    return value;
}

std::vector<uint8_t> block_of(sim::SdCardModel& card, uint32_t lbn) {
    std::vector<uint8_t> block(512);
    card.read_block(lbn, block.data());
    return block;
}

// The layouts the SD Association's rules give, worked out by hand: a 2 GB
// standard card (1908 units of 2048 blocks) and a 4 GB high-capacity one.
TEST_F(CardLogTest, FormatterLayouts) {
    const struct {
        const char* description;
        sim::SdCardModel::Profile profile;
        uint32_t mb;
        uint8_t type;
        uint32_t first_block;
        uint8_t blocks_per_cluster, sectors_per_track, heads;
        const char* fs;
        size_t fs_at;
    } cases[] = {
        {"2 GB standard", sim::SdCardModel::Profile::sd2, 1908, 0x06, 0, 64, 63, 64, "FAT16   ",
         54},
        {"4 GB high capacity", sim::SdCardModel::Profile::sdhc, 3800, 0x0B, 8192, 64, 63, 128,
         "FAT32   ", 82},
    };
    for (const auto& c : cases) {
        sim::SdCardModel card(c.profile, c.mb);
        host::attach_sd_card(&card);
        formateo_sd();
        const std::string out = usb();
        EXPECT_NE(std::string::npos, out.find("Format done")) << c.description << out;
        // The formatter's texts run on where no line end is written.
        const std::string fat = c.fs_at == 54 ? "FAT16\n" : "FAT32\n";
        EXPECT_NE(std::string::npos, out.find("\nFormatting\nBlocks/Cluster: 64" + fat)) << out;
        EXPECT_TRUE(std::regex_search(
            out, std::regex("Erasing\n\\.+All data set to [0-9A-F]+Erase done\n")))
            << out;
        const std::vector<uint8_t> mbr = block_of(card, 0);
        EXPECT_EQ(0x55, mbr[510]);
        EXPECT_EQ(0xAA, mbr[511]);
        EXPECT_EQ(c.type, mbr[0x1BE + 4]) << c.description;
        const uint32_t start = le(mbr, 0x1BE + 8, 4);
        if (c.first_block != 0) {
            EXPECT_EQ(c.first_block, start) << c.description;
        }
        const std::vector<uint8_t> boot = block_of(card, start);
        EXPECT_EQ(512u, le(boot, 11, 2));
        EXPECT_EQ(c.blocks_per_cluster, boot[13]) << c.description;
        EXPECT_EQ(c.sectors_per_track, le(boot, 24, 2)) << c.description;
        EXPECT_EQ(c.heads, le(boot, 26, 2)) << c.description;
        EXPECT_EQ(start, le(boot, 28, 4)) << "hidden sectors";
        EXPECT_EQ(c.fs, std::string(reinterpret_cast<const char*>(&boot[c.fs_at]), 8));
        host::attach_sd_card(nullptr);
    }
}

// The card report of a freshly formatted card: the OCR, then the partition
// table with the boot flag and type in plain hexadecimal, as the MBR holds them.
TEST_F(CardLogTest, CardReportShowsThePartitionTable) {
    sim::SdCardModel card(sim::SdCardModel::Profile::sd2, 64);
    host::attach_sd_card(&card);
    formateo_sd();
    const std::vector<uint8_t> mbr = block_of(card, 0);
    usb();
    inicializacion_sd();
    const std::string out = usb();
    char first[64];
    std::snprintf(first, sizeof first, "1,%X,%X,%u,%u\r\n", mbr[0x1BE], mbr[0x1BE + 4],
                  le(mbr, 0x1BE + 8, 4), le(mbr, 0x1BE + 12, 4));
    EXPECT_TRUE(std::regex_search(out, std::regex(std::string("OCR: [0-9A-F]+\nSD Partition Table\n"
                                                              "part,boot,type,start,length\n") +
                                                  first + "2,0,0,0,0\r\n")))
        << out;
    host::attach_sd_card(nullptr);
}

}  // namespace
