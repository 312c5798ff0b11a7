// The KTR09 board's pins: the number of each signal, how the firmware sets
// it up at power-on, and the name the simulator's traces give it. The
// firmware, the host platform, the device models and the tests all take the
// pin numbers from here.
#pragma once

#include <stdint.h>

#include <Arduino.h>

namespace board {

// Line drivers of the three serial channels: a disable pin (high: the
// driver is off) and the mode pins M1..M4 that choose RS232, RS485 or RS422.
struct LineDriver {
    uint8_t disable;
    uint8_t mode[4];
};
constexpr LineDriver kAisDriver = {10, {4, 5, 11, 12}};        // Serial (port 0)
constexpr LineDriver kSensor1Driver = {29, {15, 17, 16, 14}};  // Serial3 (port 3)
constexpr LineDriver kSensor2Driver = {42, {38, 28, 22, 23}};  // Serial1 (port 1)

// Digital outputs 1..4 (relays: output 1 powers the weather station,
// output 2 the transponder) and external inputs 1..4.
constexpr uint8_t kOutputs[4] = {33, 32, 31, 30};
constexpr uint8_t kInputs[4] = {36, 37, 44, 43};
constexpr uint8_t kLed = 13;
constexpr uint8_t kSdReady = 34;        // lit while the card takes records
constexpr uint8_t kConsoleOutput = 35;  // set by the service console
// Operating mode: both high normal, 24 low diagnostics 1, 20 low diagnostics 2.
constexpr uint8_t kModePin0 = 20;
constexpr uint8_t kModePin1 = 24;
constexpr uint8_t kSpareInput = 21;
constexpr uint8_t kAnalogInputs[2] = {40, 39};
constexpr uint8_t kBattery = 41;
constexpr uint8_t kSdChipSelect = 52;

struct Pin {
    uint8_t number;
    uint8_t mode;      // OUTPUT, INPUT, INPUT_PULLUP or INPUT_ANALOG
    const char* name;  // in the simulator's traces
};

// Every pin the firmware sets up, in the order it does.
constexpr Pin kPins[] = {
    {kAisDriver.mode[0], OUTPUT, "ais_m1"},
    {kAisDriver.mode[1], OUTPUT, "ais_m2"},
    {kAisDriver.mode[2], OUTPUT, "ais_m3"},
    {kAisDriver.mode[3], OUTPUT, "ais_m4"},
    {kAisDriver.disable, OUTPUT, "ais_disable"},
    {kSensor1Driver.mode[0], OUTPUT, "sensor1_m1"},
    {kSensor1Driver.mode[1], OUTPUT, "sensor1_m2"},
    {kSensor1Driver.mode[2], OUTPUT, "sensor1_m3"},
    {kSensor1Driver.mode[3], OUTPUT, "sensor1_m4"},
    {kSensor1Driver.disable, OUTPUT, "sensor1_disable"},
    {kSensor2Driver.mode[0], OUTPUT, "sensor2_m1"},
    {kSensor2Driver.mode[1], OUTPUT, "sensor2_m2"},
    {kSensor2Driver.mode[2], OUTPUT, "sensor2_m3"},
    {kSensor2Driver.mode[3], OUTPUT, "sensor2_m4"},
    {kSensor2Driver.disable, OUTPUT, "sensor2_disable"},
    {kOutputs[0], OUTPUT, "output1"},
    {kOutputs[1], OUTPUT, "output2"},
    {kOutputs[2], OUTPUT, "output3"},
    {kOutputs[3], OUTPUT, "output4"},
    {kLed, OUTPUT, "led"},
    {kSdReady, OUTPUT, "sd_ready"},
    {kConsoleOutput, OUTPUT, "pin35"},
    {kInputs[0], INPUT_PULLUP, "input1"},
    {kInputs[1], INPUT_PULLUP, "input2"},
    {kInputs[2], INPUT_PULLUP, "input3"},
    {kInputs[3], INPUT_PULLUP, "input4"},
    {kModePin0, INPUT_PULLUP, "mode_pin20"},
    {kModePin1, INPUT_PULLUP, "mode_pin24"},
    {kSpareInput, INPUT_PULLUP, "spare_input"},
    {kAnalogInputs[0], INPUT, "analog1"},
    {kAnalogInputs[1], INPUT, "analog2"},
    {kBattery, INPUT_ANALOG, "battery"},
};

// The line driver of UART port 0, 1 or 3; null for another port.
constexpr const LineDriver* line_driver(uint8_t port) {
    return port == 0   ? &kAisDriver
           : port == 1 ? &kSensor2Driver
           : port == 3 ? &kSensor1Driver
                       : nullptr;
}

}  // namespace board
