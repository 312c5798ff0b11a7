// The station state both harness images run their paths in.
#pragma once

#include <stdint.h>

#include "declaraciones.h"

// Every countdown running, every input and output in use: the most a tick
// has to do in the normal mode.
inline void busiest_normal_state() {
    ktr09.ctest = 0;
    ktr09.clisto = 1;
    for (uint8_t i = 0; i < 4; ++i) {
        configuracion_ktr09.cfuncionalidad_entradas_externas[i] = static_cast<uint8_t>(1 + i % 2);
        configuracion_ktr09.itemporizacion_entrada_externa[i] = 5;
        ktr09.itiempo_activacion_salida_digital[i] = 60000;
        ktr09.cestado_salida_digital[i] = 1;
    }
    configuracion_sensor[0].csensor = 1;
    configuracion_sensor[1].csensor = 3;
}

// A watched rectangle over the whole sea, so that every ship heard is
// checked against it and the ones inside are warned.
inline void watch_the_whole_sea() {
    shipras.llongitud[0] = -108000000;
    shipras.llongitud[1] = 108000000;
    shipras.llatitud[0] = -54000000;
    shipras.llatitud[1] = 54000000;
}
