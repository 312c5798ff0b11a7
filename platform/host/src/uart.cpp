// The three UARTs and the wires to their peers. A byte takes ten bit times
// on the line in either direction; the station's transmitter queues 64
// bytes, its receiver buffers 512. A receiver at another baud rate than the
// sender's reads what it samples (uart_line.h); noise flips bits.
#include <Arduino.h>

#include <deque>
#include <string>

#include "ktr09_board.h"
#include "machine_internal.h"
#include "uart_line.h"

Uart Serial0(0);
Uart Serial1(1);
Uart Serial3(3);

namespace host {
namespace internal {
namespace {

constexpr size_t kPorts = 4;
constexpr size_t kReceiveBuffer = 512;
constexpr size_t kTransmitQueue = 64;
constexpr uint64_t kBitsPerByte = 10;

// Back-to-back bytes on one line: byte k of a run ends at start + k byte
// times, rounded up to the microsecond, so long runs keep the exact rate.
struct LineRun {
    Micros start = 0;
    uint64_t bytes = 0;
    uint32_t baud = 0;
    Micros free_at = 0;

    Micros append(Micros now, uint32_t rate) {
        if (free_at <= now || rate != baud) {
            start = free_at > now ? free_at : now;
            bytes = 0;
            baud = rate;
        }
        ++bytes;
        free_at = start + (bytes * kBitsPerByte * kSecond + baud - 1) / baud;
        return free_at;
    }
};

struct Port {
    bool open = false;
    uint32_t baud = 0;
    std::deque<uint8_t> received;
    uint32_t lost = 0;
    uint32_t framing_errors = 0;
    UartPeer* peer = nullptr;
    bool taken = false;  // a terminal or serial device replaces the model
    LineRun to_peer;
    std::deque<Micros> in_transmitter;  // end times of bytes not yet sent
    uint64_t generation = 0;            // bumps when the port is reset
    LineRun from_peer;
    RateMismatch from_peer_rate;  // the station's receiver at another rate
    RateMismatch to_peer_rate;    // the peer's receiver at another rate
    LineNoise noise;
};

Port g_ports[kPorts];

// The port's model; an unknown port is fatal (uart_disable_pin says so).
Port& port_at(uint8_t port) {
    (void)uart_disable_pin(port);
    return g_ports[port];
}

// Closes the port and forgets whatever it held or was sending.
void reset_port(Port& p) {
    p.open = false;
    p.baud = 0;
    p.received.clear();
    p.in_transmitter.clear();
    p.to_peer = LineRun{};
    p.from_peer_rate.clear();
    p.to_peer_rate.clear();
    ++p.generation;
}

void open_port(Port& p, uint32_t baud) {
    reset_port(p);
    p.open = baud != 0;
    p.baud = baud;
}

Micros frame_time(uint32_t baud) {
    return (kBitsPerByte * kSecond + baud - 1) / baud;
}

// A byte the receiver completed (`framed`: its stop bit read high).
void receive(uint8_t port, uint8_t byte, bool framed) {
    Port& p = g_ports[port];
    const bool accepted =
        framed && p.open && uart_driver_enabled(port) && p.received.size() < kReceiveBuffer;
    if (accepted) {
        p.received.push_back(byte);
    } else if (!framed && p.open) {
        ++p.framing_errors;
    } else {
        ++p.lost;
    }
    tell_listeners(
        [port, byte, accepted](MachineListener& l) { l.uart_to_station(port, byte, accepted); });
}

// What the station's receiver made of the line by now at its own rate.
void receive_mismatched(uint8_t port) {
    Port& p = g_ports[port];
    if (!p.open) {
        return;
    }
    for (const uint8_t byte : p.from_peer_rate.receive(g_now, p.baud)) {
        receive(port, byte, true);
    }
}

void arrive(uint8_t port, uint8_t byte, uint32_t baud) {
    Port& p = g_ports[port];
    if (p.open && p.baud != baud) {
        receive_mismatched(port);
        // A byte it began near the end of the line's last one ends later.
        const uint64_t generation = p.generation;
        schedule_at(g_now + frame_time(p.baud), [port, generation] {
            if (g_ports[port].generation == generation) {
                receive_mismatched(port);
            }
        });
        return;
    }
    const bool framed = p.noise.pass(&byte);
    receive(port, byte, framed);
}

// Hands the station's byte to its peer, as the peer's receiver reads it.
void deliver(uint8_t port, uint8_t byte, uint32_t rate) {
    Port& p = g_ports[port];
    if (p.peer == nullptr) {
        return;
    }
    const uint32_t listening = p.peer->baud();
    if (listening == 0 || listening == rate) {
        if (p.noise.pass(&byte)) {
            p.peer->on_byte_from_station(byte);
        }
        return;
    }
    UartPeer* const peer = p.peer;
    const auto hand_over = [port, peer, listening] {
        Port& q = g_ports[port];
        if (q.peer == peer) {
            for (const uint8_t got : q.to_peer_rate.receive(g_now, listening)) {
                peer->on_byte_from_station(got);
            }
        }
    };
    hand_over();
    schedule_at(g_now + frame_time(listening), hand_over);
}

void drop_sent(Port& p) {
    while (!p.in_transmitter.empty() && p.in_transmitter.front() <= g_now) {
        p.in_transmitter.pop_front();
    }
}

// Puts one byte in the transmitter, waiting while its queue is full.
void transmit(uint8_t port, uint8_t byte) {
    Port& p = g_ports[port];
    drop_sent(p);
    while (p.in_transmitter.size() >= kTransmitQueue) {
        advance_to(p.in_transmitter.front());
        if (!p.open) {
            return;  // closed while waiting (from an interrupt)
        }
        drop_sent(p);
    }
    const Micros done = p.to_peer.append(g_now, p.baud);
    p.in_transmitter.push_back(done);
    const uint64_t generation = p.generation;
    const bool driver_on = uart_driver_enabled(port);
    const uint32_t rate = p.baud;
    if (p.peer != nullptr && p.peer->baud() != 0 && p.peer->baud() != rate) {
        p.to_peer_rate.send(done - frame_time(rate), byte, rate);
    }
    schedule_at(done, [port, byte, generation, driver_on, rate] {
        Port& q = g_ports[port];
        if (q.generation != generation || !driver_on || !uart_driver_enabled(port)) {
            return;
        }
        tell_listeners([port, byte](MachineListener& l) { l.uart_from_station(port, byte); });
        deliver(port, byte, rate);
    });
}

}  // namespace

void uart_power_up() {
    for (Port& p : g_ports) {
        reset_port(p);
    }
}

void uart_machine_reset() {
    for (Port& p : g_ports) {
        reset_port(p);
        p.lost = 0;
        p.framing_errors = 0;
        p.peer = nullptr;
        p.taken = false;
        p.from_peer = LineRun{};
        p.noise.set(0, 0);
    }
}

}  // namespace internal

uint32_t uart_disable_pin(uint8_t port) {
    const board::LineDriver* driver = board::line_driver(port);
    if (driver == nullptr) {
        fatal("no UART port " + std::to_string(port) + " on the board (ports 0, 1 and 3)");
    }
    return driver->disable;
}

void attach_uart_peer(uint8_t port, UartPeer* peer) {
    internal::Port& p = internal::port_at(port);
    if (!p.taken) {
        p.peer = peer;
    }
}

void take_uart_line(uint8_t port, UartPeer* peer) {
    internal::Port& p = internal::port_at(port);
    p.peer = peer;
    p.taken = true;
}

void uart_peer_send(uint8_t port, const uint8_t* data, size_t size, uint32_t baud) {
    if (!internal::port_at(port).taken) {
        uart_line_send(port, data, size, baud);
    }
}

void uart_line_send(uint8_t port, const uint8_t* data, size_t size, uint32_t baud) {
    internal::Port& p = internal::port_at(port);
    if (baud == 0) {
        return;
    }
    const bool mismatched = p.open && p.baud != baud;
    for (size_t i = 0; i < size; ++i) {
        const Micros at = p.from_peer.append(internal::g_now, baud);
        const uint8_t byte = data[i];
        if (mismatched) {
            p.from_peer_rate.send(at - internal::frame_time(baud), byte, baud);
        }
        schedule_at(at, [port, byte, baud] { internal::arrive(port, byte, baud); });
    }
}

void uart_peer_send(uint8_t port, const std::string& text, uint32_t baud) {
    uart_peer_send(port, reinterpret_cast<const uint8_t*>(text.data()), text.size(), baud);
}

void set_uart_noise(uint8_t port, double bit_error_rate, uint64_t seed) {
    internal::port_at(port).noise.set(bit_error_rate, seed);
}

double uart_noise(uint8_t port) {
    return internal::port_at(port).noise.rate();
}

UartStatus uart_status(uint8_t port) {
    const internal::Port& p = internal::port_at(port);
    return UartStatus{p.open, p.baud, internal::uart_driver_enabled(port), p.lost,
                      p.framing_errors};
}

}  // namespace host

