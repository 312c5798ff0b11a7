#include "devices/i2c_register_device.h"

namespace sim {

I2cRegisterDevice::I2cRegisterDevice(unsigned address_bytes, uint32_t register_count)
    : address_bytes_(address_bytes == 2 ? 2 : 1),
      register_count_(register_count == 0 ? 1 : register_count) {}

bool I2cRegisterDevice::acknowledges() {
    return !silent_ && !busy();
}

bool I2cRegisterDevice::on_write(const uint8_t* data, size_t size) {
    begin_transaction();
    if (size < address_bytes_) {
        // The address was cut short: the pointer stays where it was.
        return true;
    }
    uint32_t address = 0;
    for (unsigned i = 0; i < address_bytes_; ++i) {
        address = (address << 8) | data[i];
    }
    pointer_ = address % register_count_;
    const uint32_t first = pointer_;
    const size_t data_bytes = size - address_bytes_;
    uint32_t reg = pointer_;
    for (size_t i = 0; i < data_bytes; ++i) {
        write_register(reg, data[address_bytes_ + i]);
        reg = next_write_register(reg);
    }
    if (data_bytes > 0) {
        pointer_ = reg;
    }
    end_write(first, data_bytes);
    return true;
}

size_t I2cRegisterDevice::on_read(uint8_t* data, size_t size) {
    begin_transaction();
    for (size_t i = 0; i < size; ++i) {
        data[i] = read_register(pointer_);
        pointer_ = next_read_register(pointer_);
    }
    return size;
}

uint32_t I2cRegisterDevice::next_write_register(uint32_t reg) const {
    return (reg + 1) % register_count_;
}

uint32_t I2cRegisterDevice::next_read_register(uint32_t reg) const {
    return (reg + 1) % register_count_;
}

}  // namespace sim
