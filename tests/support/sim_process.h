// ktr09-sim running in real time as a child process with its USB port on a
// pseudo-terminal, as a user starts it for a terminal program or the PC
// configuration program; stopped (SIGTERM) when the object goes.
#pragma once

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>

class SimProcess {
  public:
    explicit SimProcess(const std::string& state_dir) {
        int err[2];
        if (::pipe(err) != 0) {
            return;
        }
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(err[1], STDERR_FILENO);
            if (std::freopen("/dev/null", "w", stdout) == nullptr) {
                ::_exit(127);
            }
            ::close(err[0]);
            ::close(err[1]);
            ::execl(KTR09_SIM_BINARY, KTR09_SIM_BINARY, "--usb-pty", "--realtime", "--state-dir",
                    state_dir.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(err[1]);
        stderr_ = err[0];
        read_pty_path();
    }
    ~SimProcess() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
        if (stderr_ >= 0) {
            ::close(stderr_);
        }
    }
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    // Empty when the simulator did not name its port; then stderr() says why.
    const std::string& pty() const { return pty_; }
    const std::string& stderr_text() const { return text_; }

  private:
    void read_pty_path() {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        const std::string label = "USB port: ";
        while (std::chrono::steady_clock::now() < deadline) {
            const size_t at = text_.find(label);
            const size_t end = at == std::string::npos ? at : text_.find('\n', at);
            if (end != std::string::npos) {
                pty_ = text_.substr(at + label.size(), end - at - label.size());
                return;
            }
            pollfd ready{stderr_, POLLIN, 0};
            if (::poll(&ready, 1, 100) <= 0) {
                continue;
            }
            char buffer[256];
            const ssize_t n = ::read(stderr_, buffer, sizeof buffer);
            if (n <= 0) {
                return;
            }
            text_.append(buffer, static_cast<size_t>(n));
        }
    }

    pid_t pid_ = -1;
    int stderr_ = -1;
    std::string pty_;
    std::string text_;
};
