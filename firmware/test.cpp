#include "test.h"

#include <Arduino.h>

#include "comunicaciones_pc.h"

void mensaje_bienvenida() {
    linea();
    linea_asteriscos(69);
    SerialUSB.print("\t\tZPX\t\tKTR09");
    linea();
    SerialUSB.print("\tHardware: ");
    transmito_variable(1, 1, '.');
    transmito_variable(1, 1, '\t');
    SerialUSB.print("Firmware: ");
    transmito_variable(3, 2, '_');
    transmito_variable(0, 1, 1);
    linea_asteriscos(69);
    linea();
}

void extraccion_tecla_pulsada(uint8_t cmayusculas, uint8_t cdato) {
    if (cdato == 13) {
        linea();
    } else if (cdato == 0xD1 || cdato == 0xF1) {
        SerialUSB.write(static_cast<uint8_t>(0xA5));
    } else if (cmayusculas == 1 && cdato > 0x60) {
        SerialUSB.write(static_cast<uint8_t>(cdato - 0x20));
    } else {
        SerialUSB.write(cdato);
    }
}
