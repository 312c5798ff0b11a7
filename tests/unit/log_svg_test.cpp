// The log's SVG charts: well-formed documents, round UTC time ticks, lines
// broken at gaps, thinned wind arrows pointing downwind, escaped titles.
#include "tools/log_svg.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <regex>

namespace logtool {
namespace {

constexpr int64_t k20May = 1747699200;  // 2025-05-20 00:00 UTC

std::vector<std::string> matches(const std::string& svg, const std::string& pattern) {
    std::vector<std::string> out;
    const std::regex re(pattern);
    for (std::sregex_iterator it(svg.begin(), svg.end(), re), end; it != end; ++it) {
        out.push_back((*it)[1]);
    }
    return out;
}

std::vector<std::string> texts(const std::string& svg, const std::string& cls) {
    return matches(svg, "<text[^>]*class=\"" + cls + "\"[^>]*>([^<]*)</text>");
}

// Parsed by xmllint where it is installed; the other checks still run.
void expect_well_formed(const std::string& svg) {
    EXPECT_EQ(svg.find("nan"), std::string::npos);
    EXPECT_EQ(svg.find("inf"), std::string::npos);
    if (::access("/usr/bin/xmllint", X_OK) != 0) {
        return;
    }
    const std::string path = ::testing::TempDir() + "log_svg_test.svg";
    std::ofstream(path) << svg;
    EXPECT_EQ(std::system(("/usr/bin/xmllint --noout " + path).c_str()), 0) << svg;
    std::remove(path.c_str());
}

std::vector<WeatherSample> every_3_minutes(int n, double dir = 225) {
    std::vector<WeatherSample> out;
    for (int i = 0; i < n; ++i) {
        WeatherSample s;
        s.utc = k20May + 180 * i;
        s.wind_kn = 10 + i % 7, s.gust_kn = 15 + i % 5, s.wind_dir_deg = dir;
        s.pressure_hpa = 1013 + i % 3, s.air_temp_c = 14.5, s.dew_point_c = 9 - i % 4;
        out.push_back(s);
    }
    return out;
}

int segments(const std::string& svg, const std::string& id) {
    const std::vector<std::string> d = matches(svg, "id=\"" + id + "\" d=\"([^\"]*)\"");
    return d.size() == 1 ? static_cast<int>(std::count(d[0].begin(), d[0].end(), 'M')) : -1;
}

TEST(LogSvg, DocumentsAreWellFormedDeterministicAndCarryUnits) {
    const std::vector<WeatherSample> week = every_3_minutes(3400);
    const std::string weather = weather_svg(week, k20May, k20May + 7 * 86400, "224012345");
    expect_well_formed(weather);
    EXPECT_EQ(weather, weather_svg(week, k20May, k20May + 7 * 86400, "224012345"));
    EXPECT_LT(weather.size(), 500u * 1024);
    EXPECT_EQ(texts(weather, "ytick").front(), "0");  // wind speeds from zero
    for (const char* unit : {">kn<", ">hPa<", ">\u00b0C<", ">UTC<"}) {
        EXPECT_NE(weather.find(unit), std::string::npos) << unit;
    }
    const std::string traffic = traffic_svg({{k20May, 3, 2, 1}}, {}, k20May, k20May + 86400, "x");
    expect_well_formed(traffic);
    EXPECT_NE(traffic.find(">records per hour<"), std::string::npos);
}

TEST(LogSvg, TimeTicksFallOnRoundUtcTimes) {
    const int64_t afternoon = k20May + 14 * 3600 + 7 * 60;
    const struct {
        int64_t from, to;
        std::vector<std::string> first;
    } cases[] = {
        {afternoon, afternoon + 3600, {"14:10", "14:20", "14:30"}},
        {k20May + 22 * 3600, k20May + 28 * 3600, {"22:00", "23:00", "2025-05-21", "01:00"}},
        {afternoon, afternoon + 86400, {"15:00", "18:00", "21:00", "2025-05-21", "03:00"}},
        {afternoon, afternoon + 7 * 86400, {"2025-05-21", "2025-05-22", "2025-05-23"}},
        {k20May, k20May + 30 * 86400, {"2025-05-26", "2025-06-02"}},  // Mondays
        {k20May, k20May, {"2025-05-20", "00:10", "00:20"}},           // an hour at least
    };
    for (const auto& c : cases) {
        const std::vector<std::string> labels = texts(weather_svg({}, c.from, c.to, ""), "xtick");
        ASSERT_GE(labels.size(), c.first.size()) << c.from << ".." << c.to;
        EXPECT_LE(labels.size(), 11u);
        EXPECT_EQ(std::vector<std::string>(labels.begin(), labels.begin() + c.first.size()),
                  c.first);
    }
}

TEST(LogSvg, MissingValueAndLongPauseBreakTheLine) {
    std::vector<WeatherSample> s = every_3_minutes(30);
    s[5].wind_kn.reset();
    for (size_t i = 20; i < s.size(); ++i) {
        s[i].utc += 3600;
    }
    const std::string svg = weather_svg(s, k20May, k20May + 86400, "");
    EXPECT_EQ(segments(svg, "wind"), 3);
    EXPECT_EQ(segments(svg, "gust"), 2);
    EXPECT_EQ(segments(svg, "pressure"), 2);
}

TEST(LogSvg, ArrowsAreThinnedAndPointDownwind) {
    const struct {
        double from_deg;
        int dx, dy;  // screen direction of the arrow, y downwards
    } cases[] = {{0, 0, 1}, {90, -1, 0}, {180, 0, -1}, {270, 1, 0}};
    for (const auto& c : cases) {
        const std::string svg =
            weather_svg(every_3_minutes(3400, c.from_deg), k20May, k20May + 7 * 86400, "");
        const std::vector<std::string> arrows = matches(svg, "(<line class=\"arrow\"[^>]*>)");
        EXPECT_GE(arrows.size(), 60u);
        EXPECT_LE(arrows.size(), 80u);
        std::smatch m;
        ASSERT_TRUE(std::regex_search(arrows.at(0), m,
                                      std::regex("x1=\"([-.0-9]+)\" y1=\"([-.0-9]+)\" "
                                                 "x2=\"([-.0-9]+)\" y2=\"([-.0-9]+)\"")));
        const double dx = std::stod(m[3]) - std::stod(m[1]), dy = std::stod(m[4]) - std::stod(m[2]);
        EXPECT_EQ((dx > 0.5) - (dx < -0.5), c.dx) << c.from_deg;
        EXPECT_EQ((dy > 0.5) - (dy < -0.5), c.dy) << c.from_deg;
    }
}

TEST(LogSvg, TitleIsEscaped) {
    const std::string svg = weather_svg({}, k20May, k20May + 3600, "<a & \"b\" 'c'>\x01\xff");
    expect_well_formed(svg);
    EXPECT_NE(svg.find("&lt;a &amp; &quot;b&quot; &apos;c&apos;&gt;"), std::string::npos);
}

TEST(LogSvg, NoDataAndReversedSpansGiveValidDocuments) {
    for (const int64_t to : {k20May, k20May - 600}) {
        const std::string weather = weather_svg({}, k20May, to, "t");
        expect_well_formed(weather);
        EXPECT_EQ(texts(weather, "nodata").size(), 3u);
        const std::string traffic = traffic_svg({}, {{k20May, k20May + 60}}, k20May, to, "t");
        expect_well_formed(traffic);
        EXPECT_EQ(texts(traffic, "nodata").size(), 1u);
    }
}

TEST(LogSvg, TrafficScaleIsNiceAndGapsAreClipped) {
    const std::vector<HourBar> bars = {{k20May, 30, 5, 2}, {k20May + 3600, 1, 0, 0}};
    const std::string svg =
        traffic_svg(bars, {{k20May - 7200, k20May + 3600}}, k20May, k20May + 10 * 3600, "");
    EXPECT_EQ(texts(svg, "ytick").back(), "40");
    const std::vector<std::string> gap =
        matches(svg, "<rect x=\"([^\"]*\" y=\"[^\"]*\" width=\"[^\"]*)\"[^>]*class=\"gap\"");
    ASSERT_EQ(gap.size(), 1u);
    EXPECT_EQ(gap[0], "70\" y=\"80\" width=\"89");  // the first of ten hours only
}

}  // namespace
}  // namespace logtool
