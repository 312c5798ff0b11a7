#include "nmea.h"

#include <Arduino.h>

#include "comunicaciones_pc.h"
#include "declaraciones.h"

namespace {

constexpr uint8_t CLASE_ESPACIO = 252;
constexpr uint8_t CLASE_MENOS = 253;
constexpr uint8_t CLASE_PUNTO = 254;
constexpr uint8_t CLASE_OTRO = 255;

constexpr uint16_t NO_ENCONTRADO = 0xFFFF;

// Decimal digits the power-of-ten table covers, and decimals a float keeps.
constexpr uint8_t CMAXIMO_CIFRAS = 10;
constexpr uint8_t CMAXIMO_DECIMALES = 9;

constexpr uint16_t CBYTES_FRAME_TX = sizeof(stais.cframe_tx);

// Field walk of busqueda_campo; *pcterminada is 1 when a '*' or CR ended
// the sentence before the field was reached (the index is then that byte).
uint16_t recorrido_campo(uint8_t ccampo_buscado, const uint8_t* pctrama, uint16_t iposicion_inicial,
                         uint16_t iposicion_final, uint8_t* pcterminada) {
    uint8_t ccomas = 0;
    uint16_t i = iposicion_inicial;
    *pcterminada = 0;
    while (ccomas != ccampo_buscado && i < iposicion_final) {
        const uint8_t c = pctrama[i];
        if (c == '*' || c == '\r') {
            // The checksum digits and whatever follows the line are no field:
            // the walk stays on the end so that a missing field reads as '*'.
            *pcterminada = 1;
            return i;
        }
        if (c == ',') {
            ++ccomas;
        }
        ++i;
    }
    return i;
}

// Start and count of a field as the extractors take them: start 0 for field
// 0, the field running up to its ',', '*' or CR (or, without any, to the byte
// before iposicion_final). 0 when the field is empty or missing.
uint8_t limites_campo(uint8_t ccampo, const uint8_t* pctrama, uint16_t iposicion_inicial,
                      uint16_t iposicion_final, uint16_t* pinicio, uint8_t* pccantidad) {
    const uint16_t iinicio =
        (ccampo == 0) ? 0 : busqueda_campo(ccampo, pctrama, iposicion_inicial, iposicion_final);
    uint8_t cterminada = 0;
    const uint16_t isiguiente = recorrido_campo(static_cast<uint8_t>(ccampo + 1), pctrama,
                                                iposicion_inicial, iposicion_final, &cterminada);
    // The delimiter: the '*' or CR the walk stopped on, else the byte before
    // where it stopped (the comma of the next field, or the range's last).
    const uint16_t idelimitador = cterminada ? isiguiente : static_cast<uint16_t>(isiguiente - 1);
    // A missing field starts on the sentence's end, which counts as empty like
    // a field between two commas.
    if (isiguiente == 0 || idelimitador <= iinicio) {
        return 0;
    }
    *pinicio = iinicio;
    *pccantidad = static_cast<uint8_t>(idelimitador - iinicio);
    return 1;
}

void escribo_hex2(uint8_t cvalor) {
    transmito_variable_hex(cvalor, 2, 0);
}

// Digits of laux in the given base with at least cnumero_cifras of them (0 =
// as many as it takes); the table holds every power a uint32_t needs.
void inserto_en_base(uint32_t laux, uint8_t cnumero_cifras, uint8_t ccaracter_final,
                     const uint32_t* ppotencias, uint8_t cmaximo_cifras) {
    uint8_t ccifras = 1;
    while (ccifras < cmaximo_cifras && laux / ppotencias[ccifras - 1] >= ppotencias[1]) {
        ++ccifras;
    }
    if (cnumero_cifras > cmaximo_cifras) {
        // Requested digits beyond the table can only be leading zeros.
        for (uint8_t k = cnumero_cifras; k > cmaximo_cifras; --k) {
            inserto_caracter_ais('0');
        }
        ccifras = cmaximo_cifras;
    } else if (cnumero_cifras > ccifras) {
        ccifras = cnumero_cifras;
    }
    for (uint8_t k = ccifras; k > 0; --k) {
        const uint32_t lpotencia = ppotencias[k - 1];
        inserto_caracter_ais(cvalores_ascii[laux / lpotencia]);
        laux %= lpotencia;
    }
    if (ccaracter_final == 1) {
        inserto_linea_ais();
    } else if (ccaracter_final != 0) {
        inserto_caracter_ais(ccaracter_final);
    }
}

}  // namespace

