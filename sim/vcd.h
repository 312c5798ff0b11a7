// A Value Change Dump of the station's pins, for GTKWave or any waveform
// viewer: every pin of the board's map, with simulated time in microseconds.
// Outputs show the level the station drives ('z' while it drives none);
// inputs the level an outside circuit drives ('z' when nothing does, when
// the station reads its pull-up).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "host/machine.h"

namespace sim {

struct VcdSignal {
    uint32_t pin;
    const char* name;
    bool input;
};

// The signals of the board in the order the dump declares them: its digital
// pins in the order the firmware sets them up (ktr09_board.h).
const std::vector<VcdSignal>& vcd_signals();

class VcdWriter : public host::MachineListener {
  public:
    // Writes the header and the values at the current time to `out` (not
    // owned), then every change until finish(). Create it after
    // host::reset_machine, before the mode pins are set.
    explicit VcdWriter(std::FILE* out);
    ~VcdWriter() override;
    VcdWriter(const VcdWriter&) = delete;
    VcdWriter& operator=(const VcdWriter&) = delete;

    // Marks the end time and stops listening.
    void finish();

    void output_changed(uint32_t pin, int level) override;
    void input_changed(uint32_t pin, int level) override;

  private:
    void change(uint32_t pin, bool input, int level);
    void stamp(host::Micros time);

    std::FILE* out_;
    std::vector<std::string> ids_;  // by index into vcd_signals()
    host::Micros written_time_ = 0;
    bool listening_ = true;
};

}  // namespace sim
