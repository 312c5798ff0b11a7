#include <Arduino.h>
#include <Wire.h>
#include <sodaq_wdt.h>

#include "UnixTime.h"
#include "ais.h"
#include "analogicas.h"
#include "gestion_sd.h"
#include "comunicaciones_canales.h"
#include "comunicaciones_pc.h"
#include "comunicaciones_tidelink_estacion_base.h"
#include "declaraciones.h"
#include "i2c.h"
#include "ktr09_board.h"
#include "main.h"
#include "mcp7940.h"
#include "test.h"

namespace {

// Seconds between looks for a card lost while running, after the first few.
constexpr uint8_t CESPERA_TARJETA_PERDIDA = 60;

}  // namespace

void configuracion_pines() {
    for (const board::Pin& pin : board::kPins) {
        pinMode(pin.number, pin.mode);
    }
}

uint8_t lectura_modo_funcionamiento() {
    if (digitalRead(board::kModePin0) == HIGH) {
        return 0;
    }
    return digitalRead(board::kModePin1) == HIGH ? 1 : 2;
}

// Up to 20 reads of the clock, feeding the watchdog before each.
static void lectura_fecha_arranque() {
    for (uint8_t cintento = 0; cintento < 20; ++cintento) {
        sodaq_wdt_reset();
        if (lectura_fecha() == 1) {
            return;
        }
    }
}

// A clock that could not be read, or holds a date before 1 January 2023,
// starts again from 01/01/23 00:01:00.
static void comprobacion_fecha_arranque() {
    if (calculo_dias(ktr09.cano_utc, ktr09.cmes_utc, ktr09.cdia_utc) >= calculo_dias(23, 1, 1)) {
        return;
    }
    ktr09.cdia_utc = 1;
    ktr09.cmes_utc = 1;
    ktr09.cano_utc = 23;
    ktr09.chora_utc = 0;
    ktr09.cminuto_utc = 1;
    ktr09.csegundo_utc = 0;
    ktr09.cdia_semana = calculo_dia_semana(23, 1, 1);
    escritura_fecha(1, 1, 23, ktr09.cdia_semana, 0, 1, 0);
}

void setup() {
    configuracion_pines();
    digitalWrite(board::kLed, HIGH);
    digitalWrite(board::kSdReady, LOW);
    digitalWrite(board::kConsoleOutput, HIGH);
    SerialUSB.begin(115200);
    setup_timerTC0(1, 48000);
    start_timerTC0();
    Wire.begin();
    sodaq_wdt_enable(WDT_PERIOD_1X);
    configuracion_adc();
    retardo_tiempo(30);
    mensaje_bienvenida();
    cargar_estructuras_configuracion();
    lectura_variables_analogicas_ktr09(CALIBRACION_TODAS);
    config_clock();
    inicializacion_dispositivo_sd();
    inicializacion_ais(1);
    reset_sensor(1, 0);
    reset_sensor(1, 1);
    lectura_fecha_arranque();
    comprobacion_fecha_arranque();
    ktr09.csincronizada = 0;
}

// ---- Loop steps --------------------------------------------------------------

static void lectura_modo_en_registros() {
    const uint8_t cmodo = lectura_modo_funcionamiento();
    ktr09.cextraigo = cmodo;
    stais.cextraigo = cmodo;
    sensor[0].cextraigo = cmodo;
    sensor[1].cextraigo = cmodo;
}

// The once-a-minute clock re-read, repeated on every pass until it succeeds.
// It re-aligns the tick's minute to the clock's and starts a new log
// directory when the hour's date key changes.
static void relectura_reloj() {
    if (ktr09.creintentos_lectura_fecha == 0) {
        return;
    }
    if (lectura_fecha() == 1) {
        ktr09.creintentos_lectura_fecha = 0;
        if (ktr09.csegundo_utc > 4) {
            cacciones_un_minuto = static_cast<uint8_t>(ktr09.csegundo_utc - 2);
        }
        comprobacion_hora_registro();
    }
    if (ktr09.creintentos_lectura_fecha == 0) {
        ktr09.crefresco = 1;
    }
}

static void evaluacion_estado() {
    if (ktr09.crefresco == 1) {
        estado();
        ktr09.crefresco = 0;
    }
}

