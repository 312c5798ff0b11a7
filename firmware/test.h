// Service console.
#pragma once

#include <stdint.h>

// The start-up banner with hardware and firmware versions.
void mensaje_bienvenida();
// Echoes one typed byte: CR as CR LF, Ñ/ñ as 0xA5, letters upper-cased when
// cmayusculas is 1.
void extraccion_tecla_pulsada(uint8_t cmayusculas, uint8_t cdato);

// A service mode: 1 TEST (outputs, inputs and channel echo loops), any other
// value SETTINGS (calibration and readings only). Never returns.
[[noreturn]] void rutina_test(uint8_t ccanal);

// The echo loops of the three UART channels (test_canales.cpp), for the line
// type the test mode has set (4 = RS-485 drives the transmit enable).
void comunicacion_canal1_test(uint8_t ctipo_comunicacion);
void comunicacion_canal2_test(uint8_t ctipo_comunicacion);
void comunicacion_canal3_test(uint8_t ctipo_comunicacion);
