// The default station and its AtoN transponder: the configuration sequence
// from power-up to the idle step, message 8 at the period the transponder
// reported, and a transponder that falls silent being power-cycled.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ktr09_board.h"
#include "devices/ais_transponder.h"
#include "host/machine.h"
#include "station.h"
#include "support/state_dir.h"
#include "support/station_dir.h"

namespace {

using host::kSecond;
constexpr host::Micros kMinute = 60 * kSecond;

class TransponderStationTest : public ::testing::Test {
  protected:
    void SetUp() override {
        host::reset_machine();
        attach_station(state_.path());
        host::set_input_level(board::kModePin0, 0);  // mode 2: every trace
        host::set_input_level(board::kModePin1, 0);
        host::power_on();
    }
    void TearDown() override {
        host::power_off();
        host::reset_machine();
    }
    static sim::AisTransponder& transponder() { return *sim::station_devices().transponder; }

    // Runs until the transponder has taken `count` more broadcast requests;
    // the virtual time of the first fragment of the last one.
    static host::Micros run_until_requests(size_t count, host::Micros limit) {
        size_t seen = requests();
        const size_t wanted = seen + count;
        const host::Micros end = host::now() + limit;
        while (host::now() < end) {
            host::run_for(100 * host::kMillisecond);
            if (requests() >= wanted) {
                return host::now();
            }
        }
        return 0;
    }
    static size_t requests() {
        size_t n = 0;
        for (const std::string& body : transponder().received()) {
            n += body.rfind("AIMEB,3,1,", 0) == 0 ? 1 : 0;
        }
        return n;
    }

