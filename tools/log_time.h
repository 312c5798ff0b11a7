// UTC times of the card's log: Unix seconds to and from the calendar, without
// the host's time zone.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace logtool {

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar.
int64_t days_from_civil(int64_t year, unsigned month, unsigned day);

struct CivilTime {
    int64_t year = 1970;
    unsigned month = 1, day = 1, hour = 0, minute = 0, second = 0;
};
CivilTime civil_time(int64_t utc);

// "2025-05-20 10:00:30"; `with_seconds` false gives "2025-05-20 10:00".
std::string format_utc(int64_t utc, bool with_seconds = true);
// "2025-05-20".
std::string format_day(int64_t utc);

// A time given by a user: "2025-05-20", "2025-05-20 10", "2025-05-20T10:30",
// "2025-05-20 10:30:15" (a trailing "Z" allowed), or Unix seconds.
std::optional<int64_t> parse_utc(const std::string& text);

}  // namespace logtool
