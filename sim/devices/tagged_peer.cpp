#include "devices/tagged_peer.h"

#include <cstdio>
#include <cstdlib>
#include <optional>

#include "codec/nmea.h"

namespace sim {
namespace {

// The station cuts its tag block at 64 bytes, backslashes included.
constexpr size_t kLongestTag = 64;

bool is_sentence_start(char c) {
    return c == '$' || c == '!';
}

}  // namespace

TagBlock parse_tag_block(std::string_view text) {
    TagBlock tag;
    tag.present = true;
    tag.closed = true;
    tag.text = std::string(text);
    const size_t star = text.find('*');
    if (star == std::string_view::npos || star + 3 != text.size()) {
        return tag;
    }
    const int high = codec::hex_digit(text[star + 1]);
    const int low = codec::hex_digit(text[star + 2]);
    tag.checksum_ok =
        high >= 0 && low >= 0 && codec::nmea_checksum(text.substr(0, star)) == high * 16 + low;
    for (const std::string& parameter : codec::split_fields(text.substr(0, star))) {
        if (parameter.size() < 2 || parameter[1] != ':') {
            continue;
        }
        const std::string value = parameter.substr(2);
        switch (parameter[0]) {
            case 's':
                tag.station = value;
                break;
            case 'c':
                if (!value.empty() && value.find_first_not_of("0123456789") == std::string::npos) {
                    tag.unix_time = std::strtoll(value.c_str(), nullptr, 10);
                }
                break;
            case 't':
                tag.source = value.size() == 1 ? value[0] : '\0';
                break;
            default:
                break;
        }
    }
    return tag;
}

std::string build_tag_block(const std::string& station, int64_t unix_time, char source) {
    const std::string text =
        "s:" + station + ",c:" + std::to_string(unix_time) + ",t:" + std::string(1, source);
    char digits[3];
    std::snprintf(digits, sizeof digits, "%02X", codec::nmea_checksum(text));
    return "\\" + text + "*" + digits + "\\";
}

bool parse_heartbeat(const std::string& sentence, Heartbeat* heartbeat) {
    const size_t star = sentence.find('*');
    if (sentence.rfind("$AIHBT,", 0) != 0 || star == std::string::npos) {
        return false;
    }
    const std::vector<std::string> fields = codec::split_fields(sentence.substr(1, star - 1));
    if (fields.size() != 4 || fields[2].size() != 1 || fields[3].empty() ||
        fields[3].find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    heartbeat->period = fields[1];
    heartbeat->status = fields[2][0];
    heartbeat->sequence = static_cast<unsigned>(std::strtoul(fields[3].c_str(), nullptr, 10));
    return true;
}

TaggedPeer::TaggedPeer(const ChannelLine& line, unsigned channel)
    : line_(line), channel_(channel) {}

TaggedPeer::~TaggedPeer() {
    host::cancel(idle_event_);
    if (attached_) {
        host::attach_uart_peer(line_.uart_port, nullptr);
    }
}

void TaggedPeer::attach() {
    host::attach_uart_peer(line_.uart_port, this);
    attached_ = true;
}

std::vector<TaggedPeer::Record> TaggedPeer::records_of(Kind kind) const {
    std::vector<Record> out;
    for (const Record& record : records_) {
        if (record.kind == kind) {
            out.push_back(record);
        }
    }
    return out;
}

unsigned TaggedPeer::bad_tag_blocks() const {
    unsigned count = 0;
    for (const Record& record : records_) {
        count += record.tag.valid() ? 0 : 1;
    }
    return count;
}

unsigned TaggedPeer::bad_checksums() const {
    unsigned count = 0;
    for (const Record& record : records_) {
        count += record.checksum_ok ? 0 : 1;
    }
    return count;
}

void TaggedPeer::vary(uint64_t seed) {
    // Its own generator on each channel: "TAGPEER" in ASCII, and the channel.
    variation_ = Variation(seed, 0x0054414750454552ull + channel_);
    output_.vary(&variation_);
}

void TaggedPeer::send(const std::string& text) {
    sent_.push_back(text);
    output_.send(text);
}

void TaggedPeer::on_byte_from_station(uint8_t byte) {
    const char c = static_cast<char>(byte);
    host::cancel(idle_event_);
    if (c == '\\' && !in_tag_) {
        // A tag block after some text starts the next record.
        if (tag_seen_ || !body_.empty()) {
            close_record();
        }
        in_tag_ = true;
        tag_seen_ = true;
    } else if (c == '\\') {
        in_tag_ = false;
        tag_closed_ = true;
    } else if (in_tag_ && tag_.size() + 1 < kLongestTag && c != '\r' && c != '\n') {
        tag_ += c;
    } else {
        // A tag block cut short: what follows is the record's body.
        in_tag_ = false;
        body_ += c;
        if (c == '\n') {
            close_record();
            return;
        }
    }
    idle_event_ = host::schedule_in(kIdleGap, [this] {
        idle_event_ = 0;
        close_record();
    });
}

void TaggedPeer::close_record() {
    host::cancel(idle_event_);
    idle_event_ = 0;
    if (!tag_seen_ && body_.empty()) {
        return;
    }
    Record record{host::now(), {}, body_, Kind::block, true, {}};
    if (tag_seen_) {
        record.tag = tag_closed_ ? parse_tag_block(tag_) : TagBlock{};
        record.tag.present = true;
        record.tag.text = tag_;
    }
    if (!body_.empty() && is_sentence_start(body_[0]) && body_.back() == '\n') {
        record.checksum_ok = codec::parse_sentence(body_).has_value();
        record.kind = parse_heartbeat(body_, &record.heartbeat) ? Kind::heartbeat : Kind::sentence;
    }
    records_.push_back(std::move(record));
    in_tag_ = false;
    tag_.clear();
    tag_seen_ = false;
    tag_closed_ = false;
    body_.clear();
}

}  // namespace sim