uint8_t desconversion_ascii(uint8_t cascii) {
    if (cascii >= '0' && cascii <= '9') {
        return static_cast<uint8_t>(cascii - '0');
    }
    if (cascii >= 'A' && cascii <= 'F') {
        return static_cast<uint8_t>(cascii - 'A' + 10);
    }
    if (cascii == ' ') {
        return CLASE_ESPACIO;
    }
    if (cascii == '-') {
        return CLASE_MENOS;
    }
    if (cascii == '.') {
        return CLASE_PUNTO;
    }
    return CLASE_OTRO;
}

uint8_t comparacion(const uint8_t* pctrama_comparar, const char* pctrama_comparada,
                    uint8_t clongitud_comparada, uint16_t iinicio) {
    for (uint8_t i = 0; i < clongitud_comparada; ++i) {
        if (pctrama_comparar[iinicio + i] != static_cast<uint8_t>(pctrama_comparada[i])) {
            return 0;
        }
    }
    return 1;
}

uint16_t busqueda_trama(const uint8_t* pctrama_comparar, const char* pctrama_comparada,
                        uint16_t ilongitud, uint16_t iposicion_inicial) {
    if (pctrama_comparada[0] == 0) {
        return NO_ENCONTRADO;
    }
    uint16_t j = 0;
    for (uint16_t i = iposicion_inicial; i < ilongitud; ++i) {
        if (pctrama_comparar[i] == static_cast<uint8_t>(pctrama_comparada[j])) {
            ++j;
            if (pctrama_comparada[j] == 0) {
                return static_cast<uint16_t>(i + 1);
            }
        } else {
            // The byte that broke a partial match is not tried as a new start.
            j = 0;
        }
    }
    return NO_ENCONTRADO;
}

uint16_t ibusqueda_dato_en_buffer_rx(const uint8_t* pctrama, uint8_t cdato,
                                     uint8_t cveces_a_encontrar, uint16_t iposicion_inicio,
                                     uint16_t iposicion_final) {
    uint16_t i = iposicion_inicio;
    do {
        if (pctrama[i] == cdato) {
            // A count of 0 is taken as 1: the first occurrence.
            if (cveces_a_encontrar <= 1) {
                return i;
            }
            --cveces_a_encontrar;
        }
        ++i;
    } while (i < iposicion_final);
    return iposicion_final;
}

uint16_t busqueda_campo(uint8_t ccampo_buscado, const uint8_t* pctrama, uint16_t iposicion_inicial,
                        uint16_t iposicion_final) {
    uint8_t cterminada = 0;
    return recorrido_campo(ccampo_buscado, pctrama, iposicion_inicial, iposicion_final,
                           &cterminada);
}

void extraccion_posiciones_campo_nmea(uint8_t ccampo, const uint8_t* pctrama,
                                      uint16_t iposicion_inicial, uint16_t iposicion_final,
                                      uint16_t* piposicion_inicial_campo,
                                      uint16_t* piposicion_final_campo) {
    const uint16_t iinicio =
        (ccampo == 0) ? 0 : busqueda_campo(ccampo, pctrama, iposicion_inicial, iposicion_final);
    uint16_t ifin = iposicion_final;
    // A field starting at or past the end has nothing to search; not reading
    // there keeps the search inside the range handed in. A missing field
    // starts on the sentence's '*' or CR and ends there: no later text (a
    // checksum, a next sentence) is taken for it.
    if (iinicio < iposicion_final && (pctrama[iinicio] == '*' || pctrama[iinicio] == '\r')) {
        ifin = iinicio;
    } else if (iinicio < iposicion_final) {
        ifin = ibusqueda_dato_en_buffer_rx(pctrama, ',', 1, iinicio, iposicion_final);
        if (ifin == iposicion_final) {
            ifin = ibusqueda_dato_en_buffer_rx(pctrama, '*', 1, iinicio, iposicion_final);
        }
    }
    *piposicion_inicial_campo = iinicio;
    *piposicion_final_campo = ifin;
}

