#include "comunicaciones_pc.h"

#include <Arduino.h>

#include "declaraciones.h"

void traza_bytes_visibles(const unsigned char* pcdatos, uint16_t ibytes) {
    for (uint16_t i = 0; i < ibytes; ++i) {
        const uint8_t cdato = pcdatos[i];
        SerialUSB.write(cdato == '\r' ? 'd' : cdato == '\n' ? 'a' : cdato);
    }
}

void linea() {
    SerialUSB.print("\r\n");
}

void escribo_mensaje(uint8_t ccon_linea, const char* pcmensaje) {
    SerialUSB.print(pcmensaje);
    if (ccon_linea == 1) {
        linea();
    } else {
        SerialUSB.print(' ');
    }
}

static void escribo_terminador(uint8_t ccon_linea) {
    if (ccon_linea == 1) {
        linea();
    } else if (ccon_linea != 0) {
        SerialUSB.print(static_cast<char>(ccon_linea));
    }
}

// Digit by digit from the highest requested power down; the first quotient
// carries whatever does not fit the digit count.
static void transmito_en_base(uint32_t laux, uint8_t cnumero_cifras, uint8_t ccon_linea,
                              const uint32_t* ppotencias, uint8_t cmax_cifras, int ibase) {
    if (cnumero_cifras > cmax_cifras) {
        cnumero_cifras = cmax_cifras;
    }
    for (uint8_t k = cnumero_cifras; k > 0; --k) {
        const uint32_t lpotencia = ppotencias[k - 1];
        SerialUSB.print(static_cast<unsigned int>(laux / lpotencia), ibase);
        laux %= lpotencia;
    }
    escribo_terminador(ccon_linea);
}

void transmito_variable(uint32_t laux, uint8_t cnumero_cifras, uint8_t ccon_linea) {
    transmito_en_base(laux, cnumero_cifras, ccon_linea, lvalores_decimales, 10, DEC);
}

void transmito_variable_hex(uint32_t laux, uint8_t cnumero_cifras, uint8_t ccon_linea) {
    transmito_en_base(laux, cnumero_cifras, ccon_linea, lvalores_hexadecimales, 8, HEX);
}

void linea_asteriscos(uint8_t ccantidad) {
    for (uint8_t i = 0; i < ccantidad; ++i) {
        SerialUSB.print('*');
    }
    linea();
}
