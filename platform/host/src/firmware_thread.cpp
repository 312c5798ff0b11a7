// The firmware's own thread and the station's power: setup() then loop() for
// ever, run only while the host lets it (run_until), stopped or restarted by
// unwinding from the platform call it is in back to the top of the thread.
#include <Arduino.h>

#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>

#include "machine_internal.h"

// The firmware's entry points, weak like the chip's default handlers: the
// platform links and runs (idle) without a firmware.
void setup() __attribute__((weak));
void loop() __attribute__((weak));
extern "C" void TC0_Handler() __attribute__((weak));

namespace host {
namespace internal {

Micros g_run_limit = 0;
bool g_thread_exists = false;
__thread bool t_firmware_thread = false;

namespace {

enum class Pending { none, stop, power_up, restart };

struct Control {
    std::mutex mutex;
    std::condition_variable turn_changed;
    std::thread thread;
    std::function<void(const char*)> on_restart;
    ~Control();
};

// The two threads take turns; these flags change only under Control::mutex.
bool g_firmware_turn = false;
bool g_thread_exited = false;

bool g_powered = false;
Pending g_pending = Pending::none;
const char* g_restart_reason = "";
unsigned g_restarts = 0;
Micros g_last_restart = 0;
FirmwareEntryPoints g_entries;
bool g_host_advancing = false;
bool g_host_interrupted = false;

// Thrown from the platform call the firmware is in when the station stops
// or restarts, so that every frame on the way out runs its destructors.
// Private, and no std::exception: only the top of the firmware thread
// catches it.
struct FirmwareStop {};

// Set from the throw of a FirmwareStop until the top of the thread catches it.
bool g_unwinding = false;

Control& control() {
    static Control instance;
    return instance;
}

// Stops the firmware thread (if any) and waits for it to end. Host side only.
void stop_thread(Control& c) {
    if (!g_thread_exists) {
        return;
    }
    {
        std::unique_lock<std::mutex> lock(c.mutex);
        if (!g_thread_exited) {
            g_pending = Pending::stop;
            g_firmware_turn = true;
            c.turn_changed.notify_all();
            c.turn_changed.wait(lock, [] { return g_thread_exited; });
        }
    }
    c.thread.join();
    g_thread_exists = false;
    g_thread_exited = false;
    g_pending = Pending::none;
}

Control::~Control() {
    stop_thread(*this);
}

// The thread has stopped: the board is without power.
void finish_power_off() {
    stop_thread(control());
    g_powered = false;
    peripherals_power_up();
}

void restart_station(const char* reason) {
    tell_listeners([reason](MachineListener& l) { l.restarting(reason); });
    peripherals_power_up();
    restore_station_records();
    ++g_restarts;
    g_last_restart = g_now;
    if (control().on_restart) {
        control().on_restart(reason);
    }
}

// Acts on what brought the thread (back) to its top; false means stop.
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

// Leaves only by a FirmwareStop.
[[noreturn]] void run_firmware() {
    void (*const setup_entry)() = g_entries.setup != nullptr ? g_entries.setup : ::setup;
    void (*const loop_entry)() = g_entries.loop != nullptr ? g_entries.loop : ::loop;
    if (setup_entry != nullptr) {
        setup_entry();
    }
    for (;;) {
        g_io_activity = false;
        if (loop_entry != nullptr) {
            loop_entry();
        }
        // A pass that moved no byte sleeps to the next interrupt, which is
        // what lets an idle station run a day in seconds.
        if (!g_io_activity) {
            platform_call();
            wait_for_interrupt();
        }
    }
}

void firmware_thread_main() {
    t_firmware_thread = true;
    Control& c = control();
    {
        std::unique_lock<std::mutex> lock(c.mutex);
        c.turn_changed.wait(lock, [] { return g_firmware_turn; });
    }
    // Every stop and restart unwinds back here from the platform call the
    // firmware was in.
    while (begin_power_up()) {
        try {
            run_firmware();
        } catch (const FirmwareStop&) {
            g_unwinding = false;
        }
    }
    std::lock_guard<std::mutex> lock(c.mutex);
    g_firmware_turn = false;
    g_thread_exited = true;
    c.turn_changed.notify_all();
}

}  // namespace

bool on_firmware_thread() {
    return t_firmware_thread;
}

void wrong_thread() {
    fatal(t_firmware_thread
              ? "the host drove the machine from the firmware thread"
              : "a firmware platform call came from outside the firmware thread while it runs");
}

bool firmware_stopping() {
    if (!g_unwinding) {
        return false;
    }
    if (std::uncaught_exceptions() == 0) {
        fatal("the firmware's stop was caught on its way out and not rethrown");
    }
    return true;
}

void pause_firmware() {
    Control& c = control();
    std::unique_lock<std::mutex> lock(c.mutex);
    g_firmware_turn = false;
    c.turn_changed.notify_all();
    c.turn_changed.wait(lock, [] { return g_firmware_turn; });
}

void take_pending_stop() {
    if (g_pending != Pending::none && !firmware_stopping()) {
        g_unwinding = true;
        throw FirmwareStop{};
    }
}

void request_watchdog_restart() {
    g_pending = Pending::restart;
    g_restart_reason = "watchdog";
}

void (*tc0_handler())() {
    return g_entries.tc0_handler != nullptr ? g_entries.tc0_handler : ::TC0_Handler;
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
    stop_thread(control());
    g_powered = false;
    control().on_restart = nullptr;
    g_entries = FirmwareEntryPoints{};
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
    if (g_thread_exists) {
        stop_thread(control());
    }
    peripherals_power_up();
    restore_station_records();
    g_powered = true;
    g_pending = Pending::none;
    g_firmware_turn = false;
    g_thread_exited = false;
    control().thread = std::thread(firmware_thread_main);
    g_thread_exists = true;
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
    ++g_restarts;
    g_last_restart = g_now;
    if (control().on_restart) {
        control().on_restart("power cycle");
    }
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
            Control& c = control();
            bool exited = false;
            {
                std::unique_lock<std::mutex> lock(c.mutex);
                if (!g_thread_exited) {
                    if (g_now >= until) {
                        return;
                    }
                    g_run_limit = until;
                    g_due.set_run_limit(until);
                    g_firmware_turn = true;
                    c.turn_changed.notify_all();
                    c.turn_changed.wait(lock, [] { return !g_firmware_turn; });
                    g_due.set_run_limit(kNever);
                }
                exited = g_thread_exited;
            }
            if (!exited) {
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
    control().on_restart = std::move(callback);
}

void set_firmware_entry_points(const FirmwareEntryPoints& entries) {
    g_entries = entries;
}

}  // namespace host
