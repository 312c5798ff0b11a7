// Plain-text SVG charts of a station's log, so the tool needs no plotting
// library and its pictures open in any browser.
#include "log_svg.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "log_time.h"

namespace logtool {
namespace {

constexpr double kWidth = 1000;
constexpr double kLeft = 70;    // room for the y tick labels and the unit
constexpr double kRight = 960;  // room for a date centred on the last tick
constexpr int64_t kDay = 86400;
constexpr int64_t kMaxTimeTicks = 10;  // about 90 px per label
constexpr int64_t kMaxArrows = 64;     // one per 14 px
constexpr double kArrowLength = 12;
constexpr double kPi = 3.14159265358979323846;
// Years 0000..9999: dates keep four digits and spans cannot overflow.
constexpr int64_t kEarliest = -62167219200;
constexpr int64_t kLatest = 253402300799;

// Coordinates to 0.1 px keep a week of samples small; "-0" would differ
// from "0" for the same picture.
std::string num(double v) {
    char buf[48];
    std::snprintf(buf, sizeof buf, "%.1f", v);
    std::string s = buf;
    if (s.size() > 2 && s.compare(s.size() - 2, 2, ".0") == 0) {
        s.resize(s.size() - 2);
    }
    return s == "-0" ? "0" : s;
}

// Length of a valid UTF-8 sequence of an XML character at s[i], or 0; a
// title with control characters or broken UTF-8 must not break the document.
size_t xml_char_length(const std::string& s, size_t i) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) {
        return (c >= 0x20 || c == '\t' || c == '\n' || c == '\r') ? 1 : 0;
    }
    const size_t n = c >= 0xF8 ? 0 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 0;
    if (n == 0 || i + n > s.size()) {
        return 0;
    }
    uint32_t cp = c & (0x7Fu >> n);
    for (size_t k = 1; k < n; ++k) {
        const unsigned char cc = static_cast<unsigned char>(s[i + k]);
        if ((cc & 0xC0) != 0x80) {
            return 0;
        }
        cp = (cp << 6) | (cc & 0x3Fu);
    }
    static const uint32_t kShortest[] = {0, 0, 0x80, 0x800, 0x10000};
    const bool bad = cp < kShortest[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF) ||
                     cp == 0xFFFE || cp == 0xFFFF;
    return bad ? 0 : n;
}

std::string escape(const std::string& s) {
    static const std::pair<char, const char*> kEntities[] = {
        {'&', "&amp;"}, {'<', "&lt;"}, {'>', "&gt;"}, {'"', "&quot;"}, {'\'', "&apos;"}};
    std::string out;
    for (size_t i = 0; i < s.size();) {
        const size_t n = xml_char_length(s, i);
        const auto* entity = std::find_if(std::begin(kEntities), std::end(kEntities),
                                          [&](const auto& e) { return e.first == s[i]; });
        if (n == 0) {
            out += "\xEF\xBF\xBD";  // U+FFFD
        } else if (entity != std::end(kEntities)) {
            out += entity->second;
        } else {
            out.append(s, i, n);
        }
        i += std::max<size_t>(n, 1);
    }
    return out;
}

// "2025-05-20", "14:07" or "2025-05-20 14:07".
std::string stamp(int64_t t, bool date, bool clock) {
    const std::string full = format_utc(t, false);  // "2025-05-20 14:07"
    return date && clock ? full : date ? full.substr(0, 10) : full.substr(11);
}

struct TimeAxis {
    int64_t from = 0, to = 0;
    double x(int64_t t) const {
        return kLeft +
               static_cast<double>(t - from) / static_cast<double>(to - from) * (kRight - kLeft);
    }
};

TimeAxis make_axis(int64_t from, int64_t to) {
    TimeAxis axis{std::clamp(from, kEarliest, kLatest), std::clamp(to, kEarliest, kLatest)};
    if (axis.to <= axis.from) {
        axis.to = axis.from + 3600;
    } else if (axis.to - axis.from < 60) {
        axis.to = axis.from + 60;
    }
    return axis;
}

int64_t tick_step(int64_t span) {
    static const int64_t kSteps[] = {60,       120,      300,       600,      900,   1800,
                                     3600,     7200,     10800,     21600,    43200, kDay,
                                     2 * kDay, 7 * kDay, 14 * kDay, 28 * kDay};
    for (const int64_t step : kSteps) {
        if (span <= step * kMaxTimeTicks) {
            return step;
        }
    }
    const int64_t weeks4 = 28 * kDay * kMaxTimeTicks;
    return (span + weeks4 - 1) / weeks4 * 28 * kDay;
}

