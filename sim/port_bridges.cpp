#include "port_bridges.h"

#include <cstdio>

namespace sim {

class PortBridges::UartBridge : public host::UartPeer {
  public:
    explicit UartBridge(uint8_t port) : port_(port) {}
    TerminalPort& terminal() { return terminal_; }
    uint8_t port() const { return port_; }

    void follow_baud() { terminal_.set_baud(host::uart_status(port_).baud); }

    void on_byte_from_station(uint8_t byte) override {
        follow_baud();
        terminal_.write(&byte, 1);
    }

    bool pass() {
        follow_baud();
        const std::string typed = terminal_.read_available();
        if (typed.empty()) {
            return false;
        }
        host::uart_line_send(port_, reinterpret_cast<const uint8_t*>(typed.data()), typed.size(),
                             host::uart_status(port_).baud);
        return true;
    }

  private:
    uint8_t port_;
    TerminalPort terminal_;
};

PortBridges::PortBridges() = default;
PortBridges::~PortBridges() = default;

int uart_number(const std::string& port) {
    if (port == "uart0") {
        return 0;
    }
    if (port == "uart1") {
        return 1;
    }
    if (port == "uart3") {
        return 3;
    }
    return -1;
}

bool PortBridges::open(const std::vector<PortBinding>& bindings, std::string* error) {
    for (const PortBinding& binding : bindings) {
        TerminalPort* terminal = nullptr;
        std::string label;
        if (binding.port == "usb") {
            usb_ = std::make_unique<TerminalPort>();
            terminal = usb_.get();
            label = "USB port";
        } else if (const int number = uart_number(binding.port); number >= 0) {
            uarts_.push_back(std::make_unique<UartBridge>(static_cast<uint8_t>(number)));
            terminal = &uarts_.back()->terminal();
            label = "UART" + std::to_string(number) + " port";
        } else {
            *error = "no port " + binding.port;
            return false;
        }
        if (!terminal->open(binding.where, error)) {
            return false;
        }
        std::fprintf(stderr, "%s: %s\n", label.c_str(), terminal->path().c_str());
    }
    return true;
}

void PortBridges::take_lines() {
    for (const auto& uart : uarts_) {
        host::take_uart_line(uart->port(), uart.get());
    }
}

TerminalPort* PortBridges::usb() {
    return usb_.get();
}

TerminalPort* PortBridges::terminal(const std::string& port) {
    if (port == "usb") {
        return usb();
    }
    for (const auto& uart : uarts_) {
        if (uart_number(port) == uart->port()) {
            return &uart->terminal();
        }
    }
    return nullptr;
}

bool PortBridges::pass() {
    bool typed = false;
    if (usb_) {
        usb_->write(host::usb_take_output());
        const std::string text = usb_->read_available();
        if (!text.empty()) {
            host::usb_send(text);
            typed = true;
        }
    }
    for (const auto& uart : uarts_) {
        typed = uart->pass() || typed;
    }
    return typed;
}

}  // namespace sim
