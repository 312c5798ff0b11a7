// The station's card log judged by the real tools: the default station
// formats its new card, hears a ship for a while, and then fdisk, fsck.fat
// and mtools must find the partition, a clean volume, the day's directory and
// the hour's file holding every received sentence once behind a tag block
// whose checksum verifies. Also the console's FORMAT SD and a missing card.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <fstream>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "codec/nmea.h"
#include "devices/ais_transponder.h"
#include "devices/device.h"
#include "devices/sd_card.h"
#include "devices/sensor_channels.h"
#include "devices/tidelink.h"
#include "host/machine.h"
#include "codec/ais_messages.h"
#include "codec/ais_sentences.h"
#include "station.h"
#include "support/card_wrapper.h"
#include "support/fat_tools.h"
#include "support/state_dir.h"
#include "support/station_dir.h"

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
    void start(const std::string& card_description = "", const std::string& configuration = "") {
        if (!card_description.empty()) {
            write(state_.path() / "sd_card.txt", card_description);
        }
        ASSERT_EQ("", attach_station(state_.path(), configuration));
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
    // A ship east-bound off the station, reporting at this interval.
    void ship_every(host::Micros every) {
        sim::AisTransponder::Ship ship;
        ship.mmsi = 224106730;
        ship.latitude = 43.30;
        ship.longitude = -8.30;
        ship.course_deg = 90;
        ship.speed_knots = 12;
        ship.every = every;
        std::string error;
        ASSERT_TRUE(sim::station_devices().transponder->add_ship(ship, &error)) << error;
    }

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
    return std::stoul(tag.substr(star + 1), nullptr, 16) ==
           codec::nmea_checksum(std::string_view(tag).substr(0, star));
}

TEST_F(CardLogStation, ADayDirectoryAndHourFileTheToolsAccept) {
    HeardVdm heard_vdm;
    start();
    host::add_listener(&heard_vdm);
    host::run_for(kMinute);
    ship_every(20 * kSecond);
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
    ASSERT_EQ("", attach_station(state_.path()));
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

// A FAT of half a megabyte takes seconds to read at the card's clock: the
// count of free clusters must not let the watchdog bite.
TEST_F(CardLogStation, AFourGigabyteCardIsCountedWithoutTheWatchdogBiting) {
    start("capacity_mb 4096\nprofile sdhc\n");
    host::run_for(2 * kMinute);
    const std::string out = host::usb_take_output();
    EXPECT_EQ(0u, host::restart_count());
    EXPECT_NE(std::string::npos, out.find("clusterCount: 130816\r\nfreeClusters: 130815\r\n"))
        << out;
    EXPECT_NE(std::string::npos, out.find("Porcentaje ocupado SD:0 %"));
    EXPECT_NE(std::string::npos, out.find("Nuevo fichero creado: 25_05_20/10_vdm.txt"));
}

// A TIDELINK device on channel 2: the frames it sends are logged as they
// came, and a block heard on the air behind its tag block, in the hour's
// TIDELINK file beside the AIS one.
TEST_F(CardLogStation, DataLinkBlocksGoToTheHoursTidelinkFile) {
    start("", R"({"configuracion_sensor": [{}, {"csensor": 2, "ctipo_comunicacion": 1,
                  "cbaudios_comunicacion": 2}]})");
    host::run_for(2 * kMinute);
    auto* device = sim::peer_on<sim::TidelinkDevice>(sim::station_device("tidelink"), 2);
    ASSERT_NE(nullptr, device);
    device->send_frame("2,7,X,Y,T$3 LEVEL 1.20");
    host::run_for(5 * kSecond);
    sim::AisTransponder::AddressedBinary heard;
    heard.from = 235040000;
    heard.dac = 11;
    heard.fi = 11;
    const std::string block = "2,9,Y,X,M$1 OK*00\r\n";
    heard.data.push_back(0x11);
    heard.data.insert(heard.data.end(), block.begin(), block.end());
    ASSERT_TRUE(sim::station_devices().transponder->receive_msg6(heard, nullptr));
    host::run_for(10 * kSecond);
    host::power_off();
    EXPECT_EQ(0, fsck_volume(image(), 223).status);
    const ToolRun log = mtools("mtype", image(), 223, "::/25_05_20/10_TLK.TXT");
    ASSERT_EQ(0, log.status) << log.output;
    const std::string sent = sim::TidelinkDevice::frame("2,7,X,Y,T$3 LEVEL 1.20");
    ASSERT_EQ(0u, log.output.find(sent)) << log.output;
    // The block came with its own line end; the record adds one.
    ASSERT_GT(log.output.size(), sent.size() + 2);
    const std::vector<Record> logged =
        records(log.output.substr(sent.size(), log.output.size() - sent.size() - 2));
    ASSERT_EQ(1u, logged.size()) << log.output;
    EXPECT_TRUE(tag_checksum_ok(logged[0].tag)) << logged[0].tag;
    EXPECT_EQ(block, logged[0].sentence);
    EXPECT_EQ(sent.size() + logged[0].tag.size() + 2 + block.size() + 2, log.output.size());
}

