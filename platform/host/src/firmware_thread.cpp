// The firmware's own thread: setup() then loop() for ever, run only in its
// turn (the host hands it one in run_until, power.cpp), stopped or restarted
// by unwinding from the platform call it is in back to the top of the thread.
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

struct Control {
    std::mutex mutex;
    std::condition_variable turn_changed;
    std::thread thread;
    ~Control();
};

// The two threads take turns; these flags change only under Control::mutex.
bool g_firmware_turn = false;
bool g_thread_exited = false;

FirmwareEntryPoints g_entries;

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
            request_thread_stop();
            g_firmware_turn = true;
            c.turn_changed.notify_all();
            c.turn_changed.wait(lock, [] { return g_thread_exited; });
        }
    }
    c.thread.join();
    g_thread_exists = false;
    g_thread_exited = false;
}

Control::~Control() {
    stop_thread(*this);
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
    if (power_change_pending() && !firmware_stopping()) {
        g_unwinding = true;
        throw FirmwareStop{};
    }
}

void (*tc0_handler())() {
    return g_entries.tc0_handler != nullptr ? g_entries.tc0_handler : ::TC0_Handler;
}

void start_firmware_thread() {
    g_firmware_turn = false;
    g_thread_exited = false;
    control().thread = std::thread(firmware_thread_main);
    g_thread_exists = true;
}

void stop_firmware_thread() {
    stop_thread(control());
}

bool firmware_turn(Micros until) {
    Control& c = control();
    std::unique_lock<std::mutex> lock(c.mutex);
    if (!g_thread_exited && g_now < until) {
        g_run_limit = until;
        g_due.set_run_limit(until);
        g_firmware_turn = true;
        c.turn_changed.notify_all();
        c.turn_changed.wait(lock, [] { return !g_firmware_turn; });
        g_due.set_run_limit(kNever);
    }
    return !g_thread_exited;
}

}  // namespace internal

using namespace internal;

void set_firmware_entry_points(const FirmwareEntryPoints& entries) {
    g_entries = entries;
}

}  // namespace host
