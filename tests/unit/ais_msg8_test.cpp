// Message 8 meteorological payload: layout, not-available codes, positions,
// the weather values of the channel with valid data, pressure and its
// tendency, and the console trace.
#include <optional>
#include <string>
#include <vector>

#include "ais.h"
#include "codec/ais_bits.h"
#include "codec/ais_messages.h"
#include "support/firmware_fixture.h"

namespace {

// The payload as bits, from its armoured characters.
codec::Bits payload_bits() {
    const std::string payload(reinterpret_cast<const char*>(&stais.cmsg_tx[1]), stais.cmsg_tx[0]);
    const std::optional<codec::Bits> bits = codec::dearmour_payload(payload, 0);
    if (!bits) {
        ADD_FAILURE() << "not an armoured payload: " << payload;
        return {};
    }
    return *bits;
}

// What the station sent, read by the codec's table of the meteorological
// message behind a message 8 header of its own (type, repeat, MMSI, spare).
codec::Message sent() {
    codec::BitWriter message;
    message.put(8, 6);
    message.put(0, 40 - 6);
    message.put_bits(payload_bits());
    std::string error;
    const std::optional<codec::Message> decoded = codec::decode_message(message.bits(), &error);
    if (!decoded) {
        ADD_FAILURE() << error;
        return {};
    }
    return *decoded;
}

int64_t field(const std::string& name) {
    const codec::Message message = sent();
    if (message.numbers.count(name) == 0) {
        ADD_FAILURE() << "no field " << name;
    }
    return message.number(name);
}

class Msg8Test : public FirmwareTest {
  protected:
    void SetUp() override {
        FirmwareTest::SetUp();
        stais.cextraigo = 1;  // no trace unless a test asks for it
        stais.llongitud_ais_msg21 = 108600000;
        stais.llatitud_ais_msg21 = 54600000;
    }

