// The bus side that the register-addressed I2C models share: a write
// transaction starts with the register (or memory) address, one or two bytes
// with the high byte first, and the bytes after it go to consecutive
// registers; a write of the address alone only moves the pointer; a read
// transaction returns consecutive registers from the pointer. A model gives
// its register file and how its pointer moves.
#pragma once

#include <cstddef>
#include <cstdint>

#include "host/machine.h"

namespace sim {

class I2cRegisterDevice : public host::I2cDevice {
  public:
    // `address_bytes` is 1 or 2; registers are numbered 0 .. register_count - 1
    // and an address beyond that wraps.
    I2cRegisterDevice(unsigned address_bytes, uint32_t register_count);

    bool acknowledges() final;
    bool on_write(const uint8_t* data, size_t size) final;
    size_t on_read(uint8_t* data, size_t size) final;

    // A silent device acknowledges nothing (switched off, or a dead part).
    void set_silent(bool silent) { silent_ = silent; }
    bool silent() const { return silent_; }
    // The register the next read starts at.
    uint32_t pointer() const { return pointer_; }

  protected:
    virtual uint8_t read_register(uint32_t reg) = 0;
    virtual void write_register(uint32_t reg, uint8_t value) = 0;
    // The register after `reg` within a write and within a read; by default
    // the next one, wrapping at the end of the register file.
    virtual uint32_t next_write_register(uint32_t reg) const;
    virtual uint32_t next_read_register(uint32_t reg) const;
    // True while the device cannot take a transaction (a write cycle).
    virtual bool busy() const { return false; }
    // Before any register of a transaction is touched.
    virtual void begin_transaction() {}
    // After a write transaction that carried `data_bytes` bytes for registers
    // from `first_register` on (0: the address alone was written).
    virtual void end_write(uint32_t first_register, size_t data_bytes) {
        static_cast<void>(first_register);
        static_cast<void>(data_bytes);
    }

    uint32_t register_count() const { return register_count_; }

  private:
    unsigned address_bytes_;
    uint32_t register_count_;
    uint32_t pointer_ = 0;
    bool silent_ = false;
};

}  // namespace sim
