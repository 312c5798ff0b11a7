// libFuzzer target over the PC link's input surfaces: arbitrary bytes typed
// on the USB port (PC frames from "@", console lines otherwise) and arbitrary
// bursts on a sensor channel's frame path, with the configuration EEPROM
// attached. A request must never read or write outside bufferRx, vArray or
// vSalida, nor write EEPROM bytes its frame does not carry; the ASan and
// UBSan builds catch the first, the check below the second.
#include <Wire.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <Arduino.h>

#include "declaraciones.h"
#include "devices/eeprom_24xx64.h"
#include "fuzz_board.h"
#include "host/machine.h"
#include "main.h"
#include "procesado.h"

namespace {

// Bytes written by valid write frames found in the input: the only EEPROM
// bytes allowed to change.
std::vector<bool> writable(const uint8_t* data, size_t size) {
    std::vector<bool> allowed(sim::Eeprom24xx64::kSize, false);
    for (size_t at = 0; at + 13 <= size; ++at) {
        if (verificar_trama(data + at, static_cast<uint8_t>(size - at > 255 ? 255 : size - at)) !=
                1 ||
            data[at + 5] != 1) {
            continue;
        }
        const uint16_t address = static_cast<uint16_t>((data[at + 8] << 8) | data[at + 9]);
        for (unsigned k = 0; k < data[at + 10]; ++k) {
            allowed[(address + k) % allowed.size()] = true;
        }
    }
    return allowed;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) {
        return 0;
    }
    fuzz_board();
    sim::Eeprom24xx64 eeprom;
    host::attach_i2c_device(sim::Eeprom24xx64::kAddress, &eeprom);
    const std::vector<uint8_t> before = eeprom.contents();
    const std::vector<bool> allowed = writable(data + 1, size - 1);

    if ((data[0] & 1) == 0) {
        // The USB port, in packets as a terminal sends them; a console line
        // that enters a service mode or formats the card never returns (the
        // station restarts), so those are cut.
        std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
        for (const char* mode : {"TEST", "SETTINGS", "FORMAT SD"}) {
            for (size_t at = text.find(mode); at != std::string::npos; at = text.find(mode)) {
                text[at] = '?';
            }
        }
        host::usb_send(text);
        for (int pass = 0; pass < 8; ++pass) {
            atencion_usb();
        }
    } else {
        // A burst on sensor channel 1 or 2 as the channel hands it over.
        const uint8_t channel = static_cast<uint8_t>((data[0] >> 1) & 1);
        stsensor& s = sensor[channel];
        const size_t bytes = size - 1 < sizeof(s.cframe_rx) ? size - 1 : sizeof(s.cframe_rx);
        std::memcpy(s.cframe_rx, data + 1, bytes);
        s.ibytes_rx = static_cast<uint16_t>(bytes);
        if (bytes > 5 && s.cframe_rx[0] == '@' &&
            verificar_trama(s.cframe_rx, static_cast<uint8_t>(bytes)) == 1) {
            procesar_trama(s.cframe_rx, channel);
        }
    }
    const std::vector<uint8_t>& after = eeprom.contents();
    for (size_t i = 0; i < after.size(); ++i) {
        check(after[i] == before[i] || allowed[i]);
    }
    host::usb_take_output();
    host::attach_i2c_device(sim::Eeprom24xx64::kAddress, nullptr);
    return 0;
}
