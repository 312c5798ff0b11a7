#include "comunicaciones_ema_airmar.h"

#include <Arduino.h>
#include <math.h>

#include "comunicaciones_pc.h"
#include "declaraciones.h"
#include "nmea.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

constexpr uint8_t kLf = 10;

// Fields of $WIMDA, numbered from 1 after the address field.
constexpr uint8_t CAMPO_PRESION_BARES = 3;
constexpr uint8_t CAMPO_TEMPERATURA_AIRE = 5;
constexpr uint8_t CAMPO_HUMEDAD_RELATIVA = 9;
constexpr uint8_t CAMPO_PUNTO_ROCIO = 11;
constexpr uint8_t CAMPO_DIRECCION_VERDADERA = 13;
constexpr uint8_t CAMPO_DIRECCION_MAGNETICA = 15;
constexpr uint8_t CAMPO_UNIDAD_DIRECCION_MAGNETICA = 16;
constexpr uint8_t CAMPO_VELOCIDAD_NUDOS = 17;
constexpr uint8_t CAMPO_UNIDAD_NUDOS = 18;

constexpr uint8_t CLONGITUD_CABECERA_WIMDA = 7;  // "$WIMDA,"

constexpr float FVIENTO_MAXIMO = 126.0f;
constexpr float FDIRECCION_MAXIMA = 359.99f;
constexpr uint8_t CHISTORIA_PRESION = 18;

// Upper bounds (knots, inclusive) of Beaufort forces 0..11; above the last is 12.
constexpr float kLimitesBeaufort[12] = {1, 3, 6, 10, 16, 21, 27, 33, 40, 47, 55, 63};

// Integer part of a published value. The sums are single precision, so a
// mean that is whole (180 degrees, 1013.3 hPa) can come out a few millionths
// short of it; those are taken as the whole value before truncating.
int32_t parte_entera(double dvalor) {
    constexpr double kHolgura = 0.001;
    if (dvalor < 0) {
        return -static_cast<int32_t>(-dvalor + kHolgura);
    }
    return static_cast<int32_t>(dvalor + kHolgura);
}

float limitado(float fvalor, float fminimo, float fmaximo) {
    if (fvalor < fminimo) {
        return fminimo;
    }
    if (fvalor > fmaximo) {
        return fmaximo;
    }
    return fvalor;
}

// Whole degrees 0..359 of a direction given by its sine and cosine.
uint16_t grados_de_vector(float fseno, float fcoseno) {
    double dgrados = atan2(static_cast<double>(fseno), static_cast<double>(fcoseno)) * 180.0 / kPi;
    if (dgrados < 0) {
        dgrados += 360.0;
    }
    const int32_t igrados = parte_entera(dgrados);
    return igrados >= 360 ? 359 : static_cast<uint16_t>(igrados);
}

// One accepted reading, before it enters the sums.
struct LecturaEma {
    float fvelocidad;  // knots, 0..126
    float fseno;
    float fcoseno;
    float fhumedad;
    float fpunto_rocio;
    float fpresion;  // bars
    float ftemperatura;
};

// An empty field must not drag a mean towards zero. Within a sample it takes
// the mean of the sentences summed so far, which leaves that mean as it is;
// in the first sentence of a sample it takes the last published value.
float campo_o_sustituto(uint8_t ccampo, const uint8_t* pctrama, uint16_t iinicio, uint16_t ifin,
                        float fsuma, uint16_t inumero, float fpublicado) {
    float fvalor = 0.0f;
    if (extraccion_dato_nmea_float(ccampo, pctrama, iinicio, ifin, &fvalor) == 1) {
        return fvalor;
    }
    if (inumero != 0) {
        return fsuma / static_cast<float>(inumero);
    }
    return fpublicado;
}

// First character of a field, or 0 when the sentence has no such field.
uint8_t primer_caracter_campo(uint8_t ccampo, const uint8_t* pctrama, uint16_t iinicio,
                              uint16_t ifin) {
    const uint16_t iposicion = busqueda_campo(ccampo, pctrama, iinicio, ifin);
    return iposicion < ifin ? pctrama[iposicion] : 0;
}

