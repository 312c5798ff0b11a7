// The VHF link between transponders: two models on one in-process air hear
// each other's messages (not their own) as their transmissions end; the
// broker's air passes each message to every other station in a fixed order
// and refuses one sent too late; the link client runs its machine only up to
// each grant and reports what was transmitted on the way.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <map>
#include <string>
#include <vector>

#include "codec/ais_bits.h"
#include "codec/ais_messages.h"
#include "codec/ais_sentences.h"
#include "codec/nmea.h"
#include "devices/ais_transponder.h"
#include "host/machine.h"
#include "link/broker.h"
#include "link/protocol.h"
#include "link_client.h"

namespace {

using host::kSecond;
using sim::vhf::Transmission;

// The whole messages each transponder sent its station, by UART port, with
// the time their last fragment arrived.
class Wires : public host::MachineListener {
  public:
    struct Heard {
        host::Micros at;
        codec::VdmMessage message;
    };
    void uart_to_station(uint8_t port, uint8_t byte, bool) override {
        std::string& partial = partial_[port];
        partial += static_cast<char>(byte);
        if (byte == '\n') {
            if (const auto message = assemblers_[port].add(partial)) {
                heard[port].push_back({host::now(), *message});
            }
            partial.clear();
        }
    }
    std::map<uint8_t, std::vector<Heard>> heard;

  private:
    std::map<uint8_t, std::string> partial_;
    std::map<uint8_t, codec::VdmAssembler> assemblers_;
};

constexpr uint32_t kMmsiA = 992471001;
constexpr uint32_t kMmsiB = 992471002;

class TwoTransponders : public ::testing::Test {
  protected:
    void SetUp() override {
        host::reset_machine();
        host::add_listener(&wires);
        b.settings().mmsi = kMmsiB;
        for (sim::AisTransponder* t : {&a, &b}) {
            t->settings().msg21_period_s = 0;
            t->use_link(air.join());
            t->attach();
        }
        host::run_for(sim::AisTransponder::kBootTime);
    }
    void TearDown() override { host::reset_machine(); }
    static void send(sim::AisTransponder& to, const std::string& sentences) {
        for (char c : sentences) {
            to.on_byte_from_station(static_cast<uint8_t>(c));
        }
    }
    // Station A asks for message 6 to B: DAC 11, FI 11, part 1 of 1, "AB".
    void request_msg6() {
        send(a,
             codec::build_sentence('!', "AIMEB,2,1,1,0,992471001,6,0,0,992471002,0,C,0ddA,0") +
                 codec::build_sentence('!', "AIMEB,2,2,1,0,992471001,6,0,0,992471002,0,C,@D8,2"));
    }
    sim::LocalAir air;
    Wires wires;
    sim::AisTransponder a{sim::AisTransponder::Wiring{0, 38400, -1, 1}};
    sim::AisTransponder b{sim::AisTransponder::Wiring{3, 38400, -1, 1}};
};

TEST_F(TwoTransponders, AddressedMessageIsHeardByTheOtherAsItsTransmissionEnds) {
    request_msg6();
    host::run_for(sim::AisTransponder::kTransmitDelay + kSecond);
    ASSERT_EQ(1u, wires.heard[0].size());
    ASSERT_EQ(1u, wires.heard[3].size());
    const Wires::Heard& sent = wires.heard[0][0];
    const Wires::Heard& heard = wires.heard[3][0];
    EXPECT_TRUE(sent.message.own);
    EXPECT_FALSE(heard.message.own) << "reported as !AIVDM";
    EXPECT_EQ(sent.message.payload, heard.message.payload);
    EXPECT_NEAR(static_cast<double>(sent.at), static_cast<double>(heard.at), 1000.0)
        << "they start together, a sentence as long but for a digit or so";
    const auto decoded = codec::decode_message(heard.message.payload);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(6, decoded->number("type"));
    EXPECT_EQ(kMmsiA, decoded->number("mmsi"));
    EXPECT_EQ(kMmsiB, decoded->number("dest_mmsi"));
}

TEST_F(TwoTransponders, OwnReportIsOnTheAirAsItIsReported) {
    a.settings().msg21_period_s = 5;
    host::run_for(11 * kSecond);
    ASSERT_EQ(2u, wires.heard[0].size());
    ASSERT_EQ(2u, wires.heard[3].size());
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(wires.heard[0][i].message.payload, wires.heard[3][i].message.payload)
            << "report " << i << ", its second field included";
        EXPECT_NEAR(static_cast<double>(wires.heard[0][i].at),
                    static_cast<double>(wires.heard[3][i].at), 1000.0);
    }
}

TEST_F(TwoTransponders, SilentTransponderNeitherTransmitsNorReports) {
    b.faults().silent = true;
    request_msg6();
    host::run_for(sim::AisTransponder::kTransmitDelay + kSecond);
    EXPECT_EQ(1u, wires.heard[0].size());
    EXPECT_TRUE(wires.heard[3].empty()) << "heard, but a silent transponder says nothing";
    a.faults().silent = true;
    b.faults().silent = false;
    request_msg6();
    host::run_for(sim::AisTransponder::kTransmitDelay + kSecond);
    EXPECT_TRUE(wires.heard[3].empty()) << "nothing went on the air";
}

