// ktr09-sim in real time with its USB port on a pseudo-terminal, as a user
// starts it for a terminal program or the PC configuration program; stopped
// when the object goes. Also runs the other programs the tests drive.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

struct ProgramRun {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs a shell command line; its stderr goes through a file in `dir`.
inline ProgramRun run_program(const std::filesystem::path& dir, const std::string& command) {
    const std::filesystem::path err_file = dir / "program_stderr.txt";
    ProgramRun run;
    if (FILE* pipe = popen((command + " 2>" + err_file.string()).c_str(), "r")) {
        char buffer[4096];
        for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
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

class SimProcess {
  public:
    explicit SimProcess(const std::filesystem::path& state_dir) : err_(state_dir / "sim.err") {
        pid_ = ::fork();
        if (pid_ == 0) {
            // Only async-signal-safe calls between fork and exec.
            const int out = ::open("/dev/null", O_WRONLY);
            const int err = ::open(err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (out >= 0 && err >= 0 && ::dup2(out, 1) >= 0 && ::dup2(err, 2) >= 0) {
                ::execl(KTR09_SIM_BINARY, KTR09_SIM_BINARY, "--usb-pty", "--realtime",
                        "--state-dir", state_dir.c_str(), static_cast<char*>(nullptr));
            }
            ::_exit(127);
        }
        const std::string label = "USB port: ";
        for (int wait = 0; wait < 200 && pty_.empty(); ++wait) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            std::ifstream err(err_);
            for (std::string line; std::getline(err, line);) {
                if (line.rfind(label, 0) == 0) {
                    pty_ = line.substr(label.size());
                }
            }
        }
    }
    ~SimProcess() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    // Sends `signal` and waits for the end: the exit code, -1 when the signal
    // itself ended the process.
    int stop(int signal) {
        int status = 0;
        ::kill(pid_, signal);
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    pid_t pid() const { return pid_; }
    // Empty when the simulator did not name its port; then stderr_text() says why.
    const std::string& pty() const { return pty_; }
    std::string stderr_text() const {
        std::ostringstream text;
        text << std::ifstream(err_).rdbuf();
        return text.str();
    }

  private:
    std::filesystem::path err_;
    pid_t pid_ = -1;
    std::string pty_;
};
