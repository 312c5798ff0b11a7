#include "serial_link.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <string.h>
#include <sys/file.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>

namespace tools {
namespace {

constexpr uint8_t kReplyHeader[] = {'#', 'J', 'W', 'K'};
constexpr size_t kFrameOverhead = 13;

std::string hex_address(uint32_t address) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%04X", static_cast<unsigned>(address));
    return text;
}

const char* command_name(uint8_t command) {
    switch (command) {
        case codec::kPcRead:
            return "read";
        case codec::kPcWrite:
            return "write";
        case codec::kPcAcknowledge:
            return "acknowledge";
        default:
            return "unknown command";
    }
}

// Why `reply` does not answer `request`, or empty when it does.
std::string mismatch(const codec::PcFrame& request, const codec::PcFrame& reply) {
    if (reply.command != request.command || reply.address != request.address ||
        reply.subcommand != request.subcommand) {
        return std::string("reply to another request (") + command_name(reply.command) + " at " +
               hex_address(reply.address) + ", sub-command " + std::to_string(reply.subcommand) +
               ") while waiting for the " + command_name(request.command) + " at " +
               hex_address(request.address);
    }
    const uint8_t expected_result = request.command == codec::kPcAcknowledge ? 0 : 1;
    if (reply.count_or_result != expected_result) {
        return "reply with result " + std::to_string(reply.count_or_result) + " to the " +
               command_name(request.command) + " at " + hex_address(request.address);
    }
    const size_t expected_data = request.command == codec::kPcRead ? request.count_or_result : 0;
    if (reply.data.size() != expected_data) {
        return "reply with " + std::to_string(reply.data.size()) + " data bytes to the " +
               command_name(request.command) + " of " + std::to_string(expected_data) +
               " bytes at " + hex_address(request.address);
    }
    return {};
}

}  // namespace

ReplyScan scan_for_reply(std::vector<uint8_t>* received, codec::PcFrame* frame,
                         std::string* error) {
    std::vector<uint8_t>& bytes = *received;
    const auto start =
        std::search(bytes.begin(), bytes.end(), std::begin(kReplyHeader), std::end(kReplyHeader));
    if (start == bytes.end()) {
        // Keep a tail that may be the start of a header still arriving.
        const size_t keep = std::min<size_t>(bytes.size(), sizeof kReplyHeader - 1);
        bytes.erase(bytes.begin(), bytes.end() - static_cast<std::ptrdiff_t>(keep));
        return ReplyScan::kNeedMore;
    }
    bytes.erase(bytes.begin(), start);
    if (bytes.size() < 5) {
        return ReplyScan::kNeedMore;
    }
    const size_t length = bytes[4];
    if (length < kFrameOverhead || length > kFrameOverhead + kMaxReadBytes) {
        *error = "reply header with a length byte of " + std::to_string(length) +
                 " (a reply holds 13 to 141 bytes)";
        return ReplyScan::kBroken;
    }
    if (bytes.size() < length) {
        return ReplyScan::kNeedMore;
    }
    size_t used = 0;
    std::string why;
    const std::optional<codec::PcFrame> parsed = codec::parse_pc_frame(bytes, &used, &why);
    if (!parsed) {
        *error = "reply rejected: " + why;
        return ReplyScan::kBroken;
    }
    *frame = *parsed;
    bytes.erase(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(used));
    return ReplyScan::kFound;
}

SerialLink::~SerialLink() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

// termios rather than libserialport: libserialport 0.1.1 looks a port up in
// /sys/class/tty, which lists no pseudo-terminal, so it cannot open the
// simulator's USB port; it gives a missing port no reason, and it opens a port
// another program holds.
bool SerialLink::open(const std::string& path, std::string* error) {
    path_ = path;
    fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd_ < 0) {
        *error = "cannot open " + path + ": " + ::strerror(errno);
        return false;
    }
    // Two programs on one port take each other's bytes. Terminal programs
    // (picocom) hold an advisory lock on the port; so do we.
    if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
        *error = "cannot open " + path + ": " +
                 (errno == EWOULDBLOCK ? "in use by another program, which holds its lock"
                                       : ::strerror(errno));
        return false;
    }
    termios settings{};
    if (::tcgetattr(fd_, &settings) != 0) {
        *error = path + " is not a serial device: " + ::strerror(errno);
        return false;
    }
    ::cfmakeraw(&settings);
    settings.c_cflag &= static_cast<tcflag_t>(~(CSTOPB | PARENB | CRTSCTS | CSIZE));
    settings.c_cflag |= CS8 | CLOCAL | CREAD;
    settings.c_iflag &= static_cast<tcflag_t>(~(IXON | IXOFF | IXANY));
    ::cfsetispeed(&settings, B115200);
    ::cfsetospeed(&settings, B115200);
    if (::tcsetattr(fd_, TCSANOW, &settings) != 0) {
        *error = "cannot set 115200 8N1 raw on " + path + ": " + ::strerror(errno);
        return false;
    }
    return true;
}

