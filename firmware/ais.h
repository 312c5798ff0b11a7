// AIS transponder link: payload codec, message encoders, command sequencer
// and the processing of what the transponder sends.
#pragma once

#include <stdint.h>

// ---- Six-bit payload codec (ais_codec.cpp) -----------------------------------
//
// A payload is an array of six-bit symbols, one per byte (most significant
// bit of the symbol in bit 5). The symbol arrays of the records hold
// CSIMBOLOS_PAYLOAD_AIS symbols; an armoured payload carries at most
// CCARACTERES_PAYLOAD_AIS characters (stais.cmsg_tx[0] holds the count).

constexpr uint8_t CSIMBOLOS_PAYLOAD_AIS = 90;
constexpr uint8_t CCARACTERES_PAYLOAD_AIS = 89;

// Packs the low cbits_utiles bits of ldato, most significant first, into the
// symbol *pcbytes_codificados (cbits_resto free positions left in it, 6 =
// empty) and the following ones. Bits are added, so the array starts zeroed.
// Returns the free positions left in the current symbol; the symbol index is
// advanced through the pointer. Symbols past CSIMBOLOS_PAYLOAD_AIS are not
// written. With stais.cextraigo at 2 the bits are traced on the console.
uint8_t cpartimos_y_codificamos_en_6bits(uint32_t ldato, uint8_t cbits_utiles, uint8_t cbits_resto,
                                         uint8_t* pcbytes_codificados,
                                         uint8_t* pcdatos_trama_codificados);

// Armoured character of a symbol 0..63: '0'..'W' for 0..39, '`'..'w' above.
uint8_t codificacion_caracteres_ascii_seis_bits(uint8_t cdato);

// Symbol of an armoured character (other characters give meaningless values).
uint8_t decodificacion_mensaje_vdo(uint8_t cdato_codificado);

// ccantidad_bits (1..32) bits from bit offset iposicion_inicial of the payload
// whose first symbol is pctrama[iposicion_byte_trama], most significant first.
// The symbol index is held in 8 bits: payloads are limited to 256 symbols,
// and the caller checks the payload holds the bits it asks for.
uint32_t extraemos_bits_decodificados(const uint8_t* pctrama, uint16_t iposicion_byte_trama,
                                      uint8_t ccantidad_bits, uint16_t iposicion_inicial);

// Signed field to pack in a width of up to 16 bits: a negative value as its
// 16-bit two's complement, a non-negative one in its low 15 bits.
uint16_t converter_complement_2(int16_t idata);

// Signed position to pack in 28 bits: a negative value as 2^28 + value, a
// non-negative one in its low 27 bits.
uint32_t lconverter_complement_2(int32_t ldata);

// ---- Message 8 meteorological broadcast (ais_msg8.cpp) -----------------------

// The application payload of message 8 (DAC 1, FI 31: everything after the
// header the transponder adds): station position, board clock, and the
// averaged weather values of the last weather channel with valid data, or
// their not-available codes. 310 bits packed into stais.cmsg and armoured
// into stais.cmsg_tx (52 characters, count in byte 0). Traced on the console
// unless stais.cextraigo is 1.
void codifico_datos_trama_nmea_mensaje_8();
