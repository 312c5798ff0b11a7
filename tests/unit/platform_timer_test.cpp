// The TC0 model: compare-match times from the programmed clock, prescaler
// and compare value; no interrupt unless the counter, its MC0 interrupt and
// the NVIC line are all on; register semantics (SWRST, set/clear, W1C).
#include <gtest/gtest.h>

#include <vector>

#include <Arduino.h>

#include "host/machine.h"

namespace {

std::vector<host::Micros> g_ticks;
int g_depth = 0;
int g_max_depth = 0;

void record_tick() {
    TC0->COUNT16.INTFLAG = TC_INTFLAG_MC0;
    g_ticks.push_back(host::now());
}

// Makes platform calls from inside the interrupt, which must not nest it.
void busy_tick() {
    ++g_depth;
    g_max_depth = g_depth > g_max_depth ? g_depth : g_max_depth;
    TC0->COUNT16.INTFLAG = TC_INTFLAG_MC0;
    g_ticks.push_back(host::now());
    delay(3);
    --g_depth;
}

struct Programming {
    uint32_t generator = GCLK_PCHCTRL_GEN_GCLK1;
    uint32_t prescaler = TC_CTRLA_PRESCALER_DIV1;
    uint16_t cc0 = 47999;
    uint8_t wave = TC_WAVE_WAVEGEN_MFRQ;
    bool channel = true;
    bool interrupt = true;
    bool enable = true;
    bool nvic = true;
};

// Programs TC0 as the firmware does; the counter starts at the ENABLE write.
host::Micros program(const Programming& p) {
    GCLK->PCHCTRL[TC0_GCLK_ID] = p.generator | (p.channel ? GCLK_PCHCTRL_CHEN : 0u);
    TC0->COUNT16.CTRLA = TC_CTRLA_SWRST;
    TC0->COUNT16.CTRLA = TC_CTRLA_MODE_COUNT16 | p.prescaler;
    TC0->COUNT16.WAVE = p.wave;
    TC0->COUNT16.CC[0] = p.cc0;
    if (p.interrupt) {
        TC0->COUNT16.INTENSET = TC_INTENSET_MC0;
    }
    const host::Micros start = host::now();
    if (p.enable) {
        TC0->COUNT16.CTRLA |= TC_CTRLA_ENABLE;
    }
    if (p.nvic) {
        NVIC_EnableIRQ(TC0_IRQn);
    }
    return start;
}

class TimerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        host::reset_machine();
        host::set_firmware_entry_points({nullptr, nullptr, &record_tick});
        g_ticks.clear();
        g_depth = 0;
        g_max_depth = 0;
    }
};

struct PeriodCase {
    const char* name;
    uint32_t generator_setup;  // GENCTRL of generator 2, 0 to use generator 1 (48 MHz)
    uint32_t prescaler;
    uint16_t cc0;
    uint64_t counts_per_tick;  // source cycles between interrupts
    uint64_t source_hz;
};

TEST_F(TimerTest, InterruptTimesFollowClockPrescalerAndCompareValue) {
    const PeriodCase cases[] = {
        {"1 ms from 48 MHz", 0, TC_CTRLA_PRESCALER_DIV1, 47999, 48000, 48000000},
        {"the station's compare value 48000", 0, TC_CTRLA_PRESCALER_DIV1, 48000, 48001, 48000000},
        {"prescaler 8", 0, TC_CTRLA_PRESCALER_DIV8, 5999, 48000, 48000000},
        {"prescaler 64", 0, TC_CTRLA_PRESCALER_DIV64, 749, 48000, 48000000},
        {"prescaler 1024, about 21 ms", 0, TC_CTRLA_PRESCALER_DIV1024, 999, 1024000, 48000000},
        {"16 MHz oscillator", GCLK_GENCTRL_SRC_OSC16M | GCLK_GENCTRL_GENEN, TC_CTRLA_PRESCALER_DIV2,
         7999, 16000, 16000000},
        {"generator divided by 4",
         GCLK_GENCTRL_SRC_DFLL48M | GCLK_GENCTRL_GENEN | (4u << GCLK_GENCTRL_DIV_Pos),
         TC_CTRLA_PRESCALER_DIV4, 2999, 48000, 48000000},
        {"divider 1 is no division",
         GCLK_GENCTRL_SRC_DFLL48M | GCLK_GENCTRL_GENEN | (1u << GCLK_GENCTRL_DIV_Pos),
         TC_CTRLA_PRESCALER_DIV1, 23999, 24000, 48000000},
    };
    for (const PeriodCase& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        Programming p;
        if (c.generator_setup != 0) {
            GCLK->GENCTRL[2] = c.generator_setup;
            p.generator = 2;
        }
        p.prescaler = c.prescaler;
        p.cc0 = c.cc0;
        const host::Micros start = program(p);
        host::run_until(start + 200 * host::kMillisecond);
        ASSERT_FALSE(g_ticks.empty());
        for (size_t i = 0; i < g_ticks.size(); ++i) {
            const uint64_t n = i + 1;
            ASSERT_EQ(start + n * c.counts_per_tick * 1000000 / c.source_hz, g_ticks[i])
                << "interrupt " << n;
        }
        const uint64_t expected =
            (200 * host::kMillisecond * c.source_hz) / 1000000 / c.counts_per_tick;
        EXPECT_EQ(expected, g_ticks.size());
        EXPECT_EQ(g_ticks.size(), host::tc0_interrupt_count());
    }
}

