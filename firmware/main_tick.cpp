#include <Arduino.h>
#include <sodaq_wdt.h>

#include "declaraciones.h"
#include "ktr09_board.h"
#include "main.h"

// ---- Timer TC0 ----------------------------------------------------------------

static uint32_t codigo_prescaler(uint32_t prescaler) {
    switch (prescaler) {
        case 2:
            return TC_CTRLA_PRESCALER_DIV2;
        case 4:
            return TC_CTRLA_PRESCALER_DIV4;
        case 8:
            return TC_CTRLA_PRESCALER_DIV8;
        case 16:
            return TC_CTRLA_PRESCALER_DIV16;
        case 64:
            return TC_CTRLA_PRESCALER_DIV64;
        case 256:
            return TC_CTRLA_PRESCALER_DIV256;
        case 1024:
            return TC_CTRLA_PRESCALER_DIV1024;
        default:
            return TC_CTRLA_PRESCALER_DIV1;
    }
}

static void espera_sincronizacion_tc0(uint32_t cbits) {
    while ((TC0->COUNT16.SYNCBUSY & cbits) != 0) {
    }
}

void setup_timerTC0(uint32_t prescaler, uint32_t ccVal) {
    NVIC_DisableIRQ(TC0_IRQn);
    NVIC_ClearPendingIRQ(TC0_IRQn);
    NVIC_SetPriority(TC0_IRQn, 1);
    TC0->COUNT16.INTFLAG = TC_INTFLAG_MC0;

    GCLK->PCHCTRL[TC0_GCLK_ID] = GCLK_PCHCTRL_GEN_GCLK1 | GCLK_PCHCTRL_CHEN;
    while ((GCLK->PCHCTRL[TC0_GCLK_ID] & GCLK_PCHCTRL_CHEN) == 0) {
    }

    TC0->COUNT16.CTRLA &= ~TC_CTRLA_ENABLE;
    espera_sincronizacion_tc0(TC_SYNCBUSY_ENABLE);
    TC0->COUNT16.CTRLA = TC_CTRLA_SWRST;
    espera_sincronizacion_tc0(TC_SYNCBUSY_SWRST);
    while ((TC0->COUNT16.CTRLA & TC_CTRLA_SWRST) != 0) {
    }

    TC0->COUNT16.CTRLA = TC_CTRLA_MODE_COUNT16 | codigo_prescaler(prescaler);
    TC0->COUNT16.WAVE = TC_WAVE_WAVEGEN_MFRQ;
    TC0->COUNT16.CC[0] = static_cast<uint16_t>(ccVal);
    espera_sincronizacion_tc0(TC_SYNCBUSY_CC0);
    TC0->COUNT16.INTENSET = TC_INTENSET_MC0;
}

void start_timerTC0() {
    TC0->COUNT16.CTRLA |= TC_CTRLA_ENABLE;
    espera_sincronizacion_tc0(TC_SYNCBUSY_ENABLE);
    NVIC_EnableIRQ(TC0_IRQn);
}

void stop_timerTC0() {
    TC0->COUNT16.CTRLA &= ~TC_CTRLA_ENABLE;
    espera_sincronizacion_tc0(TC_SYNCBUSY_ENABLE);
    TC0->COUNT16.CTRLA = TC_CTRLA_SWRST;
    while ((TC0->COUNT16.CTRLA & TC_CTRLA_SWRST) != 0) {
    }
}

extern "C" void TC0_Handler() {
    TC0->COUNT16.INTFLAG = TC_INTFLAG_MC0;
    interrupcion_timer_cada_miliseg();
}

// ---- Countdowns -------------------------------------------------------------

template <typename T>
static inline void descontar(T& campo) {
    if (campo != 0) {
        campo = static_cast<T>(campo - 1);
    }
}

static inline void descontar(volatile uint8_t& campo) {
    if (campo != 0) {
        campo = static_cast<uint8_t>(campo - 1);
    }
}

// ---- Inputs and outputs -----------------------------------------------------

