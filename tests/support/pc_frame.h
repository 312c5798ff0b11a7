// PC-link request frames for tests: a body with its CRC-16 appended, high
// byte first, as the configuration program sends it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "codec/pc_frame.h"

inline std::string with_crc(std::vector<uint8_t> body) {
    const std::vector<uint8_t> frame = codec::with_crc(std::move(body));
    return std::string(frame.begin(), frame.end());
}
