// An Airmar-type ultrasonic weather station on a serial line. Powered up it
// is unconfigured and sends its factory sentences ($WIMWV relative wind and
// $YXXDR transducer readings, no $WIMDA) once a second. It takes the $PAMTC
// enable commands: "$PAMTC,EN,ALL,0" switches every sentence off,
// "$PAMTC,EN,<id>,1,<tenths>" switches one on at that interval (MDA, MWV or
// XDR) and "$PAMTC,EN,<id>,0" off; a command whose checksum is wrong is
// ignored. Its power comes through a board output (the channel's reset
// relay): while that output is at the level that cuts the supply it is dead,
// and it comes back unconfigured a boot time later. It talks only through
// the UART bytes and reads only the output pin's level.
//
// With a seed (vary) its timing varies within these bounds:
// - a sentence switched on (at boot, or by $PAMTC) first goes out at any
//   point of its interval, kFirstSentenceLow..the interval, and from then
//   on on that interval's grid; so the station's port may open in the
//   middle of a sentence and first see its tail (assumed: the unit's
//   output timer runs on its own, not from the command or the power-up);
// - each sentence leaves 0..kLongestLateness after its slot on the grid
//   (assumed: the sensor's processor formats a sentence when its
//   measurement cycle allows; the grid itself is crystal-timed and does
//   not drift measurably within a run);
// - a sentence may reach the line in pieces (UartOutput).
// Without a seed each sentence goes out exactly one interval after it was
// switched on and on the interval after that.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "devices/state_file.h"
#include "devices/supply_relay.h"
#include "devices/variation.h"
#include "host/machine.h"

namespace sim {

class WeatherStation : public host::UartPeer {
  public:
    // What the sensors measure at one moment.
    struct Reading {
        double wind_knots = 8.0;  // speed of the true wind
        double wind_true_deg = 225.0;
        double wind_magnetic_deg = 223.5;
        double pressure_bar = 1.0132;
        double air_temperature_c = 15.0;
        double humidity_percent = 70.0;
        double dew_point_c = 9.6;
    };

    // Steady weather with gusts: from second `gust_start_s` on, `gust_length_s`
    // seconds of gust every `gust_every_s` seconds (0 = no gusts), counted
    // from the moment the profile is set.
    struct Profile {
        Reading steady;
        double gust_knots = 0.0;
        double gust_true_deg = 0.0;
        double gust_magnetic_deg = 0.0;
        unsigned gust_every_s = 0;
        unsigned gust_start_s = 0;
        unsigned gust_length_s = 0;
    };

    struct Wiring {
        uint8_t uart_port = 3;  // sensor channel 1
        uint32_t baud = 4800;
        // Board output pin that switches the supply; -1 = always powered.
        int power_pin = -1;
        // Level of that pin at which the supply is cut (the relay of a
        // normally-open output pulls when the output is active, high).
        int off_level = 1;
    };

    static constexpr host::Micros kBootTime = host::kSecond;
    static constexpr host::Micros kFirstSentenceLow = host::kMillisecond;
    static constexpr host::Micros kLongestLateness = 40 * host::kMillisecond;

    explicit WeatherStation(const Wiring& wiring);
    ~WeatherStation() override;
    WeatherStation(const WeatherStation&) = delete;
    WeatherStation& operator=(const WeatherStation&) = delete;

    // Connects it to its UART and starts watching its supply (after
    // host::reset_machine).
    void attach();
    // Its timing varies from now on, drawn from `seed` (see above).
    void vary(uint64_t seed);

    // ---- Scenario-facing ----------------------------------------------------
    void set_profile(const Profile& profile);
    const Profile& profile() const { return profile_; }
    // The profile and faults as "name value" lines (the Reading and Profile
    // field names, "silent" and "bad_checksums"), so that a user can edit
    // them between runs. Loading sets the profile from that moment; a file
    // that cannot be read, an unknown name or a bad value is `failed`, with
    // the file and line in `error`, and changes nothing.
    StateRead load(const std::string& file, std::string* error = nullptr);
    void save(const std::string& file) const;
    // Any weather as a function of virtual time.
    void set_weather(std::function<Reading(host::Micros)> weather);
    // A dead transmitter: it still takes commands but sends nothing.
    void set_silent(bool silent) { silent_ = silent; }
    // Every sentence goes out with a wrong checksum.
    void set_bad_checksums(bool bad) { bad_checksums_ = bad; }

    // ---- Observations ---------------------------------------------------------
    bool powered() const { return powered_; }
    // True once $WIMDA is on and the factory sentences are off.
    bool configured() const;
    // Commands taken (without checksum), in order, since attach.
    const std::vector<std::string>& commands() const { return commands_; }
    // Sentences sent, by identifier ("WIMDA", "WIMWV", "YXXDR").
    unsigned sent(const std::string& id) const;
    // The reading sent in the last $WIMDA.
    const Reading& last_reading() const { return last_reading_; }

    // The $WIMDA sentence (with CR LF) for a reading, checksum as given.
    static std::string mda_sentence(const Reading& reading);

    void on_byte_from_station(uint8_t byte) override;
    uint32_t baud() const override { return wiring_.baud; }
    // Its port's baud rate from now on (a unit set up for another rate).
    void set_baud(uint32_t baud) {
        wiring_.baud = baud;
        output_.set_baud(baud);
    }

  private:
    struct Output {
        unsigned interval_tenths = 0;  // 0 = off
        host::Micros late = 0;         // after its slot on the grid, when varied
        host::EventId event = 0;
        uint64_t generation = 0;
    };

    void power_up();
    void power_down();
    void enable(const std::string& id, unsigned interval_tenths);
    void schedule_output(const std::string& id, host::Micros delay);
    void send_output(const std::string& id);
    void take_command(const std::string& body);
    Reading reading_now() const;
    void send(const std::string& id, std::string body);

    Wiring wiring_;
    Profile profile_;
    std::function<Reading(host::Micros)> weather_;
    bool silent_ = false;
    bool bad_checksums_ = false;
    bool attached_ = false;
    bool powered_ = false;
    bool booted_ = false;
    SupplyRelay supply_{wiring_.power_pin, wiring_.off_level};
    host::EventId boot_event_ = 0;
    std::map<std::string, Output> outputs_;
    std::string line_;
    std::vector<std::string> commands_;
    std::map<std::string, unsigned> sent_;
    Reading last_reading_;
    Variation variation_;
    UartOutput output_{wiring_.uart_port, wiring_.baud};
};

}  // namespace sim
