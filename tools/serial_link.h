// The PC side of the station's configuration link: a serial device (a real
// port or the simulator's pseudo-terminal) carrying "@JWK" requests and
// "#JWK" replies, interleaved with the console text the station prints on
// the same port.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "codec/pc_frame.h"

namespace tools {

// Where a reply stands in the bytes received so far.
enum class ReplyScan {
    kNeedMore,  // no complete "#JWK" frame yet
    kFound,     // *frame holds it; the bytes up to its end are consumed
    kBroken,    // a "#JWK" frame with a bad length byte or CRC; *error says which
};

// Looks for the first reply frame in `received`, skipping the console text
// in front of it (consumed as well).
ReplyScan scan_for_reply(std::vector<uint8_t>* received, codec::PcFrame* frame, std::string* error);

class SerialLink {
  public:
    SerialLink() = default;
    SerialLink(const SerialLink&) = delete;
    SerialLink& operator=(const SerialLink&) = delete;
    ~SerialLink();

    // Opens the device raw at 115200 8N1. False with a message on failure.
    bool open(const std::string& path, std::string* error);
    void set_timeout_ms(int milliseconds) { timeout_ms_ = milliseconds; }

    // Sends a request and returns the reply that answers it: same command,
    // sub-command and address, the expected result and, for a read, the
    // count asked for. A silent station gets the request once more.
    std::optional<codec::PcFrame> exchange(const std::vector<uint8_t>& request, std::string* error);

  private:
    bool send(const std::vector<uint8_t>& bytes, std::string* error);
    // kNeedMore on a timeout.
    ReplyScan await_reply(codec::PcFrame* frame, std::string* error);

    int fd_ = -1;
    std::string path_;
    int timeout_ms_ = 2000;
};

// Requests at the link's limits: a reply frame carries up to 128 data bytes;
// a write request must fit the station's 140-byte USB receive buffer with
// its 13 bytes of header and CRC.
constexpr size_t kMaxReadBytes = 128;
constexpr size_t kMaxWriteBytes = 127;

// Reports each block as it is transferred: index from 1, and the total.
using Progress = void (*)(const char* verb, size_t done, size_t total);

struct Range {
    uint32_t address;
    size_t size;
};

bool ping(SerialLink* link, std::string* error);
// Reads the ranges into `image` (indexed by address, which must be large
// enough), in requests of at most kMaxReadBytes.
bool read_ranges(SerialLink* link, const std::vector<Range>& ranges, std::vector<uint8_t>* image,
                 Progress progress, std::string* error);
// Writes the ranges of `image` in requests of at most kMaxWriteBytes; the
// last one carries sub-command 1 so that the station reloads its records.
bool write_ranges(SerialLink* link, const std::vector<Range>& ranges,
                  const std::vector<uint8_t>& image, Progress progress, std::string* error);

}  // namespace tools
