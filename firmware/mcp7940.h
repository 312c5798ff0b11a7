// The MCP7940 real-time clock on the I2C bus and the system date and time
// kept in ktr09 as a copy of it.
#pragma once

#include <stdint.h>

// The clock's address in the 8-bit form every call takes (7-bit 0x6F).
constexpr uint8_t DIRECCION_RTC = 0xDE;

// One register written in one bus transaction.
void writeclock(uint8_t cid, uint8_t caddress, uint8_t cdato);
// Consecutive registers from caddress written in one transaction.
void writeclock_sequencial(uint8_t cid, uint8_t caddress, const uint8_t* pcdatos,
                           uint8_t ccantidad_bytes);
// 1 when all ccantidad_bytes registers from caddress arrived within 20 ms and
// were copied to pcdatos; 0 otherwise (nothing copied).
uint8_t readclock(uint8_t cid, uint8_t caddress, uint8_t* pcdatos, uint8_t ccantidad_bytes);

// Start-up: oscillator running and 24-hour mode, or rtc.calarma after 20 tries.
void config_clock();
// 1 when the clock was read and held a valid date, now copied to ktr09; 0
// otherwise, leaving the system time as it was. Restarts a stopped oscillator.
uint8_t lectura_fecha();
// Writes the date and time (weekday 0 = computed) and reads it back; 1 once
// verified (and ktr09.csincronizada set), 0 after 5 failed attempts.
uint8_t escritura_fecha(uint8_t cdia, uint8_t cmes, uint8_t cano, uint8_t cdia_semana,
                        uint8_t chora, uint8_t cminuto, uint8_t csegundo);
// System time and clock set from the GPS time the transponder delivered.
void nueva_hora_sistema();
