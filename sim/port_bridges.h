// The station's ports put on terminals or serial devices instead of their
// device models (--usb, --uart0, --uart1, --uart3): bytes pass both ways
// between the terminal and the port, and a UART's terminal follows the baud
// rate the station opened the port with.
#pragma once

#include <signal.h>

#include <memory>
#include <string>
#include <vector>

#include "host/machine.h"
#include "terminal_port.h"

namespace sim {

// One port and where it goes: "pty" or a serial device's path.
struct PortBinding {
    std::string port;  // "usb", "uart0", "uart1" or "uart3"
    std::string where;
};

class PortBridges {
  public:
    PortBridges();
    ~PortBridges();
    PortBridges(const PortBridges&) = delete;
    PortBridges& operator=(const PortBridges&) = delete;

    // Opens every terminal; on stderr each port's path ("USB port: /dev/pts/3",
    // "UART3 port: /dev/pts/4"). False with a message on failure.
    bool open(const std::vector<PortBinding>& bindings, std::string* error);
    // Puts the UART terminals on their lines, unplugging the models there:
    // after the devices attach.
    void take_lines();
    // The USB port's terminal, or null when the USB port is not bound.
    TerminalPort* usb();
    // The terminal of "usb", "uart0", "uart1" or "uart3"; null when unbound.
    TerminalPort* terminal(const std::string& port);

    // Moves what is waiting: the terminals' bytes to the station (a UART's
    // at the rate the station opened it with; dropped while it is closed),
    // the station's USB output to the USB terminal. True when a terminal
    // sent anything.
    bool pass();

  private:
    class UartBridge;
    std::unique_ptr<TerminalPort> usb_;
    std::vector<std::unique_ptr<UartBridge>> uarts_;
};

// The UART number of "uart0", "uart1" or "uart3"; -1 for anything else.
int uart_number(const std::string& port);

}  // namespace sim
