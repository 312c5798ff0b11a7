// The station's invariants, one monitor each (see monitor.h).
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "codec/ais_sentences.h"
#include "monitors/monitor.h"

namespace sim::monitors {

// Every !AIVDM sentence the station's AIS port accepted is on the card once,
// byte for byte, in the file of the day and hour its tag block names
// (YY_MM_DD/HH_VDM.TXT), read from the card image at the end and after each
// power cut. A station logs only once its card is ready and its clock has
// GPS time, so each power-up's checking starts at the first sentence heard
// that reached the card; before that nothing is owed. Sentences heard while
// the console reports that the card cannot log (a card that does not start,
// a full volume, an hour file that will not open) are owed nothing either,
// until the next power-up. A line the station lost bytes of is no sentence
// it was given; but bytes lost while its port was open and taking lines (a
// full receive buffer) are sentences it never had, and reported as such.
// Without mtools the check is skipped with a note.
class CardLogMonitor : public Monitor {
  public:
    CardLogMonitor(const World& world, Report* report);
    void uart_to_station(uint8_t port, uint8_t byte, bool accepted) override;
    void usb_from_station(const uint8_t* data, size_t size) override;
    void restarting(const char* reason) override;
    void finish() override;

    // One record of a log file and the file it is in ("25_05_20/10_VDM.TXT").
    struct Record {
        std::string file;
        std::string tag;
        std::string sentence;  // with its CR LF
    };
    // Judges the records against what was heard.
    void judge(const std::vector<Record>& records);

  private:
    struct Heard {
        std::string sentence;
        host::Micros at;
        int64_t utc;  // GPS time when heard, -1 unknown
        unsigned boot;
        bool excused;
    };
    void read_card();
    void overflow();
    // The station says its card cannot log: nothing is owed until a file
    // opens again, nor is what was in flight.
    void card_trouble();
    void excuse_in_flight();

    std::string card_image_;
    LineReader line_;
    std::string console_;
    unsigned boot_ = 0;
    bool card_trouble_ = false;
    bool noted_ = false;
    host::Micros last_line_ = 0;
    bool overflow_reported_ = false;
    uint32_t lost_seen_ = 0;  // the port's count of bytes lost, at the last look
    std::vector<Heard> heard_;
    size_t found_ = 0;
    // What the card held before the run, read at the start.
    bool baseline_taken_ = false;
    std::map<std::string, std::multiset<int64_t>> baseline_;  // tag times of each sentence
    std::function<int64_t()> gps_utc_;
    // Faults already reported.
    std::set<std::string> misplaced_;
    std::set<size_t> missing_;
    std::set<std::string> doubled_;
};

// Broadcast requests (!AIMEB) and the transponder's reports of what it sent
// (!AIVDO): each closed weather sample is requested as message 8 within a
// minute and each message 8 request is reported; no request goes out a
// fourth time unchanged without a report between. A sample closes at the
// first $WIMDA the station takes after a boundary of its sample interval on
// the station's clock, when the weather station has given it data all
// through the interval before. Delays are excused while the transponder is
// switched off or in a fault, held by a PC, or not yet identified ($UPANQ,AID
// unanswered), or reports no message 8 period.
class BroadcastMonitor : public Monitor {
  public:
    static constexpr host::Micros kRequestWithin = 60 * host::kSecond;
    static constexpr host::Micros kReportWithin = 15 * host::kSecond;
    static constexpr unsigned kMostResends = 2;

    BroadcastMonitor(const World& world, Report* report);
    void uart_from_station(uint8_t port, uint8_t byte) override;
    void uart_to_station(uint8_t port, uint8_t byte, bool accepted) override;
    void output_changed(uint32_t pin, int level) override;
    void restarting(const char* reason) override;
    void finish() override;

  private:
    struct Request {
        unsigned message;
        std::string destination;
        std::string payload;
        host::Micros at;
    };
    void station_sentence(const std::string& sentence);
    void transponder_sentence(const std::string& sentence);
    void weather_sentence(const std::string& sentence);
    void request(const Request& request);
    void reported(unsigned message);
    bool excused();
    void check_due();

