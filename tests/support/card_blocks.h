// Reading a card model's blocks back: one block, and little-endian fields
// in it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "devices/sd_card.h"

inline uint32_t le(const std::vector<uint8_t>& block, size_t at, int bytes) {
    uint32_t value = 0;
    for (int k = bytes - 1; k >= 0; --k) {
        value = (value << 8) | block[at + k];
    }
    return value;
}

inline std::vector<uint8_t> block_of(sim::SdCardModel& card, uint32_t lbn) {
    std::vector<uint8_t> block(512);
    card.read_block(lbn, block.data());
    return block;
}
