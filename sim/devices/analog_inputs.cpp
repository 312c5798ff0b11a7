#include "devices/analog_inputs.h"

#include <algorithm>
#include <sstream>
#include <vector>

#include "codec/config_image.h"
#include "devices/state_file.h"
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
    std::vector<StateLine> lines;
    if (read_state_lines(file_, &lines, &load_error_) == StateRead::failed) {
        file_.clear();
        return;
    }
    for (const StateLine& line : lines) {
        double* volts = line.name == "battery"  ? &battery_
                        : line.name == "input1" ? &input1_
                        : line.name == "input2" ? &input2_
                                                : nullptr;
        if (volts == nullptr) {
            load_error_ = state_error(
                file_, line.number,
                "unknown name \"" + line.name + "\" (expected battery, input1, input2)");
        } else if (state_number(file_, line, volts, &load_error_) && *volts < 0.0) {
            load_error_ = state_error(file_, line.number, line.name + ": volts below 0");
        }
        if (!load_error_.empty()) {
            file_.clear();
            return;
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
    std::ostringstream out;
    out << "# Volts at the board's analog terminals\n"
        << "battery " << battery_ << "\n"
        << "input1 " << input1_ << "\n"
        << "input2 " << input2_ << "\n";
    write_state_file(file_, out.str());
}

}  // namespace sim
