#include "codec/config_image.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace codec {
namespace {

// Block 1.
constexpr uint32_t kAis = 2;
constexpr uint32_t kShipRectangle = 9;
constexpr uint32_t kChannel[2] = {88, 100};
// Block 2.
constexpr uint32_t kOutputs = 112;
constexpr uint32_t kInputs = 124;
constexpr uint32_t kAnalog[2] = {144, 155};
constexpr uint32_t kBatteryLow = 166;
constexpr uint32_t kBatteryOff = 168;
constexpr uint32_t kName = 170;
constexpr uint32_t kBlock2End = 190;
// Calibration block.
constexpr uint32_t kBatteryFactor = 0x1FF0;
constexpr uint32_t kAnalogZero[2] = {0x1FF4, 0x1FFA};
constexpr uint32_t kAnalogFactor[2] = {0x1FF6, 0x1FFC};

class Writer {
  public:
    explicit Writer(std::vector<uint8_t>& image) : image_(image) {}
    void u8(uint32_t at, uint8_t value) { image_[at] = value; }
    void u16_be(uint32_t at, uint16_t value) {
        image_[at] = static_cast<uint8_t>(value >> 8);
        image_[at + 1] = static_cast<uint8_t>(value);
    }
    void u24_le(uint32_t at, uint32_t value) {
        for (uint32_t i = 0; i < 3; ++i) {
            image_[at + i] = static_cast<uint8_t>(value >> (8 * i));
        }
    }
    void u32_le(uint32_t at, uint32_t value) {
        for (uint32_t i = 0; i < 4; ++i) {
            image_[at + i] = static_cast<uint8_t>(value >> (8 * i));
        }
    }
    void s32_sm_le(uint32_t at, int32_t value) {
        const uint32_t magnitude = value < 0 ? static_cast<uint32_t>(-static_cast<int64_t>(value))
                                             : static_cast<uint32_t>(value);
        u32_le(at, (magnitude & 0x7FFFFFFF) | (value < 0 ? 0x80000000u : 0u));
    }
    void f32_le(uint32_t at, float value) {
        uint32_t bits = 0;
        std::memcpy(&bits, &value, sizeof bits);
        u32_le(at, bits);
    }

  private:
    std::vector<uint8_t>& image_;
};

class Reader {
  public:
    explicit Reader(const std::vector<uint8_t>& image) : image_(image) {}
    uint8_t u8(uint32_t at) const { return image_[at]; }
    uint16_t u16_be(uint32_t at) const {
        return static_cast<uint16_t>((image_[at] << 8) | image_[at + 1]);
    }
    uint32_t u24_le(uint32_t at) const {
        return image_[at] | (image_[at + 1] << 8) | (static_cast<uint32_t>(image_[at + 2]) << 16);
    }
    uint32_t u32_le(uint32_t at) const {
        return u24_le(at) | (static_cast<uint32_t>(image_[at + 3]) << 24);
    }
    int32_t s32_sm_le(uint32_t at) const {
        const uint32_t word = u32_le(at);
        const int32_t magnitude = static_cast<int32_t>(word & 0x7FFFFFFF);
        return (word & 0x80000000u) != 0 ? -magnitude : magnitude;
    }
    float f32_le(uint32_t at) const {
        const uint32_t bits = u32_le(at);
        float value = 0.0f;
        std::memcpy(&value, &bits, sizeof value);
        return value;
    }

  private:
    const std::vector<uint8_t>& image_;
};

}  // namespace

uint8_t blank_byte(uint32_t address) {
    return address < kBlock2End ? 0x00 : 0xFF;
}

std::vector<uint8_t> blank_image() {
    std::vector<uint8_t> image(kConfigImageSize);
    for (uint32_t at = 0; at < kConfigImageSize; ++at) {
        image[at] = blank_byte(at);
    }
    return image;
}

bool is_decoded_address(uint32_t address) {
    if (address <= 24) {
        return true;
    }
    if ((address >= 88 && address <= 94) || (address >= 100 && address <= 106)) {
        return true;
    }
    return (address >= kOutputs && address < kBlock2End) || address >= kBatteryFactor;
}

