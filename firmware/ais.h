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

// The packing cursor of a payload built in stais.cmsg: the symbol being
// filled and its free bit positions (6 = empty).
struct stcursor_ais {
    uint8_t csimbolo;
    uint8_t cbits_resto;
};
// Clears the 90 symbols of stais.cmsg and starts the cursor at symbol 0.
void inicio_payload_ais(stcursor_ais* pcursor);
// Packs the low cbits bits of lvalor at the cursor.
void empaqueto_ais(stcursor_ais* pcursor, uint32_t lvalor, uint8_t cbits);
// The packed symbols armoured into pcdestino: byte 0 the character count
// (at most CCARACTERES_PAYLOAD_AIS), then the characters.
void cierro_payload_ais(const stcursor_ais& cursor, unsigned char* pcdestino);

// ---- Message 8 meteorological broadcast (ais_msg8.cpp) -----------------------

// The application payload of message 8 (DAC 1, FI 31: everything after the
// header the transponder adds): station position, board clock, and the
// averaged weather values of the last weather channel with valid data, or
// their not-available codes. 310 bits packed into stais.cmsg and armoured
// into stais.cmsg_tx (52 characters, count in byte 0). Traced on the console
// unless stais.cextraigo is 1.
void codifico_datos_trama_nmea_mensaje_8();

// ---- Messages 6 and 12 (ais_msg6_12.cpp) ---------------------------------------

// The current part (stais.cpartes_paquete_tx of stais.ccantidad_partes_paquete)
// of the frame in sensor[ccanal].cdatos_tx (stais.ilongitud_paquete bytes) as
// a message 6 payload (DAC 11, FI 11, part header, up to 61 bytes) in
// sensor[ccanal].cpayload_msg6. Traced on the console.
void codifico_datos_trama_nmea_mensaje_6(uint8_t ccanal);
// The approach-warning text as a message 12 payload in stais.cmsg_tx. Traced.
void codifico_datos_trama_nmea_mensaje_12();

// ---- Command sequencer (ais_comandos.cpp) --------------------------------------

constexpr uint32_t LMMSI_DESCONOCIDO = 0xFFFFFFFF;  // MMSI not yet reported
constexpr uint8_t CCANAL_MSG6_NINGUNO = 0xFF;       // no channel's message 6 chosen
constexpr uint8_t CMINUTOS_SIN_TRAMAS = 10;         // minutes of silence before the link restarts

// Steps of stais.ccomando: 0 schedules, 1..23 send their command.
constexpr uint8_t CCOMANDOS_AIS = 24;

// (Re)starts the link: 1 at power-up, 0 after a loss of traffic (the channel
// is closed first and the alarm count rises). Power-cycles the transponder
// through its reset output and leaves the sequence at the AID query.
void inicializacion_ais(uint8_t cinicio);
// Sends the command of stais.ccomando (step 0 chooses the next one) and arms
// its reply wait.
void envio_comandos_ais();
// Collects the transponder's burst and processes it.
void procesamos_ais();
// Moves what the transponder's port holds into the burst being gathered (as
// far as it has room), so that the port's 512 bytes do not overflow while
// the loop waits on another channel.
void acopio_rafaga_ais();

// ---- Receive framing and replies (ais_rx.cpp, ais_respuestas.cpp) -------------

// One sentence of a burst and what the burst's sentences have found so far.
struct strafaga_ais {
    uint8_t cprocesada[256];  // the sentence from its '$' or '!', NUL-terminated
    uint8_t clongitud;        // bytes in cprocesada, at most 255
    uint8_t cchecksum;
    uint8_t cframe_procesada;  // a reply or report answered the waiting command
    uint8_t cframe_gps_rx;
    uint8_t cframe_rmc_rx;
    uint8_t cframe_desconocida;
    uint8_t ccantidad_total_tramas_msg6;
    uint8_t cframe_actual_msg6;
};

// The first character of field ccampo of the sentence, or 0.
uint8_t primer_caracter_campo_ais(const strafaga_ais& rafaga, uint8_t ccampo);
// Cuts the burst in stais.cframe_rx into sentences, checks them and hands
// each to the handler of its kind.
void procesamos_trama_rx_ais();

// Replies of the transponder to the command sequence.
void procesamos_respuesta_aid(strafaga_ais* prafaga);
void procesamos_respuesta_nak(strafaga_ais* prafaga);
void procesamos_respuesta_psmt(strafaga_ais* prafaga);
void procesamos_texto_txt(strafaga_ais* prafaga);
void procesamos_respuesta_ace(strafaga_ais* prafaga);
void procesamos_respuesta_acf(strafaga_ais* prafaga);
void procesamos_respuesta_mcr(strafaga_ais* prafaga);
void procesamos_respuesta_aar(strafaga_ais* prafaga);

// ---- GPS sentences (ais_gps.cpp) ------------------------------------------------

// A $GP sentence: UTC, position, satellites and HDOP, and its arrival.
void procesamos_sentencia_gps(strafaga_ais* prafaga);
// After a burst with GPS sentences: sets the clock from a valid RMC while
// satellites are known, and asks for the GPS sentences again when they
// stop coming during a due synchronisation.
void fin_rafaga_gps(const strafaga_ais& rafaga);

// ---- Own and received traffic (ais_trafico.cpp) ----------------------------------

// What the transponder sent for the station: confirmations of messages 6, 8
// and 12, and its own AtoN report (position, status bits, light supervision).
void procesamos_vdo(strafaga_ais* prafaga);
// What it received: message 6 for the data link (reassembled from its
// sentences) and the position reports of ships (the watched rectangle).
void procesamos_vdm(strafaga_ais* prafaga);
// The next ship waiting for its message 12 warning, once none is pending.
void siguiente_aviso_msg12();
// Once a minute: ships silent for CMINUTOS_OLVIDO_BARCO minutes are forgotten.
void envejecimiento_barcos();
