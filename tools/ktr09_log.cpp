// ktr09-log: reads a station's card (mounted, or an image) and tells what
// its log holds: a summary per day or hour, the records, weather broadcasts
// or ships as CSV, and pictures of the weather and the traffic as SVG.
#include <CLI/CLI.hpp>
#include <climits>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <string>

#include "log_card.h"
#include "log_report.h"
#include "log_svg.h"
#include "log_time.h"
#include "log_traffic.h"
#include "sim/exit_codes.h"

namespace {

using namespace logtool;

constexpr size_t kShownProblems = 20;

struct Selection {
    std::string card;
    std::string from, to;
    std::string only;  // "25_05_20" or "25_05_20/10"
    int64_t from_utc = INT64_MIN;
    int64_t to_utc = INT64_MAX;
};

void add_selection(CLI::App* command, Selection* selection) {
    command
        ->add_option("card", selection->card,
                     "the card: its mounted directory (or one day's directory or one hour's "
                     "file in it), an image file, or the card's device")
        ->required();
    command->add_option("--from", selection->from,
                        "from this UTC time on: 2025-05-20, \"2025-05-20 10:30\", or Unix seconds");
    command->add_option("--to", selection->to, "up to this UTC time (not included)");
    command->add_option("--only", selection->only,
                        "one day's directory (25_05_20) or one hour of it (25_05_20/10)");
}

int fail(const std::string& message, int code) {
    std::fprintf(stderr, "ktr09-log: %s\n", message.c_str());
    return code;
}

// Reads the selected files of the card into `log`; `row` sees each record.
// The exit code: 0, or a state error when the card or a file on it cannot
// be read (the rest is still read) or it holds no station files.
int read_card(Selection& selection, std::unique_ptr<TrafficLog>* log,
              const std::function<void(const RecordFacts&)>& row = {}) {
    for (auto [text, utc] : {std::pair{&selection.from, &selection.from_utc},
                             std::pair{&selection.to, &selection.to_utc}}) {
        if (text->empty()) {
            continue;
        }
        const std::optional<int64_t> parsed = parse_utc(*text);
        if (!parsed) {
            return fail("not a UTC time: \"" + *text +
                            "\" (expected 2025-05-20, "
                            "\"2025-05-20 10:30\" or Unix seconds)",
                        sim::kExitUsage);
        }
        *utc = *parsed;
    }
    std::string error;
    const std::optional<Card> card = Card::open(selection.card, &error);
    if (!card) {
        return fail(error, sim::kExitStateError);
    }
    *log = std::make_unique<TrafficLog>(selection.from_utc, selection.to_utc);
    int code = sim::kExitDone;
    size_t read = 0;
    for (const LogFile& file : card->files()) {
        if (!(*log)->wanted(file) || !within(file, selection.only)) {
            continue;
        }
        std::string bytes;
        if (!card->read(file, &bytes, &error)) {
            code = fail(file.name + ": cannot be read: " + error, sim::kExitStateError);
            (*log)->add_unreadable(file, error);
            continue;
        }
        (*log)->add_file(file, bytes, row);
        ++read;
    }
    if (card->files().empty()) {
        log->reset();
        return fail(card->description() +
                        ": no station log files (day directories such as "
                        "25_05_20 holding 10_vdm.txt)",
                    sim::kExitStateError);
    }
    if (read == 0 && code == sim::kExitDone) {
        std::fprintf(stderr, "ktr09-log: %s: no log file in the period asked for\n",
                     card->description().c_str());
    }
    return code;
}

void report_problems(const TrafficLog& log) {
    const std::vector<Problem>& problems = log.problems();
    for (size_t i = 0; i < problems.size() && i < kShownProblems; ++i) {
        std::fprintf(stderr, "ktr09-log: %s: offset %llu: %s\n", problems[i].file.c_str(),
                     static_cast<unsigned long long>(problems[i].offset),
                     damage_text(problems[i].damage));
    }
    if (problems.size() > kShownProblems) {
        std::fprintf(stderr, "ktr09-log: ... and %zu more damaged records\n",
                     problems.size() - kShownProblems);
    }
}

// The MMSI whose weather to draw: the one asked for, or the one heard most.
int64_t weather_source(const TrafficLog& log, int64_t asked) {
    if (asked >= 0) {
        return asked;
    }
    std::map<int64_t, size_t> reports;
    int64_t best = -1;
    for (const WeatherReport& report : log.weather()) {
        if (++reports[report.mmsi] > (best < 0 ? 0 : reports[best])) {
            best = report.mmsi;
        }
    }
    return best;
}

bool write_file(const std::filesystem::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    return static_cast<bool>(out);
}

int plot(const TrafficLog& log, const Selection& selection, const std::string& directory,
         int64_t asked_mmsi) {
    const int64_t from = selection.from_utc != INT64_MIN ? selection.from_utc : log.first();
    const int64_t to = selection.to_utc != INT64_MAX ? selection.to_utc : log.last() + 1;
    const int64_t mmsi = weather_source(log, asked_mmsi);
    std::vector<WeatherSample> samples;
    for (const WeatherReport& r : log.weather()) {
        if (r.mmsi == mmsi) {
            samples.push_back(WeatherSample{r.utc, r.wind_kn, r.gust_kn, r.wind_dir_deg,
                                            r.gust_dir_deg, r.pressure_hpa, r.air_temp_c,
                                            r.dew_point_c});
        }
    }
    std::vector<HourBar> bars;
    for (const auto& [hour, counts] : log.hours()) {
        bars.push_back(HourBar{hour, static_cast<unsigned>(counts.ship_records),
                               static_cast<unsigned>(counts.station_records),
                               static_cast<unsigned>(counts.frames + counts.blocks)});
    }
    std::vector<Interval> gaps;
    for (const Gap& gap : log.gaps(kGapSeconds)) {
        gaps.push_back(Interval{gap.from, gap.to});
    }
    std::error_code code;
    std::filesystem::create_directories(directory, code);
    const std::string title = mmsi >= 0 ? "Weather broadcast by MMSI " + std::to_string(mmsi)
                                        : "Weather broadcast: none on the card";
    const std::filesystem::path weather = std::filesystem::path(directory) / "weather.svg";
    const std::filesystem::path traffic = std::filesystem::path(directory) / "traffic.svg";
    const std::string stations = log.stations().empty() ? "" : " at " + *log.stations().begin();
    if (!write_file(weather, weather_svg(samples, from, to, title)) ||
        !write_file(traffic,
                    traffic_svg(bars, gaps, from, to, "Records logged per hour" + stations))) {
        return fail(directory + ": the pictures cannot be written", sim::kExitStateError);
    }
    std::printf("%s\n%s\n", weather.c_str(), traffic.c_str());
    return sim::kExitDone;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"ktr09-log: what a station's card log holds"};
    app.require_subcommand(1);
    Selection selection;
    bool hourly = false;
    CLI::App* summary = app.add_subcommand("summary", "counts per day (or hour), gaps, damage");
    add_selection(summary, &selection);
    summary->add_flag("--hourly", hourly, "a row per hour");