std::vector<uint8_t> encode_image(const StationConfig& config) {
    std::vector<uint8_t> image = config.image;
    for (size_t at = image.size(); at < kConfigImageSize; ++at) {
        image.push_back(blank_byte(static_cast<uint32_t>(at)));
    }
    image.resize(kConfigImageSize);
    Writer w(image);
    for (uint32_t i = 0; i < 2; ++i) {
        const SensorChannelConfig& channel = config.configuracion_sensor[i];
        w.u8(i, channel.csensor);
        const uint32_t at = kChannel[i];
        w.u8(at + 0, channel.ctipo_comunicacion);
        w.u8(at + 1, channel.cbaudios_comunicacion);
        w.u8(at + 2, channel.csalida_reset);
        w.u8(at + 3, channel.cseg_delay_inicial);
        w.u8(at + 4, channel.csample_interval);
        w.u8(at + 5, channel.cdireccionamiento_viento);
        w.u8(at + 6, channel.ctimeout_datos_validos);
    }
    const AisLinkConfig& ais = config.configuracion_ais;
    w.u8(kAis + 0, ais.ctipo_comunicacion);
    w.u8(kAis + 1, ais.cbaudios);
    w.u8(kAis + 2, ais.csalida_reset);
    w.u8(kAis + 3, ais.cenable_msg21);
    w.u8(kAis + 4, ais.cinput_light_msg21);
    w.u8(kAis + 5, ais.cinput_error_light_msg21);
    w.u8(kAis + 6, ais.cenable_shipras);
    // Latitude then longitude of each corner.
    for (uint32_t k = 0; k < 2; ++k) {
        w.s32_sm_le(kShipRectangle + 8 * k, ais.llatitud_shipras[k]);
        w.s32_sm_le(kShipRectangle + 8 * k + 4, ais.llongitud_shipras[k]);
    }
    const BoardConfig& board = config.configuracion_ktr09;
    for (uint32_t k = 0; k < 4; ++k) {
        w.u8(kOutputs + 3 * k, board.cestado_en_reposo_salida_digital[k]);
        w.u16_be(kOutputs + 3 * k + 1, board.itemporizacion_salida_digital[k]);
        w.u8(kInputs + 5 * k, board.cfuncionalidad_entradas_externas[k]);
        w.u8(kInputs + 5 * k + 1, board.cestado_en_reposo_entrada_externa[k]);
        w.u16_be(kInputs + 5 * k + 2, board.itemporizacion_entrada_externa[k]);
        w.u8(kInputs + 5 * k + 4, board.ctemporizador_minutos[k]);
    }
    for (uint32_t k = 0; k < 2; ++k) {
        w.u16_be(kAnalog[k], board.fumbral_alarma_on[k]);
        w.u16_be(kAnalog[k] + 2, board.fumbral_alarma_off[k]);
        w.u24_le(kAnalog[k] + 4, board.ffactor_A[k] & 0xFFFFFF);
        w.s32_sm_le(kAnalog[k] + 7, board.ffactor_B[k]);
        w.u16_be(kAnalogZero[k], board.ivalor_0_analogica[k]);
        w.f32_le(kAnalogFactor[k], board.fconversor_analogica[k]);
    }
    w.u16_be(kBatteryLow, board.ftension_alarma_bateria_baja);
    w.u16_be(kBatteryOff, board.ftension_alarma_bateria_off);
    for (uint32_t i = 0; i < board.cnombre.size(); ++i) {
        w.u8(kName + i, board.cnombre[i]);
    }
    w.f32_le(kBatteryFactor, board.fconversor_bateria);
    return image;
}

