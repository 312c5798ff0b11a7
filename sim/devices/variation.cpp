#include "devices/variation.h"

#include <algorithm>
#include <vector>

namespace sim {
namespace {

// SplitMix64's finaliser: nearby seeds and constants give unrelated states.
uint64_t mix(uint64_t value) {
    value += 0x9E3779B97F4A7C15ull;
    value = (value ^ (value >> 30)) * 0xBF58476D1CE4E5B9ull;
    value = (value ^ (value >> 27)) * 0x94D049BB133111EBull;
    return value ^ (value >> 31);
}

constexpr uint64_t kBitsPerByte = 10;

}  // namespace

Variation::Variation(uint64_t seed, uint64_t model_constant)
    : engine_(std::mt19937_64(mix(seed ^ mix(model_constant)))) {}

int64_t Variation::between(int64_t low, int64_t high) {
    if (!engine_ || high <= low) {
        return low;
    }
    const uint64_t span = static_cast<uint64_t>(high - low);
    const uint64_t draw = (*engine_)();
    // The remainder's bias is below 2^-40 for any span used here.
    return low + static_cast<int64_t>(span == UINT64_MAX ? draw : draw % (span + 1));
}

host::Micros Variation::micros_between(host::Micros low, host::Micros high) {
    return static_cast<host::Micros>(
        between(static_cast<int64_t>(low), static_cast<int64_t>(high)));
}

bool Variation::chance(double probability) {
    if (!engine_) {
        return false;
    }
    // 53 random bits as a fraction in [0, 1).
    const double fraction = static_cast<double>((*engine_)() >> 11) * 0x1.0p-53;
    return fraction < probability;
}

UartOutput::~UartOutput() {
    host::cancel(next_);
}

void UartOutput::send(const std::string& burst) {
    if (variation_ == nullptr || !variation_->on()) {
        host::uart_peer_send(port_, burst, baud_);
        return;
    }
    queue(burst, 0);
    pump();
}

void UartOutput::send_spaced(const std::vector<std::string>& sentences,
                             host::Micros longest_pause) {
    if (variation_ == nullptr || !variation_->on()) {
        std::string burst;
        for (const std::string& sentence : sentences) {
            burst += sentence;
        }
        host::uart_peer_send(port_, burst, baud_);
        return;
    }
    for (size_t i = 0; i < sentences.size(); ++i) {
        queue(sentences[i], i == 0 ? 0 : variation_->micros_between(0, longest_pause));
    }
    pump();
}

void UartOutput::drop_pending() {
    pending_.clear();
    host::cancel(next_);
    next_ = 0;
}

// Cut points drawn anywhere in the burst, sentence boundaries or not: a
// pause falls wherever the device's buffer ran dry.
void UartOutput::queue(const std::string& bytes, host::Micros pause) {
    if (bytes.size() < 2 || !variation_->chance(kSplitChance)) {
        pending_.push_back({pause, bytes});
        return;
    }
    const auto most = static_cast<int64_t>(std::min<size_t>(kMostPieces, bytes.size()));
    std::vector<size_t> cuts;
    for (int64_t n = variation_->between(2, most); n > 1; --n) {
        cuts.push_back(
            static_cast<size_t>(variation_->between(1, static_cast<int64_t>(bytes.size()) - 1)));
    }
    std::sort(cuts.begin(), cuts.end());
    cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());
    size_t from = 0;
    for (size_t cut : cuts) {
        pending_.push_back(
            {from == 0 ? pause : variation_->micros_between(kShortestPause, kLongestPause),
             bytes.substr(from, cut - from)});
        from = cut;
    }
    pending_.push_back(
        {variation_->micros_between(kShortestPause, kLongestPause), bytes.substr(from)});
}

void UartOutput::pump() {
    if (next_ != 0) {
        return;  // a pause is running: the pieces go in turn
    }
    while (!pending_.empty()) {
        const host::Micros now = host::now();
        const Piece& piece = pending_.front();
        const host::Micros start = std::max(now, line_free_at_ + piece.pause);
        if (piece.pause != 0 && start > now) {
            next_ = host::schedule_at(start, [this] {
                next_ = 0;
                pump();
            });
            return;
        }
        host::uart_peer_send(port_, piece.bytes, baud_);
        line_free_at_ = std::max(now, line_free_at_) +
                        (piece.bytes.size() * kBitsPerByte * host::kSecond + baud_ - 1) / baud_;
        pending_.pop_front();
    }
}

}  // namespace sim
