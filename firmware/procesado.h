// PC link frames: CRC-16 and validation.
#pragma once

#include <stdint.h>

// CRC-16/MODBUS (reflected 0x8005, initial 0xFFFF) of ilongitud bytes.
uint16_t calculo_crc16(const unsigned char* pframe, uint16_t ilongitud);
// 1 when the held bytes start with a whole "@JWK" frame whose CRC is right.
uint8_t verificar_trama(const unsigned char* bufferIn, uint8_t Longitud);
// Writes a text and a line break on the USB console.
void Debug(const char* texto);
