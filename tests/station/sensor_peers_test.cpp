// A station with a base station computer or a TIDELINK device on sensor
// channel 2: the heartbeat each gets, a base station's request broadcast as
// message 6, a TIDELINK frame split into messages 6, and messages 6 heard on
// the air delivered to the TIDELINK device as one block.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "ktr09_board.h"
#include "codec/ais_bits.h"
#include "codec/ais_messages.h"
#include "codec/ais_sentences.h"
#include "devices/ais_transponder.h"
#include "devices/base_station.h"
#include "devices/tidelink.h"
#include "host/machine.h"
#include "station.h"
#include "support/state_dir.h"
#include "support/station_dir.h"

namespace {

using host::kMillisecond;
using host::kSecond;
using sim::BaseStation;
using sim::TaggedPeer;
using sim::TidelinkDevice;

constexpr host::Micros kMinute = 60 * kSecond;
constexpr uint32_t kStationMmsi = 992471001;  // the transponder's
constexpr uint32_t kRemoteMmsi = 235040000;
constexpr const char* kStationName = "KTR09 SIMULADA";

// Sensor channel 2 on RS232 at 9600 baud with a heartbeat every 10 s.
std::string channel_2(int device_type) {
    return R"({"configuracion_sensor": [{}, {"csensor": )" + std::to_string(device_type) +
           R"(, "ctipo_comunicacion": 1, "cbaudios_comunicacion": 2, "cseg_delay_inicial": 2,
               "ctimeout_datos_validos": 100}]})";
}

// The messages the transponder reported sending, decoded.
std::vector<codec::Message> transmitted(const sim::AisTransponder& transponder) {
    std::vector<codec::Message> out;
    codec::VdmAssembler assembler;
    for (const std::string& sentence : transponder.reported()) {
        if (const auto whole = assembler.add(sentence)) {
            if (auto message = codec::decode_message(whole->payload)) {
                out.push_back(*message);
            }
        }
    }
    return out;
}

std::vector<codec::Message> of_type(const std::vector<codec::Message>& messages, int64_t type) {
    std::vector<codec::Message> out;
    for (const codec::Message& message : messages) {
        if (message.number("type") == type) {
            out.push_back(message);
        }
    }
    return out;
}

std::string bytes_of(const codec::Bits& bits) {
    codec::BitReader reader(bits);
    std::string out;
    for (size_t at = 0; at + 8 <= bits.size(); at += 8) {
        out += static_cast<char>(reader.get(at, 8));
    }
    return out;
}

class SensorPeerStation : public ::testing::Test {
  protected:
    void start(int device_type, unsigned report_delay_ms = 1500) {
        // The transponder reports message 6 as configured, so the station
        // sends the ones it is asked for.
        std::ofstream(state_.path() / "ais_transponder.txt")
            << "msg6_period_s 30\nreport_delay_ms " << report_delay_ms << "\n";
        host::reset_machine();
        ASSERT_EQ("", attach_station(state_.path(), channel_2(device_type)));
        host::set_input_level(board::kModePin0, 0);  // mode 1: the channels trace
        host::set_input_level(board::kModePin1, 1);
        host::power_on();
    }
    void TearDown() override {
        host::power_off();
        host::reset_machine();
    }

    static sim::AisTransponder& transponder() { return *sim::station_devices().transponder; }
    static BaseStation& base() {
        BaseStation* base = sim::peer_on<BaseStation>(sim::station_device("base_station"), 2);
        EXPECT_NE(nullptr, base);
        return *base;
    }
    static TidelinkDevice& tidelink() {
        TidelinkDevice* device = sim::peer_on<TidelinkDevice>(sim::station_device("tidelink"), 2);
        EXPECT_NE(nullptr, device);
        return *device;
    }
    // Runs until `done` holds (checked every 100 ms) or `limit` has passed.
    static bool run_until(const std::function<bool()>& done, host::Micros limit) {
        const host::Micros end = host::now() + limit;
        while (host::now() < end) {
            host::run_for(100 * kMillisecond);
            if (done()) {
                return true;
            }
        }
        return false;
    }

