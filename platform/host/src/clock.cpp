// The virtual clock, the event list and the one place where time moves:
// advance_to runs due ticks, events and the watchdog in time order.
#include <Arduino.h>

#include <chrono>
#include <map>
#include <thread>
#include <unordered_map>
#include <utility>

#include "machine_internal.h"

namespace host {
namespace internal {

Micros g_now = 0;
bool g_dispatching = false;
bool g_io_activity = false;
uint64_t g_calls = 0;
uint64_t g_dispatches = 0;
Due g_due;

namespace {

// Consecutive polls with no other call and nothing run between them.
constexpr unsigned kPollsBeforeSleeping = 4;
unsigned g_quiet_polls = 0;
uint64_t g_calls_at_last_poll = 0;
uint64_t g_dispatches_at_last_poll = 0;

struct EventList {
    // Keyed by (time, id): ids grow, so equal times keep scheduling order.
    std::map<std::pair<Micros, EventId>, std::function<void()>> by_time;
    std::unordered_map<EventId, Micros> time_of;
    EventId last_id = 0;
};

EventList& events() {
    static EventList list;
    return list;
}

void refresh_next_event() {
    const EventList& list = events();
    g_due.set_event(list.by_time.empty() ? kNever : list.by_time.begin()->first.first);
}

std::chrono::steady_clock::time_point g_wall_anchor;
Micros g_virtual_anchor = 0;

// In real-time mode, holds the clock back until the wall clock reaches `t`.
void pace(Micros t) {
    if (!g_due.realtime() || t <= g_virtual_anchor) {
        return;
    }
    const auto due = g_wall_anchor + std::chrono::microseconds(t - g_virtual_anchor);
    // Sleeping costs far more than a microsecond; only sleep when well ahead.
    if (due - std::chrono::steady_clock::now() > std::chrono::microseconds(200)) {
        std::this_thread::sleep_until(due);
    }
}

void set_now(Micros t) {
    if (t > g_now) {
        pace(t);
        g_now = t;
    }
}

void run_first_event() {
    EventList& list = events();
    auto first = list.by_time.begin();
    set_now(first->first.first);
    std::function<void()> action = std::move(first->second);
    list.time_of.erase(first->first.second);
    list.by_time.erase(first);
    refresh_next_event();
    g_dispatching = true;
    ++g_dispatches;
    action();
    g_dispatching = false;
}

}  // namespace

Micros next_event_time() {
    return g_due.event();
}

void clear_events() {
    EventList& list = events();
    list.by_time.clear();
    list.time_of.clear();
    refresh_next_event();
}

void reset_clock() {
    g_now = 0;
    g_due.set_realtime(false);
    g_dispatching = false;
    g_io_activity = false;
    g_quiet_polls = 0;
}

void advance_slowly(Micros target, bool wake_on_resume) {
    if (g_dispatching) {
        // Inside an interrupt or an event: time passes, nothing else happens.
        if (target > g_now) {
            g_now = target;
        }
        return;
    }
    const bool firmware = on_firmware_thread();
    if (firmware && firmware_stopping()) {
        if (target > g_now) {
            g_now = target;
        }
        return;
    }
    for (;;) {
        if (firmware) {
            take_pending_stop();
        }
        Micros limit = target;
        bool pause_at_limit = false;
        if (firmware && target > g_run_limit) {
            limit = g_run_limit;
            pause_at_limit = true;
        }
        const Micros tick = g_due.tick();
        const Micros event = g_due.event();
        const Micros watchdog = g_due.watchdog();
        const Micros next = g_due.next();
        if (next <= limit) {
            if (next == tick) {
                set_now(tick);
                fire_tick(limit);
            } else if (next == event) {
                run_first_event();
            } else {
                set_now(watchdog);
                if (firmware) {
                    request_watchdog_restart();
                } else {
                    watchdog_expired_outside();
                }
            }
            if (!firmware && host_advance_interrupted()) {
                return;
            }
            continue;
        }
        set_now(limit);
        if (!pause_at_limit) {
            return;
        }
        pause_firmware();
        if (wake_on_resume) {
            take_pending_stop();
            return;
        }
    }
}

void poll_call() {
    check_thread();
    const bool quiet = g_calls == g_calls_at_last_poll && g_dispatches == g_dispatches_at_last_poll;
    g_quiet_polls = quiet ? g_quiet_polls + 1 : 0;
    Micros target = g_now + kCallCost;
    if (g_quiet_polls >= kPollsBeforeSleeping && !g_dispatching) {
        const Micros wake = g_due.next(tick_interrupt_enabled());
        if (wake != kNever && wake > target) {
            target = wake;
        }
    }
    // Taken before moving on: whatever the move runs, the firmware looks at
    // it before it counts as spinning again.
    g_calls_at_last_poll = g_calls;
    g_dispatches_at_last_poll = g_dispatches;
    advance_to(target);
}

void wait_for_interrupt() {
    if (g_dispatching || (on_firmware_thread() && firmware_stopping())) {
        return;
    }
    const Micros wake = g_due.next(tick_interrupt_enabled());
    if (wake != kNever) {
        advance_to(wake > g_now ? wake : g_now, true);
        return;
    }
    if (!on_firmware_thread()) {
        // Called straight from a test: no run to wait for.
        return;
    }
    // Nothing can wake the station: sleep to the end of the run; whatever the
    // host does before the next run counts as the wake-up.
    advance_to(g_run_limit);
    pause_firmware();
    take_pending_stop();
}

}  // namespace internal

using internal::g_now;

Micros now() {
    return g_now;
}

EventId schedule_at(Micros when, std::function<void()> action) {
    internal::EventList& list = internal::events();
    const Micros at = when > g_now ? when : g_now;
    const EventId id = ++list.last_id;
    list.by_time.emplace(std::make_pair(at, id), std::move(action));
    list.time_of.emplace(id, at);
    internal::refresh_next_event();
    return id;
}

EventId schedule_in(Micros delay, std::function<void()> action) {
    return schedule_at(g_now + delay, std::move(action));
}

void cancel(EventId id) {
    internal::EventList& list = internal::events();
    const auto found = list.time_of.find(id);
    if (found == list.time_of.end()) {
        return;
    }
    list.by_time.erase(std::make_pair(found->second, id));
    list.time_of.erase(found);
    internal::refresh_next_event();
}

void set_realtime(bool on) {
    internal::g_due.set_realtime(on);
    internal::g_wall_anchor = std::chrono::steady_clock::now();
    internal::g_virtual_anchor = g_now;
}

}  // namespace host

// ---- The firmware's view of time -------------------------------------------

uint32_t millis() {
    host::internal::platform_call();
    return static_cast<uint32_t>(host::internal::g_now / 1000);
}

uint32_t micros() {
    host::internal::platform_call();
    return static_cast<uint32_t>(host::internal::g_now);
}

void delay(uint32_t ms) {
    host::internal::platform_call();
    host::internal::advance_to(host::internal::g_now + ms * host::kMillisecond);
}

void __WFI() {
    host::internal::platform_call();
    host::internal::wait_for_interrupt();
}
