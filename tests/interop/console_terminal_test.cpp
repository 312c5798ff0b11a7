// The service console from a real terminal program: picocom on the simulated
// station's pseudo-terminal inside a detached tmux session of its own, typed
// into with send-keys and read back from the captured screen.
#include <gtest/gtest.h>

#include "support/sim_process.h"
#include "support/state_dir.h"

namespace {

using Done = bool (*)(const std::string& screen);

class Terminal {
  public:
    Terminal(const std::filesystem::path& dir, const std::string& program)
        : dir_(dir), tmux_("tmux -S " + (dir / "tmux.sock").string() + " ") {
        started_ = tmux("new-session -d -s console -x 150 -y 50 '" + program + "'").status == 0;
    }
    ~Terminal() { tmux("kill-server"); }
    Terminal(const Terminal&) = delete;
    Terminal& operator=(const Terminal&) = delete;

    bool started() const { return started_; }
    void type(const std::string& keys) const { tmux("send-keys -t console -l '" + keys + "'"); }
    // The whole session, history included.
    std::string screen() const { return tmux("capture-pane -p -J -S - -t console").out; }
    std::string wait_for(Done done, int seconds = 30) const {
        std::string text = screen();
        for (int wait = 0; wait < seconds * 10 && !done(text); ++wait) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            text = screen();
        }
        return text;
    }
    // A line ended by Enter (picocom sends it as the CR the console needs),
    // typed again every 3 s until taken: the station discards what arrives
    // while it starts or finishes a command.
    std::string type_line_until(const std::string& line, Done done) const {
        std::string text = screen();
        for (int attempt = 0; attempt < 10 && !done(text); ++attempt) {
            type(line);
            tmux("send-keys -t console Enter");
            text = wait_for(done, 3);
        }
        return text;
    }

  private:
    ProgramRun tmux(const std::string& arguments) const {
        return run_program(dir_, tmux_ + arguments);
    }

    std::filesystem::path dir_;
    std::string tmux_;
    bool started_ = false;
};

// What follows the service mode's heading, or npos before it is shown.
size_t after_heading(const std::string& screen) {
    const size_t stars = screen.find('\n' + std::string(60, '*') + '\n');
    return stars == screen.npos ? stars : screen.find("TEST", stars);
}

TEST(ConsoleTerminal, PicocomInTmuxDrivesTheServiceConsole) {
    const TemporaryStateDir state;
    ASSERT_EQ(0, run_program(state.path(), "command -v tmux && command -v picocom").status)
        << "tmux and picocom are needed: run scripts/install-deps";
    const SimProcess sim(state.path());
    ASSERT_FALSE(sim.pty().empty()) << sim.stderr_text();
    const Terminal terminal(state.path(), "picocom -q -b 115200 " + sim.pty());
    ASSERT_TRUE(terminal.started());

    std::string screen =
        terminal.wait_for([](const std::string& s) { return s.find("KTR09") != s.npos; });
    ASSERT_NE(screen.find("KTR09"), screen.npos) << "no start-up banner:\n" << screen;
    screen = terminal.type_line_until(
        "TEST", [](const std::string& s) { return after_heading(s) != s.npos; });
    const size_t test = after_heading(screen);
    ASSERT_NE(test, screen.npos) << screen;

    // The clock, read and shown every second.
    screen = terminal.type_line_until("READ RTC", [](const std::string& s) {
        const size_t first = s.find("Fecha rx: ", after_heading(s));
        return first != s.npos && s.find("Fecha rx: ", first + 1) != s.npos;
    });
    EXPECT_NE(screen.find("Fecha rx: 01/01/23", test), screen.npos) << screen;

    // Calibrated on 12.6 V, the battery display that follows reads 12.6 V.
    screen = terminal.type_line_until("BREAL 12.6", [](const std::string& s) {
        return s.find("): 12.60", s.find("Ajuste bateria")) != s.npos;
    });
    const size_t adjust = screen.find("Ajuste bateria");
    ASSERT_NE(adjust, screen.npos) << screen;
    EXPECT_NE(screen.find("Conversor:0.0", adjust), screen.npos) << screen;
    EXPECT_NE(screen.find("Bateria (", adjust), screen.npos) << screen;

    // A key ends the live display; mode 0 pulls neither mode pin low.
    terminal.type("x");
    screen = terminal.type_line_until("DIP", [](const std::string& s) {
        return s.find("DIP:0", s.find("Ajuste bateria")) != s.npos;
    });
    EXPECT_NE(screen.find("DIP:0", adjust), screen.npos) << screen;
}

}  // namespace
