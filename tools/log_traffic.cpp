#include "log_traffic.h"

#include <algorithm>
#include <cstring>

#include "codec/ais_messages.h"
#include "codec/nmea.h"

namespace logtool {

namespace {

// A field of a message's table read from its payload; nullopt when the
// table has no such field, the payload does not reach it, or it holds the
// field's "not available" code.
std::optional<int64_t> field(const codec::MessageLayout& layout, const codec::Bits& payload,
                             const char* name) {
    for (const codec::Field& f : layout.fields) {
        if (std::strcmp(f.name, name) != 0) {
            continue;
        }
        if (f.start + f.width > payload.size()) {
            return std::nullopt;
        }
        const codec::BitReader reader(payload);
        const int64_t value = f.kind == codec::FieldKind::kSigned
                                  ? reader.get_signed(f.start, f.width)
                                  : static_cast<int64_t>(reader.get(f.start, f.width));
        if (value == f.missing) {
            return std::nullopt;
        }
        return value;
    }
    return std::nullopt;
}

std::optional<double> scaled(std::optional<int64_t> value, double scale, int64_t low, int64_t high,
                             double offset = 0) {
    if (!value || *value < low || *value > high) {
        return std::nullopt;
    }
    return static_cast<double>(*value) * scale + offset;
}

std::optional<unsigned> whole(std::optional<int64_t> value, int64_t high) {
    if (!value || *value < 0 || *value > high) {
        return std::nullopt;
    }
    return static_cast<unsigned>(*value);
}

int index_of_station_message(int type) {
    for (int i = 0; i < 4; ++i) {
        if (kStationMessages[i] == type) {
            return i;
        }
    }
    return -1;
}

bool position_report(int type) {
    return type == 1 || type == 2 || type == 3 || type == 18 || type == 19 || type == 27;
}

// Ships' own traffic (position, static and voyage reports); the rest comes
// from stations, aids to navigation and the station itself.
bool ship_message(int type) {
    return position_report(type) || type == 5 || type == 24;
}

}  // namespace

void read_position(const codec::Bits& payload, RecordFacts* facts, std::string* name) {
    if (payload.size() < 6) {
        return;
    }
    const unsigned type = static_cast<unsigned>(codec::BitReader(payload).get(0, 6));
    const codec::MessageLayout* layout = codec::message_layout(type);
    if (layout == nullptr || payload.size() < layout->min_bits) {
        return;
    }
    // Positions in 1/10 000 minute, speed in 0.1 knot (1022: 102.2 or more),
    // course in 0.1 degree.
    facts->lat = scaled(field(*layout, payload, "lat"), 1.0 / 600000, -54000000, 54000000);
    facts->lon = scaled(field(*layout, payload, "lon"), 1.0 / 600000, -108000000, 108000000);
    facts->speed_kn = scaled(field(*layout, payload, "speed"), 0.1, 0, 1022);
    facts->course_deg = scaled(field(*layout, payload, "course"), 0.1, 0, 3599);
    const codec::BitReader reader(payload);
    for (const codec::Field& f : layout->fields) {
        if ((std::strcmp(f.name, "shipname") == 0 || std::strcmp(f.name, "name") == 0) &&
            f.start + f.width <= payload.size()) {
            *name = reader.get_text(f.start, f.width / 6);
        }
    }
}

std::optional<WeatherReport> read_weather(const codec::Bits& payload) {
    const codec::MessageLayout* layout = codec::application_layout(8, 1, 31);
    const codec::BitReader reader(payload);
    if (layout == nullptr || payload.size() < layout->min_bits || reader.get(0, 6) != 8 ||
        reader.get(40, 10) != 1 || reader.get(50, 6) != 31) {
        return std::nullopt;
    }
    const auto f = [&](const char* name) { return field(*layout, payload, name); };
    WeatherReport report;
    report.mmsi = static_cast<int64_t>(reader.get(8, 30));
    // Position in 1/1000 minute; the valid ranges of the meteorological
    // message, anything else (reserved codes) left empty.
    report.lat = scaled(f("lat"), 1.0 / 60000, -5400000, 5400000);
    report.lon = scaled(f("lon"), 1.0 / 60000, -10800000, 10800000);
    report.day = whole(f("day"), 31);
    report.hour = whole(f("hour"), 23);
    report.minute = whole(f("minute"), 59);
    report.wind_kn = scaled(f("wspeed"), 1, 0, 126);
    report.gust_kn = scaled(f("wgust"), 1, 0, 126);
    report.wind_dir_deg = scaled(f("wdir"), 1, 0, 359);
    report.gust_dir_deg = scaled(f("wgustdir"), 1, 0, 359);
    report.air_temp_c = scaled(f("airtemp"), 0.1, -600, 600);
    report.humidity_pct = scaled(f("humidity"), 1, 0, 100);
    report.dew_point_c = scaled(f("dewpoint"), 0.1, -200, 500);
    report.pressure_hpa = scaled(f("pressure"), 1, 0, 402, 799);
    report.pressure_tendency = whole(f("pressuretend"), 2);
    report.sea_state = whole(f("seastate"), 12);
    return report;
}

void TrafficLog::add_file(const LogFile& file, std::string_view bytes,
                          const std::function<void(const RecordFacts&)>& row) {
    int64_t previous = file.hour_start;
    for (const Record& record : split_records(bytes, file.kind)) {
        const bool timed = record.tagged && record.damage != Damage::kBadTagChecksum &&
                           record.damage != Damage::kBadTag && record.tag.utc >= 0;
        RecordFacts facts;
        facts.utc = timed ? record.tag.utc : previous;
        previous = facts.utc;
        if (facts.utc < from_ || facts.utc >= to_) {
            continue;
        }
        HourCounts& hour = hours_[facts.utc - facts.utc % 3600];
        ++hour.records;
        if (record.damage != Damage::kNone) {
            ++hour.damaged;
            hour.bad_tag += record.damage == Damage::kBadTagChecksum;
            problems_.push_back(Problem{file.name, record.offset, record.damage});
            continue;
        }
        if (timed) {
            times_.push_back(facts.utc);
            first_ = first_ < 0 ? facts.utc : std::min(first_, facts.utc);
            last_ = std::max(last_, facts.utc);
            facts.station = record.tag.station;
            stations_.insert(record.tag.station);
        }
        if (file.kind == LogKind::kTidelink) {
            facts.sentence = record.tagged ? "block" : "frame";
            ++(record.tagged ? hour.blocks : hour.frames);
        } else if (record.tagged) {
            add_ais(record, &facts, &hour);
        } else {
            // A base station's block, logged as it came: its sentence's
            // name when it is one.
            const std::optional<codec::Sentence> sentence = codec::parse_sentence(record.body);
            const std::string address = sentence ? sentence->fields[0] : "";
            facts.talker = address.size() == 5 ? address.substr(0, 2) : "";
            facts.sentence = address.size() == 5 ? address.substr(2) : "block";
            ++hour.station_records;
        }
        if (row) {
            row(facts);
        }
    }
}

void TrafficLog::add_ais(const Record& record, RecordFacts* facts, HourCounts* hour) {
    const std::optional<codec::Sentence> sentence = codec::parse_sentence(record.body);
    const std::vector<std::string>& f = sentence->fields;  // whole: checked when split
    facts->talker = f[0].substr(0, 2);
    facts->sentence = f[0].size() > 2 ? f[0].substr(2) : "";
    const bool own = facts->sentence == "VDO";
    if (f.size() != 7 || (facts->sentence != "VDM" && !own)) {
        ++hour->station_records;
        return;
    }
    facts->fragments = static_cast<unsigned>(std::atoi(f[1].c_str()));
    facts->fragment = static_cast<unsigned>(std::atoi(f[2].c_str()));
    const std::string key = f[0] + "," + f[3];
    if (facts->fragment == 1) {
        const std::string& chars = f[5];
        const int type = chars.empty() ? -1 : codec::dearmour(chars[0]);
        int64_t mmsi = -1;
        if (chars.size() >= 7) {
            const std::optional<codec::Bits> head = codec::dearmour_payload(chars.substr(0, 7), 0);
            mmsi = head ? static_cast<int64_t>(codec::BitReader(*head).get(8, 30)) : -1;
        }
        pending_[key] = {type, mmsi};
    }
    const auto found = pending_.find(key);
    if (found != pending_.end()) {
        facts->message_id = found->second.first;
        facts->mmsi = found->second.second;
    }
    ++(ship_message(facts->message_id) && !own ? hour->ship_records : hour->station_records);
    const std::optional<codec::VdmMessage> message = assembler_.add(record.body);
    if (message) {
        add_message(*message, facts->utc, facts, hour);
    }
}

void TrafficLog::add_message(const codec::VdmMessage& message, int64_t utc, RecordFacts* facts,
                             HourCounts* hour) {
    if (message.payload.size() < 38) {
        return;
    }
    const codec::BitReader reader(message.payload);
    const int type = static_cast<int>(reader.get(0, 6));
    const uint32_t mmsi = static_cast<uint32_t>(reader.get(8, 30));
    std::string name;
    read_position(message.payload, facts, &name);
    const int station_index = index_of_station_message(type);
    if (station_index >= 0) {
        ++(message.own ? hour->own : hour->heard)[station_index];
    }
    if (std::optional<WeatherReport> weather = read_weather(message.payload)) {
        weather->utc = utc;
        weather->own = message.own;
        weather_.push_back(*weather);
    }
    if (message.own) {
        return;
    }
    hour->positions += position_report(type);
    hour->mmsis.insert(mmsi);
    ShipTrack& ship = ships_[mmsi];
    if (ship.reports++ == 0) {
        ship.first = utc;
    }
    ship.first = std::min(ship.first, utc);
    ship.last = std::max(ship.last, utc);
    if (!name.empty()) {
        ship.name = name;
    }
    if (facts->lat && facts->lon) {
        ship.lat_min = std::min(ship.lat_min.value_or(*facts->lat), *facts->lat);
        ship.lat_max = std::max(ship.lat_max.value_or(*facts->lat), *facts->lat);
        ship.lon_min = std::min(ship.lon_min.value_or(*facts->lon), *facts->lon);
        ship.lon_max = std::max(ship.lon_max.value_or(*facts->lon), *facts->lon);
    }
}

std::vector<Gap> TrafficLog::gaps(int64_t longest) const {
    std::vector<int64_t> times = times_;
    std::sort(times.begin(), times.end());
    const bool open_start = from_ == INT64_MIN;
    const bool open_end = to_ == INT64_MAX;
    std::vector<Gap> found;
    int64_t before = open_start ? (times.empty() ? 0 : times.front()) : from_;
    for (const int64_t time : times) {
        if (time - before > longest) {
            found.push_back(Gap{before, time});
        }
        before = std::max(before, time);
    }
    if (!open_end && to_ - before > longest && (!times.empty() || !open_start)) {
        found.push_back(Gap{before, to_});
    }
    return found;
}

}  // namespace logtool
