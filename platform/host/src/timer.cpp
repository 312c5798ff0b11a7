// TC0 in 16-bit mode, the generic clock controller that feeds it, and the
// interrupt controller's TC0 line. The compare-match times follow from the
// programmed clock source, generator divider, prescaler and compare value,
// computed in whole cycles so that a long run does not drift.
#include <Arduino.h>

#include "machine_internal.h"

TcRegisters tc0_registers;
GclkRegisters gclk_registers;

namespace host {
namespace internal {

namespace {

constexpr uint32_t kIrqLines = 32;
constexpr uint32_t kGenerators = 9;
constexpr uint32_t kGclkCtrlaSwrst = 1u << 0;
constexpr uint32_t kGenctrlDivsel = 1u << 12;
constexpr uint32_t kPrescalers[8] = {1, 2, 4, 8, 16, 64, 256, 1024};

// What decides when compare matches happen; any change restarts the count.
struct Counting {
    bool running = false;
    uint64_t source_hz = 0;
    uint64_t divider = 1;  // generator divider times prescaler
    uint64_t first = 0;    // counts from enable to the first match
    uint64_t period = 0;   // counts between matches

    bool operator==(const Counting& o) const {
        return running == o.running && source_hz == o.source_hz && divider == o.divider &&
               first == o.first && period == o.period;
    }
};

Counting g_counting;
Micros g_start = 0;      // clock value at which the counter started from 0
uint64_t g_matches = 0;  // compare matches so far since g_start
uint8_t g_interrupt_enable = 0;
uint8_t g_flags = 0;
bool g_nvic_enabled[kIrqLines] = {};
uint32_t g_nvic_priority[kIrqLines] = {};
uint64_t g_interrupts = 0;

TcCount16Registers& tc() {
    return tc0_registers.COUNT16;
}

uint64_t generator_hz(uint32_t generator, uint64_t* divider) {
    if (generator >= kGenerators) {
        return 0;
    }
    const uint32_t genctrl = gclk_registers.GENCTRL[generator].raw();
    if ((genctrl & GCLK_GENCTRL_GENEN) == 0) {
        return 0;
    }
    const uint32_t div = genctrl >> GCLK_GENCTRL_DIV_Pos;
    if ((genctrl & kGenctrlDivsel) != 0) {
        *divider = div < 31 ? (uint64_t{1} << (div + 1)) : (uint64_t{1} << 32);
    } else {
        *divider = div <= 1 ? 1 : div;
    }
    switch (genctrl & GCLK_GENCTRL_SRC_Msk) {
        case GCLK_GENCTRL_SRC_DFLL48M:
            return 48000000;
        case GCLK_GENCTRL_SRC_OSC16M:
            return 16000000;
        default:
            return 0;
    }
}

Counting programmed() {
    Counting c;
    const uint32_t ctrla = tc().CTRLA.raw();
    if ((ctrla & TC_CTRLA_ENABLE) == 0 || (ctrla & TC_CTRLA_MODE_Msk) != TC_CTRLA_MODE_COUNT16) {
        return c;
    }
    const uint32_t channel = gclk_registers.PCHCTRL[TC0_GCLK_ID].raw();
    if ((channel & GCLK_PCHCTRL_CHEN) == 0) {
        return c;
    }
    uint64_t generator_divider = 1;
    c.source_hz = generator_hz(channel & GCLK_PCHCTRL_GEN_Msk, &generator_divider);
    if (c.source_hz == 0) {
        return Counting{};
    }
    c.running = true;
    c.divider =
        generator_divider * kPrescalers[(ctrla & TC_CTRLA_PRESCALER_Msk) >> TC_CTRLA_PRESCALER_Pos];
    const uint64_t cc0 = tc().CC[0].raw();
    if ((tc().WAVE.raw() & TC_WAVE_WAVEGEN_Msk) == TC_WAVE_WAVEGEN_MFRQ) {
        // The counter restarts after CC0: it counts 0..CC0.
        c.first = cc0 + 1;
        c.period = cc0 + 1;
    } else {
        // The counter runs 0..0xFFFF and matches once per round at CC0.
        c.first = cc0 + 1;
        c.period = 0x10000;
    }
    return c;
}

// Clock value of compare match n (1 = the first), in whole microseconds.
Micros match_time(uint64_t n) {
    const unsigned __int128 counts =
        static_cast<unsigned __int128>(g_counting.first) + (n - 1) * g_counting.period;
    const unsigned __int128 elapsed = counts * g_counting.divider * 1000000u / g_counting.source_hz;
    return g_start + static_cast<Micros>(elapsed);
}

// Number of compare matches at or before clock value t.
uint64_t matches_until(Micros t) {
    if (t < g_start) {
        return 0;
    }
    // match_time(n) <= t  <=>  counts(n) * divider * 1e6 < (t - g_start + 1) * hz
    const unsigned __int128 bound =
        (static_cast<unsigned __int128>(t - g_start) + 1) * g_counting.source_hz - 1;
    const unsigned __int128 counts =
        bound / (static_cast<unsigned __int128>(g_counting.divider) * 1000000u);
    if (counts < g_counting.first) {
        return 0;
    }
    return static_cast<uint64_t>((counts - g_counting.first) / g_counting.period) + 1;
}

void plan_next() {
    g_due.set_tick(g_counting.running ? match_time(g_matches + 1) : kNever);
}

// Re-plans after any register change; the phase restarts only when the
// counting itself changed. Otherwise the next match stands (the tick handler
// clears the flag every millisecond, which changes nothing here).
void replan() {
    const Counting now_programmed = programmed();
    if (!(now_programmed == g_counting)) {
        g_counting = now_programmed;
        g_start = g_now;
        g_matches = 0;
        plan_next();
    }
}

void set_flags(uint8_t flags) {
    g_flags = flags;
    tc().INTFLAG.set_raw(flags);
}

void software_reset_tc() {
    TcCount16Registers& r = tc();
    r.CTRLA.set_raw(0);
    r.CTRLBCLR.set_raw(0);
    r.CTRLBSET.set_raw(0);
    r.EVCTRL.set_raw(0);
    r.INTENCLR.set_raw(0);
    r.INTENSET.set_raw(0);
    r.STATUS.set_raw(0);
    r.WAVE.set_raw(0);
    r.DRVCTRL.set_raw(0);
    r.reserved0.set_raw(0);
    r.DBGCTRL.set_raw(0);
    r.SYNCBUSY.set_raw(0);
    r.COUNT.set_raw(0);
    for (RwReg16& cell : r.reserved1) {
        cell.set_raw(0);
    }
    r.CC[0].set_raw(0);
    r.CC[1].set_raw(0);
    g_interrupt_enable = 0;
    set_flags(0);
}

void reset_gclk() {
    gclk_registers.CTRLA.set_raw(0);
    gclk_registers.SYNCBUSY.set_raw(0);
    for (RwReg32& cell : gclk_registers.GENCTRL) {
        cell.set_raw(0);
    }
    for (RwReg32& cell : gclk_registers.PCHCTRL) {
        cell.set_raw(0);
    }
    // The chip leaves reset on generator 0.
    gclk_registers.GENCTRL[0].set_raw(GCLK_GENCTRL_SRC_OSC16M | GCLK_GENCTRL_GENEN);
}

void tc_written(void* cell, uint32_t written) {
    TcCount16Registers& r = tc();
    if (cell == &r.CTRLA) {
        if ((written & TC_CTRLA_SWRST) != 0) {
            software_reset_tc();
        }
    } else if (cell == &r.INTENSET || cell == &r.INTENCLR) {
        if (cell == &r.INTENSET) {
            g_interrupt_enable = static_cast<uint8_t>(g_interrupt_enable | written);
        } else {
            g_interrupt_enable = static_cast<uint8_t>(g_interrupt_enable & ~written);
        }
        r.INTENSET.set_raw(g_interrupt_enable);
        r.INTENCLR.set_raw(g_interrupt_enable);
    } else if (cell == &r.INTFLAG) {
        set_flags(static_cast<uint8_t>(g_flags & ~written));
    } else if (cell == &r.SYNCBUSY) {
        r.SYNCBUSY.set_raw(0);
    }
    replan();
}

void gclk_written(void* cell, uint32_t written) {
    if (cell == &gclk_registers.CTRLA && (written & kGclkCtrlaSwrst) != 0) {
        reset_gclk();
    } else if (cell == &gclk_registers.SYNCBUSY) {
        gclk_registers.SYNCBUSY.set_raw(0);
    }
    replan();
}

// Platform start-up: generators 0 and 1 run from the 48 MHz DFLL.
void start_up_clocks() {
    reset_gclk();
    gclk_registers.GENCTRL[0].set_raw(GCLK_GENCTRL_SRC_DFLL48M | GCLK_GENCTRL_GENEN);
    gclk_registers.GENCTRL[1].set_raw(GCLK_GENCTRL_SRC_DFLL48M | GCLK_GENCTRL_GENEN);
}

__attribute__((constructor(102))) void clocks_at_program_start() {
    start_up_clocks();
}

}  // namespace

bool tick_interrupt_enabled() {
    return g_counting.running && (g_interrupt_enable & TC_INTENSET_MC0) != 0 &&
           g_nvic_enabled[TC0_IRQn];
}

void fire_tick(Micros limit) {
    if (!tick_interrupt_enabled()) {
        // No interrupt to run: account for every match up to the limit at once.
        g_matches = matches_until(limit);
        set_flags(static_cast<uint8_t>(g_flags | TC_INTFLAG_MC0));
        plan_next();
        return;
    }
    ++g_matches;
    set_flags(static_cast<uint8_t>(g_flags | TC_INTFLAG_MC0));
    plan_next();
    ++g_interrupts;
    void (*const handler)() = tc0_handler();
    if (handler != nullptr) {
        g_dispatching = true;
        ++g_dispatches;
        handler();
        g_dispatching = false;
    }
}

void timer_power_up() {
    software_reset_tc();
    start_up_clocks();
    for (uint32_t i = 0; i < kIrqLines; ++i) {
        g_nvic_enabled[i] = false;
        g_nvic_priority[i] = 0;
    }
    replan();
}

void timer_machine_reset() {
    g_interrupts = 0;
}

}  // namespace internal

uint64_t tc0_interrupt_count() {
    return internal::g_interrupts;
}

void register_written(void* cell, uint32_t written) {
    using namespace internal;
    check_thread();
    const TcCount16Registers& r = tc();
    if (cell >= static_cast<const void*>(&r) && cell < static_cast<const void*>(&r + 1)) {
        tc_written(cell, written);
    } else if (cell >= static_cast<const void*>(&gclk_registers) &&
               cell < static_cast<const void*>(&gclk_registers + 1)) {
        gclk_written(cell, written);
    }
}

}  // namespace host

namespace {

bool valid_line(IRQn_Type irq) {
    return static_cast<int>(irq) >= 0 && static_cast<uint32_t>(irq) < host::internal::kIrqLines;
}

}  // namespace

void NVIC_DisableIRQ(IRQn_Type irq) {
    host::internal::platform_call();
    if (valid_line(irq)) {
        host::internal::g_nvic_enabled[irq] = false;
    }
}

void NVIC_EnableIRQ(IRQn_Type irq) {
    host::internal::platform_call();
    if (valid_line(irq)) {
        host::internal::g_nvic_enabled[irq] = true;
    }
}

void NVIC_ClearPendingIRQ(IRQn_Type irq) {
    // Compare matches are delivered when they happen; nothing is held pending.
    host::internal::platform_call();
    (void)irq;
}

void NVIC_SetPriority(IRQn_Type irq, uint32_t priority) {
    host::internal::platform_call();
    if (valid_line(irq)) {
        host::internal::g_nvic_priority[irq] = priority & 3u;
    }
}
