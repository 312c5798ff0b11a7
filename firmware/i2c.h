// The configuration EEPROM (24xx64, 8 KB, 32-byte pages) on the I2C bus and
// the decoding of its image into the configuration records.
#pragma once

#include <stdint.h>

// The EEPROM's address in the 8-bit form every call takes (7-bit 0x50).
constexpr uint8_t DIRECCION_EEPROM = 0xA0;

// Image layout: the blocks decoded at start-up and the calibration block.
constexpr uint16_t EEPROM_BLOQUE_1 = 0;
constexpr uint16_t EEPROM_BYTES_BLOQUE_1 = 112;
constexpr uint16_t EEPROM_BLOQUE_2 = 112;
constexpr uint16_t EEPROM_BYTES_BLOQUE_2 = 78;
constexpr uint16_t EEPROM_CONVERSOR_BATERIA = 0x1FF0;
constexpr uint16_t EEPROM_VALOR_0_ANALOGICA_1 = 0x1FF4;
constexpr uint16_t EEPROM_CONVERSOR_ANALOGICA_1 = 0x1FF6;
constexpr uint16_t EEPROM_VALOR_0_ANALOGICA_2 = 0x1FFA;
constexpr uint16_t EEPROM_CONVERSOR_ANALOGICA_2 = 0x1FFC;

// Writes the low ccantidad_bytes (1..4) bytes of ldato, most significant
// first, in one transaction, then waits out the write cycle. The bytes must
// lie within one 32-byte page.
void writeEEPROM_variable(uint8_t cid, uint16_t iaddress, uint32_t ldato, uint8_t ccantidad_bytes);
// Writes the bytes in page-aligned pieces, one transaction and one write
// cycle each.
void writeEEPROM(uint8_t cid, uint16_t iaddress, const uint8_t* pcdatos, uint8_t ccantidad_bytes);
// The ccantidad_bytes (1..4) bytes at idireccion as a big-endian value.
uint32_t readEEPROM_variable(uint8_t cid, uint16_t idireccion, uint8_t ccantidad_bytes);
// Fills pcdatos; retries (feeding the watchdog) until the device answers.
void readEEPROM(uint8_t cid, uint16_t idireccion, uint8_t* pcdatos, uint16_t icantidad_bytes);
// Decodes blocks 1 and 2 of the image into the configuration records.
void cargar_estructuras_configuracion();
