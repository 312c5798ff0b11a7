// ktr09-log on the card of a known day: two linked stations, station 2
// hearing three ships come and go and station 1's weather broadcasts while
// the weather changes, its transponder silent for 20 minutes. What the
// reader counts is checked against what the transponder passed the station
// (its transcript, decoded by gpsdecode), the weather against gpsdecode's
// reading of the same broadcasts and against the weather station's changes,
// and a copy of the card with records damaged as a power cut leaves them.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "support/command.h"
#include "support/fat_tools.h"
#include "support/gpsdecode.h"
#include "support/state_dir.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

constexpr uint32_t kVolumeBlock = 223;  // of the default 64 MB card
constexpr int64_t kStart = 1747735200;  // 2025-05-20 10:00:00, when the stations start

ToolRun log_reader(const std::string& arguments, bool with_stderr = false) {
    return run_tool(std::string(KTR09_LOG_BINARY) + " " + arguments, with_stderr);
}

std::vector<std::vector<std::string>> csv_rows(const std::string& text) {
    std::vector<std::vector<std::string>> rows;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        std::vector<std::string> cells(1);
        for (const char c : line) {
            if (c == ',') {
                cells.emplace_back();
            } else {
                cells.back().push_back(c);
            }
        }
        rows.push_back(cells);
    }
    return rows;
}

// Each message gpsdecode finds in `sentences` (raw values, not scaled).
std::vector<json> gpsdecode_all(const std::string& sentences) {
    const TemporaryStateDir scratch;
    const fs::path input = scratch.path() / "in.nmea";
    std::ofstream(input, std::ios::binary) << sentences;
    const ToolRun run = run_tool(std::string(kGpsdecode) + " -u < " + quoted(input), false);
    std::vector<json> messages;
    std::istringstream lines(run.output);
    for (std::string line; std::getline(lines, line);) {
        messages.push_back(json::parse(line, nullptr, false));
    }
    return messages;
}

// The sentences station 2's transponder passed it (the transcript's
// "uart0<" lines) once its log file was open, one a line. Before the
// station has GPS time it logs nothing.
std::string heard_sentences(const std::string& transcript) {
    std::string sentences;
    std::istringstream lines(transcript);
    bool logging = false;
    for (std::string line; std::getline(lines, line);) {
        logging = logging || line.find(" usb> \"Nuevo fichero creado: ") != std::string::npos;
        const size_t quote = line.find(" uart0< \"");
        if (quote == std::string::npos || !logging) {
            continue;
        }
        std::string text = line.substr(quote + 9, line.size() - quote - 10);
        for (size_t end; (end = text.find("\\r\\n")) != std::string::npos; text.erase(0, end + 4)) {
            if (text.rfind("!AIVDM", 0) == 0) {
                sentences += text.substr(0, end) + "\r\n";
            }
        }
    }
    return sentences;
}

class LogReader : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        if (!fat_tools_installed() || !gpsdecode_installed()) {
            return;
        }
        root_ = new TemporaryStateDir;
        const std::string dir = std::string(KTR09_SOURCE_DIR) + "/sim/scenarios/card_day/";
        link_ = run_tool(std::string(KTR09_LINK_BINARY) + " --scenario " + dir +
                         "station-1.json --scenario " + dir + "station-2.json --state-root " +
                         root_->path().string());
    }
    static void TearDownTestSuite() {
        delete root_;
        root_ = nullptr;
    }
    void SetUp() override {
        if (root_ == nullptr) {
            GTEST_SKIP() << "mtools, dosfstools or gpsdecode are not installed";
        }
        ASSERT_EQ(0, link_.status) << link_.output;
    }
    static fs::path card(int station) {
        return root_->path() / ("station-" + std::to_string(station)) / "sd_card.img";
    }
    static std::string transcript() { return read_file(root_->path() / "station-2.transcript"); }

    // The day's card read four ways, one run of the two stations for all
    // (each run takes half a minute under the sanitizers).
    void summary_counts_what_the_transponder_passed_and_the_silence();
    void weather_rows_are_the_broadcasts_field_by_field();
    void ships_and_records_as_csv();
    void pictures_are_well_formed_svg();

    static TemporaryStateDir* root_;
    static ToolRun link_;
};

