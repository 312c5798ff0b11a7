// The harness's board: the nRF51's TIMER0 as a 16 MHz counter (one count is
// 62.5 instructions under QEMU's -icount shift=0, 1 ns each) and ARM
// semihosting for output and exit.
#include "board.h"

#include <stdint.h>

namespace {

// nRF51 TIMER0 registers.
constexpr uintptr_t kTimer0 = 0x40008000u;
volatile uint32_t& timer_reg(uintptr_t offset) {
    return *reinterpret_cast<volatile uint32_t*>(kTimer0 + offset);
}
constexpr uintptr_t kTasksStart = 0x000;
constexpr uintptr_t kTasksClear = 0x00C;
constexpr uintptr_t kTasksCapture0 = 0x040;
constexpr uintptr_t kMode = 0x504;
constexpr uintptr_t kBitmode = 0x508;
constexpr uintptr_t kPrescaler = 0x510;
constexpr uintptr_t kCc0 = 0x540;

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

void host_print(const char* text) {
    semihost(kSysWrite0, reinterpret_cast<uint32_t>(text));
}

void host_exit() {
    semihost(kSysExit, kApplicationExit);
    for (;;) {
    }
}
