// What ktr09-link and the stations joined to it say to each other over a
// Unix stream socket: one text line per item, times in virtual
// microseconds, AIS messages in their six-bit armour.
//
//   station -> broker   HELLO <index>                    once, on connecting
//                       TX <ends> <channel> <payload> <fill>
//                                                        a message put on the air
//                       AT <time>                        the grant reached (a call in
//                                                        progress may have carried
//                                                        the clock a little past it);
//                                                        the TX lines before it were
//                                                        sent on the way
//   broker -> station   RX <ends> <channel> <payload> <fill> <from>
//                                                        a message of station <from>
//                       GRANT <time>                     run up to <time>
//                       END                              the run is over
//
// A station runs only up to its grant. The broker grants the next one once
// every station has reached the last, and first passes on what was sent in
// the meantime, which ends after that last grant: the lead a transmission is
// known ahead keeps each station from running past anything it could hear.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace sim::vhf {

// How long before its transmission ends a transponder hands a message to the
// link, in microseconds: the longest grant that keeps every station from
// running past a message it could hear.
constexpr uint64_t kLead = 1500000;

struct Transmission {
    uint64_t ends = 0;  // virtual time its transmission ends
    char channel = 'A';
    std::string payload;  // armoured six-bit characters
    unsigned fill = 0;
    unsigned from = 0;  // station index (RX only)
};

struct Line {
    enum Kind { hello, tx, at, rx, grant, end } kind;
    uint64_t value = 0;  // HELLO index, AT and GRANT time
    Transmission transmission;
};

std::string hello_line(unsigned index);
std::string tx_line(const Transmission& transmission);
std::string at_line(uint64_t time);
std::string rx_line(const Transmission& transmission);
std::string grant_line(uint64_t time);
std::string end_line();

// One line without its line feed; nothing for a line that is not one of
// the above, whole and well formed.
std::optional<Line> parse_line(const std::string& text);

// A socket read as lines and written in whole strings.
class LineSocket {
  public:
    explicit LineSocket(int fd) : fd_(fd) {}
    ~LineSocket();
    LineSocket(const LineSocket&) = delete;
    LineSocket& operator=(const LineSocket&) = delete;
    // The next line (blocking); false at end of file or on an error.
    bool read_line(std::string* line);
    bool write(const std::string& text);
    int fd() const { return fd_; }

  private:
    int fd_;
    std::string buffer_;
    size_t start_ = 0;
};

// Connects to the broker's socket; -1 with the reason.
int connect_unix(const std::string& path, std::string* error);
// Listens on a new socket at `path` (an old one there is replaced).
int listen_unix(const std::string& path, std::string* error);

}  // namespace sim::vhf
