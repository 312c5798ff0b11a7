// Board test of the three UART channels: whatever a test device sends on a
// channel is shown on the console in hexadecimal and echoed straight back.
#include <Arduino.h>
#include <sodaq_wdt.h>

#include "comunicaciones_pc.h"
#include "declaraciones.h"
#include "ktr09_board.h"
#include "test.h"

namespace {

constexpr uint8_t CTIPO_RS485 = 4;

// One channel's echo loop: its UART, buffer, silence and RS-485 transmit pin.
struct CanalTest {
    Uart& uart;
    unsigned char* pcbuffer;
    uint16_t ibytes_buffer;
    uint16_t* pibytes;
    volatile uint8_t* pcsilencio;
    uint8_t csilencio_ms;
    uint8_t cpin_tx;
    uint8_t cnumero;
};

void prueba_canal(const CanalTest& canal, uint8_t ctipo_comunicacion) {
    if (canal.uart.available() <= 0) {
        return;
    }
    uint16_t ibytes = 0;
    do {
        sodaq_wdt_reset();
        if (canal.uart.available() > 0) {
            while (canal.uart.available() > 0) {
                const uint8_t cdato = static_cast<uint8_t>(canal.uart.read());
                if (ibytes < canal.ibytes_buffer) {
                    canal.pcbuffer[ibytes++] = cdato;
                }
            }
            *canal.pcsilencio = canal.csilencio_ms;
        }
    } while (*canal.pcsilencio != 0);
    *canal.pibytes = ibytes;
    if (ibytes == 0) {
        return;
    }
    if (ctipo_comunicacion == CTIPO_RS485) {
        digitalWrite(canal.cpin_tx, HIGH);
    }
    SerialUSB.print("Rx canal ");
    SerialUSB.print(static_cast<unsigned int>(canal.cnumero));
    SerialUSB.print(" => (");
    SerialUSB.print(static_cast<unsigned int>(ibytes));
    SerialUSB.print(") ");
    for (uint16_t i = 0; i < ibytes; ++i) {
        SerialUSB.print(static_cast<unsigned int>(canal.pcbuffer[i]), HEX);
        SerialUSB.print(' ');
    }
    linea();
    canal.uart.write(canal.pcbuffer, ibytes);
    if (ctipo_comunicacion == CTIPO_RS485) {
        canal.uart.flush();
        digitalWrite(canal.cpin_tx, LOW);
    }
}

}  // namespace

void comunicacion_canal1_test(uint8_t ctipo_comunicacion) {
    const CanalTest canal{Serial0,
                          stais.cframe_rx,
                          sizeof(stais.cframe_rx),
                          &stais.ibytes_rx,
                          &stais.ctimeout_rx_frame,
                          5,
                          board::kAisDriver.mode[2],
                          1};
    prueba_canal(canal, ctipo_comunicacion);
}

void comunicacion_canal2_test(uint8_t ctipo_comunicacion) {
    const CanalTest canal{Serial3,
                          sensor[0].cframe_rx,
                          sizeof(sensor[0].cframe_rx),
                          &sensor[0].ibytes_rx,
                          &sensor[0].ctimeout_rx_frame,
                          10,
                          board::kSensor1Driver.mode[2],
                          2};
    prueba_canal(canal, ctipo_comunicacion);
}

void comunicacion_canal3_test(uint8_t ctipo_comunicacion) {
    const CanalTest canal{Serial1,
                          sensor[1].cframe_rx,
                          sizeof(sensor[1].cframe_rx),
                          &sensor[1].ibytes_rx,
                          &sensor[1].ctimeout_rx_frame,
                          10,
                          board::kSensor2Driver.mode[2],
                          3};
    prueba_canal(canal, ctipo_comunicacion);
}
