// NMEA toolkit: searches, fields, checksums, number extractors and the
// transmit frame builders.
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "codec/nmea.h"
#include "nmea.h"
#include "support/firmware_fixture.h"

namespace {

class NmeaTest : public FirmwareTest {
  protected:
    void SetUp() override {
        FirmwareTest::SetUp();
        (void)usb();
    }
};

std::vector<uint8_t> bytes(const std::string& text) {
    return std::vector<uint8_t>(text.begin(), text.end());
}

// XOR of the characters strictly between the start character and the '*'.
uint8_t xor_between(const std::string& sentence) {
    const size_t star = sentence.find('*');
    return codec::nmea_checksum(std::string_view(sentence).substr(
        1, star == std::string::npos ? std::string::npos : star - 1));
}

std::string hex2(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "%02X", value & 0xFF);
    return text;
}

// A sentence with its correct checksum and line end.
std::string with_checksum(const std::string& body) {
    return body + "*" + hex2(xor_between(body + "*")) + "\r\n";
}

std::string frame_text() {
    return std::string(reinterpret_cast<const char*>(stais.cframe_tx), stais.ibytes_mensaje_a_tx);
}

// ---- desconversion_ascii ------------------------------------------------------

TEST_F(NmeaTest, DesconversionAsciiClassifiesEveryByte) {
    const char* const hex = "0123456789ABCDEF";
    for (int c = 0; c < 256; ++c) {
        SCOPED_TRACE(c);
        unsigned expected = 255;
        const char* digit = c != 0 ? std::strchr(hex, c) : nullptr;
        if (digit != nullptr) {
            expected = static_cast<unsigned>(digit - hex);
        } else if (c == ' ') {
            expected = 252;
        } else if (c == '-') {
            expected = 253;
        } else if (c == '.') {
            expected = 254;
        }
        EXPECT_EQ(expected, desconversion_ascii(static_cast<uint8_t>(c)));
    }
}

// ---- comparacion -------------------------------------------------------------

