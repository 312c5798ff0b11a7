// A readable record of everything the station exchanges, one line per burst
// of bytes, pin change or restart, each with its virtual time:
//
//   000012.345678 usb> "KTR09\r\n"         the station wrote to the USB port
//   000012.400000 usb< "DIP\r"             a terminal sent it
//   000013.000000 uart3> "$PAMTC,...\r\n"  the station sent on UART 3
//   000013.100000 uart3< "$WIMWV,...\r\n"  UART 3's peer sent, the station took
//   000013.200000 uart3< lost "..."        ... and the station lost (closed, full)
//   000030.000000 pin 33 1                 a watched pin's driven level (z: undriven)
//   000031.000000 restart watchdog
//   000480.000000 end
//
// A burst is the bytes of one port and direction that follow each other
// with less than kBurstGap between them; it ends after a line feed and at
// kBurstLimit bytes. Lines come in the order their first byte came. Bytes
// are shown C-style: printable ASCII as is, \" \\ \r \n \t, else \xHH.
#pragma once

#include <cstdint>
#include <cstdio>
#include <deque>
#include <string>
#include <vector>

#include "host/machine.h"

namespace sim {

// The pins whose changes matter: digital outputs 1..4, and each line
// driver's disable and mode pins; with `led`, the status LED as well.
std::vector<uint32_t> transcript_pins(bool led);

class Transcript : public host::MachineListener {
  public:
    static constexpr host::Micros kBurstGap = 50 * host::kMillisecond;
    static constexpr size_t kBurstLimit = 120;

    // Writes to `out` (not owned), watching `pins`; listens from construction
    // until finish().
    Transcript(std::FILE* out, std::vector<uint32_t> pins);
    ~Transcript() override;
    Transcript(const Transcript&) = delete;
    Transcript& operator=(const Transcript&) = delete;

    // Writes every burst still open and an "end" line at the current time,
    // and stops listening.
    void finish();

    void usb_from_station(const uint8_t* data, size_t size) override;
    void usb_to_station(const uint8_t* data, size_t size, bool accepted) override;
    void uart_from_station(uint8_t port, uint8_t byte) override;
    void uart_to_station(uint8_t port, uint8_t byte, bool accepted) override;
    void output_changed(uint32_t pin, int level) override;
    void restarting(const char* reason) override;

  private:
    struct Line {
        host::Micros start;
        std::string stream;  // "usb>", "uart3< lost", ...; empty for a whole line
        std::string text;
        host::Micros last = 0;
        bool open = false;
    };

    void bytes(const std::string& stream, const uint8_t* data, size_t size);
    void whole_line(std::string text);
    // Closes the bursts the gap has ended by now, then writes out the
    // closed lines at the front.
    void close_quiet_bursts();
    void write_ready();

    std::FILE* out_;
    std::vector<uint32_t> pins_;
    std::deque<Line> lines_;
    bool listening_ = true;
};

}  // namespace sim