    CLI::App* exporter = app.add_subcommand("export", "the records, weather or ships as CSV");
    add_selection(exporter, &selection);
    bool csv = true;
    bool weather = false;
    bool ships = false;
    std::string output = "-";
    int64_t mmsi = -1;
    exporter->add_flag("--csv", csv, "CSV (the only format)");
    auto* weather_flag =
        exporter->add_flag("--weather", weather, "a row per meteorological message 8 instead");
    exporter->add_flag("--ships", ships, "a row per MMSI heard instead")->excludes(weather_flag);
    exporter->add_option("-o,--output", output, "the CSV file (- for standard output)");
    exporter->add_option("--mmsi", mmsi, "with --weather: only this station's broadcasts");

    CLI::App* plotter = app.add_subcommand("plot", "weather.svg and traffic.svg");
    add_selection(plotter, &selection);
    std::string directory = ".";
    plotter->add_option("--out", directory, "the directory for the pictures");
    plotter->add_option("--mmsi", mmsi,
                        "the station whose weather to draw (default: the one "
                        "heard most)");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        const int code = app.exit(error);
        return code == 0 ? 0 : sim::kExitUsage;
    }

    std::unique_ptr<TrafficLog> log;
    if (summary->parsed()) {
        const int code = read_card(selection, &log);
        if (log) {
            write_summary(std::cout, *log, hourly, kShownProblems);
        }
        return code;
    }
    if (exporter->parsed()) {
        std::ofstream file;
        if (output != "-") {
            file.open(output, std::ios::binary | std::ios::trunc);
            if (!file) {
                return fail(output + ": cannot be written", sim::kExitStateError);
            }
        }
        std::ostream& out = output == "-" ? std::cout : file;
        const bool records = !weather && !ships;
        if (records) {
            write_record_header(out);
        }
        const int code =
            read_card(selection, &log,
                      records ? [&out](const RecordFacts& facts) { write_record_row(out, facts); }
                              : std::function<void(const RecordFacts&)>{});
        if (log && weather) {
            write_weather_csv(out, *log, mmsi);
        } else if (log && ships) {
            write_ships_csv(out, *log);
        }
        if (log) {
            report_problems(*log);
        }
        out.flush();
        return !out ? fail(output + ": cannot be written", sim::kExitStateError) : code;
    }
    const int code = read_card(selection, &log);
    if (!log) {
        return code;
    }
    report_problems(*log);
    const int drawn = plot(*log, selection, directory, mmsi);
    return drawn != sim::kExitDone ? drawn : code;
}
