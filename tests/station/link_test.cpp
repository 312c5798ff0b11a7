// Stations that hear each other: ktr09-link runs two default stations for
// ten simulated minutes. What each one's firmware has its transponder send
// (the weather as message 8) and what the transponder sends on its own
// (message 21), the other's transponder reports as !AIVDM when the
// transmission ends; nobody hears itself; a second run is the same to the
// byte. A TIDELINK frame at one station reaches the other's TIDELINK device
// through messages 6. The command lines that cannot make a linked run are
// refused.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "codec/ais_messages.h"
#include "codec/ais_sentences.h"
#include "support/command.h"
#include "support/state_dir.h"

namespace {

namespace fs = std::filesystem;

ToolRun run_link(const fs::path& root, const std::string& extra = "") {
    return run_tool(std::string(KTR09_LINK_BINARY) + " --stations 2 --duration 10m --state-root " +
                    root.string() + " " + extra);
}

struct Heard {
    std::string time;  // as the transcript writes it
    codec::VdmMessage message;
};

// The AIS messages a station's transponder passed it, from its transcript's
// "uart0<" lines (sentences with escaped line ends inside quotes).
std::vector<Heard> messages_in(const std::string& transcript) {
    std::vector<Heard> found;
    codec::VdmAssembler assembler;
    std::istringstream lines(transcript);
    for (std::string line; std::getline(lines, line);) {
        const size_t quote = line.find(" uart0< \"");
        if (quote == std::string::npos) {
            continue;
        }
        std::string text = line.substr(quote + 9, line.size() - quote - 10);
        for (size_t end; (end = text.find("\\r\\n")) != std::string::npos;) {
            if (const auto message = assembler.add(text.substr(0, end) + "\r\n")) {
                found.push_back({line.substr(0, quote), *message});
            }
            text.erase(0, end + 4);
        }
    }
    return found;
}

// How often `text` occurs in what the station sends its sensor channel 2
// device, the transcript's lines of that port joined.
size_t sent_to_device(const std::string& transcript, const std::string& text) {
    std::string sent;
    std::istringstream lines(transcript);
    for (std::string line; std::getline(lines, line);) {
        const size_t quote = line.find(" uart1> \"");
        if (quote != std::string::npos) {
            sent += line.substr(quote + 9, line.size() - quote - 10);
        }
    }
    size_t count = 0;
    for (size_t at = sent.find(text); at != std::string::npos; at = sent.find(text, at + 1)) {
        ++count;
    }
    return count;
}

class LinkedStations : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        first_ = new TemporaryStateDir;
        second_ = new TemporaryStateDir;
        first_run_ = run_link(first_->path());
        second_run_ = run_link(second_->path());
    }
    static void TearDownTestSuite() {
        delete first_;
        delete second_;
    }
    static std::string file(const TemporaryStateDir* root, const char* name) {
        return read_file(root->path() / name);
    }
    static TemporaryStateDir* first_;
    static TemporaryStateDir* second_;
    static ToolRun first_run_;
    static ToolRun second_run_;
};

TemporaryStateDir* LinkedStations::first_ = nullptr;
TemporaryStateDir* LinkedStations::second_ = nullptr;
ToolRun LinkedStations::first_run_;
ToolRun LinkedStations::second_run_;

TEST_F(LinkedStations, EachReportsWhatTheOtherTransmittedAndNeverItself) {
    ASSERT_EQ(0, first_run_.status) << first_run_.output;
    // Each station's closing line gives the link's whole duration, its
    // card's format before power-on included.
    const std::string closing = "[sim] 600.000 s simulated in ";
    const size_t first = first_run_.output.find(closing);
    ASSERT_NE(std::string::npos, first) << first_run_.output;
    EXPECT_NE(std::string::npos, first_run_.output.find(closing, first + 1)) << first_run_.output;
    const std::vector<Heard> one = messages_in(file(first_, "station-1.transcript"));
    const std::vector<Heard> two = messages_in(file(first_, "station-2.transcript"));
    const struct {
        const std::vector<Heard>& sender;
        const std::vector<Heard>& hearer;
        int64_t sender_mmsi;
        int64_t hearer_mmsi;
    } rows[] = {{one, two, 992471001, 992471002}, {two, one, 992471002, 992471001}};
    for (const auto& row : rows) {
        std::vector<std::pair<double, codec::Bits>> sent;
        std::vector<std::pair<double, codec::Bits>> heard;
        std::map<int64_t, int> types_sent;
        for (const Heard& h : row.sender) {
            if (h.message.own) {
                sent.push_back({std::stod(h.time), h.message.payload});
                const auto decoded = codec::decode_message(h.message.payload);
                ASSERT_TRUE(decoded);
                EXPECT_EQ(row.sender_mmsi, decoded->number("mmsi"));
                ++types_sent[decoded->number("type")];
            }
        }
        for (const Heard& h : row.hearer) {
            if (!h.message.own) {
                heard.push_back({std::stod(h.time), h.message.payload});
                const auto decoded = codec::decode_message(h.message.payload);
                ASSERT_TRUE(decoded);
                EXPECT_NE(row.hearer_mmsi, decoded->number("mmsi")) << "heard itself";
            }
        }
        EXPECT_GE(types_sent[8], 2) << "the weather every three minutes";
        EXPECT_GE(types_sent[21], 2) << "its AtoN report every three minutes";
        ASSERT_EQ(sent.size(), heard.size()) << "station " << row.sender_mmsi;
        for (size_t i = 0; i < sent.size(); ++i) {
            EXPECT_EQ(sent[i].second, heard[i].second) << "message " << i;
            // The hearer's report follows right after the sender's own, as
            // both end together (its line may be busier for a moment).
            EXPECT_NEAR(sent[i].first, heard[i].first, 0.1) << "message " << i;
        }
    }
}

