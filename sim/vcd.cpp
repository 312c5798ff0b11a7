#include "vcd.h"

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
    static const std::vector<VcdSignal> signals{
        {13, "led", false},
        {33, "output1", false},
        {32, "output2", false},
        {31, "output3", false},
        {30, "output4", false},
        {34, "sd_ready", false},
        {35, "pin35", false},
        {10, "ais_disable", false},
        {4, "ais_m1", false},
        {5, "ais_m2", false},
        {11, "ais_m3", false},
        {12, "ais_m4", false},
        {29, "sensor1_disable", false},
        {15, "sensor1_m1", false},
        {17, "sensor1_m2", false},
        {16, "sensor1_m3", false},
        {14, "sensor1_m4", false},
        {42, "sensor2_disable", false},
        {38, "sensor2_m1", false},
        {28, "sensor2_m2", false},
        {22, "sensor2_m3", false},
        {23, "sensor2_m4", false},
        {36, "input1", true},
        {37, "input2", true},
        {44, "input3", true},
        {43, "input4", true},
        {20, "mode_pin20", true},
        {24, "mode_pin24", true},
    };
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