  private:
    TemporaryStateDir state_;
};

// Each part must appear after the one before it.
void expect_in_order(const std::string& text, const std::vector<std::string>& parts) {
    size_t at = 0;
    for (const std::string& part : parts) {
        const size_t found = text.find(part, at);
        ASSERT_NE(std::string::npos, found) << "missing, or out of order: " << part;
        at = found + part.size();
    }
}

TEST_F(TransponderStationTest, ConfigurationSequenceThenMessage8AtTheReportedPeriod) {
    const host::Micros first = run_until_requests(1, 2 * kMinute);
    ASSERT_NE(0u, first) << "no message 8 request";
    expect_in_order(host::usb_take_output(), {"Tx AIS (15) => $UPANQ,AID*3Bda",
                                              "Own MMSI identified:992471001",
                                              "$UPANQ,ACE*30da",
                                              "Own name: KTR09 STATION",
                                              "$UPANQ,MCR*2Bda",
                                              "$UPMCR,992471001,SBS,0,Cda",
                                              "$UPANQ,MCR*2Bda",
                                              "Bit status => OK",
                                              "Configuration GLA => OK",
                                              "getatontype,7*2Eda",
                                              "Type aton:1",
                                              "$UPANQ,AAR*25da",
                                              "Msg 8 => Frequency:180",
                                              "appver,1*51da",
                                              "Firmware:2.1.7",
                                              "getserno,4*47da",
                                              "SN:AT0042117",
                                              "vswr,5*56da",
                                              "ROE level:01.2",
                                              "vin,6*24da",
                                              "V ais:12.40",
                                              "!AIMEB,3,1,"});
    host::run_for(2 * kSecond);
    EXPECT_FALSE(transponder().reported().empty()) << "the transponder sent it";
    // The transponder's report of the message confirms it: the next request
    // follows the report by the period the AAR reply gave, less 5 s.
    const host::Micros second = run_until_requests(1, 4 * kMinute);
    ASSERT_NE(0u, second);
    const host::Micros confirmed = first + sim::AisTransponder::kTransmitDelay;
    EXPECT_GE(second - confirmed, 174 * kSecond);
    EXPECT_LE(second - confirmed, 176 * kSecond);
}

TEST_F(TransponderStationTest, SilentTransponderIsPowerCycledAfterTenMinutes) {
    ASSERT_NE(0u, run_until_requests(1, 2 * kMinute));
    transponder().faults().silent = true;
    host::usb_take_output();
    const host::Micros silent_from = host::now();
    // The watch counts the tick's minutes; the first minute after start-up
    // is shortened to meet the clock's, so it ends 9 to 10 minutes on.
    host::Micros noticed = 0;
    while (noticed == 0 && host::now() < silent_from + 11 * kMinute) {
        host::run_for(kSecond);
        if (host::usb_take_output().find("AIS => NO RX FRAMES!!!! ") != std::string::npos) {
            noticed = host::now();
        }
    }
    ASSERT_NE(0u, noticed) << "the silence was never noticed";
    EXPECT_GE(noticed - silent_from, 8 * kMinute + 30 * kSecond);
    EXPECT_LE(noticed - silent_from, 10 * kMinute + kSecond);
    host::run_for(kSecond);
    EXPECT_EQ(1, host::output_level(board::kOutputs[1]))
        << "output 2 cuts the transponder's supply";
    EXPECT_FALSE(transponder().powered());
    transponder().faults().silent = false;
    // Back from its power cycle it is configured again from the start.
    ASSERT_NE(0u, run_until_requests(1, 2 * kMinute));
    expect_in_order(host::usb_take_output(), {"Own MMSI identified:992471001",
                                              "Own name: KTR09 STATION", "Msg 8 => Frequency:180"});
    EXPECT_EQ(0u, host::restart_count());
}

// Configuration software on a PC attached to the transponder: the station
// hears replies it did not ask for and leaves the transponder to it.
TEST_F(TransponderStationTest, PcProgramOnTheTransponderSuspendsTheSequence) {
    ASSERT_NE(0u, run_until_requests(1, 2 * kMinute));
    transponder().faults().pc_attached = true;
    host::run_for(15 * kSecond);
    EXPECT_NE(std::string::npos, host::usb_take_output().find("Sofware AIS connected"));
    EXPECT_EQ(0u, run_until_requests(1, 4 * kMinute)) << "no request while the PC has it";
}

// A PC session across the hour, when a time synchronisation falls due and
// no GPS fix comes: 120 s after the PC's last sign the station takes the
// transponder back and broadcasts again.
TEST_F(TransponderStationTest, APcSessionAcrossTheHourEndsWhenThePcFallsSilent) {
    ASSERT_NE(0u, run_until_requests(1, 2 * kMinute));
    host::run_for(57 * kMinute - host::now());
    transponder().settings().gps_fix = false;
    transponder().faults().pc_attached = true;
    host::run_for(5 * kMinute);
    transponder().faults().pc_attached = false;
    const host::Micros silent = host::now();
    const host::Micros back = run_until_requests(1, 6 * kMinute);
    ASSERT_NE(0u, back) << "the station never took the transponder back";
    EXPECT_GE(back - silent, 110 * kSecond);
    EXPECT_LE(back - silent, 3 * kMinute);
}

// The transponder reports its transmissions early or late: each report
// confirms its request. The next message 8 follows the report by the period
// less 5 s, and a second ship inside the rectangle is warned as soon as the
// first warning is confirmed, not a whole message 12 period later.
class ReportDelayTest : public TransponderStationTest,
                        public ::testing::WithParamInterface<unsigned> {};

// When each new request carrying `marker` reached the transponder, over
// `duration`.
std::vector<host::Micros> request_times(const std::string& marker, host::Micros duration) {
    std::vector<host::Micros> times;
    size_t seen = 0;
    for (const host::Micros end = host::now() + duration; host::now() < end;) {
        host::run_for(100 * host::kMillisecond);
        const auto& bodies = sim::station_devices().transponder->received();
        for (; seen < bodies.size(); ++seen) {
            if (bodies[seen].find(marker) != std::string::npos) {
                times.push_back(host::now());
            }
        }
    }
    return times;
}

TEST_P(ReportDelayTest, EveryReportConfirmsItsRequest) {
    const unsigned delay_ms = GetParam();
    ASSERT_TRUE(sim::set_report_delay(delay_ms, delay_ms, &transponder().settings()));
    const host::Micros first = run_until_requests(1, 2 * kMinute);
    ASSERT_NE(0u, first);
    const host::Micros second = run_until_requests(1, 4 * kMinute);
    ASSERT_NE(0u, second);
    const host::Micros reported = first + delay_ms * host::kMillisecond;
    EXPECT_GE(second - reported, 174 * kSecond);
    EXPECT_LE(second - reported, 176 * kSecond + 200 * host::kMillisecond);

    // Two ships enter the watched rectangle together.
    for (uint32_t mmsi : {224106730u, 224106731u}) {
        sim::AisTransponder::Ship ship;
        ship.mmsi = mmsi;
        ship.latitude = 43.366;
        ship.longitude = -8.40;
        ship.every = 10 * kSecond;
        std::string error;
        ASSERT_TRUE(transponder().add_ship(ship, &error)) << error;
    }
    const auto warnings = request_times(",12,", 2 * kMinute);
    ASSERT_EQ(2u, warnings.size()) << "one warning to each ship";
    EXPECT_LT(warnings[1] - warnings[0], 30 * kSecond);
}

INSTANTIATE_TEST_SUITE_P(EarlyDefaultAndLate, ReportDelayTest, ::testing::Values(200, 1500, 4000));

}  // namespace
