// The invariant monitors against hand-made traffic: each reports a
// violation of its property and stays quiet on a sound exchange.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "codec/ais_messages.h"
#include "codec/nmea.h"
#include "host/machine.h"
#include "monitors/monitors.h"

namespace {

using host::kSecond;
using sim::monitors::World;

class Monitors : public ::testing::Test {
  protected:
    void SetUp() override { host::reset_machine(); }
    void TearDown() override { host::reset_machine(); }

    static void to_station(sim::monitors::Monitor& monitor, uint8_t port, const std::string& text,
                           bool accepted = true) {
        for (const char c : text) {
            monitor.uart_to_station(port, static_cast<uint8_t>(c), accepted);
        }
    }
    static void from_station(sim::monitors::Monitor& monitor, uint8_t port,
                             const std::string& text) {
        for (const char c : text) {
            monitor.uart_from_station(port, static_cast<uint8_t>(c));
        }
    }
    std::vector<std::string> what() const {
        std::vector<std::string> out;
        for (const auto& v : report_.violations()) {
            out.push_back(v.what);
        }
        return out;
    }

    sim::monitors::Report report_{nullptr};
};

// ---- Sentences ----------------------------------------------------------------------

struct LineCase {
    const char* description;
    std::string line;
    bool from_station;
    bool tidelink;
    bool sound;
};

TEST_F(Monitors, EachLineIsJudgedByItsOwnRule) {
    const std::string rmc =
        "$GPRMC,100020.00,A,4321.50000,N,00823.50000,W,0.000,,200525,,,A*6C\r\n";
    const LineCase cases[] = {
        {"a sentence whose checksum matches", rmc, false, false, true},
        {"one checksum digit wrong",
         "$GPRMC,100020.00,A,4321.50000,N,00823.50000,W,0.000,,200525,,,A*6D\r\n", false, false,
         false},
        {"lower-case hex digits", "$UPANQ,AID*3b\r\n", true, false, true},
        {"a control byte in a field", "$UPANQ,A\x01ID*3B\r\n", true, false, false},
        {"a byte above 0x7E in a field",
         "$UPANQ,A\xC9"
         "D*3B\r\n",
         true, false, false},
        {"the station's $UPMCR without checksum", "$UPMCR,992471001,SBS,0,C\r\n", true, false,
         true},
        {"an encapsulated sentence without checksum",
         "!AIMEB,1,1,0,0,992471001,8,1,1,,0,C,05,0\r\n", true, false, false},
        {"no CR before the LF", "$UPANQ,AID*3B\n", true, false, false},
        {"something after the checksum", "$UPANQ,AID*3BX\r\n", true, false, false},
        {"not a sentence at all", "hello\r\n", false, false, false},
        {"a tag block whose checksum is not hexadecimal",
         "\\s:KTR09,c:1747735200,t:L*" + std::string("XX") + "\\$AIHBT,30,A,1*0C\r\n", true, false,
         false},
        {"a TIDELINK frame whose checksum is not hexadecimal",
         "2,17,A,B,T$1 LEVEL*" + std::string("XX") + "\r\n", false, true, false},
        {"a data block relayed to a TIDELINK device goes as it came",
         "2,9,Y,X,\x01\xFF"
         "\r\n",
         true, true, true},
    };
    for (const LineCase& c : cases) {
        EXPECT_EQ(
            c.sound,
            sim::monitors::SentenceMonitor::judge_line(c.line, c.from_station, c.tidelink).empty())
            << c.description << ": "
            << sim::monitors::SentenceMonitor::judge_line(c.line, c.from_station, c.tidelink);
    }
}

// Checksums worked out with the XOR rule of each kind of line.
TEST_F(Monitors, TagBlocksAndTidelinkFramesWithTheirOwnChecksums) {
    const std::string tag = "s:KTR09,c:1747735200,t:L";
    const std::string body = "AIHBT,30,A,1";
    char sum[8];
    std::snprintf(sum, sizeof sum, "%02X", codec::nmea_checksum(tag));
    const std::string sentence = codec::build_sentence('$', body);
    EXPECT_EQ("", sim::monitors::SentenceMonitor::judge_line(
                      "\\" + tag + "*" + sum + "\\" + sentence, true, false));
    EXPECT_NE("", sim::monitors::SentenceMonitor::judge_line("\\" + tag + "*00\\" + sentence, true,
                                                             false));
    // "2,17,A,B,T$1 LEVEL": the XOR of every byte before '*', from the first.
    const std::string frame = "2,17,A,B,T$1 LEVEL";
    std::snprintf(sum, sizeof sum, "%02X", codec::nmea_checksum(frame));
    EXPECT_EQ("",
              sim::monitors::SentenceMonitor::judge_line(frame + "*" + sum + "\r\n", false, true));
    std::snprintf(sum, sizeof sum, "%02X", codec::nmea_checksum(frame.substr(1)));
    EXPECT_NE("",
              sim::monitors::SentenceMonitor::judge_line(frame + "*" + sum + "\r\n", false, true));
}

TEST_F(Monitors, ABadSentenceOnALineIsReportedUnlessItsPeerIsMadeNoisy) {
    World world;
    world.noisy_inbound = [](uint8_t port) { return port == 3; };
    sim::monitors::SentenceMonitor monitor(world, &report_);
    to_station(monitor, 3, "$WIMWV,225.0,T,8.0,N,A*29\r\n");
    EXPECT_TRUE(report_.violations().empty()) << "a weather station made to send bad checksums";
    to_station(monitor, 0, "$GPGGA,100020.00*00\r\n");
    // A sentence cut when the station closed its port, then a whole one: a
    // receiver starts again at the '$', as the monitor does.
    from_station(monitor, 0, "!AIMEB,3,2,0,0,992471001,8,1,1,,0,C,Kwu3wu$UPANQ,AID*3B\r\n");
    // A '$' inside a TIDELINK frame relayed to its device is the frame's own.
    World tidelink;
    tidelink.configuration = [] {
        codec::StationConfig config = codec::default_station_config();
        config.configuracion_sensor[1].csensor = 2;
        return config;
    };
    sim::monitors::SentenceMonitor relay(tidelink, &report_);
    char sum[4];
    std::snprintf(sum, sizeof sum, "%02X", codec::nmea_checksum("2,17,A,B,T$1 LEVEL"));
    from_station(relay, 1, "2,17,A,B,T$1 LEVEL*" + std::string(sum) + "\r\n");
    ASSERT_EQ(1u, report_.violations().size());
    EXPECT_NE(std::string::npos, report_.violations()[0].what.find("uart0 to it"));
}

// ---- Card log ---------------------------------------------------------------------------

class CardLog : public Monitors {
  protected:
    World world_;  // no card image: judge() is given the records
    sim::monitors::CardLogMonitor monitor_{world_, &report_};
    void hear(const std::string& sentence) {
        to_station(monitor_, 0, sentence);
        host::run_for(kSecond);
    }
    static std::string vdm(char c) {
        return codec::build_sentence(
            '!', "AIVDM,1,1,,A,13aEOK?P00PD2wVMdLDRhgv" + std::string(1, c) + ",0");
    }
    // 1747735200 is 2025-05-20 10:00:00 UTC.
    static sim::monitors::CardLogMonitor::Record record(const std::string& sentence,
                                                        const char* file = "25_05_20/10_VDM.TXT",
                                                        const char* when = "1747735210") {
        return {file, std::string("s:KTR09,c:") + when + ",t:L*00", sentence};
    }
};

TEST_F(CardLog, EverySentenceHeardOnceInItsHoursFileIsSound) {
    hear(vdm('A'));
    hear(vdm('B'));
    hear(vdm('C'));
    monitor_.judge({record(vdm('A')), record(vdm('B')), record(vdm('C'))});
    EXPECT_TRUE(report_.violations().empty());
}

TEST_F(CardLog, ASentenceMissingAfterTheFirstLoggedIsReported) {
    hear(vdm('P'));  // before GPS time: nothing owed
    hear(vdm('A'));
    hear(vdm('B'));
    hear(vdm('C'));
    monitor_.judge({record(vdm('A')), record(vdm('C'))});
    ASSERT_EQ(1u, report_.violations().size());
    EXPECT_NE(std::string::npos, what()[0].find("13aEOK?P00PD2wVMdLDRhgvB")) << what()[0];
    EXPECT_NE(std::string::npos, what()[0].find("not on the card"));
}

TEST_F(CardLog, ASentenceLoggedTwiceOrInAnotherHoursFileIsReported) {
    hear(vdm('A'));
    hear(vdm('B'));
    monitor_.judge({record(vdm('A')), record(vdm('A')),
                    record(vdm('B'), "25_05_20/11_VDM.TXT", "1747735210")});
    ASSERT_EQ(2u, report_.violations().size()) << ::testing::PrintToString(what());
    EXPECT_NE(std::string::npos, what()[0].find("is in 25_05_20/11_VDM.TXT")) << what()[0];
    EXPECT_NE(std::string::npos, what()[1].find("1 more time(s) than it was heard")) << what()[1];
}

TEST_F(CardLog, NothingIsOwedWhileTheConsoleSaysTheCardCannotLogUntilAFileOpens) {
    const auto say = [this](const std::string& line) {
        monitor_.usb_from_station(reinterpret_cast<const uint8_t*>(line.data()), line.size());
    };
    hear(vdm('A'));
    say("Limite maximo de memoria SD superado\r\n");
    hear(vdm('B'));
    hear(vdm('C'));
    say("Tarjeta SD perdida\r\n");  // C was being written: owed nothing
    say("Fichero existente: 25_05_20/10_vdm.txt\r\n");
    hear(vdm('D'));
    monitor_.judge({record(vdm('A'))});
    ASSERT_EQ(1u, report_.violations().size()) << ::testing::PrintToString(what());
    EXPECT_NE(std::string::npos, what()[0].find("13aEOK?P00PD2wVMdLDRhgvD")) << what()[0];
}

// An AtoN's report does not change: each hearing takes the record tagged
// when it was heard, not one a hearing the station owed nothing wrote.
TEST_F(CardLog, ARepeatedSentenceTakesTheRecordTaggedWhenItWasHeard) {
    for (const char* tagged : {"1747735262", "1747735201"}) {
        SCOPED_TRACE(tagged);
        SetUp();
        World world;
        world.gps_utc = [] { return 1747735200 + host::now() / kSecond; };
        sim::monitors::CardLogMonitor monitor(world, &report_);
        to_station(monitor, 0, vdm('A'));  // in flight when the power went
        host::run_for(kSecond);
        monitor.restarting("power cycle");
        host::run_for(59 * kSecond);
        to_station(monitor, 0, vdm('B'));
        host::run_for(kSecond);
        to_station(monitor, 0, vdm('A'));
        monitor.judge({record(vdm('B'), "25_05_20/10_VDM.TXT", "1747735260"),
                       record(vdm('A'), "25_05_20/10_VDM.TXT", tagged)});
        EXPECT_EQ(tagged[9] == '1' ? 1u : 0u, report_.violations().size())
            << ::testing::PrintToString(what());
    }
}

TEST_F(CardLog, ASentenceTheStationLostBytesOfIsNotOwed) {
    hear(vdm('A'));
    const std::string cut = vdm('B');
    for (size_t i = 0; i < cut.size(); ++i) {
        monitor_.uart_to_station(0, static_cast<uint8_t>(cut[i]), i < 20 || i > 30);
    }
    hear(vdm('C'));
    monitor_.judge({record(vdm('A')), record(vdm('C'))});
    EXPECT_TRUE(report_.violations().empty()) << ::testing::PrintToString(what());
}

// ---- Broadcasts ------------------------------------------------------------------------------

class Broadcasts : public Monitors {
  protected:
    void SetUp() override {
        Monitors::SetUp();
        world_.configuration = [] { return codec::default_station_config(); };
        world_.station_clock = [this]() -> std::optional<int64_t> {
            return clock_start_ + static_cast<int64_t>(host::now() / kSecond);
        };
        monitor_.emplace(world_, &report_);
        to_station(*monitor_, 0, "$AIAID,992471001,1,,0*74\r\n");
    }
    void request_msg8(const std::string& data = "05wt:9`Cn@q``?wwe5`P1UOGw") {
        from_station(
            *monitor_, 0,
            codec::build_sentence('!', "AIMEB,1,1,0,0,992471001,8,1,1,,0,C," + data + ",0"));
    }
    void report_msg8() {
        to_station(
            *monitor_, 0,
            "!AIVDO,1,1,2,A,8>jOWn@0Gwh`VQ?I3VRPwwvlFR06EuOwgwl?wnSwe7wvlOwwsAwwnSGmwvh,2*12\r\n");
    }
    // Virtual time passing, the LED blinking as it does once a second.
    void seconds(int count) {
        for (int i = 0; i < count; ++i) {
            host::run_for(kSecond);
            monitor_->output_changed(13, i % 2);
        }
    }
    void wimda() {
        to_station(
            *monitor_, 3,
            "$WIMDA,29.92,I,1.0132,B,15.0,C,,C,70.0,,9.6,C,225.0,T,223.5,M,8.0,N,4.1,M*19\r\n");
    }

