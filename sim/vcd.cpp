#include "vcd.h"

#include "ktr09_board.h"

namespace sim {
namespace {

char value_char(int level) {
    return level < 0 ? 'z' : (level != 0 ? '1' : '0');
}

// Identifiers are short runs of printable characters, '!' onwards.
std::string identifier(size_t index) {
    std::string id;
    do {
        id += static_cast<char>('!' + index % 94);
        index /= 94;
    } while (index > 0);
    return id;
}

}  // namespace

const std::vector<VcdSignal>& vcd_signals() {
    // The board's digital pins; the analog ones carry no levels.
    static const std::vector<VcdSignal> signals = [] {
        std::vector<VcdSignal> digital;
        for (const board::Pin& pin : board::kPins) {
            if (pin.mode == OUTPUT || pin.mode == INPUT_PULLUP) {
                digital.push_back({pin.number, pin.name, pin.mode != OUTPUT});
            }
        }
        return digital;
    }();
    return signals;
}

VcdWriter::VcdWriter(std::FILE* out) : out_(out) {
    std::fputs("$version ktr09-sim $end\n$timescale 1us $end\n$scope module ktr09 $end\n", out_);
    const std::vector<VcdSignal>& signals = vcd_signals();
    for (size_t i = 0; i < signals.size(); ++i) {
        ids_.push_back(identifier(i));
        std::fprintf(out_, "$var wire 1 %s %s_p%u $end\n", ids_[i].c_str(), signals[i].name,
                     static_cast<unsigned>(signals[i].pin));
    }
    std::fputs("$upscope $end\n$enddefinitions $end\n", out_);
    written_time_ = host::now();
    std::fprintf(out_, "#%llu\n$dumpvars\n", static_cast<unsigned long long>(written_time_));
    for (size_t i = 0; i < signals.size(); ++i) {
        const int level = signals[i].input ? -1 : host::output_level(signals[i].pin);
        std::fprintf(out_, "%c%s\n", value_char(level), ids_[i].c_str());
    }
    std::fputs("$end\n", out_);
    host::add_listener(this);
}

VcdWriter::~VcdWriter() {
    if (listening_) {
        host::remove_listener(this);
    }
}

void VcdWriter::finish() {
    stamp(host::now());
    std::fflush(out_);
    if (listening_) {
        host::remove_listener(this);
        listening_ = false;
    }
}

void VcdWriter::output_changed(uint32_t pin, int level) {
    change(pin, false, level);
}

void VcdWriter::input_changed(uint32_t pin, int level) {
    change(pin, true, level);
}

void VcdWriter::change(uint32_t pin, bool input, int level) {
    const std::vector<VcdSignal>& signals = vcd_signals();
    for (size_t i = 0; i < signals.size(); ++i) {
        if (signals[i].pin == pin && signals[i].input == input) {
            stamp(host::now());
            std::fprintf(out_, "%c%s\n", value_char(level), ids_[i].c_str());
            return;
        }
    }
}

void VcdWriter::stamp(host::Micros time) {
    if (time != written_time_) {
        written_time_ = time;
        std::fprintf(out_, "#%llu\n", static_cast<unsigned long long>(time));
    }
}

}  // namespace sim
