// The base station and TIDELINK models as a sensor channel sees them: the
// sentences and frames they build, the tag blocks and checksums they judge
// in what the station sends, their scenario steps, and the cabling of the
// sensor channels from the configuration image.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "codec/config_image.h"
#include "codec/nmea.h"
#include "devices/base_station.h"
#include "devices/eeprom_24xx64.h"
#include "devices/tidelink.h"
#include "devices/weather_station.h"
#include "scenario.h"
#include "station.h"
#include "support/firmware_fixture.h"
#include "support/state_dir.h"
#include "support/station_dir.h"

namespace {

using host::kMillisecond;
using host::kSecond;
using sim::BaseStation;
using sim::TaggedPeer;
using sim::TidelinkDevice;

// ---- What they build --------------------------------------------------------

TEST(TagBlock, JudgesWhatItReceives) {
    const struct {
        const char* what;
        const char* text;  // between the backslashes
        bool checksum_ok;
        const char* station;
        int64_t unix_time;
        char source;
    } rows[] = {
        {"a station's own", "s:AB,c:0,t:L*", true, "AB", 0, 'L'},
        {"wrong digits", "s:AB,c:0,t:L*00", false, "AB", 0, 'L'},
        {"no checksum", "s:AB,c:0,t:L", false, "", -1, '\0'},
        {"one digit", "s:AB,c:0,t:L*5", false, "", -1, '\0'},
        {"relayed", "s:KTR09 SIMULADA,c:1747735230,t:R*", true, "KTR09 SIMULADA", 1747735230, 'R'},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        std::string text = row.text;
        // Rows ending in '*' take the right checksum.
        if (text.back() == '*') {
            char digits[3];
            std::snprintf(digits, sizeof digits, "%02X",
                          codec::nmea_checksum(text.substr(0, text.size() - 1)));
            text += digits;
        }
        const sim::TagBlock tag = sim::parse_tag_block(text);
        EXPECT_EQ(row.checksum_ok, tag.checksum_ok);
        EXPECT_EQ(row.station, tag.station);
        EXPECT_EQ(row.unix_time, tag.unix_time);
        EXPECT_EQ(row.source, tag.source);
    }
    // Built as the station builds it: the XOR of "s:AB,c:0,t:L".
    EXPECT_EQ("\\s:AB,c:0,t:L*" + std::string("21") + "\\", sim::build_tag_block("AB", 0, 'L'));
}

TEST(BaseStationAbm, ASentenceTheStationTakes) {
    const std::string sentence = BaseStation::abm_sentence({123456789, "ABCD", 0, false}, 0);
    EXPECT_EQ(0u, sentence.find("!AIABM,1,1,0,123456789,0,6,ABCD,0*"));
    EXPECT_EQ("\r\n", sentence.substr(sentence.size() - 2));
    const auto parsed = codec::parse_sentence(sentence);
    ASSERT_TRUE(parsed) << sentence;
    EXPECT_EQ("ABCD", parsed->fields[7]);

    const std::string bad = BaseStation::abm_sentence({123456789, "ABCD", 2, true}, 5);
    EXPECT_EQ(0u, bad.find("!AIABM,1,1,1,123456789,0,6,ABCD,2*")) << "sequence 0..3";
    EXPECT_FALSE(codec::parse_sentence(bad)) << bad;
}

TEST(TidelinkFrame, ChecksumCoversTheFrameFromItsFirstByte) {
    const std::string text = TidelinkDevice::frame_text({"2", "17", "A", "B", "T$1 LEVEL"});
    EXPECT_EQ("2,17,A,B,T$1 LEVEL", text);
    const std::string frame = TidelinkDevice::frame(text);
    char digits[3];
    std::snprintf(digits, sizeof digits, "%02X", codec::nmea_checksum(text));
    EXPECT_EQ(text + "*" + digits + "\r\n", frame);
    // Not the NMEA sum, which would leave out the first byte.
    EXPECT_NE(codec::nmea_checksum(text), codec::nmea_checksum(text.substr(1)));
    EXPECT_NE(frame, TidelinkDevice::frame(text, true));
    EXPECT_EQ(frame.size(), TidelinkDevice::frame(text, true).size());
}

// ---- What they receive, on a real line --------------------------------------

class PeerLineTest : public FirmwareTest {
  protected:
    void SetUp() override {
        FirmwareTest::SetUp();
        Serial1.begin(9600);
        digitalWrite(host::uart_disable_pin(1), LOW);
    }
    static void station_sends(const std::string& text) {
        Serial1.write(reinterpret_cast<const uint8_t*>(text.data()), text.size());
        Serial1.flush();
    }
    static std::string sentence(const std::string& body) {
        return codec::build_sentence('$', body);
    }
};

TEST_F(PeerLineTest, SortsTaggedRecordsAndCountsBadChecksums) {
    BaseStation base({1, 9600}, 2);
    base.attach();
    const std::string tag = sim::build_tag_block("KTR09", 1747735230, 'L');
    std::string bad_tag = tag;
    bad_tag[bad_tag.size() - 2] ^= 1;  // last checksum digit
    std::string bad_vdm = "!AIVDM,1,1,,A,13EfHrU000OIUwPHjjd0000t0000,0*74\r\n";
    bad_vdm[bad_vdm.size() - 3] = '5';
    // Several records in one burst, as the station relays them.
    station_sends(tag + sentence("AIHBT,6.5,A,12") + tag +
                  "!AIVDM,1,1,,A,13EfHrU000OIUwPHjjd0000t0000,0*74\r\n" + bad_tag +
                  sentence("AIHBT,6.5,C,13") + tag + bad_vdm + sentence("AIHBT,6.5,B,14"));
    spend(100 * kMillisecond);

    const auto& records = base.records();
    ASSERT_EQ(5u, records.size());
    EXPECT_EQ(3u, base.heartbeats().size());
    EXPECT_EQ(2u, base.relayed().size());
    EXPECT_EQ(2u, base.bad_tag_blocks()) << "one wrong, one missing";
    EXPECT_EQ(1u, base.bad_checksums());
    EXPECT_FALSE(records[4].tag.present);
    EXPECT_EQ("KTR09", records[0].tag.station);
    EXPECT_EQ(1747735230, records[0].tag.unix_time);
    const sim::Heartbeat& first = records[0].heartbeat;
    EXPECT_EQ("6.5", first.period);
    EXPECT_EQ('A', first.status);
    EXPECT_EQ(12u, first.sequence);
    EXPECT_EQ('C', base.heartbeats()[1].heartbeat.status);
    EXPECT_EQ(14u, base.heartbeats()[2].heartbeat.sequence);
}

TEST_F(PeerLineTest, ABlockEndsWhenTheLineFallsIdleOrTheNextTagBlockStarts) {
    TidelinkDevice tidelink({1, 9600}, 2);
    tidelink.attach();
    const std::string tag = sim::build_tag_block("KTR09", 100, 'L');
    station_sends(tag + "2,1,X,Y,T$2 DATA*00" + tag + "MORE");
    spend(5 * kMillisecond);
    ASSERT_EQ(1u, tidelink.blocks().size()) << "the second waits for the line to fall idle";
    spend(TaggedPeer::kIdleGap);
    const auto blocks = tidelink.blocks();
    ASSERT_EQ(2u, blocks.size());
    EXPECT_EQ("2,1,X,Y,T$2 DATA*00", blocks[0].body);
    EXPECT_EQ("MORE", blocks[1].body);
    EXPECT_TRUE(blocks[0].tag.valid());
    EXPECT_TRUE(blocks[1].tag.valid());
}

TEST_F(PeerLineTest, ATagBlockCutShortIsBad) {
    BaseStation base({1, 9600}, 2);
    base.attach();
    // A 45-character name: the station cuts its tag block at 64 bytes.
    const std::string whole = sim::build_tag_block(std::string(45, 'N'), 1747735230, 'L');
    station_sends(whole.substr(0, 64) + sentence("AIHBT,6,A,0"));
    spend(100 * kMillisecond);
    ASSERT_EQ(1u, base.records().size());
    EXPECT_FALSE(base.records()[0].tag.valid());
    EXPECT_EQ(1u, base.bad_tag_blocks());
}

// ---- Scenario steps ------------------------------------------------------

std::string scenario_with(const std::string& step) {
    return R"({"description": "d", "steps": [{"at": "1s", )" + step + "}]}";
}

TEST(SensorPeerSteps, GoodStepsBelongToTheirDevice) {
    const struct {
        const char* step;
        const char* device;
    } rows[] = {
        {R"("base_station_abm": {"mmsi": 235040000, "payload": "0Ew3=3wt"})", "base_station"},
        {R"("base_station_abm": {"mmsi": 1, "payload": "A", "fill": 5, "bad_checksum": true,
            "channel": 2})",
         "base_station"},
        {R"("tidelink_frame": "2,1,X,Y,T$1")", "tidelink"},
        {R"("tidelink_frame": {"fields": [2, "1", "X", "Y", "M$0"], "channel": 1})", "tidelink"},
        {R"("tidelink_frame": {"text": "2,1,X,Y,T$1", "bad_checksum": true})", "tidelink"},
        {R"("reporting_periods": {"msg6_period_s": 30})", "ais_transponder"},
    };
    for (const auto& row : rows) {
        std::string error;
        const auto scenario = sim::parse_scenario(scenario_with(row.step), &error);
        ASSERT_TRUE(scenario) << row.step << ": " << error;
        EXPECT_EQ(row.device, scenario->steps[0].device);
    }
}