  private:
    TemporaryStateDir state_;
};

TEST_F(SensorPeerStation, BothPeersGetAHeartbeatEveryPeriodInSequence) {
    for (int type : {1, 2}) {
        SCOPED_TRACE(type == 1 ? "base station" : "TIDELINK");
        start(type);
        host::run_for(3 * kMinute);
        TaggedPeer& peer = type == 1 ? static_cast<TaggedPeer&>(base()) : tidelink();
        const auto heartbeats = peer.records_of(TaggedPeer::Kind::heartbeat);
        // The clock is set from GPS within the first minute; then one every 10 s.
        ASSERT_GE(heartbeats.size(), 12u);
        for (size_t i = 0; i < heartbeats.size(); ++i) {
            const TaggedPeer::Record& record = heartbeats[i];
            SCOPED_TRACE(record.body);
            EXPECT_TRUE(record.checksum_ok);
            EXPECT_TRUE(record.tag.valid()) << record.tag.text;
            EXPECT_EQ(kStationName, record.tag.station);
            EXPECT_EQ('L', record.tag.source);
            EXPECT_NEAR(static_cast<double>(transponder().utc_at(record.at)),
                        static_cast<double>(record.tag.unix_time), 2.0);
            EXPECT_EQ("10", record.heartbeat.period);
            EXPECT_EQ('A', record.heartbeat.status);
            EXPECT_EQ(i, record.heartbeat.sequence);
            if (i > 0) {
                // The countdown runs in the tick's 100 ms steps, whose phase
                // against the reload varies.
                const double gap = static_cast<double>(record.at - heartbeats[i - 1].at);
                EXPECT_NEAR(10.0 * kSecond, gap, 150.0 * kMillisecond);
            }
        }
        EXPECT_EQ(0u, peer.bad_tag_blocks());
        EXPECT_EQ(0u, peer.bad_checksums());
        host::power_off();
    }
}

TEST_F(SensorPeerStation, ABaseStationRequestGoesOutAsMessage6ToItsDestination) {
    start(1);
    host::run_for(90 * kSecond);
    // DAC 235, FI 10 and five bytes of text, as the base station encapsulates them.
    codec::BitWriter writer;
    writer.put(235, 10);
    writer.put(10, 6);
    for (const char c : std::string("HELLO")) {
        writer.put(static_cast<uint8_t>(c), 8);
    }
    unsigned fill = 0;
    const std::string payload = codec::armour_payload(writer.bits(), &fill);
    base().send_abm({kRemoteMmsi, payload, fill, false});
    ASSERT_TRUE(
        run_until([] { return !of_type(transmitted(transponder()), 6).empty(); }, 2 * kMinute))
        << "no message 6 reported";
    const auto sent = of_type(transmitted(transponder()), 6);
    ASSERT_EQ(1u, sent.size());
    const codec::Message& message = sent[0];
    EXPECT_EQ(kStationMmsi, message.number("mmsi"));
    EXPECT_EQ(kRemoteMmsi, message.number("dest_mmsi"));
    EXPECT_EQ(235, message.number("dac"));
    EXPECT_EQ(10, message.number("fid"));
    EXPECT_EQ("HELLO", bytes_of(message.data));
}

// Each part goes out once, whether the transponder reports it before the
// request's reply time is over or well after.
class TidelinkReportDelay : public SensorPeerStation,
                            public ::testing::WithParamInterface<unsigned> {};

