// Watchdog timer in the spelling of the SODAQ watchdog library.
#pragma once

#include <stdint.h>

// Periods of the watchdog; WDT_PERIOD_1X is one second, each step doubles.
enum wdt_period : uint8_t {
    WDT_PERIOD_1DIV64 = 0,
    WDT_PERIOD_1DIV32 = 1,
    WDT_PERIOD_1DIV16 = 2,
    WDT_PERIOD_1DIV8 = 3,
    WDT_PERIOD_1DIV4 = 4,
    WDT_PERIOD_1DIV2 = 5,
    WDT_PERIOD_1X = 6,
    WDT_PERIOD_2X = 7,
    WDT_PERIOD_4X = 8,
    WDT_PERIOD_8X = 9,
};

// Starts the watchdog: the station restarts unless it is fed within the period.
void sodaq_wdt_enable(wdt_period period = WDT_PERIOD_1X);
void sodaq_wdt_disable();
// Feeds the watchdog.
void sodaq_wdt_reset();
