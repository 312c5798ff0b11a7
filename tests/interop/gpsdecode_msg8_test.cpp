// The message 8 the station builds from weather-station sentences and asks
// its transponder to broadcast, as the transponder model reports sending it,
// decoded by gpsd's gpsdecode: every field the station fills must come back
// as the station computed it. Also the approach warning (message 12) and the
// data-link parts (message 6).
#include <gtest/gtest.h>

#include "support/gpsdecode.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include <Arduino.h>

#include "ais.h"
#include "codec/ais_bits.h"
#include "codec/ais_sentences.h"
#include "codec/nmea.h"
#include "comunicaciones_ema_airmar.h"
#include "comunicaciones_tidelink_estacion_base.h"
#include "declaraciones.h"
#include "devices/ais_transponder.h"
#include "devices/weather_station.h"
#include "main.h"
#include "host/machine.h"

namespace {

// The 310 payload bits of stais.cmsg_tx (the last two bits of its 52
// characters are fill).
codec::Bits station_payload() {
    const std::string chars(reinterpret_cast<const char*>(stais.cmsg_tx + 1), stais.cmsg_tx[0]);
    return codec::dearmour_payload(chars, 2).value_or(codec::Bits{});
}

std::string station_payload_bits() {
    std::string bits;
    for (bool bit : station_payload()) {
        bits += bit ? '1' : '0';
    }
    return bits;
}

// The station asks its transponder to broadcast message 8 (the !AIMEB
// request of its sequencer) and the transponder model reports the whole
// message it sent, header added, as !AIVDO.
std::vector<std::string> transmitted_message(uint32_t mmsi, uint8_t command) {
    sim::AisTransponder transponder(sim::AisTransponder::Wiring{0, 38400, -1, 1});
    transponder.settings().mmsi = mmsi;
    transponder.attach();
    configuracion_ais.ctipo_comunicacion = 1;
    configuracion_ais.cbaudios = 4;
    inicializacion_canales(2);
    stais.lmmsi = mmsi;
    stais.ccomando = command;
    auto spend = [](host::Micros duration) {
        const host::Micros until = host::now() + duration;
        while (host::now() < until) {
            (void)millis();
        }
    };
    spend(sim::AisTransponder::kBootTime);
    envio_comandos_ais();
    spend(sim::AisTransponder::kTransmitDelay + host::kSecond);
    return transponder.reported();
}

int32_t signed_of(uint32_t value, unsigned width) {
    return (value & (1u << (width - 1))) ? static_cast<int32_t>(value) - (1 << width)
                                         : static_cast<int32_t>(value);
}

struct Case {
    const char* name;
    bool weather;
    sim::WeatherStation::Reading reading;
    uint32_t lon, lat;  // as the transponder reports them (28/27-bit, 1/10000 minute)
    uint8_t day, hour, minute;
    uint16_t history;  // pressure history entries, 0 = none
};

void PrintTo(const Case& c, std::ostream* os) {
    *os << c.name;
}

class GpsdecodeMsg8Test : public ::testing::TestWithParam<Case> {
  protected:
    void SetUp() override {
        if (!gpsdecode_installed()) {
            GTEST_SKIP() << "gpsdecode (Debian gpsd-clients) is not installed";
        }
        host::reset_machine();
        SerialUSB.begin(115200);
        stais.cextraigo = 1;
    }

