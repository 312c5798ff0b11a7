// What the transponder hears from other stations and passes on as !AIVDM:
// ships sailing straight tracks, other AtoN, addressed binary messages, and
// recorded traffic played back at its pace. The air does not care whether
// the transponder is on: ships keep sailing, and only what arrives while it
// is on and not silenced reaches the station.
#include <cmath>
#include <fstream>
#include <optional>
#include <sstream>

#include "codec/ais_messages.h"
#include "codec/ais_sentences.h"
#include "codec/nmea.h"
#include "devices/ais_transponder.h"

namespace sim {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr host::Micros kHour = 3600 * host::kSecond;

// Degrees to the ten-thousandths of a minute the messages carry.
int64_t ais_position(double degrees) {
    return static_cast<int64_t>(std::llround(degrees * 600000.0));
}

bool refuse(std::string* error, const std::string& why) {
    if (error != nullptr) {
        *error = why;
    }
    return false;
}

bool valid_mmsi(uint32_t mmsi) {
    return mmsi >= 1 && mmsi <= 999999999;
}

bool valid_position(double latitude, double longitude) {
    return std::fabs(latitude) <= 90.0 && std::fabs(longitude) <= 180.0;
}

// Where a ship on a straight track is `elapsed` after it was at its start:
// a knot is a minute of latitude an hour, and a minute of longitude shrinks
// with the latitude's cosine.
void position_after(const AisTransponder::Ship& ship, host::Micros elapsed, double* latitude,
                    double* longitude) {
    const double miles =
        ship.speed_knots * static_cast<double>(elapsed) / static_cast<double>(kHour);
    const double course = ship.course_deg * kPi / 180.0;
    *latitude = ship.latitude + miles * std::cos(course) / 60.0;
    const double middle = (ship.latitude + *latitude) / 2.0 * kPi / 180.0;
    *longitude = ship.longitude + miles * std::sin(course) / 60.0 / std::cos(middle);
}

}  // namespace

void AisTransponder::on_air_at(host::Micros when, std::function<void()> action) {
    const std::shared_ptr<bool> alive = alive_;
    host::schedule_at(when, [alive, action] {
        if (*alive) {
            action();
        }
    });
}

bool AisTransponder::add_ship(const Ship& ship, std::string* error) {
    if (!valid_mmsi(ship.mmsi) || (ship.ais_class != 'A' && ship.ais_class != 'B') ||
        !valid_position(ship.latitude, ship.longitude) || ship.course_deg < 0.0 ||
        ship.course_deg >= 360.0 || ship.speed_knots < 0.0 || ship.speed_knots > 102.2 ||
        ship.every == 0) {
        return refuse(error,
                      "a ship needs an MMSI 1..999999999, class A or B, a position in degrees, a "
                      "course 0..359.9, a speed 0..102.2 knots and a report interval");
    }
    const host::Micros start = host::now();
    schedule_ship(ship, start, start, 0);
    return true;
}

// A class A ship reports with message 1, a class B one with message 18,
// alternating between the two AIS channels.
void AisTransponder::schedule_ship(const Ship& ship, host::Micros start, host::Micros when,
                                   unsigned report) {
    on_air_at(when, [this, ship, start, when, report] {
        if (ship.until != 0 && when > ship.until) {
            return;
        }
        double latitude = 0;
        double longitude = 0;
        position_after(ship, when - start, &latitude, &longitude);
        codec::Message message;
        message.numbers["type"] = ship.ais_class == 'A' ? 1 : 18;
        message.numbers["mmsi"] = ship.mmsi;
        message.numbers["speed"] = std::lround(ship.speed_knots * 10.0);
        message.numbers["lon"] = ais_position(longitude);
        message.numbers["lat"] = ais_position(latitude);
        message.numbers["course"] = std::lround(ship.course_deg * 10.0) % 3600;
        message.numbers["heading"] = std::lround(ship.course_deg) % 360;
        message.numbers["second"] = utc_at(when) % 60;
        if (ship.ais_class == 'A') {
            message.numbers["status"] = ship.speed_knots > 0.0 ? 0 : 5;  // under way, moored
            message.numbers["turn"] = 0;
        } else {
            message.numbers["cs"] = 1;  // carrier-sense unit
        }
        send_heard(message, report);
        schedule_ship(ship, start, when + ship.every, report + 1);
    });
}

