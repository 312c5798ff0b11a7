// What a port of the simulated station can be put on instead of its device
// model: a pseudo-terminal (for picocom, screen, a PC program, or a socat
// link) or a serial device (a real port, or one end of socat).
#pragma once

#include <signal.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace sim {

class TerminalPort {
  public:
    TerminalPort() = default;
    TerminalPort(const TerminalPort&) = delete;
    TerminalPort& operator=(const TerminalPort&) = delete;
    ~TerminalPort();

    // "pty" creates a pseudo-terminal; anything else is a serial device's
    // path. Either is set raw (8N1, no echo, bytes as they are). False with a
    // message on failure.
    bool open(const std::string& where, std::string* error);
    // The path a terminal program opens (the pseudo-terminal's, e.g.
    // /dev/pts/3, or the device given).
    const std::string& path() const { return path_; }
    bool is_pty() const { return pty_; }

    // Waits until a program opens the pseudo-terminal, as a PC opening the
    // USB port, or `stop` is set; false when stopped.
    bool wait_for_terminal(const volatile sig_atomic_t& stop);

    // The line speed, following the station's port (0: left as it is). A
    // pseudo-terminal shows it to the program that opened it.
    void set_baud(uint32_t baud);
    uint32_t baud() const { return baud_; }

    // Bytes towards the terminal. Dropped while nobody reads and the buffer
    // is full, as a host discards CDC data when no application has the port
    // open.
    void write(const uint8_t* data, size_t size);
    void write(const std::string& text);
    // Whatever the terminal has sent since the last call (never blocks).
    std::string read_available();

  private:
    int fd_ = -1;
    // Held open so the line stays up while no terminal program is connected.
    int slave_ = -1;
    bool pty_ = false;
    std::string path_;
    uint32_t baud_ = 0;
};

}  // namespace sim
