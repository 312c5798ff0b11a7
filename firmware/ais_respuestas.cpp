// The transponder's replies to the command sequence: what each carries, what
// is kept of it, and the step it moves the sequence to.
#include <Arduino.h>

#include "ais.h"
#include "comunicaciones_pc.h"
#include "declaraciones.h"
#include "main.h"
#include "nmea.h"

namespace {

constexpr uint8_t CLONGITUD_NOMBRE = sizeof(stais.cnombre_ais);

// Unsigned value of a field: true when present.
bool campo(const strafaga_ais& rafaga, uint8_t ccampo, uint32_t* pldato) {
    return extraccion_dato_nmea(ccampo, rafaga.cprocesada, 0, rafaga.clongitud, pldato) == 1;
}

// True when field ccampo begins with the text.
bool campo_empieza(const strafaga_ais& rafaga, uint8_t ccampo, const char* pctexto) {
    const uint16_t iinicio = busqueda_campo(ccampo, rafaga.cprocesada, 0, rafaga.clongitud);
    const uint8_t clongitud = static_cast<uint8_t>(strlen(pctexto));
    if (iinicio + clongitud > rafaga.clongitud) {
        return false;
    }
    return comparacion(rafaga.cprocesada, pctexto, clongitud, iinicio) == 1;
}

bool traza() {
    return stais.cextraigo == 1 || stais.cextraigo == 2;
}

// True for a character that may stand inside a field of a sentence the
// station sends: printable ASCII other than the field and sentence
// delimiters and the characters NMEA reserves. The name goes back to the
// transponder in the ACE configuration sentence, so it ends at the first
// character that is not one (its comma, the checksum's '*', the line end).
bool caracter_de_campo(uint8_t c) {
    if (c < 0x20 || c >= 0x7F) {
        return false;
    }
    return c != ',' && c != '*' && c != '!' && c != '$' && c != '\\' && c != '^' && c != '~';
}

void paso(uint8_t cdesde, uint8_t chasta) {
    if (stais.ccomando == cdesde) {
        stais.ccomando = chasta;
    }
}

// Replies the station did not ask for come from configuration software on a
// PC attached to the transponder.
void evidencia_conexion_pc() {
    if (stais.cconexion_software_pc != 0) {
        stais.csegundos_sin_tramas_deteccion_usb = 0;
    } else if (stais.ccomando == 0) {
        deteccion_conexion_pc();
    }
}

// The text of field 4 up to the checksum's '*', kept within its field.
void copia_texto(const strafaga_ais& rafaga, char* pcdestino, uint8_t cancho) {
    for (uint8_t i = 0; i < cancho; ++i) {
        pcdestino[i] = 0;
    }
    uint16_t i = busqueda_campo(4, rafaga.cprocesada, 0, rafaga.clongitud);
    for (uint8_t n = 0; n < cancho && i < rafaga.clongitud && rafaga.cprocesada[i] != '*';
         ++n, ++i) {
        pcdestino[n] = static_cast<char>(rafaga.cprocesada[i]);
    }
}

void traza_texto(const char* pcetiqueta, const char* pctexto, uint8_t cancho) {
    SerialUSB.print(pcetiqueta);
    for (uint8_t i = 0; i < cancho && pctexto[i] != 0; ++i) {
        SerialUSB.print(pctexto[i]);
    }
    linea();
}

void inicio_traza() {
    linea();
    SerialUSB.print('\t');
}

// The $PSMT replies that carry a code in field 3.
void respuesta_psmt_codigo(strafaga_ais* prafaga, uint32_t lcodigo) {
    uint32_t lvalor = 0;
    const bool bvalor = campo(*prafaga, 4, &lvalor);
    switch (lcodigo) {
        case 6:
            if (!bvalor) {
                return;
            }
            stais.ibateria = static_cast<uint16_t>(lvalor / 10);
            if (traza()) {
                inicio_traza();
                SerialUSB.print("V ais:");
                transmito_variable(stais.ibateria / 100, 2, '.');
                transmito_variable(stais.ibateria % 100, 2, 1);
            }
            paso(12, 0);
            break;
        case 5:
            if (!bvalor) {
                return;
            }
            stais.ccambios_bruscos_roe = 0;
            stais.iq = static_cast<uint16_t>(lvalor);
            if (traza()) {
                inicio_traza();
                SerialUSB.print("ROE level:");
                transmito_variable(stais.iq / 10, 2, '.');
                transmito_variable(stais.iq % 10, 1, 1);
            }
            paso(11, 12);
            break;
        case 7:
            if (!bvalor) {
                return;
            }
            stais.ctipo_aton = static_cast<uint8_t>(lvalor);
            if (traza()) {
                inicio_traza();
                SerialUSB.print("Type aton:");
                SerialUSB.print(static_cast<unsigned int>(stais.ctipo_aton));
                linea();
            }
            paso(8, 13);
            break;
        case 1:
            copia_texto(*prafaga, stais.cfirmware, sizeof(stais.cfirmware));
            if (traza()) {
                inicio_traza();
                traza_texto("Firmware:", stais.cfirmware, sizeof(stais.cfirmware));
            }
            paso(9, 10);
            break;
        case 4:
            copia_texto(*prafaga, stais.csn, sizeof(stais.csn));
            if (traza()) {
                inicio_traza();
                traza_texto("SN:", stais.csn, sizeof(stais.csn));
            }
            paso(10, 11);
            break;
        default:
            return;
    }
    prafaga->cframe_procesada = 1;
}

void traza_aar(uint8_t cmensaje, uint16_t ifrecuencia, uint8_t cindice, uint8_t cprotocolo) {
    const char* pcprotocolo = cprotocolo == 0 ? "RATDMA" : "FATDMA";
    SerialUSB.print("Msg ");
    SerialUSB.print(static_cast<unsigned int>(cmensaje));
    SerialUSB.print(" => Frequency:");
    SerialUSB.print(static_cast<unsigned int>(ifrecuencia));
    SerialUSB.print("\tIndex:");
    SerialUSB.print(static_cast<unsigned int>(cindice));
    if (cmensaje == 12) {
        SerialUSB.print("Protocol:\t");
    } else {
        SerialUSB.print("\tProtocol:");
    }
    SerialUSB.print(pcprotocolo);
    linea();
}

// An interval in whole seconds, truncated; a longer one than the 16-bit
// field holds is kept at its largest value rather than wrapped to a short one.
uint16_t intervalo_limitado(float fsegundos) {
    constexpr uint16_t IINTERVALO_MAXIMO = 0xFFFF;
    if (fsegundos >= static_cast<float>(IINTERVALO_MAXIMO)) {
        return IINTERVALO_MAXIMO;
    }
    return static_cast<uint16_t>(fsegundos);
}

// Reporting configuration of message 6, 8 or 12.
void aar_mensaje(const strafaga_ais& rafaga, uint8_t cmensaje) {
    int32_t lslots_1 = 0;
    int32_t lslots_2 = 0;
    extraccion_dato_con_signo_nmea(6, rafaga.cprocesada, 0, rafaga.clongitud, &lslots_1);
    extraccion_dato_con_signo_nmea(11, rafaga.cprocesada, 0, rafaga.clongitud, &lslots_2);
    if (lslots_1 == -1 || lslots_2 == -1) {
        return;
    }
    uint32_t lintervalo = 0;
    uint32_t lintervalo_2 = 0;
    uint32_t lesquema = 0;
    uint32_t lindice = 0;
    if (!campo(rafaga, 7, &lintervalo) || !campo(rafaga, 12, &lintervalo_2) ||
        lintervalo != lintervalo_2 || !campo(rafaga, 8, &lesquema)) {
        return;
    }
    const uint8_t cprotocolo = static_cast<uint8_t>(lesquema);
    uint16_t ifrecuencia = 0;
    if (cprotocolo == 0) {
        // A slot count at 37.5 slots a second, halved.
        ifrecuencia = intervalo_limitado(static_cast<float>(lintervalo) / 37.5f * 0.5f);
    } else if (cprotocolo == 1) {
        ifrecuencia = intervalo_limitado(static_cast<float>(lintervalo / 2));
    }
    if (cmensaje == 12 && cprotocolo <= 1) {
        SerialUSB.print(cprotocolo == 0 ? "RATDMA" : "FATDMA");
        linea();
    }
    uint8_t* pcprotocolo = &stais.cprotocolo_msg6;
    uint16_t* pifrecuencia = &stais.ifrecuencia_msg6;
    uint8_t* pcindice = &stais.cindice_msg6;
    if (cmensaje == 8) {
        pcprotocolo = &stais.cprotocolo_msg8;
        pifrecuencia = &stais.ifrecuencia_msg8;
        pcindice = &stais.cindice_msg8;
    } else if (cmensaje == 12) {
        pcprotocolo = &stais.cprotocolo_msg12;
        pifrecuencia = &stais.ifrecuencia_msg12;
        pcindice = &stais.cindice_msg12;
    }
    *pcprotocolo = cprotocolo;
    *pifrecuencia = ifrecuencia;
    if (!campo(rafaga, 3, &lindice)) {
        return;
    }
    *pcindice = static_cast<uint8_t>(lindice);
    if (traza()) {
        traza_aar(cmensaje, ifrecuencia, *pcindice, cprotocolo);
    }
}

}  // namespace

