// The weather-station model as the station's sensor channel 1 sees it: what
// it sends unconfigured, the $PAMTC commands, $WIMDA from a profile, power
// through a board output, and the faults a scenario can give it.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "codec/nmea.h"
#include "devices/weather_station.h"
#include "support/firmware_fixture.h"

namespace {

using host::kMillisecond;
using host::kSecond;
using sim::WeatherStation;

constexpr uint32_t kPowerPin = 33;  // board output 1
// Sentences already queued on the line when a command changes the outputs
// still arrive: the factory pair takes about 200 ms at 4800 baud.
constexpr host::Micros kQueued = 400 * kMillisecond;

// A received sentence split at its fields, with its checksum verdict.
struct Sentence {
    std::string text;
    std::vector<std::string> fields;  // fields[0] is the address
    bool checksum_ok;
};

Sentence parse(const std::string& line) {
    Sentence s{line, {}, false};
    const size_t star = line.find('*');
    if (line.empty() || line[0] != '$' || star == std::string::npos) {
        return s;
    }
    s.fields = codec::split_fields(line.substr(1, star - 1));
    s.checksum_ok = codec::parse_sentence(line).has_value();
    return s;
}

class WeatherStationTest : public FirmwareTest {
  protected:
    void SetUp() override {
        FirmwareTest::SetUp();
        start_tick();
        configuracion_sensor[0].ctipo_comunicacion = 1;     // RS232
        configuracion_sensor[0].cbaudios_comunicacion = 1;  // 4800 baud
        inicializacion_canales(0);
    }

    // Sentences received on Serial3 over `duration`, with their arrival times.
    std::vector<Sentence> receive(host::Micros duration) {
        std::vector<Sentence> out;
        const host::Micros until = host::now() + duration;
        while (host::now() < until) {
            while (Serial3.available() > 0) {
                const char c = static_cast<char>(Serial3.read());
                if (c == '\n') {
                    if (!line_.empty() && line_.back() == '\r') {
                        line_.pop_back();
                    }
                    out.push_back(parse(line_));
                    times.push_back(host::now());
                    line_.clear();
                } else {
                    line_ += c;
                }
            }
            spend(kMillisecond);
        }
        return out;
    }

    static void command(const std::string& text) {
        Serial3.write(reinterpret_cast<const uint8_t*>(text.data()), text.size());
        Serial3.flush();
    }

    static std::vector<std::string> ids(const std::vector<Sentence>& sentences) {
        std::vector<std::string> out;
        for (const Sentence& s : sentences) {
            out.push_back(s.fields.empty() ? std::string() : s.fields[0]);
        }
        return out;
    }

    static WeatherStation::Profile profile() {
        WeatherStation::Profile p;
        p.steady.wind_knots = 12.5;
        p.steady.wind_true_deg = 45.0;
        p.steady.wind_magnetic_deg = 43.5;
        p.steady.pressure_bar = 1.0132;
        p.steady.air_temperature_c = -3.5;
        p.steady.humidity_percent = 81.0;
        p.steady.dew_point_c = -6.0;
        return p;
    }

    std::vector<host::Micros> times;

