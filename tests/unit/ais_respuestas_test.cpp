// Transponder replies read at the receive entry point: fields a reply does
// not have, the name that goes back to the transponder, and reporting
// intervals too long for their field.
#include <cstring>
#include <string>

#include "ais.h"
#include "codec/nmea.h"
#include "support/firmware_fixture.h"
#include "support/uart_recorder.h"

namespace {

constexpr uint32_t kUnknown = 0xFFFFFFFF;
constexpr uint32_t kMmsi = 992351000;

class AisRepliesTest : public FirmwareTest {
  protected:
    void SetUp() override {
        FirmwareTest::SetUp();
        start_tick();
        configuracion_ais.ctipo_comunicacion = 1;
        configuracion_ais.cbaudios = 4;
        host::attach_uart_peer(0, &transponder);
        inicializacion_ais(1);
        stais.lmmsi = kMmsi;
        usb();
    }
    void TearDown() override { host::attach_uart_peer(0, nullptr); }

    static void burst(const std::string& text) {
        std::memcpy(stais.cframe_rx, text.data(), text.size());
        stais.ibytes_rx = static_cast<uint16_t>(text.size());
        procesamos_trama_rx_ais();
    }
    static std::string name() {
        return std::string(reinterpret_cast<const char*>(stais.cnombre_ais), 35);
    }

    UartRecorder transponder;
};

TEST_F(AisRepliesTest, AFieldPastTheChecksumIsAbsent) {
    // No field 4: the checksum's leading 0 is not the "0" field 4 asks for.
    const std::string aid = "$AIAID,992351000,a,123456789*0D\r\n";
    ASSERT_EQ(aid, codec::build_sentence('$', "AIAID,992351000,a,123456789"));
    stais.ccomando = 3;
    burst(aid);
    EXPECT_EQ(kUnknown, stais.lmmsi_destino_msg6);
    burst(codec::build_sentence('$', "AIAID,992351000,a,123456789,0"));
    EXPECT_EQ(123456789u, stais.lmmsi_destino_msg6) << "with field 4 it is taken";
}

TEST_F(AisRepliesTest, TheNameStopsAtTheEndOfItsFieldAndAtAnyDelimiter) {
    const struct {
        const char* description;
        std::string body;
        std::string stored;
    } cases[] = {
        {"no field 7", "ANACE,992351000,E2", ""},
        {"last field, before the checksum", "ANACE,992351000,,,,,,NAME", "NAME"},
        {"before the next comma", "ANACE,992351000,,,,,,LIGHTHOUSE 3,X", "LIGHTHOUSE 3"},
        {"a dollar sign", "ANACE,992351000,,,,,,BUOY$1,", "BUOY"},
        {"an exclamation mark", "ANACE,992351000,,,,,,BUOY!1,", "BUOY"},
        // Noise, not text: the line is dropped before it reaches the name.
        {"a control character", "ANACE,992351000,,,,,,BUOY\t1,", std::string(35, 'x')},
    };
    for (const auto& c : cases) {
        std::memset(stais.cnombre_ais, 'x', sizeof stais.cnombre_ais);
        stais.ccomando = 4;
        burst(codec::build_sentence('$', c.body));
        EXPECT_EQ(c.stored + std::string(35 - c.stored.size(), '@'), name()) << c.description;
        EXPECT_EQ(c.stored.size() == 35 ? 4 : 6, stais.ccomando) << c.description;
    }
    // What the station then tells the transponder: an empty name, one line.
    stais.ccomando = 4;
    burst("$ANACE,992351000,E2*0A\r\n");
    stais.ccomando = 21;
    stais.cbits_no_utilizados_caton_status = 0x3A;
    transponder.bytes.clear();
    envio_comandos_ais();
    spend(200 * host::kMillisecond);
    EXPECT_EQ(codec::build_sentence('$', "AIACE,992351000,20,,1,0,0,,0000000000,C,"),
              transponder.bytes);
}

TEST_F(AisRepliesTest, IntervalsBeyondTheFieldKeepItsLargestValue) {
    const struct {
        const char* v;
        const char* scheme;
        uint16_t expected;
    } cases[] = {
        {"6750", "0", 90},          {"4915124", "0", 65534},    {"4915125", "0", 65535},
        {"4000000000", "0", 65535}, {"131070", "1", 65535},     {"131072", "1", 65535},
        {"172800", "1", 65535},     {"4294967295", "1", 65535}, {"360", "1", 180},
    };
    for (const auto& c : cases) {
        stais.ccomando = 13;
        stais.ifrecuencia_msg8 = 7;
        const std::string v = c.v;
        burst(codec::build_sentence('$',
                                    "ANAAR,992351000,8,1,,,0," + v + "," + c.scheme + ",,,0," + v));
        EXPECT_EQ(c.expected, stais.ifrecuencia_msg8) << "v " << c.v << " scheme " << c.scheme;
    }
}

}  // namespace