void procesamos_respuesta_aid(strafaga_ais* prafaga) {
    uint32_t lvalor = 0;
    if (stais.lmmsi == LMMSI_DESCONOCIDO && campo(*prafaga, 1, &lvalor)) {
        stais.lmmsi = lvalor;
        if (stais.cextraigo != 0) {
            linea();
            SerialUSB.print("\t\tOwn MMSI identified:");
            transmito_variable(stais.lmmsi, 9, 1);
            linea();
        }
    }
    if (stais.lmmsi_destino_msg6 == LMMSI_DESCONOCIDO && campo_empieza(*prafaga, 4, "0") &&
        campo(*prafaga, 3, &lvalor)) {
        stais.lmmsi_destino_msg6 = lvalor;
        if (traza()) {
            linea();
            SerialUSB.print("\tFrame AID");
            linea();
            SerialUSB.print("\t\tMMSI Destination Msg6: ");
            transmito_variable(stais.lmmsi_destino_msg6, 9, 1);
            linea();
        }
    }
    if (stais.ccomando == 3 || stais.ccomando == 17 || stais.cconexion_software_pc != 0) {
        return;
    }
    deteccion_conexion_pc();
    prafaga->cframe_procesada = 1;
}

void procesamos_respuesta_nak(strafaga_ais* prafaga) {
    uint32_t lmmsi = 0;
    uint32_t lack = 0;
    if (!campo_empieza(*prafaga, 1, "AI") || !campo_empieza(*prafaga, 2, "MEB") ||
        !campo(*prafaga, 3, &lmmsi) || !campo(*prafaga, 4, &lack) || !traza()) {
        return;
    }
    linea();
    SerialUSB.print("\t\tFrame NAK");
    linea();
    SerialUSB.print("\t\t\tMMSI: ");
    SerialUSB.print(static_cast<uint32_t>(lmmsi));
    linea();
    SerialUSB.print("\t\t\tACK: ");
    SerialUSB.print(static_cast<uint32_t>(lack));
    linea();
}