    World world_;
    LineReader from_station_;
    LineReader to_station_;
    LineReader weather_;
    codec::VdmAssembler vdo_;
    std::vector<std::string> meb_parts_;
    // Requests of each message waiting for their report, oldest first.
    std::map<unsigned, std::deque<Request>> unreported_;
    // The last request of each message and destination, and how many times
    // it has gone out since a report of that message.
    std::map<std::string, std::pair<std::string, unsigned>> repeats_;
    // The first weather-station channel's port and sample interval (minutes).
    std::optional<uint8_t> weather_port_;
    unsigned interval_min_ = 0;
    bool identified_ = false;
    bool held_by_pc_ = false;
    host::Micros excused_until_ = 0;
    // Samples: the interval's boundary minute last seen, data since.
    std::optional<int64_t> last_boundary_;
    host::Micros weather_since_ = 0;
    host::Micros last_weather_ = 0;
    std::optional<host::Micros> sample_closed_;
    static constexpr int64_t kBoundarySlack = 2;  // seconds
    std::optional<host::Micros> boundary_pending_;
};

// The station takes the transponder back from a PC (its configuration
// software) at most 120 s after the PC's last sign on the line ($..TXT "USB
// connected" or a $..ACF the station did not ask for), with 5 s of slack. The
// transponder is held from the station's "gpsfilt 49" until it sends
// anything else.
class PcHoldMonitor : public Monitor {
  public:
    static constexpr host::Micros kLongestHold = 125 * host::kSecond;
    explicit PcHoldMonitor(Report* report) : Monitor("pc-hold", report) {}
    void uart_from_station(uint8_t port, uint8_t byte) override;
    void uart_to_station(uint8_t port, uint8_t byte, bool accepted) override;
    void output_changed(uint32_t /*pin*/, int /*level*/) override { check(); }
    void restarting(const char* reason) override;
    void finish() override { check(); }

  private:
    void check();
    LineReader from_station_;
    LineReader to_station_;
    bool held_ = false;
    bool reported_ = false;
    host::Micros last_pc_sign_ = 0;
};

// No restart the outside did not cause: a power cycle comes from the
// scenario; a watchdog restart is expected only after FORMAT SD was typed.
class RestartMonitor : public Monitor {
  public:
    explicit RestartMonitor(Report* report) : Monitor("restart", report) {}
    void usb_to_station(const uint8_t* data, size_t size, bool accepted) override;
    void restarting(const char* reason) override;

  private:
    std::string typed_;
    bool format_asked_ = false;
};

// The card's FAT volume passes fsck.fat -n after each power cut and at the
// end (skipped with a note without dosfstools).
class CardFsckMonitor : public Monitor {
  public:
    CardFsckMonitor(const World& world, Report* report);
    void restarting(const char* reason) override;
    void usb_from_station(const uint8_t* data, size_t size) override;
    void finish() override { check("at the end"); }
    // fsck.fat -n on the image's volume: empty when sound, else its output.
    static std::string fsck_image(const std::string& image);

  private:
    void check(const char* when);
    std::string card_image_;
    bool noted_ = false;
    // Between "Formatting" and "Format done" the card is half made: a cut
    // then leaves it for the next FORMAT SD, which the end's check judges.
    LineReader console_;
    bool formatting_ = false;
};

// Once the station's clock has come within 2 s of GPS time it stays there,
// while its oscillator runs; checked at each $GPRMC the station takes.
class ClockMonitor : public Monitor {
  public:
    static constexpr int64_t kMostOff = 2;
    ClockMonitor(const World& world, Report* report);
    void uart_to_station(uint8_t port, uint8_t byte, bool accepted) override;

  private:
    World world_;
    LineReader line_;
    bool synchronised_ = false;
    bool off_ = false;
};

// Message 12 goes only to a ship that reported a position inside the
// configured rectangle, once per entry: a ship enters when it reports inside
// after a report outside, or after 9 minutes of silence (the station forgets
// a ship after 10), or for the first time.
class SafetyMessageMonitor : public Monitor {
  public:
    static constexpr host::Micros kForgetAfter = 9 * 60 * host::kSecond;
    SafetyMessageMonitor(const World& world, Report* report);
    void uart_from_station(uint8_t port, uint8_t byte) override;
    void uart_to_station(uint8_t port, uint8_t byte, bool accepted) override;
    void restarting(const char* reason) override;

  private:
    struct Ship {
        bool inside = false;
        host::Micros last_report = 0;
        unsigned entries = 0;
        unsigned warnings = 0;  // in the present entry
    };
    World world_;
    LineReader from_station_;
    LineReader to_station_;
    codec::VdmAssembler vdm_;
    std::vector<std::string> meb_parts_;
    std::map<uint32_t, Ship> ships_;
};

// Every sentence on every UART, both ways, is whole: '$' or '!', printable
// fields, a checksum that matches (the station's $UPMCR lines go without
// one, as NMEA allows for '$' sentences), CR LF; a tag block ahead of a
// sentence has a matching checksum too. The station's raw relay of a data
// block to a TIDELINK device, and a TIDELINK device's own frames (checksum
// over the whole frame), follow their own rules. Lines a scenario makes a
// peer corrupt on purpose are judged only in the station's direction.
class SentenceMonitor : public Monitor {
  public:
    SentenceMonitor(const World& world, Report* report);
    void uart_from_station(uint8_t port, uint8_t byte) override;
    void uart_to_station(uint8_t port, uint8_t byte, bool accepted) override;
    void restarting(const char* reason) override;

    // What is wrong with one line of a port (empty: nothing); `tidelink`
    // for a line of a TIDELINK device.
    static std::string judge_line(const std::string& line, bool from_station, bool tidelink);

  private:
    void line(uint8_t port, bool from_station, const std::string& text);
    World world_;
    std::map<std::pair<uint8_t, bool>, LineReader> lines_;
    std::set<uint8_t> tidelink_ports_;
};

}  // namespace sim::monitors
