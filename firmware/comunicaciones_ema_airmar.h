// Weather station on a sensor channel: the $WIMDA sentences it sends are
// summed into sensor[ccanal] and closed into averaged samples (wind as a
// vector, gusts over three-sentence windows, pressure with its history and
// tendency, humidity, temperature, dew point and sea state).
#pragma once

#include <stdint.h>

// Takes every sentence of sensor[ccanal].cframe_rx[0 .. ibytes_rx-1] (one
// burst); closes the sample at the first $WIMDA once cnueva_muestra is 1.
void procesamos_trama_rx_estacion_meteorologica(uint8_t ccanal);

// Clears the sums of the sample (and, with cinicio 1, the gust windows) and
// the due flag.
void reset_muestra_ema(uint8_t cinicio, uint8_t ccanal);

// Beaufort number 0..12 of a wind speed in hundredths of a knot.
uint8_t calculo_estado_del_mar_segun_tabla_beaufort(uint16_t inudos_viento);
