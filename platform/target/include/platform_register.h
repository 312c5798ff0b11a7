// Register cells on the chip: plain memory-mapped volatile words.
#pragma once

#include <stdint.h>

typedef volatile uint32_t RwReg32;
typedef volatile uint16_t RwReg16;
typedef volatile uint8_t RwReg8;
