// libFuzzer target over a sensor channel burst: arbitrary bytes from a base
// station computer, a TIDELINK device or a weather station (the first bytes
// choose the device, the channel and the trace level), through the channel's
// handler; then the same bytes as a message 6 heard on the air for a
// TIDELINK channel. The contracts of the message 6 records are checked.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include <Arduino.h>
#include <Wire.h>

#include "ais.h"
#include "comunicaciones_ema_airmar.h"
#include "comunicaciones_tidelink_estacion_base.h"
#include "declaraciones.h"
#include "fuzz_board.h"
#include "host/machine.h"
#include "main.h"

namespace {

constexpr size_t kHeader = 3;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < kHeader) {
        return 0;
    }
    fuzz_board();
    const uint8_t ccanal = data[1] & 1;
    const uint8_t csensor = static_cast<uint8_t>(data[0] % 3 + 1);
    configuracion_sensor[ccanal].csensor = csensor;
    configuracion_sensor[ccanal].ctimeout_datos_validos = data[2];
    sensor[ccanal].cextraigo = static_cast<uint8_t>((data[1] >> 1) % 3);
    stais.cextraigo = sensor[ccanal].cextraigo;

    size_t bytes = size - kHeader;
    if (bytes > sizeof(sensor[ccanal].cframe_rx)) {
        bytes = sizeof(sensor[ccanal].cframe_rx);
    }
    std::memcpy(sensor[ccanal].cframe_rx, data + kHeader, bytes);
    sensor[ccanal].ibytes_rx = static_cast<uint16_t>(bytes);
    if (csensor == CSENSOR_ESTACION_BASE) {
        procesamos_trama_rx_estacion_base(ccanal);
    } else if (csensor == CSENSOR_TIDELINK) {
        procesamos_trama_rx_tidelink(ccanal);
    } else {
        procesamos_trama_rx_estacion_meteorologica(ccanal);
    }
    check(sensor[ccanal].cnew_msg6 <= 2);
    check(sensor[ccanal].cpayload_msg6[0] <= CCARACTERES_PAYLOAD_AIS);
    check(stais.ilongitud_paquete <= sizeof(sensor[ccanal].cdatos_tx));

    // The bytes as the six-bit values of a message 6 heard on the air.
    configuracion_sensor[ccanal].csensor = CSENSOR_TIDELINK;
    const size_t values = bytes < sizeof(stais.cmsg6) ? bytes : sizeof(stais.cmsg6);
    for (size_t i = 0; i < values; ++i) {
        stais.cmsg6[i] = data[kHeader + i] & 0x3F;
    }
    stais.cposicion_datos_msg6 = static_cast<uint8_t>(values);
    stais.crelleno_msg6 = static_cast<uint8_t>(data[2] % 8);
    procesamos_mensaje6_rx_tidelink();
    check(sensor[ccanal].ibytes_rx_tide <= sizeof(sensor[ccanal].cframe_rx_tide));
    check(stais.crelleno_msg6 == 0);
    host::usb_take_output();
    return 0;
}
