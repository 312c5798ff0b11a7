// An AIS Aid-to-Navigation transponder on a serial line, as a station that
// configures it sees it. It answers the configuration queries ($UPANQ for
// AID, ACE, ACF, MCR and AAR), the proprietary $PSMT commands (gpsfilt,
// getatontype, appver, getserno, vswr, vin) and NAKs what it does not
// support; it takes the station's settings ($UPAID, $UPMCR, $AIACE) into its
// own state; it accepts broadcast requests (!AIMEB), checks their fragments
// and, when the transmission would end, reports the whole message it sent as
// !AIVDO. Replies come after a short processing delay, whole sentences at
// the line rate. Unasked, it forwards its GPS receiver's sentences once a
// second while the station has that output on (gpsfilt), reports its own
// AtoN report (message 21) as !AIVDO on its period, and passes on as !AIVDM
// what it hears from other stations: ships, other AtoN and addressed binary
// messages a scenario puts on the air, or a replayed recording. Its power
// comes through a board output (the link's reset relay): while that output
// cuts the supply it is dead, and it comes back a boot time later from its
// settings. It talks only through the UART bytes and reads only the output
// pin's level.
//
// With a seed (vary) its timing varies as a real unit's does, within these
// bounds, each drawn afresh where it applies:
// - reply to a query or command: kShortestReply..kLongestReply after the
//   sentence's end (assumed: AtoN units answer within tens to a few hundred
//   ms; the station's shortest reply time-out is 1 s, and a unit past it is
//   the late_replies fault, not variation);
// - !AIVDO report of a requested broadcast: 100..4000 ms after the request
//   (the slot is taken at once, or RATDMA waits up to its 4 s selection
//   window), unless the state file or a scenario set a delay other than the
//   default 1500 ms, whose spread then holds;
// - its GPS output: the first sentence of each second starts
//   kGpsPhaseLow..kGpsPhaseHigh after the UTC second (drawn at each boot)
//   plus 0..kGpsPhaseJitter (each second), with 0..kLongestGpsSpacing
//   between the sentences (assumed: a receiver writes an epoch's sentences
//   once its fix is computed, tens to hundreds of ms after the second, one
//   by one); and now and then (kGpsGapChance a second, never two seconds
//   in a row) a second with none, as when the receiver skips an epoch;
// - every burst it sends may reach the line in pieces (UartOutput).
// Without a seed, replies come kReplyDelay after the sentence, reports
// after report_delay_ms (a spread drawn from a fixed sequence), and the
// GPS sentences on the second, back to back, every second.
//
// Its own transmissions (the messages the station asked for, its message 21)
// also go on its VHF link, a lead before they end (devices/vhf_link.h), and
// what other transponders on the link transmit it reports as !AIVDM. Alone
// on its own in-process air, as in a single-station run, it hears nobody.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "codec/ais_messages.h"
#include "devices/supply_relay.h"
#include "devices/variation.h"
#include "devices/vhf_link.h"
#include "host/machine.h"

namespace sim {

// The state file's texts of the GPS position ("4321.50000N", "00823.50000W",
// from hundred-thousandths of a minute) and UTC ("2025-05-20T10:00:00").
namespace transponder_text {
std::string position(int64_t value, bool latitude);
bool parse_position(const std::string& text, bool latitude, int64_t* value);
std::string utc(int64_t seconds);
bool parse_utc(const std::string& text, int64_t* seconds);
}  // namespace transponder_text

class AisTransponder : public host::UartPeer {
  public:
    static constexpr unsigned kDefaultReportDelayMs = 1500;
    static constexpr unsigned kMaxReportDelayMs = 10000;
    // The report delay's spread under a seed when none was set.
    static constexpr unsigned kVariedReportDelayMinMs = 100;
    static constexpr unsigned kVariedReportDelayMaxMs = 4000;

    // Identity and settings, kept in the state file as "name value" lines.
    struct Settings {
        uint32_t mmsi = 992471001;
        std::string name = "KTR09 STATION";
        uint32_t msg6_destination = 0;  // 0 = none set
        unsigned aton_type = 1;
        std::string firmware = "2.1.7";
        std::string serial = "AT0042117";
        unsigned vswr_tenths = 12;
        double supply_volts = 12.40;
        unsigned aton_status = 0;  // as the last $AIACE set it
        // Reporting of the messages the station asks it to send: period in
        // seconds (0 = not configured) and access scheme (0 RATDMA, 1 FATDMA).
        unsigned msg6_period_s = 0;
        unsigned msg8_period_s = 180;
        unsigned msg12_period_s = 60;  // safety warnings to ships may go out
        unsigned scheme = 0;
        unsigned message_index = 1;
        // The bit-status source and message-set settings match the station's
        // once it has sent them ($UPMCR).
        bool mcr_configured = false;
        // Its GPS receiver: the sentences forwarded or not (gpsfilt), where
        // it is (hundred-thousandths of a minute, north and east positive),
        // the UTC at virtual time 0 (seconds since 1970), and what it sees.
        bool gps_output = false;
        int64_t latitude = 260150000;    // 43 21.50000 N
        int64_t longitude = -50350000;   // 008 23.50000 W
        int64_t utc_start = 1747735200;  // 2025-05-20 10:00:00
        bool gps_fix = true;
        unsigned satellites = 8;
        double hdop = 0.9;
        // Its own AtoN report: period in seconds (0 = none), the position
        // accuracy flag and the virtual AtoN flag it broadcasts.
        unsigned msg21_period_s = 180;
        bool position_accuracy = true;
        bool virtual_aton = false;
        // From an accepted broadcast request to its !AIVDO report, in ms: a
        // fixed delay, or a spread drawn per report. Real units report
        // between about 0.1 s (slot taken at once) and 4 s (RATDMA waiting
        // for a free slot); the default is the delay this model always had.
        unsigned report_delay_min_ms = kDefaultReportDelayMs;
        unsigned report_delay_max_ms = kDefaultReportDelayMs;
        // Set by a scenario, or by the state file to other than the fixed
        // default: a seed leaves it as it is.
        bool report_delay_pinned = false;
    };