// A message heard on the air, on channels A and B by turns, as one burst.
void AisTransponder::send_heard(const codec::Message& message, unsigned report) {
    const auto bits = codec::encode_message(message);
    if (!bits) {
        return;
    }
    codec::VdmOptions options;
    options.channel = report % 2 == 0 ? 'A' : 'B';
    std::string burst;
    for (const std::string& sentence : codec::vdm_sentences(*bits, options)) {
        burst += sentence;
    }
    send_unasked(burst);
}

void AisTransponder::use_link(std::shared_ptr<VhfLink> link) {
    if (link_) {
        link_->listen(nullptr);
    }
    link_ = std::move(link);
    link_->listen([this](const AirMessage& message) { hear(message); });
}

// A message of another station on the link, as its transmission ends; the
// fragments of a long one share a sequence identifier.
void AisTransponder::hear(const AirMessage& message) {
    codec::VdmOptions options;
    options.channel = message.channel;
    std::vector<std::string> sentences = codec::vdm_sentences(message.bits, options);
    if (sentences.size() > 1) {
        options.sequence_id = static_cast<int>(vdm_sequence_);
        vdm_sequence_ = (vdm_sequence_ + 1) % 10;
        sentences = codec::vdm_sentences(message.bits, options);
    }
    std::string burst;
    for (const std::string& sentence : sentences) {
        burst += sentence;
    }
    send_unasked(burst);
}

bool AisTransponder::add_aton_station(const AtonStation& station, std::string* error) {
    if (!valid_mmsi(station.mmsi) || !valid_position(station.latitude, station.longitude) ||
        station.aton_type > 31 || station.status > 255 || station.name.size() > 34 ||
        station.every == 0) {
        return refuse(error,
                      "an AtoN station needs an MMSI 1..999999999, a position in degrees, a type "
                      "0..31, a status 0..255, a name of at most 34 characters and a report "
                      "interval");
    }
    schedule_aton(station, host::now(), 0);
    return true;
}

void AisTransponder::schedule_aton(const AtonStation& station, host::Micros when, unsigned report) {
    on_air_at(when, [this, station, when, report] {
        if (station.until != 0 && when > station.until) {
            return;
        }
        codec::Message message;
        message.numbers["type"] = 21;
        message.numbers["mmsi"] = station.mmsi;
        message.numbers["aid_type"] = station.aton_type;
        message.texts["name"] = station.name.substr(0, 20);
        if (station.name.size() > 20) {
            message.texts["name_ext"] = station.name.substr(20);
        }
        message.numbers["accuracy"] = 1;
        message.numbers["lon"] = ais_position(station.longitude);
        message.numbers["lat"] = ais_position(station.latitude);
        message.numbers["epfd"] = 1;
        message.numbers["second"] = utc_at(when) % 60;
        message.numbers["regional"] = station.status;
        message.numbers["virtual_aid"] = station.virtual_aton ? 1 : 0;
        send_heard(message, report);
        schedule_aton(station, when + station.every, report + 1);
    });
}

