// The 1 ms tick: countdowns, dividers, LED, input debounce and output timing.
#include "ktr09_board.h"
#include "support/firmware_fixture.h"

namespace {

constexpr const uint8_t (&kInputPins)[4] = board::kInputs;
constexpr const uint8_t (&kOutputPins)[4] = board::kOutputs;

class TickTest : public FirmwareTest {};

// Every countdown stays at 0 and expires within one of its units when loaded with 1.
struct CountdownCase {
    const char* name;
    volatile uint8_t* byte_field;
    volatile uint16_t* half_field;
    unsigned unit_ms;
};

TEST_F(TickTest, CountdownsLoadedWithOneExpireWithinOneUnitAndNeverWrap) {
    const CountdownCase cases[] = {
        {"cretardo_en_milisegundos", &cretardo_en_milisegundos, nullptr, 1},
        {"ctimeout_eeprom", &ctimeout_eeprom, nullptr, 1},
        {"rtc.ctimeout", &rtc.ctimeout, nullptr, 1},
        {"stais.ctimeout_rx_frame", &stais.ctimeout_rx_frame, nullptr, 1},
        {"sensor[0].ctimeout_rx_frame", &sensor[0].ctimeout_rx_frame, nullptr, 1},
        {"sensor[1].ctimeout_rx_frame", &sensor[1].ctimeout_rx_frame, nullptr, 1},
        {"sensor[1].ctimeout_respuesta_comando", &sensor[1].ctimeout_respuesta_comando, nullptr,
         100},
        {"sensor[0].cdelay", &sensor[0].cdelay, nullptr, 1000},
        {"sensor[1].ctimeout_alarm", &sensor[1].ctimeout_alarm, nullptr, 1000},
        {"stais.itimeout_tx_msg6", nullptr, &stais.itimeout_tx_msg6, 1000},
        {"cretardo_tiempo", &cretardo_tiempo, nullptr, 100},
        {"stais.ctimeout_respuesta_comando", &stais.ctimeout_respuesta_comando, nullptr, 100},
        {"stais.ctimeout_frame_vdm_msg6_procesando", &stais.ctimeout_frame_vdm_msg6_procesando,
         nullptr, 100},
        {"sensor[0].ctimeout_respuesta_comando", &sensor[0].ctimeout_respuesta_comando, nullptr,
         100},
        {"sensor[1].cdelay", &sensor[1].cdelay, nullptr, 1000},
        {"sensor[0].ctimeout_alarm", &sensor[0].ctimeout_alarm, nullptr, 1000},
        {"stsd.cdelay", &stsd.cdelay, nullptr, 1000},
        {"stais.itimeout_tx_msg8", nullptr, &stais.itimeout_tx_msg8, 1000},
        {"stais.itimeout_tx_msg12", nullptr, &stais.itimeout_tx_msg12, 1000},
        {"stais.cminutos_timeout_rx_frames", &stais.cminutos_timeout_rx_frames, nullptr, 60000},
    };
    for (const CountdownCase& c : cases) {
        SCOPED_TRACE(c.name);
        host::reset_machine();
        // Start anywhere inside the unit: the next step may come at once.
        ticks(7);
        if (c.byte_field) {
            *c.byte_field = 1;
        } else {
            *c.half_field = 1;
        }
        ticks(c.unit_ms);
        EXPECT_EQ(0, c.byte_field ? *c.byte_field : *c.half_field);
        ticks(2 * c.unit_ms);
        EXPECT_EQ(0, c.byte_field ? *c.byte_field : *c.half_field) << "wrapped below 0";
    }
}

// The timed actions fall on their boundaries (the LED's tenth of each
// second has its own test below): the counters of seconds without traffic
// step on each second and stop at their ceilings, and each minute asks for
// a clock read.
TEST_F(TickTest, SecondAndMinuteActionsFallOnTheirBoundaries) {
    ktr09.creintentos_lectura_fecha = 0;
    ticks(999);
    EXPECT_EQ(0, stais.csegundos_sin_tramas_gps_ais);
    ticks(1);
    EXPECT_EQ(1, stais.csegundos_sin_tramas_gps_ais);
    EXPECT_EQ(1, stais.csegundos_sin_tramas_deteccion_usb);
    ticks(59 * 1000 - 1);
    EXPECT_EQ(0, ktr09.creintentos_lectura_fecha);
    ticks(1);
    EXPECT_EQ(10, ktr09.creintentos_lectura_fecha) << "the minute step asks for a clock read";
    ticks(140 * 1000);
    EXPECT_EQ(120, stais.csegundos_sin_tramas_deteccion_usb);
    EXPECT_EQ(10, stais.csegundos_sin_tramas_gps_ais);
}

TEST_F(TickTest, FrameTimeoutsCountOnlyDuringASynchronisation) {
    stais.ctimeout_frame_gga = 5;
    stais.ctimeout_frame_rmc = 5;
    ticks(3000);
    EXPECT_EQ(5, stais.ctimeout_frame_gga);
    stais.cnueva_sincronizacion_horaria = 3;
    ticks(3000);
    EXPECT_EQ(2, stais.ctimeout_frame_gga);
    EXPECT_EQ(2, stais.ctimeout_frame_rmc);
}

TEST_F(TickTest, ValidDataTimeoutCountsTenthsForLinksAndMinutesForWeatherStation) {
    configuracion_sensor[0].csensor = 2;
    configuracion_sensor[1].csensor = 3;
    sensor[0].ctimeout_datos_validos = 50;
    sensor[1].ctimeout_datos_validos = 3;
    ticks(1000);
    EXPECT_EQ(40, sensor[0].ctimeout_datos_validos);
    EXPECT_EQ(3, sensor[1].ctimeout_datos_validos);
    ticks(59000);
    EXPECT_EQ(2, sensor[1].ctimeout_datos_validos);
}

// Samples pin 13 at the end of every tick for `ms` milliseconds.
std::string led_trace(unsigned ms) {
    std::string trace;
    for (unsigned i = 0; i < ms; ++i) {
        interrupcion_timer_cada_miliseg();
        if (i % 100 == 99) {
            trace += host::output_level(board::kLed) == 1 ? '1' : '0';
        }
    }
    return trace;
}

TEST_F(TickTest, LedIsDarkOneTenthEachSecondAndLitInTestMode) {
    EXPECT_EQ("1111111110111111111011111111101111111110", led_trace(4000));
    ktr09.ctest = 1;
    digitalWrite(board::kLed, HIGH);
    EXPECT_EQ("1111111111111111111111111111111111111111", led_trace(4000));
}

// ---- Input debounce ----------------------------------------------------------

class InputTest : public FirmwareTest {
  protected:
    void SetUp() override {
        FirmwareTest::SetUp();
        ktr09.clisto = 1;
    }
    // Steps the 100 ms sampling n times.
    static void samples(unsigned n) { ticks(100 * n); }
    static void configure(int i, uint8_t function, uint8_t rest, uint16_t time) {
        configuracion_ktr09.cfuncionalidad_entradas_externas[i] = function;
        configuracion_ktr09.cestado_en_reposo_entrada_externa[i] = rest;
        configuracion_ktr09.itemporizacion_entrada_externa[i] = time;
    }
};

// An input is active while its pin holds the configured level R
// (cestado_en_reposo_entrada_externa) and inactive at the other level.
TEST_F(InputTest, ZeroDebounceTimeStillNeedsTwoSamples) {
    configure(0, 2, 1, 0);
    host::set_input_level(kInputPins[0], 1);
    samples(1);
    EXPECT_EQ(0, ktr09.cestados_entradas_externas[0]);
    samples(1);
    EXPECT_EQ(1, ktr09.cestados_entradas_externas[0]);
    host::set_input_level(kInputPins[0], 0);
    samples(1);
    EXPECT_EQ(1, ktr09.cestados_entradas_externas[0]);
    samples(1);
    EXPECT_EQ(0, ktr09.cestados_entradas_externas[0]);
}

TEST_F(InputTest, ActivationTakesMoreThanTheDebounceTime) {
    configure(1, 2, 0, 5);  // active while the pin reads low
    host::set_input_level(kInputPins[1], 1);
    samples(3);
    // The counter must first climb past T: T + 2 samples, as two for T = 0.
    host::set_input_level(kInputPins[1], 0);
    samples(6);
    EXPECT_EQ(0, ktr09.cestados_entradas_externas[1]);
    samples(1);
    EXPECT_EQ(1, ktr09.cestados_entradas_externas[1]);
    // A short return to the other level does not count.
    host::set_input_level(kInputPins[1], 1);
    samples(4);
    host::set_input_level(kInputPins[1], 0);
    samples(4);
    EXPECT_EQ(1, ktr09.cestados_entradas_externas[1]);
    host::set_input_level(kInputPins[1], 1);
    samples(6);
    EXPECT_EQ(1, ktr09.cestados_entradas_externas[1]);
    samples(1);
    EXPECT_EQ(0, ktr09.cestados_entradas_externas[1]);
}

TEST_F(InputTest, LatchedEventSurvivesRestUntilAcknowledged) {
    configure(2, 1, 1, 1);
    host::set_input_level(kInputPins[2], 1);
    samples(3);
    EXPECT_EQ(0x81, ktr09.cestados_entradas_externas[2]);
    host::set_input_level(kInputPins[2], 0);
    samples(20);
    EXPECT_EQ(0x81, ktr09.cestados_entradas_externas[2]) << "rest level cleared a latched event";
    ktr09.cestados_entradas_externas[2] = 1;  // acknowledged
    // A latched event sets its counter back to T, so it is looked at again
    // every second sample.
    samples(2);
    EXPECT_EQ(0, ktr09.cestados_entradas_externas[2]);
}

TEST_F(InputTest, UnusedFunctionsAreNeverSampled) {
    for (uint8_t function : {0, 3, 200}) {
        configure(3, function, 1, 0);
        ktr09.cestados_entradas_externas[3] = 0;
        host::set_input_level(kInputPins[3], 0);
        samples(10);
        EXPECT_EQ(0, ktr09.cestados_entradas_externas[3]) << "function " << int(function);
        EXPECT_EQ(0, ktr09.iseguridad_entrada_externa_low[3]);
    }
}

TEST_F(InputTest, NothingIsSampledBeforeTheFirstPassEnds) {
    ktr09.clisto = 0;
    configure(0, 2, 1, 0);
    host::set_input_level(kInputPins[0], 0);
    samples(5);
    EXPECT_EQ(0, ktr09.cestados_entradas_externas[0]);
}

TEST_F(InputTest, TestModeReportsEachChangeAfterFiveSamples) {
    ktr09.ctest = 1;
    for (int i = 0; i < 4; ++i) {
        ktr09.cestados_entradas_externas[i] = 2;
        host::set_input_level(kInputPins[i], 1);
    }
    samples(5);
    EXPECT_EQ(0, ktr09.creintentos_lectura_fecha) << "the first level is learnt silently";
    struct Case {
        int input;
        int level;
        uint8_t code;
    };
    const Case cases[] = {{0, 0, 1}, {0, 1, 2}, {1, 0, 3}, {1, 1, 4},
                          {2, 0, 5}, {2, 1, 6}, {3, 0, 7}, {3, 1, 8}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "input " << c.input + 1 << " level " << c.level);
        host::set_input_level(kInputPins[c.input], c.level);
        samples(4);
        EXPECT_EQ(0, ktr09.creintentos_lectura_fecha);
        samples(1);
        EXPECT_EQ(c.code, ktr09.creintentos_lectura_fecha);
        ktr09.creintentos_lectura_fecha = 0;
        samples(10);
        EXPECT_EQ(0, ktr09.creintentos_lectura_fecha) << "a steady level repeated its event";
    }
}