    World world_;
    // 2025-05-20 09:50:00: a sample boundary every 10 minutes of this clock.
    int64_t clock_start_ = 1747734600;
    std::optional<sim::monitors::BroadcastMonitor> monitor_;
};

TEST_F(Broadcasts, AReportedRequestIsSoundAnUnreportedOneIsNot) {
    request_msg8();
    seconds(2);
    report_msg8();
    seconds(20);
    EXPECT_TRUE(report_.violations().empty());
    request_msg8();
    seconds(14);
    EXPECT_TRUE(report_.violations().empty()) << "a report may take up to 15 s";
    seconds(2);
    ASSERT_EQ(1u, report_.violations().size());
    EXPECT_NE(std::string::npos, what()[0].find("not reported sent"));
}

TEST_F(Broadcasts, NoReportIsOwedWhileTheTransponderIsInAFault) {
    bool faulty = true;
    world_.transponder_disturbed = [&faulty] { return faulty; };
    monitor_.emplace(world_, &report_);
    to_station(*monitor_, 0, "$AIAID,992471001,1,,0*74\r\n");
    request_msg8();
    seconds(30);
    EXPECT_TRUE(report_.violations().empty());
}

TEST_F(Broadcasts, ARequestSentAFourthTimeUnchangedIsReported) {
    for (int i = 0; i < 3; ++i) {
        request_msg8();
        seconds(1);
    }
    EXPECT_TRUE(report_.violations().empty()) << "sent and re-sent twice";
    request_msg8("05wt:9`Cn@q``Kwwe5`P1UOGw");
    EXPECT_TRUE(report_.violations().empty()) << "another payload is another request";
    for (int i = 0; i < 3; ++i) {
        request_msg8("05wt:9`Cn@q``Kwwe5`P1UOGw");
    }
    ASSERT_EQ(1u, report_.violations().size());
    EXPECT_NE(std::string::npos, what()[0].find("requested 4 times unchanged"));
}

// The default configuration samples every 10 minutes; the weather station
// sends $WIMDA once a second from 09:50:00 on the station's clock.
TEST_F(Broadcasts, AClosedSampleMustBeRequestedWithinAMinute) {
    for (int i = 0; i < 10 * 60 + 5; ++i) {
        wimda();
        seconds(1);
    }
    // 10:00:05: the sample of 09:50..10:00 closed at 10:00:00.
    seconds(50);
    EXPECT_TRUE(report_.violations().empty());
    request_msg8();
    report_msg8();
    seconds(30);
    EXPECT_TRUE(report_.violations().empty());
    for (int i = 0; i < 10 * 60; ++i) {
        wimda();
        seconds(1);
    }
    // 10:10:35: the sample closed at 10:10:00 went out at no time.
    seconds(30);
    ASSERT_EQ(1u, report_.violations().size());
    EXPECT_NE(std::string::npos, what()[0].find("was not requested as message 8")) << what()[0];
}

// ---- The transponder held for a PC -------------------------------------------------------------

TEST_F(Monitors, TheTransponderIsTakenBackWithin120sOfThePcsLastSign) {
    sim::monitors::PcHoldMonitor monitor(&report_);
    const std::string pc = codec::build_sentence('$', "ANTXT,1,1,80,USB connected");
    to_station(monitor, 0, pc);
    from_station(monitor, 0, "$PSMT,0,0,0x00000000,0,gpsfilt 49,0*0C\r\n");
    for (int i = 0; i < 30; ++i) {
        host::run_for(10 * kSecond);
        to_station(monitor, 0, pc);
    }
    host::run_for(120 * kSecond);
    monitor.output_changed(13, 1);
    from_station(monitor, 0, "$PSMT,0,0,0x00000000,0,gpsfilt 0,0*31\r\n");
    EXPECT_TRUE(report_.violations().empty()) << "taken back 120 s after the last sign";
    from_station(monitor, 0, "$PSMT,0,0,0x00000000,0,gpsfilt 49,0*0C\r\n");
    host::run_for(126 * kSecond);
    monitor.output_changed(13, 0);
    ASSERT_EQ(1u, report_.violations().size());
    EXPECT_NE(std::string::npos, what()[0].find("still held for a PC"));
}

// ---- Restarts --------------------------------------------------------------------------------

TEST_F(Monitors, OnlyAFormatOrAPowerCutMayRestartTheStation) {
    sim::monitors::RestartMonitor monitor(&report_);
    monitor.restarting("power cycle");
    const std::string format = "FORMAT SD\r";
    monitor.usb_to_station(reinterpret_cast<const uint8_t*>(format.data()), format.size(), true);
    monitor.restarting("watchdog");
    EXPECT_TRUE(report_.violations().empty());
    monitor.restarting("watchdog");
    EXPECT_EQ(std::vector<std::string>{"a watchdog restart"}, what());
}

// ---- The clock ---------------------------------------------------------------------------------

TEST_F(Monitors, TheClockStaysWithinTwoSecondsOfGpsOnceSet) {
    World world;
    int64_t clock = 1672531260;  // 2023-01-01 00:01:00, before GPS time
    const int64_t gps = 1747735200;
    world.gps_utc = [gps] { return gps; };
    world.station_clock = [&clock]() -> std::optional<int64_t> { return clock; };
    sim::monitors::ClockMonitor monitor(world, &report_);
    const std::string rmc =
        "$GPRMC,100020.00,A,4321.50000,N,00823.50000,W,0.000,,200525,,,A*6C\r\n";
    to_station(monitor, 0, rmc);
    EXPECT_TRUE(report_.violations().empty()) << "not yet synchronised";
    for (const int64_t off : {0, 2, -2}) {
        clock = gps + off;
        to_station(monitor, 0, rmc);
    }
    EXPECT_TRUE(report_.violations().empty());
    clock = gps - 3;
    to_station(monitor, 0, rmc);
    ASSERT_EQ(1u, report_.violations().size());
    EXPECT_NE(std::string::npos, what()[0].find("(-3 s)")) << what()[0];
}

// ---- Message 12 ---------------------------------------------------------------------------------

class SafetyMessages : public Monitors {
  protected:
    void SetUp() override {
        Monitors::SetUp();
        world_.configuration = [] { return codec::default_station_config(); };
        monitor_.emplace(world_, &report_);
    }
    // A class A report of 224106730 at 43°22'N (inside) or 43°30'N, 8°23'W.
    void report(bool inside) {
        codec::Message message;
        message.numbers = {{"type", 1},
                           {"mmsi", 224106730},
                           {"lat", (43 * 60 + (inside ? 22 : 30)) * 10000},
                           {"lon", -(8 * 60 + 23) * 10000}};
        const auto bits = codec::encode_message(message);
        ASSERT_TRUE(bits.has_value());
        for (const std::string& sentence : codec::vdm_sentences(*bits)) {
            to_station(*monitor_, 0, sentence);
        }
        host::run_for(30 * kSecond);
    }
    void warn() {
        from_station(
            *monitor_, 0,
            codec::build_sentence('!', "AIMEB,1,1,0,0,992471001,12,1,1,224106730,0,C,5@DP,0"));
    }
    World world_;
    std::optional<sim::monitors::SafetyMessageMonitor> monitor_;
};

TEST_F(SafetyMessages, AShipThatNeverReportedInsideIsNotWarned) {
    report(false);
    warn();
    ASSERT_EQ(1u, report_.violations().size());
    EXPECT_NE(std::string::npos, what()[0].find("never reported a position inside"));
}

TEST_F(SafetyMessages, OneWarningPerEntry) {
    report(false);
    // Garbage with no line end before it (a transponder at another baud
    // rate) does not hide a report.
    to_station(*monitor_, 0, "\x80\xF8\x80");
    report(true);
    warn();
    report(true);
    EXPECT_TRUE(report_.violations().empty());
    warn();
    ASSERT_EQ(1u, report_.violations().size()) << "warned twice in one entry";
    report(false);
    report(true);
    warn();
    EXPECT_EQ(1u, report_.violations().size()) << "out and in again: a new entry";
    host::run_for(9 * 60 * kSecond);
    report(true);
    warn();
    EXPECT_EQ(1u, report_.violations().size()) << "silent for 9 minutes: forgotten, a new entry";
}

}  // namespace
