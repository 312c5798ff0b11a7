// Pins, the analog converter and the USB port as the firmware sees them.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include <Arduino.h>

#include "host/machine.h"

namespace {

class PinsTest : public ::testing::Test {
  protected:
    void SetUp() override { host::reset_machine(); }
};

TEST_F(PinsTest, InputsReadTheOutsideLevelOrTheirPull) {
    struct Case {
        const char* name;
        uint32_t mode;
        int outside;
        int expected;
    };
    const Case cases[] = {
        {"plain input, undriven", INPUT, -1, LOW},
        {"pull-up, undriven", INPUT_PULLUP, -1, HIGH},
        {"pull-down, undriven", INPUT_PULLDOWN, -1, LOW},
        {"pull-up, pulled low outside", INPUT_PULLUP, 0, LOW},
        {"plain input, driven high", INPUT, 1, HIGH},
        {"analog pin, driven high", INPUT_ANALOG, 1, LOW},
    };
    for (const Case& c : cases) {
        pinMode(20, c.mode);
        host::set_input_level(20, c.outside);
        EXPECT_EQ(c.expected, digitalRead(20)) << c.name;
        EXPECT_EQ(-1, host::output_level(20)) << c.name;
        EXPECT_EQ(c.mode, host::pin_mode(20)) << c.name;
    }
}

TEST_F(PinsTest, OutputsDriveTheirLatchWhateverIsOutside) {
    pinMode(13, OUTPUT);
    EXPECT_EQ(0, host::output_level(13));
    host::set_input_level(13, 1);
    EXPECT_EQ(LOW, digitalRead(13));
    digitalWrite(13, HIGH);
    EXPECT_EQ(1, host::output_level(13));
    EXPECT_EQ(HIGH, digitalRead(13));
}

TEST_F(PinsTest, WritingAnInputChoosesItsPullAndTheOutputStartsFromIt) {
    pinMode(35, INPUT);
    digitalWrite(35, HIGH);
    EXPECT_EQ(HIGH, digitalRead(35));
    EXPECT_EQ(-1, host::output_level(35));
    pinMode(35, OUTPUT);
    EXPECT_EQ(1, host::output_level(35));
    digitalWrite(35, LOW);
    pinMode(35, INPUT);
    EXPECT_EQ(LOW, digitalRead(35));
}

TEST_F(PinsTest, OutputListenerHearsOnlyChanges) {
    std::vector<std::pair<uint32_t, int>> heard;
    host::on_output_change([&](uint32_t pin, int level) { heard.emplace_back(pin, level); });
    pinMode(30, OUTPUT);
    pinMode(30, OUTPUT);  // re-applied modes change nothing
    digitalWrite(30, HIGH);
    digitalWrite(30, HIGH);
    digitalWrite(30, LOW);
    pinMode(30, INPUT);
    digitalWrite(31, HIGH);  // an input: only its pull
    EXPECT_EQ((std::vector<std::pair<uint32_t, int>>{{30, 0}, {30, 1}, {30, 0}, {30, -1}}), heard);
}

TEST_F(PinsTest, PinsOutsideTheBoardAreIgnored) {
    pinMode(host::kPinCount, OUTPUT);
    digitalWrite(host::kPinCount, HIGH);
    EXPECT_EQ(LOW, digitalRead(host::kPinCount));
    EXPECT_EQ(-1, host::output_level(host::kPinCount));
    EXPECT_EQ(0, analogRead(200));
}

TEST_F(PinsTest, AnalogReadTurnsVoltsIntoCountsAtTheResolution) {
    struct Case {
        int bits;  // 0: the default
        double volts;
        int expected;
    };
    const Case cases[] = {
        {0, 0.0, 0},     {0, 3.3, 1023},    {0, 1.65, 512},  {12, 1.65, 2048},
        {12, 3.3, 4095}, {12, 0.825, 1024}, {12, 5.0, 4095}, {12, -0.3, 0},
        {8, 3.3, 255},   {12, 0.0008, 1},   {12, 0.0002, 0},
    };
    for (const Case& c : cases) {
        host::reset_machine();
        if (c.bits != 0) {
            analogReadResolution(c.bits);
        }
        host::set_analog_voltage(41, c.volts);
        EXPECT_EQ(c.expected, analogRead(41)) << c.volts << " V at " << c.bits << " bits";
    }
}

TEST_F(PinsTest, ResolutionReturnsToTenBitsAtPowerUp) {
    analogReadResolution(12);
    host::set_analog_voltage(40, 3.3);
    ASSERT_EQ(4095, analogRead(40));
    host::power_on();
    host::power_off();
    EXPECT_EQ(1023, analogRead(40));
}

TEST_F(PinsTest, UsbBytesAreReadableOnlyOnceThePortIsOpen) {
    host::usb_send("early");
    SerialUSB.begin(115200);
    EXPECT_EQ(0, SerialUSB.available());
    host::usb_send("AB");
    EXPECT_EQ(2, SerialUSB.available());
    EXPECT_EQ('A', SerialUSB.read());
    EXPECT_EQ('B', SerialUSB.read());
    EXPECT_EQ(-1, SerialUSB.read());
}

}  // namespace
