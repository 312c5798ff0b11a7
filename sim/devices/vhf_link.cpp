#include "devices/vhf_link.h"

#include <map>

namespace sim {

void VhfLink::check_lead(const AirMessage& message) {
    if (message.ends < host::now() + kVhfLinkLead) {
        host::fatal("a message put on the air less than the link's lead before it ends");
    }
}

struct LocalAir::Shared {
    std::map<uint64_t, Endpoint*> endpoints;  // by joining order
    uint64_t joined = 0;
};

class LocalAir::Endpoint : public VhfLink {
  public:
    explicit Endpoint(std::shared_ptr<Shared> shared)
        : shared_(std::move(shared)), id_(++shared_->joined) {
        shared_->endpoints[id_] = this;
    }
    ~Endpoint() override { shared_->endpoints.erase(id_); }
    Endpoint(const Endpoint&) = delete;
    Endpoint& operator=(const Endpoint&) = delete;

    // Each other endpoint hears it at its end, if it is still there then.
    void transmit(const AirMessage& message) override {
        check_lead(message);
        for (const auto& [id, endpoint] : shared_->endpoints) {
            if (id == id_) {
                continue;
            }
            const std::weak_ptr<Shared> air = shared_;
            const uint64_t listener = id;
            host::schedule_at(message.ends, [air, listener, message] {
                const std::shared_ptr<Shared> shared = air.lock();
                if (!shared) {
                    return;
                }
                const auto found = shared->endpoints.find(listener);
                if (found != shared->endpoints.end()) {
                    found->second->hear(message);
                }
            });
        }
    }

  private:
    std::shared_ptr<Shared> shared_;
    uint64_t id_;
};

LocalAir::LocalAir() : shared_(std::make_shared<Shared>()) {}

LocalAir::~LocalAir() = default;

std::unique_ptr<VhfLink> LocalAir::join() {
    return std::make_unique<Endpoint>(shared_);
}

}  // namespace sim
