// The 24xx64 model seen from the bus: page latch wrap, write cycle,
// sequential reads, address bits, silence, and its image file.
#include <Wire.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <vector>

#include "devices/eeprom_24xx64.h"
#include "host/machine.h"
#include "support/state_dir.h"

namespace {

using host::kMillisecond;
using sim::Eeprom24xx64;

class EepromModelTest : public ::testing::Test {
  protected:
    void SetUp() override {
        host::reset_machine();
        host::attach_i2c_device(Eeprom24xx64::kAddress, &eeprom);
        Wire.begin();
    }
    static uint8_t write(uint16_t address, const std::vector<uint8_t>& data) {
        Wire.beginTransmission(Eeprom24xx64::kAddress);
        Wire.write(static_cast<uint8_t>(address >> 8));
        Wire.write(static_cast<uint8_t>(address));
        for (uint8_t b : data) {
            Wire.write(b);
        }
        return Wire.endTransmission();
    }
    static std::vector<uint8_t> read(uint16_t address, uint8_t count) {
        if (write(address, {}) != 0) {
            return {};
        }
        const uint8_t got = Wire.requestFrom(Eeprom24xx64::kAddress, count);
        std::vector<uint8_t> bytes;
        for (uint8_t i = 0; i < got; ++i) {
            bytes.push_back(static_cast<uint8_t>(Wire.read()));
        }
        return bytes;
    }
    static std::vector<uint8_t> counting(size_t size, uint8_t first) {
        std::vector<uint8_t> bytes(size);
        for (size_t i = 0; i < size; ++i) {
            bytes[i] = static_cast<uint8_t>(first + i);
        }
        return bytes;
    }
    void settle() { host::run_for(Eeprom24xx64::kWriteCycle); }
    Eeprom24xx64 eeprom;
};

TEST_F(EepromModelTest, NewPartIsBlank) {
    EXPECT_EQ(std::vector<uint8_t>(16, 0xFF), read(0x1000, 16));
}

TEST_F(EepromModelTest, WriteRunningPastThePageEndWrapsToItsStart) {
    // 26 bytes at 20 in one transaction: 12 reach the page end, 14 wrap.
    ASSERT_EQ(0, write(20, counting(26, 1)));
    settle();
    EXPECT_EQ(counting(12, 1), read(20, 12));
    EXPECT_EQ(counting(14, 13), read(0, 14));
    EXPECT_EQ(std::vector<uint8_t>(6, 0xFF), read(14, 6)) << "untouched between";
    EXPECT_EQ(std::vector<uint8_t>(4, 0xFF), read(32, 4)) << "the next page is not reached";
}

TEST_F(EepromModelTest, WriteCycleRefusesTheBusThenTheDataIsThere) {
    ASSERT_EQ(0, write(100, {0x42}));
    EXPECT_TRUE(eeprom.in_write_cycle());
    EXPECT_EQ(2, write(100, {})) << "address not acknowledged during the cycle";
    EXPECT_EQ(0, Wire.requestFrom(Eeprom24xx64::kAddress, 1));
    host::run_for(Eeprom24xx64::kWriteCycle - 200);
    EXPECT_EQ(2, write(100, {}));
    host::run_for(200);
    EXPECT_EQ((std::vector<uint8_t>{0x42}), read(100, 1));
}

TEST_F(EepromModelTest, AddressAloneStartsNoWriteCycle) {
    EXPECT_EQ(0, write(5, {}));
    EXPECT_FALSE(eeprom.in_write_cycle());
    EXPECT_TRUE(eeprom.writes().empty());
}

TEST_F(EepromModelTest, SequentialReadRunsAcrossPagesAndTheArrayEnd) {
    std::vector<uint8_t> image = counting(Eeprom24xx64::kSize, 0);
    eeprom.load(image);
    EXPECT_EQ(std::vector<uint8_t>(image.begin() + 20, image.begin() + 52), read(20, 32));
    const std::vector<uint8_t> wrapped = read(8190, 4);
    EXPECT_EQ((std::vector<uint8_t>{image[8190], image[8191], image[0], image[1]}), wrapped);
    // A second read goes on where the first ended.
    ASSERT_EQ(2, Wire.requestFrom(Eeprom24xx64::kAddress, 2));
    EXPECT_EQ(image[2], Wire.read());
    EXPECT_EQ(image[3], Wire.read());
}

TEST_F(EepromModelTest, TopThreeAddressBitsAreIgnored) {
    ASSERT_EQ(0, write(0xE005, {0x77}));
    settle();
    EXPECT_EQ((std::vector<uint8_t>{0x77}), read(0x0005, 1));
}

TEST_F(EepromModelTest, SilentPartAcknowledgesNothing) {
    eeprom.set_silent(true);
    EXPECT_EQ(2, write(0, {1, 2}));
    EXPECT_EQ(0, Wire.requestFrom(Eeprom24xx64::kAddress, 4));
    eeprom.set_silent(false);
    EXPECT_EQ((std::vector<uint8_t>{0xFF, 0xFF}), read(0, 2)) << "the refused write left nothing";
}

TEST_F(EepromModelTest, ImageFileFollowsEveryWrite) {
    const TemporaryStateDir dir;
    const std::filesystem::path file = dir.path() / "ktr09_eeprom_model_test.bin";
    {
        Eeprom24xx64 saved(file.string());
        host::attach_i2c_device(Eeprom24xx64::kAddress, &saved);
        ASSERT_EQ(0, write(300, {9, 8, 7}));
        host::attach_i2c_device(Eeprom24xx64::kAddress, &eeprom);
    }
    EXPECT_EQ(Eeprom24xx64::kSize, std::filesystem::file_size(file));
    Eeprom24xx64 restored(file.string());
    EXPECT_EQ(9, restored.contents()[300]);
    EXPECT_EQ(7, restored.contents()[302]);
    // A file that is not a whole image is refused and never written over.
    std::ofstream(file, std::ios::binary | std::ios::trunc) << "short";
    Eeprom24xx64 refused(file.string());
    EXPECT_NE(std::string::npos, refused.load_error().find("5 bytes")) << refused.load_error();
    refused.save();
    EXPECT_EQ(5u, std::filesystem::file_size(file));
    std::filesystem::remove(file);
}

}  // namespace
