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

// ---- Requests (procesado_pc.cpp) ------------------------------------------------

// Executes a verified request (read, write, acknowledge) from sensor channel
// 0 or 1 or, for any other Tipo_Uart, the USB port, and replies there.
void procesar_trama(const unsigned char* bufferIn, uint8_t Tipo_Uart);
// The reply frame "#JWK" in vSalida, sent on the request's port.
void enviar_respuesta_pc(uint8_t Comando, uint8_t Subcomando, uint32_t PosEEPROM, uint8_t Resultado,
                         const unsigned char* bufferIn, uint8_t Longitud, uint8_t Tipo_Uart);
// Reads EEPROM bytes (at most 128) into vArray and replies with them.
void exportar_memoria_eeprom(uint8_t Subcomando, uint32_t nAddress, uint16_t iNbBytes,
                             uint8_t Tipo_Uart);
// Copies Longitud bytes (at most 128) from bufferSrc[PosIni] to bufferDst.
void copyArray(unsigned char* bufferDst, const unsigned char* bufferSrc, uint16_t PosIni,
               uint16_t Longitud);
// Two empty lines, "Array:" and the bytes in decimal on the console.
void ImprimirArray(const unsigned char* bufferIn, uint16_t Longitud);
// The configuration records in clear text on the console.
void Mostrar_Pantalla_Estructuras();
