#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>

#include "options.h"

namespace {

constexpr uint64_t kMs = 1000;
constexpr uint64_t kS = 1000 * kMs;
constexpr uint64_t kMin = 60 * kS;
constexpr uint64_t kHour = 60 * kMin;

struct GoodDuration {
    const char* description;
    const char* text;
    uint64_t micros;
};

void PrintTo(const GoodDuration& row, std::ostream* os) {
    *os << row.description << " (\"" << row.text << "\")";
}

class DurationAccepted : public testing::TestWithParam<GoodDuration> {};

TEST_P(DurationAccepted, GivesMicroseconds) {
    const GoodDuration& row = GetParam();
    std::string error;
    const auto parsed = sim::parse_duration(row.text, &error);
    ASSERT_TRUE(parsed.has_value()) << row.description << ": " << error;
    EXPECT_EQ(*parsed, row.micros) << row.description;
}

INSTANTIATE_TEST_SUITE_P(
    SimOptions, DurationAccepted,
    testing::Values(
        GoodDuration{"minutes", "10m", 10 * kMin}, GoodDuration{"hours", "24h", 24 * kHour},
        GoodDuration{"seconds past a minute", "90s", 90 * kS},
        GoodDuration{"milliseconds, not minutes", "500ms", 500 * kMs},
        GoodDuration{"hours and minutes", "1h30m", kHour + 30 * kMin},
        GoodDuration{"every unit", "2h3m4s5ms", 2 * kHour + 3 * kMin + 4 * kS + 5 * kMs},
        GoodDuration{"minutes then milliseconds", "1m250ms", kMin + 250 * kMs},
        GoodDuration{"zero", "0s", 0}, GoodDuration{"leading zeros", "007s", 7 * kS},
        GoodDuration{"a simulated year", "8760h", 8760 * kHour}, GoodDuration{"bare zero", "0", 0},
        GoodDuration{"half hours", "1.5h", kHour + 30 * kMin},
        GoodDuration{"decimal seconds", "2.25s", 2 * kS + 250 * kMs},
        GoodDuration{"a microsecond", "0.000001s", 1},
        GoodDuration{"decimals in two groups", "1.5m0.5s", 90 * kS + 500 * kMs}),
    [](const testing::TestParamInfo<GoodDuration>& info) {
        return "Row" + std::to_string(info.index);
    });

struct BadDuration {
    const char* description;
    const char* text;
    const char* message_part;  // the error must say what is wrong
};

void PrintTo(const BadDuration& row, std::ostream* os) {
    *os << row.description << " (\"" << row.text << "\")";
}

class DurationRejected : public testing::TestWithParam<BadDuration> {};

TEST_P(DurationRejected, SaysWhy) {
    const BadDuration& row = GetParam();
    std::string error;
    const auto parsed = sim::parse_duration(row.text, &error);
    EXPECT_FALSE(parsed.has_value()) << row.description << " parsed as " << parsed.value_or(0);
    EXPECT_NE(error.find(row.message_part), std::string::npos)
        << row.description << ": got \"" << error << "\"";
}

INSTANTIATE_TEST_SUITE_P(
    SimOptions, DurationRejected,
    testing::Values(BadDuration{"empty", "", "empty"},
                    BadDuration{"bare number", "90", "missing unit"},
                    BadDuration{"number after a group", "1h30", "missing unit"},
                    BadDuration{"unknown unit", "10d", "unknown unit"},
                    BadDuration{"unit spelled out", "10min", "unknown unit"},
                    BadDuration{"upper-case unit", "10M", "unknown unit"},
                    BadDuration{"unit without number", "h", "expected a number"},
                    BadDuration{"negative", "-5s", "expected a number"},
                    BadDuration{"point without decimals", "1.h", "decimal point"},
                    BadDuration{"no microsecond unit", "1.5us", "unknown unit"},
                    BadDuration{"below a microsecond", "0.0000005s", "six decimals"},
                    BadDuration{"not whole microseconds", "0.0005ms", "microsecond"},
                    BadDuration{"bare number other than 0", "5", "missing unit"},
                    BadDuration{"space inside", "1h 30m", "expected a number"},
                    BadDuration{"units out of order", "30m1h", "order"},
                    BadDuration{"unit repeated", "1h1h", "order"},
                    BadDuration{"milliseconds before seconds", "5ms1s", "order"},
                    BadDuration{"number overflows", "99999999999999999999s", "too large"},
                    BadDuration{"product overflows", "9999999999999999h", "too long"},
                    BadDuration{"sum overflows", "5124095576h1000000000m", "too long"}),
    [](const testing::TestParamInfo<BadDuration>& info) {
        return "Row" + std::to_string(info.index);
    });

TEST(SimOptions, ErrorNamesTheInput) {
    std::string error;
    EXPECT_FALSE(sim::parse_duration("3x", &error).has_value());
    EXPECT_NE(error.find("\"3x\""), std::string::npos) << error;
}

TEST(SimOptions, ErrorPointerMayBeNull) {
    EXPECT_FALSE(sim::parse_duration("3x", nullptr).has_value());
    EXPECT_TRUE(sim::parse_duration("3s", nullptr).has_value());
}

struct ModeRow {
    int mode;
    int pin20;
    int pin24;
};

void PrintTo(const ModeRow& row, std::ostream* os) {
    *os << "mode " << row.mode;
}

class ModePins : public testing::TestWithParam<ModeRow> {};

// The jumpers read back as the mode the firmware decodes: pin 20 high is
// mode 0 whatever pin 24 is; pin 20 low then pin 24 chooses 1 (high) or 2.
TEST_P(ModePins, SelectTheMode) {
    const ModeRow& row = GetParam();
    const sim::ModePinLevels levels = sim::mode_pin_levels(row.mode);
    EXPECT_EQ(levels.pin20, row.pin20) << "mode " << row.mode;
    if (row.pin20 == 0) {
        EXPECT_EQ(levels.pin24, row.pin24) << "mode " << row.mode;
    }
}

INSTANTIATE_TEST_SUITE_P(SimOptions, ModePins,
                         testing::Values(ModeRow{0, 1, -1}, ModeRow{1, 0, 1}, ModeRow{2, 0, 0}));

struct SecondsRow {
    uint64_t micros;
    const char* text;
};

void PrintTo(const SecondsRow& row, std::ostream* os) {
    *os << row.micros << " us";
}

class SecondsText : public testing::TestWithParam<SecondsRow> {};

TEST_P(SecondsText, ShowsMilliseconds) {
    EXPECT_EQ(sim::format_seconds(GetParam().micros), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(SimOptions, SecondsText,
                         testing::Values(SecondsRow{0, "0.000 s"}, SecondsRow{999, "0.000 s"},
                                         SecondsRow{12345678, "12.345 s"},
                                         SecondsRow{86400 * kS + kMs, "86400.001 s"}));

}  // namespace
