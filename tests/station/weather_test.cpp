// The default station with its weather station on sensor channel 1: an hour
// of a known weather profile gives six ten-minute samples whose averages are
// the profile's, reported on the console.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "ktr09_board.h"
#include "host/machine.h"
#include "station.h"
#include "support/state_dir.h"
#include "support/station_dir.h"

namespace {

using host::kSecond;

constexpr host::Micros kMinute = 60 * kSecond;

// Steady wind with a three-second gust every minute; the other values are
// exact in binary, so their single-precision sums are exact.
constexpr double kWindKnots = 12.5;
constexpr double kWindTrue = 90.0;
constexpr double kGustKnots = 20.0;
constexpr double kGustTrue = 120.0;
constexpr unsigned kGustEvery = 60;
constexpr unsigned kGustLength = 3;
constexpr double kPressureBar = 1.0;
constexpr double kAirC = 15.5;
constexpr double kHumidity = 62.5;
constexpr double kDewC = 8.5;

struct Report {
    std::string time;
    double wind, gust, pressure, air, dew;
    int direction, gust_direction, tendency, humidity, sea_state;
};

std::vector<Report> reports(const std::string& output) {
    static const std::regex kReport(
        "\r\n\\*{16}      Nueva muestra EMA \\(01/01/23 ([0-9:]{5})\\)        \\*{13}\r\n"
        "\tAverage wind Speed: ([0-9.]+)\tWind direction: ([0-9]+)\r\n"
        "\tWind gust speed: ([0-9.]+)\tGust direction: ([0-9]+)\r\n"
        "\tAir pressure: ([0-9.]+)\tPressure tendecy: ([0-9])\r\n"
        "\tRelative humidity: ([0-9]+) %\r\n"
        "\tAir temperature: (-?[0-9.]+)\tDew point: (-?[0-9.]+)\tSea state: ([0-9]+)\r\n"
        "\r\n");
    std::vector<Report> out;
    for (std::sregex_iterator it(output.begin(), output.end(), kReport), end; it != end; ++it) {
        const std::smatch& m = *it;
        out.push_back({m[1], std::stod(m[2]), std::stod(m[4]), std::stod(m[6]), std::stod(m[9]),
                       std::stod(m[10]), std::stoi(m[3]), std::stoi(m[5]), std::stoi(m[7]),
                       std::stoi(m[8]), std::stoi(m[11])});
    }
    return out;
}

class WeatherStationRoadTest : public ::testing::Test {
  protected:
    void SetUp() override {
        state_ = scratch_.path();
        std::ofstream profile(state_ / "weather_station.txt");
        profile << "wind_knots " << kWindKnots << "\nwind_true_deg " << kWindTrue
                << "\nwind_magnetic_deg 88.5\npressure_bar " << kPressureBar
                << "\nair_temperature_c " << kAirC << "\nhumidity_percent " << kHumidity
                << "\ndew_point_c " << kDewC << "\ngust_knots " << kGustKnots << "\ngust_true_deg "
                << kGustTrue << "\ngust_magnetic_deg 118.5"
                << "\ngust_every_s " << kGustEvery << "\ngust_length_s " << kGustLength << "\n";
        profile.close();
        // No GPS fix: the clock keeps its start-up date, which the reports show.
        std::ofstream(state_ / "ais_transponder.txt") << "gps_fix 0\n";
        host::reset_machine();
        attach_station(state_);
    }
    void TearDown() override {
        host::power_off();
        host::reset_machine();
    }
    TemporaryStateDir scratch_;
    std::filesystem::path state_;
};

TEST_F(WeatherStationRoadTest, AnHourGivesSixSamplesOfTheProfile) {
    host::power_on();
    // The station's clock starts at 00:01; the hour's samples close at
    // 00:10, 00:20 ... 01:00.
    std::string output;
    for (int minute = 0; minute < 61; ++minute) {
        host::run_for(kMinute);
        output += host::usb_take_output();
    }
    EXPECT_EQ(0u, host::restart_count());
    EXPECT_NE(std::string::npos, output.find("\t\tConfiguracion EMA:\r\n"));
    EXPECT_NE(std::string::npos, output.find("\tSample interval:10 min.\r\n"));

    const std::vector<Report> samples = reports(output);
    ASSERT_EQ(6u, samples.size()) << output;
    const char* times[] = {"00:10", "00:20", "00:30", "00:40", "00:50", "01:00"};

    // A minute of the profile: 57 seconds of steady wind, 3 of gust.
    const double gust_share = static_cast<double>(kGustLength) / kGustEvery;
    const double mean_knots = kWindKnots + gust_share * (kGustKnots - kWindKnots);
    const double pi = std::acos(-1.0);
    const double sin_sum = (1 - gust_share) * std::sin(kWindTrue * pi / 180) +
                           gust_share * std::sin(kGustTrue * pi / 180);
    const double cos_sum = (1 - gust_share) * std::cos(kWindTrue * pi / 180) +
                           gust_share * std::cos(kGustTrue * pi / 180);
    const double mean_direction = std::atan2(sin_sum, cos_sum) * 180 / pi;

    for (size_t i = 0; i < samples.size(); ++i) {
        const Report& r = samples[i];
        SCOPED_TRACE(r.time);
        EXPECT_EQ(times[i], r.time);
        // A sample holds about 600 sentences, and its gusts depend on where
        // the minute boundary falls: a share within one gust of the profile's.
        EXPECT_NEAR(mean_knots, r.wind, (kGustKnots - kWindKnots) / 200 + 0.011);
        EXPECT_NEAR(mean_direction, r.direction, 1.0);
        EXPECT_EQ(kGustKnots, r.gust) << "three gust seconds fill one window";
        EXPECT_EQ(static_cast<int>(kGustTrue), r.gust_direction);
        EXPECT_EQ(kPressureBar * 1000, r.pressure);
        EXPECT_EQ(0, r.tendency) << "steady pressure";
        EXPECT_EQ(static_cast<int>(kHumidity), r.humidity);
        EXPECT_EQ(kAirC, r.air);
        EXPECT_EQ(kDewC, r.dew);
        EXPECT_EQ(4, r.sea_state) << "12.9 knots: Beaufort 4";
    }
}

TEST_F(WeatherStationRoadTest, SilentWeatherStationIsPowerCycledThroughItsOutput) {
    {
        std::ofstream profile(state_ / "weather_station.txt", std::ios::app);
        profile << "silent 1\n";
    }
    host::reset_machine();
    attach_station(state_);
    // Mode 1: the channel traces its resets.
    host::set_input_level(board::kModePin0, 0);
    host::set_input_level(board::kModePin1, 1);
    host::power_on();
    host::run_for(2 * kMinute);
    const std::string output = host::usb_take_output();
    EXPECT_NE(std::string::npos, output.find("Sensor => NO RX FRAMES!!!! "));
    EXPECT_NE(std::string::npos, output.find("\tCANAL 2 => Reset 1\r\n"));
    EXPECT_NE(std::string::npos, output.find("\tCANAL 2 => Reset 3\r\n"));
    EXPECT_EQ(std::string::npos, output.find("Nueva muestra EMA")) << "nothing to sample";
}

}  // namespace