TEST_F(InputTest, TestModeLeavesOutputsAndClockReadsAlone) {
    ktr09.ctest = 1;
    for (int i = 0; i < 4; ++i) {
        ktr09.cestados_entradas_externas[i] = 2;
    }
    ktr09.cestado_salida_digital[0] = 1;
    ktr09.creintentos_lectura_fecha = 0;
    ticks(61000);
    EXPECT_EQ(0, host::output_level(kOutputPins[0]));
    EXPECT_EQ(0, ktr09.creintentos_lectura_fecha);
}

// ---- Outputs ----------------------------------------------------------------

TEST_F(InputTest, OutputLevelIsRestLevelFlippedWhileActive) {
    struct Case {
        uint8_t rest;
        uint8_t active;
        int level;
    };
    const Case cases[] = {{0, 0, 0}, {0, 1, 1}, {1, 0, 1}, {1, 1, 0}, {1, 7, 0}};
    for (const Case& c : cases) {
        for (int j = 0; j < 4; ++j) {
            configuracion_ktr09.cestado_en_reposo_salida_digital[j] = c.rest;
            ktr09.cestado_salida_digital[j] = c.active;
        }
        samples(1);
        for (int j = 0; j < 4; ++j) {
            EXPECT_EQ(c.level, host::output_level(kOutputPins[j]))
                << "output " << j + 1 << " rest " << int(c.rest) << " active " << int(c.active);
        }
    }
}