// Debounce of one input whose pin reads `cnivel`: `pcontador` counts samples
// at that level, `potro` the samples at the other level.
static void antirrebote_entrada(uint8_t i, uint8_t cnivel, volatile uint16_t& pcontador,
                                volatile uint16_t& potro) {
    const uint8_t creposo = configuracion_ktr09.cestado_en_reposo_entrada_externa[i];
    const uint16_t itiempo = configuracion_ktr09.itemporizacion_entrada_externa[i];
    const uint8_t cfuncion = configuracion_ktr09.cfuncionalidad_entradas_externas[i];
    volatile unsigned char& cestado = ktr09.cestados_entradas_externas[i];

    potro = 0;
    if (pcontador <= itiempo) {
        if (pcontador != 0xFFFF) {
            ++pcontador;
        }
        return;
    }
    // The pin has held the level for more than the debounce time: the input
    // is active at the configured level and inactive at the other one.
    const uint8_t cnivel_pin = cnivel == HIGH ? 1 : 0;
    const uint8_t cotro_nivel = cnivel == HIGH ? 0 : 1;
    if (creposo == cnivel_pin && cestado == 0) {
        cestado = cfuncion == 1 ? 0x81 : 1;
        pcontador = 0;
    } else if (creposo == cotro_nivel && cestado != 0) {
        if (cfuncion == 2 || cestado == 1) {
            cestado = 0;
            pcontador = 0;
        } else {
            // A latched event survives the rest level until it is acknowledged.
            pcontador = itiempo;
        }
    }
}

static void entradas_modo_normal() {
    for (uint8_t i = 0; i < 4; ++i) {
        const uint8_t cfuncion = configuracion_ktr09.cfuncionalidad_entradas_externas[i];
        if (cfuncion != 1 && cfuncion != 2) {
            continue;
        }
        volatile uint16_t& ialto = ktr09.iseguridad_entrada_externa_high[i];
        volatile uint16_t& ibajo = ktr09.iseguridad_entrada_externa_low[i];
        if (digitalRead(board::kInputs[i]) == HIGH) {
            antirrebote_entrada(i, HIGH, ialto, ibajo);
        } else {
            antirrebote_entrada(i, LOW, ibajo, ialto);
        }
    }
}

// Console test mode: fixed 500 ms debounce and an event code per change.
static void entradas_modo_test() {
    for (uint8_t i = 0; i < 4; ++i) {
        volatile unsigned char& cestado = ktr09.cestados_entradas_externas[i];
        volatile uint16_t& ialto = ktr09.iseguridad_entrada_externa_high[i];
        volatile uint16_t& ibajo = ktr09.iseguridad_entrada_externa_low[i];
        const bool balto = digitalRead(board::kInputs[i]) == HIGH;
        volatile uint16_t& icontador = balto ? ialto : ibajo;
        const uint8_t cnuevo_estado = balto ? 1 : 0;
        (balto ? ibajo : ialto) = 0;
        if (cestado != cnuevo_estado) {
            ++icontador;
        }
        if (icontador > 4) {
            if (cestado != 2) {
                ktr09.creintentos_lectura_fecha = static_cast<uint8_t>(2 * i + (balto ? 2 : 1));
            }
            cestado = cnuevo_estado;
            ialto = 0;
            ibajo = 0;
        }
    }
}

static void salidas_digitales() {
    for (uint8_t j = 0; j < 4; ++j) {
        const bool bactiva = ktr09.cestado_salida_digital[j] != 0;
        const bool breposo_alto = configuracion_ktr09.cestado_en_reposo_salida_digital[j] != 0;
        digitalWrite(board::kOutputs[j], bactiva != breposo_alto ? HIGH : LOW);
    }
    for (uint8_t j = 0; j < 4; ++j) {
        volatile uint16_t& itiempo = ktr09.itiempo_activacion_salida_digital[j];
        if (itiempo != 0) {
            --itiempo;
            if (itiempo == 0) {
                ktr09.cestado_salida_digital[j] = 0;
            }
        }
    }
}

// ---- The steps --------------------------------------------------------------

static void paso_un_minuto() {
    if (ktr09.ctest != 1) {
        ktr09.creintentos_lectura_fecha = 10;
    }
    descontar(stais.cminutos_timeout_rx_frames);
    shipras.cminuto_barcos = 1;
    for (uint8_t i = 0; i < 2; ++i) {
        if (configuracion_sensor[i].csensor == 3) {
            descontar(sensor[i].ctimeout_datos_validos);
        }
    }
}

