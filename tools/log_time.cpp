#include "log_time.h"

#include <cctype>
#include <cstdio>

namespace logtool {

int64_t days_from_civil(int64_t year, unsigned month, unsigned day) {
    year -= month <= 2;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const unsigned year_of_era = static_cast<unsigned>(year - era * 400);
    const unsigned day_of_year = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const unsigned day_of_era =
        year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
    return era * 146097 + static_cast<int64_t>(day_of_era) - 719468;
}

CivilTime civil_time(int64_t utc) {
    int64_t days = utc / 86400;
    int64_t seconds = utc % 86400;
    if (seconds < 0) {
        seconds += 86400;
        --days;
    }
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const unsigned day_of_era = static_cast<unsigned>(days - era * 146097);
    const unsigned year_of_era =
        (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
    const unsigned day_of_year =
        day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
    const unsigned mp = (5 * day_of_year + 2) / 153;
    CivilTime time;
    time.day = day_of_year - (153 * mp + 2) / 5 + 1;
    time.month = mp < 10 ? mp + 3 : mp - 9;
    time.year = static_cast<int64_t>(year_of_era) + era * 400 + (time.month <= 2);
    time.hour = static_cast<unsigned>(seconds / 3600);
    time.minute = static_cast<unsigned>(seconds / 60 % 60);
    time.second = static_cast<unsigned>(seconds % 60);
    return time;
}

std::string format_utc(int64_t utc, bool with_seconds) {
    const CivilTime t = civil_time(utc);
    char text[40];
    if (with_seconds) {
        std::snprintf(text, sizeof text, "%04lld-%02u-%02u %02u:%02u:%02u",
                      static_cast<long long>(t.year), t.month, t.day, t.hour, t.minute, t.second);
    } else {
        std::snprintf(text, sizeof text, "%04lld-%02u-%02u %02u:%02u",
                      static_cast<long long>(t.year), t.month, t.day, t.hour, t.minute);
    }
    return text;
}

std::string format_day(int64_t utc) {
    return format_utc(utc, false).substr(0, 10);
}

std::optional<int64_t> parse_utc(const std::string& text) {
    if (!text.empty() && text.size() <= 12 &&
        text.find_first_not_of("0123456789") == std::string::npos) {
        return std::stoll(text);
    }
    std::string rest = text;
    if (!rest.empty() && (rest.back() == 'Z' || rest.back() == 'z')) {
        rest.pop_back();
    }
    unsigned year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    char separator = ' ';
    int used = 0;
    const int fields =
        std::sscanf(rest.c_str(), "%4u-%2u-%2u%n%c%2u%n:%2u%n:%2u%n", &year, &month, &day, &used,
                    &separator, &hour, &used, &minute, &used, &second, &used);
    const bool separator_ok = fields < 4 || separator == ' ' || separator == 'T';
    if (fields < 3 || fields == 4 || !separator_ok || static_cast<size_t>(used) != rest.size() ||
        month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 59 ||
        year < 1970) {
        return std::nullopt;
    }
    return days_from_civil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
}

}  // namespace logtool
