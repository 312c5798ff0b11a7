// AIS traffic the transponder reports: its own transmissions (VDO), which
// confirm the station's messages and carry its own AtoN report, and what it
// received from other stations (VDM): message 6 for the data link and the
// position reports of ships near the station.
#include <Arduino.h>

#include "ais.h"
#include "comunicaciones_pc.h"
#include "comunicaciones_tidelink_estacion_base.h"
#include "declaraciones.h"
#include "gestion_sd.h"
#include "main.h"
#include "nmea.h"

namespace {

constexpr uint8_t CBITS_NO_UTILIZADOS = 0x19;
constexpr uint32_t LONGITUD_NO_DISPONIBLE = 108600000;
constexpr uint32_t LATITUD_NO_DISPONIBLE = 54600000;
constexpr uint8_t CTIMEOUT_PARTE_MSG6 = 20;  // tenths of a second
// Payload characters a message must have for the fields read from it.
constexpr uint8_t CCARACTERES_MSG21 = 45;    // up to the virtual AtoN flag, bit 269
constexpr uint8_t CCARACTERES_BARCO_A = 22;  // up to the course, bit 127
constexpr uint8_t CCARACTERES_BARCO_B = 21;  // up to the course, bit 123

// The six-bit values of a sentence's payload (field 5), from index 0.
struct Payload {
    uint8_t cvalores[256];
    uint8_t ccaracteres;
};

void decodifico_payload(const strafaga_ais& rafaga, Payload* ppayload) {
    ppayload->ccaracteres = 0;
    uint16_t i = busqueda_campo(5, rafaga.cprocesada, 0, rafaga.clongitud);
    while (i < rafaga.clongitud && rafaga.cprocesada[i] != ',' && rafaga.cprocesada[i] != '*' &&
           ppayload->ccaracteres < 255) {
        ppayload->cvalores[ppayload->ccaracteres++] =
            decodificacion_mensaje_vdo(rafaga.cprocesada[i++]);
    }
    for (uint16_t k = ppayload->ccaracteres; k < sizeof(ppayload->cvalores); ++k) {
        ppayload->cvalores[k] = 0;
    }
}

uint32_t bits(const Payload& payload, uint8_t ccantidad, uint16_t iinicio) {
    return extraemos_bits_decodificados(payload.cvalores, 0, ccantidad, iinicio);
}

bool traza() {
    return stais.cextraigo != 0;
}

void escribo_sentencia(const strafaga_ais& rafaga) {
    SerialUSB.write(rafaga.cprocesada, rafaga.clongitud);
}

// ---- Own transmissions -----------------------------------------------------

// `bresponde`: the report answers the request the sequencer is on (or it
// is idle), so the step after a whole message 6, the antenna reading, may
// follow; otherwise the sequencer is left where it is.
void confirmacion_msg6(bool bresponde) {
    const uint8_t ccanal = stais.ccanal_msg6;
    // A second report of the same request (a transponder that retries an
    // addressed message reports each try) would count the next part as
    // sent.
    if (ccanal > 1 || stais.cmsg6_sin_confirmar == 0) {
        return;
    }
    stais.cmsg6_sin_confirmar = 0;
    stsensor& canal = sensor[ccanal];
    if (canal.cnew_msg6 == 1) {
        canal.cnew_msg6 = 0;
    } else if (canal.cnew_msg6 == 2) {
        ++stais.cpartes_paquete_tx;
        if (stais.ccantidad_partes_paquete > stais.cpartes_paquete_tx) {
            SerialUSB.print("Siguiente parte a tx");
        } else {
            canal.cnew_msg6 = 0;
            SerialUSB.print("Fin tx paquete");
        }
        linea();
    }
    stais.itimeout_tx_msg6 = 0;
    if (canal.cnew_msg6 == 0) {
        stais.ccanal_msg6 = CCANAL_MSG6_NINGUNO;
        if (bresponde) {
            stais.ccomando = 11;
        }
    }
}

// The broadcast request a report of this message answers.
uint8_t peticion_de_mensaje(uint8_t ctipo) {
    switch (ctipo) {
        case 6:
            return 16;
        case 8:
            return 19;
        case 12:
            return 20;
        default:
            return 0;
    }
}

// Only the first sentence of a message names it; a later one carries the
// rest of its payload.
bool primera_sentencia(const strafaga_ais& rafaga) {
    uint32_t lnumero = 1;
    if (extraccion_dato_nmea(2, rafaga.cprocesada, 0, rafaga.clongitud, &lnumero) != 1) {
        lnumero = 1;
    }
    return lnumero == 1;
}

// The input (1..4 external, 5..6 analog) is active.
bool entrada_activa(uint8_t centrada) {
    if (centrada >= 1 && centrada <= 4) {
        return ktr09.cestados_entradas_externas[centrada - 1] == 1;
    }
    return ktr09.cestados_entradas_analogicas[centrada - 5] == 1;
}

uint8_t estado_luz() {
    const uint8_t cerror = configuracion_ais.cinput_error_light_msg21;
    const uint8_t cluz = configuracion_ais.cinput_light_msg21;
    if (cerror >= 1 && cerror <= 6 && entrada_activa(cerror)) {
        return 6;
    }
    if (cluz >= 1 && cluz <= 6) {
        return entrada_activa(cluz) ? 2 : 4;
    }
    return 0;
}

void traza_msg21(const strafaga_ais& rafaga, uint8_t caton_status) {
    linea();
    SerialUSB.print("\tMensaje 21 => ");
    escribo_sentencia(rafaga);
    linea();
    linea();
    SerialUSB.print("\t\tMsg 21:");
    linea();
    SerialUSB.print("\t\t\tMMSI: ");
    transmito_variable(stais.lmmsi, 9, 1);
    SerialUSB.print("\t\t\tNombre: ");
    for (uint8_t i = 0; i < sizeof(stais.cnombre_ais) && stais.cnombre_ais[i] != '@'; ++i) {
        SerialUSB.print(static_cast<char>(stais.cnombre_ais[i]));
    }
    linea();
    SerialUSB.print("\t\t\tAton status: ");
    transmito_variable_hex(caton_status, 2, 1);
    SerialUSB.print("\t\t\tPosicion GPS: Latitud: ");
    transmito_variable_hex(stais.llatitud_ais_msg21, 8, '/');
    SerialUSB.print(" Longitud: ");
    transmito_variable_hex(stais.llongitud_ais_msg21, 8, '\t');
    SerialUSB.print(" Lat ");
    transmito_variable(stais.cgrados_latitud, 2, '*');
    transmito_variable(stais.cminutos_latitud, 2, '.');
    transmito_variable(stais.idiez_milesimas_minutos_latitud, 4, 0);
    SerialUSB.print(static_cast<char>(stais.cnorte_sur));
    SerialUSB.print("Long ");
    transmito_variable(stais.cgrados_longitud, 3, '*');
    transmito_variable(stais.cminutos_longitud, 2, '.');
    transmito_variable(stais.idiez_milesimas_minutos_longitud, 4, 0);
    SerialUSB.print(static_cast<char>(stais.ceste_oeste));
    linea();
    SerialUSB.print("\t\t\tPagina: ");
    transmito_variable(caton_status >> 5, 2, ' ');
    switch (caton_status & 6) {
        case 2:
            SerialUSB.print("Light ON");
            break;
        case 4:
            SerialUSB.print("Light OFF");
            break;
        case 6:
            SerialUSB.print("Light ERROR");
            break;
        default:
            SerialUSB.print("NO light");
            break;
    }
    linea();
}

void mensaje21_propio(strafaga_ais* prafaga) {
    prafaga->cframe_procesada = 1;
    Payload payload;
    decodifico_payload(*prafaga, &payload);
    // A report too short for its fields is no report.
    if (payload.ccaracteres < CCARACTERES_MSG21 || bits(payload, 1, 269) == 1 ||
        bits(payload, 30, 8) != stais.lmmsi) {
        return;
    }
    const uint8_t caton_status = static_cast<uint8_t>(bits(payload, 8, 260));
    if (stais.cprimer_msg_21_tras_reset == 1) {
        stais.cbits_no_utilizados_caton_status = caton_status & CBITS_NO_UTILIZADOS;
    }
    stais.cprimer_msg_21_tras_reset = 0;
    stais.cposition_accurasy_msg21 = static_cast<uint8_t>(bits(payload, 1, 163));
    stais.llongitud_ais_msg21 = bits(payload, 28, 164);
    stais.llatitud_ais_msg21 = bits(payload, 27, 192);
    if (configuracion_ais.cenable_msg21 != 1) {
        return;
    }
    // The light the station sees against the light the transponder reports.
    const uint8_t cstatus_now = estado_luz();
    const uint8_t cemitido = caton_status & static_cast<uint8_t>(~CBITS_NO_UTILIZADOS);
    if (cstatus_now == 6 && cemitido != 0xE6) {
        stais.ccomando = 21;
    } else if (cstatus_now == 2 && cemitido != 0xE2) {
        stais.ccomando = 23;
    } else if (cstatus_now == 4 && cemitido != 0xE4) {
        stais.ccomando = 22;
    }
    if (traza()) {
        traza_msg21(*prafaga, caton_status);
    }
}

// ---- Received traffic ---------------------------------------------------------

void fin_reensamblado_msg6() {
    stais.ccantidad_total_frames_vdm_msg6_procesando = 0;
    stais.cultima_frame_vdm_msg6_procesando = 0;
    stais.ctimeout_frame_vdm_msg6_procesando = 0;
}

// Appends the sentence's payload to the message 6 being put together; a
// message longer than the 90 values the record holds is given up whole,
// since a cut binary message would be delivered as wrong data.
bool anado_payload_msg6(const strafaga_ais& rafaga) {
    Payload payload;
    decodifico_payload(rafaga, &payload);
    if (stais.cposicion_datos_msg6 + payload.ccaracteres > sizeof(stais.cmsg6)) {
        return false;
    }
    for (uint8_t k = 0; k < payload.ccaracteres; ++k) {
        stais.cmsg6[stais.cposicion_datos_msg6 + k] = payload.cvalores[k];
    }
    stais.cposicion_datos_msg6 =
        static_cast<uint8_t>(stais.cposicion_datos_msg6 + payload.ccaracteres);
    return true;
}

void traza_partes_msg6(uint8_t cnumero, uint8_t ctotal) {
    if (traza()) {
        SerialUSB.print("Frames msg6:");
        SerialUSB.print(static_cast<unsigned int>(cnumero));
        SerialUSB.print("/");
        SerialUSB.print(static_cast<unsigned int>(ctotal));
        linea();
    }
}

void error_msg6() {
    fin_reensamblado_msg6();
    SerialUSB.print("Error detectado");
    linea();
}

// The whole message 6 is in stais.cmsg6 with its fill bits: the reassembly
// ends.
void mensaje6_completo(const strafaga_ais& rafaga) {
    uint32_t lrelleno = 0;
    if (extraccion_dato_nmea(6, rafaga.cprocesada, 0, rafaga.clongitud, &lrelleno) != 1) {
        lrelleno = 0;
    }
    stais.crelleno_msg6 = static_cast<uint8_t>(lrelleno);
    fin_reensamblado_msg6();
    procesamos_mensaje6_rx_tidelink();
}

void partes_sentencia(strafaga_ais* prafaga) {
    uint32_t lvalor = 0;
    if (extraccion_dato_nmea(1, prafaga->cprocesada, 0, prafaga->clongitud, &lvalor) == 1) {
        prafaga->ccantidad_total_tramas_msg6 = static_cast<uint8_t>(lvalor);
    }
    if (extraccion_dato_nmea(2, prafaga->cprocesada, 0, prafaga->clongitud, &lvalor) == 1) {
        prafaga->cframe_actual_msg6 = static_cast<uint8_t>(lvalor);
    }
}

void continuacion_msg6(strafaga_ais* prafaga) {
    partes_sentencia(prafaga);
    const uint8_t ctotal = prafaga->ccantidad_total_tramas_msg6;
    const uint8_t cnumero = prafaga->cframe_actual_msg6;
    if (ctotal != stais.ccantidad_total_frames_vdm_msg6_procesando ||
        cnumero != stais.cultima_frame_vdm_msg6_procesando + 1) {
        error_msg6();
        return;
    }
    traza_partes_msg6(cnumero, ctotal);
    if (!anado_payload_msg6(*prafaga)) {
        error_msg6();
        return;
    }
    if (cnumero == ctotal) {
        mensaje6_completo(*prafaga);
    } else {
        stais.cultima_frame_vdm_msg6_procesando = cnumero;
        stais.ctimeout_frame_vdm_msg6_procesando = CTIMEOUT_PARTE_MSG6;
    }
}

void primera_parte_msg6(strafaga_ais* prafaga) {
    if (configuracion_sensor[0].csensor != 2 && configuracion_sensor[1].csensor != 2) {
        return;
    }
    partes_sentencia(prafaga);
    if (prafaga->cframe_actual_msg6 != 1) {
        return;
    }
    stais.cposicion_datos_msg6 = 0;
    traza_partes_msg6(prafaga->cframe_actual_msg6, prafaga->ccantidad_total_tramas_msg6);
    if (!anado_payload_msg6(*prafaga)) {
        error_msg6();
        return;
    }
    if (prafaga->ccantidad_total_tramas_msg6 == 1) {
        mensaje6_completo(*prafaga);
        return;
    }
    stais.ccantidad_total_frames_vdm_msg6_procesando = prafaga->ccantidad_total_tramas_msg6;
    stais.cultima_frame_vdm_msg6_procesando = 1;
    stais.ctimeout_frame_vdm_msg6_procesando = CTIMEOUT_PARTE_MSG6;
}

int32_t con_signo(uint32_t lvalor, uint32_t lno_disponible, uint32_t lextension) {
    return static_cast<int32_t>(lvalor > lno_disponible ? lvalor + lextension : lvalor);
}

bool entre(int32_t lvalor, int32_t la, int32_t lb) {
    return la <= lb ? lvalor >= la && lvalor <= lb : lvalor >= lb && lvalor <= la;
}

uint8_t busca_barco(uint32_t lmmsi) {
    for (uint8_t i = 0; i < CBARCOS_EN_ZONA; ++i) {
        if (shipras.cestado_en_zona[i] != CBARCO_LIBRE && shipras.lmmsi_en_zona[i] == lmmsi) {
            return i;
        }
    }
    return CBARCOS_EN_ZONA;
}

// A free entry, or else the warned ship silent the longest: forgetting it
// costs at most a second warning, whereas a waiting ship would lose its only
// one.
uint8_t entrada_para_barco() {
    uint8_t celegida = CBARCOS_EN_ZONA;
    for (uint8_t i = 0; i < CBARCOS_EN_ZONA; ++i) {
        if (shipras.cestado_en_zona[i] == CBARCO_LIBRE) {
            return i;
        }
        if (shipras.cestado_en_zona[i] == CBARCO_AVISADO &&
            (celegida == CBARCOS_EN_ZONA ||
             shipras.cminutos_en_zona[i] > shipras.cminutos_en_zona[celegida])) {
            celegida = i;
        }
    }
    return celegida;
}

// A ship seen outside or long silent: its entry is free, and a warning to it
// that has not gone out yet is withdrawn in favour of the next waiting ship.
void olvido_barco(uint8_t i) {
    if (shipras.cestado_en_zona[i] == CBARCO_ESPERANDO) {
        --shipras.cbarcos_esperando;
    }
    shipras.cestado_en_zona[i] = CBARCO_LIBRE;
    if (shipras.cnew_msg12 == 1 && shipras.lmmsi_detectado == shipras.lmmsi_en_zona[i]) {
        shipras.cnew_msg12 = 0;
        siguiente_aviso_msg12();
    }
}

// One warning per ship that enters the rectangle: a ship is warned when it is
// first seen inside and not again until it has been seen outside or has been
// silent for CMINUTOS_OLVIDO_BARCO minutes. Ships that enter while a warning
// is pending wait their turn.
void aviso_barco(uint32_t lmmsi, bool bdentro) {
    uint8_t i = busca_barco(lmmsi);
    if (i < CBARCOS_EN_ZONA) {
        if (bdentro) {
            shipras.cminutos_en_zona[i] = 0;
        } else {
            olvido_barco(i);
        }
        return;
    }
    if (!bdentro) {
        return;
    }
    i = entrada_para_barco();
    if (i == CBARCOS_EN_ZONA) {
        // Every entry waits for its warning: this ship is taken at a later
        // report, once the queue has moved.
        return;
    }
    shipras.lmmsi_en_zona[i] = lmmsi;
    shipras.cestado_en_zona[i] = CBARCO_ESPERANDO;
    shipras.cminutos_en_zona[i] = 0;
    shipras.iorden_en_zona[i] = shipras.iturno_en_zona++;
    ++shipras.cbarcos_esperando;
}

void presencia_barco(const strafaga_ais& rafaga, uint8_t ctipo) {
    if (configuracion_ais.cenable_shipras != 1) {
        return;
    }
    const bool bclase_a = ctipo <= 3;
    Payload payload;
    decodifico_payload(rafaga, &payload);
    if (payload.ccaracteres < (bclase_a ? CCARACTERES_BARCO_A : CCARACTERES_BARCO_B)) {
        return;
    }
    const uint16_t idesplazamiento = bclase_a ? 0 : 4;
    const uint32_t lmmsi = bits(payload, 30, 8);
    const uint16_t ivelocidad = static_cast<uint16_t>(bits(payload, 10, 50 - idesplazamiento));
    const int32_t llongitud =
        con_signo(bits(payload, 28, 61 - idesplazamiento), LONGITUD_NO_DISPONIBLE, 0xF0000000u);
    const int32_t llatitud =
        con_signo(bits(payload, 27, 89 - idesplazamiento), LATITUD_NO_DISPONIBLE, 0xF8000000u);
    const uint16_t irumbo = static_cast<uint16_t>(bits(payload, 12, 116 - idesplazamiento));
    const stconfiguracion_ais& config = configuracion_ais;
    const bool bdentro =
        entre(llongitud, config.llongitud_shipras[0], config.llongitud_shipras[1]) &&
        entre(llatitud, config.llatitud_shipras[0], config.llatitud_shipras[1]);
    if (bdentro) {
        shipras.ispeed_detectada = ivelocidad;
        shipras.irumbo_detectado = irumbo;
    }
    aviso_barco(lmmsi, bdentro);
    siguiente_aviso_msg12();
    if (!traza()) {
        return;
    }
    SerialUSB.print("Msg:");
    SerialUSB.print(static_cast<unsigned int>(ctipo));
    SerialUSB.print(bclase_a ? "\tShip A" : "\tShip B");
    linea();
    SerialUSB.print("\tMMSI:");
    SerialUSB.print(static_cast<uint32_t>(lmmsi));
    linea();
    SerialUSB.print("\tPosition GPS:");
    SerialUSB.print(static_cast<int32_t>(llatitud));
    SerialUSB.print("/");
    SerialUSB.print(static_cast<int32_t>(llongitud));
    SerialUSB.print('\t');
    if (!bdentro) {
        SerialUSB.print(" Outside");
        linea();
        return;
    }
    SerialUSB.print(" Inside");
    linea();
    SerialUSB.print("\tSpeed:");
    SerialUSB.print(static_cast<unsigned int>(shipras.ispeed_detectada));
    linea();
    SerialUSB.print("\tCourse:");
    SerialUSB.print(static_cast<double>(shipras.irumbo_detectado) / 10.0, 1);
    linea();
}

// The sentence, after its tag block, to every sensor channel with a device
// of the given type.
void relevo_canales(const strafaga_ais& rafaga, uint8_t csensor) {
    for (uint8_t ccanal = 0; ccanal < 2; ++ccanal) {
        if (configuracion_sensor[ccanal].csensor != csensor) {
            continue;
        }
        inserto_timestamp_canal(ccanal);
        uart_canal(ccanal).write(rafaga.cprocesada, rafaga.clongitud);
        if (sensor[ccanal].cextraigo != 0) {
            SerialUSB.print("Station Tx => ");
            escribo_sentencia(rafaga);
            linea();
        }
    }
}

}  // namespace

