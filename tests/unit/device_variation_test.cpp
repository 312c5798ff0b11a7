// Seeded variation of the device models, seen on the line and the bus: each
// varied quantity stays within the bounds its model states and does vary,
// over a few seeds. (Without a seed the timing is the fixed one: every
// scenario transcript checks that.)
#include <Arduino.h>
#include <Wire.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "codec/nmea.h"
#include "devices/ais_transponder.h"
#include "devices/eeprom_24xx64.h"
#include "devices/mcp7940.h"
#include "devices/variation.h"
#include "devices/weather_station.h"
#include "support/firmware_fixture.h"

namespace {

using host::kMillisecond;
using host::kSecond;
using host::Micros;
using Transponder = sim::AisTransponder;
using Output = sim::UartOutput;

constexpr uint64_t kSeeds[] = {1, 2, 3, 20261208, 0xFFFFFFFFFFFFFFFFull};

// A byte's time on the line, rounded up as the line rounds a byte's end.
constexpr Micros byte_time(uint32_t baud) {
    return (10 * kSecond + baud - 1) / baud;
}

// Every byte a peer sent on one port: when it started, and whether the
// station's receiver took it.
class LineRecorder : public host::MachineListener {
  public:
    struct Byte {
        int64_t start;
        char value;
        bool accepted;
    };
    LineRecorder(uint8_t port, uint32_t baud) : port_(port), byte_(byte_time(baud)) {
        host::add_listener(this);
    }
    ~LineRecorder() override { host::remove_listener(this); }
    void uart_to_station(uint8_t port, uint8_t byte, bool accepted) override {
        if (port == port_) {
            bytes.push_back(
                {static_cast<int64_t>(host::now() - byte_), static_cast<char>(byte), accepted});
        }
    }
    // Idle time before byte i, beyond a microsecond of rounding.
    int64_t pause_before(size_t i) const {
        const int64_t idle = bytes[i].start - bytes[i - 1].start - static_cast<int64_t>(byte_);
        return idle > 1 ? idle : 0;
    }
    // Sentences (from a '$' or '!') with the start of their first byte.
    std::vector<std::pair<int64_t, std::string>> sentences() const {
        std::vector<std::pair<int64_t, std::string>> out;
        for (const Byte& byte : bytes) {
            if (byte.value == '$' || byte.value == '!' || out.empty()) {
                out.emplace_back(byte.start, "");
            }
            out.back().second += byte.value;
        }
        return out;
    }
    std::vector<Byte> bytes;