TEST_F(InputTest, TimedActivationLastsItsSteps) {
    ktr09.cestado_salida_digital[1] = 1;
    ktr09.itiempo_activacion_salida_digital[1] = 3;
    ktr09.cestado_salida_digital[2] = 1;  // untimed: stays until cleared
    samples(2);
    EXPECT_EQ(1, host::output_level(kOutputPins[1]));
    samples(1);
    EXPECT_EQ(0, ktr09.cestado_salida_digital[1]);
    EXPECT_EQ(1, host::output_level(kOutputPins[1])) << "pin follows on the next step";
    samples(1);
    EXPECT_EQ(0, host::output_level(kOutputPins[1]));
    samples(50);
    EXPECT_EQ(1, host::output_level(kOutputPins[2]));
}

// ---- The timer and the delays -------------------------------------------------

TEST_F(TickTest, ProgrammedTimerTicksEveryMillisecond) {
    start_tick();
    // MFRQ counts 0..48000: a period of 48001 clocks, just over 1 ms.
    spend(10 * host::kSecond + 5 * host::kMillisecond);
    const unsigned seconds = cacciones_un_minuto;
    EXPECT_EQ(10u, seconds);
    EXPECT_EQ(0, cacciones_cada_segundo) << "tick too fast";
    EXPECT_EQ(0, cacciones_cada_100milisegundos) << "tick too fast";
}

