// Calendar arithmetic on two-digit years (2000 + cano, cano 0..99, a leap year
// when cano is a multiple of 4): BCD, day counts, weekday, the packed date key,
// seconds since 1970 and the validation of a date and time.
#pragma once

#include <stdint.h>

// BCD byte to binary: high nibble * 10 + low nibble.
uint8_t convert_bcd_decimal(uint8_t cdata);
// Binary 0..99 to a BCD byte.
uint8_t convert_decimal_bcd(uint8_t cdata);

// Day count for comparing dates: rises by one per day from 2001 on (1 January
// 2001 is 2, 1 January 2023 is 8037); year 0 does not join year 1.
uint16_t calculo_dias(uint8_t cano, uint8_t cmes, uint8_t cdia);
// Day of the week, 1 = Monday .. 7 = Sunday.
uint8_t calculo_dia_semana(uint8_t cano, uint8_t cmes, uint8_t cdia);
// The date key MMDDYYHHmm as a decimal number.
uint32_t creacion_variable_fecha(uint8_t cano, uint8_t cmes, uint8_t cdia, uint8_t chora,
                                 uint8_t cminutos);
// Seconds since 1 January 1970 of the system date and time in ktr09.
uint32_t conversion_fecha_a_unix();
// Sets the system date and time in ktr09 (weekday included) from seconds
// since 1970; a time before 2000 changes nothing.
void conversion_unix_a_fecha(uint32_t lsegundos);
// 0 when the date and time are within limits (years 20..99, day 1 up to the
// month's length, weekday 1..7), 1 otherwise.
uint8_t verificacion_limites_fecha(uint8_t cano, uint8_t cmes, uint8_t cdia, uint8_t cdia_semana,
                                   uint8_t chora, uint8_t cminuto, uint8_t csegundo);