TemporaryStateDir* LogReader::root_ = nullptr;
ToolRun LogReader::link_;

// The summary's last table row ("all") as numbers and slashed groups.
std::vector<std::string> all_row(const std::string& summary) {
    std::istringstream lines(summary);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("all ", 0) == 0) {
            std::istringstream cells(line.substr(4));
            std::vector<std::string> row;
            for (std::string cell; cells >> cell;) {
                row.push_back(cell);
            }
            return row;
        }
    }
    return {};
}

void LogReader::summary_counts_what_the_transponder_passed_and_the_silence() {
    std::map<int, int> types;
    std::set<int64_t> mmsis;
    for (const json& message : gpsdecode_all(heard_sentences(transcript()))) {
        ++types[message.value("type", 0)];
        mmsis.insert(message.value("mmsi", 0));
    }
    const ToolRun summary = log_reader("summary " + quoted(card(2)));
    ASSERT_EQ(0, summary.status) << summary.output;
    // records, MMSIs, positions, own 8/21/6/12, heard 8/21/6/12, TIDELINK
    // frames, blocks, bad tag, damaged, gaps: every sentence the station was
    // passed is on its card, plus the two data blocks station 1 relayed.
    const std::string heard = std::to_string(types[8]) + "/" + std::to_string(types[21]) + "/" +
                              std::to_string(types[6]) + "/" + std::to_string(types[12]);
    const size_t sentences = csv_rows(heard_sentences(transcript())).size();
    const std::vector<std::string> expected = {std::to_string(sentences + 2),
                                               std::to_string(mmsis.size()),
                                               std::to_string(types[1] + types[18]),
                                               "0/0/0/0",
                                               heard,
                                               "0",
                                               "2",
                                               "0",
                                               "0",
                                               "1"};
    EXPECT_EQ(expected, all_row(summary.output)) << summary.output;
    EXPECT_EQ(4u, mmsis.size());  // three ships and station 1
    EXPECT_EQ(2, types[6]);       // the relayed frames: one message 6 each
    // The one gap is the transponder's silence from 1h30m to 1h50m.
    const size_t gap = summary.output.find("Gaps over 10 min with nothing logged:\n  ");
    ASSERT_NE(std::string::npos, gap) << summary.output;
    const std::string line = summary.output.substr(gap + 40, 44);
    EXPECT_GE(line.substr(11, 8), "11:29:00") << line;
    EXPECT_LE(line.substr(11, 8), "11:30:00") << line;
    EXPECT_GE(line.substr(34, 8), "11:50:00") << line;
    EXPECT_LE(line.substr(34, 8), "11:51:00") << line;
    EXPECT_NE(std::string::npos, summary.output.find("Stations named in the tag blocks: "
                                                     "\"KTR09 SIMULADA\""));
    // Station 1's card has its device's two frames, as they came.
    const std::vector<std::string> one = all_row(log_reader("summary " + quoted(card(1))).output);
    ASSERT_EQ(expected.size(), one.size());
    EXPECT_EQ("2", one[5]);
}

