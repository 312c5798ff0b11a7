// What a UART receiver makes of a line: bytes sent at another baud rate,
// and bits flipped by noise. Used by uart.cpp in both directions.
#pragma once

#include <cstdint>
#include <deque>
#include <random>
#include <vector>

#include "host/machine.h"

namespace host {
namespace internal {

// A receiver at one rate listening to bytes sent at another. It samples the
// line as a UART does: from the falling edge of a start bit, in the middle
// of each of its own bit times; a byte whose stop bit reads low (framing
// error) is dropped, and it waits for the line to go idle before the next.
class RateMismatch {
  public:
    // A byte going onto the line: its start bit begins at `start`.
    void send(Micros start, uint8_t byte, uint32_t baud);
    // The bytes a receiver at `baud` completed by `now` (every byte whose
    // start bit began before `now` has been sent).
    std::vector<uint8_t> receive(Micros now, uint32_t baud);
    void clear();

  private:
    struct Frame {
        double start;
        double bit;  // microseconds a bit
        uint8_t byte;
    };
    int level(double at) const;

    std::deque<Frame> frames_;
    double cursor_ = 0;       // the line has been read up to here
    bool wait_idle_ = false;  // after a framing error: a high first
};

// Bit errors on a line, each data and stop bit flipped with one chance.
class LineNoise {
  public:
    void set(double bit_error_rate, uint64_t seed);
    double rate() const { return rate_; }
    // The byte as the receiver sees it; false when its stop bit was hit (a
    // framing error: the receiver drops it).
    bool pass(uint8_t* byte);

  private:
    double rate_ = 0;
    std::mt19937_64 engine_;
};

}  // namespace internal
}  // namespace host
