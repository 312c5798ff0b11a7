// Base station and TIDELINK channels: the heartbeat, the !AIABM request that
// becomes a message 6, data-link frames split into message 6 parts, and the
// parts heard on the air put together again for the device.
#include <Wire.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "ais.h"
#include "codec/ais_bits.h"
#include "codec/ais_sentences.h"
#include "codec/nmea.h"
#include "comunicaciones_canales.h"
#include "comunicaciones_tidelink_estacion_base.h"
#include "devices/mcp7940.h"
#include "support/firmware_fixture.h"

namespace {

constexpr uint8_t kPorts[2] = {3, 1};

std::string hex2(uint8_t value) {
    char text[3];
    std::snprintf(text, sizeof(text), "%02X", value);
    return text;
}

class BytePeer : public host::UartPeer {
  public:
    void on_byte_from_station(uint8_t byte) override { text += static_cast<char>(byte); }
    std::string take() { return std::exchange(text, {}); }
    std::string text;
};

class DataLinkTest : public FirmwareTest {
  protected:
    void SetUp() override {
        FirmwareTest::SetUp();
        start_tick();
        Wire.begin();
        host::attach_i2c_device(sim::Mcp7940::kAddress, &clock);
        std::strcpy(configuracion_ktr09.cnombre, "KTR09");
        inicializacion_ais(1);
        stais.lmmsi = 992471001;
        for (uint8_t channel = 0; channel < 2; ++channel) {
            configuracion_sensor[channel] = stconfiguracion_sensor{2, 1, 2, 0, 0, 10, 1, 60};
            inicializacion_sensor(1, channel);
            host::attach_uart_peer(kPorts[channel], &peers[channel]);
        }
        usb();
    }
    void block_from_device(uint8_t channel, const std::string& text) {
        std::memcpy(sensor[channel].cframe_rx, text.data(), text.size());
        sensor[channel].ibytes_rx = static_cast<uint16_t>(text.size());
        configuracion_sensor[channel].csensor == 1 ? procesamos_trama_rx_estacion_base(channel)
                                                   : procesamos_trama_rx_tidelink(channel);
    }
    // A message 6 heard from another station, its application data after
    // the 72-bit header.
    static void heard(const codec::Bits& data) {
        codec::BitWriter bits;
        bits.put(6, 6);
        bits.put(0, 2);
        bits.put(244000001, 30);
        bits.put(0, 2);
        bits.put(992471001, 30);
        bits.put(0, 2);
        bits.put_bits(data);
        std::string text;
        for (const std::string& s : codec::vdm_sentences(bits.bits())) {
            text += s;
        }
        std::memcpy(stais.cframe_rx, text.data(), text.size());
        stais.ibytes_rx = static_cast<uint16_t>(text.size());
        procesamos_trama_rx_ais();
    }
    static codec::Bits part(unsigned dac, unsigned number, unsigned total,
                            const std::string& bytes) {
        codec::BitWriter bits;
        bits.put(dac, 10);
        bits.put(11, 6);
        bits.put(total * 16 + number, 8);
        for (char c : bytes) {
            bits.put(static_cast<uint8_t>(c), 8);
        }
        return bits.bits();
    }
    // The tag block that opens a record: \s:...*hh\ with its checksum right.
    static std::string after_tag_block(const std::string& text) {
        EXPECT_EQ('\\', text.front());
        const size_t star = text.find('*');
        const size_t end = text.find('\\', 1);
        EXPECT_TRUE(star != std::string::npos && end == star + 3) << text;
        if (star == std::string::npos || end != star + 3) {
            return text;
        }
        EXPECT_EQ(hex2(codec::nmea_checksum(text.substr(1, star - 1))), text.substr(star + 1, 2));
        return text.substr(end + 1);
    }
    static std::string frame(const std::string& body) {
        return body + "*" + hex2(codec::nmea_checksum(body)) + "\r\n";
    }
    sim::Mcp7940 clock;
    BytePeer peers[2];
};

TEST_F(DataLinkTest, HeartbeatPeriodStatusAndSequence) {
    configuracion_sensor[0].csensor = 1;
    ktr09.csincronizada = 1;
    const struct {
        uint8_t period, sequence, link_alarm, low_battery;
        const char* body;
    } cases[] = {
        {60, 0, 0, 0, "AIHBT,6,A,0"},   {65, 1, 0, 1, "AIHBT,6.5,C,1"},
        {61, 2, 1, 1, "AIHBT,6.1,B,2"}, {255, 255, 1, 0, "AIHBT,25.5,B,255"},
        {5, 0, 0, 0, "AIHBT,0.5,A,0"},
    };
    for (const auto& c : cases) {
        configuracion_sensor[0].ctimeout_datos_validos = c.period;
        sensor[0].cid_secuencial = c.sequence;
        stais.calarma = c.link_alarm;
        ktr09.calarma_low_battery = c.low_battery;
        sensor[0].ctimeout_datos_validos = 0;
        envio_comandos_estacion_base(0);
        EXPECT_EQ("", peers[0].text) << "due first, sent on the next pass";
        envio_comandos_estacion_base(0);
        EXPECT_EQ(codec::build_sentence('$', c.body), after_tag_block(peers[0].take()));
        EXPECT_EQ(static_cast<uint8_t>(c.sequence + 1), sensor[0].cid_secuencial);
        EXPECT_EQ(c.period, sensor[0].ctimeout_datos_validos);
    }
    ktr09.csincronizada = 0;
    sensor[0].ctimeout_datos_validos = 0;
    envio_comandos_estacion_base(0);
    envio_comandos_estacion_base(0);
    EXPECT_EQ("", peers[0].text) << "no heartbeat before the clock is set";
}

TEST_F(DataLinkTest, AbmRequestBecomesTheChannelsMessage6) {
    configuracion_sensor[0].csensor = 1;
    block_from_device(0, frame("!AIABM,1,1,0,123456789,0,6,ABCD,0"));
    EXPECT_EQ(123456789u, sensor[0].lmmsi_destino_msg6);
    EXPECT_EQ(4, sensor[0].cpayload_msg6[0]);
    EXPECT_EQ("ABCD", std::string(reinterpret_cast<char*>(&sensor[0].cpayload_msg6[1]), 4));
    EXPECT_EQ(1, sensor[0].cnew_msg6);

    sensor[0].cnew_msg6 = 0;
    block_from_device(0, frame("!AIABM,1,1,0,,0,6,EF,0"));
    EXPECT_EQ(123456789u, sensor[0].lmmsi_destino_msg6) << "a missing MMSI keeps the last";
    EXPECT_EQ(2, sensor[0].cpayload_msg6[0]);
    for (const char* other : {"!AIABM,1,1,0,1,0,6,,0*00\r\n", "$AIABM,1,1,0,1,0,6,X,0*00\r\n",
                              "!AIABM,1,1,0,1,0,6,X,0*00\n"}) {
        sensor[0].cnew_msg6 = 0;
        block_from_device(0, other);
        EXPECT_EQ(0, sensor[0].cnew_msg6) << other;
    }
}

TEST_F(DataLinkTest, DeviceFramesThatGoOutInParts) {
    const std::string head = "2,1,2,3,T$1,";
    const struct {
        std::string frame;
        uint8_t parts;  // 0: logged only
    } cases[] = {
        {frame(head + std::string(61 - 5 - head.size(), 'x')), 1},
        {frame(head + std::string(62 - 5 - head.size(), 'x')), 2},
        {frame(head + std::string(122 - 5 - head.size(), 'x')), 2},
        {frame(head + std::string(123 - 5 - head.size(), 'x')), 3},
        {frame("2,1,2,3,M$5"), 1},
        {frame("3,1,2,3,T$1"), 0},
        {frame("2,1,2,3,X$1"), 0},
        {frame("2,1,2,3,T$1").replace(13, 1, "0"), 0},
        {frame(head + std::string(300, 'x')), 0},
    };
    for (const auto& c : cases) {
        sensor[0].cnew_msg6 = 0;
        stais.ccantidad_partes_paquete = 0;
        block_from_device(0, c.frame);
        EXPECT_EQ(c.parts == 0 ? 0 : 2, sensor[0].cnew_msg6) << c.frame;
        if (c.parts != 0) {
            EXPECT_EQ(c.parts, stais.ccantidad_partes_paquete) << c.frame;
            EXPECT_EQ(c.frame.size(), stais.ilongitud_paquete);
        }
    }
}

TEST_F(DataLinkTest, PartsHeardAreDeliveredWholeOnceInOrderOnly) {
    heard(part(11, 1, 1, "ONE"));
    EXPECT_EQ("ONE", after_tag_block(peers[0].take()));
    EXPECT_EQ("ONE", after_tag_block(peers[1].take())) << "every TIDELINK channel";

    heard(part(11, 1, 2, "first "));
    block_from_device(0, "bytes from the device meanwhile\r\n");
    EXPECT_EQ("", peers[0].text);
    heard(part(11, 2, 2, "second"));
    EXPECT_EQ("first second", after_tag_block(peers[0].take()));
    peers[1].take();

    const struct {
        std::vector<codec::Bits> parts;
        const char* delivered;
    } cases[] = {
        {{part(11, 1, 3, "a"), part(11, 1, 3, "b"), part(11, 2, 3, "c"), part(11, 3, 3, "d")},
         "bcd"},
        {{part(11, 1, 3, "a"), part(11, 3, 3, "c")}, ""},
        {{part(11, 2, 2, "b")}, ""},
        {{part(1, 1, 1, "x")}, ""},
        {{part(11, 0, 0, "x")}, ""},
    };
    for (const auto& c : cases) {
        for (const codec::Bits& bits : c.parts) {
            heard(bits);
        }
        const std::string out = peers[1].take();
        EXPECT_EQ(c.delivered, out.empty() ? out : after_tag_block(out));
    }
}

// A 123-byte frame from the device of one channel, as three messages 6 of
// 61, 61 and 1 bytes, arrives whole at the device of the other.
TEST_F(DataLinkTest, FramesPartsAsSentArriveWhole) {
    const std::string head = "2,1,2,3,T$1,";
    const std::string sent = frame(head + std::string(123 - 5 - head.size(), 'z'));
    block_from_device(0, sent);
    configuracion_sensor[0].csensor = 1;
    const unsigned headers[3] = {0x31, 0x32, 0x33};
    for (uint8_t k = 0; k < 3; ++k) {
        stais.cpartes_paquete_tx = k;
        codifico_datos_trama_nmea_mensaje_6(0);
        const unsigned char* payload = sensor[0].cpayload_msg6;
        const std::string chars(reinterpret_cast<const char*>(&payload[1]), payload[0]);
        codec::Bits bits = *codec::dearmour_payload(chars, 0);
        bits.resize(bits.size() / 8 * 8);  // the request's fill bits
        EXPECT_EQ(headers[k], codec::BitReader(bits).get(16, 8));
        heard(bits);
    }
    EXPECT_EQ(sent, after_tag_block(peers[1].take()));
}

}  // namespace
