// Weather-station samples: $WIMDA sentences summed and closed into averages,
// gusts, pressure history and tendency, limits, sea state and the report.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "codec/nmea.h"
#include "comunicaciones_ema_airmar.h"
#include "support/firmware_fixture.h"

namespace {

// The fields of a $WIMDA sentence the station reads, as text.
struct Mda {
    std::string bars = "1.0132";
    std::string air = "15.0";
    std::string humidity = "70.0";
    std::string dew = "9.6";
    std::string true_dir = "90.0";
    std::string magnetic_dir = "88.0";
    std::string knots = "10.0";
    std::string magnetic_unit = "M";
    std::string knots_unit = "N";
};

std::string sentence(const std::string& body) {
    return codec::build_sentence('$', body);
}

std::string wimda(const Mda& m) {
    return sentence("WIMDA,29.92,I," + m.bars + ",B," + m.air + ",C,,C," + m.humidity + ",," +
                    m.dew + ",C," + m.true_dir + ",T," + m.magnetic_dir + "," + m.magnetic_unit +
                    "," + m.knots + "," + m.knots_unit + ",5.1,M");
}

class EmaTest : public FirmwareTest {
  protected:
    void SetUp() override {
        FirmwareTest::SetUp();
        configuracion_sensor[0] = stconfiguracion_sensor{3, 1, 1, 0, 0, 10, 1, 15};
        configuracion_sensor[1] = stconfiguracion_sensor{3, 1, 1, 0, 0, 10, 1, 15};
        reset_muestra_ema(1, 0);
        reset_muestra_ema(1, 1);
        sensor[0].ctimeout_alarm = 30;
        (void)usb();
    }

    // One received burst on a channel.
    static void burst(const std::string& bytes, uint8_t channel = 0) {
        ASSERT_LE(bytes.size(), sizeof(sensor[channel].cframe_rx));
        std::memcpy(sensor[channel].cframe_rx, bytes.data(), bytes.size());
        sensor[channel].ibytes_rx = static_cast<uint16_t>(bytes.size());
        procesamos_trama_rx_estacion_meteorologica(channel);
    }

    // Sends the sentences; the last one arrives once the sample is due, so
    // it closes the sample (and is part of it).
    static void sample(const std::vector<Mda>& sentences, uint8_t channel = 0) {
        for (size_t i = 0; i < sentences.size(); ++i) {
            if (i + 1 == sentences.size()) {
                sensor[channel].cnueva_muestra = 1;
            }
            burst(wimda(sentences[i]), channel);
        }
    }

