// Invariant monitors: each watches one property of the station from what
// crosses its wires (UART bytes both ways, USB text, pins, restarts) and
// from the devices around it (the card image, the clock model, the
// configuration EEPROM image, the transponder's GPS time and faults), never
// from the firmware's memory. A violation is printed on stderr when it is
// seen, with its virtual time, and kept for the closing summary.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "codec/config_image.h"
#include "host/machine.h"

namespace sim::monitors {

struct Violation {
    host::Micros at;
    std::string monitor;
    std::string what;
};

// Where violations go: printed as they come (unless `out` is null) and kept.
class Report {
  public:
    explicit Report(std::FILE* out = stderr) : out_(out) {}
    void add(const std::string& monitor, const std::string& what);
    const std::vector<Violation>& violations() const { return violations_; }
    // "[check] no violation" or one line per violation, to `out`.
    void summary(std::FILE* out) const;

  private:
    std::FILE* out_;
    std::vector<Violation> violations_;
};

// What the monitors may consult besides the wire: device models and files.
// A function left empty means the device is not there.
struct World {
    // UART ports of the lines: the transponder's and each sensor channel's.
    static constexpr uint8_t kAisPort = 0;
    static constexpr uint8_t kChannelPorts[2] = {3, 1};
    // The transponder's GPS time now, in seconds since 1970.
    std::function<int64_t()> gps_utc;
    // The MCP7940 model's time now (seconds since 1970), or nothing while
    // its oscillator does not run.
    std::function<std::optional<int64_t>()> station_clock;
    // The configuration as the EEPROM image holds it now.
    std::function<codec::StationConfig()> configuration;
    // The transponder cannot confirm anything now: switched off or one of
    // its faults on (silent, bad checksums, NAK, late replies, a PC).
    std::function<bool()> transponder_disturbed;
    // The period (s) the transponder reports for message 8; 0: none.
    std::function<unsigned()> msg8_period_s;
    // The card image file.
    std::string card_image;
    // The peer on this UART port sends bad sentences on purpose (a fault
    // switched on, recorded traffic as it came).
    std::function<bool(uint8_t port)> noisy_inbound;
};

class Monitor : public host::MachineListener {
  public:
    Monitor(const char* name, Report* report) : name_(name), report_(report) {}
    const char* name() const { return name_; }
    // After the run, with the station switched off.
    virtual void finish() {}

  protected:
    void violation(const std::string& what) { report_->add(name_, what); }

  private:
    const char* name_;
    Report* report_;
};

// Gathers one line's bytes into lines ending in LF. A '$' or '!' starts a
// new line, as it does for an NMEA receiver: what came before it without a
// line end (noise, a sentence cut when a port closed) is no line; but not
// after a tag block or inside a TIDELINK frame, where it belongs.
class LineReader {
  public:
    // The whole line (LF included) when this byte ends one.
    std::optional<std::string> add(uint8_t byte);
    // What the station took of a line it lost bytes of is no line: the one
    // under way is dropped at its end.
    void add(uint8_t byte, bool accepted, std::optional<std::string>* line);
    void clear() {
        line_.clear();
        damaged_ = false;
    }

  private:
    std::string line_;
    bool damaged_ = false;
};

// Lines that start with '$' or '!' from a text ending in CR LF: the sentence
// without its line end, or nothing.
std::optional<std::string> sentence_of(const std::string& line);
// Field `index` (0: the address field) of a sentence without checksum.
std::vector<std::string> fields_of(const std::string& sentence);
// "2025-05-20 10:00:00" of a time in seconds since 1970, or in the strftime
// format given.
std::string utc_text(int64_t seconds, const char* format = "%Y-%m-%d %H:%M:%S");

// Every monitor of the station, listening from construction: the simulator
// makes one with --check.
class Checker {
  public:
    Checker(World world, std::FILE* out = stderr);
    ~Checker();
    Checker(const Checker&) = delete;
    Checker& operator=(const Checker&) = delete;
    // Ends every monitor (after power_off) and prints the summary; true when
    // nothing was violated.
    bool finish(std::FILE* out = stderr);
    const Report& report() const { return report_; }

  private:
    Report report_;
    std::vector<std::unique_ptr<Monitor>> monitors_;
};

}  // namespace sim::monitors
