#include <Arduino.h>

#include "ais.h"
#include "comunicaciones_ema_airmar.h"
#include "comunicaciones_pc.h"
#include "declaraciones.h"

namespace {

constexpr uint32_t LONGITUD_NO_DISPONIBLE = 108600000;  // 181 degrees in 1/10000 minute
constexpr uint32_t LATITUD_NO_DISPONIBLE = 54600000;    // 91 degrees
constexpr uint32_t LMODULO_LONGITUD = 1u << 28;
constexpr uint32_t LMODULO_LATITUD = 1u << 27;
constexpr uint32_t LDIEZMILESIMAS_POR_GRADO = 600000;

// Pressure readings are clamped to 200..1500 hPa: anything else in the
// history (0 after a channel start, 511) is an empty entry.
constexpr uint16_t IPRESION_MINIMA = 2000;
constexpr uint16_t IPRESION_MAXIMA = 15000;
constexpr uint8_t CHISTORIA_PRESION = 18;
constexpr uint8_t CTENDENCIA_NO_DISPONIBLE = 3;

// The weather fields 9 to 17, in payload order.
enum CampoMeteo : uint8_t {
    VIENTO,
    RAFAGA,
    DIRECCION_VIENTO,
    DIRECCION_RAFAGA,
    TEMPERATURA,
    HUMEDAD,
    PUNTO_ROCIO,
    PRESION,
    TENDENCIA,
    CCAMPOS_METEO
};

struct DefinicionCampo {
    const char* pcetiqueta;
    uint8_t cbits;
    uint32_t lno_disponible;  // as packed, in the field's width
};

constexpr DefinicionCampo kCamposMeteo[CCAMPOS_METEO] = {
    {"Average wind speed: ", 7, 127}, {"Wind gust: ", 7, 127},
    {"Wind direction: ", 9, 360},     {"Wind gust direction: ", 9, 360},
    {"Air temperature: ", 11, 0x400},  // -1024
    {"Relative humidity: ", 7, 101},  {"Dew point: ", 10, 501},
    {"Air pressure: ", 9, 511},       {"Pressure tendendy: ", 2, 3},
};

// Fields 18 to 34, for which the station has no sensor.
struct CampoFijo {
    uint8_t cbits;
    uint32_t lvalor;
};

constexpr CampoFijo kSinSensorAntesEstadoMar[] = {
    {8, 127},    // horizontal visibility
    {12, 4001},  // water level
    {2, 3},      // water level trend
    {8, 255},    // surface current speed
    {9, 360},    // surface current direction
    {8, 255},    // current 2 speed
    {9, 360},    // current 2 direction
    {5, 31},     // current 2 measuring level
    {8, 255},    // current 3 speed
    {9, 360},    // current 3 direction
    {5, 31},     // current 3 measuring level
    {8, 255},    // significant wave height
    {6, 63},     // wave period
    {9, 360},    // wave direction
    {8, 255},    // swell height
    {6, 63},     // swell period
    {9, 360},    // swell direction
};

// Top codes and ranges of the weather fields, in the units sent.
constexpr uint32_t CNUDOS_TOPE = 126;          // 126 knots or more
constexpr uint32_t CPRESION_TOPE = 402;        // 1201 hPa or more
constexpr int16_t ITEMPERATURA_LIMITE = 600;   // -60.0 .. +60.0 degrees C
constexpr int16_t IPUNTO_ROCIO_MINIMO = -200;  // -20.0 degrees C
constexpr int16_t IPUNTO_ROCIO_MAXIMO = 500;   // +50.0 degrees C

constexpr uint8_t CBITS_ESTADO_MAR = 4;
constexpr uint32_t LESTADO_MAR_NO_DISPONIBLE = 13;

// Fields 36 to 39.
constexpr CampoFijo kSinSensorTrasEstadoMar[] = {
    {10, 501},  // water temperature
    {3, 7},     // precipitation type
    {9, 510},   // salinity
    {2, 3},     // ice
};

uint32_t mascara(uint8_t cbits) {
    return cbits >= 32 ? 0xFFFFFFFFu : ((1u << cbits) - 1u);
}

void empaqueto(stcursor_ais& cursor, uint32_t lvalor, uint8_t cbits) {
    empaqueto_ais(&cursor, lvalor, cbits);
}

// A stored position (28-bit longitude or 27-bit latitude two's complement,
// 1/10000 minute) as its magnitude and hemisphere.
uint32_t magnitud_posicion(uint32_t lposicion, uint32_t lno_disponible, uint32_t lmodulo,
                           bool* pbnegativa) {
    lposicion &= lmodulo - 1u;
    *pbnegativa = lposicion > lno_disponible;
    return *pbnegativa ? lmodulo - lposicion : lposicion;
}

// The position in 1/1000 minute, truncated toward zero, in 28-bit form.
uint32_t posicion_msg8(uint32_t lposicion, uint32_t lno_disponible, uint32_t lmodulo) {
    bool bnegativa = false;
    const uint32_t lmagnitud = magnitud_posicion(lposicion, lno_disponible, lmodulo, &bnegativa);
    const int32_t lmilesimas = static_cast<int32_t>(lmagnitud / 10);
    return lconverter_complement_2(bnegativa ? -lmilesimas : lmilesimas);
}

// Tendency against the mean of the filled history entries, that is the
// readings of up to 18 sample intervals before the current one (three hours
// at the usual ten-minute interval). Without history it is not known.
uint8_t tendencia_msg8(const stsensor& canal) {
    uint32_t lsuma = 0;
    uint8_t centradas = 0;
    for (uint8_t k = 1; k <= CHISTORIA_PRESION; ++k) {
        const uint16_t ipresion = canal.iair_pressure[k];
        if (ipresion >= IPRESION_MINIMA && ipresion <= IPRESION_MAXIMA) {
            lsuma += ipresion;
            ++centradas;
        }
    }
    if (centradas == 0) {
        return CTENDENCIA_NO_DISPONIBLE;
    }
    // current - mean compared with 1 tenth, scaled by the count so that the
    // mean is never rounded: n * current - sum against n.
    const int32_t ldiferencia =
        static_cast<int32_t>(centradas) * canal.iair_pressure[0] - static_cast<int32_t>(lsuma);
    if (ldiferencia < -static_cast<int32_t>(centradas)) {
        return 1;
    }
    if (ldiferencia > static_cast<int32_t>(centradas)) {
        return 2;
    }
    return 0;
}

struct ValoresMeteo {
    uint32_t lcampo[CCAMPOS_METEO];  // as packed
    int32_t lfuente[CCAMPOS_METEO];  // the channel's stored value, for the trace
    uint32_t lestado_mar;
    int32_t lfuente_estado_mar;
};

void valores_no_disponibles(ValoresMeteo* pvalores) {
    for (uint8_t i = 0; i < CCAMPOS_METEO; ++i) {
        pvalores->lcampo[i] = kCamposMeteo[i].lno_disponible;
        pvalores->lfuente[i] = 0;
    }
    pvalores->lestado_mar = LESTADO_MAR_NO_DISPONIBLE;
    pvalores->lfuente_estado_mar = 0;
}

// A value beyond its field's range would go out cut to the field's low bits,
// a believable wrong reading: it is sent as the field's top code where the
// message has one ("126 knots or more") and as not available where not.
void fuera_de_rango(uint32_t* pcampo, const stsensor& canal) {
    for (uint8_t i = VIENTO; i <= RAFAGA; ++i) {
        if (pcampo[i] > CNUDOS_TOPE) {
            pcampo[i] = CNUDOS_TOPE;
        }
    }
    for (uint8_t i = DIRECCION_VIENTO; i <= DIRECCION_RAFAGA; ++i) {
        if (pcampo[i] > 359) {
            pcampo[i] = kCamposMeteo[i].lno_disponible;
        }
    }
    if (canal.iair_temperature < -ITEMPERATURA_LIMITE ||
        canal.iair_temperature > ITEMPERATURA_LIMITE) {
        pcampo[TEMPERATURA] = kCamposMeteo[TEMPERATURA].lno_disponible;
    }
    if (pcampo[HUMEDAD] > 100) {
        pcampo[HUMEDAD] = kCamposMeteo[HUMEDAD].lno_disponible;
    }
    if (canal.idew_point < IPUNTO_ROCIO_MINIMO || canal.idew_point > IPUNTO_ROCIO_MAXIMO) {
        pcampo[PUNTO_ROCIO] = kCamposMeteo[PUNTO_ROCIO].lno_disponible;
    }
}

void valores_de_canal(const stsensor& canal, ValoresMeteo* pvalores) {
    uint32_t* pcampo = pvalores->lcampo;
    int32_t* pfuente = pvalores->lfuente;
    pcampo[VIENTO] = canal.iaverage_wind_speed / 100u;
    pfuente[VIENTO] = canal.iaverage_wind_speed;
    pcampo[RAFAGA] = canal.iwind_gust_speed / 100u;
    pfuente[RAFAGA] = canal.iwind_gust_speed;
    pcampo[DIRECCION_VIENTO] = canal.iwind_direction;
    pfuente[DIRECCION_VIENTO] = canal.iwind_direction;
    pcampo[DIRECCION_RAFAGA] = canal.iwind_gust_direction;
    pfuente[DIRECCION_RAFAGA] = canal.iwind_gust_direction;
    pcampo[TEMPERATURA] = converter_complement_2(canal.iair_temperature);
    pfuente[TEMPERATURA] = canal.iair_temperature;
    pcampo[HUMEDAD] = canal.crelative_humidity;
    pfuente[HUMEDAD] = canal.crelative_humidity;
    pcampo[PUNTO_ROCIO] = converter_complement_2(canal.idew_point);
    pfuente[PUNTO_ROCIO] = canal.idew_point;
    const uint16_t ihpa = static_cast<uint16_t>(canal.iair_pressure[0] / 10);
    pcampo[PRESION] = ihpa > 798 ? static_cast<uint32_t>(ihpa - 799) : 0u;
    if (pcampo[PRESION] > CPRESION_TOPE) {
        pcampo[PRESION] = CPRESION_TOPE;
    }
    pfuente[PRESION] = canal.iair_pressure[0];
    pcampo[TENDENCIA] = tendencia_msg8(canal);
    pfuente[TENDENCIA] = canal.cair_pressure_tendency;
    pvalores->lestado_mar = calculo_estado_del_mar_segun_tabla_beaufort(canal.iaverage_wind_speed);
    pvalores->lfuente_estado_mar = canal.csea_state;
    fuera_de_rango(pcampo, canal);
    // The packer keeps each field's low bits.
    for (uint8_t i = 0; i < CCAMPOS_METEO; ++i) {
        pcampo[i] &= mascara(kCamposMeteo[i].cbits);
    }
}

// The last weather channel with valid data gives every weather value.
void valores_meteo(ValoresMeteo* pvalores) {
    valores_no_disponibles(pvalores);
    for (uint8_t i = 0; i < 2; ++i) {
        if (configuracion_sensor[i].csensor == 3 && sensor[i].ctimeout_datos_validos != 0) {
            valores_de_canal(sensor[i], pvalores);
        }
    }
}

void escribo_entero(int32_t lvalor) {
    if (lvalor < 0) {
        SerialUSB.print('-');
        lvalor = -lvalor;
    }
    SerialUSB.print(static_cast<unsigned int>(lvalor));
}

void traza_posicion(const char* pcetiqueta, uint32_t lcodificada, uint32_t lposicion,
                    uint32_t lno_disponible, uint32_t lmodulo, char cpositivo, char cnegativo) {
    SerialUSB.print('\t');
    SerialUSB.print(pcetiqueta);
    transmito_variable_hex(lcodificada, 8, '(');
    transmito_variable_hex(lposicion, 8, ' ');
    if ((lposicion & (lmodulo - 1u)) == lno_disponible) {
        SerialUSB.print(" NOT AVAILABLE");
    } else {
        bool bnegativa = false;
        const uint32_t lmagnitud =
            magnitud_posicion(lposicion, lno_disponible, lmodulo, &bnegativa);
        SerialUSB.print(static_cast<unsigned int>(lmagnitud / LDIEZMILESIMAS_POR_GRADO));
        SerialUSB.print(' ');
        const uint32_t lminutos = lmagnitud % LDIEZMILESIMAS_POR_GRADO;
        SerialUSB.print(static_cast<unsigned int>(lminutos / 10000));
        SerialUSB.print('.');
        transmito_variable(lminutos % 10000, 4, 0);
        SerialUSB.print(bnegativa ? cnegativo : cpositivo);
    }
    SerialUSB.print(')');
    linea();
}

void traza_campo(const char* pcetiqueta, uint32_t lvalor, uint32_t lno_disponible,
                 int32_t lfuente) {
    SerialUSB.print('\t');
    SerialUSB.print(pcetiqueta);
    SerialUSB.print(static_cast<unsigned int>(lvalor));
    if (lvalor == lno_disponible) {
        SerialUSB.print(" NOT AVAILABLE");
    } else {
        SerialUSB.print(" (");
        escribo_entero(lfuente);
        SerialUSB.print(')');
    }
    linea();
}

void traza_msg8(uint32_t llongitud, uint32_t llatitud, const ValoresMeteo& valores) {
    linea();
    SerialUSB.print("Mensaje 8 TX:");
    linea();
    SerialUSB.print("\tDAC:");
    SerialUSB.print(1);
    SerialUSB.print("\tFI:");
    SerialUSB.print(31);
    linea();
    SerialUSB.print("\tFecha:");
    transmito_variable(ktr09.cdia_utc, 2, ' ');
    transmito_variable(ktr09.chora_utc, 2, ':');
    transmito_variable(ktr09.cminuto_utc, 2, 1);
    traza_posicion("Longitud:", llongitud, stais.llongitud_ais_msg21, LONGITUD_NO_DISPONIBLE,
                   LMODULO_LONGITUD, 'E', 'W');
    traza_posicion("Latitud: ", llatitud, stais.llatitud_ais_msg21, LATITUD_NO_DISPONIBLE,
                   LMODULO_LATITUD, 'N', 'S');
    for (uint8_t i = 0; i < CCAMPOS_METEO; ++i) {
        traza_campo(kCamposMeteo[i].pcetiqueta, valores.lcampo[i], kCamposMeteo[i].lno_disponible,
                    valores.lfuente[i]);
    }
    traza_campo("Sea state: ", valores.lestado_mar, LESTADO_MAR_NO_DISPONIBLE,
                valores.lfuente_estado_mar);
    SerialUSB.print("Mensaje 8 Codificado (");
    SerialUSB.print(static_cast<unsigned int>(stais.cmsg_tx[0]));
    SerialUSB.print(") => ");
    SerialUSB.write(&stais.cmsg_tx[1], stais.cmsg_tx[0]);
    linea();
}

}  // namespace

