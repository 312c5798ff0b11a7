// The stack image's USB port and analog converter, in place of the SAM L21
// core's placeholders (platform/target/src/board_analog_usb.cpp): a USB port
// that receives what the harness scripts and analog inputs that read a level
// the harness sets (0 unless set). The other board services are the
// placeholders.
#include "scripted_board.h"

#include <string.h>

#include "Arduino.h"

namespace {

uint16_t g_analog_level = 0;

struct UsbInput {
    const uint8_t* bytes;
    size_t size;
    uint32_t polls;
};
constexpr size_t kUsbInputs = 4;
UsbInput g_usb_inputs[kUsbInputs];
size_t g_usb_waiting = 0;
const uint8_t* g_usb_next = nullptr;
size_t g_usb_left = 0;
uint32_t g_usb_empty_polls = 0;
uint32_t g_usb_idle_polls = 0;
void (*g_usb_idle_action)() = nullptr;

// The port found empty once more: the next input arrives when its polls are
// done, or the idle action runs when nothing is left to arrive.
void usb_empty_poll() {
    ++g_usb_empty_polls;
    if (g_usb_waiting == 0) {
        if (g_usb_idle_action != nullptr && g_usb_empty_polls >= g_usb_idle_polls) {
            g_usb_idle_action();
        }
        return;
    }
    if (g_usb_empty_polls <= g_usb_inputs[0].polls) {
        return;
    }
    g_usb_next = g_usb_inputs[0].bytes;
    g_usb_left = g_usb_inputs[0].size;
    g_usb_empty_polls = 0;
    --g_usb_waiting;
    memmove(g_usb_inputs, g_usb_inputs + 1, g_usb_waiting * sizeof g_usb_inputs[0]);
}

}  // namespace

void usb_input(const uint8_t* bytes, size_t size, uint32_t polls) {
    if (g_usb_waiting < kUsbInputs) {
        g_usb_inputs[g_usb_waiting++] = {bytes, size, polls};
    }
}

void usb_input(const char* text, uint32_t polls) {
    usb_input(reinterpret_cast<const uint8_t*>(text), strlen(text), polls);
}

void usb_when_idle(uint32_t polls, void (*action)()) {
    g_usb_idle_polls = polls;
    g_usb_idle_action = action;
    g_usb_empty_polls = 0;
}

void analog_level(uint16_t level) {
    g_analog_level = level;
}

void analogReadResolution(int) {}
int analogRead(uint32_t) {
    return g_analog_level;
}

// Transmitted bytes are discarded; received ones are the harness's.
void USBSerial::begin(uint32_t) {}
int USBSerial::available() {
    if (g_usb_left == 0) {
        usb_empty_poll();
    }
    return static_cast<int>(g_usb_left);
}
int USBSerial::read() {
    if (g_usb_left == 0) {
        return -1;
    }
    --g_usb_left;
    return *g_usb_next++;
}
size_t USBSerial::write(uint8_t) {
    return 1;
}
size_t USBSerial::write(const uint8_t*, size_t size) {
    return size;
}

USBSerial SerialUSB;
