// SVG pictures of a station's SD-card log for ktr09-log: the weather
// broadcasts over time and the records logged per hour.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>
namespace logtool {
// One meteorological broadcast: its time (Unix seconds, UTC) and the values it
// carried; a value the message marked "not available" is empty.
struct WeatherSample {
    int64_t utc = 0;
    std::optional<double> wind_kn, gust_kn;            // knots
    std::optional<double> wind_dir_deg, gust_dir_deg;  // direction the wind comes from, 0..359
    std::optional<double> pressure_hpa;
    std::optional<double> air_temp_c, dew_point_c;
};
// Records logged in one UTC hour, by kind.
struct HourBar {
    int64_t hour_start = 0;  // Unix seconds, a whole hour
    unsigned ships = 0;      // traffic heard from ships
    unsigned stations = 0;   // messages of stations and aids to navigation, and the station's own
    unsigned tidelink = 0;   // data-link records
};
struct Interval {
    int64_t from = 0, to = 0;  // Unix seconds
};
// Three panels over one UTC time axis [from, to): wind and gust speed (kn) with
// the wind direction drawn as arrows, air pressure (hPa), air temperature and
// dew point (°C). `title` heads the picture (for example the station's MMSI).
std::string weather_svg(const std::vector<WeatherSample>& samples, int64_t from, int64_t to,
                        const std::string& title);
// Stacked bars of records per hour (ships, stations, data link) over [from, to),
// with each gap (a time with nothing logged) shaded and a legend.
std::string traffic_svg(const std::vector<HourBar>& bars, const std::vector<Interval>& gaps,
                        int64_t from, int64_t to, const std::string& title);
}  // namespace logtool
