// The UART wires: ten bit times per byte both ways, the 512-byte receive
// buffer, nothing received or sent while closed or with the line driver off,
// garbage at another rate, noise, and a transmitter that blocks on its
// 64-byte queue.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include <Arduino.h>

#include "host/machine.h"

namespace {

constexpr uint8_t kPort = 1;  // Serial1, line-driver disable pin 42

class RecordingPeer : public host::UartPeer {
  public:
    void on_byte_from_station(uint8_t byte) override {
        bytes.push_back(std::make_pair(host::now(), byte));
    }
    std::string text() const {
        std::string s;
        for (const auto& b : bytes) {
            s += static_cast<char>(b.second);
        }
        return s;
    }
    std::vector<std::pair<host::Micros, uint8_t>> bytes;
};

// End of byte k (1 = first) of a back-to-back run started at `start`: k times
// ten bit times, at the first whole microsecond the stop bit has ended by.
host::Micros byte_end(host::Micros start, uint64_t k, uint32_t baud) {
    return start + (k * 10 * host::kSecond + baud - 1) / baud;
}

std::string read_all(Uart& uart) {
    std::string s;
    for (int c = uart.read(); c >= 0; c = uart.read()) {
        s += static_cast<char>(c);
    }
    return s;
}

// Bytes waiting once the clock has reached `t` (the call itself costs 1 us).
int available_at(host::Micros t) {
    host::run_until(t - host::kCallCost);
    return Serial1.available();
}

class UartTest : public ::testing::Test {
  protected:
    void SetUp() override {
        host::reset_machine();
        peer.bytes.clear();
        host::attach_uart_peer(kPort, &peer);
    }
    RecordingPeer peer;
};

TEST_F(UartTest, PeerBytesArriveAfterTenBitTimesEach) {
    const uint32_t rates[] = {9600, 115200};
    for (uint32_t baud : rates) {
        SCOPED_TRACE(baud);
        SetUp();
        Serial1.begin(baud);
        const host::Micros start = host::now();
        host::uart_peer_send(kPort, "ABCDEFGH", baud);
        for (uint64_t k = 1; k <= 8; ++k) {
            const host::Micros end = byte_end(start, k, baud);
            ASSERT_EQ(static_cast<int>(k - 1), available_at(end - 1)) << "byte " << k;
            ASSERT_EQ(static_cast<int>(k), available_at(end)) << "byte " << k;
        }
        EXPECT_EQ("ABCDEFGH", read_all(Serial1));
    }
}

TEST_F(UartTest, LaterPeerBytesQueueBehindEarlierOnes) {
    Serial1.begin(9600);
    const host::Micros start = host::now();
    host::uart_peer_send(kPort, "ABC", 9600);
    host::run_until(start + 1500);
    host::uart_peer_send(kPort, "DE", 9600);
    EXPECT_EQ(4, available_at(byte_end(start, 4, 9600)));
    EXPECT_EQ(4, available_at(byte_end(start, 5, 9600) - 1));
    EXPECT_EQ(5, available_at(byte_end(start, 5, 9600)));
    EXPECT_EQ("ABCDE", read_all(Serial1));
}

TEST_F(UartTest, StationBytesReachThePeerWhenTheirStopBitEnds) {
    const uint32_t rates[] = {9600, 115200};
    for (uint32_t baud : rates) {
        SCOPED_TRACE(baud);
        SetUp();
        Serial1.begin(baud);
        const host::Micros written = host::now() + host::kCallCost;
        EXPECT_EQ(5u, Serial1.write(reinterpret_cast<const uint8_t*>("HELLO"), 5));
        host::run_for(host::kSecond);
        ASSERT_EQ(5u, peer.bytes.size());
        EXPECT_EQ("HELLO", peer.text());
        for (uint64_t k = 1; k <= 5; ++k) {
            EXPECT_EQ(byte_end(written, k, baud), peer.bytes[k - 1].first) << "byte " << k;
        }
    }
}

TEST_F(UartTest, ReceiveBufferKeeps512BytesAndCountsTheRestLost) {
    Serial1.begin(115200);
    std::string text;
    for (int i = 0; i < 600; ++i) {
        text += static_cast<char>('0' + i % 64);
    }
    host::uart_peer_send(kPort, text, 115200);
    host::run_for(host::kSecond);
    EXPECT_EQ(512, Serial1.available());
    EXPECT_EQ(88u, host::uart_status(kPort).lost);
    EXPECT_EQ(text.substr(0, 512), read_all(Serial1));
    // Room again: the next bytes are kept.
    host::uart_peer_send(kPort, "xy", 115200);
    host::run_for(host::kSecond);
    EXPECT_EQ("xy", read_all(Serial1));
}

struct DeafCase {
    const char* name;
    void (*prepare)();
};

TEST_F(UartTest, NothingIsReceivedClosedAtAnotherRateOrWithTheDriverOff) {
    const DeafCase cases[] = {
        {"closed", [] {}},
        {"closed again",
         [] {
             Serial1.begin(9600);
             Serial1.end();
         }},
        {"driver off",
         [] {
             Serial1.begin(9600);
             pinMode(42, OUTPUT);
             digitalWrite(42, HIGH);
         }},
    };
    for (const DeafCase& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        c.prepare();
        host::uart_peer_send(kPort, "lost", 9600);
        host::run_for(host::kSecond);
        EXPECT_EQ(0, Serial1.available());
        EXPECT_EQ(4u, host::uart_status(kPort).lost);
    }
}

// A receiver at another rate samples the line in the middle of its own bit
// times from the start bit's edge: at 38400 a 4800-baud 0xFF is a long start
// bit then high (0x80); at 4800 a lone 38400-baud byte has ended by the
// second sample (0xFF); at 4800 two 9600-baud zeros read as one byte.
TEST_F(UartTest, AtAnotherRateTheReceiverReadsWhatItSamples) {
    struct Case {
        uint32_t sent_at;
        uint32_t read_at;
        std::string sent;
        std::string read;
    };
    const Case cases[] = {
        {4800, 38400, "\xFF", "\x80"},
        {38400, 4800, "\x55", "\xFF"},
        {9600, 4800, std::string(1, '\0'), "\xF8"},
        {9600, 4800, std::string(2, '\0'), "\x08"},
        {9600, 9600, "same", "same"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.sent_at) + " into " + std::to_string(c.read_at));
        SetUp();
        Serial1.begin(c.read_at);
        host::uart_peer_send(kPort, c.sent, c.sent_at);
        host::run_for(host::kSecond);
        EXPECT_EQ(c.read, read_all(Serial1));
    }
    // The other way: a peer listening at 4800 hears the station's 38400.
    class SlowPeer : public RecordingPeer {
        uint32_t baud() const override { return 4800; }
    } slow;
    SetUp();
    host::attach_uart_peer(kPort, &slow);
    Serial1.begin(38400);
    Serial1.write(0x55);
    host::run_for(host::kSecond);
    EXPECT_EQ("\xFF", slow.text());
}