TEST(SensorPeerSteps, BadStepsSayWhatWasExpected) {
    const struct {
        const char* step;
        const char* says;
    } rows[] = {
        {R"("base_station_abm": "hello")", "\"payload\""},
        {R"("base_station_abm": {"payload": "AB"})", "\"mmsi\""},
        {R"("base_station_abm": {"mmsi": 1000000000, "payload": "AB"})", "1..999999999"},
        {R"("base_station_abm": {"mmsi": 1, "payload": ""})", "1..48 characters"},
        {R"("base_station_abm": {"mmsi": 1, "payload": "a b"})", "' ' is not one"},
        {R"("base_station_abm": {"mmsi": 1, "payload": "A", "fill": 6})", "\"fill\" 0..5"},
        {R"("base_station_abm": {"mmsi": 1, "payload": "A", "channel": 3})", "\"channel\" 1 or 2"},
        {R"("base_station_abm": {"mmsi": 1, "payload": "A", "to": 3})", "unknown field \"to\""},
        {R"("base_station_abm": {"mmsi": 1, "payload": "A", "bad_checksum": 1})", "true or false"},
        {R"("tidelink_frame": 5)", "the frame's text"},
        {R"("tidelink_frame": "")", "1..251 characters"},
        {R"("tidelink_frame": "2,1*")", "without '*'"},
        {R"("tidelink_frame": {"text": "2", "fields": ["2"]})", "one of \"text\" and \"fields\""},
        {R"("tidelink_frame": {"fields": [[1]]})", "texts or numbers"},
        {R"("tidelink_frame": {"text": "2", "crc": 1})", "unknown field \"crc\""},
        {R"("reporting_periods": {"msg6_period_s": -1})", "0..86400"},
        {R"("reporting_periods": {"msg6": 30})", "unknown field \"msg6\""},
    };
    for (const auto& row : rows) {
        std::string error;
        EXPECT_FALSE(sim::parse_scenario(scenario_with(row.step), &error)) << row.step;
        EXPECT_NE(std::string::npos, error.find("step 1")) << error;
        EXPECT_NE(std::string::npos, error.find(row.says)) << row.step << " gave: " << error;
    }
}

