#include "log_report.h"

#include <cstdio>
#include <sstream>
#include <unordered_set>

#include "log_time.h"

namespace logtool {

namespace {

struct Row {
    std::string label;
    HourCounts counts;
    uint64_t gaps = 0;
};

void add_counts(HourCounts* total, const HourCounts& hour) {
    total->records += hour.records;
    total->positions += hour.positions;
    for (int i = 0; i < 4; ++i) {
        total->own[i] += hour.own[i];
        total->heard[i] += hour.heard[i];
    }
    total->frames += hour.frames;
    total->blocks += hour.blocks;
    total->bad_tag += hour.bad_tag;
    total->damaged += hour.damaged;
    total->mmsis.insert(hour.mmsis.begin(), hour.mmsis.end());
}

std::string four(const uint64_t (&counts)[4]) {
    std::string text;
    for (int i = 0; i < 4; ++i) {
        text += (i == 0 ? "" : "/") + std::to_string(counts[i]);
    }
    return text;
}

// One layout for the heading and the rows.
constexpr const char* kRowFormat = "%-16s %8s %6s %10s  %-14s %-16s %7s %7s %8s %8s %5s\n";

void write_line(std::ostream& out, const std::vector<std::string>& cells) {
    char line[256];
    std::snprintf(line, sizeof line, kRowFormat, cells[0].c_str(), cells[1].c_str(),
                  cells[2].c_str(), cells[3].c_str(), cells[4].c_str(), cells[5].c_str(),
                  cells[6].c_str(), cells[7].c_str(), cells[8].c_str(), cells[9].c_str(),
                  cells[10].c_str());
    out << line;
}

void write_row(std::ostream& out, const Row& row) {
    const HourCounts& c = row.counts;
    write_line(out, {row.label, std::to_string(c.records), std::to_string(c.mmsis.size()),
                     std::to_string(c.positions), four(c.own), four(c.heard),
                     std::to_string(c.frames), std::to_string(c.blocks), std::to_string(c.bad_tag),
                     std::to_string(c.damaged), std::to_string(row.gaps)});
}

std::string duration_text(int64_t seconds) {
    const int64_t hours = seconds / 3600;
    const int64_t minutes = seconds / 60 % 60;
    std::string text = hours > 0 ? std::to_string(hours) + " h " : "";
    return text + std::to_string(minutes) + " min " + std::to_string(seconds % 60) + " s";
}

std::string number(const std::optional<double>& value, const char* format) {
    if (!value) {
        return "";
    }
    char text[32];
    std::snprintf(text, sizeof text, format, *value);
    return text;
}

template <typename T>
std::string count(const std::optional<T>& value) {
    return value ? std::to_string(*value) : "";
}

}  // namespace

void write_summary(std::ostream& out, const TrafficLog& log, bool hourly, size_t shown_problems) {
    const std::vector<Gap> gaps = log.gaps(kGapSeconds);
    std::vector<Row> rows;
    Row all;
    all.label = "all";
    all.gaps = gaps.size();
    for (const auto& [hour_start, counts] : log.hours()) {
        const int64_t start = hourly ? hour_start : hour_start - hour_start % 86400;
        const std::string label = hourly ? format_utc(start, false) : format_day(start);
        if (rows.empty() || rows.back().label != label) {
            rows.push_back(Row{label, {}, 0});
            const int64_t end = start + (hourly ? 3600 : 86400);
            for (const Gap& gap : gaps) {
                rows.back().gaps += gap.from >= start && gap.from < end;
            }
        }
        add_counts(&rows.back().counts, counts);
        add_counts(&all.counts, counts);
    }
    std::ostringstream heading;
    write_line(heading, {hourly ? "hour (UTC)" : "day (UTC)", "records", "MMSIs", "positions",
                         "own 8/21/6/12", "heard 8/21/6/12", "frames", "blocks", "bad tag",
                         "damaged", "gaps"});
    // "TIDELINK" over its two columns.
    out << std::string(heading.str().find(" frames  blocks") + 4, ' ') << "TIDELINK\n"
        << heading.str();
    for (const Row& row : rows) {
        write_row(out, row);
    }
    write_row(out, all);
    out << "\nMMSIs: distinct MMSIs heard; positions: position reports heard (messages 1, 2, 3,\n"
           "18, 19, 27); own: the station's messages its transponder reports sending (VDO);\n"
           "heard: messages 8, 21, 6, 12 heard from other stations (VDM); bad tag: records\n"
           "whose tag block checksum fails (counted in damaged too).\n";
    out << "\nGaps over " << kGapSeconds / 60 << " min with nothing logged:";
    if (gaps.empty()) {
        out << " none";
    }
    out << "\n";
    for (const Gap& gap : gaps) {
        out << "  " << format_utc(gap.from) << " to " << format_utc(gap.to) << "  ("
            << duration_text(gap.to - gap.from) << ")\n";
    }
    const std::vector<Problem>& problems = log.problems();
    out << "\nDamaged records: " << problems.size() << "\n";
    for (size_t i = 0; i < problems.size() && i < shown_problems; ++i) {
        out << "  " << problems[i].file << " offset " << problems[i].offset << ": "
            << damage_text(problems[i].damage) << "\n";
    }
    if (problems.size() > shown_problems) {
        out << "  ... and " << problems.size() - shown_problems << " more\n";
    }
    if (!log.unreadable().empty()) {
        out << "\nFiles that cannot be read: " << log.unreadable().size() << "\n";
        for (const std::string& file : log.unreadable()) {
            out << "  " << file << "\n";
        }
    }
    out << "\nStations named in the tag blocks:";
    for (const std::string& station : log.stations()) {
        out << " \"" << station << "\"";
    }
    out << (log.stations().empty() ? " none\n" : "\n");
    if (log.first() >= 0) {
        out << "First record " << format_utc(log.first()) << " UTC, last " << format_utc(log.last())
            << " UTC\n";
    }
}

std::string csv_cell(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) {
        return text;
    }
    std::string quoted = "\"";
    for (const char c : text) {
        quoted += c == '"' ? "\"\"" : std::string(1, c);
    }
    return quoted + "\"";
}

