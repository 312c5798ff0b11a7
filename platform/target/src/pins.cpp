// The board's digital pins as the SAM L21 Arduino core drives them: the
// variant's pin table gives each Arduino pin number its PORT group and bit,
// and pinMode, digitalWrite and digitalRead are writes and reads of that
// group's registers. The registers are the symbol ktr09_port: the chip's
// PORT block in the image (cmake/saml21j18b.ld), an array in RAM for the
// cycle harness on QEMU, which has no such block.
#include "Arduino.h"
#include "platform_register.h"

// One PORT group (0x80 bytes): direction, output, input and the pin
// configuration bytes (pull enable, input enable).
struct PortGroup {
    RwReg32 DIR;
    RwReg32 DIRCLR;
    RwReg32 DIRSET;
    RwReg32 DIRTGL;
    RwReg32 OUT;
    RwReg32 OUTCLR;
    RwReg32 OUTSET;
    RwReg32 OUTTGL;
    RwReg32 IN;
    RwReg32 CTRL;
    RwReg32 WRCONFIG;
    RwReg32 EVCTRL;
    RwReg8 PMUX[16];
    RwReg8 PINCFG[32];
    uint8_t reserved[32];
};
static_assert(sizeof(PortGroup) == 0x80, "a PORT group is 0x80 bytes");

extern PortGroup ktr09_port[2];

namespace {

constexpr uint8_t kPinCfgPullEnable = 0x04;
constexpr uint8_t kPinCfgInputEnable = 0x02;

enum PortIndex : uint8_t { kPortA = 0, kPortB = 1 };
enum PinType : uint8_t { kNotAPin, kDigital, kAnalog, kPeripheral };

// A variant table entry, as the core's: port, bit, what the pin is for, and
// the peripheral channels a digital pin call does not use.
struct PinDescription {
    PortIndex port;
    uint8_t bit;
    PinType type;
    uint8_t attributes;
    uint8_t adc_channel;
    uint8_t pwm_channel;
    uint8_t timer_channel;
    uint8_t external_interrupt;
};

// Arduino pin numbers 0..52 of the board. Pins the station does not use as
// digital pins (its UARTs, I2C, SPI, USB) are peripheral pins.
constexpr PinDescription kPinTable[] = {
    {kPortA, 11, kPeripheral, 0, 0xFF, 0xFF, 0xFF, 11},  // 0  UART RX
    {kPortA, 10, kPeripheral, 0, 0xFF, 0xFF, 0xFF, 10},  // 1  UART TX
    {kPortA, 14, kDigital, 0, 0xFF, 0xFF, 0xFF, 14},     // 2
    {kPortA, 9, kDigital, 0, 0xFF, 0xFF, 0xFF, 9},       // 3
    {kPortA, 8, kDigital, 0, 0xFF, 0xFF, 0xFF, 0xFF},    // 4  AIS M1
    {kPortA, 15, kDigital, 0, 0xFF, 0xFF, 0xFF, 15},     // 5  AIS M2
    {kPortA, 20, kDigital, 0, 0xFF, 0xFF, 0xFF, 4},      // 6
    {kPortA, 21, kDigital, 0, 0xFF, 0xFF, 0xFF, 5},      // 7
    {kPortA, 6, kDigital, 0, 6, 0xFF, 0xFF, 6},          // 8
    {kPortA, 7, kDigital, 0, 7, 0xFF, 0xFF, 7},          // 9
    {kPortA, 18, kDigital, 0, 0xFF, 0xFF, 0xFF, 2},      // 10 AIS disable
    {kPortA, 16, kDigital, 0, 0xFF, 0xFF, 0xFF, 0},      // 11 AIS M3
    {kPortA, 19, kDigital, 0, 0xFF, 0xFF, 0xFF, 3},      // 12 AIS M4
    {kPortA, 17, kDigital, 0, 0xFF, 0xFF, 0xFF, 1},      // 13 LED
    {kPortB, 23, kDigital, 0, 0xFF, 0xFF, 0xFF, 7},      // 14 sensor 1 M4
    {kPortB, 22, kDigital, 0, 0xFF, 0xFF, 0xFF, 6},      // 15 sensor 1 M1
    {kPortA, 13, kDigital, 0, 0xFF, 0xFF, 0xFF, 13},     // 16 sensor 1 M3
    {kPortA, 12, kDigital, 0, 0xFF, 0xFF, 0xFF, 12},     // 17 sensor 1 M2
    {kPortB, 12, kPeripheral, 0, 0xFF, 0xFF, 0xFF, 12},  // 18 UART
    {kPortB, 13, kPeripheral, 0, 0xFF, 0xFF, 0xFF, 13},  // 19 UART
    {kPortB, 14, kDigital, 0, 0xFF, 0xFF, 0xFF, 14},     // 20 mode pin
    {kPortB, 15, kDigital, 0, 0xFF, 0xFF, 0xFF, 15},     // 21 spare input
    {kPortA, 22, kDigital, 0, 0xFF, 0xFF, 0xFF, 6},      // 22 sensor 2 M3
    {kPortA, 23, kDigital, 0, 0xFF, 0xFF, 0xFF, 7},      // 23 sensor 2 M4
    {kPortB, 16, kDigital, 0, 0xFF, 0xFF, 0xFF, 0},      // 24 mode pin
    {kPortB, 17, kDigital, 0, 0xFF, 0xFF, 0xFF, 1},      // 25
    {kPortA, 24, kPeripheral, 0, 0xFF, 0xFF, 0xFF, 12},  // 26 USB D-
    {kPortA, 25, kPeripheral, 0, 0xFF, 0xFF, 0xFF, 13},  // 27 USB D+
    {kPortB, 30, kDigital, 0, 0xFF, 0xFF, 0xFF, 14},     // 28 sensor 2 M2
    {kPortB, 31, kDigital, 0, 0xFF, 0xFF, 0xFF, 15},     // 29 sensor 1 disable
    {kPortB, 0, kDigital, 0, 8, 0xFF, 0xFF, 0},          // 30 output 4
    {kPortB, 1, kDigital, 0, 9, 0xFF, 0xFF, 1},          // 31 output 3
    {kPortB, 2, kDigital, 0, 10, 0xFF, 0xFF, 2},         // 32 output 2
    {kPortB, 3, kDigital, 0, 11, 0xFF, 0xFF, 3},         // 33 output 1
    {kPortB, 4, kDigital, 0, 12, 0xFF, 0xFF, 4},         // 34 card ready
    {kPortB, 5, kDigital, 0, 13, 0xFF, 0xFF, 5},         // 35 console output
    {kPortB, 6, kDigital, 0, 14, 0xFF, 0xFF, 6},         // 36 input 1
    {kPortB, 7, kDigital, 0, 15, 0xFF, 0xFF, 7},         // 37 input 2
    {kPortB, 8, kDigital, 0, 2, 0xFF, 0xFF, 8},          // 38 sensor 2 M1
    {kPortB, 9, kAnalog, 0, 3, 0xFF, 0xFF, 9},           // 39 analog input 2
    {kPortA, 4, kAnalog, 0, 4, 0xFF, 0xFF, 4},           // 40 analog input 1
    {kPortA, 5, kAnalog, 0, 5, 0xFF, 0xFF, 5},           // 41 battery
    {kPortA, 2, kDigital, 0, 0, 0xFF, 0xFF, 2},          // 42 sensor 2 disable
    {kPortA, 3, kDigital, 0, 1, 0xFF, 0xFF, 3},          // 43 input 4
    {kPortB, 10, kDigital, 0, 0xFF, 0xFF, 0xFF, 10},     // 44 input 3
    {kPortB, 11, kDigital, 0, 0xFF, 0xFF, 0xFF, 11},     // 45
    {kPortA, 27, kDigital, 0, 0xFF, 0xFF, 0xFF, 15},     // 46
    {kPortA, 28, kDigital, 0, 0xFF, 0xFF, 0xFF, 8},      // 47
    {kPortB, 8, kNotAPin, 0, 0xFF, 0xFF, 0xFF, 0xFF},    // 48
    {kPortA, 30, kPeripheral, 0, 0xFF, 0xFF, 0xFF, 10},  // 49 SWCLK
    {kPortA, 31, kPeripheral, 0, 0xFF, 0xFF, 0xFF, 11},  // 50 SWDIO
    {kPortA, 0, kPeripheral, 0, 0xFF, 0xFF, 0xFF, 0},    // 51 SPI
    {kPortA, 1, kDigital, 0, 0xFF, 0xFF, 0xFF, 1},       // 52 card chip select
};
constexpr uint32_t kPinCount = sizeof kPinTable / sizeof kPinTable[0];

}  // namespace

