// The transponder's GPS sentences: UTC, position, satellites and HDOP, the
// supervision of their arrival while a synchronisation is due, and the
// setting of the station clock from them.
#include <Arduino.h>

#include "UnixTime.h"
#include "ais.h"
#include "comunicaciones_pc.h"
#include "declaraciones.h"
#include "mcp7940.h"
#include "nmea.h"

namespace {

constexpr uint8_t CTIMEOUT_FRAME_GPS = 5;  // seconds

// Two digits from index i of the sentence.
uint8_t dos_cifras(const strafaga_ais& rafaga, uint16_t i) {
    if (i + 2 > rafaga.clongitud) {
        return 0;
    }
    return static_cast<uint8_t>(
        conversion_ascii_decimal(static_cast<uint8_t>(i), 2, rafaga.cprocesada));
}

uint16_t inicio_campo(const strafaga_ais& rafaga, uint8_t ccampo) {
    return busqueda_campo(ccampo, rafaga.cprocesada, 0, rafaga.clongitud);
}

// A coordinate ddmm.mmmmm (or dddmm.mmmmm) read without its decimal point:
// degrees, minutes and ten-thousandths of a minute.
void coordenada(const strafaga_ais& rafaga, uint8_t ccampo, uint8_t* pcgrados, uint8_t* pcminutos,
                uint16_t* pidiez_milesimas) {
    uint32_t lvalor = 0;
    if (extraccion_dato_nmea(ccampo, rafaga.cprocesada, 0, rafaga.clongitud, &lvalor) != 1) {
        return;
    }
    *pcgrados = static_cast<uint8_t>(lvalor / 10000000);
    *pcminutos = static_cast<uint8_t>((lvalor % 10000000) / 100000);
    *pidiez_milesimas = static_cast<uint16_t>((lvalor % 100000) / 10);
}

void sentencia_rmc(strafaga_ais* prafaga) {
    const strafaga_ais& rafaga = *prafaga;
    if (primer_caracter_campo_ais(rafaga, 2) == 'A') {
        const uint16_t ihora = inicio_campo(rafaga, 1);
        stais.chora_utc = dos_cifras(rafaga, ihora);
        stais.cminuto_utc = dos_cifras(rafaga, static_cast<uint16_t>(ihora + 2));
        stais.csegundo_utc = dos_cifras(rafaga, static_cast<uint16_t>(ihora + 4));
        const uint16_t ifecha = inicio_campo(rafaga, 9);
        stais.cdia_utc = dos_cifras(rafaga, ifecha);
        stais.cmes_utc = dos_cifras(rafaga, static_cast<uint16_t>(ifecha + 2));
        stais.cano_utc = dos_cifras(rafaga, static_cast<uint16_t>(ifecha + 4));
        coordenada(rafaga, 3, &stais.cgrados_latitud, &stais.cminutos_latitud,
                   &stais.idiez_milesimas_minutos_latitud);
        stais.cnorte_sur = primer_caracter_campo_ais(rafaga, 4);
        coordenada(rafaga, 5, &stais.cgrados_longitud, &stais.cminutos_longitud,
                   &stais.idiez_milesimas_minutos_longitud);
        stais.ceste_oeste = primer_caracter_campo_ais(rafaga, 6);
        prafaga->cframe_rmc_rx = 1;
    }
    stais.ctimeout_frame_rmc = CTIMEOUT_FRAME_GPS;
}

void sentencia_gga(const strafaga_ais& rafaga) {
    uint32_t lsatelites = 0;
    if (extraccion_dato_nmea(7, rafaga.cprocesada, 0, rafaga.clongitud, &lsatelites) != 1) {
        lsatelites = 0;
    }
    stais.csatelites = static_cast<uint8_t>(lsatelites);
    float fhdop = 0.0f;
    // A negative dilution is no reading: it counts as an empty field.
    if (extraccion_dato_nmea_float(8, rafaga.cprocesada, 0, rafaga.clongitud, &fhdop) == 1 &&
        fhdop >= 0.0f) {
        if (fhdop > 10.0f) {
            fhdop = 9.9f;
        }
        stais.cqgps = static_cast<uint8_t>(fhdop * 10.0f);
    } else {
        stais.cqgps = 99;
    }
    stais.ctimeout_frame_gga = CTIMEOUT_FRAME_GPS;
}

bool formateador(const strafaga_ais& rafaga, char c3, char c4, char c5) {
    return rafaga.cprocesada[3] == c3 && rafaga.cprocesada[4] == c4 && rafaga.cprocesada[5] == c5;
}

}  // namespace

void procesamos_sentencia_gps(strafaga_ais* prafaga) {
    if (stais.ccomando == 1) {
        return;
    }
    if (stais.ccomando == 2 || stais.ccomando == 14) {
        stais.ccomando = 0;
    }
    if (formateador(*prafaga, 'R', 'M', 'C')) {
        sentencia_rmc(prafaga);
    } else if (formateador(*prafaga, 'G', 'G', 'A')) {
        sentencia_gga(*prafaga);
    } else if (!formateador(*prafaga, 'G', 'S', 'V')) {
        prafaga->cframe_desconocida = 1;
    }
    stais.csegundos_sin_tramas_gps_ais = 0;
    prafaga->cframe_gps_rx = 1;
}

namespace {

// An identity query keeps its step until its reply or its time-out: moved
// on, its reply would read as a PC program's, and nothing may go out in the
// station's name meanwhile.
bool consulta_identidad_en_curso() {
    return stais.ccomando == 3 || stais.ccomando == 17;
}

}  // namespace

void fin_rafaga_gps(const strafaga_ais& rafaga) {
    if (rafaga.cframe_rmc_rx == 1 && stais.csatelites != 0) {
        if (verificacion_limites_fecha(stais.cano_utc, stais.cmes_utc, stais.cdia_utc, 1,
                                       stais.chora_utc, stais.cminuto_utc,
                                       stais.csegundo_utc) == 0) {
            nueva_hora_sistema();
            stais.cnueva_sincronizacion_horaria =
                stais.csegundos_sin_tramas_deteccion_usb > 119 ? 1 : 0;
        }
    } else if (rafaga.cframe_desconocida == 1 && !consulta_identidad_en_curso()) {
        stais.ccomando = 2;
    }
    if ((stais.cnueva_sincronizacion_horaria == 2 || stais.cnueva_sincronizacion_horaria == 3) &&
        (stais.ctimeout_frame_rmc == 0 || stais.ctimeout_frame_gga == 0) &&
        !consulta_identidad_en_curso()) {
        stais.ccomando = 2;
        SerialUSB.print("Timeout frame GPS");
        linea();
    }
}
