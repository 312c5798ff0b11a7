// What the station asks the transponder to broadcast, against what it was
// given to say and what the transponder reports it sent.
#include <cstdlib>

#include "codec/ais_messages.h"
#include "codec/nmea.h"
#include "monitors/monitors.h"

namespace sim::monitors {
namespace {

std::string seconds_text(host::Micros at) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f s", static_cast<double>(at) / 1e6);
    return text;
}

// The whole request once its last !AIMEB fragment has come: message, its
// destination field and the joined payload; `parts` gathers the fragments.
struct Meb {
    unsigned message = 0;
    std::string destination;
    std::string payload;
};
std::optional<Meb> meb_fragment(const std::string& sentence, std::vector<std::string>* parts) {
    const std::vector<std::string> fields = fields_of(sentence);
    if (fields.size() < 14 || fields[0] != "AIMEB") {
        return std::nullopt;
    }
    const int count = std::atoi(fields[1].c_str());
    const int number = std::atoi(fields[2].c_str());
    if (number == 1) {
        parts->clear();
    }
    parts->push_back(fields[12]);
    if (number != count || static_cast<int>(parts->size()) != count) {
        return std::nullopt;
    }
    Meb meb;
    meb.message = static_cast<unsigned>(std::atoi(fields[6].c_str()));
    meb.destination = fields[9];
    for (const std::string& part : *parts) {
        meb.payload += part;
    }
    parts->clear();
    return meb;
}

// Address field without its talker ("AID" of "$AIAID,...").
std::string formatter(const std::string& sentence) {
    const std::vector<std::string> fields = fields_of(sentence);
    return fields.empty() || fields[0].size() < 3 ? std::string()
                                                  : fields[0].substr(fields[0].size() - 3);
}

bool between(int64_t value, int64_t a, int64_t b) {
    return a <= b ? value >= a && value <= b : value >= b && value <= a;
}

}  // namespace

// ---- Message 8 and re-sent requests -------------------------------------------------

BroadcastMonitor::BroadcastMonitor(const World& world, Report* report)
    : Monitor("broadcast", report), world_(world) {
    const codec::StationConfig config =
        world.configuration ? world.configuration() : codec::StationConfig{};
    // Only the first weather-station channel follows the sample schedule.
    for (size_t i = 0; i < 2; ++i) {
        if (config.configuracion_sensor[i].csensor == 3) {
            weather_port_ = World::kChannelPorts[i];
            interval_min_ = config.configuracion_sensor[i].csample_interval;
            break;
        }
    }
}

void BroadcastMonitor::uart_from_station(uint8_t port, uint8_t byte) {
    if (port != World::kAisPort) {
        return;
    }
    if (auto line = from_station_.add(byte)) {
        if (auto sentence = sentence_of(*line)) {
            station_sentence(*sentence);
        }
    }
}

void BroadcastMonitor::uart_to_station(uint8_t port, uint8_t byte, bool accepted) {
    LineReader* reader = port == World::kAisPort ? &to_station_ : nullptr;
    if (reader == nullptr && weather_port_ && port == *weather_port_) {
        reader = &weather_;
    }
    if (reader == nullptr) {
        return;
    }
    std::optional<std::string> line;
    reader->add(byte, accepted, &line);
    if (line) {
        if (auto sentence = sentence_of(*line)) {
            if (reader == &weather_) {
                weather_sentence(*sentence);
            } else {
                transponder_sentence(*sentence);
            }
        }
    }
}

void BroadcastMonitor::output_changed(uint32_t /*pin*/, int /*level*/) {
    check_due();
}

void BroadcastMonitor::restarting(const char* /*reason*/) {
    from_station_.clear();
    meb_parts_.clear();
    identified_ = false;
    held_by_pc_ = false;
    excused_until_ = host::now();
    weather_since_ = host::now();
    sample_closed_.reset();
    boundary_pending_.reset();
}

void BroadcastMonitor::finish() {
    check_due();
}

void BroadcastMonitor::station_sentence(const std::string& sentence) {
    if (sentence.find("gpsfilt 49") != std::string::npos) {
        held_by_pc_ = true;
    } else {
        held_by_pc_ = false;
    }
    if (sentence.rfind("$UPANQ,AID", 0) == 0) {
        identified_ = false;
    }
    if (auto meb = meb_fragment(sentence, &meb_parts_)) {
        request({meb->message, meb->destination, meb->payload, host::now()});
    }
    check_due();
}

void BroadcastMonitor::transponder_sentence(const std::string& sentence) {
    if (formatter(sentence) == "AID") {
        identified_ = true;
    }
    if (sentence.rfind("!AIVDO,", 0) == 0) {
        if (auto message = vdo_.add(sentence + "\r\n"); message && message->payload.size() >= 6) {
            unsigned type = 0;
            for (size_t i = 0; i < 6; ++i) {
                type = type << 1 | (message->payload[i] ? 1u : 0u);
            }
            reported(type);
        }
    }
}

