// ktr09-sim --nmea-tcp as gpsd sees it: gpsd reads the feed as it would an
// AIS receiver's (gpsd tcp://127.0.0.1:PORT) and a gpspipe client gets the
// station's weather broadcast back as an AIS message 8 of its transponder.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <nlohmann/json.hpp>

#include "support/command.h"
#include "support/state_dir.h"

namespace {

bool installed(const char* program) {
    return run_tool(std::string("command -v ") + program + " >/dev/null").status == 0;
}

// A loopback port nobody listens on now.
int free_port() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0) {
        port = ntohs(address.sin_port);
    }
    ::close(fd);
    return port;
}

TEST(GpsdFeed, GpsdReadsTheStationsMessage8FromTheFeed) {
    if (!installed("gpsd") || !installed("gpspipe")) {
        GTEST_SKIP() << "gpsd or gpspipe is not installed";
    }
    const TemporaryStateDir dir;
    const std::string d = dir.path().string();
    const std::string feed = std::to_string(free_port());
    const std::string gpsd_port = std::to_string(free_port());
    // In real time, so that gpsd and its client are there before the first
    // message 8 (the station sends it about 18 s after power-on); each
    // program is stopped once the station's run is over.
    const std::string script =
        std::string(KTR09_SIM_BINARY) + " --realtime --duration 25s --nmea-tcp " + feed +
        " --state-dir " + d + "/state >/dev/null 2>" + d + "/sim.err & sim=$!\n" +
        "for i in $(seq 100); do grep -q 'NMEA feed' " + d +
        "/sim.err && break; sleep 0.1; done\n" + "gpsd -N -n -S " + gpsd_port + " -F " + d +
        "/gpsd.sock tcp://127.0.0.1:" + feed + " 2>" + d + "/gpsd.err & gpsd=$!\n" + "sleep 1\n" +
        "gpspipe -w 127.0.0.1:" + gpsd_port + " >" + d + "/gpspipe.json 2>&1 & pipe=$!\n" +
        "wait $sim; status=$?\n" + "sleep 1; kill $pipe $gpsd; wait $pipe $gpsd\n" +
        "exit $status\n";
    std::ofstream(dir.path() / "run.sh") << script;
    const ToolRun run = run_tool("bash " + d + "/run.sh");
    ASSERT_EQ(0, run.status) << run.output;

    std::ifstream json_lines(dir.path() / "gpspipe.json");
    std::ostringstream all;
    bool found = false;
    for (std::string line; std::getline(json_lines, line);) {
        all << line << "\n";
        const nlohmann::json m = nlohmann::json::parse(line, nullptr, false);
        if (!m.is_object() || m.value("class", "") != "AIS" || m.value("type", -1) != 8) {
            continue;
        }
        found = true;
        EXPECT_EQ(992471001, m.value("mmsi", -1));
        EXPECT_EQ(1, m.value("dac", -1));
        EXPECT_EQ(31, m.value("fid", -1));
    }
    EXPECT_TRUE(found) << "no message 8 from gpsd:\n" << all.str();
}

}  // namespace
