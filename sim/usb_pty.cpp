#include "usb_pty.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <termios.h>
#include <unistd.h>

namespace sim {

UsbPty::~UsbPty() {
    if (slave_ >= 0) {
        ::close(slave_);
    }
    if (master_ >= 0) {
        ::close(master_);
    }
}

bool UsbPty::open(std::string* error) {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) {
        *error = std::string("cannot create a pseudo-terminal: ") + ::strerror(errno);
        return false;
    }
    const char* name = ::ptsname(master_);
    if (name == nullptr) {
        *error = std::string("cannot name the pseudo-terminal: ") + ::strerror(errno);
        return false;
    }
    path_ = name;
    slave_ = ::open(name, O_RDWR | O_NOCTTY);
    if (slave_ < 0) {
        *error = "cannot open " + path_ + ": " + ::strerror(errno);
        return false;
    }
    // Raw: the station sees every byte as typed (CR, no echo, no signals) and
    // its CR LF line ends reach the terminal unchanged.
    termios settings{};
    if (::tcgetattr(slave_, &settings) != 0) {
        *error = "cannot read the settings of " + path_ + ": " + ::strerror(errno);
        return false;
    }
    ::cfmakeraw(&settings);
    if (::tcsetattr(slave_, TCSANOW, &settings) != 0) {
        *error = "cannot set raw mode on " + path_ + ": " + ::strerror(errno);
        return false;
    }
    const int flags = ::fcntl(master_, F_GETFL);
    if (flags < 0 || ::fcntl(master_, F_SETFL, flags | O_NONBLOCK) != 0) {
        *error = std::string("cannot make the pseudo-terminal non-blocking: ") + ::strerror(errno);
        return false;
    }
    return true;
}

void UsbPty::write(const uint8_t* data, size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(master_, data, size);
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

std::string UsbPty::read_available() {
    std::string received;
    char buffer[256];
    for (;;) {
        const ssize_t count = ::read(master_, buffer, sizeof buffer);
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