  private:
    uint8_t port_;
    Micros byte_;
};

// ---- The transponder ------------------------------------------------------

struct DelayRow {
    const char* what;
    std::string sentence;
    unsigned pinned_low_ms;  // a report delay set before the run; 0 for none
    unsigned pinned_high_ms;
    Micros shortest;
    Micros longest;
};

TEST(Variation, TransponderReplyAndReportDelays) {
    const DelayRow rows[] = {
        {"reply to a query", codec::build_sentence('$', "UPANQ,AID"), 0, 0,
         Transponder::kShortestReply, Transponder::kLongestReply},
        {"report of a broadcast",
         codec::build_sentence('!', "AIMEB,1,1,1,0,992471001,8,0,1,,0,C,4B4,2"), 0, 0,
         100 * kMillisecond, 4000 * kMillisecond},
        {"report, spread set",
         codec::build_sentence('!', "AIMEB,1,1,1,0,992471001,8,0,1,,0,C,4B4,2"), 300, 600,
         300 * kMillisecond, 600 * kMillisecond},
    };
    for (const DelayRow& row : rows) {
        std::set<std::vector<int64_t>> runs;
        for (uint64_t seed : kSeeds) {
            host::reset_machine();
            Transponder transponder({0, 38400, -1, 1});
            if (row.pinned_low_ms != 0) {
                sim::set_report_delay(row.pinned_low_ms, row.pinned_high_ms,
                                      &transponder.settings());
            }
            transponder.vary(seed);
            transponder.attach();
            LineRecorder line(0, 38400);
            host::run_for(Transponder::kBootTime);
            std::vector<int64_t> delays;
            for (unsigned i = 0; i < 30; ++i) {
                const size_t before = line.bytes.size();
                const auto sent = static_cast<int64_t>(host::now());
                for (char c : row.sentence) {
                    transponder.on_byte_from_station(static_cast<uint8_t>(c));
                }
                host::run_for(row.longest + 100 * kMillisecond);
                ASSERT_LT(before, line.bytes.size()) << row.what << ": no answer";
                delays.push_back(line.bytes[before].start - sent);
            }
            const auto [low, high] = std::minmax_element(delays.begin(), delays.end());
            const auto range = static_cast<int64_t>(row.longest - row.shortest);
            EXPECT_GE(*low, static_cast<int64_t>(row.shortest)) << row.what << ", seed " << seed;
            EXPECT_LE(*high, static_cast<int64_t>(row.longest)) << row.what << ", seed " << seed;
            // Spread over most of the range, not bunched.
            EXPECT_GT(*high - *low, range * 2 / 3) << row.what << ", seed " << seed;
            runs.insert(delays);
        }
        EXPECT_EQ(std::size(kSeeds), runs.size()) << row.what << ": each seed its own";
    }
}

TEST(Variation, TransponderGpsPhaseSpacingAndGaps) {
    const auto longest_spacing = static_cast<int64_t>(
        Transponder::kLongestGpsSpacing + (Output::kMostPieces - 1) * Output::kLongestPause);
    std::set<int64_t> first_phases;
    for (uint64_t seed : kSeeds) {
        host::reset_machine();
        Transponder transponder({0, 38400, -1, 1});
        transponder.settings().gps_output = true;
        transponder.settings().msg21_period_s = 0;
        transponder.vary(seed);
        transponder.attach();
        LineRecorder line(0, 38400);
        host::run_for(Transponder::kBootTime + 401 * kSecond);
        std::vector<int64_t> phases;
        std::set<int64_t> seconds;
        int64_t widest_spacing = 0;
        int64_t last_end = 0;
        for (const auto& [start, text] : line.sentences()) {
            if (text.rfind("$GPRMC", 0) == 0) {
                phases.push_back(start % kSecond);
                seconds.insert(start / kSecond);
            } else {
                widest_spacing = std::max(widest_spacing, start - last_end);
            }
            last_end = start + static_cast<int64_t>(text.size() * byte_time(38400));
        }
        ASSERT_FALSE(phases.empty());
        const auto [low, high] = std::minmax_element(phases.begin(), phases.end());
        EXPECT_GE(*low, static_cast<int64_t>(Transponder::kGpsPhaseLow)) << seed;
        EXPECT_LE(*high,
                  static_cast<int64_t>(Transponder::kGpsPhaseHigh + Transponder::kGpsPhaseJitter))
            << seed;
        EXPECT_GT(*high - *low, static_cast<int64_t>(Transponder::kGpsPhaseJitter / 2)) << seed;
        first_phases.insert(phases[0]);
        EXPECT_LE(widest_spacing, longest_spacing) << seed;
        EXPECT_GT(widest_spacing, static_cast<int64_t>(Transponder::kLongestGpsSpacing / 2))
            << seed;
        // Seconds without output come (2 % of 400), one at a time.
        unsigned gaps = 0;
        for (int64_t second = *seconds.begin(); second < *seconds.rbegin(); ++second) {
            if (seconds.count(second) == 0) {
                ++gaps;
                EXPECT_EQ(1u, seconds.count(second + 1)) << seed << ": two in a row at " << second;
            }
        }
        EXPECT_GE(gaps, 1u) << seed;
        EXPECT_LE(gaps, 20u) << seed;
    }
    EXPECT_EQ(std::size(kSeeds), first_phases.size()) << "each seed its own phase";
}

// ---- The weather station ---------------------------------------------------

TEST(Variation, WeatherSentencePhaseAndLateness) {
    using Weather = sim::WeatherStation;
    // A $WIMWV is late by its draw, and by the other output's $YXXDR (57
    // bytes) if that is on the line, in pieces or not.
    const auto most_late =
        static_cast<int64_t>(Weather::kLongestLateness + 57 * byte_time(4800) +
                             2 * (Output::kMostPieces - 1) * Output::kLongestPause);
    std::set<int64_t> first_times;
    for (uint64_t seed : kSeeds) {
        host::reset_machine();
        Weather station({3, 4800, -1, 1});
        station.vary(seed);
        station.attach();
        LineRecorder line(3, 4800);
        host::run_for(Weather::kBootTime + 60 * kSecond);
        std::vector<int64_t> starts;
        for (const auto& [start, text] : line.sentences()) {
            if (text.rfind("$WIMWV", 0) == 0) {
                starts.push_back(start);
            }
        }
        ASSERT_GE(starts.size(), 58u) << seed;
        // The first anywhere in its interval after boot.
        const auto boot = static_cast<int64_t>(Weather::kBootTime);
        EXPECT_GE(starts[0], boot + static_cast<int64_t>(Weather::kFirstSentenceLow)) << seed;
        EXPECT_LE(starts[0], boot + static_cast<int64_t>(kSecond) + most_late) << seed;
        first_times.insert(starts[0]);
        // The rest on its grid (the earliest the sentences allow), late by
        // a varying amount.
        int64_t grid = starts[0];
        for (size_t i = 1; i < starts.size(); ++i) {
            grid = std::min(grid, starts[i] - static_cast<int64_t>(i * kSecond));
        }
        std::vector<int64_t> late;
        for (size_t i = 0; i < starts.size(); ++i) {
            late.push_back(starts[i] - grid - static_cast<int64_t>(i * kSecond));
        }
        const auto [least, most] = std::minmax_element(late.begin(), late.end());
        EXPECT_LE(*most, most_late) << seed;
        EXPECT_GT(*most - *least, static_cast<int64_t>(Weather::kLongestLateness / 2)) << seed;
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
        LineRecorder line(3, 4800);
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

TEST(Variation, BurstsArriveWholeInOrderSometimesInPieces) {
    const std::string burst = codec::build_sentence('$', "GPGSV,3,1,09,02,15,000,30") +
                              codec::build_sentence('$', "GPGSV,3,2,09,05,22,047,35") +
                              codec::build_sentence('$', "GPGSV,3,3,09,08,29,094,40");
    for (uint64_t seed : kSeeds) {
        host::reset_machine();
        sim::Variation variation(seed, 7);
        Output output(1, 9600);
        output.vary(&variation);
        LineRecorder line(1, 9600);
        unsigned split = 0;
        std::set<size_t> cuts;
        for (unsigned i = 0; i < 100; ++i) {
            const size_t from = line.bytes.size();
            // Two at once: the second waits for every piece of the first.
            output.send(burst);
            output.send(burst);
            host::run_for(500 * kMillisecond);
            std::string received;
            unsigned pieces = 1;
            for (size_t at = from; at < line.bytes.size(); ++at) {
                received += line.bytes[at].value;
                const int64_t pause = at > from ? line.pause_before(at) : 0;
                if (pause != 0) {
                    ++pieces;
                    cuts.insert((at - from) % burst.size());
                    EXPECT_GE(pause, static_cast<int64_t>(Output::kShortestPause) - 1) << seed;
                    EXPECT_LE(pause, static_cast<int64_t>(Output::kLongestPause) + 1) << seed;
                }
            }
            ASSERT_EQ(burst + burst, received) << seed << ": whole and in order";
            EXPECT_LE(pieces, 2 * Output::kMostPieces) << seed;
            split += pieces > 1 ? 1 : 0;
        }
        // A quarter of the bursts cut, two to a line: about 44 of 100.
        EXPECT_GT(split, 25u) << seed;
        EXPECT_LT(split, 65u) << seed;
        EXPECT_GT(cuts.size(), 10u) << seed << ": cut anywhere, not only between sentences";
    }
}

// ---- The clock ---------------------------------------------------------------------

TEST(Variation, ClockDriftStaysWithinTheCrystalsTolerance) {
    // 20 ppm of ten days is 17.28 s; the clock counts whole seconds.
    std::set<int> gains;
    for (uint64_t seed : kSeeds) {
        host::reset_machine();
        sim::Mcp7940 clock;
        clock.vary(seed);
        clock.set_time({25, 5, 20, 3, 0, 0, 0});
        host::run_for(10 * 86400 * kSecond);
        const sim::Mcp7940::Time time = clock.time();
        const int gain =
            (time.day - 30) * 86400 + time.hour * 3600 + time.minute * 60 + time.second;
        EXPECT_LE(gain, 18) << seed;
        EXPECT_GE(gain, -18) << seed;
        gains.insert(gain);
    }
    EXPECT_GE(gains.size(), 4u) << "each seed its own crystal";
}

}  // namespace

namespace {

// From the end of a page write to the first poll the part acknowledges.
TEST(Variation, EepromWriteCycle) {
    using Eeprom = sim::Eeprom24xx64;
    std::set<std::vector<int64_t>> runs;
    for (uint64_t seed : kSeeds) {
        host::reset_machine();
        Eeprom eeprom;
        eeprom.vary(seed);
        host::attach_i2c_device(Eeprom::kAddress, &eeprom);
        Wire.begin();
        std::vector<int64_t> cycles;
        for (uint8_t i = 0; i < 20; ++i) {
            Wire.beginTransmission(Eeprom::kAddress);
            for (uint8_t byte : {uint8_t{0}, static_cast<uint8_t>(i * Eeprom::kPageSize), i}) {
                Wire.write(byte);
            }
            ASSERT_EQ(0, Wire.endTransmission());
            const Micros written = host::now();
            do {
                Wire.beginTransmission(Eeprom::kAddress);
            } while (Wire.endTransmission() != 0);
            cycles.push_back(static_cast<int64_t>(host::now() - written));
        }
        const auto [low, high] = std::minmax_element(cycles.begin(), cycles.end());
        // A poll takes a fraction of a millisecond on the bus.
        EXPECT_GE(*low, static_cast<int64_t>(Eeprom::kShortestWriteCycle)) << seed;
        EXPECT_LE(*high, static_cast<int64_t>(Eeprom::kWriteCycle + kMillisecond / 2)) << seed;
        EXPECT_GT(*high - *low, static_cast<int64_t>(2 * kMillisecond)) << seed;
        runs.insert(cycles);
    }
    EXPECT_EQ(std::size(kSeeds), runs.size()) << "each seed its own";
}

}  // namespace
