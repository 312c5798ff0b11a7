#include "devices/ais_transponder.h"

#include <cstdio>

#include "codec/ais_bits.h"
#include "codec/ais_sentences.h"
#include "codec/nmea.h"

namespace sim {
namespace {

constexpr size_t kLongestLine = 120;
constexpr unsigned kMebFragmentChars = 25;  // a request fragment's most characters
constexpr double kSlotsPerSecond = 37.5;

std::string nine_digits(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%09u", static_cast<unsigned>(value));
    return text;
}

bool starts_with(const std::string& text, const char* prefix) {
    return text.rfind(prefix, 0) == 0;
}

bool to_unsigned(const std::string& text, unsigned long* value) {
    if (text.empty()) {
        return false;
    }
    char* end = nullptr;
    *value = std::strtoul(text.c_str(), &end, 10);
    return *end == '\0';
}

}  // namespace

// The air must bring a transmission no sooner than the transponder knows it.
static_assert(AisTransponder::kTransmitDelay >= kVhfLinkLead);

AisTransponder::AisTransponder(const Wiring& wiring) : wiring_(wiring) {
    use_link(own_air_.join());
}

AisTransponder::~AisTransponder() {
    link_->listen(nullptr);
    *alive_ = false;
    ++generation_;
    if (attached_) {
        host::attach_uart_peer(wiring_.uart_port, nullptr);
    }
}

void AisTransponder::attach() {
    host::attach_uart_peer(wiring_.uart_port, this);
    attached_ = true;
    supply_.follow([this](bool supplied) { follow_power(supplied); });
}

// Its own generator: "AIS-ATON" in ASCII.
constexpr uint64_t kVariationConstant = 0x4149532D41544F4Eull;

void AisTransponder::vary(uint64_t seed) {
    variation_ = Variation(seed, kVariationConstant);
    output_.vary(&variation_);
}

void AisTransponder::set_baud(uint32_t baud) {
    wiring_.baud = baud;
    output_.set_baud(baud);
}

void AisTransponder::reboot() {
    if (powered_) {
        follow_power(false);
        follow_power(true);
    }
}

void AisTransponder::follow_power(bool on) {
    if (on == powered_) {
        return;
    }
    powered_ = on;
    booted_ = false;
    ++generation_;
    line_.clear();
    meb_parts_.clear();
    output_.drop_pending();
    if (!on) {
        return;
    }
    const uint64_t generation = generation_;
    host::schedule_in(kBootTime, [this, generation] {
        if (generation == generation_) {
            booted_ = true;
            gps_phase_ = variation_.micros_between(kGpsPhaseLow, kGpsPhaseHigh);
            gps_skipped_ = false;
            seconds_to_own_report_ = settings_.msg21_period_s;
            schedule_pc_traffic();
            schedule_second();
        }
    });
}

void AisTransponder::on_byte_from_station(uint8_t byte) {
    if (!powered()) {
        return;
    }
    if (byte == '\n') {
        take_line(line_);
        line_.clear();
    } else if (line_.size() < kLongestLine) {
        line_ += static_cast<char>(byte);
    } else {
        line_.clear();  // no sentence is that long: wait for the next line
    }
}

// A line with a checksum must carry the right one; the few sentences a
// station sends without one ($UPMCR) are taken as they are.
void AisTransponder::take_line(const std::string& line) {
    std::string text = line;
    if (!text.empty() && text.back() == '\r') {
        text.pop_back();
    }
    if (text.size() < 2 || (text[0] != '$' && text[0] != '!')) {
        return;
    }
    if (text.find('*') == std::string::npos) {
        take_sentence(text[0], text.substr(1));
        return;
    }
    const auto sentence = codec::parse_sentence(text);
    if (sentence) {
        take_sentence(sentence->start, sentence->body);
    }
}

void AisTransponder::take_sentence(char start, const std::string& body) {
    received_.push_back(body);
    const std::vector<std::string> fields = codec::split_fields(body);
    const std::string& head = fields[0];
    if (head == "PSMT") {
        if (faults_.nak_all) {
            nak("PS", "MT", "Transponder busy");
        } else {
            answer_psmt(fields);
        }
        return;
    }
    if (head.size() != 5) {
        return;
    }
    const std::string talker = head.substr(0, 2);
    const std::string formatter = head.substr(2);
    if (faults_.nak_all) {
        nak(talker, formatter, "Transponder busy");
        return;
    }
    if (start == '!' && formatter == "MEB") {
        take_meb(fields);
    } else if (formatter == "ANQ") {
        answer_query(fields);
    } else if (formatter == "AID" && fields.size() > 3) {
        unsigned long destination = 0;
        if (to_unsigned(fields[3], &destination)) {
            settings_.msg6_destination = static_cast<uint32_t>(destination);
        }
    } else if (formatter == "MCR") {
        settings_.mcr_configured = true;
    } else if (formatter == "ACE" && fields.size() > 2) {
        settings_.aton_status = static_cast<unsigned>(std::strtoul(fields[2].c_str(), nullptr, 16));
    } else {
        nak(talker, formatter, "Sentence not supported");
    }
}

void AisTransponder::answer_query(const std::vector<std::string>& fields) {
    const std::string mmsi = nine_digits(settings_.mmsi);
    const std::string what = fields.size() > 1 ? fields[1] : "";
    if (what == "AID") {
        const std::string destination =
            settings_.msg6_destination == 0 ? "" : nine_digits(settings_.msg6_destination);
        reply({"AIAID," + mmsi + ",1," + destination + ",0"});
    } else if (what == "ACE") {
        char status[4];
        std::snprintf(status, sizeof status, "%02X", settings_.aton_status & 0xFF);
        reply({"ANACE," + mmsi + "," + status + ",,1,0,0," + settings_.name + ",0000000000,C,"});
    } else if (what == "ACF") {
        reply({"ANACF," + mmsi + ",4321.5000,N,00823.5000,W,1,0,C"});
    } else if (what == "MCR") {
        const std::string result = settings_.mcr_configured ? "0" : "1";
        reply({"ANMCR," + mmsi + ",SBS," + result, "ANMCR," + mmsi + ",MSS," + result});
    } else if (what == "AAR") {
        // The reports of the messages come before that of its own message 21,
        // which ends the listing.
        reply({aar_body(6, settings_.msg6_period_s), aar_body(8, settings_.msg8_period_s),
               aar_body(12, settings_.msg12_period_s), "ANAAR," + mmsi + ",21,2"});
    } else {
        nak("UP", "ANQ", "Query not supported");
    }
}

// The reporting of a message: its slots, twice, under its access scheme; -1
// marks a message that is not configured.
std::string AisTransponder::aar_body(unsigned message, unsigned period_s) const {
    const std::string mmsi = nine_digits(settings_.mmsi);
    const std::string head = "ANAAR," + mmsi + "," + std::to_string(message) + "," +
                             std::to_string(settings_.message_index) + ",,,";
    if (period_s == 0) {
        return head + "-1,,,,,-1,";
    }
    const unsigned long slots = settings_.scheme == 0
                                    ? static_cast<unsigned long>(period_s * 2 * kSlotsPerSecond)
                                    : period_s * 2ul;
    const std::string v = std::to_string(slots);
    return head + "0," + v + "," + std::to_string(settings_.scheme) + ",,,0," + v;
}

void AisTransponder::answer_psmt(const std::vector<std::string>& fields) {
    if (fields.size() < 7) {
        nak("PS", "MT", "Command incomplete");
        return;
    }
    const std::string& command = fields[5];
    if (starts_with(command, "gpsfilt")) {
        // The filter's value selects the sentences forwarded; 0 none at all.
        unsigned long filter = 0;
        if (command.size() < 9 || command[7] != ' ' || !to_unsigned(command.substr(8), &filter)) {
            nak("PS", "MT", "Command malformed");
            return;
        }
        const host::Micros replied = reply({"PSMT,0," + command + ",0"});
        // It acknowledges the filter before it forwards under the new one.
        const bool on = filter != 0;
        const uint64_t generation = generation_;
        host::schedule_in(replied + 1, [this, generation, on] {
            if (generation == generation_) {
                settings_.gps_output = on;
            }
        });
        return;
    }
    const std::string code = fields[6];
    std::string value;
    if (command == "getatontype") {
        value = std::to_string(settings_.aton_type);
    } else if (command == "appver") {
        value = settings_.firmware;
    } else if (command == "getserno") {
        value = settings_.serial;
    } else if (command == "vswr") {
        value = std::to_string(settings_.vswr_tenths);
    } else if (command == "vin") {
        value = std::to_string(static_cast<long>(settings_.supply_volts * 1000.0 + 0.5));
    } else {
        nak("PS", "MT", "Command not supported");
        return;
    }
    reply({"PSMT," + fields[4] + "," + command + "," + code + "," + value});
}

// !AIMEB,count,number,sequence,channel,mmsi,message,index,behaviour,
// destination,binary flag,status,data,fill
void AisTransponder::take_meb(const std::vector<std::string>& fields) {
    unsigned long count = 0;
    unsigned long number = 0;
    unsigned long fill = 0;
    if (fields.size() != 14 || !to_unsigned(fields[1], &count) ||
        !to_unsigned(fields[2], &number) || !to_unsigned(fields[13], &fill) || count < 1 ||
        count > 9 || number < 1 || number > count || fields[12].size() > kMebFragmentChars) {
        nak("AI", "MEB", "Request malformed");
        meb_parts_.clear();
        return;
    }
    if (number == 1) {
        meb_parts_.clear();
        meb_count_ = static_cast<unsigned>(count);
    }
    // A fragment out of turn or with a fill count before the last drops the
    // request, as a transponder must not send half a message.
    if (count != meb_count_ || number != meb_parts_.size() + 1 || (number < count && fill != 0) ||
        fill > 5) {
        nak("AI", "MEB", "Fragment out of sequence");
        meb_parts_.clear();
        return;
    }
    meb_parts_.push_back(fields[12]);
    if (number < count) {
        return;
    }
    std::string data;
    for (const std::string& part : meb_parts_) {
        data += part;
    }
    meb_parts_.clear();
    unsigned long message = 0;
    to_unsigned(fields[6], &message);
    transmit(static_cast<unsigned>(message), fields, data, static_cast<unsigned>(fill));
}

// The whole message as it goes on the air: the header the transponder adds,
// then the station's payload; reported as VDO when its transmission ends.
void AisTransponder::transmit(unsigned message, const std::vector<std::string>& request,
                              const std::string& data, unsigned fill) {
    const auto payload = codec::dearmour_payload(data, fill);
    if (!payload || (message != 6 && message != 8 && message != 12)) {
        nak("AI", "MEB", "Message not supported");
        return;
    }
    unsigned long sequence = 0;
    unsigned long destination = 0;
    to_unsigned(request[3], &sequence);
    const bool addressed = message != 8;
    if (addressed && !to_unsigned(request[9], &destination)) {
        nak("AI", "MEB", "Destination missing");
        return;
    }
    codec::BitWriter writer;
    writer.put(message, 6);
    writer.put(0, 2);  // repeat indicator
    writer.put(settings_.mmsi, 30);
    if (addressed) {
        writer.put(sequence & 3, 2);
        writer.put(destination, 30);
        writer.put(0, 1);  // retransmit flag
    }
    writer.put(0, addressed ? 1 : 2);  // spare
    writer.put_bits(*payload);
    codec::VdmOptions options;
    options.own = true;
    options.sequence_id = static_cast<int>(vdo_sequence_);
    vdo_sequence_ = (vdo_sequence_ + 1) % 10;
    const std::vector<std::string> sentences = codec::vdm_sentences(writer.bits(), options);
    // Its slot is taken now: the message is on the air when the report comes.
    if (!faults_.silent) {
        link_->transmit({writer.bits(), 'A', host::now() + kTransmitDelay});
    }
    const uint64_t generation = generation_;
    host::schedule_in(next_report_delay(), [this, generation, sentences] {
        if (generation != generation_ || faults_.silent) {
            return;
        }
        std::string burst;
        for (const std::string& sentence : sentences) {
            reported_.push_back(sentence);
            burst += sentence;
        }
        output_.send(burst);
    });
}

host::Micros AisTransponder::next_report_delay() {
    if (variation_.on()) {
        const bool pinned = settings_.report_delay_pinned;
        const int64_t ms =
            variation_.between(pinned ? settings_.report_delay_min_ms : kVariedReportDelayMinMs,
                               pinned ? settings_.report_delay_max_ms : kVariedReportDelayMaxMs);
        return static_cast<host::Micros>(ms) * host::kMillisecond;
    }
    const unsigned low = settings_.report_delay_min_ms;
    const unsigned span = settings_.report_delay_max_ms - low;
    // Park and Miller's minimal standard generator: enough spread for a
    // timing test, the same sequence on every run.
    report_draw_ = static_cast<uint32_t>(uint64_t{report_draw_} * 48271u % 2147483647u);
    const unsigned ms = span == 0 ? low : low + report_draw_ % (span + 1);
    return ms * host::kMillisecond;
}

void AisTransponder::nak(const std::string& talker, const std::string& formatter,
                         const std::string& reason) {
    reply(
        {"ANNAK," + talker + "," + formatter + "," + nine_digits(settings_.mmsi) + ",1," + reason});
}

host::Micros AisTransponder::next_reply_delay() {
    if (faults_.late_replies) {
        return kLateReplyDelay;
    }
    return variation_.on() ? variation_.micros_between(kShortestReply, kLongestReply) : kReplyDelay;
}

host::Micros AisTransponder::reply(const std::vector<std::string>& bodies) {
    std::string burst;
    for (const std::string& body : bodies) {
        burst += faults_.bad_checksums ? codec::build_sentence_with_checksum(
                                             '$', body, codec::nmea_checksum(body) ^ 0x5A)
                                       : codec::build_sentence('$', body);
    }
    const uint64_t generation = generation_;
    const host::Micros delay = next_reply_delay();
    host::schedule_in(delay, [this, generation, burst] {
        if (generation == generation_ && !faults_.silent) {
            output_.send(burst);
        }
    });
    return delay;
}

// Configuration software on a PC talks to the transponder on its own: the
// station sees replies it did not ask for.
void AisTransponder::schedule_pc_traffic() {
    const uint64_t generation = generation_;
    host::schedule_in(kPcTrafficEvery, [this, generation] {
        if (generation != generation_) {
            return;
        }
        if (faults_.pc_attached && !faults_.silent) {
            output_.send(codec::build_sentence('$', "ANTXT,1,1,80,USB connected") +
                         codec::build_sentence('$', "ANACF," + nine_digits(settings_.mmsi) +
                                                        ",4321.5000,N,00823.5000,W,1,0,C"));
        }
        schedule_pc_traffic();
    });
}

}  // namespace sim