TEST_F(NmeaTest, ComparacionComparesTheGivenLengthFromTheStart) {
    const struct {
        const char* name;
        const char* buffer;
        const char* pattern;
        uint8_t length;
        uint16_t start;
        uint8_t expected;
    } cases[] = {
        {"equal at offset", "\r\n$GPRMC,1", "$GPRMC", 6, 2, 1},
        {"one byte early", "\r\n$GPRMC,1", "$GPRMC", 6, 1, 0},
        {"last byte differs", "\r\n$GPRMB,1", "$GPRMC", 6, 2, 0},
        {"only the length counts", "TEST", "TESTING", 4, 0, 1},
        {"prefix of the pattern", "TEXT", "TEST", 2, 0, 1},
        {"zero length", "abc", "xyz", 0, 1, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto buffer = bytes(c.buffer);
        EXPECT_EQ(c.expected, comparacion(buffer.data(), c.pattern, c.length, c.start));
    }
}

// ---- busqueda_trama ----------------------------------------------------------

TEST_F(NmeaTest, BusquedaTramaReturnsTheIndexPastTheMatch) {
    const struct {
        const char* name;
        const char* buffer;
        const char* pattern;
        uint16_t end;
        uint16_t start;
        uint16_t expected;
    } cases[] = {
        {"header at index 2 gives its comma", "\r\n$GPRMC,1,2*00", "$GPRMC", 15, 0, 8},
        {"absent", "\r\n$GPRMC,1,2*00", "$GPGGA", 15, 0, 0xFFFF},
        {"match ending on the last index", "ab$GP", "$GP", 5, 0, 5},
        {"match crossing the end", "ab$GP", "$GP", 4, 0, 0xFFFF},
        {"search starts at the given index", "$A,$A,", "$A", 6, 1, 5},
        {"start past the only match", "$A,xx", "$A", 5, 1, 0xFFFF},
        {"first of two", "xT$1T$2", "T$", 7, 0, 3},
        {"no back-tracking after a partial match", "AAAB", "AAB", 4, 0, 0xFFFF},
        {"breaking byte not tried again", "$$GP", "$GP", 4, 0, 0xFFFF},
        {"restart after a clean mismatch", "AAxAAB", "AAB", 6, 0, 6},
        {"empty range", "$GP", "$GP", 0, 0, 0xFFFF},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto buffer = bytes(c.buffer);
        EXPECT_EQ(c.expected, busqueda_trama(buffer.data(), c.pattern, c.end, c.start));
    }
}

TEST_F(NmeaTest, BusquedaTramaFindsPatternsWithoutRepeatedPrefixAnywhere) {
    // For the station's patterns (no repeated prefix) the walk without
    // back-tracking loses nothing as long as the byte that breaks a partial
    // match is not the pattern's first one: compare with a plain substring
    // search in noise that lacks that byte.
    std::mt19937 rng(7);
    const char* const patterns[] = {"$GPRMC", "!AIVDM", "T$3", "$PSMT,", "M$0"};
    const std::string all_noise = "$!,T*M0123GPRAIVDSC\r\n";
    for (int round = 0; round < 2000; ++round) {
        const char* pattern = patterns[round % 5];
        std::string noise = all_noise;
        noise.erase(noise.find(pattern[0]), 1);
        std::string text;
        const int length = 1 + static_cast<int>(rng() % 60);
        for (int i = 0; i < length; ++i) {
            text += noise[rng() % noise.size()];
        }
        if (rng() % 2) {
            text.insert(rng() % (text.size() + 1), pattern);
        }
        const size_t found = text.find(pattern);
        const uint16_t expected =
            found == std::string::npos ? 0xFFFF : static_cast<uint16_t>(found + strlen(pattern));
        const auto buffer = bytes(text);
        ASSERT_EQ(expected,
                  busqueda_trama(buffer.data(), pattern, static_cast<uint16_t>(buffer.size()), 0))
            << text;
    }
}

// ---- ibusqueda_dato_en_buffer_rx ---------------------------------------------

TEST_F(NmeaTest, IbusquedaDatoEnBufferRxFindsTheNthOccurrence) {
    const struct {
        const char* name;
        const char* buffer;
        char byte;
        uint8_t n;
        uint16_t start;
        uint16_t end;
        uint16_t expected;
    } cases[] = {
        {"first", "a,b,c,d", ',', 1, 0, 7, 1},
        {"second", "a,b,c,d", ',', 2, 0, 7, 3},
        {"third", "a,b,c,d", ',', 3, 0, 7, 5},
        {"too few gives the end", "a,b,c,d", ',', 4, 0, 7, 7},
        {"counted from the start index", "a,b,c,d", ',', 1, 2, 7, 3},
        {"start byte itself", "a,b,c,d", ',', 1, 1, 7, 1},
        {"occurrence past the end is outside", "a,b,c,d", ',', 3, 0, 4, 4},
        {"start byte examined whatever the bounds", ",bc", ',', 1, 0, 0, 0},
        {"start past the end, no match", "abc", ',', 1, 2, 1, 1},
        {"absent", "abcdef", '*', 1, 0, 6, 6},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto buffer = bytes(c.buffer);
        EXPECT_EQ(c.expected,
                  ibusqueda_dato_en_buffer_rx(buffer.data(), static_cast<uint8_t>(c.byte), c.n,
                                              c.start, c.end));
    }
}

// ---- busqueda_campo ----------------------------------------------------------

TEST_F(NmeaTest, BusquedaCampoGivesTheFirstCharacterOfAField) {
    const std::string sentence = "$GPXXX,123,A,5*1F\r\n";
    const auto buffer = bytes(sentence);
    const uint16_t end = static_cast<uint16_t>(buffer.size());
    const struct {
        const char* name;
        uint8_t field;
        uint16_t start;
        uint16_t end;
        uint16_t expected;
    } cases[] = {
        {"field 0 is the start", 0, 0, end, 0},
        {"field 0 at another start", 0, 4, end, 4},
        {"field 1", 1, 0, end, 7},
        {"field 2", 2, 0, end, 11},
        {"field 3", 3, 0, end, 13},
        // A field the sentence lacks reads as the '*', not as checksum digits.
        {"past the last: on the star", 4, 0, end, 14},
        {"far past the last", 9, 0, end, 14},
        {"bounded by the end", 2, 0, 9, 9},
        {"counted from the start", 1, 8, end, 11},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.expected, busqueda_campo(c.field, buffer.data(), c.start, c.end));
    }
    const auto with_cr = bytes("$A,1\r\n,2,3");
    EXPECT_EQ(4, busqueda_campo(2, with_cr.data(), 0, static_cast<uint16_t>(with_cr.size())))
        << "a carriage return ends the sentence";
}

