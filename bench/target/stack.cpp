#include "stack.h"

#include <stdio.h>

#include "board.h"

extern "C" uint32_t end;

namespace {

constexpr uint32_t kPattern = 0xC5A3E1B7u;
// Left unpainted below the stack pointer: room for whatever the fill itself
// may push.
constexpr uint32_t kMargin = 64;

}  // namespace

void stack_paint() {
    uint32_t primask;
    __asm__ volatile("mrs %0, primask\n\tcpsid i" : "=r"(primask)::"memory");
    uint32_t sp;
    __asm__ volatile("mov %0, sp" : "=r"(sp));
    uint32_t* const limit = reinterpret_cast<uint32_t*>((sp - kMargin) & ~3u);
    for (uint32_t* word = &end; word < limit; ++word) {
        *word = kPattern;
    }
    __asm__ volatile("msr primask, %0" ::"r"(primask) : "memory");
}

uint32_t stack_high_water() {
    const uint32_t* word = &end;
    while (word < &__stack_top__ && *word == kPattern) {
        ++word;
    }
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&__stack_top__) -
                                 reinterpret_cast<uintptr_t>(word));
}

uint32_t stack_reservation() {
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&__stack_top__) -
                                 reinterpret_cast<uintptr_t>(&end));
}

void stack_print(const char* what, const char* name, uint32_t first, uint32_t second) {
    char line[120];
    snprintf(line, sizeof line, "stack %s|%s%s%lu|%lu\n", what, name ? name : "", name ? "|" : "",
             static_cast<unsigned long>(first), static_cast<unsigned long>(second));
    host_print(line);
}
