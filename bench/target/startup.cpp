// Start-up on QEMU's micro:bit: the vector table and a reset handler that
// paints the stack, prepares memory and runs the image's measurements
// instead of the station's loop.
#include <stdint.h>

#include "board.h"
#include "stack.h"

// The cycle image's (cycles_main.cpp) or the stack image's (stack_paths.cpp).
void run_harness();

extern "C" {
extern uint32_t __data_load__;
extern uint32_t __data_start__;
extern uint32_t __data_end__;
extern uint32_t __bss_start__;
extern uint32_t __bss_end__;
extern uint32_t __stack_top__;
extern void (*__init_array_start[])();
extern void (*__init_array_end[])();

void Reset_Handler();
void Fault_Handler();
}

namespace {

using Handler = void (*)();

// The Cortex-M0 system exceptions and the nRF51's 32 interrupts, of which
// only TIMER1's is ever enabled.
constexpr int kDeviceVectors = 32;
constexpr int kTimer1Irq = 9;

struct VectorTable {
    void* initial_stack;
    Handler system[15];
    Handler device[kDeviceVectors];
};

constexpr VectorTable make_vector_table() {
    VectorTable table{&__stack_top__, {}, {}};
    table.system[0] = Reset_Handler;
    for (int i = 1; i < 15; ++i) {
        table.system[i] = Fault_Handler;
    }
    for (int i = 0; i < kDeviceVectors; ++i) {
        table.device[i] = Fault_Handler;
    }
    table.device[kTimer1Irq] = TIMER1_IRQHandler;
    return table;
}

}  // namespace

extern "C" {

__attribute__((section(".vectors"), used)) const VectorTable vector_table = make_vector_table();

// A fault is a harness error: say so and end the run rather than hang.
void Fault_Handler() {
    host_print("cycle harness: fault\n");
    host_exit();
}

void Reset_Handler() {
    stack_paint();
    for (uint32_t *from = &__data_load__, *to = &__data_start__; to < &__data_end__;) {
        *to++ = *from++;
    }
    for (uint32_t* to = &__bss_start__; to < &__bss_end__;) {
        *to++ = 0;
    }
    for (void (**constructor)() = __init_array_start; constructor < __init_array_end;
         ++constructor) {
        (*constructor)();
    }
    run_harness();
    host_exit();
}

}  // extern "C"