void lectura_wimda(const stsensor& canal, uint8_t cdireccionamiento_viento, const uint8_t* pctrama,
                   uint16_t iinicio, uint16_t ifin, LecturaEma* plectura) {
    // An empty wind speed counts as calm.
    float fvelocidad = 0.0f;
    (void)extraccion_dato_nmea_float(CAMPO_VELOCIDAD_NUDOS, pctrama, iinicio, ifin, &fvelocidad);
    plectura->fvelocidad = limitado(fvelocidad, 0.0f, FVIENTO_MAXIMO);

    // An empty direction adds a null vector: the direction of the sums stays.
    const uint8_t ccampo_direccion =
        cdireccionamiento_viento == 1 ? CAMPO_DIRECCION_VERDADERA : CAMPO_DIRECCION_MAGNETICA;
    float fdireccion = 0.0f;
    if (extraccion_dato_nmea_float(ccampo_direccion, pctrama, iinicio, ifin, &fdireccion) == 1) {
        if (fdireccion > FDIRECCION_MAXIMA) {
            fdireccion = FDIRECCION_MAXIMA;
        }
        const float fradianes = static_cast<float>(static_cast<double>(fdireccion) * kPi / 180.0);
        plectura->fseno = static_cast<float>(sin(static_cast<double>(fradianes)));
        plectura->fcoseno = static_cast<float>(cos(static_cast<double>(fradianes)));
    } else {
        plectura->fseno = 0.0f;
        plectura->fcoseno = 0.0f;
    }

    const uint16_t n = canal.inumero_muestras_average;
    plectura->fhumedad =
        campo_o_sustituto(CAMPO_HUMEDAD_RELATIVA, pctrama, iinicio, ifin,
                          canal.fsumatorio_relative_humidity, n, canal.crelative_humidity);
    plectura->fpunto_rocio =
        campo_o_sustituto(CAMPO_PUNTO_ROCIO, pctrama, iinicio, ifin, canal.fsumatorio_dew_point, n,
                          static_cast<float>(canal.idew_point) / 10.0f);
    plectura->fpresion = campo_o_sustituto(CAMPO_PRESION_BARES, pctrama, iinicio, ifin,
                                           canal.fsumatorio_air_pressure, n,
                                           static_cast<float>(canal.iair_pressure[0]) / 10000.0f);
    plectura->ftemperatura = campo_o_sustituto(CAMPO_TEMPERATURA_AIRE, pctrama, iinicio, ifin,
                                               canal.fsumatorio_air_temperature, n,
                                               static_cast<float>(canal.iair_temperature) / 10.0f);
}

// Three staggered windows of three sentences: one closes at every sentence
// from the third on, so the gust is the largest three-sentence mean.
void ventanas_rafaga(stsensor& canal, const LecturaEma& lectura) {
    for (uint8_t j = 0; j < 3; ++j) {
        signed char& ccontador = canal.cmuestras_calculo_gust[j];
        float& fvelocidad = canal.fsumatorio_wind_gust_speed[j];
        float& fseno = canal.fsumatorio_seno_wind_gust_direction[j];
        float& fcoseno = canal.fsumatorio_coseno_wind_gust_direction[j];
        switch (ccontador) {
            case 0:
                fvelocidad = lectura.fvelocidad;
                fseno = lectura.fseno;
                fcoseno = lectura.fcoseno;
                ccontador = 1;
                break;
            case 1:
                fvelocidad += lectura.fvelocidad;
                fseno += lectura.fseno;
                fcoseno += lectura.fcoseno;
                ccontador = 2;
                break;
            case 2: {
                fvelocidad += lectura.fvelocidad;
                fseno += lectura.fseno;
                fcoseno += lectura.fcoseno;
                const float fmedia = fvelocidad / 3.0f;
                if (fmedia > canal.fwind_gust_speed) {
                    canal.fwind_gust_speed = fmedia;
                    canal.fseno_wind_gust_direction = fseno / 3.0f;
                    canal.fcoseno_wind_gust_direction = fcoseno / 3.0f;
                    if (canal.cextraigo != 0) {
                        SerialUSB.print("Nueva rafaga => ");
                        SerialUSB.print(static_cast<double>(canal.fwind_gust_speed), 2);
                        SerialUSB.print(' ');
                        SerialUSB.print(static_cast<double>(canal.fseno_wind_gust_direction), 2);
                        SerialUSB.print(' ');
                        SerialUSB.print(static_cast<double>(canal.fcoseno_wind_gust_direction), 2);
                        linea();
                    }
                }
                ccontador = 0;
                break;
            }
            default:  // a window that has not started yet
                ++ccontador;
                break;
        }
    }
}

