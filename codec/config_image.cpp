#include "codec/config_image.h"

#include <cstring>

#include "codec/config_fields.h"

namespace codec {
namespace {

// Blocks 1 and 2, which the configuration program writes whole.
constexpr uint32_t kWrittenEnd = kConfigBlocks[1].address + kConfigBlocks[1].size;

// The image at its full size, missing bytes blank.
std::vector<uint8_t> padded(std::vector<uint8_t> image) {
    for (size_t at = image.size(); at < kConfigImageSize; ++at) {
        image.push_back(blank_byte(static_cast<uint32_t>(at)));
    }
    image.resize(kConfigImageSize);
    return image;
}

}  // namespace

uint8_t blank_byte(uint32_t address) {
    return address < kWrittenEnd ? 0x00 : 0xFF;
}

std::vector<uint8_t> blank_image() {
    return padded({});
}

bool is_decoded_address(uint32_t address) {
    static const std::vector<bool> decoded = [] {
        std::vector<bool> marks(kConfigImageSize, false);
        for (const ConfigField& field : config_fields()) {
            for (size_t k = 0; k < field.count; ++k) {
                const uint32_t at = field.address + static_cast<uint32_t>(k) * field.stride;
                for (uint32_t i = 0; i < config_encoding_width(field.encoding); ++i) {
                    marks[at + i] = true;
                }
            }
        }
        return marks;
    }();
    return address < kConfigImageSize && decoded[address];
}

std::vector<uint8_t> encode_image(const StationConfig& config) {
    std::vector<uint8_t> image = padded(config.image);
    for (const ConfigField& field : config_fields()) {
        for (size_t k = 0; k < field.count; ++k) {
            store_config_element(field, k, field.get(config, k), &image);
        }
    }
    return image;
}

StationConfig decode_image(const std::vector<uint8_t>& source) {
    StationConfig config;
    config.image = padded(source);
    for (const ConfigField& field : config_fields()) {
        for (size_t k = 0; k < field.count; ++k) {
            field.set(config, k, load_config_element(field, k, config.image));
        }
    }
    return config;
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
