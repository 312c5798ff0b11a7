// What the host platform's parts share among themselves: the clock's
// advance, the firmware thread's state and each peripheral model's hooks into
// them. Nothing here is visible to the firmware, the simulator or tests.
#pragma once

#include <cstdint>
#include <vector>

#include "host/machine.h"

namespace host {
namespace internal {

constexpr Micros kNever = UINT64_MAX;

// ---- Clock and events (clock.cpp) -----------------------------------------

extern Micros g_now;
// True while a tick handler or an event runs: platform calls then cost time
// but dispatch nothing (interrupts and events never nest).
extern bool g_dispatching;
// Set by any UART/USB byte the firmware reads or writes; the firmware
// thread clears it before each loop pass and sleeps after an idle one.
extern bool g_io_activity;

// Moves the clock to `target`, running in time order every due tick, event
// and watchdog expiry on the way. On the firmware thread it pauses at the
// run limit; with `wake_on_resume` it returns right after such a pause.
void advance_slowly(Micros target, bool wake_on_resume);

// When the next event, TC0 compare match and watchdog expiry are due, and
// where the firmware's run stops: their one owner. Every setter keeps the
// horizon right, so the common case of advance_to stays one comparison.
class Due {
  public:
    Micros event() const { return event_; }
    // The next compare match while the counter runs (timer.cpp), or kNever.
    Micros tick() const { return tick_; }
    // kNever while the watchdog is disabled (watchdog.cpp).
    Micros watchdog() const { return watchdog_; }
    bool realtime() const { return realtime_; }
    // The earliest of the three; the tick only when it counts (it can wake
    // the station only with its interrupt enabled).
    Micros next(bool with_tick = true) const {
        Micros next = with_tick && tick_ < event_ ? tick_ : event_;
        return watchdog_ < next ? watchdog_ : next;
    }
    // next() (or one past the run limit if sooner), or 0 in real-time mode:
    // a move to a time before it crosses nothing.
    Micros horizon() const { return horizon_; }

    void set_event(Micros t) {
        event_ = t;
        refresh();
    }
    void set_tick(Micros t) {
        tick_ = t;
        refresh();
    }
    void set_watchdog(Micros t) {
        watchdog_ = t;
        refresh();
    }
    // The run limit while the firmware thread runs, kNever while the host does.
    void set_run_limit(Micros t) {
        run_limit_ = t;
        refresh();
    }
    void set_realtime(bool on) {
        realtime_ = on;
        refresh();
    }