std::vector<int64_t> time_ticks(const TimeAxis& axis, int64_t* step_out) {
    const int64_t step = tick_step(axis.to - axis.from);
    // Weekly ticks fall on Mondays (1970-01-05 was one); the others on
    // multiples of the step since the epoch, i.e. round UTC times.
    const int64_t origin = step % (7 * kDay) == 0 ? 4 * kDay : 0;
    int64_t k = (axis.from - origin) / step;
    if (origin + k * step < axis.from) {
        ++k;
    }
    std::vector<int64_t> ticks;
    for (int64_t t = origin + k * step; t <= axis.to; t += step) {
        ticks.push_back(t);
    }
    *step_out = step;
    return ticks;
}

struct Scale {
    double lo = 0, hi = 1, step = 0.2;
    double top = 0, bottom = 0;  // pixels
    double y(double v) const { return bottom - (v - lo) / (hi - lo) * (bottom - top); }
};

// The smallest of 1, 2, 5 x 10^n giving at most about six intervals.
double nice_step(double range, double min_step) {
    const double raw = range / 6;
    if (!(raw > 0) || !std::isfinite(raw)) {
        return std::max(min_step, 1.0);
    }
    const double mag = std::pow(10.0, std::floor(std::log10(raw)));
    const double f = raw / mag;
    return std::max((f <= 1 ? 1 : f <= 2 ? 2 : f <= 5 ? 5 : 10) * mag, min_step);
}

// A range covering [lo, hi] with a 5 % margin, rounded out to whole steps.
// Speeds and counts start at zero.
Scale make_scale(double lo, double hi, bool from_zero, double min_step, double top, double bottom) {
    if (!(std::fabs(lo) < 1e12 && std::fabs(hi) < 1e12) || hi < lo) {
        return Scale{0, 1, 0.2, top, bottom};  // no data, or none worth a scale
    }
    lo = from_zero ? std::min(lo, 0.0) : lo;
    const bool pinned = from_zero && lo == 0;
    if (hi - lo < 1e-9) {
        hi += 1, lo -= pinned ? 0 : 1;
    }
    const double margin = (hi - lo) * 0.05;
    hi += margin, lo -= pinned ? 0 : margin;
    const double step = nice_step(hi - lo, min_step);
    return Scale{std::floor(lo / step) * step, std::ceil(hi / step) * step, step, top, bottom};
}

std::string tick_value(double v, double step) {
    const int decimals = step >= 1 ? 0 : static_cast<int>(std::ceil(-std::log10(step) - 1e-9));
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, std::fabs(v) < step * 1e-6 ? 0.0 : v);
    return buf;
}

// A panel's place: its legend's baseline and the plot area.
struct Frame {
    double legend_y, top, bottom;
};

class Doc {
  public:
    explicit Doc(double height) {
        const std::string w = num(kWidth), h = num(height);
        out_ =
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            "<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" width=\"" +
            w + "\" height=\"" + h + "\" viewBox=\"0 0 " + w + " " + h +
            "\">\n<defs><marker id=\"head\" viewBox=\"0 0 6 6\" refX=\"6\" refY=\"3\" "
            "markerWidth=\"6\" markerHeight=\"6\" markerUnits=\"userSpaceOnUse\" "
            "orient=\"auto\"><path d=\"M0 0L6 3L0 6z\" fill=\"#333\"/></marker></defs>\n"
            "<rect width=\"" +
            w + "\" height=\"" + h +
            "\" fill=\"white\"/>\n<g font-family=\"sans-serif\" font-size=\"11\">\n";
    }
    void raw(const std::string& s) { out_ += s; }
    void line(double x1, double y1, double x2, double y2, const std::string& attrs) {
        out_ += "<line x1=\"" + num(x1) + "\" y1=\"" + num(y1) + "\" x2=\"" + num(x2) + "\" y2=\"" +
                num(y2) + "\" " + attrs + "/>\n";
    }
    void rect(double x, double y, double w, double h, const std::string& attrs) {
        out_ += "<rect x=\"" + num(x) + "\" y=\"" + num(y) + "\" width=\"" + num(w) +
                "\" height=\"" + num(h) + "\" " + attrs + "/>\n";
    }
    void text(double x, double y, const std::string& s, const std::string& attrs = "") {
        out_ += "<text x=\"" + num(x) + "\" y=\"" + num(y) + "\"" +
                (attrs.empty() ? "" : " " + attrs) + ">" + escape(s) + "</text>\n";
    }
    std::string finish() { return out_ + "</g>\n</svg>\n"; }

  private:
    std::string out_;
};

