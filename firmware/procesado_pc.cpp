// Execution of PC link requests: read, write and acknowledge of the
// configuration EEPROM, answered on the port the request came from, and the
// configuration printed in clear text after a read.
#include <Arduino.h>
#include <string.h>

#include "declaraciones.h"
#include "i2c.h"
#include "procesado.h"

namespace {

constexpr uint8_t kLongitudMinimaTrama = 13;
constexpr uint8_t kBytesMaximosDatos = 128;
// The reply frame adds 13 bytes to its data and must fit vSalida.
constexpr uint8_t kBytesMaximosRespuesta = sizeof(vSalida) - kLongitudMinimaTrama;
constexpr uint8_t kComandoLectura = 0;
constexpr uint8_t kComandoEscritura = 1;
constexpr uint8_t kComandoConfirmacion = 2;
// The 24xx64 holds 8 KB; on the chip a write past its end wraps round onto
// address 0, the start of configuration block 1.
constexpr uint32_t kBytesEeprom = 0x2000;

uint16_t direccion_trama(const unsigned char* bufferIn) {
    // Three address bytes, most significant first; the EEPROM takes 16 bits.
    return static_cast<uint16_t>((bufferIn[8] << 8) | bufferIn[9]);
}

uint32_t direccion_completa(const unsigned char* bufferIn) {
    return (static_cast<uint32_t>(bufferIn[7]) << 16) | (static_cast<uint32_t>(bufferIn[8]) << 8) |
           bufferIn[9];
}

// ---- Configuration dump ---------------------------------------------------------

void linea_entero(const char* pcetiqueta, int32_t lvalor) {
    SerialUSB.print(pcetiqueta);
    SerialUSB.println(lvalor);
}

void linea_natural(const char* pcetiqueta, uint32_t lvalor) {
    SerialUSB.print(pcetiqueta);
    SerialUSB.println(lvalor);
}

void linea_real(const char* pcetiqueta, float fvalor) {
    SerialUSB.print(pcetiqueta);
    SerialUSB.println(static_cast<double>(fvalor), 2);
}

// "<field> <k>: " for element k-1 of an array field.
void etiqueta_elemento(const char* pccampo, uint8_t k) {
    SerialUSB.print(pccampo);
    SerialUSB.print(' ');
    SerialUSB.print(static_cast<unsigned int>(k));
    SerialUSB.print(": ");
}

void linea_elemento(const char* pccampo, uint8_t k, uint32_t lvalor) {
    etiqueta_elemento(pccampo, k);
    SerialUSB.println(lvalor);
}

void linea_elemento_real(const char* pccampo, uint8_t k, float fvalor) {
    etiqueta_elemento(pccampo, k);
    SerialUSB.println(static_cast<double>(fvalor), 2);
}

void dispositivo_sensor(uint8_t i) {
    const stconfiguracion_sensor& c = configuracion_sensor[i];
    if (c.csensor == 0) {
        return;
    }
    // The first device's three line-driver labels carry two spaces.
    const char* const kEtiquetas[2][7] = {
        {"DISP 1  ctipo_comunicacion: ", "DISP 1  cbaudios: ", "DISP 1  csalida_reset: ",
         "DISP 1 cseg_delay_inicial: ", "DISP 1 csample_interval: ",
         "DISP 1 cdireccionamiento_viento: ", "DISP 1 ctimeout_datos_validos: "},
        {"DISP 2 ctipo_comunicacion: ", "DISP 2 cbaudios: ", "DISP 2 csalida_reset: ",
         "DISP 2 cseg_delay_inicial: ", "DISP 2 csample_interval: ",
         "DISP 2 cdireccionamiento_viento: ", "DISP 2 ctimeout_datos_validos: "},
    };
    const uint8_t cvalores[7] = {c.ctipo_comunicacion,    c.cbaudios_comunicacion,
                                 c.csalida_reset,         c.cseg_delay_inicial,
                                 c.csample_interval,      c.cdireccionamiento_viento,
                                 c.ctimeout_datos_validos};
    for (uint8_t k = 0; k < 7; ++k) {
        linea_natural(kEtiquetas[i][k], cvalores[k]);
    }
}

}  // namespace

