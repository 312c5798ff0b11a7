// An MCP7940 real-time clock: BCD time registers from 0x00 (seconds, minutes,
// hours, weekday, date, month, year), the control register 0x07, the rest of
// the register map (trim, alarms, power-fail stamps) as plain storage, and 64
// bytes of SRAM at 0x20. The oscillator runs only while the start bit ST
// (seconds register, bit 7) is set, the crystal works and, when the external
// oscillator bit EXTOSC (control, bit 3) is set, a clock is present on X1;
// the read-only flag OSCRUN (weekday register, bit 5) comes up a start-up
// time after the oscillator has been started. Time advances with virtual
// time, second by second as the part's counters do (12- or 24-hour mode by
// bit 6 of the hours register), only while the oscillator runs. The
// registers are kept in a file; a simulator started again goes on from the
// time saved, as a battery-backed clock that was off for no time.
//
// With a seed (vary) its crystal is off by a drift drawn once in
// -kLargestDriftPpb..kLargestDriftPpb (parts per billion) and its time
// advances that much faster or slower than virtual time: a 32.768 kHz
// tuning-fork crystal is typically specified at +/-20 ppm at 25 degrees C,
// and the station does not trim it (about 1.7 s a day either way). Without
// a seed it keeps virtual time exactly.
#pragma once

#include <cstdint>
#include <string>

#include "devices/i2c_register_device.h"

namespace sim {

class Mcp7940 : public I2cRegisterDevice {
  public:
    static constexpr uint8_t kAddress = 0x6F;
    static constexpr uint32_t kRegisterCount = 0x60;
    static constexpr host::Micros kOscillatorStartup = 20 * host::kMillisecond;
    static constexpr int64_t kLargestDriftPpb = 20000;

    // Register numbers and bits.
    static constexpr uint8_t kSeconds = 0x00;
    static constexpr uint8_t kMinutes = 0x01;
    static constexpr uint8_t kHours = 0x02;
    static constexpr uint8_t kWeekday = 0x03;
    static constexpr uint8_t kDate = 0x04;
    static constexpr uint8_t kMonth = 0x05;
    static constexpr uint8_t kYear = 0x06;
    static constexpr uint8_t kControl = 0x07;
    static constexpr uint8_t kSramStart = 0x20;
    static constexpr uint8_t kStartBit = 0x80;       // seconds: ST
    static constexpr uint8_t kTwelveHourBit = 0x40;  // hours: 12-hour mode
    static constexpr uint8_t kPmBit = 0x20;          // hours, 12-hour mode: PM
    static constexpr uint8_t kOscRunBit = 0x20;      // weekday: OSCRUN (read only)
    static constexpr uint8_t kLeapYearBit = 0x20;    // month: LPYR (read only)
    static constexpr uint8_t kExtOscBit = 0x08;      // control: EXTOSC

    // With a file name the registers are loaded from it (a saved running
    // clock is running at once) and saved to it after every write; without
    // one, or before the file exists, a new part has every register at 0: the
    // oscillator stopped. A file that is not a whole register map sets
    // load_error() and is left untouched.
    explicit Mcp7940(std::string file = {});
    const std::string& load_error() const { return load_error_; }
    // Its crystal's drift from now on, drawn from `seed` (see above).
    void vary(uint64_t seed);
    ~Mcp7940() override;
    Mcp7940(const Mcp7940&) = delete;
    Mcp7940& operator=(const Mcp7940&) = delete;

    // ---- Test-facing ----------------------------------------------------
    struct Time {
        int year;  // 0..99, 2000 + year
        int month;
        int day;
        int weekday;  // 1..7 as written by the station
        int hour;     // 0..23
        int minute;
        int second;
    };
    // Sets the time in 24-hour mode with the oscillator started and running.
    void set_time(const Time& time);
    // The time the registers hold now (12-hour mode read as 0..23).
    Time time();
    // A register as the bus would read it now, and a write of one register as
    // the bus would make it.
    uint8_t peek(uint8_t reg);
    void poke(uint8_t reg, uint8_t value);
    bool oscillator_running();
    // A crystal that does not oscillate: OSCRUN stays clear and time stands
    // still whatever ST says, until the fault is cleared.
    void set_crystal_failed(bool failed);
    // ST cleared, as after the backup supply failed: the oscillator stops
    // until the station starts it again.
    void stop_oscillator();
    // A clock signal on X1, used only when EXTOSC is set.
    void set_external_clock(bool present);
    void save();

  protected:
    uint8_t read_register(uint32_t reg) override;
    void write_register(uint32_t reg, uint8_t value) override;
    uint32_t next_read_register(uint32_t reg) const override;
    uint32_t next_write_register(uint32_t reg) const override;
    void begin_transaction() override { catch_up(); }
    void end_write(uint32_t first_register, size_t data_bytes) override;

  private:
    bool can_oscillate() const;
    // Brings the counters up to the current virtual time.
    void catch_up();
    // After a change of ST, EXTOSC or the faults: starts or stops the oscillator.
    void update_oscillator();
    void count_second();
    // Virtual time elapsed as the crystal counts it.
    host::Micros crystal_time(host::Micros elapsed);

    std::string file_;
    std::string load_error_;
    uint8_t regs_[kRegisterCount] = {};
    bool running_ = false;  // OSCRUN
    host::Micros starts_at_ = UINT64_MAX;
    host::Micros counted_to_ = 0;  // virtual time the counters stand for
    host::Micros subsecond_ = 0;   // time into the current second
    bool crystal_failed_ = false;
    bool external_clock_ = false;
    int64_t drift_ppb_ = 0;
    int64_t drift_remainder_ = 0;  // in billionths of a microsecond
};

}  // namespace sim
