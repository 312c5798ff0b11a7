#include "devices/analog_inputs.h"

#include <algorithm>
#include <sstream>
#include <vector>

#include "codec/config_image.h"
#include "devices/device.h"
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

// ---- In the simulated station -----------------------------------------------
// The analog front end in the simulated station: its voltages file and the
// scenario keys that change them.
namespace sim {
namespace {

class AnalogDevice : public ModelDevice<AnalogInputs> {
  public:
    AnalogDevice(std::unique_ptr<AnalogInputs> model, bool fresh)
        : ModelDevice(std::move(model)), fresh_(fresh) {}
    std::string write_new_state() override {
        if (fresh_) {
            model().save();
        }
        return {};
    }
    void attach(const codec::StationConfig&) override { model().apply(); }

  private:
    bool fresh_;
};

std::unique_ptr<Device> load(const std::filesystem::path& file, std::string* error) {
    const bool fresh = !std::filesystem::exists(file);
    auto model = std::make_unique<AnalogInputs>(file.string());
    if (!model->load_error().empty()) {
        *error = model->load_error();
        return nullptr;
    }
    return std::make_unique<AnalogDevice>(std::move(model), fresh);
}

// "battery_volts": volts at the battery terminals; "input_volts": [input 1,
// input 2] volts at the analog input terminals.
bool parse_step(const std::string& key, const nlohmann::json& value, DeviceStep* step,
                std::string* expected) {
    if (key == "battery_volts") {
        double volts = 0.0;
        if (!step_volts(value, &volts)) {
            *expected = "volts (a number, at least 0)";
            return false;
        }
        *step = [volts](Device& device) {
            model_of<AnalogInputs>(device).set_battery_volts(volts);
        };
        return true;
    }
    double volts[2] = {0.0, 0.0};
    if (!value.is_array() || value.size() != 2 || !step_volts(value[0], &volts[0]) ||
        !step_volts(value[1], &volts[1])) {
        *expected = "[input 1 volts, input 2 volts] (numbers, at least 0)";
        return false;
    }
    *step = [in1 = volts[0], in2 = volts[1]](Device& device) {
        model_of<AnalogInputs>(device).set_input_volts(1, in1);
        model_of<AnalogInputs>(device).set_input_volts(2, in2);
    };
    return true;
}

}  // namespace

DeviceType analog_inputs_device_type() {
    return {"analog", "analog_inputs.txt", {"battery_volts", "input_volts"}, &load, &parse_step};
}

}  // namespace sim
