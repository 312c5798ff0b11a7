// A pseudo-terminal standing in for the station's USB CDC port, so a terminal
// program can be connected to the simulated station.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace sim {

class UsbPty {
  public:
    UsbPty() = default;
    UsbPty(const UsbPty&) = delete;
    UsbPty& operator=(const UsbPty&) = delete;
    ~UsbPty();

    // Creates the pseudo-terminal in raw mode. False with a message on failure.
    bool open(std::string* error);
    // Path a terminal program opens, e.g. /dev/pts/3.
    const std::string& path() const { return path_; }

    // Station output towards the terminal. Dropped while nobody reads it and
    // the terminal's buffer is full, as a host discards CDC data when no
    // application has the port open.
    void write(const uint8_t* data, size_t size);
    // Whatever the terminal has sent since the last call (never blocks).
    std::string read_available();

  private:
    int master_ = -1;
    // Held open so the line stays up while no terminal program is connected.
    int slave_ = -1;
    std::string path_;
};

}  // namespace sim
