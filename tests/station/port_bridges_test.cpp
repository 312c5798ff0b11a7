// A station port on a pseudo-terminal instead of its device model: what the
// station sends comes out of the terminal, what the terminal sends reaches the
// station at the rate the station opened the port with (the terminal shows
// that rate), and the model that was cabled there is unplugged.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <string>

#include "host/machine.h"
#include "port_bridges.h"
#include "station.h"
#include "support/state_dir.h"
#include "support/station_dir.h"

namespace {

using host::kSecond;

class ReceivedBytes : public host::MachineListener {
  public:
    void uart_to_station(uint8_t port, uint8_t byte, bool accepted) override {
        (accepted ? taken : lost)[port] += static_cast<char>(byte);
    }
    void usb_to_station(const uint8_t* data, size_t size, bool accepted) override {
        if (accepted) {
            usb.append(reinterpret_cast<const char*>(data), size);
        }
    }
    std::map<uint8_t, std::string> taken;
    std::map<uint8_t, std::string> lost;
    std::string usb;
};

std::string read_ready(int fd) {
    std::string text;
    char buffer[512];
    for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) {
        text.append(buffer, static_cast<size_t>(n));
    }
    return text;
}

constexpr uint8_t kUsb = 255;

struct PortRow {
    const char* port;
    uint8_t number;
    speed_t speed;              // the rate the station opens it with (USB: left alone)
    const char* station_sends;  // in its first ten seconds
    const char* peer_sends;
};

void PrintTo(const PortRow& row, std::ostream* os) {
    *os << row.port;
}

class PortOnPty : public testing::TestWithParam<PortRow> {
  protected:
    void SetUp() override {
        host::reset_machine();
        ASSERT_EQ("", attach_station(state_.path()));
        host::add_listener(&received_);
    }
    void TearDown() override {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        host::power_off();
        host::reset_machine();
    }
    // Runs the station, passing bytes between slices as ktr09-sim does.
    void run(host::Micros duration) {
        const host::Micros until = host::now() + duration;
        while (host::now() < until) {
            host::run_for(100 * host::kMillisecond);
            bridges_.pass();
        }
    }
    TemporaryStateDir state_;
    ReceivedBytes received_;
    sim::PortBridges bridges_;
    int fd_ = -1;
};

TEST_P(PortOnPty, CarriesBytesBothWaysAtTheOpenedRate) {
    const PortRow& row = GetParam();
    std::string error;
    ASSERT_TRUE(bridges_.open({{row.port, "pty"}}, &error)) << error;
    bridges_.take_lines();
    sim::TerminalPort* terminal = bridges_.terminal(row.port);
    ASSERT_NE(nullptr, terminal);
    // The terminal program's side, raw as picocom opens it.
    fd_ = ::open(terminal->path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd_, 0) << terminal->path();
    termios raw{};
    ASSERT_EQ(0, ::tcgetattr(fd_, &raw));
    ::cfmakeraw(&raw);
    ASSERT_EQ(0, ::tcsetattr(fd_, TCSANOW, &raw));

    host::power_on();
    run(10 * kSecond);
    const std::string sent = read_ready(fd_);
    EXPECT_NE(std::string::npos, sent.find(row.station_sends)) << sent;
    // The model that was cabled there sends nothing the station hears.
    EXPECT_EQ("", received_.taken[row.number]);
    EXPECT_EQ("", received_.lost[row.number]);

    if (row.number != kUsb) {
        termios settings{};
        ASSERT_EQ(0, ::tcgetattr(fd_, &settings));
        EXPECT_EQ(row.speed, ::cfgetospeed(&settings));
    }

    const std::string reply = row.peer_sends;
    ASSERT_EQ(static_cast<ssize_t>(reply.size()), ::write(fd_, reply.data(), reply.size()));
    run(2 * kSecond);
    if (row.number == kUsb) {
        EXPECT_EQ(reply, received_.usb);
    } else {
        EXPECT_EQ(reply, received_.taken[row.number]);
        EXPECT_EQ("", received_.lost[row.number]);
    }
}

INSTANTIATE_TEST_SUITE_P(SimPorts, PortOnPty,
                         testing::Values(PortRow{"uart3", 3, B4800, "$PAMTC,EN,ALL,0*1D\r\n",
                                                 "$WIMWV,90.0,T,12.5,N,A*0F\r\n"},
                                         PortRow{"uart0", 0, B38400, "$UPANQ,AID*3B\r\n",
                                                 "$AIALR,000000.00,007,A,V,AIS*00\r\n"},
                                         PortRow{"usb", kUsb, B0, "\t\tZPX\t\tKTR09\r\n", "DIP\r"}),
                         [](const testing::TestParamInfo<PortRow>& info) {
                             return std::string(info.param.port);
                         });

}  // namespace

namespace {

// --wait-for-terminal: the wait ends when a program opens the terminal, and
// gives up when the run is stopped meanwhile.
TEST(SimPorts, WaitingForATerminalEndsWhenOneOpensIt) {
    sim::TerminalPort terminal;
    std::string error;
    ASSERT_TRUE(terminal.open("pty", &error)) << error;
    const int program = ::open(terminal.path().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(program, 0);
    const volatile sig_atomic_t running = 0;
    EXPECT_TRUE(terminal.wait_for_terminal(running));
    ::close(program);

    sim::TerminalPort unopened;
    ASSERT_TRUE(unopened.open("pty", &error)) << error;
    const volatile sig_atomic_t stopped = 1;
    EXPECT_FALSE(unopened.wait_for_terminal(stopped));
}

TEST(SimPorts, AnythingButAPortOrASerialDeviceIsRefused) {
    const TemporaryStateDir dir;
    sim::PortBridges bridges;
    std::string error;
    EXPECT_FALSE(bridges.open({{"uart2", "pty"}}, &error));
    EXPECT_EQ("no port uart2", error);
    EXPECT_FALSE(bridges.open({{"uart3", (dir.path() / "missing").string()}}, &error));
    EXPECT_NE(std::string::npos, error.find("No such file")) << error;
    const std::string plain = (dir.path() / "plain").string();
    std::ofstream(plain) << "x";
    EXPECT_FALSE(bridges.open({{"usb", plain}}, &error));
    EXPECT_EQ(plain + " is not a serial device", error);
}

}  // namespace
