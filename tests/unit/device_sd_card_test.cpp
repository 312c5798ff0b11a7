// The SD card model as the station's storage library sees it: registers that
// decode to the card's size and type (fields located by hand from the
// register layouts), erase that reads back 0x00 and leaves holes in the
// image, an empty slot and a card pulled out; and the card of a state
// directory.
#include <SdFat.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <vector>

#include "devices/sd_card.h"
#include "host/machine.h"
#include "options.h"
#include "station.h"
#include "support/state_dir.h"

namespace {

using Profile = sim::SdCardModel::Profile;

struct CardRow {
    const char* description;
    Profile profile;
    uint32_t mb;
    uint32_t blocks;  // 2048 per MB
    uint8_t type;
    uint32_t ocr;
    uint8_t csd_structure;  // top two bits of the CSD's first byte
};

class CardRegisters : public ::testing::TestWithParam<CardRow> {};

TEST_P(CardRegisters, DecodeToTheCardsSizeAndType) {
    const CardRow& row = GetParam();
    host::reset_machine();
    sim::SdCardModel model(row.profile, row.mb);
    ASSERT_EQ(model.load_error(), "");
    host::attach_sd_card(&model);
    SdSpiCard card;
    ASSERT_TRUE(card.begin(52, SD_SCK_MHZ(2)));
    EXPECT_EQ(card.cardSize(), row.blocks);
    EXPECT_EQ(card.type(), row.type);
    uint32_t ocr = 0;
    ASSERT_TRUE(card.readOCR(&ocr));
    EXPECT_EQ(ocr, row.ocr);
    csd_t csd;
    ASSERT_TRUE(card.readCSD(&csd));
    EXPECT_EQ(csd.raw[0] >> 6, row.csd_structure);
    EXPECT_EQ(csd.raw[10] & 0x40, 0x40) << "ERASE_BLK_EN, bit 46";
    EXPECT_EQ(((csd.raw[10] & 0x3F) << 1) | (csd.raw[11] >> 7), 0x7F) << "SECTOR_SIZE, 45:39";
    EXPECT_EQ(csd.raw[15] & 1, 1) << "end bit";
    cid_t cid;
    ASSERT_TRUE(card.readCID(&cid));
    EXPECT_EQ(cid.mdt[1] & 0x0F, 3) << "made in March";
    EXPECT_EQ(2000 + (((cid.mdt[0] & 0x0F) << 4) | (cid.mdt[1] >> 4)), 2019);
    EXPECT_EQ(cid.crc & 1, 1);
    // The last block is there, the one past it is not.
    uint8_t block[512];
    EXPECT_TRUE(card.readBlock(row.blocks - 1, block));
    EXPECT_FALSE(card.readBlock(row.blocks, block));
    host::reset_machine();
}

INSTANTIATE_TEST_SUITE_P(
    Rows, CardRegisters,
    ::testing::Values(
        CardRow{"Standard64MB", Profile::sd2, 64, 131072, SD_CARD_TYPE_SD2, 0x80FF8000, 0},
        CardRow{"Standard2GB", Profile::sd2, 2048, 4194304, SD_CARD_TYPE_SD2, 0x80FF8000, 0},
        CardRow{"Version1Card1MB", Profile::sd1, 1, 2048, SD_CARD_TYPE_SD1, 0x80FF8000, 0},
        CardRow{"HighCapacity4GB", Profile::sdhc, 4096, 8388608, SD_CARD_TYPE_SDHC, 0xC0FF8000, 1},
        CardRow{"HighCapacity32GB", Profile::sdhc, 32768, 67108864, SD_CARD_TYPE_SDHC, 0xC0FF8000,
                1}),
    [](const ::testing::TestParamInfo<CardRow>& info) { return info.param.description; });

TEST(CardRegisterFields, TwoGigabyteCardUsesKilobyteBlocksAndFullMultiplier) {
    // 4096 x 2^(7+2) x 1024 bytes: READ_BL_LEN 10, C_SIZE 4095, C_SIZE_MULT 7.
    uint8_t csd[16];
    sim::SdCardModel::make_csd(Profile::sd2, 2048, csd);
    EXPECT_EQ(csd[5] & 0x0F, 10);                                              // 83:80
    EXPECT_EQ(((csd[6] & 0x03) << 10) | (csd[7] << 2) | (csd[8] >> 6), 4095);  // 73:62
    EXPECT_EQ(((csd[9] & 0x03) << 1) | (csd[10] >> 7), 7);                     // 49:47
    // High capacity: C_SIZE (69:48) is the size in 512 KB units less one.
    sim::SdCardModel::make_csd(Profile::sdhc, 4096, csd);
    EXPECT_EQ(((csd[7] & 0x3F) << 16) | (csd[8] << 8) | csd[9], 8191);
    EXPECT_EQ(csd[5] & 0x0F, 9);
    // Standard cards stop at 2 GB.
    EXPECT_FALSE(sim::SdCardModel::capacity_fits(Profile::sd2, 4096));
    EXPECT_TRUE(sim::SdCardModel::capacity_fits(Profile::sd2, 100));
    EXPECT_FALSE(sim::SdCardModel::capacity_fits(Profile::sd2, 0));
    EXPECT_TRUE(sim::SdCardModel::capacity_fits(Profile::sdhc, 100));
}

class CardFile : public ::testing::Test {
  protected:
    void SetUp() override { host::reset_machine(); }
    void TearDown() override { host::reset_machine(); }
    static std::vector<uint8_t> filled(uint8_t value) { return std::vector<uint8_t>(512, value); }
    static blkcnt_t allocated(const std::filesystem::path& file) {
        struct stat info {};
        ::stat(file.c_str(), &info);
        return info.st_blocks;
    }
    TemporaryStateDir dir_;
};

TEST_F(CardFile, EraseReadsBackZerosAndPunchesHoles) {
    const auto image = dir_.path() / "sd_card.img";
    sim::SdCardModel model(Profile::sd2, 64, image.string());
    ASSERT_EQ(model.load_error(), "");
    EXPECT_EQ(std::filesystem::file_size(image), 64u << 20);
    EXPECT_LT(allocated(image), 64) << "a new card takes no room";
    host::attach_sd_card(&model);
    SdSpiCard card;
    ASSERT_TRUE(card.begin(52, SD_SCK_MHZ(2)));
    const auto data = filled(0xA5);
    for (uint32_t b = 1000; b < 1512; ++b) {
        ASSERT_TRUE(card.writeBlock(b, data.data()));
    }
    const blkcnt_t written = allocated(image);
    EXPECT_GE(written, 512);
    ASSERT_TRUE(card.erase(1001, 1510));
    uint8_t block[512];
    ASSERT_TRUE(card.readBlock(1001, block));
    EXPECT_EQ(std::vector<uint8_t>(block, block + 512), filled(0x00));
    ASSERT_TRUE(card.readBlock(1510, block));
    EXPECT_EQ(std::vector<uint8_t>(block, block + 512), filled(0x00));
    ASSERT_TRUE(card.readBlock(1000, block));
    EXPECT_EQ(std::vector<uint8_t>(block, block + 512), data) << "before the range";
    ASSERT_TRUE(card.readBlock(1511, block));
    EXPECT_EQ(std::vector<uint8_t>(block, block + 512), data) << "after the range";
    EXPECT_LT(allocated(image), written / 2);
    // The whole card in one go, as a formatter erases it.
    ASSERT_TRUE(card.erase(0, card.cardSize() - 1));
    EXPECT_LT(allocated(image), 64);
    EXPECT_FALSE(card.erase(10, 9));
    EXPECT_FALSE(card.erase(0, card.cardSize()));
    // Multi-block write.
    ASSERT_TRUE(card.writeStart(20, 2));
    ASSERT_TRUE(card.writeData(data.data()));
    ASSERT_TRUE(card.writeData(data.data()));
    ASSERT_TRUE(card.writeStop());
    ASSERT_TRUE(card.readBlock(21, block));
    EXPECT_EQ(std::vector<uint8_t>(block, block + 512), data);
    EXPECT_FALSE(card.writeData(data.data())) << "after writeStop";
}

TEST_F(CardFile, AnImageOfAnotherSizeIsRefusedUntouched) {
    const auto image = dir_.path() / "sd_card.img";
    std::ofstream(image, std::ios::binary) << "not a card";
    sim::SdCardModel model(Profile::sd2, 64, image.string());
    EXPECT_NE(model.load_error().find("10 bytes"), std::string::npos) << model.load_error();
    EXPECT_EQ(std::filesystem::file_size(image), 10u);
}

TEST_F(CardFile, EmptySlotAndPulledCardFailEveryOperation) {
    SdSpiCard card;
    uint8_t block[512] = {};
    EXPECT_FALSE(card.begin(52, SD_SCK_MHZ(2))) << "empty slot";
    EXPECT_NE(card.errorCode(), 0);
    EXPECT_FALSE(card.readBlock(0, block));
    EXPECT_EQ(card.cardSize(), 0u);

    sim::SdCardModel model(Profile::sd2, 64);
    host::attach_sd_card(&model);
    ASSERT_TRUE(card.begin(52, SD_SCK_MHZ(2)));
    EXPECT_EQ(card.errorCode(), 0);
    block[0] = 0x42;
    ASSERT_TRUE(card.writeBlock(7, block));
    model.set_removed(true);
    uint32_t ocr = 0;
    cid_t cid;
    EXPECT_FALSE(card.readBlock(7, block));
    EXPECT_FALSE(card.writeBlock(7, block));
    EXPECT_FALSE(card.readOCR(&ocr));
    EXPECT_FALSE(card.readCID(&cid));
    EXPECT_EQ(card.cardSize(), 0u);
    EXPECT_FALSE(card.erase(0, 127));
    EXPECT_FALSE(card.begin(52, SD_SCK_MHZ(2)));
    EXPECT_NE(card.errorCode(), 0);
    // Put back, it answers only once started again; its blocks are kept.
    model.set_removed(false);
    EXPECT_FALSE(card.readBlock(7, block));
    ASSERT_TRUE(card.begin(52, SD_SCK_MHZ(2)));
    ASSERT_TRUE(card.readBlock(7, block));
    EXPECT_EQ(block[0], 0x42);
}

TEST_F(CardFile, AnOperationBeforeBeginFails) {
    sim::SdCardModel model(Profile::sdhc, 4096);
    host::attach_sd_card(&model);
    SdSpiCard card;
    uint8_t block[512];
    EXPECT_FALSE(card.readBlock(0, block));
    EXPECT_EQ(card.type(), 0);
    EXPECT_NE(card.errorCode(), 0);
}

TEST_F(CardFile, NewStateDirectoryGetsA64MegabyteStandardCard) {
    sim::Options options;
    options.state_dir = dir_.path().string();
    ASSERT_EQ(sim::attach_default_devices(options), "");
    const auto image = dir_.path() / "sd_card.img";
    EXPECT_EQ(std::filesystem::file_size(image), 64u << 20);
    SdSpiCard card;
    ASSERT_TRUE(card.begin(52, SD_SCK_MHZ(2)));
    EXPECT_EQ(card.cardSize(), 131072u);
    EXPECT_EQ(card.type(), SD_CARD_TYPE_SD2);
    // A size and profile the user chose.
    host::reset_machine();
    std::filesystem::remove(image);
    std::ofstream(dir_.path() / "sd_card.txt") << "capacity_mb 4096\nprofile sdhc\n";
    ASSERT_EQ(sim::attach_default_devices(options), "");
    ASSERT_TRUE(card.begin(52, SD_SCK_MHZ(2)));
    EXPECT_EQ(card.cardSize(), 8388608u);
    EXPECT_EQ(card.type(), SD_CARD_TYPE_SDHC);
    // An image put there without its description is described at its own
    // size, and the next start takes it again.
    for (int run = 0; run < 2; ++run) {
        host::reset_machine();
        if (run == 0) {
            std::filesystem::remove(dir_.path() / "sd_card.txt");
        }
        ASSERT_EQ(sim::attach_default_devices(options), "") << "run " << run;
        ASSERT_TRUE(card.begin(52, SD_SCK_MHZ(2)));
        EXPECT_EQ(card.cardSize(), 8388608u);
    }
    EXPECT_EQ(
        "# The card in the slot: size in MB, and sd1, sd2 or sdhc.\ncapacity_mb 4096\n"
        "profile sdhc\n",
        read_file(dir_.path() / "sd_card.txt"));
    // A description that does not fit is refused, naming its line.
    host::reset_machine();
    std::ofstream(dir_.path() / "sd_card.txt") << "capacity_mb 4096\nprofile sd2\n";
    EXPECT_NE(sim::attach_default_devices(options).find("sd_card.txt"), std::string::npos);
    std::ofstream(dir_.path() / "sd_card.txt") << "capacity_mb 64\nspeed fast\n";
    EXPECT_NE(sim::attach_default_devices(options).find("sd_card.txt:2"), std::string::npos);
}

}  // namespace
