// A TIDELINK data-link device on a sensor channel (device type 2; see
// sensor_channels.h for how the simulator cables it). It sends data frames:
// comma-separated fields, '*' and two hexadecimal digits of the XOR of every
// byte before the '*' (from the frame's first byte: there is no start
// character), then CR LF. The station relays a frame whose field 0 is 2 and
// whose field 4 holds a command token (T$1..T$6, M$0..M$5) as AIS messages 6.
// It receives, behind a tag block each, the data blocks the station
// reassembled from messages 6 heard on the air, and also the heartbeats and
// relayed AIS sentences a base station gets (TaggedPeer). It is always
// powered and talks only through the UART.
#pragma once

#include <string>
#include <vector>

#include "devices/tagged_peer.h"

namespace sim {

class TidelinkDevice : public TaggedPeer {
  public:
    TidelinkDevice(const ChannelLine& line, unsigned channel) : TaggedPeer(line, channel) {}

    // text + "*hh" + CR LF; a bad checksum is the right one with its bits
    // turned over.
    static std::string frame(const std::string& text, bool bad_checksum = false);
    // The fields joined with commas.
    static std::string frame_text(const std::vector<std::string>& fields);
    void send_frame(const std::string& text, bool bad_checksum = false);

    // The data blocks received (neither heartbeats nor sentences), in order.
    std::vector<Record> blocks() const { return records_of(Kind::block); }
};

}  // namespace sim