uint8_t identificacion_comando_frame(const uint8_t* pcframe, uint16_t iinicio, uint16_t ifinal) {
    const char* const ptokens[] = {m_comando_ts1, m_comando_ts2, m_comando_ts3, m_comando_ts4,
                                   m_comando_ts5, m_comando_ts6, m_comando_ms0, m_comando_ms1,
                                   m_comando_ms2, m_comando_ms3, m_comando_ms4, m_comando_ms5};
    for (const char* ptoken : ptokens) {
        if (busqueda_trama(pcframe, ptoken, ifinal, iinicio) != NO_ENCONTRADO) {
            return 1;
        }
    }
    return 0;
}

namespace {

// XOR from iprimero up to the '*'; 1 with the sum, the received value and the
// check result when a '*' lies before iposicion_final. A '*' whose digits
// fall outside the range counts as a wrong checksum: bytes past the range
// are not read.
uint8_t calculo_checksum(const uint8_t* pctrama, uint16_t iprimero, uint16_t iposicion_final,
                         uint8_t* pcsuma, uint8_t* pcrecibido, uint8_t* pcigual) {
    uint8_t csuma = 0;
    uint16_t i = iprimero;
    while (i < iposicion_final && pctrama[i] != '*') {
        csuma = static_cast<uint8_t>(csuma ^ pctrama[i]);
        ++i;
    }
    if (i >= iposicion_final) {
        return 0;
    }
    *pcsuma = csuma;
    if (static_cast<uint32_t>(i) + 2 < iposicion_final) {
        const uint8_t calta = desconversion_ascii(pctrama[i + 1]);
        const uint8_t cbaja = desconversion_ascii(pctrama[i + 2]);
        *pcrecibido = static_cast<uint8_t>(16 * calta + cbaja);
        // Only upper-case hex digits count: in 8 bits a lower-case 'f' would
        // weigh as much as 'F' and let "*f5" pass for F5.
        *pcigual = (calta <= 15 && cbaja <= 15 && *pcrecibido == csuma) ? 1 : 0;
    } else {
        *pcrecibido = static_cast<uint8_t>(16 * CLASE_OTRO + CLASE_OTRO);
        *pcigual = 0;
    }
    return 1;
}

}  // namespace

uint8_t comprobacion_checksum_nmea(const uint8_t* pctrama, uint16_t iposicion_inicio,
                                   uint16_t iposicion_final, uint8_t* pcchecksum, uint8_t corigen) {
    *pcchecksum = 0;
    uint8_t csuma = 0;
    uint8_t crecibido = 0;
    uint8_t cigual = 0;
    const uint16_t iprimero = static_cast<uint16_t>(iposicion_inicio + 1);
    if (!calculo_checksum(pctrama, iprimero, iposicion_final, &csuma, &crecibido, &cigual)) {
        linea();
        if (corigen == 1) {
            SerialUSB.print("Checksum failed tidelink => NO found *");
            linea();
        }
        return 0;
    }
    if (cigual) {
        return 1;
    }
    if (corigen != 0) {
        linea();
        SerialUSB.print("Checksum failed ");
        if (corigen == 1) {
            SerialUSB.print("TIDELINK");
        } else if (corigen == 2) {
            SerialUSB.print("SENSOR");
        }
        SerialUSB.print(" => ");
        escribo_hex2(csuma);
        SerialUSB.print("/");
        escribo_hex2(crecibido);
        linea();
    }
    *pcchecksum = csuma;
    return 0;
}