// ---- extraccion_posiciones_campo_nmea --------------------------------------

TEST_F(NmeaTest, ExtraccionPosicionesCampoNmeaBoundsAField) {
    const struct {
        const char* name;
        const char* buffer;
        uint8_t field;
        uint16_t start;
        uint16_t expected_first;
        uint16_t expected_end;
    } cases[] = {
        {"middle field ends at its comma", "$T,abc,de*00", 1, 0, 3, 6},
        {"last field ends at the star", "$T,abc,de*00", 2, 0, 7, 9},
        {"field 0 starts at index 0", "$T,abc,de*00", 0, 0, 0, 2},
        {"field 0 starts at 0 whatever the start", "xx$T,abc*00", 0, 2, 0, 4},
        {"empty field", "$T,,x*00", 1, 0, 3, 3},
        {"no comma nor star", "$T,abc", 1, 0, 3, 6},
        {"missing field is empty at the star", "$T,abc*0A", 4, 0, 6, 6},
        {"missing field is empty at the line end", "$T,abc\r\n,x", 2, 0, 6, 6},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto buffer = bytes(c.buffer);
        uint16_t first = 0xAAAA;
        uint16_t end = 0xAAAA;
        extraccion_posiciones_campo_nmea(c.field, buffer.data(), c.start,
                                         static_cast<uint16_t>(buffer.size()), &first, &end);
        EXPECT_EQ(c.expected_first, first);
        EXPECT_EQ(c.expected_end, end);
    }
}

// ---- identificacion_comando_frame ------------------------------------------

TEST_F(NmeaTest, IdentificacionComandoFrameFindsEveryRelayToken) {
    const char* const tokens[] = {"T$1", "T$2", "T$3", "T$4", "T$5", "T$6",
                                  "M$0", "M$1", "M$2", "M$3", "M$4", "M$5"};
    for (const char* token : tokens) {
        SCOPED_TRACE(token);
        const auto frame = bytes(std::string("$TLK,2,x,y,") + token + "DATA*00");
        EXPECT_EQ(
            1, identificacion_comando_frame(frame.data(), 0, static_cast<uint16_t>(frame.size())));
    }
    const struct {
        const char* name;
        const char* frame;
        uint16_t start;
        uint16_t end;
    } misses[] = {
        {"no token", "$TLK,2,x,y,T$7M$6DATA*00", 0, 24},
        {"lower case", "$TLK,2,t$1,m$0*00", 0, 17},
        {"before the range", "T$1,abcdef", 3, 10},
        {"crossing the end", "abcT$1", 0, 5},
        {"empty range", "T$1", 0, 0},
    };
    for (const auto& m : misses) {
        SCOPED_TRACE(m.name);
        const auto frame = bytes(m.frame);
        EXPECT_EQ(0, identificacion_comando_frame(frame.data(), m.start, m.end));
    }
}

// ---- checksums -----------------------------------------------------------------

TEST_F(NmeaTest, ComprobacionChecksumNmeaAcceptsACorrectSentenceSilently) {
    const std::string bodies[] = {"$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,,",
                                  "!AIVDO,1,1,,,B>qc:0@00=t7K<NThSNQ3wsUkP06,0", "$WIMDA,,,,,"};
    for (const std::string& body : bodies) {
        SCOPED_TRACE(body);
        const auto buffer = bytes("\r\n" + with_checksum(body));
        uint8_t checksum = 0x55;
        EXPECT_EQ(1, comprobacion_checksum_nmea(
                         buffer.data(), 2, static_cast<uint16_t>(buffer.size()), &checksum, 2));
        EXPECT_EQ(0, checksum) << "cleared, nothing stored on a match";
        EXPECT_EQ("", usb());
    }
}

