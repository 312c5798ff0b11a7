// The I2C bus at 100 kHz: transactions reach a device only at an address
// where one is attached and acknowledging; each byte (the address too) takes
// nine bit times on the bus.
#include <Wire.h>

#include <algorithm>
#include <string>

#include "machine_internal.h"

TwoWire Wire;

namespace host {
namespace internal {
namespace {

// The SAM core's Wire keeps 256-byte transmit and receive buffers.
constexpr size_t kBuffer = 256;
constexpr Micros kByteTime = 9 * 10;  // nine bits at 100 kHz
constexpr size_t kAddresses = 128;

struct Bus {
    bool started = false;
    bool transmitting = false;
    bool overflow = false;
    uint8_t address = 0;
    uint8_t pending[kBuffer] = {};
    size_t pending_size = 0;
    uint8_t received[kBuffer] = {};
    size_t received_size = 0;
    size_t received_at = 0;
};

Bus g_bus;
I2cDevice* g_devices[kAddresses] = {};

void check_address(uint8_t address) {
    if (address >= kAddresses) {
        fatal("I2C address " + std::to_string(address) + " is not a 7-bit address");
    }
}

// The device answering at the address, or nullptr (not acknowledged).
I2cDevice* answering(uint8_t address) {
    check_address(address);
    I2cDevice* device = g_devices[address];
    return device != nullptr && device->acknowledges() ? device : nullptr;
}

void bus_time(size_t bytes) {
    advance_to(g_now + bytes * kByteTime);
}

}  // namespace

void i2c_power_up() {
    g_bus = Bus{};
}

void i2c_machine_reset() {
    for (I2cDevice*& device : g_devices) {
        device = nullptr;
    }
}

}  // namespace internal

void attach_i2c_device(uint8_t address, I2cDevice* device) {
    internal::check_address(address);
    internal::g_devices[address] = device;
}

}  // namespace host

using host::internal::g_bus;
using host::internal::platform_call;

void TwoWire::begin() {
    platform_call();
    g_bus = host::internal::Bus{};
    g_bus.started = true;
}

void TwoWire::end() {
    platform_call();
    g_bus.started = false;
    g_bus.transmitting = false;
}

void TwoWire::beginTransmission(uint8_t address) {
    platform_call();
    host::internal::check_address(address);
    g_bus.transmitting = true;
    g_bus.overflow = false;
    g_bus.address = address;
    g_bus.pending_size = 0;
}

size_t TwoWire::write(uint8_t byte) {
    platform_call();
    if (!g_bus.transmitting || g_bus.pending_size >= host::internal::kBuffer) {
        g_bus.overflow = g_bus.transmitting;
        return 0;
    }
    g_bus.pending[g_bus.pending_size++] = byte;
    return 1;
}

uint8_t TwoWire::endTransmission(bool stop) {
    (void)stop;  // every transaction here ends with a stop condition
    platform_call();
    if (!g_bus.started || !g_bus.transmitting) {
        return 4;
    }
    g_bus.transmitting = false;
    if (g_bus.overflow) {
        return 1;
    }
    const uint8_t address = g_bus.address;
    if (host::internal::answering(address) == nullptr) {
        host::internal::bus_time(1);
        return 2;
    }
    host::internal::bus_time(1 + g_bus.pending_size);
    // Looked up again: the device may have gone while the bytes were sent.
    host::I2cDevice* device = host::internal::answering(address);
    if (device == nullptr) {
        return 3;
    }
    return device->on_write(g_bus.pending, g_bus.pending_size) ? 0 : 3;
}

uint8_t TwoWire::requestFrom(uint8_t address, uint8_t quantity, bool stop) {
    (void)stop;
    platform_call();
    host::internal::check_address(address);
    g_bus.received_size = 0;
    g_bus.received_at = 0;
    if (!g_bus.started) {
        return 0;
    }
    const size_t wanted = std::min<size_t>(quantity, host::internal::kBuffer);
    if (host::internal::answering(address) == nullptr) {
        host::internal::bus_time(1);
        return 0;
    }
    host::internal::bus_time(1 + wanted);
    host::I2cDevice* device = host::internal::answering(address);
    if (device == nullptr) {
        return 0;
    }
    const size_t got = device->on_read(g_bus.received, wanted);
    g_bus.received_size = got < wanted ? got : wanted;
    return static_cast<uint8_t>(g_bus.received_size);
}

int TwoWire::available() {
    host::internal::poll_call();
    return static_cast<int>(g_bus.received_size - g_bus.received_at);
}

int TwoWire::read() {
    platform_call();
    if (g_bus.received_at >= g_bus.received_size) {
        return -1;
    }
    return g_bus.received[g_bus.received_at++];
}