void BroadcastMonitor::weather_sentence(const std::string& sentence) {
    if (sentence.rfind("$WIMDA,", 0) != 0 || !codec::parse_sentence(sentence)) {
        return;
    }
    const host::Micros now = host::now();
    if (now - last_weather_ > 90 * host::kSecond) {
        weather_since_ = now;
    }
    last_weather_ = now;
    const std::optional<int64_t> clock =
        world_.station_clock ? world_.station_clock() : std::nullopt;
    if (!clock || interval_min_ == 0) {
        return;
    }
    // The station's minute follows its own system time, within a second or
    // two of this clock: a sentence that close after the boundary may have
    // come before the station's, and the next one closes the sample then.
    if (boundary_pending_ && now < *boundary_pending_ + 5 * host::kSecond) {
        sample_closed_ = sample_closed_ ? sample_closed_ : boundary_pending_;
    }
    boundary_pending_.reset();
    const int64_t minute = *clock / 60;
    if (minute % 1440 % interval_min_ != 0 || (last_boundary_ && *last_boundary_ == minute)) {
        return;
    }
    last_boundary_ = minute;
    // A sample is owed for an interval the station heard all through.
    const host::Micros interval = static_cast<host::Micros>(interval_min_) * 60 * host::kSecond;
    if (weather_since_ + interval <= now + 90 * host::kSecond && !sample_closed_) {
        (*clock % 60 < kBoundarySlack ? boundary_pending_ : sample_closed_) = now;
    }
}

void BroadcastMonitor::request(const Request& request) {
    if (request.message == 8) {
        sample_closed_.reset();
        boundary_pending_.reset();
        unreported_[8].push_back(request);
    }
    const std::string key = std::to_string(request.message) + "/" + request.destination;
    auto& [payload, times] = repeats_[key];
    if (payload == request.payload) {
        ++times;
    } else {
        payload = request.payload;
        times = 1;
    }
    if (times == kMostResends + 2) {
        violation("message " + std::to_string(request.message) +
                  (request.destination.empty() ? std::string() : " to " + request.destination) +
                  " requested " + std::to_string(times) + " times unchanged without a report");
    }
}

void BroadcastMonitor::reported(unsigned message) {
    unreported_[message].clear();
    const std::string prefix = std::to_string(message) + "/";
    for (auto it = repeats_.begin(); it != repeats_.end();) {
        it = it->first.rfind(prefix, 0) == 0 ? repeats_.erase(it) : std::next(it);
    }
}

bool BroadcastMonitor::excused() {
    return held_by_pc_ || !identified_ ||
           (world_.transponder_disturbed && world_.transponder_disturbed()) ||
           (world_.msg8_period_s && world_.msg8_period_s() == 0);
}

void BroadcastMonitor::check_due() {
    const host::Micros now = host::now();
    if (excused()) {
        excused_until_ = now;
    }
    if (sample_closed_ && now > std::max(*sample_closed_, excused_until_) + kRequestWithin) {
        violation("the weather sample closed at " + seconds_text(*sample_closed_) +
                  " was not requested as message 8");
        sample_closed_.reset();
    }
    std::deque<Request>& waiting = unreported_[8];
    while (!waiting.empty() && now > waiting.front().at + kReportWithin) {
        if (excused_until_ < waiting.front().at) {
            violation("message 8 requested at " + seconds_text(waiting.front().at) +
                      " was not reported sent");
        }
        waiting.pop_front();
    }
}

// ---- Message 12 -----------------------------------------------------------------

SafetyMessageMonitor::SafetyMessageMonitor(const World& world, Report* report)
    : Monitor("message-12", report), world_(world) {}

void SafetyMessageMonitor::uart_from_station(uint8_t port, uint8_t byte) {
    if (port != World::kAisPort) {
        return;
    }
    auto line = from_station_.add(byte);
    std::optional<std::string> sentence = line ? sentence_of(*line) : std::nullopt;
    std::optional<Meb> meb = sentence ? meb_fragment(*sentence, &meb_parts_) : std::nullopt;
    if (!meb || meb->message != 12) {
        return;
    }
    const uint32_t mmsi =
        static_cast<uint32_t>(std::strtoul(meb->destination.c_str(), nullptr, 10));
    Ship& ship = ships_[mmsi];
    ++ship.warnings;
    if (ship.entries == 0) {
        violation("message 12 to " + meb->destination +
                  ", which never reported a position inside the rectangle");
    } else if (ship.warnings > 1) {
        violation("message 12 to " + meb->destination + " again in the same entry");
    }
}

void SafetyMessageMonitor::uart_to_station(uint8_t port, uint8_t byte, bool accepted) {
    if (port != World::kAisPort) {
        return;
    }
    std::optional<std::string> line;
    to_station_.add(byte, accepted, &line);
    if (!line || line->rfind("!AIVDM,", 0) != 0) {
        return;
    }
    auto heard = vdm_.add(*line);
    std::optional<codec::Message> message =
        heard ? codec::decode_message(heard->payload) : std::nullopt;
    if (!message) {
        return;
    }
    const int64_t type = message->number("type");
    if (!(type >= 1 && type <= 3) && type != 18) {
        return;
    }
    const codec::StationConfig config =
        world_.configuration ? world_.configuration() : codec::StationConfig{};
    const codec::AisLinkConfig& ais = config.configuracion_ais;
    const bool inside =
        ais.cenable_shipras == 1 &&
        between(message->number("lat"), ais.llatitud_shipras[0], ais.llatitud_shipras[1]) &&
        between(message->number("lon"), ais.llongitud_shipras[0], ais.llongitud_shipras[1]);
    Ship& ship = ships_[static_cast<uint32_t>(message->number("mmsi"))];
    const host::Micros now = host::now();
    if (inside && (!ship.inside || now - ship.last_report >= kForgetAfter)) {
        ++ship.entries;
        ship.warnings = 0;
    }
    ship.inside = inside;
    ship.last_report = now;
}

void SafetyMessageMonitor::restarting(const char* /*reason*/) {
    // A restarted station knows no ship: each inside is a new entry.
    for (auto& [mmsi, ship] : ships_) {
        ship.inside = false;
    }
    from_station_.clear();
    meb_parts_.clear();
}

}  // namespace sim::monitors