uint8_t comprobacion_checksum_nmea_sin_cabecera(const uint8_t* pctrama, uint16_t iposicion_inicio,
                                                uint16_t iposicion_final) {
    uint8_t csuma = 0;
    uint8_t crecibido = 0;
    uint8_t cigual = 0;
    if (!calculo_checksum(pctrama, iposicion_inicio, iposicion_final, &csuma, &crecibido,
                          &cigual)) {
        linea();
        SerialUSB.print("NO encontrado *");
        linea();
        return 0;
    }
    if (cigual) {
        return 1;
    }
    linea();
    SerialUSB.print("Error checksum: ");
    SerialUSB.print(" ");
    escribo_hex2(csuma);
    linea();
    return 0;
}

uint32_t conversion_ascii_decimal(uint8_t cposicion_menos_significativa, uint8_t ccantidad,
                                  const uint8_t* pctrama) {
    uint32_t lvalor = 0;
    uint8_t ccifras = 0;
    for (uint16_t n = ccantidad; n > 0; --n) {
        const uint8_t cclase = desconversion_ascii(pctrama[cposicion_menos_significativa + n - 1]);
        // Digits above the ten least significant would need a power the table
        // does not have; they are ignored, so zero padding stays harmless.
        if (cclase <= 9 && ccifras < CMAXIMO_CIFRAS) {
            lvalor += cclase * lvalores_decimales[ccifras];
            ++ccifras;
        }
    }
    return lvalor;
}

float conversion_ascii_float(uint16_t iposicion_mas_significativa, uint8_t ccantidad,
                             const uint8_t* pctrama) {
    if (ccantidad == 0) {
        return 0.0f;
    }
    const uint16_t iultima = static_cast<uint16_t>(iposicion_mas_significativa + ccantidad - 1);

    // Digits after the last '.', and digits in all, to know how many of the
    // least significant decimals must go so that the powers stay in the table.
    uint8_t cdecimales_texto = 0;
    uint8_t ccifras_texto = 0;
    uint8_t cpunto = 0;
    for (uint16_t n = 0; n < ccantidad; ++n) {
        const uint8_t cclase = desconversion_ascii(pctrama[static_cast<uint16_t>(iultima - n)]);
        if (cclase <= 9) {
            ++ccifras_texto;
            if (!cpunto) {
                ++cdecimales_texto;
            }
        } else if (cclase == CLASE_PUNTO) {
            cpunto = 1;
        }
    }
    uint8_t cdescartar = 0;
    if (cpunto) {
        if (cdecimales_texto > CMAXIMO_DECIMALES) {
            cdescartar = static_cast<uint8_t>(cdecimales_texto - CMAXIMO_DECIMALES);
        }
        if (ccifras_texto > CMAXIMO_CIFRAS && ccifras_texto - CMAXIMO_CIFRAS > cdescartar) {
            cdescartar = static_cast<uint8_t>(ccifras_texto - CMAXIMO_CIFRAS);
        }
        if (cdescartar > cdecimales_texto) {
            cdescartar = cdecimales_texto;
        }
    }

    uint32_t lvalor = 0;
    uint8_t ccifras = 0;
    uint8_t cdecimales = 0;
    uint8_t cnegativo = 0;
    cpunto = 0;
    for (uint16_t n = 0; n < ccantidad; ++n) {
        const uint8_t cclase = desconversion_ascii(pctrama[static_cast<uint16_t>(iultima - n)]);
        if (cclase <= 9) {
            if (cdescartar > 0) {
                --cdescartar;
                continue;
            }
            if (ccifras < CMAXIMO_CIFRAS) {
                lvalor += cclase * lvalores_decimales[ccifras];
                ++ccifras;
                if (!cpunto) {
                    ++cdecimales;
                }
            }
        } else if (cclase == CLASE_MENOS) {
            cnegativo = 1;
        } else if (cclase == CLASE_PUNTO) {
            cpunto = 1;
        }
    }
    float fvalor = static_cast<float>(lvalor);
    if (cpunto) {
        fvalor /= static_cast<float>(lvalores_decimales[cdecimales]);
    }
    if (cnegativo) {
        fvalor = 0.0f - fvalor;
    }
    return fvalor;
}

