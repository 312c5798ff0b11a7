// Seeded variation of a device model's timing. Without a seed a model keeps
// its fixed timing and a run repeats byte for byte; with one, each model
// draws its timing from a generator of its own, seeded with the run's seed
// mixed with a constant of the model, so that one model's draws do not shift
// another's. The bounds of each drawn quantity are in the model's header.
//
// UartOutput is a model's transmitter: without variation every burst goes
// on the line at once, as one continuous run of bytes; with it a burst is
// now and then cut into pieces with short pauses between them, as a device
// whose processor feeds its UART in chunks sends it. Pieces of one model's
// bursts never interleave: a burst waits for the pieces before it.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "host/machine.h"

namespace sim {

class Variation {
  public:
    // Fixed timing: on() is false and nothing is drawn.
    Variation() = default;
    Variation(uint64_t seed, uint64_t model_constant);

    bool on() const { return engine_.has_value(); }
    // Uniform in [low, high] (low when off). The mapping is our own, so that
    // a seed draws the same values with any standard library.
    int64_t between(int64_t low, int64_t high);
    host::Micros micros_between(host::Micros low, host::Micros high);
    // True with the given probability (never when off).
    bool chance(double probability);

  private:
    std::optional<std::mt19937_64> engine_;
};

class UartOutput {
  public:
    // Bounds of the pieces (assumed: a device whose firmware refills its
    // UART from a buffer pauses now and then for a task switch or an
    // interrupt, for a few ms; well under the 10 ms of silence after which
    // the station takes a burst as ended).
    static constexpr double kSplitChance = 0.25;  // of a burst being cut at all
    static constexpr unsigned kMostPieces = 4;
    static constexpr host::Micros kShortestPause = 1 * host::kMillisecond;
    static constexpr host::Micros kLongestPause = 5 * host::kMillisecond;

    UartOutput(uint8_t port, uint32_t baud) : port_(port), baud_(baud) {}
    ~UartOutput();
    UartOutput(const UartOutput&) = delete;
    UartOutput& operator=(const UartOutput&) = delete;

    void set_baud(uint32_t baud) { baud_ = baud; }
    // The generator that cuts bursts (null: none cut); it must outlive this.
    void vary(Variation* variation) { variation_ = variation; }
    // Sends a burst, whole or in pieces.
    void send(const std::string& burst);
    // Sends the sentences of one burst with a pause before each after the
    // first, drawn in [0, longest_pause] (none without variation); each may
    // itself be cut as send() cuts a burst.
    void send_spaced(const std::vector<std::string>& sentences, host::Micros longest_pause);
    // Drops what has not started yet, as a device losing its supply.
    void drop_pending();

  private:
    struct Piece {
        host::Micros pause;  // line idle before it
        std::string bytes;
    };
    void queue(const std::string& bytes, host::Micros pause);
    void pump();

    uint8_t port_;
    uint32_t baud_;
    Variation* variation_ = nullptr;
    std::deque<Piece> pending_;
    host::Micros line_free_at_ = 0;
    host::EventId next_ = 0;
};

}  // namespace sim
