// The transponder's hand-over to a PC, restarts and the clock.
#include <cstdlib>

#include "monitors/monitors.h"

namespace sim::monitors {

// ---- The transponder held for a PC ------------------------------------------------

void PcHoldMonitor::uart_from_station(uint8_t port, uint8_t byte) {
    if (port != World::kAisPort) {
        return;
    }
    auto line = from_station_.add(byte);
    if (!line || !sentence_of(*line)) {
        return;
    }
    const bool hold = line->find("gpsfilt 49") != std::string::npos;
    if (hold && !held_) {
        held_ = true;
        reported_ = false;
        // The station saw a PC's sign to start holding, whatever it was.
        last_pc_sign_ = std::max(last_pc_sign_, host::now());
    } else if (!hold) {
        held_ = false;
    }
    check();
}

void PcHoldMonitor::uart_to_station(uint8_t port, uint8_t byte, bool accepted) {
    if (port != World::kAisPort) {
        return;
    }
    std::optional<std::string> line;
    to_station_.add(byte, accepted, &line);
    std::optional<std::string> sentence = line ? sentence_of(*line) : std::nullopt;
    if (!sentence) {
        return;
    }
    const std::vector<std::string> fields = fields_of(*sentence);
    const std::string address = fields.empty() ? std::string() : fields[0];
    // A PC talks to the transponder: its text, or (while the station asks
    // nothing) any reply that is not GPS or AIS traffic.
    const bool text = sentence->find("USB connected") != std::string::npos;
    const bool reply = held_ && address.size() == 5 && address.rfind("GP", 0) != 0 &&
                       address.substr(2) != "VDM" && address.substr(2) != "VDO";
    if (text || reply) {
        last_pc_sign_ = host::now();
    }
    check();
}

void PcHoldMonitor::restarting(const char* /*reason*/) {
    held_ = false;
    from_station_.clear();
}

void PcHoldMonitor::check() {
    if (held_ && !reported_ && host::now() > last_pc_sign_ + kLongestHold) {
        reported_ = true;
        violation("the transponder is still held for a PC " +
                  std::to_string((host::now() - last_pc_sign_) / host::kSecond) +
                  " s after the PC's last sign");
    }
}

// ---- Restarts ---------------------------------------------------------------------------

void RestartMonitor::usb_to_station(const uint8_t* data, size_t size, bool accepted) {
    if (!accepted) {
        return;
    }
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == '\r' || data[i] == '\n') {
            format_asked_ = format_asked_ || typed_.rfind("FORMAT SD", 0) == 0;
            typed_.clear();
        } else if (typed_.size() < 64) {
            typed_ += static_cast<char>(data[i]);
        }
    }
}

void RestartMonitor::restarting(const char* reason) {
    const std::string why = reason;
    // The console's FORMAT SD ends in a restart by the watchdog.
    if (why == "watchdog" && !format_asked_) {
        violation("a watchdog restart");
    }
    format_asked_ = false;
    typed_.clear();
}

// ---- The clock ---------------------------------------------------------------------------

ClockMonitor::ClockMonitor(const World& world, Report* report)
    : Monitor("clock", report), world_(world) {}

void ClockMonitor::uart_to_station(uint8_t port, uint8_t byte, bool accepted) {
    if (port != World::kAisPort) {
        return;
    }
    std::optional<std::string> line;
    line_.add(byte, accepted, &line);
    if (!line || line->rfind("$GPRMC,", 0) != 0 || !world_.station_clock || !world_.gps_utc) {
        return;
    }
    const std::optional<int64_t> clock = world_.station_clock();
    if (!clock) {
        return;  // a clock that does not run keeps no time to judge
    }
    const int64_t gps = world_.gps_utc();
    const int64_t off = *clock - gps;
    if (std::llabs(off) <= kMostOff) {
        synchronised_ = true;
        off_ = false;
    } else if (synchronised_ && !off_) {
        off_ = true;
        violation("the clock says " + utc_text(*clock) + ", GPS time " + utc_text(gps) + " (" +
                  std::to_string(off) + " s)");
    }
}

}  // namespace sim::monitors