void Mostrar_Pantalla_Estructuras() {
    Debug("");
    linea_natural("Sensor 2: ", configuracion_sensor[0].csensor);
    linea_natural("Sensor 3: ", configuracion_sensor[1].csensor);
    const stconfiguracion_ais& a = configuracion_ais;
    linea_natural("AIS ctipo_comunicacion: ", a.ctipo_comunicacion);
    linea_natural("AIS cbaudios: ", a.cbaudios);
    linea_natural("AIS csalida_reset: ", a.csalida_reset);
    linea_natural("AIS cenable_msg21: ", a.cenable_msg21);
    linea_natural("AIS cinput_light_msg21: ", a.cinput_light_msg21);
    linea_natural("AIS cinput_error_light_msg21: ", a.cinput_error_light_msg21);
    linea_natural("AIS cenable_shipras: ", a.cenable_shipras);
    linea_entero("AIS A Lat: ", a.llatitud_shipras[0]);
    linea_entero("AIS A Lon: ", a.llongitud_shipras[0]);
    linea_entero("AIS B Lat: ", a.llatitud_shipras[1]);
    linea_entero("AIS B Lon: ", a.llongitud_shipras[1]);
    dispositivo_sensor(0);
    dispositivo_sensor(1);
    const stconfiguracion_ktr09& k = configuracion_ktr09;
    for (uint8_t j = 0; j < 4; ++j) {
        const uint8_t n = static_cast<uint8_t>(j + 1);
        linea_elemento("cestado_en_reposo_salida_digital", n,
                       k.cestado_en_reposo_salida_digital[j]);
        linea_elemento("itemporizacion_salida_digital", n, k.itemporizacion_salida_digital[j]);
    }
    for (uint8_t j = 0; j < 4; ++j) {
        const uint8_t n = static_cast<uint8_t>(j + 1);
        linea_elemento("cfuncionalidad_entradas_externas", n,
                       k.cfuncionalidad_entradas_externas[j]);
        linea_elemento("cestado_en_reposo_entrada_externa", n,
                       k.cestado_en_reposo_entrada_externa[j]);
        linea_elemento("itemporizacion_entrada_externa", n, k.itemporizacion_entrada_externa[j]);
        linea_elemento("ctemporizador_minutos", n, k.ctemporizador_minutos[j]);
    }
    for (uint8_t j = 0; j < 2; ++j) {
        const uint8_t n = static_cast<uint8_t>(j + 1);
        linea_elemento_real("fumbral_alarma_on", n, k.fumbral_alarma_on[j]);
        linea_elemento_real("fumbral_alarma_off", n, k.fumbral_alarma_off[j]);
        linea_elemento_real("ffactor_A", n, k.ffactor_A[j]);
        linea_elemento_real("ffactor_B", n, k.ffactor_B[j]);
    }
    linea_real("ftension_alarma_bateria_baja : ", k.ftension_alarma_bateria_baja);
    linea_real("ftension_alarma_bateria_off : ", k.ftension_alarma_bateria_off);
}

void copyArray(unsigned char* bufferDst, const unsigned char* bufferSrc, uint16_t PosIni,
               uint16_t Longitud) {
    if (Longitud > kBytesMaximosDatos) {
        Longitud = kBytesMaximosDatos;
    }
    for (uint16_t i = 0; i < Longitud; ++i) {
        bufferDst[i] = bufferSrc[PosIni + i];
    }
}

void ImprimirArray(const unsigned char* bufferIn, uint16_t Longitud) {
    SerialUSB.println();
    SerialUSB.println();
    SerialUSB.print("Array:");
    for (uint16_t i = 0; i < Longitud; ++i) {
        SerialUSB.print(static_cast<unsigned int>(bufferIn[i]));
        SerialUSB.print(' ');
    }
    SerialUSB.println();
}

