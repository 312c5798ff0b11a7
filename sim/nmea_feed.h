// The transponder's traffic as an NMEA 0183 feed on a TCP port, as AIS
// receivers offer it: every sentence the transponder sends the station (what
// it hears as !AIVDM, its own transmissions as !AIVDO, its GPS sentences),
// whole lines, to every client connected. Only on the loopback interface.
// A client that does not keep up loses lines rather than slowing the run.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/machine.h"

namespace sim {

class NmeaFeed : public host::MachineListener {
  public:
    // The AIS channel's UART, where the transponder is cabled.
    static constexpr uint8_t kTransponderPort = 0;

    NmeaFeed() = default;
    ~NmeaFeed() override;
    NmeaFeed(const NmeaFeed&) = delete;
    NmeaFeed& operator=(const NmeaFeed&) = delete;

    // Listens on 127.0.0.1:port and starts hearing the machine (after
    // host::reset_machine). False with a message on failure.
    bool open(uint16_t port, std::string* error);
    // Takes the clients waiting to connect (never blocks).
    void accept_clients();
    size_t client_count() const { return clients_.size(); }

    void uart_to_station(uint8_t port, uint8_t byte, bool accepted) override;

  private:
    void send_line(const std::string& line);

    int listener_ = -1;
    std::vector<int> clients_;
    std::string line_;
};

}  // namespace sim