    // A weather channel holding a valid sample.
    static void weather_on(uint8_t channel) {
        configuracion_sensor[channel].csensor = 3;
        stsensor& s = sensor[channel];
        s.ctimeout_datos_validos = 10;
        s.iaverage_wind_speed = 2050;
        s.iwind_gust_speed = 3125;
        s.iwind_direction = 275;
        s.iwind_gust_direction = 281;
        s.iair_temperature = -123;
        s.idew_point = -30;
        s.crelative_humidity = 85;
        s.iair_pressure[0] = 10132;
    }
};

TEST_F(Msg8Test, LayoutIs310BitsIn52Characters) {
    codifico_datos_trama_nmea_mensaje_8();
    EXPECT_EQ(52, stais.cmsg_tx[0]);
    const codec::Bits bits = payload_bits();
    ASSERT_EQ(312u, bits.size());
    EXPECT_FALSE(bits[310] || bits[311]) << "the last two bits are fill";
    EXPECT_EQ(1, field("dac"));
    EXPECT_EQ(31, field("fid"));
}

TEST_F(Msg8Test, WithoutAWeatherStationEveryWeatherFieldIsNotAvailable) {
    const struct {
        const char* name;
        uint8_t type;
        uint8_t valid;
    } cases[] = {
        {"no weather station", 0, 10},
        {"a weather station whose sample has expired", 3, 0},
        {"a base station", 1, 10},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        weather_on(0);
        configuracion_sensor[0].csensor = c.type;
        sensor[0].ctimeout_datos_validos = c.valid;
        codifico_datos_trama_nmea_mensaje_8();
        ASSERT_EQ(52, stais.cmsg_tx[0]);
        const codec::Message message = sent();
        bool after_minute = false;
        for (const codec::Field& f : codec::application_layout(8, 1, 31)->fields) {
            if (after_minute) {
                EXPECT_EQ(f.missing, message.number(f.name)) << f.name;
            }
            after_minute = after_minute || std::string(f.name) == "minute";
        }
        EXPECT_EQ(-1024, message.number("airtemp"));
    }
}

TEST_F(Msg8Test, WeatherValuesOfTheChannelWithValidData) {
    weather_on(0);
    codifico_datos_trama_nmea_mensaje_8();
    EXPECT_EQ(20, field("wspeed")) << "20.5 knots truncated";
    EXPECT_EQ(31, field("wgust"));
    EXPECT_EQ(275, field("wdir"));
    EXPECT_EQ(281, field("wgustdir"));
    EXPECT_EQ(-123, field("airtemp"));
    EXPECT_EQ(85, field("humidity"));
    EXPECT_EQ(-30, field("dewpoint"));
    EXPECT_EQ(214, field("pressure"));
    EXPECT_EQ(5, field("seastate"));
    EXPECT_EQ(3, field("pressuretend")) << "no history yet";
    EXPECT_EQ(127, field("visibility")) << "no sensor for it";
}

TEST_F(Msg8Test, WhenBothChannelsQualifyTheSecondIsSent) {
    weather_on(0);
    weather_on(1);
    sensor[1].iaverage_wind_speed = 1000;
    codifico_datos_trama_nmea_mensaje_8();
    EXPECT_EQ(10, field("wspeed"));
    EXPECT_EQ(3, field("seastate"));
    sensor[1].ctimeout_datos_validos = 0;
    codifico_datos_trama_nmea_mensaje_8();
    EXPECT_EQ(20, field("wspeed"));
}

TEST_F(Msg8Test, PressureField) {
    const struct {
        uint16_t tenths;
        int64_t sent;
    } cases[] = {{10132, 214}, {7990, 0},    {8000, 1},    {7985, 0},    {2000, 0},
                 {11999, 400}, {12000, 401}, {12010, 402}, {13100, 402}, {15000, 402}};
    weather_on(0);
    for (const auto& c : cases) {
        sensor[0].iair_pressure[0] = c.tenths;
        codifico_datos_trama_nmea_mensaje_8();
        EXPECT_EQ(c.sent, field("pressure")) << c.tenths;
    }
}

// Codes from the meteorological message's definition: wind 0..125 knots and
// 126 for 126 or more, directions 0..359, air temperature -60.0..+60.0 C,
// humidity 0..100 %, dew point -20.0..+50.0 C; beyond them the top code or,
// where there is none, not available.
TEST_F(Msg8Test, ValuesBeyondAFieldsRange) {
    const struct {
        const char* description;
        void (*set)(stsensor&);
        const char* field;
        int32_t sent;
    } cases[] = {
        {"125 knots", [](stsensor& s) { s.iaverage_wind_speed = 12599; }, "wspeed", 125},
        {"126 knots", [](stsensor& s) { s.iaverage_wind_speed = 12600; }, "wspeed", 126},
        {"200 knots", [](stsensor& s) { s.iaverage_wind_speed = 20000; }, "wspeed", 126},
        {"gust 655 knots", [](stsensor& s) { s.iwind_gust_speed = 65535; }, "wgust", 126},
        {"direction 359", [](stsensor& s) { s.iwind_direction = 359; }, "wdir", 359},
        {"direction 400", [](stsensor& s) { s.iwind_direction = 400; }, "wdir", 360},
        {"gust direction 520", [](stsensor& s) { s.iwind_gust_direction = 520; }, "wgustdir", 360},
        {"+60.0 C", [](stsensor& s) { s.iair_temperature = 600; }, "airtemp", 600},
        {"-60.0 C", [](stsensor& s) { s.iair_temperature = -600; }, "airtemp", -600},
        {"+60.1 C", [](stsensor& s) { s.iair_temperature = 601; }, "airtemp", -1024},
        {"-80.0 C", [](stsensor& s) { s.iair_temperature = -800; }, "airtemp", -1024},
        {"humidity 100", [](stsensor& s) { s.crelative_humidity = 100; }, "humidity", 100},
        {"humidity 120", [](stsensor& s) { s.crelative_humidity = 120; }, "humidity", 101},
        {"dew point +50.0", [](stsensor& s) { s.idew_point = 500; }, "dewpoint", 500},
        {"dew point -20.0", [](stsensor& s) { s.idew_point = -200; }, "dewpoint", -200},
        {"dew point +80.0", [](stsensor& s) { s.idew_point = 800; }, "dewpoint", 501},
        {"dew point -20.1", [](stsensor& s) { s.idew_point = -201; }, "dewpoint", 501},
    };
    for (const auto& c : cases) {
        weather_on(0);
        c.set(sensor[0]);
        codifico_datos_trama_nmea_mensaje_8();
        EXPECT_EQ(c.sent, field(c.field)) << c.description;
        EXPECT_EQ(52, stais.cmsg_tx[0]) << c.description;
    }
}

TEST_F(Msg8Test, TendencyAgainstTheMeanOfTheFilledHistory) {
    const struct {
        const char* name;
        std::vector<uint16_t> history;  // entries 1, 2, ...
        uint16_t current;
        int64_t tendency;
    } cases[] = {
        {"no history: not known", {}, 10132, 3},
        {"only empty entries", {0, 511, 0}, 10132, 3},
        {"0.2 hPa above the mean", {10100, 10100, 10100}, 10102, 2},
        {"0.1 hPa above: steady", {10100, 10100, 10100}, 10101, 0},
        {"equal", {10100}, 10100, 0},
        {"0.1 hPa below: steady", {10100, 10100}, 10099, 0},
        {"0.2 hPa below", {10100, 10100}, 10098, 1},
        {"mean of 10090 and 10110", {10090, 10110}, 10098, 1},
        {"empty entries between are left out", {10100, 0, 511, 10100}, 10103, 2},
        {"all eighteen entries count", std::vector<uint16_t>(18, 10200), 10150, 1},
        {"1.5 tenths above a mean of 10100.5: rising", {10100, 10101}, 10102, 2},
        {"half a tenth above a mean of 10100.5: steady", {10100, 10101}, 10101, 0},
        {"1.5 tenths below a mean of 10100.5: falling", {10100, 10101}, 10099, 1},
    };
    weather_on(0);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        for (int k = 1; k <= 18; ++k) {
            sensor[0].iair_pressure[k] = 0;
        }
        for (size_t k = 0; k < c.history.size(); ++k) {
            sensor[0].iair_pressure[k + 1] = c.history[k];
        }
        sensor[0].iair_pressure[0] = c.current;
        codifico_datos_trama_nmea_mensaje_8();
        EXPECT_EQ(c.tendency, field("pressuretend"));
    }
}

