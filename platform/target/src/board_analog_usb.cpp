// Placeholders for the SAM L21 Arduino core's analog converter and USB port,
// apart from the other board services so that the cycle harness's stack
// image can put scripted ones in their place. No conversion, nothing ever
// received.
#include "Arduino.h"

void analogReadResolution(int) {}
int analogRead(uint32_t) {
    return 0;
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

USBSerial SerialUSB;
