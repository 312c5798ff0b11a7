#include <Arduino.h>
#include <Wire.h>

#include "analogicas.h"
#include "comunicaciones_pc.h"
#include "declaraciones.h"
#include "gestion_sd.h"
#include "main.h"
#include "procesado.h"
#include "test.h"

static constexpr uint8_t kBytesBufferUsb = sizeof(bufferRx);
static constexpr uint8_t kBytesLineaConsola = sizeof(ktr09.cbuffer_rx);
static constexpr uint8_t kBytesMinimosTrama = 6;

static void descarto_trama_pc() {
    iBytesRx = 0;
    bufferRx[0] = 0;
}

void descarto_entrada_usb() {
    while (SerialUSB.available() > 0) {
        SerialUSB.read();
    }
}

// The card has been formatted: stop the tick and the bus and let the
// watchdog restart the station.
static void reinicio_tras_formateo() {
    linea();
    SerialUSB.print("***** Reset device *****");
    stop_timerTC0();
    Wire.end();
    while (true) {
        __WFI();
    }
}

static void ejecuto_linea_consola() {
    if (linea_empieza_por(m_test) == 1) {
        rutina_test(1);
    } else if (linea_empieza_por(m_settings) == 1) {
        rutina_test(0);
    }
    if (linea_empieza_por(m_format_sd) == 1) {
        formateo_sd();
        reinicio_tras_formateo();
    }
    estado();
    ktr09.cbytes_rx = 0;
    descarto_entrada_usb();
}

// One console byte. The line holds 32 characters: later ones are echoed and
// counted but not stored, so that a backspace removes what the terminal
// removes (a dropped character first) and the line executed is what the
// terminal shows, up to its 32 characters. 1 when a carriage return ends
// the line.
uint8_t byte_linea_consola(uint8_t cdato) {
    extraccion_tecla_pulsada(1, cdato);
    if (cdato == 8) {
        if (ktr09.cbytes_rx > 0) {
            --ktr09.cbytes_rx;
        }
        return 0;
    }
    if (ktr09.cbytes_rx < kBytesLineaConsola) {
        ktr09.cbuffer_rx[ktr09.cbytes_rx] = cdato;
    }
    if (cdato == 13) {
        return 1;
    }
    if (ktr09.cbytes_rx < 255) {
        ++ktr09.cbytes_rx;
    }
    return 0;
}

uint8_t linea_empieza_por(const char* pcclave) {
    const uint8_t clongitud = static_cast<uint8_t>(strlen(pcclave));
    return ktr09.cbytes_rx >= clongitud && clongitud <= kBytesLineaConsola &&
                   memcmp(ktr09.cbuffer_rx, pcclave, clongitud) == 0
               ? 1
               : 0;
}

static void byte_consola(uint8_t cdato) {
    if (byte_linea_consola(cdato) == 1) {
        ejecuto_linea_consola();
    }
}

static void recibo_bytes_usb() {
    ultimaTramaPcRecibida = millis();
    while (SerialUSB.available() > 0 && iBytesRx < kBytesBufferUsb) {
        const uint8_t cdato = static_cast<uint8_t>(SerialUSB.read());
        mTimeStamp = millis();
        if (iBytesRx != 0) {
            bufferRx[iBytesRx++] = cdato;
        } else if (cdato == '@') {
            Debug("@ inicio trama");
            bufferRx[0] = cdato;
            iBytesRx = 1;
        } else {
            byte_consola(cdato);
        }
    }
}

static void compruebo_trama_pc() {
    SerialUSB.print("Verificar Trama. Size=");
    SerialUSB.println(static_cast<unsigned int>(iBytesRx));
    if (verificar_trama(bufferRx, iBytesRx) == 1) {
        Debug("Antes de procesar trama.");
        procesar_trama(bufferRx, 255);
        Debug("Reset de contadores.");
        descarto_trama_pc();
        return;
    }
    Debug("Trama no correcta");
    if (iBytesRx >= kBytesBufferUsb) {
        descarto_trama_pc();
    }
}

void atencion_usb() {
    if (SerialUSB.available() == 0) {
        if (iBytesRx != 0 && millis() - mTimeStamp > mTimeOut) {
            Debug("Timeout: Reset de contadores.");
            descarto_trama_pc();
        }
        return;
    }
    recibo_bytes_usb();
    if (iBytesRx >= kBytesMinimosTrama) {
        compruebo_trama_pc();
    }
}
