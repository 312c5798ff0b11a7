// The service modes of the USB console: TEST exercises the outputs, reports
// the inputs and echoes the UART channels; both modes calibrate the battery
// and analog inputs and show live readings. Left only by a restart.
#include <Arduino.h>
#include <sodaq_wdt.h>
#include <string.h>

#include "analogicas.h"
#include "comunicaciones_pc.h"
#include "declaraciones.h"
#include "ktr09_board.h"
#include "gestion_sd.h"
#include "i2c.h"
#include "main.h"
#include "mcp7940.h"
#include "nmea.h"
#include "test.h"

namespace {

enum Pantalla : uint8_t { NINGUNA, PASEO_SALIDAS, RELOJ, TARJETA_SD, DIP };

struct Consola {
    bool btest;
    uint8_t cpantalla;
    uint8_t ctipo;  // line type of the three channels
    uint8_t cpaso;  // output walk step
};

constexpr const uint8_t (&kPinesSalidaAlta)[4] = board::kOutputs;  // active high
constexpr uint8_t kPinesSalidaBaja[3] = {board::kSdReady, board::kConsoleOutput,
                                         board::kLed};  // active low
constexpr uint8_t CUN_SEGUNDO = 10;                     // 100 ms units

void texto_linea(const char* pctexto) {
    SerialUSB.print(pctexto);
    linea();
}

void salidas_apagadas() {
    for (uint8_t cpin : kPinesSalidaAlta) {
        digitalWrite(cpin, LOW);
    }
    for (uint8_t cpin : kPinesSalidaBaja) {
        digitalWrite(cpin, HIGH);
    }
}

// One output after the other, a second each: step 0 pin 33, 1 pin 32, 2 pin
// 31, 3 pin 30, 4 pin 34, 5 pin 35, 6 pin 13.
void paseo_salidas(Consola& consola) {
    if (++consola.cpaso > 6) {
        consola.cpaso = 0;
    }
    salidas_apagadas();
    if (consola.cpaso <= 3) {
        digitalWrite(kPinesSalidaAlta[consola.cpaso], HIGH);
    } else {
        digitalWrite(kPinesSalidaBaja[consola.cpaso - 4], LOW);
    }
}

// The card report again, retried every 2 s until the card starts.
void pantalla_tarjeta(Consola& consola) {
    if (stsd.cdelay != 0 || stsd.ctarjeta_inicializada != 0) {
        return;
    }
    inicializacion_sd();
    porcentaje_ocupacion_sd();
    if (stsd.ctarjeta_inicializada == 1) {
        consola.cpantalla = NINGUNA;
    } else {
        stsd.cdelay = 2;
    }
}

void pantalla(Consola& consola) {
    if (consola.cpantalla == TARJETA_SD) {
        pantalla_tarjeta(consola);
        return;
    }
    if (cretardo_tiempo != 0) {
        return;
    }
    cretardo_tiempo = CUN_SEGUNDO;
    if (consola.cpantalla == PASEO_SALIDAS) {
        paseo_salidas(consola);
        return;
    }
    salidas_apagadas();
    if (consola.cpantalla == RELOJ) {
        lectura_fecha();
    } else if (consola.cpantalla == DIP) {
        SerialUSB.print("DIP:");
        const uint8_t cdip = static_cast<uint8_t>((digitalRead(board::kModePin1) == LOW ? 1 : 0) +
                                                  (digitalRead(board::kModePin0) == LOW ? 2 : 0));
        SerialUSB.print(static_cast<unsigned int>(cdip));
        linea();
    }
}

void evento_entrada() {
    const uint8_t ccodigo = ktr09.creintentos_lectura_fecha;
    if (ccodigo == 0) {
        return;
    }
    if (ccodigo <= 8) {
        linea();
        SerialUSB.print(ccodigo % 2 == 1 ? "Activada entrada " : "Desativada entrada ");
        SerialUSB.print(static_cast<unsigned int>((ccodigo + 1) / 2));
    }
    ktr09.creintentos_lectura_fecha = 0;
}

// Waits a second at a time, feeding the watchdog; true when a key came (it
// is consumed).
bool tecla_en_un_segundo() {
    cretardo_tiempo = CUN_SEGUNDO;
    while (cretardo_tiempo != 0) {
        sodaq_wdt_reset();
        if (SerialUSB.available() > 0) {
            SerialUSB.read();
            return true;
        }
    }
    return false;
}

// A reading every second until a key is pressed. Code 2 is the battery;
// with bcero the raw count of an input calibrated at 0 V.
void lectura_en_vivo(uint8_t canalogica, bool bcero) {
    descarto_entrada_usb();
    do {
        uint16_t ibruto = 0;
        const float fvalor = extraigo_valor_analogico(canalogica, &ibruto, 0);
        if (canalogica == ANALOGICA_BATERIA) {
            SerialUSB.print("Bateria (");
        } else {
            SerialUSB.print(canalogica == ANALOGICA_1 ? "Analog 1 (" : "Analog 2 (");
        }
        if (bcero) {
            SerialUSB.print("0v):");
            SerialUSB.print(static_cast<unsigned int>(ibruto));
        } else {
            SerialUSB.print(static_cast<unsigned int>(ibruto));
            SerialUSB.print("): ");
            SerialUSB.print(static_cast<double>(fvalor), 2);
        }
        linea();
    } while (!tecla_en_un_segundo());
}

// The number after the first space of the line; false without one.
bool valor_linea(float* pfvalor) {
    const uint8_t cbytes =
        ktr09.cbytes_rx < sizeof(ktr09.cbuffer_rx) ? ktr09.cbytes_rx : sizeof(ktr09.cbuffer_rx);
    const void* pespacio = memchr(ktr09.cbuffer_rx, ' ', cbytes);
    if (pespacio == nullptr) {
        texto_linea("Introducido el valor de forma erronea");
        return false;
    }
    const uint8_t cinicio =
        static_cast<uint8_t>(static_cast<const unsigned char*>(pespacio) - ktr09.cbuffer_rx + 1);
    *pfvalor =
        conversion_ascii_float(cinicio, static_cast<uint8_t>(cbytes - cinicio), ktr09.cbuffer_rx);
    return true;
}

void guardo_factor(uint16_t idireccion, float ffactor) {
    uint32_t lpalabra = 0;
    memcpy(&lpalabra, &ffactor, sizeof(lpalabra));
    const uint8_t cbytes[4] = {static_cast<uint8_t>(lpalabra), static_cast<uint8_t>(lpalabra >> 8),
                               static_cast<uint8_t>(lpalabra >> 16),
                               static_cast<uint8_t>(lpalabra >> 24)};
    writeEEPROM(DIRECCION_EEPROM, idireccion, cbytes, sizeof(cbytes));
}

void calibracion_bateria() {
    float fvalor = 0.0f;
    if (!valor_linea(&fvalor)) {
        return;
    }
    texto_linea("Ajuste bateria");
    uint16_t ibruto = 0;
    extraigo_valor_analogico(ANALOGICA_BATERIA, &ibruto, 1);
    // With nothing measured there is no factor: storing one would divide by 0.
    if (ibruto == 0) {
        texto_linea("Introducido el valor de forma erronea");
        return;
    }
    configuracion_ktr09.fconversor_bateria = fvalor / static_cast<float>(ibruto);
    SerialUSB.print("Conversor:");
    SerialUSB.print(static_cast<double>(configuracion_ktr09.fconversor_bateria), 5);
    texto_linea("  (Ideal: 0.0106)");
    guardo_factor(EEPROM_CONVERSOR_BATERIA, configuracion_ktr09.fconversor_bateria);
    lectura_variables_analogicas_ktr09(ANALOGICA_BATERIA);
    lectura_en_vivo(ANALOGICA_BATERIA, false);
}

void calibracion_analogica(uint8_t k) {
    float fvalor = 0.0f;
    if (!valor_linea(&fvalor)) {
        return;
    }
    const uint8_t j = static_cast<uint8_t>(k - 1);
    texto_linea(k == 1 ? "Ajuste analogica 1" : "Ajuste analogica 2");
    if (k == 1) {
        SerialUSB.print(static_cast<double>(fvalor), 2);
        linea();
    }
    uint16_t ibruto = 0;
    extraigo_valor_analogico(j, &ibruto, 1);
    stconfiguracion_ktr09& config = configuracion_ktr09;
    const bool bcero = fvalor == 0.0f;
    if (bcero) {
        config.ivalor_0_analogica[j] = ibruto;
        SerialUSB.print("Configurado valor 0:");
        SerialUSB.print(static_cast<unsigned int>(ibruto));
        linea();
        writeEEPROM_variable(DIRECCION_EEPROM,
                             k == 1 ? EEPROM_VALOR_0_ANALOGICA_1 : EEPROM_VALOR_0_ANALOGICA_2,
                             ibruto, 2);
    } else {
        const uint16_t icero = config.ivalor_0_analogica[j];
        const uint16_t ispan = ibruto > icero ? static_cast<uint16_t>(ibruto - icero) : 0;
        if (ispan == 0) {
            texto_linea("Introducido el valor de forma erronea");
            return;
        }
        config.fconversor_analogica[j] = fvalor / static_cast<float>(ispan);
        SerialUSB.print("Conversor:");
        SerialUSB.print(static_cast<double>(fvalor), 2);
        SerialUSB.print(' ');
        SerialUSB.print(static_cast<double>(ispan), 2);
        SerialUSB.print(' ');
        SerialUSB.print(static_cast<double>(config.fconversor_analogica[j]), 2);
        linea();
        guardo_factor(k == 1 ? EEPROM_CONVERSOR_ANALOGICA_1 : EEPROM_CONVERSOR_ANALOGICA_2,
                      config.fconversor_analogica[j]);
    }
    lectura_variables_analogicas_ktr09(j);
    lectura_en_vivo(j, bcero);
}

void canales_como(Consola& consola, uint8_t ctipo, const char* pctexto) {
    Serial0.end();
    Serial3.end();
    Serial1.end();
    configuracion_canal(CANAL_AIS, ctipo, 1);
    configuracion_canal(CANAL_SENSOR_1, ctipo, 1);
    configuracion_canal(CANAL_SENSOR_2, ctipo, 1);
    Serial0.begin(38400);
    Serial3.begin(38400);
    Serial1.begin(38400);
    linea();
    texto_linea(pctexto);
    consola.ctipo = ctipo;
}

void comando(Consola& consola) {
    if (consola.btest && linea_empieza_por(m_rs232) == 1) {
        canales_como(consola, 1, "Canales configurados como RS232");
    } else if (consola.btest && linea_empieza_por(m_rs485) == 1) {
        canales_como(consola, 4, "Canales configurados como RS485");
    } else if (consola.btest && linea_empieza_por(m_rs422) == 1) {
        canales_como(consola, 2, "Canales configurados como RS422");
    } else if (linea_empieza_por(m_read_rtc) == 1) {
        consola.cpantalla = RELOJ;
    } else if (linea_empieza_por(m_info_sd) == 1) {
        stsd.ctarjeta_inicializada = 0;
        consola.cpantalla = TARJETA_SD;
    } else if (linea_empieza_por(m_dip) == 1) {
        consola.cpantalla = DIP;
    } else if (linea_empieza_por(m_breal) == 1) {
        calibracion_bateria();
    } else if (linea_empieza_por(m_bateria) == 1) {
        lectura_en_vivo(ANALOGICA_BATERIA, false);
    } else if (linea_empieza_por(m_analog1_real) == 1) {
        calibracion_analogica(1);
    } else if (linea_empieza_por(m_analog1) == 1) {
        lectura_en_vivo(ANALOGICA_1, false);
    } else if (linea_empieza_por(m_analog2_real) == 1) {
        calibracion_analogica(2);
    } else if (linea_empieza_por(m_analog2) == 1) {
        lectura_en_vivo(ANALOGICA_2, false);
    } else {
        consola.cpantalla = NINGUNA;
    }
}

void teclado(Consola& consola) {
    while (SerialUSB.available() > 0) {
        const uint8_t cdato = static_cast<uint8_t>(SerialUSB.read());
        if (cdato == '\n') {
            continue;
        }
        if (byte_linea_consola(cdato) == 1) {
            comando(consola);
            descarto_entrada_usb();
            ktr09.cbytes_rx = 0;
        }
    }
}

}  // namespace

