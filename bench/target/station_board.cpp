// The harness's I2C bus, one that answers; the other board services are the
// SAM L21 core's placeholders of the footprint image (platform/target).
#include "Arduino.h"
#include "Wire.h"
#include "sodaq_wdt.h"

// An I2C bus where every device answers at once with zeros, so that the
// firmware's clock and EEPROM accesses cost their instructions and no wait
// (the harness runs no tick that would end one).
namespace {
uint8_t g_wire_available = 0;
}

void TwoWire::begin() {}
void TwoWire::end() {}
void TwoWire::beginTransmission(uint8_t) {}
size_t TwoWire::write(uint8_t) {
    return 1;
}
uint8_t TwoWire::endTransmission(bool) {
    return 0;
}
uint8_t TwoWire::requestFrom(uint8_t, uint8_t count, bool) {
    g_wire_available = count;
    return count;
}
int TwoWire::available() {
    return g_wire_available;
}
int TwoWire::read() {
    if (g_wire_available == 0) {
        return -1;
    }
    --g_wire_available;
    return 0;
}

TwoWire Wire;