// ---- The broker's air --------------------------------------------------------

Transmission message(uint64_t ends, const std::string& payload) {
    Transmission t;
    t.ends = ends;
    t.payload = payload;
    return t;
}

std::vector<std::string> payloads(const std::vector<Transmission>& heard) {
    std::vector<std::string> out;
    for (const Transmission& t : heard) {
        out.push_back(t.payload + "/" + std::to_string(t.from));
    }
    return out;
}

TEST(BrokerAir, EveryOtherStationHearsItOnceAndTheSenderNever) {
    sim::vhf::Air air(3);
    std::string error;
    ASSERT_TRUE(air.sent(1, 100, {message(200, "P1")}, &error)) << error;
    EXPECT_EQ(std::vector<std::string>{"P1/1"}, payloads(air.heard_by(0)));
    EXPECT_EQ(std::vector<std::string>{"P1/1"}, payloads(air.heard_by(2)));
    EXPECT_TRUE(air.heard_by(1).empty());
    EXPECT_TRUE(air.heard_by(0).empty()) << "taken out once passed on";
}

TEST(BrokerAir, HeardByEndThenSenderThenSendingOrder) {
    sim::vhf::Air air(3);
    std::string error;
    ASSERT_TRUE(air.sent(0, 100, {message(300, "late0"), message(200, "tie0")}, &error));
    ASSERT_TRUE(air.sent(1, 100, {message(200, "tie1a"), message(200, "tie1b")}, &error));
    ASSERT_TRUE(air.sent(1, 100, {message(150, "first")}, &error));
    EXPECT_EQ((std::vector<std::string>{"first/1", "tie0/0", "tie1a/1", "tie1b/1", "late0/0"}),
              payloads(air.heard_by(2)));
}

TEST(BrokerAir, MessageEndingBeforeTheTimeReachedIsRefused) {
    sim::vhf::Air air(2);
    std::string error;
    EXPECT_FALSE(air.sent(0, 100, {message(150, "ok"), message(99, "late")}, &error));
    EXPECT_NE(std::string::npos, error.find("before")) << error;
    EXPECT_TRUE(air.heard_by(1).empty()) << "nothing of a refused report is passed on";
    EXPECT_FALSE(air.sent(2, 100, {}, &error)) << "no such station";
}

TEST(LinkProtocol, LinesReadBackOrAreRefused) {
    Transmission t = message(1500000, "E>jOWn@Ub9");
    t.channel = 'B';
    t.fill = 4;
    t.from = 1;
    const auto rx = sim::vhf::parse_line("RX 1500000 B E>jOWn@Ub9 4 1");
    ASSERT_TRUE(rx);
    EXPECT_EQ(sim::vhf::rx_line(t), "RX 1500000 B E>jOWn@Ub9 4 1\n");
    EXPECT_EQ(1u, rx->transmission.from);
    EXPECT_EQ('B', rx->transmission.channel);
    EXPECT_EQ(4u, rx->transmission.fill);
    const struct {
        const char* line;
        bool taken;
    } rows[] = {
        {"HELLO 3", true},      {"AT 1500007", true},    {"GRANT 0", true},
        {"END", true},          {"TX 5 A 0w 0", true},   {"TX 5 C 0w 0", false},
        {"TX 5 A 0w 6", false}, {"TX 5 A 0 w 0", false}, {"TX 5 A 0{ 0", false},
        {"TX 5 A 0w", false},   {"RX 5 A 0w 0", false},  {"GRANT", false},
        {"GRANT -1x", false},   {"END now", false},      {"BYE", false},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(row.taken, sim::vhf::parse_line(row.line).has_value()) << row.line;
    }
}

// Stations joining the broker: each placed by its HELLO, whatever the order
// they connect in; a wrong or missing HELLO, or too few stations, refused.
class JoiningStations : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string error;
        char pattern[] = "/tmp/ktr09_link_XXXXXX";
        ASSERT_NE(nullptr, ::mkdtemp(pattern)) << "temporary directory";
        dir_ = pattern;
        listener_ = sim::vhf::listen_unix(dir_ + "/link.sock", &error);
        ASSERT_GE(listener_, 0) << error;
    }
    void TearDown() override {
        ::close(listener_);
        ::unlink((dir_ + "/link.sock").c_str());
        ::rmdir(dir_.c_str());
    }
    // Connects one station per greeting ("" hangs up at once), then lets the
    // broker take `count` stations.
    bool join(const std::vector<std::string>& greetings, unsigned count, std::string* error) {
        for (const std::string& greeting : greetings) {
            std::string ignored;
            auto client = std::make_unique<sim::vhf::LineSocket>(
                sim::vhf::connect_unix(dir_ + "/link.sock", &ignored));
            if (!greeting.empty()) {
                client->write(greeting + "\n");
                clients.push_back(std::move(client));
            }
        }
        return sim::vhf::accept_stations(
            listener_, count, [] { return false; }, &stations, error);
    }
    std::vector<std::unique_ptr<sim::vhf::LineSocket>> clients;
    std::vector<std::unique_ptr<sim::vhf::LineSocket>> stations;

  private:
    std::string dir_;
    int listener_ = -1;
};

