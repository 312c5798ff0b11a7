// The Cortex-M0+ interrupt controller (NVIC), through its architectural
// registers, and the core's wait-for-interrupt instruction.
#include <stdint.h>

#include "sam_registers.h"

namespace {

volatile uint32_t* const kNvicIser = reinterpret_cast<volatile uint32_t*>(0xE000E100u);
volatile uint32_t* const kNvicIcer = reinterpret_cast<volatile uint32_t*>(0xE000E180u);
volatile uint32_t* const kNvicIcpr = reinterpret_cast<volatile uint32_t*>(0xE000E280u);
// Priority registers: one byte per interrupt, word access only on ARMv6-M.
volatile uint32_t* const kNvicIpr = reinterpret_cast<volatile uint32_t*>(0xE000E400u);
// The SAM L21 implements the top two bits of each priority byte.
constexpr uint32_t kPriorityBits = 2;

uint32_t irq_bit(IRQn_Type irq) {
    return 1u << (static_cast<uint32_t>(irq) & 31u);
}

void barrier() {
    __asm__ volatile("dsb 0xF\n\tisb 0xF" ::: "memory");
}

}  // namespace

void NVIC_EnableIRQ(IRQn_Type irq) {
    kNvicIser[0] = irq_bit(irq);
}

void NVIC_DisableIRQ(IRQn_Type irq) {
    kNvicIcer[0] = irq_bit(irq);
    // The interrupt must not fire once this returns.
    barrier();
}

void NVIC_ClearPendingIRQ(IRQn_Type irq) {
    kNvicIcpr[0] = irq_bit(irq);
}

void NVIC_SetPriority(IRQn_Type irq, uint32_t priority) {
    const uint32_t index = static_cast<uint32_t>(irq);
    const uint32_t shift = (index & 3u) * 8u;
    const uint32_t field = ((priority << (8u - kPriorityBits)) & 0xFFu) << shift;
    volatile uint32_t& word = kNvicIpr[index >> 2];
    word = (word & ~(0xFFu << shift)) | field;
}

void __WFI() {
    __asm__ volatile("wfi");
}