void siguiente_aviso_msg12() {
    if (shipras.cnew_msg12 != 0 || shipras.cbarcos_esperando == 0) {
        return;
    }
    // The waiting ship with the oldest turn: turns are handed out in order,
    // and while one ship waits far fewer than 65536 others arrive, so the
    // turn's distance back from the next one orders them.
    uint8_t celegida = CBARCOS_EN_ZONA;
    uint16_t iantiguedad = 0;
    for (uint8_t i = 0; i < CBARCOS_EN_ZONA; ++i) {
        const uint16_t idistancia =
            static_cast<uint16_t>(shipras.iturno_en_zona - shipras.iorden_en_zona[i]);
        if (shipras.cestado_en_zona[i] == CBARCO_ESPERANDO && idistancia >= iantiguedad) {
            celegida = i;
            iantiguedad = idistancia;
        }
    }
    if (celegida == CBARCOS_EN_ZONA) {
        return;
    }
    shipras.cestado_en_zona[celegida] = CBARCO_AVISADO;
    --shipras.cbarcos_esperando;
    shipras.lmmsi_detectado = shipras.lmmsi_en_zona[celegida];
    shipras.cnew_msg12 = 1;
}

void envejecimiento_barcos() {
    for (uint8_t i = 0; i < CBARCOS_EN_ZONA; ++i) {
        if (shipras.cestado_en_zona[i] == CBARCO_LIBRE) {
            continue;
        }
        if (++shipras.cminutos_en_zona[i] >= CMINUTOS_OLVIDO_BARCO) {
            olvido_barco(i);
        }
    }
}