TEST_F(NmeaTest, ComprobacionChecksumNmeaReportsAWrongSum) {
    const std::string body = "$WIMDA,30.1,I,1.019,B,21.0,C";
    const uint8_t sum = xor_between(body + "*");
    const uint8_t wrong = static_cast<uint8_t>(sum ^ 0x21);
    const auto buffer = bytes(body + "*" + hex2(wrong) + "\r\n");
    const std::string report = " => " + hex2(sum) + "/" + hex2(wrong) + "\r\n";
    const struct {
        uint8_t origin;
        std::string expected;
    } cases[] = {
        {0, ""},
        {1, "\r\nChecksum failed TIDELINK" + report},
        {2, "\r\nChecksum failed SENSOR" + report},
        {3, "\r\nChecksum failed " + report},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.origin));
        uint8_t checksum = 0x55;
        EXPECT_EQ(0,
                  comprobacion_checksum_nmea(buffer.data(), 0, static_cast<uint16_t>(buffer.size()),
                                             &checksum, c.origin));
        EXPECT_EQ(sum, checksum);
        EXPECT_EQ(c.expected, usb());
    }
}

TEST_F(NmeaTest, ComprobacionChecksumNmeaNeverMatchesLowerCaseHex) {
    // One adjusting byte gives each sum; F0..F9 is where a lower-case 'f'
    // taken through the 8-bit weighting would pass for 'F'.
    const uint8_t sums[] = {0xF5, 0xF0, 0xF9, 0xFA, 0xAB, 0x3C, 0x0F, 0xE1};
    for (uint8_t sum : sums) {
        SCOPED_TRACE(hex2(sum));
        std::string body = "$PSMT,1,";
        body += static_cast<char>(sum ^ xor_between(body + "*"));
        ASSERT_EQ(sum, xor_between(body + "*"));
        std::string digits = hex2(sum);
        const auto upper = bytes(body + "*" + digits + "\r\n");
        for (char& d : digits) {
            d = static_cast<char>(std::tolower(d));
        }
        const auto lower = bytes(body + "*" + digits + "\r\n");
        const uint16_t end = static_cast<uint16_t>(upper.size());
        uint8_t checksum = 0;
        EXPECT_EQ(1, comprobacion_checksum_nmea(upper.data(), 0, end, &checksum, 0));
        EXPECT_EQ(0, comprobacion_checksum_nmea(lower.data(), 0, end, &checksum, 0));
        EXPECT_EQ(sum, checksum);
        EXPECT_EQ(1, comprobacion_checksum_nmea_sin_cabecera(upper.data(), 1, end));
        EXPECT_EQ(0, comprobacion_checksum_nmea_sin_cabecera(lower.data(), 1, end));
    }
}

