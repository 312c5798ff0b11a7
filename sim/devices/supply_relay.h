// A device's supply switched by a board output through a relay: the device
// is powered unless the pin is at the level that cuts the supply (a pin of
// -1 means always powered). A model follows its supply with one of these;
// it reads only the pin's level.
#pragma once

#include <cstdint>
#include <functional>

#include "host/machine.h"

namespace sim {

class SupplyRelay {
  public:
    SupplyRelay(int power_pin, int off_level) : pin_(power_pin), off_level_(off_level) {}
    ~SupplyRelay() { host::remove_output_listener(listener_); }
    SupplyRelay(const SupplyRelay&) = delete;
    SupplyRelay& operator=(const SupplyRelay&) = delete;

    // Calls `changed` now with the current supply and again whenever the pin
    // changes (the device decides what a repeated state means to it).
    void follow(std::function<void(bool supplied)> changed) {
        host::remove_output_listener(listener_);
        changed_ = std::move(changed);
        if (pin_ >= 0) {
            listener_ = host::on_output_change([this](uint32_t pin, int) {
                if (pin == static_cast<uint32_t>(pin_)) {
                    changed_(supplied());
                }
            });
        }
        changed_(supplied());
    }

    bool supplied() const {
        return pin_ < 0 || host::output_level(static_cast<uint32_t>(pin_)) != off_level_;
    }

  private:
    int pin_;
    int off_level_;
    host::ListenerId listener_ = 0;
    std::function<void(bool)> changed_;
};

}  // namespace sim
