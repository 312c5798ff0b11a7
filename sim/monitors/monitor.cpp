#include "monitors/monitor.h"

#include <ctime>

#include "codec/nmea.h"
#include "monitors/monitors.h"

namespace sim::monitors {
namespace {

std::string time_text(host::Micros at) {
    char text[32];
    std::snprintf(text, sizeof text, "%llu.%06llu s", static_cast<unsigned long long>(at / 1000000),
                  static_cast<unsigned long long>(at % 1000000));
    return text;
}

}  // namespace

void Report::add(const std::string& monitor, const std::string& what) {
    violations_.push_back({host::now(), monitor, what});
    if (out_ != nullptr) {
        std::fprintf(out_, "[check] %s %s: %s\n", time_text(host::now()).c_str(), monitor.c_str(),
                     what.c_str());
        std::fflush(out_);
    }
}

void Report::summary(std::FILE* out) const {
    if (violations_.empty()) {
        std::fprintf(out, "[check] no violation\n");
        return;
    }
    std::fprintf(out, "[check] %zu violation%s:\n", violations_.size(),
                 violations_.size() == 1 ? "" : "s");
    for (const Violation& v : violations_) {
        std::fprintf(out, "[check]   %s %s: %s\n", time_text(v.at).c_str(), v.monitor.c_str(),
                     v.what.c_str());
    }
}

namespace {

// What a '$' or '!' may follow on one line: a tag block (\s:...\) or a
// TIDELINK frame (2,17,A,B,T$1 LEVEL), printable text both.
bool may_hold_a_sentence_start(const std::string& line) {
    if (line.empty() || (line[0] != '\\' && (line[0] < '0' || line[0] > '9'))) {
        return false;
    }
    for (const char c : line) {
        if (c < 0x20 || c > 0x7E) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::optional<std::string> LineReader::add(uint8_t byte) {
    if ((byte == '$' || byte == '!') && !may_hold_a_sentence_start(line_)) {
        line_.clear();
    }
    line_ += static_cast<char>(byte);
    if (byte != '\n') {
        // A line with no end in sight is noise; keep the end of it.
        if (line_.size() > 4096) {
            line_.erase(0, 2048);
        }
        return std::nullopt;
    }
    std::string line;
    line.swap(line_);
    return line;
}

void LineReader::add(uint8_t byte, bool accepted, std::optional<std::string>* line) {
    line->reset();
    if (!accepted) {
        damaged_ = true;
        return;
    }
    if ((byte == '$' || byte == '!') && !may_hold_a_sentence_start(line_)) {
        damaged_ = false;
    }
    *line = add(byte);
    if (*line && damaged_) {
        damaged_ = false;
        line->reset();
    }
}

std::optional<std::string> sentence_of(const std::string& line) {
    if (line.size() < 3 || (line[0] != '$' && line[0] != '!')) {
        return std::nullopt;
    }
    size_t end = line.size();
    while (end > 0 && (line[end - 1] == '\n' || line[end - 1] == '\r')) {
        --end;
    }
    return line.substr(0, end);
}

std::vector<std::string> fields_of(const std::string& sentence) {
    std::string body = sentence.substr(sentence.empty() ? 0 : 1);
    const size_t star = body.find('*');
    if (star != std::string::npos) {
        body.resize(star);
    }
    return codec::split_fields(body);
}

std::string utc_text(int64_t seconds, const char* format) {
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm parts{};
    gmtime_r(&t, &parts);
    char text[32];
    std::strftime(text, sizeof text, format, &parts);
    return text;
}

Checker::Checker(World world, std::FILE* out) : report_(out) {
    monitors_.push_back(std::make_unique<CardLogMonitor>(world, &report_));
    monitors_.push_back(std::make_unique<BroadcastMonitor>(world, &report_));
    monitors_.push_back(std::make_unique<PcHoldMonitor>(&report_));
    monitors_.push_back(std::make_unique<RestartMonitor>(&report_));
    monitors_.push_back(std::make_unique<CardFsckMonitor>(world, &report_));
    monitors_.push_back(std::make_unique<ClockMonitor>(world, &report_));
    monitors_.push_back(std::make_unique<SafetyMessageMonitor>(world, &report_));
    monitors_.push_back(std::make_unique<SentenceMonitor>(world, &report_));
    for (const auto& monitor : monitors_) {
        host::add_listener(monitor.get());
    }
}

Checker::~Checker() {
    for (const auto& monitor : monitors_) {
        host::remove_listener(monitor.get());
    }
}

bool Checker::finish(std::FILE* out) {
    for (const auto& monitor : monitors_) {
        monitor->finish();
    }
    report_.summary(out);
    return report_.violations().empty();
}

}  // namespace sim::monitors
