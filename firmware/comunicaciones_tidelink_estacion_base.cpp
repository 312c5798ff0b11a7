#include "comunicaciones_tidelink_estacion_base.h"

#include <Arduino.h>

#include "ais.h"
#include "comunicaciones_canales.h"
#include "comunicaciones_pc.h"
#include "declaraciones.h"
#include "gestion_sd.h"
#include "main.h"
#include "nmea.h"

namespace {

// A data-link frame travels in parts of 61 bytes, one per message 6.
constexpr uint8_t CBYTES_PARTE_MSG6 = 61;
constexpr uint8_t CDATOS_TIDELINK = 11;  // DAC and FI of the data-link application
constexpr uint16_t IBIT_ORIGEN = 8;
constexpr uint16_t IBIT_DESTINO = 40;
constexpr uint16_t IBIT_DAC = 72;
constexpr uint16_t IBIT_FI = 82;
constexpr uint16_t IBIT_PARTE = 88;
constexpr uint16_t IBIT_DATOS = 96;

// The received block on the console: a line break, the title, the count,
// the bytes with CR and LF made visible, a line break.
void traza_bloque_rx(const char* pctitulo, const stsensor& canal, uint16_t ibytes) {
    linea();
    SerialUSB.print(pctitulo);
    SerialUSB.print(static_cast<unsigned int>(ibytes));
    SerialUSB.print(") =>");
    traza_bytes_visibles(canal.cframe_rx, ibytes);
    linea();
}

uint16_t bytes_recibidos(const stsensor& canal) {
    return canal.ibytes_rx <= sizeof(canal.cframe_rx)
               ? canal.ibytes_rx
               : static_cast<uint16_t>(sizeof(canal.cframe_rx));
}

// The transponder link's alarm outranks a low battery.
char letra_estado() {
    if (stais.calarma == 1) {
        return 'B';
    }
    return ktr09.calarma_low_battery == 1 ? 'C' : 'A';
}

// The period in tenths of a second as seconds with at most one decimal and
// no trailing zero (60 gives 6, 65 gives 6.5). Whole tenths, so that no
// binary fraction turns 61 into 6.
void inserto_periodo(uint8_t cdecimas, uint8_t ccanal) {
    inserto_variable_sensor(cdecimas / 10u, 0, 0, ccanal);
    if (cdecimas % 10u != 0) {
        introduccion_byte_frame_sensor('.', ccanal);
        inserto_variable_sensor(cdecimas % 10u, 0, 0, ccanal);
    }
    introduccion_byte_frame_sensor(',', ccanal);
}

void envio_heartbeat(uint8_t ccanal) {
    stsensor& canal = sensor[ccanal];
    creacion_timestamp(1);
    canal.cbytes_tx = 0;
    canal.cchecksum_nmea = 0;
    canal.ccalculo_checksum_nmea = 0;
    introduccion_byte_frame_sensor('$', ccanal);
    canal.ccalculo_checksum_nmea = 1;
    escribo_mensaje_frame_sensor("AIHBT,", ccanal);
    inserto_periodo(configuracion_sensor[ccanal].ctimeout_datos_validos, ccanal);
    introduccion_byte_frame_sensor(static_cast<uint8_t>(letra_estado()), ccanal);
    introduccion_byte_frame_sensor(',', ccanal);
    inserto_variable_sensor(canal.cid_secuencial, 0, 0, ccanal);
    canal.ccalculo_checksum_nmea = 0;
    introduccion_byte_frame_sensor('*', ccanal);
    inserto_variable_hex_sensor(canal.cchecksum_nmea, 2, 1, ccanal);
    inserto_timestamp_canal(ccanal);
    envio_frame_sensor(ccanal);
    ++canal.cid_secuencial;
    canal.ccomando = 0;
    canal.ctimeout_datos_validos = configuracion_sensor[ccanal].ctimeout_datos_validos;
}

bool es_sentencia_abm(const unsigned char* pcframe, uint16_t ibytes) {
    return ibytes >= 8 && pcframe[0] == '!' && pcframe[3] == 'A' && pcframe[4] == 'B' &&
           pcframe[5] == 'M' && pcframe[ibytes - 2] == '\r';
}

// The encapsulated data of an !--ABM sentence become the payload of the
// channel's message 6. Byte 0 is the character count the broadcast request
// sends, so only the data characters are copied, not the comma after them.
void peticion_msg6_abm(uint8_t ccanal, uint16_t ibytes) {
    stsensor& canal = sensor[ccanal];
    uint32_t ldestino = 0;
    if (extraccion_dato_nmea(4, canal.cframe_rx, 0, ibytes, &ldestino) == 1) {
        canal.lmmsi_destino_msg6 = ldestino;
    }
    uint16_t iinicio = 0;
    uint16_t ifin = 0;
    extraccion_posiciones_campo_nmea(7, canal.cframe_rx, 0, ibytes, &iinicio, &ifin);
    uint8_t ccaracteres = 0;
    while (iinicio + ccaracteres < ifin && ccaracteres < CCARACTERES_PAYLOAD_AIS) {
        canal.cpayload_msg6[1 + ccaracteres] = canal.cframe_rx[iinicio + ccaracteres];
        ++ccaracteres;
    }
    canal.cpayload_msg6[0] = ccaracteres;
    if (canal.cextraigo != 0) {
        SerialUSB.print("\tMensaje 6 => MSSI destino: ");
        SerialUSB.print(static_cast<uint32_t>(canal.lmmsi_destino_msg6));
        SerialUSB.print("\tPayload:");
        SerialUSB.print(static_cast<unsigned int>(ccaracteres));
        SerialUSB.print(" => ");
        SerialUSB.write(&canal.cpayload_msg6[1], ccaracteres);
        linea();
    }
    // Without data there is no message to send.
    if (ccaracteres != 0) {
        canal.cnew_msg6 = 1;
    }
}

// The frame must check from its first byte, say 2 in field 0 and carry a
// relay token in field 4.
bool frame_para_enviar(const stsensor& canal, uint16_t ibytes) {
    if (comprobacion_checksum_nmea_sin_cabecera(canal.cframe_rx, 0, ibytes) != 1) {
        return false;
    }
    uint32_t ltipo = 0;
    if (extraccion_dato_nmea(0, canal.cframe_rx, 0, ibytes, &ltipo) != 1 || ltipo != 2) {
        return false;
    }
    uint16_t iinicio = 0;
    uint16_t ifin = 0;
    extraccion_posiciones_campo_nmea(4, canal.cframe_rx, 0, ibytes, &iinicio, &ifin);
    return identificacion_comando_frame(canal.cframe_rx, iinicio, ifin) == 1;
}

uint8_t byte_msg6(uint16_t ibit) {
    return static_cast<uint8_t>(extraemos_bits_decodificados(stais.cmsg6, 0, 8, ibit));
}

void entrega_bloque_tidelink(uint8_t ccanal) {
    stsensor& canal = sensor[ccanal];
    const uint16_t ibytes = canal.ibytes_rx_tide;
    inserto_timestamp_canal(ccanal);
    Uart& uart = uart_canal(ccanal);
    uart.write(canal.cframe_rx_tide, ibytes);
    uart.flush();
    // The tag block just sent names the hour: the record goes to its file.
    if (fichero_registro_listo(CFICHERO_TIDELINK, false)) {
        static const uint8_t kFinLinea[] = {'\r', '\n'};
        inserto_timestamp_fichero(CFICHERO_TIDELINK);
        inserto_registro_fichero(CFICHERO_TIDELINK, canal.cframe_rx_tide, ibytes);
        inserto_registro_fichero(CFICHERO_TIDELINK, kFinLinea, sizeof(kFinLinea));
    }
    if (canal.cextraigo != 0) {
        SerialUSB.print("TIDELINK Tx msg datos => ");
        SerialUSB.write(canal.cframe_rx_tide, ibytes);
        linea();
    }
}

void fin_bloque_tidelink(stsensor& canal) {
    canal.ibytes_rx_tide = 0;
    canal.cparte_siguiente_tide = 0;
}

// The part's data equal the block's last part: the sender sent it again.
bool parte_repetida(const stsensor& canal, uint8_t cparte, uint8_t ctotal, uint32_t lorigen,
                    uint16_t ibytes) {
    if (cparte == 0 || cparte + 1 != canal.cparte_siguiente_tide ||
        ctotal != canal.ctotal_partes_tide || lorigen != canal.lmmsi_origen_tide ||
        ibytes != canal.ibytes_ultima_parte_tide || ibytes > canal.ibytes_rx_tide) {
        return false;
    }
    const uint16_t iinicio = static_cast<uint16_t>(canal.ibytes_rx_tide - ibytes);
    for (uint16_t i = 0; i < ibytes; ++i) {
        if (canal.cframe_rx_tide[iinicio + i] !=
            byte_msg6(static_cast<uint16_t>(IBIT_DATOS + 8 * i))) {
            return false;
        }
    }
    return true;
}

// One part of a data-link block for one channel. Parts go in order from 1,
// all from part 1's sender and with its part count; anything else, or a
// block that would not fit, drops the block rather than hand the device a
// spliced or cut one. A part sent again is ignored.
void parte_tidelink(uint8_t ccanal, uint8_t cparte, uint8_t ctotal, uint32_t lorigen,
                    uint16_t ibytes) {
    stsensor& canal = sensor[ccanal];
    if (parte_repetida(canal, cparte, ctotal, lorigen, ibytes)) {
        return;
    }
    if (cparte == 1) {
        fin_bloque_tidelink(canal);
        canal.cparte_siguiente_tide = 1;
        canal.ctotal_partes_tide = ctotal;
        canal.lmmsi_origen_tide = lorigen;
    }
    const bool bcabe = canal.ibytes_rx_tide + ibytes <= sizeof(canal.cframe_rx_tide);
    if (cparte == 0 || cparte > ctotal || cparte != canal.cparte_siguiente_tide ||
        ctotal != canal.ctotal_partes_tide || lorigen != canal.lmmsi_origen_tide || !bcabe) {
        fin_bloque_tidelink(canal);
        return;
    }
    for (uint16_t i = 0; i < ibytes; ++i) {
        canal.cframe_rx_tide[canal.ibytes_rx_tide + i] =
            byte_msg6(static_cast<uint16_t>(IBIT_DATOS + 8 * i));
    }
    canal.ibytes_rx_tide = static_cast<uint16_t>(canal.ibytes_rx_tide + ibytes);
    canal.ibytes_ultima_parte_tide = ibytes;
    if (stais.cextraigo != 0) {
        SerialUSB.print("Frame datos ZPX: ");
        SerialUSB.print(static_cast<unsigned int>(cparte));
        SerialUSB.print("/");
        SerialUSB.print(static_cast<unsigned int>(ctotal));
        linea();
    }
    if (cparte == ctotal) {
        entrega_bloque_tidelink(ccanal);
        fin_bloque_tidelink(canal);
    } else {
        canal.cparte_siguiente_tide = static_cast<uint8_t>(cparte + 1);
    }
}

}  // namespace

