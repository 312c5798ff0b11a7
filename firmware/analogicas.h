// Battery and analog inputs: measurement, calibration from the EEPROM, the
// low-level alarms with hysteresis and the status print-out.
#pragma once

#include <stdint.h>

// Channel codes of extraigo_valor_analogico.
constexpr uint8_t ANALOGICA_1 = 0;
constexpr uint8_t ANALOGICA_2 = 1;
constexpr uint8_t ANALOGICA_BATERIA = 2;
// Calibration blocks of lectura_variables_analogicas_ktr09.
constexpr uint8_t CALIBRACION_TODAS = 255;

// Sets the converter to 12-bit results.
void configuracion_adc();
// Measures one channel (100 reads averaged) and stores the raw count. The
// result: cdato_necesario 1 = raw only (0.0), 2 = the scaled input value
// without the linear factors, anything else = the final value (the battery
// through its abrupt-change filter).
float extraigo_valor_analogico(uint8_t clectura, uint16_t* pivalor_ad, uint8_t cdato_necesario);
// Reloads calibration from the EEPROM: 0 or 1 = that analog input, 2 = the
// battery, 255 = all three.
void lectura_variables_analogicas_ktr09(uint8_t ctipo);
// Refreshes the analog values, raises and clears their alarms, starts the
// hourly time re-synchronisation at minute 0 and prints the status block.
void estado();
