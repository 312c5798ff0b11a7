// ktr09-link: stations that hear each other. Starts N simulated stations
// (ktr09-sim --link), each in its own state directory with its own
// transponder MMSI, and runs the VHF link between them for a given virtual
// time: what one station's transponder transmits, the others' report as
// !AIVDM. Each station's USB output and transcript go beside its state
// directory. With --check every station watches its invariants, and a
// violation at any of them fails the link's run. With --external it starts
// none and waits for stations started by hand.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "devices/ais_transponder.h"
#include "devices/state_file.h"
#include "exit_codes.h"
#include "link/broker.h"
#include "options.h"
#include "state_lock.h"

namespace {

namespace fs = std::filesystem;

constexpr uint32_t kFirstMmsi = 992471001;  // the default station's transponder
constexpr unsigned kMsg6PeriodS = 10;
constexpr auto kJoinWait = std::chrono::seconds(60);

struct Launch {
    unsigned stations = 2;
    fs::path root = "link-state";
    fs::path sim;
    int mode = -1;
    std::vector<std::string> scenarios;
    std::optional<uint64_t> seed;
    bool check = false;
};

fs::path station_dir(const Launch& launch, unsigned index) {
    return launch.root / ("station-" + std::to_string(index + 1));
}

// A new station's transponder gets its own MMSI and name, and sends its
// messages 6 (the data its station relays) to the next station's, the last
// to the first's, at most every kMsg6PeriodS; an existing state directory is
// left as it is.
bool prepare_state(const Launch& launch, unsigned index, std::string* error) {
    const fs::path dir = station_dir(launch, index);
    std::error_code failure;
    fs::create_directories(dir, failure);
    const fs::path file = dir / "ais_transponder.txt";
    if (failure || fs::exists(file)) {
        *error = failure ? dir.string() + ": " + failure.message() : "";
        return !failure;
    }
    sim::AisTransponder::Settings settings;
    settings.mmsi = kFirstMmsi + index;
    settings.name = "KTR09 STATION " + std::to_string(index + 1);
    if (launch.stations > 1) {
        settings.msg6_destination = kFirstMmsi + (index + 1) % launch.stations;
        settings.msg6_period_s = kMsg6PeriodS;
    }
    *error = sim::replace_state_file(file.string(), sim::AisTransponder::state_text(settings, {}));
    return error->empty();
}

// What a run cost, once every station has ended: the processor time of the
// stations (this process's children) and of the link itself, beside the
// wall time. A station-day is one station simulated for 24 hours.
void report_cost(unsigned stations, double simulated_s, double wall_s) {
    rusage self{};
    rusage children{};
    ::getrusage(RUSAGE_SELF, &self);
    ::getrusage(RUSAGE_CHILDREN, &children);
    const auto seconds = [](const rusage& usage) {
        return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
               static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    };
    const double link = seconds(self);
    const double station = seconds(children);
    const double station_days = stations * simulated_s / 86400.0;
    std::fprintf(stderr,
                 "ktr09-link: %u stations, %.0f s simulated in %.2f s of wall time; processor "
                 "time %.2f s for the stations (%.2f s a station-day), %.2f s for the link "
                 "(%.1f %%)\n",
                 stations, simulated_s, wall_s, station,
                 station_days > 0 ? station / station_days : 0.0, link,
                 link + station > 0 ? 100.0 * link / (link + station) : 0.0);
}

// The longest "duration" of the scenario files (comments allowed).
bool longest_scenario(const std::vector<std::string>& scenarios, std::string* duration,
                      std::string* error) {
    uint64_t longest = 0;
    for (const std::string& file : scenarios) {
        std::ifstream in(file);
        const auto json = nlohmann::json::parse(in, nullptr, false, true);
        if (!json.is_object() || !json.contains("duration") || !json["duration"].is_string()) {
            continue;  // the station itself says what is wrong with it
        }
        const auto time = sim::parse_duration(json["duration"].get<std::string>(), nullptr);
        if (time && *time > longest) {
            longest = *time;
            *duration = json["duration"].get<std::string>();
        }
    }
    if (longest == 0) {
        *error = "no --duration, and no scenario gives one";
        return false;
    }
    return true;
}

// A started station: its process, its exit status once it has ended, and
// under --check the thread passing its stderr on.
struct Station {
    pid_t pid = -1;
    int status = -1;  // as waitpid gives it; -1 while running
    std::unique_ptr<std::thread> relay;
};

// Copies a station's stderr to ours line by line, each led by the station's
// name: under --check the stations report their violations and summaries at
// the same moments, and each line must say whose it is.
void relay_stderr(int from, unsigned index) {
    FILE* in = ::fdopen(from, "r");
    if (in == nullptr) {
        ::close(from);
        return;
    }
    char* line = nullptr;
    size_t capacity = 0;
    while (::getline(&line, &capacity, in) > 0) {
        std::fprintf(stderr, "station-%u: %s", index + 1, line);
    }
    std::free(line);
    std::fclose(in);
}

// Starts station `index` with its USB output in <dir>.usb.
Station start_station(const Launch& launch, const fs::path& socket, unsigned index) {
    const fs::path dir = station_dir(launch, index);
    std::vector<std::string> args = {
        launch.sim.string(),         "--link",      socket.string(), "--link-index",
        std::to_string(index),       "--state-dir", dir.string(),    "--transcript",
        dir.string() + ".transcript"};
    if (launch.mode >= 0) {
        args.insert(args.end(), {"--mode", std::to_string(launch.mode)});
    }
    if (launch.seed) {
        args.insert(args.end(), {"--seed", std::to_string(sim::station_seed(*launch.seed, index))});
    }
    if (launch.check) {
        args.push_back("--check");
    }
    if (index < launch.scenarios.size() && !launch.scenarios[index].empty()) {
        args.insert(args.end(), {"--scenario", launch.scenarios[index]});
    }
    const std::string usb = dir.string() + ".usb";
    std::vector<char*> argv;
    for (std::string& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    int err[2] = {-1, -1};
    if (launch.check && ::pipe2(err, O_CLOEXEC) != 0) {
        err[0] = err[1] = -1;  // the station's stderr stays ours, unlabelled
    }
    Station station;
    station.pid = ::fork();
    if (station.pid == 0) {
        const int out = ::open(usb.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (out >= 0 && ::dup2(out, 1) >= 0 && (err[1] < 0 || ::dup2(err[1], 2) >= 0)) {
            ::execv(argv[0], argv.data());
        }
        ::_exit(127);
    }
    if (err[1] >= 0) {
        ::close(err[1]);
        if (station.pid > 0) {
            station.relay = std::make_unique<std::thread>(relay_stderr, err[0], index);
        } else {
            ::close(err[0]);
        }
    }
    return station;
}

// While stations are joining: none of those started has ended, and not
// too long for a station started by hand.
bool still_joining(std::vector<Station>& stations, std::chrono::steady_clock::time_point since) {
    for (Station& station : stations) {
        if (::waitpid(station.pid, &station.status, WNOHANG) != 0) {
            std::fprintf(stderr, "ktr09-link: station process %d ended before joining\n",
                         static_cast<int>(station.pid));
            return false;
        }
    }
    return std::chrono::steady_clock::now() - since < kJoinWait;
}

std::string quantum_text_of_lead() {
    return std::to_string(sim::vhf::kLead / 1000) + "ms";
}

// Waits for every started station: the exit code of the link's run as far
// as they go (a station refused for its state directory is a state error;
// one whose --check found a violation ends with 1, a run fault).
int wait_stations(std::vector<Station>& stations) {
    int code = sim::kExitDone;
    for (size_t i = 0; i < stations.size(); ++i) {
        Station& station = stations[i];
        if (station.status < 0 && ::waitpid(station.pid, &station.status, 0) != station.pid) {
            station.status = -1;
        }
        if (station.relay) {
            station.relay->join();  // its last lines (the summary) before our verdict
        }
        const int exited = WIFEXITED(station.status) ? WEXITSTATUS(station.status) : -1;
        if (station.status < 0 || exited != sim::kExitDone) {
            std::fprintf(stderr, "ktr09-link: station %zu (process %d) failed with exit code %d\n",
                         i + 1, static_cast<int>(station.pid), exited);
            code = exited == sim::kExitStateError || code == sim::kExitStateError
                       ? sim::kExitStateError
                       : sim::kExitRunFault;
        }
    }
    return code;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{
        "Stations that hear each other: starts N simulated stations (ktr09-sim), each with its "
        "own state directory and transponder MMSI, joined by a simulated VHF link for a "
        "virtual time. Each station's USB output is <state-root>/station-N.usb and its "
        "transcript <state-root>/station-N.transcript."};
    Launch launch;
    std::string duration_text;
    std::string quantum_text = quantum_text_of_lead();
    bool external = false;
    fs::path socket;
    app.add_option("--stations", launch.stations, "Number of stations")
        ->check(CLI::Range(1, 64))
        ->capture_default_str();
    app.add_option("--duration", duration_text,
                   "Simulated time to run, e.g. 10m, 24h (default: the longest \"duration\" of "
                   "the scenarios given)")
        ->type_name("DURATION");
    app.add_option("--state-root", launch.root,
                   "Directory of the stations' state directories station-1, station-2, ...")
        ->capture_default_str();
    app.add_option("--mode", launch.mode, "Operating mode of every station (0, 1, 2)")
        ->check(CLI::Range(0, sim::kModeCount - 1));
    app.add_option("--scenario", launch.scenarios,
                   "Scenario file of a station: the first given for station 1, the next for "
                   "station 2, ... (an empty name for none)")
        ->type_name("FILE");
    app.add_option("--seed", launch.seed,
                   "Vary the devices' timing of every station as ktr09-sim --seed does; each "
                   "station gets a seed of its own derived from this one")
        ->type_name("N")
        ->check(CLI::Validator([](std::string& text) { return sim::seed_text_error(text); }, ""));
    app.add_flag("--check", launch.check,
                 "Give every station --check: each watches its invariants and reports on stderr, "
                 "each line led by station-N:; exit with 1 if any station found a violation");
    app.add_option("--sim", launch.sim, "The ktr09-sim to start (default: the one beside this)");
    app.add_option("--quantum", quantum_text,
                   "Virtual time granted per round (at most the link's lead, the default)")
        ->capture_default_str();
    app.add_option("--socket", socket, "The link's Unix socket (default: <state-root>/link.sock)");
    app.add_flag("--external", external,
                 "Start no stations: wait for N started by hand with ktr09-sim --link SOCKET "
                 "--link-index 0..N-1");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& parse_error) {
        return app.exit(parse_error) == 0 ? sim::kExitDone : sim::kExitUsage;
    }

    std::string error;
    if (duration_text.empty() && !longest_scenario(launch.scenarios, &duration_text, &error)) {
        std::fprintf(stderr, "ktr09-link: %s\n", error.c_str());
        return sim::kExitUsage;
    }
    const auto duration = sim::parse_duration(duration_text, &error);
    const auto quantum = sim::parse_duration(quantum_text, &error);
    if (!duration || !quantum || *quantum == 0 || *quantum > sim::vhf::kLead) {
        std::fprintf(stderr, "ktr09-link: %s\n",
                     error.empty() ? ("--quantum must be 1ms.." + quantum_text_of_lead()).c_str()
                                   : error.c_str());
        return sim::kExitUsage;
    }
    if (launch.sim.empty()) {
        launch.sim = fs::read_symlink("/proc/self/exe").parent_path() / "ktr09-sim";
    }
    if (socket.empty()) {
        socket = launch.root / "link.sock";
    }
    std::error_code failure;
    fs::create_directories(launch.root, failure);
    if (failure) {
        std::fprintf(stderr, "ktr09-link: %s: %s\n", launch.root.c_str(),
                     failure.message().c_str());
        return sim::kExitStateError;
    }
    // The root holds the link's socket; each station locks its own directory,
    // and none starts while another simulator holds one.
    sim::StateLock lock;
    if (!lock.acquire(launch.root.string(), &error)) {
        std::fprintf(stderr, "ktr09-link: %s\n", error.c_str());
        return sim::kExitStateError;
    }
    for (unsigned i = 0; i < launch.stations && !external; ++i) {
        if (!sim::StateLock::is_free(station_dir(launch, i).string(), &error)) {
            std::fprintf(stderr, "ktr09-link: %s\n", error.c_str());
            return sim::kExitStateError;
        }
    }
    for (unsigned i = 0; i < launch.stations && !external; ++i) {
        if (!prepare_state(launch, i, &error)) {
            std::fprintf(stderr, "ktr09-link: %s\n", error.c_str());
            return sim::kExitStateError;
        }
    }
    const int listener = sim::vhf::listen_unix(socket.string(), &error);
    if (listener < 0) {
        std::fprintf(stderr, "ktr09-link: %s\n", error.c_str());
        return sim::kExitRunFault;
    }
    std::vector<Station> started;
    for (unsigned i = 0; i < launch.stations && !external; ++i) {
        started.push_back(start_station(launch, socket, i));
    }
    if (external) {
        std::fprintf(stderr, "ktr09-link: waiting for %u stations on %s\n", launch.stations,
                     socket.c_str());
    }
    bool ok = false;
    const auto since = std::chrono::steady_clock::now();
    {
        std::vector<std::unique_ptr<sim::vhf::LineSocket>> stations;
        const auto joining = [&] { return still_joining(started, since); };
        ok = sim::vhf::accept_stations(listener, launch.stations, joining, &stations, &error) &&
             sim::vhf::run_broker(stations, {*duration, *quantum}, &error);
        if (!ok) {
            std::fprintf(stderr, "ktr09-link: %s\n", error.c_str());
        }
        // The sockets close here: a station still running sees the link end.
    }
    ::close(listener);
    ::unlink(socket.c_str());
    const int stations_code = wait_stations(started);
    if (ok && !external && stations_code == sim::kExitDone) {
        report_cost(
            launch.stations, static_cast<double>(*duration) / 1e6,
            std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count());
    }
    return stations_code != sim::kExitDone ? stations_code
           : ok                            ? sim::kExitDone
                                           : sim::kExitRunFault;
}
