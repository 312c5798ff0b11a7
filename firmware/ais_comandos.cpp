// The transmit side of the transponder link: its start, one step of the
// command sequence, the broadcast requests and the collection of bursts.
#include <Arduino.h>
#include <sodaq_wdt.h>

#include "ais.h"
#include "comunicaciones_canales.h"
#include "comunicaciones_pc.h"
#include "declaraciones.h"
#include "main.h"
#include "nmea.h"

namespace {

constexpr uint8_t CCARACTERES_FRAGMENTO = 25;
constexpr uint16_t IBYTES_FRAME_RX = sizeof(stais.cframe_rx);
constexpr uint8_t CSILENCIO_FIN_RAFAGA = 100;      // ms
constexpr uint32_t CDURACION_MAXIMA_RAFAGA = 250;  // ms
constexpr uint8_t CANCHO_ASTERISCOS = 46;

// A command of the table: its fixed sentence (nullptr when composed or when
// none is sent) and its reply time-out in tenths of a second (0: no reply).
struct ComandoAis {
    const char* pcsentencia;
    uint8_t ctimeout;
};

constexpr ComandoAis kComandos[CCOMANDOS_AIS] = {
    {nullptr, 0},                                     // 0 scheduler
    {"$PSMT,0,0,0x00000000,0,gpsfilt 0,0*31", 30},    // 1 GPS output off
    {"$PSMT,0,0,0x00000000,0,gpsfilt 9,0*38", 30},    // 2 GPS output on
    {"$UPANQ,AID*3B", 20},                            // 3
    {"$UPANQ,ACE*30", 10},                            // 4
    {"$UPANQ,ACF*33", 10},                            // 5
    {"$UPANQ,MCR*2B", 10},                            // 6
    {nullptr, 0},                                     // 7
    {"$PSMT,0,0,0x00000000,1,getatontype,7*2E", 10},  // 8
    {"$PSMT,0,0,0x00000000,2,appver,1*51", 10},       // 9
    {"$PSMT,0,0,0x00000000,2,getserno,4*47", 10},     // 10
    {"$PSMT,0,0,0x00000000,1,vswr,5*56", 10},         // 11
    {"$PSMT,0,0,0x00000000,1,vin,6*24", 10},          // 12
    {"$UPANQ,AAR*25", 40},                            // 13
    {"$PSMT,0,0,0x00000000,0,gpsfilt 49,0*0C", 30},   // 14 GPS output by USB
    {nullptr, 10},                                    // 15 UPAID
    {nullptr, 10},                                    // 16 message 6
    {"$UPANQ,AID*3B", 20},                            // 17
    {nullptr, 10},                                    // 18 UPMCR
    {nullptr, 10},                                    // 19 message 8
    {nullptr, 10},                                    // 20 message 12
    {nullptr, 10},                                    // 21 AIACE
    {nullptr, 10},                                    // 22 AIACE
    {nullptr, 10},                                    // 23 AIACE
};

void traza_titulo(const char* pctitulo) {
    if (stais.cextraigo == 0) {
        return;
    }
    linea();
    linea_asteriscos(CANCHO_ASTERISCOS);
    SerialUSB.print('\t');
    SerialUSB.print(pctitulo);
    linea();
    linea_asteriscos(CANCHO_ASTERISCOS);
    linea();
}

// The GPS output is switched on: its sentences are awaited afresh.
void espera_gps() {
    stais.csatelites = 0;
    stais.ctimeout_frame_rmc = 5;
    stais.ctimeout_frame_gga = 5;
}

void inicio_sentencia(char cinicio) {
    inserto_caracter_ais(static_cast<uint8_t>(cinicio));
    stais.cchecksum_nmea = 0;
    stais.ccalculo_checksum_nmea = 1;
}

void fin_sentencia() {
    stais.ccalculo_checksum_nmea = 0;
    inserto_caracter_ais('*');
    inserto_variable_hex_ais(stais.cchecksum_nmea, 2, 1);
}

void inserto_mmsi(uint8_t ccaracter_final) {
    inserto_variable_ais(stais.lmmsi, 9, ccaracter_final);
}

void sentencia_upaid() {
    inicio_sentencia('$');
    inserto_mensaje_ais("UPAID,");
    inserto_mmsi(',');
    inserto_variable_ais(1, 1, ',');
    inserto_variable_ais(111111111, 9, ',');
    inserto_mensaje_ais("0,C");
    fin_sentencia();
}

// Two sentences without checksum.
void sentencias_upmcr() {
    inserto_mensaje_ais("$UPMCR,");
    inserto_mmsi(',');
    inserto_mensaje_ais("SBS,0,C");
    inserto_linea_ais();
    inserto_mensaje_ais("$UPMCR,");
    inserto_mmsi(',');
    inserto_mensaje_ais("MSS,0,4294967295,C");
    inserto_linea_ais();
}

void sentencia_aiace(uint8_t cresta) {
    inicio_sentencia('$');
    inserto_mensaje_ais("AIACE,");
    inserto_mmsi(',');
    const uint8_t cestado = static_cast<uint8_t>(stais.cbits_no_utilizados_caton_status - cresta);
    inserto_variable_hex_ais(cestado, 2, ',');
    inserto_mensaje_ais(",1,0,0,");
    for (uint8_t i = 0; i < sizeof(stais.cnombre_ais) && stais.cnombre_ais[i] != '@'; ++i) {
        inserto_caracter_ais(stais.cnombre_ais[i]);
    }
    inserto_mensaje_ais(",0000000000,C,");
    fin_sentencia();
}

// The fields of one broadcast request that do not change between fragments.
struct PeticionMeb {
    uint8_t cmensaje;    // 6, 8 or 12
    uint8_t csecuencia;  // sequential message identifier
    uint8_t cindice;     // message ID index
    uint8_t ccomportamiento;
    bool bdestino;
    uint32_t ldestino;
};

// One !AIMEB sentence per 25 payload characters (pcpayload[0] = count).
void sentencias_aimeb(const PeticionMeb& peticion, const unsigned char* pcpayload) {
    uint8_t ccaracteres = pcpayload[0];
    if (ccaracteres > CCARACTERES_PAYLOAD_AIS) {
        ccaracteres = CCARACTERES_PAYLOAD_AIS;
    }
    if (ccaracteres == 0) {
        return;
    }
    const uint8_t cfragmentos = static_cast<uint8_t>((ccaracteres - 1) / CCARACTERES_FRAGMENTO + 1);
    for (uint8_t k = 1; k <= cfragmentos; ++k) {
        inicio_sentencia('!');
        inserto_mensaje_ais("AIMEB,");
        inserto_variable_ais(cfragmentos, 1, ',');
        inserto_variable_ais(k, 1, ',');
        inserto_variable_ais(peticion.csecuencia, 1, ',');
        inserto_mensaje_ais("0,");
        inserto_mmsi(',');
        inserto_variable_ais(peticion.cmensaje, 0, ',');
        inserto_variable_ais(peticion.cindice, 1, ',');
        inserto_variable_ais(peticion.ccomportamiento, 1, ',');
        if (peticion.bdestino) {
            inserto_variable_ais(peticion.ldestino, 9, 0);
        }
        inserto_mensaje_ais(",0,C,");
        const uint8_t cprimero = static_cast<uint8_t>((k - 1) * CCARACTERES_FRAGMENTO + 1);
        uint8_t cultimo = static_cast<uint8_t>(k * CCARACTERES_FRAGMENTO);
        if (cultimo > ccaracteres) {
            cultimo = ccaracteres;
        }
        for (uint8_t i = cprimero; i <= cultimo; ++i) {
            inserto_caracter_ais(pcpayload[i]);
        }
        inserto_caracter_ais(',');
        // Binary data end on a whole byte: the bits past the last one are
        // fill. Six-bit text fills its characters exactly, so declaring those
        // bits fill would cut the warning's last character.
        const uint8_t crelleno = k == cfragmentos && peticion.cmensaje != 12
                                     ? static_cast<uint8_t>((6 * ccaracteres) % 8)
                                     : 0;
        inserto_variable_ais(crelleno, 1, 0);
        fin_sentencia();
    }
}

void envio_msg6() {
    // The scheduler chooses the channel; without one there is nothing to send.
    const uint8_t ccanal = stais.ccanal_msg6;
    if (ccanal > CANAL_SENSOR_2) {
        return;
    }
    stsensor& canal = sensor[ccanal];
    if (canal.cnew_msg6 == 2) {
        codifico_datos_trama_nmea_mensaje_6(ccanal);
        canal.lmmsi_destino_msg6 = stais.lmmsi_destino_msg6;
    }
    const PeticionMeb peticion{6,
                               stais.creintentos_msg6,
                               stais.cindice_msg6,
                               static_cast<uint8_t>(stais.cprotocolo_msg6 == 1 ? 1 : 0),
                               true,
                               canal.lmmsi_destino_msg6};
    sentencias_aimeb(peticion, canal.cpayload_msg6);
    stais.itimeout_tx_msg6 = stais.ifrecuencia_msg6;
    stais.cmsg6_sin_confirmar = 1;
}

void envio_msg8() {
    codifico_datos_trama_nmea_mensaje_8();
    stais.cprotocolo_msg8 = 1;
    const PeticionMeb peticion{8, stais.creintentos_msg8, stais.cindice_msg8, 1, false, 0};
    sentencias_aimeb(peticion, stais.cmsg_tx);
    stais.itimeout_tx_msg8 = stais.ifrecuencia_msg8;
}

void envio_msg12() {
    codifico_datos_trama_nmea_mensaje_12();
    const PeticionMeb peticion{12,
                               stais.creintentos_msg12,
                               stais.cindice_msg12,
                               static_cast<uint8_t>(stais.cprotocolo_msg12 == 1 ? 1 : 0),
                               true,
                               shipras.lmmsi_detectado};
    sentencias_aimeb(peticion, stais.cmsg_tx);
    stais.itimeout_tx_msg12 = stais.ifrecuencia_msg12;
    shipras.cnew_msg12 = 0;
    siguiente_aviso_msg12();
}

// Message 6 of a sensor channel is due. A chosen channel keeps its turn until
// its last part has gone, whichever channel it is, so that the parts of a
// frame from the second channel are not left waiting for good.
bool msg6_pendiente() {
    if (stais.itimeout_tx_msg6 != 0 || stais.ifrecuencia_msg6 == 0) {
        return false;
    }
    if (stais.ccanal_msg6 == CCANAL_MSG6_NINGUNO) {
        if (sensor[0].cnew_msg6 != 0) {
            stais.ccanal_msg6 = 0;
            return true;
        }
        if (sensor[1].cnew_msg6 != 0) {
            stais.ccanal_msg6 = 1;
            return true;
        }
        return false;
    }
    return stais.ccanal_msg6 <= CANAL_SENSOR_2 && sensor[stais.ccanal_msg6].cnew_msg6 != 0;
}

// Commands whose sentences carry the station's MMSI.
bool lleva_mmsi(uint8_t ccomando) {
    return ccomando == 15 || ccomando == 16 || (ccomando >= 18 && ccomando <= 23);
}

void planificador() {
    // Nothing goes out in the station's name before its MMSI is known: the
    // identity is asked again first.
    if (stais.lmmsi == LMMSI_DESCONOCIDO) {
        stais.ccomando = 3;
    } else if (msg6_pendiente()) {
        stais.ccomando = 16;
    } else if (stais.itimeout_tx_msg8 == 0 && stais.ifrecuencia_msg8 != 0) {
        stais.ccomando = 19;
    } else if (stais.itimeout_tx_msg12 == 0 && stais.ifrecuencia_msg12 != 0 &&
               shipras.cnew_msg12 == 1) {
        stais.ccomando = 20;
    } else if (stais.cstatus_gps == 2) {
        stais.ccomando = 2;
    } else if (stais.cstatus_gps == 1) {
        stais.cstatus_gps = 0;
        stais.ccomando = 1;
    } else if (stais.cnueva_sincronizacion_horaria == 3) {
        stais.cnueva_sincronizacion_horaria = 2;
        stais.ccomando = 2;
    } else if (stais.cnueva_sincronizacion_horaria == 1) {
        stais.cnueva_sincronizacion_horaria = 0;
        stais.ccomando = 1;
    }
}

// Composes the frame of the current command and performs its side effects.
void composicion_comando(uint8_t ccomando) {
    const char* pcsentencia = kComandos[ccomando].pcsentencia;
    if (pcsentencia != nullptr) {
        inserto_mensaje_ais(pcsentencia);
        inserto_linea_ais();
    }
    switch (ccomando) {
        case 0:
            planificador();
            break;
        case 1:
            traza_titulo("Disable GPS AIS");
            break;
        case 2:
            traza_titulo("Enable GPS AIS");
            espera_gps();
            break;
        case 6:
        case 18:
            if (ccomando == 18) {
                sentencias_upmcr();
            }
            stais.cresultados_configuracion = 0;
            break;
        case 13:
            stais.ifrecuencia_msg6 = 0;
            stais.ifrecuencia_msg8 = 0;
            stais.ifrecuencia_msg12 = 0;
            stais.caar_mensajes = 0;
            stais.cperiodos_conocidos = 0;
            break;
        case 14:
            traza_titulo("Enable GPS by USB AIS");
            espera_gps();
            break;
        case 15:
            sentencia_upaid();
            break;
        case 16:
            envio_msg6();
            break;
        case 19:
            envio_msg8();
            break;
        case 20:
            envio_msg12();
            break;
        case 21:
        case 22:
        case 23:
            sentencia_aiace(static_cast<uint8_t>(26 + 2 * (ccomando - 21)));
            break;
        default:
            break;
    }
}

// A burst ends at 100 ms of line silence. Idle, it also ends at the line
// feed that closes the data; while a command waits for its reply, at the
// first line feed once it has gathered for CDURACION_MAXIMA_RAFAGA or half
// the buffer, so that traffic with no pause in it is handled as it comes
// rather than held up (or cut) until the line falls silent. A full buffer
// ends it at once.
bool fin_rafaga(uint32_t linicio) {
    const uint16_t ibytes = stais.ibytes_rx;
    if (ibytes >= IBYTES_FRAME_RX) {
        return true;
    }
    if (ibytes == 0 || stais.cframe_rx[ibytes - 1] != '\n') {
        return false;
    }
    return stais.ccomando == 0 || ibytes >= IBYTES_FRAME_RX / 2 ||
           millis() - linicio >= CDURACION_MAXIMA_RAFAGA;
}

void traza_frame_tx() {
    linea();
    SerialUSB.print("Tx AIS (");
    transmito_variable(stais.ibytes_mensaje_a_tx, 2, ')');
    SerialUSB.print(" => ");
    traza_bytes_visibles(stais.cframe_tx, stais.ibytes_mensaje_a_tx);
    linea();
}

}  // namespace

