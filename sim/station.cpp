#include "station.h"

// The platform refers to the station's entry points only weakly, so that
// tests of single firmware units link without them. A simulated station must
// have them: referring to them here brings them in from the firmware library.
void setup();
void loop();

namespace sim {
namespace {

__attribute__((used)) void (*const kFirmwareEntryPoints[])() = {setup, loop};

}  // namespace

void attach_default_devices(const Options& options) {
    // The device models are attached here, each keeping its files under
    // options.state_dir: the MCP7940 clock and the 24xx64 EEPROM on the I2C
    // bus, the SD card image, and the transponder and sensor peers on their
    // UARTs. None is wired in yet, so the station runs bare.
    static_cast<void>(options);
}

}  // namespace sim