// Only the first weather-station channel follows the sample schedule.
static void programacion_muestras() {
    for (uint8_t i = 0; i < 2; ++i) {
        if (configuracion_sensor[i].csensor != 3) {
            continue;
        }
        const uint8_t cintervalo = configuracion_sensor[i].csample_interval;
        const uint16_t iminuto_dia =
            static_cast<uint16_t>(ktr09.chora_utc * 60 + ktr09.cminuto_utc);
        // An interval of 0 never schedules a sample.
        if (cintervalo != 0 && iminuto_dia % cintervalo == 0 && sensor[i].calarma == 0) {
            sensor[i].cnueva_muestra = 1;
        }
        return;
    }
}

void timeout_comando_ais() {
    const uint8_t cantes = stais.ccomando;
    switch (cantes) {
        case 0:
            break;
        case 16:
            stais.ccomando = 11;
            break;
        case 19:
        case 20:
        case 21:
        case 22:
        case 23:
            stais.ccomando = 0;
            break;
        case 1:
            stais.ccomando = 0;
            stais.cstatus_gps = 0;
            break;
        case 3:
        case 17:
            if (stais.lmmsi == 0xFFFFFFFF) {
                stais.ccomando = 3;
            } else if (stais.lmmsi_destino_msg6 == 0xFFFFFFFF && stais.ifrecuencia_msg6 != 0) {
                stais.ccomando = 15;
            } else {
                stais.ccomando = cantes == 3 ? 4 : 9;
            }
            break;
        case 15:
            stais.ccomando = 17;
            break;
        case 6:
            stais.ccomando = 18;
            break;
        case 18:
            stais.ccomando = 6;
            break;
        default:
            ++stais.creintentos_comando;
            if (stais.creintentos_comando > 4) {
                stais.creintentos_comando = 0;
                // A set-up query unanswered before the reporting periods are
                // known (the transponder still booting after a power reset
                // that came after its identity reply) starts the set-up
                // again: given up, no message would ever be sent.
                stais.ccomando =
                    cantes >= 4 && cantes <= 13 && stais.cperiodos_conocidos == 0 ? 3 : 0;
            }
            break;
    }
}

// One step of the card: start attempts until it is ready, then, once the
// clock has GPS time, the day's directory and the hour's files.
static void paso_tarjeta_sd() {
    switch (stsd.ctarjeta_inicializada) {
        case 0:
            if (stsd.cdelay == 0) {
                inicializacion_sd();
                // A card lost while running is looked for once a minute
                // after that, for it may be put back.
                if (creintentos_sd > 4 && stsd.ctarjeta_perdida == 1) {
                    stsd.cdelay = CESPERA_TARJETA_PERDIDA;
                } else if (creintentos_sd > 4) {
                    stsd.ctarjeta_inicializada = 4;
                }
            }
            break;
        case 1:
            creintentos_sd = 0;
            stsd.ctarjeta_perdida = 0;
            digitalWrite(board::kSdReady, HIGH);
            if (ktr09.csincronizada != 1) {
                break;
            }
            // The log follows the hour of the system time, which has just
            // been set from GPS or read from the clock. At most one attempt
            // per pass: the directory, then the AIS file, then the TIDELINK
            // file, each when its attempt is due.
            comprobacion_hora_registro();
            if (configuracion_sensor[0].csensor != CSENSOR_TIDELINK &&
                configuracion_sensor[1].csensor != CSENSOR_TIDELINK &&
                stsd.ccreacion_nuevo_fichero[CFICHERO_TIDELINK] == 1) {
                stsd.ccreacion_nuevo_fichero[CFICHERO_TIDELINK] = 0;
            }
            if (paso_creacion_registro(CFICHERO_VDM) == 0) {
                paso_creacion_registro(CFICHERO_TIDELINK);
            }
            break;
        default:
            creintentos_sd = 0;
            break;
    }
}

// Ten minutes without a good sentence from the transponder: the link starts
// again on the next pass, power-cycling the transponder.
static void supervision_enlace_ais() {
    if (stais.creset == 1) {
        inicializacion_ais(0);
        stais.creset = 0;
    } else if (stais.cminutos_timeout_rx_frames == 0 && stais.calarma == 0) {
        stais.creset = 1;
        if (stais.cextraigo != 0) {
            SerialUSB.print("AIS => NO RX FRAMES!!!! ");
        }
    }
}