TEST_P(TidelinkReportDelay, A123ByteTidelinkFrameGoesOutOnceAsThreeMessages6) {
    start(2, GetParam());
    host::run_for(90 * kSecond);
    std::string text = "2,7,X,Y,T$3 ";
    // The frame with its "*hh" and CR LF is 123 bytes.
    while (text.size() < 118) {
        text += static_cast<char>('A' + text.size() % 26);
    }
    const std::string frame = TidelinkDevice::frame(text);
    ASSERT_EQ(123u, frame.size());
    tidelink().send_frame(text);
    ASSERT_TRUE(
        run_until([] { return of_type(transmitted(transponder()), 6).size() >= 3; }, 5 * kMinute))
        << of_type(transmitted(transponder()), 6).size() << " parts reported";
    const auto parts = of_type(transmitted(transponder()), 6);
    ASSERT_EQ(3u, parts.size());
    std::string data;
    for (size_t i = 0; i < parts.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(11, parts[i].number("dac"));
        EXPECT_EQ(11, parts[i].number("fid"));
        const std::string bytes = bytes_of(parts[i].data);
        ASSERT_FALSE(bytes.empty());
        EXPECT_EQ(0x31 + i, static_cast<uint8_t>(bytes[0])) << "3 parts, this one's number";
        data += bytes.substr(1);
    }
    EXPECT_EQ(frame, data);
    host::run_for(2 * kMinute);
    EXPECT_EQ(3u, of_type(transmitted(transponder()), 6).size()) << "no part sent again";
}

INSTANTIATE_TEST_SUITE_P(EarlyDefaultAndLate, TidelinkReportDelay,
                         ::testing::Values(200, 1500, 4000));

TEST_F(SensorPeerStation, MessagesSixOnTheAirReachTheTidelinkDeviceAsOneBlock) {
    start(2);
    host::run_for(90 * kSecond);
    const std::string first = "LEVEL 1.23 M;";
    const std::string second = "TEMP 14.5 C";
    auto part = [](uint8_t header, const std::string& text) {
        sim::AisTransponder::AddressedBinary binary;
        binary.from = kRemoteMmsi;
        binary.dac = 11;
        binary.fi = 11;
        binary.data.push_back(header);
        binary.data.insert(binary.data.end(), text.begin(), text.end());
        return binary;
    };
    // Part 1 of 1 at once; then parts 1 and 2 of 2 as one block.
    ASSERT_TRUE(transponder().receive_msg6(part(0x11, first), nullptr));
    ASSERT_TRUE(run_until([] { return !tidelink().blocks().empty(); }, 10 * kSecond));
    ASSERT_TRUE(transponder().receive_msg6(part(0x21, first), nullptr));
    host::run_for(3 * kSecond);
    EXPECT_EQ(1u, tidelink().blocks().size()) << "half a block is held back";
    ASSERT_TRUE(transponder().receive_msg6(part(0x22, second), nullptr));
    ASSERT_TRUE(run_until([] { return tidelink().blocks().size() >= 2; }, 10 * kSecond));
    host::run_for(5 * kSecond);

    const auto blocks = tidelink().blocks();
    ASSERT_EQ(2u, blocks.size());
    EXPECT_EQ(first, blocks[0].body);
    EXPECT_EQ(first + second, blocks[1].body);
    for (const TaggedPeer::Record& block : blocks) {
        EXPECT_TRUE(block.tag.valid()) << block.tag.text;
        EXPECT_EQ(kStationName, block.tag.station);
    }
    // Not for it: another application's message, one addressed to another
    // station, a block whose part 2 comes from another sender, and one whose
    // part 2 gives another part count. A part sent twice is taken once.
    sim::AisTransponder::AddressedBinary other = part(0x11, first);
    other.dac = 1;
    sim::AisTransponder::AddressedBinary elsewhere = part(0x11, first);
    elsewhere.to = kRemoteMmsi;
    sim::AisTransponder::AddressedBinary second_sender = part(0x32, second);
    second_sender.from = kRemoteMmsi + 1;
    for (const auto& message :
         {other, elsewhere, part(0x31, first), second_sender, part(0x22, second), part(0x31, first),
          part(0x32, second), part(0x32, second), part(0x33, first)}) {
        ASSERT_TRUE(transponder().receive_msg6(message, nullptr));
        host::run_for(3 * kSecond);
    }
    host::run_for(5 * kSecond);
    ASSERT_EQ(3u, tidelink().blocks().size());
    EXPECT_EQ(first + second + first, tidelink().blocks()[2].body);
}

}  // namespace
