// AIS payloads: armouring, published messages decoded to the values gpsd
// gives for them and encoded back to the same sentences, and the messages
// the field tables refuse.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "codec/ais_bits.h"
#include "codec/ais_messages.h"
#include "codec/ais_sentences.h"

namespace {

// gpsd's documentation examples: a moored cargo ship's position report and
// its static data in two fragments.
const std::string kPosition = "!AIVDM,1,1,,B,177KQJ5000G?tO`K>RA1wUbN0TKH,0*5C\r\n";
const std::vector<std::string> kStatic = {
    "!AIVDM,2,1,1,A,55?MbV02;H;s<HtKR20EHE:0@T4@Dn2222222216L961O5Gf0NSQEp6ClRp8,0*1C\r\n",
    "!AIVDM,2,2,1,A,88888888880,2*25\r\n",
};

codec::Message receive(const std::vector<std::string>& sentences, codec::VdmMessage* vdm) {
    codec::VdmAssembler assembler;
    std::optional<codec::VdmMessage> got;
    for (const std::string& s : sentences) {
        std::string error;
        got = assembler.add(s, &error);
        EXPECT_TRUE(error.empty()) << error;
    }
    EXPECT_TRUE(got.has_value());
    *vdm = got.value_or(codec::VdmMessage{});
    std::string error;
    const std::optional<codec::Message> message = codec::decode_message(vdm->payload, &error);
    EXPECT_TRUE(message.has_value()) << error;
    return message.value_or(codec::Message{});
}

TEST(CodecAisTest, ArmouringAlphabet) {
    const std::string alphabet = "0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVW`abcdefghijklmnopqrstuvw";
    for (uint8_t v = 0; v < 64; ++v) {
        EXPECT_EQ(alphabet[v], codec::armour(v));
        EXPECT_EQ(v, codec::dearmour(alphabet[v]));
    }
    for (char c : std::string(" /XY_x\x7f")) {
        EXPECT_EQ(-1, codec::dearmour(c)) << "'" << c << "' carries no value";
    }
    EXPECT_FALSE(codec::dearmour_payload("1X", 0).has_value());
    EXPECT_FALSE(codec::dearmour_payload("11", 6).has_value());
}

TEST(CodecAisTest, PublishedPositionReport) {
    codec::VdmMessage vdm;
    const codec::Message m = receive({kPosition}, &vdm);
    EXPECT_EQ('B', vdm.channel);
    EXPECT_FALSE(vdm.own);
    // As gpsdecode -u prints them.
    const std::map<std::string, int64_t> expected = {
        {"type", 1},     {"mmsi", 477553000}, {"status", 5},      {"turn", 0},
        {"speed", 0},    {"accuracy", 0},     {"lon", -73407500}, {"lat", 28549700},
        {"course", 510}, {"heading", 181},    {"second", 15},     {"maneuver", 0},
        {"raim", 0},     {"radio", 149208},
    };
    for (const auto& field : expected) {
        EXPECT_EQ(field.second, m.number(field.first)) << field.first;
    }
    codec::VdmOptions options;
    options.channel = 'B';
    EXPECT_EQ(std::vector<std::string>{kPosition},
              codec::vdm_sentences(*codec::encode_message(m), options));
}

TEST(CodecAisTest, PublishedStaticDataInTwoFragments) {
    codec::VdmMessage vdm;
    const codec::Message m = receive(kStatic, &vdm);
    const std::map<std::string, int64_t> expected = {
        {"type", 5},     {"mmsi", 351759000}, {"imo", 9134270}, {"shiptype", 70},
        {"to_bow", 225}, {"to_stern", 70},    {"to_port", 1},   {"to_starboard", 31},
        {"epfd", 1},     {"month", 5},        {"day", 15},      {"hour", 14},
        {"minute", 0},   {"draught", 122},    {"dte", 0},
    };
    for (const auto& field : expected) {
        EXPECT_EQ(field.second, m.number(field.first)) << field.first;
    }
    EXPECT_EQ("3FOF8", m.text("callsign"));
    EXPECT_EQ("EVER DIADEM", m.text("shipname"));
    EXPECT_EQ("NEW YORK", m.text("destination"));
    // Split again as it was sent (its texts are padded with spaces, which
    // decoding drops, so the payload itself is split).
    codec::VdmOptions options;
    options.sequence_id = 1;
    EXPECT_EQ(kStatic, codec::vdm_sentences(vdm.payload, options));
}

TEST(CodecAisTest, FragmentsOutOfOrderAreDropped) {
    codec::VdmAssembler assembler;
    std::string error;
    EXPECT_FALSE(assembler.add(kStatic[1], &error).has_value());
    EXPECT_FALSE(error.empty()) << "a second fragment with no first";
    EXPECT_FALSE(assembler.add(kStatic[0], &error).has_value());
    EXPECT_TRUE(error.empty()) << error;
    EXPECT_EQ(1u, assembler.pending());
    EXPECT_FALSE(assembler.add(kStatic[0], &error).has_value()) << "first again restarts";
    EXPECT_TRUE(assembler.add(kStatic[1], &error).has_value()) << error;
    EXPECT_EQ(0u, assembler.pending());
}

codec::Bits bits_of_length(unsigned type, size_t length) {
    codec::BitWriter w;
    w.put(type, 6);
    w.put(0, static_cast<unsigned>(length - 6));
    return w.bits();
}

TEST(CodecAisTest, LengthIsCheckedBeforeTheFields) {
    struct Case {
        const char* description;
        unsigned type;
        size_t bits;
        bool accepted;
    };
    const Case cases[] = {
        {"position report one bit short", 1, 167, false},
        {"position report", 3, 168, true},
        {"position report one bit long", 2, 169, false},
        {"static data without its last four bits", 5, 420, true},
        {"static data short", 5, 419, false},
        {"class B report", 18, 168, true},
        {"aid-to-navigation report without a name extension", 21, 272, true},
        {"aid-to-navigation report short", 21, 271, false},
        {"addressed binary without its application id", 6, 80, false},
        {"text message of five slots", 14, 1008, true},
        {"text message longer than five slots", 14, 1009, false},
        {"message type with no table", 27, 96, false},
    };
    for (const Case& c : cases) {
        std::string error;
        EXPECT_EQ(c.accepted,
                  codec::decode_message(bits_of_length(c.type, c.bits), &error).has_value())
            << c.description << ": " << error;
    }
}

TEST(CodecAisTest, EncodingRefusesWhatTheTableCannotHold) {
    struct Case {
        const char* description;
        codec::Message message;
        const char* named;
    };
    const Case cases[] = {
        {"speed above 10 bits", {{{"type", 1}, {"speed", 1024}}, {}, {}}, "speed"},
        {"latitude below 27-bit range", {{{"type", 18}, {"lat", -(1 << 26) - 1}}, {}, {}}, "lat"},
        {"negative unsigned field", {{{"type", 21}, {"aid_type", -1}}, {}, {}}, "aid_type"},
        {"misspelt field", {{{"type", 1}, {"heeding", 90}}, {}, {}}, "heeding"},
        {"name of 21 characters",
         {{{"type", 21}}, {{"name", "ABCDEFGHIJKLMNOPQRSTU"}}, {}},
         "name"},
        {"binary data for a known application",
         {{{"type", 8}, {"dac", 1}, {"fid", 31}}, {}, codec::Bits(8, true)},
         "data"},
        {"no type", {{{"mmsi", 1}}, {}, {}}, "type"},
    };
    for (const Case& c : cases) {
        std::string error;
        EXPECT_FALSE(codec::encode_message(c.message, &error).has_value()) << c.description;
        EXPECT_NE(std::string::npos, error.find(c.named)) << c.description << ": " << error;
    }
}

}  // namespace
