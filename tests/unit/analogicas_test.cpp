// Battery and analog inputs: the measurement chain, the abrupt-change
// filter, the low-level alarms with hysteresis, the calibration block and
// the status block.
#include <Wire.h>

#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "analogicas.h"
#include "devices/eeprom_24xx64.h"
#include "i2c.h"
#include "support/firmware_fixture.h"

namespace {

constexpr uint32_t kPinInput[2] = {40, 39};
constexpr uint32_t kPinBattery = 41;

class AnalogTest : public FirmwareTest {
  protected:
    void SetUp() override {
        FirmwareTest::SetUp();
        configuracion_adc();
        stconfiguracion_ktr09& k = configuracion_ktr09;
        // Factors that are exact in binary, so that counts give exact values.
        k.fconversor_bateria = 0.25f;
        k.ftension_alarma_bateria_baja = 11.5f;
        k.ftension_alarma_bateria_off = 12.0f;
        for (int i = 0; i < 2; ++i) {
            k.ivalor_0_analogica[i] = 0;
            k.fconversor_analogica[i] = 0.25f;
            k.ffactor_A[i] = 1.0f;
            k.ffactor_B[i] = 0.0f;
            k.fumbral_alarma_on[i] = 2.0f;
            k.fumbral_alarma_off[i] = 3.0f;
        }
    }
    // Puts the voltage on a pin that converts to exactly `count`.
    static void set_count(uint32_t pin, int count) {
        host::set_analog_voltage(pin, count * 3.3 / 4096.0);
    }
    static void set_battery(float volts) {
        set_count(kPinBattery, static_cast<int>(volts / 0.25f + 0.5f));
    }
    static void evaluate() {
        estado();
        usb();
    }
};

TEST_F(AnalogTest, RawOnlyMeasurementFillsTheCountAndReturnsZero) {
    host::set_analog_voltage(kPinInput[0], 1.0);
    host::set_analog_voltage(kPinInput[1], 2.0);
    host::set_analog_voltage(kPinBattery, 0.95);
    const uint32_t pins[] = {kPinInput[0], kPinInput[1], kPinBattery};
    for (uint8_t code = 0; code < 3; ++code) {
        uint16_t raw = 0;
        EXPECT_EQ(0.0f, extraigo_valor_analogico(code, &raw, 1)) << int(code);
        EXPECT_EQ(analogRead(pins[code]), raw) << int(code);
        EXPECT_GT(raw, 1000) << int(code);
    }
    uint16_t raw = 77;
    EXPECT_EQ(0.0f, extraigo_valor_analogico(3, &raw, 0));
    EXPECT_EQ(0, raw) << "an unknown channel reads 0";
}

TEST_F(AnalogTest, RawCountIsTheIntegerMeanOfOneHundredReadings) {
    // Ripple that alternates the reading between 1000 and 1003 counts, and
    // one that adds 100 counts to every fourth reading.
    struct Case {
        const char* name;
        std::vector<int> extra_counts;
        uint16_t mean;
    };
    const Case cases[] = {
        {"1000 and 1003 alternating: 1001.5 is cut to 1001", {0, 3}, 1001},
        {"every fourth reading 100 higher", {0, 0, 0, 100}, 1025},
        {"steady", {}, 1000},
    };
    for (const Case& c : cases) {
        for (uint8_t code = 0; code < 3; ++code) {
            const uint32_t pin = code == 2 ? kPinBattery : kPinInput[code];
            std::vector<double> ripple;
            for (int extra : c.extra_counts) {
                ripple.push_back(extra * 3.3 / 4096.0);
            }
            set_count(pin, 1000);
            host::set_analog_ripple(pin, ripple);
            uint16_t raw = 0;
            extraigo_valor_analogico(code, &raw, 1);
            EXPECT_EQ(c.mean, raw) << c.name << ", channel " << int(code);
            host::set_analog_ripple(pin, {});
        }
    }
}

TEST_F(AnalogTest, ScaledAndFinalValuesOfTheInputs) {
    struct Case {
        const char* name;
        int count;
        uint16_t zero;
        float a, b;
        float scaled, final_value;
    };
    const Case cases[] = {
        {"unit factors", 40, 0, 1.0f, 0.0f, 10.0f, 10.0f},
        {"zero count taken off", 40, 8, 1.0f, 0.0f, 8.0f, 8.0f},
        {"linear factors", 40, 8, 2.0f, -1.5f, 8.0f, 14.5f},
        {"at the zero count", 8, 8, 2.0f, 3.0f, 0.0f, 3.0f},
        {"below the zero count: never negative", 4, 8, 2.0f, 3.0f, 0.0f, 3.0f},
    };
    for (uint8_t input = 0; input < 2; ++input) {
        for (const Case& c : cases) {
            configuracion_ktr09.ivalor_0_analogica[input] = c.zero;
            configuracion_ktr09.ffactor_A[input] = c.a;
            configuracion_ktr09.ffactor_B[input] = c.b;
            set_count(kPinInput[input], c.count);
            uint16_t raw = 0;
            EXPECT_EQ(c.scaled, extraigo_valor_analogico(input, &raw, 2)) << c.name;
            EXPECT_EQ(c.count, raw) << c.name;
            EXPECT_EQ(c.final_value, extraigo_valor_analogico(input, &raw, 0)) << c.name;
        }
    }
}

TEST_F(AnalogTest, AbruptBatteryChangeIsBelievedAtTheFifthReading) {
    set_count(kPinBattery, 1185);
    configuracion_ktr09.fconversor_bateria = 0.0106309f;
    evaluate();
    const float held = ktr09.fbateria;
    EXPECT_NEAR(12.6f, held, 0.01f) << "the first reading is taken as it is";
    set_count(kPinBattery, 470);
    for (int reading = 1; reading <= 4; ++reading) {
        evaluate();
        EXPECT_EQ(held, ktr09.fbateria) << "reading " << reading;
    }
    evaluate();
    EXPECT_NEAR(5.0f, ktr09.fbateria, 0.01f);
    EXPECT_EQ(0, ktr09.ccambios_bruscos_bateria);
}

TEST_F(AnalogTest, SingleWildBatteryReadingIsIgnored) {
    set_battery(12.5f);
    evaluate();
    set_battery(5.0f);
    evaluate();
    evaluate();
    set_battery(12.25f);
    evaluate();
    EXPECT_EQ(12.25f, ktr09.fbateria) << "within 0.5 V of the held value";
    EXPECT_EQ(0, ktr09.ccambios_bruscos_bateria);
    set_battery(5.0f);
    for (int reading = 1; reading <= 4; ++reading) {
        evaluate();
        EXPECT_EQ(12.25f, ktr09.fbateria) << "the count started again, reading " << reading;
    }
}

TEST_F(AnalogTest, TestModeTakesEveryBatteryReadingAsItIs) {
    set_battery(12.5f);
    evaluate();
    ktr09.ctest = 1;
    set_battery(5.0f);
    evaluate();
    EXPECT_EQ(5.0f, ktr09.fbateria);
}

TEST_F(AnalogTest, BatteryAlarmHysteresis) {
    // The test mode leaves the abrupt-change filter out of the way.
    ktr09.ctest = 1;
    struct Step {
        float volts;
        uint8_t alarm;
        uint8_t low;
        uint8_t high;
    };
    const Step steps[] = {
        {12.5f, 0, 0, 0},  {11.0f, 0, 1, 0},  // first at or below the threshold
        {11.0f, 1, 0, 0},                     // second: raised
        {11.75f, 1, 0, 0},                    // between the thresholds: nothing moves
        {11.5f, 1, 0, 0},                     // at the threshold, already raised
        {12.0f, 1, 0, 1},                     // first at the release level
        {11.75f, 1, 0, 0},                    // between again: the confirmation is lost
        {12.0f, 1, 0, 1},  {12.0f, 0, 0, 0},  // second in a row: cleared
        {11.5f, 0, 1, 0},                     // at the threshold counts as low
    };
    int index = 0;
    for (const Step& step : steps) {
        set_battery(step.volts);
        evaluate();
        EXPECT_EQ(step.volts, ktr09.fbateria) << "step " << index;
        EXPECT_EQ(step.alarm, ktr09.calarma_low_battery) << "step " << index;
        EXPECT_EQ(step.low, ktr09.cseguridad_bateria_baja_low) << "step " << index;
        EXPECT_EQ(step.high, ktr09.cseguridad_bateria_baja_high) << "step " << index;
        ++index;
    }
}

TEST_F(AnalogTest, EachInputHasItsOwnAlarmAndCounters) {
    set_battery(12.5f);
    struct Step {
        int count1, count2;
        uint8_t alarm1, alarm2;
    };
    // Threshold 2.0 (count 8), release 3.0 (count 12).
    const Step steps[] = {
        {16, 16, 0, 0}, {8, 16, 0, 0},  {4, 16, 1, 0},  {4, 7, 1, 0},   {10, 7, 1, 1},
        {12, 7, 1, 1},  {12, 12, 0, 1}, {12, 12, 0, 0}, {12, 13, 0, 0},
    };
    int index = 0;
    for (const Step& step : steps) {
        set_count(kPinInput[0], step.count1);
        set_count(kPinInput[1], step.count2);
        evaluate();
        EXPECT_EQ(step.alarm1, ktr09.cestados_entradas_analogicas[0]) << "step " << index;
        EXPECT_EQ(step.alarm2, ktr09.cestados_entradas_analogicas[1]) << "step " << index;
        ++index;
    }
}

TEST_F(AnalogTest, StatusBlock) {
    ktr09.cdia_utc = 5;
    ktr09.cmes_utc = 3;
    ktr09.cano_utc = 24;
    ktr09.chora_utc = 14;
    ktr09.cminuto_utc = 7;
    set_count(kPinBattery, 49);   // 12.25 V
    set_count(kPinInput[0], 10);  // 2.50
    set_count(kPinInput[1], 2);   // 0.50, below its threshold
    const std::string stars(79, '*');
    const std::string head =
        "\r\n" + stars + "\r\n\t\t05/03/24 14:07\tFW: 3-0\r\n" + stars + "\r\n";
    estado();
    EXPECT_EQ(head +
                  "\tBatery (49): 12.25 v\r\n"
                  "\tAnalog 1 (10):2.50 v\r\n"
                  "\tAnalog 2 (2):0.50 v\r\n",
              usb());
    configuracion_ktr09.ftension_alarma_bateria_baja = 12.0f;
    set_count(kPinBattery, 47);  // 11.75 V, below that threshold
    estado();
    usb();
    estado();
    EXPECT_EQ(head +
                  // An alarm text takes the place of its line's break.
                  "\tBatery (47): 11.75 v\tAlarm low battery"
                  "\tAnalog 1 (10):2.50 v\r\n"
                  "\tAnalog 2 (2):0.50 v\tAlarm",
              usb());
}

TEST_F(AnalogTest, HourlyTimeSynchronisationStartsAtMinuteZero) {
    struct Case {
        uint8_t minute;
        uint8_t before;
        uint8_t after;
    };
    const Case cases[] = {{0, 0, 3}, {0, 1, 3}, {1, 0, 0}, {59, 2, 2}, {30, 0, 0}};
    for (const Case& c : cases) {
        ktr09.cminuto_utc = c.minute;
        stais.cnueva_sincronizacion_horaria = c.before;
        evaluate();
        EXPECT_EQ(c.after, stais.cnueva_sincronizacion_horaria) << "minute " << int(c.minute);
    }
}

class CalibrationTest : public AnalogTest {
  protected:
    void SetUp() override {
        AnalogTest::SetUp();
        start_tick();
        Wire.begin();
        host::attach_i2c_device(sim::Eeprom24xx64::kAddress, &eeprom);
        std::vector<uint8_t> image(8192, 0xFF);
        put_float(image, 0x1FF0, 0.0106309f);
        image[0x1FF4] = 0x01;  // zero count of input 1, high byte first
        image[0x1FF5] = 0x02;
        put_float(image, 0x1FF6, 0.5f);
        image[0x1FFA] = 0x03;
        image[0x1FFB] = 0x04;
        put_float(image, 0x1FFC, 2.25f);
        eeprom.load(image);
    }
    static void put_float(std::vector<uint8_t>& image, size_t at, float value) {
        uint32_t bits = 0;
        std::memcpy(&bits, &value, sizeof bits);
        for (int i = 0; i < 4; ++i) {
            image[at + i] = static_cast<uint8_t>(bits >> (8 * i));
        }
    }
    sim::Eeprom24xx64 eeprom;
};

TEST_F(CalibrationTest, ReloadsTheBlocksAsked) {
    struct Case {
        uint8_t code;
        bool battery, input1, input2;
    };
    const Case cases[] = {
        {2, true, false, false}, {0, false, true, false},  {1, false, false, true},
        {255, true, true, true}, {7, false, false, false},
    };
    for (const Case& c : cases) {
        stconfiguracion_ktr09& k = configuracion_ktr09;
        k.fconversor_bateria = 9.0f;
        k.ivalor_0_analogica[0] = k.ivalor_0_analogica[1] = 9;
        k.fconversor_analogica[0] = k.fconversor_analogica[1] = 9.0f;
        lectura_variables_analogicas_ktr09(c.code);
        EXPECT_EQ(c.battery ? 0.0106309f : 9.0f, k.fconversor_bateria) << int(c.code);
        EXPECT_EQ(c.input1 ? 0x0102 : 9, k.ivalor_0_analogica[0]) << int(c.code);
        EXPECT_EQ(c.input1 ? 0.5f : 9.0f, k.fconversor_analogica[0]) << int(c.code);
        EXPECT_EQ(c.input2 ? 0x0304 : 9, k.ivalor_0_analogica[1]) << int(c.code);
        EXPECT_EQ(c.input2 ? 2.25f : 9.0f, k.fconversor_analogica[1]) << int(c.code);
    }
}

// A board fresh from the factory: every calibration byte 0xFF (NaN factors,
// zero counts above the converter's range), and factors that are no factor.
// An input's factor may be negative (a reading that falls as the voltage
// rises); the battery's may not.
TEST_F(CalibrationTest, FactorsThatScaleNothingAreUncalibrated) {
    const struct {
        const char* description;
        float stored;
        float used_battery;
        float used_input;
    } cases[] = {
        {"blank (NaN)", std::numeric_limits<float>::quiet_NaN(), 0.0106f, 3.3f / 4096},
        {"infinite", std::numeric_limits<float>::infinity(), 0.0106f, 3.3f / 4096},
        {"zero", 0.0f, 0.0106f, 3.3f / 4096},
        {"minus infinity", -std::numeric_limits<float>::infinity(), 0.0106f, 3.3f / 4096},
        {"minus zero", -0.0f, 0.0106f, 3.3f / 4096},
        {"negative", -0.5f, 0.0106f, -0.5f},
        {"largest finite", std::numeric_limits<float>::max(), 0.0106f,
         std::numeric_limits<float>::max()},
        {"calibrated", 0.0125f, 0.0125f, 0.0125f},
    };
    for (const auto& c : cases) {
        std::vector<uint8_t> image(8192, 0xFF);
        for (size_t at : {0x1FF0, 0x1FF6, 0x1FFC}) {
            put_float(image, at, c.stored);
        }
        eeprom.load(image);
        lectura_variables_analogicas_ktr09(255);
        const stconfiguracion_ktr09& k = configuracion_ktr09;
        EXPECT_EQ(c.used_battery, k.fconversor_bateria) << c.description;
        EXPECT_EQ(c.used_input, k.fconversor_analogica[0]) << c.description;
        EXPECT_EQ(c.used_input, k.fconversor_analogica[1]) << c.description;
        EXPECT_EQ(0, k.ivalor_0_analogica[0]) << "0xFFFF is beyond any count";
    }
}

TEST_F(CalibrationTest, BlankBoardStillMeasuresAndRaisesTheBatteryAlarm) {
    eeprom.load(std::vector<uint8_t>(8192, 0xFF));
    lectura_variables_analogicas_ktr09(255);
    set_count(kPinBattery, 1038);  // 11.0 V at the ideal factor
    estado();
    const std::string first = usb();
    EXPECT_NE(std::string::npos, first.find("\tBatery (1038): 11.00 v")) << first;
    EXPECT_EQ(std::string::npos, first.find("nan"));
    estado();
    EXPECT_NE(std::string::npos, usb().find("Alarm low battery"));
}

}  // namespace
