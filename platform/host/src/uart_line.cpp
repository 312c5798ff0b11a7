#include "uart_line.h"

#include <cmath>

namespace host {
namespace internal {

namespace {
constexpr int kBitsPerFrame = 10;  // start, eight data bits, stop
}

void RateMismatch::send(Micros start, uint8_t byte, uint32_t baud) {
    frames_.push_back(Frame{static_cast<double>(start), static_cast<double>(kSecond) / baud, byte});
}

void RateMismatch::clear() {
    frames_.clear();
    cursor_ = 0;
    wait_idle_ = false;
}

int RateMismatch::level(double at) const {
    for (const Frame& frame : frames_) {
        if (at < frame.start) {
            break;
        }
        const auto bit = static_cast<int>((at - frame.start) / frame.bit);
        if (bit < kBitsPerFrame) {
            return bit == 0 ? 0 : bit == 9 ? 1 : (frame.byte >> (bit - 1)) & 1;
        }
    }
    return 1;  // idle
}

std::vector<uint8_t> RateMismatch::receive(Micros now, uint32_t baud) {
    std::vector<uint8_t> out;
    const double end = static_cast<double>(now);
    const double bit = static_cast<double>(kSecond) / baud;
    const double step = bit / 16;  // the receiver's oversampling clock
    cursor_ = frames_.empty() ? end : std::max(cursor_, frames_.front().start - step);
    while (cursor_ < end) {
        if (wait_idle_) {
            while (cursor_ < end && level(cursor_) == 0) {
                cursor_ += step;
            }
            wait_idle_ = cursor_ >= end;
            continue;
        }
        double start = cursor_;
        while (start < end && level(start) == 1) {
            start += step;
        }
        if (start + (kBitsPerFrame - 0.5) * bit > end) {
            cursor_ = start;  // that byte is not over yet
            break;
        }
        if (level(start + bit / 2) != 0) {
            cursor_ = start + step;  // a glitch, not a start bit
            continue;
        }
        uint8_t byte = 0;
        for (int i = 0; i < 8; ++i) {
            byte = static_cast<uint8_t>(byte | level(start + (i + 1.5) * bit) << i);
        }
        const bool framed = level(start + (kBitsPerFrame - 0.5) * bit) == 1;
        if (framed) {
            out.push_back(byte);
        }
        wait_idle_ = !framed;
        cursor_ = start + (kBitsPerFrame - 0.5) * bit;
    }
    while (!frames_.empty() &&
           frames_.front().start + kBitsPerFrame * frames_.front().bit < cursor_) {
        frames_.pop_front();
    }
    return out;
}

void LineNoise::set(double bit_error_rate, uint64_t seed) {
    rate_ = bit_error_rate;
    engine_.seed(seed);
}

bool LineNoise::pass(uint8_t* byte) {
    if (rate_ <= 0) {
        return true;
    }
    std::bernoulli_distribution flip(rate_);
    for (int i = 0; i < 8; ++i) {
        if (flip(engine_)) {
            *byte = static_cast<uint8_t>(*byte ^ (1u << i));
        }
    }
    return !flip(engine_);
}

}  // namespace internal
}  // namespace host