TEST_F(NmeaTest, ComprobacionChecksumNmeaWithoutAStarInRange) {
    const std::string sentence = with_checksum("$GPGGA,1,2,3");
    const auto buffer = bytes(sentence);
    const uint16_t star = static_cast<uint16_t>(sentence.find('*'));
    const struct {
        const char* name;
        uint16_t end;
        uint8_t origin;
        std::string expected;
    } cases[] = {
        {"no star, silent origin", star, 0, "\r\n"},
        {"no star, sensor", star, 2, "\r\n"},
        {"no star, tidelink", star, 1, "\r\nChecksum failed tidelink => NO found *\r\n"},
        {"empty range", 1, 1, "\r\nChecksum failed tidelink => NO found *\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        uint8_t checksum = 0x55;
        EXPECT_EQ(0, comprobacion_checksum_nmea(buffer.data(), 0, c.end, &checksum, c.origin));
        EXPECT_EQ(0, checksum);
        EXPECT_EQ(c.expected, usb());
    }
}

TEST_F(NmeaTest, ComprobacionChecksumNmeaNeedsBothDigitsInRange) {
    const std::string sentence = with_checksum("$GPGGA,1,2,3");
    const auto buffer = bytes(sentence);
    const uint16_t star = static_cast<uint16_t>(sentence.find('*'));
    for (uint16_t end = star + 1; end <= star + 2; ++end) {
        SCOPED_TRACE(end);
        uint8_t checksum = 0;
        EXPECT_EQ(0, comprobacion_checksum_nmea(buffer.data(), 0, end, &checksum, 0));
        EXPECT_EQ(xor_between(sentence), checksum);
    }
    uint8_t checksum = 0;
    EXPECT_EQ(1, comprobacion_checksum_nmea(buffer.data(), 0, star + 3, &checksum, 0));
}

TEST_F(NmeaTest, ComprobacionChecksumNmeaSinCabeceraStartsAtTheGivenByte) {
    const std::string sentence = with_checksum("$TLK,1,2,HELLO");
    const auto buffer = bytes(sentence);
    const uint16_t end = static_cast<uint16_t>(buffer.size());
    EXPECT_EQ(1, comprobacion_checksum_nmea_sin_cabecera(buffer.data(), 1, end));
    EXPECT_EQ("", usb());

    // From the '$' the sum takes one byte more and fails, reporting the sum.
    const uint8_t sum_with_dollar = static_cast<uint8_t>(xor_between(sentence) ^ '$');
    EXPECT_EQ(0, comprobacion_checksum_nmea_sin_cabecera(buffer.data(), 0, end));
    EXPECT_EQ("\r\nError checksum:  " + hex2(sum_with_dollar) + "\r\n", usb());

    const uint16_t star = static_cast<uint16_t>(sentence.find('*'));
    EXPECT_EQ(0, comprobacion_checksum_nmea_sin_cabecera(buffer.data(), 1, star));
    EXPECT_EQ("\r\nNO encontrado *\r\n", usb());
}

// ---- conversion_ascii_decimal ------------------------------------------------

// The number the digits of a text make, modulo 2^32, counting only the ten
// least significant digits.
uint32_t low_ten_digits(const std::string& text) {
    std::string digits;
    for (char c : text) {
        if (c >= '0' && c <= '9') {
            digits += c;
        }
    }
    if (digits.size() > 10) {
        digits = digits.substr(digits.size() - 10);
    }
    return static_cast<uint32_t>(digits.empty() ? 0 : std::strtoull(digits.c_str(), nullptr, 10));
}

TEST_F(NmeaTest, ConversionAsciiDecimalSkipsNonDigits) {
    const struct {
        const char* text;
        uint32_t expected;
    } cases[] = {
        {"0012", 12},
        {"1 2", 12},
        {"12.5", 125},
        {"-40", 40},
        {"A5", 5},
        {"", 0},
        {"4294967295", 4294967295u},
        {"x", 0},
        {"1a2b3", 123},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const auto buffer = bytes(std::string("##") + c.text + "##");
        EXPECT_EQ(c.expected,
                  conversion_ascii_decimal(2, static_cast<uint8_t>(strlen(c.text)), buffer.data()));
    }
}

TEST_F(NmeaTest, ConversionAsciiDecimalBeyondTenDigitsKeepsTheLowTen) {
    const char* const texts[] = {"12345678901", "000000000000000012", "4294967296", "9999999999",
                                 "98765432109876543210"};
    for (const char* text : texts) {
        SCOPED_TRACE(text);
        const auto buffer = bytes(text);
        EXPECT_EQ(low_ten_digits(text),
                  conversion_ascii_decimal(0, static_cast<uint8_t>(strlen(text)), buffer.data()));
    }
    // The longest field a count can give: 255 digits, all read inside it.
    const std::string longest(255, '7');
    const auto buffer = bytes(longest);
    EXPECT_EQ(low_ten_digits(longest), conversion_ascii_decimal(0, 255, buffer.data()));
}

// ---- extraccion_dato_nmea ------------------------------------------------------

constexpr uint32_t kUntouched = 0xDEADBEEF;

TEST_F(NmeaTest, ExtraccionDatoNmeaReadsFields) {
    const struct {
        const char* name;
        const char* sentence;
        uint8_t field;
        uint8_t expected_result;
        uint32_t expected_value;
    } cases[] = {
        {"number", "$GPXXX,123,A,5*1F\r\n", 1, 1, 123},
        {"last before the star", "$GPXXX,123,A,5*1F\r\n", 3, 1, 5},
        {"letter only gives 0", "$GPXXX,123,A,5*1F\r\n", 2, 1, 0},
        {"empty between commas", "$GPXXX,,A,5*1F\r\n", 1, 0, kUntouched},
        {"empty before the star", "$GPXXX,1,*1F\r\n", 2, 0, kUntouched},
        {"missing field", "$GPXXX,123,A,5*1F\r\n", 6, 0, kUntouched},
        {"field after a carriage return is missing", "$A,1\r\n,2,3", 2, 0, kUntouched},
        {"leading zeros", "$A,0012,x*00", 1, 1, 12},
        {"space inside", "$A,1 2,x*00", 1, 1, 12},
        {"decimal point skipped", "$A,12.5,x*00", 1, 1, 125},
        {"sign skipped", "$A,-40,x*00", 1, 1, 40},
        {"header digits", "$12AB,7*00", 0, 1, 12},
        {"field cut by the range end loses its last byte", "$A,12", 1, 1, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto buffer = bytes(c.sentence);
        uint32_t value = kUntouched;
        EXPECT_EQ(c.expected_result,
                  extraccion_dato_nmea(c.field, buffer.data(), 0,
                                       static_cast<uint16_t>(buffer.size()), &value));
        EXPECT_EQ(c.expected_value, value);
    }
}

TEST_F(NmeaTest, ExtraccionDatoNmeaTakesFieldZeroFromIndexZero) {
    const auto buffer = bytes("12$A,5,6*00");
    uint32_t value = 0;
    EXPECT_EQ(
        1, extraccion_dato_nmea(0, buffer.data(), 2, static_cast<uint16_t>(buffer.size()), &value));
    EXPECT_EQ(12u, value);
    EXPECT_EQ(
        1, extraccion_dato_nmea(2, buffer.data(), 2, static_cast<uint16_t>(buffer.size()), &value));
    EXPECT_EQ(6u, value);
}

// A field that starts at 256 + k is read from index k by the integer
// extractors, and from its own place by the float one.
std::vector<uint8_t> field_beyond_256() {
    std::string text = "$A,x777,";
    text.resize(259, 'x');
    text += ",123*00\r\n";
    return bytes(text);
}

TEST_F(NmeaTest, IntegerExtractorsCarryTheStartIn8Bits) {
    const auto buffer = field_beyond_256();
    const uint16_t end = static_cast<uint16_t>(buffer.size());
    ASSERT_EQ(260, busqueda_campo(3, buffer.data(), 0, end));
    uint32_t value = 0;
    EXPECT_EQ(1, extraccion_dato_nmea(3, buffer.data(), 0, end, &value));
    EXPECT_EQ(777u, value) << "read from index 4";
    int32_t signed_value = 0;
    EXPECT_EQ(1, extraccion_dato_con_signo_nmea(3, buffer.data(), 0, end, &signed_value));
    EXPECT_EQ(777, signed_value);
    float float_value = 0;
    EXPECT_EQ(1, extraccion_dato_nmea_float(3, buffer.data(), 0, end, &float_value));
    EXPECT_FLOAT_EQ(123.0f, float_value);
}

// ---- extraccion_dato_con_signo_nmea ------------------------------------------

TEST_F(NmeaTest, ExtraccionDatoConSignoNmeaNeedsALeadingMinus) {
    const struct {
        const char* field;
        uint8_t expected_result;
        int32_t expected_value;
    } cases[] = {
        {"-40", 1, -40},
        {"40", 1, 40},
        {"5-", 1, 5},
        {"1-2", 1, 12},
        {"-0012", 1, -12},
        {"-", 1, 0},
        {"", 0, 0},
        {"-2147483648", 1, INT32_MIN},
        {"2147483647", 1, INT32_MAX},
        {"4294967295", 1, -1},
        {"-12.5", 1, -125},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.field);
        const auto buffer = bytes(std::string("$WIXDR,") + c.field + ",C*00");
        int32_t value = 0x5A5A5A5A;
        EXPECT_EQ(c.expected_result,
                  extraccion_dato_con_signo_nmea(1, buffer.data(), 0,
                                                 static_cast<uint16_t>(buffer.size()), &value));
        EXPECT_EQ(c.expected_value, value);
    }
}

// ---- conversion_ascii_float and extraccion_dato_nmea_float -------------------

TEST_F(NmeaTest, ExtraccionDatoNmeaFloatReadsSignAndDecimals) {
    const struct {
        const char* field;
        float expected;
    } cases[] = {
        {"10.25", 10.25f}, {"-3.5", -3.5f},  {"7", 7.0f},     {"-0.5", -0.5f},    {"5-", -5.0f},
        {"12.5", 12.5f},   {"1.2.5", 12.5f}, {"1-2", -12.0f}, {"0012.50", 12.5f}, {".5", 0.5f},
        {"5.", 5.0f},      {"1 0", 10.0f},   {"x", 0.0f},     {"-", 0.0f},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.field);
        const auto buffer = bytes(std::string("$WIMDA,") + c.field + ",I*00");
        float value = 99.0f;
        EXPECT_EQ(1, extraccion_dato_nmea_float(1, buffer.data(), 0,
                                                static_cast<uint16_t>(buffer.size()), &value));
        EXPECT_FLOAT_EQ(c.expected, value);
    }
    const auto empty = bytes("$WIMDA,,I*00");
    float value = 99.0f;
    EXPECT_EQ(0, extraccion_dato_nmea_float(1, empty.data(), 0, static_cast<uint16_t>(empty.size()),
                                            &value));
    EXPECT_EQ(99.0f, value);
    EXPECT_EQ(0.0f, conversion_ascii_float(0, 0, empty.data()));
}

