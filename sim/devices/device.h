// The device models of the simulated station as its set-up and the scenarios
// see them. Each model registers one DeviceType (devices/registry.cpp): its
// name, its state file, the scenario keys it understands with their parser,
// and how it is read from the state directory. The models themselves talk to
// the firmware only through the machine (bytes, pins, I2C transactions).
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

namespace codec {
struct StationConfig;
}

namespace sim {

class Device {
  public:
    virtual ~Device() = default;
    // A new state directory: writes the device's standard state. Called once
    // every device has read its file, so that a refused start writes nothing.
    virtual std::string write_new_state() { return {}; }
    // Connects it to the machine (after host::reset_machine). `config` is the
    // configuration the station will load, decoded once for every device:
    // what is cabled to each sensor channel follows from it.
    virtual void attach(const codec::StationConfig& config) = 0;
    // A run with a seed: from attach on, the device's timing varies within
    // its bounds, drawn from a generator of its own (devices/variation.h).
    // Called before attach; without it the timing stays fixed.
    virtual void vary(uint64_t seed) { static_cast<void>(seed); }
};

// A model held as a Device, for the set-up and for scenario steps to reach.
template <typename Model>
class ModelDevice : public Device {
  public:
    explicit ModelDevice(std::unique_ptr<Model> model) : model_(std::move(model)) {}
    Model& model() { return *model_; }

  private:
    std::unique_ptr<Model> model_;
};

// What a scenario step does to its device when its time comes.
using DeviceStep = std::function<void(Device&)>;

struct DeviceType {
    const char* name;
    const char* state_file;  // in the state directory; null for none
    std::vector<const char*> scenario_keys;
    // Reads the device's state file (an empty path when it has none),
    // writing nothing; null with a message that names the file when it
    // cannot be taken whole.
    std::unique_ptr<Device> (*load)(const std::filesystem::path& state_file, std::string* error);
    // One of its scenario keys: the step, or false with what was expected.
    bool (*parse_step)(const std::string& key, const nlohmann::json& value, DeviceStep* step,
                       std::string* expected);
};

// Every device of the default station, in the order they are read.
const std::vector<DeviceType>& device_types();

// The model behind a device of a step, for the step's action.
template <typename Model>
Model& model_of(Device& device) {
    return static_cast<ModelDevice<Model>&>(device).model();
}

// Scenario values.
bool step_bool(const nlohmann::json& value, bool* out, std::string* expected);
bool step_volts(const nlohmann::json& value, double* out);
// A device's UART rate, 1200..115200.
bool step_baud(const nlohmann::json& value, uint32_t* out, std::string* expected);

}  // namespace sim
