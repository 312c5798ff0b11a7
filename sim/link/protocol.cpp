#include "link/protocol.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <sstream>

namespace sim::vhf {
namespace {

std::string transmission_fields(const Transmission& t) {
    return std::to_string(t.ends) + " " + t.channel + " " + t.payload + " " +
           std::to_string(t.fill);
}

bool valid_payload(const std::string& payload) {
    if (payload.empty()) {
        return false;
    }
    for (char c : payload) {
        // The armouring characters: '0'..'W' and '`'..'w'.
        if (c < '0' || c > 'w' || (c > 'W' && c < '`')) {
            return false;
        }
    }
    return true;
}

bool read_transmission(std::istringstream& in, Transmission* t) {
    std::string channel;
    if (!(in >> t->ends >> channel >> t->payload >> t->fill) || channel.size() != 1 ||
        (channel[0] != 'A' && channel[0] != 'B') || !valid_payload(t->payload) || t->fill > 5) {
        return false;
    }
    t->channel = channel[0];
    return true;
}

sockaddr_un address_of(const std::string& path, std::string* error) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        *error = "socket path too long: " + path;
        address.sun_family = AF_UNSPEC;
        return address;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return address;
}

}  // namespace

std::string hello_line(unsigned index) {
    return "HELLO " + std::to_string(index) + "\n";
}
std::string tx_line(const Transmission& t) {
    return "TX " + transmission_fields(t) + "\n";
}
std::string at_line(uint64_t time) {
    return "AT " + std::to_string(time) + "\n";
}
std::string rx_line(const Transmission& t) {
    return "RX " + transmission_fields(t) + " " + std::to_string(t.from) + "\n";
}
std::string grant_line(uint64_t time) {
    return "GRANT " + std::to_string(time) + "\n";
}
std::string end_line() {
    return "END\n";
}

std::optional<Line> parse_line(const std::string& text) {
    std::istringstream in(text);
    std::string word;
    in >> word;
    Line line{Line::end, 0, {}};
    bool ok = true;
    if (word == "HELLO" || word == "AT" || word == "GRANT") {
        line.kind = word == "HELLO" ? Line::hello : word == "AT" ? Line::at : Line::grant;
        ok = static_cast<bool>(in >> line.value);
    } else if (word == "TX") {
        line.kind = Line::tx;
        ok = read_transmission(in, &line.transmission);
    } else if (word == "RX") {
        line.kind = Line::rx;
        ok = read_transmission(in, &line.transmission) &&
             static_cast<bool>(in >> line.transmission.from);
    } else if (word != "END") {
        ok = false;
    }
    std::string rest;
    if (!ok || in >> rest) {
        return std::nullopt;
    }
    return line;
}

LineSocket::~LineSocket() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

bool LineSocket::read_line(std::string* line) {
    for (;;) {
        const size_t feed = buffer_.find('\n', start_);
        if (feed != std::string::npos) {
            line->assign(buffer_, start_, feed - start_);
            start_ = feed + 1;
            if (start_ == buffer_.size()) {
                buffer_.clear();
                start_ = 0;
            }
            return true;
        }
        char chunk[4096];
        const ssize_t count = ::read(fd_, chunk, sizeof chunk);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            return false;
        }
        buffer_.append(chunk, static_cast<size_t>(count));
    }
}

bool LineSocket::write(const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t count = ::send(fd_, text.data() + done, text.size() - done, MSG_NOSIGNAL);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            return false;
        }
        done += static_cast<size_t>(count);
    }
    return true;
}

int connect_unix(const std::string& path, std::string* error) {
    const sockaddr_un address = address_of(path, error);
    if (address.sun_family != AF_UNIX) {
        return -1;
    }
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        *error = "cannot connect to " + path + ": " + std::strerror(errno);
        if (fd >= 0) {
            ::close(fd);
        }
        return -1;
    }
    return fd;
}

int listen_unix(const std::string& path, std::string* error) {
    const sockaddr_un address = address_of(path, error);
    if (address.sun_family != AF_UNIX) {
        return -1;
    }
    ::unlink(path.c_str());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd, 16) != 0) {
        *error = "cannot listen on " + path + ": " + std::strerror(errno);
        if (fd >= 0) {
            ::close(fd);
        }
        return -1;
    }
    return fd;
}

}  // namespace sim::vhf