    // Faults a scenario can switch on.
    struct Faults {
        bool silent = false;         // takes everything, sends nothing
        bool bad_checksums = false;  // every sentence with a wrong checksum
        bool nak_all = false;        // refuses every query and command
        bool late_replies = false;   // replies after the station has given up
        bool pc_attached = false;    // configuration software talks to it
        bool babbling = false;       // a burst of garbage every second besides
    };

    struct Wiring {
        uint8_t uart_port = 0;
        uint32_t baud = 38400;
        int power_pin = -1;  // board output that switches the supply; -1 = always on
        int off_level = 1;   // level of that pin that cuts the supply
    };

    static constexpr host::Micros kBootTime = 2 * host::kSecond;
    static constexpr host::Micros kReplyDelay = 150 * host::kMillisecond;
    // Varied timing (see the top of this file).
    static constexpr host::Micros kShortestReply = 10 * host::kMillisecond;
    static constexpr host::Micros kLongestReply = 500 * host::kMillisecond;
    static constexpr host::Micros kGpsPhaseLow = 20 * host::kMillisecond;
    static constexpr host::Micros kGpsPhaseHigh = 500 * host::kMillisecond;
    static constexpr host::Micros kGpsPhaseJitter = 30 * host::kMillisecond;
    static constexpr host::Micros kLongestGpsSpacing = 20 * host::kMillisecond;
    static constexpr double kGpsGapChance = 0.02;
    static constexpr host::Micros kLateReplyDelay = 6 * host::kSecond;
    static constexpr host::Micros kPcTrafficEvery = 10 * host::kSecond;
    // From an accepted request to the end of its transmission on the air.
    // The air learns of a transmission this long ahead whatever the report
    // delay, since linked stations step together in that lead.
    static constexpr host::Micros kTransmitDelay = 1500 * host::kMillisecond;

    explicit AisTransponder(const Wiring& wiring);
    ~AisTransponder() override;
    AisTransponder(const AisTransponder&) = delete;
    AisTransponder& operator=(const AisTransponder&) = delete;

    // Connects it to its UART and starts following its supply.
    void attach();
    // Its timing varies from now on, drawn from `seed` (see above).
    void vary(uint64_t seed);
    // Its port's baud rate from now on (it listens and sends at it).
    void set_baud(uint32_t baud);
    // Loses its supply for an instant and boots again, as a unit whose
    // watchdog bit: it forgets what it was receiving; settings stay.
    void reboot();
    // Puts it on another VHF link (instead of its own air, where it is alone).
    void use_link(std::shared_ptr<VhfLink> link);

    // ---- What it hears on the air (scenario-facing) ----------------------------
    // Positions in degrees, north and east positive; times are virtual times.
    struct Ship {
        uint32_t mmsi = 0;
        char ais_class = 'A';  // 'A' reports with message 1, 'B' with message 18
        double latitude = 0;
        double longitude = 0;
        double course_deg = 0;
        double speed_knots = 0;
        host::Micros every = 10 * host::kSecond;
        host::Micros until = 0;  // stops reporting then; 0 = never
    };
    // The ship sails its straight track from its position now, reporting now
    // and at every interval; false with a reason for a report that cannot be
    // encoded.
    bool add_ship(const Ship& ship, std::string* error);

    struct AtonStation {
        uint32_t mmsi = 0;
        std::string name;
        unsigned aton_type = 1;
        double latitude = 0;
        double longitude = 0;
        unsigned status = 0;  // AtoN status bits as broadcast
        bool virtual_aton = false;
        host::Micros every = 180 * host::kSecond;
        host::Micros until = 0;
    };
    bool add_aton_station(const AtonStation& station, std::string* error);

    struct AddressedBinary {
        uint32_t from = 0;
        uint32_t to = 0;  // 0 = this transponder's MMSI
        unsigned dac = 0;
        unsigned fi = 0;
        std::vector<uint8_t> data;
    };
    // Heard now: as many !AIVDM fragments as it takes, in one burst.
    bool receive_msg6(const AddressedBinary& message, std::string* error);