void codifico_datos_trama_nmea_mensaje_8() {
    stcursor_ais cursor{};
    inicio_payload_ais(&cursor);
    empaqueto(cursor, 1, 10);  // DAC: international
    empaqueto(cursor, 31, 6);  // FI: meteorological and hydrographic data

    const uint32_t llongitud =
        posicion_msg8(stais.llongitud_ais_msg21, LONGITUD_NO_DISPONIBLE, LMODULO_LONGITUD);
    const uint32_t llatitud =
        posicion_msg8(stais.llatitud_ais_msg21, LATITUD_NO_DISPONIBLE, LMODULO_LATITUD);
    // The low bits of the 28-bit form are the narrower two's complement.
    empaqueto(cursor, llongitud, 25);
    empaqueto(cursor, llatitud, 24);
    empaqueto(cursor, stais.cposition_accurasy_msg21, 1);
    empaqueto(cursor, ktr09.cdia_utc, 5);
    empaqueto(cursor, ktr09.chora_utc, 5);
    empaqueto(cursor, ktr09.cminuto_utc, 6);

    ValoresMeteo valores{};
    valores_meteo(&valores);
    for (uint8_t i = 0; i < CCAMPOS_METEO; ++i) {
        empaqueto(cursor, valores.lcampo[i], kCamposMeteo[i].cbits);
    }
    for (const CampoFijo& campo : kSinSensorAntesEstadoMar) {
        empaqueto(cursor, campo.lvalor, campo.cbits);
    }
    empaqueto(cursor, valores.lestado_mar, CBITS_ESTADO_MAR);
    for (const CampoFijo& campo : kSinSensorTrasEstadoMar) {
        empaqueto(cursor, campo.lvalor, campo.cbits);
    }

    cierro_payload_ais(cursor, stais.cmsg_tx);

    if (stais.cextraigo != 1) {
        traza_msg8(llongitud, llatitud, valores);
    }
}
