#include "transcript.h"

#include <algorithm>
#include <iterator>
#include <utility>

#include "ktr09_board.h"

namespace sim {
namespace {

std::string timestamp(host::Micros t) {
    char text[32];
    std::snprintf(text, sizeof text, "%06llu.%06llu",
                  static_cast<unsigned long long>(t / host::kSecond),
                  static_cast<unsigned long long>(t % host::kSecond));
    return text;
}

std::string quoted(const std::string& bytes) {
    std::string out = "\"";
    for (const char c : bytes) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (c >= 0x20 && c < 0x7f) {
                    out += c;
                } else {
                    char hex[8];
                    std::snprintf(hex, sizeof hex, "\\x%02x", static_cast<unsigned char>(c));
                    out += hex;
                }
        }
    }
    return out + "\"";
}

std::string uart_stream(uint8_t port, const char* direction) {
    return "uart" + std::to_string(port) + direction;
}

}  // namespace

std::vector<uint32_t> transcript_pins(bool led) {
    // Outputs 1..4 and the line drivers of the three channels.
    std::vector<uint32_t> pins(std::begin(board::kOutputs), std::end(board::kOutputs));
    for (const board::LineDriver* driver :
         {&board::kAisDriver, &board::kSensor1Driver, &board::kSensor2Driver}) {
        pins.push_back(driver->disable);
        pins.insert(pins.end(), std::begin(driver->mode), std::end(driver->mode));
    }
    if (led) {
        pins.push_back(board::kLed);
    }
    return pins;
}

Transcript::Transcript(std::FILE* out, std::vector<uint32_t> pins)
    : out_(out), pins_(std::move(pins)) {
    std::fputs("# virtual time (s), then: usb/uartN > sent by the station, < sent to it;\n", out_);
    std::fputs("# pin N level (z: not driven); restart reason\n", out_);
    host::add_listener(this);
}

Transcript::~Transcript() {
    if (listening_) {
        host::remove_listener(this);
    }
}

void Transcript::finish() {
    for (Line& line : lines_) {
        line.open = false;
    }
    write_ready();
    std::fprintf(out_, "%s end\n", timestamp(host::now()).c_str());
    std::fflush(out_);
    if (listening_) {
        host::remove_listener(this);
        listening_ = false;
    }
}

void Transcript::usb_from_station(const uint8_t* data, size_t size) {
    bytes("usb>", data, size);
}

void Transcript::usb_to_station(const uint8_t* data, size_t size, bool accepted) {
    bytes(accepted ? "usb<" : "usb< lost", data, size);
}

void Transcript::uart_from_station(uint8_t port, uint8_t byte) {
    bytes(uart_stream(port, ">"), &byte, 1);
}

void Transcript::uart_to_station(uint8_t port, uint8_t byte, bool accepted) {
    bytes(uart_stream(port, accepted ? "<" : "< lost"), &byte, 1);
}

void Transcript::output_changed(uint32_t pin, int level) {
    if (std::find(pins_.begin(), pins_.end(), pin) == pins_.end()) {
        return;
    }
    whole_line("pin " + std::to_string(pin) + " " + (level < 0 ? "z" : std::to_string(level)));
}

void Transcript::restarting(const char* reason) {
    // What follows a restart is a new burst on every port.
    for (Line& line : lines_) {
        line.open = false;
    }
    whole_line(std::string("restart ") + reason);
}

void Transcript::bytes(const std::string& stream, const uint8_t* data, size_t size) {
    close_quiet_bursts();
    const host::Micros now = host::now();
    for (size_t i = 0; i < size; ++i) {
        auto open = std::find_if(lines_.rbegin(), lines_.rend(), [&stream](const Line& line) {
            return line.open && line.stream == stream;
        });
        Line* line = open != lines_.rend() ? &*open : nullptr;
        if (line == nullptr) {
            lines_.push_back(Line{now, stream, "", now, true});
            line = &lines_.back();
        }
        line->text += static_cast<char>(data[i]);
        line->last = now;
        if (data[i] == '\n' || line->text.size() >= kBurstLimit) {
            line->open = false;
        }
    }
    write_ready();
}

void Transcript::whole_line(std::string text) {
    close_quiet_bursts();
    lines_.push_back(Line{host::now(), "", std::move(text), 0, false});
    write_ready();
}

void Transcript::close_quiet_bursts() {
    const host::Micros now = host::now();
    for (Line& line : lines_) {
        if (line.open && now - line.last > kBurstGap) {
            line.open = false;
        }
    }
}

void Transcript::write_ready() {
    while (!lines_.empty() && !lines_.front().open) {
        const Line& line = lines_.front();
        if (line.stream.empty()) {
            std::fprintf(out_, "%s %s\n", timestamp(line.start).c_str(), line.text.c_str());
        } else {
            std::fprintf(out_, "%s %s %s\n", timestamp(line.start).c_str(), line.stream.c_str(),
                         quoted(line.text).c_str());
        }
        lines_.pop_front();
    }
}

}  // namespace sim