  private:
    void refresh() {
        Micros horizon = next();
        if (run_limit_ != kNever && run_limit_ + 1 < horizon) {
            horizon = run_limit_ + 1;
        }
        horizon_ = realtime_ ? 0 : horizon;
    }
    Micros event_ = kNever;
    Micros tick_ = kNever;
    Micros watchdog_ = kNever;
    Micros run_limit_ = kNever;
    bool realtime_ = false;
    Micros horizon_ = 0;
};
extern Due g_due;

inline void advance_to(Micros target, bool wake_on_resume = false) {
    // Most calls cross nothing: no tick, event, expiry or run limit.
    if (target < g_due.horizon()) {
        if (target > g_now) {
            g_now = target;
        }
        return;
    }
    advance_slowly(target, wake_on_resume);
}
// Platform calls made and ticks or events run, for telling a spin from work.
extern uint64_t g_calls;
extern uint64_t g_dispatches;
// While the firmware thread exists, the firmware's platform calls come from
// it and from no other thread (the two would race on every model).
extern bool g_thread_exists;
// __thread, not thread_local: constant-initialised, so reading it from
// another unit needs no initialisation check on every platform call.
extern __thread bool t_firmware_thread;
[[noreturn]] void wrong_thread();
inline void check_thread() {
    if (g_thread_exists != t_firmware_thread) {
        wrong_thread();
    }
}
// The cost of one platform call made by the firmware.
inline void platform_call() {
    check_thread();
    ++g_calls;
    advance_to(g_now + kCallCost);
}
// The cost of a call that only looks at the board (watchdog feed, bytes
// waiting). While the firmware does nothing but such calls and nothing
// happens, it is spinning on a state only a tick, an event or the watchdog
// can change: after a few of them it sleeps straight to the next of those.
void poll_call();
// Sleeps until the next interrupt, event or watchdog expiry; with nothing
// that can wake the station, until the end of the current run.
void wait_for_interrupt();
// Time of the earliest event on the list, or kNever.
Micros next_event_time();
// Empties the event list (machine reset).
void clear_events();
// Puts the clock back to 0 and ends real-time pacing (machine reset).
void reset_clock();

// ---- Firmware thread (firmware_thread.cpp): the step lock ------------------
// The host and the firmware thread take turns; only one of them runs at a
// time, and the firmware's turn ends at a clock value (the run limit).

bool on_firmware_thread();
// Clock value at which the firmware thread pauses in the current run.
extern Micros g_run_limit;
// Starts the firmware thread; it runs setup() at its first turn.
void start_firmware_thread();
// Stops the firmware thread (if any) and waits for it to end. Host side only.
void stop_firmware_thread();
// Gives the firmware its turn until the clock reaches `until` and waits for
// it to pause; false when the thread has exited instead (the station was
// switched off from an event). Host side only.
bool firmware_turn(Micros until);
// Hands control back to the host and waits for the next turn.
void pause_firmware();
// Leaves the firmware wherever it is if a stop or restart is pending, by
// unwinding to the top of the firmware thread (called only on that thread).
void take_pending_stop();
// True while the firmware unwinds from a stop: the platform calls its
// destructors make let time pass but run nothing and never wait.
bool firmware_stopping();
// The firmware's tick handler (or a test's replacement), or nullptr.
void (*tc0_handler())();

// ---- Power (power.cpp): the station's power state machine -----------------

// True when a stop, power-up or restart waits for the firmware thread.
bool power_change_pending();
// The host stops the firmware thread: it leaves at its top.
void request_thread_stop();
// At the top of the firmware thread, (re)starting: acts on what brought it
// there (a power-up, a restart); false means stop.
bool begin_power_up();
// The watchdog expired on the firmware thread: restart the station.
void request_watchdog_restart();
// True when run_until's advance without power must stop because an event
// switched the station on.
bool host_advance_interrupted();

// ---- Listeners (listeners.cpp) ---------------------------------------------

std::vector<MachineListener*>& listeners();
void listeners_machine_reset();
// Calls `tell(listener)` on each listener there now (one may add or remove
// listeners as it hears).
template <typename Tell>
void tell_listeners(Tell tell) {
    if (listeners().empty()) {
        return;
    }
    const std::vector<MachineListener*> now = listeners();
    for (MachineListener* listener : now) {
        tell(*listener);
    }
}

// ---- Station records (records.cpp) ----------------------------------------

// Puts every STATION_STATE record back to its power-up bytes.
void restore_station_records();

// ---- Peripheral models: power-up state and machine reset -------------------

// Timer, clock generator and interrupt controller (timer.cpp).
void timer_power_up();
// True when a compare match would run the TC0 interrupt.
bool tick_interrupt_enabled();
// Handles the compare match at g_due.tick(): with the interrupt enabled it
// runs one tick; without it, it only accounts for every match up to `limit`.
void fire_tick(Micros limit);
void timer_machine_reset();

// Watchdog (watchdog.cpp).
void watchdog_power_up();
// The deadline was reached outside a firmware run: noted, period restarted.
void watchdog_expired_outside();
void watchdog_machine_reset();

// Pins and converter (pins.cpp). Power-up: every pin an input, latches low.
void pins_power_up();
void pins_machine_reset();
// True unless the port's line-driver disable pin is driven high.
bool uart_driver_enabled(uint8_t port);

void uart_power_up();
void uart_machine_reset();
void usb_power_up();
void usb_machine_reset();
void i2c_power_up();
void i2c_machine_reset();
// SD card slot (sdfat_card.cpp): the driver forgets the started card, the
// mounted volume and the open files; the card keeps its blocks.
void sd_power_up();
void sd_machine_reset();

// Every peripheral model to its power-up state, as after a reset of the chip.
inline void peripherals_power_up() {
    pins_power_up();
    uart_power_up();
    usb_power_up();
    i2c_power_up();
    sd_power_up();
    timer_power_up();
    watchdog_power_up();
}

}  // namespace internal
}  // namespace host
