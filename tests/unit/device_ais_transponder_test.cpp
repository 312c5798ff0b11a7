// The AtoN transponder model as the station relies on it: replies as whole
// checked sentences, broadcast requests checked and reported as the whole
// message sent, nothing while unpowered or given a bad checksum, the faults,
// and its state file.
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "codec/ais_messages.h"
#include "codec/ais_sentences.h"
#include "codec/nmea.h"
#include "devices/ais_transponder.h"
#include "support/firmware_fixture.h"
#include "support/state_dir.h"

namespace {

class TransponderModelTest : public FirmwareTest {
  protected:
    void SetUp() override {
        FirmwareTest::SetUp();
        configuracion_ais.ctipo_comunicacion = 1;
        configuracion_ais.cbaudios = 4;
        inicializacion_canales(2);
        transponder.attach();
        spend(sim::AisTransponder::kBootTime);
    }
    // What the transponder answers within `wait` to the given lines.
    std::string exchange(const std::string& lines, host::Micros wait = host::kSecond) {
        for (char c : lines) {
            Serial0.write(static_cast<uint8_t>(c));
        }
        spend(wait);
        std::string answer;
        while (Serial0.available() > 0) {
            answer += static_cast<char>(Serial0.read());
        }
        return answer;
    }
    sim::AisTransponder transponder{sim::AisTransponder::Wiring{0, 38400, 32, 1}};
};

TEST_F(TransponderModelTest, AnswersQueriesWithCheckedSentences) {
    const std::string answer = exchange(codec::build_sentence('$', "UPANQ,MCR"));
    EXPECT_EQ(codec::build_sentence('$', "ANMCR,992471001,SBS,1") +
                  codec::build_sentence('$', "ANMCR,992471001,MSS,1"),
              answer);
    exchange("$UPMCR,992471001,SBS,0,C\r\n$UPMCR,992471001,MSS,0,4294967295,C\r\n");
    EXPECT_NE(std::string::npos, exchange(codec::build_sentence('$', "UPANQ,MCR")).find("SBS,0*"))
        << "the settings taken";
    EXPECT_EQ("", exchange("$UPANQ,MCR*00\r\n")) << "a wrong checksum is ignored";
    EXPECT_EQ(0u, exchange(codec::build_sentence('$', "UPANQ,XYZ")).find("$ANNAK,UP,ANQ,"));
}

TEST_F(TransponderModelTest, BroadcastRequestIsReportedAsTheWholeMessage) {
    // Message 6 to 235040000, two fragments: DAC 11, FI 11, part 1 of 1, "AB".
    const std::string request1 = "AIMEB,2,1,1,0,992471001,6,0,0,235040000,0,C,0ddA";
    const std::string request2 = "AIMEB,2,2,1,0,992471001,6,0,0,235040000,0,C,@D8,2";
    EXPECT_EQ("", exchange(codec::build_sentence('!', request1 + ",0") +
                               codec::build_sentence('!', request2),
                           sim::AisTransponder::kTransmitDelay - host::kMillisecond));
    const std::string vdo = exchange("", 100 * host::kMillisecond);
    codec::VdmAssembler assembler;
    const auto message = assembler.add(vdo);
    ASSERT_TRUE(message) << vdo;
    EXPECT_TRUE(message->own);
    const auto decoded = codec::decode_message(message->payload);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(6, decoded->number("type"));
    EXPECT_EQ(992471001, decoded->number("mmsi"));
    EXPECT_EQ(235040000, decoded->number("dest_mmsi"));
    EXPECT_EQ(1, decoded->number("seqno"));
    EXPECT_EQ(11, decoded->number("dac"));
    EXPECT_EQ(11, decoded->number("fid"));
}

TEST_F(TransponderModelTest, FragmentsOutOfTurnAreRefused) {
    const std::string second = "AIMEB,2,2,1,0,992471001,8,0,1,,0,C,4B4,2";
    const std::string answer = exchange(codec::build_sentence('!', second),
                                        sim::AisTransponder::kTransmitDelay + host::kSecond);
    EXPECT_EQ(0u, answer.find("$ANNAK,AI,MEB,")) << answer;
    EXPECT_TRUE(transponder.reported().empty());
}

TEST_F(TransponderModelTest, UnpoweredAndFaultyTransponders) {
    const std::string query = codec::build_sentence('$', "UPANQ,AID");
    pinMode(32, OUTPUT);
    digitalWrite(32, HIGH);
    EXPECT_EQ("", exchange(query)) << "its supply cut";
    digitalWrite(32, LOW);
    EXPECT_EQ("", exchange(query)) << "still booting";
    spend(sim::AisTransponder::kBootTime);
    EXPECT_NE("", exchange(query));
    transponder.faults().bad_checksums = true;
    EXPECT_FALSE(codec::parse_sentence(exchange(query)));
    transponder.faults() = {};
    transponder.faults().late_replies = true;
    EXPECT_EQ("", exchange(query, 5 * host::kSecond));
    EXPECT_NE("", exchange("", 2 * host::kSecond));
}

TEST(TransponderStateFile, BadLinesAreNamedAndChangeNothing) {
    const TemporaryStateDir dir;
    const std::string file = (dir.path() / "ais_transponder.txt").string();
    sim::AisTransponder transponder({});
    const struct {
        const char* text;
        const char* error;
    } cases[] = {
        {"mmsi 123\nmmsy 4\n", ":2: unknown name \"mmsy\" (expected mmsi, name, "},
        {"# note\nmsg8_period_s three\n",
         ":2: msg8_period_s: expected whole seconds, 0 for none, got \"three\""},
        {"name A,B\n", ":1: name: expected text without , * $ or !, got \"A,B\""},
        {"silent 2\n", ":1: silent: expected 0 (off) or 1 (on), got \"2\""},
        {"mmsi 1000000000\n", ":1: mmsi: expected an MMSI, 1..999999999, got \"1000000000\""},
        {"report_delay_ms 4000 200\n", ":1: report_delay_ms: expected ms as 1500"},
        {"name\n", ":1: expected a name and one value"},
    };
    for (const auto& c : cases) {
        std::ofstream(file) << c.text;
        std::string error;
        EXPECT_FALSE(transponder.load(file, &error)) << c.text;
        EXPECT_EQ(file + c.error, error.substr(0, file.size() + std::strlen(c.error)));
        EXPECT_EQ(992471001u, transponder.settings().mmsi) << "nothing taken";
    }
    // Every entry comes back as written, texts with spaces and spreads too.
    transponder.settings().name = "WEST PIER";
    transponder.settings().latitude = -260150001;
    transponder.settings().hdop = 1.7;
    ASSERT_TRUE(sim::set_report_delay(200, 4000, &transponder.settings()));
    transponder.faults().pc_attached = true;
    std::string error;
    ASSERT_TRUE(transponder.save(file, &error));
    sim::AisTransponder again({});
    ASSERT_TRUE(again.load(file, &error)) << error;
    EXPECT_EQ("WEST PIER", again.settings().name);
    EXPECT_EQ(-260150001, again.settings().latitude);
    EXPECT_EQ(1.7, again.settings().hdop);
    EXPECT_EQ(200u, again.settings().report_delay_min_ms);
    EXPECT_EQ(4000u, again.settings().report_delay_max_ms);
    EXPECT_TRUE(again.faults().pc_attached);
    EXPECT_EQ(sim::AisTransponder::state_text(transponder.settings(), transponder.faults()),
              sim::AisTransponder::state_text(again.settings(), again.faults()));
}

}  // namespace
