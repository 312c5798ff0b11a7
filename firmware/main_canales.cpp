#include <Arduino.h>
#include <sodaq_wdt.h>

#include "ais.h"
#include "comunicaciones_ema_airmar.h"
#include "comunicaciones_tidelink_estacion_base.h"
#include "declaraciones.h"
#include "ktr09_board.h"
#include "main.h"
#include "procesado.h"

namespace {

// Line drivers indexed by channel: sensor 1, sensor 2, AIS.
constexpr const board::LineDriver* kPinesCanal[3] = {
    &board::kSensor1Driver,
    &board::kSensor2Driver,
    &board::kAisDriver,
};

constexpr uint16_t kBytesFrameCanal = sizeof(sensor[0].cframe_rx);

}  // namespace

Uart& uart_canal(uint8_t ccanal) {
    switch (ccanal) {
        case CANAL_SENSOR_1:
            return Serial3;
        case CANAL_SENSOR_2:
            return Serial1;
        default:
            return Serial0;
    }
}

uint32_t velocidad_canal(uint8_t cbaudios) {
    switch (cbaudios) {
        case 0:
            return 2400;
        case 1:
            return 4800;
        case 2:
            return 9600;
        case 3:
            return 19200;
        case 5:
            return 57600;
        case 6:
            return 115200;
        default:
            return 38400;
    }
}

void configuracion_canal(uint8_t ccanal, uint8_t ctipo, uint8_t cprimera_vez) {
    if (ccanal > CANAL_AIS || ctipo > 4) {
        return;
    }
    const board::LineDriver& pines = *kPinesCanal[ccanal];
    switch (ctipo) {
        case 0:
            digitalWrite(pines.disable, HIGH);
            return;
        case 1:
            digitalWrite(pines.mode[0], HIGH);
            digitalWrite(pines.mode[1], LOW);
            // Sensor channel 1's driver keeps M3 and M4 as they are for RS232.
            if (ccanal != CANAL_SENSOR_1) {
                digitalWrite(pines.mode[2], LOW);
                digitalWrite(pines.mode[3], LOW);
            }
            break;
        case 2:
            digitalWrite(pines.mode[0], HIGH);
            digitalWrite(pines.mode[1], HIGH);
            digitalWrite(pines.mode[2], LOW);
            digitalWrite(pines.mode[3], HIGH);
            break;
        default:  // 3 and 4: RS485, differing only in M3 on a first configuration
            digitalWrite(pines.mode[0], LOW);
            digitalWrite(pines.mode[1], LOW);
            if (cprimera_vez == 1) {
                digitalWrite(pines.mode[2], ctipo == 3 ? HIGH : LOW);
            }
            digitalWrite(pines.mode[3], HIGH);
            break;
    }
    digitalWrite(pines.disable, LOW);
}

static void configuracion_canal_guardada(uint8_t ccanal, uint8_t* pctipo, uint8_t* pcbaudios) {
    if (ccanal == CANAL_AIS) {
        *pctipo = configuracion_ais.ctipo_comunicacion;
        *pcbaudios = configuracion_ais.cbaudios;
    } else {
        *pctipo = configuracion_sensor[ccanal].ctipo_comunicacion;
        *pcbaudios = configuracion_sensor[ccanal].cbaudios_comunicacion;
    }
}

static void abro_canal(uint8_t ccanal) {
    uint8_t ctipo = 0;
    uint8_t cbaudios = 0;
    configuracion_canal_guardada(ccanal, &ctipo, &cbaudios);
    configuracion_canal(ccanal, ctipo, 1);
    Uart& uart = uart_canal(ccanal);
    if (ctipo == 0) {
        uart.end();
        return;
    }
    uart.begin(velocidad_canal(cbaudios));
    uart.flush();
}

static void cierro_canal(uint8_t ccanal) {
    digitalWrite(kPinesCanal[ccanal]->disable, HIGH);
    uart_canal(ccanal).end();
}

// Runs the action on the selected channel, or on all three (AIS first).
static void para_cada_canal(uint8_t ccanal, void (*paccion)(uint8_t)) {
    if (ccanal == CANAL_TODOS) {
        paccion(CANAL_AIS);
        paccion(CANAL_SENSOR_1);
        paccion(CANAL_SENSOR_2);
    } else if (ccanal <= CANAL_AIS) {
        paccion(ccanal);
    }
}

void inicializacion_canales(uint8_t ccanal) {
    para_cada_canal(ccanal, abro_canal);
}

void disable_canal(uint8_t ccanal) {
    para_cada_canal(ccanal, cierro_canal);
}

// Reads bytes until the line has been silent for 10 ms; a burst beyond the
// buffer keeps its first bytes.
static void recibo_rafaga(uint8_t ccanal) {
    stsensor& canal = sensor[ccanal];
    Uart& uart = uart_canal(ccanal);
    canal.ibytes_rx = 0;
    do {
        sodaq_wdt_reset();
        // A slow device's burst can outlast what the transponder's port
        // holds at its faster rate.
        acopio_rafaga_ais();
        if (uart.available() > 0) {
            while (uart.available() > 0) {
                const int idato = uart.read();
                if (canal.ibytes_rx < kBytesFrameCanal) {
                    canal.cframe_rx[canal.ibytes_rx++] = static_cast<unsigned char>(idato);
                }
            }
            canal.ctimeout_rx_frame = 10;
        }
    } while (canal.ctimeout_rx_frame != 0);
}

// 1 when the burst was a PC-link frame and has been dealt with.
static uint8_t atiendo_trama_pc(uint8_t ccanal) {
    stsensor& canal = sensor[ccanal];
    if (canal.ibytes_rx <= 5 || canal.cframe_rx[0] != '@') {
        return 0;
    }
    const uint8_t cresultado =
        verificar_trama(canal.cframe_rx, static_cast<uint8_t>(canal.ibytes_rx));
    if (cresultado == 1) {
        SerialUSB.print("Trama configuracion");
        procesar_trama(canal.cframe_rx, ccanal);
        return 1;
    }
    return cresultado == 2 ? 1 : 0;
}

void procesamos_canal(uint8_t ccanal) {
    if (ccanal > CANAL_SENSOR_2 || uart_canal(ccanal).available() == 0) {
        return;
    }
    recibo_rafaga(ccanal);
    if (atiendo_trama_pc(ccanal) == 0) {
        switch (configuracion_sensor[ccanal].csensor) {
            case CSENSOR_ESTACION_BASE:
                procesamos_trama_rx_estacion_base(ccanal);
                break;
            case CSENSOR_TIDELINK:
                procesamos_trama_rx_tidelink(ccanal);
                break;
            case CSENSOR_EMA:
                procesamos_trama_rx_estacion_meteorologica(ccanal);
                break;
            default:  // no device, or one whose handler is not fitted: dropped
                break;
        }
    }
    sensor[ccanal].ibytes_rx = 0;
}

void deteccion_conexion_pc() {
    stais.cconexion_software_pc = 1;
    if (stais.cextraigo != 0) {
        SerialUSB.print("\r\n\t*********************************\r\n");
        SerialUSB.print("\t\tSofware AIS connected\r\n");
        SerialUSB.print("\t*********************************\r\n");
    }
    stais.ccomando = 14;
    stais.csegundos_sin_tramas_deteccion_usb = 0;
}