TEST_F(JoiningStations, EachTakesThePlaceItsHelloNames) {
    std::string error;
    ASSERT_TRUE(join({"HELLO 1", "HELLO 0"}, 2, &error)) << error;
    stations[0]->write("GRANT 0\n");
    std::string line;
    ASSERT_TRUE(clients[1]->read_line(&line));
    EXPECT_EQ("GRANT 0", line) << "the second to connect said HELLO 0";
}

TEST_F(JoiningStations, WrongOrMissingHellosAreRefused) {
    const struct {
        const char* what;
        std::vector<std::string> greetings;
    } rows[] = {
        {"index out of range", {"HELLO 0", "HELLO 2"}},
        {"index given twice", {"HELLO 0", "HELLO 0"}},
        {"not a HELLO", {"AT 0"}},
        {"hangs up first", {""}},
        {"too few stations", {"HELLO 1"}},
    };
    for (const auto& row : rows) {
        TearDown();
        SetUp();
        std::string error;
        EXPECT_FALSE(join(row.greetings, 2, &error)) << row.what;
        EXPECT_FALSE(error.empty()) << row.what;
        clients.clear();
    }
}

// ---- The link client -------------------------------------------------------

class LinkClientTest : public ::testing::Test {
  protected:
    void SetUp() override {
        host::reset_machine();
        int pair[2];
        ASSERT_EQ(0, ::socketpair(AF_UNIX, SOCK_STREAM, 0, pair));
        client = std::make_shared<sim::LinkClient>(pair[0]);
        broker = std::make_unique<sim::vhf::LineSocket>(pair[1]);
    }
    void TearDown() override { host::reset_machine(); }
    // Runs the client on what the broker has said; what it answered.
    std::string run(const std::string& said, bool expect_ok = true) {
        broker->write(said);
        ::shutdown(broker->fd(), SHUT_WR);
        std::string error;
        EXPECT_EQ(expect_ok, client->run([this] { grants_reached.push_back(host::now()); }, &error))
            << error;
        client.reset();  // its socket closes: the answer ends
        std::string answer;
        for (std::string line; broker->read_line(&line);) {
            answer += line + "\n";
        }
        return answer;
    }
    std::shared_ptr<sim::LinkClient> client;
    std::unique_ptr<sim::vhf::LineSocket> broker;
    std::vector<host::Micros> grants_reached;
};

TEST_F(LinkClientTest, RunsUpToEachGrantAndNoFurther) {
    std::vector<host::Micros> ran;
    for (host::Micros at : {2 * kSecond, 2 * kSecond + 1, 3 * kSecond + 1}) {
        host::schedule_at(at, [&ran] { ran.push_back(host::now()); });
    }
    const std::string answer = run("GRANT 2000000\nGRANT 3000000\nEND\n");
    EXPECT_EQ((std::vector<host::Micros>{2 * kSecond, 3 * kSecond}), grants_reached);
    EXPECT_EQ((std::vector<host::Micros>{2 * kSecond, 2 * kSecond + 1}), ran)
        << "nothing past the last grant";
    EXPECT_EQ("AT 2000000\nAT 3000000\n", answer);
}

TEST_F(LinkClientTest, HearsAtTheEndAndReportsWhatItTransmitted) {
    std::vector<std::pair<host::Micros, char>> heard;
    client->listen([&heard](const sim::AirMessage& m) {
        heard.push_back({host::now(), m.channel});
    });
    const codec::Bits bits = {true, false, true, true, false, false, true};
    host::schedule_at(kSecond, [this, bits] { client->transmit({bits, 'A', 3 * kSecond}); });
    unsigned fill = 0;
    const std::string payload = codec::armour_payload(bits, &fill);
    const std::string answer =
        run("RX 1800000 B " + payload + " " + std::to_string(fill) + " 1\nGRANT 2000000\nEND\n");
    EXPECT_EQ((std::vector<std::pair<host::Micros, char>>{{1800 * host::kMillisecond, 'B'}}),
              heard);
    EXPECT_EQ("TX 3000000 A " + payload + " " + std::to_string(fill) + "\nAT 2000000\n", answer);
}

TEST_F(LinkClientTest, BrokerSayingSomethingElseOrHangingUpEndsTheRun) {
    EXPECT_EQ("", run("HELLO 0\n", false));
    SetUp();
    EXPECT_EQ("AT 1000\n", run("GRANT 1000\n", false)) << "hung up without END";
}

}  // namespace