static void paso_un_segundo() {
    if (ktr09.ctest == 0) {
        digitalWrite(board::kLed, LOW);
    }
    if (stais.csegundos_sin_tramas_deteccion_usb <= 119) {
        ++stais.csegundos_sin_tramas_deteccion_usb;
    }
    if (stais.csegundos_sin_tramas_gps_ais <= 9) {
        ++stais.csegundos_sin_tramas_gps_ais;
    }
    descontar(stais.itimeout_tx_msg6);
    descontar(stais.itimeout_tx_msg8);
    descontar(stais.itimeout_tx_msg12);
    if (stais.cnueva_sincronizacion_horaria != 0) {
        descontar(stais.ctimeout_frame_gga);
        descontar(stais.ctimeout_frame_rmc);
    }
    descontar(sensor[0].cdelay);
    descontar(sensor[1].cdelay);
    descontar(sensor[0].ctimeout_alarm);
    descontar(sensor[1].ctimeout_alarm);
    descontar(stsd.cdelay);
    descontar(stsd.cespera_creacion_directorio);
    descontar(stsd.cespera_creacion_fichero[0]);
    descontar(stsd.cespera_creacion_fichero[1]);

    if (cacciones_un_minuto + 1 <= 59) {
        cacciones_un_minuto = static_cast<uint8_t>(cacciones_un_minuto + 1);
        return;
    }
    cacciones_un_minuto = 0;
    paso_un_minuto();
}

static void paso_cien_milisegundos() {
    descontar(cretardo_tiempo);
    descontar(stais.ctimeout_respuesta_comando);
    descontar(stais.ctimeout_frame_vdm_msg6_procesando);
    descontar(sensor[0].ctimeout_respuesta_comando);
    descontar(sensor[1].ctimeout_respuesta_comando);
    for (uint8_t i = 0; i < 2; ++i) {
        if (configuracion_sensor[i].csensor == 1 || configuracion_sensor[i].csensor == 2) {
            descontar(sensor[i].ctimeout_datos_validos);
        }
    }

    if (ktr09.ctest == 1) {
        entradas_modo_test();
    } else {
        digitalWrite(board::kLed, HIGH);
        if (ktr09.clisto == 1) {
            entradas_modo_normal();
            salidas_digitales();
        }
    }

    if (cacciones_cada_segundo + 1 <= 9) {
        cacciones_cada_segundo = static_cast<uint8_t>(cacciones_cada_segundo + 1);
        return;
    }
    cacciones_cada_segundo = 0;
    paso_un_segundo();
}

void interrupcion_timer_cada_miliseg() {
    descontar(cretardo_en_milisegundos);
    descontar(ctimeout_eeprom);
    descontar(rtc.ctimeout);
    descontar(stais.ctimeout_rx_frame);
    descontar(sensor[0].ctimeout_rx_frame);
    descontar(sensor[1].ctimeout_rx_frame);

    if (cacciones_cada_10milisegundos + 1 <= 9) {
        cacciones_cada_10milisegundos = static_cast<uint8_t>(cacciones_cada_10milisegundos + 1);
        return;
    }
    cacciones_cada_10milisegundos = 0;
    if (cacciones_cada_100milisegundos + 1 <= 9) {
        cacciones_cada_100milisegundos = static_cast<uint8_t>(cacciones_cada_100milisegundos + 1);
        return;
    }
    cacciones_cada_100milisegundos = 0;
    paso_cien_milisegundos();
}

// ---- Blocking delays ------------------------------------------------------------

void retardo_tiempo(uint8_t ctiempo) {
    cretardo_tiempo = ctiempo == 0 ? 1 : ctiempo;
    while (cretardo_tiempo != 0) {
        sodaq_wdt_reset();
    }
}

void retardo_milisegundos(uint8_t ctiempo) {
    cretardo_en_milisegundos = ctiempo == 0 ? 1 : ctiempo;
    while (cretardo_en_milisegundos != 0) {
        sodaq_wdt_reset();
    }
}