TEST_F(Msg8Test, Positions) {
    const uint32_t k28 = 1u << 28;
    const uint32_t k27 = 1u << 27;
    const struct {
        const char* name;
        uint32_t lon, lat;
        int32_t sent_lon, sent_lat;
    } cases[] = {
        {"not available", 108600000, 54600000, 10860000, 5460000},
        {"1 degree West, 1 degree South", k28 - 600000, k27 - 600000, -60000, -60000},
        {"1 degree East, 1 degree North", 600000, 600000, 60000, 60000},
        {"8 24.1237 W, 43 22.5009 N: truncated toward zero", k28 - 5041237, 26025009, -504123,
         2602500},
        {"180 degrees West", k28 - 108000000, 0, -10800000, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        stais.llongitud_ais_msg21 = c.lon;
        stais.llatitud_ais_msg21 = c.lat;
        codifico_datos_trama_nmea_mensaje_8();
        EXPECT_EQ(c.sent_lon, field("lon"));
        EXPECT_EQ(c.sent_lat, field("lat"));
        EXPECT_EQ(52, stais.cmsg_tx[0]);
    }
}

TEST_F(Msg8Test, ClockAndAccuracy) {
    ktr09.cdia_utc = 31;
    ktr09.chora_utc = 23;
    ktr09.cminuto_utc = 59;
    stais.cposition_accurasy_msg21 = 1;
    codifico_datos_trama_nmea_mensaje_8();
    EXPECT_EQ(31, field("day"));
    EXPECT_EQ(23, field("hour"));
    EXPECT_EQ(59, field("minute"));
    EXPECT_EQ(1, field("accuracy"));
}

TEST_F(Msg8Test, PayloadIsAlways52Characters) {
    // Extremes of every input: all bits cut to their fields.
    weather_on(0);
    stsensor& s = sensor[0];
    const struct {
        uint16_t wind;
        uint16_t direction;
        int16_t temperature;
        uint8_t humidity;
        uint16_t pressure;
    } cases[] = {
        {0, 0, -500, 0, 2000},
        {12600, 359, 800, 100, 15000},
        {65535, 65535, -32768, 255, 65535},
        {65535, 65535, 32767, 255, 0},
    };
    for (const auto& c : cases) {
        s.iaverage_wind_speed = s.iwind_gust_speed = c.wind;
        s.iwind_direction = s.iwind_gust_direction = c.direction;
        s.iair_temperature = s.idew_point = c.temperature;
        s.crelative_humidity = c.humidity;
        s.iair_pressure[0] = c.pressure;
        stais.llongitud_ais_msg21 = 0xFFFFFFFF;
        stais.llatitud_ais_msg21 = 0xFFFFFFFF;
        ktr09.cdia_utc = ktr09.chora_utc = ktr09.cminuto_utc = 255;
        codifico_datos_trama_nmea_mensaje_8();
        ASSERT_EQ(52, stais.cmsg_tx[0]);
        for (int i = 1; i <= 52; ++i) {
            const unsigned char ch = stais.cmsg_tx[i];
            EXPECT_TRUE((ch >= '0' && ch <= 'W') || (ch >= '`' && ch <= 'w')) << i;
        }
        EXPECT_EQ(1, field("dac"));
        EXPECT_EQ(31, field("fid"));
        EXPECT_EQ(7, field("preciptype")) << "nothing spills into the fixed fields";
    }
}

TEST_F(Msg8Test, TraceUnlessLevelOne) {
    stais.cextraigo = 1;
    (void)usb();
    codifico_datos_trama_nmea_mensaje_8();
    EXPECT_EQ("", usb());
    stais.cextraigo = 0;
    ktr09.cdia_utc = 7;
    ktr09.chora_utc = 9;
    ktr09.cminuto_utc = 5;
    codifico_datos_trama_nmea_mensaje_8();
    const std::string payload(reinterpret_cast<const char*>(&stais.cmsg_tx[1]), 52);
    EXPECT_EQ(
        "\r\nMensaje 8 TX:\r\n"
        "\tDAC:1\tFI:31\r\n"
        "\tFecha:07 09:05\r\n"
        "\tLongitud:00A5B5E0(06791AC0  NOT AVAILABLE)\r\n"
        "\tLatitud: 00535020(03412140  NOT AVAILABLE)\r\n"
        "\tAverage wind speed: 127 NOT AVAILABLE\r\n"
        "\tWind gust: 127 NOT AVAILABLE\r\n"
        "\tWind direction: 360 NOT AVAILABLE\r\n"
        "\tWind gust direction: 360 NOT AVAILABLE\r\n"
        "\tAir temperature: 1024 NOT AVAILABLE\r\n"
        "\tRelative humidity: 101 NOT AVAILABLE\r\n"
        "\tDew point: 501 NOT AVAILABLE\r\n"
        "\tAir pressure: 511 NOT AVAILABLE\r\n"
        "\tPressure tendendy: 3 NOT AVAILABLE\r\n"
        "\tSea state: 13 NOT AVAILABLE\r\n"
        "Mensaje 8 Codificado (52) => " +
            payload + "\r\n",
        usb());

    weather_on(0);
    stais.llongitud_ais_msg21 = (1u << 28) - 5041237;
    stais.llatitud_ais_msg21 = 26025009;
    codifico_datos_trama_nmea_mensaje_8();
    const std::string out = usb();
    EXPECT_NE(std::string::npos, out.find("(0FB313AB 8 24.1237W)\r\n")) << out;
    EXPECT_NE(std::string::npos, out.find("(018D1C31 43 22.5009N)\r\n")) << out;
    EXPECT_NE(std::string::npos, out.find("\tAverage wind speed: 20 (2050)\r\n"));
    EXPECT_NE(std::string::npos, out.find("\tAir temperature: 1925 (-123)\r\n"));
    EXPECT_NE(std::string::npos, out.find("\tAir pressure: 214 (10132)\r\n"));
}

}  // namespace
