#include "terminal_port.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <string.h>
#include <termios.h>
#include <unistd.h>

namespace sim {
namespace {

struct Speed {
    uint32_t baud;
    speed_t code;
};

constexpr Speed kSpeeds[] = {{1200, B1200},     {2400, B2400},     {4800, B4800},
                             {9600, B9600},     {19200, B19200},   {38400, B38400},
                             {57600, B57600},   {115200, B115200}, {230400, B230400},
                             {460800, B460800}, {921600, B921600}};

bool fail(std::string* error, const std::string& what) {
    *error = what + ": " + ::strerror(errno);
    return false;
}

bool make_raw(int fd) {
    termios settings{};
    if (::tcgetattr(fd, &settings) != 0) {
        return false;
    }
    ::cfmakeraw(&settings);
    settings.c_cflag |= CLOCAL | CREAD;
    return ::tcsetattr(fd, TCSANOW, &settings) == 0;
}

}  // namespace

TerminalPort::~TerminalPort() {
    if (slave_ >= 0) {
        ::close(slave_);
    }
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

bool TerminalPort::open(const std::string& where, std::string* error) {
    if (where != "pty") {
        path_ = where;
        fd_ = ::open(where.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd_ < 0) {
            return fail(error, "cannot open " + where);
        }
        if (::isatty(fd_) == 0) {
            *error = where + " is not a serial device";
            return false;
        }
        return make_raw(fd_) || fail(error, "cannot set raw mode on " + where);
    }
    pty_ = true;
    fd_ = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (fd_ < 0 || ::grantpt(fd_) != 0 || ::unlockpt(fd_) != 0) {
        return fail(error, "cannot create a pseudo-terminal");
    }
    const char* name = ::ptsname(fd_);
    if (name == nullptr) {
        return fail(error, "cannot name the pseudo-terminal");
    }
    path_ = name;
    slave_ = ::open(name, O_RDWR | O_NOCTTY);
    if (slave_ < 0) {
        return fail(error, "cannot open " + path_);
    }
    // Raw: the station sees every byte as typed (CR, no echo, no signals) and
    // its CR LF line ends reach the terminal unchanged.
    if (!make_raw(slave_)) {
        return fail(error, "cannot set raw mode on " + path_);
    }
    const int flags = ::fcntl(fd_, F_GETFL);
    if (flags < 0 || ::fcntl(fd_, F_SETFL, flags | O_NONBLOCK) != 0) {
        return fail(error, "cannot make the pseudo-terminal non-blocking");
    }
    return true;
}

bool TerminalPort::wait_for_terminal(const volatile sig_atomic_t& stop) {
    if (!pty_) {
        return true;
    }
    // While no program has the other side open the master reports a hang-up;
    // our own hold on it is let go meanwhile. Settings stay with the line.
    if (slave_ >= 0) {
        ::close(slave_);
        slave_ = -1;
    }
    for (;;) {
        if (stop != 0) {
            return false;
        }
        pollfd line{fd_, 0, 0};
        if (::poll(&line, 1, 100) >= 0 && (line.revents & POLLHUP) == 0) {
            break;
        }
    }
    slave_ = ::open(path_.c_str(), O_RDWR | O_NOCTTY);
    return true;
}

void TerminalPort::set_baud(uint32_t baud) {
    if (baud == 0 || baud == baud_) {
        return;
    }
    baud_ = baud;
    // The pseudo-terminal's speed lives on its terminal side.
    const int fd = slave_ >= 0 ? slave_ : fd_;
    termios settings{};
    if (::tcgetattr(fd, &settings) != 0) {
        return;
    }
    for (const Speed& speed : kSpeeds) {
        if (speed.baud == baud) {
            ::cfsetispeed(&settings, speed.code);
            ::cfsetospeed(&settings, speed.code);
            ::tcsetattr(fd, TCSANOW, &settings);
        }
    }
}

void TerminalPort::write(const uint8_t* data, size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(fd_, data, size);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;  // EAGAIN: the terminal is not reading; drop the rest
        }
        data += written;
        size -= static_cast<size_t>(written);
    }
}

void TerminalPort::write(const std::string& text) {
    write(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

std::string TerminalPort::read_available() {
    std::string received;
    char buffer[256];
    for (;;) {
        const ssize_t count = ::read(fd_, buffer, sizeof buffer);
        if (count > 0) {
            received.append(buffer, static_cast<size_t>(count));
            continue;
        }
        if (count < 0 && errno == EINTR) {
            continue;
        }
        return received;
    }
}

}  // namespace sim
