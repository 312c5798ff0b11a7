#include "devices/eeprom_24xx64.h"

#include "codec/config_image.h"
#include "devices/device.h"
#include "devices/state_file.h"
#include "host/machine.h"

namespace sim {

Eeprom24xx64::Eeprom24xx64(std::string file)
    : I2cRegisterDevice(2, kSize), file_(std::move(file)), memory_(kSize, 0xFF) {
    if (file_.empty()) {
        return;
    }
    if (read_state_bytes(file_, kSize, &memory_, &load_error_) == StateRead::failed) {
        file_.clear();
    }
}

void Eeprom24xx64::load(const std::vector<uint8_t>& image) {
    memory_.assign(kSize, 0xFF);
    for (size_t i = 0; i < image.size() && i < kSize; ++i) {
        memory_[i] = image[i];
    }
    save();
}

void Eeprom24xx64::save() const {
    if (file_.empty()) {
        return;
    }
    write_state_file(file_, std::string(memory_.begin(), memory_.end()));
}

uint8_t Eeprom24xx64::read_register(uint32_t reg) {
    // The first byte of a read transaction opens its entry in the log.
    if (!reading_) {
        reads_.push_back({static_cast<uint16_t>(reg), 0});
        reading_ = true;
    }
    ++reads_.back().bytes;
    return memory_[reg];
}

uint32_t Eeprom24xx64::next_write_register(uint32_t reg) const {
    const uint32_t page = reg - reg % kPageSize;
    return page + (reg + 1) % kPageSize;
}

void Eeprom24xx64::vary(uint64_t seed) {
    // Its own generator: "EE-24X64" in ASCII.
    variation_ = Variation(seed, 0x45452D3234583634ull);
}

bool Eeprom24xx64::busy() const {
    return host::now() < busy_until_;
}

void Eeprom24xx64::end_write(uint32_t first_register, size_t data_bytes) {
    if (data_bytes == 0) {
        return;
    }
    writes_.push_back({static_cast<uint16_t>(first_register), data_bytes, host::now()});
    busy_until_ =
        host::now() + (variation_.on() ? variation_.micros_between(kShortestWriteCycle, kWriteCycle)
                                       : kWriteCycle);
    save();
}

}  // namespace sim

// ---- In the simulated station -----------------------------------------------
// The configuration EEPROM in the simulated station: its image file, the
// standard configuration for a new state directory, and its scenario key.
namespace sim {
namespace {

class EepromDevice : public ModelDevice<Eeprom24xx64> {
  public:
    EepromDevice(std::unique_ptr<Eeprom24xx64> model, bool fresh)
        : ModelDevice(std::move(model)), fresh_(fresh) {}
    std::string write_new_state() override {
        if (fresh_) {
            model().load(codec::encode_image(codec::default_station_config()));
        }
        return {};
    }
    void attach(const codec::StationConfig&) override {
        host::attach_i2c_device(Eeprom24xx64::kAddress, &model());
    }
    void vary(uint64_t seed) override { model().vary(seed); }

  private:
    bool fresh_;
};

std::unique_ptr<Device> load(const std::filesystem::path& file, std::string* error) {
    const bool fresh = !std::filesystem::exists(file);
    auto model = std::make_unique<Eeprom24xx64>(file.string());
    if (!model->load_error().empty()) {
        *error = model->load_error();
        return nullptr;
    }
    return std::make_unique<EepromDevice>(std::move(model), fresh);
}

// "eeprom_silent": the EEPROM acknowledges nothing (true) or answers again.
bool parse_step(const std::string&, const nlohmann::json& value, DeviceStep* step,
                std::string* expected) {
    bool silent = false;
    if (!step_bool(value, &silent, expected)) {
        return false;
    }
    *step = [silent](Device& device) { model_of<Eeprom24xx64>(device).set_silent(silent); };
    return true;
}

}  // namespace

DeviceType eeprom_device_type() {
    return {"eeprom", "eeprom_24xx64.bin", {"eeprom_silent"}, &load, &parse_step};
}

}  // namespace sim
