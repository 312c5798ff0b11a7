// PC link frames: CRC-16 and validation.
#pragma once

#include <stdint.h>

// CRC-16/MODBUS (reflected 0x8005, initial 0xFFFF) of ilongitud bytes.
uint16_t calculo_crc16(const unsigned char* pframe, uint16_t ilongitud);
// 1 when the held bytes start with a whole "@JWK" frame whose CRC is right.
uint8_t verificar_trama(const unsigned char* bufferIn, uint8_t Longitud);
// Writes a text and a line break on the USB console.
void Debug(const char* texto);

// Four bytes from vecSrc[PosIni], least significant first.
uint32_t Extraer_Uint32(const unsigned char* vecSrc, uint8_t PosIni);
// The same four bytes as sign and magnitude: bit 31 the sign, bits 0..30 the
// magnitude (0x80000005 is -5).
int32_t BytesToSignedInt32(const unsigned char* vecSrc, uint8_t PosIni);
// Copies Longitud bytes from vecSrc[PosIni] to vecDst, no terminator added.
// Indexes are bytes: the copy stops before index 255.
void Extraer_Cadena(const unsigned char* vecSrc, uint8_t PosIni, uint8_t Longitud,
                    unsigned char* vecDst);
