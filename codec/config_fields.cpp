#include "codec/config_fields.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <type_traits>

namespace codec {
namespace {

// Element k of a member: an array's k-th value, or a single value itself.
template <typename T>
T& element(T& value, size_t) {
    return value;
}
template <typename T, size_t N>
T& element(std::array<T, N>& values, size_t k) {
    return values[k];
}
template <typename T, size_t N>
const T& element(const std::array<T, N>& values, size_t k) {
    return values[k];
}

template <typename Member>
struct MemberOf;
template <typename Record, typename T>
struct MemberOf<T Record::*> {
    using record = Record;
};

// The storage of element k of member M: k picks the channel for a channel
// record, the array element for the others.
template <auto M, typename Config>
auto& slot(Config& config, size_t k) {
    using Record = typename MemberOf<decltype(M)>::record;
    if constexpr (std::is_same_v<Record, SensorChannelConfig>) {
        return config.configuracion_sensor[k].*M;
    } else if constexpr (std::is_same_v<Record, AisLinkConfig>) {
        return element(config.configuracion_ais.*M, k);
    } else {
        return element(config.configuracion_ktr09.*M, k);
    }
}

// Floats travel as their bits, so that any pattern (a NaN's payload too)
// comes back as it was.
template <auto M>
int64_t get(const StationConfig& config, size_t k) {
    const auto value = slot<M>(config, k);
    if constexpr (std::is_same_v<std::decay_t<decltype(value)>, float>) {
        return config_float_bits(value);
    } else {
        return static_cast<int64_t>(value);
    }
}

template <auto M>
void set(StationConfig& config, size_t k, int64_t value) {
    auto& field = slot<M>(config, k);
    using T = std::decay_t<decltype(field)>;
    if constexpr (std::is_same_v<T, float>) {
        field = config_float(value);
    } else {
        field = static_cast<T>(value);
    }
}

constexpr int64_t kLineTypes = 4;                    // 1 RS232, 2 RS422, 3 and 4 RS485; 0 is off
constexpr int64_t kBaudCodes = 6;                    // 0 2400 .. 6 115200
constexpr int64_t kOutputNumbers = 4;                // digital outputs 1..4, 0 none
constexpr int64_t kLightInputs = 6;                  // inputs 1..4, analog alarms 5..6, 0 none
constexpr int64_t kLatitudeBound = 90 * 60 * 10000;  // ten-thousandths of a minute
constexpr int64_t kLongitudeBound = 180 * 60 * 10000;
constexpr int64_t kCountMax = 4095;  // the converter's 12 bits
constexpr int64_t kStoredU16 = 0xFFFF;
// The highest battery voltage the board can measure: a full-scale count
// through its divider, in hundredths of a volt.
constexpr int64_t kBatteryMax = static_cast<int64_t>(kCountMax * kBatteryVoltsPerCount * 100.0);

constexpr ConfigEncoding U8 = ConfigEncoding::kU8;
constexpr ConfigEncoding U16 = ConfigEncoding::kU16Be;
constexpr ConfigEncoding U24 = ConfigEncoding::kU24Le;
constexpr ConfigEncoding S32 = ConfigEncoding::kS32SignMagnitudeLe;
constexpr ConfigEncoding F32 = ConfigEncoding::kF32Le;
constexpr ConfigEncoding TXT = ConfigEncoding::kText;
constexpr bool X1 = false;   // as stored
constexpr bool X100 = true;  // hundredths
constexpr ConfigRule ANY = ConfigRule::kAny;
constexpr ConfigRule IN = ConfigRule::kRange;
constexpr ConfigRule POS = ConfigRule::kPositive;
constexpr ConfigRule NZ = ConfigRule::kNonZero;
constexpr ConfigUse ALWAYS = ConfigUse::kAlways;
constexpr ConfigUse DEVICE = ConfigUse::kWithDevice;
constexpr ConfigUse WEATHER = ConfigUse::kWeatherStation;

#define CHANNEL(member)                                                 \
    ConfigRecord::kChannel, #member, get<&SensorChannelConfig::member>, \
        set<&SensorChannelConfig::member>
#define AIS(member) \
    ConfigRecord::kAis, #member, get<&AisLinkConfig::member>, set<&AisLinkConfig::member>
#define BOARD(member) \
    ConfigRecord::kBoard, #member, get<&BoardConfig::member>, set<&BoardConfig::member>

// Rows in the order of the JSON form; each field's range check runs in this
// order too, channel by channel, so the first field out of range is named.
// clang-format off
const std::vector<ConfigField> kFields = {
    // field                                address enc  n stride scale rule  low  high  floor  use
    // Block 1: the channels' device types, the transponder link, the
    // ship-presence rectangle, the channels' settings.
    {CHANNEL(csensor),                           0, U8,  2,  1, X1,  IN,  0, 3, nullptr, ALWAYS,
     "0 none, 1 base station, 2 TIDELINK, 3 weather station"},
    {CHANNEL(ctipo_comunicacion),               88, U8,  2, 12, X1,  IN,  1, kLineTypes, nullptr, DEVICE,
     "1 RS232, 2 RS422, 3 or 4 RS485"},
    {CHANNEL(cbaudios_comunicacion),            89, U8,  2, 12, X1,  IN,  0, kBaudCodes, nullptr, DEVICE,
     "0 2400, 1 4800, 2 9600, 3 19200, 4 38400, 5 57600, 6 115200 baud"},
    {CHANNEL(csalida_reset),                    90, U8,  2, 12, X1,  IN,  0, kOutputNumbers, nullptr, DEVICE,
     "digital output 1..4 that power-cycles the device, 0 none"},
    {CHANNEL(cseg_delay_inicial),               91, U8,  2, 12, X1,  ANY, 0, 0, nullptr, DEVICE,
     "seconds to wait after a channel start before talking to the device"},
    {CHANNEL(csample_interval),                 92, U8,  2, 12, X1,  IN,  1, 255, nullptr, WEATHER,
     "minutes between weather samples; 0 never samples"},
    {CHANNEL(cdireccionamiento_viento),         93, U8,  2, 12, X1,  IN,  0, 1, nullptr, WEATHER,
     "1 true wind direction, 0 magnetic"},
    {CHANNEL(ctimeout_datos_validos),           94, U8,  2, 12, X1,  IN,  1, 255, nullptr, WEATHER,
     "minutes a weather sample stays valid; 0 never broadcasts it"},
    {AIS(ctipo_comunicacion),                    2, U8,  1,  0, X1,  IN,  1, kLineTypes, nullptr, ALWAYS,
     "1 RS232, 2 RS422, 3 or 4 RS485"},
    {AIS(cbaudios),                              3, U8,  1,  0, X1,  IN,  0, kBaudCodes, nullptr, ALWAYS,
     "0 2400, 1 4800, 2 9600, 3 19200, 4 38400, 5 57600, 6 115200 baud"},
    {AIS(csalida_reset),                         4, U8,  1,  0, X1,  IN,  0, kOutputNumbers, nullptr, ALWAYS,
     "digital output 1..4 that power-cycles the transponder, 0 none"},
    {AIS(cenable_msg21),                         5, U8,  1,  0, X1,  IN,  0, 1, nullptr, ALWAYS,
     "1 on, 0 off"},
    {AIS(cinput_light_msg21),                    6, U8,  1,  0, X1,  IN,  0, kLightInputs, nullptr, ALWAYS,
     "inputs 1..4, analog alarms 5..6, 0 none"},
    {AIS(cinput_error_light_msg21),              7, U8,  1,  0, X1,  IN,  0, kLightInputs, nullptr, ALWAYS,
     "inputs 1..4, analog alarms 5..6, 0 none"},
    {AIS(cenable_shipras),                       8, U8,  1,  0, X1,  IN,  0, 1, nullptr, ALWAYS,
     "1 on, 0 off"},
    // Latitude then longitude of each corner.
    {AIS(llatitud_shipras),                      9, S32, 2,  8, X1,  IN,  -kLatitudeBound, kLatitudeBound, nullptr, ALWAYS,
     "ten-thousandths of a minute, 90 degrees either side"},
    {AIS(llongitud_shipras),                    13, S32, 2,  8, X1,  IN,  -kLongitudeBound, kLongitudeBound, nullptr, ALWAYS,
     "ten-thousandths of a minute, 180 degrees either side"},
    // Block 2: outputs, inputs, analog inputs, battery, name.
    {BOARD(cestado_en_reposo_salida_digital),  112, U8,  4,  3, X1,  IN,  0, 1, nullptr, ALWAYS,
     "rest level"},
    {BOARD(itemporizacion_salida_digital),     113, U16, 4,  3, X1,  ANY, 0, 0, nullptr, ALWAYS,
     "pulse time, tenths of a second"},
    {BOARD(cfuncionalidad_entradas_externas),  124, U8,  4,  5, X1,  IN,  0, 2, nullptr, ALWAYS,
     "0 unused, 1 latched event, 2 level"},
    {BOARD(cestado_en_reposo_entrada_externa), 125, U8,  4,  5, X1,  IN,  0, 1, nullptr, ALWAYS,
     "rest level"},
    {BOARD(itemporizacion_entrada_externa),    126, U16, 4,  5, X1,  ANY, 0, 0, nullptr, ALWAYS,
     "debounce time, tenths of a second"},
    {BOARD(ctemporizador_minutos),             128, U8,  4,  5, X1,  ANY, 0, 0, nullptr, ALWAYS,
     "minutes timer kept with the input"},
    {BOARD(fumbral_alarma_on),                 144, U16, 2, 11, X100, ANY, 0, 0, nullptr, ALWAYS,
     "alarm level"},
    {BOARD(fumbral_alarma_off),                146, U16, 2, 11, X100, IN, 0, kStoredU16, "fumbral_alarma_on", ALWAYS,
     "release level, not below the alarm level"},
    {BOARD(ffactor_A),                         148, U24, 2, 11, X100, ANY, 0, 0, nullptr, ALWAYS,
     "gain to engineering units"},
    {BOARD(ffactor_B),                         151, S32, 2, 11, X100, ANY, 0, 0, nullptr, ALWAYS,
     "offset in engineering units"},
    {BOARD(ftension_alarma_bateria_baja),      166, U16, 1,  0, X100, IN, 0, kBatteryMax, nullptr, ALWAYS,
     "volts the board can measure"},
    {BOARD(ftension_alarma_bateria_off),       168, U16, 1,  0, X100, IN, 0, kBatteryMax, "ftension_alarma_bateria_baja", ALWAYS,
     "volts, not below the alarm level and within what the board measures"},
    {BOARD(cnombre),                           170, TXT, 20, 1, X1,  ANY, 0, 0, nullptr, ALWAYS,
     "station name, Latin-1"},
    // The calibration block.
    {BOARD(fconversor_bateria),             0x1FF0, F32, 1,  0, X1,  POS, 0, 0, nullptr, ALWAYS,
     "volts per count"},
    {BOARD(ivalor_0_analogica),             0x1FF4, U16, 2,  6, X1,  IN,  0, kCountMax, nullptr, ALWAYS,
     "zero count within the converter's 12 bits"},
    {BOARD(fconversor_analogica),           0x1FF6, F32, 2,  6, X1,  NZ,  0, 0, nullptr, ALWAYS,
     "units per count; negative for a reading that falls as the voltage rises"},
};
// clang-format on

#undef CHANNEL
#undef AIS
#undef BOARD

}  // namespace

const std::vector<ConfigField>& config_fields() {
    return kFields;
}

const ConfigField* find_config_field(ConfigRecord record, const std::string& name) {
    for (const ConfigField& field : kFields) {
        if (field.record == record && name == field.name) {
            return &field;
        }
    }
    return nullptr;
}

const char* config_record_name(ConfigRecord record) {
    switch (record) {
        case ConfigRecord::kChannel:
            return "configuracion_sensor";
        case ConfigRecord::kAis:
            return "configuracion_ais";
        case ConfigRecord::kBoard:
            break;
    }
    return "configuracion_ktr09";
}

uint32_t config_encoding_width(ConfigEncoding encoding) {
    switch (encoding) {
        case ConfigEncoding::kU16Be:
            return 2;
        case ConfigEncoding::kU24Le:
            return 3;
        case ConfigEncoding::kS32SignMagnitudeLe:
        case ConfigEncoding::kF32Le:
            return 4;
        case ConfigEncoding::kU8:
        case ConfigEncoding::kText:
            break;
    }
    return 1;
}

void config_stored_range(ConfigEncoding encoding, int64_t* low, int64_t* high) {
    *low = 0;
    switch (encoding) {
        case ConfigEncoding::kS32SignMagnitudeLe:
            *low = -0x7FFFFFFF;
            *high = 0x7FFFFFFF;
            return;
        case ConfigEncoding::kF32Le:
            *high = 0xFFFFFFFF;
            return;
        default:
            *high = (int64_t{1} << (8 * config_encoding_width(encoding))) - 1;
    }
}

std::string config_field_path(const ConfigField& field, size_t k) {
    const std::string index = "[" + std::to_string(k) + "]";
    if (field.record == ConfigRecord::kChannel) {
        return config_record_name(field.record) + index + "." + field.name;
    }
    return std::string(config_record_name(field.record)) + "." + field.name +
           (field.count > 1 ? index : "");
}

void store_config_element(const ConfigField& field, size_t k, int64_t value,
                          std::vector<uint8_t>* image) {
    uint8_t* at = image->data() + field.address + k * field.stride;
    uint32_t word = static_cast<uint32_t>(value);
    switch (field.encoding) {
        case ConfigEncoding::kU16Be:
            at[0] = static_cast<uint8_t>(word >> 8);
            at[1] = static_cast<uint8_t>(word);
            return;
        case ConfigEncoding::kS32SignMagnitudeLe: {
            const uint32_t magnitude = static_cast<uint32_t>(std::llabs(value));
            word = (magnitude & 0x7FFFFFFF) | (value < 0 ? 0x80000000u : 0u);
            break;
        }
        default:
            break;
    }
    // The rest are low byte first.
    for (uint32_t i = 0; i < config_encoding_width(field.encoding); ++i) {
        at[i] = static_cast<uint8_t>(word >> (8 * i));
    }
}

int64_t load_config_element(const ConfigField& field, size_t k, const std::vector<uint8_t>& image) {
    const uint8_t* at = image.data() + field.address + k * field.stride;
    if (field.encoding == ConfigEncoding::kU16Be) {
        return (at[0] << 8) | at[1];
    }
    uint32_t word = 0;
    for (uint32_t i = config_encoding_width(field.encoding); i-- > 0;) {
        word = (word << 8) | at[i];
    }
    if (field.encoding == ConfigEncoding::kS32SignMagnitudeLe) {
        const int64_t magnitude = word & 0x7FFFFFFF;
        return (word & 0x80000000u) != 0 ? -magnitude : magnitude;
    }
    return word;
}

namespace {

// A value kept in hundredths, shown as the decimal the JSON form holds.
std::string decimal(int64_t hundredths) {
    char text[32];
    std::snprintf(text, sizeof text, "%s%lld.%02lld", hundredths < 0 ? "-" : "",
                  static_cast<long long>(std::llabs(hundredths) / 100),
                  static_cast<long long>(std::llabs(hundredths) % 100));
    return text;
}

// Why element k of the field keeps the station from using it, or "".
std::string element_error(const StationConfig& config, const ConfigField& field, size_t k) {
    const int64_t value = field.get(config, k);
    const std::string path = config_field_path(field, k);
    switch (field.rule) {
        case ConfigRule::kAny:
            return {};
        case ConfigRule::kPositive:
            return std::isfinite(config_float(value)) && config_float(value) > 0.0f
                       ? std::string()
                       : path + ": must be a positive number (" + field.meaning + ")";
        case ConfigRule::kNonZero:
            return std::isfinite(config_float(value)) && config_float(value) != 0.0f
                       ? std::string()
                       : path + ": must be a number other than 0 (" + field.meaning + ")";
        case ConfigRule::kRange:
            break;
    }
    const int64_t low = field.floor != nullptr
                            ? find_config_field(field.record, field.floor)->get(config, k)
                            : field.low;
    if (value >= low && value <= field.high) {
        return {};
    }
    const auto shown = [&field](int64_t v) {
        return field.hundredths ? decimal(v) : std::to_string(v);
    };
    return path + ": must be " + shown(low) + ".." + shown(field.high) + " (" + field.meaning +
           "), not " + shown(value);
}

bool in_use(const StationConfig& config, const ConfigField& field, size_t channel) {
    const uint8_t device = config.configuracion_sensor[channel].csensor;
    switch (field.use) {
        case ConfigUse::kWithDevice:
            return device != 0;
        case ConfigUse::kWeatherStation:
            return device == 3;
        case ConfigUse::kAlways:
            break;
    }
    return true;
}

}  // namespace

std::string config_range_error(const StationConfig& config) {
    // Channel by channel (the station reads a channel's settings only when it
    // has a device), then the other records field by field.
    for (size_t channel = 0; channel < config.configuracion_sensor.size(); ++channel) {
        for (const ConfigField& field : kFields) {
            if (field.record != ConfigRecord::kChannel || !in_use(config, field, channel)) {
                continue;
            }
            if (std::string error = element_error(config, field, channel); !error.empty()) {
                return error;
            }
        }
    }
    for (const ConfigField& field : kFields) {
        for (size_t k = 0; field.record != ConfigRecord::kChannel && k < field.count; ++k) {
            if (std::string error = element_error(config, field, k); !error.empty()) {
                return error;
            }
        }
    }
    return {};
}

float config_float(int64_t bits) {
    const uint32_t word = static_cast<uint32_t>(bits);
    float value = 0.0f;
    std::memcpy(&value, &word, sizeof value);
    return value;
}

int64_t config_float_bits(float value) {
    uint32_t word = 0;
    std::memcpy(&word, &value, sizeof word);
    return word;
}

}  // namespace codec
