// The analog front end model: the battery divider, the converter range and
// the file of terminal voltages.
#include <Arduino.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "devices/analog_inputs.h"
#include "host/machine.h"
#include "support/state_dir.h"

namespace {

using sim::AnalogInputs;

class AnalogModelTest : public ::testing::Test {
  protected:
    void SetUp() override {
        host::reset_machine();
        analogReadResolution(12);
    }
};

TEST_F(AnalogModelTest, TerminalVoltagesBecomeCounts) {
    AnalogInputs inputs;
    struct Case {
        double battery, input1, input2;
    };
    for (const Case& c : {Case{12.6, 1.0, 2.5}, Case{11.2, 0.1, 3.2}, Case{13.8, 0.0, 1.65}}) {
        inputs.set_battery_volts(c.battery);
        inputs.set_input_volts(1, c.input1);
        inputs.set_input_volts(2, c.input2);
        EXPECT_NEAR(c.battery,
                    analogRead(AnalogInputs::kBatteryPin) * AnalogInputs::kBatteryVoltsPerCount,
                    AnalogInputs::kBatteryVoltsPerCount);
        EXPECT_NEAR(c.input1,
                    analogRead(AnalogInputs::kInput1Pin) * AnalogInputs::kInputVoltsPerCount,
                    AnalogInputs::kInputVoltsPerCount);
        EXPECT_NEAR(c.input2,
                    analogRead(AnalogInputs::kInput2Pin) * AnalogInputs::kInputVoltsPerCount,
                    AnalogInputs::kInputVoltsPerCount);
    }
    // 12.6 V is a plausible mid-scale count for a factor near 0.0106 V.
    inputs.set_battery_volts(12.6);
    EXPECT_NEAR(0.0106, AnalogInputs::kBatteryVoltsPerCount, 0.0001);
    EXPECT_NEAR(1185, analogRead(AnalogInputs::kBatteryPin), 2);
}

TEST_F(AnalogModelTest, PinsStayWithinTheConverterRange) {
    AnalogInputs inputs;
    inputs.set_battery_volts(60.0);
    inputs.set_input_volts(1, -3.0);
    inputs.set_input_volts(2, 5.0);
    EXPECT_EQ(4095, analogRead(AnalogInputs::kBatteryPin));
    EXPECT_EQ(0, analogRead(AnalogInputs::kInput1Pin));
    EXPECT_EQ(4095, analogRead(AnalogInputs::kInput2Pin));
}

TEST_F(AnalogModelTest, VoltagesFileIsReadAndWritten) {
    const TemporaryStateDir dir;
    const std::filesystem::path file = dir.path() / "ktr09_analog_model_test.txt";
    std::ofstream(file, std::ios::trunc) << "# edited by hand\nbattery 11.9\n\ninput2 0.75\n";
    AnalogInputs inputs(file.string());
    EXPECT_DOUBLE_EQ(11.9, inputs.battery_volts());
    EXPECT_DOUBLE_EQ(2.0, inputs.input_volts(1)) << "a missing line keeps the default";
    EXPECT_DOUBLE_EQ(0.75, inputs.input_volts(2));
    inputs.set_input_volts(1, 1.25);
    AnalogInputs again(file.string());
    EXPECT_DOUBLE_EQ(1.25, again.input_volts(1));
    EXPECT_DOUBLE_EQ(11.9, again.battery_volts());
    std::filesystem::remove(file);
}

}  // namespace