void LogReader::weather_rows_are_the_broadcasts_field_by_field() {
    // gpsdecode's raw values; its "not available" codes are empty cells.
    std::string broadcasts;
    for (const std::string hour : {"10", "11", "12"}) {
        broadcasts +=
            mtools("mtype", card(2), kVolumeBlock, "::/25_05_20/" + hour + "_VDM.TXT").output;
    }
    std::vector<json> decoded;
    for (const json& message : gpsdecode_all(broadcasts)) {
        if (message.value("type", 0) == 8) {
            decoded.push_back(message);
        }
    }
    const ToolRun csv = log_reader("export --csv --weather " + quoted(card(2)));
    ASSERT_EQ(0, csv.status) << csv.output;
    const auto rows = csv_rows(csv.output);
    ASSERT_EQ(decoded.size() + 1, rows.size());
    ASSERT_GE(decoded.size(), 50u);
    const auto cell = [](const json& m, const char* name, int missing, double scale, double offset,
                         const char* format) -> std::string {
        const int raw = m.value(name, missing);
        if (raw == missing) {
            return "";
        }
        char text[32];
        std::snprintf(text, sizeof text, format, raw * scale + offset);
        return text;
    };
    const char* const tendencies[] = {"steady", "decreasing", "increasing", ""};
    for (size_t i = 0; i < decoded.size(); ++i) {
        const json& m = decoded[i];
        const std::vector<std::string> expected = {
            rows[i + 1][0], std::to_string(m.value("mmsi", 0)), "0",
            cell(m, "lat", 5460000, 1 / 60000.0, 0, "%.5f"),
            cell(m, "lon", 10860000, 1 / 60000.0, 0, "%.5f"), rows[i + 1][5],
            cell(m, "wspeed", 127, 1, 0, "%.0f"), cell(m, "wgust", 127, 1, 0, "%.0f"),
            cell(m, "wdir", 360, 1, 0, "%.0f"), cell(m, "wgustdir", 360, 1, 0, "%.0f"),
            cell(m, "airtemp", -1024, 0.1, 0, "%.1f"), cell(m, "humidity", 101, 1, 0, "%.0f"),
            cell(m, "dewpoint", 501, 0.1, 0, "%.1f"), cell(m, "pressure", 511, 1, 799, "%.0f"),
            // gpsd names the tendency codes 1 and 2 the other way round.
            tendencies[m.value("pressuretend", 3) & 3], cell(m, "seastate", 13, 1, 0, "%.0f")};
        EXPECT_EQ(expected, rows[i + 1]) << "row " << i + 1;
        const std::string stamp = m.value("timestamp", "");  // "20T10:03Z"
        EXPECT_EQ(stamp.substr(0, 2) + " " + stamp.substr(3, 5), rows[i + 1][5]);
    }
    // The front as the weather station measured it: 21 kn from 250° and
    // 1005 hPa once it had come, 6 kn and 1018 hPa after it.
    std::map<std::string, std::set<std::string>> seen;
    for (size_t i = 1; i < rows.size(); ++i) {
        const std::string& utc = rows[i][0];
        const std::string phase = utc < "2025-05-20 11:00"                                ? "before"
                                  : utc >= "2025-05-20 11:15" && utc < "2025-05-20 12:20" ? "front"
                                  : utc >= "2025-05-20 12:35"                             ? "after"
                                                              : "change";
        seen[phase].insert(rows[i][6] + " kn " + rows[i][8] + " deg " + rows[i][13] + " hPa " +
                           rows[i][10] + " C");
    }
    // The first broadcast precedes the first whole weather sample.
    EXPECT_EQ((std::set<std::string>{" kn  deg  hPa  C", "8 kn 225 deg 1013 hPa 15.0 C"}),
              seen["before"]);
    EXPECT_EQ(std::set<std::string>{"21 kn 250 deg 1005 hPa 12.5 C"}, seen["front"]);
    EXPECT_EQ(std::set<std::string>{"6 kn 300 deg 1018 hPa 16.0 C"}, seen["after"]);
}