TEST(SensorPeerSteps, AConfigurationMustBeOneKtr09ConfigTakes) {
    std::string error;
    const auto good = sim::parse_scenario(
        R"({"description": "d", "steps": [],
            "configuration": {"configuracion_sensor": [{}, {"csensor": 2}]}})",
        &error);
    ASSERT_TRUE(good) << error;
    EXPECT_NE(std::string::npos, good->configuration.find("\"csensor\":2"));
    EXPECT_FALSE(sim::parse_scenario(
        R"({"description": "d", "steps": [], "configuration": {"configuracion_sensor": [{}]}})",
        &error));
    EXPECT_NE(std::string::npos, error.find("\"configuration\"")) << error;
    EXPECT_NE(std::string::npos, error.find("configuracion_sensor")) << error;
}

// ---- Cabling -----------------------------------------------------------------

// The models the simulator puts on the channels, from the configuration
// image of a new state directory with a scenario's configuration over it.
class SensorChannelCabling : public testing::Test {
  protected:
    void TearDown() override { host::reset_machine(); }
};

TEST_F(SensorChannelCabling, EachChannelGetsTheDeviceItsConfigurationNames) {
    const struct {
        const char* configuration;
        bool weather;  // still on channel 1
        unsigned base_channel;
        unsigned tidelink_channel;
    } rows[] = {
        {"", true, 0, 0},
        {R"({"configuracion_sensor": [{}, {"csensor": 1}]})", true, 2, 0},
        {R"({"configuracion_sensor": [{"csensor": 2}, {}]})", false, 0, 1},
        {R"({"configuracion_sensor": [{"csensor": 1}, {"csensor": 2}]})", false, 1, 2},
        {R"({"configuracion_sensor": [{"csensor": 0}, {"csensor": 3}]})", true, 0, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.configuration);
        TemporaryStateDir state;
        host::reset_machine();
        ASSERT_EQ("", attach_station(state.path(), row.configuration));
        host::run_for(3 * kSecond);
        EXPECT_EQ(row.weather, sim::station_devices().weather->powered());
        auto* base = sim::peer_on<BaseStation>(sim::station_device("base_station"));
        auto* tidelink = sim::peer_on<TidelinkDevice>(sim::station_device("tidelink"));
        EXPECT_EQ(row.base_channel, base == nullptr ? 0 : base->channel());
        EXPECT_EQ(row.tidelink_channel, tidelink == nullptr ? 0 : tidelink->channel());
    }
}

// A peer talks at the rate the station opens its channel with, for every code.
TEST(SensorChannelRates, MatchTheStations) {
    for (uint8_t code = 0; code < 10; ++code) {
        EXPECT_EQ(velocidad_canal(code), sim::channel_baud(code)) << static_cast<int>(code);
    }
}

}  // namespace
