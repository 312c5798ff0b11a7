// The harness's board: the nRF51's TIMER0 as a 16 MHz counter (one count is
// 62.5 instructions under QEMU's -icount shift=0, 1 ns each), TIMER1 as the
// source of the firmware's tick interrupt, and ARM semihosting for output
// and exit.
#include "board.h"

#include <stdint.h>

extern "C" void TC0_Handler();

namespace {

// nRF51 TIMER0 and TIMER1 registers.
constexpr uintptr_t kTimer0 = 0x40008000u;
constexpr uintptr_t kTimer1 = 0x40009000u;
volatile uint32_t& timer_reg(uintptr_t offset, uintptr_t timer = kTimer0) {
    return *reinterpret_cast<volatile uint32_t*>(timer + offset);
}
constexpr uintptr_t kTasksStart = 0x000;
constexpr uintptr_t kTasksStop = 0x004;
constexpr uintptr_t kTasksClear = 0x00C;
constexpr uintptr_t kTasksCapture0 = 0x040;
constexpr uintptr_t kEventsCompare0 = 0x140;
constexpr uintptr_t kShorts = 0x200;
constexpr uintptr_t kIntenset = 0x304;
constexpr uintptr_t kIntenclr = 0x308;
constexpr uintptr_t kMode = 0x504;
constexpr uintptr_t kBitmode = 0x508;
constexpr uintptr_t kPrescaler = 0x510;
constexpr uintptr_t kCc0 = 0x540;

constexpr uint32_t kShortCompare0Clear = 1u << 0;
constexpr uint32_t kIntCompare0 = 1u << 16;
// TIMER1's interrupt line on the nRF51, and the NVIC's set- and
// clear-enable registers.
constexpr uint32_t kTimer1Irq = 9;
constexpr uintptr_t kNvicIser = 0xE000E100u;
constexpr uintptr_t kNvicIcer = 0xE000E180u;
void nvic_write(uintptr_t reg, uint32_t irq) {
    *reinterpret_cast<volatile uint32_t*>(reg) = 1u << irq;
}

volatile uint32_t g_tick_interrupts = 0;
uint32_t g_tick_period = 0;
uint32_t g_tick_jitter = 1;

constexpr uint32_t kSysWrite0 = 0x04;
constexpr uint32_t kSysExit = 0x18;
constexpr uint32_t kApplicationExit = 0x20026;

uint32_t semihost(uint32_t op, uint32_t arg) {
    register uint32_t r0 __asm__("r0") = op;
    register uint32_t r1 __asm__("r1") = arg;
    __asm__ volatile("bkpt 0xAB" : "+r"(r0) : "r"(r1) : "memory");
    return r0;
}

}  // namespace

void timer_start() {
    timer_reg(kMode) = 0;       // timer, not counter
    timer_reg(kBitmode) = 3;    // 32 bits
    timer_reg(kPrescaler) = 0;  // 16 MHz
    timer_reg(kTasksClear) = 1;
    timer_reg(kTasksStart) = 1;
}

uint32_t timer_now() {
    timer_reg(kTasksCapture0) = 1;
    return timer_reg(kCc0);
}

void tick_interrupts_start(uint32_t period) {
    g_tick_period = period;
    timer_reg(kMode, kTimer1) = 0;
    timer_reg(kBitmode, kTimer1) = 3;
    timer_reg(kPrescaler, kTimer1) = 0;
    timer_reg(kCc0, kTimer1) = period;
    timer_reg(kShorts, kTimer1) = kShortCompare0Clear;
    timer_reg(kEventsCompare0, kTimer1) = 0;
    timer_reg(kIntenset, kTimer1) = kIntCompare0;
    nvic_write(kNvicIser, kTimer1Irq);
    timer_reg(kTasksClear, kTimer1) = 1;
    timer_reg(kTasksStart, kTimer1) = 1;
}

void tick_interrupts_stop() {
    nvic_write(kNvicIcer, kTimer1Irq);
    timer_reg(kIntenclr, kTimer1) = kIntCompare0;
    timer_reg(kTasksStop, kTimer1) = 1;
    timer_reg(kEventsCompare0, kTimer1) = 0;
}

uint32_t tick_interrupts() {
    return g_tick_interrupts;
}

extern "C" void TIMER1_IRQHandler() {
    timer_reg(kEventsCompare0, kTimer1) = 0;
    // The next period 4 counts either side of the nominal one, from a
    // xorshift sequence.
    g_tick_jitter ^= g_tick_jitter << 13;
    g_tick_jitter ^= g_tick_jitter >> 17;
    g_tick_jitter ^= g_tick_jitter << 5;
    timer_reg(kCc0, kTimer1) = g_tick_period - 4 + (g_tick_jitter & 7);
    g_tick_interrupts = g_tick_interrupts + 1;
    TC0_Handler();
}

void host_print(const char* text) {
    semihost(kSysWrite0, reinterpret_cast<uint32_t>(text));
}

void host_exit() {
    semihost(kSysExit, kApplicationExit);
    for (;;) {
    }
}