// ---- A card that fills up, is made read-only or is pulled --------------------

// The free bytes mdir reports for the volume.
uint64_t free_bytes(const std::filesystem::path& image) {
    const ToolRun dir = mtools("mdir", image, 223, "::/");
    const size_t end = dir.output.find(" bytes free");
    uint64_t value = 0;
    uint64_t scale = 1;
    for (size_t at = end; at-- > 0 && (std::isdigit(dir.output[at]) || dir.output[at] == ' ');) {
        if (std::isdigit(dir.output[at])) {
            value += static_cast<uint64_t>(dir.output[at] - '0') * scale;
            scale *= 10;
        }
    }
    return value;
}

// Copies a file of zeros onto the volume so that `left` bytes stay free.
void fill_volume(const std::filesystem::path& image, uint64_t left) {
    const std::filesystem::path filler = image.string() + ".filler";
    { std::ofstream create(filler, std::ios::binary); }
    std::filesystem::resize_file(filler, free_bytes(image) - left);
    ASSERT_EQ(0, mtools("mcopy", image, 223, quoted(filler) + " ::/FILLER.BIN").status);
    std::filesystem::remove(filler);
}

size_t count(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++n;
    }
    return n;
}

// Whole records up to the last line end: the record being written when the
// card failed may be cut, none before it.
std::vector<Record> whole_records(const std::string& text) {
    return records(text.substr(0, text.rfind('\n') + 1));
}

TEST_F(CardLogStation, AVolumeAt99PercentGetsNoNewDirectory) {
    start();
    host::run_for(5 * kSecond);  // formatted and mounted, the clock not yet set
    host::power_off();
    fill_volume(image(), 400 << 10);  // under 1 % of 64 MB
    host::power_on();
    host::run_for(2 * kMinute);
    const std::string out = host::usb_take_output();
    EXPECT_NE(std::string::npos, out.find("Porcentaje ocupado SD:99 %")) << out;
    EXPECT_NE(std::string::npos, out.find("Limite maximo de memoria SD superado\r\n"));
    EXPECT_EQ(std::string::npos, out.find("Nuevo directorio creado"));
    EXPECT_EQ(std::string::npos, out.find("Intento creacion fichero"));
    host::power_off();
    EXPECT_EQ(0, fsck_volume(image(), 223).status);
}

// Only that hour's file is given up, after 30 attempts at least a second
// apart; the next hour's file opens and logs.
TEST_F(CardLogStation, AnHourFileThatWillNotOpenIsGivenUpForThatHourOnly) {
    start();
    host::run_for(2 * kMinute);
    host::power_off();
    ASSERT_EQ(0, mtools("mattrib", image(), 223, "+r ::/25_05_20/10_VDM.TXT").status);
    host::usb_take_output();
    host::power_on();
    ship_every(20 * kSecond);
    std::string out;
    for (int second = 0; second < 3 * 60; ++second) {
        host::run_for(kSecond);
        const std::string slice = host::usb_take_output();
        EXPECT_LE(count(slice, "Intento creacion fichero numero: "), 1u) << "second " << second;
        out += slice;
    }
    EXPECT_EQ(30u, count(out, "Intento creacion fichero numero: ")) << out;
    EXPECT_NE(std::string::npos, out.find("Intento creacion fichero numero: 29\r\n"));
    EXPECT_EQ(std::string::npos, out.find("Intento creacion fichero numero: 30"));
    host::run_for(60 * kMinute);
    EXPECT_EQ(0u, host::restart_count());
    host::power_off();
    const ToolRun next = mtools("mtype", image(), 223, "::/25_05_20/11_VDM.TXT");
    ASSERT_EQ(0, next.status) << next.output;
    EXPECT_GE(records(next.output).size(), 3u);
}

