// The whole station on the host platform: start-up, the banner, the
// liveness LED, USB frames and console lines.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ktr09_board.h"
#include "codec/pc_frame.h"
#include "host/machine.h"
#include "station.h"
#include "support/state_dir.h"
#include "support/station_dir.h"

namespace {

using host::kMillisecond;
using host::kSecond;

const std::string kStars(69, '*');
const std::string kBanner = "\r\n" + kStars +
                            "\r\n\t\tZPX\t\tKTR09\r\n\tHardware: 1.1\tFirmware: 03_0\r\n" + kStars +
                            "\r\n\r\n";

class StationTest : public ::testing::Test {
  protected:
    void SetUp() override {
        host::reset_machine();
        attach_station(state_.path());
        host::power_on();
    }
    void TearDown() override {
        host::power_off();
        host::reset_machine();
    }

  private:
    TemporaryStateDir state_;
};

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

TEST_F(StationTest, BannerFollowsTheThreeSecondPause) {
    host::run_for(2900 * kMillisecond);
    EXPECT_EQ("", host::usb_take_output());
    host::run_for(300 * kMillisecond);
    EXPECT_EQ(0u, host::usb_take_output().rfind(kBanner, 0)) << "the banner comes first";
    host::run_for(10 * kSecond);
    EXPECT_EQ(0u, host::restart_count());
}

TEST_F(StationTest, LedBlinksOffForATenthOfEachSecond) {
    host::run_for(4 * kSecond);
    unsigned dark = 0;
    unsigned lit = 0;
    for (int i = 0; i < 1000; ++i) {
        host::run_for(10 * kMillisecond);
        (host::output_level(board::kLed) == 1 ? lit : dark) += 1;
    }
    // Ten seconds sampled every 10 ms: dark 100 ms of each second.
    EXPECT_NEAR(100, dark, 12);
    EXPECT_NEAR(900, lit, 12);
}

TEST_F(StationTest, PcFrameOverUsbIsCheckedAndAcknowledged) {
    host::run_for(4 * kSecond);
    host::usb_take_output();
    // "@JWK", length 13, command 2, sub-command 0, address 0x000010, no data.
    const std::vector<uint8_t> bytes =
        codec::build_pc_frame({false, codec::kPcAcknowledge, 0, 0x10, 0, {}});
    const std::string frame(bytes.begin(), bytes.end());
    host::usb_send(frame.substr(0, 7));
    host::run_for(50 * kMillisecond);
    host::usb_send(frame.substr(7));
    host::run_for(50 * kMillisecond);
    // The reply: "#JWK", 13, the command, sub-command and address, result 0.
    const std::vector<uint8_t> reply =
        codec::build_pc_frame({true, codec::kPcAcknowledge, 0, 0x10, 0, {}});
    EXPECT_TRUE(contains(host::usb_take_output(),
                         "@ inicio trama\r\nVerificar Trama. Size=7\r\nTrama no correcta\r\n"
                         "Verificar Trama. Size=13\r\nAntes de procesar trama.\r\n" +
                             std::string(reply.begin(), reply.end()) + "Reset de contadores.\r\n"));
}

TEST_F(StationTest, ConsoleLineIsEchoedInUpperCase) {
    host::run_for(4 * kSecond);
    host::usb_take_output();
    host::usb_send("dip\r");
    host::run_for(100 * kMillisecond);
    const std::string echo = host::usb_take_output();
    EXPECT_TRUE(contains(echo, "DIP\r\n\r\n" + std::string(79, '*'))) << echo;
    EXPECT_TRUE(contains(echo, "\tBatery (")) << "each console line is followed by the status";
}

}  // namespace