void envio_comandos_estacion_base(uint8_t ccanal) {
    if (ccanal > CANAL_SENSOR_2) {
        return;
    }
    stsensor& canal = sensor[ccanal];
    const uint8_t cperiodo = configuracion_sensor[ccanal].ctimeout_datos_validos;
    if (canal.ccomando == 1) {
        envio_heartbeat(ccanal);
    } else if (canal.ctimeout_datos_validos == 0 && ktr09.csincronizada == 1 && cperiodo != 0) {
        canal.ccomando = 1;
    }
}

void procesamos_trama_rx_estacion_base(uint8_t ccanal) {
    if (ccanal > CANAL_SENSOR_2) {
        return;
    }
    const stsensor& canal = sensor[ccanal];
    const uint16_t ibytes = bytes_recibidos(canal);
    if (canal.cextraigo != 0) {
        traza_bloque_rx("Station rx (", canal, ibytes);
    }
    if (ibytes == 0) {
        return;
    }
    if (fichero_registro_listo(CFICHERO_VDM, true)) {
        inserto_registro_fichero(CFICHERO_VDM, canal.cframe_rx, ibytes);
    }
    if (es_sentencia_abm(canal.cframe_rx, ibytes)) {
        peticion_msg6_abm(ccanal, ibytes);
    }
}