// Dense traffic, two-part messages among it, across the hour and across the
// station's own command waits: every sentence the station was given is on
// the card once, in the file of the hour its tag block names.
TEST_F(CardLogStation, EverySentenceHeardIsLoggedOnceInTheHourItsTagNames) {
    HeardVdm heard_vdm;
    start();
    host::run_for(58 * kMinute);
    host::add_listener(&heard_vdm);
    sim::AisTransponder::Recording recording;
    codec::VdmOptions options;
    for (int i = 0; i < 20 * 240; ++i) {
        codec::Message message;
        message.numbers = {{"mmsi", 200000000 + i}};
        if (i % 10 == 0) {
            // A binary message long enough for two sentences.
            message.numbers.insert(
                {{"type", 6}, {"dest_mmsi", 224106730}, {"dac", 235}, {"fid", 10}});
            // Its bits tell the messages apart in both sentences.
            for (int k = 0; k < 300; ++k) {
                message.data.push_back(((i >> (k % 13)) & 1) != 0);
            }
        } else {
            message.numbers.insert({{"type", 1}, {"lat", 26000000 + i}, {"lon", -5000000}});
        }
        const auto bits = codec::encode_message(message);
        ASSERT_TRUE(bits.has_value()) << i;
        options.sequence_id = i % 10;
        std::string lines;
        for (const std::string& sentence : codec::vdm_sentences(*bits, options)) {
            lines += sentence;
        }
        recording.bursts.push_back({i * 50 * host::kMillisecond, lines});
    }
    const uint32_t lost_before = host::uart_status(0).lost;
    sim::station_devices().transponder->replay(recording);
    host::run_for(5 * kMinute);
    host::remove_listener(&heard_vdm);
    EXPECT_EQ(lost_before, host::uart_status(0).lost) << "nothing lost to a full port";
    host::power_off();

    std::map<std::string, int> logged;
    for (const char* hour : {"10", "11"}) {
        const ToolRun log =
            mtools("mtype", image(), 223, std::string("::/25_05_20/") + hour + "_VDM.TXT");
        ASSERT_EQ(0, log.status) << log.output;
        for (const Record& record : records(log.output)) {
            const size_t c = record.tag.find(",c:");
            ASSERT_NE(std::string::npos, c) << record.tag;
            const long unix_time = std::stol(record.tag.substr(c + 3));
            EXPECT_EQ(std::stoi(hour), unix_time / 3600 % 24) << record.tag << record.sentence;
            ++logged[record.sentence];
        }
    }
    ASSERT_GE(heard_vdm.sentences.size(), 20u * 240u);
    size_t once = 0;
    for (const std::string& sentence : heard_vdm.sentences) {
        once += logged[sentence] == 1 ? 1 : 0;
    }
    EXPECT_EQ(heard_vdm.sentences.size(), once) << "every sentence heard, logged once";
}

class CardLogTraffic : public CardLogStation {
  protected:
    std::string hour_file() {
        return mtools("mtype", image(), 223, "::/25_05_20/10_VDM.TXT").output;
    }
};

