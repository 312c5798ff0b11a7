// The MCP7940 model seen from the bus: BCD counters and their carries, the
// oscillator bits, the faults, the register pointer, and its state file.
#include <Wire.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "devices/mcp7940.h"
#include "host/machine.h"
#include "support/state_dir.h"

namespace {

using host::kMillisecond;
using host::kSecond;
using sim::Mcp7940;

class Mcp7940ModelTest : public ::testing::Test {
  protected:
    void SetUp() override {
        host::reset_machine();
        host::attach_i2c_device(Mcp7940::kAddress, &clock);
        Wire.begin();
    }
    static uint8_t write(std::vector<uint8_t> bytes) {
        Wire.beginTransmission(Mcp7940::kAddress);
        for (uint8_t b : bytes) {
            Wire.write(b);
        }
        return Wire.endTransmission();
    }
    static std::vector<uint8_t> read(uint8_t reg, uint8_t count) {
        write({reg});
        const uint8_t got = Wire.requestFrom(Mcp7940::kAddress, count);
        std::vector<uint8_t> bytes;
        for (uint8_t i = 0; i < got; ++i) {
            bytes.push_back(static_cast<uint8_t>(Wire.read()));
        }
        return bytes;
    }
    static void wait(host::Micros duration) { host::run_for(duration); }
    Mcp7940 clock;
};

TEST_F(Mcp7940ModelTest, NewPartStandsStillUntilStarted) {
    wait(10 * kSecond);
    // Year 00 is a leap year: LPYR is set in the month register.
    EXPECT_EQ((std::vector<uint8_t>{0, 0, 0, 0, 0, Mcp7940::kLeapYearBit, 0, 0}), read(0, 8));
    // Start bit with 30 seconds: OSCRUN follows after the start-up time.
    ASSERT_EQ(0, write({0x00, 0x80 | 0x30}));
    EXPECT_EQ(0, read(3, 1)[0] & Mcp7940::kOscRunBit);
    wait(Mcp7940::kOscillatorStartup / 2);
    EXPECT_EQ(0, read(3, 1)[0] & Mcp7940::kOscRunBit);
    wait(Mcp7940::kOscillatorStartup);
    EXPECT_EQ(Mcp7940::kOscRunBit, read(3, 1)[0] & Mcp7940::kOscRunBit);
    wait(3 * kSecond);
    EXPECT_EQ(0x80 | 0x33, read(0, 1)[0]);
}

TEST_F(Mcp7940ModelTest, CountersCarryAsThePartDoes) {
    struct Case {
        const char* name;
        std::vector<uint8_t> start;  // registers 0..6
        std::vector<uint8_t> after;  // one second later
    };
    const Case cases[] = {
        {"year change",
         {0xD9, 0x59, 0x23, 0x02, 0x31, 0x12, 0x24},
         {0x80, 0x00, 0x00, 0x03, 0x01, 0x01, 0x25}},
        {"common February",
         {0xD9, 0x59, 0x23, 0x02, 0x28, 0x02, 0x23},
         {0x80, 0x00, 0x00, 0x03, 0x01, 0x03, 0x23}},
        {"leap February",
         {0xD9, 0x59, 0x23, 0x03, 0x28, 0x02, 0x24},
         {0x80, 0x00, 0x00, 0x04, 0x29, 0x22, 0x24}},  // LPYR read with the month
        {"30-day month, Sunday to Monday",
         {0xD9, 0x59, 0x23, 0x07, 0x30, 0x04, 0x23},
         {0x80, 0x00, 0x00, 0x01, 0x01, 0x05, 0x23}},
        {"BCD minute",
         {0xD9, 0x09, 0x10, 0x01, 0x10, 0x10, 0x23},
         {0x80, 0x10, 0x10, 0x01, 0x10, 0x10, 0x23}},
        {"12-hour: 11:59:59 AM",
         {0xD9, 0x59, 0x51, 0x01, 0x10, 0x10, 0x23},
         {0x80, 0x00, 0x72, 0x01, 0x10, 0x10, 0x23}},
        {"12-hour: 11:59:59 PM",
         {0xD9, 0x59, 0x71, 0x01, 0x10, 0x10, 0x23},
         {0x80, 0x00, 0x52, 0x02, 0x11, 0x10, 0x23}},
        {"12-hour: 12:59:59 PM",
         {0xD9, 0x59, 0x72, 0x01, 0x10, 0x10, 0x23},
         {0x80, 0x00, 0x61, 0x01, 0x10, 0x10, 0x23}},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> bytes = {0x00};
        bytes.insert(bytes.end(), c.start.begin(), c.start.end());
        clock.set_time({23, 1, 1, 7, 0, 0, 0});  // running
        write(bytes);
        wait(kSecond);
        std::vector<uint8_t> now = read(0, 7);
        now[3] &= 0x07;  // the weekday without OSCRUN
        EXPECT_EQ(c.after, now) << c.name;
    }
}

TEST_F(Mcp7940ModelTest, ExternalOscillatorBitNeedsAClockOnX1) {
    clock.set_time({24, 1, 1, 1, 0, 0, 0});
    write({0x07, Mcp7940::kExtOscBit});
    wait(5 * kSecond);
    EXPECT_FALSE(clock.oscillator_running());
    EXPECT_EQ(0, read(0, 1)[0] & 0x7F) << "time stands while nothing drives X1";
    clock.set_external_clock(true);
    wait(5 * kSecond);
    EXPECT_TRUE(clock.oscillator_running());
    EXPECT_GE(read(0, 1)[0] & 0x7F, 0x04);
}

TEST_F(Mcp7940ModelTest, Faults) {
    clock.set_time({24, 1, 1, 1, 0, 0, 0});
    clock.set_crystal_failed(true);
    wait(3 * kSecond);
    EXPECT_EQ(0x80, read(0, 1)[0]) << "start bit set, but no second counted";
    EXPECT_EQ(0, read(3, 1)[0] & Mcp7940::kOscRunBit);
    clock.set_crystal_failed(false);
    clock.stop_oscillator();
    wait(3 * kSecond);
    EXPECT_EQ(0x00, read(0, 1)[0]);
    clock.set_silent(true);
    EXPECT_EQ(2, write({0x00}));
    EXPECT_EQ(0, Wire.requestFrom(Mcp7940::kAddress, 1));
}

TEST_F(Mcp7940ModelTest, PointerRunsOnAndEachBlockWrapsOnItself) {
    clock.set_time({24, 6, 15, 6, 10, 20, 30});
    const std::vector<uint8_t> time = read(0, 7);
    EXPECT_EQ(0x30, time[0] & 0x7F);
    EXPECT_EQ(0x20, time[1]);
    EXPECT_EQ(0x10, time[2]);
    EXPECT_EQ(0x15, time[4]);
    EXPECT_EQ(0x06, time[5] & 0x1F);
    EXPECT_EQ(0x24, time[6]);
    write({0x5F, 0xAA, 0xBB});
    EXPECT_EQ((std::vector<uint8_t>{0xAA, 0xBB}),
              (std::vector<uint8_t>{clock.peek(0x5F), clock.peek(0x20)}));
    write({0x1F, 0x11});
    EXPECT_EQ(0x11, read(0x1F, 2)[0]);
    EXPECT_EQ(0x30, read(0x1F, 2)[1] & 0x7F)
        << "from the last control register back to the seconds";
}

TEST_F(Mcp7940ModelTest, StateFileKeepsARunningClock) {
    const TemporaryStateDir dir;
    const std::filesystem::path file = dir.path() / "ktr09_mcp7940_model_test.bin";
    {
        Mcp7940 saved(file.string());
        saved.set_time({25, 7, 4, 5, 12, 30, 0});
        host::run_for(90 * kSecond);
        saved.save();
    }
    Mcp7940 restored(file.string());
    EXPECT_TRUE(restored.oscillator_running());
    const Mcp7940::Time time = restored.time();
    EXPECT_EQ(25, time.year);
    EXPECT_EQ(12, time.hour);
    EXPECT_EQ(31, time.minute);
    EXPECT_EQ(30, time.second);
    host::run_for(kSecond);
    EXPECT_EQ(31, restored.time().second);
    std::filesystem::remove(file);
}

}  // namespace
