// The machine around the firmware: events on the virtual clock, the
// firmware thread that moves only inside run_until, idle sleep, watchdog
// restarts with the records back at their power-up values, power off and on.
#include <gtest/gtest.h>

#include <sodaq_wdt.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <utility>
#include <vector>

#include <Arduino.h>
#include <Wire.h>
#include <station_state.h>

#include "host/machine.h"

// A record of the test's own, restored like the firmware's.
STATION_STATE uint32_t g_test_record = 7;

namespace {

// What the test entry points saw; plain test state, not station records.
std::vector<host::Micros> g_setups;
std::vector<uint32_t> g_record_at_setup;
unsigned g_loops = 0;
bool g_feed = true;
host::Micros g_after_delay = 0;
std::vector<host::Micros> g_ticks;

void reset_observations() {
    g_setups.clear();
    g_record_at_setup.clear();
    g_loops = 0;
    g_feed = true;
    g_after_delay = 0;
    g_ticks.clear();
}

void counting_setup() {
    g_setups.push_back(host::now());
    g_record_at_setup.push_back(g_test_record);
    g_test_record = 99;
    pinMode(13, OUTPUT);
    digitalWrite(13, HIGH);
}

void idle_loop() {
    ++g_loops;
}

void clear_tick_flag() {
    TC0->COUNT16.INTFLAG = TC_INTFLAG_MC0;
    g_ticks.push_back(host::now());
}

// A 1 ms tick as the station runs it: what wakes an idle loop.
void start_tick() {
    GCLK->PCHCTRL[TC0_GCLK_ID] = GCLK_PCHCTRL_GEN_GCLK1 | GCLK_PCHCTRL_CHEN;
    TC0->COUNT16.CTRLA = TC_CTRLA_MODE_COUNT16 | TC_CTRLA_PRESCALER_DIV1;
    TC0->COUNT16.WAVE = TC_WAVE_WAVEGEN_MFRQ;
    TC0->COUNT16.CC[0] = 47999;
    TC0->COUNT16.INTENSET = TC_INTENSET_MC0;
    TC0->COUNT16.CTRLA |= TC_CTRLA_ENABLE;
    NVIC_EnableIRQ(TC0_IRQn);
}

void watchdog_setup() {
    counting_setup();
    start_tick();
    sodaq_wdt_enable(WDT_PERIOD_1X);
}

// Opens the ports only at the first power-up, so a restart shows them
// closed; the loop notes what the USB port holds.
int g_usb_waiting = -1;
void ports_once_setup() {
    watchdog_setup();
    if (g_setups.size() == 1) {
        Serial1.begin(9600);
    }
    // Reopening the USB port keeps what it holds, so this shows the restart.
    SerialUSB.begin(115200);
}

void halting_setup() {
    counting_setup();
    sodaq_wdt_enable(WDT_PERIOD_1X);
    for (;;) {
        __WFI();
    }
}

void feeding_loop() {
    ++g_loops;
    if (g_feed) {
        sodaq_wdt_reset();
    }
    delay(10);
}

void usb_watching_loop() {
    g_usb_waiting = SerialUSB.available();
    feeding_loop();
}

void delaying_setup() {
    counting_setup();
    delay(10);
    g_after_delay = host::now();
}

class MachineTest : public ::testing::Test {
  protected:
    void SetUp() override {
        host::reset_machine();
        reset_observations();
    }
    void TearDown() override { host::reset_machine(); }