void procesamos_trama_rx_tidelink(uint8_t ccanal) {
    if (ccanal > CANAL_SENSOR_2) {
        return;
    }
    stsensor& canal = sensor[ccanal];
    const uint16_t ibytes = bytes_recibidos(canal);
    if (canal.cextraigo != 0) {
        traza_bloque_rx("TIDELINK rx (", canal, ibytes);
    }
    if (ibytes == 0) {
        return;
    }
    if (fichero_registro_listo(CFICHERO_TIDELINK, true)) {
        inserto_registro_fichero(CFICHERO_TIDELINK, canal.cframe_rx, ibytes);
    }
    // A frame longer than the transmit buffer would go out cut: it is only
    // logged.
    if (!frame_para_enviar(canal, ibytes) || ibytes > sizeof(canal.cdatos_tx)) {
        return;
    }
    for (uint16_t i = 0; i < ibytes; ++i) {
        canal.cdatos_tx[i] = canal.cframe_rx[i];
    }
    stais.ilongitud_paquete = ibytes;
    stais.ccantidad_partes_paquete =
        static_cast<uint8_t>((ibytes + CBYTES_PARTE_MSG6 - 1) / CBYTES_PARTE_MSG6);
    stais.cpartes_paquete_tx = 0;
    if (canal.cextraigo != 0) {
        linea();
        SerialUSB.print("New frame TIDELINK (");
        SerialUSB.print(static_cast<unsigned int>(ibytes));
        SerialUSB.print(") => ");
        SerialUSB.write(canal.cdatos_tx, ibytes);
        linea();
    }
    canal.cnew_msg6 = 2;
}