void procesamos_respuesta_psmt(strafaga_ais* prafaga) {
    evidencia_conexion_pc();
    if (campo_empieza(*prafaga, 2, "gpsfilt")) {
        if (traza()) {
            linea();
            SerialUSB.print("\t\tAck GPS received");
            linea();
        }
        stais.ccomando = 0;
        prafaga->cframe_procesada = 1;
        return;
    }
    uint32_t lcodigo = 0;
    if (campo(*prafaga, 3, &lcodigo)) {
        respuesta_psmt_codigo(prafaga, lcodigo);
    }
}

void procesamos_texto_txt(strafaga_ais* prafaga) {
    uint32_t lidentificador = 0;
    if (!campo(*prafaga, 3, &lidentificador)) {
        return;
    }
    const uint8_t* pc = prafaga->cprocesada;
    const uint16_t ilongitud = prafaga->clongitud;
    if (lidentificador == 62) {
        const uint16_t i = busqueda_trama(pc, "msg ", ilongitud, 0);
        if (i == 0xFFFF || i + 2 > ilongitud) {
            return;
        }
        if (traza()) {
            inicio_traza();
            SerialUSB.print("No data in buffer msg ");
            SerialUSB.write(&pc[i], 2);
            linea();
        }
        const uint32_t lmensaje = conversion_ascii_decimal(static_cast<uint8_t>(i), 2, pc);
        if (lmensaje == 6) {
            stais.itimeout_tx_msg6 = 0;
        } else if (lmensaje == 8) {
            stais.itimeout_tx_msg8 = 0;
        } else if (lmensaje == 12) {
            stais.itimeout_tx_msg12 = 0;
        }
    } else if (lidentificador == 80) {
        const uint16_t itexto = busqueda_campo(4, pc, 0, ilongitud);
        if (busqueda_trama(pc, "USB connected", ilongitud, itexto) != 0xFFFF) {
            if (traza()) {
                inicio_traza();
                SerialUSB.print("USB connected");
                linea();
            }
            if (stais.cconexion_software_pc == 0) {
                deteccion_conexion_pc();
            }
            stais.csegundos_sin_tramas_deteccion_usb = 0;
        } else if (busqueda_trama(pc, "Exiting standby", ilongitud, itexto) != 0xFFFF) {
            prafaga->cframe_procesada = 1;
            if (traza()) {
                inicio_traza();
                SerialUSB.print("Reload data msg6");
                linea();
            }
        }
    }
}

