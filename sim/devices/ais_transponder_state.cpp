// The transponder's state file: one table of its settings and faults, each
// with how it is read from its line, written back, and what a good value is.
// The simulator and ktr09-link (which gives each linked station its
// identity) both write it through this table.
#include <sstream>

#include "devices/ais_transponder.h"
#include "devices/state_file.h"

namespace sim {

bool set_report_delay(unsigned low_ms, unsigned high_ms, AisTransponder::Settings* settings) {
    if (low_ms == 0 || low_ms > high_ms || high_ms > AisTransponder::kMaxReportDelayMs) {
        return false;
    }
    settings->report_delay_min_ms = low_ms;
    settings->report_delay_max_ms = high_ms;
    settings->report_delay_pinned = true;
    return true;
}

namespace {

using Settings = AisTransponder::Settings;
using Faults = AisTransponder::Faults;

struct State {
    Settings settings;
    Faults faults;
};
using Entry = StateEntry<State>;

template <typename T>
bool parse_number(const std::string& text, T* value) {
    std::istringstream in(text);
    T parsed{};
    if (!(in >> parsed) || !in.eof()) {
        return false;
    }
    *value = parsed;
    return true;
}

template <typename T>
std::string text_of(const T& value) {
    std::ostringstream out;
    out << value;
    return out.str();
}

// A whole number of the settings within [low, high].
template <typename T>
Entry number(const char* name, const char* expected, T Settings::*field, double low, double high) {
    return {name, expected,
            [field, low, high](const std::string& text, State* state) {
                T value{};
                if (!parse_number(text, &value) || value < low || value > high) {
                    return false;
                }
                state->settings.*field = value;
                return true;
            },
            [field](const State& state) { return text_of(state.settings.*field); }};
}

// Texts go into sentences: no field or checksum separators.
Entry text(const char* name, std::string Settings::*field) {
    return {name, "text without , * $ or !",
            [field](const std::string& value, State* state) {
                if (value.find_first_of(",*$!") != std::string::npos) {
                    return false;
                }
                state->settings.*field = value;
                return true;
            },
            [field](const State& state) { return state.settings.*field; }};
}

bool parse_flag(const std::string& text, bool* value) {
    if (text != "0" && text != "1") {
        return false;
    }
    *value = text == "1";
    return true;
}

Entry flag(const char* name, bool Settings::*field) {
    return {name, "0 (off) or 1 (on)",
            [field](const std::string& value, State* state) {
                return parse_flag(value, &(state->settings.*field));
            },
            [field](const State& state) { return std::string(state.settings.*field ? "1" : "0"); }};
}

Entry fault(const char* name, bool Faults::*field) {
    return {name, "0 (off) or 1 (on)",
            [field](const std::string& value, State* state) {
                return parse_flag(value, &(state->faults.*field));
            },
            [field](const State& state) { return std::string(state.faults.*field ? "1" : "0"); }};
}

Entry position(const char* name, bool latitude, int64_t Settings::*field) {
    return {name, latitude ? "ddmm.mmmmmN or S" : "dddmm.mmmmmE or W",
            [latitude, field](const std::string& value, State* state) {
                return transponder_text::parse_position(value, latitude, &(state->settings.*field));
            },
            [latitude, field](const State& state) {
                return transponder_text::position(state.settings.*field, latitude);
            }};
}

// "1500" for a fixed delay, "200 4000" for a spread.
bool parse_report_delay(const std::string& text, Settings* s) {
    const size_t space = text.find(' ');
    unsigned low = 0;
    unsigned high = 0;
    if (!parse_number(text.substr(0, space), &low) ||
        (space != std::string::npos && !parse_number(text.substr(space + 1), &high))) {
        return false;
    }
    if (space == std::string::npos) {
        high = low;
    }
    if (!set_report_delay(low, high, s)) {
        return false;
    }
    // The default a new file holds leaves a seeded run its own spread.
    s->report_delay_pinned = low != high || low != AisTransponder::kDefaultReportDelayMs;
    return true;
}

std::string report_delay_text(const Settings& s) {
    if (s.report_delay_min_ms == s.report_delay_max_ms) {
        return text_of(s.report_delay_min_ms);
    }
    return text_of(s.report_delay_min_ms) + " " + text_of(s.report_delay_max_ms);
}

constexpr double kLastMmsi = 999999999;
constexpr double kMany = 4294967295.0;

const std::vector<Entry>& table() {
    static const std::vector<Entry> entries = {
        number("mmsi", "an MMSI, 1..999999999", &Settings::mmsi, 1, kLastMmsi),
        text("name", &Settings::name),
        number("msg6_destination", "an MMSI, or 0 for none", &Settings::msg6_destination, 0,
               kLastMmsi),
        number("aton_type", "0..31", &Settings::aton_type, 0, 31),
        text("firmware", &Settings::firmware),
        text("serial", &Settings::serial),
        number("vswr_tenths", "a whole number", &Settings::vswr_tenths, 0, kMany),
        number("supply_volts", "a number of volts", &Settings::supply_volts, 0, 100),
        number("aton_status", "0..255", &Settings::aton_status, 0, 255),
        number("msg6_period_s", "whole seconds, 0 for none", &Settings::msg6_period_s, 0, kMany),
        number("msg8_period_s", "whole seconds, 0 for none", &Settings::msg8_period_s, 0, kMany),
        number("msg12_period_s", "whole seconds, 0 for none", &Settings::msg12_period_s, 0, kMany),
        number("scheme", "0 (RATDMA) or 1 (FATDMA)", &Settings::scheme, 0, 1),
        number("message_index", "a whole number", &Settings::message_index, 0, kMany),
        flag("mcr_configured", &Settings::mcr_configured),
        flag("gps_output", &Settings::gps_output),
        position("gps_latitude", true, &Settings::latitude),
        position("gps_longitude", false, &Settings::longitude),
        {"gps_utc_start", "a UTC time as 2025-05-20T10:00:00",
         [](const std::string& value, State* state) {
             return transponder_text::parse_utc(value, &state->settings.utc_start);
         },
         [](const State& state) { return transponder_text::utc(state.settings.utc_start); }},
        flag("gps_fix", &Settings::gps_fix),
        number("gps_satellites", "0..24", &Settings::satellites, 0, 24),
        number("gps_hdop", "0..99.99", &Settings::hdop, 0, 99.99),
        number("msg21_period_s", "whole seconds, 0 for none", &Settings::msg21_period_s, 0, kMany),
        flag("position_accuracy", &Settings::position_accuracy),
        flag("virtual_aton", &Settings::virtual_aton),
        {"report_delay_ms", "ms as 1500, or a spread as \"200 4000\" (at most 10000)",
         [](const std::string& value, State* state) {
             return parse_report_delay(value, &state->settings);
         },
         [](const State& state) { return report_delay_text(state.settings); }},
        fault("silent", &Faults::silent),
        fault("bad_checksums", &Faults::bad_checksums),
        fault("nak_all", &Faults::nak_all),
        fault("late_replies", &Faults::late_replies),
        fault("pc_attached", &Faults::pc_attached),
    };
    return entries;
}

}  // namespace

bool AisTransponder::load(const std::string& file, std::string* error) {
    std::vector<StateLine> lines;
    if (read_state_lines(file, &lines, error, StateValue::rest_of_line) == StateRead::failed) {
        return false;
    }
    State state{settings_, faults_};
    if (!read_state_entries(file, lines, table(), &state, error)) {
        return false;
    }
    settings_ = state.settings;
    faults_ = state.faults;
    return true;
}

std::string AisTransponder::state_text(const Settings& settings, const Faults& faults) {
    return "# AIS AtoN transponder on the AIS channel: identity, settings and faults\n"
           "# (periods in seconds, 0 = message not configured; scheme 0 RATDMA, 1 FATDMA;\n"
           "# flags 0 or 1). Its GPS: position as ddmm.mmmmmN / dddmm.mmmmmW, the UTC\n"
           "# when the simulation starts, fix, satellites in use and HDOP. report_delay_ms:\n"
           "# from a broadcast request to its !AIVDO report, fixed or \"min max\".\n" +
           state_entries_text(table(), State{settings, faults});
}

bool AisTransponder::save(const std::string& file, std::string* error) const {
    *error = replace_state_file(file, state_text(settings_, faults_));
    return error->empty();
}

}  // namespace sim