    static void use(void (*setup)(), void (*loop)()) {
        host::set_firmware_entry_points({setup, loop, &clear_tick_flag});
    }
};

TEST_F(MachineTest, EventsRunInTimeOrderThenSchedulingOrder) {
    std::string order;
    host::schedule_at(300, [&] { order += 'c'; });
    host::schedule_at(100, [&] { order += 'a'; });
    host::schedule_at(300, [&] { order += 'd'; });
    const host::EventId dropped = host::schedule_at(200, [&] { order += 'x'; });
    host::schedule_in(200, [&] { order += 'b'; });
    host::cancel(dropped);
    host::run_until(250);
    EXPECT_EQ("ab", order);
    EXPECT_EQ(250u, host::now());
    host::run_until(300);
    EXPECT_EQ("abcd", order);
}

TEST_F(MachineTest, AnEventInThePastRunsAtOnceAndTheClockNeverGoesBack) {
    host::run_until(1000);
    host::Micros seen = 0;
    host::schedule_at(10, [&] { seen = host::now(); });
    host::run_until(1000);
    EXPECT_EQ(1000u, seen);
    host::run_until(500);
    EXPECT_EQ(1000u, host::now());
}

TEST_F(MachineTest, EachPlatformCallCostsOneMicrosecond) {
    const host::Micros start = host::now();
    (void)millis();
    digitalWrite(13, HIGH);
    (void)Serial1.available();
    EXPECT_EQ(start + 3 * host::kCallCost, host::now());
    delay(5);
    EXPECT_EQ(start + 4 * host::kCallCost + 5 * host::kMillisecond, host::now());
}

TEST_F(MachineTest, MillisAndMicrosAreTheClockTruncatedTo32Bits) {
    const host::Micros later = (uint64_t{1} << 32) + 123456789;
    host::run_until(later - host::kCallCost);
    EXPECT_EQ(static_cast<uint32_t>(later), micros());
    host::run_until(later + 5000 - host::kCallCost);
    EXPECT_EQ(static_cast<uint32_t>((later + 5000) / 1000), millis());
}

TEST_F(MachineTest, WaitForInterruptJumpsToTheNextEvent) {
    host::schedule_at(70000, [] {});
    __WFI();
    EXPECT_EQ(70000u, host::now());
    // Nothing left to wake it when called straight from a test: one call.
    __WFI();
    EXPECT_EQ(70000u + host::kCallCost, host::now());
}

TEST_F(MachineTest, FirmwareRunsOnlyInsideRunUntil) {
    use(&counting_setup, &idle_loop);
    host::power_on();
    EXPECT_TRUE(host::powered());
    EXPECT_TRUE(g_setups.empty());
    host::run_for(host::kMillisecond);
    ASSERT_EQ(1u, g_setups.size());
    EXPECT_EQ(host::kMillisecond, host::now());
    EXPECT_EQ(1, host::output_level(13));
}

TEST_F(MachineTest, RunUntilPausesTheFirmwareInTheMiddleOfADelay) {
    use(&delaying_setup, &idle_loop);
    host::power_on();
    host::run_until(5000);
    EXPECT_EQ(5000u, host::now());
    EXPECT_EQ(0u, g_after_delay);
    // Only whole calls of the setup so far: pinMode, digitalWrite, delay.
    host::run_until(20000);
    EXPECT_EQ(10 * host::kMillisecond + 3 * host::kCallCost, g_after_delay);
}

TEST_F(MachineTest, AnIdleStationSleepsThroughARunWithoutLoopingAway) {
    use(&counting_setup, &idle_loop);
    host::power_on();
    host::run_for(24 * 3600 * host::kSecond);
    EXPECT_EQ(24 * 3600 * host::kSecond, host::now());
    EXPECT_LE(g_loops, 3u);
    // An event wakes it: one more pass then back to sleep.
    const unsigned before = g_loops;
    host::schedule_in(host::kSecond, [] {});
    host::run_for(2 * host::kSecond);
    EXPECT_GE(g_loops, before + 1);
    EXPECT_LE(g_loops, before + 3);
}

TEST_F(MachineTest, AStarvedWatchdogRestartsTheStationWithRecordsRestored) {
    use(&watchdog_setup, &feeding_loop);
    std::vector<std::pair<std::string, host::Micros>> restarts;
    host::on_restart([&](const char* reason) { restarts.emplace_back(reason, host::now()); });
    g_test_record = 7;
    host::power_on();
    host::run_for(3 * host::kSecond);
    ASSERT_EQ(1u, g_setups.size());
    EXPECT_EQ(0u, host::restart_count());
    EXPECT_TRUE(host::watchdog_enabled());
    EXPECT_EQ(99u, g_test_record);

    // Stop feeding: the restart comes one period after the last feed.
    g_feed = false;
    const host::Micros stopped = host::now();
    host::run_for(1500 * host::kMillisecond);
    ASSERT_EQ(2u, g_setups.size());
    EXPECT_EQ(1u, host::restart_count());
    ASSERT_EQ(1u, restarts.size());
    EXPECT_EQ("watchdog", restarts[0].first);
    EXPECT_EQ(host::last_restart_time(), restarts[0].second);
    EXPECT_GT(host::last_restart_time(), stopped + 990 * host::kMillisecond);
    EXPECT_LE(host::last_restart_time(), stopped + host::kSecond);
    // The second setup saw the power-up value, not what the first one left.
    EXPECT_EQ((std::vector<uint32_t>{7, 7}), g_record_at_setup);
    EXPECT_EQ(host::last_restart_time(), g_setups[1]);
}

TEST_F(MachineTest, SleepingWithNothingButTheWatchdogEndsInARestart) {
    use(&halting_setup, &idle_loop);
    host::power_on();
    host::run_for(3500 * host::kMillisecond);
    EXPECT_EQ(3u, host::restart_count());
    ASSERT_EQ(4u, g_setups.size());
    EXPECT_EQ(g_setups[0] + 3 * (host::kSecond + 3 * host::kCallCost), g_setups[3]);
    EXPECT_EQ(0u, g_loops);
}

TEST_F(MachineTest, RestartPutsThePlatformBackToItsPowerUpState) {
    use(&watchdog_setup, &feeding_loop);
    std::vector<std::pair<host::Micros, int>> led;
    host::on_output_change([&](uint32_t pin, int level) {
        if (pin == 13) {
            led.emplace_back(host::now(), level);
        }
    });
    host::power_on();
    host::run_for(host::kSecond);
    EXPECT_GT(host::tc0_interrupt_count(), 990u);
    g_feed = false;
    host::run_for(1500 * host::kMillisecond);
    ASSERT_EQ(1u, host::restart_count());
    // The timer went back to reset too: the ticks follow the new setup's
    // enable (two calls into it), not the old phase.
    const host::Micros enabled = host::last_restart_time() + 2 * host::kCallCost;
    EXPECT_NE(g_ticks.end(), std::find(g_ticks.begin(), g_ticks.end(), enabled + 1000));
    EXPECT_EQ(g_ticks.end(), std::find(g_ticks.begin(), g_ticks.end(), enabled + 1000 - 1));
    EXPECT_NE(0u, (enabled - 2 * host::kCallCost) % 1000) << "pick a restart off the old phase";
    // The LED output went undriven at the restart and setup drove it again:
    // low as the output starts from the reset latch, then high.
    std::vector<int> levels;
    for (const auto& change : led) {
        levels.push_back(change.second);
    }
    EXPECT_EQ((std::vector<int>{0, 1, -1, 0, 1}), levels);
    ASSERT_EQ(5u, led.size());
    EXPECT_EQ(host::last_restart_time(), led[2].first);
}

TEST_F(MachineTest, RestartClosesThePortsAndEmptiesTheirBuffers) {
    use(&ports_once_setup, &usb_watching_loop);
    host::power_on();
    host::run_for(100 * host::kMillisecond);
    host::uart_peer_send(1, "kept?", 9600);
    host::usb_send("typed");
    host::run_for(100 * host::kMillisecond);
    ASSERT_TRUE(host::uart_status(1).open);
    ASSERT_EQ(5, g_usb_waiting);
    g_feed = false;
    host::run_for(1500 * host::kMillisecond);
    ASSERT_EQ(1u, host::restart_count());
    EXPECT_FALSE(host::uart_status(1).open);
    EXPECT_EQ(0, g_usb_waiting);
}

TEST_F(MachineTest, PowerOffStopsTheFirmwareAndPowerOnStartsItAfresh) {
    use(&counting_setup, &feeding_loop);
    host::power_on();
    host::run_for(host::kSecond);
    const unsigned loops = g_loops;
    host::power_off();
    EXPECT_FALSE(host::powered());
    EXPECT_EQ(-1, host::output_level(13));
    host::run_for(host::kSecond);
    EXPECT_EQ(loops, g_loops);
    EXPECT_EQ(1u, g_setups.size());

    host::power_on();
    host::run_for(host::kSecond);
    ASSERT_EQ(2u, g_setups.size());
    EXPECT_EQ((std::vector<uint32_t>{7, 7}), g_record_at_setup);
    EXPECT_EQ(0u, host::restart_count());

    std::vector<std::string> reasons;
    host::on_restart([&](const char* reason) { reasons.emplace_back(reason); });
    host::power_cycle();
    host::run_for(host::kSecond);
    EXPECT_EQ(3u, g_setups.size());
    EXPECT_EQ(1u, host::restart_count());
    EXPECT_EQ(std::vector<std::string>{"power cycle"}, reasons);
}

TEST_F(MachineTest, EventsCanSwitchThePowerDuringARun) {
    use(&counting_setup, &feeding_loop);
    host::power_on();
    host::schedule_at(1 * host::kSecond, [] { host::power_cycle(); });
    host::schedule_at(2 * host::kSecond, [] { host::power_off(); });
    host::schedule_at(3 * host::kSecond, [] { host::power_on(); });
    host::run_until(2500 * host::kMillisecond);
    EXPECT_FALSE(host::powered());
    EXPECT_EQ(2500 * host::kMillisecond, host::now());
    EXPECT_EQ(2u, g_setups.size());
    EXPECT_EQ(1u, host::restart_count());
    EXPECT_EQ(host::kSecond, host::last_restart_time());
    host::run_until(4 * host::kSecond);
    EXPECT_TRUE(host::powered());
    ASSERT_EQ(3u, g_setups.size());
    EXPECT_EQ(3 * host::kSecond, g_setups[2]);
}

// An object on the firmware thread's stack whose destructor, like a file
// closing, still calls the platform on the way out.
std::vector<host::Micros> g_destroyed;
struct StackGuard {
    ~StackGuard() {
        digitalWrite(13, LOW);
        g_destroyed.push_back(host::now());
    }
};

void guarded_setup() {
    StackGuard guard;
    counting_setup();
    sodaq_wdt_enable(WDT_PERIOD_1X);
    for (;;) {
        delay(10);
    }
}

TEST_F(MachineTest, AStopUnwindsTheFirmwareStackRunningItsDestructors) {
    g_destroyed.clear();
    use(&guarded_setup, &idle_loop);
    host::power_on();
    host::run_for(1500 * host::kMillisecond);
    // The starved watchdog restarted the station once, leaving setup's frame.
    ASSERT_EQ(1u, host::restart_count());
    ASSERT_EQ(1u, g_destroyed.size());
    EXPECT_EQ(host::last_restart_time(), g_destroyed[0]) << "on the way to the restart";
    EXPECT_EQ(2u, g_setups.size());
    host::schedule_at(1800 * host::kMillisecond, [] { host::power_cycle(); });
    host::run_for(500 * host::kMillisecond);
    EXPECT_EQ(2u, g_destroyed.size());
    EXPECT_EQ(3u, g_setups.size());
    host::power_off();
    EXPECT_EQ(3u, g_destroyed.size());
}

void spinning_loop() {
    delay(1);
}

// Catches everything, as no code on the firmware thread may.
void swallowing_setup() {
    sodaq_wdt_enable(WDT_PERIOD_1X);
    try {
        for (;;) {
            delay(10);
        }
    } catch (...) {
    }
    for (;;) {
        delay(10);
    }
}

TEST(MachineDeathTest, MisuseOfTheBoardIsFatal) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const auto call_while_firmware_runs = [] {
        host::reset_machine();
        host::set_firmware_entry_points({nullptr, &spinning_loop, nullptr});
        host::power_on();
        host::run_for(host::kMillisecond);
        (void)millis();
    };
    EXPECT_DEATH(call_while_firmware_runs(), "^ktr09: .*outside the firmware thread");
    const auto run_from_an_event = [] {
        host::reset_machine();
        host::set_firmware_entry_points({nullptr, &spinning_loop, nullptr});
        host::power_on();
        host::schedule_in(10, [] { host::run_for(1); });
        host::run_for(host::kMillisecond);
    };
    EXPECT_DEATH(run_from_an_event(), "^ktr09: .*from the firmware thread");
    const auto swallow_a_stop = [] {
        host::reset_machine();
        host::set_firmware_entry_points({&swallowing_setup, nullptr, nullptr});
        host::power_on();
        host::run_for(2 * host::kSecond);
    };
    EXPECT_DEATH(swallow_a_stop(), "^ktr09: .*stop was caught");
    EXPECT_DEATH(host::attach_i2c_device(128, nullptr), "^ktr09: I2C address 128");
    EXPECT_DEATH(Wire.beginTransmission(0x80), "^ktr09: I2C address 128");
    EXPECT_DEATH(host::uart_status(2), "^ktr09: no UART port 2");
    EXPECT_DEATH(host::uart_peer_send(4, "x", 9600), "^ktr09: no UART port 4");
}