StationConfig decode_image(const std::vector<uint8_t>& source) {
    StationConfig config;
    config.image = source;
    for (size_t at = config.image.size(); at < kConfigImageSize; ++at) {
        config.image.push_back(blank_byte(static_cast<uint32_t>(at)));
    }
    config.image.resize(kConfigImageSize);
    const Reader r(config.image);
    for (uint32_t i = 0; i < 2; ++i) {
        SensorChannelConfig& channel = config.configuracion_sensor[i];
        channel.csensor = r.u8(i);
        const uint32_t at = kChannel[i];
        channel.ctipo_comunicacion = r.u8(at + 0);
        channel.cbaudios_comunicacion = r.u8(at + 1);
        channel.csalida_reset = r.u8(at + 2);
        channel.cseg_delay_inicial = r.u8(at + 3);
        channel.csample_interval = r.u8(at + 4);
        channel.cdireccionamiento_viento = r.u8(at + 5);
        channel.ctimeout_datos_validos = r.u8(at + 6);
    }
    AisLinkConfig& ais = config.configuracion_ais;
    ais.ctipo_comunicacion = r.u8(kAis + 0);
    ais.cbaudios = r.u8(kAis + 1);
    ais.csalida_reset = r.u8(kAis + 2);
    ais.cenable_msg21 = r.u8(kAis + 3);
    ais.cinput_light_msg21 = r.u8(kAis + 4);
    ais.cinput_error_light_msg21 = r.u8(kAis + 5);
    ais.cenable_shipras = r.u8(kAis + 6);
    for (uint32_t k = 0; k < 2; ++k) {
        ais.llatitud_shipras[k] = r.s32_sm_le(kShipRectangle + 8 * k);
        ais.llongitud_shipras[k] = r.s32_sm_le(kShipRectangle + 8 * k + 4);
    }
    BoardConfig& board = config.configuracion_ktr09;
    for (uint32_t k = 0; k < 4; ++k) {
        board.cestado_en_reposo_salida_digital[k] = r.u8(kOutputs + 3 * k);
        board.itemporizacion_salida_digital[k] = r.u16_be(kOutputs + 3 * k + 1);
        board.cfuncionalidad_entradas_externas[k] = r.u8(kInputs + 5 * k);
        board.cestado_en_reposo_entrada_externa[k] = r.u8(kInputs + 5 * k + 1);
        board.itemporizacion_entrada_externa[k] = r.u16_be(kInputs + 5 * k + 2);
        board.ctemporizador_minutos[k] = r.u8(kInputs + 5 * k + 4);
    }
    for (uint32_t k = 0; k < 2; ++k) {
        board.fumbral_alarma_on[k] = r.u16_be(kAnalog[k]);
        board.fumbral_alarma_off[k] = r.u16_be(kAnalog[k] + 2);
        board.ffactor_A[k] = r.u24_le(kAnalog[k] + 4);
        board.ffactor_B[k] = r.s32_sm_le(kAnalog[k] + 7);
        board.ivalor_0_analogica[k] = r.u16_be(kAnalogZero[k]);
        board.fconversor_analogica[k] = r.f32_le(kAnalogFactor[k]);
    }
    board.ftension_alarma_bateria_baja = r.u16_be(kBatteryLow);
    board.ftension_alarma_bateria_off = r.u16_be(kBatteryOff);
    for (uint32_t i = 0; i < board.cnombre.size(); ++i) {
        board.cnombre[i] = r.u8(kName + i);
    }
    board.fconversor_bateria = r.f32_le(kBatteryFactor);
    return config;
}

namespace {

// The first value outside [low, high], reported with its field's path.
class RangeCheck {
  public:
    void field(const std::string& path, int64_t value, int64_t low, int64_t high,
               const char* meaning) {
        if (error.empty() && (value < low || value > high)) {
            error = path + ": must be " + std::to_string(low) + ".." + std::to_string(high) + " (" +
                    meaning + "), not " + std::to_string(value);
        }
    }
    template <typename T, size_t N>
    void each(const std::string& path, const std::array<T, N>& values, int64_t low, int64_t high,
              const char* meaning) {
        for (size_t k = 0; k < N; ++k) {
            field(path + "[" + std::to_string(k) + "]", values[k], low, high, meaning);
        }
    }
    // A value kept in hundredths, shown as the decimal the file holds.
    void hundredths(const std::string& path, int64_t stored, int64_t low, int64_t high,
                    const char* meaning) {
        if (error.empty() && (stored < low || stored > high)) {
            error = path + ": must be " + decimal(low) + ".." + decimal(high) + " (" + meaning +
                    "), not " + decimal(stored);
        }
    }
    void rule(bool holds, const std::string& path, const std::string& what) {
        if (error.empty() && !holds) {
            error = path + ": " + what;
        }
    }
    static std::string decimal(int64_t hundredths) {
        char text[32];
        std::snprintf(text, sizeof text, "%s%lld.%02lld", hundredths < 0 ? "-" : "",
                      static_cast<long long>(std::llabs(hundredths) / 100),
                      static_cast<long long>(std::llabs(hundredths) % 100));
        return text;
    }
    std::string error;
};

constexpr int64_t kLineTypes = 4;                    // 1 RS232, 2 RS422, 3 and 4 RS485; 0 is off
constexpr int64_t kBaudCodes = 6;                    // 0 2400 .. 6 115200
constexpr int64_t kOutputNumbers = 4;                // digital outputs 1..4, 0 none
constexpr int64_t kLightInputs = 6;                  // inputs 1..4, analog alarms 5..6, 0 none
constexpr int64_t kLatitudeBound = 90 * 60 * 10000;  // ten-thousandths of a minute
constexpr int64_t kLongitudeBound = 180 * 60 * 10000;
constexpr int64_t kCountMax = 4095;     // the converter's 12 bits
constexpr int64_t kStoredU16 = 0xFFFF;  // hundredths in a 16-bit field
// The highest battery voltage the board can measure: a full-scale count
// through its divider, in hundredths of a volt.
const int64_t kBatteryMax = static_cast<int64_t>(kCountMax * kBatteryVoltsPerCount * 100.0);

bool finite_nonzero(float value) {
    return std::isfinite(value) && value != 0.0f;
}

}  // namespace

