#include <Arduino.h>

#include "ais.h"
#include "declaraciones.h"

uint8_t cpartimos_y_codificamos_en_6bits(uint32_t ldato, uint8_t cbits_utiles, uint8_t cbits_resto,
                                         uint8_t* pcbytes_codificados,
                                         uint8_t* pcdatos_trama_codificados) {
    // A cursor outside 1..6 can only mean a fresh symbol; it keeps the weight
    // inside the six bits of a symbol.
    if (cbits_resto == 0 || cbits_resto > 6) {
        cbits_resto = 6;
    }
    for (uint8_t cbit = cbits_utiles; cbit > 0; --cbit) {
        // Widths above 32 pack leading zeros: a uint32_t has no higher bits.
        const uint8_t cpuesto = (cbit <= 32) ? ((ldato & lpeso[cbit - 1]) != 0) : 0;
        if (cpuesto && *pcbytes_codificados < CSIMBOLOS_PAYLOAD_AIS) {
            pcdatos_trama_codificados[*pcbytes_codificados] = static_cast<uint8_t>(
                pcdatos_trama_codificados[*pcbytes_codificados] + cpeso[cbits_resto - 1]);
        }
        if (stais.cextraigo == 2) {
            SerialUSB.print(cpuesto ? '1' : '0');
        }
        if (cbits_resto == 1) {
            ++*pcbytes_codificados;
            cbits_resto = 6;
        } else {
            --cbits_resto;
        }
    }
    if (stais.cextraigo == 2) {
        SerialUSB.print(' ');
    }
    return cbits_resto;
}

uint8_t codificacion_caracteres_ascii_seis_bits(uint8_t cdato) {
    if (cdato < 40) {
        return static_cast<uint8_t>(cdato + 48);
    }
    return static_cast<uint8_t>(cdato + 56);
}

uint8_t decodificacion_mensaje_vdo(uint8_t cdato_codificado) {
    const uint8_t cvalor = static_cast<uint8_t>(cdato_codificado - 48);
    if (cvalor <= 39) {
        return cvalor;
    }
    return static_cast<uint8_t>(cdato_codificado - 56);
}

uint32_t extraemos_bits_decodificados(const uint8_t* pctrama, uint16_t iposicion_byte_trama,
                                      uint8_t ccantidad_bits, uint16_t iposicion_inicial) {
    uint8_t csimbolo = static_cast<uint8_t>(iposicion_byte_trama + iposicion_inicial / 6);
    uint8_t cbit = static_cast<uint8_t>(iposicion_inicial % 6);
    uint32_t lvalor = 0;
    for (uint8_t n = 0; n < ccantidad_bits; ++n) {
        lvalor <<= 1;
        if (pctrama[csimbolo] & m_filtro_trama_ais[cbit]) {
            lvalor += 1;
        }
        if (cbit == 5) {
            cbit = 0;
            ++csimbolo;
        } else {
            ++cbit;
        }
    }
    return lvalor;
}

uint16_t converter_complement_2(int16_t idata) {
    if (idata < 0) {
        return static_cast<uint16_t>(idata);
    }
    return static_cast<uint16_t>(idata & 0x7FFF);
}

uint32_t lconverter_complement_2(int32_t ldata) {
    if (ldata < 0) {
        return 0x10000000u + static_cast<uint32_t>(ldata);
    }
    return static_cast<uint32_t>(ldata) & 0x07FFFFFFu;
}

void inicio_payload_ais(stcursor_ais* pcursor) {
    for (unsigned char& csimbolo : stais.cmsg) {
        csimbolo = 0;
    }
    *pcursor = stcursor_ais{0, 6};
}

void empaqueto_ais(stcursor_ais* pcursor, uint32_t lvalor, uint8_t cbits) {
    pcursor->cbits_resto = cpartimos_y_codificamos_en_6bits(lvalor, cbits, pcursor->cbits_resto,
                                                            &pcursor->csimbolo, stais.cmsg);
}

void cierro_payload_ais(const stcursor_ais& cursor, unsigned char* pcdestino) {
    uint8_t ccaracteres = static_cast<uint8_t>(cursor.csimbolo + (cursor.cbits_resto != 6 ? 1 : 0));
    if (ccaracteres > CCARACTERES_PAYLOAD_AIS) {
        ccaracteres = CCARACTERES_PAYLOAD_AIS;
    }
    pcdestino[0] = ccaracteres;
    for (uint8_t i = 0; i < ccaracteres; ++i) {
        pcdestino[i + 1] = codificacion_caracteres_ascii_seis_bits(stais.cmsg[i]);
    }
}