void procesamos_mensaje6_rx_tidelink() {
    const uint16_t ibits_payload = static_cast<uint16_t>(6u * stais.cposicion_datos_msg6);
    const uint16_t ibits = stais.crelleno_msg6 <= 5 && stais.crelleno_msg6 <= ibits_payload
                               ? static_cast<uint16_t>(ibits_payload - stais.crelleno_msg6)
                               : ibits_payload;
    // A message too short for the part byte cannot be a data-link part, and
    // one addressed to another station is not ours to deliver.
    if (ibits >= IBIT_DATOS &&
        extraemos_bits_decodificados(stais.cmsg6, 0, 30, IBIT_DESTINO) == stais.lmmsi &&
        extraemos_bits_decodificados(stais.cmsg6, 0, 10, IBIT_DAC) == CDATOS_TIDELINK &&
        extraemos_bits_decodificados(stais.cmsg6, 0, 6, IBIT_FI) == CDATOS_TIDELINK) {
        const uint32_t lorigen = extraemos_bits_decodificados(stais.cmsg6, 0, 30, IBIT_ORIGEN);
        const uint8_t cbyte_parte = byte_msg6(IBIT_PARTE);
        const uint8_t cparte = cbyte_parte & 0x0F;
        const uint8_t ctotal = static_cast<uint8_t>(cbyte_parte >> 4);
        const uint16_t ibytes = static_cast<uint16_t>((ibits - IBIT_DATOS) / 8);
        for (uint8_t ccanal = CANAL_SENSOR_1; ccanal <= CANAL_SENSOR_2; ++ccanal) {
            if (configuracion_sensor[ccanal].csensor == CSENSOR_TIDELINK) {
                parte_tidelink(ccanal, cparte, ctotal, lorigen, ibytes);
            }
        }
    }
    stais.crelleno_msg6 = 0;
    stais.cmsg6[0] = 0;
    stais.cmsg6[1] = 0;
}
