// Service console.
#pragma once

#include <stdint.h>

// The start-up banner with hardware and firmware versions.
void mensaje_bienvenida();
// Echoes one typed byte: CR as CR LF, Ñ/ñ as 0xA5, letters upper-cased when
// cmayusculas is 1.
void extraccion_tecla_pulsada(uint8_t cmayusculas, uint8_t cdato);
