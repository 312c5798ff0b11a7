// Logical pins as the port controller has them: a direction, an output
// latch (which on an input selects the pull direction) and a pull enable;
// and the analog-to-digital converter against the 3.3 V reference.
#include <Arduino.h>

#include <cmath>
#include <vector>

#include "machine_internal.h"

namespace host {
namespace internal {
namespace {

enum class Pull : uint8_t { none, up, down };

constexpr uint32_t kNoMode = 0xFFFFFFFF;

struct Pin {
    uint32_t mode = INPUT;
    uint8_t latch = 0;
    Pull pull = Pull::none;
    // The mode whose pinMode() would change nothing now: the firmware sets
    // every pin's mode on each pass of its loop, and this spares those calls
    // the work. Anything else that changes the pin clears it.
    uint32_t settled_mode = kNoMode;
    int external = -1;  // level an outside circuit drives, -1 for none
    double volts = 0.0;
    std::vector<double> ripple;  // added to `volts`, one entry per conversion
    size_t next_ripple = 0;
};

Pin g_pins[kPinCount];
int g_adc_bits = 10;
struct OutputListener {
    ListenerId id;
    std::function<void(uint32_t, int)> callback;
};
// Device models may outlive every other static object here (they remove
// themselves when destroyed at exit), so the list is never destroyed.
std::vector<OutputListener>& output_listeners() {
    static std::vector<OutputListener>* const listeners = new std::vector<OutputListener>;
    return *listeners;
}
ListenerId g_next_listener = 1;

constexpr double kReferenceVolts = 3.3;

int driven_level(const Pin& pin) {
    return pin.mode == OUTPUT ? pin.latch : -1;
}

// Kept out of line: the firmware sets every pin's mode on each pass of its
// loop, and almost none of those calls changes a level, so the common path
// should stay small.
[[gnu::noinline, gnu::cold]] void tell_output_changed(uint32_t index, int after) {
    // A listener may add or remove listeners: tell the ones there now.
    const std::vector<OutputListener> listeners = output_listeners();
    for (const OutputListener& listener : listeners) {
        listener.callback(index, after);
    }
    tell_listeners([index, after](MachineListener& l) { l.output_changed(index, after); });
}

// Runs `change` on the pin and tells the listeners if its driven level moved.
template <typename Change>
void update(uint32_t index, Change change) {
    Pin& pin = g_pins[index];
    const int before = driven_level(pin);
    change(pin);
    const int after = driven_level(pin);
    if (after != before) {
        tell_output_changed(index, after);
    }
}

}  // namespace

void pins_power_up() {
    for (uint32_t i = 0; i < kPinCount; ++i) {
        update(i, [](Pin& pin) {
            pin.mode = INPUT;
            pin.latch = 0;
            pin.pull = Pull::none;
            pin.settled_mode = kNoMode;
        });
    }
    g_adc_bits = 10;
}

void pins_machine_reset() {
    output_listeners().clear();
    for (Pin& pin : g_pins) {
        pin.external = -1;
        pin.volts = 0.0;
        pin.ripple.clear();
        pin.next_ripple = 0;
    }
}

bool uart_driver_enabled(uint8_t port) {
    return driven_level(g_pins[uart_disable_pin(port)]) != 1;
}

}  // namespace internal

using internal::g_pins;

void set_input_level(uint32_t pin, int level) {
    if (pin >= kPinCount) {
        return;
    }
    const int external = level < 0 ? -1 : (level != 0 ? 1 : 0);
    if (g_pins[pin].external != external) {
        g_pins[pin].external = external;
        internal::tell_listeners(
            [pin, external](MachineListener& l) { l.input_changed(pin, external); });
    }
}

int output_level(uint32_t pin) {
    return pin < kPinCount ? internal::driven_level(g_pins[pin]) : -1;
}

uint32_t pin_mode(uint32_t pin) {
    return pin < kPinCount ? g_pins[pin].mode : INPUT;
}

ListenerId on_output_change(std::function<void(uint32_t pin, int level)> callback) {
    const ListenerId id = internal::g_next_listener++;
    internal::output_listeners().push_back({id, std::move(callback)});
    return id;
}

void remove_output_listener(ListenerId id) {
    auto& listeners = internal::output_listeners();
    for (auto it = listeners.begin(); it != listeners.end(); ++it) {
        if (it->id == id) {
            listeners.erase(it);
            return;
        }
    }
}

void set_analog_voltage(uint32_t pin, double volts) {
    if (pin < kPinCount) {
        g_pins[pin].volts = volts;
    }
}

void set_analog_ripple(uint32_t pin, std::vector<double> volts) {
    if (pin < kPinCount) {
        g_pins[pin].ripple = std::move(volts);
        g_pins[pin].next_ripple = 0;
    }
}

}  // namespace host

using host::internal::Pin;
using host::internal::Pull;

void pinMode(uint32_t pin, uint32_t mode) {
    host::internal::platform_call();
    if (pin >= host::kPinCount || host::internal::g_pins[pin].settled_mode == mode) {
        return;
    }
    host::internal::update(pin, [mode](Pin& p) {
        p.mode = mode;
        p.settled_mode = mode;
        switch (mode) {
            case INPUT_PULLUP:
                p.pull = Pull::up;
                p.latch = 1;
                break;
            case INPUT_PULLDOWN:
                p.pull = Pull::down;
                p.latch = 0;
                break;
            case INPUT:
            case INPUT_ANALOG:
                p.pull = Pull::none;
                break;
            default:
                break;
        }
    });
}

void digitalWrite(uint32_t pin, uint32_t level) {
    host::internal::platform_call();
    if (pin >= host::kPinCount) {
        return;
    }
    host::internal::update(pin, [level](Pin& p) {
        p.latch = level != LOW ? 1 : 0;
        // On an input the latch chooses the pull, as on the chip.
        if (p.mode == INPUT || p.mode == INPUT_PULLUP || p.mode == INPUT_PULLDOWN) {
            p.pull = p.latch != 0 ? Pull::up : Pull::down;
            p.settled_mode = host::internal::kNoMode;
        }
    });
}

int digitalRead(uint32_t pin) {
    host::internal::platform_call();
    if (pin >= host::kPinCount) {
        return LOW;
    }
    const Pin& p = host::internal::g_pins[pin];
    switch (p.mode) {
        case OUTPUT:
            return p.latch;
        case INPUT_ANALOG:
            return LOW;  // the digital input buffer is off
        default:
            if (p.external >= 0) {
                return p.external;
            }
            return p.pull == Pull::up ? HIGH : LOW;
    }
}

void analogReadResolution(int bits) {
    host::internal::platform_call();
    host::internal::g_adc_bits = bits < 1 ? 1 : (bits > 16 ? 16 : bits);
}

int analogRead(uint32_t pin) {
    host::internal::platform_call();
    if (pin >= host::kPinCount) {
        return 0;
    }
    Pin& p = host::internal::g_pins[pin];
    double volts = p.volts;
    if (!p.ripple.empty()) {
        volts += p.ripple[p.next_ripple];
        p.next_ripple = (p.next_ripple + 1) % p.ripple.size();
    }
    const int full_scale = (1 << host::internal::g_adc_bits) - 1;
    const double counts =
        std::nearbyint(volts / host::internal::kReferenceVolts * (1 << host::internal::g_adc_bits));
    if (!(counts > 0.0)) {
        return 0;
    }
    return counts >= full_scale ? full_scale : static_cast<int>(counts);
}