void inicializacion_ais(uint8_t cinicio) {
    if (cinicio == 0) {
        disable_canal(CANAL_AIS);
        if (stais.calarma == 0) {
            ++stais.cseguridad_alarma;
            if (stais.cextraigo != 0) {
                SerialUSB.print("\tAIS => Alarm possible: ");
                SerialUSB.print(static_cast<unsigned int>(stais.cseguridad_alarma));
            }
        }
    } else {
        stais.cseguridad_alarma = 0;
        stais.cnueva_sincronizacion_horaria = 3;
    }
    stais.ctipo_aton = 1;
    stais.csegundos_sin_tramas_deteccion_usb = 120;
    stais.csegundos_sin_tramas_gps_ais = 10;
    stais.llongitud_ais_msg21 = 108600000;
    stais.llatitud_ais_msg21 = 54600000;
    stais.iq = 999;
    stais.lmmsi = LMMSI_DESCONOCIDO;
    stais.lmmsi_destino_msg6 = LMMSI_DESCONOCIDO;
    stais.ccanal_msg6 = CCANAL_MSG6_NINGUNO;
    stais.cmsg6_sin_confirmar = 0;
    stais.caar_mensajes = 0;
    stais.cperiodos_conocidos = 0;
    stais.creintentos_msg6 = 0;
    stais.cindice_msg6 = 0;
    stais.cindice_msg12 = 0;
    stais.ccambios_bruscos_roe = 0;
    stais.cesperando_respuesta = 0;
    stais.cconexion_software_pc = 0;
    stais.ccantidad_total_frames_vdm_msg6_procesando = 0;
    stais.cultima_frame_vdm_msg6_procesando = 0;
    stais.ctimeout_rx_frame = 0;
    stais.ccalculo_checksum_nmea = 0;
    stais.cchecksum_nmea = 0;
    stais.creintentos_comando = 0;
    stais.ibytes_rx = 0;
    stais.ibytes_mensaje_a_tx = 0;
    stais.calarma = 0;
    stais.cextraigo = 0;
    stais.ibateria = 0;
    stais.ifrecuencia_msg6 = 0;
    stais.ifrecuencia_msg12 = 0;
    // The first own report after a start fixes the status bits the station
    // does not drive.
    stais.cprimer_msg_21_tras_reset = 1;
    for (char& c : stais.cfirmware) {
        c = 0;
    }
    for (char& c : stais.csn) {
        c = 0;
    }
    for (unsigned char& c : stais.cnombre_ais) {
        c = '@';
    }
    activo_salida_reset(configuracion_ais.csalida_reset);
    inicializacion_canales(CANAL_AIS);
    stais.cminutos_timeout_rx_frames = CMINUTOS_SIN_TRAMAS;
    stais.ccomando = 3;
}