void LogReader::ships_and_records_as_csv() {
    std::map<int64_t, int> reports;
    for (const json& message : gpsdecode_all(heard_sentences(transcript()))) {
        ++reports[message.value("mmsi", 0)];
    }
    const ToolRun ships = log_reader("export --ships " + quoted(card(2)));
    ASSERT_EQ(0, ships.status) << ships.output;
    const auto rows = csv_rows(ships.output);
    ASSERT_EQ(5u, rows.size()) << ships.output;
    std::map<std::string, std::vector<std::string>> by_mmsi;
    for (size_t i = 1; i < rows.size(); ++i) {
        by_mmsi[rows[i][0]] = rows[i];
        EXPECT_EQ(std::to_string(reports[std::stoll(rows[i][0])]), rows[i][4]) << rows[i][0];
    }
    // The first ship sails north from 43.30 N at 12 kn from 10:10 until
    // 11:10: about 0.2 degrees, its longitude unchanged.
    const std::vector<std::string>& first = by_mmsi["224200001"];
    ASSERT_EQ(9u, first.size());
    EXPECT_EQ("2025-05-20 10:10:00", first[2]);
    EXPECT_GE(first[3], "2025-05-20 11:09:00");
    EXPECT_LT(first[3], "2025-05-20 11:10:00");
    EXPECT_EQ("43.300000", first[5]);
    EXPECT_NEAR(43.5, std::stod(first[6]), 0.005);
    EXPECT_EQ(first[7], first[8]);
    EXPECT_EQ("KTR09 STATION 1", by_mmsi["992471001"][1]);

    // One row per record, in the order logged; --only takes one hour.
    const ToolRun records = log_reader("export --only 25_05_20/12 " + quoted(card(2)));
    ASSERT_EQ(0, records.status);
    const auto lines = csv_rows(records.output);
    const std::string file =
        mtools("mtype", card(2), kVolumeBlock, "::/25_05_20/12_VDM.TXT").output +
        mtools("mtype", card(2), kVolumeBlock, "::/25_05_20/12_TLK.TXT").output;
    size_t logged = 0;
    for (size_t at = 0; (at = file.find("\\s:", at)) != std::string::npos; ++at) {
        ++logged;
    }
    EXPECT_EQ(logged + 1, lines.size());
    EXPECT_EQ("utc,station,talker,sentence,fragment,message_id,mmsi,lat,lon,speed_kn,course_deg",
              records.output.substr(0, records.output.find('\n')));
    for (size_t i = 1; i < lines.size(); ++i) {
        EXPECT_EQ("2025-05-20 12", lines[i][0].substr(0, 13));
    }
}

