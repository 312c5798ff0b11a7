#include "i2c.h"

#include <Arduino.h>
#include <Wire.h>
#include <sodaq_wdt.h>

#include "declaraciones.h"
#include "main.h"
#include "procesado.h"

namespace {

constexpr uint8_t kBytesPagina = 32;
constexpr uint8_t kMsCicloEscritura = 13;
constexpr uint8_t kMsTimeoutLectura = 4;
// One request carries at most 255 bytes; a longer read goes on from where
// the last request ended.
constexpr uint8_t kBytesPorLectura = 255;

void empiezo_transaccion(uint8_t cid, uint16_t iaddress) {
    Wire.beginTransmission(static_cast<uint8_t>(cid >> 1));
    Wire.write(static_cast<uint8_t>(iaddress >> 8));
    Wire.write(static_cast<uint8_t>(iaddress & 0xFF));
}

// One attempt at reading ccantidad bytes from iaddress: true when they all
// arrived before the countdown expired. An address the device did not take
// leaves its pointer elsewhere, so that attempt fails too.
bool intento_lectura(uint8_t cid, uint16_t iaddress, uint8_t* pcdatos, uint8_t ccantidad) {
    empiezo_transaccion(cid, iaddress);
    if (Wire.endTransmission() != 0) {
        return false;
    }
    Wire.requestFrom(static_cast<uint8_t>(cid >> 1), ccantidad);
    ctimeout_eeprom = kMsTimeoutLectura;
    while (Wire.available() < ccantidad && ctimeout_eeprom != 0) {
    }
    const bool bcompleta = Wire.available() >= ccantidad;
    for (uint8_t i = 0; i < ccantidad && Wire.available() > 0; ++i) {
        pcdatos[i] = static_cast<uint8_t>(Wire.read());
    }
    return bcompleta;
}

// One piece, inside one page, in one transaction followed by the write cycle.
void escribo_pieza(uint8_t cid, uint16_t iaddress, const uint8_t* pcdatos, uint8_t ccantidad) {
    empiezo_transaccion(cid, iaddress);
    for (uint8_t i = 0; i < ccantidad; ++i) {
        Wire.write(pcdatos[i]);
    }
    Wire.endTransmission();
    retardo_milisegundos(kMsCicloEscritura);
}

uint16_t u16_be(const uint8_t* p) {
    return static_cast<uint16_t>((p[0] << 8) | p[1]);
}

uint32_t u24_le(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16);
}

// Hundredths stored as an unsigned integer, divided in double precision.
float centesimas(uint32_t lvalor) {
    return static_cast<float>(lvalor / 100.0);
}

void decodifico_canal(stconfiguracion_sensor& config, const uint8_t* p) {
    config.ctipo_comunicacion = p[0];
    config.cbaudios_comunicacion = p[1];
    config.csalida_reset = p[2];
    config.cseg_delay_inicial = p[3];
    config.csample_interval = p[4];
    config.cdireccionamiento_viento = p[5];
    config.ctimeout_datos_validos = p[6];
}

void decodifico_bloque_1() {
    readEEPROM(DIRECCION_EEPROM, EEPROM_BLOQUE_1, vArray, EEPROM_BYTES_BLOQUE_1);
    configuracion_sensor[0].csensor = vArray[0];
    configuracion_sensor[1].csensor = vArray[1];
    configuracion_ais.ctipo_comunicacion = vArray[2];
    configuracion_ais.cbaudios = vArray[3];
    configuracion_ais.csalida_reset = vArray[4];
    configuracion_ais.cenable_msg21 = vArray[5];
    configuracion_ais.cinput_light_msg21 = vArray[6];
    configuracion_ais.cinput_error_light_msg21 = vArray[7];
    configuracion_ais.cenable_shipras = vArray[8];
    configuracion_ais.llatitud_shipras[0] = BytesToSignedInt32(vArray, 9);
    configuracion_ais.llongitud_shipras[0] = BytesToSignedInt32(vArray, 13);
    configuracion_ais.llatitud_shipras[1] = BytesToSignedInt32(vArray, 17);
    configuracion_ais.llongitud_shipras[1] = BytesToSignedInt32(vArray, 21);
    // A channel without a device keeps the settings it had.
    if (configuracion_sensor[0].csensor != 0) {
        decodifico_canal(configuracion_sensor[0], &vArray[88]);
    }
    if (configuracion_sensor[1].csensor != 0) {
        decodifico_canal(configuracion_sensor[1], &vArray[100]);
    }
}

// Offsets within block 2.
constexpr uint8_t kSalidas = 0;    // 3 bytes per output
constexpr uint8_t kEntradas = 12;  // 5 bytes per input
constexpr uint8_t kAnalogica[2] = {32, 43};
constexpr uint8_t kBateriaBaja = 54;
constexpr uint8_t kBateriaOff = 56;
constexpr uint8_t kNombre = 58;

