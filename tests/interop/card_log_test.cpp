// The station's card log judged by the real tools: the default station
// formats its new card, hears a ship for a while, and then fdisk, fsck.fat
// and mtools must find the partition, a clean volume, the day's directory and
// the hour's file holding every received sentence once behind a tag block
// whose checksum verifies. Also the console's FORMAT SD and a missing card.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "devices/ais_transponder.h"
#include "host/machine.h"
#include "station.h"
#include "support/fat_tools.h"
#include "support/state_dir.h"

namespace {

using host::kSecond;
constexpr host::Micros kMinute = 60 * kSecond;

// The received-traffic sentences the transponder handed the station.
struct HeardVdm : host::MachineListener {
    std::vector<std::string> sentences;
    std::string line;
    void uart_to_station(uint8_t port, uint8_t byte, bool accepted) override {
        if (port != 0 || !accepted) {
            return;
        }
        line += static_cast<char>(byte);
        if (byte == '\n') {
            if (line.rfind("!AIVDM,", 0) == 0) {
                sentences.push_back(line);
            }
            line.clear();
        }
    }
};

class CardLogStation : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!fat_tools_installed()) {
            GTEST_SKIP() << "dosfstools, mtools and fdisk are not installed";
        }
        host::reset_machine();
    }
    void start(const std::string& card_description = "") {
        if (!card_description.empty()) {
            write(state_.path() / "sd_card.txt", card_description);
        }
        sim::Options options;
        options.state_dir = state_.path().string();
        ASSERT_EQ("", sim::attach_default_devices(options));
        host::power_on();
    }
    void TearDown() override {
        host::power_off();
        host::reset_machine();
    }
    static void write(const std::filesystem::path& file, const std::string& text) {
        FILE* out = std::fopen(file.c_str(), "w");
        std::fputs(text.c_str(), out);
        std::fclose(out);
    }
    std::filesystem::path image() const { return state_.path() / "sd_card.img"; }

    TemporaryStateDir state_;
};

// The records of a log file: each a tag block and the sentence behind it.
struct Record {
    std::string tag;
    std::string sentence;
};

std::vector<Record> records(const std::string& text) {
    std::vector<Record> out;
    size_t at = 0;
    while (at < text.size()) {
        const size_t end_tag = text.find('\\', at + 1);
        const size_t end_line = text.find('\n', end_tag);
        if (text[at] != '\\' || end_tag == std::string::npos || end_line == std::string::npos) {
            ADD_FAILURE() << "not a record at " << at << ": " << text.substr(at, 80);
            break;
        }
        out.push_back(
            {text.substr(at + 1, end_tag - at - 1), text.substr(end_tag + 1, end_line - end_tag)});
        at = end_line + 1;
    }
    return out;
}

// NMEA 4 tag block: the XOR of the characters before '*' against its digits.
bool tag_checksum_ok(const std::string& tag) {
    const size_t star = tag.find('*');
    if (star == std::string::npos || star + 3 != tag.size()) {
        return false;
    }
    unsigned sum = 0;
    for (size_t i = 0; i < star; ++i) {
        sum ^= static_cast<unsigned char>(tag[i]);
    }
    return std::stoul(tag.substr(star + 1), nullptr, 16) == sum;
}

TEST_F(CardLogStation, ADayDirectoryAndHourFileTheToolsAccept) {
    HeardVdm heard_vdm;
    start();
    host::add_listener(&heard_vdm);
    sim::AisTransponder::Ship ship;
    ship.mmsi = 224106730;
    ship.latitude = 43.30;
    ship.longitude = -8.30;
    ship.course_deg = 90;
    ship.speed_knots = 12;
    ship.every = 20 * kSecond;
    std::string error;
    host::run_for(kMinute);
    ASSERT_TRUE(sim::station_devices().transponder->add_ship(ship, &error)) << error;
    host::run_for(10 * kMinute);
    host::power_off();

    const ToolRun fdisk = run_tool("/usr/sbin/fdisk -l " + quoted(image()));
    EXPECT_NE(std::string::npos, fdisk.output.find("FAT16")) << fdisk.output;
    // The partition as fdisk shows it: its first block.
    const uint32_t first = 223;
    EXPECT_NE(std::string::npos, fdisk.output.find(" 223 ")) << fdisk.output;
    const ToolRun fsck = fsck_volume(image(), first);
    EXPECT_EQ(0, fsck.status) << fsck.output;

    // The transponder's clock says 20 May 2025, 10:00 when GPS time arrives.
    const ToolRun dir = mtools("mdir", image(), first, "-b ::/25_05_20");
    EXPECT_NE(std::string::npos, dir.output.find("10_VDM.TXT")) << dir.output;
    EXPECT_EQ(std::string::npos, dir.output.find("_TLK")) << "no TIDELINK channel, no file";
    const ToolRun log = mtools("mtype", image(), first, "::/25_05_20/10_VDM.TXT");
    ASSERT_EQ(0, log.status) << log.output;
    const std::vector<Record> logged = records(log.output);
    host::remove_listener(&heard_vdm);
    const std::vector<std::string>& heard = heard_vdm.sentences;
    ASSERT_GE(logged.size(), 20u);
    for (const Record& record : logged) {
        EXPECT_EQ(0u, record.tag.find("s:KTR09 SIMULADA,c:")) << record.tag;
        EXPECT_TRUE(tag_checksum_ok(record.tag)) << record.tag;
        EXPECT_EQ(0u, record.sentence.find("!AIVDM,")) << record.sentence;
    }
    size_t matched = 0;
    for (const std::string& sentence : heard) {
        for (const Record& record : logged) {
            matched += record.sentence == sentence ? 1 : 0;
        }
    }
    EXPECT_EQ(logged.size(), matched) << "each sentence heard is logged once";
}