void procesamos_vdo(strafaga_ais* prafaga) {
    const uint8_t ccomando = stais.ccomando;
    if (stais.lmmsi == LMMSI_DESCONOCIDO) {
        if (ccomando == 0) {
            stais.ccomando = 3;
        }
        return;
    }
    const uint8_t ccanal_ais = primer_caracter_campo_ais(*prafaga, 4);
    if ((ccanal_ais != 'A' && ccanal_ais != 'B') || !primera_sentencia(*prafaga)) {
        return;
    }
    const uint8_t ctipo = decodificacion_mensaje_vdo(primer_caracter_campo_ais(*prafaga, 5));
    // A transponder may report a transmission before the sequencer has
    // stopped waiting for the request's reply, or while it waits on the next
    // command: a confirmation counts whenever it comes. Anything else is
    // taken only while the sequencer is idle.
    const uint8_t cpeticion = peticion_de_mensaje(ctipo);
    if (ccomando != 0 && cpeticion == 0) {
        return;
    }
    if (traza()) {
        linea();
        SerialUSB.print("\tMsg ");
        SerialUSB.print(static_cast<unsigned int>(ctipo));
        SerialUSB.print(" AIS sent => ");
        escribo_sentencia(*prafaga);
        linea();
    }
    // Only a report that answers the command being waited on ends that wait;
    // another command's wait is left to its own reply.
    const bool bresponde =
        ccomando == 0 || (ccomando == cpeticion && stais.cesperando_respuesta == 1);
    if (ccomando != 0 && bresponde) {
        stais.ccomando = 0;
    }
    switch (ctipo) {
        case 6:
            confirmacion_msg6(bresponde);
            break;
        case 8:
            if (stais.ifrecuencia_msg8 > 5) {
                stais.itimeout_tx_msg8 = static_cast<uint16_t>(stais.ifrecuencia_msg8 - 5);
            } else if (stais.ifrecuencia_msg8 != 0) {
                stais.itimeout_tx_msg8 = static_cast<uint16_t>(stais.ifrecuencia_msg8 - 1);
            }
            break;
        case 12:
            stais.itimeout_tx_msg12 = 0;
            break;
        case 21:
            mensaje21_propio(prafaga);
            break;
        default:
            break;
    }
    if (bresponde) {
        prafaga->cframe_procesada = 1;
    }
}

