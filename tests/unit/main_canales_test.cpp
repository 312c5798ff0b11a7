// Serial channels: line-driver pins, speeds, opening and closing, burst gathering.
#include "ktr09_board.h"
#include "support/firmware_fixture.h"

#include <vector>

#include "procesado.h"
#include "support/pc_frame.h"

namespace {

struct ChannelPins {
    uint8_t channel;
    uint8_t uart;
    uint32_t disable;
    uint32_t mode[4];
};

constexpr ChannelPins kChannels[3] = {
    {0, 3, 29, {15, 17, 16, 14}},
    {1, 1, 42, {38, 28, 22, 23}},
    {2, 0, 10, {4, 5, 11, 12}},
};

class ChannelTest : public FirmwareTest {};

// Expected levels: 0/1, or -1 for "left as it was".
struct LineCase {
    uint8_t type;
    uint8_t first_time;
    int mode[4];
    int disable;
};

TEST_F(ChannelTest, LineTypesSetTheDriverPins) {
    const LineCase cases[] = {
        {0, 1, {-1, -1, -1, -1}, 1}, {1, 1, {1, 0, 0, 0}, 0},      {2, 1, {1, 1, 0, 1}, 0},
        {3, 1, {0, 0, 1, 1}, 0},     {4, 1, {0, 0, 0, 1}, 0},      {3, 0, {0, 0, -1, 1}, 0},
        {4, 0, {0, 0, -1, 1}, 0},    {5, 1, {-1, -1, -1, -1}, -1}, {200, 1, {-1, -1, -1, -1}, -1},
    };
    for (const ChannelPins& ch : kChannels) {
        for (const LineCase& c : cases) {
            for (int before : {0, 1}) {
                SCOPED_TRACE(testing::Message()
                             << "channel " << int(ch.channel) << " type " << int(c.type)
                             << " first " << int(c.first_time) << " pins before " << before);
                for (uint32_t pin : ch.mode) {
                    digitalWrite(pin, before);
                }
                digitalWrite(ch.disable, before);
                configuracion_canal(ch.channel, c.type, c.first_time);
                for (int k = 0; k < 4; ++k) {
                    int expected = c.mode[k] < 0 ? before : c.mode[k];
                    // Sensor channel 1 keeps M3 and M4 for RS232.
                    if (ch.channel == 0 && c.type == 1 && k >= 2) {
                        expected = before;
                    }
                    EXPECT_EQ(expected, host::output_level(ch.mode[k])) << "M" << k + 1;
                }
                EXPECT_EQ(c.disable < 0 ? before : c.disable, host::output_level(ch.disable));
            }
        }
    }
}

TEST_F(ChannelTest, UnknownChannelIndexChangesNothing) {
    for (const ChannelPins& ch : kChannels) {
        digitalWrite(ch.disable, HIGH);
    }
    configuracion_canal(3, 1, 1);
    configuracion_canal(255, 1, 1);
    for (const ChannelPins& ch : kChannels) {
        EXPECT_EQ(1, host::output_level(ch.disable));
    }
}

TEST_F(ChannelTest, BaudRateCodes) {
    const uint32_t expected[] = {2400, 4800, 9600, 19200, 38400, 57600, 115200, 38400, 38400};
    for (uint8_t code = 0; code < 9; ++code) {
        EXPECT_EQ(expected[code], velocidad_canal(code)) << int(code);
        configuracion_sensor[0].ctipo_comunicacion = 1;
        configuracion_sensor[0].cbaudios_comunicacion = code;
        inicializacion_canales(0);
        const host::UartStatus status = host::uart_status(3);
        EXPECT_TRUE(status.open);
        EXPECT_EQ(expected[code], status.baud) << int(code);
    }
}

void configure_all_rs232() {
    configuracion_ais.ctipo_comunicacion = 1;
    configuracion_ais.cbaudios = 4;
    for (int i = 0; i < 2; ++i) {
        configuracion_sensor[i].ctipo_comunicacion = 1;
        configuracion_sensor[i].cbaudios_comunicacion = 2;
    }
}

TEST_F(ChannelTest, OpeningAllOpensEachUartWithItsDriver) {
    configure_all_rs232();
    for (const ChannelPins& ch : kChannels) {
        digitalWrite(ch.disable, HIGH);
    }
    inicializacion_canales(255);
    for (const ChannelPins& ch : kChannels) {
        const host::UartStatus status = host::uart_status(ch.uart);
        EXPECT_TRUE(status.open) << int(ch.channel);
        EXPECT_TRUE(status.driver_enabled) << int(ch.channel);
        EXPECT_EQ(ch.channel == 2 ? 38400u : 9600u, status.baud);
    }
    disable_canal(1);
    EXPECT_FALSE(host::uart_status(1).open);
    EXPECT_EQ(1, host::output_level(board::kSensor2Driver.disable));
    EXPECT_TRUE(host::uart_status(3).open);
    disable_canal(255);
    for (const ChannelPins& ch : kChannels) {
        EXPECT_FALSE(host::uart_status(ch.uart).open);
        EXPECT_EQ(1, host::output_level(ch.disable));
    }
}

TEST_F(ChannelTest, IndexThreeOpensAndClosesNothing) {
    configure_all_rs232();
    inicializacion_canales(3);
    for (const ChannelPins& ch : kChannels) {
        EXPECT_FALSE(host::uart_status(ch.uart).open);
    }
    inicializacion_canales(255);
    disable_canal(3);
    for (const ChannelPins& ch : kChannels) {
        EXPECT_TRUE(host::uart_status(ch.uart).open);
        EXPECT_EQ(0, host::output_level(ch.disable));
    }
}

TEST_F(ChannelTest, TypeZeroLeavesTheChannelOffAndClosed) {
    configure_all_rs232();
    inicializacion_canales(255);
    configuracion_sensor[1].ctipo_comunicacion = 0;
    inicializacion_canales(1);
    EXPECT_FALSE(host::uart_status(1).open);
    EXPECT_EQ(1, host::output_level(board::kSensor2Driver.disable));
}

// ---- Bursts ---------------------------------------------------------------

class BurstTest : public FirmwareTest {
  protected:
    void SetUp() override {
        FirmwareTest::SetUp();
        start_tick();
        configure_all_rs232();
        inicializacion_canales(0);
    }
    static void send_at(host::Micros when, const std::string& text) {
        host::schedule_at(when, [text] { host::uart_peer_send(3, text, 9600); });
    }
    // Waits (in virtual time) for the first byte, then gathers the burst.
    static void gather() {
        while (Serial3.available() == 0) {
            (void)millis();
        }
        procesamos_canal(0);
    }
    static std::string held(size_t n) {
        return std::string(reinterpret_cast<const char*>(sensor[0].cframe_rx), n);
    }
};

constexpr host::Micros kByteTime = 10 * host::kSecond / 9600;

TEST_F(BurstTest, SilenceOfTenMillisecondsEndsTheBurst) {
    const host::Micros t0 = host::now() + host::kMillisecond;
    send_at(t0, "ABC");
    send_at(t0 + 3 * kByteTime + 7 * host::kMillisecond, "DEF");  // a 7 ms gap: same burst
    gather();
    const host::Micros last_byte = t0 + 6 * kByteTime + 7 * host::kMillisecond;
    EXPECT_EQ("ABCDEF", held(6));
    EXPECT_EQ(0, sensor[0].ibytes_rx);
    EXPECT_GE(host::now(), last_byte + 9 * host::kMillisecond);
    EXPECT_LE(host::now(), last_byte + 11 * host::kMillisecond);

    const host::Micros t1 = host::now() + host::kMillisecond;
    send_at(t1, "GHI");
    send_at(t1 + 3 * kByteTime + 12 * host::kMillisecond, "JKL");  // a 12 ms gap: two bursts
    gather();
    EXPECT_EQ("GHI", held(3));
    EXPECT_LE(host::now(), t1 + 3 * kByteTime + 11 * host::kMillisecond);
    gather();
    EXPECT_EQ("JKL", held(3));
}

TEST_F(BurstTest, LongBurstKeepsItsFirst1024Bytes) {
    std::string text;
    for (int i = 0; i < 1100; ++i) {
        text += static_cast<char>('!' + i % 90);
    }
    send_at(host::now() + host::kMillisecond, text);
    gather();
    EXPECT_EQ(text.substr(0, 1024), held(1024));
    for (unsigned char byte : sensor[0].cframe_tx) {
        ASSERT_EQ(0, byte) << "wrote past the receive buffer";
    }
    EXPECT_EQ(0, Serial3.available());
}

TEST_F(BurstTest, NoByteWaitingLeavesTheCountAlone) {
    sensor[0].ibytes_rx = 17;
    procesamos_canal(0);
    EXPECT_EQ(17, sensor[0].ibytes_rx);
}

// A weather station with full tracing shows every burst its handler gets.
TEST_F(BurstTest, OnlyAWholeValidFrameIsTakenAsPcLink) {
    configuracion_sensor[0].csensor = 3;
    sensor[0].cextraigo = 2;
    const std::string ack = with_crc({'@', 'J', 'W', 'K', 13, 2, 0, 0, 0, 0x10, 0});
    struct Case {
        const char* name;
        std::string burst;
        bool pc_frame;
    };
    std::string swapped = ack;
    std::swap(swapped[11], swapped[12]);
    const Case cases[] = {
        {"valid acknowledge request", ack, true},
        {"CRC bytes swapped", swapped, false},
        {"five bytes from @", ack.substr(0, 5), false},
        {"one byte @", "@", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        usb();
        send_at(host::now() + host::kMillisecond, c.burst);
        gather();
        const std::string printed = usb();
        if (c.pc_frame) {
            EXPECT_EQ("Trama configuracion", printed);
        } else {
            const std::string trace = "Sensor Rx (" + std::to_string(c.burst.size()) + ")=> ";
            EXPECT_EQ(0u, printed.rfind(trace, 0)) << "the device handler gets the burst";
        }
    }
}

TEST_F(ChannelTest, PcDetectionTakesTheTransponderLink) {
    for (uint8_t mode : {0, 2}) {
        stais.cextraigo = mode;
        stais.csegundos_sin_tramas_deteccion_usb = 77;
        stais.ccomando = 5;
        usb();
        deteccion_conexion_pc();
        EXPECT_EQ(1, stais.cconexion_software_pc);
        EXPECT_EQ(14, stais.ccomando);
        EXPECT_EQ(0, stais.csegundos_sin_tramas_deteccion_usb);
        const std::string stars(33, '*');
        EXPECT_EQ(mode == 0
                      ? ""
                      : "\r\n\t" + stars + "\r\n\t\tSofware AIS connected\r\n\t" + stars + "\r\n",
                  usb());
    }
}

}  // namespace
