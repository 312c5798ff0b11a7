#include "procesado.h"

#include <Arduino.h>
#include <sodaq_wdt.h>

// Header, length, command, sub-command, three address bytes, count and CRC.
static constexpr uint8_t kLongitudMinimaTrama = 13;

uint16_t calculo_crc16(const unsigned char* pframe, uint16_t ilongitud) {
    uint16_t icrc = 0xFFFF;
    for (uint16_t i = 0; i < ilongitud; ++i) {
        sodaq_wdt_reset();
        icrc ^= pframe[i];
        for (uint8_t cbit = 0; cbit < 8; ++cbit) {
            const bool bsale_uno = (icrc & 1) != 0;
            icrc >>= 1;
            if (bsale_uno) {
                icrc ^= 0xA001;
            }
        }
    }
    return icrc;
}

uint8_t verificar_trama(const unsigned char* bufferIn, uint8_t Longitud) {
    // A frame shorter than its fixed fields (13 bytes) is not a frame: with a
    // stated length of 0 or 1 the CRC would even run past the buffer.
    if (Longitud < kLongitudMinimaTrama) {
        return 0;
    }
    if (bufferIn[0] != '@' || bufferIn[1] != 'J' || bufferIn[2] != 'W' || bufferIn[3] != 'K') {
        return 0;
    }
    const uint8_t lenTrama = bufferIn[4];
    if (lenTrama < kLongitudMinimaTrama || lenTrama > Longitud) {
        return 0;
    }
    const uint16_t icrc = calculo_crc16(bufferIn, lenTrama - 2);
    const uint16_t irecibido =
        static_cast<uint16_t>((bufferIn[lenTrama - 2] << 8) | bufferIn[lenTrama - 1]);
    return icrc == irecibido ? 1 : 0;
}

void Debug(const char* texto) {
    SerialUSB.println(texto);
}

uint32_t Extraer_Uint32(const unsigned char* vecSrc, uint8_t PosIni) {
    uint32_t lvalor = 0;
    for (uint8_t k = 4; k > 0; --k) {
        lvalor = (lvalor << 8) | vecSrc[PosIni + k - 1];
    }
    return lvalor;
}

int32_t BytesToSignedInt32(const unsigned char* vecSrc, uint8_t PosIni) {
    const uint32_t lpalabra = Extraer_Uint32(vecSrc, PosIni);
    const int32_t lmagnitud = static_cast<int32_t>(lpalabra & 0x7FFFFFFF);
    return (lpalabra & 0x80000000) != 0 ? -lmagnitud : lmagnitud;
}

void Extraer_Cadena(const unsigned char* vecSrc, uint8_t PosIni, uint8_t Longitud,
                    unsigned char* vecDst) {
    const uint8_t cmaximo = static_cast<uint8_t>(255 - PosIni);
    if (Longitud > cmaximo) {
        Longitud = cmaximo;
    }
    for (uint8_t i = 0; i < Longitud; ++i) {
        vecDst[i] = vecSrc[PosIni + i];
    }
}
