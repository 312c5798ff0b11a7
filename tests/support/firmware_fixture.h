// Common set-up of tests that call firmware functions directly on a freshly
// reset board: pins as the pin map gives them, the USB port open, and,
// when asked, the 1 ms tick running from TC0.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include <Arduino.h>

#include "declaraciones.h"
#include "host/machine.h"
#include "main.h"

class FirmwareTest : public ::testing::Test {
  protected:
    void SetUp() override {
        host::reset_machine();
        configuracion_pines();
        SerialUSB.begin(115200);
    }

    static void start_tick() {
        setup_timerTC0(1, 48000);
        start_timerTC0();
    }

    // Lets virtual time pass inside the firmware's world: each platform call
    // costs time and runs due ticks and device events.
    static void spend(host::Micros duration) {
        const host::Micros until = host::now() + duration;
        while (host::now() < until) {
            (void)millis();
        }
    }

    // Calls the 1 ms interrupt work n times, as n ticks would.
    static void ticks(unsigned n) {
        for (unsigned i = 0; i < n; ++i) {
            interrupcion_timer_cada_miliseg();
        }
    }

    static std::string usb() { return host::usb_take_output(); }
};
