// ktr09-sim --vcd: the dump parses as a Value Change Dump declaring every pin
// once, and the LED in it blinks as the station's tick drives it: dark for
// 100 ms once a second.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support/command.h"
#include "support/state_dir.h"

namespace {

struct Change {
    uint64_t time;
    char value;
};

struct Dump {
    std::string timescale;
    std::map<std::string, std::string> names;            // identifier -> name
    std::map<std::string, std::vector<Change>> changes;  // by name
    bool definitions_ended = false;
    std::string error;
};

// Reads the subset of the format the dump uses: $timescale, $var wire 1,
// $dumpvars, #time and scalar changes; anything else is an error.
Dump parse_vcd(std::istream& in) {
    Dump dump;
    uint64_t time = 0;
    bool have_time = false;
    for (std::string word; in >> word;) {
        if (word == "$timescale") {
            in >> dump.timescale >> word;
        } else if (word == "$var") {
            std::string type, width, id, name, end;
            in >> type >> width >> id >> name >> end;
            if (type != "wire" || width != "1" || end != "$end" || dump.names.count(id) != 0) {
                dump.error = "bad declaration of " + name;
                return dump;
            }
            dump.names[id] = name;
        } else if (word == "$enddefinitions") {
            in >> word;
            dump.definitions_ended = true;
        } else if (word == "$version" || word == "$scope" || word == "$upscope") {
            while (word != "$end" && in >> word) {
            }
        } else if (word == "$dumpvars" || word == "$end") {
        } else if (word[0] == '#') {
            const uint64_t next = std::stoull(word.substr(1));
            if (have_time && next <= time) {
                dump.error = "time goes back at " + word;
                return dump;
            }
            time = next;
            have_time = true;
        } else if (std::string("01xz").find(word[0]) != std::string::npos && have_time &&
                   dump.names.count(word.substr(1)) != 0) {
            dump.changes[dump.names[word.substr(1)]].push_back({time, word[0]});
        } else {
            dump.error = "unexpected \"" + word + "\"";
            return dump;
        }
    }
    return dump;
}

TEST(SimVcd, DumpsEveryPinAndTheLedBlinksEverySecond) {
    const TemporaryStateDir state;
    const std::filesystem::path file = state.path() / "pins.vcd";
    const ToolRun run =
        run_tool(std::string(KTR09_SIM_BINARY) + " --duration 12s --vcd " + file.string() +
                     " --state-dir " + (state.path() / "state").string() + " >/dev/null",
                 true);
    ASSERT_EQ(0, run.status) << run.output;
    std::ifstream in(file);
    const Dump dump = parse_vcd(in);
    ASSERT_TRUE(dump.error.empty()) << dump.error;
    EXPECT_TRUE(dump.definitions_ended);
    EXPECT_EQ("1us", dump.timescale);

    std::set<std::string> names;
    for (const auto& entry : dump.names) {
        names.insert(entry.second);
    }
    for (const char* name : {"led_p13", "output1_p33", "output4_p30", "sd_ready_p34",
                             "ais_disable_p10", "sensor1_m1_p15", "sensor2_disable_p42",
                             "input1_p36", "input4_p43", "mode_pin20_p20", "mode_pin24_p24"}) {
        EXPECT_EQ(1u, names.count(name)) << name;
    }
    // Mode 0: both mode pins held high from the start.
    ASSERT_FALSE(dump.changes.at("mode_pin20_p20").empty());
    EXPECT_EQ('1', dump.changes.at("mode_pin20_p20").back().value);

    // After start-up: each fall a second after the one before, each rise
    // 100 ms after its fall, within a tick (1 ms).
    std::vector<uint64_t> falls;
    std::vector<uint64_t> rises;
    for (const Change& change : dump.changes.at("led_p13")) {
        if (change.time >= 5000000) {
            (change.value == '0' ? falls : rises).push_back(change.time);
        }
    }
    ASSERT_GE(falls.size(), 5u);
    ASSERT_GE(rises.size(), falls.size() - 1);
    const auto near = [](uint64_t a, uint64_t b) { return a + 1000 >= b && b + 1000 >= a; };
    for (size_t i = 1; i < falls.size(); ++i) {
        EXPECT_TRUE(near(1000000, falls[i] - falls[i - 1])) << "fall " << falls[i];
    }
    for (const uint64_t fall : falls) {
        bool rose = fall + 100000 > 12000000;
        for (const uint64_t rise : rises) {
            rose = rose || near(rise, fall + 100000);
        }
        EXPECT_TRUE(rose) << "no rise 100 ms after " << fall;
    }
}

}  // namespace