    static Mda with_knots(const std::string& knots) {
        Mda m;
        m.knots = knots;
        return m;
    }
    static Mda with_direction(const std::string& degrees) {
        Mda m;
        m.true_dir = degrees;
        return m;
    }
    static Mda with_bars(const std::string& bars) {
        Mda m;
        m.bars = bars;
        return m;
    }
};

// ---- Wind --------------------------------------------------------------------

TEST_F(EmaTest, DirectionsAverageAsVectors) {
    struct Case {
        const char* name;
        std::vector<std::string> directions;
        uint16_t mean;
    };
    const Case cases[] = {
        {"350 and 10 alternate: north, not south", {"350", "10", "350", "10"}, 0},
        {"170 and 190", {"170", "190"}, 180},
        {"10 and 31: the mean 20.5 is truncated", {"10", "31"}, 20},
        {"200 and 221: a negative angle shifted by 360", {"200", "221"}, 210},
        {"270 and 301", {"270", "301"}, 285},
        {"359.5: just under 360", {"359.5", "359.5"}, 359},
        {"359.999 is held at 359.99", {"359.999"}, 359},
        {"-0.5 comes out below 360", {"-0.5"}, 359},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<Mda> sentences;
        for (const std::string& d : c.directions) {
            sentences.push_back(with_direction(d));
        }
        sample(sentences);
        EXPECT_EQ(c.mean, sensor[0].iwind_direction);
    }
}

TEST_F(EmaTest, TrueOrMagneticDirectionByConfiguration) {
    const struct {
        uint8_t setting;
        uint16_t expected;
    } cases[] = {{1, 90}, {0, 88}, {2, 88}};
    for (const auto& c : cases) {
        configuracion_sensor[0].cdireccionamiento_viento = c.setting;
        sample({Mda{}});
        EXPECT_EQ(c.expected, sensor[0].iwind_direction) << "setting " << int(c.setting);
    }
}

TEST_F(EmaTest, WindSpeedIsLimitedAndEmptyCountsAsCalm) {
    const struct {
        const char* name;
        std::vector<std::string> knots;
        uint16_t hundredths;
        uint8_t sea_state;
    } cases[] = {
        {"130 knots summed as 126", {"130.0", "130.0"}, 12600, 12},
        {"negative is calm", {"-5.0"}, 0, 0},
        {"empty counts as 0 knots", {"10.0", ""}, 500, 2},
        {"20.5 knots", {"20.5"}, 2050, 5},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<Mda> sentences;
        for (const std::string& k : c.knots) {
            sentences.push_back(with_knots(k));
        }
        sample(sentences);
        EXPECT_EQ(c.hundredths, sensor[0].iaverage_wind_speed);
        EXPECT_EQ(c.sea_state, sensor[0].csea_state);
    }
}

TEST_F(EmaTest, GustIsTheLargestMeanOfThreeConsecutiveSentences) {
    const char* knots[] = {"10", "10", "40", "10", "10"};
    const char* directions[] = {"80", "80", "80", "200", "200"};
    std::vector<Mda> sentences;
    for (int i = 0; i < 5; ++i) {
        Mda m = with_knots(knots[i]);
        m.true_dir = directions[i];
        sentences.push_back(m);
    }
    sample(sentences);
    EXPECT_EQ(2000, sensor[0].iwind_gust_speed) << "mean of 10, 40, 10 (or 10, 10, 40)";
    EXPECT_EQ(1600, sensor[0].iaverage_wind_speed);
    EXPECT_EQ(80, sensor[0].iwind_gust_direction) << "the first window that reached 20 knots";
}

TEST_F(EmaTest, GustWindowsRunOnAcrossSamples) {
    sample({with_knots("10"), with_knots("10"), with_knots("40")});
    EXPECT_EQ(2000, sensor[0].iwind_gust_speed);
    // The next sample's only sentence closes the window 10, 40, 10.
    sample({with_knots("10")});
    EXPECT_EQ(2000, sensor[0].iwind_gust_speed);
    EXPECT_EQ(1000, sensor[0].iaverage_wind_speed);
    // Then 40, 10, 10 and 10, 10, 10 close.
    sample({with_knots("10"), with_knots("10")});
    EXPECT_EQ(2000, sensor[0].iwind_gust_speed);
    sample({with_knots("10")});
    EXPECT_EQ(1000, sensor[0].iwind_gust_speed);
}

TEST_F(EmaTest, NoClosedGustWindowGivesNoGust) {
    sample({with_knots("30")});
    EXPECT_EQ(3000, sensor[0].iaverage_wind_speed);
    EXPECT_EQ(0, sensor[0].iwind_gust_speed);
    EXPECT_EQ(0, sensor[0].iwind_gust_direction);
}

// ---- Pressure ------------------------------------------------------------------

TEST_F(EmaTest, PressureFromBarsIsLimited) {
    const struct {
        const char* bars;
        uint16_t tenths_hpa;
    } cases[] = {{"1.0132", 10132}, {"0.9875", 9875}, {"0.1500", 2000}, {"1.6000", 15000}};
    for (const auto& c : cases) {
        sample({with_bars(c.bars)});
        EXPECT_EQ(c.tenths_hpa, sensor[0].iair_pressure[0]) << c.bars << " bar";
    }
}

TEST_F(EmaTest, TendencyOfTheFirstSamplesComparesWithTheFirst) {
    const struct {
        const char* bars;
        uint16_t tenths_hpa;
        uint8_t tendency;
    } samples[] = {
        {"1.0132", 10132, 0},  // the first compares with itself
        {"1.0133", 10133, 0},  // 0.1 hPa above the first: steady
        {"1.0134", 10134, 2},  // 0.2 hPa above the first: rising
        {"1.0131", 10131, 0},  // 0.1 hPa below: steady
        {"1.0130", 10130, 1},  // 0.2 hPa below: falling
    };
    for (const auto& s : samples) {
        sample({with_bars(s.bars)});
        EXPECT_EQ(s.tenths_hpa, sensor[0].iair_pressure[0]);
        EXPECT_EQ(s.tendency, sensor[0].cair_pressure_tendency) << s.bars;
    }
    EXPECT_EQ(10132, sensor[0].iair_pressure[4]) << "the first sample, four intervals back";
}

TEST_F(EmaTest, FromTheNineteenthSampleTheTendencySpansEighteenIntervals) {
    sample({with_bars("1.0200")});
    for (int s = 2; s <= 18; ++s) {
        sample({with_bars("1.0100")});
        EXPECT_EQ(1, sensor[0].cair_pressure_tendency) << "sample " << s << " against the first";
    }
    sample({with_bars("1.0100")});
    EXPECT_EQ(1, sensor[0].cair_pressure_tendency) << "sample 19 against sample 1";
    sample({with_bars("1.0100")});
    EXPECT_EQ(0, sensor[0].cair_pressure_tendency) << "sample 20 against sample 2";
    EXPECT_EQ(18, sensor[0].cair_pressure_muestras_temporales);
    EXPECT_EQ(10100, sensor[0].iair_pressure[18]);
}

// ---- Humidity, temperatures -------------------------------------------------

TEST_F(EmaTest, HumidityAndTemperaturesAreLimited) {
    const struct {
        const char* name;
        Mda m;
        uint8_t humidity;
        int16_t air, dew;
    } cases[] = {
        {"humidity mean of 101.5",
         [] {
             Mda m;
             m.humidity = "101.5";
             return m;
         }(),
         100, 150, 96},
        {"negative humidity",
         [] {
             Mda m;
             m.humidity = "-2.0";
             return m;
         }(),
         0, 150, 96},
        {"tenths truncated toward zero",
         [] {
             Mda m;
             m.air = "-12.34";
             m.dew = "-3.07";
             return m;
         }(),
         70, -123, -30},
        {"held at -50 and 80",
         [] {
             Mda m;
             m.air = "85.0";
             m.dew = "-60.0";
             return m;
         }(),
         70, 800, -500},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sample({c.m});
        EXPECT_EQ(c.humidity, sensor[0].crelative_humidity);
        EXPECT_EQ(c.air, sensor[0].iair_temperature);
        EXPECT_EQ(c.dew, sensor[0].idew_point);
    }
}

// ---- Empty fields ------------------------------------------------------------

TEST_F(EmaTest, AnEmptyFieldDoesNotDragItsMean) {
    // An empty field holds the mean summed so far: 60, (60), 90 gives 70
    // where a zero would have given 50.
    Mda a, b, c;
    a.humidity = "60.0";
    b.humidity = "";
    c.humidity = "90.0";
    b.air = "";
    b.dew = "";
    b.bars = "";
    b.true_dir = "";
    a.true_dir = "100";
    c.true_dir = "120";
    sample({a, b, c});
    EXPECT_EQ(70, sensor[0].crelative_humidity);
    EXPECT_EQ(150, sensor[0].iair_temperature);
    EXPECT_EQ(96, sensor[0].idew_point);
    EXPECT_EQ(10132, sensor[0].iair_pressure[0]);
    EXPECT_EQ(110, sensor[0].iwind_direction);
    EXPECT_EQ(1000, sensor[0].iaverage_wind_speed) << "the sentence still counts for the wind";
}

TEST_F(EmaTest, AnEmptyFieldOpeningASampleTakesTheLastPublishedValue) {
    sample({with_bars("1.0000")});
    Mda first;
    first.bars = "";
    first.humidity = "";
    Mda second = with_bars("1.0200");
    second.humidity = "90.0";
    sample({first, second});
    EXPECT_EQ(10100, sensor[0].iair_pressure[0]) << "mean of 1.0000 (last published) and 1.0200";
    EXPECT_EQ(80, sensor[0].crelative_humidity) << "mean of 70 (last published) and 90";
}

// ---- Sentences ------------------------------------------------------------------

TEST_F(EmaTest, GoodSentenceReloadsTheAlarmAndClearsTheResets) {
    sensor[0].ctimeout_alarm = 3;
    sensor[0].ccantidad_resets = 4;
    sensor[0].calarma = 1;
    std::string bad = wimda(Mda{});
    bad[bad.size() - 3] = bad[bad.size() - 3] == '0' ? '1' : '0';
    burst(bad);
    EXPECT_EQ(3, sensor[0].ctimeout_alarm) << "a wrong checksum does not count";
    EXPECT_EQ(1, sensor[0].calarma);
    EXPECT_EQ(0, sensor[0].inumero_muestras_average);
    burst(sentence("WIMWV,45.0,T,10.0,N,A"));
    EXPECT_EQ(30, sensor[0].ctimeout_alarm) << "any good sentence does";
    EXPECT_EQ(0, sensor[0].ccantidad_resets);
    EXPECT_EQ(0, sensor[0].calarma);
}

TEST_F(EmaTest, WrongChecksumIsReportedWithTheComputedSum) {
    const std::string good = wimda(Mda{});
    const std::string digits = good.substr(good.size() - 4, 2);
    std::string bad = good;
    bad[bad.size() - 4] = digits[0] == 'F' ? 'E' : 'F';
    for (uint8_t mode : {0, 1}) {
        sensor[0].cextraigo = mode;
        burst(bad);
        const std::string out = usb();
        EXPECT_NE(std::string::npos, out.find("Checksum calculado erroneo => " + digits + "\r\n"))
            << out;
    }
}

TEST_F(EmaTest, UnexpectedSentenceAsksForConfigurationOnce) {
    sensor[0].cconfiguracion = 0;
    burst(sentence("WIMWV,45.0,T,10.0,N,A") + sentence("YXXDR,C,15.0,C,AIRTEMP"));
    burst(sentence("WIMWV,45.0,T,10.0,N,A"));
    EXPECT_EQ("Nueva configuracion", usb());
    EXPECT_EQ(1, sensor[0].cconfiguracion);
    sensor[0].cconfiguracion = 2;
    burst(sentence("WIMWV,45.0,T,10.0,N,A"));
    EXPECT_EQ("", usb()) << "not while the configuration is under way";
    EXPECT_EQ(2, sensor[0].cconfiguracion);
}

TEST_F(EmaTest, WrongUnitLettersAreNotSummedButCloseTheSample) {
    burst(wimda(with_knots("10.0")));
    Mda kmh = with_knots("50.0");
    kmh.knots_unit = "K";
    Mda true_only = with_knots("50.0");
    true_only.magnetic_unit = "T";
    burst(wimda(true_only));
    sensor[0].cnueva_muestra = 1;
    burst(wimda(kmh));
    EXPECT_EQ(0, sensor[0].cnueva_muestra);
    EXPECT_EQ(1000, sensor[0].iaverage_wind_speed);
}

TEST_F(EmaTest, DueSampleWithNothingSummedPublishesNothing) {
    sensor[0].iaverage_wind_speed = 1234;
    sensor[0].iair_pressure[0] = 10000;
    sensor[0].ctimeout_datos_validos = 4;
    stais.itimeout_tx_msg8 = 300;
    Mda kmh;
    kmh.knots_unit = "K";
    sensor[0].cnueva_muestra = 1;
    burst(wimda(kmh));
    EXPECT_EQ(0, sensor[0].cnueva_muestra);
    EXPECT_EQ(1234, sensor[0].iaverage_wind_speed);
    EXPECT_EQ(10000, sensor[0].iair_pressure[0]);
    EXPECT_EQ(0, sensor[0].iair_pressure[1]) << "the history did not move";
    EXPECT_EQ(4, sensor[0].ctimeout_datos_validos);
    EXPECT_EQ(300, stais.itimeout_tx_msg8);
    EXPECT_EQ("", usb());
}

TEST_F(EmaTest, ClosingStartsTheValidityAndTriggersMessage8) {
    stais.itimeout_tx_msg8 = 300;
    burst(wimda(Mda{}));
    EXPECT_EQ(300, stais.itimeout_tx_msg8) << "summing alone triggers nothing";
    EXPECT_EQ(1, sensor[0].inumero_muestras_average);
    sample({Mda{}});
    EXPECT_EQ(15, sensor[0].ctimeout_datos_validos);
    EXPECT_EQ(0, stais.itimeout_tx_msg8);
    EXPECT_EQ(0, sensor[0].inumero_muestras_average) << "the next sample starts empty";
}

TEST_F(EmaTest, EverySentenceOfABurstIsTaken) {
    std::string bytes;
    for (const char* knots : {"10", "20", "30"}) {
        bytes += wimda(with_knots(knots));
    }
    // A last sentence cut by the end of the burst.
    bytes += "$WIMDA,29.92,I,1.01";
    burst(bytes);
    EXPECT_EQ(3, sensor[0].inumero_muestras_average);
    sensor[0].cnueva_muestra = 1;
    burst(wimda(with_knots("40")));
    EXPECT_EQ(2500, sensor[0].iaverage_wind_speed);
}

TEST_F(EmaTest, ChannelsKeepTheirOwnSums) {
    sample({with_knots("10")}, 1);
    sample({with_knots("30")}, 0);
    EXPECT_EQ(1000, sensor[1].iaverage_wind_speed);
    EXPECT_EQ(3000, sensor[0].iaverage_wind_speed);
}

// ---- Console ---------------------------------------------------------------------

TEST_F(EmaTest, SampleReport) {
    ktr09.cdia_utc = 7;
    ktr09.cmes_utc = 12;
    ktr09.cano_utc = 24;
    ktr09.chora_utc = 9;
    ktr09.cminuto_utc = 5;
    sample({with_knots("12.5"), with_knots("12.5"), with_knots("12.5")});
    EXPECT_EQ(
        "\r\n****************      Nueva muestra EMA (07/12/24 09:05)        *************\r\n"
        "\tAverage wind Speed: 12.50\tWind direction: 90\r\n"
        "\tWind gust speed: 12.50\tGust direction: 90\r\n"
        "\tAir pressure: 1013.2\tPressure tendecy: 0\r\n"
        "\tRelative humidity: 70 %\r\n"
        "\tAir temperature: 15.0\tDew point: 9.6\tSea state: 4\r\n"
        "\r\n",
        usb());
}

TEST_F(EmaTest, TraceLevels) {
    const std::string s = sentence("WIMWV,45.0,T,10.0,N,A");
    const std::string shown = s.substr(0, s.size() - 2) + "da";
    sensor[0].cconfiguracion = 2;
    sensor[0].cextraigo = 1;
    burst(s);
    EXPECT_EQ("Procesando: " + shown + "\r\n", usb());
    sensor[0].cextraigo = 2;
    burst(s);
    EXPECT_EQ(
        "Sensor Rx (" + std::to_string(s.size()) + ")=> " + s + "\r\nProcesando: " + shown + "\r\n",
        usb());
    sensor[0].cextraigo = 1;
    std::string gusty;
    for (const char* knots : {"10", "10", "40"}) {
        Mda m = with_knots(knots);
        m.true_dir = "0";
        gusty += wimda(m);
    }
    burst(gusty);
    EXPECT_NE(std::string::npos, usb().find("Nueva rafaga => 20.00 0.00 1.00\r\n"));
}

TEST_F(EmaTest, FullBufferWithoutLineFeedIsNotReadPastItsEnd) {
    sensor[0].cextraigo = 2;
    std::string bytes(sizeof(sensor[0].cframe_rx), 'X');
    bytes[0] = '$';
    burst(bytes);
    const std::string out = usb();
    EXPECT_NE(std::string::npos, out.find("Procesando: $XXX"));
    EXPECT_EQ(0, sensor[0].inumero_muestras_average);
}

// ---- Sea state -------------------------------------------------------------------

TEST(Beaufort, BoundariesAreInclusive) {
    // Upper bound in knots of each force 0..11.
    const int bounds[] = {1, 3, 6, 10, 16, 21, 27, 33, 40, 47, 55, 63};
    EXPECT_EQ(0, calculo_estado_del_mar_segun_tabla_beaufort(0));
    for (int force = 0; force < 12; ++force) {
        const uint16_t at = static_cast<uint16_t>(bounds[force] * 100);
        EXPECT_EQ(force, calculo_estado_del_mar_segun_tabla_beaufort(at)) << at;
        EXPECT_EQ(force + 1, calculo_estado_del_mar_segun_tabla_beaufort(at + 1)) << at + 1;
    }
    EXPECT_EQ(12, calculo_estado_del_mar_segun_tabla_beaufort(12600));
    EXPECT_EQ(12, calculo_estado_del_mar_segun_tabla_beaufort(65535));
}

// ---- Reset of the sums --------------------------------------------------------

TEST_F(EmaTest, ResetClearsTheSumsAndOnStartAlsoTheGustWindows) {
    burst(wimda(with_knots("10")) + wimda(with_knots("20")) + wimda(with_knots("30")) +
          wimda(with_knots("40")));
    sensor[0].cnueva_muestra = 1;
    reset_muestra_ema(0, 0);
    EXPECT_EQ(0, sensor[0].inumero_muestras_average);
    EXPECT_EQ(0.0f, sensor[0].fsumatorio_wind_speed);
    EXPECT_EQ(0.0f, sensor[0].fwind_gust_speed);
    EXPECT_EQ(0, sensor[0].cnueva_muestra);
    EXPECT_NE(0.0f, sensor[0].fsumatorio_wind_gust_speed[0] +
                        sensor[0].fsumatorio_wind_gust_speed[1] +
                        sensor[0].fsumatorio_wind_gust_speed[2])
        << "windows run on";
    reset_muestra_ema(1, 0);
    for (int j = 0; j < 3; ++j) {
        EXPECT_EQ(-j, sensor[0].cmuestras_calculo_gust[j]);
        EXPECT_EQ(0.0f, sensor[0].fsumatorio_wind_gust_speed[j]);
        EXPECT_EQ(0.0f, sensor[0].fsumatorio_seno_wind_gust_direction[j]);
        EXPECT_EQ(0.0f, sensor[0].fsumatorio_coseno_wind_gust_direction[j]);
    }
}

}  // namespace
