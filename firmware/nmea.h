// NMEA 0183 text toolkit: taking received sentences apart (patterns, fields,
// checksums, numbers) and composing the sentences sent to the AIS transponder
// in stais.cframe_tx with a running checksum.
//
// Buffers are byte arrays indexed by 16-bit positions; a range is a first
// index and an exclusive end index. Field 0 is the sentence header, field N
// the text after the N-th comma; a field ends at ',', '*' or CR.
//
// Receive handlers copy the sentence they work on so that it begins at index
// 0: field 0 is always taken to start at index 0, and the integer extractors
// (extraccion_dato_nmea, extraccion_dato_con_signo_nmea) carry a field's start
// in 8 bits, so their fields must begin within the first 256 bytes.
#pragma once

#include <stdint.h>

// ---- Character classes and searches --------------------------------------

// Class of a character: '0'..'9' -> 0..9, 'A'..'F' -> 10..15, space -> 252,
// '-' -> 253, '.' -> 254; anything else (lower-case hex included) -> 255.
uint8_t desconversion_ascii(uint8_t cascii);

// 1 when the clongitud_comparada bytes of the buffer from iinicio equal the
// first clongitud_comparada bytes of the pattern, else 0.
uint8_t comparacion(const uint8_t* pctrama_comparar, const char* pctrama_comparada,
                    uint8_t clongitud_comparada, uint16_t iinicio);

// Index just past the first occurrence of the NUL-terminated pattern in
// [iposicion_inicial, ilongitud), or 0xFFFF. No back-tracking after a partial
// match, which is sound for patterns without a repeated prefix.
uint16_t busqueda_trama(const uint8_t* pctrama_comparar, const char* pctrama_comparada,
                        uint16_t ilongitud, uint16_t iposicion_inicial);

// Index of the cveces_a_encontrar-th cdato from iposicion_inicio on (the byte
// at iposicion_inicio is examined whatever the bounds), or iposicion_final
// when fewer occur before it.
uint16_t ibusqueda_dato_en_buffer_rx(const uint8_t* pctrama, uint8_t cdato,
                                     uint8_t cveces_a_encontrar, uint16_t iposicion_inicio,
                                     uint16_t iposicion_final);

// Index of the first character of field ccampo_buscado: just after its comma,
// or the '*' or CR that ended the sentence first (so a field the sentence
// does not have reads as '*', never as the checksum digits), or
// iposicion_final. Field 0 gives iposicion_inicial.
uint16_t busqueda_campo(uint8_t ccampo_buscado, const uint8_t* pctrama, uint16_t iposicion_inicial,
                        uint16_t iposicion_final);

// First index of field ccampo (0 for field 0) and the index of its ending ','
// or, when no comma follows, of the first '*' (else iposicion_final). A
// missing field is empty: both indexes are the '*' or CR that ended the
// sentence.
void extraccion_posiciones_campo_nmea(uint8_t ccampo, const uint8_t* pctrama,
                                      uint16_t iposicion_inicial, uint16_t iposicion_final,
                                      uint16_t* piposicion_inicial_campo,
                                      uint16_t* piposicion_final_campo);

// 1 when one of the relay tokens T$1..T$6, M$0..M$5 occurs in [iinicio, ifinal).
uint8_t identificacion_comando_frame(const uint8_t* pcframe, uint16_t iinicio, uint16_t ifinal);

// ---- Checksums -------------------------------------------------------------

// Checks the XOR of the bytes after the '$'/'!' at iposicion_inicio up to the
// '*' against the two upper-case hex digits after it; both digits must lie
// before iposicion_final. 1 on a match (*pcchecksum left 0). On a mismatch
// the computed sum goes to *pcchecksum and, for corigen 1 (TIDELINK) or 2
// (sensor), the failure is reported on the console; without a '*' a line
// break is written (and a report for TIDELINK).
uint8_t comprobacion_checksum_nmea(const uint8_t* pctrama, uint16_t iposicion_inicio,
                                   uint16_t iposicion_final, uint8_t* pcchecksum, uint8_t corigen);

// The same, the sum starting at iposicion_inicio itself; failures are always
// reported on the console.
uint8_t comprobacion_checksum_nmea_sin_cabecera(const uint8_t* pctrama, uint16_t iposicion_inicio,
                                                uint16_t iposicion_final);

// ---- Numbers in fields -----------------------------------------------------

// Value of the decimal digits among ccantidad bytes from index
// cposicion_menos_significativa; other characters are skipped. 32-bit
// wrapping arithmetic; only the ten least significant digits count.
uint32_t conversion_ascii_decimal(uint8_t cposicion_menos_significativa, uint8_t ccantidad,
                                  const uint8_t* pctrama);

// Value of a decimal text with an optional '.' (the last one splits off the
// decimals) and a '-' anywhere making it negative. At most nine decimals and
// ten digits in all count: less significant decimals beyond are dropped.
float conversion_ascii_float(uint16_t iposicion_mas_significativa, uint8_t ccantidad,
                             const uint8_t* pctrama);

// Unsigned value of field ccampo: 1 and the value stored, or 0 for an empty or
// missing field (nothing stored).
uint8_t extraccion_dato_nmea(uint8_t ccampo, const uint8_t* pctrama, uint16_t iposicion_inicial,
                             uint16_t iposicion_final, uint32_t* pldato);

// Signed value of field ccampo (negative only with a leading '-'): 1 and the
// value stored, or 0 with 0 stored for an empty or missing field.
uint8_t extraccion_dato_con_signo_nmea(uint8_t ccampo, const uint8_t* pctrama,
                                       uint16_t iposicion_inicial, uint16_t iposicion_final,
                                       int32_t* pldato);

// Float value of field ccampo (start index kept in 16 bits): 1 and the value
// stored, or 0 for an empty or missing field (nothing stored).
uint8_t extraccion_dato_nmea_float(uint8_t ccampo, const uint8_t* pctrama,
                                   uint16_t iposicion_inicial, uint16_t iposicion_final,
                                   float* pfdato);

// ---- Transmit frame (stais.cframe_tx) --------------------------------------

// Appends one byte (dropped once the frame holds 512); it enters
// stais.cchecksum_nmea while stais.ccalculo_checksum_nmea is 1.
void inserto_caracter_ais(uint8_t cdato);
// Appends every character of a NUL-terminated text.
void inserto_mensaje_ais(const char* pcmensaje);
// Appends CR LF.
void inserto_linea_ais();
// Appends laux in decimal with exactly cnumero_cifras digits (leading zeros
// kept; a wider value is not cut), or without leading zeros when
// cnumero_cifras is 0; then the terminator: 0 nothing, 1 CR LF, any other
// value that character.
void inserto_variable_ais(uint32_t laux, uint8_t cnumero_cifras, uint8_t ccaracter_final);
// The same in upper-case hexadecimal.
void inserto_variable_hex_ais(uint32_t laux, uint8_t cnumero_cifras, uint8_t ccaracter_final);
