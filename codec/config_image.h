// The station's configuration as it lies in the EEPROM image: block 1
// (addresses 0..111: channel device types, transponder link, ship-presence
// rectangle, channel settings), block 2 (112..189: outputs, inputs, analog
// thresholds and factors, battery thresholds, station name) and the
// calibration block (0x1FF0..0x1FFF). Fields carry the station's record
// names; those the image stores in hundredths are kept here in hundredths,
// exactly as stored. Every byte the station does not decode is kept as it is.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace codec {

constexpr uint32_t kConfigImageSize = 8192;

// The board's analog front end, for the standard calibration: a 12-bit
// converter on 3.3 V, the battery through 100 kOhm over 8.2 kOhm.
constexpr double kBatteryVoltsPerCount = 3.3 / (8.2e3 / 108.2e3) / 4096.0;
constexpr double kInputVoltsPerCount = 3.3 / 4096.0;

// What an image holds where nothing was set: zeros in blocks 1 and 2, as the
// configuration program writes them, 0xFF (a blank part) everywhere else.
uint8_t blank_byte(uint32_t address);
std::vector<uint8_t> blank_image();

struct SensorChannelConfig {
    uint8_t csensor = 0;  // 0 none, 1 base station, 2 TIDELINK, 3 weather station
    uint8_t ctipo_comunicacion = 0;
    uint8_t cbaudios_comunicacion = 0;
    uint8_t csalida_reset = 0;
    uint8_t cseg_delay_inicial = 0;
    uint8_t csample_interval = 0;
    uint8_t cdireccionamiento_viento = 0;
    uint8_t ctimeout_datos_validos = 0;
};

struct AisLinkConfig {
    uint8_t ctipo_comunicacion = 0;
    uint8_t cbaudios = 0;
    uint8_t csalida_reset = 0;
    uint8_t cenable_msg21 = 0;
    uint8_t cinput_light_msg21 = 0;
    uint8_t cinput_error_light_msg21 = 0;
    uint8_t cenable_shipras = 0;
    // Ten-thousandths of a minute, signed (sign and magnitude in the image).
    std::array<int32_t, 2> llatitud_shipras{};
    std::array<int32_t, 2> llongitud_shipras{};
};

struct BoardConfig {
    std::array<uint8_t, 4> cestado_en_reposo_salida_digital{};
    std::array<uint16_t, 4> itemporizacion_salida_digital{};
    std::array<uint8_t, 4> cfuncionalidad_entradas_externas{};
    std::array<uint8_t, 4> cestado_en_reposo_entrada_externa{};
    std::array<uint16_t, 4> itemporizacion_entrada_externa{};
    std::array<uint8_t, 4> ctemporizador_minutos{};
    // Hundredths, as stored.
    std::array<uint16_t, 2> fumbral_alarma_on{};
    std::array<uint16_t, 2> fumbral_alarma_off{};
    std::array<uint32_t, 2> ffactor_A{};  // 24 bits
    std::array<int32_t, 2> ffactor_B{};
    uint16_t ftension_alarma_bateria_baja = 0;
    uint16_t ftension_alarma_bateria_off = 0;
    std::array<uint8_t, 20> cnombre{};
    // Calibration block, as stored.
    float fconversor_bateria = 0.0f;
    std::array<uint16_t, 2> ivalor_0_analogica{};
    std::array<float, 2> fconversor_analogica{};
};

struct StationConfig {
    std::array<SensorChannelConfig, 2> configuracion_sensor{};
    AisLinkConfig configuracion_ais;
    BoardConfig configuracion_ktr09;
    // The whole image the fields were read from: the bytes the station does
    // not decode come from here.
    std::vector<uint8_t> image = blank_image();
};

// True for the addresses whose bytes belong to a field above.
bool is_decoded_address(uint32_t address);

std::vector<uint8_t> encode_image(const StationConfig& config);
// Shorter images are taken as padded with blank bytes.
StationConfig decode_image(const std::vector<uint8_t>& image);

// The values the station can use, field by field: the first field outside
// its range as "<path>: must be <range> (<meaning>)", or "" when every field
// is usable. Channel settings are checked only for a channel with a device
// (the station reads them only then), the weather-station settings only for
// a weather station. The ranges are the field table's (config_fields.h).
std::string config_range_error(const StationConfig& config);

// The simulator's standard station: a weather station on sensor channel 1
// (RS232, 4800 baud, 10-minute samples, 2 s start-up delay, powered through
// output 1), the transponder on RS232 at 38400 baud, a ship-presence
// rectangle, thresholds, a name, and the calibration of the board's analog
// front end.
StationConfig default_station_config();

}  // namespace codec