bool AisTransponder::receive_msg6(const AddressedBinary& binary, std::string* error) {
    if (!valid_mmsi(binary.from) || (binary.to != 0 && !valid_mmsi(binary.to))) {
        return refuse(error, "message 6 needs the sender's MMSI and, if given, the addressee's");
    }
    codec::Message message;
    message.numbers["type"] = 6;
    message.numbers["mmsi"] = binary.from;
    message.numbers["dest_mmsi"] = binary.to == 0 ? settings_.mmsi : binary.to;
    message.numbers["dac"] = binary.dac;
    message.numbers["fid"] = binary.fi;
    for (uint8_t byte : binary.data) {
        for (int bit = 7; bit >= 0; --bit) {
            message.data.push_back((byte >> bit & 1) != 0);
        }
    }
    std::string why;
    const auto bits = codec::encode_message(message, &why);
    if (!bits) {
        return refuse(error, "message 6: " + why);
    }
    codec::VdmOptions options;
    options.sequence_id = static_cast<int>(vdm_sequence_);
    vdm_sequence_ = (vdm_sequence_ + 1) % 10;
    std::string burst;
    for (const std::string& sentence : codec::vdm_sentences(*bits, options)) {
        burst += sentence;
    }
    send_unasked(burst);
    return true;
}

// ---- Replay --------------------------------------------------------------------

namespace {

// A fragment after the first of a multi-sentence VDM or VDO.
bool continues_message(const std::string& sentence) {
    const size_t star = sentence.find('*');
    const std::vector<std::string> fields =
        codec::split_fields(sentence.substr(1, star == std::string::npos ? star : star - 1));
    const std::string& head = fields[0];
    return sentence[0] == '!' && head.size() == 5 &&
           (head.compare(2, 3, "VDM") == 0 || head.compare(2, 3, "VDO") == 0) &&
           fields.size() > 2 && !fields[2].empty() && fields[2] != "1";
}

}  // namespace

std::optional<AisTransponder::Recording> AisTransponder::read_recording(const std::string& file,
                                                                        std::string* error) {
    std::ifstream in(file);
    if (!in) {
        refuse(error, file + ": cannot be read");
        return std::nullopt;
    }
    Recording recording;
    auto& bursts = recording.bursts;
    std::optional<double> first_time;
    host::Micros at = 0;
    std::string line;
    for (unsigned number = 1; std::getline(in, line); ++number) {
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) {
            line.pop_back();
        }
        if (line.empty() || line[0] == '#') {
            continue;
        }
        const std::string where = file + ":" + std::to_string(number) + ": ";
        std::string sentence = line;
        if (line[0] != '$' && line[0] != '!') {
            std::istringstream fields(line);
            double seconds = 0;
            if (!(fields >> seconds) || !(fields >> sentence) ||
                (sentence[0] != '$' && sentence[0] != '!') || !fields.eof()) {
                refuse(error, where + "expected a sentence, or seconds and a sentence");
                return std::nullopt;
            }
            if (!first_time) {
                first_time = seconds;
            }
            const double offset = seconds - *first_time;
            const host::Micros time = static_cast<host::Micros>(std::llround(offset * 1e6));
            if (offset < 0 || (!bursts.empty() && time < at)) {
                refuse(error, where + "time goes back");
                return std::nullopt;
            }
            at = time;
        } else if (!bursts.empty() && !continues_message(sentence)) {
            at += host::kSecond;
        }
        if (!bursts.empty() && bursts.back().first == at) {
            bursts.back().second += sentence + "\r\n";
        } else {
            bursts.emplace_back(at, sentence + "\r\n");
        }
    }
    return recording;
}

void AisTransponder::replay(const Recording& recording) {
    if (!recording.bursts.empty()) {
        schedule_replay(std::make_shared<const Recording>(recording), 0, host::now());
    }
}

// One burst per time, scheduled one after the other so that a long
// recording does not fill the event list.
void AisTransponder::schedule_replay(std::shared_ptr<const Recording> recording, size_t next,
                                     host::Micros start) {
    on_air_at(start + recording->bursts[next].first, [this, recording, next, start] {
        send_unasked(recording->bursts[next].second);
        if (next + 1 < recording->bursts.size()) {
            schedule_replay(recording, next + 1, start);
        }
    });
}

}  // namespace sim
