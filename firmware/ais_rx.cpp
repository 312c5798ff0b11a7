// The receive side of the transponder link: a burst cut into sentences,
// each checked and handed to the handler of its kind.
#include <Arduino.h>
#include <sodaq_wdt.h>

#include "ais.h"
#include "comunicaciones_pc.h"
#include "declaraciones.h"
#include "nmea.h"

namespace {

constexpr uint8_t CLONGITUD_MAXIMA = 255;

bool es(const uint8_t* pc, uint8_t i, char c) {
    return pc[i] == static_cast<uint8_t>(c);
}

// Formatter letters at indices 3 to 5, any talker.
bool formateador(const uint8_t* pc, const char* pcletras) {
    return es(pc, 3, pcletras[0]) && es(pc, 4, pcletras[1]) && es(pc, 5, pcletras[2]);
}

// A transponder report "AN" + formatter, either start character.
bool informe_an(const uint8_t* pc, const char* pcletras) {
    return es(pc, 1, 'A') && es(pc, 2, 'N') && formateador(pc, pcletras);
}

// Recognition in a fixed order; each sentence reaches one handler at most.
void despacho(strafaga_ais* prafaga) {
    const uint8_t* pc = prafaga->cprocesada;
    if (formateador(pc, "VDO")) {
        // What a VDO may do while a command is in progress is the
        // handler's to decide; it never falls through to the replies.
        procesamos_vdo(prafaga);
    } else if (formateador(pc, "VDM")) {
        procesamos_vdm(prafaga);
    } else if (formateador(pc, "AID")) {
        procesamos_respuesta_aid(prafaga);
    } else if (formateador(pc, "NAK")) {
        procesamos_respuesta_nak(prafaga);
    } else if (es(pc, 1, 'P') && es(pc, 2, 'S') && es(pc, 3, 'M') && es(pc, 4, 'T')) {
        procesamos_respuesta_psmt(prafaga);
    } else if (informe_an(pc, "TXT")) {
        procesamos_texto_txt(prafaga);
    } else if (es(pc, 0, '$') && es(pc, 1, 'G')) {
        // $G with another third letter than P is nobody's: it must not reach
        // the reports below.
        if (es(pc, 2, 'P')) {
            procesamos_sentencia_gps(prafaga);
        }
    } else if (informe_an(pc, "ACE")) {
        procesamos_respuesta_ace(prafaga);
    } else if (informe_an(pc, "ACF")) {
        procesamos_respuesta_acf(prafaga);
    } else if (informe_an(pc, "AAR")) {
        procesamos_respuesta_aar(prafaga);
    } else if (informe_an(pc, "MCR")) {
        procesamos_respuesta_mcr(prafaga);
    }
}

void traza_checksum_erroneo(const strafaga_ais& rafaga) {
    linea();
    SerialUSB.write(rafaga.cprocesada, rafaga.clongitud);
    linea();
    SerialUSB.print("Checksum failed AIS => ");
    transmito_variable_hex(rafaga.cchecksum, 2, 1);
}

// Copies the sentence [iinicio, ifin] (its line feed included) into the
// burst's working copy: the count stops at 255 and later bytes overwrite the
// last position.
void copia_sentencia(strafaga_ais* prafaga, uint16_t iinicio, uint16_t ifin) {
    uint8_t clongitud = 0;
    for (uint16_t i = iinicio; i <= ifin && i < stais.ibytes_rx; ++i) {
        prafaga->cprocesada[clongitud] = stais.cframe_rx[i];
        if (clongitud < CLONGITUD_MAXIMA) {
            ++clongitud;
        }
    }
    prafaga->cprocesada[clongitud] = 0;
    prafaga->clongitud = clongitud;
}

// Printable text, the checksum's two digits and then CR LF, as the
// transponder ends every sentence, or the end of the burst. A line damaged
// on the way (a control byte, its end spoilt; two flips of one bit pass the
// checksum) is logged and relayed by no one.
bool linea_completa(const strafaga_ais& rafaga) {
    const uint8_t n = rafaga.clongitud;
    const uint8_t* pc = rafaga.cprocesada;
    const bool fin_crlf = n >= 6 && pc[n - 5] == '*' && pc[n - 2] == '\r' && pc[n - 1] == '\n';
    if (!fin_crlf && !(n >= 4 && pc[n - 3] == '*')) {
        return false;
    }
    for (uint8_t i = 0; i < n - (fin_crlf ? 2 : 0); ++i) {
        if (pc[i] < 0x20 || pc[i] > 0x7E) {
            return false;
        }
    }
    return true;
}

void procesamos_sentencia(strafaga_ais* prafaga, uint16_t iinicio, uint16_t ifin) {
    const uint8_t* pcrx = stais.cframe_rx;
    if (pcrx[iinicio] != '!' && pcrx[iinicio] != '$') {
        // A '!' anywhere before the line feed wins over an earlier '$'.
        uint16_t iencontrado = ibusqueda_dato_en_buffer_rx(pcrx, '!', 1, iinicio, ifin);
        if (iencontrado == ifin) {
            iencontrado = ibusqueda_dato_en_buffer_rx(pcrx, '$', 1, iinicio, ifin);
        }
        if (iencontrado == ifin) {
            return;  // no sentence starts on this line: noise
        }
        iinicio = iencontrado;
    }
    copia_sentencia(prafaga, iinicio, ifin);
    if (stais.cextraigo == 2) {
        SerialUSB.print("\tProcessing (");
        SerialUSB.print(static_cast<unsigned int>(prafaga->clongitud));
        SerialUSB.print("): ");
        SerialUSB.write(prafaga->cprocesada, prafaga->clongitud);
        linea();
    }
    prafaga->cchecksum = 0;
    if (!linea_completa(*prafaga) ||
        comprobacion_checksum_nmea(prafaga->cprocesada, 0, prafaga->clongitud, &prafaga->cchecksum,
                                   0) != 1) {
        if (stais.cextraigo != 0) {
            traza_checksum_erroneo(*prafaga);
        }
        return;
    }
    stais.cminutos_timeout_rx_frames = CMINUTOS_SIN_TRAMAS;
    despacho(prafaga);
}

}  // namespace

