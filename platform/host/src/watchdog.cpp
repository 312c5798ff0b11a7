// The watchdog timer: enabled with a period, fed by sodaq_wdt_reset; the
// clock reaching the last feed plus the period restarts the station.
#include <sodaq_wdt.h>

#include "machine_internal.h"

namespace host {
namespace internal {

namespace {

bool g_enabled = false;
Micros g_period = 0;
bool g_expired_outside_run = false;

// WDT_PERIOD_1X is one second; each step doubles or halves it.
Micros period_of(wdt_period period) {
    const int step = period > WDT_PERIOD_8X ? WDT_PERIOD_8X : static_cast<int>(period);
    return step >= WDT_PERIOD_1X ? kSecond << (step - WDT_PERIOD_1X)
                                 : kSecond >> (WDT_PERIOD_1X - step);
}

}  // namespace

void watchdog_power_up() {
    g_enabled = false;
    g_due.set_watchdog(kNever);
}

void watchdog_expired_outside() {
    // No firmware thread to restart: note it and start a new period.
    g_expired_outside_run = true;
    g_due.set_watchdog(g_now + g_period);
}

void watchdog_machine_reset() {
    g_expired_outside_run = false;
}

}  // namespace internal

bool watchdog_enabled() {
    return internal::g_enabled;
}

bool watchdog_expired_outside_run() {
    return internal::g_expired_outside_run;
}

}  // namespace host

using namespace host::internal;

void sodaq_wdt_enable(wdt_period period) {
    platform_call();
    g_enabled = true;
    g_period = period_of(period);
    g_due.set_watchdog(g_now + g_period);
}

void sodaq_wdt_disable() {
    platform_call();
    g_enabled = false;
    g_due.set_watchdog(kNever);
}

void sodaq_wdt_reset() {
    poll_call();
    if (g_enabled) {
        g_due.set_watchdog(g_now + g_period);
    }
}
