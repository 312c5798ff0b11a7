// Start-up on QEMU's micro:bit: the vector table and a reset handler that
// prepares memory and runs the measurements instead of the station's loop.
#include <stdint.h>

#include "board.h"

void run_measurements();

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

// Cortex-M0 system exceptions (no interrupt is enabled, so no device vectors).
struct VectorTable {
    void* initial_stack;
    Handler system[15];
};

constexpr VectorTable make_vector_table() {
    VectorTable table{&__stack_top__, {}};
    table.system[0] = Reset_Handler;
    for (int i = 1; i < 15; ++i) {
        table.system[i] = Fault_Handler;
    }
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
    run_measurements();
    host_exit();
}

}  // extern "C"
