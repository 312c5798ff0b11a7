// The harness's own board services (board.cpp).
#pragma once

#include <stdint.h>

// Starts TIMER0 counting from 0 at 16 MHz.
void timer_start();
// TIMER0's count now.
uint32_t timer_now();
// Starts TIMER1 interrupting every `period` counts at 16 MHz, give or take a
// few so that it lands at varied points of the code; its handler runs the
// firmware's tick interrupt handler on top of whatever is running.
void tick_interrupts_start(uint32_t period);
void tick_interrupts_stop();
// TIMER1 interrupts taken so far.
uint32_t tick_interrupts();
// Text on QEMU's standard output (semihosting).
void host_print(const char* text);
// Ends the QEMU run.
[[noreturn]] void host_exit();

extern "C" void TIMER1_IRQHandler();