uint8_t extraccion_dato_nmea(uint8_t ccampo, const uint8_t* pctrama, uint16_t iposicion_inicial,
                             uint16_t iposicion_final, uint32_t* pldato) {
    uint16_t iinicio = 0;
    uint8_t ccantidad = 0;
    if (!limites_campo(ccampo, pctrama, iposicion_inicial, iposicion_final, &iinicio, &ccantidad)) {
        return 0;
    }
    *pldato = conversion_ascii_decimal(static_cast<uint8_t>(iinicio), ccantidad, pctrama);
    return 1;
}

uint8_t extraccion_dato_con_signo_nmea(uint8_t ccampo, const uint8_t* pctrama,
                                       uint16_t iposicion_inicial, uint16_t iposicion_final,
                                       int32_t* pldato) {
    uint16_t iinicio = 0;
    uint8_t ccantidad = 0;
    if (!limites_campo(ccampo, pctrama, iposicion_inicial, iposicion_final, &iinicio, &ccantidad)) {
        *pldato = 0;
        return 0;
    }
    uint8_t cinicio = static_cast<uint8_t>(iinicio);
    uint8_t cnegativo = 0;
    if (pctrama[cinicio] == '-') {
        cnegativo = 1;
        ++cinicio;
        --ccantidad;
    }
    const uint32_t lvalor = conversion_ascii_decimal(cinicio, ccantidad, pctrama);
    // Two's-complement wrap as on the chip, without signed overflow.
    *pldato = static_cast<int32_t>(cnegativo ? 0u - lvalor : lvalor);
    return 1;
}

uint8_t extraccion_dato_nmea_float(uint8_t ccampo, const uint8_t* pctrama,
                                   uint16_t iposicion_inicial, uint16_t iposicion_final,
                                   float* pfdato) {
    uint16_t iinicio = 0;
    uint8_t ccantidad = 0;
    if (!limites_campo(ccampo, pctrama, iposicion_inicial, iposicion_final, &iinicio, &ccantidad)) {
        return 0;
    }
    *pfdato = conversion_ascii_float(iinicio, ccantidad, pctrama);
    return 1;
}

void inserto_caracter_ais(uint8_t cdato) {
    if (stais.ccalculo_checksum_nmea == 1) {
        stais.cchecksum_nmea = static_cast<uint8_t>(stais.cchecksum_nmea ^ cdato);
    }
    if (stais.ibytes_mensaje_a_tx < CBYTES_FRAME_TX) {
        stais.cframe_tx[stais.ibytes_mensaje_a_tx] = cdato;
        ++stais.ibytes_mensaje_a_tx;
    }
}

void inserto_mensaje_ais(const char* pcmensaje) {
    while (*pcmensaje != 0) {
        inserto_caracter_ais(static_cast<uint8_t>(*pcmensaje));
        ++pcmensaje;
    }
}

void inserto_linea_ais() {
    inserto_caracter_ais('\r');
    inserto_caracter_ais('\n');
}

void inserto_variable_ais(uint32_t laux, uint8_t cnumero_cifras, uint8_t ccaracter_final) {
    inserto_en_base(laux, cnumero_cifras, ccaracter_final, lvalores_decimales, 10);
}

void inserto_variable_hex_ais(uint32_t laux, uint8_t cnumero_cifras, uint8_t ccaracter_final) {
    inserto_en_base(laux, cnumero_cifras, ccaracter_final, lvalores_hexadecimales, 8);
}