// Noise flips about one bit in a thousand at 1e-3: of 20 000 bytes some
// 0.8 % change and 0.1 % are dropped (stop bit hit); the same seed gives the
// same line.
TEST_F(UartTest, NoiseFlipsBitsAtItsRateFromItsSeed) {
    const std::string sent(20000, 'U');
    std::string first;
    for (int run = 0; run < 2; ++run) {
        SetUp();
        host::set_uart_noise(kPort, 1e-3, 7);
        Serial1.begin(38400);
        std::string got;
        for (size_t at = 0; at < sent.size(); at += 400) {
            host::uart_peer_send(kPort, sent.substr(at, 400), 38400);
            host::run_for(200 * host::kMillisecond);
            got += read_all(Serial1);
        }
        size_t changed = 0;
        for (const char c : got) {
            changed += c != 'U' ? 1 : 0;
        }
        const size_t dropped = sent.size() - got.size();
        EXPECT_GT(changed, 100u);
        EXPECT_LT(changed, 230u);
        EXPECT_GT(dropped, 5u);
        EXPECT_LT(dropped, 45u);
        if (run == 1) {
            EXPECT_EQ(first, got);
        }
        first = got;
    }
}

TEST_F(UartTest, StatusShowsOpenRateAndDriver) {
    EXPECT_FALSE(host::uart_status(kPort).open);
    Serial1.begin(38400);
    EXPECT_TRUE(host::uart_status(kPort).open);
    EXPECT_EQ(38400u, host::uart_status(kPort).baud);
    EXPECT_TRUE(host::uart_status(kPort).driver_enabled);
    pinMode(host::uart_disable_pin(kPort), OUTPUT);
    digitalWrite(host::uart_disable_pin(kPort), HIGH);
    EXPECT_FALSE(host::uart_status(kPort).driver_enabled);
    EXPECT_EQ(10u, host::uart_disable_pin(0));
    EXPECT_EQ(42u, host::uart_disable_pin(1));
    EXPECT_EQ(29u, host::uart_disable_pin(3));
}