    // A file of recorded sentences, to be played at their original pace.
    // Each line is either a sentence, sent a second after the line before
    // it, or "<seconds> <sentence>", sent at that time counted from the first
    // timed line's (offsets from 0 and absolute times such as Unix seconds
    // both work). Fragments after the first of a multi-sentence message go
    // with the fragment before them; blank lines and '#' comments are skipped.
    // Sentences go out as recorded, checksums and all.
    struct Recording {
        std::vector<std::pair<host::Micros, std::string>> bursts;  // offset, lines
    };
    // Nothing, with "<file>:<line>: <what>", for a line it cannot read.
    static std::optional<Recording> read_recording(const std::string& file, std::string* error);
    // Plays it from now.
    void replay(const Recording& recording);

    // ---- State file and scenario-facing ----------------------------------------
    // Reads the settings and faults; false with a message naming the line for
    // an unknown name or a bad value (nothing is changed then). A missing file
    // is not an error: the settings stay as they are.
    bool load(const std::string& file, std::string* error);
    bool save(const std::string& file, std::string* error) const;
    // What save writes for these settings and faults.
    static std::string state_text(const Settings& settings, const Faults& faults);
    Settings& settings() { return settings_; }
    Faults& faults() { return faults_; }

    // ---- Observations ------------------------------------------------------------
    bool powered() const { return powered_ && booted_; }
    // Sentences taken from the station (bodies, checksum checked), in order.
    const std::vector<std::string>& received() const { return received_; }
    // Every !AIVDO sentence reported, in order.
    const std::vector<std::string>& reported() const { return reported_; }
    // UTC seconds since 1970 at virtual time `when`, as its GPS gives it.
    int64_t utc_at(host::Micros when) const;

    void on_byte_from_station(uint8_t byte) override;
    uint32_t baud() const override { return wiring_.baud; }

  private:
    void follow_power(bool on);
    void take_line(const std::string& line);
    void take_sentence(char start, const std::string& body);
    void answer_query(const std::vector<std::string>& fields);
    void answer_psmt(const std::vector<std::string>& fields);
    void take_meb(const std::vector<std::string>& fields);
    void transmit(unsigned message, const std::vector<std::string>& header, const std::string& data,
                  unsigned fill);
    // Sends them after the reply delay, which it returns.
    host::Micros reply(const std::vector<std::string>& bodies);
    void nak(const std::string& talker, const std::string& formatter, const std::string& reason);
    host::Micros next_report_delay();
    host::Micros next_reply_delay();
    void schedule_pc_traffic();
    std::string aar_body(unsigned message, unsigned period_s) const;
    void schedule_second();
    // Whether this second's GPS output is skipped, and when in the second
    // it starts.
    bool skips_gps_second();
    host::Micros gps_phase();
    void send_gps();
    void report_own_aton();
    void babble();
    // Sends unasked sentences while it is on and not silenced.
    void send_unasked(const std::string& burst);
    void send_heard(const codec::Message& message, unsigned report);
    // A message another transponder on the link transmitted, at its end.
    void hear(const AirMessage& message);
    // Its message 21 as transmitted at `when`.
    std::optional<codec::Bits> own_aton_bits(host::Micros when) const;
    void schedule_ship(const Ship& ship, host::Micros start, host::Micros when, unsigned report);
    void schedule_aton(const AtonStation& station, host::Micros when, unsigned report);
    void schedule_replay(std::shared_ptr<const Recording> recording, size_t next,
                         host::Micros start);
    // Runs `action` at `when` unless the model has gone by then: what the
    // air brings does not depend on its power.
    void on_air_at(host::Micros when, std::function<void()> action);

    Wiring wiring_;
    Settings settings_;
    Faults faults_;
    // Draws report delays within the spread; fixed start, so runs repeat.
    uint32_t report_draw_ = 1;
    Variation variation_;
    UartOutput output_{wiring_.uart_port, wiring_.baud};
    host::Micros gps_phase_ = 0;  // drawn at each boot
    bool gps_skipped_ = false;    // the last second had no GPS output
    bool attached_ = false;
    bool powered_ = false;
    bool booted_ = false;
    uint64_t generation_ = 0;  // bumped at each power loss: pending actions die
    SupplyRelay supply_{wiring_.power_pin, wiring_.off_level};
    std::string line_;
    // Fragments of the broadcast request being received.
    std::vector<std::string> meb_parts_;
    std::optional<std::mt19937_64> babble_engine_;
    unsigned meb_count_ = 0;
    std::vector<std::string> received_;
    std::vector<std::string> reported_;
    unsigned vdo_sequence_ = 0;
    unsigned seconds_to_own_report_ = 0;
    unsigned vdm_sequence_ = 0;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    LocalAir own_air_;
    std::shared_ptr<VhfLink> link_;
};

// Sets the report delay to `low_ms`..`high_ms` (equal for a fixed delay);
// false, changing nothing, unless 0 < low <= high <= kMaxReportDelayMs.
bool set_report_delay(unsigned low_ms, unsigned high_ms, AisTransponder::Settings* settings);

}  // namespace sim
