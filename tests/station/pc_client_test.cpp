// ktr09-config against a station: the simulated one over its pseudo-terminal,
// and stand-in stations that answer wrongly or not at all.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "codec/config_json.h"
#include "codec/pc_frame.h"
#include "support/sim_process.h"
#include "support/state_dir.h"

namespace {

using Clock = std::chrono::steady_clock;

struct ToolRun {
    int status = -1;
    std::string out;
    std::string err;
};

ToolRun run_config(const std::filesystem::path& dir, const std::string& arguments) {
    const std::filesystem::path err_file = dir / "tool_stderr.txt";
    const std::string command =
        std::string(KTR09_CONFIG_BINARY) + " " + arguments + " 2>" + err_file.string();
    ToolRun run;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[4096];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
            run.out.append(buffer, n);
        }
        const int status = pclose(pipe);
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::ostringstream err;
    err << std::ifstream(err_file).rdbuf();
    run.err = err.str();
    return run;
}

// The station's console text after a read request: its records printed in
// clear, up to the last line of the dump.
std::string dump_after_read(const std::string& pty) {
    const int fd = ::open(pty.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        return "cannot open " + pty;
    }
    const std::vector<uint8_t> request = codec::pc_read_request(0, 1);
    std::string text;
    if (::write(fd, request.data(), request.size()) == static_cast<ssize_t>(request.size())) {
        const auto deadline = Clock::now() + std::chrono::seconds(5);
        while (Clock::now() < deadline && text.find("ftension_alarma_bateria_off") == text.npos) {
            pollfd ready{fd, POLLIN, 0};
            char buffer[512];
            if (::poll(&ready, 1, 100) > 0) {
                const ssize_t n = ::read(fd, buffer, sizeof buffer);
                text.append(buffer, n > 0 ? static_cast<size_t>(n) : 0);
            }
        }
    }
    ::close(fd);
    return text;
}

TEST(PcClient, WritesAConfigurationThatTheStationReadsBackAndApplies) {
    const TemporaryStateDir state;
    const SimProcess sim(state.path().string());
    ASSERT_FALSE(sim.pty().empty()) << sim.stderr_text();
    const std::string device = " --device " + sim.pty();

    // The station answers once its start-up is over.
    ToolRun ping;
    for (const auto deadline = Clock::now() + std::chrono::seconds(30);
         ping.status != 0 && Clock::now() < deadline;) {
        ping = run_config(state.path(), "ping --timeout 500" + device);
    }
    ASSERT_EQ(0, ping.status) << ping.err;

    codec::StationConfig changed = codec::default_station_config();
    changed.configuracion_sensor[0].csample_interval = 7;
    changed.configuracion_ktr09.cnombre = {};
    const std::string name = "FARO DE PRUEBA";
    std::copy(name.begin(), name.end(), changed.configuracion_ktr09.cnombre.begin());
    const std::string changed_text = codec::config_json_text(changed);
    const std::filesystem::path changed_file = state.path() / "changed.json";
    std::ofstream(changed_file) << changed_text;
    const std::filesystem::path default_file = state.path() / "default.json";
    std::ofstream(default_file) << codec::config_json_text(codec::default_station_config());

    const ToolRun write = run_config(state.path(), "write " + changed_file.string() + device);
    ASSERT_EQ(0, write.status) << write.err;
    EXPECT_NE(write.err.find("writing 3/3 blocks"), std::string::npos) << write.err;

    const ToolRun read = run_config(state.path(), "read" + device);
    ASSERT_EQ(0, read.status) << read.err;
    EXPECT_EQ(changed_text, read.out);

    EXPECT_EQ(0, run_config(state.path(), "verify " + changed_file.string() + device).status);
    // The first byte the change touched: channel 1's sample interval.
    const ToolRun differs = run_config(state.path(), "verify " + default_file.string() + device);
    EXPECT_NE(0, differs.status);
    EXPECT_NE(differs.err.find("address 92 (0x005C)"), std::string::npos) << differs.err;

    // The last block's sub-command made the station reload its records.
    EXPECT_NE(dump_after_read(sim.pty()).find("DISP 1 csample_interval: 7"), std::string::npos);

    // The raw form of the name's first bytes, at the name's address.
    const ToolRun raw = run_config(state.path(), "read --from 0xAA --count 4" + device);
    ASSERT_EQ(0, raw.status) << raw.err;
    EXPECT_EQ("00AA: 46 41 52 4F\n", raw.out);
}

// A pseudo-terminal whose other end is served by `answer`: it gets each
// request and returns the bytes sent back (nothing for silence).
class StandInStation {
  public:
    using Answer = std::function<std::string(const codec::PcFrame&)>;