TEST_F(NmeaTest, ConversionAsciiFloatAgreesWithTheCLibrary) {
    std::mt19937 rng(11);
    for (int round = 0; round < 5000; ++round) {
        // Up to nine digits, so the accumulator never wraps.
        const int digits = 1 + static_cast<int>(rng() % 9);
        std::string text;
        for (int i = 0; i < digits; ++i) {
            text += static_cast<char>('0' + rng() % 10);
        }
        if (rng() % 4 != 0) {
            text.insert(rng() % (text.size() + 1), ".");
        }
        if (rng() % 2) {
            text.insert(0, "-");
        }
        const auto buffer = bytes(text);
        const float expected = static_cast<float>(std::strtod(text.c_str(), nullptr));
        ASSERT_FLOAT_EQ(expected,
                        conversion_ascii_float(0, static_cast<uint8_t>(text.size()), buffer.data()))
            << text;
    }
}

TEST_F(NmeaTest, ConversionAsciiFloatBeyondTheTableDropsLowDecimals) {
    const struct {
        const char* text;
        double expected;
    } cases[] = {
        {"0.1234567890123", 0.123456789}, {"12.123456789", 12.12345678},
        {"1234567.1234", 1234567.123},    {"-0.00000000001", 0.0},
        {"3.14159265358979", 3.14159265},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const auto buffer = bytes(c.text);
        EXPECT_FLOAT_EQ(
            static_cast<float>(c.expected),
            conversion_ascii_float(0, static_cast<uint8_t>(strlen(c.text)), buffer.data()));
    }
}

