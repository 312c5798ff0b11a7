// A simulated day of the default station with its transponder: the clock set
// from GPS time after start-up and every hour, every closed weather sample
// broadcast as message 8 and confirmed, the next request following each
// confirmation by the period less 5 s, a ship warned once when it enters the
// watched rectangle, and the broadcast light status corrected when the light
// input changes.
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "codec/nmea.h"
#include "ktr09_board.h"
#include "devices/ais_transponder.h"
#include "host/machine.h"
#include "station.h"
#include "support/fat_tools.h"
#include "support/state_dir.h"
#include "support/station_dir.h"

namespace {

using host::kSecond;
constexpr host::Micros kMinute = 60 * kSecond;
constexpr host::Micros kHour = 60 * kMinute;

// Whole lines each way, with the moment their line feed went by.
struct Lines : host::MachineListener {
    struct Line {
        host::Micros at;
        std::string text;
    };
    std::vector<Line> console, to_transponder, from_transponder;

    void usb_from_station(const uint8_t* data, size_t size) override {
        for (size_t i = 0; i < size; ++i) {
            add(console, console_part, data[i]);
        }
    }
    void uart_from_station(uint8_t port, uint8_t byte) override {
        if (port == 0) {
            add(to_transponder, tx_part, byte);
        }
    }
    void uart_to_station(uint8_t port, uint8_t byte, bool accepted) override {
        if (port == 0 && accepted) {
            add(from_transponder, rx_part, byte);
        }
    }
    static void add(std::vector<Line>& lines, std::string& part, uint8_t byte) {
        part += static_cast<char>(byte);
        if (byte == '\n') {
            lines.push_back({host::now(), part});
            part.clear();
        }
    }
    static std::vector<host::Micros> times(const std::vector<Line>& lines, const std::string& start,
                                           const std::string& also = "") {
        std::vector<host::Micros> out;
        for (const Line& line : lines) {
            if (line.text.rfind(start, 0) == 0 && line.text.find(also) != std::string::npos) {
                out.push_back(line.at);
            }
        }
        return out;
    }

    std::string console_part, tx_part, rx_part;
};

TEST(StationDay, ClockWeatherShipAndLight) {
    TemporaryStateDir state;
    host::reset_machine();
    ASSERT_EQ("", attach_station(state.path()));
    Lines lines;
    host::add_listener(&lines);
    sim::AisTransponder& transponder = *sim::station_devices().transponder;
    host::power_on();

    host::run_for(kHour);
    sim::AisTransponder::Ship ship;
    ship.mmsi = 224106730;
    ship.latitude = 43.3333;  // south of the rectangle, sailing north through it
    ship.longitude = -8.39;
    ship.course_deg = 0;
    ship.speed_knots = 20;
    ship.every = 30 * kSecond;
    ship.until = 2 * kHour;
    std::string error;
    ASSERT_TRUE(transponder.add_ship(ship, &error)) << error;
    host::run_for(5 * kHour);
    host::set_input_level(board::kInputs[0], 0);  // the light goes out
    host::run_for(18 * kHour);
    host::remove_listener(&lines);
    host::power_off();
    EXPECT_EQ(0u, host::restart_count());

    // The card: a clean volume holding every received sentence once, each
    // behind a tag block whose checksum verifies.
    const std::filesystem::path image = state.path() / "sd_card.img";
    EXPECT_EQ(0, fsck_volume(image, 223).status);
    const ToolRun tree = mtools("mdir", image, 223, "-b -/ ::/");
    EXPECT_NE(std::string::npos, tree.output.find("25_05_20/11_VDM.TXT")) << tree.output;
    const ToolRun log = mtools("mtype", image, 223, "::/25_05_20/11_VDM.TXT");
    size_t records = 0;
    for (size_t at = log.output.find('\\'); at != std::string::npos;
         at = log.output.find("\n\\", at + 1)) {
        const size_t tag = log.output[at] == '\\' ? at : at + 1;
        const size_t star = log.output.find('*', tag);
        EXPECT_EQ(
            codec::nmea_checksum(std::string_view(log.output).substr(tag + 1, star - tag - 1)),
            std::stoul(log.output.substr(star + 1, 2), nullptr, 16));
        ++records;
    }
    size_t heard_in_hour = 0;
    for (const auto& line : lines.from_transponder) {
        heard_in_hour += line.text.rfind("!AIVDM", 0) == 0 && line.at >= kHour + 20 * kSecond &&
                                 line.at < 2 * kHour + 20 * kSecond
                             ? 1
                             : 0;
    }
    EXPECT_GT(records, 0u);
    EXPECT_NEAR(static_cast<double>(heard_in_hour), static_cast<double>(records), 2.0)
        << "the 11 o'clock file holds that hour's traffic once";

    // GPS time after start-up and again every hour.
    const auto set = Lines::times(lines.console, "********       Nueva hora sistema");
    ASSERT_FALSE(set.empty());
    EXPECT_LT(set.front(), 2 * kMinute);
    EXPECT_GE(set.size(), 24u);

    // Every closed sample goes out at once; every request is confirmed.
    const auto samples = Lines::times(lines.console, "*", "Nueva muestra EMA");
    const auto requests = Lines::times(lines.to_transponder, "!AIMEB,3,1,", ",8,");
    const auto reports = Lines::times(lines.from_transponder, "!AIVDO,1,1,", ",A,8");
    EXPECT_GE(samples.size(), 140u);
    size_t next = 0;
    for (host::Micros sample : samples) {
        while (next < requests.size() && requests[next] < sample) {
            ++next;
        }
        ASSERT_LT(next, requests.size());
        EXPECT_LT(requests[next] - sample, 2 * kSecond);
    }
    EXPECT_GE(reports.size() + 1, requests.size());
    // Between samples the period rules: 180 s less 5 s after the report.
    size_t report = 0;
    for (size_t k = 1; k < requests.size(); ++k) {
        while (report + 1 < reports.size() && reports[report + 1] < requests[k]) {
            ++report;
        }
        const host::Micros since = requests[k] - reports[report];
        const bool after_sample = [&] {
            for (host::Micros sample : samples) {
                if (sample <= requests[k] && requests[k] - sample < 2 * kSecond) {
                    return true;
                }
            }
            return false;
        }();
        if (!after_sample) {
            EXPECT_GE(since, 174 * kSecond);
            EXPECT_LE(since, 176 * kSecond);
        }
    }

    // One warning, to the ship that entered.
    const auto warnings = Lines::times(lines.to_transponder, "!AIMEB,1,1,", ",12,");
    ASSERT_EQ(1u, warnings.size());
    EXPECT_GT(warnings.front(), kHour);
    EXPECT_LT(warnings.front(), 2 * kHour);

    // The light status: on until 6 h, then corrected to off once.
    const auto light_off = Lines::times(lines.to_transponder, "$AIACE,", ",E4,");
    ASSERT_EQ(1u, light_off.size());
    EXPECT_GT(light_off.front(), 6 * kHour);
    EXPECT_LT(light_off.front(), 6 * kHour + 10 * kMinute);
}

}  // namespace
