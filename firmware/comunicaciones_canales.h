// Sensor channels 0 (Serial3, "Canal 2") and 1 (Serial1, "Canal 3"): start
// and reset of a channel with the power-cycle of its device through a board
// output, the channel's transmit frame, and the weather station's $PAMTC
// configuration dialogue.
#pragma once

#include <stdint.h>

// Restarts a channel that has a device: cinicio 1 at power-up, 0 after a
// fault (port closed, reset counted, alarm after ten). Pulses the reset
// output when one is configured, then starts the channel.
void reset_sensor(uint8_t cinicio, uint8_t ccanal);
// Switches digital output csalida (1..4; others do nothing) on for its
// configured time, 1 to 200 tenths of a second (0 or more than 200: 200);
// the tick switches it off. Power-cycles the device behind it.
void activo_salida_reset(uint8_t csalida);
// Clears the channel's state, waits cseg_delay_inicial before any command,
// and opens the port for a known device type.
void inicializacion_sensor(uint8_t cinicio, uint8_t ccanal);
// Writes cframe_tx[0 .. cbytes_tx-1] to the channel's UART and waits until sent.
void envio_frame_sensor(uint8_t ccanal);
// The weather-station settings of the channel, on the console.
void lectura_configuracion_ema_airmar(uint8_t ccanal);
// One step of the weather station's configuration dialogue.
void envio_comandos_ema_airmar(uint8_t ccanal);

// ---- Transmit frame (sensor[ccanal].cframe_tx, 128 bytes) --------------------

// Appends one byte (dropped once the frame is full); it enters cchecksum_nmea
// while ccalculo_checksum_nmea is 1.
void introduccion_byte_frame_sensor(uint8_t cbyte, uint8_t ccanal);
// Appends every byte of a NUL-terminated text.
void escribo_mensaje_frame_sensor(const char* pcmensaje, uint8_t ccanal);
// Appends CR LF.
void inserto_linea_sensor(uint8_t ccanal);
// Appends laux in decimal: exactly cnumero_cifras digits (higher digits are
// lost), or without leading zeros when cnumero_cifras is 0. Then the
// terminator: 0 nothing, 1 CR LF, any other value that character.
void inserto_variable_sensor(uint32_t laux, uint8_t cnumero_cifras, uint8_t ccaracter_final,
                             uint8_t ccanal);
// Appends fvalor with up to cnumero_decimales decimals, truncated; trailing
// zeros of the fraction, and a zero fraction with its point, are left out.
// The whole part as inserto_variable_sensor writes it (at most 9 digits).
void inserto_variable_float_sensor(float fvalor, uint8_t cnumero_cifras, uint8_t cnumero_decimales,
                                   uint8_t ccaracter_final, uint8_t ccanal);
// Appends exactly cnumero_cifras upper-case hexadecimal digits, then the terminator.
void inserto_variable_hex_sensor(uint32_t laux, uint8_t cnumero_cifras, uint8_t ccaracter_final,
                                 uint8_t ccanal);