void write_record_header(std::ostream& out) {
    out << "utc,station,talker,sentence,fragment,message_id,mmsi,lat,lon,speed_kn,course_deg\n";
}

void write_record_row(std::ostream& out, const RecordFacts& f) {
    out << (f.utc >= 0 ? format_utc(f.utc) : "") << ',' << csv_cell(f.station) << ','
        << csv_cell(f.talker) << ',' << csv_cell(f.sentence) << ','
        << (f.fragments > 0 ? std::to_string(f.fragment) + "/" + std::to_string(f.fragments) : "")
        << ',' << (f.message_id >= 0 ? std::to_string(f.message_id) : "") << ','
        << (f.mmsi >= 0 ? std::to_string(f.mmsi) : "") << ',' << number(f.lat, "%.6f") << ','
        << number(f.lon, "%.6f") << ',' << number(f.speed_kn, "%.1f") << ','
        << number(f.course_deg, "%.1f") << '\n';
}

void write_weather_csv(std::ostream& out, const TrafficLog& log, int64_t mmsi) {
    static const char* const kTendency[] = {"steady", "decreasing", "increasing"};
    out << "utc,mmsi,own,lat,lon,observed,wind_kn,gust_kn,wind_dir_deg,gust_dir_deg,air_temp_c,"
           "humidity_pct,dew_point_c,pressure_hpa,pressure_tendency,sea_state\n";
    for (const WeatherReport& w : log.weather()) {
        if (mmsi >= 0 && w.mmsi != mmsi) {
            continue;
        }
        char observed[16] = "";
        if (w.day && w.hour && w.minute) {
            std::snprintf(observed, sizeof observed, "%02u %02u:%02u", *w.day, *w.hour, *w.minute);
        }
        out << format_utc(w.utc) << ',' << w.mmsi << ',' << (w.own ? 1 : 0) << ','
            << number(w.lat, "%.5f") << ',' << number(w.lon, "%.5f") << ',' << observed << ','
            << number(w.wind_kn, "%.0f") << ',' << number(w.gust_kn, "%.0f") << ','
            << number(w.wind_dir_deg, "%.0f") << ',' << number(w.gust_dir_deg, "%.0f") << ','
            << number(w.air_temp_c, "%.1f") << ',' << number(w.humidity_pct, "%.0f") << ','
            << number(w.dew_point_c, "%.1f") << ',' << number(w.pressure_hpa, "%.0f") << ','
            << (w.pressure_tendency ? kTendency[*w.pressure_tendency] : "") << ','
            << count(w.sea_state) << '\n';
    }
}

void write_ships_csv(std::ostream& out, const TrafficLog& log) {
    out << "mmsi,name,first_seen,last_seen,reports,lat_min,lat_max,lon_min,lon_max\n";
    for (const auto& [mmsi, ship] : log.ships()) {
        out << mmsi << ',' << csv_cell(ship.name) << ',' << format_utc(ship.first) << ','
            << format_utc(ship.last) << ',' << ship.reports << ',' << number(ship.lat_min, "%.6f")
            << ',' << number(ship.lat_max, "%.6f") << ',' << number(ship.lon_min, "%.6f") << ','
            << number(ship.lon_max, "%.6f") << '\n';
    }
}

}  // namespace logtool
