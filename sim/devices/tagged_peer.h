// What a device on a sensor channel receives from the station: records, each
// led by an NMEA 4 tag block (\s:<station>,c:<unix seconds>,t:<L|R>*hh\)
// and followed by a sentence (the $AIHBT heartbeat, a relayed AIS sentence)
// ending in CR LF, or by a data block that ends when the line falls idle or
// the next tag block starts (a backslash always starts one). A TaggedPeer
// checks the tag block's and the sentence's checksums and keeps every record
// with its verdicts, so that tests and scenarios can look at what arrived.
// It is the receiving half of the base station and TIDELINK models; they add
// what they send. With a seed (vary), what they send may reach the line in
// pieces (UartOutput); nothing else of their timing varies, since they send
// only when a scenario says so.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "devices/sensor_channels.h"
#include "devices/variation.h"
#include "host/machine.h"

namespace sim {

struct TagBlock {
    bool present = false;      // the record started with a backslash
    bool closed = false;       // its closing backslash came
    bool checksum_ok = false;  // the digits after '*' match the text before it
    std::string text;          // between the backslashes
    std::string station;       // s:
    int64_t unix_time = -1;    // c:, -1 when missing
    char source = '\0';        // t: 'L' or 'R'

    bool valid() const { return present && closed && checksum_ok; }
};

// The tag block's text between its backslashes, judged and split.
TagBlock parse_tag_block(std::string_view text);
// A whole tag block with its backslashes, as a station builds it.
std::string build_tag_block(const std::string& station, int64_t unix_time, char source);

struct Heartbeat {
    std::string period;  // seconds, as written ("60", "6.5")
    char status = '\0';  // A, B or C
    unsigned sequence = 0;
};

class TaggedPeer : public host::UartPeer {
  public:
    enum class Kind { heartbeat, sentence, block };

    struct Record {
        host::Micros at;  // when its last byte arrived
        TagBlock tag;
        std::string body;  // as received, line end included
        Kind kind;
        bool checksum_ok;     // sentences: their checksum; blocks: true
        Heartbeat heartbeat;  // for Kind::heartbeat
    };

    // Quiet time on the line that ends a data block.
    static constexpr host::Micros kIdleGap = 20 * host::kMillisecond;

    TaggedPeer(const ChannelLine& line, unsigned channel);
    ~TaggedPeer() override;
    TaggedPeer(const TaggedPeer&) = delete;
    TaggedPeer& operator=(const TaggedPeer&) = delete;

    void attach();
    void vary(uint64_t seed);
    unsigned channel() const { return channel_; }

    // ---- Observations ---------------------------------------------------
    const std::vector<Record>& records() const { return records_; }
    std::vector<Record> records_of(Kind kind) const;
    // Records whose tag block is missing, cut short or wrong.
    unsigned bad_tag_blocks() const;
    // Sentences whose own checksum is wrong.
    unsigned bad_checksums() const;
    // Everything it has sent, in order.
    const std::vector<std::string>& sent() const { return sent_; }

    void on_byte_from_station(uint8_t byte) override;

  protected:
    void send(const std::string& text);

  private:
    void close_record();

    ChannelLine line_;
    unsigned channel_;
    bool attached_ = false;
    bool in_tag_ = false;
    std::string tag_;
    bool tag_seen_ = false;
    bool tag_closed_ = false;
    std::string body_;
    host::EventId idle_event_ = 0;
    std::vector<Record> records_;
    std::vector<std::string> sent_;
    Variation variation_;
    UartOutput output_{line_.uart_port, line_.baud};
};

// A received sentence's heartbeat fields, false when it is not "$AIHBT,...".
bool parse_heartbeat(const std::string& sentence, Heartbeat* heartbeat);

}  // namespace sim