TEST_F(TickTest, StoppedTimerStopsTheTick) {
    start_tick();
    spend(host::kSecond);
    stop_timerTC0();
    const unsigned tenths = cacciones_cada_100milisegundos;
    spend(host::kSecond);
    EXPECT_EQ(tenths, cacciones_cada_100milisegundos);
}

TEST_F(TickTest, DelaysLastBetweenOneUnitLessAndTheirLength) {
    start_tick();
    struct Case {
        void (*delay)(uint8_t);
        uint8_t units;
        host::Micros unit;
    };
    const Case cases[] = {{retardo_tiempo, 5, 100 * host::kMillisecond},
                          {retardo_tiempo, 0, 100 * host::kMillisecond},
                          {retardo_tiempo, 1, 100 * host::kMillisecond},
                          {retardo_milisegundos, 20, host::kMillisecond},
                          {retardo_milisegundos, 0, host::kMillisecond}};
    for (const Case& c : cases) {
        for (int phase = 0; phase < 3; ++phase) {
            spend(37 * host::kMillisecond);  // start somewhere inside a unit
            const host::Micros start = host::now();
            c.delay(c.units);
            const host::Micros took = host::now() - start;
            const unsigned units = c.units == 0 ? 1 : c.units;
            EXPECT_GE(took + 100, (units - 1) * c.unit) << int(c.units);
            EXPECT_LE(took, units * c.unit + 100) << int(c.units);
        }
    }
}

}  // namespace
