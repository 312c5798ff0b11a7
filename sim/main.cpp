// ktr09-sim: the station firmware running on the modelled board, with its USB
// port on stdout (or a pseudo-terminal) and its devices attached.
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <system_error>

#include "devices/ais_transponder.h"
#include "devices/device.h"
#include "devices/sd_card.h"
#include "host/machine.h"
#include "link_client.h"
#include "options.h"
#include "scenario.h"
#include "station.h"
#include "transcript.h"
#include "usb_pty.h"

namespace {

volatile sig_atomic_t stop_requested = 0;

void request_stop(int) {
    stop_requested = 1;
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
// Ctrl-C still stops the simulator. The settings come back on exit.
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
    }
    KeyboardMode(const KeyboardMode&) = delete;
    KeyboardMode& operator=(const KeyboardMode&) = delete;
    ~KeyboardMode() {
        if (active_) {
            ::tcsetattr(STDIN_FILENO, TCSANOW, &saved_);
        }
    }

  private:
    termios saved_{};
    bool active_ = false;
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

}  // namespace

int main(int argc, char** argv) {
    sim::Options options;
    CLI::App app{
        "Simulated KTR09 station: the station firmware on a modelled board in virtual "
        "time. The USB port is on stdout unless --usb-pty is given; restarts are "
        "reported on stderr."};
    std::string duration_text;
    std::string scenario_file;
    CLI::Option* duration_option =
        app.add_option("--duration", duration_text,
                       "Simulated time to run, e.g. 500ms, 90s, 10m, 24h, 1h30m (default: until "
                       "Ctrl-C)")
            ->type_name("DURATION")
            ->check(CLI::Validator(
                [](std::string& text) {
                    std::string error;
                    return sim::parse_duration(text, &error) ? std::string() : error;
                },
                ""));
    CLI::Option* mode_option =
        app.add_option("--mode", options.mode,
                       "Operating mode on the mode pins: 0 normal, 1 diagnostics, 2 verbose "
                       "diagnostics")
            ->type_name("0|1|2")
            ->check(CLI::Range(0, sim::kModeCount - 1).description(""))
            ->capture_default_str();
    app.add_flag("--realtime", options.realtime,
                 "Pace the simulated clock to the wall clock (and, without --usb-pty, send "
                 "stdin to the USB port)");
    app.add_flag("--usb-pty", options.usb_pty,
                 "Put the USB port on a pseudo-terminal (its path is printed on stderr) "
                 "instead of stdout");
    app.add_option("--state-dir", options.state_dir,
                   "Directory for the files of persistent devices (created if missing)")
        ->capture_default_str();
    app.add_option("--transcript", options.transcript,
                   "Write every byte the station exchanges (USB, UARTs) and its output and "
                   "line-driver pin changes to FILE, with virtual times")
        ->type_name("FILE");
    app.add_flag("--transcript-led", options.transcript_led,
                 "Show the status LED's changes in the transcript too");
    app.add_option("--scenario", scenario_file,
                   "Scenario file (JSON) of timed stimuli and faults; its duration and mode "
                   "apply unless --duration or --mode is given")
        ->type_name("FILE");
    CLI::Option* link_option =
        app.add_option("--link", options.link,
                       "Join the VHF link of ktr09-link at this socket: the transponder hears "
                       "the other stations', and the link decides how long the run lasts")
            ->type_name("SOCKET")
            ->excludes(duration_option);
    app.add_option("--link-index", options.link_index, "This station's place on the link, from 0")
        ->needs(link_option);
    CLI11_PARSE(app, argc, argv);
    if (!duration_text.empty()) {
        options.duration = sim::parse_duration(duration_text, nullptr);
    }
    std::optional<sim::Scenario> scenario;
    if (!scenario_file.empty()) {
        std::string error;
        scenario = sim::load_scenario(scenario_file, &error);
        if (!scenario) {
            std::fprintf(stderr, "ktr09-sim: scenario %s\n", error.c_str());
            return 1;
        }
        if (duration_option->count() == 0 && scenario->duration) {
            options.duration = scenario->duration;
        }
        if (mode_option->count() == 0 && scenario->mode) {
            options.mode = *scenario->mode;
        }
        options.configuration = scenario->configuration;
    }

    std::error_code failure;
    std::filesystem::create_directories(options.state_dir, failure);
    if (failure) {
        std::fprintf(stderr, "ktr09-sim: cannot create state directory %s: %s\n",
                     options.state_dir.c_str(), failure.message().c_str());
        return 1;
    }

    sim::UsbPty pty;
    if (options.usb_pty) {
        std::string error;
        if (!pty.open(&error)) {
            std::fprintf(stderr, "ktr09-sim: %s\n", error.c_str());
            return 1;
        }
        std::fprintf(stderr, "USB port: %s\n", pty.path().c_str());
    }
    const bool forward_stdin = options.realtime && !options.usb_pty;
    std::optional<KeyboardMode> keyboard;
    if (forward_stdin) {
        keyboard.emplace();
    }

    host::reset_machine();
    const sim::ModePinLevels levels = sim::mode_pin_levels(options.mode);
    host::set_input_level(sim::kModePinA, levels.pin20);
    host::set_input_level(sim::kModePinB, levels.pin24);
    if (const std::string error = sim::attach_default_devices(options); !error.empty()) {
        std::fprintf(stderr, "ktr09-sim: %s\n", error.c_str());
        return 2;
    }
    std::shared_ptr<sim::LinkClient> link;
    if (!options.link.empty()) {
        std::string error;
        link = sim::LinkClient::connect(options.link, options.link_index, &error);
        if (!link) {
            std::fprintf(stderr, "ktr09-sim: %s\n", error.c_str());
            return 1;
        }
        sim::station_devices().transponder->use_link(link);
    }
    // Opened only once the state is taken: a refused start empties no file.
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> transcript_file(nullptr, &std::fclose);
    std::optional<sim::Transcript> transcript;
    if (!options.transcript.empty()) {
        transcript_file.reset(std::fopen(options.transcript.c_str(), "w"));
        if (!transcript_file) {
            std::fprintf(stderr, "ktr09-sim: cannot write transcript %s: %s\n",
                         options.transcript.c_str(), std::strerror(errno));
            return 1;
        }
        transcript.emplace(transcript_file.get(), sim::transcript_pins(options.transcript_led));
    }
    if (scenario) {
        // Before power-on, so that a step at 0s comes before the station starts.
        std::string error;
        if (!sim::apply_scenario(*scenario, &error)) {
            std::fprintf(stderr, "ktr09-sim: scenario %s: %s\n", scenario_file.c_str(),
                         error.c_str());
            return 1;
        }
    }
    host::on_restart([](const char* reason) {
        std::fprintf(stderr, "[sim] station restarted (%s) at %s\n", reason,
                     sim::format_seconds(host::now()).c_str());
    });
    install_stop_handler();
    host::power_on();
    host::set_realtime(options.realtime);

    // Input is looked at between slices of virtual time: short ones while a
    // person may be typing, long ones when the run is unattended (each slice
    // hands control between two threads, which costs wall time).
    const host::Micros slice =
        (options.usb_pty || forward_stdin) ? 10 * host::kMillisecond : 5 * host::kSecond;
    const host::Micros start = host::now();
    bool stdin_closed = false;
    const auto pass_output = [&] {
        const std::string output = host::usb_take_output();
        if (options.usb_pty) {
            pty.write(reinterpret_cast<const uint8_t*>(output.data()), output.size());
            const std::string typed = pty.read_available();
            if (!typed.empty()) {
                host::usb_send(typed);
            }
        } else {
            std::fwrite(output.data(), 1, output.size(), stdout);
            std::fflush(stdout);
            if (forward_stdin && !stdin_closed) {
                const std::string typed = read_stdin_ready(&stdin_closed);
                if (!typed.empty()) {
                    host::usb_send(typed);
                }
            }
        }
    };
    int status = 0;
    if (link) {
        std::string error;
        if (!link->run(pass_output, &error)) {
            std::fprintf(stderr, "ktr09-sim: %s\n", error.c_str());
            status = 1;
        }
    }
    while (!link && stop_requested == 0) {
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
    // The transcript ends with the run, before the switch-off.
    if (transcript) {
        transcript->finish();
    }
    host::power_off();
    // Where the log tree the station wrote can be looked at (mtools, fsck.fat).
    if (sim::Device* card = sim::station_device("sd_card")) {
        std::fprintf(stderr, "[sim] SD card image: %s\n",
                     std::filesystem::absolute(sim::model_of<sim::SdCardModel>(*card).file())
                         .string()
                         .c_str());
    }
    return status;
}