void acumulo_wimda(uint8_t ccanal, const uint8_t* pctrama, uint16_t iinicio, uint16_t ifin) {
    stsensor& canal = sensor[ccanal];
    LecturaEma lectura{};
    lectura_wimda(canal, configuracion_sensor[ccanal].cdireccionamiento_viento, pctrama, iinicio,
                  ifin, &lectura);
    ventanas_rafaga(canal, lectura);
    canal.fsumatorio_wind_speed += lectura.fvelocidad;
    canal.fsumatorio_coseno_wind_direction += lectura.fcoseno;
    canal.fsumatorio_seno_wind_direction += lectura.fseno;
    canal.fsumatorio_relative_humidity += lectura.fhumedad;
    canal.fsumatorio_dew_point += lectura.fpunto_rocio;
    canal.fsumatorio_air_pressure += lectura.fpresion;
    canal.fsumatorio_air_temperature += lectura.ftemperatura;
    if (canal.inumero_muestras_average != 0xFFFF) {
        ++canal.inumero_muestras_average;
    }
}

// Steady within 0.1 hPa either way.
uint8_t tendencia_presion(uint16_t iactual, uint16_t ireferencia) {
    if (iactual + 1 < ireferencia) {
        return 1;
    }
    if (iactual > ireferencia + 1) {
        return 2;
    }
    return 0;
}

void escribo_dos_cifras(uint8_t cvalor, uint8_t cterminador) {
    transmito_variable(cvalor, 2, cterminador);
}

void informe_muestra(const stsensor& canal) {
    linea();
    SerialUSB.print("****************      Nueva muestra EMA (");
    escribo_dos_cifras(ktr09.cdia_utc, '/');
    escribo_dos_cifras(ktr09.cmes_utc, '/');
    escribo_dos_cifras(ktr09.cano_utc, ' ');
    escribo_dos_cifras(ktr09.chora_utc, ':');
    escribo_dos_cifras(ktr09.cminuto_utc, ')');
    SerialUSB.print("        *************");
    linea();
    SerialUSB.print("\tAverage wind Speed: ");
    SerialUSB.print(static_cast<double>(canal.iaverage_wind_speed) / 100.0, 2);
    SerialUSB.print("\tWind direction: ");
    SerialUSB.print(static_cast<unsigned int>(canal.iwind_direction));
    linea();
    SerialUSB.print("\tWind gust speed: ");
    SerialUSB.print(static_cast<double>(canal.iwind_gust_speed) / 100.0, 2);
    SerialUSB.print("\tGust direction: ");
    SerialUSB.print(static_cast<unsigned int>(canal.iwind_gust_direction));
    linea();
    SerialUSB.print("\tAir pressure: ");
    SerialUSB.print(static_cast<double>(canal.iair_pressure[0]) / 10.0, 1);
    SerialUSB.print("\tPressure tendecy: ");
    SerialUSB.print(static_cast<unsigned int>(canal.cair_pressure_tendency));
    linea();
    SerialUSB.print("\tRelative humidity: ");
    SerialUSB.print(static_cast<unsigned int>(canal.crelative_humidity));
    SerialUSB.print(" %");
    linea();
    SerialUSB.print("\tAir temperature: ");
    SerialUSB.print(static_cast<double>(canal.iair_temperature) / 10.0, 1);
    SerialUSB.print("\tDew point: ");
    SerialUSB.print(static_cast<double>(canal.idew_point) / 10.0, 1);
    SerialUSB.print("\tSea state: ");
    SerialUSB.print(static_cast<unsigned int>(canal.csea_state));
    linea();
    linea();
}

