// The codec's AIS encoders judged by gpsd's gpsdecode: each message built
// from field values, carried in VDM sentences, must decode to those values.
// The simulator's device models send what these encoders build.
#include <gtest/gtest.h>

#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "codec/ais_messages.h"
#include "codec/ais_sentences.h"
#include "support/gpsdecode.h"

namespace {

struct Case {
    const char* name;
    codec::Message message;
    // Fields gpsd reports under other names or in another form, as it prints them.
    nlohmann::json reported;
    size_t sentences;
};

void PrintTo(const Case& c, std::ostream* os) {
    *os << c.name;
}

// Fields gpsd does not print (gpsd 3.22 leaves out the assigned-mode flag of
// messages 18 and 21), or prints only in the form given in `reported`.
const std::set<std::string> kNotCompared = {"spare", "month", "day",      "hour",    "minute",
                                            "data",  "type",  "name_ext", "assigned"};

class GpsdecodeCodecTest : public ::testing::TestWithParam<Case> {
  protected:
    void SetUp() override {
        if (!gpsdecode_installed()) {
            GTEST_SKIP() << "gpsdecode (Debian gpsd-clients) is not installed";
        }
    }
};

TEST_P(GpsdecodeCodecTest, DecodesToTheFieldsEncoded) {
    const Case& c = GetParam();
    std::string error;
    const std::optional<codec::Bits> payload = codec::encode_message(c.message, &error);
    ASSERT_TRUE(payload.has_value()) << error;
    codec::VdmOptions options;
    options.sequence_id = 3;
    const std::vector<std::string> sentences = codec::vdm_sentences(*payload, options);
    EXPECT_EQ(c.sentences, sentences.size());
    const nlohmann::json m = gpsdecode_json(sentences);
    ASSERT_TRUE(m.is_object()) << sentences.front();
    EXPECT_EQ(c.message.number("type"), m.value("type", -1)) << m;
    for (const auto& field : c.message.numbers) {
        if (kNotCompared.count(field.first) != 0) {
            continue;
        }
        ASSERT_TRUE(m.contains(field.first)) << field.first << " in " << m;
        const nlohmann::json& got = m[field.first];
        EXPECT_EQ(field.second, got.is_boolean() ? int64_t{got.get<bool>()} : got.get<int64_t>())
            << field.first;
    }
    for (const auto& field : c.message.texts) {
        if (kNotCompared.count(field.first) == 0) {
            EXPECT_EQ(field.second, m.value(field.first, std::string("(absent)"))) << field.first;
        }
    }
    for (const auto& field : c.reported.items()) {
        EXPECT_EQ(field.value(), m.value(field.key(), nlohmann::json())) << field.key();
    }
}

codec::Bits bytes_as_bits(const std::vector<uint8_t>& bytes) {
    codec::BitWriter w;
    for (uint8_t b : bytes) {
        w.put(b, 8);
    }
    return w.bits();
}

// A station's frame relayed in one part: part header 0x11, then its bytes.
const codec::Bits kRelayedFrame = bytes_as_bits({0x11, 0x24, 0x54, 0x4C, 0x4B, 0x2C, 0x31});

INSTANTIATE_TEST_SUITE_P(
    Messages, GpsdecodeCodecTest,
    ::testing::Values(
        Case{"aid_to_navigation",
             {{{"type", 21},
               {"mmsi", 992471234},
               {"aid_type", 1},
               {"accuracy", 1},
               {"lon", -5041237},
               {"lat", 26025009},
               {"to_bow", 3},
               {"to_stern", 4},
               {"to_port", 1},
               {"to_starboard", 2},
               {"epfd", 1},
               {"second", 42},
               {"off_position", 0},
               {"regional", 0},
               {"raim", 1},
               {"virtual_aid", 0},
               {"assigned", 0}},
              {{"name", "KTR09 PUNTA"}},
              {}},
             {},
             1},
        Case{"position_report",
             {{{"type", 1},
               {"repeat", 1},
               {"mmsi", 247123450},
               {"status", 0},
               {"turn", -127},
               {"speed", 123},
               {"accuracy", 1},
               {"lon", -73407500},
               {"lat", 28549700},
               {"course", 2750},
               {"heading", 274},
               {"second", 42},
               {"maneuver", 1},
               {"raim", 1},
               {"radio", 12345}},
              {},
              {}},
             {},
             1},
        Case{"static_data",
             {{{"type", 5},
               {"mmsi", 224123456},
               {"ais_version", 1},
               {"imo", 9134270},
               {"shiptype", 70},
               {"to_bow", 225},
               {"to_stern", 70},
               {"to_port", 1},
               {"to_starboard", 31},
               {"epfd", 1},
               {"month", 11},
               {"day", 3},
               {"hour", 7},
               {"minute", 45},
               {"draught", 122},
               {"dte", 0}},
              {{"callsign", "EABC"}, {"shipname", "NUEVO PUNTA"}, {"destination", "A CORUNA"}},
              {}},
             {{"eta", "11-03T07:45Z"}},
             2},
        Case{"class_b_position",
             {{{"type", 18},
               {"mmsi", 224999001},
               {"speed", 55},
               {"accuracy", 0},
               {"lon", 5280000},
               {"lat", -1980000},
               {"course", 1800},
               {"heading", 511},
               {"second", 7},
               {"regional", 0},
               {"cs", 1},
               {"display", 0},
               {"dsc", 1},
               {"band", 1},
               {"msg22", 1},
               {"assigned", 0},
               {"raim", 0},
               {"radio", 917510}},
              {},
              {}},
             {},
             1},
        Case{"addressed_binary",
             {{{"type", 6},
               {"mmsi", 992471234},
               {"seqno", 1},
               {"dest_mmsi", 224000999},
               {"retransmit", 0},
               {"dac", 11},
               {"fid", 11}},
              {},
              kRelayedFrame},
             {{"data", "56:1124544c4b2c31"}},
             1},
        Case{"addressed_safety_text",
             {{{"type", 12},
               {"mmsi", 992471234},
               {"seqno", 2},
               {"dest_mmsi", 224123456},
               {"retransmit", 1}},
              {{"text", "TE ESTAS APROXIMANDOOOO"}},
              {}},
             {},
             1},
        Case{"broadcast_safety_text",
             {{{"type", 14}, {"mmsi", 992471234}}, {{"text", "FARO APAGADO"}}, {}},
             {},
             1},
        Case{"meteorological_broadcast",
             {{{"type", 8},        {"mmsi", 992471234}, {"dac", 1},          {"fid", 31},
               {"lon", -504123},   {"lat", 2602500},    {"accuracy", 1},     {"day", 7},
               {"hour", 9},        {"minute", 5},       {"wspeed", 12},      {"wgust", 20},
               {"wdir", 275},      {"wgustdir", 280},   {"airtemp", -123},   {"humidity", 81},
               {"dewpoint", -151}, {"pressure", 214},   {"pressuretend", 2}, {"seastate", 4}},
              {},
              {}},
             {{"timestamp", "07T09:05Z"},
              {"visibility", 127},
              {"waterlevel", 4001},
              {"watertemp", 501},
              {"salinity", 510},
              {"ice", 3}},
             1}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

}  // namespace
