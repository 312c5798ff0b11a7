// What every firmware fuzz target shares: a contract check that stops the
// run where it breaks, and a freshly reset board with the USB port open and
// the 1 ms tick running (clock, EEPROM and card waits count on it).
#pragma once

#include <cstdlib>

#include <Arduino.h>
#include <Wire.h>

#include "host/machine.h"
#include "main.h"

inline void check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

inline void fuzz_board() {
    host::reset_machine();
    SerialUSB.begin(115200);
    setup_timerTC0(1, 48000);
    start_timerTC0();
    Wire.begin();
}