// GPS time two minutes before midnight: at 00:00 the hour's files close and
// the next day's directory and 00 file open; a restart in that hour finds
// the file and appends to it.
TEST_F(CardLogStation, MidnightRolloverAndARestartWithinTheHour) {
    start();
    // 2025-05-20 23:57:30 UTC on the transponder's GPS from its start.
    sim::station_devices().transponder->settings().utc_start = 1747785450;
    host::run_for(5 * kMinute);
    const std::string first_run = host::usb_take_output();
    EXPECT_NE(std::string::npos, first_run.find("Nuevo directorio creado: 25_05_20"));
    EXPECT_NE(std::string::npos, first_run.find("Nuevo fichero creado: 25_05_20/23_vdm.txt"));
    EXPECT_NE(std::string::npos, first_run.find("Nuevo directorio creado: 25_05_21"));
    EXPECT_NE(std::string::npos, first_run.find("Nuevo fichero creado: 25_05_21/00_vdm.txt"));
    EXPECT_EQ(std::string::npos, first_run.find("_tlk")) << "no TIDELINK channel, no file";
    host::power_off();
    host::power_on();
    host::run_for(2 * kMinute);
    const std::string second_run = host::usb_take_output();
    EXPECT_NE(std::string::npos, second_run.find("Directorio ya existe"));
    EXPECT_NE(std::string::npos, second_run.find("Fichero existente: 25_05_21/00_vdm.txt"));
    host::power_off();
    EXPECT_EQ(0, fsck_volume(image(), 223).status);
    const ToolRun dir = mtools("mdir", image(), 223, "-b -/ ::/");
    EXPECT_NE(std::string::npos, dir.output.find("25_05_20/23_VDM.TXT")) << dir.output;
    EXPECT_NE(std::string::npos, dir.output.find("25_05_21/00_VDM.TXT")) << dir.output;
}

TEST_F(CardLogStation, FormatFromTheConsoleRestartsOnAFreshVolume) {
    start();
    host::run_for(8 * kSecond);
    host::usb_take_output();
    host::usb_send("FORMAT SD\r");
    host::run_for(3 * kSecond);
    const std::string out = host::usb_take_output();
    for (const char* part : {"Erasing\n", "Erase done\n", "Formatting\n", "FAT16\n",
                             "Format done\n", "\r\n***** Reset device *****"}) {
        EXPECT_NE(std::string::npos, out.find(part)) << part;
    }
    EXPECT_EQ(1u, host::restart_count()) << "the watchdog restarts the station";
    host::run_for(6 * kSecond);
    EXPECT_NE(std::string::npos, host::usb_take_output().find("\tTarget SD OK"));
    EXPECT_EQ(0, fsck_volume(image(), 223).status);
}

TEST_F(CardLogStation, ACardTooSmallIsRefusedByTheFormatter) {
    start("capacity_mb 4\nprofile sd2\n");
    host::run_for(8 * kSecond);
    EXPECT_NE(std::string::npos,
              host::usb_take_output().find("\nFile System initialization failed.\n"))
        << "a new card that small stays blank";
    host::usb_send("FORMAT SD\r");
    host::run_for(3 * kSecond);
    EXPECT_NE(std::string::npos, host::usb_take_output().find("error: Card is too small.\r\n"));
    EXPECT_EQ(1u, host::restart_count()) << "the halted formatter is restarted by the watchdog";
}

TEST_F(CardLogStation, AnEmptySlotIsGivenUpAfterFiveAttempts) {
    start();
    host::power_off();
    host::reset_machine();
    // The same state directory, its card now out of the slot.
    sim::Options options;
    options.state_dir = state_.path().string();
    ASSERT_EQ("", sim::attach_default_devices(options));
    host::attach_sd_card(nullptr);
    host::power_on();
    host::run_for(2 * kMinute);
    const std::string out = host::usb_take_output();
    size_t attempts = 0;
    for (size_t at = out.find("Error inicializacion SD"); at != std::string::npos;
         at = out.find("Error inicializacion SD", at + 1)) {
        ++attempts;
    }
    EXPECT_EQ(5u, attempts);
    EXPECT_EQ(0u, host::restart_count());
}

}  // namespace