bool SerialLink::send(const std::vector<uint8_t>& bytes, std::string* error) {
    size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::write(fd_, bytes.data() + sent, bytes.size() - sent);
        if (n > 0) {
            sent += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && errno == EAGAIN) {
            pollfd ready{fd_, POLLOUT, 0};
            if (::poll(&ready, 1, timeout_ms_) > 0) {
                continue;
            }
        }
        *error = "cannot write to " + path_ + ": " + (n < 0 ? ::strerror(errno) : "no progress");
        return false;
    }
    return true;
}

ReplyScan SerialLink::await_reply(codec::PcFrame* frame, std::string* error) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeout_ms_);
    std::vector<uint8_t> received;
    for (;;) {
        const ReplyScan scan = scan_for_reply(&received, frame, error);
        if (scan != ReplyScan::kNeedMore) {
            return scan;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            return ReplyScan::kNeedMore;
        }
        pollfd ready{fd_, POLLIN, 0};
        const int polled = ::poll(&ready, 1, static_cast<int>(left));
        if (polled < 0 && errno != EINTR) {
            *error = "cannot wait on " + path_ + ": " + ::strerror(errno);
            return ReplyScan::kBroken;
        }
        if (polled <= 0) {
            continue;
        }
        uint8_t buffer[512];
        const ssize_t n = ::read(fd_, buffer, sizeof buffer);
        if (n > 0) {
            received.insert(received.end(), buffer, buffer + n);
        } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
            *error = "cannot read from " + path_ + ": " + ::strerror(errno);
            return ReplyScan::kBroken;
        } else if (n == 0 || (ready.revents & POLLHUP) != 0) {
            // Hung up (nobody holds the other end): wait out the deadline
            // instead of spinning.
            ::usleep(10000);
        }
    }
}

std::optional<codec::PcFrame> SerialLink::exchange(const std::vector<uint8_t>& request,
                                                   std::string* error) {
    const std::optional<codec::PcFrame> asked = codec::parse_pc_frame(request);
    if (!asked) {
        *error = "internal error: malformed request";
        return std::nullopt;
    }
    for (int attempt = 0; attempt < 2; ++attempt) {
        // Console text and late replies of earlier requests are not this
        // request's answer.
        ::tcflush(fd_, TCIFLUSH);
        if (!send(request, error)) {
            return std::nullopt;
        }
        codec::PcFrame reply;
        const ReplyScan scan = await_reply(&reply, error);
        if (scan == ReplyScan::kBroken) {
            return std::nullopt;
        }
        if (scan == ReplyScan::kFound) {
            const std::string why = mismatch(*asked, reply);
            if (!why.empty()) {
                *error = why;
                return std::nullopt;
            }
            return reply;
        }
    }
    *error = "no reply from " + path_ + " to the " + command_name(asked->command) + " at " +
             hex_address(asked->address) + " within " + std::to_string(timeout_ms_) +
             " ms (twice): is the station connected and running?";
    return std::nullopt;
}

bool ping(SerialLink* link, std::string* error) {
    return link
        ->exchange(codec::build_pc_frame(codec::PcFrame{false, codec::kPcAcknowledge, 0, 0, 0, {}}),
                   error)
        .has_value();
}

namespace {

// The ranges cut into requests of at most `limit` bytes.
std::vector<Range> pieces(const std::vector<Range>& ranges, size_t limit) {
    std::vector<Range> cut;
    for (const Range& range : ranges) {
        for (size_t offset = 0; offset < range.size; offset += limit) {
            cut.push_back(Range{static_cast<uint32_t>(range.address + offset),
                                std::min(limit, range.size - offset)});
        }
    }
    return cut;
}

}  // namespace

bool read_ranges(SerialLink* link, const std::vector<Range>& ranges, std::vector<uint8_t>* image,
                 Progress progress, std::string* error) {
    const std::vector<Range> requests = pieces(ranges, kMaxReadBytes);
    for (size_t i = 0; i < requests.size(); ++i) {
        const Range& piece = requests[i];
        if (progress != nullptr) {
            progress("reading", i + 1, requests.size());
        }
        const std::optional<codec::PcFrame> reply = link->exchange(
            codec::pc_read_request(piece.address, static_cast<uint8_t>(piece.size)), error);
        if (!reply) {
            return false;
        }
        std::copy(reply->data.begin(), reply->data.end(), image->begin() + piece.address);
    }
    return true;
}

bool write_ranges(SerialLink* link, const std::vector<Range>& ranges,
                  const std::vector<uint8_t>& image, Progress progress, std::string* error) {
    const std::vector<Range> requests = pieces(ranges, kMaxWriteBytes);
    for (size_t i = 0; i < requests.size(); ++i) {
        const Range& piece = requests[i];
        if (progress != nullptr) {
            progress("writing", i + 1, requests.size());
        }
        const std::vector<uint8_t> data(image.begin() + piece.address,
                                        image.begin() + piece.address + piece.size);
        const uint8_t subcommand = i + 1 == requests.size() ? 1 : 0;
        if (!link->exchange(codec::pc_write_request(piece.address, data, subcommand), error)) {
            return false;
        }
    }
    return true;
}

}  // namespace tools
