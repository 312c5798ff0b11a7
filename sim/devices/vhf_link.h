// The VHF air between AIS transponders, as a transponder model sees it: it
// puts whole messages on the air and hears the messages of the others.
//
// A transponder reserves its slot before it transmits, so it knows a
// message, and when its transmission will end, at least kVhfLinkLead ahead.
// It hands the message to the link then; every other transponder on the
// link hears it when the transmission ends, none hears its own. That lead is
// what lets stations in separate processes run side by side in virtual time
// (ktr09-link): each may run a lead ahead of what it has heard without
// missing anything it could hear.
//
// Two links: LocalAir, in one process on one clock (a single station, or
// several models in a test), and the link client of ktr09-sim --link, which
// carries the messages through the ktr09-link broker to other processes.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "codec/ais_bits.h"
#include "host/machine.h"
#include "link/protocol.h"

namespace sim {

// How long before its transmission ends a message is put on the link. A
// message once handed over is not taken back: a transponder switched off
// within its lead is still heard.
constexpr host::Micros kVhfLinkLead = vhf::kLead;

struct AirMessage {
    codec::Bits bits;    // the whole AIS message as transmitted
    char channel = 'A';  // AIS channel A or B
    host::Micros ends = 0;
};

class VhfLink {
  public:
    using Receiver = std::function<void(const AirMessage&)>;
    virtual ~VhfLink() = default;
    // Puts a message on the air; its end is at least kVhfLinkLead from now.
    virtual void transmit(const AirMessage& message) = 0;
    // The receiver hears each message of the others at its end, from an
    // event on the machine's clock (null: it hears nothing).
    void listen(Receiver receiver) { receiver_ = std::move(receiver); }

  protected:
    // A message put on the air too late for its end is a fault of the model
    // that sent it: fatal.
    static void check_lead(const AirMessage& message);
    void hear(const AirMessage& message) {
        if (receiver_) {
            receiver_(message);
        }
    }

  private:
    Receiver receiver_;
};

// The air in one process: every transponder joined to it hears the others.
// A lone transponder's transmissions reach nobody, as in a single-station
// run, where what it hears comes from the scenario.
class LocalAir {
  public:
    LocalAir();
    LocalAir(const LocalAir&) = delete;
    LocalAir& operator=(const LocalAir&) = delete;
    ~LocalAir();
    // A new place on the air; valid until it or the air goes.
    std::unique_ptr<VhfLink> join();

  private:
    class Endpoint;
    struct Shared;
    std::shared_ptr<Shared> shared_;
};

}  // namespace sim