void envio_comandos_ais() {
    stais.ibytes_mensaje_a_tx = 0;
    uint8_t ccomando = stais.ccomando;
    if (ccomando >= CCOMANDOS_AIS) {
        return;
    }
    // A link restart forgets the MMSI while a broadcast may still be due: the
    // identity query goes out instead of a sentence with no MMSI to carry.
    if (lleva_mmsi(ccomando) && stais.lmmsi == LMMSI_DESCONOCIDO) {
        ccomando = 3;
        stais.ccomando = 3;
    }
    composicion_comando(ccomando);
    for (uint16_t i = 0; i < stais.ibytes_mensaje_a_tx; ++i) {
        Serial0.write(stais.cframe_tx[i]);
    }
    // An idle step sends nothing: tracing it would fill the console on
    // every pass.
    if (stais.cextraigo == 2 && stais.ibytes_mensaje_a_tx != 0) {
        traza_frame_tx();
    }
    if (kComandos[ccomando].ctimeout != 0) {
        stais.ctimeout_respuesta_comando = kComandos[ccomando].ctimeout;
        stais.cesperando_respuesta = 1;
    }
}

void acopio_rafaga_ais() {
    // Bytes that do not fit stay in the port for the next burst.
    while (Serial0.available() > 0 && stais.ibytes_rx < IBYTES_FRAME_RX) {
        stais.cframe_rx[stais.ibytes_rx++] = static_cast<uint8_t>(Serial0.read());
    }
}

void procesamos_ais() {
    // A burst may have begun while the loop waited on another channel.
    if (Serial0.available() <= 0 && stais.ibytes_rx == 0) {
        return;
    }
    const uint32_t linicio = millis();
    do {
        sodaq_wdt_reset();
        acopio_rafaga_ais();
        stais.ctimeout_rx_frame = fin_rafaga(linicio) ? 0 : CSILENCIO_FIN_RAFAGA;
        while (stais.ctimeout_rx_frame != 0 && Serial0.available() <= 0) {
            sodaq_wdt_reset();
        }
    } while (stais.ctimeout_rx_frame != 0);
    procesamos_trama_rx_ais();
    stais.ibytes_rx = 0;
}
