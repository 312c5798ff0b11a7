// Seeded variation of the device models, seen on the line and the bus: each
// varied quantity stays within the bounds its model states and does vary,
// over a few seeds; without a seed the timing is the fixed one.
#include <Arduino.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "codec/nmea.h"
#include "devices/ais_transponder.h"
#include "devices/mcp7940.h"
#include "devices/variation.h"
#include "devices/weather_station.h"
#include "support/firmware_fixture.h"

namespace {

using host::kMillisecond;
using host::kSecond;
using host::Micros;

constexpr uint64_t kSeeds[] = {1, 2, 3, 20261208, 0xFFFFFFFFFFFFFFFFull};

// The end of each byte a peer sent on one port, as the line carried it.
class LineRecorder : public host::MachineListener {
  public:
    struct Byte {
        Micros end;
        char value;
        bool accepted;
    };
    explicit LineRecorder(uint8_t port) : port_(port) { host::add_listener(this); }
    ~LineRecorder() override { host::remove_listener(this); }
    void uart_to_station(uint8_t port, uint8_t byte, bool accepted) override {
        if (port == port_) {
            bytes.push_back({host::now(), static_cast<char>(byte), accepted});
        }
    }
    std::string text(size_t from = 0) const {
        std::string out;
        for (size_t i = from; i < bytes.size(); ++i) {
            out += bytes[i].value;
        }
        return out;
    }
    std::vector<Byte> bytes;

