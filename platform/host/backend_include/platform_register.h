// Register cells on the host: each write is reported to the peripheral
// model, which applies the register's semantics (write-one-to-clear flags,
// set/clear pairs, software reset) exactly as the chip would.
#pragma once

#include <stdint.h>

namespace host {
// Called after every write to a modelled register cell; `cell` is the cell,
// `written` the value the firmware wrote.
void register_written(void* cell, uint32_t written);
}  // namespace host

template <typename T>
class HostRegister {
  public:
    constexpr HostRegister() : value_(0) {}
    HostRegister(const HostRegister&) = delete;
    HostRegister& operator=(const HostRegister&) = delete;

    operator T() const { return value_; }  // NOLINT: register reads look like plain reads
    HostRegister& operator=(T value) {
        value_ = value;
        host::register_written(this, value);
        return *this;
    }
    HostRegister& operator|=(T bits) { return *this = static_cast<T>(value_ | bits); }
    HostRegister& operator&=(T bits) { return *this = static_cast<T>(value_ & bits); }

    // The peripheral model's own access, which triggers no write semantics.
    T raw() const { return value_; }
    void set_raw(T value) { value_ = value; }

  private:
    T value_;
};

typedef HostRegister<uint32_t> RwReg32;
typedef HostRegister<uint16_t> RwReg16;
typedef HostRegister<uint8_t> RwReg8;
