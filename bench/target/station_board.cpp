// The harness's board services: the SAM L21 core's placeholders (pins,
// converter, time, UARTs, USB and watchdog do nothing, as in the footprint
// image) and an I2C bus that answers.
#include "Arduino.h"
#include "Wire.h"
#include "sodaq_wdt.h"

void pinMode(uint32_t, uint32_t) {}
void digitalWrite(uint32_t, uint32_t) {}
int digitalRead(uint32_t) {
    return LOW;
}
void analogReadResolution(int) {}
int analogRead(uint32_t) {
    return 0;
}

uint32_t millis() {
    return 0;
}
uint32_t micros() {
    return 0;
}
void delay(uint32_t) {}

// Transmitted bytes are discarded; nothing is ever received.
void Uart::begin(uint32_t) {}
void Uart::end() {}
void Uart::flush() {}
int Uart::available() {
    return 0;
}
int Uart::read() {
    return -1;
}
size_t Uart::write(uint8_t) {
    return 1;
}
size_t Uart::write(const uint8_t*, size_t size) {
    return size;
}

void USBSerial::begin(uint32_t) {}
int USBSerial::available() {
    return 0;
}
int USBSerial::read() {
    return -1;
}
size_t USBSerial::write(uint8_t) {
    return 1;
}
size_t USBSerial::write(const uint8_t*, size_t size) {
    return size;
}

Uart Serial0(0);
Uart Serial1(1);
Uart Serial3(3);
USBSerial SerialUSB;

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

void sodaq_wdt_enable(wdt_period) {}
void sodaq_wdt_disable() {}
void sodaq_wdt_reset() {}