// Records as a power cut and a bad card leave them: counted, named with
// their file and offset, and the rest of the file still read. The card's
// day copied off, as from a mounted card.
TEST_F(LogReader, DamagedRecordsAreCountedAndNamed) {
    const TemporaryStateDir mounted;
    ASSERT_EQ(
        0,
        mtools("mcopy", card(2), kVolumeBlock, "-s ::/25_05_20 " + quoted(mounted.path())).status);
    fs::path hour;  // mtools writes the short name: 10_VDM.TXT
    for (const fs::directory_entry& file : fs::directory_iterator(mounted.path() / "25_05_20")) {
        if (file.path().filename().string().rfind("10_", 0) == 0 &&
            file.path().filename().string().find_first_of("vV") == 3) {
            hour = file.path();
        }
    }
    const std::string name = "25_05_20/" + hour.filename().string();
    std::string text = read_file(hour);
    const ToolRun before = log_reader("summary " + quoted(mounted.path() / "25_05_20"));
    // The third record's sentence cut in half, the next record written
    // straight after it; the fifth record's tag block checksum wrong; the
    // file ending in a tag block whose sentence never came.
    std::vector<size_t> starts;
    for (size_t at = 0; (at = text.find("\\s:", at)) != std::string::npos; ++at) {
        starts.push_back(at);
    }
    ASSERT_GE(starts.size(), 6u);
    const size_t cut_from = text.find('!', starts[2]) + 10;
    text.erase(cut_from, starts[3] - cut_from);
    const size_t fifth = text.find("\\s:", text.find("\\s:", cut_from) + 1);
    const size_t star = text.find('*', fifth);
    text[star + 1] = text[star + 1] == '0' ? '1' : '0';
    const size_t last_tag = text.size();
    text += "\\s:KTR09 SIMULADA,c:1747738799,t:L*74\\";
    std::ofstream(hour, std::ios::binary | std::ios::trunc) << text;

    const ToolRun after = log_reader("summary " + quoted(mounted.path() / "25_05_20"));
    ASSERT_EQ(0, after.status) << after.output;
    const std::vector<std::string> was = all_row(before.output);
    const std::vector<std::string> now = all_row(after.output);
    ASSERT_EQ(was.size(), now.size()) << after.output;
    EXPECT_EQ(std::to_string(std::stoi(was[0]) + 1), now[0]);  // the tag block at the end
    EXPECT_EQ("1", now[7]);                                    // bad tag
    EXPECT_EQ("3", now[8]);                                    // damaged
    for (const std::string& expected : std::vector<std::string>{
             "Damaged records: 3",
             name + " offset " + std::to_string(starts[2]) + ": record cut short",
             name + " offset " + std::to_string(fifth) + ": tag block checksum fails",
             name + " offset " + std::to_string(last_tag) + ": record cut short"}) {
        EXPECT_NE(std::string::npos, after.output.find(expected)) << expected << "\n"
                                                                  << after.output;
    }

    // A file the card cannot give back (its first cluster out of the
    // volume) is named; the others are read.
    const fs::path broken = mounted.path() / "broken.img";
    fs::copy_file(card(2), broken);
    {
        std::fstream image(broken, std::ios::in | std::ios::out | std::ios::binary);
        std::string bytes(1 << 20, '\0');  // the directories are near the volume's start
        image.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        const size_t entry = bytes.find("11_VDM  TXT");
        ASSERT_NE(std::string::npos, entry);
        image.seekp(static_cast<std::streamoff>(entry + 26));
        image.write("\xF0\xFF", 2);
    }
    const ToolRun unreadable = log_reader("summary " + quoted(broken), true);
    EXPECT_EQ(2, unreadable.status);
    EXPECT_NE(
        std::string::npos,
        unreadable.output.find("Files that cannot be read: 1\n  25_05_20/11_vdm.txt (mtype: "))
        << unreadable.output;
    EXPECT_NE(std::string::npos, unreadable.output.find("\n2025-05-20 "));

    // A card with no station files says so; an image without a FAT volume too.
    fs::remove_all(mounted.path() / "25_05_20");
    const ToolRun empty = log_reader("summary " + quoted(mounted.path()), true);
    EXPECT_EQ(2, empty.status);
    EXPECT_NE(std::string::npos, empty.output.find("no station log files")) << empty.output;
    std::ofstream(mounted.path() / "zeros.img", std::ios::binary) << std::string(4096, '\0');
    const ToolRun zeros = log_reader("plot " + quoted(mounted.path() / "zeros.img"), true);
    EXPECT_EQ(2, zeros.status);
    EXPECT_NE(std::string::npos, zeros.output.find("no FAT volume")) << zeros.output;
}

void LogReader::pictures_are_well_formed_svg() {
    const TemporaryStateDir out;
    const ToolRun plot = log_reader("plot --out " + quoted(out.path()) + " " + quoted(card(2)));
    ASSERT_EQ(0, plot.status) << plot.output;
    for (const char* name : {"weather.svg", "traffic.svg"}) {
        const fs::path svg = out.path() / name;
        ASSERT_TRUE(fs::exists(svg)) << name;
        if (fs::exists("/usr/bin/xmllint")) {
            EXPECT_EQ(0, run_tool("/usr/bin/xmllint --noout " + quoted(svg)).status) << name;
        }
    }
    EXPECT_NE(std::string::npos, read_file(out.path() / "weather.svg").find("992471001"));
}

TEST_F(LogReader, TheDaysCardSummaryCsvAndPictures) {
    summary_counts_what_the_transponder_passed_and_the_silence();
    weather_rows_are_the_broadcasts_field_by_field();
    ships_and_records_as_csv();
    pictures_are_well_formed_svg();
}

}  // namespace
