// Which device is cabled to each sensor channel of the simulated station.
//
// The simulator keeps the cabling in step with the station's configuration:
// when the devices attach, the station (station.cpp) hands each one the
// configuration image the EEPROM model holds, decoded once (after any
// scenario "configuration" has been written to it; the standard
// configuration for a new directory), and each sensor channel gets the
// device its `csensor` names: a base station computer for 1, a TIDELINK
// device for 2. Such a peer sits on the channel's UART (sensor channel 1 on
// Serial3, sensor channel 2 on Serial1) at the baud rate the channel's
// `cbaudios_comunicacion` gives and is always powered. The weather station
// stays on sensor channel 1 unless a base station or TIDELINK device takes
// it. The cabling holds for the whole run: a configuration written while it
// runs changes what the station expects, not what is plugged in, until the
// next start.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "codec/config_image.h"
#include "devices/device.h"

namespace sim {

constexpr uint8_t kBaseStationType = 1;
constexpr uint8_t kTidelinkType = 2;

// Sensor channel 1 or 2 as the line it is cabled to.
struct ChannelLine {
    uint8_t uart_port;
    uint32_t baud;
};
ChannelLine channel_line(const codec::StationConfig& config, unsigned channel);
// The baud rate of a channel's rate code, as the station opens its port.
uint32_t channel_baud(uint8_t code);

// The peers of one kind (base station or TIDELINK) a station has, one model
// per sensor channel whose device type is theirs, chosen when attached.
template <typename Model>
class PeerDevice : public Device {
  public:
    explicit PeerDevice(uint8_t device_type) : device_type_(device_type) {}

    void attach(const codec::StationConfig& config) override {
        for (unsigned channel = 1; channel <= 2; ++channel) {
            models_[channel - 1].reset();
            if (config.configuracion_sensor[channel - 1].csensor == device_type_) {
                models_[channel - 1] =
                    std::make_unique<Model>(channel_line(config, channel), channel);
                if (seed_) {
                    models_[channel - 1]->vary(*seed_);
                }
                models_[channel - 1]->attach();
            }
        }
    }

    void vary(uint64_t seed) override { seed_ = seed; }

    // The model on sensor channel 1 or 2, or null.
    Model* on_channel(unsigned channel) {
        return channel == 1 || channel == 2 ? models_[channel - 1].get() : nullptr;
    }
    // The model on the given channel, or with channel 0 on the first that has
    // one; null when there is none.
    Model* chosen(unsigned channel) {
        return channel != 0 ? on_channel(channel)
                            : (models_[0] ? models_[0].get() : models_[1].get());
    }

  private:
    uint8_t device_type_;
    std::optional<uint64_t> seed_;
    std::array<std::unique_ptr<Model>, 2> models_;
};

// A registration's loader: the peers of one kind, with no state file of
// their own.
template <typename Model>
std::unique_ptr<Device> load_peer_device(uint8_t device_type) {
    return std::make_unique<PeerDevice<Model>>(device_type);
}

// The peer a scenario step or test means: `channel` 1 or 2, or 0 for the
// first (null when the device is not a PeerDevice of Model or has none).
template <typename Model>
Model* peer_on(Device* device, unsigned channel = 0) {
    auto* peers = dynamic_cast<PeerDevice<Model>*>(device);
    return peers == nullptr ? nullptr : peers->chosen(channel);
}

// The optional "channel" member of a step's object: 1 or 2, 0 when absent.
bool step_channel(const nlohmann::json& value, unsigned* channel, std::string* expected);

}  // namespace sim
