// A base station computer on a sensor channel (device type 1; see
// sensor_channels.h for how the simulator cables it). It listens: the
// station's $AIHBT heartbeats and the AIS sentences it relays, each behind a
// tag block, are kept with the verdicts on their checksums (TaggedPeer). It
// asks: on a scenario step it sends an addressed binary message request,
// !AIABM, whose encapsulated data the station hands to its transponder as
// an AIS message 6. It is always powered and talks only through the UART.
#pragma once

#include <cstdint>
#include <string>

#include "devices/tagged_peer.h"

namespace sim {

class BaseStation : public TaggedPeer {
  public:
    struct AbmRequest {
        uint32_t mmsi = 0;    // destination
        std::string payload;  // the binary data (from the application identifier on), armoured
        unsigned fill = 0;    // fill bits of the last character, 0..5
        bool bad_checksum = false;
    };
    // The longest payload one sentence carries.
    static constexpr size_t kLongestPayload = 48;

    BaseStation(const ChannelLine& line, unsigned channel) : TaggedPeer(line, channel) {}

    // "!AIABM,1,1,<seq>,<mmsi>,0,6,<payload>,<fill>*hh" CR LF; a bad checksum
    // is the right one with its bits turned over.
    static std::string abm_sentence(const AbmRequest& request, unsigned sequence);
    // Sends one, numbering its requests 0..3 in turn.
    void send_abm(const AbmRequest& request);

    // The heartbeats received, in order.
    std::vector<Record> heartbeats() const { return records_of(Kind::heartbeat); }
    // The relayed sentences (everything but heartbeats), in order.
    std::vector<Record> relayed() const { return records_of(Kind::sentence); }

  private:
    unsigned sequence_ = 0;
};

}  // namespace sim
