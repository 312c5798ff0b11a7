// What a card's records tell: each record's time, sentence and AIS message,
// and over a period the counts of a summary, the ships heard, the weather
// broadcasts and the gaps with nothing logged. Files are given in time order,
// one at a time; a multi-sentence message is put together across records.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "codec/ais_sentences.h"
#include "log_card.h"
#include "log_records.h"

namespace logtool {

// One record as far as it can be read.
struct RecordFacts {
    int64_t utc = -1;     // its tag block's time (or, without one, the record's before it)
    std::string station;  // from its tag block
    std::string talker;   // "AI"
    // "VDM", "VDO", or a base station's sentence ("ABM") logged without a
    // tag block; "frame" and "block" in the data-link file
    std::string sentence;
    unsigned fragment = 0;
    unsigned fragments = 0;
    int message_id = -1;
    int64_t mmsi = -1;
    std::optional<double> lat, lon;  // degrees, north and east positive
    std::optional<double> speed_kn, course_deg;
};

// A meteorological and hydrographic broadcast (message 8, DAC 1, FI 31).
// "Not available" and reserved codes are empty.
struct WeatherReport {
    int64_t utc = 0;
    int64_t mmsi = 0;
    bool own = false;  // reported by the station's transponder as sent (VDO)
    std::optional<double> lat, lon;
    std::optional<unsigned> day, hour, minute;  // the observation time it carries
    std::optional<double> wind_kn, gust_kn, wind_dir_deg, gust_dir_deg;
    std::optional<double> air_temp_c, humidity_pct, dew_point_c, pressure_hpa;
    std::optional<unsigned> pressure_tendency;  // 0 steady, 1 decreasing, 2 increasing
    std::optional<unsigned> sea_state;          // Beaufort
};

struct ShipTrack {
    int64_t first = 0, last = 0;
    uint64_t reports = 0;  // messages heard from it
    std::string name;      // from its static data or AtoN report, when heard
    std::optional<double> lat_min, lat_max, lon_min, lon_max;
};

// Counts of one hour of the log.
struct HourCounts {
    uint64_t records = 0;
    uint64_t positions = 0;              // position reports heard (messages 1, 2, 3, 18, 19, 27)
    uint64_t own[4] = {};                // VDO of messages 8, 21, 6, 12
    uint64_t heard[4] = {};              // VDM of messages 8, 21, 6, 12
    uint64_t frames = 0;                 // from the station's data-link device
    uint64_t blocks = 0;                 // received over the air for it
    uint64_t bad_tag = 0;                // records whose tag block checksum fails
    uint64_t damaged = 0;                // every damaged record, those above included
    uint64_t ship_records = 0;           // records of ships' messages (for the picture)
    uint64_t station_records = 0;        // of stations, aids to navigation and the station's own
    std::unordered_set<uint32_t> mmsis;  // heard
};

// The message types counted as own and heard, in HourCounts' order.
constexpr int kStationMessages[4] = {8, 21, 6, 12};

struct Problem {
    std::string file;
    uint64_t offset = 0;
    Damage damage = Damage::kNone;
};

struct Gap {
    int64_t from = 0, to = 0;
};

class TrafficLog {
  public:
    // Records outside [from, to) are left out; files wholly outside are not read.
    TrafficLog(int64_t from, int64_t to) : from_(from), to_(to) {}

    bool wanted(const LogFile& file) const {
        return file.hour_start + 3600 > from_ && file.hour_start < to_;
    }
    // One file's records. `row` sees every whole record kept.
    void add_file(const LogFile& file, std::string_view bytes,
                  const std::function<void(const RecordFacts&)>& row = {});

    const std::map<int64_t, HourCounts>& hours() const { return hours_; }
    const std::map<uint32_t, ShipTrack>& ships() const { return ships_; }
    const std::vector<WeatherReport>& weather() const { return weather_; }
    const std::set<std::string>& stations() const { return stations_; }
    const std::vector<Problem>& problems() const { return problems_; }
    // Files of the period that could not be read, each with the reason.
    void add_unreadable(const LogFile& file, const std::string& reason) {
        unreadable_.push_back(file.name + " (" + reason + ")");
    }
    const std::vector<std::string>& unreadable() const { return unreadable_; }
    // First and last time of a tag block kept; -1 when none.
    int64_t first() const { return first_; }
    int64_t last() const { return last_; }
    // Times longer than `longest` seconds with nothing logged: between two
    // records, and from the period's given ends (when not open) to the
    // first and last record.
    std::vector<Gap> gaps(int64_t longest) const;

  private:
    int64_t from_, to_;
    std::map<int64_t, HourCounts> hours_;
    std::map<uint32_t, ShipTrack> ships_;
    std::vector<WeatherReport> weather_;
    std::set<std::string> stations_;
    std::vector<Problem> problems_;
    std::vector<std::string> unreadable_;
    std::vector<int64_t> times_;
    int64_t first_ = -1, last_ = -1;
    codec::VdmAssembler assembler_;
    // The message type and MMSI of each message being put together, by the
    // first sentence's VDO/VDM and sequence id.
    std::map<std::string, std::pair<int, int64_t>> pending_;

    void add_ais(const Record& record, RecordFacts* facts, HourCounts* hour);
    void add_message(const codec::VdmMessage& message, int64_t utc, RecordFacts* facts,
                     HourCounts* hour);
};

// A message's facts from its whole payload: position, speed and course
// where its type carries them (RecordFacts), and a name.
void read_position(const codec::Bits& payload, RecordFacts* facts, std::string* name);
// The weather of a message 8 with DAC 1 and FI 31; nullopt for any other.
std::optional<WeatherReport> read_weather(const codec::Bits& payload);

}  // namespace logtool