TEST_F(TimerTest, LongRunKeepsTheExactCountWithoutDrift) {
    // The station's 48000 gives 48001 cycles a tick: 1.0000208 ms, which a
    // rounded period would lose over an hour.
    Programming p;
    p.cc0 = 48000;
    const host::Micros start = program(p);
    const host::Micros hour = 3600 * host::kSecond;
    host::run_until(start + hour);
    EXPECT_EQ(hour * 48 / 48001, host::tc0_interrupt_count());
    ASSERT_FALSE(g_ticks.empty());
    EXPECT_EQ(start + g_ticks.size() * 48001 / 48, g_ticks.back());
}

struct SilentCase {
    const char* name;
    Programming programming;
    bool counts;  // the counter runs, so the flag is raised
};

Programming without(bool Programming::*field) {
    Programming p;
    p.*field = false;
    return p;
}

TEST_F(TimerTest, NoInterruptUnlessCounterInterruptAndLineAreOn) {
    const SilentCase cases[] = {
        {"counter not enabled", without(&Programming::enable), false},
        {"clock channel off", without(&Programming::channel), false},
        {"MC0 interrupt off", without(&Programming::interrupt), true},
        {"NVIC line off", without(&Programming::nvic), true},
    };
    for (const SilentCase& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        program(c.programming);
        host::run_for(50 * host::kMillisecond);
        EXPECT_EQ(0u, host::tc0_interrupt_count());
        EXPECT_EQ(c.counts ? TC_INTFLAG_MC0 : 0, TC0->COUNT16.INTFLAG & TC_INTFLAG_MC0);
    }
}

TEST_F(TimerTest, GeneratorWithoutEnableOrUnknownSourceGivesNoClock) {
    const uint32_t setups[] = {GCLK_GENCTRL_SRC_DFLL48M, 0x03u | GCLK_GENCTRL_GENEN};
    for (uint32_t setup : setups) {
        SetUp();
        GCLK->GENCTRL[3] = setup;
        Programming p;
        p.generator = 3;
        program(p);
        host::run_for(20 * host::kMillisecond);
        EXPECT_EQ(0u, host::tc0_interrupt_count()) << std::hex << setup;
    }
}

TEST_F(TimerTest, LineEnabledLaterKeepsTheCounterPhase) {
    Programming p;
    p.nvic = false;
    const host::Micros start = program(p);
    host::run_until(start + 5500);
    NVIC_EnableIRQ(TC0_IRQn);
    host::run_until(start + 8500);
    EXPECT_EQ((std::vector<host::Micros>{start + 6000, start + 7000, start + 8000}), g_ticks);
    NVIC_DisableIRQ(TC0_IRQn);
    host::run_until(start + 12000);
    EXPECT_EQ(3u, g_ticks.size());
}