// ---- transmit frame builders ---------------------------------------------------

class FrameTest : public NmeaTest {
  protected:
    void SetUp() override {
        NmeaTest::SetUp();
        stais.ibytes_mensaje_a_tx = 0;
        stais.ccalculo_checksum_nmea = 0;
        stais.cchecksum_nmea = 0;
    }
};

std::string terminator(uint8_t code) {
    if (code == 0) {
        return "";
    }
    if (code == 1) {
        return "\r\n";
    }
    return std::string(1, static_cast<char>(code));
}

TEST_F(FrameTest, InsertoVariableAisWritesFixedAndFreeWidths) {
    const struct {
        uint32_t value;
        uint8_t digits;
        uint8_t end;
    } cases[] = {
        {7, 1, ','},         {7, 3, 0},       {0, 0, 0},        {123, 0, 1},
        {0, 1, 0},           {99999, 5, '*'}, {100000, 6, ','}, {4294967295u, 10, 0},
        {4294967295u, 0, 0}, {123, 2, 0},     {5, 12, 1},       {1000000000, 0, 0},
        {42, 10, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.value << " in " << int(c.digits));
        stais.ibytes_mensaje_a_tx = 0;
        inserto_variable_ais(c.value, c.digits, c.end);
        char expected[32];
        std::snprintf(expected, sizeof expected, "%0*u", c.digits, static_cast<unsigned>(c.value));
        EXPECT_EQ(expected + terminator(c.end), frame_text());
    }
}

TEST_F(FrameTest, InsertoVariableHexAisWritesUpperCase) {
    const struct {
        uint32_t value;
        uint8_t digits;
        uint8_t end;
    } cases[] = {
        {0x0C, 2, 1},        {0xAB, 2, 0},        {0x5, 1, ','}, {0, 0, 0},     {0x1F, 0, 0},
        {0xABCDEF01u, 8, 0}, {0xFFFFFFFFu, 0, 0}, {0x123, 2, 0}, {0x3C, 10, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.value << " in " << int(c.digits));
        stais.ibytes_mensaje_a_tx = 0;
        inserto_variable_hex_ais(c.value, c.digits, c.end);
        char expected[32];
        std::snprintf(expected, sizeof expected, "%0*X", c.digits, static_cast<unsigned>(c.value));
        EXPECT_EQ(expected + terminator(c.end), frame_text());
    }
}