std::string config_range_error(const StationConfig& config) {
    RangeCheck check;
    for (size_t i = 0; i < config.configuracion_sensor.size(); ++i) {
        const SensorChannelConfig& c = config.configuracion_sensor[i];
        const std::string path = "configuracion_sensor[" + std::to_string(i) + "].";
        check.field(path + "csensor", c.csensor, 0, 3,
                    "0 none, 1 base station, 2 TIDELINK, 3 weather station");
        if (c.csensor == 0) {
            continue;
        }
        check.field(path + "ctipo_comunicacion", c.ctipo_comunicacion, 1, kLineTypes,
                    "1 RS232, 2 RS422, 3 or 4 RS485");
        check.field(path + "cbaudios_comunicacion", c.cbaudios_comunicacion, 0, kBaudCodes,
                    "0 2400, 1 4800, 2 9600, 3 19200, 4 38400, 5 57600, 6 115200 baud");
        check.field(path + "csalida_reset", c.csalida_reset, 0, kOutputNumbers,
                    "digital output 1..4 that power-cycles the device, 0 none");
        if (c.csensor == 3) {
            check.field(path + "csample_interval", c.csample_interval, 1, 255,
                        "minutes between weather samples; 0 never samples");
            check.field(path + "cdireccionamiento_viento", c.cdireccionamiento_viento, 0, 1,
                        "1 true wind direction, 0 magnetic");
            check.field(path + "ctimeout_datos_validos", c.ctimeout_datos_validos, 1, 255,
                        "minutes a weather sample stays valid; 0 never broadcasts it");
        }
    }

    const AisLinkConfig& ais = config.configuracion_ais;
    check.field("configuracion_ais.ctipo_comunicacion", ais.ctipo_comunicacion, 1, kLineTypes,
                "1 RS232, 2 RS422, 3 or 4 RS485");
    check.field("configuracion_ais.cbaudios", ais.cbaudios, 0, kBaudCodes,
                "0 2400, 1 4800, 2 9600, 3 19200, 4 38400, 5 57600, 6 115200 baud");
    check.field("configuracion_ais.csalida_reset", ais.csalida_reset, 0, kOutputNumbers,
                "digital output 1..4 that power-cycles the transponder, 0 none");
    check.field("configuracion_ais.cenable_msg21", ais.cenable_msg21, 0, 1, "1 on, 0 off");
    check.field("configuracion_ais.cinput_light_msg21", ais.cinput_light_msg21, 0, kLightInputs,
                "inputs 1..4, analog alarms 5..6, 0 none");
    check.field("configuracion_ais.cinput_error_light_msg21", ais.cinput_error_light_msg21, 0,
                kLightInputs, "inputs 1..4, analog alarms 5..6, 0 none");
    check.field("configuracion_ais.cenable_shipras", ais.cenable_shipras, 0, 1, "1 on, 0 off");
    check.each("configuracion_ais.llatitud_shipras", ais.llatitud_shipras, -kLatitudeBound,
               kLatitudeBound, "ten-thousandths of a minute, 90 degrees either side");
    check.each("configuracion_ais.llongitud_shipras", ais.llongitud_shipras, -kLongitudeBound,
               kLongitudeBound, "ten-thousandths of a minute, 180 degrees either side");

    const BoardConfig& b = config.configuracion_ktr09;
    const std::string board = "configuracion_ktr09.";
    check.each(board + "cestado_en_reposo_salida_digital", b.cestado_en_reposo_salida_digital, 0, 1,
               "rest level");
    check.each(board + "cfuncionalidad_entradas_externas", b.cfuncionalidad_entradas_externas, 0, 2,
               "0 unused, 1 latched event, 2 level");
    check.each(board + "cestado_en_reposo_entrada_externa", b.cestado_en_reposo_entrada_externa, 0,
               1, "rest level");
    for (size_t k = 0; k < 2; ++k) {
        const std::string on = board + "fumbral_alarma_on[" + std::to_string(k) + "]";
        check.hundredths(on, b.fumbral_alarma_on[k], 0, kStoredU16, "alarm level");
        check.hundredths(board + "fumbral_alarma_off[" + std::to_string(k) + "]",
                         b.fumbral_alarma_off[k], b.fumbral_alarma_on[k], kStoredU16,
                         "release level, not below the alarm level");
    }
    check.hundredths(board + "ftension_alarma_bateria_baja", b.ftension_alarma_bateria_baja, 0,
                     kBatteryMax, "volts the board can measure");
    check.hundredths(board + "ftension_alarma_bateria_off", b.ftension_alarma_bateria_off,
                     b.ftension_alarma_bateria_baja, kBatteryMax,
                     "volts, not below the alarm level and within what the board measures");
    check.rule(std::isfinite(b.fconversor_bateria) && b.fconversor_bateria > 0.0f,
               board + "fconversor_bateria", "must be a positive number (volts per count)");
    check.each(board + "ivalor_0_analogica", b.ivalor_0_analogica, 0, kCountMax,
               "zero count within the converter's 12 bits");
    for (size_t k = 0; k < 2; ++k) {
        check.rule(finite_nonzero(b.fconversor_analogica[k]),
                   board + "fconversor_analogica[" + std::to_string(k) + "]",
                   "must be a number other than 0 (units per count; negative for a reading "
                   "that falls as the voltage rises)");
    }
    return check.error;
}

