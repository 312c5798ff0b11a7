// PC-link request frames for tests: a body with its CRC-16 appended, high
// byte first, as the configuration program sends it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "procesado.h"

inline std::string with_crc(std::vector<uint8_t> body) {
    const uint16_t crc = calculo_crc16(body.data(), static_cast<uint16_t>(body.size()));
    body.push_back(static_cast<uint8_t>(crc >> 8));
    body.push_back(static_cast<uint8_t>(crc & 0xFF));
    return std::string(body.begin(), body.end());
}
