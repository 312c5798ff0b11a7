// What the transponder reports: GPS time and position with the clock set
// from it, the confirmations of the station's own messages, its own AtoN
// report with the light supervision, message 6 reassembly and the ships in
// the watched rectangle. Sentences are built with the host codec.
#include <Wire.h>

#include <cstring>
#include <string>
#include <vector>

#include "ais.h"
#include "codec/ais_bits.h"
#include "codec/ais_messages.h"
#include "codec/ais_sentences.h"
#include "codec/nmea.h"
#include "devices/mcp7940.h"
#include "support/firmware_fixture.h"

namespace {

constexpr uint32_t kMmsi = 992471001;

std::string nmea(const std::string& body) {
    return codec::build_sentence('$', body);
}

// One AIS message as the transponder reports it.
std::string ais(const codec::Message& message, bool own, const std::string& channel = "A") {
    const auto bits = codec::encode_message(message);
    EXPECT_TRUE(bits.has_value());
    codec::VdmOptions options;
    options.own = own;
    options.channel = channel.empty() ? '\0' : channel[0];
    options.max_chars = 80;
    std::string text;
    for (const std::string& s : codec::vdm_sentences(*bits, options)) {
        text += s;
    }
    return text;
}

codec::Message aton_report(uint32_t mmsi, unsigned status, bool virtual_aid = false) {
    codec::Message m;
    m.numbers = {{"type", 21},
                 {"mmsi", mmsi},
                 {"lon", -8 * 600000},
                 {"lat", 43 * 600000 + 22 * 10000},
                 {"accuracy", 1},
                 {"regional", status},
                 {"virtual_aid", virtual_aid ? 1 : 0}};
    m.texts = {{"name", "KTR09 STATION"}};
    return m;
}

codec::Message ship(unsigned type, uint32_t mmsi, int64_t lat, int64_t lon) {
    codec::Message m;
    m.numbers = {{"type", type}, {"mmsi", mmsi}, {"lat", lat},
                 {"lon", lon},   {"speed", 123}, {"course", 2705}};
    return m;
}

class AisTrafficTest : public FirmwareTest {
  protected:
    void SetUp() override {
        FirmwareTest::SetUp();
        start_tick();
        Wire.begin();
        host::attach_i2c_device(sim::Mcp7940::kAddress, &clock);
        inicializacion_ais(1);
        stais.lmmsi = kMmsi;
        stais.ccomando = 0;
        usb();
    }
    static void burst(const std::string& text) {
        ASSERT_LE(text.size(), sizeof(stais.cframe_rx));
        std::memcpy(stais.cframe_rx, text.data(), text.size());
        stais.ibytes_rx = static_cast<uint16_t>(text.size());
        procesamos_trama_rx_ais();
    }
    // The watched rectangle, its longitudes in the order given, latitudes
    // 41 deg 20' to 41 deg 30' N.
    static void watch_rectangle(int32_t lon_a, int32_t lon_b) {
        configuracion_ais.cenable_shipras = 1;
        configuracion_ais.llongitud_shipras[0] = lon_a;
        configuracion_ais.llongitud_shipras[1] = lon_b;
        configuracion_ais.llatitud_shipras[0] = 24800000;
        configuracion_ais.llatitud_shipras[1] = 24900000;
    }
    sim::Mcp7940 clock;
};

// ---- GPS ---------------------------------------------------------------------

const std::string kRmc = "GPRMC,123456.00,A,4124.56789,N,00212.34560,E,0.1,0.0,150324,,,A";

TEST_F(AisTrafficTest, ClockIsSetFromAValidRmcOnceSatellitesAreKnown) {
    const struct {
        const char* description;
        std::string burst;
        uint8_t pc_silence;  // seconds without PC traffic
        bool set;
        uint8_t synchronisation;
    } cases[] = {
        {"GGA with satellites, then RMC",
         nmea("GPGGA,123455,4124.5,N,00212.3,E,1,07,0.9,10,M,,M,,") + nmea(kRmc), 0, true, 0},
        {"PC gone quiet", nmea("GPGGA,123455,,,,,1,07,0.9,,,,,,") + nmea(kRmc), 120, true, 1},
        {"no satellites", nmea("GPGGA,123455,,,,,1,,0.9,,,,,,") + nmea(kRmc), 0, false, 3},
        {"status V",
         nmea("GPGGA,123455,,,,,1,07,0.9,,,,,,") +
             nmea("GPRMC,123456.00,V,4124.56789,N,00212.34560,E,,,150324,,,N"),
         0, false, 3},
        {"no such date",
         nmea("GPGGA,123455,,,,,1,07,0.9,,,,,,") +
             nmea("GPRMC,123456.00,A,4124.56789,N,00212.34560,E,,,310224,,,A"),
         0, false, 3},
    };
    for (const auto& c : cases) {
        ktr09.cdia_utc = 1;
        stais.cnueva_sincronizacion_horaria = 3;
        stais.csegundos_sin_tramas_deteccion_usb = c.pc_silence;
        burst(c.burst);
        EXPECT_EQ(c.set, ktr09.cdia_utc == 15) << c.description;
        EXPECT_EQ(c.synchronisation, stais.cnueva_sincronizacion_horaria) << c.description;
        if (c.set) {
            EXPECT_EQ(3, ktr09.cmes_utc);
            EXPECT_EQ(24, ktr09.cano_utc);
            EXPECT_EQ(12, ktr09.chora_utc);
            EXPECT_EQ(34, ktr09.cminuto_utc);
            EXPECT_EQ(56, ktr09.csegundo_utc);
        }
    }
    EXPECT_EQ(41, stais.cgrados_latitud);
    EXPECT_EQ(24, stais.cminutos_latitud);
    EXPECT_EQ(5678, stais.idiez_milesimas_minutos_latitud);
    EXPECT_EQ(2, stais.cgrados_longitud);
    EXPECT_EQ(12, stais.cminutos_longitud);
    EXPECT_EQ(3456, stais.idiez_milesimas_minutos_longitud);
    EXPECT_EQ('E', stais.ceste_oeste);
}

TEST_F(AisTrafficTest, HdopInTenths) {
    const struct {
        const char* hdop;
        uint8_t tenths;
    } cases[] = {{"0.9", 9}, {"1.25", 12}, {"10.0", 100}, {"25.0", 99}, {"", 99}, {"-8.0", 99}};
    for (const auto& c : cases) {
        burst(nmea(std::string("GPGGA,123455,,,,,1,07,") + c.hdop + ",,,,,,"));
        EXPECT_EQ(c.tenths, stais.cqgps) << c.hdop;
    }
}

TEST_F(AisTrafficTest, GpsSentenceRules) {
    stais.cnueva_sincronizacion_horaria = 0;
    // While the GPS output is being switched off nothing counts.
    stais.ccomando = 1;
    stais.csegundos_sin_tramas_gps_ais = 7;
    burst(nmea("GPGSV,1,1,00"));
    EXPECT_EQ(7, stais.csegundos_sin_tramas_gps_ais);
    EXPECT_EQ(1, stais.ccomando);
    // Switching it on is done by the first sentence.
    stais.ccomando = 14;
    burst(nmea("GPGSV,1,1,00"));
    EXPECT_EQ(0, stais.ccomando);
    EXPECT_EQ(0, stais.csegundos_sin_tramas_gps_ais);
    // A kind the station does not use asks for the filter again.
    burst(nmea("GPGSA,A,3,,,,,,,,,,,,,1.0,0.9,0.5"));
    EXPECT_EQ(2, stais.ccomando);
    // A due synchronisation without GGA for 5 s.
    stais.ccomando = 0;
    stais.cnueva_sincronizacion_horaria = 3;
    stais.ctimeout_frame_rmc = 5;
    stais.ctimeout_frame_gga = 0;
    usb();
    burst(nmea("GPGSV,1,1,00"));
    EXPECT_EQ("Timeout frame GPS\r\n", usb());
    EXPECT_EQ(2, stais.ccomando);
    // Neither moves an identity query on: its reply would then look like a
    // PC program's.
    for (uint8_t query : {3, 17}) {
        stais.ccomando = query;
        burst(nmea("GPGSA,A,3,,,,,,,,,,,,,1.0,0.9,0.5"));
        EXPECT_EQ(query, stais.ccomando);
        burst(nmea("GPGSV,1,1,00"));
        EXPECT_EQ(query, stais.ccomando);
    }
}

// ---- Own transmissions -------------------------------------------------------------

TEST_F(AisTrafficTest, ConfirmationsLoadTheNextCountdowns) {
    codec::Message msg8;
    msg8.numbers = {{"type", 8}, {"mmsi", kMmsi}, {"dac", 1}, {"fid", 31}};
    const struct {
        uint16_t period;
        uint16_t countdown;
    } cases[] = {{180, 175}, {3, 2}, {0, 77}};
    for (const auto& c : cases) {
        stais.ifrecuencia_msg8 = c.period;
        stais.itimeout_tx_msg8 = 77;
        burst(ais(msg8, true));
        EXPECT_EQ(c.countdown, stais.itimeout_tx_msg8) << c.period;
    }
    stais.lmmsi = 0xFFFFFFFF;
    burst(ais(msg8, true));
    EXPECT_EQ(3, stais.ccomando) << "the own MMSI is asked for first";
}

TEST_F(AisTrafficTest, LastPartOfAMessage6EndsTheRelay) {
    codec::Message msg6;
    msg6.numbers = {
        {"type", 6}, {"mmsi", kMmsi}, {"dest_mmsi", 235040000}, {"dac", 11}, {"fid", 11}};
    stais.ccanal_msg6 = 1;
    sensor[1].cnew_msg6 = 2;
    stais.ccantidad_partes_paquete = 2;
    stais.cpartes_paquete_tx = 0;
    stais.cmsg6_sin_confirmar = 1;
    burst(ais(msg6, true));
    EXPECT_EQ("Siguiente parte a tx\r\n", usb());
    EXPECT_EQ(2, sensor[1].cnew_msg6);
    // The same report again counts no second part.
    burst(ais(msg6, true));
    EXPECT_EQ("", usb());
    EXPECT_EQ(2, sensor[1].cnew_msg6);
    stais.cmsg6_sin_confirmar = 1;
    burst(ais(msg6, true));
    EXPECT_EQ("Fin tx paquete\r\n", usb());
    EXPECT_EQ(0, sensor[1].cnew_msg6);
    EXPECT_EQ(0xFF, stais.ccanal_msg6);
    EXPECT_EQ(11, stais.ccomando);
}

TEST_F(AisTrafficTest, OwnAtonReportAndTheLightSupervision) {
    configuracion_ais.cenable_msg21 = 1;
    configuracion_ais.cinput_light_msg21 = 1;
    configuracion_ais.cinput_error_light_msg21 = 2;
    const struct {
        const char* description;
        uint32_t mmsi;
        unsigned status;
        bool virtual_aid;
        uint8_t light, error;  // input states
        uint8_t command;
    } cases[] = {
        {"light on as reported", kMmsi, 0xE2, false, 1, 0, 0},
        {"light went off", kMmsi, 0xE2, false, 0, 0, 22},
        {"light failed", kMmsi, 0xE2, false, 1, 1, 21},
        {"light back on", kMmsi, 0xE4, false, 1, 0, 23},
        {"unused bits are not compared", kMmsi, 0xFB, false, 1, 0, 0},
        {"virtual AtoN", kMmsi, 0xE4, true, 1, 0, 0},
        {"another station", 123456789, 0xE4, false, 1, 0, 0},
    };
    for (const auto& c : cases) {
        stais.ccomando = 0;
        ktr09.cestados_entradas_externas[0] = c.light;
        ktr09.cestados_entradas_externas[1] = c.error;
        burst(ais(aton_report(c.mmsi, c.status, c.virtual_aid), true));
        EXPECT_EQ(c.command, stais.ccomando) << c.description;
    }
    EXPECT_EQ(0x00, stais.cbits_no_utilizados_caton_status) << "fixed by the first report";
    EXPECT_EQ(static_cast<uint32_t>((1 << 28) - 8 * 600000), stais.llongitud_ais_msg21);
    EXPECT_EQ(static_cast<uint32_t>(43 * 600000 + 22 * 10000), stais.llatitud_ais_msg21);
    EXPECT_EQ(1, stais.cposition_accurasy_msg21);
    inicializacion_ais(0);
    stais.lmmsi = kMmsi;
    stais.ccomando = 0;
    burst(ais(aton_report(kMmsi, 0xFB), true));
    EXPECT_EQ(0x19, stais.cbits_no_utilizados_caton_status) << "after a link restart";
}

// ---- Received traffic ---------------------------------------------------------

std::vector<std::string> msg6_sentences(unsigned count) {
    std::vector<std::string> out;
    for (unsigned k = 1; k <= count; ++k) {
        const std::string body = "AIVDM," + std::to_string(count) + "," + std::to_string(k) +
                                 ",5,A," + std::string(10, static_cast<char>('0' + k)) + "," +
                                 (k == count ? "4" : "0");
        out.push_back(codec::build_sentence('!', body));
    }
    out[0][out[0].find(",5,A,") + 5] = '6';  // message ID 6 in the first character
    out[0] = codec::build_sentence('!', out[0].substr(1, out[0].find('*') - 1));
    return out;
}

TEST_F(AisTrafficTest, Message6IsPutTogetherInOrderOnly) {
    configuracion_sensor[0].csensor = 2;
    const std::vector<std::string> parts = msg6_sentences(3);
    burst(parts[0] + parts[1] + parts[2]);
    EXPECT_EQ(30, stais.cposicion_datos_msg6);
    EXPECT_EQ(2, stais.cmsg6[10]);
    EXPECT_EQ(3, stais.cmsg6[29]);
    EXPECT_EQ(0, stais.cmsg6[0]) << "consumed by the data link";
    EXPECT_EQ(0, stais.ccantidad_total_frames_vdm_msg6_procesando);
    usb();
    burst(parts[0] + parts[2]);
    EXPECT_EQ("Error detectado\r\n", usb());
    EXPECT_EQ(0, stais.ccantidad_total_frames_vdm_msg6_procesando);
    // Longer than the 168 values the record holds: given up, nothing written past it.
    usb();
    stais.cposicion_datos_msg6 = 0;
    std::vector<std::string> fixed;
    for (const std::string& part : msg6_sentences(6)) {
        std::string body = part.substr(1, part.find('*') - 1);
        body.replace(body.find(",A,") + 3, 10, std::string(30, body[body.find(",A,") + 3]));
        fixed.push_back(codec::build_sentence('!', body));
    }
    burst(fixed[0] + fixed[1] + fixed[2] + fixed[3] + fixed[4] + fixed[5]);
    EXPECT_EQ("Error detectado\r\n", usb());
    EXPECT_LE(stais.cposicion_datos_msg6, sizeof(stais.cmsg6));
}

TEST_F(AisTrafficTest, ShipsInTheRectangle) {
    watch_rectangle(1400000, 1200000);
    const struct {
        const char* description;
        unsigned type;
        int64_t lat, lon;
        bool inside;
    } cases[] = {
        {"class A inside", 1, 24845000, 1300000, true},
        {"class A west of it", 3, 24845000, -1300000, false},
        {"on the corner", 2, 24900000, 1200000, true},
        {"just north", 1, 24900001, 1300000, false},
        {"class B inside", 18, 24850000, 1250000, true},
        {"class B south", 18, 24799999, 1250000, false},
        {"position not available", 1, 91 * 600000, 181 * 600000, false},
    };
    uint32_t mmsi = 200000000;
    for (const auto& c : cases) {
        shipras.ispeed_detectada = 0;
        shipras.cnew_msg12 = 0;
        burst(ais(ship(c.type, ++mmsi, c.lat, c.lon), false));
        EXPECT_EQ(c.inside ? 123 : 0, shipras.ispeed_detectada) << c.description;
        EXPECT_EQ(c.inside, shipras.cnew_msg12 == 1) << c.description;
        if (c.inside) {
            EXPECT_EQ(mmsi, shipras.lmmsi_detectado) << c.description;
            EXPECT_EQ(2705, shipras.irumbo_detectado) << c.description;
        }
    }
    configuracion_ais.cenable_shipras = 0;
    stais.cextraigo = 1;
    usb();
    burst(ais(ship(1, 300000000, 24845000, 1300000), false));
    EXPECT_EQ("", usb());
    EXPECT_NE(300000000u, shipras.lmmsi_detectado);
}

TEST_F(AisTrafficTest, OneWarningPerShipThatEnters) {
    watch_rectangle(1200000, 1400000);
    const std::string inside = ais(ship(1, 235040000, 24845000, 1300000), false);
    const std::string outside = ais(ship(1, 235040000, 24845000, 1500000), false);
    burst(inside);
    EXPECT_EQ(1, shipras.cnew_msg12);
    EXPECT_EQ(235040000u, shipras.lmmsi_detectado);
    shipras.cnew_msg12 = 0;  // the warning went out
    burst(inside);
    EXPECT_EQ(0, shipras.cnew_msg12) << "still inside: no second warning";
    burst(outside);
    burst(inside);
    EXPECT_EQ(1, shipras.cnew_msg12) << "back in after leaving";
    // A second ship while the first warning waits is warned after it.
    const std::string other = ais(ship(1, 244000001, 24845000, 1300000), false);
    burst(other);
    EXPECT_EQ(235040000u, shipras.lmmsi_detectado);
    shipras.cnew_msg12 = 0;
    burst(other);
    EXPECT_EQ(1, shipras.cnew_msg12);
    EXPECT_EQ(244000001u, shipras.lmmsi_detectado);
}

}  // namespace