StationConfig default_station_config() {
    StationConfig config;

    SensorChannelConfig& weather = config.configuracion_sensor[0];
    weather.csensor = 3;
    weather.ctipo_comunicacion = 1;     // RS232
    weather.cbaudios_comunicacion = 1;  // 4800 baud
    weather.csalida_reset = 1;
    weather.cseg_delay_inicial = 2;
    weather.csample_interval = 10;
    weather.cdireccionamiento_viento = 1;  // true wind direction
    weather.ctimeout_datos_validos = 15;   // minutes

    AisLinkConfig& ais = config.configuracion_ais;
    ais.ctipo_comunicacion = 1;  // RS232
    ais.cbaudios = 4;            // 38400 baud
    ais.csalida_reset = 2;
    ais.cenable_msg21 = 1;
    ais.cinput_light_msg21 = 1;
    ais.cinput_error_light_msg21 = 2;
    ais.cenable_shipras = 1;
    // The harbour approach, 43°21'N..43°23'N, 8°25'W..8°22'W.
    ais.llatitud_shipras = {(43 * 60 + 21) * 10000, (43 * 60 + 23) * 10000};
    ais.llongitud_shipras = {-(8 * 60 + 25) * 10000, -(8 * 60 + 22) * 10000};

    BoardConfig& board = config.configuracion_ktr09;
    board.cestado_en_reposo_salida_digital = {0, 0, 0, 0};
    board.itemporizacion_salida_digital = {50, 50, 10, 10};  // tenths of a second
    // Input 1 follows a level (the light), input 2 latches events (its error).
    board.cfuncionalidad_entradas_externas = {2, 1, 0, 0};
    board.cestado_en_reposo_entrada_externa = {1, 1, 1, 1};
    board.itemporizacion_entrada_externa = {5, 5, 5, 5};
    board.ctemporizador_minutos = {0, 0, 0, 0};
    // Inputs read in volts: alarm at 0.50 V and below, cleared from 1.00 V.
    board.fumbral_alarma_on = {50, 50};
    board.fumbral_alarma_off = {100, 100};
    board.ffactor_A = {100, 100};
    board.ffactor_B = {0, 0};
    board.ftension_alarma_bateria_baja = 1150;
    board.ftension_alarma_bateria_off = 1200;
    const char name[] = "KTR09 SIMULADA";
    std::memcpy(board.cnombre.data(), name, sizeof name - 1);
    board.fconversor_bateria = static_cast<float>(kBatteryVoltsPerCount);
    board.ivalor_0_analogica = {0, 0};
    board.fconversor_analogica = {static_cast<float>(kInputVoltsPerCount),
                                  static_cast<float>(kInputVoltsPerCount)};
    return config;
}

}  // namespace codec
