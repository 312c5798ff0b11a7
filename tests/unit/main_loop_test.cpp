// One pass of the loop: operating mode, sample scheduling, the transponder
// reply-timeout table, message 6 reassembly timeout, sensor reply timeouts.
#include <iterator>
#include <vector>

#include "ktr09_board.h"
#include "support/firmware_fixture.h"

namespace {

// A link that has heard its transponder lately, so that its supervision
// leaves the passes alone.
class LoopTest : public FirmwareTest {
  protected:
    void SetUp() override {
        FirmwareTest::SetUp();
        stais.cminutos_timeout_rx_frames = 10;
    }
};

TEST_F(LoopTest, ModePinsGiveTheOperatingModeInEveryCopy) {
    struct Case {
        int pin20;
        int pin24;
        uint8_t mode;
    };
    const Case cases[] = {{1, 1, 0}, {1, 0, 0}, {0, 1, 1}, {0, 0, 2}, {-1, -1, 0}};
    for (const Case& c : cases) {
        host::set_input_level(20, c.pin20);
        host::set_input_level(24, c.pin24);
        EXPECT_EQ(c.mode, lectura_modo_funcionamiento());
        loop();
        EXPECT_EQ(c.mode, ktr09.cextraigo);
        EXPECT_EQ(c.mode, stais.cextraigo);
        EXPECT_EQ(c.mode, sensor[0].cextraigo);
        EXPECT_EQ(c.mode, sensor[1].cextraigo);
    }
}

TEST_F(LoopTest, PassEndsReadyForTheTickInputHandling) {
    EXPECT_EQ(0, ktr09.clisto);
    loop();
    EXPECT_EQ(1, ktr09.clisto);
}

// The board's pin map, written out here as the oracle: every pin set up
// again by a pass of the loop after something disturbed it.
TEST_F(LoopTest, PassRestoresEveryPinOfTheMap) {
    const struct {
        uint8_t mode;
        std::vector<uint32_t> pins;
    } map[] = {
        {OUTPUT,
         {4, 5, 11, 12, 10, 15, 17, 16, 14, 29, 38, 28, 22, 23, 42, 33, 32, 31, 30, 13, 34, 35}},
        {INPUT_PULLUP, {36, 37, 44, 43, 20, 24, 21}},
        {INPUT, {40, 39}},
        {INPUT_ANALOG, {41}},
    };
    size_t pins = 0;
    for (const auto& group : map) {
        for (const uint32_t pin : group.pins) {
            pinMode(pin, group.mode == INPUT ? OUTPUT : INPUT);
            ++pins;
        }
    }
    EXPECT_EQ(pins, std::size(board::kPins)) << "no pin beyond the map";
    loop();
    for (const auto& group : map) {
        for (const uint32_t pin : group.pins) {
            EXPECT_EQ(group.mode, host::pin_mode(pin)) << "pin " << pin;
        }
    }
}

struct TimeoutCase {
    uint8_t before;
    uint32_t mmsi;
    uint32_t destination;
    uint16_t period6;
    uint8_t after;
};

TEST_F(LoopTest, TransponderReplyTimeoutTable) {
    const uint32_t unknown = 0xFFFFFFFF;
    const TimeoutCase cases[] = {
        {16, 1, 1, 0, 11},        {19, 1, 1, 0, 0},       {23, 1, 1, 0, 0},
        {3, unknown, 1, 0, 3},    {17, unknown, 1, 0, 3}, {3, 1, unknown, 60, 15},
        {17, 1, unknown, 60, 15}, {3, 1, unknown, 0, 4},  {17, 1, unknown, 0, 9},
        {3, 1, 7, 60, 4},         {17, 1, 7, 60, 9},      {15, 1, 1, 0, 17},
        {6, 1, 1, 0, 18},         {18, 1, 1, 0, 6},       {0, 1, 1, 0, 0},
    };
    for (const TimeoutCase& c : cases) {
        stais.ccomando = c.before;
        stais.lmmsi = c.mmsi;
        stais.lmmsi_destino_msg6 = c.destination;
        stais.ifrecuencia_msg6 = c.period6;
        stais.creintentos_comando = 0;
        timeout_comando_ais();
        EXPECT_EQ(c.after, stais.ccomando) << "from " << int(c.before);
        EXPECT_EQ(0, stais.creintentos_comando) << "from " << int(c.before);
    }
}

TEST_F(LoopTest, TimeoutOfPositionQueryClearsGpsStatus) {
    stais.ccomando = 1;
    stais.cstatus_gps = 3;
    timeout_comando_ais();
    EXPECT_EQ(0, stais.ccomando);
    EXPECT_EQ(0, stais.cstatus_gps);
}

// Retried four times, then idle; a set-up query before the reporting
// periods are known starts the set-up again from the identity query.
TEST_F(LoopTest, OtherCommandsAreRetriedFourTimesThenRestart) {
    const struct {
        uint8_t command;
        uint8_t periods_known;
        uint8_t after;
    } cases[] = {{8, 1, 0}, {4, 0, 3}, {13, 0, 3}, {12, 0, 3}, {12, 1, 0}, {2, 0, 0}};
    for (const auto& c : cases) {
        stais.ccomando = c.command;
        stais.cperiodos_conocidos = c.periods_known;
        for (int retry = 1; retry <= 4; ++retry) {
            timeout_comando_ais();
            EXPECT_EQ(c.command, stais.ccomando);
            EXPECT_EQ(retry, stais.creintentos_comando);
        }
        timeout_comando_ais();
        EXPECT_EQ(c.after, stais.ccomando) << int(c.command);
        EXPECT_EQ(0, stais.creintentos_comando);
    }
}

TEST_F(LoopTest, ExpiredReplyWaitAppliesTheTableOnlyWithoutAlarmOrPc) {
    struct Case {
        uint8_t alarm;
        uint8_t pc;
        uint8_t countdown;
        uint8_t after;
    };
    const Case cases[] = {{0, 0, 0, 11}, {0, 0, 3, 16}, {1, 0, 0, 16}, {0, 2, 0, 16}};
    for (const Case& c : cases) {
        stais.ccomando = 16;
        stais.cesperando_respuesta = 1;
        stais.calarma = c.alarm;
        stais.cconexion_software_pc = c.pc;
        stais.csegundos_sin_tramas_deteccion_usb = 0;
        stais.ctimeout_respuesta_comando = c.countdown;
        loop();
        EXPECT_EQ(c.after, stais.ccomando)
            << "alarm " << int(c.alarm) << " pc " << int(c.pc) << " countdown " << int(c.countdown);
    }
}

// Whatever the time synchronisation's state: the scheduler that would move
// it on does not run while the PC has the transponder.
TEST_F(LoopTest, SilentPcProgramHandsTheTransponderBack) {
    for (uint8_t csync : {0, 1, 2, 3}) {
        stais.cconexion_software_pc = 2;
        stais.cstatus_gps = 0;
        stais.cnueva_sincronizacion_horaria = csync;
        stais.csegundos_sin_tramas_deteccion_usb = 119;
        loop();
        EXPECT_EQ(2, stais.cconexion_software_pc) << int(csync);
        stais.csegundos_sin_tramas_deteccion_usb = 120;
        loop();
        EXPECT_EQ(0, stais.cconexion_software_pc) << int(csync);
        EXPECT_EQ(1, stais.cstatus_gps) << int(csync);
    }
}

TEST_F(LoopTest, OnlyTheFirstWeatherChannelIsScheduled) {
    struct Case {
        uint8_t type0, type1;
        uint8_t interval;
        uint8_t hour, minute;
        uint8_t alarm0;
        uint8_t sample0, sample1;
    };
    const Case cases[] = {
        {3, 3, 10, 12, 30, 0, 1, 0}, {3, 3, 10, 12, 35, 0, 0, 0}, {1, 3, 10, 12, 30, 0, 0, 1},
        {3, 3, 0, 12, 30, 0, 0, 0},  {3, 3, 10, 12, 30, 1, 0, 0}, {3, 3, 7, 0, 0, 0, 1, 0},
        {3, 3, 7, 23, 58, 0, 0, 0},  {3, 3, 7, 23, 55, 0, 1, 0},
    };
    for (const Case& c : cases) {
        configuracion_sensor[0].csensor = c.type0;
        configuracion_sensor[1].csensor = c.type1;
        configuracion_sensor[0].csample_interval = c.interval;
        configuracion_sensor[1].csample_interval = c.interval;
        ktr09.chora_utc = c.hour;
        ktr09.cminuto_utc = c.minute;
        sensor[0].calarma = c.alarm0;
        sensor[0].ccomando = 0;  // no heartbeat due on a base station channel
        sensor[0].cnueva_muestra = 0;
        sensor[1].cnueva_muestra = 0;
        ktr09.crefresco = 1;  // the minute's clock read has just succeeded
        loop();
        EXPECT_EQ(c.sample0, sensor[0].cnueva_muestra)
            << int(c.type0) << "/" << int(c.type1) << " every " << int(c.interval) << " at "
            << int(c.hour) << ":" << int(c.minute);
        EXPECT_EQ(c.sample1, sensor[1].cnueva_muestra);
    }
}

TEST_F(LoopTest, SampleIsFlaggedOnlyAfterTheMinutesClockRead) {
    configuracion_sensor[0].csensor = 3;
    configuracion_sensor[0].csample_interval = 10;
    ktr09.chora_utc = 12;
    ktr09.cminuto_utc = 30;
    sensor[0].ctimeout_alarm = 200;  // heard from lately: no reset due
    loop();
    EXPECT_EQ(0, sensor[0].cnueva_muestra) << "no clock read on this pass";
    ktr09.crefresco = 1;
    loop();
    EXPECT_EQ(1, sensor[0].cnueva_muestra);
    sensor[0].cnueva_muestra = 0;  // the sample closed
    loop();
    EXPECT_EQ(0, sensor[0].cnueva_muestra) << "one sample per interval, not one per pass";
}

TEST_F(LoopTest, Message6ReassemblyIsDroppedWhenItsCountdownExpires) {
    stais.ccantidad_total_frames_vdm_msg6_procesando = 3;
    stais.cultima_frame_vdm_msg6_procesando = 1;
    stais.ctimeout_frame_vdm_msg6_procesando = 2;
    loop();
    EXPECT_EQ(3, stais.ccantidad_total_frames_vdm_msg6_procesando);
    stais.ctimeout_frame_vdm_msg6_procesando = 0;
    loop();
    EXPECT_EQ(0, stais.ccantidad_total_frames_vdm_msg6_procesando);
    EXPECT_EQ(0, stais.cultima_frame_vdm_msg6_procesando);
}

TEST_F(LoopTest, WeatherStationReplyTimeout) {
    struct Case {
        uint8_t config_before, command_before, delay, output_active;
        uint8_t config_after, command_after, waiting_after;
    };
    const Case cases[] = {
        {2, 1, 0, 0, 0, 2, 0},  // configuration reply missed: back to the first command
        {1, 5, 0, 0, 1, 0, 0},
        {2, 1, 4, 0, 2, 1, 1},  // still waiting out the start-up delay
        {2, 1, 0, 1, 2, 1, 1},  // being power-cycled through its reset output
    };
    for (const Case& c : cases) {
        configuracion_sensor[0].csensor = 3;
        configuracion_sensor[0].csalida_reset = 2;
        ktr09.cestado_salida_digital[1] = c.output_active;
        sensor[0].cconfiguracion = c.config_before;
        sensor[0].ccomando = c.command_before;
        sensor[0].cdelay = c.delay;
        sensor[0].cesperando_respuesta = 1;
        sensor[0].ctimeout_respuesta_comando = 0;
        sensor[0].ctimeout_alarm = 30;  // heard from lately: no reset due
        sensor[0].creset = 0;
        loop();
        EXPECT_EQ(c.config_after, sensor[0].cconfiguracion);
        EXPECT_EQ(c.command_after, sensor[0].ccomando);
        EXPECT_EQ(c.waiting_after, sensor[0].cesperando_respuesta);
    }
}

}  // namespace