using host::internal::g_ports;
using host::internal::platform_call;

void Uart::begin(uint32_t baud) {
    platform_call();
    host::internal::open_port(host::internal::port_at(port_), baud);
}

void Uart::end() {
    platform_call();
    host::internal::reset_port(host::internal::port_at(port_));
}

void Uart::flush() {
    platform_call();
    host::internal::Port& p = host::internal::port_at(port_);
    if (!p.open || p.in_transmitter.empty()) {
        return;
    }
    host::internal::advance_to(p.in_transmitter.back());
    host::internal::drop_sent(p);
}

int Uart::available() {
    host::internal::poll_call();
    return static_cast<int>(host::internal::port_at(port_).received.size());
}

int Uart::read() {
    platform_call();
    host::internal::Port& p = host::internal::port_at(port_);
    if (p.received.empty()) {
        return -1;
    }
    const uint8_t byte = p.received.front();
    p.received.pop_front();
    host::internal::g_io_activity = true;
    return byte;
}

size_t Uart::write(uint8_t byte) {
    return write(&byte, 1);
}

size_t Uart::write(const uint8_t* buffer, size_t size) {
    platform_call();
    host::internal::Port& p = host::internal::port_at(port_);
    if (!p.open) {
        return 0;
    }
    host::internal::g_io_activity = true;
    size_t sent = 0;
    while (sent < size && p.open) {
        host::internal::transmit(port_, buffer[sent]);
        ++sent;
    }
    return sent;
}
