// The USB CDC device port: what a terminal sends is readable at once while
// the port is open; what the station writes is captured for the host.
#include <Arduino.h>

#include <deque>
#include <string>

#include "machine_internal.h"

USBSerial SerialUSB;

namespace host {
namespace internal {
namespace {

bool g_open = false;
std::deque<uint8_t> g_received;
std::string g_output;
std::function<void(const uint8_t*, size_t)> g_on_output;

}  // namespace

void usb_power_up() {
    g_open = false;
    g_received.clear();
}

void usb_machine_reset() {
    g_output.clear();
    g_on_output = nullptr;
}

}  // namespace internal

using namespace internal;

void usb_send(const std::string& text) {
    const bool accepted = g_open;
    if (accepted) {
        g_received.insert(g_received.end(), text.begin(), text.end());
        ++internal::g_dispatches;  // what a spinning firmware sees has changed
    }
    tell_listeners([&text, accepted](MachineListener& l) {
        l.usb_to_station(reinterpret_cast<const uint8_t*>(text.data()), text.size(), accepted);
    });
}

std::string usb_take_output() {
    std::string taken;
    taken.swap(g_output);
    return taken;
}

void on_usb_output(std::function<void(const uint8_t* data, size_t size)> callback) {
    g_on_output = std::move(callback);
}

}  // namespace host

using namespace host::internal;

void USBSerial::begin(uint32_t baud) {
    (void)baud;  // a CDC port has no line rate
    platform_call();
    g_open = true;
}

int USBSerial::available() {
    host::internal::poll_call();
    return static_cast<int>(g_received.size());
}

int USBSerial::read() {
    platform_call();
    if (g_received.empty()) {
        return -1;
    }
    const uint8_t byte = g_received.front();
    g_received.pop_front();
    g_io_activity = true;
    return byte;
}

size_t USBSerial::write(uint8_t byte) {
    return write(&byte, 1);
}

size_t USBSerial::write(const uint8_t* buffer, size_t size) {
    platform_call();
    if (size == 0) {
        return 0;
    }
    g_io_activity = true;
    g_output.append(reinterpret_cast<const char*>(buffer), size);
    if (g_on_output) {
        g_on_output(buffer, size);
    }
    tell_listeners([buffer, size](host::MachineListener& l) { l.usb_from_station(buffer, size); });
    return size;
}
