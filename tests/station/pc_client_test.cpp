// ktr09-config against a station: the simulated one over its pseudo-terminal,
// and stand-in stations that answer wrongly or not at all.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/file.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <thread>

#include "codec/config_json.h"
#include "codec/pc_frame.h"
#include "support/sim_process.h"
#include "support/state_dir.h"

namespace {

const std::string kTool = KTR09_CONFIG_BINARY;

// What the station prints on its console after a read request: its records.
std::string dump_after_read(const std::string& pty) {
    const int fd = ::open(pty.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    const std::vector<uint8_t> request = codec::pc_read_request(0, 1);
    std::string text;
    if (fd >= 0 && ::write(fd, request.data(), request.size()) > 0) {
        for (int wait = 0; wait < 50 && text.find("ftension_alarma_bateria_off") == text.npos;) {
            pollfd ready{fd, POLLIN, 0};
            char buffer[512];
            const ssize_t n = ::poll(&ready, 1, 100) > 0 ? ::read(fd, buffer, sizeof buffer) : 0;
            text.append(buffer, n > 0 ? static_cast<size_t>(n) : 0);
            wait += n > 0 ? 0 : 1;
        }
    }
    ::close(fd);
    return text;
}

TEST(PcClient, WritesAConfigurationThatTheStationReadsBackAndApplies) {
    const TemporaryStateDir state;
    const SimProcess sim(state.path());
    ASSERT_FALSE(sim.pty().empty()) << sim.stderr_text();
    const std::string device = " --device " + sim.pty();
    // The station answers once its start-up is over.
    ProgramRun ping;
    for (int attempt = 0; attempt < 30 && ping.status != 0; ++attempt) {
        ping = run_program(state.path(), kTool + " ping --timeout 500" + device);
    }
    ASSERT_EQ(0, ping.status) << ping.err;

    codec::StationConfig changed = codec::default_station_config();
    changed.configuracion_sensor[0].csample_interval = 7;
    changed.configuracion_ktr09.cnombre = {'F', 'A', 'R', 'O', ' ', 'N', 'U', 'E', 'V', 'O'};
    const std::string changed_text = codec::config_json_text(changed);
    std::ofstream(state.path() / "changed.json") << changed_text;
    std::ofstream(state.path() / "default.json")
        << codec::config_json_text(codec::default_station_config());

    const ProgramRun write = run_program(
        state.path(), kTool + " write " + (state.path() / "changed.json").string() + device);
    ASSERT_EQ(0, write.status) << write.err;
    EXPECT_NE(write.err.find("writing 3/3 blocks"), std::string::npos) << write.err;
    EXPECT_EQ(changed_text, run_program(state.path(), kTool + " read" + device).out);
    EXPECT_EQ(0, run_program(state.path(),
                             kTool + " verify " + (state.path() / "changed.json").string() + device)
                     .status);
    // The first byte the change touched: sensor channel 1's sample interval.
    const ProgramRun differs = run_program(
        state.path(), kTool + " verify " + (state.path() / "default.json").string() + device);
    EXPECT_NE(0, differs.status);
    EXPECT_NE(differs.err.find("address 92 (0x005C)"), std::string::npos) << differs.err;
    // The last block's sub-command made the station reload its records.
    EXPECT_NE(dump_after_read(sim.pty()).find("DISP 1 csample_interval: 7"), std::string::npos);
    // The name's first bytes at its address, once the station has finished
    // printing the dump of that read.
    run_program(state.path(), kTool + " ping" + device);
    EXPECT_EQ("00AA: 46 41 52 4F\n",
              run_program(state.path(), kTool + " read --from 0xAA --count 4" + device).out);
    // A merge changes the field the file gives and keeps the station's others.
    std::ofstream(state.path() / "name.json") << R"({"configuracion_ktr09": {"cnombre": "BOYA"}})";
    const ProgramRun merge = run_program(
        state.path(), kTool + " write --merge " + (state.path() / "name.json").string() + device);
    ASSERT_EQ(0, merge.status) << merge.err;
    changed.configuracion_ktr09.cnombre = {'B', 'O', 'Y', 'A'};
    EXPECT_EQ(codec::config_json_text(changed),
              run_program(state.path(), kTool + " read" + device).out);
}

// A pseudo-terminal whose other end answers each request with what
// `answer` returns.
class StandInStation {
  public:
    using Answer = std::function<std::string(codec::PcFrame)>;

    explicit StandInStation(Answer answer) : answer_(std::move(answer)) {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
        ::grantpt(master_);
        ::unlockpt(master_);
        path_ = ::ptsname(master_);
        // Held open so the line stays up between the tool's opens.
        slave_ = ::open(path_.c_str(), O_RDWR | O_NOCTTY);
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
            uint8_t buffer[256];
            const ssize_t n =
                ::poll(&ready, 1, 20) > 0 ? ::read(master_, buffer, sizeof buffer) : 0;
            received.insert(received.end(), buffer, buffer + std::max<ssize_t>(n, 0));
            size_t used = 0;
            if (const auto request = codec::parse_pc_frame(received, &used)) {
                received.erase(received.begin(), received.begin() + used);
                const std::string reply = answer_(*request);
                if (::write(master_, reply.data(), reply.size()) < 0) {
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

// The answer a station gives, inside the console text it prints around it.
std::string sound_reply(codec::PcFrame reply) {
    reply.reply = true;
    reply.data.assign(reply.command == codec::kPcRead ? reply.count_or_result : 0, 0x5A);
    reply.count_or_result = reply.command == codec::kPcAcknowledge ? 0 : 1;
    const std::vector<uint8_t> frame = codec::build_pc_frame(reply);
    return "Verificar Trama. Size=13\r\n# notes\r\n" + std::string(frame.begin(), frame.end()) +
           "Reset de contadores.\r\n";
}

TEST(PcClient, RepliesThatDoNotAnswerTheRequestAreReported) {
    struct Row {
        const char* what;
        StandInStation::Answer answer;
        const char* arguments;
        const char* message;  // empty: the exchange succeeds
    };
    const std::vector<Row> rows = {
        {"a sound reply behind console text", sound_reply, "read --from 16 --count 3", ""},
        {"nobody answers", [](codec::PcFrame) { return std::string(); }, "ping", "no reply"},
        {"CRC bytes swapped",
         [](codec::PcFrame request) {
             std::string reply = sound_reply(request);
             const size_t end = reply.find("Reset de");
             std::swap(reply[end - 1], reply[end - 2]);
             return reply;
         },
         "ping", "CRC"},
        {"a length byte shorter than a frame",
         [](codec::PcFrame) { return std::string("#JWK\x05\x02\x00\x00\x00\x00\x00", 11); }, "ping",
         "length byte"},
        {"an answer at another address",
         [](codec::PcFrame request) {
             request.address += 1;
             return sound_reply(request);
         },
         "read --from 16 --count 3", "another request"},
        {"fewer bytes than asked",
         [](codec::PcFrame request) {
             request.count_or_result = 2;
             return sound_reply(request);
         },
         "read --from 16 --count 3", "2 data bytes"},
    };
    const TemporaryStateDir dir;
    for (const Row& row : rows) {
        const StandInStation station(row.answer);
        const ProgramRun run = run_program(
            dir.path(), kTool + " " + row.arguments + " --timeout 300 --device " + station.path());
        EXPECT_EQ(*row.message == '\0', run.status == 0) << row.what << ": " << run.err;
        EXPECT_NE(run.err.find(row.message), std::string::npos) << row.what << ": " << run.err;
    }
    const ProgramRun missing = run_program(dir.path(), kTool + " ping --device /dev/no-such-port");
    EXPECT_EQ(1, missing.status);
    EXPECT_NE(missing.err.find("cannot open /dev/no-such-port: No such file"), std::string::npos)
        << missing.err;
    // A port a terminal program holds (picocom locks it) is not shared.
    const StandInStation held(sound_reply);
    const int holder = ::open(held.path().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_EQ(0, ::flock(holder, LOCK_EX));
    const ProgramRun busy = run_program(dir.path(), kTool + " ping --device " + held.path());
    ::close(holder);
    EXPECT_EQ(1, busy.status);
    EXPECT_NE(busy.err.find("cannot open " + held.path() + ": in use"), std::string::npos)
        << busy.err;
    // The simulator's table of exit codes: a file it cannot read, a bad option.
    EXPECT_EQ(2, run_program(dir.path(), kTool + " write /no/such.json --device /dev/null").status);
    EXPECT_EQ(64, run_program(dir.path(), kTool + " ping --no-such-option").status);
}

}  // namespace
