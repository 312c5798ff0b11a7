// The I2C bus: Arduino return codes for missing, silent and refusing
// devices, the 32-byte buffer, and bus time at 100 kHz.
#include <gtest/gtest.h>

#include <vector>

#include <Wire.h>

#include "host/machine.h"

namespace {

class FakeDevice : public host::I2cDevice {
  public:
    bool acknowledges() override { return present; }
    bool on_write(const uint8_t* data, size_t size) override {
        writes.emplace_back(data, data + size);
        return accept_data;
    }
    size_t on_read(uint8_t* data, size_t size) override {
        size_t n = 0;
        for (; n < size && n < answer.size(); ++n) {
            data[n] = answer[n];
        }
        return n;
    }
    bool present = true;
    bool accept_data = true;
    std::vector<uint8_t> answer;
    std::vector<std::vector<uint8_t>> writes;
};

constexpr uint8_t kAddress = 0x50;
constexpr host::Micros kByteTime = 90;  // nine bits at 100 kHz

class I2cTest : public ::testing::Test {
  protected:
    void SetUp() override {
        host::reset_machine();
        host::attach_i2c_device(kAddress, &device);
        Wire.begin();
    }
    static uint8_t send(uint8_t address, std::vector<uint8_t> bytes) {
        Wire.beginTransmission(address);
        for (uint8_t b : bytes) {
            Wire.write(b);
        }
        return Wire.endTransmission();
    }
    FakeDevice device;
};

TEST_F(I2cTest, WriteCodesForEachWayATransactionEnds) {
    struct Case {
        const char* name;
        uint8_t address;
        bool present;
        bool accept;
        uint8_t expected;
    };
    const Case cases[] = {
        {"acknowledged", kAddress, true, true, 0},
        {"no device at the address", 0x51, true, true, 2},
        {"device switched off", kAddress, false, true, 2},
        {"data refused", kAddress, true, false, 3},
    };
    for (const Case& c : cases) {
        device.present = c.present;
        device.accept_data = c.accept;
        device.writes.clear();
        EXPECT_EQ(c.expected, send(c.address, {0x00, 0x10, 0xAB})) << c.name;
        const bool reached = c.address == kAddress && c.present;
        EXPECT_EQ(reached ? 1u : 0u, device.writes.size()) << c.name;
    }
}

TEST_F(I2cTest, DeviceSeesTheBytesWritten) {
    EXPECT_EQ(0, send(kAddress, {1, 2, 3}));
    ASSERT_EQ(1u, device.writes.size());
    EXPECT_EQ((std::vector<uint8_t>{1, 2, 3}), device.writes[0]);
}

TEST_F(I2cTest, MoreThan256BytesIsTooLong) {
    Wire.beginTransmission(kAddress);
    for (int i = 0; i < 256; ++i) {
        ASSERT_EQ(1u, Wire.write(static_cast<uint8_t>(i)));
    }
    EXPECT_EQ(0u, Wire.write(0xFF));
    EXPECT_EQ(1, Wire.endTransmission());
    EXPECT_TRUE(device.writes.empty());
}

TEST_F(I2cTest, BusNotStartedIsAnError) {
    Wire.end();
    EXPECT_EQ(4, send(kAddress, {1}));
    EXPECT_EQ(0, Wire.requestFrom(kAddress, 1));
}

TEST_F(I2cTest, ReadsGiveWhatTheDeviceAnswers) {
    device.answer = {0x12, 0x34, 0x56};
    EXPECT_EQ(3, Wire.requestFrom(kAddress, 3));
    EXPECT_EQ(3, Wire.available());
    EXPECT_EQ(0x12, Wire.read());
    EXPECT_EQ(0x34, Wire.read());
    EXPECT_EQ(0x56, Wire.read());
    EXPECT_EQ(0, Wire.available());
    EXPECT_EQ(-1, Wire.read());
    // A device with fewer bytes than asked for.
    EXPECT_EQ(3, Wire.requestFrom(kAddress, 8));
}

TEST_F(I2cTest, ReadsFromMissingOrSilentDevicesGiveNothing) {
    device.answer = {1, 2};
    EXPECT_EQ(0, Wire.requestFrom(0x22, 2));
    EXPECT_EQ(0, Wire.available());
    device.present = false;
    EXPECT_EQ(0, Wire.requestFrom(kAddress, 2));
    EXPECT_EQ(-1, Wire.read());
    host::attach_i2c_device(kAddress, nullptr);
    device.present = true;
    EXPECT_EQ(0, Wire.requestFrom(kAddress, 2));
}

TEST_F(I2cTest, TransactionsTakeNineBitTimesPerByteWithTheAddress) {
    const host::Micros before = host::now();
    send(kAddress, {1, 2, 3});
    // beginTransmission, three writes and endTransmission, plus the bus.
    EXPECT_EQ(before + 5 * host::kCallCost + 4 * kByteTime, host::now());

    device.answer = {9, 9};
    const host::Micros read_start = host::now();
    Wire.requestFrom(kAddress, 2);
    EXPECT_EQ(read_start + host::kCallCost + 3 * kByteTime, host::now());

    const host::Micros nack_start = host::now();
    send(0x33, {1, 2, 3});
    EXPECT_EQ(nack_start + 5 * host::kCallCost + kByteTime, host::now());
}

}  // namespace
