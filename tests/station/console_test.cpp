// The service console on the running station: TEST mode with its channel
// echo loops and input events, the calibration commands and their checks,
// and SETTINGS mode, typed as a technician types them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "ktr09_board.h"
#include "devices/eeprom_24xx64.h"
#include "host/machine.h"
#include "station.h"
#include "support/state_dir.h"
#include "support/station_dir.h"
#include "support/uart_recorder.h"

namespace {

using host::kMillisecond;
using host::kSecond;

class ConsoleTest : public ::testing::Test {
  protected:
    void SetUp() override {
        host::reset_machine();
        ASSERT_EQ("", attach_station(state_.path()));
        host::power_on();
        host::run_for(5 * kSecond);
        host::usb_take_output();
    }
    void TearDown() override {
        host::attach_uart_peer(3, nullptr);
        host::power_off();
        host::reset_machine();
    }
    static std::string type(const std::string& text, host::Micros wait = 300 * kMillisecond) {
        host::usb_send(text);
        host::run_for(wait);
        return host::usb_take_output();
    }
    static bool contains(const std::string& text, const std::string& part) {
        return text.find(part) != std::string::npos;
    }

  private:
    TemporaryStateDir state_;
};

TEST_F(ConsoleTest, TestModeEchoesAChannelAndReportsInputs) {
    const std::string banner = type("TEST\r");
    EXPECT_TRUE(contains(banner, std::string(60, '*') + "\r\n\t\t\tTEST\r\n")) << banner;
    EXPECT_TRUE(contains(type("RS232\r"), "\r\nCanales configurados como RS232\r\n"));
    // The weather station on channel 2 is replaced by a test plug.
    UartRecorder plug;
    host::take_uart_line(3, &plug);
    host::uart_line_send(3, reinterpret_cast<const uint8_t*>("\x41\x0A\xFF"), 3, 38400);
    host::run_for(100 * kMillisecond);
    EXPECT_TRUE(contains(host::usb_take_output(), "Rx canal 2 => (3) 41 A FF \r\n"));
    EXPECT_EQ(std::string("\x41\x0A\xFF", 3), plug.bytes);
    // Input 1 switched on and off.
    host::set_input_level(board::kInputs[0], 0);
    host::run_for(1 * kSecond);
    host::set_input_level(board::kInputs[0], 1);
    host::run_for(1 * kSecond);
    const std::string events = host::usb_take_output();
    // Each event text follows a line end and is not ended by one.
    EXPECT_TRUE(contains(events, "\r\nActivada entrada 1\r\nDesativada entrada 1")) << events;
    EXPECT_FALSE(contains(events, "entrada 1\r\n\r\n")) << events;
    EXPECT_EQ(0u, host::restart_count());
}

// TEST mode walks the outputs: one after the other is active for a second,
// outputs 1 to 4 (pins 33, 32, 31, 30, active high), then the card indicator,
// pin 35 and the LED (34, 35, 13, active low), and round again.
TEST_F(ConsoleTest, TestModeWalksEveryOutputInTurn) {
    type("TEST\r");
    const std::vector<uint32_t> order = {33, 32, 31, 30, 34, 35, 13};
    std::vector<uint32_t> seen;  // each pin once it has held alone for 500 ms
    uint32_t last = 0;
    int held = 0;
    for (int step = 0; step < 200; ++step) {
        host::run_for(50 * kMillisecond);
        std::vector<uint32_t> active;
        for (uint32_t pin : order) {
            const bool high_active = pin >= 30 && pin <= 33;
            if (host::output_level(pin) == (high_active ? 1 : 0)) {
                active.push_back(pin);
            }
        }
        const uint32_t alone = active.size() == 1 ? active[0] : 0;
        held = alone == last ? held + 1 : 1;
        last = alone;
        if (alone != 0 && held == 10 && (seen.empty() || seen.back() != alone)) {
            seen.push_back(alone);
        }
    }
    ASSERT_GE(seen.size(), order.size() + 2) << "a whole round and more in ten seconds";
    const size_t first =
        static_cast<size_t>(std::find(order.begin(), order.end(), seen[0]) - order.begin());
    ASSERT_LT(first, order.size());
    for (size_t i = 0; i < seen.size(); ++i) {
        EXPECT_EQ(order[(first + i) % order.size()], seen[i]) << "step " << i;
    }
}

TEST_F(ConsoleTest, CalibrationCommandsAndTheirChecks) {
    type("TEST\r");
    EXPECT_TRUE(contains(type("BREAL\r"), "Introducido el valor de forma erronea"));
    const std::string calibrated = type("BREAL 12.6\r", 2500 * kMillisecond);
    EXPECT_TRUE(contains(calibrated, "Ajuste bateria\r\nConversor:0.01")) << calibrated;
    EXPECT_TRUE(contains(calibrated, "  (Ideal: 0.0106)\r\n"));
    EXPECT_TRUE(contains(calibrated, "Bateria (")) << "the live display follows";
    EXPECT_TRUE(contains(calibrated, "): 12.6")) << calibrated;
    type("x");  // a key ends the live display
    // The factor went to the calibration block, little-endian float.
    const std::vector<uint8_t>& image = sim::station_devices().eeprom->contents();
    float stored = 0;
    std::memcpy(&stored, &image[8176], sizeof stored);
    EXPECT_NEAR(12.6 / 1185, stored, 0.0001);
    // Lower case is echoed in upper case but is no keyword.
    EXPECT_FALSE(contains(type("dip\r", 1500 * kMillisecond), "DIP:"));
    EXPECT_TRUE(contains(type("DIP\r", 1500 * kMillisecond), "DIP:0\r\n"));
}

// Keywords are prefixes tried in order: "BAT" takes "BATTERY", and
// "ANALOG1REAL" is tried before "ANALOG1".
TEST_F(ConsoleTest, KeywordsArePrefixesInTheirOrder) {
    type("SETTINGS\r");
    EXPECT_TRUE(contains(type("BATTERY\r", 1500 * kMillisecond), "Bateria (1185): "));
    type("x");
    const std::string analog = type("ANALOG1REAL 2.0\r", 1500 * kMillisecond);
    EXPECT_TRUE(contains(analog, "Ajuste analogica 1\r\n2.00\r\n")) << analog;
    EXPECT_TRUE(contains(analog, "Analog 1 (")) << "its live display follows";
    type("x");
}

// RS-485 drives the channel's transmit enable only while the echo goes out.
TEST_F(ConsoleTest, Rs485TransmitEnableFramesTheEcho) {
    struct Pin16 : host::MachineListener {
        std::vector<std::pair<host::Micros, int>> changes;
        void output_changed(uint32_t pin, int level) override {
            if (pin == 16) {
                changes.push_back({host::now(), level});
            }
        }
    } pin16;
    type("TEST\r");
    EXPECT_TRUE(contains(type("RS485\r"), "Canales configurados como RS485"));
    UartRecorder plug;
    host::attach_uart_peer(3, &plug);
    host::add_listener(&pin16);
    host::uart_peer_send(3, "ABC", 38400);
    host::run_for(100 * kMillisecond);
    host::remove_listener(&pin16);
    EXPECT_EQ("ABC", plug.bytes);
    ASSERT_GE(pin16.changes.size(), 2u);
    const auto on = pin16.changes[pin16.changes.size() - 2];
    const auto off = pin16.changes.back();
    EXPECT_EQ(1, on.second);
    EXPECT_EQ(0, off.second);
    // Three bytes at 38400 baud take about 0.8 ms on the line.
    EXPECT_GE(off.first - on.first, 700u);
    EXPECT_LT(off.first - on.first, 5 * kMillisecond);
}

// SETTINGS mode keeps no display: a display command shows nothing there.
TEST_F(ConsoleTest, SettingsModeHasNoDisplays) {
    EXPECT_TRUE(contains(type("SETTINGS\r"), "\t\t\tSETTINGS\r\n"));
    EXPECT_FALSE(contains(type("DIP\r", 2 * kSecond), "DIP:"));
    EXPECT_TRUE(contains(type("BAT\r", 1500 * kMillisecond), "Bateria (1185): 12.6"));
}

}  // namespace
