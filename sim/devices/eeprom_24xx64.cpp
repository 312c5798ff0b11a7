#include "devices/eeprom_24xx64.h"

#include "devices/state_file.h"

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

bool Eeprom24xx64::busy() const {
    return host::now() < busy_until_;
}

void Eeprom24xx64::end_write(uint32_t first_register, size_t data_bytes) {
    if (data_bytes == 0) {
        return;
    }
    writes_.push_back({static_cast<uint16_t>(first_register), data_bytes, host::now()});
    busy_until_ = host::now() + kWriteCycle;
    save();
}

}  // namespace sim