void heading(Doc& doc, const std::string& title, const TimeAxis& axis) {
    doc.text(kLeft, 24, title, "font-size=\"16\" font-weight=\"bold\"");
    doc.text(kLeft, 42,
             stamp(axis.from, true, true) + " \u2013 " + stamp(axis.to, true, true) + " UTC",
             "fill=\"#555\"");
}

// Grid, ticks and unit of one panel; the time labels go under the last one.
void axes(Doc& doc, const Frame& f, const Scale& s, const TimeAxis& axis,
          const std::vector<int64_t>& ticks, const std::string& unit) {
    for (const int64_t tick : ticks) {
        const double x = axis.x(tick);
        doc.line(x, f.top, x, f.bottom, tick % kDay == 0 ? "stroke=\"#999\"" : "stroke=\"#ddd\"");
    }
    const long long first = std::llround(s.lo / s.step), last = std::llround(s.hi / s.step);
    for (long long k = first; k <= last; ++k) {
        const double y = s.y(static_cast<double>(k) * s.step);
        doc.line(kLeft, y, kRight, y, "stroke=\"#eee\"");
        doc.text(kLeft - 6, y + 4, tick_value(static_cast<double>(k) * s.step, s.step),
                 "class=\"ytick\" text-anchor=\"end\"");
    }
    const double mid = (f.top + f.bottom) / 2;
    doc.text(16, mid, unit, "text-anchor=\"middle\" transform=\"rotate(-90 16 " + num(mid) + ")\"");
}

void frame_box(Doc& doc, const Frame& f, bool empty) {
    doc.rect(kLeft, f.top, kRight - kLeft, f.bottom - f.top, "fill=\"none\" stroke=\"#444\"");
    if (empty) {
        doc.text((kLeft + kRight) / 2, (f.top + f.bottom) / 2, "no data",
                 "class=\"nodata\" text-anchor=\"middle\" fill=\"#888\" font-size=\"14\"");
    }
}

void time_labels(Doc& doc, const Frame& f, const TimeAxis& axis, const std::vector<int64_t>& ticks,
                 int64_t step) {
    for (const int64_t tick : ticks) {
        const double x = axis.x(tick);
        doc.line(x, f.bottom, x, f.bottom + 4, "stroke=\"#444\"");
        const bool dated = step >= kDay || tick % kDay == 0;
        doc.text(x, f.bottom + 16, stamp(tick, dated, !dated),
                 "class=\"xtick\" text-anchor=\"middle\"");
    }
    doc.text((kLeft + kRight) / 2, f.bottom + 34, "UTC", "text-anchor=\"middle\"");
}

// Legend entries run left to right along a panel's top; each returns where
// the next one starts.
double legend_label(Doc& doc, double x, double y, const std::string& label) {
    doc.text(x + 24, y, label);
    return x + 24 + 6 * static_cast<double>(label.size()) + 16;
}

double legend_line(Doc& doc, double x, double y, const std::string& label, const char* colour) {
    doc.line(x, y - 4, x + 18, y - 4, "stroke=\"" + std::string(colour) + "\" stroke-width=\"2\"");
    return legend_label(doc, x, y, label);
}

double legend_box(Doc& doc, double x, double y, const std::string& label, const char* fill) {
    doc.rect(x + 4, y - 9, 10, 10, fill);
    return legend_label(doc, x, y, label);
}

using Samples = std::vector<const WeatherSample*>;
using Field = std::optional<double> WeatherSample::*;

// A value no instrument gives (NaN, infinite, absurdly large) counts as
// missing rather than flattening the panel's scale.
std::optional<double> value(const WeatherSample& s, Field field) {
    const std::optional<double>& v = s.*field;
    return v && std::fabs(*v) < 1e6 ? v : std::nullopt;
}

// The samples inside the axis in time order.
Samples in_window(const std::vector<WeatherSample>& samples, const TimeAxis& axis) {
    Samples out;
    for (const WeatherSample& s : samples) {
        if (s.utc >= axis.from && s.utc < axis.to) {
            out.push_back(&s);
        }
    }
    std::stable_sort(out.begin(), out.end(), [](const WeatherSample* a, const WeatherSample* b) {
        return a->utc < b->utc;
    });
    return out;
}

// Longest step a line may bridge: three times the usual spacing, so a pause
// in the broadcasts shows as a break rather than a straight line.
int64_t longest_bridge(const Samples& s) {
    std::vector<int64_t> steps;
    for (size_t i = 1; i < s.size(); ++i) {
        if (s[i]->utc > s[i - 1]->utc) {
            steps.push_back(s[i]->utc - s[i - 1]->utc);
        }
    }
    if (steps.empty()) {
        return std::numeric_limits<int64_t>::max();
    }
    std::nth_element(steps.begin(), steps.begin() + steps.size() / 2, steps.end());
    return 3 * steps[steps.size() / 2];
}

