// Sentences as they cross each line, both ways.
#include <algorithm>

#include "codec/nmea.h"
#include "monitors/monitors.h"

namespace sim::monitors {
namespace {

bool printable(char c) {
    return c >= 0x20 && c < 0x7F;
}

// "*hh" at `star` of `text` against the XOR of text[from, star).
std::string checksum_fault(const std::string& text, size_t from, size_t star) {
    if (star + 3 > text.size() || codec::hex_digit(text[star + 1]) < 0 ||
        codec::hex_digit(text[star + 2]) < 0) {
        return "a checksum that is not two hexadecimal digits";
    }
    uint8_t sum = 0;
    for (size_t i = from; i < star; ++i) {
        sum = static_cast<uint8_t>(sum ^ static_cast<uint8_t>(text[i]));
    }
    const int stated = codec::hex_digit(text[star + 1]) * 16 + codec::hex_digit(text[star + 2]);
    if (stated != sum) {
        char why[64];
        std::snprintf(why, sizeof why, "checksum %02X where the sentence gives %02X", stated, sum);
        return why;
    }
    return {};
}

std::string fields_fault(const std::string& text, size_t from, size_t end) {
    for (size_t i = from; i < end; ++i) {
        if (!printable(text[i])) {
            char why[64];
            std::snprintf(why, sizeof why, "byte 0x%02X at %zu is not printable",
                          static_cast<unsigned char>(text[i]), i);
            return why;
        }
    }
    return {};
}

// A '$' or '!' sentence (line end removed): printable fields and, when it
// has one, a matching checksum with nothing after it.
std::string sentence_fault(const std::string& text) {
    const size_t star = text.find('*');
    const size_t end = star == std::string::npos ? text.size() : star;
    if (std::string fault = fields_fault(text, 1, end); !fault.empty()) {
        return fault;
    }
    if (star == std::string::npos) {
        return text[0] == '$' ? std::string() : "no checksum";
    }
    if (std::string fault = checksum_fault(text, 1, star); !fault.empty()) {
        return fault;
    }
    return star + 3 == text.size() ? std::string() : "bytes after the checksum";
}

}  // namespace

std::string SentenceMonitor::judge_line(const std::string& line, bool from_station, bool tidelink) {
    if (line.size() < 2 || line.compare(line.size() - 2, 2, "\r\n") != 0) {
        return "a line that does not end in CR LF";
    }
    std::string text = line.substr(0, line.size() - 2);
    if (!text.empty() && text[0] == '\\') {
        const size_t end = text.find('\\', 1);
        if (end == std::string::npos) {
            return "a tag block with no end";
        }
        const size_t star = text.rfind('*', end);
        if (std::string fault = fields_fault(text, 1, end); !fault.empty()) {
            return "tag block: " + fault;
        }
        if (star == std::string::npos || star < 1 || star + 3 != end) {
            return "a tag block without checksum";
        }
        if (std::string fault = checksum_fault(text, 1, star); !fault.empty()) {
            return "tag block: " + fault;
        }
        text.erase(0, end + 1);
        // A data block relayed to a TIDELINK device goes as it came.
        if (tidelink && from_station && (text.empty() || (text[0] != '$' && text[0] != '!'))) {
            return {};
        }
    } else if (tidelink && from_station && (text.empty() || (text[0] != '$' && text[0] != '!'))) {
        return {};  // the rest of a relayed data block
    }
    if (tidelink && !from_station) {
        // A TIDELINK frame: its checksum covers every byte before the '*'.
        const size_t star = text.rfind('*');
        if (star == std::string::npos) {
            return "a frame without checksum";
        }
        if (std::string fault = fields_fault(text, 0, star); !fault.empty()) {
            return fault;
        }
        return checksum_fault(text, 0, star);
    }
    if (text.empty() || (text[0] != '$' && text[0] != '!')) {
        return "not a sentence";
    }
    return sentence_fault(text);
}

SentenceMonitor::SentenceMonitor(const World& world, Report* report)
    : Monitor("sentences", report), world_(world) {
    if (world.configuration) {
        const codec::StationConfig config = world.configuration();
        for (size_t i = 0; i < 2; ++i) {
            if (config.configuracion_sensor[i].csensor == 2) {
                tidelink_ports_.insert(World::kChannelPorts[i]);
            }
        }
    }
}

void SentenceMonitor::uart_from_station(uint8_t port, uint8_t byte) {
    if (auto text = lines_[{port, true}].add(byte)) {
        line(port, true, *text);
    }
}

void SentenceMonitor::uart_to_station(uint8_t port, uint8_t byte, bool /*accepted*/) {
    if (world_.noisy_inbound && world_.noisy_inbound(port)) {
        return;
    }
    if (auto text = lines_[{port, false}].add(byte)) {
        line(port, false, *text);
    }
}

void SentenceMonitor::restarting(const char* /*reason*/) {
    // What the station was sending stops where it was.
    for (auto& [key, reader] : lines_) {
        if (key.second) {
            reader.clear();
        }
    }
}

void SentenceMonitor::line(uint8_t port, bool from_station, const std::string& text) {
    const std::string fault = judge_line(text, from_station, tidelink_ports_.count(port) != 0);
    if (fault.empty()) {
        return;
    }
    std::string shown;
    for (const char c : text.substr(0, 100)) {
        if (printable(c)) {
            shown += c;
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", static_cast<unsigned char>(c));
            shown += hex;
        }
    }
    violation("uart" + std::to_string(port) + (from_station ? " from the station: " : " to it: ") +
              fault + ": " + shown);
}

}  // namespace sim::monitors
