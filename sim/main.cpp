// ktr09-sim: the station firmware running on the modelled board, with its USB
// port on stdout (or a pseudo-terminal) and its devices attached.
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <chrono>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "devices/ais_transponder.h"
#include "devices/state_file.h"
#include "exit_codes.h"
#include "ktr09_board.h"
#include "host/machine.h"
#include "link_client.h"
#include "monitors/monitor.h"
#include "monitors/station_world.h"
#include "nmea_feed.h"
#include "options.h"
#include "port_bridges.h"
#include "scenario.h"
#include "state_lock.h"
#include "station.h"
#include "transcript.h"
#include "vcd.h"

namespace {

// The signal that asked the run to stop, 0 while none has.
volatile sig_atomic_t stop_requested = 0;

void request_stop(int signal_number) {
    stop_requested = signal_number;
}

// 128 + the signal, as a shell reports a process the signal ended.
int stopped_status() {
    return stop_requested == SIGTERM ? sim::kExitTerminated : sim::kExitInterrupted;
}

void install_stop_handler() {
    struct sigaction action {};
    action.sa_handler = request_stop;
    sigemptyset(&action.sa_mask);
    // A second Ctrl-C ends the process at once.
    action.sa_flags = SA_RESETHAND;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

// A terminal on stdin sends each key as typed, Enter as CR, without local
// echo (the station echoes), as a terminal program on the USB port would;
// Ctrl-C still stops the simulator. The settings come back on exit, also
// when a state file stops the run at once.
class KeyboardMode {
  public:
    KeyboardMode() {
        if (::isatty(STDIN_FILENO) == 0 || ::tcgetattr(STDIN_FILENO, &saved_) != 0) {
            return;
        }
        termios keys = saved_;
        keys.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
        keys.c_iflag &= static_cast<tcflag_t>(~(ICRNL | INLCR));
        keys.c_cc[VMIN] = 1;
        keys.c_cc[VTIME] = 0;
        active_ = ::tcsetattr(STDIN_FILENO, TCSANOW, &keys) == 0;
        sim::before_state_stop(&restore);
    }
    KeyboardMode(const KeyboardMode&) = delete;
    KeyboardMode& operator=(const KeyboardMode&) = delete;
    ~KeyboardMode() { restore(); }

  private:
    static void restore() {
        if (active_) {
            ::tcsetattr(STDIN_FILENO, TCSANOW, &saved_);
        }
    }
    static inline termios saved_{};
    static inline bool active_ = false;
};

// What stdin has ready, without waiting; sets `closed` at end of input.
std::string read_stdin_ready(bool* closed) {
    pollfd ready{STDIN_FILENO, POLLIN, 0};
    if (::poll(&ready, 1, 0) <= 0 || (ready.revents & (POLLIN | POLLHUP)) == 0) {
        return {};
    }
    char buffer[256];
    const ssize_t count = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (count <= 0) {
        *closed = true;
        return {};
    }
    return std::string(buffer, static_cast<size_t>(count));
}

using FilePointer = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

// What the command line and its scenario ask for.
struct CommandLine {
    sim::Options options;
    std::vector<sim::PortBinding> bindings;
    std::string scenario_file;
    std::optional<sim::Scenario> scenario;
    bool check = false;
};

// Everything a run holds open, in the order it is set up.
struct Run {
    sim::PortBridges ports;
    std::optional<KeyboardMode> keyboard;
    bool forward_stdin = false;
    FilePointer vcd_file{nullptr, &std::fclose};
    std::optional<sim::VcdWriter> vcd;
    sim::NmeaFeed feed;
    std::shared_ptr<sim::LinkClient> link;
    FilePointer transcript_file{nullptr, &std::fclose};
    std::optional<sim::Transcript> transcript;
    std::optional<sim::monitors::Checker> checker;
};

// The options, then the scenario file, whose duration, mode, configuration
// and seed apply unless the command line gives them. An exit status when the
// run must not start (--help included).
std::optional<int> read_command_line(int argc, char** argv, CommandLine* line) {
    auto* bindings = &line->bindings;
    CLI::App app{
        "Simulated KTR09 station: the station firmware on a modelled board in virtual "
        "time. The USB port is on stdout unless --usb is given; restarts are "
        "reported on stderr."};
    std::string duration_text;
    CLI::Option* duration_option =
        app.add_option("--duration", duration_text,
                       "Simulated time to run, e.g. 500ms, 90s, 10m, 1.5h, 1h30m, 0 (default: "
                       "until Ctrl-C)")
            ->type_name("DURATION")
            ->check(CLI::Validator(
                [](std::string& text) {
                    std::string error;
                    return sim::parse_duration(text, &error) ? std::string() : error;
                },
                ""));
    CLI::Option* mode_option =
        app.add_option("--mode", line->options.mode,
                       "Operating mode on the mode pins: 0 normal, 1 diagnostics, 2 verbose "
                       "diagnostics")
            ->type_name("0|1|2")
            ->check(CLI::Range(0, sim::kModeCount - 1).description(""))
            ->capture_default_str();
    app.add_flag("--realtime", line->options.realtime,
                 "Pace the simulated clock to the wall clock (and, without --usb, send "
                 "stdin to the USB port)");
    // Each port and what is on it by default.
    const std::pair<const char*, const char*> port_options[] = {
        {"usb",
         "Put the USB port on 'pty' (a pseudo-terminal, its path printed on stderr) or "
         "a serial device instead of stdout"},
        {"uart0",
         "Put UART 0 (the AIS channel) on 'pty' or a serial device instead of the "
         "transponder, at the baud rate the station opens it with"},
        {"uart1",
         "Put UART 1 (sensor channel 2) on 'pty' or a serial device instead of its "
         "device, at the baud rate the station opens it with"},
        {"uart3",
         "Put UART 3 (sensor channel 1) on 'pty' or a serial device instead of the "
         "weather station or its device, at the baud rate the station opens it with"},
    };
    for (const auto& [port, help] : port_options) {
        const std::string name = port;
        app.add_option_function<std::string>(
               "--" + name,
               [bindings, name](const std::string& where) {
                   bindings->push_back({name, where});
               },
               help)
            ->type_name("pty|DEVICE");
    }
    app.add_flag_callback(
           "--usb-pty",
           [bindings] {
               bindings->push_back({"usb", "pty"});
           },
           "Same as --usb pty")
        ->group("");
    app.add_flag("--wait-for-terminal", line->options.wait_for_terminal,
                 "Hold the station at power-on until a program opens the USB pseudo-terminal, "
                 "as a PC opening its USB port, so that the banner is seen");
    app.add_option("--vcd", line->options.vcd,
                   "Write a Value Change Dump of every pin (LED, outputs, card indicator, line "
                   "drivers, inputs, mode pins) in simulated time to FILE, for GTKWave")
        ->type_name("FILE");
    app.add_option("--state-dir", line->options.state_dir,
                   "Directory for the files of persistent devices (created if missing)")
        ->capture_default_str();
    app.add_option("--transcript", line->options.transcript,
                   "Write every byte the station exchanges (USB, UARTs) and its output and "
                   "line-driver pin changes to FILE, with virtual times")
        ->type_name("FILE");
    app.add_flag("--transcript-led", line->options.transcript_led,
                 "Show the status LED's changes in the transcript too");
    app.add_option("--nmea-tcp", line->options.nmea_tcp,
                   "Offer the transponder's traffic (what it hears, its own transmissions, its "
                   "GPS) as an NMEA 0183 feed on this TCP port of 127.0.0.1, for gpsd, OpenCPN "
                   "or any NMEA client")
        ->type_name("PORT")
        ->check(CLI::Range(1, 65535).description(""));
    app.add_option("--scenario", line->scenario_file,
                   "Scenario file (JSON) of timed stimuli and faults; its duration and mode "
                   "apply unless --duration or --mode is given")
        ->type_name("FILE");
    CLI::Option* link_option =
        app.add_option("--link", line->options.link,
                       "Join the VHF link of ktr09-link at this socket: the transponder hears "
                       "the other stations', and the link decides how long the run lasts")
            ->type_name("SOCKET")
            ->excludes(duration_option);
    app.add_option("--link-index", line->options.link_index,
                   "This station's place on the link, from 0")
        ->needs(link_option);
    app.add_flag("--check", line->check,
                 "Watch the station's invariants on its wires and card; report each violation "
                 "on stderr and in a closing summary, and exit with 1 if there was any");
    CLI::Option* seed_option =
        app.add_option("--seed", line->options.seed,
                       "Vary the devices' timing (reply and report delays, GPS and weather "
                       "sentence timing, bursts split across reads, the clock's drift) within "
                       "what real ones show; the same seed gives the same run")
            ->type_name("N")
            ->check(
                CLI::Validator([](std::string& text) { return sim::seed_text_error(text); }, ""));
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        // --help is a parse "error" of its own, with status 0.
        return app.exit(error) == 0 ? sim::kExitDone : sim::kExitUsage;
    }
    if (!duration_text.empty()) {
        line->options.duration = sim::parse_duration(duration_text, nullptr);
    }
    if (line->scenario_file.empty()) {
        return std::nullopt;
    }
    std::string error;
    line->scenario = sim::load_scenario(line->scenario_file, &error);
    if (!line->scenario) {
        std::fprintf(stderr, "ktr09-sim: scenario %s\n", error.c_str());
        return sim::kExitUsage;
    }
    const sim::Scenario& scenario = *line->scenario;
    if (duration_option->count() == 0 && scenario.duration) {
        line->options.duration = scenario.duration;
    }
    if (mode_option->count() == 0 && scenario.mode) {
        line->options.mode = *scenario.mode;
    }
    line->options.configuration = scenario.configuration;
    if (seed_option->count() == 0 && scenario.seed) {
        line->options.seed = scenario.seed;
    }
    return std::nullopt;
}

// The state directory, created if missing and held until the process ends,
// before any state file is read.
std::optional<int> take_state_dir(const sim::Options& options, sim::StateLock* lock) {
    std::error_code failure;
    std::filesystem::create_directories(options.state_dir, failure);
    if (failure) {
        std::fprintf(stderr, "ktr09-sim: %s: %s (cannot create the state directory)\n",
                     options.state_dir.c_str(), failure.message().c_str());
        return sim::kExitStateError;
    }
    if (std::string error = sim::check_state_dir(options.state_dir);
        !error.empty() || !lock->acquire(options.state_dir, &error)) {
        std::fprintf(stderr, "ktr09-sim: %s\n", error.c_str());
        return sim::kExitStateError;
    }
    sim::remove_if_stopped(lock->path());
    return std::nullopt;
}

// The ports on pseudo-terminals or devices, the keyboard, the machine reset,
// the pin dump and the NMEA feed.
std::optional<int> open_outputs(const CommandLine& line, Run* run) {
    const sim::Options& options = line.options;
    if (std::string error; !run->ports.open(line.bindings, &error)) {
        std::fprintf(stderr, "ktr09-sim: %s\n", error.c_str());
        return sim::kExitRunFault;
    }
    if (options.wait_for_terminal && (run->ports.usb() == nullptr || !run->ports.usb()->is_pty())) {
        std::fprintf(stderr, "ktr09-sim: --wait-for-terminal needs --usb pty\n");
        return sim::kExitUsage;
    }
    run->forward_stdin = options.realtime && run->ports.usb() == nullptr;
    if (run->forward_stdin) {
        run->keyboard.emplace();
    }
    host::reset_machine();
    // Before the mode pins are set, so that the dump starts with their levels.
    if (!options.vcd.empty()) {
        run->vcd_file.reset(std::fopen(options.vcd.c_str(), "w"));
        if (!run->vcd_file) {
            std::fprintf(stderr, "ktr09-sim: cannot write %s: %s\n", options.vcd.c_str(),
                         std::strerror(errno));
            return sim::kExitRunFault;
        }
        run->vcd.emplace(run->vcd_file.get());
    }
    if (options.nmea_tcp != 0) {
        if (std::string error; !run->feed.open(static_cast<uint16_t>(options.nmea_tcp), &error)) {
            std::fprintf(stderr, "ktr09-sim: %s\n", error.c_str());
            return sim::kExitRunFault;
        }
        std::fprintf(stderr, "NMEA feed: tcp://127.0.0.1:%d\n", options.nmea_tcp);
    }
    return std::nullopt;
}

// The mode pins, the devices from the state directory, the link, the
// transcript, the scenario's steps and the invariant checker.
std::optional<int> attach_station(const CommandLine& line, Run* run) {
    const sim::Options& options = line.options;
    const sim::ModePinLevels levels = sim::mode_pin_levels(options.mode);
    host::set_input_level(board::kModePin0, levels.pin20);
    host::set_input_level(board::kModePin1, levels.pin24);
    if (const std::string error = sim::attach_default_devices(options); !error.empty()) {
        std::fprintf(stderr, "ktr09-sim: %s\n", error.c_str());
        return sim::kExitStateError;
    }
    run->ports.take_lines();
    if (!options.link.empty()) {
        std::string error;
        run->link = sim::LinkClient::connect(options.link, options.link_index, &error);
        if (!run->link) {
            std::fprintf(stderr, "ktr09-sim: %s\n", error.c_str());
            return sim::kExitRunFault;
        }
        sim::station_devices().transponder->use_link(run->link);
    }
    // Opened only once the state is taken: a refused start empties no file.
    if (!options.transcript.empty()) {
        run->transcript_file.reset(std::fopen(options.transcript.c_str(), "w"));
        if (!run->transcript_file) {
            std::fprintf(stderr, "ktr09-sim: cannot write transcript %s: %s\n",
                         options.transcript.c_str(), std::strerror(errno));
            return sim::kExitRunFault;
        }
        run->transcript.emplace(run->transcript_file.get(),
                                sim::transcript_pins(options.transcript_led));
    }
    if (line.scenario) {
        // Before power-on, so that a step at 0s comes before the station starts.
        std::string error;
        if (!sim::apply_scenario(*line.scenario, &error)) {
            std::fprintf(stderr, "ktr09-sim: scenario %s: %s\n", line.scenario_file.c_str(),
                         error.c_str());
            return sim::kExitUsage;
        }
    }
    if (line.check) {
        std::vector<std::string> keys;
        for (size_t i = 0; line.scenario && i < line.scenario->steps.size(); ++i) {
            keys.push_back(line.scenario->steps[i].key);
        }
        run->checker.emplace(sim::monitors::station_world(options.state_dir, keys));
    }
    return std::nullopt;
}

// Restarts reported on stderr, Ctrl-C taken, and with --wait-for-terminal
// the terminal awaited (an exit status when Ctrl-C came first).
std::optional<int> get_ready(const CommandLine& line, Run* run) {
    host::on_restart([](const char* reason) {
        std::fprintf(stderr, "[sim] station restarted (%s) at %s\n", reason,
                     sim::format_seconds(host::now()).c_str());
    });
    if (line.scenario && !line.scenario->description.empty()) {
        std::fprintf(stderr, "[sim] scenario: %s\n", line.scenario->description.c_str());
    }
    install_stop_handler();
    if (line.options.wait_for_terminal) {
        std::fprintf(stderr, "[sim] waiting for a terminal on %s\n",
                     run->ports.usb()->path().c_str());
        if (!run->ports.usb()->wait_for_terminal(stop_requested)) {
            return stopped_status();
        }
    }
    return std::nullopt;
}

// Powers the station on and runs it for the duration, until Ctrl-C or as
// long as the link says, passing the ports' bytes between slices; sets the
// simulated time it ran.
int run_station(const CommandLine& line, Run* run, host::Micros* simulated) {
    const sim::Options& options = line.options;
    host::power_on();
    host::set_realtime(options.realtime);

    // Input is looked at between slices of virtual time: short ones in real
    // time, where a person may be typing, long ones otherwise (each slice
    // hands control between two threads, which costs wall time; out of real
    // time a long slice still passes in a blink).
    const host::Micros slice = options.realtime ? 10 * host::kMillisecond : 5 * host::kSecond;
    const host::Micros start = host::now();
    bool stdin_closed = false;
    const auto pass_output = [&] {
        run->ports.pass();
        run->feed.accept_clients();
        if (run->ports.usb() == nullptr) {
            const std::string output = host::usb_take_output();
            std::fwrite(output.data(), 1, output.size(), stdout);
            std::fflush(stdout);
            if (run->forward_stdin && !stdin_closed) {
                const std::string typed = read_stdin_ready(&stdin_closed);
                if (!typed.empty()) {
                    host::usb_send(typed);
                }
            }
        }
    };
    int status = sim::kExitDone;
    if (run->link) {
        std::string error;
        if (!run->link->run(pass_output, &error)) {
            std::fprintf(stderr, "ktr09-sim: %s\n", error.c_str());
            status = sim::kExitRunFault;
        }
    }
    while (!run->link && stop_requested == 0) {
        host::Micros until = host::now() + slice;
        if (options.duration) {
            until = std::min(until, start + *options.duration);
        }
        host::run_until(until);
        pass_output();
        if (options.duration && host::now() >= start + *options.duration) {
            break;
        }
    }
    // A linked run's clock is the link's, counted from its zero like the
    // duration the link was given; a run of its own counts from power-on,
    // after a new card's format.
    *simulated = run->link ? host::now() : host::now() - start;
    return status;
}

// Ends the traces with the run, switches the station off, checks the card
// as the switch-off left it and saves the devices' state.
int finish_run(Run* run, int status) {
    if (run->transcript) {
        run->transcript->finish();
    }
    if (run->vcd) {
        run->vcd->finish();
    }
    host::power_off();
    if (run->checker && !run->checker->finish() && status == sim::kExitDone) {
        status = sim::kExitRunFault;
    }
    sim::save_and_detach_devices();
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    CommandLine line;
    if (const std::optional<int> status = read_command_line(argc, argv, &line)) {
        return *status;
    }
    sim::StateLock lock;
    if (const std::optional<int> status = take_state_dir(line.options, &lock)) {
        return *status;
    }
    Run run;
    if (const std::optional<int> status = open_outputs(line, &run)) {
        return *status;
    }
    if (const std::optional<int> status = attach_station(line, &run)) {
        return *status;
    }
    if (const std::optional<int> status = get_ready(line, &run)) {
        return *status;
    }
    const auto wall_start = std::chrono::steady_clock::now();
    host::Micros simulated = 0;
    const int status = finish_run(&run, run_station(line, &run, &simulated));
    // One closing line: how fast the run went, and where its files (the
    // card image with the log tree among them) can be looked at.
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - wall_start).count();
    std::fprintf(stderr, "%s\n",
                 sim::closing_line(simulated, wall,
                                   std::filesystem::absolute(line.options.state_dir).string())
                     .c_str());
    return stop_requested != 0 ? stopped_status() : status;
}