    // The station's channel 1 takes a minute of the weather station's
    // sentences and closes the sample.
    static void station_sample(const sim::WeatherStation::Reading& reading) {
        configuracion_sensor[0] = stconfiguracion_sensor{3, 1, 1, 0, 2, 10, 1, 15};
        reset_muestra_ema(1, 0);
        const std::string text = sim::WeatherStation::mda_sentence(reading);
        for (int i = 0; i < 60; ++i) {
            std::memcpy(sensor[0].cframe_rx, text.data(), text.size());
            sensor[0].ibytes_rx = static_cast<uint16_t>(text.size());
            sensor[0].cnueva_muestra = i == 59 ? 1 : 0;
            procesamos_trama_rx_estacion_meteorologica(0);
        }
        ASSERT_EQ(15, sensor[0].ctimeout_datos_validos) << "the sample closed";
    }
};

TEST_P(GpsdecodeMsg8Test, DecodesToWhatTheStationComputed) {
    const Case& c = GetParam();
    if (c.weather) {
        station_sample(c.reading);
        for (int k = 1; k <= 18 && c.history != 0; ++k) {
            sensor[0].iair_pressure[k] = c.history;
        }
    }
    stais.llongitud_ais_msg21 = c.lon;
    stais.llatitud_ais_msg21 = c.lat;
    stais.cposition_accurasy_msg21 = 1;
    ktr09.cdia_utc = c.day;
    ktr09.chora_utc = c.hour;
    ktr09.cminuto_utc = c.minute;
    codifico_datos_trama_nmea_mensaje_8();
    // gpsd takes a short payload without complaint: the length is checked here.
    ASSERT_EQ(52, stais.cmsg_tx[0]);

    const std::vector<std::string> sentences = transmitted_message(247123450, 19);
    ASSERT_FALSE(sentences.empty()) << "the transponder reported nothing";
    const nlohmann::json m = gpsdecode_json(sentences);
    ASSERT_TRUE(m.is_object()) << sentences[0];
    EXPECT_EQ(8, m.value("type", -1));
    EXPECT_EQ(0, m.value("repeat", -1));
    EXPECT_EQ(247123450, m.value("mmsi", -1));
    EXPECT_EQ(false, m.value("scaled", true));
    EXPECT_EQ(1, m.value("dac", -1));
    EXPECT_EQ(31, m.value("fid", -1));

    // Position as the station sends it: 1/1000 minute, negative West and South.
    auto position = [](uint32_t stored, uint32_t not_available, uint32_t modulus) {
        const int32_t magnitude =
            static_cast<int32_t>(stored > not_available ? modulus - stored : stored) / 10;
        return stored > not_available ? -magnitude : magnitude;
    };
    EXPECT_EQ(position(c.lon, 108600000, 1u << 28), m.value("lon", 0));
    EXPECT_EQ(position(c.lat, 54600000, 1u << 27), m.value("lat", 0));
    EXPECT_EQ(true, m.value("accuracy", false));
    char timestamp[16];
    std::snprintf(timestamp, sizeof timestamp, "%02uT%02u:%02uZ", c.day, c.hour, c.minute);
    EXPECT_EQ(timestamp, m.value("timestamp", std::string()));

    const stsensor& s = sensor[0];
    if (c.weather) {
        EXPECT_EQ(s.iaverage_wind_speed / 100, m.value("wspeed", -1));
        EXPECT_EQ(s.iwind_gust_speed / 100, m.value("wgust", -1));
        EXPECT_EQ(s.iwind_direction, m.value("wdir", -1));
        EXPECT_EQ(s.iwind_gust_direction, m.value("wgustdir", -1));
        EXPECT_EQ(s.iair_temperature, m.value("airtemp", -9999));
        EXPECT_EQ(s.crelative_humidity, m.value("humidity", -1));
        EXPECT_EQ(s.idew_point, m.value("dewpoint", -9999));
        EXPECT_EQ(s.iair_pressure[0] / 10 - 799, m.value("pressure", -1));
        EXPECT_EQ(s.csea_state, m.value("seastate", -1));
        // Against what the weather station measured.
        EXPECT_EQ(static_cast<int>(c.reading.wind_knots), m.value("wspeed", -1));
        EXPECT_NEAR(c.reading.air_temperature_c * 10, m.value("airtemp", -9999), 1.0);
        EXPECT_NEAR(c.reading.pressure_bar * 1000 - 799, m.value("pressure", -1), 1.0);
    } else {
        EXPECT_EQ(127, m.value("wspeed", -1));
        EXPECT_EQ(127, m.value("wgust", -1));
        EXPECT_EQ(360, m.value("wdir", -1));
        EXPECT_EQ(360, m.value("wgustdir", -1));
        EXPECT_EQ(-1024, m.value("airtemp", 0));
        EXPECT_EQ(101, m.value("humidity", -1));
        EXPECT_EQ(501, m.value("dewpoint", -1));
        EXPECT_EQ(511, m.value("pressure", -1));
        EXPECT_EQ(13, m.value("seastate", -1));
    }
    // The payload's tendency code, read from its own bits (gpsd 3.22 swaps
    // the labels of the codes, not the codes).
    const std::string bits = station_payload_bits();
    EXPECT_EQ(std::stoi(bits.substr(151, 2), nullptr, 2), m.value("pressuretend", -1));
    EXPECT_EQ(signed_of(std::stoul(bits.substr(114, 11), nullptr, 2), 11),
              m.value("airtemp", -9999));
    // The fields without a sensor.
    EXPECT_EQ(127, m.value("visibility", -1));
    EXPECT_EQ(4001, m.value("waterlevel", -1));
    EXPECT_EQ(501, m.value("watertemp", -1));
    EXPECT_EQ(7, m.value("preciptype", -1));
    EXPECT_EQ(510, m.value("salinity", -1));
    EXPECT_EQ(3, m.value("ice", -1));
}

sim::WeatherStation::Reading reading(double knots, double direction, double bar, double air,
                                     double humidity, double dew) {
    sim::WeatherStation::Reading r;
    r.wind_knots = knots;
    r.wind_true_deg = direction;
    r.wind_magnetic_deg = direction;
    r.pressure_bar = bar;
    r.air_temperature_c = air;
    r.humidity_percent = humidity;
    r.dew_point_c = dew;
    return r;
}

constexpr uint32_t k28 = 1u << 28;
constexpr uint32_t k27 = 1u << 27;

INSTANTIATE_TEST_SUITE_P(
    Stations, GpsdecodeMsg8Test,
    ::testing::Values(
        Case{"no_weather_station", false, {}, 108600000, 54600000, 1, 0, 0, 0},
        Case{"harbour_west_north", true, reading(12.5, 275.0, 1.0132, 14.5, 81.0, 11.2),
             k28 - 5041237, 26025009, 7, 9, 5, 10100},
        Case{"cold_south_east", true, reading(33.0, 10.0, 0.9875, -12.3, 100.0, -15.1),
             88 * 600000 + 123456, k27 - (33 * 600000 + 987), 31, 23, 59, 9990},
        Case{"calm_high_pressure", true, reading(0.4, 180.0, 1.0450, 31.0, 35.5, 13.9), 600000,
             600000, 15, 12, 30, 0},
        Case{"storm", true, reading(70.0, 359.0, 0.9601, 2.0, 97.0, 1.6), k28 - 600000,
             k27 - 600000, 28, 3, 10, 9700}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

}  // namespace

namespace {

// The approach warning to a ship, as the transponder reports sending it.
TEST(GpsdecodeMsg12, WarningTextAndDestination) {
    if (!gpsdecode_installed()) {
        GTEST_SKIP() << "gpsdecode (Debian gpsd-clients) is not installed";
    }
    host::reset_machine();
    SerialUSB.begin(115200);
    shipras.lmmsi_detectado = 224106730;
    stais.cindice_msg12 = 1;
    const std::vector<std::string> sentences = transmitted_message(247123450, 20);
    ASSERT_FALSE(sentences.empty()) << "the transponder reported nothing";
    const nlohmann::json m = gpsdecode_json(sentences);
    ASSERT_TRUE(m.is_object()) << sentences[0];
    EXPECT_EQ(12, m.value("type", -1));
    EXPECT_EQ(247123450, m.value("mmsi", -1));
    EXPECT_EQ(224106730, m.value("dest_mmsi", -1));
    EXPECT_EQ("TE ESTAS APROXIMANDOOOO", m.value("text", std::string()));
}

}  // namespace

namespace {

// A 123-byte data-link frame as the three messages 6 the transponder reports
// sending: DAC 11, FI 11, the part byte, then the part's bytes.
TEST(GpsdecodeMsg6, DataLinkFrameInThreeParts) {
    if (!gpsdecode_installed()) {
        GTEST_SKIP() << "gpsdecode (Debian gpsd-clients) is not installed";
    }
    host::reset_machine();
    SerialUSB.begin(115200);
    configuracion_sensor[0] = stconfiguracion_sensor{2, 1, 2, 0, 0, 10, 1, 60};
    std::string frame = "2,1,2,3,T$1," + std::string(106, 'q');
    frame = codec::build_sentence('x', frame).substr(1);
    ASSERT_EQ(123u, frame.size());
    std::memcpy(sensor[0].cframe_rx, frame.data(), frame.size());
    sensor[0].ibytes_rx = static_cast<uint16_t>(frame.size());
    procesamos_trama_rx_tidelink(0);
    ASSERT_EQ(2, sensor[0].cnew_msg6);
    stais.lmmsi_destino_msg6 = 992470002;
    for (uint8_t k = 0; k < 3; ++k) {
        stais.cpartes_paquete_tx = k;
        stais.ccanal_msg6 = 0;
        const std::vector<std::string> sentences = transmitted_message(992470001, 16);
        ASSERT_FALSE(sentences.empty()) << "the transponder reported nothing";
        const nlohmann::json m = gpsdecode_json(sentences);
        ASSERT_TRUE(m.is_object()) << sentences[0];
        EXPECT_EQ(6, m.value("type", -1));
        EXPECT_EQ(992470002, m.value("dest_mmsi", -1));
        EXPECT_EQ(11, m.value("dac", -1));
        EXPECT_EQ(11, m.value("fid", -1));
        // "bits:hex" of the data after the DAC and FI.
        const std::string data = m.value("data", std::string());
        const std::string part = frame.substr(61u * k, 61);
        std::string hex = k == 0 ? "31" : k == 1 ? "32" : "33";
        for (char c : part) {
            char digits[3];
            std::snprintf(digits, sizeof digits, "%02x", static_cast<unsigned char>(c));
            hex += digits;
        }
        EXPECT_EQ(std::to_string(8 * (1 + part.size())) + ":" + hex, data) << m.dump();
    }
}

}  // namespace