void pinMode(uint32_t pin, uint32_t mode) {
    if (pin >= kPinCount || kPinTable[pin].type == kNotAPin) {
        return;
    }
    PortGroup& group = ktr09_port[kPinTable[pin].port];
    const uint32_t bit = kPinTable[pin].bit;
    const uint32_t mask = 1ul << bit;
    switch (mode) {
        case INPUT:
        case INPUT_ANALOG:
            group.PINCFG[bit] = kPinCfgInputEnable;
            group.DIRCLR = mask;
            break;
        case INPUT_PULLUP:
            group.PINCFG[bit] = kPinCfgInputEnable | kPinCfgPullEnable;
            group.DIRCLR = mask;
            group.OUTSET = mask;  // the output latch chooses the pull: up
            break;
        case INPUT_PULLDOWN:
            group.PINCFG[bit] = kPinCfgInputEnable | kPinCfgPullEnable;
            group.DIRCLR = mask;
            group.OUTCLR = mask;
            break;
        case OUTPUT:
            // Input kept enabled so that reading an output gives its level.
            group.PINCFG[bit] = kPinCfgInputEnable;
            group.DIRSET = mask;
            break;
        default:
            break;
    }
}

void digitalWrite(uint32_t pin, uint32_t level) {
    if (pin >= kPinCount || kPinTable[pin].type == kNotAPin) {
        return;
    }
    PortGroup& group = ktr09_port[kPinTable[pin].port];
    const uint32_t bit = kPinTable[pin].bit;
    const uint32_t mask = 1ul << bit;
    // On an input the level turns the pull on (high) or off, as on the chip.
    if ((group.DIR & mask) == 0) {
        const uint8_t config = group.PINCFG[bit];
        group.PINCFG[bit] = level == LOW ? static_cast<uint8_t>(config & ~kPinCfgPullEnable)
                                         : static_cast<uint8_t>(config | kPinCfgPullEnable);
    }
    if (level == LOW) {
        group.OUTCLR = mask;
    } else {
        group.OUTSET = mask;
    }
}

int digitalRead(uint32_t pin) {
    if (pin >= kPinCount || kPinTable[pin].type == kNotAPin) {
        return LOW;
    }
    const PortGroup& group = ktr09_port[kPinTable[pin].port];
    return (group.IN & (1ul << kPinTable[pin].bit)) != 0 ? HIGH : LOW;
}