    explicit StandInStation(Answer answer) : answer_(std::move(answer)) {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ >= 0 && ::grantpt(master_) == 0 && ::unlockpt(master_) == 0) {
            path_ = ::ptsname(master_);
            // Held open so the line stays up between the tool's opens.
            slave_ = ::open(path_.c_str(), O_RDWR | O_NOCTTY);
        }
        server_ = std::thread([this] { serve(); });
    }
    ~StandInStation() {
        stop_ = true;
        server_.join();
        ::close(slave_);
        ::close(master_);
    }
    const std::string& path() const { return path_; }

  private:
    void serve() {
        std::vector<uint8_t> received;
        while (!stop_) {
            pollfd ready{master_, POLLIN, 0};
            if (::poll(&ready, 1, 20) <= 0) {
                continue;
            }
            uint8_t buffer[256];
            const ssize_t n = ::read(master_, buffer, sizeof buffer);
            if (n <= 0) {
                continue;
            }
            received.insert(received.end(), buffer, buffer + n);
            size_t used = 0;
            if (const auto request = codec::parse_pc_frame(received, &used)) {
                received.erase(received.begin(), received.begin() + used);
                const std::string reply = answer_(*request);
                if (!reply.empty() && ::write(master_, reply.data(), reply.size()) < 0) {
                    return;
                }
            }
        }
    }

    Answer answer_;
    int master_ = -1;
    int slave_ = -1;
    std::string path_;
    std::atomic<bool> stop_{false};
    std::thread server_;
};

std::string frame_text(codec::PcFrame frame) {
    frame.reply = true;
    const std::vector<uint8_t> bytes = codec::build_pc_frame(frame);
    return std::string(bytes.begin(), bytes.end());
}

// The acknowledgement a station gives, after the console text it prints.
std::string sound_reply(const codec::PcFrame& request) {
    codec::PcFrame reply = request;
    reply.count_or_result = request.command == codec::kPcAcknowledge ? 0 : 1;
    reply.data.assign(request.command == codec::kPcRead ? request.count_or_result : 0, 0x5A);
    return "Verificar Trama. Size=13\r\nAntes de procesar trama.\r\n# notes\r\n" +
           frame_text(reply) + "Reset de contadores.\r\n";
}

TEST(PcClient, RepliesThatDoNotAnswerTheRequestAreReported) {
    struct Row {
        const char* what;
        StandInStation::Answer answer;
        const char* arguments;
        const char* message;  // empty: the exchange succeeds
    };
    const std::vector<Row> rows = {
        {"a sound reply behind console text", sound_reply, "ping", ""},
        {"a sound read reply", sound_reply, "read --from 16 --count 3", ""},
        {"nobody answers", [](const codec::PcFrame&) { return std::string(); }, "ping", "no reply"},
        {"CRC bytes swapped",
         [](const codec::PcFrame& request) {
             std::string reply = sound_reply(request);
             const size_t end = reply.find("Reset de");
             std::swap(reply[end - 1], reply[end - 2]);
             return reply;
         },
         "ping", "CRC"},
        {"a length byte shorter than a frame",
         [](const codec::PcFrame&) { return std::string("#JWK\x05\x02\x00\x00\x00\x00\x00", 11); },
         "ping", "length byte"},
        {"an answer at another address",
         [](const codec::PcFrame& request) {
             codec::PcFrame moved = request;
             moved.address += 1;
             return sound_reply(moved);
         },
         "read --from 16 --count 3", "another request"},
        {"an answer to another command",
         [](const codec::PcFrame& request) {
             codec::PcFrame other = request;
             other.command = codec::kPcWrite;
             other.count_or_result = 0;
             return sound_reply(other);
         },
         "read --from 16 --count 3", "another request"},
        {"fewer bytes than asked",
         [](const codec::PcFrame& request) {
             codec::PcFrame shorter = request;
             shorter.count_or_result = 2;
             return sound_reply(shorter);
         },
         "read --from 16 --count 3", "2 data bytes"},
    };
    const TemporaryStateDir dir;
    for (const Row& row : rows) {
        const StandInStation station(row.answer);
        const ToolRun run = run_config(
            dir.path(), std::string(row.arguments) + " --timeout 300 --device " + station.path());
        if (*row.message == '\0') {
            EXPECT_EQ(0, run.status) << row.what << ": " << run.err;
        } else {
            EXPECT_NE(0, run.status) << row.what;
            EXPECT_NE(run.err.find(row.message), std::string::npos) << row.what << ": " << run.err;
        }
    }
}

TEST(PcClient, AMissingDeviceIsNamed) {
    const TemporaryStateDir dir;
    const ToolRun run = run_config(dir.path(), "read --device /dev/no-such-port");
    EXPECT_NE(0, run.status);
    EXPECT_NE(run.err.find("cannot open /dev/no-such-port"), std::string::npos) << run.err;
}

}  // namespace
