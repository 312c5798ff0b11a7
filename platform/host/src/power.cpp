// The station's power: switched on, off or cycled by the host or by an event,
// restarted by the watchdog, and the runs the host gives it (run_until). The
// firmware thread's turns are firmware_thread.cpp's; this decides when the
// thread starts, stops and restarts.
#include <functional>
#include <utility>

#include "machine_internal.h"

namespace host {
namespace internal {
namespace {

// What the firmware thread does at its next platform call.
enum class Pending { none, stop, power_up, restart };

bool g_powered = false;
Pending g_pending = Pending::none;
const char* g_restart_reason = "";
unsigned g_restarts = 0;
Micros g_last_restart = 0;
std::function<void(const char*)> g_on_restart;
bool g_host_advancing = false;
bool g_host_interrupted = false;

// The thread has stopped: the board is without power.
void finish_power_off() {
    stop_firmware_thread();
    g_pending = Pending::none;
    g_powered = false;
    peripherals_power_up();
}

void count_restart(const char* reason) {
    ++g_restarts;
    g_last_restart = g_now;
    if (g_on_restart) {
        g_on_restart(reason);
    }
}

void restart_station(const char* reason) {
    tell_listeners([reason](MachineListener& l) { l.restarting(reason); });
    peripherals_power_up();
    restore_station_records();
    count_restart(reason);
}

}  // namespace

bool power_change_pending() {
    return g_pending != Pending::none;
}

void request_thread_stop() {
    g_pending = Pending::stop;
}

bool begin_power_up() {
    const Pending pending = g_pending;
    g_pending = Pending::none;
    switch (pending) {
        case Pending::stop:
            return false;
        case Pending::power_up:
            peripherals_power_up();
            restore_station_records();
            break;
        case Pending::restart:
            restart_station(g_restart_reason);
            break;
        case Pending::none:
            break;
    }
    return true;
}

void request_watchdog_restart() {
    g_pending = Pending::restart;
    g_restart_reason = "watchdog";
}

bool host_advance_interrupted() {
    return g_host_advancing && g_host_interrupted;
}

}  // namespace internal

using namespace internal;

void reset_machine() {
    if (t_firmware_thread) {
        wrong_thread();
    }
    stop_firmware_thread();
    g_pending = Pending::none;
    g_powered = false;
    g_on_restart = nullptr;
    set_firmware_entry_points(FirmwareEntryPoints{});
    // Detach everything first so the power-up below reaches no device.
    listeners_machine_reset();
    pins_machine_reset();
    uart_machine_reset();
    usb_machine_reset();
    i2c_machine_reset();
    sd_machine_reset();
    timer_machine_reset();
    watchdog_machine_reset();
    clear_events();
    reset_clock();
    peripherals_power_up();
    restore_station_records();
    g_restarts = 0;
    g_last_restart = 0;
}

void power_on() {
    if (t_firmware_thread) {
        // From an event while the firmware runs: only undoes a pending stop.
        if (g_pending == Pending::stop) {
            g_pending = Pending::power_up;
            g_powered = true;
        }
        return;
    }
    if (g_powered) {
        return;
    }
    stop_firmware_thread();
    peripherals_power_up();
    restore_station_records();
    g_powered = true;
    g_pending = Pending::none;
    start_firmware_thread();
    if (g_host_advancing) {
        g_host_interrupted = true;
    }
}

void power_off() {
    if (t_firmware_thread) {
        // The firmware leaves at its next platform call; run_until finishes.
        if (g_powered) {
            g_pending = Pending::stop;
            g_powered = false;
        }
        return;
    }
    if (!g_powered && !g_thread_exists) {
        return;
    }
    finish_power_off();
}

void power_cycle() {
    if (t_firmware_thread) {
        g_pending = Pending::restart;
        g_restart_reason = "power cycle";
        g_powered = true;
        return;
    }
    tell_listeners([](MachineListener& l) { l.restarting("power cycle"); });
    power_off();
    power_on();
    count_restart("power cycle");
}

bool powered() {
    return g_powered;
}

void run_until(Micros until) {
    if (t_firmware_thread) {
        wrong_thread();
    }
    // The host stepping in may change anything a spinning firmware looks at.
    ++g_dispatches;
    for (;;) {
        if (g_thread_exists) {
            if (firmware_turn(until)) {
                return;
            }
            // Switched off from an event: the rest of the run is without power.
            finish_power_off();
            continue;
        }
        g_host_advancing = true;
        g_host_interrupted = false;
        advance_to(until);
        const bool interrupted = g_host_interrupted;
        g_host_advancing = false;
        g_host_interrupted = false;
        if (!interrupted) {
            return;
        }
    }
}

void run_for(Micros duration) {
    run_until(g_now + duration);
}

unsigned restart_count() {
    return g_restarts;
}
Micros last_restart_time() {
    return g_last_restart;
}
void on_restart(std::function<void(const char* reason)> callback) {
    g_on_restart = std::move(callback);
}

}  // namespace host
