// Start-up of the ATSAML21J18B: the vector table the core reads at reset and
// the reset handler that prepares memory and runs the station.
#include <stdint.h>

#include "Arduino.h"

extern "C" {
// Symbols of the linker script (cmake/saml21j18b.ld).
extern uint32_t __data_load__;
extern uint32_t __data_start__;
extern uint32_t __data_end__;
extern uint32_t __bss_start__;
extern uint32_t __bss_end__;
extern uint32_t __stack_top__;
extern void (*__preinit_array_start[])();
extern void (*__preinit_array_end[])();
extern void (*__init_array_start[])();
extern void (*__init_array_end[])();

void Reset_Handler();
void Default_Handler();
}

namespace {

using Handler = void (*)();

// Cortex-M0+ system exceptions, then the 29 SAM L21 peripheral interrupts.
constexpr int kSystemVectors = 15;
constexpr int kPeripheralVectors = 29;

struct VectorTable {
    void* initial_stack;
    Handler system[kSystemVectors];
    Handler peripheral[kPeripheralVectors];
};

constexpr VectorTable make_vector_table() {
    VectorTable table{&__stack_top__, {}, {}};
    table.system[0] = Reset_Handler;
    for (int i = 1; i < kSystemVectors; ++i) {
        table.system[i] = Default_Handler;
    }
    for (int i = 0; i < kPeripheralVectors; ++i) {
        table.peripheral[i] = Default_Handler;
    }
    table.peripheral[TC0_IRQn] = TC0_Handler;
    return table;
}

}  // namespace

extern "C" {

__attribute__((section(".vectors"), used)) const VectorTable vector_table = make_vector_table();

// An exception or interrupt nobody handles: stop here, where a debugger
// finds it, until the watchdog restarts the chip.
void Default_Handler() {
    for (;;) {
    }
}

void Reset_Handler() {
    for (uint32_t *from = &__data_load__, *to = &__data_start__; to < &__data_end__;) {
        *to++ = *from++;
    }
    for (uint32_t* to = &__bss_start__; to < &__bss_end__;) {
        *to++ = 0;
    }
    for (void (**constructor)() = __preinit_array_start; constructor < __preinit_array_end;
         ++constructor) {
        (*constructor)();
    }
    for (void (**constructor)() = __init_array_start; constructor < __init_array_end;
         ++constructor) {
        (*constructor)();
    }
    setup();
    for (;;) {
        loop();
    }
}

}  // extern "C"
