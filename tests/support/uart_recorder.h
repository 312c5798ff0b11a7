// A device on a UART that keeps every byte the station sends it.
#pragma once

#include <cstdint>
#include <string>

#include "host/machine.h"

struct UartRecorder : host::UartPeer {
    std::string bytes;
    void on_byte_from_station(uint8_t byte) override { bytes += static_cast<char>(byte); }
};