namespace {

// Later fragments carry the rest of a payload: read as messages of their
// own, the second part of this recorded message 5 would be a class B report.
TEST_F(AisTrafficTest, OnlyTheFirstFragmentNamesTheMessage) {
    const std::string tail = "B:63d0B5Dp423888888888888880";
    const auto bits = codec::dearmour_payload(tail, 2);
    ASSERT_TRUE(bits.has_value());
    // Where it would put a class B boat (longitude and latitude fields of
    // message 18).
    const codec::BitReader phantom(*bits);
    ASSERT_EQ(18u, phantom.get(0, 6));
    const int64_t lon = phantom.get_signed(57, 28);
    const int64_t lat = phantom.get_signed(85, 27);
    configuracion_ais.cenable_shipras = 1;
    configuracion_ais.llongitud_shipras[0] = static_cast<int32_t>(lon - 1000);
    configuracion_ais.llongitud_shipras[1] = static_cast<int32_t>(lon + 1000);
    configuracion_ais.llatitud_shipras[0] = static_cast<int32_t>(lat - 1000);
    configuracion_ais.llatitud_shipras[1] = static_cast<int32_t>(lat + 1000);
    stais.cextraigo = 1;
    burst(
        "!AIVDM,2,1,1,B,53fHQv02=uEkTP7;73D=TLqE>222222222222216C8H,0*1D\r\n"
        "!AIVDM,2,2,1,B,B:63d0B5Dp423888888888888880,2*79\r\n");
    EXPECT_EQ(0, shipras.cnew_msg12) << "no warning to a ship that does not exist";
    EXPECT_EQ(std::string::npos, usb().find("Ship B"));
    // The same payload alone is a report inside the rectangle.
    burst(codec::build_sentence('!', "AIVDM,1,1,,B," + tail + ",2"));
    EXPECT_EQ(1, shipras.cnew_msg12);

    // The second part of an own two-part message confirms nothing.
    stais.itimeout_tx_msg12 = 40;
    stais.ifrecuencia_msg12 = 60;
    burst(codec::build_sentence('!', "AIVDO,2,2,3,A,<" + std::string(20, '0') + ",2"));
    EXPECT_EQ(40, stais.itimeout_tx_msg12);
    EXPECT_EQ(std::string::npos, usb().find("AIS sent"));
}

// A transponder may report a transmission before the station has stopped
// waiting for the request's reply, or while it waits on another command.
TEST_F(AisTrafficTest, AConfirmationCountsWheneverItComes) {
    codec::Message msg6;
    msg6.numbers = {
        {"type", 6}, {"mmsi", kMmsi}, {"dest_mmsi", 235040000}, {"dac", 11}, {"fid", 11}};
    codec::Message msg8;
    msg8.numbers = {{"type", 8}, {"mmsi", kMmsi}, {"dac", 1}, {"fid", 31}};
    codec::Message msg12;
    msg12.numbers = {{"type", 12}, {"mmsi", kMmsi}, {"dest_mmsi", 235040000}};
    msg12.texts = {{"text", "KEEP CLEAR"}};
    const struct {
        const char* description;
        uint8_t before;
        const codec::Message& message;
        bool waiting;
        uint8_t after;
        bool wait_ends;
    } cases[] = {
        {"message 8 while its request waits", 19, msg8, true, 0, true},
        {"message 8 before its request went out", 19, msg8, false, 19, false},
        {"message 8 while the antenna is read", 11, msg8, true, 11, false},
        {"message 12 while its request waits", 20, msg12, true, 0, true},
        {"last message 6 while its request waits", 16, msg6, true, 11, true},
        {"last message 6 while the supply is read", 12, msg6, true, 12, false},
        {"own AtoN report while a command waits", 11, aton_report(kMmsi, 0xE2), true, 11, false},
    };
    for (const auto& c : cases) {
        stais.ifrecuencia_msg8 = 180;
        stais.itimeout_tx_msg8 = 180;
        stais.itimeout_tx_msg12 = 60;
        stais.ccanal_msg6 = 0;
        sensor[0].cnew_msg6 = 1;
        stais.cmsg6_sin_confirmar = 1;
        stais.cprimer_msg_21_tras_reset = 1;
        stais.ccomando = c.before;
        stais.cesperando_respuesta = c.waiting ? 1 : 0;
        stais.ctimeout_respuesta_comando = 10;
        burst(ais(c.message, true));
        EXPECT_EQ(c.after, stais.ccomando) << c.description;
        EXPECT_EQ(c.waiting && !c.wait_ends ? 1 : 0, stais.cesperando_respuesta) << c.description;
        const int64_t type = c.message.number("type");
        EXPECT_EQ(type == 8 ? 175 : 180, stais.itimeout_tx_msg8) << c.description;
        EXPECT_EQ(type == 12 ? 0 : 60, stais.itimeout_tx_msg12) << c.description;
        EXPECT_EQ(type == 6 ? 0 : 1, sensor[0].cnew_msg6) << c.description;
        EXPECT_EQ(1, stais.cprimer_msg_21_tras_reset) << c.description;
    }
}

// Ships of a busy fairway, as many inside at once as the table holds: each
// is warned once, in the order they entered, while each warning waits for
// the one before it to go out.
TEST_F(AisTrafficTest, EveryShipThatEntersIsWarnedOnceInTurn) {
    watch_rectangle(1200000, 1400000);
    constexpr uint32_t kFirst = 244000000;
    constexpr unsigned kShips = CBARCOS_EN_ZONA;
    std::vector<std::string> reports;
    for (unsigned i = 0; i < kShips; ++i) {
        reports.push_back(ais(ship(i % 2 ? 18 : 1, kFirst + i, 24845000, 1300000), false));
    }
    std::vector<uint32_t> warned;
    // The sequencer sends a pending warning now and then; meanwhile every
    // ship keeps reporting from inside.
    auto send_pending = [&warned] {
        if (shipras.cnew_msg12 == 1) {
            warned.push_back(shipras.lmmsi_detectado);
            shipras.cnew_msg12 = 0;
            siguiente_aviso_msg12();
        }
    };
    for (unsigned round = 0; round < 3; ++round) {
        for (unsigned i = 0; i < kShips; ++i) {
            burst(reports[i]);
            if (i % 3 == 0) {
                send_pending();
            }
        }
    }
    for (unsigned i = 0; i < kShips; ++i) {
        send_pending();
    }
    ASSERT_EQ(kShips, warned.size());
    for (unsigned i = 0; i < kShips; ++i) {
        EXPECT_EQ(kFirst + i, warned[i]) << i;
    }
    // Ships silent for ten minutes are forgotten; one that reports inside
    // again is a new arrival. Nine minutes are not enough.
    for (int minute = 0; minute < 9; ++minute) {
        envejecimiento_barcos();
    }
    burst(reports[0]);
    EXPECT_EQ(0, shipras.cnew_msg12);
    envejecimiento_barcos();
    burst(reports[1]);
    EXPECT_EQ(1, shipras.cnew_msg12) << "silent for ten minutes: forgotten";
    EXPECT_EQ(kFirst + 1, shipras.lmmsi_detectado);
    shipras.cnew_msg12 = 0;
    burst(reports[0]);
    EXPECT_EQ(0, shipras.cnew_msg12) << "it reported a minute ago";
}

// A warning not yet sent is withdrawn when its ship leaves, in favour of the
// next ship waiting; a full table gives up the warned ship silent longest.
TEST_F(AisTrafficTest, WarningsFollowTheShipsThatAreStillThere) {
    watch_rectangle(1200000, 1400000);
    auto report = [](uint32_t mmsi, bool inside) {
        return ais(ship(1, mmsi, 24845000, inside ? 1300000 : 1500000), false);
    };
    burst(report(244000001, true));
    burst(report(244000002, true));
    ASSERT_EQ(244000001u, shipras.lmmsi_detectado);
    burst(report(244000001, false));
    EXPECT_EQ(1, shipras.cnew_msg12);
    EXPECT_EQ(244000002u, shipras.lmmsi_detectado) << "the next ship's turn";
    burst(report(244000002, false));
    EXPECT_EQ(0, shipras.cnew_msg12) << "nobody left to warn";

    for (uint32_t i = 0; i < CBARCOS_EN_ZONA; ++i) {
        burst(report(245000000 + i, true));
        shipras.cnew_msg12 = 0;
        siguiente_aviso_msg12();
    }
    envejecimiento_barcos();
    burst(report(245000000, true));  // heard a minute after the others
    burst(report(246000000, true));
    EXPECT_EQ(1, shipras.cnew_msg12) << "a newcomer to a full table is warned";
    EXPECT_EQ(246000000u, shipras.lmmsi_detectado);
    shipras.cnew_msg12 = 0;
    burst(report(245000000, true));
    EXPECT_EQ(0, shipras.cnew_msg12) << "the ship heard last is kept";
    burst(report(245000001, true));
    EXPECT_EQ(1, shipras.cnew_msg12) << "the one silent longest was given up";
}

}  // namespace