void procesamos_respuesta_ace(strafaga_ais* prafaga) {
    evidencia_conexion_pc();
    uint32_t lmmsi = 0;
    if (!campo(*prafaga, 1, &lmmsi) || lmmsi != stais.lmmsi || stais.ccomando != 4) {
        return;
    }
    uint16_t i = busqueda_campo(7, prafaga->cprocesada, 0, prafaga->clongitud);
    uint8_t n = 0;
    for (; n < CLONGITUD_NOMBRE && i < prafaga->clongitud &&
           caracter_de_campo(prafaga->cprocesada[i]);
         ++n) {
        stais.cnombre_ais[n] = prafaga->cprocesada[i++];
    }
    for (; n < CLONGITUD_NOMBRE; ++n) {
        stais.cnombre_ais[n] = '@';
    }
    if (traza()) {
        inicio_traza();
        SerialUSB.print("Own name: ");
        for (uint8_t k = 0; k < CLONGITUD_NOMBRE && stais.cnombre_ais[k] != '@'; ++k) {
            SerialUSB.print(static_cast<char>(stais.cnombre_ais[k]));
        }
        linea();
    }
    stais.ccomando = 6;
    prafaga->cframe_procesada = 1;
}

void procesamos_respuesta_acf(strafaga_ais* /*prafaga*/) {
    evidencia_conexion_pc();
}

void procesamos_respuesta_mcr(strafaga_ais* prafaga) {
    evidencia_conexion_pc();
    uint32_t lresultado = 0;
    if (campo_empieza(*prafaga, 2, "SBS") && campo(*prafaga, 3, &lresultado)) {
        if (lresultado == 0) {
            SerialUSB.print("\tBit status => OK");
            linea();
            stais.cresultados_configuracion |= 0x01;
        } else if (traza()) {
            inicio_traza();
            SerialUSB.print("Error detected configuration source bit status");
            linea();
        }
    } else if (campo_empieza(*prafaga, 2, "MSS") && campo(*prafaga, 3, &lresultado)) {
        if (lresultado == 0) {
            SerialUSB.print("\tConfiguration GLA => OK");
            linea();
            stais.cresultados_configuracion |= 0x10;
        } else if (traza()) {
            inicio_traza();
            SerialUSB.print("Error detected in the configuration");
            linea();
        }
    }
    if (stais.cresultados_configuracion == 0x11) {
        stais.ccomando = 8;
        prafaga->cframe_procesada = 1;
    }
}

void procesamos_respuesta_aar(strafaga_ais* prafaga) {
    evidencia_conexion_pc();
    uint32_t lmmsi = 0;
    uint32_t lmensaje = 0;
    if (stais.ccomando != 13 || !campo(*prafaga, 1, &lmmsi) || lmmsi != stais.lmmsi ||
        !campo(*prafaga, 2, &lmensaje)) {
        return;
    }
    if (lmensaje == 6 || lmensaje == 8 || lmensaje == 12) {
        stais.caar_mensajes = static_cast<uint8_t>(stais.caar_mensajes | (lmensaje == 6   ? 1
                                                                          : lmensaje == 8 ? 2
                                                                                          : 4));
        aar_mensaje(*prafaga, static_cast<uint8_t>(lmensaje));
    } else if (lmensaje == 21) {
        uint32_t lvalor = 0;
        // The answer ends with message 21's line. One of the others lost on
        // the way (a bit spoilt on the line) would leave its message unsent
        // until the link starts again: the question is asked again instead.
        if (!campo(*prafaga, 3, &lvalor) || lvalor != 2 || stais.caar_mensajes != 7) {
            return;
        }
        stais.cperiodos_conocidos = 1;
        stais.itimeout_tx_msg6 = 0;
        stais.itimeout_tx_msg8 = 0;
        stais.itimeout_tx_msg12 = 0;
        prafaga->cframe_procesada = 1;
        stais.ccomando =
            stais.ifrecuencia_msg6 != 0 && stais.lmmsi_destino_msg6 == LMMSI_DESCONOCIDO ? 15 : 9;
    }
}
