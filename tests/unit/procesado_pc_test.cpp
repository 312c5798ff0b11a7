// PC link requests against the EEPROM model: reads, writes and acknowledges
// answered on the port they came from, the limits of a frame's counts, and
// the configuration dump that follows a read.
#include <Wire.h>

#include <string>
#include <vector>

#include "codec/config_image.h"
#include "codec/pc_frame.h"
#include "devices/eeprom_24xx64.h"
#include "i2c.h"
#include "procesado.h"
#include "support/firmware_fixture.h"

namespace {

constexpr uint8_t kUsb = 0xFF;

struct Recorder : host::UartPeer {
    std::vector<uint8_t> bytes;
    void on_byte_from_station(uint8_t byte) override { bytes.push_back(byte); }
};

class PcLinkTest : public FirmwareTest {
  protected:
    void SetUp() override {
        FirmwareTest::SetUp();
        start_tick();
        Wire.begin();
        image = codec::encode_image(codec::default_station_config());
        eeprom.load(image);
        host::attach_i2c_device(sim::Eeprom24xx64::kAddress, &eeprom);
    }
    // The request executed as from `port`; what came back on the USB port.
    std::vector<uint8_t> request(const std::vector<uint8_t>& frame, uint8_t port = kUsb) {
        std::vector<uint8_t> buffer(frame);
        buffer.resize(1024, 0xEE);  // what follows a frame in a channel's buffer
        usb();
        procesar_trama(buffer.data(), port);
        const std::string out = usb();
        return std::vector<uint8_t>(out.begin(), out.end());
    }
    // The reply frame inside what the station printed.
    static std::optional<codec::PcFrame> reply_in(const std::vector<uint8_t>& out) {
        for (size_t at = 0; at + 4 <= out.size(); ++at) {
            if (out[at] == '#' && out[at + 1] == 'J') {
                return codec::parse_pc_frame(std::vector<uint8_t>(out.begin() + at, out.end()));
            }
        }
        return std::nullopt;
    }
    std::vector<uint8_t> image;
    sim::Eeprom24xx64 eeprom;
};

TEST_F(PcLinkTest, ReadRepliesWithTheBytesAndShowsTheConfiguration) {
    const std::vector<uint8_t> out = request(codec::pc_read_request(0x10, 5, 3));
    const auto reply = reply_in(out);
    ASSERT_TRUE(reply);
    EXPECT_EQ(codec::kPcRead, reply->command);
    EXPECT_EQ(3, reply->subcommand);
    EXPECT_EQ(0x10u, reply->address);
    EXPECT_EQ(1, reply->count_or_result);
    EXPECT_EQ(std::vector<uint8_t>(image.begin() + 0x10, image.begin() + 0x15), reply->data);
    const std::string text(out.begin(), out.end());
    EXPECT_NE(std::string::npos, text.find("Trama de tipo lectura.\r\nAntes de leer EEPROM\r\n"));
    EXPECT_NE(std::string::npos,
              text.find("\r\nSensor 2: 0\r\nSensor 3: 0\r\nAIS ctipo_comunicacion: 0\r\n"));
}

TEST_F(PcLinkTest, ReadIsLimitedToWhatOneReplyCarries) {
    const auto reply = reply_in(request(codec::pc_read_request(0, 200)));
    ASSERT_TRUE(reply);
    EXPECT_EQ(128u, reply->data.size());
}

TEST_F(PcLinkTest, WritesOnlyWhatTheFrameCarries) {
    const std::vector<uint8_t> data = {9, 8, 7};
    auto reply = reply_in(request(codec::pc_write_request(0x1000, data)));
    ASSERT_TRUE(reply);
    EXPECT_EQ(codec::kPcWrite, reply->command);
    EXPECT_EQ(1, reply->count_or_result);
    EXPECT_TRUE(reply->data.empty());
    EXPECT_EQ(data, std::vector<uint8_t>(eeprom.contents().begin() + 0x1000,
                                         eeprom.contents().begin() + 0x1003));
    // A count larger than the data the frame holds: nothing written, no reply.
    std::vector<uint8_t> lying = codec::pc_write_request(0x1100, data);
    lying[10] = 100;
    const uint16_t crc = calculo_crc16(lying.data(), static_cast<uint16_t>(lying.size() - 2));
    lying[lying.size() - 2] = static_cast<uint8_t>(crc >> 8);
    lying[lying.size() - 1] = static_cast<uint8_t>(crc);
    EXPECT_FALSE(reply_in(request(lying)));
    EXPECT_EQ(0xFF, eeprom.contents()[0x1100]);
}

// On the chip a write past 0x1FFF wraps round onto configuration block 1.
TEST_F(PcLinkTest, WritesEndAtTheEepromsLastByte) {
    const struct {
        uint32_t address;
        size_t count;
        bool done;
    } cases[] = {
        {0x1FF0, 16, true}, {0x1FFF, 1, true},  {0x1FF1, 16, false},
        {0x1FFF, 2, false}, {0x2000, 1, false}, {0x10000, 1, false},
    };
    for (const auto& c : cases) {
        eeprom.load(image);
        const auto reply = reply_in(
            request(codec::pc_write_request(c.address, std::vector<uint8_t>(c.count, 0x5A), 1)));
        EXPECT_EQ(c.done, reply.has_value()) << std::hex << c.address << " +" << c.count;
        size_t changed = 0;
        for (size_t at = 0; at < image.size(); ++at) {
            changed += eeprom.contents()[at] != image[at] ? 1 : 0;
        }
        EXPECT_EQ(c.done ? c.count : 0, changed) << std::hex << c.address << " +" << c.count;
    }
}

TEST_F(PcLinkTest, TheLastBlockReloadsTheConfiguration) {
    configuracion_sensor[0].csensor = 0;
    request(codec::pc_write_request(0, {3}, 0));
    EXPECT_EQ(0, configuracion_sensor[0].csensor) << "sub-command 0 only writes";
    const std::string text = [&] {
        const auto out = request(codec::pc_write_request(1, {2}, 1));
        return std::string(out.begin(), out.end());
    }();
    EXPECT_NE(std::string::npos, text.find("Actualizar estructuras."));
    EXPECT_EQ(3, configuracion_sensor[0].csensor);
    EXPECT_EQ(2, configuracion_sensor[1].csensor);
}

TEST_F(PcLinkTest, RepliesOnThePortOfTheRequestAndNothingForAnUnknownCommand) {
    Recorder channel2;
    host::attach_uart_peer(1, &channel2);
    Serial1.begin(38400);
    pinMode(42, OUTPUT);
    digitalWrite(42, LOW);  // its line driver on
    EXPECT_FALSE(
        reply_in(request(codec::build_pc_frame({false, codec::kPcAcknowledge, 0, 7, 0, {}}), 1)))
        << "nothing on the USB port";
    spend(50 * host::kMillisecond);
    const auto reply = codec::parse_pc_frame(channel2.bytes);
    ASSERT_TRUE(reply);
    EXPECT_EQ(codec::kPcAcknowledge, reply->command);
    EXPECT_EQ(0, reply->count_or_result);
    channel2.bytes.clear();
    request(codec::build_pc_frame({false, 9, 0, 7, 0, {}}), 1);
    spend(50 * host::kMillisecond);
    EXPECT_TRUE(channel2.bytes.empty());
    host::attach_uart_peer(1, nullptr);
}

TEST_F(PcLinkTest, DumpListsDevicesOnlyWhenConfiguredAndSignedPositions) {
    configuracion_sensor[0].csensor = 0;
    configuracion_sensor[1].csensor = 3;
    configuracion_ais.llatitud_shipras[0] = -1234;
    Mostrar_Pantalla_Estructuras();
    const std::string text = usb();
    EXPECT_EQ(std::string::npos, text.find("DISP 1"));
    EXPECT_NE(std::string::npos, text.find("DISP 2 csample_interval: "));
    EXPECT_NE(std::string::npos, text.find("AIS A Lat: -1234\r\n"));
    EXPECT_NE(std::string::npos, text.find("itemporizacion_entrada_externa 4: "));
    EXPECT_NE(std::string::npos, text.find("ftension_alarma_bateria_off : "));
}

}  // namespace
