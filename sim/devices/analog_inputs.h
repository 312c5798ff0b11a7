// The board's analog front end: the battery through its resistor divider on
// pin 41, and the two general inputs straight on pins 40 and 39, each pin
// clamped to the converter's 0 .. 3.3 V range. A scenario sets the voltages
// at the terminals; the converter turns the pin voltages into counts.
// The terminal voltages can be kept in a small text file of "name volts"
// lines (battery, input1, input2), so that a user can edit them between runs.
#pragma once

#include <cstdint>
#include <string>

#include "ktr09_board.h"

namespace sim {

class AnalogInputs {
  public:
    static constexpr uint32_t kBatteryPin = board::kBattery;
    static constexpr uint32_t kInput1Pin = board::kAnalogInputs[0];
    static constexpr uint32_t kInput2Pin = board::kAnalogInputs[1];
    static constexpr double kReferenceVolts = 3.3;
    // 100 kOhm over 8.2 kOhm: 12.6 V at the terminal is 0.955 V at the pin.
    static constexpr double kDividerTop = 100e3;
    static constexpr double kDividerBottom = 8.2e3;
    static constexpr double kBatteryDivider = kDividerBottom / (kDividerTop + kDividerBottom);
    // Battery volts per count of a 12-bit conversion through the divider.
    static constexpr double kBatteryVoltsPerCount = kReferenceVolts / kBatteryDivider / 4096.0;
    // Input volts per count of a 12-bit conversion.
    static constexpr double kInputVoltsPerCount = kReferenceVolts / 4096.0;

    // With a file name the voltages are loaded from it when it exists and
    // saved to it on every change. An unknown name or a value that is not a
    // number sets load_error() and leaves the file untouched.
    explicit AnalogInputs(std::string file = {});
    const std::string& load_error() const { return load_error_; }

    // Puts the current voltages on the pins (after a machine reset).
    void apply() const;

    void set_battery_volts(double volts);
    // Input 1 or 2.
    void set_input_volts(int input, double volts);
    double battery_volts() const { return battery_; }
    double input_volts(int input) const { return input == 1 ? input1_ : input2_; }
    void save() const;

  private:
    std::string file_;
    std::string load_error_;
    double battery_ = 12.6;
    double input1_ = 2.0;
    double input2_ = 1.5;
};

}  // namespace sim