// Tenths of a degree, truncated toward zero, of a mean limited to -50..80 C.
int16_t decimas_grado(float fsuma, float fnumero) {
    const float fmedia = limitado(fsuma / fnumero, -50.0f, 80.0f);
    return static_cast<int16_t>(parte_entera(fmedia * 10.0f));
}

void cierro_muestra(uint8_t ccanal) {
    stsensor& canal = sensor[ccanal];
    if (canal.inumero_muestras_average == 0) {
        return;
    }
    const float fnumero = static_cast<float>(canal.inumero_muestras_average);

    const float fviento = limitado(canal.fsumatorio_wind_speed / fnumero, 0.0f, FVIENTO_MAXIMO);
    canal.iaverage_wind_speed = static_cast<uint16_t>(parte_entera(fviento * 100.0f));
    canal.iwind_direction = grados_de_vector(canal.fsumatorio_seno_wind_direction / fnumero,
                                             canal.fsumatorio_coseno_wind_direction / fnumero);
    // The gust never exceeds the clamped speeds it is the mean of.
    canal.iwind_gust_speed = static_cast<uint16_t>(parte_entera(canal.fwind_gust_speed * 100.0f));
    canal.iwind_gust_direction =
        grados_de_vector(canal.fseno_wind_gust_direction, canal.fcoseno_wind_gust_direction);

    const float fhumedad = limitado(canal.fsumatorio_relative_humidity / fnumero, 0.0f, 100.0f);
    canal.crelative_humidity = static_cast<uint8_t>(parte_entera(fhumedad));
    canal.idew_point = decimas_grado(canal.fsumatorio_dew_point, fnumero);

    for (uint8_t k = CHISTORIA_PRESION; k > 0; --k) {
        canal.iair_pressure[k] = canal.iair_pressure[k - 1];
    }
    const float fhpa = limitado(canal.fsumatorio_air_pressure / fnumero * 1000.0f, 200.0f, 1500.0f);
    canal.iair_pressure[0] = static_cast<uint16_t>(parte_entera(fhpa * 10.0f));

    uint8_t cmuestras = canal.cair_pressure_muestras_temporales;
    if (cmuestras > CHISTORIA_PRESION) {
        cmuestras = CHISTORIA_PRESION;
    }
    canal.cair_pressure_tendency =
        tendencia_presion(canal.iair_pressure[0], canal.iair_pressure[cmuestras]);
    if (cmuestras < CHISTORIA_PRESION) {
        ++cmuestras;
    }
    canal.cair_pressure_muestras_temporales = cmuestras;

    canal.iair_temperature = decimas_grado(canal.fsumatorio_air_temperature, fnumero);
    canal.csea_state = calculo_estado_del_mar_segun_tabla_beaufort(canal.iaverage_wind_speed);

    informe_muestra(canal);

    canal.ctimeout_datos_validos = configuracion_sensor[ccanal].ctimeout_datos_validos;
    stais.itimeout_tx_msg8 = 0;
}

