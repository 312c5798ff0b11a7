#include "comunicaciones_canales.h"

#include <Arduino.h>

#include "comunicaciones_ema_airmar.h"
#include "comunicaciones_pc.h"
#include "declaraciones.h"
#include "main.h"

namespace {

constexpr uint8_t CBYTES_FRAME_TX = sizeof(sensor[0].cframe_tx);

// A reset pulse of 0, or longer than 20 s, is held for 20 s (tenths of a second).
constexpr uint16_t ITIEMPO_RESET_MAXIMO = 200;

constexpr uint8_t CSEGUNDOS_ALARMA = 30;
// Tenths of a second each weather-station command is given before the next step.
constexpr uint8_t CTIEMPO_RESPUESTA_EMA = 10;

// The station numbers its channels from 1 (the transponder): sensor channel 0 is 2.
uint8_t numero_canal_estacion(uint8_t ccanal) {
    return static_cast<uint8_t>(ccanal + 2);
}

void inserto_terminador(uint8_t ccaracter_final, uint8_t ccanal) {
    if (ccaracter_final == 1) {
        inserto_linea_sensor(ccanal);
    } else if (ccaracter_final != 0) {
        introduccion_byte_frame_sensor(ccaracter_final, ccanal);
    }
}

// Exactly ccifras digits of laux in the table's base (higher digits lost;
// digits beyond the table are leading zeros), or, with ccifras 0, its digits
// without leading zeros, at most cmaximo_libre of them.
void inserto_cifras(uint32_t laux, uint8_t ccifras, uint8_t cmaximo_libre,
                    const uint32_t* ppotencias, uint8_t ctabla, uint8_t ccanal) {
    if (ccifras == 0) {
        ccifras = 1;
        while (ccifras < cmaximo_libre && laux / ppotencias[ccifras - 1] >= ppotencias[1]) {
            ++ccifras;
        }
    }
    for (; ccifras > ctabla; --ccifras) {
        introduccion_byte_frame_sensor('0', ccanal);
    }
    const uint32_t lbase = ppotencias[1];
    for (uint8_t k = ccifras; k > 0; --k) {
        const uint32_t ldigito = (laux / ppotencias[k - 1]) % lbase;
        introduccion_byte_frame_sensor(cvalores_ascii[ldigito], ccanal);
    }
}

void envio_comando_ema(const char* pccomando, uint8_t ccanal) {
    stsensor& canal = sensor[ccanal];
    escribo_mensaje_frame_sensor(pccomando, ccanal);
    inserto_linea_sensor(ccanal);
    envio_frame_sensor(ccanal);
    canal.ctimeout_respuesta_comando = CTIEMPO_RESPUESTA_EMA;
    canal.cesperando_respuesta = 1;
}

}  // namespace

// Holds the reset output active for its configured pulse; the tick releases it.
void activo_salida_reset(uint8_t csalida) {
    if (csalida == 0 || csalida > 4) {
        return;
    }
    const uint8_t j = static_cast<uint8_t>(csalida - 1);
    uint16_t itiempo = configuracion_ktr09.itemporizacion_salida_digital[j];
    if (itiempo == 0 || itiempo > ITIEMPO_RESET_MAXIMO) {
        itiempo = ITIEMPO_RESET_MAXIMO;
    }
    // State first: the tick ends a pulse only when its time runs out, so a
    // tick between the stores must not find the time loaded and the state
    // still off (it would end the pulse before it starts and leave it on).
    ktr09.cestado_salida_digital[j] = 1;
    ktr09.itiempo_activacion_salida_digital[j] = itiempo;
}

void reset_sensor(uint8_t cinicio, uint8_t ccanal) {
    if (ccanal > CANAL_SENSOR_2 || configuracion_sensor[ccanal].csensor == CSENSOR_NINGUNO) {
        return;
    }
    stsensor& canal = sensor[ccanal];
    const bool btraza = canal.cextraigo != 0;
    if (cinicio == 0) {
        disable_canal(ccanal);
        ++canal.ccantidad_resets;
        if (btraza) {
            SerialUSB.print("Inicio Canal ");
            SerialUSB.print(static_cast<unsigned int>(numero_canal_estacion(ccanal)));
            SerialUSB.print(" => ");
        }
        if (canal.ccantidad_resets > 9) {
            canal.calarma = 1;
            canal.ccantidad_resets = 0;
        }
    }
    if (btraza) {
        linea();
        SerialUSB.print("\tCANAL ");
        SerialUSB.print(static_cast<unsigned int>(numero_canal_estacion(ccanal)));
        SerialUSB.print(" => ");
        if (canal.calarma == 1) {
            SerialUSB.print("Alarm !!!!");
        } else {
            SerialUSB.print("Reset ");
            SerialUSB.print(static_cast<unsigned int>(canal.ccantidad_resets));
        }
        linea();
    }
    activo_salida_reset(configuracion_sensor[ccanal].csalida_reset);
    inicializacion_sensor(cinicio, ccanal);
}

