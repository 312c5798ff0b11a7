// Payloads of the two addressed messages: message 6 relays a data-link frame
// in parts of 61 bytes, message 12 carries the approach warning.
#include <Arduino.h>

#include "ais.h"
#include "comunicaciones_pc.h"
#include "declaraciones.h"

namespace {

constexpr uint8_t CBYTES_PARTE_MSG6 = 61;
constexpr char kTextoMsg12[] = "TE ESTAS APROXIMANDOOOO";

void hex2(uint8_t cvalor) {
    transmito_variable_hex(cvalor, 2, ' ');
}

void traza_simbolos(uint8_t ccaracteres) {
    SerialUSB.print("Mensaje 6 bits (");
    SerialUSB.print(static_cast<unsigned int>(ccaracteres));
    SerialUSB.print(") => ");
    for (uint8_t i = 0; i < ccaracteres; ++i) {
        hex2(stais.cmsg[i]);
    }
    linea();
}

void traza_codificado(const unsigned char* pcpayload) {
    SerialUSB.print("Codificado (");
    SerialUSB.print(static_cast<unsigned int>(pcpayload[0]));
    SerialUSB.print(") => ");
    SerialUSB.write(&pcpayload[1], pcpayload[0]);
    linea();
}

}  // namespace

void codifico_datos_trama_nmea_mensaje_6(uint8_t ccanal) {
    if (ccanal > 1) {
        return;
    }
    stsensor& canal = sensor[ccanal];
    stcursor_ais cursor{};
    inicio_payload_ais(&cursor);
    // The frame buffer bounds the relay whatever the counts say.
    uint16_t iprimero = static_cast<uint16_t>(CBYTES_PARTE_MSG6 * stais.cpartes_paquete_tx);
    uint16_t ifin = static_cast<uint16_t>(iprimero + CBYTES_PARTE_MSG6);
    if (ifin > stais.ilongitud_paquete) {
        ifin = stais.ilongitud_paquete;
    }
    if (ifin > sizeof(canal.cdatos_tx)) {
        ifin = sizeof(canal.cdatos_tx);
    }
    if (iprimero > ifin) {
        iprimero = ifin;
    }
    empaqueto_ais(&cursor, 11, 10);  // DAC
    empaqueto_ais(&cursor, 11, 6);   // FI
    empaqueto_ais(&cursor, 16u * stais.ccantidad_partes_paquete + stais.cpartes_paquete_tx + 1u, 8);
    for (uint16_t i = iprimero; i < ifin; ++i) {
        empaqueto_ais(&cursor, canal.cdatos_tx[i], 8);
    }
    cierro_payload_ais(cursor, canal.cpayload_msg6);

    linea();
    SerialUSB.print("Mensaje ");
    SerialUSB.print(static_cast<unsigned int>(stais.cpartes_paquete_tx + 1));
    SerialUSB.print("/");
    SerialUSB.print(static_cast<unsigned int>(stais.ccantidad_partes_paquete));
    SerialUSB.print(" (");
    SerialUSB.print(static_cast<unsigned int>(ifin - iprimero));
    SerialUSB.print(") => ");
    for (uint16_t i = iprimero; i < ifin; ++i) {
        hex2(canal.cdatos_tx[i]);
    }
    linea();
    SerialUSB.write(&canal.cdatos_tx[iprimero], ifin - iprimero);
    linea();
    traza_simbolos(canal.cpayload_msg6[0]);
    traza_codificado(canal.cpayload_msg6);
}

void codifico_datos_trama_nmea_mensaje_12() {
    stcursor_ais cursor{};
    inicio_payload_ais(&cursor);
    for (const char* pc = kTextoMsg12; *pc != 0; ++pc) {
        empaqueto_ais(&cursor, static_cast<uint8_t>(*pc), 6);
    }
    cierro_payload_ais(cursor, stais.cmsg_tx);

    linea();
    SerialUSB.print("Mensaje 12:");
    SerialUSB.print(kTextoMsg12);
    linea();
    SerialUSB.print('\t');
    traza_simbolos(stais.cmsg_tx[0]);
    SerialUSB.print('\t');
    traza_codificado(stais.cmsg_tx);
}