void procesamos_vdm(strafaga_ais* prafaga) {
    // Every received message is logged and handed to the base stations first.
    creacion_timestamp(1);
    if (fichero_registro_listo(CFICHERO_VDM, false)) {
        inserto_timestamp_fichero(CFICHERO_VDM);
        inserto_registro_fichero(CFICHERO_VDM, prafaga->cprocesada, prafaga->clongitud);
    }
    relevo_canales(*prafaga, CSENSOR_ESTACION_BASE);
    if (stais.ccantidad_total_frames_vdm_msg6_procesando != 0) {
        continuacion_msg6(prafaga);
        return;
    }
    // A later sentence of a message that is not being put together names
    // nothing: it is only passed on with the rest.
    if (!primera_sentencia(*prafaga)) {
        relevo_canales(*prafaga, CSENSOR_TIDELINK);
        return;
    }
    const uint8_t ctipo = decodificacion_mensaje_vdo(primer_caracter_campo_ais(*prafaga, 5));
    if (ctipo <= 3 && ctipo >= 1) {
        presencia_barco(*prafaga, ctipo);
    } else if (ctipo == 18 || ctipo == 19) {
        presencia_barco(*prafaga, ctipo);
    } else if (ctipo == 6) {
        primera_parte_msg6(prafaga);
    } else {
        relevo_canales(*prafaga, CSENSOR_TIDELINK);
    }
}