// One sentence of the burst, start to its line feed (or the burst's end).
void procesamos_sentencia(uint8_t ccanal, const uint8_t* pctrama, uint16_t iinicio, uint16_t ifin) {
    stsensor& canal = sensor[ccanal];
    uint8_t cchecksum = 0;
    if (comprobacion_checksum_nmea(pctrama, iinicio, ifin, &cchecksum, 2) != 1) {
        SerialUSB.print("Checksum calculado erroneo => ");
        transmito_variable_hex(cchecksum, 2, 1);
        return;
    }
    canal.ctimeout_alarm = 30;
    canal.ccantidad_resets = 0;
    canal.calarma = 0;

    if (ifin - iinicio < CLONGITUD_CABECERA_WIMDA ||
        comparacion(pctrama, m_cabecera_nmea_wimda, CLONGITUD_CABECERA_WIMDA, iinicio) != 1) {
        // The station talks but not as configured: configure it again.
        if (canal.cconfiguracion == 0) {
            SerialUSB.print("Nueva configuracion");
            canal.cconfiguracion = 1;
        }
        return;
    }
    if (primer_caracter_campo(CAMPO_UNIDAD_DIRECCION_MAGNETICA, pctrama, iinicio, ifin) == 'M' &&
        primer_caracter_campo(CAMPO_UNIDAD_NUDOS, pctrama, iinicio, ifin) == 'N') {
        acumulo_wimda(ccanal, pctrama, iinicio, ifin);
    }
    if (canal.cnueva_muestra == 1) {
        cierro_muestra(ccanal);
        reset_muestra_ema(0, ccanal);
    }
}

}  // namespace

void procesamos_trama_rx_estacion_meteorologica(uint8_t ccanal) {
    if (ccanal > 1) {
        return;
    }
    stsensor& canal = sensor[ccanal];
    const uint8_t* pctrama = canal.cframe_rx;
    uint16_t n = canal.ibytes_rx;
    if (n > sizeof(canal.cframe_rx)) {
        n = sizeof(canal.cframe_rx);
    }
    if (canal.cextraigo == 2) {
        SerialUSB.print("Sensor Rx (");
        SerialUSB.print(static_cast<unsigned int>(n));
        SerialUSB.print(")=> ");
        SerialUSB.write(pctrama, n);
        linea();
    }
    uint16_t iinicio = 0;
    while (iinicio < n) {
        const uint16_t ifin = ibusqueda_dato_en_buffer_rx(pctrama, kLf, 1, iinicio, n);
        if (canal.cextraigo != 0) {
            SerialUSB.print("Procesando: ");
            // A sentence cut by the end of the burst has no line feed to show.
            const uint16_t iultimo = ifin < n ? ifin : static_cast<uint16_t>(n - 1);
            traza_bytes_visibles(&pctrama[iinicio], static_cast<uint16_t>(iultimo - iinicio + 1));
            linea();
        }
        procesamos_sentencia(ccanal, pctrama, iinicio, ifin);
        iinicio = static_cast<uint16_t>(ifin + 1);
    }
}

void reset_muestra_ema(uint8_t cinicio, uint8_t ccanal) {
    if (ccanal > 1) {
        return;
    }
    stsensor& canal = sensor[ccanal];
    canal.inumero_muestras_average = 0;
    canal.fsumatorio_wind_speed = 0.0f;
    canal.fsumatorio_coseno_wind_direction = 0.0f;
    canal.fsumatorio_seno_wind_direction = 0.0f;
    canal.fsumatorio_air_pressure = 0.0f;
    canal.fsumatorio_relative_humidity = 0.0f;
    canal.fsumatorio_air_temperature = 0.0f;
    canal.fsumatorio_dew_point = 0.0f;
    canal.fwind_gust_speed = 0.0f;
    canal.fcoseno_wind_gust_direction = 0.0f;
    canal.fseno_wind_gust_direction = 0.0f;
    if (cinicio == 1) {
        for (uint8_t j = 0; j < 3; ++j) {
            canal.cmuestras_calculo_gust[j] = static_cast<signed char>(-j);
            canal.fsumatorio_wind_gust_speed[j] = 0.0f;
            canal.fsumatorio_coseno_wind_gust_direction[j] = 0.0f;
            canal.fsumatorio_seno_wind_gust_direction[j] = 0.0f;
        }
    }
    canal.cnueva_muestra = 0;
}

uint8_t calculo_estado_del_mar_segun_tabla_beaufort(uint16_t inudos_viento) {
    const float fnudos = static_cast<float>(inudos_viento) / 100.0f;
    for (uint8_t cfuerza = 0; cfuerza < 12; ++cfuerza) {
        if (fnudos <= kLimitesBeaufort[cfuerza]) {
            return cfuerza;
        }
    }
    return 12;
}
