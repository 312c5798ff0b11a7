// Text and fixed-width numbers on the USB console.
#pragma once

#include <stdint.h>

// Writes CR LF.
void linea();
// Writes bytes with CR shown as 'd' and LF as 'a'.
void traza_bytes_visibles(const unsigned char* pcdatos, uint16_t ibytes);
// Writes a line of ccantidad asterisks and CR LF.
void linea_asteriscos(uint8_t ccantidad);
// Writes the text, then CR LF when ccon_linea is 1, otherwise one space.
void escribo_mensaje(uint8_t ccon_linea, const char* pcmensaje);
// Writes laux in decimal with cnumero_cifras digits (leading zeros kept, a wider value not
// cut), then the terminator: 0 nothing, 1 CR LF, any other value that character.
void transmito_variable(uint32_t laux, uint8_t cnumero_cifras, uint8_t ccon_linea);
// The same in upper-case hexadecimal.
void transmito_variable_hex(uint32_t laux, uint8_t cnumero_cifras, uint8_t ccon_linea);
