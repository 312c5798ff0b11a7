#include "nmea_feed.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

namespace sim {
namespace {

// A sentence is at most 82 characters; anything longer is not one.
constexpr size_t kLongestLine = 256;

}  // namespace

NmeaFeed::~NmeaFeed() {
    if (listener_ >= 0) {
        host::remove_listener(this);
        ::close(listener_);
    }
    for (const int client : clients_) {
        ::close(client);
    }
}

bool NmeaFeed::open(uint16_t port, std::string* error) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (listener_ < 0) {
        *error = std::string("cannot create the NMEA feed's socket: ") + ::strerror(errno);
        return false;
    }
    const int on = 1;
    ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(listener_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener_, 8) != 0) {
        *error = "cannot listen on 127.0.0.1:" + std::to_string(port) + ": " + ::strerror(errno);
        ::close(listener_);
        listener_ = -1;
        return false;
    }
    host::add_listener(this);
    return true;
}

void NmeaFeed::accept_clients() {
    if (listener_ < 0) {
        return;
    }
    for (;;) {
        const int client = ::accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (client < 0) {
            return;
        }
        clients_.push_back(client);
    }
}

void NmeaFeed::uart_to_station(uint8_t port, uint8_t byte, bool /*accepted*/) {
    if (port != kTransponderPort) {
        return;
    }
    line_ += static_cast<char>(byte);
    if (byte == '\n') {
        send_line(line_);
        line_.clear();
    } else if (line_.size() > kLongestLine) {
        line_.clear();
    }
}

void NmeaFeed::send_line(const std::string& line) {
    for (auto it = clients_.begin(); it != clients_.end();) {
        const ssize_t sent = ::send(*it, line.data(), line.size(), MSG_NOSIGNAL);
        // A full socket buffer loses the line; a closed connection the client.
        if (sent < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
            ::close(*it);
            it = clients_.erase(it);
        } else {
            ++it;
        }
    }
}

}  // namespace sim