TEST_F(MachineTest, WatchdogExpiringOutsideARunIsOnlyNoted) {
    sodaq_wdt_enable(WDT_PERIOD_1DIV2);
    delay(400);
    EXPECT_FALSE(host::watchdog_expired_outside_run());
    delay(200);
    EXPECT_TRUE(host::watchdog_expired_outside_run());
    host::reset_machine();
    EXPECT_FALSE(host::watchdog_expired_outside_run());
    EXPECT_FALSE(host::watchdog_enabled());
}

TEST_F(MachineTest, WatchdogPeriodsDoubleFromOneSecond) {
    const std::pair<wdt_period, host::Micros> periods[] = {
        {WDT_PERIOD_1DIV64, 15625}, {WDT_PERIOD_1DIV8, 125000}, {WDT_PERIOD_1X, 1000000},
        {WDT_PERIOD_2X, 2000000},   {WDT_PERIOD_8X, 8000000},
    };
    for (const auto& p : periods) {
        SCOPED_TRACE(p.second);
        host::reset_machine();
        sodaq_wdt_enable(p.first);
        const host::Micros fed = host::now();
        host::run_until(fed + p.second - 1);
        EXPECT_FALSE(host::watchdog_expired_outside_run());
        host::run_until(fed + p.second);
        EXPECT_TRUE(host::watchdog_expired_outside_run());
    }
}