TEST_F(TimerTest, InterruptEnableSetAndClearShareOneMask) {
    TC0->COUNT16.INTENSET = TC_INTENSET_MC0 | TC_INTFLAG_OVF;
    EXPECT_EQ(TC_INTENSET_MC0 | TC_INTFLAG_OVF, TC0->COUNT16.INTENSET);
    EXPECT_EQ(TC_INTENSET_MC0 | TC_INTFLAG_OVF, TC0->COUNT16.INTENCLR);
    TC0->COUNT16.INTENCLR = TC_INTFLAG_OVF;
    EXPECT_EQ(TC_INTENSET_MC0, TC0->COUNT16.INTENSET);
    EXPECT_EQ(TC_INTENSET_MC0, TC0->COUNT16.INTENCLR);
    TC0->COUNT16.INTENCLR = TC_INTENCLR_MC0;
    EXPECT_EQ(0, TC0->COUNT16.INTENSET);
}

TEST_F(TimerTest, FlagsClearOnlyWhereOnesAreWritten) {
    Programming p;
    p.nvic = false;
    program(p);
    host::run_for(2 * host::kMillisecond);
    ASSERT_EQ(TC_INTFLAG_MC0, TC0->COUNT16.INTFLAG);
    TC0->COUNT16.INTFLAG = 0;
    EXPECT_EQ(TC_INTFLAG_MC0, TC0->COUNT16.INTFLAG);
    TC0->COUNT16.INTFLAG = TC_INTFLAG_OVF;
    EXPECT_EQ(TC_INTFLAG_MC0, TC0->COUNT16.INTFLAG);
    TC0->COUNT16.INTFLAG = TC_INTFLAG_MC0;
    EXPECT_EQ(0, TC0->COUNT16.INTFLAG);
}

TEST_F(TimerTest, SoftwareResetClearsEveryRegisterAndStopsTheTicks) {
    program(Programming{});
    host::run_for(3 * host::kMillisecond);
    ASSERT_EQ(3u, host::tc0_interrupt_count());
    TC0->COUNT16.SYNCBUSY = 0xFFu;
    EXPECT_EQ(0u, TC0->COUNT16.SYNCBUSY);
    TC0->COUNT16.CTRLA = TC_CTRLA_SWRST;
    EXPECT_EQ(0u, TC0->COUNT16.CTRLA);
    EXPECT_EQ(0u, TC0->COUNT16.SYNCBUSY);
    EXPECT_EQ(0, TC0->COUNT16.CC[0]);
    EXPECT_EQ(0, TC0->COUNT16.WAVE);
    EXPECT_EQ(0, TC0->COUNT16.INTENSET);
    EXPECT_EQ(0, TC0->COUNT16.INTFLAG);
    host::run_for(10 * host::kMillisecond);
    EXPECT_EQ(3u, host::tc0_interrupt_count());
}

TEST_F(TimerTest, ClockChannelReadsBackEnabledAndGeneratorOneRunsAtStartUp) {
    EXPECT_EQ(GCLK_GENCTRL_SRC_DFLL48M | GCLK_GENCTRL_GENEN, GCLK->GENCTRL[1]);
    GCLK->PCHCTRL[TC0_GCLK_ID] = GCLK_PCHCTRL_GEN_GCLK1 | GCLK_PCHCTRL_CHEN;
    EXPECT_NE(0u, GCLK->PCHCTRL[TC0_GCLK_ID] & GCLK_PCHCTRL_CHEN);
}

TEST_F(TimerTest, InterruptNeverNestsAndItsCallsCostTime) {
    host::set_firmware_entry_points({nullptr, nullptr, &busy_tick});
    const host::Micros start = program(Programming{});
    host::run_until(start + 20 * host::kMillisecond);
    EXPECT_EQ(1, g_max_depth);
    ASSERT_GE(g_ticks.size(), 3u);
    // Each interrupt spends 3 ms, so the next match is served when it ends.
    EXPECT_EQ(start + 1000, g_ticks[0]);
    EXPECT_EQ(g_ticks[0] + 3001, g_ticks[1]);
}

TEST_F(TimerTest, ChangingTheCompareValueWhileRunningReplansFromThatMoment) {
    const host::Micros start = program(Programming{});
    host::run_until(start + 2500);
    const host::Micros change = host::now();
    TC0->COUNT16.CC[0] = 9599;  // 200 us
    host::run_until(change + 1000);
    EXPECT_EQ((std::vector<host::Micros>{start + 1000, start + 2000, change + 200, change + 400,
                                         change + 600, change + 800, change + 1000}),
              g_ticks);
}

}  // namespace
