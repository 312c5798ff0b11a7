// ktr09-log's outputs from a read card: the summary's text and the CSV
// tables (records, weather broadcasts, ships).
#pragma once

#include <cstdint>
#include <ostream>
#include <string>

#include "log_traffic.h"

namespace logtool {

// Nothing logged for longer than this is a gap.
constexpr int64_t kGapSeconds = 10 * 60;

// The summary: a row per day (per hour when `hourly`) and one for the whole
// period, then the gaps, the damaged records (at most `shown_problems`),
// the stations named in the tag blocks and the first and last time.
void write_summary(std::ostream& out, const TrafficLog& log, bool hourly, size_t shown_problems);

// A CSV cell: quoted when it holds a comma, a quote or a line end.
std::string csv_cell(const std::string& text);

void write_record_header(std::ostream& out);
void write_record_row(std::ostream& out, const RecordFacts& facts);
// Weather reports of one MMSI, or of all when `mmsi` is negative.
void write_weather_csv(std::ostream& out, const TrafficLog& log, int64_t mmsi);
void write_ships_csv(std::ostream& out, const TrafficLog& log);

}  // namespace logtool