// While a PC program is attached to the transponder the station's own
// sequence waits; it takes the transponder back after 120 s of PC silence,
// whatever the time synchronisation's state: the scheduler that moves that
// state on does not run while the PC has the transponder.
static void secuencia_comandos_ais() {
    if (stais.calarma == 0 && stais.cconexion_software_pc == 0) {
        if (stais.cesperando_respuesta == 0) {
            envio_comandos_ais();
        } else if (stais.ctimeout_respuesta_comando == 0) {
            stais.cesperando_respuesta = 0;
            timeout_comando_ais();
        }
    } else if (stais.cconexion_software_pc == 1) {
        envio_comandos_ais();
        stais.cconexion_software_pc = 2;
    } else if (stais.cconexion_software_pc != 0 && stais.csegundos_sin_tramas_deteccion_usb > 119) {
        stais.cstatus_gps = 1;
        stais.cconexion_software_pc = 0;
        // The GPS output goes off first; a synchronisation that was under way
        // starts again, so that the output comes back on for it.
        if (stais.cnueva_sincronizacion_horaria == 2) {
            stais.cnueva_sincronizacion_horaria = 3;
        }
    }
}

static void timeout_reensamblado_msg6() {
    if (stais.ccantidad_total_frames_vdm_msg6_procesando != 0 &&
        stais.ctimeout_frame_vdm_msg6_procesando == 0) {
        stais.ccantidad_total_frames_vdm_msg6_procesando = 0;
        stais.cultima_frame_vdm_msg6_procesando = 0;
    }
}

static bool canal_servido(uint8_t i) {
    const stconfiguracion_sensor& config = configuracion_sensor[i];
    if (config.csensor == 0) {
        return false;
    }
    // While its reset output power-cycles the device the channel is left alone.
    return config.csalida_reset == 0 || config.csalida_reset > 4 ||
           ktr09.cestado_salida_digital[config.csalida_reset - 1] == 0;
}

static void servicio_canal_sensor(uint8_t i) {
    stsensor& canal = sensor[i];
    const uint8_t csensor = configuracion_sensor[i].csensor;
    if (canal.creset == 1) {
        reset_sensor(0, i);
        canal.creset = 0;
    } else if (csensor == 3 && canal.ctimeout_alarm == 0 && canal.calarma == 0) {
        // 30 s without a good sentence: the device is reset on the next pass.
        canal.creset = 1;
        if (canal.cextraigo != 0) {
            // The weather-station channel's own description adds the line break.
            SerialUSB.print("Sensor => NO RX FRAMES!!!! ");
            linea();
        }
    }
    procesamos_canal(i);
    if (canal.cdelay != 0) {
        return;
    }
    if (csensor == CSENSOR_ESTACION_BASE || csensor == CSENSOR_TIDELINK) {
        envio_comandos_estacion_base(i);
        return;
    }
    if (csensor != CSENSOR_EMA) {
        return;
    }
    if (canal.cesperando_respuesta == 0) {
        envio_comandos_ema_airmar(i);
    } else if (canal.ctimeout_respuesta_comando == 0) {
        // Each weather-station command is given its reply time, then the
        // dialogue moves on.
        if (canal.cconfiguracion == 2) {
            canal.cconfiguracion = 0;
        }
        canal.cesperando_respuesta = 0;
        canal.ccomando = canal.ccomando == 1 ? 2 : 0;
    }
}

// One pass. Each device's work takes its place in this order: clock
// re-read, status and sample scheduling, SD card, transponder link
// supervision and traffic, command sequencing, message 6 reassembly, the
// sensor channels, the USB port.
void loop() {
    configuracion_pines();
    sodaq_wdt_reset();
    lectura_modo_en_registros();
    relectura_reloj();
    // The sample schedule follows the once-a-minute clock read, as the status
    // does: flagged on every pass of the boundary minute, a sample would close
    // at each of that minute's sentences.
    const uint8_t cminuto_leido = ktr09.crefresco;
    evaluacion_estado();
    if (cminuto_leido == 1) {
        programacion_muestras();
    }
    // Ships age on the tick's minute, whether or not the clock can be read.
    if (shipras.cminuto_barcos == 1) {
        shipras.cminuto_barcos = 0;
        envejecimiento_barcos();
    }
    paso_tarjeta_sd();
    supervision_enlace_ais();
    procesamos_ais();
    secuencia_comandos_ais();
    timeout_reensamblado_msg6();
    for (uint8_t i = 0; i < 2; ++i) {
        if (canal_servido(i)) {
            servicio_canal_sensor(i);
        }
    }
    atencion_usb();
    ktr09.clisto = 1;
}
