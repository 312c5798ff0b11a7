// An AIS Aid-to-Navigation transponder on a serial line, as a station that
// configures it sees it. It answers the configuration queries ($UPANQ for
// AID, ACE, ACF, MCR and AAR), the proprietary $PSMT commands (gpsfilt,
// getatontype, appver, getserno, vswr, vin) and NAKs what it does not
// support; it takes the station's settings ($UPAID, $UPMCR, $AIACE) into its
// own state; it accepts broadcast requests (!AIMEB), checks their fragments
// and, when the transmission would end, reports the whole message it sent as
// !AIVDO. Replies come after a short processing delay, whole sentences at
// the line rate. Its power comes through a board output (the link's reset
// relay): while that output cuts the supply it is dead, and it comes back a
// boot time later from its settings. It talks only through the UART bytes
// and reads only the output pin's level.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/machine.h"

namespace sim {

class AisTransponder : public host::UartPeer {
  public:
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
        unsigned msg12_period_s = 0;
        unsigned scheme = 0;
        unsigned message_index = 1;
        // The bit-status source and message-set settings match the station's
        // once it has sent them ($UPMCR).
        bool mcr_configured = false;
    };

    // Faults a scenario can switch on.
    struct Faults {
        bool silent = false;         // takes everything, sends nothing
        bool bad_checksums = false;  // every sentence with a wrong checksum
        bool nak_all = false;        // refuses every query and command
        bool late_replies = false;   // replies after the station has given up
        bool pc_attached = false;    // configuration software talks to it
    };

    struct Wiring {
        uint8_t uart_port = 0;
        uint32_t baud = 38400;
        int power_pin = -1;  // board output that switches the supply; -1 = always on
        int off_level = 1;   // level of that pin that cuts the supply
    };

    static constexpr host::Micros kBootTime = 2 * host::kSecond;
    static constexpr host::Micros kReplyDelay = 150 * host::kMillisecond;
    static constexpr host::Micros kLateReplyDelay = 6 * host::kSecond;
    static constexpr host::Micros kPcTrafficEvery = 10 * host::kSecond;
    // From an accepted request to the end of its transmission on the air.
    static constexpr host::Micros kTransmitDelay = 1500 * host::kMillisecond;

    explicit AisTransponder(const Wiring& wiring);
    ~AisTransponder() override;
    AisTransponder(const AisTransponder&) = delete;
    AisTransponder& operator=(const AisTransponder&) = delete;

    // Connects it to its UART and starts following its supply.
    void attach();

    // ---- State file and scenario-facing ----------------------------------------
    // Reads the settings and faults; false with a message naming the line for
    // an unknown name or a bad value (nothing is changed then). A missing file
    // is not an error: the settings stay as they are.
    bool load(const std::string& file, std::string* error);
    bool save(const std::string& file, std::string* error) const;
    Settings& settings() { return settings_; }
    Faults& faults() { return faults_; }

    // ---- Observations ------------------------------------------------------------
    bool powered() const { return powered_ && booted_; }
    // Sentences taken from the station (bodies, checksum checked), in order.
    const std::vector<std::string>& received() const { return received_; }
    // Every !AIVDO sentence reported, in order.
    const std::vector<std::string>& reported() const { return reported_; }

    void on_byte_from_station(uint8_t byte) override;

  private:
    void follow_power();
    void take_line(const std::string& line);
    void take_sentence(char start, const std::string& body);
    void answer_query(const std::vector<std::string>& fields);
    void answer_psmt(const std::vector<std::string>& fields);
    void take_meb(const std::vector<std::string>& fields);
    void transmit(unsigned message, const std::vector<std::string>& header, const std::string& data,
                  unsigned fill);
    void reply(const std::vector<std::string>& bodies);
    void nak(const std::string& talker, const std::string& formatter, const std::string& reason);
    void schedule_pc_traffic();
    std::string aar_body(unsigned message, unsigned period_s) const;

    Wiring wiring_;
    Settings settings_;
    Faults faults_;
    bool attached_ = false;
    bool powered_ = false;
    bool booted_ = false;
    uint64_t generation_ = 0;  // bumped at each power loss: pending actions die
    host::ListenerId power_listener_ = 0;
    std::string line_;
    // Fragments of the broadcast request being received.
    std::vector<std::string> meb_parts_;
    unsigned meb_count_ = 0;
    std::vector<std::string> received_;
    std::vector<std::string> reported_;
    unsigned vdo_sequence_ = 0;
};

}  // namespace sim