TEST_F(UartTest, BeginEmptiesTheReceiveBuffer) {
    Serial1.begin(9600);
    host::uart_peer_send(kPort, "old", 9600);
    host::run_for(host::kSecond);
    ASSERT_EQ(3, Serial1.available());
    Serial1.begin(9600);
    EXPECT_EQ(0, Serial1.available());
}

TEST_F(UartTest, NothingIsSentClosedOrWithTheDriverOff) {
    EXPECT_EQ(0u, Serial1.write('a'));
    Serial1.begin(9600);
    pinMode(42, OUTPUT);
    digitalWrite(42, HIGH);
    Serial1.write('b');
    host::run_for(host::kSecond);
    digitalWrite(42, LOW);
    Serial1.write('c');
    host::run_for(host::kSecond);
    EXPECT_EQ("c", peer.text());
}

TEST_F(UartTest, WriteBlocksOnAFullQueueAndFlushWaitsForTheLastByte) {
    Serial1.begin(9600);
    const std::string text(100, 'x');
    const host::Micros written = host::now() + host::kCallCost;
    Serial1.write(reinterpret_cast<const uint8_t*>(text.data()), text.size());
    // The 100th byte found room when the 36th had left the transmitter.
    EXPECT_EQ(byte_end(written, 36, 9600), host::now());
    const host::Micros flushed = host::now() + host::kCallCost;
    Serial1.flush();
    EXPECT_EQ(byte_end(written, 100, 9600), host::now());
    EXPECT_LT(flushed, host::now());
    EXPECT_EQ(100u, peer.bytes.size());
    EXPECT_EQ(byte_end(written, 100, 9600), peer.bytes.back().first);
}

TEST_F(UartTest, ShortWritesReturnAtOnceAndFlushOfAnIdleLineIsOneCall) {
    Serial1.begin(115200);
    const host::Micros before = host::now();
    Serial1.print("0123456789");
    EXPECT_EQ(before + host::kCallCost, host::now());
    Serial1.flush();
    EXPECT_EQ(byte_end(before + host::kCallCost, 10, 115200), host::now());
    const host::Micros idle = host::now();
    Serial1.flush();
    EXPECT_EQ(idle + host::kCallCost, host::now());
}

TEST_F(UartTest, EndDropsWhatWasStillBeingSent) {
    Serial1.begin(9600);
    Serial1.print("abcdef");
    host::run_for(2500);  // two bytes out
    Serial1.end();
    host::run_for(host::kSecond);
    EXPECT_EQ("ab", peer.text());
}

}  // namespace