struct Series {
    const char* id;
    const char* label;
    const char* colour;
    Field field;
};

// One path per series, a new subpath after each missing value or long pause;
// round caps make a lone point visible as a dot.
std::string series_path(const Samples& samples, const Series& series, const TimeAxis& axis,
                        const Scale& scale, int64_t bridge) {
    std::string d;
    bool pen_down = false;
    int64_t last = 0;
    for (const WeatherSample* s : samples) {
        const std::optional<double> v = value(*s, series.field);
        if (!v) {
            pen_down = false;
            continue;
        }
        const bool join = pen_down && s->utc - last <= bridge;
        d += (join ? "L" : d.empty() ? "M" : " M") + num(axis.x(s->utc)) + " " + num(scale.y(*v));
        if (!join) {
            d += "h0";
        }
        pen_down = true;
        last = s->utc;
    }
    return "<path id=\"" + std::string(series.id) + "\" d=\"" + d + "\" fill=\"none\" stroke=\"" +
           series.colour + "\" stroke-width=\"1.5\" stroke-linejoin=\"round\" " +
           "stroke-linecap=\"round\"/>\n";
}

const Series kWind{"wind", "wind", "#1f77b4", &WeatherSample::wind_kn};
const Series kGust{"gust", "gust", "#d62728", &WeatherSample::gust_kn};
const Series kPressure{"pressure", "air pressure", "#6a3d9a", &WeatherSample::pressure_hpa};
const Series kAirTemp{"air-temp", "air temperature", "#d62728", &WeatherSample::air_temp_c};
const Series kDewPoint{"dew-point", "dew point", "#17becf", &WeatherSample::dew_point_c};

struct LinePanel {
    Frame frame;
    const char* unit;
    bool from_zero;
    std::vector<Series> series;
};

// Draws a panel of lines; returns where its legend ends.
double draw_lines(Doc& doc, const LinePanel& p, const Samples& samples, const TimeAxis& axis,
                  const std::vector<int64_t>& ticks, int64_t bridge) {
    double lo = std::numeric_limits<double>::infinity(), hi = -lo;
    for (const Series& series : p.series) {
        for (const WeatherSample* s : samples) {
            if (const std::optional<double> v = value(*s, series.field)) {
                lo = std::min(lo, *v), hi = std::max(hi, *v);
            }
        }
    }
    const bool empty = lo > hi;
    const Scale scale = make_scale(lo, hi, p.from_zero, 0, p.frame.top, p.frame.bottom);
    axes(doc, p.frame, scale, axis, ticks, p.unit);
    double x = kLeft;
    for (const Series& series : p.series) {
        if (!empty) {
            doc.raw(series_path(samples, series, axis, scale, bridge));
        }
        x = legend_line(doc, x, p.frame.legend_y, series.label, series.colour);
    }
    frame_box(doc, p.frame, empty);
    return x;
}

// Arrows the way the wind blows, evenly thinned: the first sample with a
// direction in each of kMaxArrows equal slices of the axis.
void wind_arrows(Doc& doc, const Samples& samples, const TimeAxis& axis, double y) {
    std::string arrows;
    int64_t taken = -1;
    for (const WeatherSample* s : samples) {
        const std::optional<double> dir = value(*s, &WeatherSample::wind_dir_deg);
        const int64_t slot = (s->utc - axis.from) * kMaxArrows / (axis.to - axis.from);
        if (!dir || slot == taken) {
            continue;
        }
        taken = slot;
        const double to = (*dir + 180) * kPi / 180;
        const double dx = std::sin(to) * kArrowLength / 2, dy = -std::cos(to) * kArrowLength / 2;
        const double x = axis.x(s->utc);
        arrows += "<line class=\"arrow\" x1=\"" + num(x - dx) + "\" y1=\"" + num(y - dy) +
                  "\" x2=\"" + num(x + dx) + "\" y2=\"" + num(y + dy) + "\"/>\n";
    }
    doc.raw("<g stroke=\"#333\" stroke-width=\"1.2\" marker-end=\"url(#head)\">\n" + arrows +
            "</g>\n");
}

const char* const kShipFill = "fill=\"#1f77b4\"";
const char* const kStationFill = "fill=\"#ff7f0e\"";
const char* const kLinkFill = "fill=\"#2ca02c\"";
const char* const kGapFill = "fill=\"#666\" fill-opacity=\"0.4\"";