TEST_F(CardLogTraffic, AVolumeThatFillsWhileLoggingStaysSound) {
    start();
    host::run_for(2 * kMinute);
    host::power_off();
    fill_volume(image(), 8 << 10);
    host::power_on();
    ship_every(2 * kSecond);
    host::run_for(10 * kMinute);
    EXPECT_EQ(0u, host::restart_count());
    // Said once: the file rests until the next hour, rather than failing at
    // every record.
    const std::string console = host::usb_take_output();
    EXPECT_EQ(console.find("Error escritura SD"), console.rfind("Error escritura SD")) << console;
    EXPECT_NE(std::string::npos, console.find("Error escritura SD"));
    host::power_off();
    EXPECT_EQ(0, fsck_volume(image(), 223).status) << fsck_volume(image(), 223).output;
    const std::vector<Record> logged = whole_records(hour_file());
    EXPECT_GT(logged.size(), 20u);
    EXPECT_LT(free_bytes(image()), 2048u) << "the volume filled up";
    for (const Record& record : logged) {
        EXPECT_TRUE(tag_checksum_ok(record.tag)) << record.tag;
        EXPECT_EQ(0u, record.sentence.find("!AIVDM,")) << record.sentence;
    }
}

// A volume from block 0 whose boot sector holds code where a partition table
// would be: the station takes the whole card and logs on it.
TEST_F(CardLogTraffic, ASuperFloppyCardIsUsedWhole) {
    ASSERT_TRUE(make_fat_image(image(), 64, 0, "-F 16"));
    {
        // Boot code of another formatter where a partition table would be.
        std::fstream sector(image(), std::ios::in | std::ios::out | std::ios::binary);
        sector.seekp(446);
        sector.write("Insert a system disk", 20);
    }
    start();
    host::run_for(2 * kMinute);
    const std::string out = host::usb_take_output();
    EXPECT_NE(std::string::npos, out.find("\nNo MBR. Assuming Super Floppy format.\n")) << out;
    EXPECT_NE(std::string::npos, out.find("\tTarget SD OK"));
    EXPECT_NE(std::string::npos, out.find("Nuevo fichero creado: 25_05_20/10_vdm.txt"));
    host::power_off();
    EXPECT_EQ(0, fsck_volume(image(), 0).status);
}

// The card, pulled from the slot after a number of block writes once armed,
// that is in the middle of a record.
class PullingCard : public WrappedCard {
  public:
    using WrappedCard::WrappedCard;
    void pull_after(unsigned writes) { writes_left_ = static_cast<int>(writes); }
    bool write_block(uint32_t block, const uint8_t data[kBlockSize]) override {
        const bool written = card_->write_block(block, data);
        if (writes_left_ > 0 && --writes_left_ == 0) {
            card_->set_removed(true);
        }
        return written;
    }

  private:
    int writes_left_ = -1;
};

TEST_F(CardLogTraffic, ACardPulledInTheMiddleOfARecord) {
    start();
    auto& model = sim::model_of<sim::SdCardModel>(*sim::station_device("sd_card"));
    PullingCard card(&model);
    host::attach_sd_card(&card);
    host::run_for(2 * kMinute);
    ship_every(2 * kSecond);
    host::run_for(kMinute);
    card.pull_after(1);  // the tag block's data, before its directory entry
    host::run_for(2 * kMinute);
    EXPECT_TRUE(model.removed());
    EXPECT_EQ(0u, host::restart_count()) << "the station goes on without its card";
    // Put back while the station runs: it finds the card again and logs on
    // into the same hour's file.
    model.set_removed(false);
    const int64_t back = 1747735200 + host::now() / kSecond;
    host::run_for(3 * kMinute);
    EXPECT_NE(std::string::npos, host::usb_take_output().find("Tarjeta SD perdida"));
    host::power_off();
    EXPECT_EQ(0, fsck_volume(image(), 223).status) << fsck_volume(image(), 223).output;
    const std::vector<Record> logged = whole_records(hour_file());
    EXPECT_GT(logged.size(), 10u);
    size_t after = 0;
    for (const Record& record : logged) {
        EXPECT_TRUE(tag_checksum_ok(record.tag)) << record.tag;
        after += std::stoll(record.tag.substr(record.tag.find(",c:") + 3)) > back ? 1 : 0;
    }
    EXPECT_GT(after, 40u) << "a ship every 2 s for the last minutes";
}

}  // namespace
