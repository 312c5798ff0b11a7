// The monitors across a power cut in the middle of a busy log: the card is
// judged by fsck.fat and mtools at the cut and at the end, the sentences in
// flight at the cut are owed nothing, and a station that logs on after it
// passes. A card that stops logging without a word does not.
#include <gtest/gtest.h>

#include <cstdio>

#include "devices/ais_transponder.h"
#include "devices/device.h"
#include "devices/sd_card.h"
#include "host/machine.h"
#include "monitors/monitor.h"
#include "monitors/station_world.h"
#include "station.h"
#include "support/card_wrapper.h"
#include "support/fat_tools.h"
#include "support/state_dir.h"

namespace {

using host::kSecond;

class CheckPowerCut : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!fat_tools_installed()) {
            GTEST_SKIP() << "dosfstools, mtools and fdisk are not installed";
        }
        host::reset_machine();
        sim::Options options;
        options.state_dir = state_.path().string();
        ASSERT_EQ("", sim::attach_default_devices(options));
        checker_.emplace(sim::monitors::station_world(options.state_dir, {}), nullptr);
        host::power_on();
        host::run_for(90 * kSecond);
        sim::AisTransponder::Ship ship;
        ship.mmsi = 224106730;
        ship.latitude = 43.30;
        ship.longitude = -8.30;
        ship.course_deg = 90;
        ship.speed_knots = 12;
        ship.every = 3 * kSecond;
        ASSERT_TRUE(sim::station_devices().transponder->add_ship(ship, nullptr));
        host::run_for(2 * 60 * kSecond + 500 * host::kMillisecond);
    }
    void TearDown() override {
        checker_.reset();
        host::power_off();
        host::reset_machine();
    }
    bool finish() {
        host::power_off();
        std::FILE* out = std::tmpfile();
        const bool sound = checker_->finish(out);
        std::fclose(out);
        return sound;
    }

    TemporaryStateDir state_;
    std::optional<sim::monitors::Checker> checker_;
};

TEST_F(CheckPowerCut, ALogCutByThePowerAndGoingOnIsSound) {
    host::power_cycle();
    host::run_for(3 * 60 * kSecond);
    EXPECT_EQ(1u, host::restart_count());
    EXPECT_TRUE(finish()) << ::testing::PrintToString(checker_->report().violations().size());
}

// A card that takes writes and keeps nothing, so the station has no word to
// say: what is heard from then on is lost, and reported.
class ForgetfulCard : public WrappedCard {
  public:
    using WrappedCard::WrappedCard;
    bool write_block(uint32_t, const uint8_t*) override { return true; }
};

TEST_F(CheckPowerCut, SentencesLostWithoutAWordAreReported) {
    ForgetfulCard card(&sim::model_of<sim::SdCardModel>(*sim::station_device("sd_card")));
    host::attach_sd_card(&card);
    host::run_for(30 * kSecond);
    EXPECT_FALSE(finish());
    const auto& violations = checker_->report().violations();
    ASSERT_FALSE(violations.empty());
    EXPECT_EQ("card-log", violations.front().monitor);
    EXPECT_NE(std::string::npos, violations.front().what.find("is not on the card"));
}

}  // namespace
