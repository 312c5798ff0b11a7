// The firmware's hot paths counted in instructions: the 1 ms tick at each
// depth of its steps and its mean over a minute, and the processing of a full
// 2048-byte burst from the transponder. One line per figure; bench/target/run
// turns them into a table.
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include "ais.h"
#include "board.h"
#include "busiest_state.h"
#include "declaraciones.h"

extern "C" void TC0_Handler();

namespace {

// Under -icount shift=0 an instruction takes 1 ns; TIMER0 counts at 16 MHz,
// so one count is 62.5 instructions. A sum of many readings of the same
// path, whose start falls at a different phase of the count each time, gives
// its length to about one instruction.
uint32_t instructions(uint32_t counts, uint32_t calls) {
    return static_cast<uint32_t>((static_cast<uint64_t>(counts) * 125 + calls) / (2 * calls));
}

const char kBurst[] =
#include "burst.inc"
    ;
static_assert(sizeof(kBurst) - 1 == sizeof(stais.cframe_rx), "a full receive buffer");

void print_line(const char* name, uint32_t calls, uint32_t instructions) {
    char line[120];
    snprintf(line, sizeof line, "%s|%lu|%lu\n", name, static_cast<unsigned long>(calls),
             static_cast<unsigned long>(instructions));
    host_print(line);
}

// How deep a tick goes, from the counters it will step.
enum Depth { kMs, k10Ms, k100Ms, kSecond, kMinute, kDepths };
const char* const kDepthNames[kDepths] = {"1 ms", "10 ms", "100 ms", "1 s", "1 min"};

// Sets the step counters so that the next tick goes `depth` deep.
void prepare_tick(Depth depth) {
    cacciones_cada_10milisegundos = depth >= k10Ms ? 9 : 0;
    cacciones_cada_100milisegundos = depth >= k100Ms ? 9 : 0;
    cacciones_cada_segundo = depth >= kSecond ? 9 : 0;
    cacciones_un_minuto = depth >= kMinute ? 59 : 0;
}

constexpr uint32_t kRepeats = 256;

// The timer's own reading, summed over kRepeats.
uint32_t reading_cost() {
    uint32_t sum = 0;
    for (uint32_t n = 0; n < kRepeats; ++n) {
        const uint32_t before = timer_now();
        sum += timer_now() - before;
    }
    return sum;
}

void measure_ticks(const char* mode) {
    const uint32_t empty = reading_cost();
    for (int d = 0; d < kDepths; ++d) {
        uint32_t sum = 0;
        for (uint32_t n = 0; n < kRepeats; ++n) {
            prepare_tick(static_cast<Depth>(d));
            const uint32_t before = timer_now();
            TC0_Handler();
            sum += timer_now() - before;
        }
        char name[40];
        snprintf(name, sizeof name, "tick %s, %s step", mode, kDepthNames[d]);
        print_line(name, kRepeats, instructions(sum > empty ? sum - empty : 0, kRepeats));
    }
    // A whole minute of ticks in a row: the mean.
    prepare_tick(kMs);
    const uint32_t before = timer_now();
    for (uint32_t n = 0; n < 60000; ++n) {
        TC0_Handler();
    }
    const uint32_t sum = timer_now() - before;
    char name[40];
    snprintf(name, sizeof name, "tick %s, mean of 1 min", mode);
    print_line(name, 60000, instructions(sum, 60000));
}

void measure_burst() {
    watch_the_whole_sea();
    uint32_t first = 0;
    uint32_t total = 0;
    constexpr uint32_t kRuns = 16;
    for (uint32_t n = 0; n < kRuns; ++n) {
        memcpy(stais.cframe_rx, kBurst, sizeof stais.cframe_rx);
        stais.ibytes_rx = sizeof stais.cframe_rx;
        const uint32_t before = timer_now();
        procesamos_trama_rx_ais();
        const uint32_t counts = timer_now() - before;
        stais.ibytes_rx = 0;
        total += counts;
        if (n == 0) {
            first = counts;
        }
    }
    print_line("burst of 2048 B, first", 1, instructions(first, 1));
    print_line("burst of 2048 B, mean", kRuns, instructions(total, kRuns));
}

// A loop of known length, 2 + 2 x 1000 instructions, to check the scale.
void measure_calibration() {
    uint32_t sum = 0;
    for (uint32_t n = 0; n < kRepeats; ++n) {
        const uint32_t before = timer_now();
        __asm__ volatile(
            ".syntax unified\n\t"
            "movs r3, #250\n\t"
            "lsls r3, r3, #2\n"
            "1:\n\t"
            "subs r3, #1\n\t"
            "bne 1b"
            :
            :
            : "r3", "cc");
        sum += timer_now() - before;
    }
    const uint32_t empty = reading_cost();
    print_line("calibration loop (2002)", kRepeats, instructions(sum - empty, kRepeats));
}

}  // namespace

void run_measurements() {
    timer_start();
    measure_calibration();
    busiest_normal_state();
    measure_ticks("normal");
    ktr09.ctest = 1;
    measure_ticks("test");
    ktr09.ctest = 0;
    measure_burst();
}