void enviar_respuesta_pc(uint8_t Comando, uint8_t Subcomando, uint32_t PosEEPROM, uint8_t Resultado,
                         const unsigned char* bufferIn, uint8_t Longitud, uint8_t Tipo_Uart) {
    if (Longitud > kBytesMaximosRespuesta) {
        Longitud = kBytesMaximosRespuesta;
    }
    const uint8_t clongitud = static_cast<uint8_t>(kLongitudMinimaTrama + Longitud);
    vSalida[0] = '#';
    vSalida[1] = 'J';
    vSalida[2] = 'W';
    vSalida[3] = 'K';
    vSalida[4] = clongitud;
    vSalida[5] = Comando;
    vSalida[6] = Subcomando;
    vSalida[7] = static_cast<unsigned char>(PosEEPROM >> 16);
    vSalida[8] = static_cast<unsigned char>(PosEEPROM >> 8);
    vSalida[9] = static_cast<unsigned char>(PosEEPROM);
    vSalida[10] = Resultado;
    for (uint8_t i = 0; i < Longitud; ++i) {
        vSalida[11 + i] = bufferIn[i];
    }
    const uint16_t icrc = calculo_crc16(vSalida, clongitud - 2);
    vSalida[clongitud - 2] = static_cast<unsigned char>(icrc >> 8);
    vSalida[clongitud - 1] = static_cast<unsigned char>(icrc);
    if (Tipo_Uart == 0) {
        Serial3.write(vSalida, clongitud);
    } else if (Tipo_Uart == 1) {
        Serial1.write(vSalida, clongitud);
    } else {
        SerialUSB.write(vSalida, clongitud);
    }
}

void exportar_memoria_eeprom(uint8_t Subcomando, uint32_t nAddress, uint16_t iNbBytes,
                             uint8_t Tipo_Uart) {
    // A read gives at most what one reply frame carries.
    if (iNbBytes > kBytesMaximosDatos) {
        iNbBytes = kBytesMaximosDatos;
    }
    Debug("Antes de leer EEPROM");
    readEEPROM(DIRECCION_EEPROM, static_cast<uint16_t>(nAddress), vArray, iNbBytes);
    Debug("Vector leido de EEPROM");
    ImprimirArray(vArray, iNbBytes);
    enviar_respuesta_pc(kComandoLectura, Subcomando, nAddress, 1, vArray,
                        static_cast<uint8_t>(iNbBytes), Tipo_Uart);
}

void procesar_trama(const unsigned char* bufferIn, uint8_t Tipo_Uart) {
    const uint8_t lenTrama = bufferIn[4];
    const uint8_t Comando = bufferIn[5];
    const uint8_t Subcomando = bufferIn[6];
    const uint32_t PosIni = direccion_completa(bufferIn);
    const uint8_t nDatos = bufferIn[10];
    switch (Comando) {
        case kComandoLectura:
            Debug("Trama de tipo lectura.");
            exportar_memoria_eeprom(Subcomando, PosIni, nDatos, Tipo_Uart);
            Mostrar_Pantalla_Estructuras();
            break;
        case kComandoEscritura:
            // Only the bytes the frame carries are written: a count that does
            // not match the frame's length, above 128, or running past the
            // EEPROM's end writes nothing.
            if (lenTrama < kLongitudMinimaTrama || nDatos != lenTrama - kLongitudMinimaTrama ||
                nDatos > kBytesMaximosDatos || PosIni + nDatos > kBytesEeprom) {
                return;
            }
            copyArray(vArray, bufferIn, 11, nDatos);
            writeEEPROM(DIRECCION_EEPROM, direccion_trama(bufferIn), vArray, nDatos);
            enviar_respuesta_pc(kComandoEscritura, Subcomando, PosIni, 1, vArray, 0, Tipo_Uart);
            if (Subcomando == 1) {
                Debug("Actualizar estructuras.");
                cargar_estructuras_configuracion();
            }
            break;
        case kComandoConfirmacion:
            enviar_respuesta_pc(kComandoConfirmacion, Subcomando, PosIni, 0, vArray, 0, Tipo_Uart);
            break;
        default:
            break;
    }
}
