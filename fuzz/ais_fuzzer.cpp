// libFuzzer target over a transponder burst: arbitrary bytes as the burst the
// collector hands over, through the receive framing and every reply handler,
// in any command step, trace level and link state the first bytes choose,
// with or without a TIDELINK channel for the messages 6 it carries.
// Each sentence copy lives on the stack, so AddressSanitizer catches a copy
// or a field search that leaves it; the contracts of the burst are checked.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include <Arduino.h>
#include <Wire.h>

#include "ais.h"
#include "declaraciones.h"
#include "fuzz_board.h"
#include "host/machine.h"
#include "main.h"

namespace {

constexpr size_t kHeader = 4;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < kHeader) {
        return 0;
    }
    fuzz_board();
    stais.ccomando = static_cast<uint8_t>(data[0] % CCOMANDOS_AIS);
    stais.cextraigo = static_cast<uint8_t>(data[1] % 3);
    stais.cconexion_software_pc = static_cast<uint8_t>(data[2] % 3);
    stais.lmmsi = (data[3] & 1) != 0 ? 0xFFFFFFFFu : 992351000u;
    stais.lmmsi_destino_msg6 = (data[3] & 2) != 0 ? 0xFFFFFFFFu : 235040000u;
    stais.cesperando_respuesta = 1;
    // A TIDELINK channel takes the messages 6 heard in the burst.
    configuracion_sensor[0].csensor = (data[3] & 4) != 0 ? CSENSOR_TIDELINK : CSENSOR_NINGUNO;

    size_t bytes = size - kHeader;
    if (bytes > sizeof(stais.cframe_rx)) {
        bytes = sizeof(stais.cframe_rx);
    }
    std::memcpy(stais.cframe_rx, data + kHeader, bytes);
    stais.ibytes_rx = static_cast<uint16_t>(bytes);
    procesamos_trama_rx_ais();

    check(stais.ibytes_rx == bytes);
    check(stais.ccomando < CCOMANDOS_AIS);
    check(stais.cconexion_software_pc <= 2);
    host::usb_take_output();
    return 0;
}