TEST_F(MachineTest, AFedWatchdogNeverFiresAndADisabledOneNeither) {
    sodaq_wdt_enable(WDT_PERIOD_1X);
    for (int i = 0; i < 50; ++i) {
        delay(100);
        sodaq_wdt_reset();
    }
    EXPECT_FALSE(host::watchdog_expired_outside_run());
    sodaq_wdt_disable();
    host::run_for(10 * host::kSecond);
    EXPECT_FALSE(host::watchdog_expired_outside_run());
}

// ---- Determinism -------------------------------------------------------------

class TimedPeer : public host::UartPeer {
  public:
    void on_byte_from_station(uint8_t byte) override { seen.emplace_back(host::now(), byte); }
    std::vector<std::pair<host::Micros, uint8_t>> seen;
};

void echo_setup() {
    Serial1.begin(19200);
}

void echo_loop() {
    while (Serial1.available() > 0) {
        const int c = Serial1.read();
        Serial1.write(static_cast<uint8_t>(c == 'z' ? 'A' : c + 1));
    }
}

std::vector<std::pair<host::Micros, uint8_t>> echo_run() {
    host::reset_machine();
    TimedPeer peer;
    host::attach_uart_peer(1, &peer);
    host::set_firmware_entry_points({&echo_setup, &echo_loop, nullptr});
    host::power_on();
    for (int burst = 0; burst < 20; ++burst) {
        host::schedule_at(burst * 37 * host::kMillisecond + 1000, [burst] {
            host::uart_peer_send(1, std::string(1 + burst % 7, static_cast<char>('a' + burst)),
                                 19200);
        });
    }
    host::run_for(host::kSecond);
    host::power_off();
    return peer.seen;
}

TEST_F(MachineTest, IdenticalRunsGiveIdenticalBytesAtIdenticalTimes) {
    const auto first = echo_run();
    const auto second = echo_run();
    ASSERT_FALSE(first.empty());
    EXPECT_EQ(first, second);
    EXPECT_EQ('b', first.front().second);
    // The echo cannot come before the byte it answers has fully arrived.
    EXPECT_GT(first.front().first, 1000 + 2 * 10 * host::kSecond / 19200);
}

TEST_F(MachineTest, RealTimeModePacesTheClockToTheWallClock) {
    host::set_realtime(true);
    const auto wall = std::chrono::steady_clock::now();
    host::run_for(30 * host::kMillisecond);
    const auto elapsed = std::chrono::steady_clock::now() - wall;
    host::set_realtime(false);
    EXPECT_GE(elapsed, std::chrono::milliseconds(25));
}

}  // namespace