void decodifico_bloque_2() {
    readEEPROM(DIRECCION_EEPROM, EEPROM_BLOQUE_2, vArray, EEPROM_BYTES_BLOQUE_2);
    stconfiguracion_ktr09& config = configuracion_ktr09;
    for (uint8_t k = 0; k < 4; ++k) {
        const uint8_t* salida = &vArray[kSalidas + 3 * k];
        config.cestado_en_reposo_salida_digital[k] = salida[0];
        config.itemporizacion_salida_digital[k] = u16_be(&salida[1]);
    }
    for (uint8_t k = 0; k < 4; ++k) {
        const uint8_t* entrada = &vArray[kEntradas + 5 * k];
        config.cfuncionalidad_entradas_externas[k] = entrada[0];
        config.cestado_en_reposo_entrada_externa[k] = entrada[1];
        config.itemporizacion_entrada_externa[k] = u16_be(&entrada[2]);
        config.ctemporizador_minutos[k] = entrada[4];
    }
    for (uint8_t k = 0; k < 2; ++k) {
        const uint8_t* analogica = &vArray[kAnalogica[k]];
        config.fumbral_alarma_on[k] = centesimas(u16_be(&analogica[0]));
        config.fumbral_alarma_off[k] = centesimas(u16_be(&analogica[2]));
        config.ffactor_A[k] = centesimas(u24_le(&analogica[4]));
        // Signed hundredths are divided in single precision.
        config.ffactor_B[k] = static_cast<float>(BytesToSignedInt32(
                                  vArray, static_cast<uint8_t>(kAnalogica[k] + 7))) /
                              100.0f;
    }
    config.ftension_alarma_bateria_baja = centesimas(u16_be(&vArray[kBateriaBaja]));
    config.ftension_alarma_bateria_off = centesimas(u16_be(&vArray[kBateriaOff]));
    Extraer_Cadena(vArray, kNombre, sizeof(config.cnombre),
                   reinterpret_cast<unsigned char*>(config.cnombre));
}

}  // namespace

void writeEEPROM_variable(uint8_t cid, uint16_t iaddress, uint32_t ldato, uint8_t ccantidad_bytes) {
    if (ccantidad_bytes == 0) {
        return;
    }
    if (ccantidad_bytes > 4) {
        ccantidad_bytes = 4;
    }
    empiezo_transaccion(cid, iaddress);
    for (uint8_t k = ccantidad_bytes; k > 0; --k) {
        Wire.write(static_cast<uint8_t>(ldato >> (8 * (k - 1))));
    }
    Wire.endTransmission();
    retardo_milisegundos(kMsCicloEscritura);
}

void writeEEPROM(uint8_t cid, uint16_t iaddress, const uint8_t* pcdatos, uint8_t ccantidad_bytes) {
    uint8_t cenviados = 0;
    while (cenviados < ccantidad_bytes) {
        const uint16_t idireccion = static_cast<uint16_t>(iaddress + cenviados);
        const uint8_t chasta_frontera =
            static_cast<uint8_t>(kBytesPagina - idireccion % kBytesPagina);
        const uint8_t cquedan = static_cast<uint8_t>(ccantidad_bytes - cenviados);
        const uint8_t cpieza = cquedan < chasta_frontera ? cquedan : chasta_frontera;
        escribo_pieza(cid, idireccion, &pcdatos[cenviados], cpieza);
        cenviados = static_cast<uint8_t>(cenviados + cpieza);
    }
}

uint32_t readEEPROM_variable(uint8_t cid, uint16_t idireccion, uint8_t ccantidad_bytes) {
    if (ccantidad_bytes > 4) {
        ccantidad_bytes = 4;
    }
    uint8_t cbytes[4] = {0, 0, 0, 0};
    readEEPROM(cid, idireccion, cbytes, ccantidad_bytes);
    uint32_t lvalor = 0;
    for (uint8_t i = 0; i < ccantidad_bytes; ++i) {
        lvalor = (lvalor << 8) | cbytes[i];
    }
    return lvalor;
}

void readEEPROM(uint8_t cid, uint16_t idireccion, uint8_t* pcdatos, uint16_t icantidad_bytes) {
    uint16_t ileidos = 0;
    while (ileidos < icantidad_bytes) {
        const uint16_t iquedan = static_cast<uint16_t>(icantidad_bytes - ileidos);
        const uint8_t cpieza =
            iquedan < kBytesPorLectura ? static_cast<uint8_t>(iquedan) : kBytesPorLectura;
        const uint16_t idesde = static_cast<uint16_t>(idireccion + ileidos);
        do {
            sodaq_wdt_reset();
        } while (!intento_lectura(cid, idesde, &pcdatos[ileidos], cpieza));
        ileidos = static_cast<uint16_t>(ileidos + cpieza);
    }
}

void cargar_estructuras_configuracion() {
    decodifico_bloque_1();
    decodifico_bloque_2();
}