  private:
    uint8_t port_;
};

// A sentence on the line: when its first byte started and its last ended.
struct LineSentence {
    Micros start;
    Micros end;
    std::string text;
};

std::vector<LineSentence> sentences(const LineRecorder& line, Micros byte_time, size_t from = 0) {
    std::vector<LineSentence> out;
    for (size_t i = from; i < line.bytes.size(); ++i) {
        const LineRecorder::Byte& byte = line.bytes[i];
        if (byte.value == '$' || byte.value == '!' || out.empty()) {
            out.push_back({byte.end - byte_time, byte.end, ""});
        }
        out.back().text += byte.value;
        out.back().end = byte.end;
    }
    return out;
}

// Idle time on the line from `before` ending to `after` starting; a
// microsecond either way is the rounding of byte times.
int64_t idle(Micros before, Micros after) {
    return static_cast<int64_t>(after) - static_cast<int64_t>(before);
}

// The byte time of a rate, rounded up as the line rounds a byte's end.
constexpr Micros byte_time(uint32_t baud) {
    return (10 * kSecond + baud - 1) / baud;
}
constexpr Micros kByteAt38400 = byte_time(38400);
constexpr Micros kByteAt4800 = byte_time(4800);

// The pauses in a run of bytes: idle time between two bytes longer than
// rounding makes it.
std::vector<int64_t> pauses(const LineRecorder& line, Micros byte_time, size_t from, size_t to) {
    std::vector<int64_t> out;
    for (size_t i = from + 1; i < to; ++i) {
        const int64_t pause = idle(line.bytes[i - 1].end, line.bytes[i].end - byte_time);
        if (pause > 2) {
            out.push_back(pause);
        }
    }
    return out;
}

void feed(sim::AisTransponder& transponder, const std::string& text) {
    for (char c : text) {
        transponder.on_byte_from_station(static_cast<uint8_t>(c));
    }
}

class VariationTest : public ::testing::Test {
  protected:
    void SetUp() override { host::reset_machine(); }
    void TearDown() override { host::reset_machine(); }
};

// ---- The transponder ------------------------------------------------------

struct Delays {
    Micros shortest = UINT64_MAX;
    Micros longest = 0;
    std::set<Micros> seen;
    void add(Micros delay) {
        shortest = std::min(shortest, delay);
        longest = std::max(longest, delay);
        seen.insert(delay);
    }
};

// Times from the end of each of `count` sentences to the start of the
// transponder's answer to it.
Delays answer_delays(const std::optional<uint64_t>& seed, const std::string& sentence,
                     unsigned count, Micros apart, void (*settle)(sim::AisTransponder&) = nullptr) {
    host::reset_machine();
    sim::AisTransponder transponder({0, 38400, -1, 1});
    if (settle != nullptr) {
        settle(transponder);
    }
    if (seed) {
        transponder.vary(*seed);
    }
    transponder.attach();
    LineRecorder line(0);
    host::run_for(sim::AisTransponder::kBootTime);
    Delays delays;
    for (unsigned i = 0; i < count; ++i) {
        const size_t before = line.bytes.size();
        const Micros sent = host::now();
        feed(transponder, sentence);
        host::run_for(apart);
        EXPECT_LT(before, line.bytes.size()) << "no answer " << i;
        if (line.bytes.size() > before) {
            delays.add(line.bytes[before].end - kByteAt38400 - sent);
        }
    }
    return delays;
}

const std::string kQuery = codec::build_sentence('$', "UPANQ,AID");
const std::string kBroadcast =
    codec::build_sentence('!', "AIMEB,1,1,1,0,992471001,8,0,1,,0,C,4B4,2");

TEST_F(VariationTest, TransponderReplyLatency) {
    const Delays fixed = answer_delays(std::nullopt, kQuery, 5, kSecond);
    EXPECT_EQ(fixed.shortest, sim::AisTransponder::kReplyDelay);
    EXPECT_EQ(fixed.longest, sim::AisTransponder::kReplyDelay);
    std::set<Micros> first_of_seed;
    for (uint64_t seed : kSeeds) {
        const Delays varied = answer_delays(seed, kQuery, 30, kSecond);
        EXPECT_GE(varied.shortest, sim::AisTransponder::kShortestReply) << seed;
        EXPECT_LE(varied.longest, sim::AisTransponder::kLongestReply + 2) << seed;
        EXPECT_GT(varied.seen.size(), 20u) << seed;
        // Spread over most of the range, not bunched at one end.
        EXPECT_LT(varied.shortest, 100 * kMillisecond) << seed;
        EXPECT_GT(varied.longest, 400 * kMillisecond) << seed;
        first_of_seed.insert(*varied.seen.begin());
    }
    EXPECT_EQ(std::size(kSeeds), first_of_seed.size()) << "each seed its own draws";
}

void pin_report_delay(sim::AisTransponder& transponder) {
    ASSERT_TRUE(sim::set_report_delay(300, 600, &transponder.settings()));
}

TEST_F(VariationTest, TransponderReportDelay) {
    const Micros ms = kMillisecond;
    const Delays fixed = answer_delays(std::nullopt, kBroadcast, 4, 5 * kSecond);
    EXPECT_EQ(1500 * ms, fixed.shortest);
    EXPECT_EQ(1500 * ms, fixed.longest);
    for (uint64_t seed : kSeeds) {
        const Delays varied = answer_delays(seed, kBroadcast, 25, 5 * kSecond);
        EXPECT_GE(varied.shortest, 100 * ms) << seed;
        EXPECT_LE(varied.longest, 4000 * ms + 2) << seed;
        EXPECT_LT(varied.shortest, 1000 * ms) << seed;
        EXPECT_GT(varied.longest, 3000 * ms) << seed;
        // A spread someone set holds under a seed.
        const Delays pinned = answer_delays(seed, kBroadcast, 10, 2 * kSecond, pin_report_delay);
        EXPECT_GE(pinned.shortest, 300 * ms) << seed;
        EXPECT_LE(pinned.longest, 600 * ms + 2) << seed;
        EXPECT_GT(pinned.seen.size(), 5u) << seed;
    }
}

struct GpsSeconds {
    std::vector<Micros> phases;     // first RMC byte after its UTC second
    std::vector<int64_t> spacings;  // idle time between sentences of a second
    std::vector<uint64_t> missing;  // seconds with no RMC
};

GpsSeconds gps_seconds(const std::optional<uint64_t>& seed, unsigned seconds) {
    host::reset_machine();
    sim::AisTransponder transponder({0, 38400, -1, 1});
    transponder.settings().gps_output = true;
    transponder.settings().msg21_period_s = 0;
    if (seed) {
        transponder.vary(*seed);
    }
    transponder.attach();
    LineRecorder line(0);
    host::run_for(sim::AisTransponder::kBootTime + (seconds + 1) * kSecond);
    GpsSeconds out;
    std::set<uint64_t> with_rmc;
    const std::vector<LineSentence> all = sentences(line, kByteAt38400);
    for (size_t i = 0; i < all.size(); ++i) {
        const uint64_t second = all[i].start / kSecond;
        if (all[i].text.rfind("$GPRMC", 0) == 0) {
            with_rmc.insert(second);
            out.phases.push_back(all[i].start % kSecond);
        } else if (i > 0 && all[i - 1].start / kSecond == second) {
            out.spacings.push_back(idle(all[i - 1].end, all[i].start));
        }
    }
    if (with_rmc.empty()) {
        return out;
    }
    const uint64_t first = *with_rmc.begin();
    for (uint64_t second = first; second < first + seconds; ++second) {
        if (with_rmc.count(second) == 0) {
            out.missing.push_back(second);
        }
    }
    return out;
}

TEST_F(VariationTest, TransponderGpsPhaseSpacingAndGaps) {
    const GpsSeconds fixed = gps_seconds(std::nullopt, 100);
    EXPECT_TRUE(fixed.missing.empty());
    for (Micros phase : fixed.phases) {
        EXPECT_LT(phase, kMillisecond) << "on the second";
    }
    for (int64_t spacing : fixed.spacings) {
        EXPECT_LE(spacing, 1) << "back to back";
    }
    using T = sim::AisTransponder;
    const auto longest_spacing =
        static_cast<int64_t>(T::kLongestGpsSpacing +
                             (sim::UartOutput::kMostPieces - 1) * sim::UartOutput::kLongestPause);
    std::set<Micros> first_phases;
    for (uint64_t seed : kSeeds) {
        const GpsSeconds varied = gps_seconds(seed, 400);
        ASSERT_FALSE(varied.phases.empty());
        const auto [low, high] = std::minmax_element(varied.phases.begin(), varied.phases.end());
        EXPECT_GE(*low, T::kGpsPhaseLow) << seed;
        EXPECT_LE(*high, T::kGpsPhaseHigh + T::kGpsPhaseJitter + 1) << seed;
        EXPECT_GT(*high - *low, T::kGpsPhaseJitter / 2) << seed << ": jitter within a run";
        first_phases.insert(varied.phases.front());
        const int64_t widest = *std::max_element(varied.spacings.begin(), varied.spacings.end());
        EXPECT_LE(widest, longest_spacing) << seed;
        EXPECT_GT(widest, static_cast<int64_t>(T::kLongestGpsSpacing / 2)) << seed;
        // Gaps come (2 % of 400 s), one second at a time.
        EXPECT_GE(varied.missing.size(), 1u) << seed;
        EXPECT_LE(varied.missing.size(), 20u) << seed;
        for (size_t i = 1; i < varied.missing.size(); ++i) {
            EXPECT_NE(varied.missing[i - 1] + 1, varied.missing[i]) << seed << ": two in a row";
        }
    }
    EXPECT_EQ(std::size(kSeeds), first_phases.size()) << "each seed its own phase";
}

// ---- The weather station ---------------------------------------------------

// Start times of the factory $WIMWV sentences of a powered station.
std::vector<Micros> wind_sentences(const std::optional<uint64_t>& seed, unsigned seconds) {
    host::reset_machine();
    sim::WeatherStation station({3, 4800, -1, 1});
    if (seed) {
        station.vary(*seed);
    }
    station.attach();
    LineRecorder line(3);
    // Half a second more, for the last sentence to end.
    host::run_for(sim::WeatherStation::kBootTime + seconds * kSecond + kSecond / 2);
    std::vector<Micros> starts;
    for (const LineSentence& sentence : sentences(line, kByteAt4800)) {
        if (sentence.text.rfind("$WIMWV", 0) == 0) {
            starts.push_back(sentence.start);
        }
    }
    return starts;
}

TEST_F(VariationTest, WeatherSentencePhaseAndJitter) {
    using W = sim::WeatherStation;
    using O = sim::UartOutput;
    const std::vector<Micros> fixed = wind_sentences(std::nullopt, 20);
    ASSERT_EQ(20u, fixed.size());
    for (size_t i = 0; i < fixed.size(); ++i) {
        EXPECT_EQ(W::kBootTime + (i + 1) * kSecond, fixed[i]) << i;
    }
    std::set<Micros> first_times;
    for (uint64_t seed : kSeeds) {
        const std::vector<Micros> varied = wind_sentences(seed, 60);
        ASSERT_GE(varied.size(), 59u) << seed;
        // A sentence is late by its draw, and by the $YXXDR (57 bytes) of
        // the other output if that is on the line, in pieces or not.
        const Micros most_delayed =
            W::kLongestLateness + 57 * kByteAt4800 + 2 * (O::kMostPieces - 1) * O::kLongestPause;
        // The first anywhere in its interval after boot.
        EXPECT_GE(varied[0], W::kBootTime + W::kFirstSentenceLow) << seed;
        EXPECT_LE(varied[0], W::kBootTime + kSecond + most_delayed) << seed;
        first_times.insert(varied[0]);
        // The rest on its grid: the earliest the sentences allow.
        Micros grid = varied[0];
        for (size_t i = 1; i < varied.size(); ++i) {
            grid = std::min(grid, varied[i] - i * kSecond);
        }
        Micros least_late = UINT64_MAX;
        Micros most_late = 0;
        for (size_t i = 0; i < varied.size(); ++i) {
            least_late = std::min(least_late, varied[i] - grid - i * kSecond);
            most_late = std::max(most_late, varied[i] - grid - i * kSecond);
        }
        EXPECT_LE(most_late, most_delayed) << seed;
        EXPECT_GT(most_late - least_late, W::kLongestLateness / 2) << seed << ": jitter";
    }
    EXPECT_EQ(std::size(kSeeds), first_times.size()) << "each seed its own phase";
}

// The station opens sensor channel 1 at a moment of its own: with some seeds
// that is inside a sentence, and the first bytes it takes are its tail.
class WeatherPortTest : public FirmwareTest {};

TEST_F(WeatherPortTest, PortOpensMidSentenceForSomeSeeds) {
    unsigned mid_sentence = 0;
    unsigned clean = 0;
    for (uint64_t seed = 1; seed <= 24; ++seed) {
        FirmwareTest::SetUp();
        sim::WeatherStation station({3, 4800, -1, 1});
        station.vary(seed);
        station.attach();
        LineRecorder line(3);
        host::run_for(3500 * kMillisecond);
        configuracion_sensor[0].ctipo_comunicacion = 1;     // RS232
        configuracion_sensor[0].cbaudios_comunicacion = 1;  // 4800 baud
        inicializacion_canales(0);
        host::run_for(2 * kSecond);
        const auto first = std::find_if(line.bytes.begin(), line.bytes.end(),
                                        [](const LineRecorder::Byte& b) { return b.accepted; });
        ASSERT_NE(line.bytes.end(), first) << seed;
        (first->value == '$' ? clean : mid_sentence) += 1;
    }
    EXPECT_GE(mid_sentence, 1u);
    EXPECT_GE(clean, 1u);
}

// ---- Bursts in pieces ----------------------------------------------------------

TEST_F(VariationTest, BurstsArriveWholeInOrderSometimesInPieces) {
    using O = sim::UartOutput;
    constexpr Micros kByteAt9600 = byte_time(9600);
    const std::string burst = codec::build_sentence('$', "GPGSV,3,1,09,02,15,000,30") +
                              codec::build_sentence('$', "GPGSV,3,2,09,05,22,047,35") +
                              codec::build_sentence('$', "GPGSV,3,3,09,08,29,094,40");
    for (const std::optional<uint64_t>& seed : std::vector<std::optional<uint64_t>>{
             std::nullopt, kSeeds[0], kSeeds[1], kSeeds[2], kSeeds[3], kSeeds[4]}) {
        host::reset_machine();
        sim::Variation variation = seed ? sim::Variation(*seed, 7) : sim::Variation();
        O output(1, 9600);
        output.vary(&variation);
        LineRecorder line(1);
        unsigned split = 0;
        std::set<size_t> cuts;
        for (unsigned i = 0; i < 100; ++i) {
            const size_t from = line.bytes.size();
            // Two at once: the second waits for every piece of the first.
            output.send(burst);
            output.send(burst);
            host::run_for(500 * kMillisecond);
            ASSERT_EQ(burst + burst, line.text(from)) << "whole and in order";
            const std::vector<int64_t> gaps = pauses(line, kByteAt9600, from, line.bytes.size());
            split += gaps.empty() ? 0 : 1;
            EXPECT_LE(gaps.size(), 2 * (O::kMostPieces - 1));
            for (int64_t pause : gaps) {
                EXPECT_GE(pause + 2, static_cast<int64_t>(O::kShortestPause)) << i;
                EXPECT_LE(pause, static_cast<int64_t>(O::kLongestPause) + 2) << i;
            }
            for (size_t at = from + 1; at < line.bytes.size(); ++at) {
                if (idle(line.bytes[at - 1].end, line.bytes[at].end - kByteAt9600) > 2) {
                    cuts.insert((at - from) % burst.size());
                }
            }
        }
        if (!seed) {
            EXPECT_EQ(0u, split) << "one continuous run";
            continue;
        }
        // A quarter of the bursts cut, two to a line: about 44 of 100.
        EXPECT_GT(split, 25u) << *seed;
        EXPECT_LT(split, 65u) << *seed;
        EXPECT_GT(cuts.size(), 10u) << *seed << ": cut anywhere, not only between sentences";
    }
}

// ---- The clock ---------------------------------------------------------------------

// Seconds the clock gained (negative: lost) over ten days of virtual time.
int clock_gain(const std::optional<uint64_t>& seed) {
    host::reset_machine();
    sim::Mcp7940 clock;
    if (seed) {
        clock.vary(*seed);
    }
    clock.set_time({25, 5, 20, 3, 0, 0, 0});
    host::run_for(10 * 86400 * kSecond);
    const sim::Mcp7940::Time time = clock.time();
    const int elapsed = (time.day - 20) * 86400 + time.hour * 3600 + time.minute * 60 + time.second;
    return elapsed - 10 * 86400;
}

TEST_F(VariationTest, ClockDriftStaysWithinTheCrystalsTolerance) {
    EXPECT_EQ(0, clock_gain(std::nullopt));
    // 20 ppm of ten days is 17.28 s; the count is in whole seconds.
    std::set<int> gains;
    for (uint64_t seed : kSeeds) {
        const int gain = clock_gain(seed);
        EXPECT_LE(gain, 18) << seed;
        EXPECT_GE(gain, -18) << seed;
        gains.insert(gain);
    }
    EXPECT_GE(gains.size(), 4u) << "each seed its own crystal";
}

}  // namespace