  private:
    std::string line_;
};

TEST_F(WeatherStationTest, UnconfiguredItSendsItsFactorySentencesOnly) {
    WeatherStation ws({3, 4800, -1, 1});
    ws.attach();
    EXPECT_TRUE(ws.powered());
    EXPECT_TRUE(receive(WeatherStation::kBootTime - 10 * kMillisecond).empty()) << "booting";
    const auto got = receive(10 * kSecond);
    ASSERT_GE(got.size(), 18u);
    unsigned mwv = 0;
    unsigned xdr = 0;
    for (const Sentence& s : got) {
        EXPECT_TRUE(s.checksum_ok) << s.text;
        ASSERT_FALSE(s.fields.empty());
        EXPECT_NE("WIMDA", s.fields[0]);
        mwv += s.fields[0] == "WIMWV";
        xdr += s.fields[0] == "YXXDR";
    }
    EXPECT_NEAR(10, mwv, 1) << "once a second";
    EXPECT_NEAR(10, xdr, 1);
    EXPECT_FALSE(ws.configured());
}

TEST_F(WeatherStationTest, ConfiguredByTheStationsTwoCommands) {
    WeatherStation ws({3, 4800, -1, 1});
    ws.set_profile(profile());
    ws.attach();
    receive(3 * kSecond);
    command("$PAMTC,EN,ALL,0*1D\r\n");
    receive(kQueued);
    EXPECT_TRUE(receive(3 * kSecond).empty()) << "every output off";
    command("$PAMTC,EN,MDA,1,10*38\r\n");
    times.clear();
    const auto got = receive(5 * kSecond + kQueued);
    ASSERT_EQ(5u, got.size());
    EXPECT_TRUE(ws.configured());
    for (size_t i = 0; i < got.size(); ++i) {
        const Sentence& s = got[i];
        EXPECT_TRUE(s.checksum_ok) << s.text;
        ASSERT_EQ(21u, s.fields.size()) << s.text;
        EXPECT_EQ("WIMDA", s.fields[0]);
        EXPECT_NEAR(29.92, std::atof(s.fields[1].c_str()), 0.01) << "inches of mercury";
        EXPECT_EQ("I", s.fields[2]);
        EXPECT_EQ("1.0132", s.fields[3]);
        EXPECT_EQ("B", s.fields[4]);
        EXPECT_EQ("-3.5", s.fields[5]);
        EXPECT_EQ("81.0", s.fields[9]);
        EXPECT_EQ("-6.0", s.fields[11]);
        EXPECT_EQ("45.0", s.fields[13]);
        EXPECT_EQ("T", s.fields[14]);
        EXPECT_EQ("43.5", s.fields[15]);
        EXPECT_EQ("M", s.fields[16]);
        EXPECT_EQ("12.5", s.fields[17]);
        EXPECT_EQ("N", s.fields[18]);
        EXPECT_NEAR(12.5 * 0.5144, std::atof(s.fields[19].c_str()), 0.06) << "metres per second";
        if (i > 0) {
            EXPECT_NEAR(1.0, (times[i] - times[i - 1]) / 1e6, 0.001);
        }
    }
    EXPECT_EQ(std::vector<std::string>({"PAMTC,EN,ALL,0", "PAMTC,EN,MDA,1,10"}), ws.commands());
}

TEST_F(WeatherStationTest, IntervalAndSingleSentencesFollowTheCommands) {
    WeatherStation ws({3, 4800, -1, 1});
    ws.attach();
    receive(2 * kSecond);
    command("$PAMTC,EN,ALL,0*1D\r\n");
    receive(kQueued);
    command("$PAMTC,EN,MDA,1,5*0C\r\n");
    auto got = receive(3 * kSecond + kQueued);
    EXPECT_EQ(std::vector<std::string>(6, "WIMDA"), ids(got)) << "every half second";
    command("$PAMTC,EN,MDA,0*14\r\n");
    receive(kQueued);
    EXPECT_TRUE(receive(2 * kSecond).empty());
    command("$PAMTC,EN,ALL,1*1C\r\n");
    got = receive(2 * kSecond + kQueued);
    EXPECT_EQ(6u, got.size()) << "all three back at their factory rate";
}

TEST_F(WeatherStationTest, CommandWithAWrongChecksumIsIgnored) {
    WeatherStation ws({3, 4800, -1, 1});
    ws.attach();
    receive(2 * kSecond);
    command("$PAMTC,EN,ALL,0*1E\r\n");
    command("$PAMTC,EN,ALL,0\r\n");
    command("PAMTC,EN,ALL,0*1D\r\n");
    EXPECT_FALSE(receive(2 * kSecond).empty());
    EXPECT_TRUE(ws.commands().empty());
}

TEST_F(WeatherStationTest, PoweredThroughTheResetOutput) {
    WeatherStation ws({3, 4800, static_cast<int>(kPowerPin), 1});
    ws.attach();
    receive(2 * kSecond);
    command("$PAMTC,EN,ALL,0*1D\r\n");
    command("$PAMTC,EN,MDA,1,10*38\r\n");
    receive(1500 * kMillisecond);
    ASSERT_TRUE(ws.configured());

    digitalWrite(kPowerPin, HIGH);  // the relay cuts the supply
    receive(200 * kMillisecond);
    EXPECT_FALSE(ws.powered());
    EXPECT_TRUE(receive(5 * kSecond).empty()) << "dead while the output is active";
    command("$PAMTC,EN,MDA,1,10*38\r\n");
    EXPECT_EQ(2u, ws.commands().size()) << "a dead station hears nothing";

    digitalWrite(kPowerPin, LOW);
    receive(200 * kMillisecond);
    EXPECT_TRUE(ws.powered());
    const auto got = receive(3 * kSecond);
    ASSERT_FALSE(got.empty());
    for (const std::string& id : ids(got)) {
        EXPECT_NE("WIMDA", id) << "unconfigured again";
    }
    EXPECT_FALSE(ws.configured());
}

TEST_F(WeatherStationTest, SilentOrWithBadChecksums) {
    WeatherStation ws({3, 4800, -1, 1});
    ws.attach();
    receive(2 * kSecond);
    ws.set_silent(true);
    receive(kQueued);
    EXPECT_TRUE(receive(3 * kSecond).empty());
    command("$PAMTC,EN,ALL,0*1D\r\n");
    EXPECT_EQ(1u, ws.commands().size()) << "a silent station still listens";
    command("$PAMTC,EN,MDA,1,10*38\r\n");
    ws.set_silent(false);
    ws.set_bad_checksums(true);
    const auto got = receive(3 * kSecond + kQueued);
    ASSERT_EQ(3u, got.size());
    for (const Sentence& s : got) {
        EXPECT_EQ("WIMDA", s.fields[0]);
        EXPECT_FALSE(s.checksum_ok) << s.text;
    }
}

TEST_F(WeatherStationTest, ProfileWithGusts) {
    WeatherStation ws({3, 4800, -1, 1});
    WeatherStation::Profile p = profile();
    p.gust_knots = 30.0;
    p.gust_true_deg = 60.0;
    p.gust_magnetic_deg = 58.5;
    p.gust_every_s = 10;
    p.gust_start_s = 5;
    p.gust_length_s = 2;
    ws.set_profile(p);
    ws.attach();
    receive(1500 * kMillisecond);
    command("$PAMTC,EN,ALL,0*1D\r\n");
    command("$PAMTC,EN,MDA,1,10*38\r\n");
    const auto got = receive(20 * kSecond);
    unsigned gusts = 0;
    for (const Sentence& s : got) {
        if (s.fields[17] == "30.0") {
            ++gusts;
            EXPECT_EQ("60.0", s.fields[13]);
            EXPECT_EQ("58.5", s.fields[15]);
        } else {
            EXPECT_EQ("12.5", s.fields[17]);
        }
    }
    EXPECT_EQ(4u, gusts) << "two seconds of gust every ten";
}

TEST_F(WeatherStationTest, SentencesOnlyReachAPortAtItsBaudRate) {
    WeatherStation ws({3, 9600, -1, 1});
    ws.attach();
    EXPECT_TRUE(receive(3 * kSecond).empty()) << "the port at 4800 baud reads only garbage";
}

TEST_F(WeatherStationTest, ProfileAndFaultsFromAnEditableFile) {
    const std::string file = ::testing::TempDir() + "weather_station_profile.txt";
    {
        std::ofstream out(file);
        out << "# a user's weather\n"
            << "wind_knots 21.5\nwind_true_deg 300\nwind_magnetic_deg 298.5\n"
            << "pressure_bar 0.9950\nair_temperature_c 4.5\nhumidity_percent 93\n"
            << "dew_point_c 3.5\ngust_knots 35\ngust_every_s 60\ngust_length_s 3\n"
            << "bad_checksums 1\n";
    }
    WeatherStation ws({3, 4800, -1, 1});
    ASSERT_EQ(sim::StateRead::read, ws.load(file));
    EXPECT_EQ(21.5, ws.profile().steady.wind_knots);
    EXPECT_EQ(298.5, ws.profile().steady.wind_magnetic_deg);
    EXPECT_EQ(0.9950, ws.profile().steady.pressure_bar);
    EXPECT_EQ(35.0, ws.profile().gust_knots);
    EXPECT_EQ(60u, ws.profile().gust_every_s);
    EXPECT_EQ(3u, ws.profile().gust_length_s);
    ws.attach();
    const auto got = receive(3 * kSecond);
    ASSERT_FALSE(got.empty());
    EXPECT_FALSE(got[0].checksum_ok) << "the file switched the fault on";

    // What is saved loads back the same.
    ws.save(file);
    WeatherStation again({3, 4800, -1, 1});
    ASSERT_EQ(sim::StateRead::read, again.load(file));
    EXPECT_EQ(21.5, again.profile().steady.wind_knots);
    EXPECT_EQ(4.5, again.profile().steady.air_temperature_c);
    EXPECT_EQ(60u, again.profile().gust_every_s);
    std::remove(file.c_str());
    EXPECT_EQ(sim::StateRead::missing, again.load(file));
}

}  // namespace
