// The service console from a real terminal program: picocom on the simulated
// station's pseudo-terminal inside a detached tmux session, typed into with
// send-keys and read back from the captured screen.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "support/sim_process.h"
#include "support/state_dir.h"

namespace {

std::string output_of(const std::string& command) {
    std::string out;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[4096];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
            out.append(buffer, n);
        }
        pclose(pipe);
    }
    return out;
}

bool installed(const char* program) {
    return std::system((std::string("command -v ") + program + " >/dev/null 2>&1").c_str()) == 0;
}

// A tmux server of its own (its socket in the test's directory), so that the
// test neither sees nor disturbs anyone's sessions.
class Terminal {
  public:
    Terminal(const std::string& socket, const std::string& program)
        : tmux_("tmux -S " + socket + " ") {
        started_ =
            std::system(
                (tmux_ + "new-session -d -s console -x 150 -y 50 '" + program + "'").c_str()) == 0;
        // The whole session, not only the visible rows.
        std::system((tmux_ + "set-option -g history-limit 20000 >/dev/null 2>&1").c_str());
    }
    ~Terminal() { std::system((tmux_ + "kill-server >/dev/null 2>&1").c_str()); }
    Terminal(const Terminal&) = delete;
    Terminal& operator=(const Terminal&) = delete;

    bool started() const { return started_; }
    // A line as typed, ended by Enter (a CR from picocom's default mapping).
    void type_line(const std::string& line) const {
        std::system((tmux_ + "send-keys -t console -l '" + line + "'").c_str());
        std::system((tmux_ + "send-keys -t console Enter").c_str());
    }
    void type_key(const std::string& key) const {
        std::system((tmux_ + "send-keys -t console -l '" + key + "'").c_str());
    }
    std::string screen() const {
        return output_of(tmux_ + "capture-pane -p -J -S - -t console 2>/dev/null");
    }
    // Polls the screen until `done` holds or the deadline passes; returns the
    // last screen either way.
    template <typename Done>
    std::string wait_for(Done done, std::chrono::seconds limit = std::chrono::seconds(30)) const {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        std::string text = screen();
        while (!done(text) && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            text = screen();
        }
        return text;
    }
    // Types the line again every 3 s until the screen shows it was taken:
    // a line typed while the station is busy (starting, or ending a
    // command) is discarded.
    template <typename Done>
    std::string type_until_shown(const std::string& line, Done done) const {
        std::string text = screen();
        for (int attempt = 0; attempt < 10 && !done(text); ++attempt) {
            type_line(line);
            text = wait_for(done, std::chrono::seconds(3));
        }
        return text;
    }
    std::string wait_for_text(const std::string& part, size_t after = 0) const {
        return wait_for(
            [&](const std::string& text) { return text.find(part, after) != text.npos; });
    }

  private:
    std::string tmux_;
    bool started_ = false;
};

size_t count_of(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != text.npos; at = text.find(part, at + 1)) {
        ++n;
    }
    return n;
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != text.npos; start = end + 1) {
        std::string line = text.substr(start, end - start);
        line.erase(line.find_last_not_of(" \r") + 1);
        lines.push_back(line);
    }
    return lines;
}

// The service mode's heading: a line of 60 asterisks, then the mode's name
// after tabs (spaces on the screen).
bool shows_heading(const std::string& screen, const std::string& mode) {
    const std::vector<std::string> lines = lines_of(screen);
    for (size_t i = 0; i + 1 < lines.size(); ++i) {
        const std::string& next = lines[i + 1];
        if (lines[i] == std::string(60, '*') && next.size() > mode.size() &&
            next.compare(next.size() - mode.size(), mode.size(), mode) == 0 &&
            next.find_first_not_of(' ') == next.size() - mode.size()) {
            return true;
        }
    }
    return false;
}

TEST(ConsoleTerminal, PicocomInTmuxDrivesTheServiceConsole) {
    ASSERT_TRUE(installed("tmux") && installed("picocom"))
        << "tmux and picocom are needed for this test: run scripts/install-deps";
    const TemporaryStateDir state;
    const SimProcess sim(state.path().string());
    ASSERT_FALSE(sim.pty().empty()) << sim.stderr_text();
    const Terminal terminal((state.path() / "tmux.sock").string(),
                            "picocom -q -b 115200 " + sim.pty());
    ASSERT_TRUE(terminal.started());

    // The banner shows the link is up.
    std::string screen = terminal.wait_for_text("KTR09");
    ASSERT_NE(screen.find("KTR09"), screen.npos) << screen;
    screen = terminal.type_until_shown(
        "TEST", [](const std::string& text) { return shows_heading(text, "TEST"); });
    ASSERT_TRUE(shows_heading(screen, "TEST")) << screen;

    // The clock is read and shown once a second.
    terminal.type_line("READ RTC");
    screen = terminal.wait_for(
        [](const std::string& text) { return count_of(text, "Fecha rx: ") >= 2; });
    EXPECT_GE(count_of(screen, "Fecha rx: "), 2u) << screen;

    // Calibrated on 12.6 V, the live display that follows reads 12.6 V.
    terminal.type_line("BREAL 12.6");
    const auto calibrated_reading = [](const std::string& text) {
        const size_t at = text.find("Ajuste bateria");
        return at != text.npos && text.find("): 12.60", at) != text.npos;
    };
    screen = terminal.wait_for(calibrated_reading);
    const size_t adjust = screen.find("Ajuste bateria");
    ASSERT_NE(adjust, screen.npos) << screen;
    EXPECT_NE(screen.find("Conversor:0.0", adjust), screen.npos) << screen;
    EXPECT_NE(screen.find("(Ideal: 0.0106)", adjust), screen.npos) << screen;
    EXPECT_NE(screen.find("Bateria (", adjust), screen.npos) << screen;
    EXPECT_NE(screen.find("): 12.60", adjust), screen.npos) << screen;

    // A key ends the live display. What is typed with it is discarded when
    // the command ends, so DIP is typed until it is taken.
    terminal.type_key("x");
    screen = terminal.type_until_shown("DIP", [](const std::string& text) {
        return text.find("DIP:0", text.find("Ajuste bateria")) != text.npos;
    });
    // Mode 0: neither mode pin is pulled low.
    EXPECT_NE(screen.find("DIP:0", adjust), screen.npos) << screen;
}

}  // namespace
