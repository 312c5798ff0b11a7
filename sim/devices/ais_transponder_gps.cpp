// What the transponder sends every second without being asked: its GPS
// receiver's sentences while the station has that output on, and, on its
// period, its own AtoN report as !AIVDO.
#include <cmath>
#include <cstdio>
#include <ctime>

#include "codec/ais_messages.h"
#include "codec/ais_sentences.h"
#include "codec/nmea.h"
#include "devices/ais_transponder.h"

namespace sim {

namespace transponder_text {

namespace {
constexpr int64_t kPerMinute = 100000;
constexpr int64_t kPerDegree = 60 * kPerMinute;
}  // namespace

std::string position(int64_t value, bool latitude) {
    const int64_t magnitude = value < 0 ? -value : value;
    char text[32];
    std::snprintf(text, sizeof text, latitude ? "%02lld%02lld.%05lld%c" : "%03lld%02lld.%05lld%c",
                  static_cast<long long>(magnitude / kPerDegree),
                  static_cast<long long>(magnitude % kPerDegree / kPerMinute),
                  static_cast<long long>(magnitude % kPerMinute),
                  latitude ? (value < 0 ? 'S' : 'N') : (value < 0 ? 'W' : 'E'));
    return text;
}

// Degrees and minutes with one to five decimals, then the hemisphere letter.
bool parse_position(const std::string& text, bool latitude, int64_t* value) {
    const size_t degree_digits = latitude ? 2 : 3;
    const size_t point = text.find('.');
    const size_t space = text.size() - 1;  // where the letter is
    if (point != degree_digits + 2 || text.size() < point + 3 || space - point - 1 > 5) {
        return false;
    }
    const std::string digits = text.substr(0, point) + text.substr(point + 1, space - point - 1);
    if (digits.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    const int64_t degrees = std::stoll(text.substr(0, degree_digits));
    const int64_t minutes = std::stoll(text.substr(degree_digits, 2));
    std::string decimals = text.substr(point + 1, space - point - 1);
    decimals.resize(5, '0');
    const int64_t magnitude = degrees * kPerDegree + minutes * kPerMinute + std::stoll(decimals);
    const char hemisphere = text.back();
    const bool negative = hemisphere == (latitude ? 'S' : 'W');
    if (minutes >= 60 || magnitude > (latitude ? 90 : 180) * kPerDegree ||
        (!negative && hemisphere != (latitude ? 'N' : 'E'))) {
        return false;
    }
    *value = negative ? -magnitude : magnitude;
    return true;
}

std::string utc(int64_t seconds) {
    const std::time_t time = static_cast<std::time_t>(seconds);
    std::tm parts{};
    gmtime_r(&time, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &parts);
    return text;
}

bool parse_utc(const std::string& text, int64_t* seconds) {
    std::tm parts{};
    int consumed = 0;
    if (std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%n", &parts.tm_year, &parts.tm_mon,
                    &parts.tm_mday, &parts.tm_hour, &parts.tm_min, &parts.tm_sec, &consumed) != 6 ||
        static_cast<size_t>(consumed) != text.size() || parts.tm_year < 1980 ||
        parts.tm_year > 2079) {
        return false;
    }
    const std::tm given = parts;
    parts.tm_year -= 1900;
    parts.tm_mon -= 1;
    const int64_t value = timegm(&parts);
    // timegm carries an impossible date into the next month: refuse it.
    if (utc(value) != text || given.tm_sec > 59) {
        return false;
    }
    *seconds = value;
    return true;
}

}  // namespace transponder_text

namespace {

// The NMEA form of a coordinate: the digits, a comma and the hemisphere.
std::string nmea_coordinate(int64_t value, bool latitude) {
    std::string text = transponder_text::position(value, latitude);
    text.insert(text.size() - 1, ",");
    return text;
}

// Satellites in view, four to a sentence; made-up but steady orbits.
std::vector<std::string> gsv_bodies(unsigned satellites) {
    const unsigned count = satellites == 0 ? 1 : (satellites + 3) / 4;
    std::vector<std::string> bodies;
    for (unsigned sentence = 0; sentence < count; ++sentence) {
        char head[32];
        std::snprintf(head, sizeof head, "GPGSV,%u,%u,%02u", count, sentence + 1, satellites);
        std::string body = head;
        for (unsigned i = sentence * 4; i < satellites && i < sentence * 4 + 4; ++i) {
            char entry[32];
            std::snprintf(entry, sizeof entry, ",%02u,%02u,%03u,%02u", 2 + i * 3, 15 + i * 7 % 70,
                          i * 47 % 360, 30 + i * 5 % 20);
            body += entry;
        }
        bodies.push_back(body);
    }
    return bodies;
}

}  // namespace

int64_t AisTransponder::utc_at(host::Micros when) const {
    return settings_.utc_start + static_cast<int64_t>(when / host::kSecond);
}

void AisTransponder::send_unasked(const std::string& burst) {
    if (powered() && !faults_.silent) {
        output_.send(burst);
    }
}

bool AisTransponder::skips_gps_second() {
    gps_skipped_ = !gps_skipped_ && variation_.chance(kGpsGapChance);
    return gps_skipped_;
}

host::Micros AisTransponder::gps_phase() {
    return gps_phase_ + variation_.micros_between(0, kGpsPhaseJitter);
}

// Its receiver's output comes on the whole second of UTC; the own report's
// period is counted in the same seconds.
void AisTransponder::schedule_second() {
    const uint64_t generation = generation_;
    const host::Micros next = (host::now() / host::kSecond + 1) * host::kSecond;
    host::schedule_at(next, [this, generation] {
        if (generation != generation_) {
            return;
        }
        // Drawn every second, output on or not, so that the station's
        // gpsfilt does not shift the rest of the run's draws.
        const bool skipped = skips_gps_second();
        const host::Micros phase = gps_phase();
        if (settings_.gps_output && !skipped) {
            if (variation_.on()) {
                host::schedule_in(phase, [this, generation] {
                    if (generation == generation_ && settings_.gps_output) {
                        send_gps();
                    }
                });
            } else {
                send_gps();
            }
        }
        const unsigned period = settings_.msg21_period_s;
        if (period != 0) {
            if (seconds_to_own_report_ == 0 || seconds_to_own_report_ > period) {
                seconds_to_own_report_ = period;
            }
            if (--seconds_to_own_report_ == 0) {
                seconds_to_own_report_ = period;
                report_own_aton();
            }
            // Its slot two seconds on is reserved: the report goes on the air
            // now, a link's lead before it ends. (With a period of one or two
            // seconds, those due in the first two after start-up are not.)
            if ((seconds_to_own_report_ == 2 || period == 1) && powered() && !faults_.silent) {
                if (const auto bits = own_aton_bits(host::now() + 2 * host::kSecond)) {
                    link_->transmit({*bits, 'A', host::now() + 2 * host::kSecond});
                }
            }
        }
        if (faults_.babbling) {
            babble();
        }
        schedule_second();
    });
}

// Bytes of anything, sentence starts among them, as a unit with a broken
// serial driver or another protocol on its port sends.
void AisTransponder::babble() {
    if (!babble_engine_) {
        babble_engine_.emplace(0x424142424C45ull);  // "BABBLE": runs repeat
    }
    std::uniform_int_distribution<int> length(40, 400);
    std::uniform_int_distribution<int> byte(0, 255);
    std::string burst(static_cast<size_t>(length(*babble_engine_)), '\0');
    for (char& c : burst) {
        const int drawn = byte(*babble_engine_);
        c = static_cast<char>(drawn < 16 ? "!$*,\r\n"[drawn % 6] : drawn);
    }
    send_unasked(burst);
}

// RMC, GGA and GSV of this second, as one burst. Without a fix the receiver
// still keeps time, but gives no position: RMC status V, GGA quality 0.
void AisTransponder::send_gps() {
    const Settings& s = settings_;
    const std::time_t time = static_cast<std::time_t>(utc_at(host::now()));
    std::tm utc{};
    gmtime_r(&time, &utc);
    char clock[40];
    char date[40];
    std::snprintf(clock, sizeof clock, "%02d%02d%02d.00", utc.tm_hour, utc.tm_min, utc.tm_sec);
    std::snprintf(date, sizeof date, "%02d%02d%02d", utc.tm_mday, utc.tm_mon + 1,
                  utc.tm_year % 100);
    const std::string latitude = s.gps_fix ? nmea_coordinate(s.latitude, true) : ",";
    const std::string longitude = s.gps_fix ? nmea_coordinate(s.longitude, false) : ",";
    char hdop[16];
    std::snprintf(hdop, sizeof hdop, "%.2f", s.hdop);
    char satellites[8];
    std::snprintf(satellites, sizeof satellites, "%02u", s.satellites);
    std::vector<std::string> sentences = {codec::build_sentence(
        '$', std::string("GPRMC,") + clock + (s.gps_fix ? ",A," : ",V,") + latitude + "," +
                 longitude + ",0.000,," + date + ",,," + (s.gps_fix ? "A" : "N"))};
    sentences.push_back(
        codec::build_sentence('$', std::string("GPGGA,") + clock + "," + latitude + "," +
                                       longitude + (s.gps_fix ? ",1," : ",0,") + satellites + "," +
                                       hdop + (s.gps_fix ? ",12.0,M,51.0,M,," : ",,,,,,")));
    for (const std::string& body : gsv_bodies(s.satellites)) {
        sentences.push_back(codec::build_sentence('$', body));
    }
    if (powered() && !faults_.silent) {
        output_.send_spaced(sentences, kLongestGpsSpacing);
    }
}

// Message 21 with its name, its receiver's position and the AtoN status the
// station last set, as the transponder transmits it at `when`.
std::optional<codec::Bits> AisTransponder::own_aton_bits(host::Micros when) const {
    const Settings& s = settings_;
    codec::Message message;
    message.numbers["type"] = 21;
    message.numbers["mmsi"] = s.mmsi;
    message.numbers["aid_type"] = s.aton_type;
    message.texts["name"] = s.name.substr(0, 20);
    if (s.name.size() > 20) {
        message.texts["name_ext"] = s.name.substr(20, 14);
    }
    message.numbers["accuracy"] = s.position_accuracy ? 1 : 0;
    // The message carries ten-thousandths of a minute.
    message.numbers["lon"] = static_cast<int64_t>(std::llround(s.longitude / 10.0));
    message.numbers["lat"] = static_cast<int64_t>(std::llround(s.latitude / 10.0));
    message.numbers["epfd"] = 1;  // GPS
    message.numbers["second"] = s.gps_fix ? utc_at(when) % 60 : 60;
    message.numbers["regional"] = s.aton_status & 0xFF;
    message.numbers["virtual_aid"] = s.virtual_aton ? 1 : 0;
    // The state file's checks keep every field in range.
    return codec::encode_message(message);
}

// Its message 21 as transmitted now, reported as !AIVDO.
void AisTransponder::report_own_aton() {
    if (!powered() || faults_.silent) {
        return;
    }
    const auto bits = own_aton_bits(host::now());
    if (!bits) {
        return;
    }
    codec::VdmOptions options;
    options.own = true;
    options.sequence_id = static_cast<int>(vdo_sequence_);
    vdo_sequence_ = (vdo_sequence_ + 1) % 10;
    std::string burst;
    for (const std::string& sentence : codec::vdm_sentences(*bits, options)) {
        reported_.push_back(sentence);
        burst += sentence;
    }
    send_unasked(burst);
}

}  // namespace sim