uint8_t primer_caracter_campo_ais(const strafaga_ais& rafaga, uint8_t ccampo) {
    const uint16_t i = busqueda_campo(ccampo, rafaga.cprocesada, 0, rafaga.clongitud);
    return i < rafaga.clongitud ? rafaga.cprocesada[i] : 0;
}

void procesamos_trama_rx_ais() {
    if (stais.cextraigo == 2) {
        linea();
        SerialUSB.print("AIS rx (");
        SerialUSB.print(static_cast<unsigned int>(stais.ibytes_rx));
        SerialUSB.print(") =>");
        traza_bytes_visibles(stais.cframe_rx, stais.ibytes_rx);
        linea();
    }
    if (stais.ibytes_rx == 0) {
        return;
    }
    strafaga_ais rafaga{};
    uint16_t iinicio = 0;
    while (iinicio < stais.ibytes_rx) {
        sodaq_wdt_reset();
        const uint16_t ifin =
            ibusqueda_dato_en_buffer_rx(stais.cframe_rx, '\n', 1, iinicio, stais.ibytes_rx);
        procesamos_sentencia(&rafaga, iinicio, ifin);
        iinicio = static_cast<uint16_t>(ifin + 1);
    }
    if (rafaga.cframe_procesada == 1) {
        stais.cesperando_respuesta = 0;
        stais.creintentos_comando = 0;
        stais.ctimeout_respuesta_comando = 0;
    }
    if (rafaga.cframe_gps_rx == 1) {
        fin_rafaga_gps(rafaga);
    }
}
