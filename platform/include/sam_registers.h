// The few ATSAML21 peripheral registers the firmware programs directly: the
// TC0 timer in 16-bit mode, the generic clock controller and the interrupt
// controller. Register cells come from platform_register.h, which each
// backend provides (plain volatile memory on the chip, a modelled register on
// the host).
#pragma once

#include <stdint.h>

#include "platform_register.h"

// TC0 in COUNT16 mode.
struct TcCount16Registers {
    RwReg32 CTRLA;     // 0x00
    RwReg8 CTRLBCLR;   // 0x04
    RwReg8 CTRLBSET;   // 0x05
    RwReg16 EVCTRL;    // 0x06
    RwReg8 INTENCLR;   // 0x08 write 1 to disable an interrupt
    RwReg8 INTENSET;   // 0x09 write 1 to enable an interrupt
    RwReg8 INTFLAG;    // 0x0A write 1 to clear a flag
    RwReg8 STATUS;     // 0x0B
    RwReg8 WAVE;       // 0x0C
    RwReg8 DRVCTRL;    // 0x0D
    RwReg8 reserved0;  // 0x0E
    RwReg8 DBGCTRL;    // 0x0F
    RwReg32 SYNCBUSY;  // 0x10 read-only synchronisation flags
    RwReg16 COUNT;     // 0x14
    RwReg16 reserved1[3];
    RwReg16 CC[2];  // 0x1C
};

struct TcRegisters {
    TcCount16Registers COUNT16;
};

struct GclkRegisters {
    RwReg8 CTRLA;  // 0x00
    RwReg8 reserved0[3];
    RwReg32 SYNCBUSY;  // 0x04
    RwReg32 reserved1[6];
    RwReg32 GENCTRL[9];  // 0x20
    RwReg32 reserved2[15];
    RwReg32 PCHCTRL[35];  // 0x80
};

extern TcRegisters tc0_registers;
extern GclkRegisters gclk_registers;
#define TC0 (&tc0_registers)
#define GCLK (&gclk_registers)

// TC CTRLA
constexpr uint32_t TC_CTRLA_SWRST = 1u << 0;
constexpr uint32_t TC_CTRLA_ENABLE = 1u << 1;
constexpr uint32_t TC_CTRLA_MODE_COUNT16 = 0u << 2;
constexpr uint32_t TC_CTRLA_MODE_Msk = 3u << 2;
constexpr uint32_t TC_CTRLA_PRESCALER_Pos = 8;
constexpr uint32_t TC_CTRLA_PRESCALER_Msk = 7u << 8;
constexpr uint32_t TC_CTRLA_PRESCALER_DIV1 = 0u << 8;
constexpr uint32_t TC_CTRLA_PRESCALER_DIV2 = 1u << 8;
constexpr uint32_t TC_CTRLA_PRESCALER_DIV4 = 2u << 8;
constexpr uint32_t TC_CTRLA_PRESCALER_DIV8 = 3u << 8;
constexpr uint32_t TC_CTRLA_PRESCALER_DIV16 = 4u << 8;
constexpr uint32_t TC_CTRLA_PRESCALER_DIV64 = 5u << 8;
constexpr uint32_t TC_CTRLA_PRESCALER_DIV256 = 6u << 8;
constexpr uint32_t TC_CTRLA_PRESCALER_DIV1024 = 7u << 8;
// TC WAVE
constexpr uint8_t TC_WAVE_WAVEGEN_NFRQ = 0;
constexpr uint8_t TC_WAVE_WAVEGEN_MFRQ = 1;
constexpr uint8_t TC_WAVE_WAVEGEN_Msk = 3;
// TC interrupt bits (INTENCLR, INTENSET, INTFLAG)
constexpr uint8_t TC_INTFLAG_OVF = 1u << 0;
constexpr uint8_t TC_INTFLAG_MC0 = 1u << 4;
constexpr uint8_t TC_INTENSET_MC0 = 1u << 4;
constexpr uint8_t TC_INTENCLR_MC0 = 1u << 4;
// TC SYNCBUSY
constexpr uint32_t TC_SYNCBUSY_SWRST = 1u << 0;
constexpr uint32_t TC_SYNCBUSY_ENABLE = 1u << 1;
constexpr uint32_t TC_SYNCBUSY_CC0 = 1u << 6;

// GCLK GENCTRL
constexpr uint32_t GCLK_GENCTRL_SRC_Msk = 0x1Fu;
constexpr uint32_t GCLK_GENCTRL_SRC_OSC16M = 0x05u;
constexpr uint32_t GCLK_GENCTRL_SRC_DFLL48M = 0x07u;
constexpr uint32_t GCLK_GENCTRL_GENEN = 1u << 8;
constexpr uint32_t GCLK_GENCTRL_DIV_Pos = 16;
// GCLK PCHCTRL
constexpr uint32_t GCLK_PCHCTRL_GEN_Msk = 0x0Fu;
constexpr uint32_t GCLK_PCHCTRL_GEN_GCLK0 = 0u;
constexpr uint32_t GCLK_PCHCTRL_GEN_GCLK1 = 1u;
constexpr uint32_t GCLK_PCHCTRL_CHEN = 1u << 6;
constexpr uint32_t TC0_GCLK_ID = 27;

// Interrupt controller.
enum IRQn_Type : int { TC0_IRQn = 17 };
void NVIC_DisableIRQ(IRQn_Type irq);
void NVIC_EnableIRQ(IRQn_Type irq);
void NVIC_ClearPendingIRQ(IRQn_Type irq);
// Priority level 0..3, 0 the highest.
void NVIC_SetPriority(IRQn_Type irq, uint32_t priority);

// The TC0 interrupt entry, provided by the firmware.
extern "C" void TC0_Handler();
