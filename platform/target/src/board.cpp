// Placeholders for the board services of the SAM L21 Arduino core: time,
// UARTs and watchdog (the analog converter and USB are in
// board_analog_usb.cpp, the digital pins in pins.cpp, the I2C bus in
// wire.cpp). They are here only so the footprint image links; none of them
// drives the hardware, and the flash and RAM the real core would take are
// not counted.
#include "Arduino.h"
#include "Wire.h"
#include "sodaq_wdt.h"

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

Uart Serial0(0);
Uart Serial1(1);
Uart Serial3(3);

void sodaq_wdt_enable(wdt_period) {}
void sodaq_wdt_disable() {}
void sodaq_wdt_reset() {}