TEST_F(LinkedStations, SecondRunIsTheSameToTheByte) {
    ASSERT_EQ(0, second_run_.status) << second_run_.output;
    for (const char* name :
         {"station-1.transcript", "station-2.transcript", "station-1.usb", "station-2.usb"}) {
        const std::string first = file(first_, name);
        EXPECT_FALSE(first.empty()) << name;
        EXPECT_TRUE(first == file(second_, name)) << name;
    }
    EXPECT_NE(file(first_, "station-1.transcript"), file(first_, "station-2.transcript"))
        << "two stations, two identities";
}

// Station 1's TIDELINK device sends two frames; its firmware relays them as
// messages 6 to station 2, whose transponder reports them and whose firmware
// hands the data, put together again, to its own TIDELINK device.
TEST(LinkedTidelink, FramesCrossTheAirAsMessages6) {
    TemporaryStateDir root;
    const std::string dir = std::string(KTR09_SOURCE_DIR) + "/sim/scenarios/link/tidelink_relay/";
    const ToolRun run = run_tool(std::string(KTR09_LINK_BINARY) + " --stations 2 --scenario " +
                                 dir + "station-1.json --scenario " + dir +
                                 "station-2.json --state-root " + root.path().string());
    ASSERT_EQ(0, run.status) << run.output;
    const std::string one = read_file(root.path() / "station-1.transcript");
    const std::string two = read_file(root.path() / "station-2.transcript");
    int messages6 = 0;
    for (const Heard& h : messages_in(two)) {
        const auto decoded = codec::decode_message(h.message.payload);
        if (!h.message.own && decoded && decoded->number("type") == 6) {
            ++messages6;
            EXPECT_EQ(992471001, decoded->number("mmsi"));
            EXPECT_EQ(992471002, decoded->number("dest_mmsi"));
        }
    }
    EXPECT_EQ(4, messages6) << "one message, then a 123-byte frame in three parts";
    const std::string frames[] = {"2,17,A,B,T$1 LEVEL 2.35*3A",
                                  "2,18,A,B,T$2 LEVEL 2.41 TEMP 14.2 SAL 35.1 FLOW 0.82 DIR 124 "
                                  "BATT 12.6 OK PRES 1013 HUM 81 WIND 12.5 GUST 18 WDIR 275.*7D"};
    for (const std::string& frame : frames) {
        EXPECT_EQ(1u, sent_to_device(two, frame)) << frame;
        EXPECT_EQ(1u, sent_to_device(two, "\\\\" + frame)) << "right behind one tag block";
        EXPECT_EQ(0u, sent_to_device(one, frame)) << "no frame comes back to its sender";
    }
}

// Under --check every station watches its invariants and labels what it
// reports; one station's violation fails the link's run. Station 1 goes into
// its settings mode, where it serves the transponder no more.
TEST(LinkCheck, AViolationAtOneStationFailsTheRun) {
    TemporaryStateDir dir;
    const fs::path scenario = dir.path() / "settings.json";
    std::ofstream(scenario) << R"({"description": "settings mode", "duration": "3m",
            "steps": [{"at": "20s", "usb": "SETTINGS\r"}]})";
    const std::string link = std::string(KTR09_LINK_BINARY) + " --check --stations 2 --state-root ";
    const struct {
        std::string command;
        int code;
        std::vector<std::string> says;
    } rows[] = {
        {link + (dir.path() / "clean").string() + " --duration 2m",
         0,
         {"station-1: [check] no violation", "station-2: [check] no violation"}},
        {link + (dir.path() / "settings").string() + " --scenario " + scenario.string(),
         1,
         {"station-1: [check] 1 violation", "station-2: [check] no violation",
          "ktr09-link: station 1 (process"}},
    };
    for (const auto& row : rows) {
        const ToolRun run = run_tool(row.command);
        EXPECT_EQ(row.code, run.status) << row.command << "\n" << run.output;
        for (const std::string& text : row.says) {
            EXPECT_NE(std::string::npos, run.output.find(text)) << text << "\n" << run.output;
        }
    }
}

TEST(LinkCommandLine, RunsThatCannotBeAreRefused) {
    TemporaryStateDir dir;
    const std::string sim = KTR09_SIM_BINARY;
    const std::string socket = (dir.path() / "none.sock").string();
    // The codes of docs/exit-codes.md: 64 a usage error, 1 a run fault.
    const struct {
        std::string command;
        std::string says;
        int code;
    } rows[] = {
        {sim + " --link " + socket + " --duration 1m", "excludes", 64},
        {sim + " --link-index 1", "requires --link", 64},
        {sim + " --state-dir " + dir.path().string() + " --link " + socket, "cannot connect", 1},
        {std::string(KTR09_LINK_BINARY) + " --duration 1m --quantum 2s --state-root " +
             dir.path().string(),
         "--quantum", 64},
        {std::string(KTR09_LINK_BINARY) + " --duration 1m --sim /bin/false --state-root " +
             dir.path().string(),
         "ended before joining", 1},
    };
    for (const auto& row : rows) {
        const ToolRun run = run_tool(row.command);
        EXPECT_EQ(row.code, run.status) << row.command;
        EXPECT_NE(std::string::npos, run.output.find(row.says)) << row.command << "\n"
                                                                << run.output;
    }
}

}  // namespace
