// NMEA sentences: published sentences with their checksums, and the ways a
// received line is refused.
#include <gtest/gtest.h>

#include <string>

#include "codec/nmea.h"

namespace {

// Sentences as published (NMEA 0183 primers, gpsd's AIS documentation).
struct Published {
    const char* description;
    const char* line;
    char start;
    const char* body;
    size_t fields;
};

const Published kPublished[] = {
    {"GPS fix data", "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47", '$',
     "GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,", 15},
    {"recommended minimum", "$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A",
     '$', "GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W", 12},
    {"AIS position report", "!AIVDM,1,1,,B,177KQJ5000G?tO`K>RA1wUbN0TKH,0*5C", '!',
     "AIVDM,1,1,,B,177KQJ5000G?tO`K>RA1wUbN0TKH,0", 7},
    {"second fragment of a static report", "!AIVDM,2,2,1,A,88888888880,2*25", '!',
     "AIVDM,2,2,1,A,88888888880,2", 7},
};

TEST(CodecNmeaTest, PublishedSentencesBuildAndParse) {
    for (const Published& p : kPublished) {
        SCOPED_TRACE(p.description);
        EXPECT_EQ(std::string(p.line) + "\r\n", codec::build_sentence(p.start, p.body));
        const auto sentence = codec::parse_sentence(std::string(p.line) + "\r\n");
        ASSERT_TRUE(sentence.has_value());
        EXPECT_EQ(p.start, sentence->start);
        EXPECT_EQ(p.body, sentence->body);
        EXPECT_EQ(p.fields, sentence->fields.size());
    }
}

TEST(CodecNmeaTest, ReceivedLines) {
    struct Case {
        const char* description;
        const char* line;
        bool accepted;
    };
    const Case cases[] = {
        {"without its line end", "!AIVDM,2,2,1,A,88888888880,2*25", true},
        {"lower-case checksum digits",
         "$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6a", true},
        {"checksum off by one bit", "!AIVDM,2,2,1,A,88888888880,2*24", false},
        {"a field changed", "!AIVDM,2,2,1,B,88888888880,2*25", false},
        {"no start character", "AIVDM,2,2,1,A,88888888880,2*25", false},
        {"no checksum", "!AIVDM,2,2,1,A,88888888880,2", false},
        {"one checksum digit", "!AIVDM,2,2,1,A,88888888880,2*2", false},
        {"text after the checksum", "!AIVDM,2,2,1,A,88888888880,2*25X", false},
        {"checksum not hexadecimal", "!AIVDM,2,2,1,A,88888888880,2*2G", false},
        {"empty line", "", false},
    };
    for (const Case& c : cases) {
        std::string error;
        EXPECT_EQ(c.accepted, codec::parse_sentence(c.line, &error).has_value())
            << c.description << ": " << error;
        EXPECT_EQ(c.accepted, error.empty()) << c.description;
    }
}

TEST(CodecNmeaTest, FieldsKeepEmptyOnes) {
    EXPECT_EQ((std::vector<std::string>{"PAMTC", "EN", "", "1", ""}),
              codec::split_fields("PAMTC,EN,,1,"));
    EXPECT_EQ(std::vector<std::string>{""}, codec::split_fields(""));
}

}  // namespace