double total(const HourBar& b) {
    return static_cast<double>(b.ships) + b.stations + b.tidelink;
}

void draw_bar(Doc& doc, const HourBar& bar, const TimeAxis& axis, const Scale& scale) {
    double x0 = axis.x(std::max(bar.hour_start, axis.from));
    double x1 = axis.x(std::min(bar.hour_start + 3600, axis.to));
    if (x1 - x0 > 4) {
        x0 += 0.5, x1 -= 0.5;  // a hairline between neighbours
    }
    doc.raw("<g><title>" + stamp(bar.hour_start, true, true) +
            " UTC: " + std::to_string(bar.ships) + " ships, " + std::to_string(bar.stations) +
            " stations, " + std::to_string(bar.tidelink) + " data link</title>\n");
    const std::pair<unsigned, const char*> parts[] = {
        {bar.ships, kShipFill}, {bar.stations, kStationFill}, {bar.tidelink, kLinkFill}};
    double base = 0;
    for (const auto& [count, fill] : parts) {
        if (count > 0) {
            const double top = scale.y(base + count);
            doc.rect(x0, top, x1 - x0, scale.y(base) - top, fill);
            base += count;
        }
    }
    doc.raw("</g>\n");
}

}  // namespace

std::string weather_svg(const std::vector<WeatherSample>& samples, int64_t from, int64_t to,
                        const std::string& title) {
    const TimeAxis axis = make_axis(from, to);
    const Samples window = in_window(samples, axis);
    const int64_t bridge = longest_bridge(window);
    int64_t step = 0;
    const std::vector<int64_t> ticks = time_ticks(axis, &step);

    const LinePanel wind{{72, 104, 264}, "kn", true, {kWind, kGust}};
    const LinePanel pressure{{292, 300, 420}, "hPa", false, {kPressure}};
    const LinePanel temperature{{448, 456, 596}, "\u00b0C", false, {kAirTemp, kDewPoint}};

    Doc doc(644);
    heading(doc, title, axis);
    const double legend_end = draw_lines(doc, wind, window, axis, ticks, bridge);
    doc.line(legend_end + 2, 68, legend_end + 16, 68,
             "stroke=\"#333\" stroke-width=\"1.2\" marker-end=\"url(#head)\"");
    doc.text(legend_end + 24, 72, "wind direction (arrow points where it blows to)");
    wind_arrows(doc, window, axis, 88);
    draw_lines(doc, pressure, window, axis, ticks, bridge);
    draw_lines(doc, temperature, window, axis, ticks, bridge);
    time_labels(doc, temperature.frame, axis, ticks, step);
    return doc.finish();
}

std::string traffic_svg(const std::vector<HourBar>& bars, const std::vector<Interval>& gaps,
                        int64_t from, int64_t to, const std::string& title) {
    const TimeAxis axis = make_axis(from, to);
    int64_t step = 0;
    const std::vector<int64_t> ticks = time_ticks(axis, &step);
    const Frame frame{72, 80, 380};

    std::vector<HourBar> shown;
    double most = 0;
    for (const HourBar& bar : bars) {
        if (bar.hour_start < axis.to && bar.hour_start > axis.from - 3600 && total(bar) > 0) {
            shown.push_back(bar);
            most = std::max(most, total(bar));
        }
    }
    const Scale scale = make_scale(0, most, true, 1, frame.top, frame.bottom);

    Doc doc(430);
    heading(doc, title, axis);
    axes(doc, frame, scale, axis, ticks, "records per hour");
    // Gaps over the bars: a silence inside an hour shows through its bar.
    for (const HourBar& bar : shown) {
        draw_bar(doc, bar, axis, scale);
    }
    for (const Interval& gap : gaps) {
        const int64_t a = std::max(gap.from, axis.from), b = std::min(gap.to, axis.to);
        if (a < b) {
            doc.rect(axis.x(a), frame.top, axis.x(b) - axis.x(a), frame.bottom - frame.top,
                     "class=\"gap\" " + std::string(kGapFill));
        }
    }
    double x = legend_box(doc, kLeft, frame.legend_y, "ships", kShipFill);
    x = legend_box(doc, x, frame.legend_y, "stations, aids to navigation, own", kStationFill);
    x = legend_box(doc, x, frame.legend_y, "data link", kLinkFill);
    legend_box(doc, x, frame.legend_y, "nothing logged", kGapFill);
    frame_box(doc, frame, shown.empty());
    time_labels(doc, frame, axis, ticks, step);
    return doc.finish();
}

}  // namespace logtool