TEST_F(FrameTest, CaracterMensajeYLineaAppendAndChecksumOnlyWhenOn) {
    inserto_caracter_ais('$');
    stais.ccalculo_checksum_nmea = 1;
    inserto_mensaje_ais("PSMT,1");
    stais.ccalculo_checksum_nmea = 0;
    inserto_caracter_ais('*');
    inserto_linea_ais();
    EXPECT_EQ("$PSMT,1*\r\n", frame_text());
    EXPECT_EQ(xor_between("$PSMT,1*"), stais.cchecksum_nmea);
}

TEST_F(FrameTest, FrameKeeps512BytesAndChecksumsTheRest) {
    stais.ccalculo_checksum_nmea = 1;
    std::string all;
    for (int i = 0; i < 600; ++i) {
        const uint8_t c = static_cast<uint8_t>('A' + i % 26 + (i / 26) % 3);
        all += static_cast<char>(c);
        inserto_caracter_ais(c);
    }
    EXPECT_EQ(512, stais.ibytes_mensaje_a_tx);
    EXPECT_EQ(all.substr(0, 512), frame_text());
    EXPECT_EQ(codec::nmea_checksum(all), stais.cchecksum_nmea);
}

// Builds one sentence by the station's convention from fields.
void build_sentence(char start, const std::vector<std::string>& fields,
                    const std::vector<uint32_t>& numbers) {
    inserto_caracter_ais(static_cast<uint8_t>(start));
    stais.cchecksum_nmea = 0;
    stais.ccalculo_checksum_nmea = 1;
    for (size_t i = 0; i < fields.size(); ++i) {
        inserto_mensaje_ais(fields[i].c_str());
        inserto_caracter_ais(',');
        inserto_variable_ais(numbers[i], static_cast<uint8_t>(i % 4),
                             i + 1 < fields.size() ? ',' : 0);
    }
    stais.ccalculo_checksum_nmea = 0;
    inserto_caracter_ais('*');
    inserto_variable_hex_ais(stais.cchecksum_nmea, 2, 1);
}

TEST_F(FrameTest, BuiltSentencesPassTheChecksumCheck) {
    std::mt19937 rng(3);
    const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789.-";
    for (int round = 0; round < 500; ++round) {
        stais.ibytes_mensaje_a_tx = 0;
        std::vector<std::string> fields;
        std::vector<uint32_t> numbers;
        const int count = 1 + static_cast<int>(rng() % 8);
        for (int i = 0; i < count; ++i) {
            std::string field;
            const int length = static_cast<int>(rng() % 7);
            for (int k = 0; k < length; ++k) {
                field += alphabet[rng() % alphabet.size()];
            }
            fields.push_back(field);
            numbers.push_back(static_cast<uint32_t>(rng() % 1000));
        }
        const char start = (round % 2) ? '$' : '!';
        build_sentence(start, fields, numbers);
        const std::string sentence = frame_text();
        ASSERT_EQ(start, sentence[0]);
        ASSERT_EQ("\r\n", sentence.substr(sentence.size() - 2));
        ASSERT_EQ(hex2(xor_between(sentence)), sentence.substr(sentence.find('*') + 1, 2));
        uint8_t checksum = 0x55;
        ASSERT_EQ(1, comprobacion_checksum_nmea(stais.cframe_tx, 0, stais.ibytes_mensaje_a_tx,
                                                &checksum, 2))
            << sentence;
        ASSERT_EQ(0, checksum);
    }
    EXPECT_EQ("", usb());
}

TEST_F(FrameTest, SeveralSentencesInOneFrameEachVerify) {
    build_sentence('!', {"AIBBM", "2", "1"}, {2, 1, 0});
    const uint16_t second = stais.ibytes_mensaje_a_tx;
    build_sentence('$', {"PSMT", "X"}, {14, 7});
    uint8_t checksum = 0;
    EXPECT_EQ(1, comprobacion_checksum_nmea(stais.cframe_tx, 0, second, &checksum, 0));
    EXPECT_EQ(1, comprobacion_checksum_nmea(stais.cframe_tx, second, stais.ibytes_mensaje_a_tx,
                                            &checksum, 0));
}

}  // namespace
