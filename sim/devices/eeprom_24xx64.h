// A 24xx64 serial EEPROM: 8 KB behind a two-byte address (the top three bits
// ignored), written in 32-byte pages. The bytes of one write go into the page
// of its first byte, wrapping to the start of that page when they run past
// its end, as the part's page latch does. After a write the part is busy for
// its write cycle and acknowledges nothing. Reads run on across the whole
// array, wrapping from the last byte to the first. The array is kept in a
// file, so that a station started again finds what was written.
//
// With a seed (vary) each write cycle lasts kShortestWriteCycle..kWriteCycle:
// the data sheet gives only the 5 ms maximum, and parts finish sooner, by
// how much varying from write to write (assumed). Without a seed every
// cycle lasts the maximum.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "devices/i2c_register_device.h"
#include "devices/variation.h"

namespace sim {

class Eeprom24xx64 : public I2cRegisterDevice {
  public:
    static constexpr uint8_t kAddress = 0x50;
    static constexpr uint32_t kSize = 8192;
    static constexpr uint32_t kPageSize = 32;
    static constexpr host::Micros kWriteCycle = 5 * host::kMillisecond;
    static constexpr host::Micros kShortestWriteCycle = 1 * host::kMillisecond;

    // With a file name the array is loaded from that file, and saved to it
    // after every write; without one it lives in memory. A new part (no
    // file yet) reads 0xFF everywhere. A file that cannot be taken whole
    // sets load_error() and is left untouched.
    explicit Eeprom24xx64(std::string file = {});
    const std::string& load_error() const { return load_error_; }
    // Its write cycles vary from now on, drawn from `seed` (see above).
    void vary(uint64_t seed);

    // ---- Test-facing ----------------------------------------------------
    const std::vector<uint8_t>& contents() const { return memory_; }
    // Replaces the whole array (shorter images are padded with 0xFF).
    void load(const std::vector<uint8_t>& image);
    // One write transaction as the part saw it.
    struct Write {
        uint16_t address;
        size_t bytes;
        host::Micros at;
    };
    const std::vector<Write>& writes() const { return writes_; }
    void clear_writes() { writes_.clear(); }
    // One read transaction: where it started and how many bytes it took.
    struct Read {
        uint16_t address;
        size_t bytes;
    };
    const std::vector<Read>& reads() const { return reads_; }
    void clear_reads() { reads_.clear(); }
    bool in_write_cycle() const { return busy(); }
    // Writes the array to its file (done after every write).
    void save() const;

  protected:
    uint8_t read_register(uint32_t reg) override;
    void write_register(uint32_t reg, uint8_t value) override { memory_[reg] = value; }
    uint32_t next_write_register(uint32_t reg) const override;
    bool busy() const override;
    void begin_transaction() override { reading_ = false; }
    void end_write(uint32_t first_register, size_t data_bytes) override;

  private:
    std::string file_;
    std::string load_error_;
    std::vector<uint8_t> memory_;
    std::vector<Write> writes_;
    std::vector<Read> reads_;
    bool reading_ = false;
    host::Micros busy_until_ = 0;
    Variation variation_;
};

}  // namespace sim