void inicializacion_sensor(uint8_t cinicio, uint8_t ccanal) {
    if (ccanal > CANAL_SENSOR_2) {
        return;
    }
    stsensor& canal = sensor[ccanal];
    const stconfiguracion_sensor& config = configuracion_sensor[ccanal];
    if (cinicio == 1) {
        canal.ccantidad_resets = 0;
        canal.calarma = 0;
    }
    canal.creset = 0;
    for (uint16_t& ipresion : canal.iair_pressure) {
        ipresion = 0;
    }
    // The tendency compares with the history, so its count goes with it.
    canal.cair_pressure_muestras_temporales = 0;
    canal.cair_pressure_tendency = 0;
    canal.iaverage_wind_speed = 0;
    canal.iwind_direction = 0;
    canal.iwind_gust_direction = 0;
    canal.iwind_gust_speed = 0;
    canal.crelative_humidity = 0;
    canal.iair_temperature = 0;
    canal.idew_point = 0;
    canal.csea_state = 0;
    canal.cesperando_respuesta = 0;
    canal.ctimeout_respuesta_comando = 0;
    canal.ccomando = 0;
    canal.cnueva_muestra = 0;
    canal.ibytes_rx = 0;
    canal.ibytes_rx_tide = 0;
    canal.cparte_siguiente_tide = 0;
    canal.ctimeout_rx_frame = 0;
    canal.cextraigo = 0;
    canal.cnew_msg6 = 0;
    canal.ctimeout_datos_validos = 0;
    for (unsigned char& cbyte : canal.cpayload_msg6) {
        cbyte = 0;
    }
    canal.cconfiguracion = 1;
    canal.cdelay = config.cseg_delay_inicial;

    switch (config.csensor) {
        case CSENSOR_EMA:
            lectura_configuracion_ema_airmar(ccanal);
            reset_muestra_ema(1, ccanal);
            canal.ctimeout_alarm = CSEGUNDOS_ALARMA;
            inicializacion_canales(ccanal);
            break;
        case CSENSOR_ESTACION_BASE:
        case CSENSOR_TIDELINK:
            inicializacion_canales(ccanal);
            break;
        default:  // no device, or one the station does not know: the port stays closed
            break;
    }
}

void envio_frame_sensor(uint8_t ccanal) {
    if (ccanal > CANAL_SENSOR_2) {
        return;
    }
    const stsensor& canal = sensor[ccanal];
    const uint8_t cbytes = canal.cbytes_tx <= CBYTES_FRAME_TX ? canal.cbytes_tx : CBYTES_FRAME_TX;
    if (canal.cextraigo != 0) {
        SerialUSB.print(ccanal == CANAL_SENSOR_1 ? "Canal 2 TX (" : "Canal 3 TX (");
        SerialUSB.print(static_cast<unsigned int>(cbytes));
        SerialUSB.print(")=> ");
        traza_bytes_visibles(canal.cframe_tx, cbytes);
        linea();
    }
    Uart& uart = uart_canal(ccanal);
    uart.write(canal.cframe_tx, cbytes);
    uart.flush();
}

void lectura_configuracion_ema_airmar(uint8_t ccanal) {
    if (ccanal > CANAL_SENSOR_2) {
        return;
    }
    const stconfiguracion_sensor& config = configuracion_sensor[ccanal];
    linea();
    linea_asteriscos(59);
    SerialUSB.print("\t\tConfiguracion EMA:");
    linea();
    linea_asteriscos(59);
    SerialUSB.print("\tSample interval:");
    SerialUSB.print(static_cast<unsigned int>(config.csample_interval));
    SerialUSB.print(" min.");
    linea();
    SerialUSB.print("\tTipo direccion viento:");
    SerialUSB.print(config.cdireccionamiento_viento == 1 ? " Verdadero" : " Magnetico");
    linea();
    SerialUSB.print("\tRetardo inicial:");
    SerialUSB.print(static_cast<unsigned int>(config.cseg_delay_inicial));
    SerialUSB.print(" seg");
    linea();
    SerialUSB.print("\tReset:");
    const uint8_t csalida = config.csalida_reset;
    if (csalida == 0 || csalida > 4) {
        SerialUSB.print("Disable");
    } else {
        const uint8_t j = static_cast<uint8_t>(csalida - 1);
        SerialUSB.print(configuracion_ktr09.cestado_en_reposo_salida_digital[j] == 0 ? " NA"
                                                                                     : " NC");
        SerialUSB.print('\t');
        SerialUSB.print(
            static_cast<double>(configuracion_ktr09.itemporizacion_salida_digital[j]) / 10.0, 1);
        SerialUSB.print(" seg.");
    }
    linea();
}