void rutina_test(uint8_t ccanal) {
    Consola consola{ccanal == 1, PASEO_SALIDAS, 0, 4};
    if (consola.btest) {
        digitalWrite(board::kAisDriver.disable, HIGH);
        digitalWrite(board::kSensor1Driver.disable, HIGH);
        digitalWrite(board::kSensor2Driver.disable, HIGH);
        Serial0.end();
        Serial3.end();
        Serial1.end();
    }
    cretardo_tiempo = 0;
    ktr09.creintentos_lectura_fecha = 0;
    ktr09.ctest = 1;
    for (uint8_t i = 0; i < 4; ++i) {
        ktr09.cestados_entradas_externas[i] = 2;
    }
    ktr09.clisto = 1;
    stsd.ctarjeta_inicializada = 0;
    linea_asteriscos(60);
    SerialUSB.print("\t\t\t");
    SerialUSB.print(consola.btest ? "TEST" : "SETTINGS");
    linea();
    linea_asteriscos(60);
    linea();
    descarto_entrada_usb();
    ktr09.cbytes_rx = 0;
    while (true) {
        sodaq_wdt_reset();
        if (consola.btest) {
            configuracion_canal(CANAL_AIS, consola.ctipo, 0);
            configuracion_canal(CANAL_SENSOR_1, consola.ctipo, 0);
            configuracion_canal(CANAL_SENSOR_2, consola.ctipo, 0);
            comunicacion_canal1_test(consola.ctipo);
            comunicacion_canal2_test(consola.ctipo);
            comunicacion_canal3_test(consola.ctipo);
        } else {
            consola.cpantalla = NINGUNA;
        }
        evento_entrada();
        pantalla(consola);
        teclado(consola);
    }
}
