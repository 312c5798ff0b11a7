// ktr09-link's broker: the VHF air between stations that run in separate
// processes, and the conservative lockstep that keeps them in virtual time.
//
// Every round it passes each station what the others transmitted, then
// grants all of them the same next time, a quantum on; then it waits until
// every station has reported reaching it with what it transmitted on the
// way. A message is known a link's lead before it ends, so with a quantum no
// longer than that lead every message sent during a round ends at or after
// the time granted, and reaches its hearers before they run past it. Nothing
// depends on which process answers first: reports are read in station order
// and what a station hears is ordered by end, sender and sending order.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "link/protocol.h"

namespace sim::vhf {

// Who hears what, in which order.
class Air {
  public:
    explicit Air(unsigned stations) : pending_(stations) {}
    // Station `from`, having reached `reached`, transmitted `messages` on the
    // way. False with the reason for a message ending before `reached` (the
    // station broke the lead) or an unknown station; nothing is taken then.
    bool sent(unsigned from, uint64_t reached, const std::vector<Transmission>& messages,
              std::string* error);
    // What `station` has to hear, by end time, then sender, then sending
    // order; taken out.
    std::vector<Transmission> heard_by(unsigned station);

  private:
    struct Pending {
        Transmission transmission;
        uint64_t order;
    };
    std::vector<std::vector<Pending>> pending_;
    uint64_t sent_count_ = 0;
};

struct BrokerSettings {
    uint64_t duration = 0;  // virtual time the run lasts
    uint64_t quantum = 0;   // grant step, at most the link's lead
};

// Accepts `count` stations on a listening socket, each placed by the index
// of its HELLO. False with the reason for an index out of range or given
// twice, a station that hangs up before its HELLO, or when `keep_waiting`
// (asked every tenth of a second of wall time while none comes) says no.
bool accept_stations(int listener, unsigned count, const std::function<bool()>& keep_waiting,
                     std::vector<std::unique_ptr<LineSocket>>* stations, std::string* error);

// Runs the link to its end and sends every station END. False with the
// reason when a station hangs up or says something out of turn.
bool run_broker(const std::vector<std::unique_ptr<LineSocket>>& stations,
                const BrokerSettings& settings, std::string* error);

}  // namespace sim::vhf
