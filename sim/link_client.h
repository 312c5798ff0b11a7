// ktr09-sim's side of a multi-station run (--link): the station's
// transponder sends and hears through the ktr09-link broker, and the
// machine runs only as far as the broker grants. What the broker passes on
// is scheduled at the moment its transmission ends; what the transponder
// transmits waits for the end of the grant and goes to the broker with the
// report of the time reached. Everything happens at grant boundaries, in
// the broker's order, so a run is the same to the byte every time.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "devices/vhf_link.h"
#include "link/protocol.h"

namespace sim {

class LinkClient : public VhfLink {
  public:
    // Joins the broker listening at `socket_path` as station `index`; null
    // with the reason when it cannot.
    static std::shared_ptr<LinkClient> connect(const std::string& socket_path, unsigned index,
                                               std::string* error);
    // Over a connected socket (taken over) that has said its HELLO.
    explicit LinkClient(int fd);
    ~LinkClient() override;
    LinkClient(const LinkClient&) = delete;
    LinkClient& operator=(const LinkClient&) = delete;

    void transmit(const AirMessage& message) override;

    // Follows the broker's grants until it ends the run: runs the machine up
    // to each grant, then calls `after_grant` (to pass on the station's
    // output) and reports. False with the reason when the link breaks or the
    // broker says something out of turn.
    bool run(const std::function<void()>& after_grant, std::string* error);

  private:
    bool deliver(const vhf::Transmission& transmission, std::string* error);

    vhf::LineSocket socket_;
    std::vector<AirMessage> outbox_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace sim