void envio_comandos_ema_airmar(uint8_t ccanal) {
    if (ccanal > CANAL_SENSOR_2) {
        return;
    }
    stsensor& canal = sensor[ccanal];
    canal.cbytes_tx = 0;
    switch (canal.ccomando) {
        case 0:
            if (canal.cconfiguracion == 1) {
                canal.ccomando = 1;
                canal.cconfiguracion = 2;
            }
            break;
        case 1:
            // Every output sentence off, so that only what is asked for next comes.
            envio_comando_ema("$PAMTC,EN,ALL,0*1D", ccanal);
            break;
        case 2:
            // $WIMDA every 10 tenths of a second.
            envio_comando_ema("$PAMTC,EN,MDA,1,10*38", ccanal);
            break;
        default:
            break;
    }
}

void introduccion_byte_frame_sensor(uint8_t cbyte, uint8_t ccanal) {
    if (ccanal > CANAL_SENSOR_2) {
        return;
    }
    stsensor& canal = sensor[ccanal];
    if (canal.cbytes_tx < CBYTES_FRAME_TX) {
        canal.cframe_tx[canal.cbytes_tx] = cbyte;
    }
    if (canal.ccalculo_checksum_nmea == 1) {
        canal.cchecksum_nmea ^= cbyte;
    }
    if (canal.cbytes_tx < CBYTES_FRAME_TX) {
        ++canal.cbytes_tx;
    }
}

void escribo_mensaje_frame_sensor(const char* pcmensaje, uint8_t ccanal) {
    for (const char* p = pcmensaje; *p != '\0'; ++p) {
        introduccion_byte_frame_sensor(static_cast<uint8_t>(*p), ccanal);
    }
}

void inserto_linea_sensor(uint8_t ccanal) {
    introduccion_byte_frame_sensor('\r', ccanal);
    introduccion_byte_frame_sensor('\n', ccanal);
}

void inserto_variable_sensor(uint32_t laux, uint8_t cnumero_cifras, uint8_t ccaracter_final,
                             uint8_t ccanal) {
    inserto_cifras(laux, cnumero_cifras, 10, lvalores_decimales, 10, ccanal);
    inserto_terminador(ccaracter_final, ccanal);
}

void inserto_variable_float_sensor(float fvalor, uint8_t cnumero_cifras, uint8_t cnumero_decimales,
                                   uint8_t ccaracter_final, uint8_t ccanal) {
    // Decimals beyond the power table cannot be scaled into 32 bits.
    if (cnumero_decimales > 9) {
        cnumero_decimales = 9;
    }
    if (fvalor < 0.0f) {
        introduccion_byte_frame_sensor('-', ccanal);
        fvalor = -fvalor;
    }
    const uint32_t lescala = lvalores_decimales[cnumero_decimales];
    // Truncated in single precision; a value beyond 32 bits (or not a number)
    // is held at the limit rather than converted out of range.
    const float fescalado = fvalor * static_cast<float>(lescala);
    uint32_t lescalado = 0;
    if (fescalado >= 4294967040.0f) {
        lescalado = 0xFFFFFFFFu;
    } else if (fescalado > 0.0f) {
        lescalado = static_cast<uint32_t>(fescalado);
    }
    inserto_cifras(lescalado / lescala, cnumero_cifras, 9, lvalores_decimales, 10, ccanal);
    uint32_t lfraccion = lescalado % lescala;
    if (lfraccion != 0) {
        introduccion_byte_frame_sensor('.', ccanal);
        for (uint8_t k = cnumero_decimales; k > 0 && lfraccion != 0; --k) {
            const uint32_t lpotencia = lvalores_decimales[k - 1];
            introduccion_byte_frame_sensor(cvalores_ascii[lfraccion / lpotencia], ccanal);
            lfraccion %= lpotencia;
        }
    }
    inserto_terminador(ccaracter_final, ccanal);
}

void inserto_variable_hex_sensor(uint32_t laux, uint8_t cnumero_cifras, uint8_t ccaracter_final,
                                 uint8_t ccanal) {
    if (cnumero_cifras != 0) {
        inserto_cifras(laux, cnumero_cifras, 8, lvalores_hexadecimales, 8, ccanal);
    }
    inserto_terminador(ccaracter_final, ccanal);
}
