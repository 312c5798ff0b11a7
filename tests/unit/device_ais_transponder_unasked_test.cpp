// What the transponder model sends without being asked, as the station reads
// it: GPS sentences following gpsfilt, its own message 21 (judged by
// gpsdecode), ships moving along their tracks and recorded traffic at its
// pace.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "codec/ais_messages.h"
#include "codec/ais_sentences.h"
#include "codec/nmea.h"
#include "devices/ais_transponder.h"
#include "host/machine.h"
#include "scenario.h"
#include "station.h"
#include "support/gpsdecode.h"
#include "support/state_dir.h"
#include "support/station_dir.h"

namespace {

using host::kSecond;

// Every line the transponder sent on the AIS channel, with the time its last
// byte arrived.
class Line : public host::MachineListener {
  public:
    void uart_to_station(uint8_t port, uint8_t byte, bool) override {
        if (port != 0) {
            return;
        }
        partial_ += static_cast<char>(byte);
        if (byte == '\n') {
            lines.push_back({host::now(), partial_});
            partial_.clear();
        }
    }
    std::vector<std::pair<host::Micros, std::string>> lines;

  private:
    std::string partial_;
};

// A sentence as a recording holds it: no line end.
std::string line(const std::string& body) {
    const std::string sentence = codec::build_sentence('!', body);
    return sentence.substr(0, sentence.size() - 2);
}

class UnaskedTest : public ::testing::Test {
  protected:
    void SetUp() override {
        host::reset_machine();
        host::add_listener(&wire);
        transponder.settings().msg21_period_s = 0;
        transponder.attach();
        host::run_for(sim::AisTransponder::kBootTime);
    }
    void TearDown() override { host::reset_machine(); }
    void send(const std::string& body) {
        for (char c : codec::build_sentence('$', body)) {
            transponder.on_byte_from_station(static_cast<uint8_t>(c));
        }
    }
    // Fields of the sentences that start with `head`, from now on.
    std::vector<std::vector<std::string>> sentences(const char* head, host::Micros wait) {
        wire.lines.clear();
        host::run_for(wait);
        std::vector<std::vector<std::string>> found;
        for (const auto& line : wire.lines) {
            const auto sentence = codec::parse_sentence(line.second);
            EXPECT_TRUE(sentence) << line.second;
            if (sentence && sentence->fields[0] == head) {
                found.push_back(sentence->fields);
            }
        }
        return found;
    }
    std::vector<codec::Message> messages(host::Micros wait) {
        wire.lines.clear();
        host::run_for(wait);
        codec::VdmAssembler assembler;
        std::vector<codec::Message> found;
        for (const auto& line : wire.lines) {
            if (const auto vdm = assembler.add(line.second)) {
                found.push_back(*codec::decode_message(vdm->payload));
            }
        }
        return found;
    }
    Line wire;
    sim::AisTransponder transponder{sim::AisTransponder::Wiring{0, 38400, -1, 1}};
};

TEST_F(UnaskedTest, GpsSentencesFollowTheFilterOncePerSecond) {
    EXPECT_TRUE(sentences("GPRMC", 3 * kSecond).empty()) << "off until the station asks";
    send("PSMT,0,0,0x00000000,0,gpsfilt 9,0");
    // From virtual time 5 s: the bursts of 6 s, 7 s and 8 s after the UTC
    // start of 2025-05-20 10:00:00.
    const auto rmc = sentences("GPRMC", 3500 * host::kMillisecond);
    ASSERT_EQ(3u, rmc.size());
    EXPECT_EQ("100006.00", rmc[0][1]);
    EXPECT_EQ("100008.00", rmc[2][1]);
    EXPECT_EQ((std::vector<std::string>{"A", "4321.50000", "N", "00823.50000", "W"}),
              std::vector<std::string>(rmc[0].begin() + 2, rmc[0].begin() + 7));
    EXPECT_EQ("200525", rmc[0][9]);
    transponder.settings().satellites = 5;
    transponder.settings().hdop = 1.25;
    const auto gga = sentences("GPGGA", kSecond);
    ASSERT_EQ(1u, gga.size());
    EXPECT_EQ("1", gga[0][6]);
    EXPECT_EQ("05", gga[0][7]);
    EXPECT_EQ("1.25", gga[0][8]);
    EXPECT_EQ(2u, sentences("GPGSV", kSecond).size()) << "four satellites to a sentence";
    transponder.settings().gps_fix = false;
    const auto no_fix = sentences("GPRMC", kSecond);
    ASSERT_EQ(1u, no_fix.size());
    EXPECT_EQ("V", no_fix[0][2]);
    EXPECT_EQ("0", sentences("GPGGA", kSecond).at(0)[6]);
    send("PSMT,0,0,0x00000000,0,gpsfilt 0,0");
    host::run_for(kSecond);
    EXPECT_TRUE(sentences("GPGGA", 3 * kSecond).empty());
}

TEST_F(UnaskedTest, OwnAtonReportCarriesTheStatusTheStationSet) {
    if (!gpsdecode_installed()) {
        GTEST_SKIP() << "gpsdecode is not installed";
    }
    send("AIACE,992471001,E4,,1,0,0,KTR09 STATION,0000000000,C,");
    transponder.settings().msg21_period_s = 10;
    host::run_for(11 * kSecond);
    ASSERT_FALSE(transponder.reported().empty());
    const auto json = gpsdecode_json(transponder.reported());
    EXPECT_EQ(21, json["type"]);
    EXPECT_EQ(992471001, json["mmsi"]);
    EXPECT_EQ("KTR09 STATION", json["name"]);
    EXPECT_EQ(26015000, json["lat"]);  // 43 21.5' N in 1/10000 minute
    EXPECT_EQ(-5035000, json["lon"]);  // 8 23.5' W
    EXPECT_EQ(true, json["accuracy"]);
    EXPECT_EQ(228, json["regional"]) << "status 0xE4";
    EXPECT_EQ(false, json["virtual_aid"]);
}

TEST_F(UnaskedTest, ShipsSailTheirTracks) {
    sim::AisTransponder::Ship ship;
    ship.mmsi = 224123450;
    ship.latitude = 60.0;
    ship.longitude = -8.0;
    ship.course_deg = 90.0;
    ship.speed_knots = 12.0;
    ship.every = 30 * kSecond;
    ship.until = host::now() + 60 * kSecond;
    ASSERT_TRUE(transponder.add_ship(ship, nullptr));
    ship.ais_class = 'B';
    ship.mmsi = 224123460;
    ship.course_deg = 180.0;
    ASSERT_TRUE(transponder.add_ship(ship, nullptr));
    const auto reports = messages(3 * 30 * kSecond);
    ASSERT_EQ(6u, reports.size()) << "until ends the third report of each";
    // A minute at 12 knots is 0.2 nautical miles: 0.2' of latitude south,
    // 0.4' of longitude east at 60 degrees north.
    EXPECT_EQ(1, reports[4].number("type"));
    EXPECT_EQ(-4800000 + 4000, reports[4].number("lon"));
    EXPECT_EQ(36000000, reports[4].number("lat"));
    EXPECT_EQ(120, reports[4].number("speed"));
    EXPECT_EQ(18, reports[5].number("type"));
    EXPECT_EQ(36000000 - 2000, reports[5].number("lat"));
    EXPECT_EQ(1800, reports[5].number("course"));
}

TEST_F(UnaskedTest, AddressedBinaryOverSeveralSentences) {
    sim::AisTransponder::AddressedBinary binary{235040000, 0, 11, 11, {}};
    binary.data.assign(60, 0xA5);
    ASSERT_TRUE(transponder.receive_msg6(binary, nullptr));
    const auto received = messages(kSecond);
    EXPECT_EQ(2u, wire.lines.size());
    ASSERT_EQ(1u, received.size());
    EXPECT_EQ(992471001, received[0].number("dest_mmsi"));
    EXPECT_EQ(11, received[0].number("fid"));
    EXPECT_EQ(480u, received[0].data.size());
}

TEST_F(UnaskedTest, ReplayKeepsTheRecordedPace) {
    const TemporaryStateDir dir;
    const std::string file = (dir.path() / "traffic.nmea").string();
    const std::string a = line("AIVDM,1,1,,A,13aEOK?P00PD2wVMdLDRhgvL289?,0");
    const std::string b1 =
        line("AIVDM,2,1,3,B,55P5TL01VIaAL@7WKO@mBplU@<PDhh000000001S;AJ::4A80?4i@E53,0");
    const std::string b2 = line("AIVDM,2,2,3,B,1@0000000000000,2");
    std::ofstream(file) << "# recorded\n1700000010.5 " << a << "\n1700000012.25 " << a << "\n"
                        << b1 << "\n"
                        << b2 << "\n\n"
                        << a << "\n";
    const host::Micros start = host::now();
    const auto recording = sim::AisTransponder::read_recording(file, nullptr);
    ASSERT_TRUE(recording);
    transponder.replay(*recording);
    wire.lines.clear();
    host::run_for(5 * kSecond);
    ASSERT_EQ(5u, wire.lines.size());
    // Each line arrives within a sentence's time on the wire of its moment.
    const host::Micros expected[] = {0, 1750000, 2750000, 2750000, 3750000};
    for (size_t i = 0; i < 5; ++i) {
        EXPECT_GE(wire.lines[i].first, start + expected[i]) << i;
        EXPECT_LE(wire.lines[i].first, start + expected[i] + 50 * host::kMillisecond) << i;
    }
    EXPECT_EQ(b2 + "\r\n", wire.lines[3].second);
    std::ofstream(file) << a << "\n5 " << a << "\n2 " << a << "\n";
    std::string error;
    EXPECT_FALSE(sim::AisTransponder::read_recording(file, &error));
    EXPECT_EQ(file + ":3: time goes back", error);
}

// The scenario keys reach the station's transponder, and a bad value is
// refused with what was expected.
TEST(TransponderSteps, ReachTheTransponderOrAreRefused) {
    const TemporaryStateDir dir;
    const std::string recording = (dir.path() / "traffic.nmea").string();
    std::ofstream(recording) << "0 " << line("AIVDM,1,1,,A,13aEOK?P00PD2wVMdLDRhgvL289?,0") << "\n";
    const struct {
        const char* step;
        const char* error;  // empty: taken
    } cases[] = {
        {R"("gps_fix": {"satellites": 4})", ""},
        {R"("msg6_received": {"from": 235040000, "dac": 11, "fi": 11, "data": "11414243"})", ""},
        {R"("ship": {"mmsi": 224106730, "lat": 43.3, "class": "C", "lon": -8.4})",
         "expected \"class\" \"A\" or \"B\""},
        {R"("ship": {"mmsi": 224106730, "lon": -8.4})", "\"lat\" missing"},
        {R"("msg6_received": {"from": 1, "dac": 1, "fi": 1, "data": "ABC"})", "hexadecimal"},
        {R"("replay_file": "/nonexistent.nmea")", "/nonexistent.nmea: cannot be read"},
    };
    std::string steps;
    for (const auto& c : cases) {
        const std::string text =
            std::string(R"({"description": "d", "steps": [{"at": "3s", )") + c.step + "}]}";
        std::string error;
        const auto scenario = sim::parse_scenario(text, &error);
        EXPECT_EQ(c.error[0] == '\0', scenario.has_value()) << c.step << ": " << error;
        EXPECT_NE(std::string::npos, error.find(c.error)) << error;
        if (scenario) {
            steps += std::string(steps.empty() ? "" : ", ") + R"({"at": "3s", )" + c.step + "}";
        }
    }
    steps += R"(, {"at": "3s", "replay_file": ")" + recording + "\"}";
    host::reset_machine();
    ASSERT_EQ("", attach_station(dir.path()));
    Line wire;
    host::add_listener(&wire);
    std::string error;
    ASSERT_TRUE(sim::apply_scenario(
        *sim::parse_scenario(R"({"description": "d", "steps": [)" + steps + "]}", &error), &error))
        << error;
    host::run_for(4 * kSecond);
    EXPECT_EQ(4u, sim::station_devices().transponder->settings().satellites);
    ASSERT_EQ(2u, wire.lines.size()) << "the message 6 and the recording";
    EXPECT_EQ(0u, wire.lines[0].second.find("!AIVDM,1,1,0,A,6")) << wire.lines[0].second;
    host::reset_machine();
}

}  // namespace
