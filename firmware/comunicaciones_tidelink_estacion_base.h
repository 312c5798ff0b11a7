// Sensor channels of device type 1 (a base station computer) and 2 (a
// TIDELINK data-link device): the $AIHBT heartbeat both get, the base
// station's !--ABM requests turned into a message 6, and the data-link frames
// sent as message 6 parts and put together again from the messages 6 heard.
#pragma once

#include <stdint.h>

// Sends the heartbeat when it is due; otherwise marks it due once its period
// has run out and the clock is set.
void envio_comandos_estacion_base(uint8_t ccanal);

// One received block of a base station channel: logged to the AIS file; a
// single !--ABM sentence becomes the message 6 the AIS side sends.
void procesamos_trama_rx_estacion_base(uint8_t ccanal);

// One received block of a TIDELINK channel: logged to the TIDELINK file; a
// checksummed frame with field 0 = 2 and a command token is queued to go out
// in message 6 parts.
void procesamos_trama_rx_tidelink(uint8_t ccanal);

// The message 6 in stais.cmsg6 (stais.cposicion_datos_msg6 values,
// stais.crelleno_msg6 fill bits): a data-link part (DAC 11, FI 11) is added to
// the block of every TIDELINK channel, and the block goes to the device when
// its last part is in. The message is consumed either way.
void procesamos_mensaje6_rx_tidelink();
