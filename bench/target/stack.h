// The stack's high-water mark: the free RAM between the end of .bss and the
// stack is painted with a pattern word, and the lowest word that no longer
// holds it is as deep as the stack has gone since. Only words written count:
// a buffer on the stack that nothing fills leaves the pattern in place.
#pragma once

#include <stdint.h>

extern "C" uint32_t __stack_top__;

// Paints from the end of .bss up to a little below the caller's stack
// pointer, with interrupts held off meanwhile. Uses no static memory, so it
// can run before .data and .bss are set up.
void stack_paint();
// Bytes from the top of RAM down to the lowest word no longer painted.
uint32_t stack_high_water();
// Bytes between the end of .bss and the top of RAM: all the stack can take.
uint32_t stack_reservation();

// "stack <what>|<name>|<first>|<second>" on the host, the name left out when
// null: one line of the figures bench/target/run prints.
void stack_print(const char* what, const char* name, uint32_t first, uint32_t second);

// Bytes from the top of RAM down to the stack pointer here.
__attribute__((always_inline)) inline uint32_t stack_in_use() {
    uint32_t sp;
    __asm__ volatile("mov %0, sp" : "=r"(sp));
    return reinterpret_cast<uint32_t>(&__stack_top__) - sp;
}
