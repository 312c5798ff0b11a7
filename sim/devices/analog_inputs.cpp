#include "devices/analog_inputs.h"

#include <algorithm>
#include <fstream>
#include <sstream>

#include "codec/config_image.h"
#include "host/machine.h"

namespace sim {

// The standard configuration's calibration must read this front end right.
static_assert(AnalogInputs::kBatteryVoltsPerCount == codec::kBatteryVoltsPerCount);
static_assert(AnalogInputs::kInputVoltsPerCount == codec::kInputVoltsPerCount);
namespace {

double pin_volts(double volts) {
    return std::clamp(volts, 0.0, AnalogInputs::kReferenceVolts);
}

}  // namespace

AnalogInputs::AnalogInputs(std::string file) : file_(std::move(file)) {
    if (file_.empty()) {
        return;
    }
    std::ifstream in(file_);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string name;
        double volts = 0.0;
        if (!(words >> name >> volts)) {
            continue;
        }
        if (name == "battery") {
            battery_ = volts;
        } else if (name == "input1") {
            input1_ = volts;
        } else if (name == "input2") {
            input2_ = volts;
        }
    }
}

void AnalogInputs::apply() const {
    host::set_analog_voltage(kBatteryPin, pin_volts(battery_ * kBatteryDivider));
    host::set_analog_voltage(kInput1Pin, pin_volts(input1_));
    host::set_analog_voltage(kInput2Pin, pin_volts(input2_));
}

void AnalogInputs::set_battery_volts(double volts) {
    battery_ = volts;
    apply();
    save();
}

void AnalogInputs::set_input_volts(int input, double volts) {
    (input == 1 ? input1_ : input2_) = volts;
    apply();
    save();
}

void AnalogInputs::save() const {
    if (file_.empty()) {
        return;
    }
    std::ofstream out(file_, std::ios::trunc);
    out << "# Volts at the board's analog terminals\n"
        << "battery " << battery_ << "\n"
        << "input1 " << input1_ << "\n"
        << "input2 " << input2_ << "\n";
}

}  // namespace sim
