// Sensor channels: the channel's transmit frame and number formatting,
// channel start and reset with the reset-output pulse, the weather-station
// $PAMTC dialogue, and their timing when the loop serves the channel.
#include <sodaq_wdt.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "ktr09_board.h"
#include "codec/nmea.h"
#include "comunicaciones_canales.h"
#include "comunicaciones_ema_airmar.h"
#include "support/firmware_fixture.h"
#include "support/store_trap.h"

namespace {

using host::kMillisecond;
using host::kSecond;
using host::Micros;

// Output pins of board outputs 1..4.
constexpr uint32_t kOutputPins[4] = {33, 32, 31, 30};

// The device end of a sensor channel: every line the station sends, with the
// time its first byte arrived.
class LinePeer : public host::UartPeer {
  public:
    struct Line {
        Micros at;
        std::string text;
    };
    void on_byte_from_station(uint8_t byte) override {
        if (current_.empty()) {
            started_ = host::now();
        }
        current_ += static_cast<char>(byte);
        if (byte == '\n') {
            lines.push_back({started_, current_});
            current_.clear();
        }
    }
    std::vector<Line> lines;

  private:
    std::string current_;
    Micros started_ = 0;
};

class SensorChannelTest : public FirmwareTest {
  protected:
    void SetUp() override {
        FirmwareTest::SetUp();
        configuracion_sensor[0] = stconfiguracion_sensor{3, 1, 2, 0, 2, 10, 1, 15};
        (void)usb();
    }
    static std::string frame(uint8_t channel = 0) {
        return std::string(reinterpret_cast<const char*>(sensor[channel].cframe_tx),
                           sensor[channel].cbytes_tx);
    }
};

// ---- Transmit frame -------------------------------------------------------

TEST_F(SensorChannelTest, FrameHolds128BytesAndChecksumsWhatItIsAskedTo) {
    const stsensor neighbour = sensor[1];
    sensor[0].ccalculo_checksum_nmea = 0;
    introduccion_byte_frame_sensor('$', 0);
    sensor[0].ccalculo_checksum_nmea = 1;
    escribo_mensaje_frame_sensor("PAMTC,EN,ALL,0", 0);
    sensor[0].ccalculo_checksum_nmea = 0;
    introduccion_byte_frame_sensor('*', 0);
    EXPECT_EQ("$PAMTC,EN,ALL,0*", frame());
    EXPECT_EQ(codec::nmea_checksum("PAMTC,EN,ALL,0"), sensor[0].cchecksum_nmea);
    inserto_linea_sensor(0);
    EXPECT_EQ("$PAMTC,EN,ALL,0*\r\n", frame());

    for (int i = 0; i < 200; ++i) {
        introduccion_byte_frame_sensor('x', 0);
    }
    EXPECT_EQ(128, sensor[0].cbytes_tx);
    EXPECT_EQ(0, std::memcmp(&neighbour, &sensor[1], sizeof neighbour))
        << "bytes beyond the frame must not reach the next channel's record";
}

TEST_F(SensorChannelTest, DecimalNumbers) {
    const struct {
        uint32_t value;
        uint8_t digits;
        uint8_t end;
        const char* text;
    } cases[] = {
        {7, 1, ',', "7,"},           {7, 3, 0, "007"},     {0, 0, 0, "0"},
        {123, 0, 1, "123\r\n"},      {12345, 3, 0, "345"}, {4294967295u, 0, 0, "4294967295"},
        {42, 12, 0, "000000000042"},
    };
    for (const auto& c : cases) {
        sensor[0].cbytes_tx = 0;
        inserto_variable_sensor(c.value, c.digits, c.end, 0);
        EXPECT_EQ(c.text, frame()) << c.value << " in " << int(c.digits) << " digits";
    }
}

TEST_F(SensorChannelTest, HexadecimalNumbers) {
    const struct {
        uint32_t value;
        uint8_t digits;
        uint8_t end;
        const char* text;
    } cases[] = {
        {0x0C, 2, 1, "0C\r\n"},
        {0xABC, 2, 0, "BC"},
        {0xDEADBEEF, 8, '*', "DEADBEEF*"},
    };
    for (const auto& c : cases) {
        sensor[0].cbytes_tx = 0;
        inserto_variable_hex_sensor(c.value, c.digits, c.end, 0);
        EXPECT_EQ(c.text, frame());
    }
}

TEST_F(SensorChannelTest, FloatNumbersLeaveOutTrailingZeros) {
    const struct {
        float value;
        uint8_t digits, decimals, end;
        const char* text;
    } cases[] = {
        {6.0f, 0, 1, 0, "6"},     {6.5f, 0, 1, 0, "6.5"},         {-2.5f, 0, 1, 0, "-2.5"},
        {2.05f, 0, 2, 0, "2.05"}, {2.5f, 0, 2, ',', "2.5,"},      {0.0f, 0, 1, 0, "0"},
        {0.25f, 0, 2, 0, "0.25"}, {3.25f, 3, 2, 1, "003.25\r\n"}, {7.0f, 0, 0, 0, "7"},
    };
    for (const auto& c : cases) {
        sensor[0].cbytes_tx = 0;
        inserto_variable_float_sensor(c.value, c.digits, c.decimals, c.end, 0);
        EXPECT_EQ(c.text, frame()) << c.value;
    }
}

TEST_F(SensorChannelTest, EveryTenthOfAHeartbeatPeriodIsWrittenBack) {
    // The heartbeat period is kept in tenths and written with one decimal.
    for (unsigned tenths = 0; tenths <= 255; ++tenths) {
        sensor[0].cbytes_tx = 0;
        inserto_variable_float_sensor(static_cast<float>(tenths) / 10.0f, 0, 1, 0, 0);
        char expected[16];
        if (tenths % 10 == 0) {
            std::snprintf(expected, sizeof expected, "%u", tenths / 10);
        } else {
            std::snprintf(expected, sizeof expected, "%u.%u", tenths / 10, tenths % 10);
        }
        ASSERT_EQ(expected, frame()) << tenths;
    }
}

TEST_F(SensorChannelTest, FrameIsSentOnTheChannelsUartAndTraced) {
    configuracion_sensor[1] = configuracion_sensor[0];
    inicializacion_canales(0);
    inicializacion_canales(1);
    LinePeer peers[2];
    host::attach_uart_peer(3, &peers[0]);
    host::attach_uart_peer(1, &peers[1]);
    for (uint8_t channel : {0, 1}) {
        sensor[channel].cextraigo = 1;
        sensor[channel].cbytes_tx = 0;
        escribo_mensaje_frame_sensor("$HB,1*00", channel);
        inserto_linea_sensor(channel);
        const Micros before = host::now();
        envio_frame_sensor(channel);
        // Ten bytes at 9600 baud have left the port when it returns.
        EXPECT_GE(host::now() - before, 10 * 10 * kSecond / 9600);
        ASSERT_EQ(1u, peers[channel].lines.size());
        EXPECT_EQ("$HB,1*00\r\n", peers[channel].lines[0].text);
    }
    EXPECT_EQ("Canal 2 TX (10)=> $HB,1*00da\r\nCanal 3 TX (10)=> $HB,1*00da\r\n", usb());
    host::attach_uart_peer(3, nullptr);
    host::attach_uart_peer(1, nullptr);
}

// ---- Weather-station dialogue ----------------------------------------------

TEST_F(SensorChannelTest, DialogueSteps) {
    inicializacion_canales(0);
    LinePeer peer;
    host::attach_uart_peer(3, &peer);
    const struct {
        const char* name;
        uint8_t command, configuration;
        uint8_t command_after, configuration_after, waiting_after;
        const char* sent;
    } cases[] = {
        {"configuration wanted", 0, 1, 1, 2, 0, nullptr},
        {"resting", 0, 0, 0, 0, 0, nullptr},
        {"every sentence off", 1, 2, 1, 2, 1, "$PAMTC,EN,ALL,0*1D\r\n"},
        {"$WIMDA once a second", 2, 0, 2, 0, 1, "$PAMTC,EN,MDA,1,10*38\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        peer.lines.clear();
        sensor[0].ccomando = c.command;
        sensor[0].cconfiguracion = c.configuration;
        sensor[0].cesperando_respuesta = 0;
        sensor[0].ctimeout_respuesta_comando = 0;
        envio_comandos_ema_airmar(0);
        EXPECT_EQ(c.command_after, sensor[0].ccomando);
        EXPECT_EQ(c.configuration_after, sensor[0].cconfiguracion);
        EXPECT_EQ(c.waiting_after, sensor[0].cesperando_respuesta);
        if (c.sent == nullptr) {
            EXPECT_TRUE(peer.lines.empty());
            continue;
        }
        EXPECT_EQ(10, sensor[0].ctimeout_respuesta_comando);
        ASSERT_EQ(1u, peer.lines.size());
        const std::string line = peer.lines[0].text;
        EXPECT_EQ(c.sent, line);
        // The stored checksum is the XOR between '$' and '*'.
        const size_t star = line.find('*');
        char digits[3];
        std::snprintf(digits, sizeof digits, "%02X",
                      codec::nmea_checksum(line.substr(1, star - 1)));
        EXPECT_EQ(digits, line.substr(star + 1, 2));
    }
    host::attach_uart_peer(3, nullptr);
}

// ---- Channel start and reset -------------------------------------------------

TEST_F(SensorChannelTest, ConfigurationPrintout) {
    configuracion_sensor[0].csalida_reset = 3;
    configuracion_ktr09.cestado_en_reposo_salida_digital[2] = 1;
    configuracion_ktr09.itemporizacion_salida_digital[2] = 55;
    lectura_configuracion_ema_airmar(0);
    const std::string stars(59, '*');
    EXPECT_EQ("\r\n" + stars + "\r\n\t\tConfiguracion EMA:\r\n" + stars +
                  "\r\n\tSample interval:10 min.\r\n\tTipo direccion viento: Verdadero\r\n"
                  "\tRetardo inicial:2 seg\r\n\tReset: NC\t5.5 seg.\r\n",
              usb());
    configuracion_sensor[0].csalida_reset = 0;
    configuracion_sensor[0].cdireccionamiento_viento = 0;
    configuracion_ktr09.cestado_en_reposo_salida_digital[2] = 0;
    lectura_configuracion_ema_airmar(0);
    const std::string out = usb();
    EXPECT_NE(std::string::npos, out.find("\tTipo direccion viento: Magnetico\r\n"));
    EXPECT_NE(std::string::npos, out.find("\tReset:Disable\r\n"));
    configuracion_sensor[0].csalida_reset = 3;
    lectura_configuracion_ema_airmar(0);
    EXPECT_NE(std::string::npos, usb().find("\tReset: NA\t5.5 seg.\r\n"));
}

TEST_F(SensorChannelTest, StartClearsTheChannelAndOpensKnownDevices) {
    const struct {
        uint8_t type;
        bool opened;
        bool printout;
    } cases[] = {{3, true, true}, {1, true, false}, {2, true, false}, {4, false, false}};
    for (const auto& c : cases) {
        host::reset_machine();
        configuracion_pines();
        SerialUSB.begin(115200);
        configuracion_sensor[0] = stconfiguracion_sensor{c.type, 1, 2, 0, 7, 10, 1, 15};
        stsensor& s = sensor[0];
        s.creset = 1;
        s.iair_pressure[5] = 10100;
        s.cair_pressure_muestras_temporales = 18;
        s.iaverage_wind_speed = 500;
        s.idew_point = -20;
        s.ccomando = 2;
        s.cesperando_respuesta = 1;
        s.cnueva_muestra = 1;
        s.ctimeout_datos_validos = 9;
        s.cpayload_msg6[89] = 0x55;
        s.ccantidad_resets = 4;
        s.calarma = 1;
        s.cconfiguracion = 0;
        inicializacion_sensor(0, 0);
        SCOPED_TRACE(int(c.type));
        EXPECT_EQ(0, s.creset);
        EXPECT_EQ(0, s.iair_pressure[5]);
        EXPECT_EQ(0, s.cair_pressure_muestras_temporales)
            << "the next tendency must not compare with a cleared entry";
        EXPECT_EQ(0, s.iaverage_wind_speed);
        EXPECT_EQ(0, s.idew_point);
        EXPECT_EQ(0, s.ccomando);
        EXPECT_EQ(0, s.cesperando_respuesta);
        EXPECT_EQ(0, s.cnueva_muestra);
        EXPECT_EQ(0, s.ctimeout_datos_validos);
        EXPECT_EQ(0, s.cpayload_msg6[89]);
        EXPECT_EQ(4, s.ccantidad_resets) << "a fault restart keeps the count";
        EXPECT_EQ(1, s.calarma);
        EXPECT_EQ(1, s.cconfiguracion);
        EXPECT_EQ(7, s.cdelay);
        EXPECT_EQ(c.opened, host::uart_status(3).open);
        EXPECT_EQ(c.printout, usb().find("Configuracion EMA:") != std::string::npos);
        if (c.type == 3) {
            EXPECT_EQ(30, s.ctimeout_alarm);
            EXPECT_EQ(-2, s.cmuestras_calculo_gust[2]);
        }
    }
    inicializacion_sensor(1, 0);
    EXPECT_EQ(0, sensor[0].ccantidad_resets) << "a power-up start clears the count";
    EXPECT_EQ(0, sensor[0].calarma);
}

TEST_F(SensorChannelTest, ChannelWithoutDeviceIsNeverReset) {
    configuracion_sensor[0].csensor = 0;
    configuracion_sensor[0].csalida_reset = 1;
    sensor[0].cextraigo = 2;
    sensor[0].cdelay = 9;
    reset_sensor(0, 0);
    reset_sensor(1, 0);
    EXPECT_EQ(0, ktr09.cestado_salida_digital[0]);
    EXPECT_EQ(0, sensor[0].ccantidad_resets);
    EXPECT_EQ(9, sensor[0].cdelay);
    EXPECT_FALSE(host::uart_status(3).open);
    EXPECT_EQ("", usb());
}

TEST_F(SensorChannelTest, ResetOutputPulse) {
    const struct {
        uint16_t configured;
        uint16_t held;
    } cases[] = {{0, 200}, {250, 200}, {201, 200}, {200, 200}, {50, 50}, {1, 1}};
    for (const auto& c : cases) {
        for (uint8_t output = 1; output <= 4; ++output) {
            ktr09.cestado_salida_digital[output - 1] = 0;
            ktr09.itiempo_activacion_salida_digital[output - 1] = 0;
            configuracion_ktr09.itemporizacion_salida_digital[output - 1] = c.configured;
            configuracion_sensor[0].csalida_reset = output;
            reset_sensor(0, 0);
            EXPECT_EQ(1, ktr09.cestado_salida_digital[output - 1]);
            EXPECT_EQ(c.held, ktr09.itiempo_activacion_salida_digital[output - 1])
                << "output " << int(output) << " configured " << c.configured;
        }
    }
}

// One 100 ms step of the tick, as the interrupt runs it.
void tick_100ms_step() {
    cacciones_cada_10milisegundos = 9;
    cacciones_cada_100milisegundos = 9;
    interrupcion_timer_cada_miliseg();
}

// The tick may come between the two stores that start a pulse: whichever
// store it follows, a one-step pulse must end and release the output.
TEST_F(SensorChannelTest, ResetPulseEndsWhenATickFollowsEitherStore) {
    ktr09.clisto = 1;
    configuracion_ktr09.itemporizacion_salida_digital[0] = 1;
    configuracion_sensor[0].csalida_reset = 1;
    {
        StoreTraps traps(&tick_100ms_step);
        if (!traps.watch(&ktr09.cestado_salida_digital[0], 1) ||
            !traps.watch(&ktr09.itiempo_activacion_salida_digital[0], 2)) {
            GTEST_SKIP() << "no hardware watchpoints for this process";
        }
        reset_sensor(0, 0);
        ASSERT_EQ(2, traps.hits()) << "a tick after each of the two stores";
    }
    tick_100ms_step();
    EXPECT_EQ(0, ktr09.cestado_salida_digital[0]) << "the pulse never ends";
    EXPECT_EQ(LOW, host::output_level(board::kOutputs[0])) << "output 1 back at rest";
}

TEST_F(SensorChannelTest, FaultResetsCountToTheAlarm) {
    sensor[0].cextraigo = 1;
    inicializacion_canales(0);
    for (int n = 1; n <= 10; ++n) {
        sensor[0].cextraigo = 1;  // a channel start clears the copy; the loop sets it again
        reset_sensor(0, 0);
        const std::string out = usb();
        const std::string expected = n < 10 ? "\tCANAL 2 => Reset " + std::to_string(n) + "\r\n"
                                            : std::string("\tCANAL 2 => Alarm !!!!\r\n");
        EXPECT_EQ(0u, out.find("Inicio Canal 2 => \r\n" + expected)) << out;
        EXPECT_EQ(n < 10 ? 0 : 1, sensor[0].calarma);
        EXPECT_EQ(n < 10 ? n : 0, sensor[0].ccantidad_resets);
    }
    sensor[1] = sensor[0];
    configuracion_sensor[1] = configuracion_sensor[0];
    sensor[1].cextraigo = 1;
    sensor[1].calarma = 0;
    reset_sensor(1, 1);
    EXPECT_EQ(0u, usb().find("\r\n\tCANAL 3 => Reset 0\r\n"));
}

// ---- Served from the loop --------------------------------------------------

struct ChannelSetup {
    stconfiguracion_sensor channel;
    uint8_t rest_level;
    uint16_t pulse;
};
ChannelSetup g_setup;
Micros g_channel_start;

// Start-up of a station with only sensor channel 1 configured.
void channel_only_setup() {
    configuracion_pines();
    SerialUSB.begin(115200);
    setup_timerTC0(1, 48000);
    start_timerTC0();
    sodaq_wdt_enable(WDT_PERIOD_1X);
    configuracion_sensor[0] = g_setup.channel;
    for (int j = 0; j < 4; ++j) {
        configuracion_ktr09.cestado_en_reposo_salida_digital[j] = g_setup.rest_level;
        configuracion_ktr09.itemporizacion_salida_digital[j] = g_setup.pulse;
    }
    g_channel_start = host::now();
    reset_sensor(1, 0);
}

class ServedChannelTest : public FirmwareTest {
  protected:
    void SetUp() override {
        FirmwareTest::SetUp();
        g_setup = ChannelSetup{{3, 1, 2, 0, 2, 10, 1, 15}, 0, 50};
        host::FirmwareEntryPoints entries;
        entries.setup = channel_only_setup;
        host::set_firmware_entry_points(entries);
        host::attach_uart_peer(3, &peer_);
    }
    void TearDown() override {
        host::power_off();
        host::attach_uart_peer(3, nullptr);
    }
    LinePeer peer_;
};

TEST_F(ServedChannelTest, CommandsFollowTheStartUpDelay) {
    g_setup.channel.cseg_delay_inicial = 5;
    host::power_on();
    host::run_for(8 * kSecond);
    ASSERT_EQ(2u, peer_.lines.size());
    EXPECT_EQ("$PAMTC,EN,ALL,0*1D\r\n", peer_.lines[0].text);
    EXPECT_EQ("$PAMTC,EN,MDA,1,10*38\r\n", peer_.lines[1].text);
    const Micros first = peer_.lines[0].at - g_channel_start;
    EXPECT_GT(first, 4 * kSecond);
    EXPECT_LE(first, 5 * kSecond + 20 * kMillisecond);
    // The first command leaves the port, then is given a second.
    const Micros sent = 20 * 10 * kSecond / 9600;
    const Micros gap = peer_.lines[1].at - peer_.lines[0].at;
    EXPECT_GE(gap, sent + 900 * kMillisecond);
    EXPECT_LE(gap, sent + 1000 * kMillisecond + 20 * kMillisecond);
    EXPECT_EQ(0, sensor[0].ccomando) << "the dialogue rests";
    EXPECT_EQ(0, sensor[0].cconfiguracion);
}

TEST_F(ServedChannelTest, SilentStationIsResetEvery30sUntilTheAlarm) {
    host::set_input_level(board::kModePin0, 0);  // mode 1: traces on
    host::set_input_level(board::kModePin1, 1);
    host::power_on();
    std::vector<Micros> silences;
    std::vector<std::string> resets;
    std::string pending;
    for (int step = 0; step < 4000; ++step) {
        host::run_for(100 * kMillisecond);
        pending += usb();
        size_t at;
        while ((at = pending.find("Sensor => NO RX FRAMES!!!! \r\n")) != std::string::npos) {
            silences.push_back(host::now());
            pending.erase(0, at + 1);
        }
        while ((at = pending.find("\tCANAL 2 => ")) != std::string::npos) {
            const size_t end = pending.find("\r\n", at);
            if (end == std::string::npos) {
                break;
            }
            resets.push_back(pending.substr(at + 12, end - at - 12));
            pending.erase(0, end);
        }
    }
    ASSERT_EQ(10u, silences.size()) << "no reset after the alarm";
    EXPECT_NEAR(30.0, (silences[0] - g_channel_start) / 1e6, 1.0);
    for (size_t i = 1; i < silences.size(); ++i) {
        EXPECT_NEAR(30.0, (silences[i] - silences[i - 1]) / 1e6, 1.1) << "reset " << i;
    }
    // The power-up start comes before the loop has read the mode: no trace.
    ASSERT_EQ(10u, resets.size());
    for (size_t n = 1; n < 10; ++n) {
        EXPECT_EQ("Reset " + std::to_string(n), resets[n - 1]);
    }
    EXPECT_EQ("Alarm !!!!", resets[9]);
    EXPECT_EQ(1, sensor[0].calarma);
}

TEST_F(ServedChannelTest, ResetPulseHoldsTheChannel) {
    const struct {
        uint16_t configured;
        double seconds;
    } cases[] = {{0, 20.0}, {250, 20.0}, {50, 5.0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.configured);
        peer_.lines.clear();
        g_setup.channel.csalida_reset = 2;
        g_setup.channel.cseg_delay_inicial = 0;
        g_setup.pulse = c.configured;
        host::power_on();
        // The output follows its state on the 100 ms steps.
        Micros rose = 0;
        Micros fell = 0;
        while (host::now() < g_channel_start + 30 * kSecond && fell == 0) {
            host::run_for(10 * kMillisecond);
            const int level = host::output_level(kOutputPins[1]);
            if (level == 1 && rose == 0) {
                rose = host::now();
            }
            if (level == 0 && rose != 0) {
                fell = host::now();
            }
        }
        ASSERT_NE(0u, fell);
        EXPECT_LE(rose - g_channel_start, 110 * kMillisecond);
        EXPECT_NEAR(c.seconds, (fell - rose) / 1e6, 0.12);
        // Not served while the device is unpowered: the first command comes
        // once the output is back at rest.
        host::run_for(3 * kSecond);
        ASSERT_FALSE(peer_.lines.empty());
        // The channel is served again from the step that clears the output's
        // state, one step before the pin follows.
        EXPECT_GE(peer_.lines[0].at, fell - 150 * kMillisecond);
        EXPECT_LE(peer_.lines[0].at, fell + 200 * kMillisecond);
        host::power_off();
    }
}

}  // namespace
